#include "install/Journal.h"

#include "install/NativePath.h"
#include "install/Previous.h"

#include "common/Errors.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>

namespace zlt::install {

namespace {

namespace fs = std::filesystem;

constexpr char Header[] = "zlt-journal 1";

QByteArray Encoded(const QByteArray& APath) { return APath.toPercentEncoding("/"); }

// Short, so that it takes little of the room the system gives a path; 32 random bits are plenty
// for the names that one installation makes in one folder, and a temporary name that is taken
// is drawn again.
QByteArray ReservedName(const char* ASuffix) {
    return ".zlt-" + QByteArray::number(QRandomGenerator::global()->generate(), 16).rightJustified(8, '0') + ASuffix;
}

bool Exists(const fs::path& APath) {
    std::error_code error;
    return fs::exists(fs::symlink_status(APath, error));
}

// The journal, parsed. Lines that can't be read (the last one, cut by a power cut) are passed
// over: the marks that matter are written after everything they cover, and synced.
std::optional<TJournal> ParseJournal(const QByteArray& AText) {
    QList<QByteArray> lines = AText.split('\n');
    if (lines.isEmpty() || lines.front() != Header) return std::nullopt;
    TJournal journal;
    for (const QByteArray& line : lines.mid(1)) {
        const QList<QByteArray> fields = line.split(' ');
        const QByteArray& kind = fields.front();
        std::vector<QByteArray> paths;
        for (const QByteArray& field : fields.mid(1)) paths.push_back(QByteArray::fromPercentEncoding(field));
        if (kind == "temp" && paths.size() == 1) {
            journal.Temporaries.push_back(paths[0]);
        } else if (kind == "forget" && paths.size() == 1) {
            std::erase(journal.Temporaries, paths[0]);
        } else if (kind == "folder" && paths.size() == 1) {
            journal.Folders.push_back(paths[0]);
        } else if (kind == "step" && paths.size() == 3 && !journal.CommitBegun) {
            journal.Steps.push_back(
                {paths[0], paths[1] == "-" ? QByteArray() : paths[1], paths[2] == "-" ? QByteArray() : paths[2]});
        } else if (kind == "keep" && !journal.CommitBegun) {
            journal.KeepReplaced = true;
        } else if (kind == "rollback" && journal.Committed) {
            journal.RollBack = true;
        } else if (kind == "kept" && journal.Committed) {
            journal.Kept = true;
        } else if (kind == "leftover" && paths.size() == 1) {
            journal.Leftovers.push_back(paths[0]);
        } else if (kind == "commit") {
            journal.CommitBegun = true;
        } else if (kind == "committed" && journal.CommitBegun) {
            journal.Committed = true;
        }
    }
    return journal;
}

// The journal in AFileName; nullopt when there is none, or it is no regular file, or no journal.
std::optional<TJournal> ReadJournal(const QString& AFileName) {
    std::error_code error;
    if (!fs::is_regular_file(fs::symlink_status(platform::FileSystemPath(AFileName), error))) return std::nullopt;
    QFile reader(AFileName);
    if (!reader.open(QIODevice::ReadOnly)) return std::nullopt;
    return ParseJournal(reader.readAll());
}

// Applies one journal to one folder, never beyond it.
class TRecoverer {
public:
    TRecoverer(const QString& ABase, TRecovery& AReport)
        : FBase(platform::FileSystemPath(ABase)), FFileSystem(platform::FileSystemOf(ABase)), FReport(AReport) {}

    // The place of a recorded path below the base folder, when it is one that may be touched:
    // relative, without "." or "..", on the base folder's file system, reached through real
    // folders only; ASuffix, when given, the end of the reserved name it must have.
    std::optional<fs::path> Place(const QByteArray& APath, const char* ASuffix = nullptr) const {
        static const QRegularExpression reserved(QStringLiteral("^\\.zlt-[0-9a-f]{1,16}\\.(tmp|old)$"));
        const QList<QByteArray> parts = APath.split('/');
        for (const QByteArray& part : parts)
            if (part.isEmpty() || part == "." || part == ".." || part.contains('\\') || part.contains(':'))
                return std::nullopt;
        if (ASuffix != nullptr &&
            (!parts.back().endsWith(ASuffix) || !reserved.match(QString::fromLatin1(parts.back())).hasMatch()))
            return std::nullopt;
        fs::path place = FBase;
        for (qsizetype i = 0; i < parts.size(); ++i) {
            place /= NativePath(parts[i]);
            if (i + 1 == parts.size()) break;
            std::error_code error;
            const fs::file_status status = fs::symlink_status(place, error);
            if (!fs::is_directory(status) || platform::FileSystemOf(PathText(place)) != FFileSystem)
                return std::nullopt;
        }
        return place;
    }

