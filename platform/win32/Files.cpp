#include "platform/Files.h"

#include "platform/Exception.h"
#include "platform/win32/Win32.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <utility>

namespace zlt::platform {

using win32::SystemErrorText;
using win32::WidePath;

namespace {

DWORD Attributes(const QString& APath) {
    return APath.isEmpty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(WidePath(APath).c_str());
}

// A folder that is a junction or a symbolic link leads somewhere else.
bool IsLink(DWORD AAttributes) { return (AAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// Why a file can't be made in the folder of AFileName: it is missing, no folder, or a junction
// or a link, which would put the file somewhere else. ERROR_SUCCESS when it is a folder of its own.
DWORD FolderProblem(const QString& AFileName) {
    const DWORD attributes = Attributes(QFileInfo(AFileName).absolutePath());
    if (attributes == INVALID_FILE_ATTRIBUTES) return ::GetLastError();
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return ERROR_DIRECTORY;
    if (IsLink(attributes)) return ERROR_CANT_ACCESS_FILE;
    return ERROR_SUCCESS;
}

// "[...]" at APattern[AIndex]: whether ACharacter is in the set; AIndex moves past the set.
// A set without its closing bracket is an ordinary '['.
std::optional<bool> MatchSet(QStringView APattern, qsizetype& AIndex, QChar ACharacter) {
    qsizetype index = AIndex + 1;
    const bool negated = index < APattern.size() && (APattern[index] == u'!' || APattern[index] == u'^');
    if (negated) ++index;
    bool found = false;
    bool first = true;
    while (index < APattern.size() && (first || APattern[index] != u']')) {
        first = false;
        QChar low = APattern[index];
        QChar high = low;
        if (index + 2 < APattern.size() && APattern[index + 1] == u'-' && APattern[index + 2] != u']') {
            high = APattern[index + 2];
            index += 2;
        }
        if (low <= ACharacter && ACharacter <= high) found = true;
        ++index;
    }
    if (index >= APattern.size()) return std::nullopt;
    AIndex = index + 1;
    return found != negated;
}

bool Match(QStringView APattern, QStringView AName) {
    qsizetype p = 0;
    qsizetype n = 0;
    qsizetype starP = -1;
    qsizetype starN = 0;
    while (n < AName.size()) {
        if (p < APattern.size()) {
            const QChar c = APattern[p];
            if (c == u'*') {
                starP = p++;
                starN = n;
                continue;
            }
            if (c == u'?') {
                ++p;
                ++n;
                continue;
            }
            if (c == u'[') {
                qsizetype next = p;
                if (const std::optional<bool> inSet = MatchSet(APattern, next, AName[n])) {
                    if (*inSet) {
                        p = next;
                        ++n;
                        continue;
                    }
                } else if (AName[n] == u'[') {
                    ++p;
                    ++n;
                    continue;
                }
            } else if (c == u'\\' && p + 1 < APattern.size() && APattern[p + 1] == AName[n]) {
                p += 2;
                ++n;
                continue;
            } else if (c == AName[n]) {
                ++p;
                ++n;
                continue;
            }
        }
        if (starP < 0) return false;
        p = starP + 1;
        n = ++starN;
    }
    while (p < APattern.size() && APattern[p] == u'*') ++p;
    return p == APattern.size();
}

} // namespace

bool FileExists(const QString& AFileName) {
    const DWORD attributes = Attributes(AFileName);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsRealFolder(const QString& APath) {
    const DWORD attributes = Attributes(APath);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && !IsLink(attributes);
}

bool ForceDirectories(const QString& AFolder) { return !AFolder.isEmpty() && QDir().mkpath(AFolder); }

QString RemoveFile(const QString& AFileName) {
    const std::wstring path = WidePath(AFileName);
    if (::DeleteFileW(path.c_str()) != FALSE) return {};
    DWORD error = ::GetLastError();
    // A read-only file is deleted only once the attribute is cleared.
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        ::SetFileAttributesW(path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) != FALSE) {
        if (::DeleteFileW(path.c_str()) != FALSE) return {};
        error = ::GetLastError();
        ::SetFileAttributesW(path.c_str(), attributes);
    }
    return SystemErrorText(error);
}

QString FlushToDisk(const QString& /*AFolder*/, const QStringList& AFiles) {
    // NTFS keeps its names in its own journal; the files' data is flushed one by one.
    for (const QString& file : AFiles) {
        const TUniqueHandle handle = win32::Own(
            ::CreateFileW(WidePath(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!handle.Valid() || ::FlushFileBuffers(win32::Native(handle)) == FALSE)
            return QStringLiteral("%1: %2").arg(file, SystemErrorText(::GetLastError()));
    }
    return {};
}

std::optional<std::uint64_t> FileSystemOf(const QString& APath) {
    const TUniqueHandle handle = win32::Own(
        ::CreateFileW(WidePath(APath).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.Valid() || ::GetFileInformationByHandle(win32::Native(handle), &information) == FALSE)
        return std::nullopt;
    return information.dwVolumeSerialNumber;
}

std::optional<TFileIdentity> FileIdentity(const QString& APath) {
    if (APath.isEmpty()) return std::nullopt;
    const TUniqueHandle handle = win32::Own(::CreateFileW(WidePath(APath).c_str(), FILE_READ_ATTRIBUTES,
                                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!handle.Valid() || ::GetFileInformationByHandle(win32::Native(handle), &information) == FALSE)
        return std::nullopt;
    return TFileIdentity{information.dwVolumeSerialNumber,
                         (std::uint64_t{information.nFileIndexHigh} << 32) | information.nFileIndexLow};
}

std::optional<TLockFile> TLockFile::Acquire(const QString& AFileName) {
    const auto failure = [&AFileName](DWORD AError) {
        return Exception(QStringLiteral("Cannot lock \"%1\". %2").arg(AFileName, SystemErrorText(AError)));
    };
    if (const DWORD error = FolderProblem(AFileName); error != ERROR_SUCCESS) throw failure(error);
    // No sharing: a second open fails while this one holds the file, and the system removes
    // it when the last handle goes, also when the process is killed. A link under the name is
    // opened as itself and refused.
    TLockFile lock;
    lock.FHandle = win32::Own(::CreateFileW(WidePath(AFileName).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                            nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE |
                                                FILE_FLAG_OPEN_REPARSE_POINT,
                                            nullptr));
    if (!lock.FHandle.Valid()) {
        const DWORD error = ::GetLastError();
        // A file that another holds, or that its holder is letting go (delete pending).
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) return std::nullopt;
        throw failure(error);
    }
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(win32::Native(lock.FHandle)) != FILE_TYPE_DISK ||
        ::GetFileInformationByHandle(win32::Native(lock.FHandle), &information) == FALSE ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        throw failure(ERROR_CANT_ACCESS_FILE);
    lock.FFileName = AFileName;
    return lock;
}

QString AppendToRegularFile(const QString& AFileName, const QByteArray& AData) {
    // A link is opened as itself and refused; a pipe or a device is no disk file.
    const TUniqueHandle file = win32::Own(::CreateFileW(WidePath(AFileName).c_str(), FILE_APPEND_DATA,
                                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.Valid()) return SystemErrorText(::GetLastError());
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(win32::Native(file)) != FILE_TYPE_DISK ||
        ::GetFileInformationByHandle(win32::Native(file), &information) == FALSE ||
        (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
        return QStringLiteral("not a regular file");
    DWORD written = 0;
    if (::WriteFile(win32::Native(file), AData.constData(), static_cast<DWORD>(AData.size()), &written, nullptr) ==
            FALSE ||
        written != static_cast<DWORD>(AData.size()))
        return SystemErrorText(::GetLastError());
    return {};
}

void TLockFile::Release() noexcept {
    // The file goes with the last handle.
    FHandle.Reset();
    FFolder.Reset();
}

bool DeleteFile(const QString& AFileName) {
    return !AFileName.isEmpty() && ::DeleteFileW(WidePath(AFileName).c_str()) != FALSE;
}

TExclusiveFile TExclusiveFile::Create(const QString& AFileName) {
    std::optional<TExclusiveFile> file = CreateNew(AFileName);
    if (!file)
        throw Exception(
            QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(ERROR_FILE_EXISTS)));
    return std::move(*file);
}

std::optional<TExclusiveFile> TExclusiveFile::CreateNew(const QString& AFileName) {
    const auto failure = [&AFileName](DWORD AError) {
        return Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, SystemErrorText(AError)));
    };
    if (const DWORD error = FolderProblem(AFileName); error != ERROR_SUCCESS) throw failure(error);
    // CREATE_NEW never opens what stands under the name, a link included; no sharing, so
    // nobody else reads, writes or deletes the file while we hold it.
    TExclusiveFile file;
    file.FHandle = win32::Own(::CreateFileW(WidePath(AFileName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.FHandle.Valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) return std::nullopt;
        // A folder under the name answers "access denied"; it is a name that is taken all the same.
        if (error == ERROR_ACCESS_DENIED && Attributes(AFileName) != INVALID_FILE_ATTRIBUTES) return std::nullopt;
        throw failure(error);
    }
    file.FFileName = AFileName;
    return file;
}

void TExclusiveFile::Write(const char* AData, std::size_t ASize) {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    while (ASize > 0) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(ASize, 1u << 30));
        DWORD written = 0;
        if (::WriteFile(win32::Native(FHandle), AData, piece, &written, nullptr) == FALSE || written == 0) {
            // A file that takes nothing without an error is on a full disk.
            const DWORD error = written == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL : ::GetLastError();
            throw Exception(QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(error)));
        }
        AData += written;
        ASize -= written;
    }
}

void TExclusiveFile::Rewind() {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    LARGE_INTEGER start{};
    if (::SetFilePointerEx(win32::Native(FHandle), start, nullptr, FILE_BEGIN) == FALSE ||
        ::SetEndOfFile(win32::Native(FHandle)) == FALSE)
        throw Exception(
            QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(::GetLastError())));
}

void TExclusiveFile::Sync() {
    if (!IsOpen()) throw Exception(QStringLiteral("Cannot write to file \"%1\". The file is not open.").arg(FFileName));
    if (::FlushFileBuffers(win32::Native(FHandle)) == FALSE)
        throw Exception(
            QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(::GetLastError())));
}

void TExclusiveFile::Close() {
    if (!IsOpen()) return;
    // The handle is gone after CloseHandle whatever it reports, so it is never closed twice.
    if (::CloseHandle(reinterpret_cast<HANDLE>(FHandle.Release())) == FALSE)
        throw Exception(
            QStringLiteral("Cannot write to file \"%1\". %2").arg(FFileName, SystemErrorText(::GetLastError())));
}

QString RenameOver(const QString& ASource, const QString& ATarget) {
    // One rename over the old file: NTFS switches the names in one step.
    if (::MoveFileExW(WidePath(ASource).c_str(), WidePath(ATarget).c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE)
        return {};
    return SystemErrorText(::GetLastError());
}

std::filesystem::path FileSystemPath(const QString& APath) { return std::filesystem::path(APath.toStdWString()); }

bool PathFits(const QString& AFullPath) {
    // The longest extended-length path, with its prefix and without the terminating zero.
    constexpr qsizetype MaxPath = 32767 - 1;
    constexpr qsizetype MaxName = 255;
    if (static_cast<qsizetype>(WidePath(AFullPath).size()) > MaxPath) return false;
    for (const QString& name : QDir::toNativeSeparators(AFullPath).split(u'\\'))
        if (name.size() > MaxName) return false;
    return true;
}

bool MatchesWildcard(const QString& APattern, const QString& AName) { return Match(APattern, AName); }

namespace {

// A handle that stands for the folder and keeps it from being removed or renamed while held.
TUniqueHandle OpenFolder(const QString& AFolder) {
    return win32::Own(::CreateFileW(WidePath(AFolder).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The folder's path as the system knows it now, for SetCurrentDirectoryW, which takes no handle.
std::wstring FolderPath(const TUniqueHandle& AFolder) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetFinalPathNameByHandleW(win32::Native(AFolder), path.data(),
                                                         static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(length + 1);
    }
    // "\\?\C:\..." names a drive folder; the plain form works everywhere.
    if (path.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\\\" + path.substr(8);
    if (path.rfind(L"\\\\?\\", 0) == 0) return path.substr(4);
    return path;
}

} // namespace

TWorkingFolder::TWorkingFolder(const QString& AFolder)
    : FPrevious(OpenFolder(QDir::currentPath())), FFolder(OpenFolder(AFolder)) {
    if (!FFolder.Valid())
        throw Exception(
            QStringLiteral("Cannot open the folder \"%1\": %2").arg(AFolder, SystemErrorText(::GetLastError())));
    Enter();
}

void TWorkingFolder::SwitchIn() {
    const std::wstring path = FolderPath(FFolder);
    if (path.empty() || ::SetCurrentDirectoryW(path.c_str()) == FALSE)
        throw Exception(QStringLiteral("Cannot enter the target folder: %1").arg(SystemErrorText(::GetLastError())));
}

void TWorkingFolder::SwitchBack() noexcept {
    if (!FPrevious.Valid()) return;
    const std::wstring path = FolderPath(FPrevious);
    if (!path.empty()) ::SetCurrentDirectoryW(path.c_str());
}

} // namespace zlt::platform
