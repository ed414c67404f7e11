#include "install/Unzipper.h"

#include "install/NativePath.h"
#include "install/Staging.h"
#include "install/ZipDirectory.h"

#include "common/Errors.h"
#include "platform/AnsiCodePage.h"
#include "platform/Files.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>
#include <QStringDecoder>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>

namespace zlt::install {

namespace {

namespace fs = std::filesystem;

// Large enough that a stored entry of some megabytes costs few reads; the seekable ZIP reader
// moves forward inside this buffer from one small entry to the next without a system call.
constexpr std::size_t ReadBlockSize = 256 * 1024;

// Owns one archive handle (reader or disk writer) and frees it once. Move-only.
template <int (*Free)(archive*)>
class TArchiveHandle {
public:
    TArchiveHandle(archive* AHandle, const char* AWhat) : FHandle(AHandle) {
        if (FHandle == nullptr)
            throw Exception(QStringLiteral("libarchive could not create %1 (out of memory)").arg(QLatin1String(AWhat)));
    }
    TArchiveHandle(TArchiveHandle&& AOther) noexcept : FHandle(std::exchange(AOther.FHandle, nullptr)) {}
    TArchiveHandle& operator=(TArchiveHandle&& AOther) noexcept {
        if (this != &AOther) {
            Reset();
            FHandle = std::exchange(AOther.FHandle, nullptr);
        }
        return *this;
    }
    TArchiveHandle(const TArchiveHandle&) = delete;
    TArchiveHandle& operator=(const TArchiveHandle&) = delete;
    ~TArchiveHandle() { Reset(); }

