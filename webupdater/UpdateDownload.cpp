#include "webupdater/WebUpdater.h"

#include "common/Errors.h"
#include "common/ScopeExit.h"
#include "common/Text.h"
#include "http/HttpClient.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "ui/Application.h"
#include "ui/WindowMessages.h"
#include "webupdater/BackgroundHash.h"
#include "webupdater/DeltaPackage.h"
#include "webupdater/PackageRecord.h"
#include "webupdater/ProgressDialog.h"
#include "signature/Manifest.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>
#include <QUrl>
#include <QDateTime>

#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace zlt::webupdater {

namespace {

// A transfer that failed, with the failure's own message; the partial file is gone by then.
class ETransferFailed : public Exception {
public:
    using Exception::Exception;
};

// A package that is not signed by a trusted key, or whose signature cannot be had.
class ESignatureRefused : public Exception {
public:
    using Exception::Exception;
};

QString ReasonOf(const std::exception_ptr& AError) {
    try {
        std::rethrow_exception(AError);
    } catch (const Exception& error) {
        return error.Message();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        return QStringLiteral("unknown failure");
    }
}

void DeleteIfExists(const QString& AFileName) {
    if (!AFileName.isEmpty() && platform::FileExists(AFileName)) platform::DeleteFile(AFileName);
}

} // namespace

QString TZLTWebUpdater::PackageFileName() const {
    const QString extension = FftyFileType_ == TFileTypeExt::tfeExe ? QStringLiteral(".exe") : QStringLiteral(".zip");
    return platform::ExecutableFolder() + QStringLiteral("Updates/update") +
           platform::LocalNow().toString(QStringLiteral("yyyyMMdd_HHmmss")) + extension;
}

namespace {

// The package file, created fresh: when the name of this second is taken (a download of the
// same second, or anything planted under the name), a numbered one beside it is used, and
// what stands under the taken name is left alone.
platform::TExclusiveFile CreatePackageFile(const QString& AFileName) {
    constexpr int MaxAttempts = 100;
    const qsizetype dot = AFileName.lastIndexOf(u'.');
    for (int attempt = 1; attempt <= MaxAttempts; ++attempt) {
        const QString name = attempt == 1
                                 ? AFileName
                                 : AFileName.left(dot) + QStringLiteral("_%1").arg(attempt) + AFileName.mid(dot);
        if (std::optional<platform::TExclusiveFile> file = platform::TExclusiveFile::CreateNew(name)) {
            RecordPackage(name); // for the clean-up of a later run
            return std::move(*file);
        }
    }
    return platform::TExclusiveFile::Create(AFileName); // raises "File exists" with the name
}

} // namespace

std::optional<QByteArray> TZLTWebUpdater::FetchBeside(http::TZLTHttp& AClient, const QString& ASuffix,
                                                      const QString& AWhat, std::int64_t AMaxBytes, bool AOptional) {
    // Beside the package: the suffix goes on the path, before any query or fragment.
    qsizetype pathEnd = FstrDownloUrl.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (pathEnd < 0) pathEnd = FstrDownloUrl.size();
    const QString address = QString(FstrDownloUrl).insert(pathEnd, ASuffix);
    // Files beside the package are no part of it: the host's progress shows the package alone.
    const auto workBegin = std::exchange(AClient.OnWorkBegin, nullptr);
    const auto work = std::exchange(AClient.OnWork, nullptr);
    const TScopeExit restore([&] {
        AClient.OnWorkBegin = workBegin;
        AClient.OnWork = work;
    });
    QByteArray text;
    try {
        AClient.Get(address, [&text, AMaxBytes](const char* AData, std::size_t ASize) {
            if (text.size() + static_cast<qsizetype>(ASize) > AMaxBytes)
                throw Exception(QStringLiteral("larger than %1 bytes").arg(AMaxBytes));
            text.append(AData, static_cast<qsizetype>(ASize));
        });
    } catch (const Exception& error) {
        const QString cause = QStringLiteral("The %1 %2 could not be fetched: %3")
                                  .arg(AWhat, http::DisplayUrl(address), OneLine(error.Message()));
        if (!AOptional) throw Exception(cause);
        // Whoever can make it fail can as well answer that there is none: the package's own
        // signature then states the facts. The record tells the two apart.
        if (AClient.ResponseCode() != 404 && AClient.ResponseCode() != 410)
            Log(TLogLevel::llInfo, cause + QStringLiteral("; the package is checked without it"));
        return std::nullopt;
    }
    return text;
}

