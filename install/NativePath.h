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

// The installation's paths are the entries' names in UTF-8 (the extraction decodes what the
// archive stores). A POSIX path is bytes, and they pass unchanged; a Windows path is UTF-16,
// converted from the UTF-8. Bytes that are no UTF-8 (a journal that an older version wrote) are
// read in the ANSI code page there.
inline std::filesystem::path NativePath(const QByteArray& APath) {
    try {
        return std::filesystem::path(
            std::u8string(reinterpret_cast<const char8_t*>(APath.constData()), static_cast<std::size_t>(APath.size())));
    } catch (const std::filesystem::filesystem_error&) {
        return std::filesystem::path(platform::FromAnsi(APath).toStdU16String());
    }
}

// The folder part of a stored path, '/' included ("a/b/c" gives "a/b/", "c" gives "").
inline QByteArray ParentWithSlash(const QByteArray& APath) {
    const qsizetype slash = APath.lastIndexOf('/');
    return slash < 0 ? QByteArray() : APath.left(slash + 1);
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
