#include "platform/Native.h"

#include "platform/posix/Posix.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <string>
#include <vector>

extern char** environ;

namespace zlt::platform {

namespace {

// Kernels before 5.3 have no pidfd: a watch without one looks at the child this often.
constexpr int FallbackPollMs = 20;

// The child's end, when it has ended; collects it, so it is no zombie.
std::optional<TProgramEnd> Collect(pid_t AProcessId) {
    int status = 0;
    pid_t result = 0;
    do result = ::waitpid(AProcessId, &status, WNOHANG);
    while (result < 0 && errno == EINTR);
    // Collected by someone else (SIGCHLD set to be ignored): it ended, how is not known.
    if (result < 0 && errno == ECHILD) return TProgramEnd{};
    if (result != AProcessId) return std::nullopt;
    if (WIFSIGNALED(status)) return TProgramEnd{static_cast<quint32>(WTERMSIG(status)), true};
    return TProgramEnd{static_cast<quint32>(WEXITSTATUS(status)), false};
}

// Starts APath with AArguments as a child in a session of its own, with the signals as a fresh
// program has them; 0 when it can't be started.
pid_t Spawn(const QString& APath, const QStringList& AArguments) {
    std::vector<std::string> strings{QFile::encodeName(APath).toStdString()};
    for (const QString& argument : AArguments) strings.push_back(argument.toLocal8Bit().toStdString());
    std::vector<char*> argv;
    for (std::string& text : strings) argv.push_back(text.data());
    argv.push_back(nullptr);
    posix_spawnattr_t attributes;
    if (::posix_spawnattr_init(&attributes) != 0) return 0;
    sigset_t none;
    sigset_t all;
    ::sigemptyset(&none);
    ::sigfillset(&all);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setsigdefault(&attributes, &all);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = 0;
    const int failure = ::posix_spawn(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    ::posix_spawnattr_destroy(&attributes);
    return failure == 0 ? child : 0;
}

} // namespace

std::optional<TProgramEnd> TWatchedProgram::WaitForEnd(unsigned AMilliseconds) {
    if (FEnd || FProcessId == 0) return FEnd;
    const pid_t child = static_cast<pid_t>(FProcessId);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(AMilliseconds);
    for (;;) {
        if ((FEnd = Collect(child))) return FEnd;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return std::nullopt;
        const int wait = static_cast<int>(std::min<long long>(left, INT_MAX));
        if (FHandle.Valid()) {
            // The pidfd turns readable when the child ends.
            pollfd watch{posix::Fd(FHandle), POLLIN, 0};
            ::poll(&watch, 1, wait);
        } else {
            ::poll(nullptr, 0, std::min(wait, FallbackPollMs));
        }
    }
}

namespace native {

bool OpenFile(const QString& APath, const QString& AParameters) {
    // A program starts in the caller's working folder and is not waited for.
    const QFileInfo file(APath);
    if (file.isFile() && file.isExecutable())
        return QProcess::startDetached(APath, QProcess::splitCommand(AParameters));
    // Documents, packages and folders go to whatever the desktop opens them with.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {APath});
}

TShellStart OpenWatched(const QString& APath, const QString& AParameters) {
    const QFileInfo file(APath);
    if (!file.isFile() || !file.isExecutable()) return {OpenFile(APath, AParameters), {}};
    const pid_t child = Spawn(APath, QProcess::splitCommand(AParameters));
    if (child <= 0) return {};
#ifdef SYS_pidfd_open
    TUniqueHandle handle = posix::Own(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
#else
    TUniqueHandle handle;
#endif
    return {true, TWatchedProgram(std::move(handle), static_cast<quint32>(child))};
}

QString StartElevated(const QString&, const QStringList&) {
    if (::geteuid() == 0) return QStringLiteral("the updater runs as root already");
    // sudo or pkexec would need a terminal or a desktop agent that the application's user may
    // not have, and would ask for a password that the application never announced.
    return QStringLiteral("this system has no elevation prompt: run the updater as a user who may change its folder");
}

} // namespace native

} // namespace zlt::platform
