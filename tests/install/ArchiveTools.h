#pragma once

// libarchive for the tests' own use: archives of other formats than ZIP, and an extraction
// without the guard, which shows that what the guard keeps out would land.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zlt::test {

// Writes AFile as an archive of libarchive's format AFormat ("ustar", "7zip", ...) holding one
// file AName with AData. Empty on success, else libarchive's text.
QString WriteOtherArchive(const QString& AFile, const char* AFormat, const QByteArray& AName, const QByteArray& AData);

// Extracts every entry of the ZIP archive AZip with libarchive's disk writer and none of its
// secure flags, in the working folder AFolder (restored afterwards): absolute paths, ".." and
// links are followed where they lead. Returns libarchive's text for each entry that failed.
QStringList ExtractWithoutGuard(const QString& AZip, const QString& AFolder);

} // namespace zlt::test
