#pragma once

#include "signature/Manifest.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

namespace zlt::publish {

// Tells how far a long step is: AStep names it, ADone of ATotal units are done.
using TProgress = std::function<void(const QString& AStep, std::int64_t ADone, std::int64_t ATotal)>;

// A file or folder of the folder to publish, named by its path below it ('/'-separated).
struct TPackageItem {
    QString Name;
    QString Path;
    bool Folder = false;
    int Mode = 0; // Unix permission bits
    std::int64_t Size = 0;
};

// Every file and folder below AFolder in a fixed order (by the UTF-8 bytes of their names),
// whatever order the file system lists them in. Throws Exception naming the file and the cause
// for a folder that can't be read, a link or anything but files and folders.
std::vector<TPackageItem> ListFolder(const QString& AFolder);

// What the package holds, as the manifest states it.
struct TPackageFacts {
    std::int64_t Size = 0;
    signature::TDigest Hash{}; // BLAKE2b-512 of the whole file
    std::vector<signature::TManifestEntry> Entries;
    std::vector<signature::TManifestEntry> Folders; // names ending with '/'
};

// Writes AItems into the ZIP file AZipFile (created; it must not exist): deflated, in the
// given order, each with its Unix mode, its name in UTF-8 (flagged as such where it is not
// ASCII), owner 0 and one fixed time, so that the same folder gives the same bytes. Throws
// Exception naming the file and the cause; AZipFile is then incomplete and the caller's to
// remove.
TPackageFacts WritePackage(const std::vector<TPackageItem>& AItems, const QString& AZipFile,
                           const TProgress& AProgress);

// The files a ZIP holds, with their sizes and BLAKE2b-256, in the ZIP's order: what a
// manifest's entries say of it. Throws Exception with libarchive's cause.
std::vector<signature::TManifestEntry> ReadPackageEntries(const QString& AZipFile);

// The entries of AEntries whose place the ZIP AZipFile does not hold: their span, CRC or
// compressed size differ, or the span's bytes fail its hash. Entries without a place pass.
// Throws Exception when the ZIP's directory can't be read.
QStringList MisplacedEntries(const std::vector<signature::TManifestEntry>& AEntries, const QString& AZipFile);

} // namespace zlt::publish
