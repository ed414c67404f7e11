#include "platform/posix/ProcExe.h"

#include <sys/stat.h>
#include <unistd.h>

#include <climits>

namespace zlt::platform::posix {

std::string ReadExecutableLink(const std::string& ALink) {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink(ALink.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));

    static const std::string DeletedMark = " (deleted)";
    if (target.size() > DeletedMark.size() &&
        target.compare(target.size() - DeletedMark.size(), DeletedMark.size(), DeletedMark) == 0) {
        struct stat running {};
        struct stat named {};
        const bool sameFile = ::stat(ALink.c_str(), &running) == 0 && ::stat(target.c_str(), &named) == 0 &&
                              running.st_dev == named.st_dev && running.st_ino == named.st_ino;
        if (!sameFile) target.resize(target.size() - DeletedMark.size());
    }
    return target;
}

} // namespace zlt::platform::posix
