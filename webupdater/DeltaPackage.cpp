#include "webupdater/DeltaPackage.h"

#include "common/Errors.h"
#include "http/HttpClient.h"
#include "install/ZipDirectory.h"
#include "install/ZipFormat.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <exception>
#include <thread>

namespace zlt::webupdater {

using signature::TManifestEntry;

namespace {

constexpr qint64 ReadBlock = 1024 * 1024;
// The largest value a ZIP without ZIP64 records holds in a 32-bit field (all ones is its marker).
constexpr std::int64_t Max32 = 0xFFFFFFFE;
constexpr std::int64_t MaxEntries16 = 0xFFFE;
constexpr std::int64_t MaxSpanSum = std::int64_t{1} << 55; // times 100 still fits
// "Version made by": a Unix system (the permission bits are valid), ZIP 2.0.
constexpr quint16 MadeByUnix20 = (quint16{install::TZipDirectory::UnixHost} << 8) | 20;
// The file's type (S_IFREG, S_IFDIR) in the high half of the external attributes, beside its mode.
constexpr quint32 RegularFileType = 0100000;
constexpr quint32 FolderType = 0040000;

// A stored path that names a file below the folder and nothing else: no empty, "." or ".."
// part, no absolute path, no drive or stream, no backslash.
bool IsPlainName(const QString& AName) {
    if (AName.isEmpty() || AName.contains(u'\\') || AName.contains(u':')) return false;
    for (const QStringView part : QStringView(AName).split(u'/'))
        if (part.isEmpty() || part == u"." || part == u"..") return false;
    return true;
}

// Reads installed files for the comparison, with one buffer, and remembers which folders are
// real ones: a file under a link is never read through it.
class TInstalledFiles {
public:
    explicit TInstalledFiles(const QString& AFolder) : FFolder(AFolder), FBlock(ReadBlock, Qt::Uninitialized) {
        if (!FFolder.endsWith(u'/')) FFolder += u'/';
    }

    bool Holds(const TManifestEntry& AEntry) {
        if (AEntry.Name.endsWith(u'/')) {
            const QString folder = AEntry.Name.chopped(1);
            return IsPlainName(folder) && FoldersAreReal(folder + QStringLiteral("/-"));
        }
        if (!IsPlainName(AEntry.Name) || !FoldersAreReal(AEntry.Name)) return false;
        const QFileInfo info(FFolder + AEntry.Name);
        if (info.isSymLink() || !info.isFile() || info.size() != AEntry.Size) return false;
        return ContentHash(info.filePath()) == AEntry.Hash;
    }

private:
    bool FoldersAreReal(const QString& AName) {
        const qsizetype slash = AName.lastIndexOf(u'/');
        if (slash < 0) return true;
        const QString folder = AName.left(slash);
        const auto known = FFolders.constFind(folder);
        if (known != FFolders.constEnd()) return *known;
        const bool real = FoldersAreReal(folder) && platform::IsRealFolder(FFolder + folder);
        FFolders.insert(folder, real);
        return real;
    }

    // nullopt when the file can't be read whole.
    std::optional<signature::TEntryDigest> ContentHash(const QString& APath) {
        QFile file(APath);
        if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
        signature::TEntryHash hash;
        qint64 read = 0;
        while ((read = file.read(FBlock.data(), ReadBlock)) > 0)
            hash.Update(FBlock.constData(), static_cast<std::size_t>(read));
        if (read < 0 || file.error() != QFile::NoError) return std::nullopt;
        return hash.Final();
    }

