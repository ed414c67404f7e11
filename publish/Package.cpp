#include "publish/Package.h"

#include "common/Errors.h"
#include "install/ZipDirectory.h"

#include <archive.h>
#include <archive_entry.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <exception>
#include <memory>

namespace zlt::publish {

namespace {

// Every entry's time: the same for every build of a release, so that the bytes depend on the
// folder's content alone. 2000-01-01T00:00:00Z; the ZIP's DOS time is derived in UTC
// (zlt-publish runs with TZ=UTC0).
constexpr std::int64_t EntryTime = 946684800;
constexpr qint64 ReadBlock = 1024 * 1024;

struct TWriteFree {
    void operator()(archive* AArchive) const { archive_write_free(AArchive); }
};
struct TReadFree {
    void operator()(archive* AArchive) const { archive_read_free(AArchive); }
};
struct TEntryFree {
    void operator()(archive_entry* AEntry) const { archive_entry_free(AEntry); }
};
using TWriteArchive = std::unique_ptr<archive, TWriteFree>;
using TReadArchive = std::unique_ptr<archive, TReadFree>;

QString ArchiveError(archive* AArchive) {
    const char* text = archive_error_string(AArchive);
    return text != nullptr ? QString::fromUtf8(text) : QStringLiteral("unknown libarchive failure");
}

int ModeOf(const QFileInfo& AInfo) {
    const QFile::Permissions permissions = AInfo.permissions();
    int mode = 0;
    const std::pair<QFile::Permission, int> bits[] = {
        {QFile::ReadOwner, 0400}, {QFile::WriteOwner, 0200}, {QFile::ExeOwner, 0100},
        {QFile::ReadGroup, 0040}, {QFile::WriteGroup, 0020}, {QFile::ExeGroup, 0010},
        {QFile::ReadOther, 0004}, {QFile::WriteOther, 0002}, {QFile::ExeOther, 0001}};
    for (const auto& [permission, bit] : bits)
        if (permissions.testFlag(permission)) mode |= bit;
    return mode;
}

TPackageItem ItemOf(const QDir& ARoot, const QFileInfo& AInfo) {
    const QString path = AInfo.filePath();
    if (AInfo.isSymLink())
        throw Exception(QStringLiteral("\"%1\" is a link; only files and folders are published").arg(path));
    if (!AInfo.isDir() && !AInfo.isFile())
        throw Exception(QStringLiteral("\"%1\" is neither a file nor a folder").arg(path));
    if (!AInfo.isReadable())
        throw Exception(QStringLiteral("\"%1\" cannot be read (permission denied)").arg(path));
    TPackageItem item;
    item.Name = ARoot.relativeFilePath(path);
    item.Path = path;
    item.Folder = AInfo.isDir();
    item.Mode = ModeOf(AInfo);
    item.Size = item.Folder ? 0 : AInfo.size();
    return item;
}

} // namespace

std::vector<TPackageItem> ListFolder(const QString& AFolder) {
    const QFileInfo root(AFolder);
    if (!root.isDir()) throw Exception(QStringLiteral("\"%1\" is not a folder").arg(AFolder));
    if (!root.isReadable() || !QDir(AFolder).isReadable())
        throw Exception(QStringLiteral("\"%1\" cannot be read (permission denied)").arg(AFolder));
    const QDir dir(root.absoluteFilePath());
    std::vector<TPackageItem> items;
    QDirIterator it(dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        items.push_back(ItemOf(dir, it.fileInfo()));
        // The iterator passes over a folder it can't open without a word.
        if (items.back().Folder && !QDir(items.back().Path).isReadable())
            throw Exception(QStringLiteral("\"%1\" cannot be read (permission denied)").arg(items.back().Path));
    }
    std::sort(items.begin(), items.end(),
              [](const TPackageItem& A, const TPackageItem& B) { return A.Name.toUtf8() < B.Name.toUtf8(); });
    return items;
}

namespace {

// The ZIP as it is written: into the file, and through the hash of the whole.
struct TPackageSink {
    QFile File;
    signature::TPrehash Hash;
    std::int64_t Size = 0;
    std::exception_ptr Error;

