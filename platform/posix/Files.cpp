#include "platform/Files.h"

#include "platform/Exceptions.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

namespace zlt::platform {

namespace {

QString SystemErrorText(int AError) { return QString::fromLocal8Bit(std::strerror(AError)); }

} // namespace

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
    file.FHandle = handle;
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

TExclusiveFile::TExclusiveFile(TExclusiveFile&& AOther) noexcept
    : FHandle(std::exchange(AOther.FHandle, -1)), FFileName(std::move(AOther.FFileName)) {}

TExclusiveFile& TExclusiveFile::operator=(TExclusiveFile&& AOther) noexcept {
    if (this != &AOther) {
        Abandon();
        FHandle = std::exchange(AOther.FHandle, -1);
        FFileName = std::move(AOther.FFileName);
    }
    return *this;
}

TExclusiveFile::~TExclusiveFile() { Abandon(); }

void TExclusiveFile::Write(const char* AData, std::size_t ASize) {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    while (ASize > 0) {
        const ssize_t written = ::write(FHandle, AData, std::min<std::size_t>(ASize, SSIZE_MAX));
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
    const int handle = std::exchange(FHandle, -1);
    if (::close(handle) != 0) {
        const int error = errno;
        if (error != EINTR)
            throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(error)));
    }
}

void TExclusiveFile::Abandon() noexcept {
    if (IsOpen()) ::close(std::exchange(FHandle, -1));
}

} // namespace zlt::platform
