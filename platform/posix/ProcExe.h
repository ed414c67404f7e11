#pragma once

#include <string>

namespace zlt::platform::posix {

// The file that a /proc/PID/exe link names, empty when the link can't be read. The kernel
// marks a file that was deleted or replaced after the start with " (deleted)"; the process is
// still its original name to everyone else, so the mark goes, unless a file of that very name
// is the one running.
std::string ReadExecutableLink(const std::string& ALink);

} // namespace zlt::platform::posix
