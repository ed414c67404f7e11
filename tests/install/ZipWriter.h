#pragma once

// ZIP archives written byte by byte by the tests, so that a hostile or damaged archive is made
// in the test program itself, with every field where a test can reach it.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace zlt::test {

// The records of the ZIP format (PKWARE's APPNOTE, section 4.3), little-endian throughout: each
// one's signature, its fixed size (without the name, extra field and comment that follow), and
// the offsets of its fields.
struct TLocalHeader {
    static constexpr quint32 Signature = 0x04034b50;
    static constexpr qint64 Size = 30;
    static constexpr qint64 VersionNeeded = 4;
    static constexpr qint64 Flags = 6;
    static constexpr qint64 Method = 8;
    static constexpr qint64 Time = 10;
    static constexpr qint64 Date = 12;
    static constexpr qint64 Crc = 14;
    static constexpr qint64 CompressedSize = 18;
    static constexpr qint64 UncompressedSize = 22;
    static constexpr qint64 NameLength = 26;
    static constexpr qint64 ExtraLength = 28;
};

struct TDirectoryHeader {
    static constexpr quint32 Signature = 0x02014b50;
    static constexpr qint64 Size = 46;
    static constexpr qint64 VersionMadeBy = 4; // low byte: the version; high byte: the host system
    static constexpr qint64 HostSystem = 5;
    static constexpr qint64 VersionNeeded = 6;
    static constexpr qint64 Flags = 8;
    static constexpr qint64 Method = 10;
    static constexpr qint64 Time = 12;
    static constexpr qint64 Date = 14;
    static constexpr qint64 Crc = 16;
    static constexpr qint64 CompressedSize = 20;
    static constexpr qint64 UncompressedSize = 24;
    static constexpr qint64 NameLength = 28;
    static constexpr qint64 ExtraLength = 30;
    static constexpr qint64 CommentLength = 32;
    static constexpr qint64 DiskStart = 34;
    static constexpr qint64 InternalAttributes = 36;
    static constexpr qint64 ExternalAttributes = 38;
    static constexpr qint64 LocalHeaderOffset = 42;
};

// The ZIP64 extended information extra field, as this writer puts it into both headers of an
// entry: the two sizes, whose 32-bit fields hold the marker.
struct TZip64Extra {
    static constexpr quint16 Id = 0x0001;
    static constexpr qint64 Size = 20;
    static constexpr qint64 HeaderSize = 4; // the id and the length, which does not count them
    static constexpr qint64 IdField = 0;
    static constexpr qint64 Length = 2;
    static constexpr qint64 UncompressedSize = 4;
    static constexpr qint64 CompressedSize = 12;
};

struct TZip64End {
    static constexpr quint32 Signature = 0x06064b50;
    static constexpr qint64 Size = 56;
    static constexpr qint64 RecordSize = 4; // the size of the rest: Size - 12
    static constexpr qint64 VersionMadeBy = 12;
    static constexpr qint64 VersionNeeded = 14;
    static constexpr qint64 Disk = 16;
    static constexpr qint64 DirectoryDisk = 20;
    static constexpr qint64 DiskEntryCount = 24;
    static constexpr qint64 EntryCount = 32;
    static constexpr qint64 DirectorySize = 40;
    static constexpr qint64 DirectoryOffset = 48;
};

struct TZip64Locator {
    static constexpr quint32 Signature = 0x07064b50;
    static constexpr qint64 Size = 20;
    static constexpr qint64 EndDisk = 4;
    static constexpr qint64 EndOffset = 8;
    static constexpr qint64 DiskCount = 16;
};

struct TEndRecord {
    static constexpr quint32 Signature = 0x06054b50;
    static constexpr qint64 Size = 22;
    static constexpr qint64 Disk = 4;
    static constexpr qint64 DirectoryDisk = 6;
    static constexpr qint64 DiskEntryCount = 8;
    static constexpr qint64 EntryCount = 10;
    static constexpr qint64 DirectorySize = 12;
    static constexpr qint64 DirectoryOffset = 16;
    static constexpr qint64 CommentLength = 20;
};

// An archive as bytes, with the places of its records, for a test to spoil.
struct TZipImage {
    struct TEntryPlace {
        qint64 LocalHeader = 0;
        qint64 Data = 0; // the first byte of the stored (compressed) data
        qint64 DirectoryHeader = 0;
    };
    QByteArray Bytes;
    std::vector<TEntryPlace> Entries; // in the order they were added
    qint64 Directory = 0;
    qint64 Zip64End = -1; // -1: no ZIP64 records
    qint64 Zip64Locator = -1;
    qint64 EndRecord = 0;

    // Overwrites the little-endian field at AAt.
    void Put16(qint64 AAt, quint64 AValue);
    void Put32(qint64 AAt, quint64 AValue);
    void Put64(qint64 AAt, quint64 AValue);
    // Writes the bytes to APath, creating its folder.
    void Save(const QString& APath) const;
};

// Writes archives as the common tools do: a local header and the data for each entry, the
// central directory, the end record. Names go in as bytes, as they are stored; a name that is
// not ASCII is marked UTF-8. Every entry bears the same time.
class TZipWriter {
public:
    enum class TMethod : std::uint8_t { Stored, Deflated };
    static constexpr quint16 UnixHost = 3;
    static constexpr quint16 MsDosHost = 0;

    // A file made on Unix with the permission bits AMode.
    TZipWriter& File(const QByteArray& AName, const QByteArray& AData, quint32 AMode = 0644,
                     TMethod AMethod = TMethod::Deflated);
    // A folder; a '/' is appended to the name unless it ends in one.
    TZipWriter& Folder(const QByteArray& AName);
    // A symbolic link made on Unix: its mode says link, its data is the target.
    TZipWriter& Link(const QByteArray& AName, const QByteArray& ATarget);
    // A file as Windows tools store it: made on MS-DOS, no Unix mode, only the DOS attributes.
    TZipWriter& WindowsFile(const QByteArray& AName, const QByteArray& AData, bool AReadOnly = false);
    // Every size and the directory's place in the ZIP64 records, as zip -fz writes them.
    TZipWriter& Zip64();

    bool HasLinks() const;
    TZipImage Write() const;

private:
    struct TEntry {
        QByteArray Name;
        QByteArray Data;
        TMethod Method = TMethod::Stored;
        quint16 Host = UnixHost;
        quint32 ExternalAttributes = 0;
    };
    std::vector<TEntry> FEntries;
    bool FZip64 = false;
};

// The CRC-32 of ZIP (and zlib, and PNG).
quint32 Crc32(const QByteArray& AData);

// AData as a raw deflate stream, as the ZIP format stores it.
QByteArray Deflate(const QByteArray& AData);

} // namespace zlt::test