    void Backwards(const TJournal& AJournal) {
        RemoveAsides(AJournal.Leftovers);
        for (auto step = AJournal.Steps.rbegin(); step != AJournal.Steps.rend(); ++step) Undo(*step);
        for (auto temporary = AJournal.Temporaries.rbegin(); temporary != AJournal.Temporaries.rend(); ++temporary)
            if (const auto place = Place(*temporary, ".tmp"); place && Exists(*place)) Remove(*place);
        for (auto folder = AJournal.Folders.rbegin(); folder != AJournal.Folders.rend(); ++folder) {
            std::error_code error;
            if (const auto place = Place(*folder)) fs::remove(*place, error); // only when empty
        }
    }

    void Forwards(const TJournal& AJournal) {
        std::vector<QByteArray> asides = AJournal.Leftovers;
        for (const TJournalStep& step : AJournal.Steps)
            if (!step.Aside.isEmpty()) asides.push_back(step.Aside);
        RemoveAsides(asides);
        for (const QByteArray& temporary : AJournal.Temporaries)
            if (const auto place = Place(temporary, ".tmp"); place && Exists(*place)) Remove(*place);
    }

    // Moves the replaced files into a fresh kept version, which then takes the place of the one
    // before. Empty on success, else why not: the caller removes what was moved then, as
    // without the request. Done again after a kill, it goes on where the kill left it: the
    // journal's aside files that are gone were moved already.
    QString Keep(const TJournal& AJournal) {
        const std::optional<fs::path> fresh = Place(PreviousBuildName);
        if (!fresh) return QStringLiteral("Updates/ is no folder of this installation's own");
        TPreviousVersion version;
        std::vector<std::pair<QByteArray, fs::path>> asides;
        QSet<QByteArray> seen;
        for (const TJournalStep& step : AJournal.Steps) {
            // A later entry of the same name went over the first one: its aside file is new.
            if (seen.contains(step.Target)) continue;
            seen.insert(step.Target);
            if (step.Aside.isEmpty()) {
                version.Added.push_back(step.Target);
                continue;
            }
            // The list's own name can't be a kept file's too.
            if (step.Target == PreviousListName)
                return QStringLiteral("%1: a file of that name can't be kept").arg(Shown(step.Target));
            version.Replaced.push_back(step.Target);
            const auto aside = Place(step.Aside, ".old");
            if (!aside)
                return QStringLiteral("%1: the journal names a place outside the folder").arg(Shown(step.Target));
            if (Exists(*aside)) asides.emplace_back(step.Target, *aside);
        }
        version.Folders = AJournal.Folders;
        // Every file moved and the folders swapped, before the mark that says so.
        if (asides.empty() && !version.Replaced.empty() && !Exists(*fresh)) {
            FReport.PreviousKept = true;
            return {};
        }
        std::error_code error;
        fs::create_directory(*fresh, error);
        if (!RealFolder(*fresh)) return QStringLiteral("%1 can't be made").arg(PathText(*fresh));
        for (const auto& [target, aside] : asides)
            if (const QString failure = MoveInto(*fresh, target, aside); !failure.isEmpty()) return failure;
        return Swap(*fresh, version);
    }

private:
    static QString Shown(const QByteArray& APath) { return QString::fromUtf8(APath); }

    bool RealFolder(const fs::path& APath) const {
        std::error_code error;
        return fs::is_directory(fs::symlink_status(APath, error)) &&
               platform::FileSystemOf(PathText(APath)) == FFileSystem;
    }

    // Moves the file at AAside to ATarget's place below AFolder, making the folders between.
    QString MoveInto(const fs::path& AFolder, const QByteArray& ATarget, const fs::path& AAside) const {
        fs::path place = AFolder;
        const QList<QByteArray> parts = ATarget.split('/');
        for (qsizetype i = 0; i + 1 < parts.size(); ++i) {
            place /= NativePath(parts[i]);
            std::error_code error;
            fs::create_directory(place, error);
            if (!RealFolder(place))
                return QStringLiteral("%1: its folder can't be made in the kept version").arg(Shown(ATarget));
        }
        place /= NativePath(parts.back());
        if (const QString failure = platform::RenameOver(PathText(AAside), PathText(place)); !failure.isEmpty())
            return QStringLiteral("%1: %2").arg(Shown(ATarget), failure);
        return {};
    }

