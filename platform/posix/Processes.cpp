#include "platform/Processes.h"

#include "platform/posix/ProcExe.h"
#include "platform/posix/Posix.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>
#include <string>
#include <string_view>

namespace zlt::platform {

namespace {

constexpr qsizetype MaxExeFileLength = 260;

struct TDirCloser {
    void operator()(DIR* ADir) const noexcept { ::closedir(ADir); }
};
using TDirHandle = std::unique_ptr<DIR, TDirCloser>;

std::string BaseName(const std::string& APath) {
    const std::string::size_type slash = APath.rfind('/');
    return slash == std::string::npos ? APath : APath.substr(slash + 1);
}

// The first argument the process was started with, for processes whose executable link can't
// be read (those of other users when we are not privileged).
std::string FirstArgument(const std::string& AProcessFolder) {
    const TUniqueHandle file = posix::Own(::open((AProcessFolder + "/cmdline").c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) return {};
    std::string argument;
    char buffer[512];
    for (;;) {
        const ssize_t count = ::read(posix::Fd(file), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) break;
        const std::string_view chunk(buffer, static_cast<std::size_t>(count));
        const std::string_view::size_type end = chunk.find('\0');
        argument.append(chunk.substr(0, end));
        if (end != std::string_view::npos) break;
    }
    return argument;
}

bool ParseProcessId(const char* AName, quint32& AProcessId) {
    if (*AName == '\0') return false;
    unsigned long long value = 0;
    for (const char* digit = AName; *digit != '\0'; ++digit) {
        if (*digit < '0' || *digit > '9') return false;
        value = value * 10 + static_cast<unsigned>(*digit - '0');
        if (value > UINT_MAX) return false;
    }
    AProcessId = static_cast<quint32>(value);
    return AProcessId != 0;
}

} // namespace

std::optional<std::vector<TProcessEntry>> CreateProcessSnapshot() {
    const TDirHandle proc(::opendir("/proc"));
    if (!proc) return std::nullopt;

    // Only the numeric entries of /proc are processes; their threads live below them.
    std::vector<TProcessEntry> entries;
    while (const dirent* entry = ::readdir(proc.get())) {
        quint32 processId = 0;
        if (!ParseProcessId(entry->d_name, processId)) continue;
        const std::string folder = std::string("/proc/") + entry->d_name;
        std::string file = posix::ReadExecutableLink(folder + "/exe");
        if (file.empty()) file = FirstArgument(folder);
        // Kernel threads, zombies and processes that ended meanwhile have neither.
        const std::string name = BaseName(file);
        if (name.empty()) continue;
        entries.push_back({processId, QFile::decodeName(name.c_str()).left(MaxExeFileLength)});
    }
    return entries;
}

bool TerminateProcessById(quint32 AProcessId, quint32 AExitCode) {
    // A signal can't carry an exit status; a killed process ends as killed.
    static_cast<void>(AExitCode);
    // kill() reads 0 and negative numbers as process groups: never hand those on.
    if (AProcessId == 0 || AProcessId > static_cast<quint32>(INT_MAX)) return false;
    return ::kill(static_cast<pid_t>(AProcessId), SIGKILL) == 0;
}

} // namespace zlt::platform