TZLTWebUpdater::TSignatureCheck TZLTWebUpdater::FetchSignature(http::TZLTHttp& AClient) {
    TSignatureCheck check;
    try {
        const std::vector<signature::TPublicKey> keys = signature::ParsePublicKeys(FPublicKeys);
        if (keys.empty()) throw Exception(QStringLiteral("No usable public key is set"));
        const QByteArray text = *FetchBeside(AClient, QStringLiteral(".minisig"), QStringLiteral("signature"),
                                             signature::MaxSignatureFileBytes, false);
        check.Signature = signature::ParseSignature(text);
        check.Key = signature::SigningKey(keys, check.Signature);
        // Known now, so refused before the package is fetched, let alone anything stopped.
        if (!check.Signature.Prehashed)
            throw Exception(QStringLiteral("The package carries a legacy signature (not prehashed); only prehashed "
                                           "signatures are accepted: sign it with a current minisign"));
    } catch (const Exception& error) {
        throw ESignatureRefused(error.Message());
    }
    return check;
}

std::optional<signature::TManifest> TZLTWebUpdater::FetchManifest(http::TZLTHttp& AClient) {
    try {
        const std::optional<QByteArray> text = FetchBeside(AClient, QStringLiteral(".manifest"), QStringLiteral("manifest"),
                                                           signature::MaxManifestBytes, true);
        if (!text) return std::nullopt;
        QString signedBy = QStringLiteral("unsigned");
        if (!FPublicKeys.isEmpty()) {
            const signature::TSignature manifestSignature = signature::ParseSignature(
                *FetchBeside(AClient, QStringLiteral(".manifest.minisig"), QStringLiteral("manifest's signature"),
                             signature::MaxSignatureFileBytes, false));
            const std::vector<signature::TPublicKey> keys = signature::ParsePublicKeys(FPublicKeys);
            const signature::TPublicKey& key = signature::SigningKey(keys, manifestSignature);
            signature::TPrehash hash;
            hash.Update(text->constData(), static_cast<std::size_t>(text->size()));
            signature::Verify(key, manifestSignature, hash.Final());
            signedBy = QStringLiteral("signed by key %1").arg(signature::KeyIdText(key.KeyId));
        }
        signature::TManifest manifest = signature::ParseManifest(*text);
        Log(TLogLevel::llInfo, QStringLiteral("Manifest of %1 read (%2): app %3, version %4, channel %5")
                                   .arg(http::DisplayUrl(FstrDownloUrl), signedBy, manifest.App, manifest.Version,
                                        manifest.Channel));
        return manifest;
    } catch (const Exception& error) {
        throw ESignatureRefused(QStringLiteral("Manifest: %1").arg(error.Message()));
    }
}

void TZLTWebUpdater::CheckReleaseFacts(const std::optional<TSignatureCheck>& ACheck,
                                       const std::optional<signature::TManifest>& AManifest) {
    signature::TExpectedRelease expected;
    expected.InstalledVersion = FstrVerNumber;
    expected.Channel = FReleaseChannel;
    expected.App = FReleaseApp;
    expected.File = QUrl(FstrDownloUrl).fileName();
    expected.Now = QDateTime::currentDateTimeUtc();
    try {
        if (AManifest) signature::CheckRelease(AManifest->Facts(), expected);
        if (!ACheck) return;
        const signature::TReleaseFacts facts = signature::ParseTrustedComment(ACheck->Signature.TrustedComment);
        signature::CheckRelease(facts, expected);
        if (!AManifest && !facts.Versioned())
            Log(TLogLevel::llInfo,
                QStringLiteral("Package %1 has an unversioned signature: its trusted comment states no version, "
                               "channel or app, so only its signature is checked")
                    .arg(http::DisplayUrl(FstrDownloUrl)));
    } catch (const Exception& error) {
        throw ESignatureRefused(error.Message());
    }
}