    static la_ssize_t Write(archive*, void* AClient, const void* AData, size_t ASize) {
        auto* sink = static_cast<TPackageSink*>(AClient);
        try {
            const auto size = static_cast<qint64>(ASize);
            if (sink->File.write(static_cast<const char*>(AData), size) != size)
                throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(sink->File.fileName(), sink->File.errorString()));
            sink->Hash.Update(static_cast<const char*>(AData), ASize);
            sink->Size += size;
            return static_cast<la_ssize_t>(ASize);
        } catch (...) {
            sink->Error = std::current_exception();
            return -1;
        }
    }
};

class TZipWriter {
public:
    explicit TZipWriter(TPackageSink& ASink) : FArchive(archive_write_new()), FSink(ASink) {
        if (!FArchive) throw Exception(QStringLiteral("Cannot make a ZIP writer (archive_write_new failed)"));
        Check(archive_write_set_format_zip(FArchive.get()));
        Check(archive_write_set_options(FArchive.get(), "zip:compression=deflate,zip:hdrcharset=UTF-8"));
        // No padding of the last block: the file ends where the ZIP does.
        Check(archive_write_set_bytes_in_last_block(FArchive.get(), 1));
        Check(archive_write_open2(FArchive.get(), &FSink, nullptr, &TPackageSink::Write, nullptr, nullptr));
    }

    // Adds AItem; for a file, returns its manifest entry.
    std::optional<signature::TManifestEntry> Add(const TPackageItem& AItem, const std::function<void(qint64)>& ARead);
    void Close() { Check(archive_write_close(FArchive.get())); }

private:
    void Check(int AResult) {
        if (AResult >= ARCHIVE_WARN) return;
        if (FSink.Error) std::rethrow_exception(FSink.Error);
        throw Exception(QStringLiteral("Cannot write the package \"%1\": %2").arg(FSink.File.fileName(), ArchiveError(FArchive.get())));
    }
    void WriteHeader(const TPackageItem& AItem);

    TWriteArchive FArchive;
    TPackageSink& FSink;
};

void TZipWriter::WriteHeader(const TPackageItem& AItem) {
    const std::unique_ptr<archive_entry, TEntryFree> entry(archive_entry_new());
    if (!entry) throw Exception(QStringLiteral("Cannot make a ZIP entry (out of memory)"));
    const QString name = AItem.Folder ? AItem.Name + u'/' : AItem.Name;
    archive_entry_update_pathname_utf8(entry.get(), name.toUtf8().constData());
    archive_entry_set_filetype(entry.get(), AItem.Folder ? AE_IFDIR : AE_IFREG);
    archive_entry_set_perm(entry.get(), static_cast<mode_t>(AItem.Mode));
    archive_entry_set_size(entry.get(), AItem.Size);
    archive_entry_set_mtime(entry.get(), EntryTime, 0);
    archive_entry_set_uid(entry.get(), 0);
    archive_entry_set_gid(entry.get(), 0);
    Check(archive_write_header(FArchive.get(), entry.get()));
}

std::optional<signature::TManifestEntry> TZipWriter::Add(const TPackageItem& AItem,
                                                         const std::function<void(qint64)>& ARead) {
    WriteHeader(AItem);
    if (AItem.Folder) return std::nullopt;
    QFile file(AItem.Path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AItem.Path, file.errorString()));
    signature::TEntryHash hash;
    std::int64_t size = 0;
    QByteArray block(ReadBlock, Qt::Uninitialized);
    for (qint64 read; (read = file.read(block.data(), ReadBlock)) > 0; size += read) {
        hash.Update(block.constData(), static_cast<std::size_t>(read));
        if (archive_write_data(FArchive.get(), block.constData(), static_cast<size_t>(read)) != read) Check(ARCHIVE_FATAL);
        ARead(read);
    }
    if (file.error() != QFile::NoError)
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AItem.Path, file.errorString()));
    if (size != AItem.Size) throw Exception(QStringLiteral("\"%1\" changed while it was packed").arg(AItem.Path));
    Check(archive_write_finish_entry(FArchive.get()));
    return signature::TManifestEntry{AItem.Name, size, hash.Final(), std::nullopt};
}

