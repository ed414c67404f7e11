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

QByteArray Parent(const QByteArray& APath) {
    const qsizetype slash = APath.lastIndexOf('/');
    return slash < 0 ? QByteArray() : APath.left(slash + 1);
}

QString Shown(const QByteArray& APath) { return QString::fromUtf8(APath); }

} // namespace

void SetCommitStepHook(std::function<void(int ACount)> AHook) { CommitStepHook() = std::move(AHook); }

TStaging::TStaging(const QString& ABase) : FBase(ABase) {
    const TRecovery earlier = RecoverInstallation(ABase);
    if (!earlier.Problems.isEmpty() && QFileInfo::exists(JournalFileName(ABase)))
        throw Exception(QStringLiteral("An earlier installation could not be undone: %1").arg(earlier.Problems.join(u"; ")));
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

TStaging::TCommitted TStaging::Commit() {
    const fs::path base = platform::FileSystemPath(FBase);
    const auto place = [&base](const QByteArray& APath) { return PathText(base / NativePath(APath)); };
    const auto step = [](int& ACount) {
        if (CommitStepHook()) CommitStepHook()(ACount);
        ++ACount;
    };
    const auto fail = [this](const QString& AFile, QString ACause) -> EInstallationUndone {
        const QStringList problems = Undo();
        if (!problems.isEmpty()) ACause += QStringLiteral("; not put back: ") + problems.join(QStringLiteral("; "));
        return EInstallationUndone(AFile, ACause);
    };

    // The plan: a target counts as taken when something stands there, or an earlier entry of
    // the same name goes there first.
    TCommitted committed;
    QSet<QByteArray> taken;
    QStringList stagedFiles;
    for (TJournalStep& staged : FStaged) {
        std::error_code error;
        if (taken.contains(staged.Target) || fs::exists(fs::symlink_status(base / NativePath(staged.Target), error))) {
            staged.Aside = Parent(staged.Target) + NewAsideName();
            ++committed.Replaced;
        } else {
            ++committed.Added;
        }
        taken.insert(staged.Target);
        stagedFiles << place(staged.Staged);
        FJournal.Steps.push_back(staged);
        FWriter->Step(staged);
    }
    FWriter->CommitBegun();
    FJournal.CommitBegun = true;
    // The new files and the journal reach the disk before the first rename.
    if (const QString failure = platform::FlushToDisk(FBase, stagedFiles); !failure.isEmpty())
        throw fail(QDir::toNativeSeparators(FBase), failure);
    FWriter->Sync();

    int count = 0;
    for (const TJournalStep& staged : FStaged) {
        const QString target = place(staged.Target);
        QString failure;
        step(count);
        if (!staged.Aside.isEmpty()) failure = platform::RenameOver(target, place(staged.Aside));
        if (failure.isEmpty()) {
            step(count);
            failure = platform::RenameOver(place(staged.Staged), target);
        }
        if (!failure.isEmpty()) {
            const QStringList holders = platform::FileHolders(target);
            if (!holders.isEmpty()) failure += QStringLiteral(" (held by %1)").arg(holders.join(QStringLiteral(", ")));
            throw fail(Shown(staged.Target), failure);
        }
    }
    // Every new file is in place, on the disk, before the old ones go.
    step(count);
    if (const QString failure = platform::FlushToDisk(FBase, {}); !failure.isEmpty())
        throw fail(QDir::toNativeSeparators(FBase), failure);
    step(count);
    FWriter->Committed();
    FWriter->Sync();
    FJournal.Committed = true;
    FFinished = true;
    step(count);
    const TRecovery cleaned = ApplyJournal(FBase, FJournal);
    committed.InUse = static_cast<int>(cleaned.Kept.size());
    if (cleaned.Kept.empty())
        FWriter->Remove();
    else
        FWriter->Close(); // the next run removes the old files that are still in use
    return committed;
}

} // namespace zlt::install
