#include "platform/Files.h"

#include "platform/Exception.h"
#include "platform/posix/Posix.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <fnmatch.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <utility>

namespace zlt::platform {

using posix::SystemErrorText;

bool FileExists(const QString& AFileName) {
    struct stat status {};
    return !AFileName.isEmpty() && ::stat(QFile::encodeName(AFileName).constData(), &status) == 0 &&
           !S_ISDIR(status.st_mode);
}

bool ForceDirectories(const QString& AFolder) { return !AFolder.isEmpty() && QDir().mkpath(AFolder); }

bool DeleteFile(const QString& AFileName) {
    return !AFileName.isEmpty() && ::unlink(QFile::encodeName(AFileName).constData()) == 0;
}

TExclusiveFile TExclusiveFile::Create(const QString& AFileName) {
    const QByteArray path = QFile::encodeName(AFileName);
    // Truncated only once the lock is ours: a refused opener must not destroy what the
    // holder has written.
    const int handle = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (handle < 0) {
        const int error = errno;
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(error)));
    }

    TExclusiveFile file;
    file.FHandle = posix::Own(handle);
    file.FFileName = AFileName;
    int result = 0;
    do result = ::flock(handle, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int error = errno;
        const QString reason = error == EWOULDBLOCK
                                   ? QStringLiteral("The file is being used by another process.")
                                   : SystemErrorText(error);
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, reason));
    }
    // Only a file that holds something is cut: truncating a new, empty file would make ext4
    // flush the whole file to disk when it is closed (its guard for files rewritten in place).
    struct stat status {};
    const bool empty = ::fstat(handle, &status) == 0 && status.st_size == 0;
    if (!empty && ::ftruncate(handle, 0) != 0) {
        const int error = errno;
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(error)));
    }
    return file;
}

void TExclusiveFile::Write(const char* AData, std::size_t ASize) {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    while (ASize > 0) {
        const ssize_t written = ::write(posix::Fd(FHandle), AData, std::min<std::size_t>(ASize, SSIZE_MAX));
        if (written < 0 && errno == EINTR) continue;
        // A regular file takes nothing only when the device is full.
        const int error = written < 0 ? errno : ENOSPC;
        if (written <= 0)
            throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(error)));
        AData += written;
        ASize -= static_cast<std::size_t>(written);
    }
}

void TExclusiveFile::Close() {
    if (!IsOpen()) return;
    // The descriptor is gone after close() whatever it reports, so it is never closed twice.
    if (::close(static_cast<int>(FHandle.Release())) != 0) {
        const int error = errno;
        if (error != EINTR)
            throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(error)));
    }
}

bool MatchesWildcard(const QString& APattern, const QString& AName) {
    return ::fnmatch(QFile::encodeName(APattern).constData(), QFile::encodeName(AName).constData(), 0) == 0;
}

namespace {

TUniqueHandle OpenFolder(const QString& AFolder) {
    TUniqueHandle folder = posix::Own(::open(QFile::encodeName(AFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid())
        throw Exception(QStringLiteral("Cannot open the folder \"%1\": %2").arg(AFolder, SystemErrorText(errno)));
    return folder;
}

} // namespace

TWorkingFolder::TWorkingFolder(const QString& AFolder)
    : FPrevious(OpenFolder(QStringLiteral("."))), FFolder(OpenFolder(AFolder)) {
    Enter();
}

void TWorkingFolder::Enter() {
    if (::fchdir(posix::Fd(FFolder)) != 0)
        throw Exception(QStringLiteral("Cannot enter the target folder: %1").arg(SystemErrorText(errno)));
}

void TWorkingFolder::Leave() noexcept { static_cast<void>(::fchdir(posix::Fd(FPrevious))); }

} // namespace zlt::platform
