#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

namespace zlt::install {

// What libarchive does not tell about a ZIP archive, or tells only after a walk over every
// entry, read from its central directory: the number of entries, the sum of the sizes they
// declare, and for each stored name the system that made the entry and whether the entry marks
// the name as UTF-8. Only entries made on a Unix system carry permission bits; libarchive gives
// every other entry a made-up mode.
struct TZipDirectory {
    static constexpr std::uint8_t UnixHost = 3;

    std::int64_t EntryCount = 0;
    std::int64_t DeclaredBytes = 0; // the uncompressed sizes of all entries, ZIP64 included
    QHash<QByteArray, std::uint8_t> HostSystems; // stored name -> "version made by" system
    QSet<QByteArray> Utf8Names;                  // stored names that the entry marks as UTF-8

    bool Knows(const QByteArray& AStoredName) const { return HostSystems.contains(AStoredName); }
    bool HasUnixMode(const QByteArray& AStoredName) const { return HostSystems.value(AStoredName, 0) == UnixHost; }
    bool IsUtf8(const QByteArray& AStoredName) const { return Utf8Names.contains(AStoredName); }
};

// Reads the central directory of AFileName (ZIP64 included). nullopt when the file has no
// readable one: not a ZIP archive, cut, a directory that points outside the file, or one whose
// entries do not fill it exactly as its count and size declare.
std::optional<TZipDirectory> ReadZipDirectory(const QString& AFileName);

} // namespace zlt::install
