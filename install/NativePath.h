#pragma once

// The bridge from the names an archive stores (bytes) to the system's paths; for install/ only.

#include "platform/AnsiCodePage.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <filesystem>
#include <string>
#include <type_traits>

namespace zlt::install {

// The names an archive stores are bytes. A POSIX path is bytes too, and they pass unchanged; a
// Windows path is UTF-16, and the bytes are read as UTF-8 there, which is how libarchive hands
// over the names that the archive marks as UTF-8, or else as the ANSI code page, which is how it
// hands over the others. Only the Windows conversion can fail.
inline std::filesystem::path NativePath(const QByteArray& APath) {
    try {
        return std::filesystem::path(
            std::u8string(reinterpret_cast<const char8_t*>(APath.constData()), static_cast<std::size_t>(APath.size())));
    } catch (const std::filesystem::filesystem_error&) {
        return std::filesystem::path(platform::FromAnsi(APath).toStdU16String());
    }
}

// The system's form of a path, for the calls that take text.
template <typename TChar>
QString PathText(const std::basic_string<TChar>& APath) {
    if constexpr (std::is_same_v<TChar, wchar_t>)
        return QString::fromStdWString(APath);
    else
        return QFile::decodeName(QByteArray::fromStdString(APath));
}

inline QString PathText(const std::filesystem::path& APath) { return PathText(APath.native()); }

} // namespace zlt::install