    archive* Get() const noexcept { return FHandle; }
    // Gives the handle up unfreed, for when freeing it would do harm.
    void Abandon() noexcept { FHandle = nullptr; }
    void Release() noexcept { Reset(); }

private:
    void Reset() noexcept {
        if (FHandle != nullptr) Free(FHandle);
        FHandle = nullptr;
    }
    archive* FHandle = nullptr;
};

using TArchiveReader = TArchiveHandle<archive_read_free>;
using TArchiveDiskWriter = TArchiveHandle<archive_write_free>;

struct TEntryDeleter {
    void operator()(archive_entry* AEntry) const noexcept { archive_entry_free(AEntry); }
};
using TEntryClone = std::unique_ptr<archive_entry, TEntryDeleter>;

QString ErrorText(archive* AArchive) {
    const char* text = archive_error_string(AArchive);
    return text != nullptr ? QString::fromLocal8Bit(text) : QStringLiteral("unknown libarchive error");
}

// Opens the file in the system's form of its name: libarchive would turn bytes into a Windows
// name through the ANSI code page, which holds few of the names a folder may have. Where the
// names are UTF-16, the names that an entry stores without the UTF-8 mark are handed over as
// Latin-1, which keeps every byte as it is stored (StoredName takes them back). That is also
// what libarchive does by itself in the C library's default locale, which this program keeps,
// so a system without the Latin-1 code page loses nothing by the option's failure.
template <typename TChar>
int OpenArchiveFile(archive* AReader, const std::basic_string<TChar>& APath) {
    if constexpr (std::is_same_v<TChar, wchar_t>) {
        archive_read_set_format_option(AReader, "zip", "hdrcharset", "ISO-8859-1");
        return archive_read_open_filename_w(AReader, APath.c_str(), ReadBlockSize);
    } else {
        return archive_read_open_filename(AReader, APath.c_str(), ReadBlockSize);
    }
}

// A reader of the ZIP format only: a tar or 7z file, or an error page saved as the package, is
// refused at opening instead of being unpacked as whatever it happens to be.
TArchiveReader OpenZipReader(const QString& AFileName) {
    TArchiveReader reader(archive_read_new(), "an archive reader");
    if (archive_read_support_format_zip_seekable(reader.Get()) != ARCHIVE_OK)
        throw Exception(QStringLiteral("The ZIP reader is not available: %1").arg(ErrorText(reader.Get())));
    if (OpenArchiveFile(reader.Get(), platform::FileSystemPath(AFileName).native()) != ARCHIVE_OK)
        throw Exception(QStringLiteral("\"%1\" is not a readable ZIP archive: %2")
                            .arg(QDir::toNativeSeparators(AFileName), ErrorText(reader.Get())));
    return reader;
}

// The bytes of an entry's name as the archive stores them. Where the system's names are bytes,
// libarchive hands them over unchanged; where they are UTF-16, it decodes the names marked
// UTF-8 as UTF-8 and the others as Latin-1 (OpenArchiveFile), and the archive's directory
// tells which of the two a name was.
template <typename TChar>
QByteArray StoredName(archive_entry* AEntry, const TZipDirectory& ADirectory) {
    if constexpr (std::is_same_v<TChar, wchar_t>) {
        const wchar_t* wide = archive_entry_pathname_w(AEntry);
        if (wide == nullptr) return {};
        const QString text = QString::fromWCharArray(wide);
        const QByteArray asUtf8 = text.toUtf8();
        if (std::any_of(text.begin(), text.end(), [](QChar ACharacter) { return ACharacter.unicode() > 0xFF; }))
            return asUtf8;
        const QByteArray asBytes = text.toLatin1();
        if (ADirectory.Knows(asUtf8) && (ADirectory.IsUtf8(asUtf8) || !ADirectory.Knows(asBytes))) return asUtf8;
        return asBytes;
    } else {
        const char* raw = archive_entry_pathname(AEntry);
        return raw != nullptr ? QByteArray(raw) : QByteArray();
    }
}

bool ValidUtf8(const QByteArray& ABytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(ABytes);
    return !decoder.hasError();
}

// The name that stored bytes stand for. The UTF-8 mark says UTF-8. Without it, a name made on
// a Unix system is UTF-8 when its bytes are (systems of today name files so, and Info-ZIP
// stores them so); any other name is in the OEM code page, as Windows' own "compressed folder"
// and the tools of its time store names. A name the directory does not know (libarchive took
// it from an extra field) is taken as UTF-8 when it can be.
QString DecodedName(const QByteArray& AStored, const TZipDirectory& ADirectory) {
    if (ADirectory.IsUtf8(AStored)) return QString::fromUtf8(AStored);
    const bool unixMade = !ADirectory.Knows(AStored) || ADirectory.HasUnixMode(AStored);
    if (unixMade && ValidUtf8(AStored)) return QString::fromUtf8(AStored);
    return platform::FromOemCodePage(AStored);
}

// Whether a stored path, taken as this system reads paths, is absolute, names a drive, or
// climbs with "..": on Windows "/x" and "\\x" mean the current drive's root, and "\\" is
// a separator as much as "/".
bool LeavesTheFolder(const fs::path& APath) {
    if (APath.has_root_name() || APath.has_root_directory()) return true;
    for (const fs::path& part : APath)
        if (part == "..") return true;
    return false;
}

// An entry's name for the disk writer, in the system's form of a path: libarchive would turn
// bytes into a Windows name through the ANSI code page.
template <typename TChar>
void SetEntryPath(archive_entry* AEntry, const std::basic_string<TChar>& APath) {
    if constexpr (std::is_same_v<TChar, wchar_t>)
        archive_entry_copy_pathname_w(AEntry, APath.c_str());
    else
        archive_entry_copy_pathname(AEntry, APath.c_str());
}

// Runs a handler in the process's own working directory, not in the base folder. The
// extraction goes back into the base folder only when it writes again, so that the handlers
// that follow one another (the progress of one entry, the questions about the next) cost no
// switches between them.
template <typename THandler, typename... TArgs>
void CallHandler(platform::TWorkingFolder& ACwd, const THandler& AHandler, TArgs&&... AArgs) {
    ACwd.Leave();
    AHandler(std::forward<TArgs>(AArgs)...);
}

// True when a symbolic link stored at ALinkPath (relative to the base folder) with the target
// ARawTarget resolves inside the base folder. Only leading ".." components are accepted: a ".."
// after a name could climb out through a link that the name itself is.
bool LinkStaysInside(const QByteArray& ALinkPath, const QByteArray& ARawTarget) {
    // Read in either system's spelling: '\' separates too, and a drive ("C:/"), a server
    // ("//host/share") or a stream (":") makes a target that no relative walk describes.
    QByteArray target = ARawTarget;
    target.replace('\\', '/');
    if (target.isEmpty() || target.startsWith('/') || target.contains(':')) return false;
    qsizetype depth = 0;
    const QList<QByteArray> linkParts = ALinkPath.split('/');
    for (qsizetype i = 0; i + 1 < linkParts.size(); ++i) {
        const QByteArray& part = linkParts[i];
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") return false;
        ++depth;
    }
    bool leading = true;
    for (const QByteArray& part : target.split('/')) {
        if (part.isEmpty() || part == ".") continue;
        if (part == "..") {
            if (!leading || depth == 0) return false;
            --depth;
        } else {
            leading = false;
        }
    }
    return true;
}

QByteArray LastComponent(const QByteArray& APath) {
    QByteArray path = APath;
    while (path.endsWith('/')) path.chop(1);
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? path : path.mid(slash + 1);
}

// The program's path as the entries' paths are written: '/'-separated, without a leading
// "./", in UTF-8.
QByteArray ProgramPath(const QString& AProgramName) {
    QString path = QDir::fromNativeSeparators(AProgramName);
    while (path.startsWith(QLatin1String("./"))) path.remove(0, 2);
    return path.toUtf8();
}

// Room kept free beside the declared sizes: folders, file system overhead, the temporary
// copy of the largest file.
std::int64_t SpaceMargin(std::int64_t ADeclared) { return ADeclared / 100 + (std::int64_t{16} << 20); }

constexpr int ExtractFlags = ARCHIVE_EXTRACT_SECURE_NODOTDOT | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                             ARCHIVE_EXTRACT_SECURE_NOABSOLUTEPATHS | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME;

// One run of ExtractFiles: the reader, the disk writer and the working directory they share.
class TExtraction {
public:
    TExtraction(TZLTUnZipper& AOwner, TZLTUnZipper::TCounts& ACounts, const QString& AArchive, const QString& ABase,
                const TZipDirectory& ADirectory, std::int64_t ADeclaredBytes)
        : FOwner(AOwner), FCounts(ACounts), FBase(ABase), FBasePath(platform::FileSystemPath(ABase)),
          FUnwritten(ADeclaredBytes), FDirectory(ADirectory), FProgramPath(ProgramPath(AOwner.ProgramName)),
          FArchivePath(platform::FileSystemPath(AArchive)),
          FJournalPath(platform::FileSystemPath(JournalFileName(ABase))), FStaging(ABase),
          FReader(OpenZipReader(AArchive)), FCwd(ABase), FWriter(archive_write_disk_new(), "a disk writer"),
          FFlags(ExtractFlags | (AOwner.CreateDirs ? 0 : ARCHIVE_EXTRACT_NO_AUTODIR)) {}
    TExtraction(const TExtraction&) = delete;
    TExtraction& operator=(const TExtraction&) = delete;
    // The writer's last act (folder permissions and times) works on paths relative to the base
    // folder: it must not happen anywhere else, even if that means leaving it undone.
    ~TExtraction() {
        try {
            FCwd.Enter();
        } catch (...) {
            FWriter.Abandon();
        }
    }

