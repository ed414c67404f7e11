#include "platform/Native.h"

#include "platform/posix/Posix.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>

namespace zlt::platform::native {

// Opened without blocking, so that a pipe in the file's place can't hold the reader.
std::optional<QByteArray> ReadRegularFile(const QString& AFileName) {
    if (AFileName.isEmpty()) return std::nullopt;
    const TUniqueHandle file = posix::Own(
        ::open(QFile::encodeName(AFileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.Valid()) return std::nullopt;
    struct stat status {};
    if (::fstat(posix::Fd(file), &status) != 0 || !S_ISREG(status.st_mode)) return std::nullopt;

    QByteArray content;
    char buffer[16384];
    for (;;) {
        const ssize_t count = ::read(posix::Fd(file), buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return std::nullopt;
        if (count == 0) break;
        content.append(buffer, static_cast<qsizetype>(count));
    }
    return content;
}

} // namespace zlt::platform::native
