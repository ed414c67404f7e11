#pragma once

#include "install/ZipFormat.h"

#include "common/Errors.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <cstdint>
#include <vector>

namespace zlt::install {

// A ZIP archive whose structure can't be trusted: the message is the cause.
class EMalformedZip : public Exception {
public:
    using Exception::Exception;
};

// One entry as the central directory records it, checked against its local header.
struct TZipEntry {
    QByteArray StoredName; // the name's bytes as stored
    std::int64_t LocalHeaderOffset = 0;
    // The whole span of the entry in the file: local header, name, extra field, data and data
    // descriptor. The spans of all entries fill the file before the directory, in order.
    std::int64_t SpanLength = 0;
    std::uint32_t Crc = 0;
    std::int64_t CompressedSize = 0;
    std::int64_t UncompressedSize = 0;
    std::uint16_t Method = 0;
    std::uint16_t Flags = 0;
    std::uint8_t HostSystem = 0; // the high byte of "version made by"
    QByteArray DirectoryRecord;  // the record as stored: header, name, extra field and comment
};

// What libarchive does not tell about a ZIP archive, or tells only after a walk over every
// entry, read from its central directory: the entries in the directory's order, the sum of the
// sizes they declare, and for each stored name the system that made the entry and whether the
// entry marks the name as UTF-8. Only entries made on a Unix system carry permission bits;
// libarchive gives every other entry a made-up mode.
struct TZipDirectory {
    static constexpr std::uint8_t UnixHost = 3;

    std::vector<TZipEntry> Entries;
    std::int64_t EntryCount = 0;
    std::int64_t DeclaredBytes = 0;     // the uncompressed sizes of all entries, ZIP64 included
    std::int64_t DirectoryOffset = 0;   // where the central directory starts
    QHash<QByteArray, qsizetype> Index; // stored name -> place in Entries

    bool Knows(const QByteArray& AStoredName) const { return Index.contains(AStoredName); }
    bool HasUnixMode(const QByteArray& AStoredName) const {
        return Knows(AStoredName) && Entries[static_cast<std::size_t>(Index.value(AStoredName))].HostSystem == UnixHost;
    }
    bool IsUtf8(const QByteArray& AStoredName) const {
        return Knows(AStoredName) &&
               (Entries[static_cast<std::size_t>(Index.value(AStoredName))].Flags & Utf8NameFlag) != 0;
    }
};

// Reads the central directory of AFileName (ZIP64 included) and checks it against the file as
// a whole, so that libarchive, which reads the entries through it, sees exactly what the
// directory declares and nothing else:
// - one end record, with the directory right before it (or before the ZIP64 records), on one disk;
// - entry records that fill the directory exactly as its count and size declare, each name once;
// - each entry's local header agrees with its record (name, method, flags, CRC and sizes, or
//   the data descriptor's CRC and sizes), and the entries' spans fill the file from its first
//   byte to the directory without a gap or an overlap;
// - no entry is encrypted.
// Throws EMalformedZip with the cause when any of this fails or the file can't be read.
TZipDirectory ReadZipDirectory(const QString& AFileName);

} // namespace zlt::install
