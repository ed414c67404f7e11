#include "platform/Processes.h"

#include "platform/posix/ProcExe.h"

#include <QFile>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <memory>
#include <string>

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
        // Only the executable itself names a process, as the system's image name does on
        // Windows: the name a process gives itself (its first argument) proves nothing. A
        // process whose executable can't be read (another user's, a kernel thread, a zombie,
        // one that ended meanwhile) is not ours to stop and is left out.
        const std::string path = posix::ReadExecutableLink(folder + "/exe");
        const std::string name = BaseName(path);
        if (name.empty()) continue;
        TProcessEntry process{processId, QFile::decodeName(name.c_str()).left(MaxExeFileLength), std::nullopt,
                              QFile::decodeName(path.c_str())};
        // The link leads to the very file that runs, even one renamed or deleted since.
        struct stat running {};
        if (::stat((folder + "/exe").c_str(), &running) == 0)
            process.Executable = TFileIdentity{static_cast<std::uint64_t>(running.st_dev),
                                               static_cast<std::uint64_t>(running.st_ino)};
        entries.push_back(std::move(process));
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