    QString FFolder;
    QByteArray FBlock;
    QHash<QString, bool> FFolders; // below FFolder -> a real folder, and every one above it too
};

// Whether each of AEntries is installed as it is, on two threads when the machine has two
// cores: hashing is the whole cost, and one large file would keep a single core busy for as long
// as all the small ones together. The bytes are split evenly, the largest files first.
std::vector<char> CompareInstalled(const std::vector<const TManifestEntry*>& AEntries, const QString& AFolder) {
    std::vector<std::size_t> order(AEntries.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&AEntries](std::size_t A, std::size_t B) { return AEntries[A]->Size > AEntries[B]->Size; });
    std::vector<std::size_t> lanes[2];
    std::int64_t loads[2] = {0, 0};
    const int laneCount = std::thread::hardware_concurrency() >= 2 ? 2 : 1;
    for (const std::size_t i : order) {
        const int lane = laneCount == 2 && loads[1] < loads[0] ? 1 : 0;
        lanes[lane].push_back(i);
        loads[lane] += AEntries[i]->Size;
    }
    std::vector<char> same(AEntries.size(), 0);
    const auto compare = [&AEntries, &AFolder, &same](const std::vector<std::size_t>& ALane) {
        TInstalledFiles installed(AFolder);
        for (const std::size_t i : ALane) same[i] = installed.Holds(*AEntries[i]) ? 1 : 0;
    };
    std::exception_ptr failure;
    std::thread second([&] {
        try {
            compare(lanes[1]);
        } catch (...) {
            failure = std::current_exception();
        }
    });
    try {
        compare(lanes[0]);
    } catch (...) {
        second.join();
        throw;
    }
    second.join();
    if (failure) std::rethrow_exception(failure);
    return same;
}

// Why a ZIP of the entries APlan fetches can't be written without ZIP64; empty when it can.
QString NeedsZip64(const TDeltaPlan& APlan) {
    if (static_cast<std::int64_t>(APlan.Changed.size()) > MaxEntries16)
        return QStringLiteral("%1 changed entries are more than a plain ZIP holds").arg(APlan.Changed.size());
    if (APlan.ChangedBytes > Max32) return QStringLiteral("the changed entries need a ZIP64 package");
    for (const TManifestEntry* entry : APlan.Changed)
        if (entry->Size > Max32 || entry->Span->CompressedSize > Max32)
            return QStringLiteral("%1 needs a ZIP64 package").arg(entry->Name);
    return {};
}

QString Percent(std::int64_t APart, std::int64_t AWhole) {
    return QString::number(AWhole > 0 ? 100.0 * static_cast<double>(APart) / static_cast<double>(AWhole) : 0.0, 'f', 1);
}

} // namespace

TDeltaPlan PlanDelta(const signature::TManifest& AManifest, const QString& AFolder) {
    QElapsedTimer clock;
    clock.start();
    TDeltaPlan plan;
    std::vector<const TManifestEntry*> entries;
    for (const std::vector<TManifestEntry>* list : {&AManifest.Entries, &AManifest.Folders})
        for (const TManifestEntry& entry : *list) entries.push_back(&entry);
    plan.Entries = static_cast<std::int64_t>(entries.size());
    for (const TManifestEntry* entry : entries)
        if (!entry->Span) {
            plan.Refusal = QStringLiteral("the manifest does not give the places of the package's entries");
            return plan;
        }
    const std::vector<char> same = CompareInstalled(entries, AFolder);
    for (std::size_t i = 0; i < same.size(); ++i) {
        if (same[i] != 0) {
            ++plan.Unchanged;
            continue;
        }
        plan.Changed.push_back(entries[i]);
        // Saturated: the lengths of a manifest that is no publisher's could add up past any size.
        plan.ChangedBytes = std::min(plan.ChangedBytes + entries[i]->Span->Length, MaxSpanSum);
    }
    std::sort(plan.Changed.begin(), plan.Changed.end(),
              [](const TManifestEntry* A, const TManifestEntry* B) { return A->Span->Offset < B->Span->Offset; });
    plan.CompareSeconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (plan.ChangedBytes * 100 > AManifest.PackageSize * MaxDeltaPercent)
        plan.Refusal = QStringLiteral("%1 of %2 entries changed, %3% of the package (more than %4%)")
                           .arg(plan.Changed.size())
                           .arg(plan.Entries)
                           .arg(Percent(plan.ChangedBytes, AManifest.PackageSize))
                           .arg(MaxDeltaPercent);
    else
        plan.Refusal = NeedsZip64(plan);
    return plan;
}

std::vector<TPartRequest> GroupParts(const std::vector<const TManifestEntry*>& AChanged, std::int64_t AMaxGap) {
    std::vector<TPartRequest> requests;
    for (const TManifestEntry* entry : AChanged) {
        const std::int64_t first = entry->Span->Offset;
        const std::int64_t last = first + entry->Span->Length - 1;
        if (!requests.empty() && first > requests.back().Last && first - requests.back().Last - 1 < AMaxGap) {
            requests.back().Last = last;
        } else {
            requests.push_back({first, last, {}});
        }
        requests.back().Entries.push_back(entry);
    }
    return requests;
}

// --- the ZIP of the changed entries ---------------------------------------------------------

namespace {

constexpr qsizetype WriteBlock = 1024 * 1024;
constexpr std::int64_t ProgressStep = 512 * 1024;

// A field of a record read from the span's bytes; a field that lies beyond them is an error,
// and the check also tells the compiler that no read goes past the record.
void CheckField(const QByteArray& ARecord, qint64 AOffset, std::size_t ASize) {
    if (AOffset < 0 || AOffset + static_cast<qint64>(ASize) > ARecord.size())
        throw Exception(QStringLiteral("A header of the changed entries is cut short"));
}

template <typename T>
void Put(QByteArray& ARecord, qint64 AOffset, T AValue) {
    CheckField(ARecord, AOffset, sizeof(T));
    qToLittleEndian<T>(AValue, ARecord.data() + AOffset);
}

template <typename T>
T Get(const QByteArray& ARecord, qint64 AOffset) {
    CheckField(ARecord, AOffset, sizeof(T));
    return qFromLittleEndian<T>(ARecord.constData() + AOffset);
}

// The length of a local header with its name and extra field, which its first 30 bytes give.
qint64 LocalHeaderLength(const QByteArray& AHeader) {
    return install::TLocalHeader::Size + Get<quint16>(AHeader, install::TLocalHeader::NameLength) +
           Get<quint16>(AHeader, install::TLocalHeader::ExtraLength);
}

} // namespace

