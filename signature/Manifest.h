#pragma once

#include "signature/Minisign.h"
#include "signature/Release.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace zlt::signature {

using TEntryDigest = std::array<std::uint8_t, 32>; // BLAKE2b-256

// Where an entry stands in the package, so that it can be fetched alone by an HTTP range: its
// span runs from its local header through its data and data descriptor. With the facts that
// only the package's central directory holds, a ZIP of the entry can be rebuilt around it.
struct TManifestSpan {
    std::int64_t Offset = 0; // of the local header, from the package's start
    std::int64_t Length = 0;
    TEntryDigest Hash{};     // BLAKE2b-256 of the span's bytes
    std::uint32_t Crc = 0;   // CRC-32 of the entry's content, as the ZIP states it
    std::int64_t CompressedSize = 0;
    int Mode = 0; // Unix permission bits
    bool operator==(const TManifestSpan&) const = default;
};

// One file of the package as the manifest lists it. A reader ignores keys it does not know,
// so older clients read newer manifests.
struct TManifestEntry {
    QString Name; // the stored path, '/'-separated
    std::int64_t Size = 0;
    TEntryDigest Hash{};              // BLAKE2b-256 of the file's content
    std::optional<TManifestSpan> Span; // absent in the manifests of older publishers
};

// <package>.manifest: what zlt-publish states about a release, signed beside it.
struct TManifest {
    static constexpr int CurrentFormat = 1;
    int Format = CurrentFormat;
    QString App;
    QString Version;
    QString Channel;
    QDateTime Created;                // UTC
    std::optional<QDateTime> Expires; // UTC
    QString PackageName;
    std::int64_t PackageSize = 0;
    TDigest PackageHash{};
    std::vector<TManifestEntry> Entries;
    // The folders of the package (names end with '/'; no size or hash), each with its place, so
    // that a folder missing from an installation, an empty one too, can travel alone.
    std::vector<TManifestEntry> Folders;

    TReleaseFacts Facts() const;
};

// A manifest larger than this is no manifest of ours (an error page, a package served in its
// place): its reading stops there.
constexpr std::int64_t MaxManifestBytes = 64 * 1024 * 1024;

// The manifest as JSON, keys in a fixed order, UTF-8.
QByteArray ManifestJson(const TManifest& AManifest);
// Throws Exception naming what is wrong: not JSON, a format this reader does not know, a
// missing or mistyped field.
TManifest ParseManifest(const QByteArray& AJson);

// Throws Exception when a package of ASize bytes with the digest ADigest is not the one
// AManifest describes.
void CheckPackage(const TManifest& AManifest, std::int64_t ASize, const TDigest& ADigest);

// BLAKE2b-256 of a stream, fed piece by piece: the hash of a manifest's entries.
class TEntryHash {
public:
    TEntryHash();
    ~TEntryHash();
    TEntryHash(const TEntryHash&) = delete;
    TEntryHash& operator=(const TEntryHash&) = delete;
    void Update(const char* AData, std::size_t ASize);
    TEntryDigest Final();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};

// Lower-case hexadecimal, as b2sum prints it.
template <std::size_t N>
QString HexText(const std::array<std::uint8_t, N>& ADigest) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(ADigest.data()), static_cast<qsizetype>(N)).toHex());
}

} // namespace zlt::signature
