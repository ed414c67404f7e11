#include "tests/install/ArchiveTools.h"

#include "platform/Files.h"
#include "tests/support/TestSupport.h"

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace zlt::test {

namespace {

struct TReaderFree {
    void operator()(archive* AArchive) const { archive_read_free(AArchive); }
};
struct TWriterFree {
    void operator()(archive* AArchive) const { archive_write_free(AArchive); }
};
struct TEntryFree {
    void operator()(archive_entry* AEntry) const { archive_entry_free(AEntry); }
};
using TReader = std::unique_ptr<archive, TReaderFree>;
using TWriter = std::unique_ptr<archive, TWriterFree>;

QString ErrorText(archive* AArchive) {
    const char* text = archive_error_string(AArchive);
    return text != nullptr ? QString::fromLocal8Bit(text) : QStringLiteral("unknown libarchive error");
}

} // namespace

QString WriteOtherArchive(const QString& AFile, const char* AFormat, const QByteArray& AName, const QByteArray& AData) {
    const TWriter writer(archive_write_new());
    const std::unique_ptr<archive_entry, TEntryFree> entry(archive_entry_new());
    if (!writer || !entry) return QStringLiteral("out of memory");
    // Room for the data and any format's headers.
    QByteArray buffer(AData.size() + 65536, '\0');
    size_t used = 0;
    archive_entry_copy_pathname(entry.get(), AName.constData());
    archive_entry_set_filetype(entry.get(), AE_IFREG);
    archive_entry_set_perm(entry.get(), 0644);
    archive_entry_set_size(entry.get(), AData.size());
    if (archive_write_set_format_by_name(writer.get(), AFormat) != ARCHIVE_OK ||
        archive_write_open_memory(writer.get(), buffer.data(), static_cast<size_t>(buffer.size()), &used) !=
            ARCHIVE_OK ||
        archive_write_header(writer.get(), entry.get()) != ARCHIVE_OK ||
        archive_write_data(writer.get(), AData.constData(), static_cast<size_t>(AData.size())) != AData.size() ||
        archive_write_close(writer.get()) != ARCHIVE_OK)
        return ErrorText(writer.get());
    WriteFile(AFile, buffer.left(static_cast<qsizetype>(used)));
    return {};
}

QStringList ExtractWithoutGuard(const QString& AZip, const QString& AFolder) {
    const QByteArray zip = ReadFile(AZip);
    // Entered first, left last: the writer sets the folders' modes and times at its close,
    // on paths relative to the working folder.
    const platform::TWorkingFolder cwd(AFolder);
    const TReader reader(archive_read_new());
    const TWriter writer(archive_write_disk_new());
    if (!reader || !writer) return {QStringLiteral("out of memory")};
    if (archive_read_support_format_zip_seekable(reader.get()) != ARCHIVE_OK ||
        archive_read_open_memory(reader.get(), zip.constData(), static_cast<size_t>(zip.size())) != ARCHIVE_OK ||
        archive_write_disk_set_options(writer.get(), 0) != ARCHIVE_OK)
        return {ErrorText(reader.get())};
    QStringList failures;
    archive_entry* entry = nullptr;
    for (;;) {
        const int result = archive_read_next_header(reader.get(), &entry);
        if (result == ARCHIVE_EOF) break;
        if (result == ARCHIVE_FATAL) {
            failures << ErrorText(reader.get());
            break;
        }
        if (archive_read_extract2(reader.get(), entry, writer.get()) != ARCHIVE_OK)
            failures << QString::fromUtf8(archive_entry_pathname(entry)) + QStringLiteral(": ") +
                            ErrorText(writer.get());
    }
    archive_write_close(writer.get());
    return failures;
}

} // namespace zlt::test
