#include "platform/Files.h"

#include "platform/Exception.h"
#include "platform/posix/Posix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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

bool IsRealFolder(const QString& APath) {
    struct stat status {};
    return !APath.isEmpty() && ::lstat(QFile::encodeName(APath).constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool ForceDirectories(const QString& AFolder) { return !AFolder.isEmpty() && QDir().mkpath(AFolder); }

bool DeleteFile(const QString& AFileName) {
    return !AFileName.isEmpty() && ::unlink(QFile::encodeName(AFileName).constData()) == 0;
}

QString RemoveFile(const QString& AFileName) {
    if (::unlink(QFile::encodeName(AFileName).constData()) == 0) return {};
    return SystemErrorText(errno);
}

QString FlushToDisk(const QString& AFolder, const QStringList& /*AFiles*/) {
    // One call writes out the whole file system, which costs less than a flush of each of
    // thousands of files: the data goes out in one sweep.
    const TUniqueHandle folder = posix::Own(
        ::open(QFile::encodeName(AFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder.Valid() || ::syncfs(posix::Fd(folder)) != 0)
        return QStringLiteral("%1: %2").arg(AFolder, SystemErrorText(errno));
    return {};
}

std::optional<std::uint64_t> FileSystemOf(const QString& APath) {
    struct stat status {};
    if (::lstat(QFile::encodeName(APath).constData(), &status) != 0) return std::nullopt;
    return static_cast<std::uint64_t>(status.st_dev);
}

QStringList FileHolders(const QString& /*AFileName*/) { return {}; }

TExclusiveFile TExclusiveFile::Create(const QString& AFileName) {
    std::optional<TExclusiveFile> file = CreateNew(AFileName);
    if (!file) throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(EEXIST)));
    return std::move(*file);
}

std::optional<TExclusiveFile> TExclusiveFile::CreateNew(const QString& AFileName) {
    const auto failure = [&AFileName](int AError) {
        return Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(AError)));
    };
    const QFileInfo info(AFileName);
    // The folder is opened without following a final link and the file created relative to
    // it, so nothing can swap a link in between the check and the creation.
    const TUniqueHandle folder = posix::Own(
        ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!folder.Valid()) throw failure(errno);
    TExclusiveFile file;
    file.FHandle = posix::Own(::openat(posix::Fd(folder), QFile::encodeName(info.fileName()).constData(),
                                       O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!file.FHandle.Valid()) {
        if (errno == EEXIST) return std::nullopt;
        throw failure(errno);
    }
    file.FFileName = AFileName;
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

void TExclusiveFile::Rewind() {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    if (::ftruncate(posix::Fd(FHandle), 0) != 0 || ::lseek(posix::Fd(FHandle), 0, SEEK_SET) != 0)
        throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(errno)));
}

void TExclusiveFile::Sync() {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    if (::fdatasync(posix::Fd(FHandle)) != 0)
        throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(errno)));
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

QString RenameOver(const QString& ASource, const QString& ATarget) {
    const QByteArray source = QFile::encodeName(ASource);
    const QByteArray target = QFile::encodeName(ATarget);
    // ext4 writes a file's data out at once when it is renamed over an existing one (its guard
    // for programs that rewrite files without care), which makes an update over thousands of
    // files crawl. Exchanging the two names is just as atomic and leaves the data to the
    // normal writeback; the old file, now under the temporary name, is then removed.
    struct stat status {};
    const bool overAFile = ::lstat(target.constData(), &status) == 0 && S_ISREG(status.st_mode);
    if (overAFile && ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0) {
        if (::unlink(source.constData()) == 0) return {};
        // Something else stood there by the time of the exchange (a folder): put it back.
        const int error = errno;
        ::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE);
        return SystemErrorText(error);
    }
    // No file to exchange with, or a file system that can't exchange: a plain rename.
    if (::rename(source.constData(), target.constData()) == 0) return {};
    return SystemErrorText(errno);
}

std::filesystem::path FileSystemPath(const QString& APath) {
    return std::filesystem::path(QFile::encodeName(APath).toStdString());
}

// PATH_MAX counts the terminating zero.
bool PathFits(const QString& AFullPath) {
    const QByteArray path = QFile::encodeName(AFullPath);
    if (path.size() > PATH_MAX - 1) return false;
    for (const QByteArray& name : path.split('/'))
        if (name.size() > NAME_MAX) return false;
    return true;
}

bool MatchesWildcard(const QString& APattern, const QString& AName) {
    return ::fnmatch(QFile::encodeName(APattern).constData(), QFile::encodeName(AName).constData(), 0) == 0;
}