TDeltaZip::TDeltaZip(platform::TExclusiveFile& AFile) : FFile(AFile) { FPending.reserve(WriteBlock); }

void TDeltaZip::Begin(const TManifestEntry& AEntry) {
    if (FHash) throw Exception(QStringLiteral("The span of %1 was cut short").arg(FRecords.back().Entry->Name));
    FRecords.push_back({&AEntry, FWritten, {}});
    FHash.emplace();
    FSpanDone = 0;
}

void TDeltaZip::Append(const char* AData, std::size_t ASize) {
    TRecord& record = FRecords.back();
    const signature::TManifestSpan& span = *record.Entry->Span;
    const auto size = static_cast<std::int64_t>(ASize);
    if (!FHash || FSpanDone + size > span.Length)
        throw Exception(QStringLiteral("More bytes than the span of %1 holds").arg(record.Entry->Name));
    // The local header, name and extra field are kept for the directory; they are the span's
    // first bytes, and their lengths stand in the header's first 30.
    qint64 wanted = record.Header.size() >= install::TLocalHeader::Size ? LocalHeaderLength(record.Header)
                                                                        : install::TLocalHeader::Size;
    for (qsizetype taken = 0; record.Header.size() < wanted && taken < static_cast<qsizetype>(ASize);) {
        const qsizetype piece = std::min<qsizetype>(wanted - record.Header.size(),
                                                    static_cast<qsizetype>(ASize) - taken);
        record.Header.append(AData + taken, piece);
        taken += piece;
        if (record.Header.size() == install::TLocalHeader::Size) wanted = LocalHeaderLength(record.Header);
    }
    FHash->Update(AData, ASize);
    Write(AData, ASize);
    FSpanDone += size;
    if (FSpanDone == span.Length) EndSpan();
}

void TDeltaZip::EndSpan() {
    const TRecord& record = FRecords.back();
    const signature::TManifestSpan& span = *record.Entry->Span;
    const signature::TEntryDigest digest = FHash->Final();
    FHash.reset();
    if (digest != span.Hash)
        throw Exception(
            QStringLiteral("The bytes of %1 (%2 at byte %3 of the package) do not match the manifest's hash")
                .arg(record.Entry->Name)
                .arg(span.Length)
                .arg(span.Offset));
    // The hash vouches for what the publisher wrote; this vouches for what the directory will say.
    const qint64 nameLength = record.Header.size() >= install::TLocalHeader::Size
                                  ? Get<quint16>(record.Header, install::TLocalHeader::NameLength)
                                  : -1;
    if (nameLength < 0 || Get<quint32>(record.Header, 0) != install::TLocalHeader::Signature ||
        record.Header.mid(install::TLocalHeader::Size, nameLength) != record.Entry->Name.toUtf8())
        throw Exception(QStringLiteral("The span of %1 does not begin with its local header").arg(record.Entry->Name));
}

void TDeltaZip::Write(const char* AData, std::size_t ASize) {
    FPending.append(AData, static_cast<qsizetype>(ASize));
    FWritten += static_cast<std::int64_t>(ASize);
    if (FPending.size() >= WriteBlock) Flush();
}

void TDeltaZip::Flush() {
    FFile.Write(FPending.constData(), static_cast<std::size_t>(FPending.size()));
    FPending.resize(0);
}

QByteArray TDeltaZip::DirectoryRecord(const TRecord& ARecord) const {
    using install::TDirectoryHeader;
    using install::TLocalHeader;
    const signature::TManifestSpan& span = *ARecord.Entry->Span;
    const QByteArray name = ARecord.Entry->Name.toUtf8();
    QByteArray record(TDirectoryHeader::Size, '\0');
    Put<quint32>(record, 0, TDirectoryHeader::Signature);
    Put<quint16>(record, TDirectoryHeader::VersionMadeBy, MadeByUnix20);
    for (const auto& [from, to] :
         {std::pair{TLocalHeader::VersionNeeded, TDirectoryHeader::VersionNeeded},
          std::pair{TLocalHeader::Flags, TDirectoryHeader::Flags},
          std::pair{TLocalHeader::Method, TDirectoryHeader::Method},
          std::pair{TLocalHeader::Time, TDirectoryHeader::Time}, std::pair{TLocalHeader::Date, TDirectoryHeader::Date}})
        Put<quint16>(record, to, Get<quint16>(ARecord.Header, from));
    Put<quint32>(record, TDirectoryHeader::Crc, span.Crc);
    Put<quint32>(record, TDirectoryHeader::CompressedSize, static_cast<quint32>(span.CompressedSize));
    Put<quint32>(record, TDirectoryHeader::UncompressedSize, static_cast<quint32>(ARecord.Entry->Size));
    Put<quint16>(record, TDirectoryHeader::NameLength, static_cast<quint16>(name.size()));
    Put<quint32>(record, TDirectoryHeader::ExternalAttributes,
                 ((ARecord.Entry->Name.endsWith(u'/') ? FolderType : RegularFileType) | static_cast<quint32>(span.Mode))
                     << 16);
    Put<quint32>(record, TDirectoryHeader::LocalHeaderOffset, static_cast<quint32>(ARecord.Offset));
    return record + name;
}

