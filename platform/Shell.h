#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace zlt::platform {

inline constexpr int SW_SHOWNORMAL = 1;

// The shell's "open" verb. An executable starts with AParameters (split like a command line)
// in the caller's working folder and is not waited for; any other file goes to the desktop's
// opener. A bare file name (no folder) is looked up in the running executable's folder, then
// along PATH; a relative name with a folder is taken from the running executable's folder.
// The current folder is never searched: whoever started us chose it, and a program planted
// there must not run in place of ours. The result tells whether anything was started;
// callers may ignore it.
bool ShellExecuteOpen(const QString& AFileName, const QString& AParameters = QString());

// Tests may take the place of the shell to see what would be opened. Returns the hook set
// before; an empty hook restores the real shell.
using TShellExecuteHook = std::function<bool(const QString& AFileName, const QString& AParameters)>;
TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook);

// Starts AProgram once more with administrator rights and AParameters (each one argument, as
// the program gets them), through the system's elevation prompt, and does not wait for it.
// Empty when it started; else why not: the user refused, the system has no such prompt (every
// system but Windows), or this process runs with those rights already, so that a copy that
// still can't do its work never starts another.
QString StartElevated(const QString& AProgram, const QStringList& AParameters);

// Tests may take the place of the elevated start to see what would be started: the hook's
// result is StartElevated's. Returns the hook set before; an empty hook restores the system's.
using TElevatedStartHook = std::function<QString(const QString& AProgram, const QStringList& AParameters)>;
TElevatedStartHook SetElevatedStartHook(TElevatedStartHook AHook);

} // namespace zlt::platform