namespace {

// Where a step of the download records what it did: the component's log.
using TLog = std::function<void(TLogLevel ALevel, const QString& AText)>;

// A package that can't be accepted: the refusal recorded, and the failure to throw.
ETransferFailed Refusal(const TLog& ALog, const QString& AAddress, const QString& AReason) {
    ALog(TLogLevel::llError, QStringLiteral("Package %1 refused: %2").arg(AAddress, OneLine(AReason)));
    return ETransferFailed(AReason);
}

// A folder that the run's lock alone stands in was made for this run: it goes with it.
bool HoldsOnlyTheRunLock(const QString& AFolder) {
    return platform::IsRealFolder(AFolder) &&
           QDir(AFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot) ==
               QStringList{QFileInfo(RunLockFile(AFolder)).fileName()};
}

// Updates/ beside the executable, where the package goes: made when missing, refused when a
// link or a file stands under its name.
class TPackageFolder {
public:
    TPackageFolder()
        : FPath(platform::ExecutableFolder() + QStringLiteral("Updates")),
          FExisted((QFileInfo::exists(FPath) || QFileInfo(FPath).isSymLink()) && !HoldsOnlyTheRunLock(FPath)) {
        if (FExisted && !platform::IsRealFolder(FPath))
            throw Exception(
                QStringLiteral("Cannot create the package file. \"%1\" is not a folder of its own (a link or a file).")
                    .arg(FPath));
        platform::ForceDirectories(FPath);
    }

    // Throws when a package of ADeclared bytes (0 or less: not declared) can't fit.
    void RequireRoom(std::int64_t ADeclared) const {
        const qint64 available = QStorageInfo(FPath).bytesAvailable();
        if (ADeclared > 0 && available >= 0 && ADeclared > available)
            throw Exception(QStringLiteral("The package (%1 bytes) does not fit on the disk (%2 bytes free)")
                                .arg(ADeclared)
                                .arg(available));
    }

    // A failed update leaves the application's folder as it found it: the package goes, and
    // the folder too when this call made it and nothing else is in it (rmdir leaves a folder
    // with files).
    void Discard(const QString& AFileName) const {
        DeleteIfExists(AFileName);
        if (FExisted) return;
        platform::RemoveFile(PackageRecordFile(FPath)); // it names this package alone
        QDir().rmdir(FPath);
    }

private:
    QString FPath;
    bool FExisted;
};

// One transfer of the package into its file, resumptions included: the pieces the client
// hands over gathered into large writes, hashed on the side when a signature waits for them,
// the file emptied when the transfer starts over, and each turn recorded.
class TPackageTransfer {
public:
    TPackageTransfer(platform::TExclusiveFile AFile, bool AHashed, const QString& AAddress, TLog ALog)
        : FFile(std::move(AFile)), FAddress(AAddress), FLog(std::move(ALog)) {
        FPending.reserve(WriteBlock);
        if (AHashed) FHash.emplace();
    }

    const QString& FileName() const { return FFile.FileName(); }
    std::int64_t Size() const { return FKept; }
    // Returns with the file complete and closed. A failure leaves it abandoned (the caller
    // deletes it), records its cause and throws ETransferFailed.
    void Run(http::TZLTHttp& AClient, const QString& AURL, const http::TZLTHttp::TBodyBegin& ABodyBegin);
    // Of the whole file; only for a transfer made with AHashed.
    signature::TDigest Digest() { return FHash->Final(); }

private:
    void ReadyRead(const char* AData, std::size_t ASize);
    void WritePending();
    void Restart();
    void Resuming(const http::TZLTHttp& AClient, std::int32_t AMaxResumptions, std::int64_t AOffset,
                  const QString& ACause) const;
    void Finished(const http::TZLTHttp& AClient) const;
    [[noreturn]] void Failed(const http::TZLTHttp& AClient, const std::exception_ptr& AError);