    // Stages the entries matching AMask, then commits them; AEntryCount is the total for the
    // progress share. Any failure undoes everything and throws EInstallationUndone.
    void Run(const QString& AMask, std::int64_t AEntryCount) {
        try {
            Stage(AMask, AEntryCount);
        } catch (const EInstallationUndone& failure) {
            throw Undone(failure.File(), failure.Cause());
        } catch (const Exception& failure) {
            throw Undone(FCurrent, failure.Message());
        }
        if (FOwner.KeepReplaced) FStaging.KeepReplaced();
        const TStaging::TCommitted committed = FStaging.Commit();
        FCounts.Replaced = committed.Replaced;
        FCounts.Added = committed.Added;
        FCounts.InUse = committed.InUse;
        bool abort = false;
        Progress(100, abort); // too late to stop: the new version is in place
    }

private:
    void Stage(const QString& AMask, std::int64_t AEntryCount) {
        std::int64_t done = 0;
        bool abort = false;
        archive_entry* entry = nullptr;
        for (;;) {
            const int result = archive_read_next_header(FReader.Get(), &entry);
            if (result == ARCHIVE_EOF) break;
            if (result == ARCHIVE_FATAL) Stop(FReader.Get());
            ExtractEntry(entry, result, AMask);
            ++done;
            const std::int64_t share = AEntryCount > 0 ? done * 100 / AEntryCount : 100;
            Progress(static_cast<std::uint8_t>(share < 100 ? share : 100), abort);
            if (abort) Fail(FCurrent, QStringLiteral("the installation was stopped by its progress handler"));
        }
        FCwd.Enter();
        if (archive_write_close(FWriter.Get()) < ARCHIVE_WARN)
            Fail(QStringLiteral("(folder attributes)"), ErrorText(FWriter.Get()));
    }

