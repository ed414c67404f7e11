#pragma once

#include <QString>

#include <functional>

namespace zlt::platform {

inline constexpr int SW_SHOWNORMAL = 1;

// The shell's "open" verb. An executable starts with AParameters (split like a command line)
// and is not waited for; any other file goes to the desktop's opener. A bare file name (no
// folder) is looked up in the current folder, then in the running executable's folder, then
// along PATH. The result tells whether anything was started; callers may ignore it.
bool ShellExecuteOpen(const QString& AFileName, const QString& AParameters = QString());

// Tests may take the place of the shell to see what would be opened. Returns the hook set
// before; an empty hook restores the real shell.
using TShellExecuteHook = std::function<bool(const QString& AFileName, const QString& AParameters)>;
TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook);

} // namespace zlt::platform