    // libcurl hands the body over in pieces of 16 KiB; written one by one they cost as much
    // system time as the transfer itself, so they are gathered into larger writes.
    static constexpr qsizetype WriteBlock = 1024 * 1024;

    platform::TExclusiveFile FFile;
    QString FAddress;
    TLog FLog;
    QByteArray FPending;
    std::optional<TBackgroundHash> FHash;
    std::int64_t FReceived = 0; // over every try, for the record
    std::int64_t FKept = 0;     // of the file as it stands
    std::int64_t FDiscarded = 0; // what the last start over emptied
    QElapsedTimer FClock;
};

void TPackageTransfer::Run(http::TZLTHttp& AClient, const QString& AURL, const http::TZLTHttp::TBodyBegin& ABodyBegin) {
    FClock.start();
    http::TZLTHttp::TResume resume; // tries and pauses as TZLTHttpDefaults sets them
    resume.Restart = [this] { Restart(); };
    resume.Resuming = [this, &AClient, max = resume.MaxResumptions](std::int64_t AOffset, const QString& ACause) {
        Resuming(AClient, max, AOffset, ACause);
    };
    try {
        AClient.Download(
            AURL, [this](const char* AData, std::size_t ASize) { ReadyRead(AData, ASize); }, ABodyBegin, resume);
        WritePending();
        FFile.Close();
    } catch (...) {
        Failed(AClient, std::current_exception());
    }
    Finished(AClient);
}

void TPackageTransfer::ReadyRead(const char* AData, std::size_t ASize) {
    FPending.append(AData, static_cast<qsizetype>(ASize));
    FReceived += static_cast<std::int64_t>(ASize);
    FKept += static_cast<std::int64_t>(ASize);
    if (FPending.size() >= WriteBlock) WritePending();
}

void TPackageTransfer::WritePending() {
    FFile.Write(FPending.constData(), static_cast<std::size_t>(FPending.size()));
    if (FHash)
        FHash->Hand(FPending);
    else
        FPending.resize(0); // keeps the buffer
}

void TPackageTransfer::Restart() {
    FPending.resize(0);
    FFile.Rewind();
    if (FHash) FHash->Reset();
    FDiscarded = std::exchange(FKept, 0);
}

void TPackageTransfer::Resuming(const http::TZLTHttp& AClient, std::int32_t AMaxResumptions, std::int64_t AOffset,
                                const QString& ACause) const {
    FLog(TLogLevel::llWarning,
         QStringLiteral("Transfer of %1 broke off after %2 bytes of the file (%3); %4 (try %5 of %6)")
             .arg(FAddress)
             .arg(AOffset > 0 ? FKept : FDiscarded)
             .arg(OneLine(ACause))
             .arg(AOffset > 0 ? QStringLiteral("resuming from byte %1").arg(AOffset) : QStringLiteral("starting over"))
             .arg(AClient.Resumptions() + 1)
             .arg(AMaxResumptions + 1));
}

void TPackageTransfer::Finished(const http::TZLTHttp& AClient) const {
    const double seconds = static_cast<double>(FClock.nsecsElapsed()) / 1e9;
    FLog(TLogLevel::llInfo, QStringLiteral("Downloaded %1 into %2: HTTP %3, %4 bytes in %5 s (%6 MB/s), %7 resumptions")
                                .arg(FAddress, FileName())
                                .arg(AClient.ResponseCode())
                                .arg(FKept)
                                .arg(seconds, 0, 'f', 2)
                                .arg(seconds > 0 ? static_cast<double>(FReceived) / 1e6 / seconds : 0.0, 0, 'f', 1)
                                .arg(AClient.Resumptions()));
}

void TPackageTransfer::Failed(const http::TZLTHttp& AClient, const std::exception_ptr& AError) {
    FFile.Abandon();
    const QString reason = OneLine(ReasonOf(AError));
    FLog(TLogLevel::llError, QStringLiteral("Download of %1 failed after %2 bytes and %3 resumptions: %4")
                                 .arg(FAddress)
                                 .arg(FReceived)
                                 .arg(AClient.Resumptions())
                                 .arg(reason));
    throw ETransferFailed(reason);
}

// The package as written against its manifest and its signature; a mismatch is a refusal.
void VerifyPackage(const std::optional<TZLTWebUpdater::TSignatureCheck>& ACheck,
                   const std::optional<signature::TManifest>& AManifest, std::int64_t ASize,
                   const signature::TDigest& ADigest, const QString& AAddress, const TLog& ALog) {
    try {
        if (AManifest) signature::CheckPackage(*AManifest, ASize, ADigest);
        if (ACheck) signature::Verify(ACheck->Key, ACheck->Signature, ADigest);
    } catch (const Exception& error) {
        throw Refusal(ALog, AAddress, error.Message());
    }
    if (!ACheck) return;
    ALog(TLogLevel::llInfo, QStringLiteral("Signature of %1 verified: key %2, trusted comment \"%3\"")
                                .arg(AAddress, signature::KeyIdText(ACheck->Key.KeyId),
                                     OneLine(QString::fromUtf8(ACheck->Signature.TrustedComment))));
}

QString Mebibytes(std::int64_t ABytes) {
    return QString::number(static_cast<double>(ABytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MiB");
}

// What travelled, for the log.
QString DeltaReport(const TDeltaPlan& APlan, const TDeltaResult& AResult, std::int64_t APackageSize, double ASeconds,
                    const QString& AFileName) {
    return QStringLiteral("Fetched %1 of %2 entries (%3 of %4) in %5 requests; %6 unchanged (compared in %7 s, "
                          "fetched in %8 s) into %9")
        .arg(APlan.Changed.size())
        .arg(APlan.Entries)
        .arg(Mebibytes(AResult.Received), Mebibytes(APackageSize))
        .arg(AResult.Requests)
        .arg(APlan.Unchanged)
        .arg(APlan.CompareSeconds, 0, 'f', 2)
        .arg(ASeconds, 0, 'f', 2)
        .arg(AFileName);
}

} // namespace

bool TZLTWebUpdater::FetchChangedEntries(http::TZLTHttp& AClient, const signature::TManifest& AManifest,
                                         QString& AFileName) {
    const QString address = http::DisplayUrl(FstrDownloUrl);
    const TDeltaPlan plan = PlanDelta(AManifest, platform::ExecutableFolder());
    if (!plan.Refusal.isEmpty()) {
        Log(TLogLevel::llInfo, QStringLiteral("Package %1 travels whole: %2 (compared in %3 s)")
                                   .arg(address, plan.Refusal)
                                   .arg(plan.CompareSeconds, 0, 'f', 2));
        return false;
    }
    // The changed spans are what the ZIP of them holds, but for its directory.
    const qint64 available = QStorageInfo(platform::ExecutableFolder() + QStringLiteral("Updates")).bytesAvailable();
    if (available >= 0 && plan.ChangedBytes > available) {
        Log(TLogLevel::llInfo, QStringLiteral("Package %1 travels whole: its changed entries (%2 bytes) do not fit on "
                                              "the disk (%3 bytes free)")
                                   .arg(address)
                                   .arg(plan.ChangedBytes)
                                   .arg(available));
        return false;
    }
    platform::TExclusiveFile file = CreatePackageFile(PackageFileName());
    const QString fileName = file.FileName();
    TDeltaEvents events;
    events.Begin = [&AClient](std::int64_t ATotal) {
        if (AClient.OnWorkBegin) AClient.OnWorkBegin(&AClient, http::TWorkMode::wmRead, ATotal);
    };
    events.Progress = [&AClient](std::int64_t ADone) {
        if (AClient.OnWork) AClient.OnWork(&AClient, http::TWorkMode::wmRead, ADone);
    };
    events.Resuming = [this, &address](std::int64_t AOffset, const QString& ACause) {
        Log(TLogLevel::llWarning, QStringLiteral("Part of %1 broke off (%2); resuming from byte %3")
                                      .arg(address, OneLine(ACause))
                                      .arg(AOffset));
    };
    QElapsedTimer clock;
    clock.start();
    try {
        TDeltaZip zip(file);
        const TDeltaResult result = FetchDelta(AClient, FstrDownloUrl, plan, zip, events);
        Log(TLogLevel::llInfo, DeltaReport(plan, result, AManifest.PackageSize,
                                           static_cast<double>(clock.nsecsElapsed()) / 1e9, fileName));
    } catch (const std::exception&) {
        file.Abandon();
        DeleteIfExists(fileName);
        Log(TLogLevel::llWarning, QStringLiteral("Changed entries of %1 not fetched: %2; the whole package is taken")
                                      .arg(address, OneLine(ReasonOf(std::current_exception()))));
        return false;
    }
    AFileName = fileName;
    return true;
}

TZLTWebUpdater::TReleaseChecks TZLTWebUpdater::FetchReleaseChecks(http::TZLTHttp& AClient) {
    TReleaseChecks checks;
    try {
        if (!FPublicKeys.isEmpty()) checks.Check = FetchSignature(AClient);
        checks.Manifest = FetchManifest(AClient);
        CheckReleaseFacts(checks.Check, checks.Manifest);
    } catch (const ESignatureRefused& error) {
        throw Refusal([this](TLogLevel ALevel, const QString& AText) { Log(ALevel, AText); },
                      http::DisplayUrl(FstrDownloUrl), error.Message());
    }
    return checks;
}

bool TZLTWebUpdater::PrepareDownload() {
    FPrepared.reset();
    if (!MayDownload("PrepareDownload")) return false;
    const QString address = http::DisplayUrl(FstrDownloUrl);
    try {
        const std::unique_ptr<http::TZLTHttp> client = http::CreatePlatformHttpClient();
        TReleaseChecks checks = FetchReleaseChecks(*client);
        try {
            client->Probe(FstrDownloUrl);
        } catch (const Exception& error) {
            Log(TLogLevel::llError, QStringLiteral("Package %1 is not available: %2").arg(address, OneLine(error.Message())));
            return false;
        }
        FPrepared = std::move(checks);
        FPreparedUrl = FstrDownloUrl;
        return true;
    } catch (const ETransferFailed&) {
        return false; // logged where it was refused
    } catch (const std::exception&) {
        Log(TLogLevel::llError, QStringLiteral("Update not begun: %1").arg(OneLine(ReasonOf(std::current_exception()))));
        return false;
    }
}

void TZLTWebUpdater::FetchPackage(http::TZLTHttp& AClient, QString& AFileName) {
    const QString address = http::DisplayUrl(FstrDownloUrl);
    const TLog log = [this](TLogLevel ALevel, const QString& AText) { Log(ALevel, AText); };
    // The signature and the manifest first (unless checked just before, for this address): a
    // package that could never be accepted is not downloaded at all.
    const bool prepared = FPrepared && FPreparedUrl == FstrDownloUrl;
    const TReleaseChecks checks = prepared ? std::move(*FPrepared) : FetchReleaseChecks(AClient);
    FPrepared.reset();
    const std::optional<TSignatureCheck>& check = checks.Check;
    const std::optional<signature::TManifest>& manifest = checks.Manifest;
    const TPackageFolder folder;
    if (manifest && FftyFileType_ == TFileTypeExt::tfeZip && FetchChangedEntries(AClient, *manifest, AFileName))
        return;
    TPackageTransfer transfer(CreatePackageFile(PackageFileName()), check || manifest, address, log);
    // Named for the caller only once this call has made the file: a failure may then delete
    // it, and never a file that another call made.
    AFileName = transfer.FileName();
    try {
        transfer.Run(AClient, FstrDownloUrl, [&folder](std::int64_t ADeclared) { folder.RequireRoom(ADeclared); });
        if (check || manifest) VerifyPackage(check, manifest, transfer.Size(), transfer.Digest(), address, log);
    } catch (...) {
        folder.Discard(AFileName);
        throw;
    }
}

void TZLTWebUpdater::Dispatch(const QString& AFileName) {
    if (OnUpdateDownloaded)
        OnUpdateDownloaded(this, AFileName);
    else if (FftyFileType_ == TFileTypeExt::tfeExe)
        ui::SendMessageToMainWindow(UpdateApplyMessage, AFileName, 0);
    else
        platform::ShellExecuteOpen(AFileName);
}

void TZLTWebUpdater::FinishDownload(const QString& AFileName) {
    if (!platform::FileExists(AFileName)) return;
    Dispatch(AFileName);
    if (TfrmUpdater* dialog = Dialog()) dialog->EndDownload();
    FbolActive___ = false;
    ui::Application().Terminate();
}

bool TZLTWebUpdater::MayDownload(const char* ARoutine) {
    if (FBolBusy_____) {
        Log(TLogLevel::llWarning,
            QStringLiteral("%1 refused: a download is already running").arg(QLatin1String(ARoutine)));
        return false;
    }
    if (!IsInternetConnected()) {
        Log(TLogLevel::llWarning, QStringLiteral("%1 refused: no network connection").arg(QLatin1String(ARoutine)));
        return false;
    }
    return true;
}

void TZLTWebUpdater::DownloadAbandoned(const QString& AFileName, const std::exception_ptr& AError) {
    DeleteIfExists(AFileName);
    try {
        std::rethrow_exception(AError);
    } catch (const ETransferFailed&) {
        // Logged with its figures where the transfer failed.
    } catch (...) {
        Log(TLogLevel::llError, QStringLiteral("Update not completed: %1").arg(OneLine(ReasonOf(AError))));
    }
}

void TZLTWebUpdater::DownloadUpdates() {
    if (!MayDownload("DownloadUpdates")) return;
    FBolBusy_____ = true;
    if (FbolUseDefFrm) CreateUpdaterDialog();
    {
        const TScopeExit teardown([this] {
            if (TfrmUpdater* dialog = Dialog()) {
                dialog->EndDownload();
                FreeUpdaterDialog();
            }
            FbolActive___ = false;
        });
        if (TfrmUpdater* dialog = Dialog()) dialog->PrepareForDownload(*FdopDlgOption);
        http::TZLTHttp& client = EnsureHttpClient();
        client.UserAgent = FstrApplName_;
        QString fileName;
        try {
            FetchPackage(client, fileName);
        } catch (const ETransferFailed&) {
            FBolBusy_____ = false;
            return;
        }
        FinishDownload(fileName);
    }
    // Reached only when nothing escaped: an error that did leaves the flag set.
    FBolBusy_____ = false;
}

void TZLTWebUpdater::RequireDialogForDownload() const {
    if (!FbolUseDefFrm) return;
    TfrmUpdater* dialog = Dialog();
    if (dialog == nullptr) throw Exception(QStringLiteral("No progress dialog is open to show the download in."));
    dialog->PrepareForDownload(*FdopDlgOption);
}

void TZLTWebUpdater::DownloadUpdatesRest() {
    if (!MayDownload("DownloadUpdatesRest")) return;
    std::unique_ptr<http::TZLTSslHandler> handler;
    QString fileName;
    try {
        RequireDialogForDownload();
        http::TZLTHttp& client = PrepareRestClient(handler);
        FetchPackage(client, fileName);
        // This call's TLS handler goes as soon as the package is complete, before the hand-off
        // rather than at the end: a host handler that starts another transfer on the
        // component's client must find it without this call's TLS 1.2-only handler (the
        // client forgets a released handler by itself).
        if (platform::FileExists(fileName)) handler.reset();
        FinishDownload(fileName);
    } catch (...) {
        DownloadAbandoned(fileName, std::current_exception());
    }
}

void TZLTWebUpdater::DownloadUpdatesNetHTTPClient() {
    if (!MayDownload("DownloadUpdatesNetHTTPClient")) return;
    QString fileName;
    try {
        const std::unique_ptr<http::TZLTHttp> client = http::CreatePlatformHttpClient();
        RequireDialogForDownload();
        FetchPackage(*client, fileName);
        FinishDownload(fileName);
    } catch (...) {
        DownloadAbandoned(fileName, std::current_exception());
    }
}

} // namespace zlt::webupdater