    // The failure, once everything the staging made is gone: the writer goes first, so that
    // none of its files is open and its last act (folder attributes) is done.
    EInstallationUndone Undone(const QString& AFile, QString ACause) {
        try {
            FCwd.Enter();
        } catch (...) {
            FWriter.Abandon();
        }
        FWriter.Release();
        const QStringList problems = FStaging.Undo();
        if (!problems.isEmpty()) ACause += QStringLiteral("; not put back: ") + problems.join(QStringLiteral("; "));
        return EInstallationUndone(AFile, ACause);
    }

    [[noreturn]] void Stop(archive* AArchive) const {
        throw EInstallationUndone(FCurrent,
                                  QStringLiteral("the archive cannot be read further: %1").arg(ErrorText(AArchive)));
    }

    [[noreturn]] static void Fail(const QString& AName, const QString& AReason) {
        throw EInstallationUndone(AName, AReason);
    }

    // False when the writer refused the step (the entry is skipped); throws when it cannot go on.
    bool Written(int AResult) {
        if (AResult == ARCHIVE_FATAL) Stop(FWriter.Get());
        return AResult >= ARCHIVE_WARN;
    }

    void Progress(std::uint8_t AShare, bool& AAbort) {
        if (FOwner.OnArchiveProgress) CallHandler(FCwd, FOwner.OnArchiveProgress, &FOwner, AShare, AAbort);
    }

    // The entry's name: the bytes the archive stores, the name they stand for (as the handlers
    // and the record of a failure show it), and that name in UTF-8, the form of every path of
    // the staging and its journal.
    struct TEntryName {
        QByteArray Stored;
        QString Shown;
        QByteArray Path;
    };

    TEntryName EntryName(archive_entry* AEntry) const {
        const QByteArray stored = StoredName<fs::path::value_type>(AEntry, FDirectory);
        const QString shown = DecodedName(stored, FDirectory);
        return {stored, shown, shown.toUtf8()};
    }

    void ExtractEntry(archive_entry* AEntry, int AHeaderResult, const QString& AMask) {
        const TEntryName name = EntryName(AEntry);
        FCurrent = name.Shown;
        if (AHeaderResult == ARCHIVE_FAILED) Fail(name.Shown, ErrorText(FReader.Get()));
        if (name.Path.isEmpty()) Fail(name.Shown, QStringLiteral("the entry has no name"));
        if (!platform::MatchesWildcard(AMask, name.Shown) || !Confirmed(AEntry, name.Shown)) return;

        const unsigned type = archive_entry_filetype(AEntry);
        const QByteArray targetPath = TargetPath(name.Path);
        TEntryClone target = TargetEntry(AEntry, name.Stored, targetPath, type);
        if (const QString refusal = Refusal(AEntry, targetPath, type); !refusal.isEmpty()) Fail(name.Shown, refusal);
        if (type == AE_IFDIR) {
            FCwd.Enter();
            return ExtractFolder(name.Shown, targetPath, target.get());
        }
        const fs::path finalPath = NativePath(targetPath);
        if (!MayReplace(name.Shown, targetPath, finalPath)) return;
        FCwd.Enter();
        if (type == AE_IFLNK) return ExtractLink(name.Shown, targetPath, target.get());
        ExtractFile(name.Shown, targetPath, target.get());
    }

