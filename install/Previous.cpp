#include "install/Previous.h"

#include "install/NativePath.h"

#include "platform/Files.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace zlt::install {

namespace {

namespace fs = std::filesystem;

constexpr char ListHeader[] = "zlt-previous 1";

QString Shown(const QByteArray& APath) { return QString::fromUtf8(APath); }

// A path as an installation records it: relative, without "." or "..", nothing of another
// system's syntax.
bool PlainRelative(const QByteArray& APath) {
    for (const QByteArray& part : APath.split('/'))
        if (part.isEmpty() || part == "." || part == ".." || part.contains('\\') || part.contains(':')) return false;
    return true;
}

bool RealFolder(const fs::path& APath) {
    std::error_code error;
    return fs::is_directory(fs::symlink_status(APath, error));
}

// The kept file of APath below AKept, when it is a file or a link reached through real folders.
std::optional<fs::path> KeptFile(const fs::path& AKept, const QByteArray& APath) {
    if (!PlainRelative(APath)) return std::nullopt;
    fs::path place = AKept;
    const QList<QByteArray> parts = APath.split('/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        place /= NativePath(parts[i]);
        if (i + 1 < parts.size() && !RealFolder(place)) return std::nullopt;
    }
    std::error_code error;
    const fs::file_status status = fs::symlink_status(place, error);
    if (!fs::is_regular_file(status) && !fs::is_symlink(status)) return std::nullopt;
    return place;
}

// Makes the folders of ATarget's place that are missing, each recorded first; a level that is
// a link or no folder stops the restore.
void MakeFolders(TStaging& AStaging, const fs::path& ABase, const QByteArray& ATarget) {
    const QList<QByteArray> parts = ATarget.split('/');
    QByteArray relative;
    fs::path place = ABase;
    for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
        relative += (i == 0 ? QByteArray() : QByteArray("/")) + parts[i];
        place /= NativePath(parts[i]);
        std::error_code error;
        if (!fs::exists(fs::symlink_status(place, error))) {
            AStaging.WillMakeFolder(relative);
            fs::create_directory(place, error);
        }
        if (!RealFolder(place))
            throw EInstallationUndone(Shown(ATarget), QStringLiteral("its folder is no real folder"));
    }
}

// A copy of AKeptFile beside ATarget's place under a temporary name, recorded first.
QByteArray StageCopy(TStaging& AStaging, const fs::path& ABase, const QByteArray& ATarget, const fs::path& AKeptFile) {
    std::error_code error;
    const bool link = fs::is_symlink(fs::symlink_status(AKeptFile, error));
    for (int attempt = 0;; ++attempt) {
        const QByteArray staged = ParentWithSlash(ATarget) + NewTemporaryName();
        AStaging.WillMakeTemporary(staged);
        const fs::path place = ABase / NativePath(staged);
        error.clear();
        if (link)
            fs::copy_symlink(AKeptFile, place, error);
        else
            fs::copy_file(AKeptFile, place, fs::copy_options::none, error); // never over a name that is taken
        if (!error) return staged;
        AStaging.NotMade(staged);
        if (error != std::errc::file_exists || attempt == 3)
            throw EInstallationUndone(Shown(ATarget), QString::fromLocal8Bit(error.message().c_str()));
    }
}

// The folders that the version rolled back from made, deepest first, when nothing is left in them.
void RemoveEmptyFolders(const fs::path& ABase, const std::vector<QByteArray>& AFolders) {
    for (auto folder = AFolders.rbegin(); folder != AFolders.rend(); ++folder) {
        if (!PlainRelative(*folder)) continue;
        fs::path place = ABase;
        bool real = true;
        for (const QByteArray& part : folder->split('/')) real = real && RealFolder(place /= NativePath(part));
        std::error_code error;
        if (real) fs::remove(place, error); // only when empty
    }
}

} // namespace

QByteArray PreviousListText(const TPreviousVersion& AVersion) {
    QByteArray text = QByteArray(ListHeader) + '\n';
    for (const QByteArray& path : AVersion.Replaced) text += "replaced " + path.toPercentEncoding("/") + '\n';
    for (const QByteArray& path : AVersion.Added) text += "added " + path.toPercentEncoding("/") + '\n';
    for (const QByteArray& path : AVersion.Folders) text += "folder " + path.toPercentEncoding("/") + '\n';
    return text;
}

