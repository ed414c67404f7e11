#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

namespace zlt::platform {

// The running executable's full path. Tests may put another path in its place, so that
// "the executable's folder" is a folder of theirs; an empty override restores the real one.
QString ExecutablePath();
void SetExecutablePathOverride(const QString& APath);

// The folder of ExecutablePath(), ending with the path delimiter.
QString ExecutableFolder();

// The command line as the program received it: element 0 is the program, the parameters
// follow. SetCommandLine is called once by main() before anything reads it.
void SetCommandLine(int argc, char** argv);
void SetCommandLine(const QStringList& AArguments);
int ParamCount();
QString ParamStr(int AIndex); // empty text for an index out of range

// The current local date and time.
QDateTime LocalNow();

// Pauses the calling thread; the event loop does not run meanwhile.
void Sleep(unsigned AMilliseconds);

// The folder with the font files of Tahoma and MS Sans Serif, for a toolkit that does not know
// them by itself: the system's font folder on Windows, the metric-compatible files of Debian's
// fonts-wine elsewhere. The folder may be missing.
QString WindowsFontFolder();

} // namespace zlt::platform