// BLAKE2b-256 of ALength bytes of AFile from AOffset.
signature::TEntryDigest SpanHash(QFile& AFile, std::int64_t AOffset, std::int64_t ALength, QByteArray& ABlock) {
    if (!AFile.seek(AOffset)) throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AFile.fileName(), AFile.errorString()));
    signature::TEntryHash hash;
    for (std::int64_t left = ALength; left > 0;) {
        const qint64 read = AFile.read(ABlock.data(), std::min<qint64>(left, ABlock.size()));
        if (read <= 0) throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AFile.fileName(), AFile.errorString()));
        hash.Update(ABlock.constData(), static_cast<std::size_t>(read));
        left -= read;
    }
    return hash.Final();
}

install::TZipDirectory ReadDirectory(const QString& AZipFile) {
    try {
        return install::ReadZipDirectory(AZipFile);
    } catch (const install::EMalformedZip& error) {
        throw Exception(QStringLiteral("Cannot read the directory of \"%1\": %2").arg(AZipFile, error.Message()));
    }
}

// Each file's place in the package, as the ZIP written says it, so that a client can fetch a
// changed file alone; the mode is the one packed, which only the central directory holds.
void AddSpans(std::vector<signature::TManifestEntry>& AEntries, const std::vector<TPackageItem>& AItems,
              const QString& AZipFile) {
    const install::TZipDirectory directory = ReadDirectory(AZipFile);
    QHash<QString, int> modes;
    for (const TPackageItem& item : AItems) modes.insert(item.Folder ? item.Name + u'/' : item.Name, item.Mode);
    QFile file(AZipFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AZipFile, file.errorString()));
    QByteArray block(ReadBlock, Qt::Uninitialized);
    for (signature::TManifestEntry& entry : AEntries) {
        const QByteArray name = entry.Name.toUtf8();
        if (!directory.Knows(name))
            throw Exception(QStringLiteral("\"%1\" does not list %2 in its directory").arg(AZipFile, entry.Name));
        const install::TZipEntry& place = directory.Entries[static_cast<std::size_t>(directory.Index.value(name))];
        entry.Span = signature::TManifestSpan{place.LocalHeaderOffset,
                                              place.SpanLength,
                                              SpanHash(file, place.LocalHeaderOffset, place.SpanLength, block),
                                              place.Crc,
                                              place.CompressedSize,
                                              modes.value(entry.Name)};
    }
}

} // namespace

TPackageFacts WritePackage(const std::vector<TPackageItem>& AItems, const QString& AZipFile,
                           const TProgress& AProgress) {
    TPackageSink sink;
    sink.File.setFileName(AZipFile);
    if (!sink.File.open(QIODevice::NewOnly))
        throw Exception(QStringLiteral("Cannot create \"%1\": %2").arg(AZipFile, sink.File.errorString()));
    std::int64_t total = 0;
    for (const TPackageItem& item : AItems) total += item.Size;
    std::int64_t done = 0;
    const QString step = QStringLiteral("Packing %1").arg(QFileInfo(AZipFile).fileName());
    const auto read = [&](qint64 ARead) { AProgress(step, done += ARead, total); };
    TPackageFacts facts;
    {
        TZipWriter writer(sink);
        for (const TPackageItem& item : AItems)
            if (auto entry = writer.Add(item, read)) facts.Entries.push_back(std::move(*entry));
        writer.Close();
    }
    if (!sink.File.flush()) throw Exception(QStringLiteral("Cannot write \"%1\": %2").arg(AZipFile, sink.File.errorString()));
    sink.File.close();
    for (const TPackageItem& item : AItems)
        if (item.Folder) facts.Folders.push_back({item.Name + u'/', 0, {}, std::nullopt});
    AddSpans(facts.Entries, AItems, AZipFile);
    AddSpans(facts.Folders, AItems, AZipFile);
    AProgress(step, total, total);
    facts.Size = sink.Size;
    facts.Hash = sink.Hash.Final();
    return facts;
}