namespace {

// A handle that only stands for the folder: it needs no right to read the folder's list, so a
// working folder that we may enter but not list can still be returned to.
TUniqueHandle OpenFolderPath(const QString& AFolder) {
    return posix::Own(::open(QFile::encodeName(AFolder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
}

} // namespace

TWorkingFolder::TWorkingFolder(const QString& AFolder)
    : FPrevious(OpenFolderPath(QStringLiteral("."))), FFolder(OpenFolderPath(AFolder)) {
    // Whatever folder the caller stands in (one that was deleted, or one we may not look
    // into), the work goes on in AFolder; only the way back may be lost, and then we stay.
    if (!FFolder.Valid())
        throw Exception(QStringLiteral("Cannot open the folder \"%1\": %2").arg(AFolder, SystemErrorText(errno)));
    Enter();
}

void TWorkingFolder::SwitchIn() {
    if (::fchdir(posix::Fd(FFolder)) != 0)
        throw Exception(QStringLiteral("Cannot enter the target folder: %1").arg(SystemErrorText(errno)));
}

void TWorkingFolder::SwitchBack() noexcept {
    if (FPrevious.Valid()) static_cast<void>(::fchdir(posix::Fd(FPrevious)));
}

} // namespace zlt::platform

namespace zlt::platform {

std::optional<TFileIdentity> FileIdentity(const QString& APath) {
    struct stat status {};
    if (APath.isEmpty() || ::stat(QFile::encodeName(APath).constData(), &status) != 0) return std::nullopt;
    return TFileIdentity{static_cast<std::uint64_t>(status.st_dev), static_cast<std::uint64_t>(status.st_ino)};
}

std::optional<TLockFile> TLockFile::Acquire(const QString& AFileName) {
    const auto failure = [&AFileName](int AError) {
        return Exception(QStringLiteral("Cannot lock \"%1\". %2").arg(AFileName, SystemErrorText(AError)));
    };
    const QFileInfo info(AFileName);
    const QByteArray name = QFile::encodeName(info.fileName());
    TLockFile lock;
    lock.FFolder = posix::Own(
        ::open(QFile::encodeName(info.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!lock.FFolder.Valid()) throw failure(errno);
    // Non-blocking, and never through a link: a FIFO or a link planted under the name can
    // neither hold the updater nor lead it elsewhere.
    for (;;) {
        TUniqueHandle file = posix::Own(::openat(posix::Fd(lock.FFolder), name.constData(),
                                                 O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
        if (!file.Valid()) throw failure(errno);
        struct stat held {};
        if (::fstat(posix::Fd(file), &held) != 0) throw failure(errno);
        if (!S_ISREG(held.st_mode)) throw failure(EINVAL);
        if (::flock(posix::Fd(file), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EWOULDBLOCK) return std::nullopt;
            throw failure(errno);
        }
        // A holder that lets go removes the file; a lock taken on the file it removed holds
        // nothing, and is taken again on the one under the name now.
        struct stat named {};
        if (::fstatat(posix::Fd(lock.FFolder), name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == held.st_dev && named.st_ino == held.st_ino) {
            lock.FHandle = std::move(file);
            lock.FFileName = AFileName;
            return lock;
        }
    }
}

QString AppendToRegularFile(const QString& AFileName, const QByteArray& AData) {
    // O_NONBLOCK: a FIFO under the name would otherwise hold the open until a reader comes.
    const TUniqueHandle file = posix::Own(::open(QFile::encodeName(AFileName).constData(),
                                                 O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                                                 0644));
    if (!file.Valid()) return SystemErrorText(errno);
    struct stat status {};
    if (::fstat(posix::Fd(file), &status) != 0) return SystemErrorText(errno);
    if (!S_ISREG(status.st_mode)) return QStringLiteral("not a regular file");
    const char* data = AData.constData();
    qsizetype left = AData.size();
    while (left > 0) {
        const ssize_t written = ::write(posix::Fd(file), data, static_cast<std::size_t>(left));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return SystemErrorText(written < 0 ? errno : ENOSPC);
        data += written;
        left -= written;
    }
    return {};
}

void TLockFile::Release() noexcept {
    if (!Held()) return;
    // Removed while still held, so that nobody else's lock is on a file that then goes.
    ::unlinkat(posix::Fd(FFolder), QFile::encodeName(QFileInfo(FFileName).fileName()).constData(), 0);
    FHandle.Reset();
    FFolder.Reset();
}

} // namespace zlt::platform
