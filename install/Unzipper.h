#pragma once

#include "common/Component.h"
#include "common/Errors.h"
#include "install/Staging.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace zlt::install {

// One entry of the archive as the confirmations see it.
struct TZLTZipItem {
    QString FileName; // the stored path, '/'-separated, its name decoded (see TZLTUnZipper)
    bool IsDirectory = false;
    std::int64_t UncompressedSize = 0;
};

enum class TZLTProcessType : std::uint8_t { ptExtract };

// The package's files, as their sizes are declared, do not fit on the target disk. Raised by
// ExtractFiles before anything is written.
class ENotEnoughSpace : public Exception {
public:
    ENotEnoughSpace(const QString& AMessage, std::int64_t ANeeded, std::int64_t AAvailable)
        : Exception(AMessage), FNeeded(ANeeded), FAvailable(AAvailable) {}
    std::int64_t Needed() const noexcept { return FNeeded; }       // bytes
    std::int64_t Available() const noexcept { return FAvailable; } // bytes free on the disk

private:
    std::int64_t FNeeded;
    std::int64_t FAvailable;
};

// A ZIP reader over libarchive: the archive type is always ZIP, never detected. Extraction
// restores the stored relative paths below BaseDirectory and creates folders; it never writes
// outside BaseDirectory (absolute paths, ".." and links that lead out are refused, and nothing
// is written through a link). It installs all or nothing: every file and link is first written
// beside its place under a temporary name, and only when every entry was read without error,
// checksums included, a commit through a journal in BaseDirectory's Updates/ puts them in
// place (see TStaging). An entry that fails, or a kill or power cut at any moment, leaves
// BaseDirectory as it was, once the journal is applied (RecoverInstallation; the next
// extraction does it first). Stored permission bits are restored without the setuid, setgid,
// sticky and world-write bits; entries made on Windows, which store none, keep the mode of the
// file they replace; owners are not restored. Folders that exist keep their permissions. Used
// on one thread: while ExtractFiles runs, the process's working directory is BaseDirectory
// (libarchive's checks need it), except inside the handlers.
// Stored names are decoded as their makers meant them, on every system alike: a name marked
// UTF-8 is UTF-8; an unmarked name made on Unix is UTF-8 when its bytes are; any other is in
// the OEM code page (the system's on Windows, 850 elsewhere), as Windows' own tools store it.
// Every path reaches the system in its own form (UTF-16 on Windows), and a path is refused as
// too long only where the system would refuse it.
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
    // The commit keeps the replaced files for a verdict on the new version (see
    // TStaging::KeepReplaced and FinishInstallation) instead of removing them.
    bool KeepReplaced = false;

    // Opens AFileName as a ZIP archive and counts its entries and their declared sizes (from
    // the central directory). An archive without entries opens as one. Throws Exception, with
    // the cause, when it is missing, empty or no readable ZIP archive (an error page, a cut
    // download, a tar or 7z file), and when its structure can't be trusted as a whole (see
    // ReadZipDirectory: a directory that disagrees with the local headers, overlapping or
    // hidden entries, a second end record, a download spliced from two files), or two of its
    // entries name the same file: such a package is refused before anything is written.
    void Open(const QString& AFileName);
    void Close();
    bool IsOpen() const;

    // Installs every entry matching AMask ("*": all; a shell pattern on the stored path).
    // Throws ENotEnoughSpace, before anything is written, when the declared sizes and a margin
    // exceed the free space of BaseDirectory's disk (staging keeps old and new side by side,
    // and the margin holds what the largest file needs twice). Throws Exception when no archive
    // is open or BaseDirectory is missing (and CreateDirs is off). Throws EInstallationUndone,
    // with the folder as it was, when any entry fails: it cannot be written, it is damaged, its
    // path leads out or is too long, it holds more data than it declares, its kind is not
    // supported, the archive cannot be read further, or the progress handler asks to stop; also
    // when an old file cannot be moved aside at the commit. Entries that a handler declines are
    // no failure.
    void ExtractFiles(const QString& AMask);

    // After each entry and at the end (100, once the new files are in place): the share of
    // entries done. Setting Abort before the end undoes the installation.
    std::function<void(TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort)> OnArchiveProgress;
    // Before an existing file (or link) is replaced; Name is its full path (changing it has no
    // effect). Confirm starts true; false keeps the old file.
    std::function<void(TZLTUnZipper* Sender, QString& Name, bool& Confirm)> OnConfirmOverwrite;
    // Before each entry that matches the mask. Confirm starts true; false passes the entry over.
    std::function<void(TZLTUnZipper* Sender, const TZLTZipItem& Item, TZLTProcessType ProcessType, bool& Confirm)>
        OnConfirmProcessItem;

    // What the last extraction did.
    struct TCounts {
        int Extracted = 0; // entries installed: files, links and folders
        int Replaced = 0;  // files and links that took the place of an old one
        int Added = 0;     // files and links where none stood
        int InUse = 0;     // old files still in use, removed by a later run
    };
    const TCounts& Counts() const { return FCounts; }
    int ExtractedEntries() const { return FCounts.Extracted; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    TCounts FCounts;
};

} // namespace zlt::install
