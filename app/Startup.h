#pragma once

#include <QString>
#include <QStringList>

namespace zlt::app {

// The whole start-up: single-copy check, the end without parameters, parsing, the window and
// the event loop, then the verdict on a new version on trial. Returns the exit code: 0, or 1
// when ROLLBACK finds no previous version or can't put it back.
int RunStartup(int argc, char** argv);

// Whether the run may go on in AFolder, the updater's own folder: it must be able to make and
// rename files there, as the installation does. When it can't (an application under Program
// Files and a user without the rights to change it), nothing has been stopped yet, and nothing
// will be: the updater asks the system to start it once more with administrator rights and
// AParameters, and this copy ends. Where that start is refused or impossible, the run ends
// too. The record says which. Done before the single-copy lock, which is itself a file there.
bool EnsureWritableFolder(const QString& AFolder, const QStringList& AParameters);

// The exit code that the run gives back; set by the rollback.
extern int RunExitCode;

} // namespace zlt::app
