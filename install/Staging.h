#pragma once

#include "install/Journal.h"

#include "common/Errors.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

namespace zlt::install {

// An installation that failed and was undone: the folder is as it was. File is the entry or
// file that failed (as the archive stores it), Cause why.
class EInstallationUndone : public Exception {
public:
    EInstallationUndone(const QString& AFile, const QString& ACause)
        : Exception(AFile + QStringLiteral(": ") + ACause), FFile(AFile), FCause(ACause) {}
    const QString& File() const noexcept { return FFile; }
    const QString& Cause() const noexcept { return FCause; }

private:
    QString FFile;
    QString FCause;
};

// An installation's staging and commit. Every file (or link) is first written beside its
// target under a temporary name, and every folder the staging needs is made, each recorded in
// the journal before it is made. Commit then moves each old file aside and each new file into
// place, after the journal's steps and the new files reach the disk; any failure puts the
// folder back as it was. Without a commit (an entry that failed, an exception), the object's
// end removes everything the staging made. Paths are relative to the base folder,
// '/'-separated, as the archive stores them.
class TStaging {
public:
    // Opens the journal below ABase (an absolute folder), after finishing one that a killed run
    // left. Throws Exception when no journal can be made.
    explicit TStaging(const QString& ABase);
    TStaging(const TStaging&) = delete;
    TStaging& operator=(const TStaging&) = delete;
    ~TStaging();

    void WillMakeTemporary(const QByteArray& APath);
    // A temporary name that turned out to be taken by someone else's file.
    void NotMade(const QByteArray& APath);
    void WillMakeFolder(const QByteArray& APath);
    void Staged(const QByteArray& ATarget, const QByteArray& ATemporary);
    // The file at ATarget goes at the commit (aside, as a replaced file does); nothing when
    // none stands there then.
    void StagedRemoval(const QByteArray& ATarget);
    // The commit leaves the replaced files aside and the journal in place, for a verdict
    // (FinishInstallation): kept in Updates/previous/, or put back. A kill before the verdict
    // is finished as kept by the next recovery. Set before Commit.
    void KeepReplaced() { FKeepReplaced = true; }

    struct TCommitted {
        int Replaced = 0;
        int Added = 0;
        int Removed = 0; // files that StagedRemoval took away
        int InUse = 0;   // old files still in use, left under their aside names for a later run
    };
    // Puts every staged file in place. On failure the folder is put back as it was and
    // EInstallationUndone names the file and the cause.
    TCommitted Commit();

    // Removes what the staging made and puts back what a commit moved; the problems of that
    // (an old file that could not return) are listed. Also done by the destructor.
    QStringList Undo() noexcept;

private:
    QString Place(const QByteArray& APath) const;
    // Undoes everything and gives the failure to throw.
    EInstallationUndone Failed(const QString& AFile, QString ACause);
    // The journal's steps: where each old file goes aside; counts the replaced and added files.
    TCommitted Plan();
    // The renames, the flush after them and the mark that the commit is done.
    void MoveIntoPlace();

    QString FBase;
    std::unique_ptr<TJournalWriter> FWriter;
    TJournal FJournal; // what the journal's file holds
    std::vector<TJournalStep> FStaged;
    bool FFinished = false;
    bool FKeepReplaced = false;
};

// A test seam: called before each act of a commit that changes the folder or the journal
// (ACount counts from 0), so that a test can end the process at each of them. Unset: nothing.
void SetCommitStepHook(std::function<void(int ACount)> AHook);

} // namespace zlt::install
