#include "tests/install/ZipWriter.h"

#include "tests/support/TestSupport.h"

#include <algorithm>
#include <array>

namespace zlt::test {

namespace {

// 2020-01-02 03:04:06 in the DOS form of the headers.
constexpr quint16 DosTime = (3 << 11) | (4 << 5) | (6 / 2);
constexpr quint16 DosDate = ((2020 - 1980) << 9) | (1 << 5) | 2;
constexpr quint16 MethodStored = 0;
constexpr quint16 MethodDeflated = 8;
constexpr quint16 VersionStored = 10;
constexpr quint16 VersionDeflated = 20;
constexpr quint16 VersionZip64 = 45;
// The Unix mode's file types, in the high half of the external attributes.
constexpr quint32 UnixTypeMask = 0170000;
constexpr quint32 UnixFile = 0100000;
constexpr quint32 UnixFolder = 0040000;
constexpr quint32 UnixLink = 0120000;
// The DOS attributes, in the low byte of the external attributes.
constexpr quint32 DosReadOnly = 0x01;
constexpr quint32 DosFolder = 0x10;
constexpr quint32 DosArchive = 0x20;

void Put(QByteArray& ABytes, qint64 AAt, quint64 AValue, int AWidth) {
    for (int i = 0; i < AWidth; ++i)
        ABytes[static_cast<qsizetype>(AAt + i)] = static_cast<char>((AValue >> (8 * i)) & 0xFFu);
}

// Appends a record of ASize zero bytes, for its fields to be put in; returns where it starts.
qint64 Record(QByteArray& ABytes, qint64 ASize) {
    const qint64 at = ABytes.size();
    ABytes.append(static_cast<qsizetype>(ASize), '\0');
    return at;
}

bool IsAscii(const QByteArray& AName) {
    return std::all_of(AName.begin(), AName.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

void TZipImage::Put16(qint64 AAt, quint64 AValue) { Put(Bytes, AAt, AValue, 2); }
void TZipImage::Put32(qint64 AAt, quint64 AValue) { Put(Bytes, AAt, AValue, 4); }
void TZipImage::Put64(qint64 AAt, quint64 AValue) { Put(Bytes, AAt, AValue, 8); }
void TZipImage::Save(const QString& APath) const { WriteFile(APath, Bytes); }

TZipWriter& TZipWriter::File(const QByteArray& AName, const QByteArray& AData, quint32 AMode, TMethod AMethod) {
    FEntries.push_back({AName, AData, AMethod, UnixHost, (UnixFile | AMode) << 16, !IsAscii(AName)});
    return *this;
}

TZipWriter& TZipWriter::Folder(const QByteArray& AName, quint32 AMode) {
    const QByteArray name = AName.endsWith('/') ? AName : AName + '/';
    FEntries.push_back(
        {name, QByteArray(), TMethod::Stored, UnixHost, ((UnixFolder | AMode) << 16) | DosFolder, !IsAscii(name)});
    return *this;
}

TZipWriter& TZipWriter::Link(const QByteArray& AName, const QByteArray& ATarget) {
    FEntries.push_back({AName, ATarget, TMethod::Stored, UnixHost, (UnixLink | 0777) << 16, !IsAscii(AName)});
    return *this;
}

TZipWriter& TZipWriter::WindowsFile(const QByteArray& AName, const QByteArray& AData, bool AReadOnly) {
    FEntries.push_back({AName, AData, TMethod::Deflated, MsDosHost, AReadOnly ? DosReadOnly : DosArchive, false});
    return *this;
}

TZipWriter& TZipWriter::Unmarked() {
    FEntries.back().MarkedUtf8 = false;
    return *this;
}

TZipWriter& TZipWriter::Zip64() {
    FZip64 = true;
    return *this;
}

bool TZipWriter::HasLinks() const {
    return std::any_of(FEntries.begin(), FEntries.end(), [](const TEntry& AEntry) {
        return (AEntry.ExternalAttributes >> 16 & UnixTypeMask) == UnixLink;
    });
}

namespace {

// What the local header and the central directory's header of an entry both say.
struct THeaderValues {
    quint16 Version = 0;
    quint16 Flags = 0;
    quint16 Method = 0;
    quint32 Crc = 0;
    quint64 CompressedSize = 0;
    quint64 UncompressedSize = 0;
    bool Zip64 = false;
    quint64 SizeField(quint64 ASize) const { return Zip64 ? Zip64Marker32 : ASize; }
};

// The fields that both headers of an entry carry in the same order, from "version needed" to
// the extra field's length; AAt is where "version needed" stands.
void PutEntryFields(TZipImage& AImage, qint64 AAt, const THeaderValues& AValues, qsizetype ANameLength) {
    constexpr qint64 first = TLocalHeader::VersionNeeded;
    static_assert(TDirectoryHeader::ExtraLength - TDirectoryHeader::VersionNeeded ==
                  TLocalHeader::ExtraLength - TLocalHeader::VersionNeeded);
    AImage.Put16(AAt + TLocalHeader::VersionNeeded - first, AValues.Version);
    AImage.Put16(AAt + TLocalHeader::Flags - first, AValues.Flags);
    AImage.Put16(AAt + TLocalHeader::Method - first, AValues.Method);
    AImage.Put16(AAt + TLocalHeader::Time - first, DosTime);
    AImage.Put16(AAt + TLocalHeader::Date - first, DosDate);
    AImage.Put32(AAt + TLocalHeader::Crc - first, AValues.Crc);
    AImage.Put32(AAt + TLocalHeader::CompressedSize - first, AValues.SizeField(AValues.CompressedSize));
    AImage.Put32(AAt + TLocalHeader::UncompressedSize - first, AValues.SizeField(AValues.UncompressedSize));
    AImage.Put16(AAt + TLocalHeader::NameLength - first, static_cast<quint64>(ANameLength));
    AImage.Put16(AAt + TLocalHeader::ExtraLength - first, AValues.Zip64 ? TZip64Extra::SizeWithBothSizes : 0);
}

void PutLocalHeader(TZipImage& AImage, qint64 AAt, const THeaderValues& AValues, qsizetype ANameLength) {
    AImage.Put32(AAt, TLocalHeader::Signature);
    PutEntryFields(AImage, AAt + TLocalHeader::VersionNeeded, AValues, ANameLength);
}

void PutDirectoryHeader(TZipImage& AImage, qint64 AAt, const THeaderValues& AValues, qsizetype ANameLength,
                        quint16 AHost, quint32 AExternalAttributes, qint64 ALocalHeader) {
    AImage.Put32(AAt, TDirectoryHeader::Signature);
    AImage.Put16(AAt + TDirectoryHeader::VersionMadeBy, static_cast<quint64>(AHost) << 8 | AValues.Version);
    PutEntryFields(AImage, AAt + TDirectoryHeader::VersionNeeded, AValues, ANameLength);
    AImage.Put32(AAt + TDirectoryHeader::ExternalAttributes, AExternalAttributes);
    AImage.Put32(AAt + TDirectoryHeader::LocalHeaderOffset, static_cast<quint64>(ALocalHeader));
}

// The ZIP64 extra field after a header's name, when the sizes are in it.
void AppendZip64Extra(TZipImage& AImage, const THeaderValues& AValues) {
    if (!AValues.Zip64) return;
    const qint64 at = Record(AImage.Bytes, TZip64Extra::SizeWithBothSizes);
    AImage.Put16(at + TExtraField::Id, TZip64Extra::Id);
    AImage.Put16(at + TExtraField::Length, TZip64Extra::SizeWithBothSizes - TExtraField::HeaderSize);
    AImage.Put64(at + TZip64Extra::UncompressedSize, AValues.UncompressedSize);
    AImage.Put64(at + TZip64Extra::CompressedSize, AValues.CompressedSize);
}

void AppendZip64Records(TZipImage& AImage, quint64 ACount, quint64 ADirectorySize) {
    const qint64 end = AImage.Zip64End = Record(AImage.Bytes, TZip64End::Size);
    AImage.Put32(end, TZip64End::Signature);
    AImage.Put64(end + TZip64End::RecordSize, TZip64End::Size - TZip64End::VersionMadeBy);
    AImage.Put16(end + TZip64End::VersionMadeBy, TZipWriter::UnixHost << 8 | VersionZip64);
    AImage.Put16(end + TZip64End::VersionNeeded, VersionZip64);
    AImage.Put64(end + TZip64End::DiskEntryCount, ACount);
    AImage.Put64(end + TZip64End::EntryCount, ACount);
    AImage.Put64(end + TZip64End::DirectorySize, ADirectorySize);
    AImage.Put64(end + TZip64End::DirectoryOffset, static_cast<quint64>(AImage.Directory));
    const qint64 locator = AImage.Zip64Locator = Record(AImage.Bytes, TZip64Locator::Size);
    AImage.Put32(locator, TZip64Locator::Signature);
    AImage.Put64(locator + TZip64Locator::EndOffset, static_cast<quint64>(end));
    AImage.Put32(locator + TZip64Locator::DiskCount, 1);
}

void AppendEndRecord(TZipImage& AImage, quint64 ACount, quint64 ADirectorySize, bool AZip64) {
    const qint64 end = AImage.EndRecord = Record(AImage.Bytes, TEndRecord::Size);
    AImage.Put32(end, TEndRecord::Signature);
    AImage.Put16(end + TEndRecord::DiskEntryCount, AZip64 ? Zip64Marker16 : ACount);
    AImage.Put16(end + TEndRecord::EntryCount, AZip64 ? Zip64Marker16 : ACount);
    AImage.Put32(end + TEndRecord::DirectorySize, AZip64 ? Zip64Marker32 : ADirectorySize);
    AImage.Put32(end + TEndRecord::DirectoryOffset, AZip64 ? Zip64Marker32 : static_cast<quint64>(AImage.Directory));
}

} // namespace

TZipImage TZipWriter::Write() const {
    TZipImage image;
    std::vector<THeaderValues> values;
    for (const TEntry& entry : FEntries) {
        const bool deflated = entry.Method == TMethod::Deflated;
        const QByteArray data = deflated ? Deflate(entry.Data) : entry.Data;
        values.push_back({FZip64     ? VersionZip64
                          : deflated ? VersionDeflated
                                     : VersionStored,
                          entry.MarkedUtf8 ? install::Utf8NameFlag : quint16{0},
                          deflated ? MethodDeflated : MethodStored, Crc32(entry.Data),
                          static_cast<quint64>(data.size()), static_cast<quint64>(entry.Data.size()), FZip64});
        TZipImage::TEntryPlace place;
        place.LocalHeader = Record(image.Bytes, TLocalHeader::Size);
        PutLocalHeader(image, place.LocalHeader, values.back(), entry.Name.size());
        image.Bytes += entry.Name;
        AppendZip64Extra(image, values.back());
        place.Data = image.Bytes.size();
        image.Bytes += data;
        image.Entries.push_back(place);
    }
    image.Directory = image.Bytes.size();
    for (std::size_t i = 0; i < FEntries.size(); ++i) {
        const TEntry& entry = FEntries[i];
        TZipImage::TEntryPlace& place = image.Entries[i];
        place.DirectoryHeader = Record(image.Bytes, TDirectoryHeader::Size);
        PutDirectoryHeader(image, place.DirectoryHeader, values[i], entry.Name.size(), entry.Host,
                           entry.ExternalAttributes, place.LocalHeader);
        image.Bytes += entry.Name;
        AppendZip64Extra(image, values[i]);
    }
    const auto count = static_cast<quint64>(FEntries.size());
    const auto directorySize = static_cast<quint64>(image.Bytes.size() - image.Directory);
    if (FZip64) AppendZip64Records(image, count, directorySize);
    AppendEndRecord(image, count, directorySize, FZip64);
    return image;
}

quint32 Crc32(const QByteArray& AData) {
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> values{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            values[n] = c;
        }
        return values;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : AData) crc = table[(crc ^ static_cast<unsigned char>(byte)) & 0xFFu] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

QByteArray Deflate(const QByteArray& AData) {
    // An empty stream: one final block of fixed codes that holds only its end.
    if (AData.isEmpty()) return QByteArray("\x03\x00", 2);
    // qCompress gives the size (4 bytes, big-endian), then the zlib format: a 2-byte header, the
    // deflate stream, the Adler-32 of the data (4 bytes).
    constexpr qsizetype SizePrefix = 4;
    constexpr qsizetype ZlibHeader = 2;
    constexpr qsizetype ZlibTrailer = 4;
    const QByteArray compressed = qCompress(AData);
    return compressed.mid(SizePrefix + ZlibHeader, compressed.size() - SizePrefix - ZlibHeader - ZlibTrailer);
}

} // namespace zlt::test