    // Whether the handler lets in an entry that matches the mask.
    bool Confirmed(archive_entry* AEntry, const QString& AName) {
        if (!FOwner.OnConfirmProcessItem) return true;
        const TZLTZipItem item{AName, archive_entry_filetype(AEntry) == AE_IFDIR, archive_entry_size(AEntry)};
        bool confirm = true;
        CallHandler(FCwd, FOwner.OnConfirmProcessItem, &FOwner, item, TZLTProcessType::ptExtract, confirm);
        return confirm;
    }

    // Where the entry goes in the base folder: its stored path, or only the last name of it when
    // the paths are not kept.
    QByteArray TargetPath(const QByteArray& AStoredPath) const {
        QByteArray path = AStoredPath;
        while (path.endsWith('/')) path.chop(1);
        return FOwner.RestorePath ? path : LastComponent(path);
    }

    // The entry as the disk writer gets it: the target path, the permission bits it may keep.
    TEntryClone TargetEntry(archive_entry* AEntry, const QByteArray& AStoredPath, const QByteArray& ATargetPath,
                            unsigned AType) const {
        TEntryClone target(archive_entry_clone(AEntry));
        if (!target) throw Exception(QStringLiteral("Out of memory while extracting"));
        SetEntryPath(target.get(), NativePath(ATargetPath).native());
        // The mode's type is narrower on Windows; the permission bits fit either.
        archive_entry_set_perm(target.get(), static_cast<decltype(archive_entry_perm(AEntry))>(
                                                 Permissions(AEntry, AStoredPath, ATargetPath, AType)));
        return target;
    }

    // Why the entry must not be written to ATargetPath; empty when nothing in the entry itself
    // forbids it.
    QString Refusal(archive_entry* AEntry, const QByteArray& ATargetPath, unsigned AType) const {
        // A path the system can't hold is refused before anything of it is made: libarchive
        // would reach it step by step, and leave folders and a temporary file that nothing
        // could remove by name.
        if (!FitsTheSystem(ATargetPath)) return QStringLiteral("the path is longer than the system allows");
        // libarchive refuses these too, but its Windows writer takes "/x" and "\\x" as
        // relative, where they mean the root of the current drive.
        if (LeavesTheFolder(NativePath(ATargetPath))) return QStringLiteral("the path leads outside the target folder");
        if (AType == AE_IFDIR) return {};
        if (archive_entry_hardlink(AEntry) != nullptr) return QStringLiteral("hard links are not supported");
        if (AType != AE_IFREG && AType != AE_IFLNK) return QStringLiteral("entries of this kind are not supported");
        const QByteArray last = LastComponent(ATargetPath);
        if (last.isEmpty() || last == "." || last == "..") return QStringLiteral("the entry's name is no file name");
        return {};
    }

    // Whether a file or a link may take the place of what stands at AFinal (in the base folder):
    // not a folder, not the archive being read nor the journal, and the handler agrees. False
    // when the handler declines it; throws when it must not be replaced.
    bool MayReplace(const QString& AName, const QByteArray& ATargetPath, const fs::path& AFinal) {
        // The checks take the full name, so that the questions to the handlers need no switch
        // of the working folder between them; the writing takes the name in the base folder.
        const fs::path fullPath = FBasePath / AFinal;
        std::error_code error;
        const auto status = fs::symlink_status(fullPath, error);
        if (!fs::exists(status)) return true;
        QString refusal;
        if (fs::is_directory(status))
            refusal = QStringLiteral("a folder stands where the file goes");
        else if (fs::equivalent(fullPath, FArchivePath, error))
            refusal = QStringLiteral("the archive itself cannot be replaced");
        else if (fs::equivalent(fullPath, FJournalPath, error))
            refusal = QStringLiteral("the installation's journal cannot be replaced");
        if (!refusal.isEmpty()) Fail(AName, refusal);
        if (!FOwner.OnConfirmOverwrite) return true;
        QString fullName = QDir(FBase).filePath(QString::fromUtf8(ATargetPath));
        bool confirm = true;
        CallHandler(FCwd, FOwner.OnConfirmOverwrite, &FOwner, fullName, confirm);
        return confirm;
    }

    // Whether the system holds the entry's path below the base folder, and the temporary name
    // that stands in for its last name while it is staged.
    bool FitsTheSystem(const QByteArray& APath) const {
        const QString target = QString::fromUtf8(APath);
        const QString staged = QString::fromUtf8(ParentWithSlash(APath) + NewTemporaryName());
        return platform::PathFits(QDir(FBase).filePath(target)) && platform::PathFits(QDir(FBase).filePath(staged));
    }

