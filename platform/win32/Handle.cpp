#include "platform/Handle.h"

#include "platform/win32/Win32.h"

#include <QDir>

namespace zlt::platform {

void CloseHandle(TNativeHandle AHandle) noexcept {
    if (AHandle != InvalidHandle && AHandle != 0) ::CloseHandle(reinterpret_cast<HANDLE>(AHandle));
}

namespace win32 {

std::wstring WidePath(const QString& APath) { return QDir::toNativeSeparators(APath).toStdWString(); }

QString SystemErrorText(DWORD AError) {
    wchar_t* buffer = nullptr;
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, AError, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    QString text = length > 0 ? QString::fromWCharArray(buffer, static_cast<qsizetype>(length)).trimmed()
                              : QStringLiteral("System error %1").arg(AError);
    if (buffer != nullptr) ::LocalFree(buffer);
    return text;
}

} // namespace win32

} // namespace zlt::platform