void TDeltaZip::Finish() {
    if (FHash) throw Exception(QStringLiteral("The span of %1 was cut short").arg(FRecords.back().Entry->Name));
    const std::int64_t directoryOffset = FWritten;
    for (const TRecord& record : FRecords) {
        const QByteArray bytes = DirectoryRecord(record);
        Write(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    using install::TEndRecord;
    QByteArray end(TEndRecord::Size, '\0');
    Put<quint32>(end, 0, TEndRecord::Signature);
    Put<quint16>(end, TEndRecord::DiskEntryCount, static_cast<quint16>(FRecords.size()));
    Put<quint16>(end, TEndRecord::EntryCount, static_cast<quint16>(FRecords.size()));
    Put<quint32>(end, TEndRecord::DirectorySize, static_cast<quint32>(FWritten - directoryOffset));
    Put<quint32>(end, TEndRecord::DirectoryOffset, static_cast<quint32>(directoryOffset));
    Write(end.constData(), static_cast<std::size_t>(end.size()));
    Flush();
    FFile.Close();
}

// --- the transfer ---------------------------------------------------------------------------

namespace {

// The body of one request, split into the spans it holds and the bytes between them (dropped).
class TPartSink {
public:
    TPartSink(const TPartRequest& ARequest, TDeltaZip& AZip) : FRequest(ARequest), FZip(AZip), FAt(ARequest.First) {}

    void operator()(const char* AData, std::size_t ASize) {
        auto left = static_cast<std::int64_t>(ASize);
        while (left > 0) {
            std::int64_t take = left;
            if (FNext < FRequest.Entries.size()) {
                const signature::TManifestSpan& span = *FRequest.Entries[FNext]->Span;
                if (FAt < span.Offset) {
                    take = std::min(left, span.Offset - FAt);
                } else {
                    if (FAt == span.Offset) FZip.Begin(*FRequest.Entries[FNext]);
                    take = std::min(left, span.Offset + span.Length - FAt);
                    FZip.Append(AData, static_cast<std::size_t>(take));
                    if (FAt + take == span.Offset + span.Length) ++FNext;
                }
            }
            AData += take;
            FAt += take;
            left -= take;
        }
    }

private:
    const TPartRequest& FRequest;
    TDeltaZip& FZip;
    std::int64_t FAt;      // the package's byte that comes next
    std::size_t FNext = 0; // the entry that comes next
};

} // namespace

TDeltaResult FetchDelta(http::TZLTHttp& AClient, const QString& AURL, const TDeltaPlan& APlan, TDeltaZip& AZip,
                        const TDeltaEvents& AEvents) {
    const std::vector<TPartRequest> requests = GroupParts(APlan.Changed);
    std::int64_t total = 0;
    for (const TPartRequest& request : requests) total += request.Last - request.First + 1;
    if (AEvents.Begin) AEvents.Begin(total);
    TDeltaResult result;
    std::int64_t reported = 0;
    // libcurl hands over a few KiB at a time; a progress display repainted for each would cost
    // more than the transfer.
    const auto progress = [&](std::int64_t ADone) {
        if (!AEvents.Progress || (ADone - reported < ProgressStep && ADone != total)) return;
        reported = ADone;
        AEvents.Progress(ADone);
    };
    http::TZLTHttp::TResume resume;
    resume.Resuming = AEvents.Resuming;
    for (const TPartRequest& request : requests) {
        TPartSink sink(request, AZip);
        std::int64_t received = 0;
        AClient.GetPart(
            AURL, request.First, request.Last,
            [&](const char* AData, std::size_t ASize) {
                sink(AData, ASize);
                received += static_cast<std::int64_t>(ASize);
                progress(result.Received + received);
            },
            resume);
        ++result.Requests;
        result.Received += received;
    }
    AZip.Finish();
    return result;
}

} // namespace zlt::webupdater
