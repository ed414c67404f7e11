#pragma once

#include "common/Component.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace zlt::install {

// One entry of the archive as the confirmations see it.
struct TZLTZipItem {
    QString FileName; // the stored path, '/'-separated
    bool IsDirectory = false;
    std::int64_t UncompressedSize = 0;
};

enum class TZLTProcessType : std::uint8_t { ptExtract };

// A ZIP reader over libarchive: the archive type is always ZIP, never detected. Extraction
// restores the stored relative paths below BaseDirectory and creates folders; it never writes
// outside BaseDirectory (absolute paths, ".." and links that lead out are refused, and nothing
// is written through a link). Each file is written beside its place and renamed into it only
// when its data was read without error, checksum included, so a file is either old or new,
// never cut, and a damaged entry never replaces a good file. Stored permission bits are
// restored (setuid and setgid excepted); owners are not. An entry that fails is skipped and
// the rest go on. Used on one thread: while ExtractFiles runs, the process's working directory
// is BaseDirectory (libarchive's checks need it), except inside the handlers.
class TZLTUnZipper : public TComponent {
public:
    explicit TZLTUnZipper(QObject* AOwner);
    ~TZLTUnZipper() override;

    bool CreateDirs = false;  // create missing folders
    bool RestorePath = false; // keep the stored relative paths
    QString BaseDirectory;

    // Opens AFileName as a ZIP archive and counts its entries (from the central directory).
    // Throws Exception when it is missing, empty or no readable ZIP archive (an error page, a
    // cut download, a tar or 7z file).
    void Open(const QString& AFileName);
    void Close();
    bool IsOpen() const;

    // Extracts every entry matching AMask ("*": all; a shell pattern on the stored path).
    // Throws Exception when no archive is open, when BaseDirectory is missing (and CreateDirs
    // is off), or when the archive fails so badly that nothing further can be read (libarchive's
    // FATAL, e.g. a broken deflate stream); the entries before stay extracted. Single entries
    // that fail are skipped and listed in SkippedEntries.
    void ExtractFiles(const QString& AMask);

    // After each entry and at the end (100): the share of entries done. Setting Abort stops
    // the extraction after the current entry, without the final 100.
    std::function<void(TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort)> OnArchiveProgress;
    // Before an existing file (or link) is replaced; Name is its full path (changing it has no
    // effect). Confirm starts true; false keeps the old file.
    std::function<void(TZLTUnZipper* Sender, QString& Name, bool& Confirm)> OnConfirmOverwrite;
    // Before each entry that matches the mask. Confirm starts true; false passes the entry over.
    std::function<void(TZLTUnZipper* Sender, const TZLTZipItem& Item, TZLTProcessType ProcessType,
                       bool& Confirm)>
        OnConfirmProcessItem;

    // The entries of the last extraction that failed, each as "stored name: reason". Entries
    // that a handler declined are not listed.
    const QStringList& SkippedEntries() const { return FSkipped; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QStringList FSkipped;
};

} // namespace zlt::install
