#pragma once

#include "platform/Files.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace zlt::install {

// The installation's journal, Updates/install.journal below the folder being installed into.
// It records, before each is made, every temporary file and folder that the staging makes;
// then, before the first rename, each step of the commit; then that the commit is done. A run
// killed at any moment, or a power cut, leaves what the next run needs to put the folder back
// as it was, or to finish the commit's clean-up. Paths are relative to the folder,
// '/'-separated, as the archive stores them.
struct TJournalStep {
    QByteArray Target; // where the new file goes
    QByteArray Staged; // the new file's temporary name beside it; empty when the step only removes
    QByteArray Aside;  // the name the old file takes; empty when nothing stood at Target
};

struct TJournal {
    std::vector<QByteArray> Temporaries; // in the order made
    std::vector<QByteArray> Folders;     // in the order made
    std::vector<TJournalStep> Steps;
    // Old files of an earlier commit that were still in use when it ended (a running program
    // or a loaded library on Windows): removed as soon as they can be.
    std::vector<QByteArray> Leftovers;
    bool CommitBegun = false; // every step is recorded and on the disk
    bool Committed = false;   // every new file is in place and on the disk
    // The replaced files are kept in Updates/previous/ once the commit is done, not removed.
    bool KeepReplaced = false;
    bool RollBack = false; // a committed installation that is to be undone all the same
    bool Kept = false;     // Updates/previous/ holds the replaced files: only the clean-up is left
};

// The journal's file below ABase.
QString JournalFileName(const QString& ABase);

// Appends to a journal made fresh below ABase: each record reaches the file at once, so a
// killed process loses none; Sync brings them to the disk. A journal that a recovery left with
// leftovers only is taken over with them; the name is never followed when it is a link.
// Throws Exception when the journal can't be made.
class TJournalWriter {
public:
    explicit TJournalWriter(const QString& ABase);

    void Temporary(const QByteArray& APath);
    // A temporary name that was recorded but turned out to be taken: not ours to remove.
    void Forget(const QByteArray& APath);
    void Folder(const QByteArray& APath);
    void Leftover(const QByteArray& APath);
    void Step(const TJournalStep& AStep);
    void KeepReplaced();
    void CommitBegun();
    void Committed();
    void Sync() { FFile.Sync(); }
    // Closes the journal and leaves it for the next recovery.
    void Close() { FFile.Abandon(); }
    // Closes and deletes the journal, and Updates/ when the journal made it and it is empty.
    void Remove();

private:
    void Append(const QByteArray& ALine);

    QString FBase;
    platform::TExclusiveFile FFile;
    bool FMadeFolder = false;
};

// What a recovery did, for the run's record.
struct TRecovery {
    bool Found = false;           // a journal was there
    bool Forward = false;         // its commit was done: only its clean-up was finished
    bool PreviousKept = false;    // Updates/previous/ now holds the files that the commit replaced
    bool RolledBack = false;      // a committed installation was undone by its verdict
    QString PreviousNotKept;      // why the replaced files could not be kept (they were removed)
    int Restored = 0;             // old files put back
    int Removed = 0;              // temporary, aside and new files removed
    std::vector<QByteArray> Kept; // aside files still in use, left for a later run
    QStringList Problems;         // each "path: cause"
};

// Finishes AJournal over ABase: backwards (old files back, new files without an old one
// removed, temporaries and the staging's empty folders removed) unless it is committed and not
// marked for a rollback, then forwards: the old files' aside copies are moved into
// Updates/previous/ when the journal asks to keep them (see PreviousFolder), else removed.
// Touches only the names the journal records, and only where they lie below ABase on ABase's
// own file system, never through a link; a temporary or aside name must be one that an
// installation makes. A previous version that can't be kept whole is not kept at all: its
// files are removed as without the request, and PreviousNotKept says why.
TRecovery ApplyJournal(const QString& ABase, const TJournal& AJournal);

// Reads the journal that a killed run left below ABase, applies it, and removes it; while an
// aside file is still in use, the journal stays with those files as leftovers, and a journal
// that could not be applied whole (Problems) stays as it is, for the next run to try again.
// Found is false when there is none.
TRecovery RecoverInstallation(const QString& ABase);

// A committed installation whose replaced files wait for a verdict (the new version on trial):
// its journal asks to keep them and is neither kept nor rolled back yet.
bool InstallationAwaitsVerdict(const QString& ABase);

// The verdict on such an installation. APassed: the replaced files go into Updates/previous/,
// which they replace whole. Otherwise the journal is first marked for a rollback (so that a
// kill midway is finished backwards by the next recovery) and the old files are put back, the
// new ones removed. Either way the journal is then removed, as by RecoverInstallation.
TRecovery FinishInstallation(const QString& ABase, bool APassed);

// The reserved names of the files that an installation makes beside their places.
QByteArray NewTemporaryName(); // ".zlt-<8 hex digits>.tmp"
QByteArray NewAsideName();     // ".zlt-<8 hex digits>.old"

} // namespace zlt::install