QStringList MisplacedEntries(const std::vector<signature::TManifestEntry>& AEntries, const QString& AZipFile) {
    const install::TZipDirectory directory = ReadDirectory(AZipFile);
    QFile file(AZipFile);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AZipFile, file.errorString()));
    QByteArray block(ReadBlock, Qt::Uninitialized);
    QStringList misplaced;
    for (const signature::TManifestEntry& entry : AEntries) {
        if (!entry.Span) continue;
        const QByteArray name = entry.Name.toUtf8();
        const signature::TManifestSpan& span = *entry.Span;
        const install::TZipEntry* place =
            directory.Knows(name) ? &directory.Entries[static_cast<std::size_t>(directory.Index.value(name))] : nullptr;
        if (place == nullptr || place->LocalHeaderOffset != span.Offset || place->SpanLength != span.Length ||
            place->Crc != span.Crc || place->CompressedSize != span.CompressedSize ||
            SpanHash(file, span.Offset, span.Length, block) != span.Hash)
            misplaced << entry.Name;
    }
    return misplaced;
}

namespace {

struct TPackageSource {
    QFile File;
    QByteArray Block{ReadBlock, Qt::Uninitialized};

    static la_ssize_t Read(archive*, void* AClient, const void** ABuffer) {
        auto* source = static_cast<TPackageSource*>(AClient);
        *ABuffer = source->Block.constData();
        return static_cast<la_ssize_t>(source->File.read(source->Block.data(), source->Block.size()));
    }
};

signature::TManifestEntry ReadEntry(archive* AArchive, const QString& AName, const QString& AZipFile) {
    signature::TEntryHash hash;
    std::int64_t size = 0;
    const void* data = nullptr;
    size_t length = 0;
    la_int64_t offset = 0;
    int result = ARCHIVE_OK;
    while ((result = archive_read_data_block(AArchive, &data, &length, &offset)) == ARCHIVE_OK) {
        hash.Update(static_cast<const char*>(data), length);
        size += static_cast<std::int64_t>(length);
    }
    if (result != ARCHIVE_EOF)
        throw Exception(QStringLiteral("Cannot read %1 in \"%2\": %3").arg(AName, AZipFile, ArchiveError(AArchive)));
    return {AName, size, hash.Final(), std::nullopt};
}

} // namespace

std::vector<signature::TManifestEntry> ReadPackageEntries(const QString& AZipFile) {
    TPackageSource source;
    source.File.setFileName(AZipFile);
    if (!source.File.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AZipFile, source.File.errorString()));
    const TReadArchive reader(archive_read_new());
    if (!reader) throw Exception(QStringLiteral("Cannot make a ZIP reader (archive_read_new failed)"));
    archive_read_support_format_zip(reader.get());
    if (archive_read_open(reader.get(), &source, nullptr, &TPackageSource::Read, nullptr) != ARCHIVE_OK)
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AZipFile, ArchiveError(reader.get())));
    std::vector<signature::TManifestEntry> entries;
    archive_entry* entry = nullptr;
    int result = ARCHIVE_OK;
    while ((result = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK) {
        if (archive_entry_filetype(entry) != AE_IFREG) continue;
        const char* name = archive_entry_pathname_utf8(entry);
        entries.push_back(ReadEntry(reader.get(), QString::fromUtf8(name != nullptr ? name : ""), AZipFile));
    }
    if (result != ARCHIVE_EOF)
        throw Exception(QStringLiteral("Cannot read \"%1\": %2").arg(AZipFile, ArchiveError(reader.get())));
    return entries;
}

} // namespace zlt::publish
