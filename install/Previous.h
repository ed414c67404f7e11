#pragma once

#include "install/Staging.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zlt::install {

// The version before the current one, kept in Updates/previous/ below the installation's
// folder: each file that the last installation replaced, moved there at its relative path, and
// a list (PreviousListName, in that folder) of the files it replaced and of those it added.
// Only one is kept; the next installation's verdict replaces it whole. While a kept version is
// made it lies in Updates/previous.new/, and the one it replaces goes through
// Updates/previous.old/ (see ApplyJournal).
inline constexpr char PreviousFolderName[] = "Updates/previous";
inline constexpr char PreviousBuildName[] = "Updates/previous.new";
inline constexpr char PreviousRetiredName[] = "Updates/previous.old";
inline constexpr char PreviousListName[] = "previous.list";

// What a kept version holds. Paths as the journal records them ('/'-separated, relative).
struct TPreviousVersion {
    std::vector<QByteArray> Replaced; // in Updates/previous/ at these paths
    std::vector<QByteArray> Added;    // to be removed when the previous version returns
    std::vector<QByteArray> Folders;  // made for the added files: removed with them when empty
};

QByteArray PreviousListText(const TPreviousVersion& AVersion);

// The kept version below ABase; nullopt when there is none: no real folder, or no list that
// can be read.
std::optional<TPreviousVersion> ReadPreviousVersion(const QString& ABase);

// The bytes of the kept version's files below ABase (links not followed); 0 when none is kept.
std::int64_t PreviousVersionBytes(const QString& ABase);

// Removes the kept version below ABase, and a half-made or retired one; a link under one of
// their names goes, never what it leads to. True when something was removed.
bool RemovePreviousVersion(const QString& ABase);

// Puts the kept version back over ABase through an installation's journal, all or nothing: a
// copy of each kept file is staged beside its place, each added file goes aside, then one
// commit. The files that the rollback replaces and removes become the kept version in their
// turn (so a second rollback returns to the version rolled back from), and the folders that
// only held removed files go. AProgress gets the share of files staged (0 to 100). Throws
// Exception when there is no kept version or a kept file is missing or not ours (nothing
// changed), EInstallationUndone when the installation failed and was undone.
struct TRestored {
    TStaging::TCommitted Committed;
    TRecovery Kept; // how the version rolled back from was kept
};
TRestored RestorePreviousVersion(const QString& ABase, const std::function<void(int APercent)>& AProgress);

} // namespace zlt::install
