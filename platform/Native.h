#pragma once

// What the portable files of platform/ ask of the system they run on; posix/ and win32/
// implement it. Not for callers outside platform/: they use the headers of the families.

#include <QString>

namespace zlt::platform::native {

// The running program's file as the system names it ('/' as the delimiter); empty when the
// system does not tell.
QString RunningExecutablePath();

// Opens APath, a file that exists, as the shell's "open" verb does; true when something started.
bool OpenFile(const QString& APath, const QString& AParameters);

} // namespace zlt::platform::native
