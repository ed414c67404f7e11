#pragma once

#include <QString>

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

} // namespace zlt::platform
