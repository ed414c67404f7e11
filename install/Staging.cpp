#include "install/Staging.h"

#include "install/NativePath.h"

#include "platform/Files.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <filesystem>
#include <system_error>
#include <utility>

namespace zlt::install {

namespace {

namespace fs = std::filesystem;

std::function<void(int)>& CommitStepHook() {
    static std::function<void(int)> hook;
    return hook;
}

QString Shown(const QByteArray& APath) { return QString::fromUtf8(APath); }

// Where the test seam may end the process; ACount counts the places.
void CommitStep(int& ACount) {
    if (CommitStepHook()) CommitStepHook()(ACount);
    ++ACount;
}

} // namespace

void SetCommitStepHook(std::function<void(int ACount)> AHook) { CommitStepHook() = std::move(AHook); }

TStaging::TStaging(const QString& ABase) : FBase(ABase) {
    const TRecovery earlier = RecoverInstallation(ABase);
    if (!earlier.Problems.isEmpty() && QFileInfo::exists(JournalFileName(ABase)))
        throw Exception(
            QStringLiteral("An earlier installation could not be undone: %1").arg(earlier.Problems.join(u"; ")));
    FWriter = std::make_unique<TJournalWriter>(ABase);
}

TStaging::~TStaging() {
    if (!FFinished) Undo();
}

void TStaging::WillMakeTemporary(const QByteArray& APath) {
    FJournal.Temporaries.push_back(APath);
    FWriter->Temporary(APath);
}

void TStaging::NotMade(const QByteArray& APath) {
    std::erase(FJournal.Temporaries, APath);
    FWriter->Forget(APath);
}

void TStaging::WillMakeFolder(const QByteArray& APath) {
    FJournal.Folders.push_back(APath);
    FWriter->Folder(APath);
}

void TStaging::Staged(const QByteArray& ATarget, const QByteArray& ATemporary) {
    FStaged.push_back({ATarget, ATemporary, {}});
}

void TStaging::StagedRemoval(const QByteArray& ATarget) { FStaged.push_back({ATarget, {}, {}}); }

QStringList TStaging::Undo() noexcept {
    if (FFinished) return {};
    FFinished = true;
    try {
        FJournal.Committed = false;
        const TRecovery undone = ApplyJournal(FBase, FJournal);
        if (undone.Problems.isEmpty()) {
            FWriter->Remove();
        } else {
            FWriter->Close(); // the next run tries again
        }
        return undone.Problems;
    } catch (const std::exception& error) {
        return {QString::fromUtf8(error.what())};
    }
}

QString TStaging::Place(const QByteArray& APath) const {
    return PathText(platform::FileSystemPath(FBase) / NativePath(APath));
}

EInstallationUndone TStaging::Failed(const QString& AFile, QString ACause) {
    const QStringList problems = Undo();
    if (!problems.isEmpty()) ACause += QStringLiteral("; not put back: ") + problems.join(QStringLiteral("; "));
    return EInstallationUndone(AFile, ACause);
}

TStaging::TCommitted TStaging::Plan() {
    // A target counts as taken when something stands there, or an earlier entry of the same
    // name goes there first.
    TCommitted committed;
    QSet<QByteArray> taken;
    std::vector<TJournalStep> steps;
    for (TJournalStep staged : FStaged) {
        std::error_code error;
        const bool standing = taken.contains(staged.Target) ||
                              fs::exists(fs::symlink_status(platform::FileSystemPath(Place(staged.Target)), error));
        if (staged.Staged.isEmpty() && !standing) continue; // nothing to remove
        if (standing) {
            staged.Aside = ParentWithSlash(staged.Target) + NewAsideName();
            ++(staged.Staged.isEmpty() ? committed.Removed : committed.Replaced);
        } else {
            ++committed.Added;
        }
        if (!staged.Staged.isEmpty()) taken.insert(staged.Target);
        steps.push_back(staged);
        FJournal.Steps.push_back(staged);
        FWriter->Step(staged);
    }
    FStaged = std::move(steps);
    if (FKeepReplaced) {
        FWriter->KeepReplaced();
        FJournal.KeepReplaced = true;
    }
    FWriter->CommitBegun();
    FJournal.CommitBegun = true;
    return committed;
}

void TStaging::MoveIntoPlace() {
    int count = 0;
    for (const TJournalStep& staged : FStaged) {
        const QString target = Place(staged.Target);
        QString failure;
        CommitStep(count);
        if (!staged.Aside.isEmpty()) failure = platform::RenameOver(target, Place(staged.Aside));
        if (failure.isEmpty() && !staged.Staged.isEmpty()) {
            CommitStep(count);
            failure = platform::RenameOver(Place(staged.Staged), target);
        }
        if (!failure.isEmpty()) {
            const QStringList holders = platform::FileHolders(target);
            if (!holders.isEmpty()) failure += QStringLiteral(" (held by %1)").arg(holders.join(QStringLiteral(", ")));
            throw Failed(Shown(staged.Target), failure);
        }
    }
    // Every new file is in place, on the disk, before the old ones go.
    CommitStep(count);
    if (const QString failure = platform::FlushToDisk(FBase, {}); !failure.isEmpty())
        throw Failed(QDir::toNativeSeparators(FBase), failure);
    CommitStep(count);
    FWriter->Committed();
    FWriter->Sync();
    FJournal.Committed = true;
    FFinished = true;
    CommitStep(count);
}

TStaging::TCommitted TStaging::Commit() {
    TCommitted committed = Plan();
    QStringList stagedFiles;
    for (const TJournalStep& staged : FStaged)
        if (!staged.Staged.isEmpty()) stagedFiles << Place(staged.Staged);
    // The new files and the journal reach the disk before the first rename.
    if (const QString failure = platform::FlushToDisk(FBase, stagedFiles); !failure.isEmpty())
        throw Failed(QDir::toNativeSeparators(FBase), failure);
    FWriter->Sync();
    MoveIntoPlace();
    if (FKeepReplaced) {
        FWriter->Close(); // for the verdict
        return committed;
    }
    const TRecovery cleaned = ApplyJournal(FBase, FJournal);
    committed.InUse = static_cast<int>(cleaned.Kept.size());
    if (cleaned.Kept.empty())
        FWriter->Remove();
    else
        FWriter->Close(); // the next run removes the old files that are still in use
    return committed;
}

} // namespace zlt::install