    // Stored modes lose the setuid, setgid and sticky bits and write access for everyone: a
    // package has no business installing programs that run with another user's rights, or
    // files that anybody may change. An entry made on Windows stores no mode at all (libarchive
    // makes one up): it keeps the mode of the file it replaces, and a new one gets 0644, or
    // 0755 when it is a folder or the program that the package updates.
    unsigned Permissions(archive_entry* AEntry, const QByteArray& AStoredPath, const QByteArray& ATargetPath,
                         unsigned AType) const {
        if (FDirectory.HasUnixMode(AStoredPath)) {
            const unsigned stored = static_cast<unsigned>(archive_entry_perm(AEntry)) & 0775u;
            // The program the package updates must stay runnable for its owner, whatever the
            // package stores (0, 0600): the updater starts it again at the end.
            return AType != AE_IFDIR && ATargetPath == FProgramPath ? stored | 0500u : stored;
        }
        if (AType == AE_IFDIR) return 0755u;
        std::error_code error;
        const fs::file_status existing = fs::symlink_status(FBasePath / NativePath(ATargetPath), error);
        if (fs::is_regular_file(existing)) return static_cast<unsigned>(existing.permissions()) & 0775u;
        return ATargetPath == FProgramPath ? 0755u : 0644u;
    }

    // The folders of APath (the entry's own too, for a folder) that are missing: each is
    // recorded before the writer makes it.
    void RecordMissingFolders(const QByteArray& APath, bool AIncludingLast) {
        const QList<QByteArray> parts = APath.split('/');
        QByteArray folder;
        fs::path place = FBasePath;
        for (qsizetype i = 0; i < parts.size() - (AIncludingLast ? 0 : 1); ++i) {
            folder += (folder.isEmpty() ? QByteArray() : QByteArray("/")) + parts[i];
            place /= NativePath(parts[i]);
            std::error_code error;
            if (!fs::exists(fs::symlink_status(place, error))) FStaging.WillMakeFolder(folder);
        }
    }

    // A folder's header is the whole entry. One that stands already is left as it is: its
    // permissions and times are not the package's to change, nor would they come back if the
    // installation were undone.
    void ExtractFolder(const QString& AName, const QByteArray& APath, archive_entry* ATarget) {
        if (!FOwner.RestorePath || !FOwner.CreateDirs) return;
        std::error_code error;
        const auto status = fs::symlink_status(FBasePath / NativePath(APath), error);
        // libarchive would delete a file in the folder's place; that file is not the package's.
        if (fs::exists(status) && !fs::is_directory(status))
            Fail(AName, QStringLiteral("a file stands where the folder goes"));
        if (!fs::exists(status)) {
            RecordMissingFolders(APath, true);
            archive_write_disk_set_options(FWriter.Get(), FFlags);
            if (!Written(archive_write_header(FWriter.Get(), ATarget)) ||
                !Written(archive_write_finish_entry(FWriter.Get())))
                Fail(AName, ErrorText(FWriter.Get()));
        }
        ++FCounts.Extracted;
    }

    void ExtractLink(const QString& AName, const QByteArray& APath, archive_entry* ATarget) {
        // libarchive refuses to write through links but creates any link it is given.
        const char* link = archive_entry_symlink(ATarget);
        if (link == nullptr || !LinkStaysInside(APath, QByteArray(link)))
            Fail(AName, QStringLiteral("the link leads outside the target folder"));
        const QByteArray staged = StageHeader(AName, APath, ATarget);
        if (!Written(archive_write_finish_entry(FWriter.Get()))) Fail(AName, ErrorText(FWriter.Get()));
        FStaging.Staged(APath, staged);
        ++FCounts.Extracted;
    }

