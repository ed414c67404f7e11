#include "platform/Handle.h"

#include "platform/win32/Win32.h"

#include <QDir>
#include <QFileInfo>

namespace zlt::platform {

void CloseHandle(TNativeHandle AHandle) noexcept {
    if (AHandle != InvalidHandle && AHandle != 0) ::CloseHandle(reinterpret_cast<HANDLE>(AHandle));
}

namespace win32 {

std::wstring WidePath(const QString& APath) {
    // From about MAX_PATH on, a path goes in the extended-length form, which the system takes at
    // any length (its own bound is 32,767) but takes literally: made absolute and clean first.
    constexpr qsizetype LongPath = MAX_PATH - 12;
    const QString path = QDir::toNativeSeparators(APath);
    if (path.size() < LongPath || path.startsWith(QLatin1String("\\\\?\\"))) return path.toStdWString();
    const QString absolute = QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(APath).absoluteFilePath()));
    if (absolute.startsWith(QLatin1String("\\\\")))
        return (QStringLiteral("\\\\?\\UNC\\") + absolute.mid(2)).toStdWString();
    if (absolute.size() >= 2 && absolute[1] == u':') return (QStringLiteral("\\\\?\\") + absolute).toStdWString();
    return path.toStdWString();
}

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
