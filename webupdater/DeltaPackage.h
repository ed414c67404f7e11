#pragma once

#include "platform/Files.h"
#include "signature/Manifest.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace zlt::http {
class TZLTHttp;
}

namespace zlt::webupdater {

// Above this share of the package, the changed entries travel inside the whole package: one
// plain transfer beats many parts.
inline constexpr int MaxDeltaPercent = 60;
// Spans closer than this go in one request: the bytes between cost less than another request.
inline constexpr std::int64_t MaxPartGap = 64 * 1024;

// What an update needs of a package, given the files that are installed.
struct TDeltaPlan {
    // The entries to fetch, in the package's order; each has its span.
    std::vector<const signature::TManifestEntry*> Changed;
    std::int64_t ChangedBytes = 0; // the sum of their spans
    std::int64_t Entries = 0;      // of the package: files and folders
    std::int64_t Unchanged = 0;
    double CompareSeconds = 0;
    // Why the whole package must travel; empty when the plan holds.
    QString Refusal;
};

// Compares every entry of AManifest with the file at its path below AFolder: the size, then
// the BLAKE2b-256 of the content; each file is read at most once. A file counts as changed when
// it is missing, is no regular file, lies under a link, can't be read, or has an unsafe name. A
// folder of the manifest counts as changed when it is not a real folder (missing, or a link).
// The plan is refused when the manifest does not give every entry's span, when a ZIP of the
// changed entries would need ZIP64, or when they are more than MaxDeltaPercent of the package.
TDeltaPlan PlanDelta(const signature::TManifest& AManifest, const QString& AFolder);

// One request: the bytes First to Last of the package, which hold the spans of Entries whole.
struct TPartRequest {
    std::int64_t First = 0;
    std::int64_t Last = 0;
    std::vector<const signature::TManifestEntry*> Entries;
};

// The changed entries (in the package's order) gathered into requests: spans less than AMaxGap
// apart go in one.
std::vector<TPartRequest> GroupParts(const std::vector<const signature::TManifestEntry*>& AChanged,
                                     std::int64_t AMaxGap = MaxPartGap);

// A ZIP of some entries of a package, written into AFile from their spans as they arrive: the
// local headers and data copied as they are, and a new central directory made of the
// manifest's facts. Each span is checked against its hash before the next one begins; a span
// that does not match, or whose header names another entry, throws Exception with the cause.
// Spans must come whole and in the order of Begin calls.
class TDeltaZip {
public:
    explicit TDeltaZip(platform::TExclusiveFile& AFile);
    void Begin(const signature::TManifestEntry& AEntry);
    // Bytes of the span begun; throws when they go past its end or fail its hash.
    void Append(const char* AData, std::size_t ASize);
    // Writes the central directory and the end record, and closes the file.
    void Finish();

private:
    struct TRecord {
        const signature::TManifestEntry* Entry = nullptr;
        std::int64_t Offset = 0; // of its local header in this ZIP
        QByteArray Header;       // its local header, name and extra field
    };

    void EndSpan();
    void Write(const char* AData, std::size_t ASize);
    void Flush();
    QByteArray DirectoryRecord(const TRecord& ARecord) const;

    platform::TExclusiveFile& FFile;
    std::vector<TRecord> FRecords;
    std::optional<signature::TEntryHash> FHash;
    std::int64_t FSpanDone = 0; // of the span begun
    std::int64_t FWritten = 0;
    QByteArray FPending;
};

// Where a step of the delta transfer reports.
struct TDeltaEvents {
    std::function<void(std::int64_t ATotal)> Begin;
    std::function<void(std::int64_t ADone)> Progress;
    // A part broke off and is asked for again from AOffset (of the package).
    std::function<void(std::int64_t AOffset, const QString& ACause)> Resuming;
};

struct TDeltaResult {
    std::int32_t Requests = 0;
    std::int64_t Received = 0; // over every request, the bytes between spans included
};

// Fetches the changed entries of APlan from the package at AURL by HTTP ranges on AClient (one
// handle, its connection kept between requests) into AZip, and finishes it. Throws
// http::EPartsNotServed when the server ignores ranges, Exception with the cause otherwise.
TDeltaResult FetchDelta(http::TZLTHttp& AClient, const QString& AURL, const TDeltaPlan& APlan, TDeltaZip& AZip,
                        const TDeltaEvents& AEvents);

} // namespace zlt::webupdater
