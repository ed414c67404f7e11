#include "install/ZipDirectory.h"

#include "install/ZipFormat.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace zlt::install {

namespace {

// A directory larger than this is no package of ours; reading it whole would only cost memory.
constexpr qint64 MaxDirectorySize = qint64{256} << 20;

// Little-endian fields of a byte buffer; reads outside it give 0 and mark the reader bad.
class TFields {
public:
    explicit TFields(const QByteArray& ABytes) : FBytes(ABytes) {}
    quint64 Read(qint64 AOffset, int AWidth) {
        if (AOffset < 0 || AOffset + AWidth > FBytes.size()) {
            FBad = true;
            return 0;
        }
        quint64 value = 0;
        for (int i = AWidth - 1; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(FBytes[static_cast<qsizetype>(AOffset + i)]);
        return value;
    }
    bool Bad() const { return FBad; }

private:
    const QByteArray& FBytes;
    bool FBad = false;
};

QByteArray ReadAt(QFile& AFile, qint64 AOffset, qint64 ASize) {
    if (AOffset < 0 || ASize < 0 || !AFile.seek(AOffset)) return {};
    return AFile.read(ASize);
}

// Where the directory lies and how many entries it holds, as the end records declare it.
struct TDirectoryPlace {
    quint64 Count = 0;
    quint64 Size = 0;
    quint64 Offset = 0;
};

// The ZIP64 end record, found through the locator right before the end record at AEndAt.
std::optional<TDirectoryPlace> ReadZip64End(QFile& AFile, qint64 AEndAt) {
    const QByteArray locator = ReadAt(AFile, AEndAt - TZip64Locator::Size, TZip64Locator::Size);
    TFields locatorFields(locator);
    const quint64 recordAt = locatorFields.Read(TZip64Locator::EndOffset, 8);
    if (locatorFields.Read(0, 4) != TZip64Locator::Signature || locatorFields.Bad() ||
        recordAt > static_cast<quint64>(std::numeric_limits<qint64>::max()))
        return std::nullopt;
    const QByteArray record = ReadAt(AFile, static_cast<qint64>(recordAt), TZip64End::Size);
    TFields fields(record);
    const TDirectoryPlace place{fields.Read(TZip64End::EntryCount, 8), fields.Read(TZip64End::DirectorySize, 8),
                                fields.Read(TZip64End::DirectoryOffset, 8)};
    if (fields.Read(0, 4) != TZip64End::Signature || fields.Bad()) return std::nullopt;
    return place;
}

// The end record is the last thing in the file, followed only by its comment; a field that
// holds the marker sends the reader on to the ZIP64 end record.
std::optional<TDirectoryPlace> ReadEndRecord(QFile& AFile, qint64 AFileSize) {
    const qint64 tailStart = std::max<qint64>(0, AFileSize - TEndRecord::Size - TEndRecord::MaxCommentLength);
    const QByteArray tail = ReadAt(AFile, tailStart, AFileSize - tailStart);
    TFields fields(tail);
    qint64 end = -1;
    for (qint64 at = tail.size() - TEndRecord::Size; at >= 0 && end < 0; --at) {
        const auto commentLength = static_cast<qint64>(fields.Read(at + TEndRecord::CommentLength, 2));
        if (fields.Read(at, 4) == TEndRecord::Signature && at + TEndRecord::Size + commentLength == tail.size())
            end = at;
    }
    if (end < 0) return std::nullopt;
    const TDirectoryPlace place{fields.Read(end + TEndRecord::EntryCount, 2),
                                fields.Read(end + TEndRecord::DirectorySize, 4),
                                fields.Read(end + TEndRecord::DirectoryOffset, 4)};
    if (place.Count == Zip64Marker16 || place.Size == Zip64Marker32 || place.Offset == Zip64Marker32)
        return ReadZip64End(AFile, tailStart + end);
    return place;
}

// The directory's place, when the whole directory lies inside the file and is not too large.
std::optional<TDirectoryPlace> FindDirectory(QFile& AFile) {
    const qint64 fileSize = AFile.size();
    const std::optional<TDirectoryPlace> place = ReadEndRecord(AFile, fileSize);
    // Compared so that no sum can wrap around: the ZIP64 fields take any 64-bit value.
    if (!place || place->Size > static_cast<quint64>(MaxDirectorySize) ||
        place->Offset > static_cast<quint64>(fileSize) || place->Size > static_cast<quint64>(fileSize) - place->Offset)
        return std::nullopt;
    return place;
}

// The uncompressed size of the directory entry at AAt: its 32-bit field, or, when that holds the
// marker, the first value of the entry's ZIP64 extra field. nullopt when the marker has no value.
std::optional<quint64> UncompressedSize(TFields& AFields, qint64 AAt, qint64 ANameLength, qint64 AExtraLength) {
    const quint64 size = AFields.Read(AAt + TDirectoryHeader::UncompressedSize, 4);
    if (size != Zip64Marker32) return size;
    qint64 at = AAt + TDirectoryHeader::Size + ANameLength;
    const qint64 end = at + AExtraLength;
    while (at + TExtraField::HeaderSize <= end) {
        const auto id = static_cast<quint32>(AFields.Read(at + TExtraField::Id, 2));
        const auto length = static_cast<qint64>(AFields.Read(at + TExtraField::Length, 2));
        if (id == TZip64Extra::Id && length >= 8 && at + TZip64Extra::UncompressedSize + 8 <= end)
            return AFields.Read(at + TZip64Extra::UncompressedSize, 8);
        at += TExtraField::HeaderSize + length;
    }
    return std::nullopt;
}

// ACount entries that fill ADirectory exactly, each one whole inside it: a count that disagrees
// with the entries would leave some of them uncounted, and their sizes out of the space check.
std::optional<TZipDirectory> ReadEntries(const QByteArray& ADirectory, quint64 ACount) {
    TFields fields(ADirectory);
    TZipDirectory result;
    qint64 at = 0;
    for (quint64 index = 0; index < ACount; ++index) {
        const quint64 signature = fields.Read(at, 4);
        const auto host = static_cast<std::uint8_t>(fields.Read(at + TDirectoryHeader::HostSystem, 1));
        const auto nameLength = static_cast<qint64>(fields.Read(at + TDirectoryHeader::NameLength, 2));
        const auto extraLength = static_cast<qint64>(fields.Read(at + TDirectoryHeader::ExtraLength, 2));
        const auto commentLength = static_cast<qint64>(fields.Read(at + TDirectoryHeader::CommentLength, 2));
        const qint64 next = at + TDirectoryHeader::Size + nameLength + extraLength + commentLength;
        const std::optional<quint64> entrySize = UncompressedSize(fields, at, nameLength, extraLength);
        if (signature != TDirectoryHeader::Signature || fields.Bad() || next > ADirectory.size() || !entrySize)
            return std::nullopt;
        // Saturates: a directory that declares more than 2^63 bytes fits no disk either way.
        constexpr auto Max = static_cast<quint64>(std::numeric_limits<std::int64_t>::max());
        result.DeclaredBytes = static_cast<std::int64_t>(
            std::min(Max, static_cast<quint64>(result.DeclaredBytes) + std::min(*entrySize, Max)));
        const QByteArray name = ADirectory.mid(at + TDirectoryHeader::Size, nameLength);
        result.HostSystems.insert(name, host);
        if ((fields.Read(at + TDirectoryHeader::Flags, 2) & Utf8NameFlag) != 0) result.Utf8Names.insert(name);
        at = next;
    }
    if (at != ADirectory.size()) return std::nullopt;
    result.EntryCount = static_cast<std::int64_t>(ACount);
    return result;
}

} // namespace

std::optional<TZipDirectory> ReadZipDirectory(const QString& AFileName) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const std::optional<TDirectoryPlace> place = FindDirectory(file);
    if (!place) return std::nullopt;
    const QByteArray directory = ReadAt(file, static_cast<qint64>(place->Offset), static_cast<qint64>(place->Size));
    // A file that shrank since its size was taken.
    if (directory.size() != static_cast<qsizetype>(place->Size)) return std::nullopt;
    return ReadEntries(directory, place->Count);
}

} // namespace zlt::install
