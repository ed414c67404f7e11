#include "platform/Profile.h"

#include "platform/ProfileText.h"
#include "platform/win32/Win32.h"

#include <optional>

namespace zlt::platform {

namespace {

// The whole file, or nothing when it can't be read. Only files on a disk count: a folder, a
// pipe or a device in the file's place reads as a missing file. The file is read with our own
// rules rather than GetPrivateProfileStringW, so that both platforms read a file alike (see
// DecodeProfile).
std::optional<QByteArray> ReadDiskFile(const QString& AFileName) {
    if (AFileName.isEmpty()) return std::nullopt;
    const TUniqueHandle file = win32::Own(::CreateFileW(win32::WidePath(AFileName).c_str(), GENERIC_READ,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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

} // namespace

QString GetPrivateProfileString(const QString& ASection, const QString& AKey, const QString& ADefault,
                                const QString& AFileName, qsizetype ABufferSize) {
    std::optional<QByteArray> content;
    if (!ASection.isEmpty() && !AKey.isEmpty()) content = ReadDiskFile(AFileName);
    return ProfileValue(content, ASection, AKey, ADefault, ABufferSize);
}

} // namespace zlt::platform
