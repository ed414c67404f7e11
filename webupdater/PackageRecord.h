#pragma once

#include <QString>

namespace zlt::webupdater {

// The package files that downloads made in a folder (Updates/), recorded in its
// "packages.list" as each is created, so that a later clean-up removes those files and nothing
// else a user keeps there. A record that is a link or no regular file is never written through.
QString PackageRecordFile(const QString& AFolder);
void RecordPackage(const QString& AFileName);
// Removes the recorded packages of AFolder that are still there, and the record; returns how
// many files went. Only plain names in AFolder itself are taken, never through a link.
int RemoveRecordedPackages(const QString& AFolder);

// The file in AFolder (Updates/) whose lock the updater of the folder holds for its whole run,
// whatever the updater's own name: one updater per folder.
QString RunLockFile(const QString& AFolder);

} // namespace zlt::webupdater