    // Writes the list into AFresh, brings everything to the disk, and puts AFresh in the place of
    // the kept version before; the old one is removed last, and a kill before that leaves it for
    // the next keep.
    QString Swap(const fs::path& AFresh, const TPreviousVersion& AVersion) {
        const QString list = PathText(AFresh / PreviousListName);
        platform::RemoveFile(list);
        try {
            platform::TExclusiveFile file = platform::TExclusiveFile::Create(list);
            const QByteArray text = PreviousListText(AVersion);
            file.Write(text.constData(), static_cast<std::size_t>(text.size()));
            file.Sync();
            file.Close();
        } catch (const std::exception& error) {
            return QString::fromUtf8(error.what());
        }
        if (const QString failure = platform::FlushToDisk(PathText(FBase), {list}); !failure.isEmpty()) return failure;
        const fs::path kept = FBase / NativePath(PreviousFolderName);
        const fs::path retired = FBase / NativePath(PreviousRetiredName);
        std::error_code error;
        fs::remove_all(retired, error);
        if (Exists(kept)) fs::rename(kept, retired, error);
        if (!error) fs::rename(AFresh, kept, error);
        if (error) return QStringLiteral("%1: %2").arg(PathText(kept), QString::fromLocal8Bit(error.message().c_str()));
        FReport.PreviousKept = true;
        fs::remove_all(retired, error);
        return {};
    }

public:
    // What was moved into a kept version that could not be finished goes as the aside files would.
    void DropFresh() {
        std::error_code error;
        if (const auto fresh = Place(PreviousBuildName); fresh && RealFolder(*fresh)) fs::remove_all(*fresh, error);
    }

private:
    void RemoveAsides(const std::vector<QByteArray>& AAsides) {
        for (const QByteArray& aside : AAsides) {
            const auto place = Place(aside, ".old");
            if (!place || !Exists(*place)) continue;
            if (platform::RemoveFile(PathText(*place)).isEmpty())
                ++FReport.Removed;
            else
                FReport.Kept.push_back(aside); // a program or library still in use: a later run removes it
        }
    }

    // One step back: the names tell how far it got. The old file under its aside name means the
    // first rename was done; the new file under its staged name, that the second was not. A step
    // that only removes has no staged name.
    void Undo(const TJournalStep& AStep) {
        const auto target = Place(AStep.Target);
        const auto staged = AStep.Staged.isEmpty() ? std::nullopt : Place(AStep.Staged, ".tmp");
        const auto aside = AStep.Aside.isEmpty() ? std::nullopt : Place(AStep.Aside, ".old");
        // An installation writes both names beside the target, in its folder.
        const QByteArray folder = ParentWithSlash(AStep.Target);
        const bool beside = (AStep.Staged.isEmpty() || ParentWithSlash(AStep.Staged) == folder) &&
                            (AStep.Aside.isEmpty() || ParentWithSlash(AStep.Aside) == folder);
        if (!target || (!AStep.Staged.isEmpty() && !staged) || (!AStep.Aside.isEmpty() && !aside) || !beside ||
            (AStep.Staged.isEmpty() && AStep.Aside.isEmpty())) {
            Problem(AStep.Target, QStringLiteral("the journal names a place outside the folder"));
            return;
        }
        if (aside && Exists(*aside)) {
            if (Exists(*target) && !Remove(*target)) return;
            if (const QString failure = platform::RenameOver(PathText(*aside), PathText(*target)); !failure.isEmpty())
                return Problem(AStep.Target, failure);
            ++FReport.Restored; // the staged file, if still there, goes with the temporaries
        } else if (staged && Exists(*staged)) {
            Remove(*staged);
        } else if (AStep.Aside.isEmpty() && Exists(*target)) {
            Remove(*target);
        }
    }

    bool Remove(const fs::path& APath) {
        if (const QString failure = platform::RemoveFile(PathText(APath)); !failure.isEmpty()) {
            FReport.Problems << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(PathText(APath)), failure);
            return false;
        }
        ++FReport.Removed;
        return true;
    }

    void Problem(const QByteArray& APath, const QString& ACause) {
        FReport.Problems << QStringLiteral("%1: %2").arg(QString::fromUtf8(APath), ACause);
    }

    fs::path FBase;
    std::optional<std::uint64_t> FFileSystem;
    TRecovery& FReport;
};

} // namespace

namespace {

// Appends a mark to the journal below ABase and brings it to the disk. A journal that can't
// take it is left as it was: the mark only spares a later recovery work it can do again.
bool MarkJournal(const QString& ABase, const QByteArray& AMark) {
    const QString file = JournalFileName(ABase);
    return platform::AppendToRegularFile(file, AMark + '\n').isEmpty() &&
           platform::FlushToDisk(ABase, {file}).isEmpty();
}

} // namespace

QString JournalFileName(const QString& ABase) {
    return QDir(ABase).filePath(QStringLiteral("Updates/install.journal"));
}

QByteArray NewTemporaryName() { return ReservedName(".tmp"); }
QByteArray NewAsideName() { return ReservedName(".old"); }