std::optional<TPreviousVersion> ReadPreviousVersion(const QString& ABase) {
    const fs::path kept = platform::FileSystemPath(ABase) / NativePath(PreviousFolderName);
    if (!RealFolder(kept)) return std::nullopt;
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(kept / PreviousListName, error))) return std::nullopt;
    QFile list(PathText(kept / PreviousListName));
    if (!list.open(QIODevice::ReadOnly)) return std::nullopt;
    const QList<QByteArray> lines = list.readAll().split('\n');
    if (lines.front() != ListHeader) return std::nullopt;
    TPreviousVersion version;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype blank = line.indexOf(' ');
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(blank + 1));
        // Updates/ is the updater's own: its journal, its lock and the kept version itself.
        if (blank < 0 || !PlainRelative(path) || path.split('/').front().toLower() == "updates") continue;
        if (line.startsWith("replaced "))
            version.Replaced.push_back(path);
        else if (line.startsWith("added "))
            version.Added.push_back(path);
        else if (line.startsWith("folder "))
            version.Folders.push_back(path);
    }
    return version;
}

std::int64_t PreviousVersionBytes(const QString& ABase) {
    const fs::path kept = platform::FileSystemPath(ABase) / NativePath(PreviousFolderName);
    if (!RealFolder(kept)) return 0;
    std::int64_t bytes = 0;
    std::error_code error;
    // The iterator does not enter links to folders unless asked to.
    for (fs::recursive_directory_iterator it(kept, error), end; !error && it != end; it.increment(error))
        if (it->is_regular_file(error) && !it->is_symlink(error))
            bytes += static_cast<std::int64_t>(it->file_size(error));
    return bytes;
}

bool RemovePreviousVersion(const QString& ABase) {
    const fs::path base = platform::FileSystemPath(ABase);
    if (!RealFolder(base / "Updates")) return false;
    bool removed = false;
    for (const char* name : {PreviousFolderName, PreviousBuildName, PreviousRetiredName}) {
        std::error_code error;
        // remove_all takes a link itself away, never what it leads to.
        removed = fs::remove_all(base / NativePath(name), error) > 0 || removed;
    }
    return removed;
}

TRestored RestorePreviousVersion(const QString& ABase, const std::function<void(int APercent)>& AProgress) {
    const std::optional<TPreviousVersion> version = ReadPreviousVersion(ABase);
    if (!version)
        throw Exception(
            QStringLiteral("No previous version is kept in %1")
                .arg(QDir::toNativeSeparators(QDir(ABase).filePath(QString::fromLatin1(PreviousFolderName)))));
    const fs::path base = platform::FileSystemPath(ABase);
    const fs::path kept = base / NativePath(PreviousFolderName);
    // Every kept file is there before anything is touched.
    std::vector<fs::path> sources;
    for (const QByteArray& path : version->Replaced) {
        const std::optional<fs::path> source = KeptFile(kept, path);
        if (!source) throw Exception(QStringLiteral("%1: missing from the kept previous version").arg(Shown(path)));
        sources.push_back(*source);
    }
    TStaging staging(ABase);
    staging.KeepReplaced();
    try {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const QByteArray& target = version->Replaced[i];
            MakeFolders(staging, base, target);
            staging.Staged(target, StageCopy(staging, base, target, sources[i]));
            if (AProgress) AProgress(static_cast<int>((i + 1) * 100 / sources.size()));
        }
    } catch (const EInstallationUndone& failure) {
        const QStringList problems = staging.Undo();
        throw EInstallationUndone(failure.File(), problems.isEmpty()
                                                      ? failure.Cause()
                                                      : failure.Cause() + QStringLiteral("; not put back: ") +
                                                            problems.join(QStringLiteral("; ")));
    }
    for (const QByteArray& path : version->Added) staging.StagedRemoval(path);
    TRestored restored{staging.Commit(), FinishInstallation(ABase, true)};
    RemoveEmptyFolders(base, version->Folders);
    return restored;
}

} // namespace zlt::install
