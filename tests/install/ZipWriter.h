#pragma once

// ZIP archives written byte by byte by the tests, so that a hostile or damaged archive is made
// in the test program itself, with every field where a test can reach it.

#include "install/ZipFormat.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

namespace zlt::test {

using install::TDirectoryHeader;
using install::TEndRecord;
using install::TExtraField;
using install::TLocalHeader;
using install::TZip64End;
using install::TZip64Extra;
using install::TZip64Locator;
using install::Zip64Marker16;
using install::Zip64Marker32;

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
// not ASCII is marked UTF-8, but for the Windows files. Every entry bears the same time.
class TZipWriter {
public:
    enum class TMethod : std::uint8_t { Stored, Deflated };
    static constexpr quint16 UnixHost = 3;
    static constexpr quint16 MsDosHost = 0;

    // A file made on Unix with the permission bits AMode.
    TZipWriter& File(const QByteArray& AName, const QByteArray& AData, quint32 AMode = 0644,
                     TMethod AMethod = TMethod::Deflated);
    // A folder with the permission bits AMode; a '/' is appended to the name unless it ends in one.
    TZipWriter& Folder(const QByteArray& AName, quint32 AMode = 0755);
    // A symbolic link made on Unix: its mode says link, its data is the target.
    TZipWriter& Link(const QByteArray& AName, const QByteArray& ATarget);
    // A file as Windows' own "compressed folder" stores it: made on MS-DOS, no Unix mode, only
    // the DOS attributes, and the name in the OEM code page, without the UTF-8 mark.
    TZipWriter& WindowsFile(const QByteArray& AName, const QByteArray& AData, bool AReadOnly = false);
    // The last entry's name goes without the UTF-8 mark, as Info-ZIP stores names on Unix.
    TZipWriter& Unmarked();
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
        bool MarkedUtf8 = false;
    };
    std::vector<TEntry> FEntries;
    bool FZip64 = false;
};

// The CRC-32 of ZIP (and zlib, and PNG).
quint32 Crc32(const QByteArray& AData);

// AData as a raw deflate stream, as the ZIP format stores it.
QByteArray Deflate(const QByteArray& AData);

} // namespace zlt::test