TJournalWriter::TJournalWriter(const QString& ABase) : FBase(ABase) {
    const QString folder = QDir(ABase).filePath(QStringLiteral("Updates"));
    if (!QFileInfo::exists(folder)) FMadeFolder = QDir().mkdir(folder);
    if (!platform::IsRealFolder(folder))
        throw Exception(QStringLiteral("The folder \"%1\" for the installation's journal is no folder")
                            .arg(QDir::toNativeSeparators(folder)));
    const QString file = JournalFileName(ABase);
    const std::optional<TJournal> earlier = ReadJournal(file);
    if (earlier) platform::RemoveFile(file);
    FFile = platform::TExclusiveFile::Create(file);
    Append(Header);
    if (earlier)
        for (const QByteArray& leftover : earlier->Leftovers) Append("leftover " + Encoded(leftover));
}

void TJournalWriter::Temporary(const QByteArray& APath) { Append("temp " + Encoded(APath)); }
void TJournalWriter::Forget(const QByteArray& APath) { Append("forget " + Encoded(APath)); }
void TJournalWriter::Leftover(const QByteArray& APath) { Append("leftover " + Encoded(APath)); }
void TJournalWriter::Folder(const QByteArray& APath) { Append("folder " + Encoded(APath)); }

void TJournalWriter::Step(const TJournalStep& AStep) {
    Append("step " + Encoded(AStep.Target) + ' ' + (AStep.Staged.isEmpty() ? QByteArray("-") : Encoded(AStep.Staged)) +
           ' ' + (AStep.Aside.isEmpty() ? QByteArray("-") : Encoded(AStep.Aside)));
}

void TJournalWriter::KeepReplaced() { Append("keep"); }
void TJournalWriter::CommitBegun() { Append("commit"); }
void TJournalWriter::Committed() { Append("committed"); }

void TJournalWriter::Append(const QByteArray& ALine) {
    const QByteArray line = ALine + '\n';
    FFile.Write(line.constData(), static_cast<std::size_t>(line.size()));
}

void TJournalWriter::Remove() {
    FFile.Abandon();
    platform::RemoveFile(JournalFileName(FBase));
    if (FMadeFolder) QDir(FBase).rmdir(QStringLiteral("Updates"));
}

TRecovery ApplyJournal(const QString& ABase, const TJournal& AJournal) {
    TRecovery report;
    report.Found = true;
    report.Forward = AJournal.Committed && !AJournal.RollBack;
    report.RolledBack = AJournal.Committed && AJournal.RollBack;
    TRecoverer recoverer(ABase, report);
    if (!report.Forward) {
        recoverer.Backwards(AJournal);
        return report;
    }
    if (AJournal.KeepReplaced && !AJournal.Kept) {
        report.PreviousNotKept = recoverer.Keep(AJournal);
        if (report.PreviousNotKept.isEmpty())
            MarkJournal(ABase, "kept");
        else
            recoverer.DropFresh();
    }
    recoverer.Forwards(AJournal);
    return report;
}

TRecovery RecoverInstallation(const QString& ABase) {
    const QString file = JournalFileName(ABase);
    std::error_code error;
    if (!fs::exists(fs::symlink_status(platform::FileSystemPath(file), error))) return {};
    TRecovery report;
    const std::optional<TJournal> journal = ReadJournal(file);
    if (journal)
        report = ApplyJournal(ABase, *journal);
    else
        report.Problems
            << QStringLiteral("%1: no journal of an installation, removed").arg(QDir::toNativeSeparators(file));
    report.Found = true;
    // A journal that could not be applied whole stays, for the next run to try again.
    if (journal && !report.Problems.isEmpty()) return report;
    platform::RemoveFile(file);
    // The aside files still in use stay recorded, so that a later run removes them.
    if (!report.Kept.empty()) {
        TJournalWriter leftovers(ABase);
        for (const QByteArray& aside : report.Kept) leftovers.Leftover(aside);
        leftovers.Sync();
    }
    return report;
}

bool InstallationAwaitsVerdict(const QString& ABase) {
    const std::optional<TJournal> journal = ReadJournal(JournalFileName(ABase));
    return journal && journal->Committed && journal->KeepReplaced && !journal->RollBack && !journal->Kept;
}

TRecovery FinishInstallation(const QString& ABase, bool APassed) {
    // The mark reaches the disk before the first file moves back, or a kill midway would be
    // finished forwards, over a folder half old.
    if (!APassed && !MarkJournal(ABase, "rollback")) {
        TRecovery report;
        report.Found = true;
        report.Problems << QStringLiteral("%1: the rollback can't be recorded")
                               .arg(QDir::toNativeSeparators(JournalFileName(ABase)));
        return report;
    }
    return RecoverInstallation(ABase);
}

} // namespace zlt::install