    // Writes the entry's header under a new temporary name beside APath, recorded in the
    // journal before it is made, and returns that name. A random name, never probed first:
    // NO_OVERWRITE makes the writer refuse a name that is taken (a file standing where a folder
    // of the path goes is not the package's to delete either), and then another name is drawn.
    QByteArray StageHeader(const QString& AName, const QByteArray& APath, archive_entry* ATarget) {
        RecordMissingFolders(APath, false);
        archive_write_disk_set_options(FWriter.Get(), FFlags | ARCHIVE_EXTRACT_NO_OVERWRITE);
        for (int attempt = 0;; ++attempt) {
            const QByteArray staged = ParentWithSlash(APath) + NewTemporaryName();
            FStaging.WillMakeTemporary(staged);
            SetEntryPath(ATarget, NativePath(staged).native());
            if (Written(archive_write_header(FWriter.Get(), ATarget))) return staged;
            FStaging.NotMade(staged);
            // EEXIST four times over is no chance: a file stands where a folder of the path goes.
            if (archive_errno(FWriter.Get()) != EEXIST || attempt == 3) Fail(AName, ErrorText(FWriter.Get()));
        }
    }

    // The data goes into a new file beside its place, to be renamed over it at the commit, when
    // every entry was read without error, checksum included. libarchive's SAFE_WRITES is no
    // help here: it renames the damaged data of a bad-checksum entry over the good file, and
    // writes a new file in place, where an interruption leaves it cut.
    void ExtractFile(const QString& AName, const QByteArray& APath, archive_entry* ATarget) {
        const QByteArray staged = StageHeader(AName, APath, ATarget);
        QString failure;
        int readResult = ARCHIVE_OK;
        // An entry never writes more than it declares, and all entries together never more than
        // the space check before the extraction counted: a small package must not unpack into
        // gigabytes, whether its local headers or its central directory understate the sizes.
        const bool sizeDeclared = archive_entry_size_is_set(ATarget) != 0;
        const la_int64_t declared = archive_entry_size(ATarget);
        la_int64_t written = 0;
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            readResult = archive_read_data_block(FReader.Get(), &block, &size, &offset);
            if (readResult == ARCHIVE_EOF) break;
            // WARN is a damaged entry (bad checksum, wrong size).
            if (readResult != ARCHIVE_OK) {
                failure = ErrorText(FReader.Get());
                break;
            }
            if (sizeDeclared && offset + static_cast<la_int64_t>(size) > declared) {
                failure = QStringLiteral("the entry holds more data than the %1 bytes it declares").arg(declared);
                break;
            }
            if (offset + static_cast<la_int64_t>(size) > FUnwritten) {
                failure = QStringLiteral("the entries hold more data than the archive's directory declares");
                break;
            }
            written = std::max(written, offset + static_cast<la_int64_t>(size));
            if (archive_write_data_block(FWriter.Get(), block, size, offset) != ARCHIVE_OK) {
                failure = ErrorText(FWriter.Get());
                break;
            }
        }
        const int finished = archive_write_finish_entry(FWriter.Get());
        if (failure.isEmpty() && !Written(finished)) failure = ErrorText(FWriter.Get());
        if (!failure.isEmpty()) Fail(AName, failure);
        FStaging.Staged(APath, staged);
        FUnwritten -= written;
        ++FCounts.Extracted;
    }

    TZLTUnZipper& FOwner;
    TZLTUnZipper::TCounts& FCounts;
    QString FBase;
    fs::path FBasePath;
    std::int64_t FUnwritten; // what the space check counted and no entry has written yet
    const TZipDirectory& FDirectory;
    QByteArray FProgramPath;
    fs::path FArchivePath;
    fs::path FJournalPath;
    QString FCurrent; // the entry being staged, for the record of a failure
    // Declared before the reader and the writer, so that it goes last: undoing the staging
    // removes files that the writer must no longer hold.
    TStaging FStaging;
    TArchiveReader FReader;
    // libarchive's secure extraction checks relative paths against the working folder and
    // refuses absolute ones, so the base folder is the working folder while entries are
    // written. Declared before the writer: the writer's last act (folder permissions and
    // times, at close or free) works on paths relative to the base folder.
    platform::TWorkingFolder FCwd;
    TArchiveDiskWriter FWriter;
    int FFlags;
};

} // namespace

struct TZLTUnZipper::TImpl {
    QString FileName; // absolute; empty when closed
    TZipDirectory Directory;
};

TZLTUnZipper::TZLTUnZipper(QObject* AOwner) : TComponent(AOwner), FImpl(std::make_unique<TImpl>()) {}

