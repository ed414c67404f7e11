#pragma once

// The records of the ZIP format (PKWARE's APPNOTE, section 4.3), little-endian throughout: each
// one's signature, its fixed size (without the name, extra field and comment that follow), and
// the offsets of its fields. The directory's reader reads them; the tests write them.

#include <QtGlobal>

namespace zlt::install {

struct TLocalHeader { // local file header, followed by name, extra field and the entry's data
    static constexpr quint32 Signature = 0x04034b50;
    static constexpr qint64 Size = 30;
    static constexpr qint64 VersionNeeded = 4;     // 2 bytes
    static constexpr qint64 Flags = 6;             // 2 bytes
    static constexpr qint64 Method = 8;            // 2 bytes
    static constexpr qint64 Time = 10;             // 2 bytes
    static constexpr qint64 Date = 12;             // 2 bytes
    static constexpr qint64 Crc = 14;              // 4 bytes
    static constexpr qint64 CompressedSize = 18;   // 4 bytes
    static constexpr qint64 UncompressedSize = 22; // 4 bytes
    static constexpr qint64 NameLength = 26;       // 2 bytes
    static constexpr qint64 ExtraLength = 28;      // 2 bytes
};

struct TDirectoryHeader { // central directory file header, followed by name, extra field, comment
    static constexpr quint32 Signature = 0x02014b50;
    static constexpr qint64 Size = 46;
    static constexpr qint64 VersionMadeBy = 4;       // 2 bytes: low byte the version, high byte the host
    static constexpr qint64 HostSystem = 5;          // 1 byte: the high byte of "version made by"
    static constexpr qint64 VersionNeeded = 6;       // 2 bytes
    static constexpr qint64 Flags = 8;               // 2 bytes
    static constexpr qint64 Method = 10;             // 2 bytes
    static constexpr qint64 Time = 12;               // 2 bytes
    static constexpr qint64 Date = 14;               // 2 bytes
    static constexpr qint64 Crc = 16;                // 4 bytes
    static constexpr qint64 CompressedSize = 20;     // 4 bytes
    static constexpr qint64 UncompressedSize = 24;   // 4 bytes
    static constexpr qint64 NameLength = 28;         // 2 bytes
    static constexpr qint64 ExtraLength = 30;        // 2 bytes
    static constexpr qint64 CommentLength = 32;      // 2 bytes
    static constexpr qint64 DiskStart = 34;          // 2 bytes
    static constexpr qint64 InternalAttributes = 36; // 2 bytes
    static constexpr qint64 ExternalAttributes = 38; // 4 bytes
    static constexpr qint64 LocalHeaderOffset = 42;  // 4 bytes
};

struct TExtraField {                        // one field of an entry's extra data: an id, a length, the data
    static constexpr qint64 HeaderSize = 4; // the id and the length, which does not count them
    static constexpr qint64 Id = 0;         // 2 bytes
    static constexpr qint64 Length = 2;     // 2 bytes
};

struct TZip64Extra { // the ZIP64 extended information extra field; offsets from the field's start
    static constexpr quint16 Id = 0x0001;
    // Its data holds, in this order, only the values whose header fields hold the marker.
    static constexpr qint64 UncompressedSize = 4; // 8 bytes, first when present
    static constexpr qint64 CompressedSize = 12;  // 8 bytes, when both sizes are present
    static constexpr qint64 SizeWithBothSizes = 20;
};

struct TZip64End { // ZIP64 end of central directory record
    static constexpr quint32 Signature = 0x06064b50;
    static constexpr qint64 Size = 56;
    static constexpr qint64 RecordSize = 4;       // 8 bytes: the size of the rest, Size - 12
    static constexpr qint64 VersionMadeBy = 12;   // 2 bytes
    static constexpr qint64 VersionNeeded = 14;   // 2 bytes
    static constexpr qint64 Disk = 16;            // 4 bytes
    static constexpr qint64 DirectoryDisk = 20;   // 4 bytes
    static constexpr qint64 DiskEntryCount = 24;  // 8 bytes
    static constexpr qint64 EntryCount = 32;      // 8 bytes
    static constexpr qint64 DirectorySize = 40;   // 8 bytes
    static constexpr qint64 DirectoryOffset = 48; // 8 bytes
};

struct TZip64Locator { // stands right before the end record
    static constexpr quint32 Signature = 0x07064b50;
    static constexpr qint64 Size = 20;
    static constexpr qint64 EndDisk = 4;    // 4 bytes
    static constexpr qint64 EndOffset = 8;  // 8 bytes: where the ZIP64 end record starts
    static constexpr qint64 DiskCount = 16; // 4 bytes
};

struct TDataDescriptor {                             // follows an entry's data when its flags carry DataDescriptorFlag
    static constexpr quint32 Signature = 0x08074b50; // optional: writers may leave it out
    static constexpr qint64 SignatureSize = 4;
    // From the start after the optional signature: the CRC, then both sizes, each 4 bytes, or 8
    // when the entry's local header has a ZIP64 extra field.
    static constexpr qint64 Crc = 0;
    static constexpr qint64 CompressedSize = 4;
    static constexpr qint64 MaxSize = 24; // signature, CRC and two 8-byte sizes
};

struct TEndRecord { // end of central directory record, followed only by its comment
    static constexpr quint32 Signature = 0x06054b50;
    static constexpr qint64 Size = 22;
    static constexpr qint64 Disk = 4;             // 2 bytes
    static constexpr qint64 DirectoryDisk = 6;    // 2 bytes
    static constexpr qint64 DiskEntryCount = 8;   // 2 bytes
    static constexpr qint64 EntryCount = 10;      // 2 bytes: entries in the whole directory
    static constexpr qint64 DirectorySize = 12;   // 4 bytes
    static constexpr qint64 DirectoryOffset = 16; // 4 bytes, from the start of the file
    static constexpr qint64 CommentLength = 20;   // 2 bytes
    static constexpr qint64 MaxCommentLength = 0xFFFF;
};

// The bits of the general purpose flags (TLocalHeader::Flags, TDirectoryHeader::Flags) that say
// the entry is encrypted, and that its CRC and sizes follow its data in a data descriptor.
inline constexpr quint16 EncryptedFlag = 0x0001;
inline constexpr quint16 DataDescriptorFlag = 0x0008;

// The bit of the general purpose flags (TLocalHeader::Flags, TDirectoryHeader::Flags) that
// marks the entry's name as UTF-8.
inline constexpr quint16 Utf8NameFlag = 0x0800;

// The value of a 16- or 32-bit field that says "the true value is in the ZIP64 record".
inline constexpr quint64 Zip64Marker16 = 0xFFFF;
inline constexpr quint64 Zip64Marker32 = 0xFFFFFFFF;

} // namespace zlt::install
