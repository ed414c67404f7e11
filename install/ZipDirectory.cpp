#include "install/ZipDirectory.h"

#include <QFile>

#include <algorithm>
#include <limits>
#include <optional>

namespace zlt::install {

namespace {

// A directory larger than this is no package of ours; reading it whole would only cost memory.
constexpr qint64 MaxDirectorySize = qint64{256} << 20;
constexpr auto MaxOffset = static_cast<quint64>(std::numeric_limits<qint64>::max());

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

[[noreturn]] void Malformed(const QString& ACause) { throw EMalformedZip(ACause); }

QString Shown(const QByteArray& AStoredName) { return QString::fromUtf8(AStoredName); }

QByteArray ReadAt(QFile& AFile, qint64 AOffset, qint64 ASize) {
    if (AOffset < 0 || ASize < 0 || !AFile.seek(AOffset)) return {};
    return AFile.read(ASize);
}

// Where the directory lies and how many entries it holds, as the end records declare it, and
// where those records begin: the directory must end there.
struct TDirectoryPlace {
    quint64 Count = 0;
    quint64 Size = 0;
    quint64 Offset = 0;
    qint64 RecordsStart = 0;
};

// The ZIP64 end record, found through the locator right before the end record at AEndAt; the
// record must end where the locator begins.
TDirectoryPlace ReadZip64End(QFile& AFile, qint64 AEndAt) {
    const qint64 locatorAt = AEndAt - TZip64Locator::Size;
    const QByteArray locator = ReadAt(AFile, locatorAt, TZip64Locator::Size);
    TFields locatorFields(locator);
    const quint64 recordAt = locatorFields.Read(TZip64Locator::EndOffset, 8);
    if (locatorFields.Read(0, 4) != TZip64Locator::Signature || locatorFields.Bad())
        Malformed(QStringLiteral("the end record points to ZIP64 records that are not there"));
    if (recordAt > MaxOffset || static_cast<qint64>(recordAt) + TZip64End::Size > locatorAt)
        Malformed(QStringLiteral("the ZIP64 end record's place is outside the file"));
    const QByteArray record = ReadAt(AFile, static_cast<qint64>(recordAt), locatorAt - static_cast<qint64>(recordAt));
    TFields fields(record);
    const TDirectoryPlace place{fields.Read(TZip64End::EntryCount, 8), fields.Read(TZip64End::DirectorySize, 8),
                                fields.Read(TZip64End::DirectoryOffset, 8), static_cast<qint64>(recordAt)};
    const quint64 recordSize = fields.Read(TZip64End::RecordSize, 8);
    if (fields.Read(0, 4) != TZip64End::Signature || fields.Bad())
        Malformed(QStringLiteral("the ZIP64 end record is missing"));
    if (recordSize != static_cast<quint64>(record.size() - 12))
        Malformed(QStringLiteral("the ZIP64 end record does not end where its locator begins"));
    if (fields.Read(TZip64End::Disk, 4) != 0 || fields.Read(TZip64End::DirectoryDisk, 4) != 0 ||
        fields.Read(TZip64End::DiskEntryCount, 8) != place.Count)
        Malformed(QStringLiteral("the archive spans several disks"));
    return place;
}

// The end record is the last thing in the file, followed only by its comment. Only one place
// may fit that description: a second one hides in the comment, and readers that search from the
// end or from the start would see two different archives.
qint64 FindEndRecord(const QByteArray& ATail) {
    TFields fields(ATail);
    qint64 found = -1;
    for (qint64 at = ATail.size() - TEndRecord::Size; at >= 0; --at) {
        const auto commentLength = static_cast<qint64>(fields.Read(at + TEndRecord::CommentLength, 2));
        if (fields.Read(at, 4) != TEndRecord::Signature || at + TEndRecord::Size + commentLength != ATail.size())
            continue;
        if (found >= 0) Malformed(QStringLiteral("the archive's comment holds a second end record"));
        found = at;
    }
    if (found < 0) Malformed(QStringLiteral("the file has no end record: it is no ZIP archive, or it is cut"));
    return found;
}

// A field that holds the marker sends the reader on to the ZIP64 end record.
TDirectoryPlace ReadEndRecord(QFile& AFile, qint64 AFileSize) {
    const qint64 tailStart = std::max<qint64>(0, AFileSize - TEndRecord::Size - TEndRecord::MaxCommentLength);
    const QByteArray tail = ReadAt(AFile, tailStart, AFileSize - tailStart);
    const qint64 end = FindEndRecord(tail);
    TFields fields(tail);
    const TDirectoryPlace place{fields.Read(end + TEndRecord::EntryCount, 2),
                                fields.Read(end + TEndRecord::DirectorySize, 4),
                                fields.Read(end + TEndRecord::DirectoryOffset, 4), tailStart + end};
    if (place.Count == Zip64Marker16 || place.Size == Zip64Marker32 || place.Offset == Zip64Marker32)
        return ReadZip64End(AFile, tailStart + end);
    if (fields.Read(end + TEndRecord::Disk, 2) != 0 || fields.Read(end + TEndRecord::DirectoryDisk, 2) != 0 ||
        fields.Read(end + TEndRecord::DiskEntryCount, 2) != place.Count)
        Malformed(QStringLiteral("the archive spans several disks"));
    return place;
}

// The directory's place: right before the end records, and not too large.
TDirectoryPlace FindDirectory(QFile& AFile) {
    const TDirectoryPlace place = ReadEndRecord(AFile, AFile.size());
    // Compared so that no sum can wrap around: the ZIP64 fields take any 64-bit value.
    if (place.Size > static_cast<quint64>(MaxDirectorySize))
        Malformed(QStringLiteral("the directory declares %1 bytes, more than a package holds").arg(place.Size));
    if (place.Offset > static_cast<quint64>(place.RecordsStart) ||
        place.Size != static_cast<quint64>(place.RecordsStart) - place.Offset)
        Malformed(QStringLiteral("the directory does not end where the end record begins"));
    return place;
}

// Where the ZIP64 extra field starts in an entry's extra data, and how long its data is; -1
// when there is none.
qint64 FindZip64Extra(const QByteArray& AExtra, qint64& ALength) {
    TFields fields(AExtra);
    qint64 at = 0;
    while (at + TExtraField::HeaderSize <= AExtra.size()) {
        const auto id = static_cast<quint32>(fields.Read(at + TExtraField::Id, 2));
        ALength = static_cast<qint64>(fields.Read(at + TExtraField::Length, 2));
        if (id == TZip64Extra::Id) return at;
        at += TExtraField::HeaderSize + ALength;
    }
    return -1;
}

// The values of a ZIP64 extra field, in their order: each is there only when its header field
// holds the marker. AWanted lists those fields; the values found replace them. False when a
// wanted value is missing.
bool ReadZip64Values(const QByteArray& AExtra, const std::vector<quint64*>& AWanted) {
    if (AWanted.empty()) return true;
    qint64 length = 0;
    const qint64 at = FindZip64Extra(AExtra, length);
    if (at < 0) return false;
    TFields fields(AExtra);
    qint64 value = at + TExtraField::HeaderSize;
    for (quint64* wanted : AWanted) {
        if (value + 8 > at + TExtraField::HeaderSize + length) return false;
        *wanted = fields.Read(value, 8);
        value += 8;
    }
    return !fields.Bad();
}

// The fields of a directory record or a local header that a ZIP64 extra field may hold.
struct TSizes {
    quint64 Compressed = 0;
    quint64 Uncompressed = 0;
    quint64 Offset = 0;
};

// The directory record at AAt; ANext is where the next one begins.
TZipEntry ReadRecord(const QByteArray& ADirectory, qint64 AAt, qint64& ANext) {
    TFields fields(ADirectory);
    const quint64 signature = fields.Read(AAt, 4);
    const auto nameLength = static_cast<qint64>(fields.Read(AAt + TDirectoryHeader::NameLength, 2));
    const auto extraLength = static_cast<qint64>(fields.Read(AAt + TDirectoryHeader::ExtraLength, 2));
    const auto commentLength = static_cast<qint64>(fields.Read(AAt + TDirectoryHeader::CommentLength, 2));
    ANext = AAt + TDirectoryHeader::Size + nameLength + extraLength + commentLength;
    if (signature != TDirectoryHeader::Signature || fields.Bad() || ANext > ADirectory.size())
        Malformed(QStringLiteral("the directory's record %1 bytes into it is broken").arg(AAt));
    TZipEntry entry;
    entry.StoredName = ADirectory.mid(AAt + TDirectoryHeader::Size, nameLength);
    entry.HostSystem = static_cast<std::uint8_t>(fields.Read(AAt + TDirectoryHeader::HostSystem, 1));
    entry.Flags = static_cast<std::uint16_t>(fields.Read(AAt + TDirectoryHeader::Flags, 2));
    entry.Method = static_cast<std::uint16_t>(fields.Read(AAt + TDirectoryHeader::Method, 2));
    entry.Crc = static_cast<std::uint32_t>(fields.Read(AAt + TDirectoryHeader::Crc, 4));
    entry.DirectoryRecord = ADirectory.mid(AAt, ANext - AAt);
    TSizes sizes{fields.Read(AAt + TDirectoryHeader::CompressedSize, 4),
                 fields.Read(AAt + TDirectoryHeader::UncompressedSize, 4),
                 fields.Read(AAt + TDirectoryHeader::LocalHeaderOffset, 4)};
    std::vector<quint64*> marked;
    for (quint64* field : {&sizes.Uncompressed, &sizes.Compressed, &sizes.Offset})
        if (*field == Zip64Marker32) marked.push_back(field);
    const QByteArray extra = ADirectory.mid(AAt + TDirectoryHeader::Size + nameLength, extraLength);
    if (!ReadZip64Values(extra, marked))
        Malformed(QStringLiteral("the entry \"%1\" lacks its ZIP64 sizes").arg(Shown(entry.StoredName)));
    if (fields.Read(AAt + TDirectoryHeader::DiskStart, 2) != 0)
        Malformed(QStringLiteral("the archive spans several disks"));
    if (sizes.Compressed > MaxOffset || sizes.Uncompressed > MaxOffset || sizes.Offset > MaxOffset)
        Malformed(QStringLiteral("the entry \"%1\" declares sizes beyond any file").arg(Shown(entry.StoredName)));
    entry.CompressedSize = static_cast<std::int64_t>(sizes.Compressed);
    entry.UncompressedSize = static_cast<std::int64_t>(sizes.Uncompressed);
    entry.LocalHeaderOffset = static_cast<std::int64_t>(sizes.Offset);
    return entry;
}

// ACount records that fill ADirectory exactly, each one whole inside it: a count that disagrees
// with the records would leave some entries uncounted, and their sizes out of the space check.
TZipDirectory ReadRecords(const QByteArray& ADirectory, quint64 ACount) {
    TZipDirectory result;
    qint64 at = 0;
    for (quint64 index = 0; index < ACount; ++index) {
        if (at >= ADirectory.size())
            Malformed(
                QStringLiteral("the end record counts %1 entries, the directory holds %2").arg(ACount).arg(index));
        qint64 next = 0;
        TZipEntry entry = ReadRecord(ADirectory, at, next);
        if ((entry.Flags & EncryptedFlag) != 0)
            Malformed(QStringLiteral("the entry \"%1\" is encrypted").arg(Shown(entry.StoredName)));
        if (result.Index.contains(entry.StoredName))
            Malformed(QStringLiteral("two entries are stored as \"%1\"").arg(Shown(entry.StoredName)));
        // Saturates: a directory that declares more than 2^63 bytes fits no disk either way.
        result.DeclaredBytes = static_cast<std::int64_t>(
            std::min(MaxOffset,
                     static_cast<quint64>(result.DeclaredBytes) + static_cast<quint64>(entry.UncompressedSize)));
        result.Index.insert(entry.StoredName, static_cast<qsizetype>(result.Entries.size()));
        result.Entries.push_back(std::move(entry));
        at = next;
    }
    if (at != ADirectory.size())
        Malformed(QStringLiteral("the directory holds more records than the %1 its end record counts").arg(ACount));
    result.EntryCount = static_cast<std::int64_t>(ACount);
    return result;
}

// The CRC and sizes that follow an entry's data at AAt, with or without the descriptor's
// signature; ALong: the sizes take 8 bytes. Returns the descriptor's length, or 0 when neither
// reading matches the directory's record.
qint64 DataDescriptorLength(QFile& AFile, qint64 AAt, const TZipEntry& AEntry, bool ALong) {
    const QByteArray bytes = ReadAt(AFile, AAt, TDataDescriptor::MaxSize);
    const int width = ALong ? 8 : 4;
    for (const qint64 start : {TDataDescriptor::SignatureSize, qint64{0}}) {
        TFields fields(bytes);
        if (start > 0 && fields.Read(0, 4) != TDataDescriptor::Signature) continue;
        const quint64 crc = fields.Read(start + TDataDescriptor::Crc, 4);
        const quint64 compressed = fields.Read(start + TDataDescriptor::CompressedSize, width);
        const quint64 uncompressed = fields.Read(start + TDataDescriptor::CompressedSize + width, width);
        if (!fields.Bad() && crc == AEntry.Crc && compressed == static_cast<quint64>(AEntry.CompressedSize) &&
            uncompressed == static_cast<quint64>(AEntry.UncompressedSize))
            return start + TDataDescriptor::CompressedSize + 2 * width;
    }
    return 0;
}

// Checks the local header of AEntry against its record and sets the entry's span. ALimit:
// where the directory begins, which no entry reaches.
void CheckLocalHeader(QFile& AFile, TZipEntry& AEntry, qint64 ALimit) {
    const QString name = Shown(AEntry.StoredName);
    const qint64 at = AEntry.LocalHeaderOffset;
    const QByteArray header = ReadAt(AFile, at, TLocalHeader::Size);
    TFields fields(header);
    if (at > ALimit - TLocalHeader::Size || fields.Read(0, 4) != TLocalHeader::Signature || fields.Bad())
        Malformed(QStringLiteral("the entry \"%1\" has no local header at offset %2").arg(name).arg(at));
    const auto nameLength = static_cast<qint64>(fields.Read(TLocalHeader::NameLength, 2));
    const auto extraLength = static_cast<qint64>(fields.Read(TLocalHeader::ExtraLength, 2));
    const qint64 dataAt = at + TLocalHeader::Size + nameLength + extraLength;
    const QByteArray rest = ReadAt(AFile, at + TLocalHeader::Size, nameLength + extraLength);
    if (rest.left(nameLength) != AEntry.StoredName || rest.size() != nameLength + extraLength)
        Malformed(QStringLiteral("the local header of \"%1\" names another entry").arg(name));
    constexpr quint16 CheckedFlags = EncryptedFlag | DataDescriptorFlag | Utf8NameFlag;
    if (fields.Read(TLocalHeader::Method, 2) != AEntry.Method ||
        (fields.Read(TLocalHeader::Flags, 2) & CheckedFlags) != (AEntry.Flags & CheckedFlags))
        Malformed(QStringLiteral("the local header of \"%1\" declares another method or flags").arg(name));
    if (AEntry.CompressedSize > ALimit - dataAt)
        Malformed(QStringLiteral("the data of \"%1\" reaches into the directory").arg(name));

    TSizes sizes{fields.Read(TLocalHeader::CompressedSize, 4), fields.Read(TLocalHeader::UncompressedSize, 4), 0};
    const QByteArray extra = rest.mid(nameLength);
    qint64 zip64Length = 0;
    const bool long64 = FindZip64Extra(extra, zip64Length) >= 0;
    // A local header's ZIP64 field holds both sizes when either field holds the marker.
    if (sizes.Compressed == Zip64Marker32 || sizes.Uncompressed == Zip64Marker32)
        ReadZip64Values(extra, {&sizes.Uncompressed, &sizes.Compressed});
    // With a data descriptor, the local header may leave any of the three values 0: its writer
    // did not know it yet.
    const bool deferred = (AEntry.Flags & DataDescriptorFlag) != 0;
    const auto agrees = [deferred](quint64 ALocal, quint64 AInDirectory) {
        return ALocal == AInDirectory || (deferred && ALocal == 0);
    };
    if (!agrees(fields.Read(TLocalHeader::Crc, 4), AEntry.Crc) ||
        !agrees(sizes.Compressed, static_cast<quint64>(AEntry.CompressedSize)) ||
        !agrees(sizes.Uncompressed, static_cast<quint64>(AEntry.UncompressedSize)))
        Malformed(QStringLiteral("the local header of \"%1\" declares another CRC or size").arg(name));
    const qint64 dataEnd = dataAt + AEntry.CompressedSize;
    const qint64 descriptor = deferred ? DataDescriptorLength(AFile, dataEnd, AEntry, long64) : 0;
    if (deferred && descriptor == 0)
        Malformed(QStringLiteral("the data descriptor of \"%1\" declares another CRC or size").arg(name));
    AEntry.SpanLength = dataEnd + descriptor - at;
}

// The entries' spans, in the file's order, fill it from the first byte to the directory: a
// gap would hide data that a reader walking the local headers installs, an overlap lets one
// entry's bytes stand for two.
void CheckSpans(const std::vector<TZipEntry>& AEntries, qint64 ADirectoryOffset) {
    std::vector<const TZipEntry*> order;
    for (const TZipEntry& entry : AEntries) order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](const TZipEntry* ALeft, const TZipEntry* ARight) {
        return ALeft->LocalHeaderOffset < ARight->LocalHeaderOffset;
    });
    qint64 expected = 0;
    for (const TZipEntry* entry : order) {
        if (entry->LocalHeaderOffset < expected)
            Malformed(QStringLiteral("the entry \"%1\" overlaps the one before it").arg(Shown(entry->StoredName)));
        if (entry->LocalHeaderOffset > expected)
            Malformed(QStringLiteral("%1 bytes before the entry \"%2\" belong to no entry")
                          .arg(entry->LocalHeaderOffset - expected)
                          .arg(Shown(entry->StoredName)));
        expected = entry->LocalHeaderOffset + entry->SpanLength;
    }
    if (expected != ADirectoryOffset)
        Malformed(QStringLiteral("%1 bytes before the directory belong to no entry").arg(ADirectoryOffset - expected));
}

} // namespace

TZipDirectory ReadZipDirectory(const QString& AFileName) {
    QFile file(AFileName);
    // Unbuffered: the reader jumps from header to header, and a buffer would read ahead each time.
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        Malformed(QStringLiteral("the file can't be read: %1").arg(file.errorString()));
    const TDirectoryPlace place = FindDirectory(file);
    const QByteArray directory = ReadAt(file, static_cast<qint64>(place.Offset), static_cast<qint64>(place.Size));
    // A file that shrank since its size was taken.
    if (directory.size() != static_cast<qsizetype>(place.Size)) Malformed(QStringLiteral("the file is cut"));
    TZipDirectory result = ReadRecords(directory, place.Count);
    result.DirectoryOffset = static_cast<std::int64_t>(place.Offset);
    for (TZipEntry& entry : result.Entries) CheckLocalHeader(file, entry, result.DirectoryOffset);
    CheckSpans(result.Entries, result.DirectoryOffset);
    return result;
}

} // namespace zlt::install
