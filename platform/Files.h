#pragma once

#include "platform/Handle.h"

#include <QString>

#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <utility>

namespace zlt::platform {

bool FileExists(const QString& AFileName);     // follows links; false for a folder
bool IsRealFolder(const QString& APath);       // a folder itself, not a link to one
bool ForceDirectories(const QString& AFolder); // creates every missing level
bool DeleteFile(const QString& AFileName);     // false when it could not be deleted

// Puts the file ASource in the place of ATarget in one step, so that anyone looking finds
// ATarget either old or new, and ASource's name is gone afterwards. Empty on success, else
// the system's text; ASource is then left as it was. (Not "ReplaceFile": Windows' header makes
// that name a macro, and every file that includes it, libarchive's among them, would rename
// this one.)
QString RenameOver(const QString& ASource, const QString& ATarget);

// Removes the file or link AFileName itself (a link is not followed), a read-only file too.
// Empty on success, else the system's text.
QString RemoveFile(const QString& AFileName);

// Brings to the disk what was written below AFolder: on systems that can flush a whole file
// system at once (Linux's syncfs) that is done, and AFiles go unused; elsewhere each of AFiles
// is flushed. Empty on success, else the system's text with the file's name.
QString FlushToDisk(const QString& AFolder, const QStringList& AFiles);

// An identity of the file system that holds APath itself (a link is not followed): the device
// on POSIX systems, the volume's serial number on Windows. nullopt when it can't be read.
std::optional<std::uint64_t> FileSystemOf(const QString& APath);

// Appends AData to the regular file AFileName, made when missing. Only a regular file is ever
// written: a link under the name is not followed, and a FIFO or a device is not opened for
// writing (nor waited for). Empty on success, else the cause.
QString AppendToRegularFile(const QString& AFileName, const QByteArray& AData);

// What tells a file from every other, whatever name leads to it: the device and the inode on
// POSIX systems, the volume's serial number and the file index on Windows.
struct TFileIdentity {
    std::uint64_t Volume = 0;
    std::uint64_t Index = 0;
    bool operator==(const TFileIdentity&) const = default;
};

// The identity of the file APath names, links followed; nullopt when it can't be read.
std::optional<TFileIdentity> FileIdentity(const QString& APath);

// The programs that hold AFileName open, as "name (process N)", where the system can tell
// (Windows' Restart Manager); empty elsewhere, or when none is known.
QStringList FileHolders(const QString& AFileName);

// APath as std::filesystem takes a name of this system: UTF-16 on Windows, the file name's
// encoded bytes (QFile::encodeName) elsewhere.
std::filesystem::path FileSystemPath(const QString& APath);

// Whether the system holds a file at AFullPath (absolute): neither one of its names nor the
// whole is longer than the system accepts. That is 255 bytes a name and PATH_MAX bytes in all
// on POSIX systems; on Windows 255 UTF-16 units a name and 32,767 in all, the bounds of the
// extended-length paths (\\?\C:\...) that the calls of this folder use for long paths.
bool PathFits(const QString& AFullPath);

// Whether AName matches the shell wildcard APattern ("*", "?", "[...]"); "*" matches "/" too,
// so "*" takes every stored path of an archive.
bool MatchesWildcard(const QString& APattern, const QString& AName);

// A file created fresh for reading and writing, and so held by this object alone: a file or a
// link that already stands under the name is refused, never opened, truncated or followed,
// and so is a folder that is itself a link. Move-only; closes on destruction. Throws
// Exception with the system's text on any failure, a full disk included.
class TExclusiveFile {
public:
    static TExclusiveFile Create(const QString& AFileName);
    // As Create, but a name that is already taken (by a file, a link or anything else) gives
    // nullopt instead of an exception, so that the caller can choose another.
    static std::optional<TExclusiveFile> CreateNew(const QString& AFileName);

    TExclusiveFile() = default;
    TExclusiveFile(TExclusiveFile&&) noexcept = default;
    TExclusiveFile& operator=(TExclusiveFile&&) noexcept = default;

    bool IsOpen() const noexcept { return FHandle.Valid(); }
    const QString& FileName() const noexcept { return FFileName; }
    void Write(const char* AData, std::size_t ASize);
    // Empties the file, to be written again from its start.
    void Rewind();
    // Brings what was written to the disk (the file's data and size); throws on failure.
    void Sync();
    // Flushes what was written to the file; throws when the system reports a late failure.
    void Close();
    // Closes without reporting anything, for failure paths.
    void Abandon() noexcept { FHandle.Reset(); }

private:
    TUniqueHandle FHandle;
    QString FFileName;
};

// A lock that one process at a time holds on a file: the file AFileName is created when missing
// and held while this object lives; it goes when the last holder lets it go. Only a regular file
// of its own is used: a link or anything else under the name, or a folder that is itself a link,
// throws Exception with the cause. Never blocks: Acquire gives nullopt when another process (or
// another lock of this one) holds it. Move-only.
class TLockFile {
public:
    static std::optional<TLockFile> Acquire(const QString& AFileName);

    TLockFile() = default;
    TLockFile(TLockFile&& AOther) noexcept = default;
    TLockFile& operator=(TLockFile&& AOther) noexcept {
        if (this != &AOther) {
            Release();
            FFolder = std::move(AOther.FFolder);
            FHandle = std::move(AOther.FHandle);
            FFileName = std::move(AOther.FFileName);
        }
        return *this;
    }
    ~TLockFile() { Release(); }

    bool Held() const noexcept { return FHandle.Valid(); }
    // Removes the file and lets it go; nothing when not held.
    void Release() noexcept;

private:
    TUniqueHandle FFolder;
    TUniqueHandle FHandle;
    QString FFileName;
};

// Makes AFolder the process's working folder while alive and restores the one before at the
// end. Leave and Enter switch back and forth through open folder handles, cheap enough to do
// around every callback, and only when the process is not already where it is asked to be.
// Throws Exception when AFolder can't be opened or entered; a working folder before that can't
// be opened again (deleted, or not ours to enter) is not an error, the process then stays in
// AFolder. Not thread-safe: the working folder belongs to the whole process.
class TWorkingFolder {
public:
    explicit TWorkingFolder(const QString& AFolder);
    TWorkingFolder(const TWorkingFolder&) = delete;
    TWorkingFolder& operator=(const TWorkingFolder&) = delete;
    // The folder before, even when the process left AFolder already: a callback run outside may
    // have moved it elsewhere.
    ~TWorkingFolder() { SwitchBack(); }

    void Enter() {
        if (FInside) return;
        SwitchIn();
        FInside = true;
    }
    void Leave() noexcept {
        if (!FInside) return;
        SwitchBack();
        FInside = false;
    }

private:
    void SwitchIn();
    void SwitchBack() noexcept;

    TUniqueHandle FPrevious;
    TUniqueHandle FFolder;
    bool FInside = false;
};

} // namespace zlt::platform
