#pragma once

#include "platform/Component.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace zlt {

// One entry of the archive as the confirmations see it.
struct TZLTZipItem {
    QString FileName; // the stored path, '/'-separated
    bool IsDirectory = false;
    std::int64_t UncompressedSize = 0;
};

enum class TZLTProcessType : std::uint8_t { ptExtract };

// A ZIP reader over libarchive: the archive type is always ZIP, never detected. Extraction
// restores the stored relative paths below BaseDirectory and creates folders; it never writes
// outside BaseDirectory (absolute paths, ".." and links that lead out are refused). Each file
// is written beside its place and renamed into it, so a file is either old or new, never cut;
// stored permission bits are restored. An entry that fails is skipped and the rest go on.
class TZLTUnZipper : public TComponent {
public:
    explicit TZLTUnZipper(QObject* AOwner);
    ~TZLTUnZipper() override;

    bool CreateDirs = false;  // create missing folders
    bool RestorePath = false; // keep the stored relative paths
    QString BaseDirectory;

    // Opens AFileName as a ZIP archive. Throws Exception when it is missing, empty or no
    // readable ZIP archive.
    void Open(const QString& AFileName);
    void Close();
    bool IsOpen() const;

    // Extracts every entry matching AMask ("*": all). Throws Exception only when the archive
    // itself fails so badly that nothing further can be read; single entries are skipped.
    void ExtractFiles(const QString& AMask);

    // After each entry and at the end (100): the share of entries done.
    std::function<void(TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort)> OnArchiveProgress;
    // Before a file is replaced.
    std::function<void(TZLTUnZipper* Sender, QString& Name, bool& Confirm)> OnConfirmOverwrite;
    // Before each entry.
    std::function<void(TZLTUnZipper* Sender, const TZLTZipItem& Item, TZLTProcessType ProcessType,
                       bool& Confirm)>
        OnConfirmProcessItem;

    // The entries of the last extraction that were skipped, each with the reason.
    const QStringList& SkippedEntries() const { return FSkipped; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QStringList FSkipped;
};

} // namespace zlt
