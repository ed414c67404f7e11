#include "platform/AnsiCodePage.h"

#include "platform/win32/Win32.h"

#include <string>

namespace zlt::platform {

QString FromOemCodePage(const QByteArray& ABytes) {
    if (ABytes.isEmpty()) return {};
    const int size = static_cast<int>(ABytes.size());
    const int length = ::MultiByteToWideChar(CP_OEMCP, 0, ABytes.constData(), size, nullptr, 0);
    if (length <= 0) return QString::fromLatin1(ABytes);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_OEMCP, 0, ABytes.constData(), size, text.data(), length);
    return QString::fromStdWString(text);
}

} // namespace zlt::platform
