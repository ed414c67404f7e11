#include "install/ZipDirectory.h"

#include <QFile>

#include <algorithm>
#include <limits>

namespace zlt::install {

namespace {

// The record layouts of the ZIP format (PKWARE's APPNOTE), little-endian throughout.
constexpr quint32 EndOfDirectorySignature = 0x06054b50;
constexpr quint32 Zip64LocatorSignature = 0x07064b50;
constexpr quint32 Zip64EndSignature = 0x06064b50;
constexpr quint32 DirectoryEntrySignature = 0x02014b50;
constexpr qint64 EndOfDirectorySize = 22;
constexpr qint64 Zip64LocatorSize = 20;
constexpr qint64 Zip64EndSize = 56;
constexpr qint64 DirectoryEntrySize = 46;
constexpr qint64 MaxCommentSize = 0xFFFF;
constexpr quint32 Zip64ExtraId = 0x0001;
constexpr quint64 Zip64Marker32 = 0xFFFFFFFF;
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

// The uncompressed size of the directory entry at AAt: its 32-bit field, or, when that holds the
// marker, the first value of the entry's ZIP64 extra field. nullopt when the marker has no value.
std::optional<quint64> UncompressedSize(TFields& AFields, qint64 AAt, qint64 ANameLength, qint64 AExtraLength) {
    const quint64 size = AFields.Read(AAt + 24, 4);
    if (size != Zip64Marker32) return size;
    qint64 at = AAt + DirectoryEntrySize + ANameLength;
    const qint64 end = at + AExtraLength;
    while (at + 4 <= end) {
        const auto id = static_cast<quint32>(AFields.Read(at, 2));
        const auto length = static_cast<qint64>(AFields.Read(at + 2, 2));
        if (id == Zip64ExtraId && length >= 8 && at + 4 + 8 <= end) return AFields.Read(at + 4, 8);
        at += 4 + length;
    }
    return std::nullopt;
}

} // namespace

std::optional<TZipDirectory> ReadZipDirectory(const QString& AFileName) {
    QFile file(AFileName);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const qint64 fileSize = file.size();
    if (fileSize < EndOfDirectorySize) return std::nullopt;

    // The end record is the last thing in the file, followed only by its comment.
    const qint64 tailStart = std::max<qint64>(0, fileSize - EndOfDirectorySize - MaxCommentSize);
    const QByteArray tail = ReadAt(file, tailStart, fileSize - tailStart);
    TFields tailFields(tail);
    qint64 end = -1;
    for (qint64 at = tail.size() - EndOfDirectorySize; at >= 0; --at) {
        if (tailFields.Read(at, 4) == EndOfDirectorySignature &&
            at + EndOfDirectorySize + static_cast<qint64>(tailFields.Read(at + 20, 2)) == tail.size()) {
            end = at;
            break;
        }
    }
    if (end < 0) return std::nullopt;

    quint64 count = tailFields.Read(end + 10, 2);
    quint64 size = tailFields.Read(end + 12, 4);
    quint64 offset = tailFields.Read(end + 16, 4);
    if (count == 0xFFFF || size == 0xFFFFFFFF || offset == 0xFFFFFFFF) {
        const qint64 locatorAt = tailStart + end - Zip64LocatorSize;
        const QByteArray locator = ReadAt(file, locatorAt, Zip64LocatorSize);
        TFields locatorFields(locator);
        if (locatorFields.Read(0, 4) != Zip64LocatorSignature) return std::nullopt;
        const QByteArray record = ReadAt(file, static_cast<qint64>(locatorFields.Read(8, 8)), Zip64EndSize);
        TFields recordFields(record);
        if (recordFields.Read(0, 4) != Zip64EndSignature) return std::nullopt;
        count = recordFields.Read(32, 8);
        size = recordFields.Read(40, 8);
        offset = recordFields.Read(48, 8);
        if (locatorFields.Bad() || recordFields.Bad()) return std::nullopt;
    }
    if (size > static_cast<quint64>(MaxDirectorySize) || offset + size > static_cast<quint64>(fileSize))
        return std::nullopt;

    const QByteArray directory = ReadAt(file, static_cast<qint64>(offset), static_cast<qint64>(size));
    TFields fields(directory);
    TZipDirectory result;
    qint64 at = 0;
    for (quint64 index = 0; index < count; ++index) {
        if (fields.Read(at, 4) != DirectoryEntrySignature) return std::nullopt;
        const auto host = static_cast<std::uint8_t>(fields.Read(at + 5, 1));
        const auto nameLength = static_cast<qint64>(fields.Read(at + 28, 2));
        const auto extraLength = static_cast<qint64>(fields.Read(at + 30, 2));
        const auto commentLength = static_cast<qint64>(fields.Read(at + 32, 2));
        if (fields.Bad() || at + DirectoryEntrySize + nameLength > directory.size()) return std::nullopt;
        const std::optional<quint64> entrySize = UncompressedSize(fields, at, nameLength, extraLength);
        if (!entrySize || fields.Bad()) return std::nullopt;
        // Saturates: a directory that declares more than 2^63 bytes fits no disk either way.
        constexpr auto Max = static_cast<quint64>(std::numeric_limits<std::int64_t>::max());
        result.DeclaredBytes = static_cast<std::int64_t>(
            std::min(Max, static_cast<quint64>(result.DeclaredBytes) + std::min(*entrySize, Max)));
        result.HostSystems.insert(directory.mid(at + DirectoryEntrySize, nameLength), host);
        at += DirectoryEntrySize + nameLength + extraLength + commentLength;
    }
    result.EntryCount = static_cast<std::int64_t>(count);
    return result;
}

} // namespace zlt::install
