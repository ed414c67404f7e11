#include "platform/Native.h"

#include "platform/win32/Win32.h"

#include <optional>

namespace zlt::platform::native {

// Only files on a disk count: a pipe or a device answers GetFileType otherwise.
std::optional<QByteArray> ReadRegularFile(const QString& AFileName) {
    if (AFileName.isEmpty()) return std::nullopt;
    const TUniqueHandle file = win32::Own(::CreateFileW(win32::WidePath(AFileName).c_str(), GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid() || ::GetFileType(win32::Native(file)) != FILE_TYPE_DISK) return std::nullopt;
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileInformationByHandle(win32::Native(file), &information) == FALSE ||
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return std::nullopt;

    QByteArray content;
    char buffer[16384];
    for (;;) {
        DWORD count = 0;
        if (::ReadFile(win32::Native(file), buffer, sizeof buffer, &count, nullptr) == FALSE) return std::nullopt;
        if (count == 0) break;
        content.append(buffer, static_cast<qsizetype>(count));
    }
    return content;
}

} // namespace zlt::platform::native
