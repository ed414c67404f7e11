#include "platform/Handle.h"

#include "platform/posix/Posix.h"

#include <unistd.h>

#include <cstring>

namespace zlt::platform {

void CloseHandle(TNativeHandle AHandle) noexcept {
    if (AHandle != InvalidHandle) ::close(static_cast<int>(AHandle));
}

namespace posix {

QString SystemErrorText(int AError) { return QString::fromLocal8Bit(std::strerror(AError)); }

} // namespace posix

} // namespace zlt::platform