TZLTUnZipper::~TZLTUnZipper() = default;

namespace {

// Two entries whose names, decoded and cleaned, name the same file: the second would silently
// take the first one's place.
void CheckDistinctNames(const TZipDirectory& ADirectory) {
    QHash<QString, QString> seen; // cleaned name -> the entry's name
    for (const TZipEntry& entry : ADirectory.Entries) {
        const QString name = DecodedName(entry.StoredName, ADirectory);
        QString cleaned = QDir::cleanPath(name);
        while (cleaned.endsWith(u'/')) cleaned.chop(1);
        if (const auto other = seen.constFind(cleaned); other != seen.constEnd())
            throw EMalformedZip(QStringLiteral("the entries \"%1\" and \"%2\" name the same file").arg(*other, name));
        seen.insert(cleaned, name);
    }
}

// The directory of AFileName, checked whole, and libarchive's reading of the first entry: an
// archive that either refuses is refused here and not halfway through the installation.
TZipDirectory ReadPackageStructure(const QString& AFileName) {
    TZipDirectory directory = ReadZipDirectory(AFileName);
    CheckDistinctNames(directory);
    // libarchive calls an archive without entries unrecognised; it is a readable package
    // with nothing in it.
    if (directory.EntryCount == 0) return directory;
    TArchiveReader reader = OpenZipReader(AFileName);
    archive_entry* entry = nullptr;
    if (archive_read_next_header(reader.Get(), &entry) == ARCHIVE_FATAL) throw EMalformedZip(ErrorText(reader.Get()));
    return directory;
}

} // namespace

void TZLTUnZipper::Open(const QString& AFileName) {
    Close();
    const QFileInfo info(AFileName);
    const QString shown = QDir::toNativeSeparators(AFileName);
    if (!info.exists()) throw Exception(QStringLiteral("The archive \"%1\" does not exist").arg(shown));
    if (!info.isFile()) throw Exception(QStringLiteral("The archive \"%1\" is not a file").arg(shown));
    if (info.size() == 0) throw Exception(QStringLiteral("The archive \"%1\" is empty (0 bytes)").arg(shown));

    const QString fileName = info.absoluteFilePath();
    try {
        FImpl->Directory = ReadPackageStructure(fileName);
    } catch (const EMalformedZip& fault) {
        throw Exception(QStringLiteral("\"%1\" is not a readable ZIP archive: %2").arg(shown, fault.Message()));
    }
    FImpl->FileName = fileName;
}

void TZLTUnZipper::Close() { *FImpl = TImpl{}; }

bool TZLTUnZipper::IsOpen() const { return !FImpl->FileName.isEmpty(); }

void TZLTUnZipper::ExtractFiles(const QString& AMask) {
    if (!IsOpen()) throw Exception(QStringLiteral("No archive is open"));
    FCounts = {};
    const QString base = BaseDirectory.isEmpty() ? QDir::currentPath() : BaseDirectory;
    if (!QFileInfo(base).isDir() && !(CreateDirs && QDir().mkpath(base)))
        throw Exception(QStringLiteral("The folder \"%1\" does not exist").arg(QDir::toNativeSeparators(base)));
    const qint64 available = QStorageInfo(base).bytesAvailable();
    const std::int64_t declared = FImpl->Directory.DeclaredBytes;
    const std::int64_t needed = declared + SpaceMargin(declared);
    if (available >= 0 && needed > available)
        throw ENotEnoughSpace(QStringLiteral("The package needs %1 bytes, and the disk of \"%2\" has %3 bytes free")
                                  .arg(needed)
                                  .arg(QDir::toNativeSeparators(base))
                                  .arg(available),
                              needed, available);
    if (FImpl->Directory.EntryCount == 0) {
        bool abort = false;
        if (OnArchiveProgress) OnArchiveProgress(this, 100, abort);
        return;
    }
    TExtraction extraction(*this, FCounts, FImpl->FileName, QFileInfo(base).absoluteFilePath(), FImpl->Directory,
                           declared);
    extraction.Run(AMask.isEmpty() ? QStringLiteral("*") : AMask, FImpl->Directory.EntryCount);
}

} // namespace zlt::install
