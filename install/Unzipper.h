#pragma once

#include "common/Component.h"
#include "common/Errors.h"

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

// The package's files, as their sizes are declared, do not fit on the target disk. Raised by
// ExtractFiles before anything is written.
class ENotEnoughSpace : public Exception {
public:
    using Exception::Exception;
};

// A ZIP reader over libarchive: the archive type is always ZIP, never detected. Extraction
// restores the stored relative paths below BaseDirectory and creates folders; it never writes
// outside BaseDirectory (absolute paths, ".." and links that lead out are refused, and nothing
// is written through a link). Each file is written beside its place and renamed into it only
// when its data was read without error, checksum included, so a file is either old or new,
// never cut, and a damaged entry never replaces a good file. Stored permission bits are
// restored without the setuid, setgid, sticky and world-write bits; entries made on Windows,
// which store none, keep the mode of the file they replace; owners are not restored. An entry
// that fails is skipped and the rest go on. Used on one thread: while ExtractFiles runs, the process's working directory
// is BaseDirectory (libarchive's checks need it), except inside the handlers.
class TZLTUnZipper : public TComponent {
public:
    explicit TZLTUnZipper(QObject* AOwner);
    ~TZLTUnZipper() override;

    bool CreateDirs = false;  // create missing folders
    bool RestorePath = false; // keep the stored relative paths
    QString BaseDirectory;
    // The stored path of the program that the package updates ("acme", "bin/acme"): a new
    // file of that path that stores no mode of its own is made executable.
    QString ProgramName;

    // Opens AFileName as a ZIP archive and counts its entries and their declared sizes (from
    // the central directory). An archive without entries opens as one. Throws Exception when
    // it is missing, empty or no readable ZIP archive (an error page, a cut download, a tar or
    // 7z file).
    void Open(const QString& AFileName);
    void Close();
    bool IsOpen() const;

    // Extracts every entry matching AMask ("*": all; a shell pattern on the stored path).
    // Throws ENotEnoughSpace, before anything is written, when the declared sizes and a margin
    // exceed the free space of BaseDirectory's disk. Throws Exception when no archive is open,
    // when BaseDirectory is missing (and CreateDirs is off), or when the archive fails so badly
    // that nothing further can be read (libarchive's FATAL, e.g. a broken deflate stream); the
    // entries before stay extracted. Single entries that fail are skipped and listed in
    // SkippedEntries, among them an entry that holds more data than it declares.
    void ExtractFiles(const QString& AMask);

    // After each entry and at the end (100): the share of entries done. Setting Abort stops
    // the extraction after the current entry, without the final 100.
    std::function<void(TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort)> OnArchiveProgress;
    // Before an existing file (or link) is replaced; Name is its full path (changing it has no
    // effect). Confirm starts true; false keeps the old file.
    std::function<void(TZLTUnZipper* Sender, QString& Name, bool& Confirm)> OnConfirmOverwrite;
    // Before each entry that matches the mask. Confirm starts true; false passes the entry over.
    std::function<void(TZLTUnZipper* Sender, const TZLTZipItem& Item, TZLTProcessType ProcessType, bool& Confirm)>
        OnConfirmProcessItem;

    // The entries of the last extraction that failed, each as "stored name: reason". Entries
    // that a handler declined are not listed.
    const QStringList& SkippedEntries() const { return FSkipped; }
    // How many entries (files, links, folders) the last extraction wrote.
    int ExtractedEntries() const { return FExtracted; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QStringList FSkipped;
    int FExtracted = 0;
};

// Removes the temporary files that an extraction into AFolder left behind when it was killed
// (their names are reserved: ".zlt-<hex>.tmp"), in AFolder and below, without following
// links. Returns how many went.
int RemoveStaleTemporaries(const QString& AFolder);

} // namespace zlt::install
