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
#include "webupdater/ProgressDialog.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStorageInfo>

#include <exception>
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

// Resumptions of a broken transfer before it counts as failed.
constexpr std::int32_t MaxResumptions = 3;

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
        if (std::optional<platform::TExclusiveFile> file = platform::TExclusiveFile::CreateNew(name))
            return std::move(*file);
    }
    return platform::TExclusiveFile::Create(AFileName); // raises "File exists" with the name
}

} // namespace

TZLTWebUpdater::TSignatureCheck TZLTWebUpdater::FetchSignature(http::TZLTHttp& AClient) {
    // Beside the package: the suffix goes on the path, before any query or fragment.
    qsizetype pathEnd = FstrDownloUrl.indexOf(QRegularExpression(QStringLiteral("[?#]")));
    if (pathEnd < 0) pathEnd = FstrDownloUrl.size();
    const QString address = QString(FstrDownloUrl).insert(pathEnd, QStringLiteral(".minisig"));
    TSignatureCheck check;
    try {
        const std::vector<signature::TPublicKey> keys = signature::ParsePublicKeys(FPublicKeys);
        if (keys.empty()) throw Exception(QStringLiteral("No usable public key is set"));
        // The signature is no part of the package: the host's progress shows the package alone.
        const auto workBegin = std::exchange(AClient.OnWorkBegin, nullptr);
        const auto work = std::exchange(AClient.OnWork, nullptr);
        const TScopeExit restore([&] {
            AClient.OnWorkBegin = workBegin;
            AClient.OnWork = work;
        });
        QByteArray text;
        try {
            AClient.Get(address, [&text](const char* AData, std::size_t ASize) {
                if (text.size() + static_cast<qsizetype>(ASize) > signature::MaxSignatureFileBytes)
                    throw Exception(QStringLiteral("larger than %1 bytes").arg(signature::MaxSignatureFileBytes));
                text.append(AData, static_cast<qsizetype>(ASize));
            });
        } catch (const Exception& error) {
            throw Exception(QStringLiteral("The signature %1 could not be fetched: %2")
                                .arg(http::DisplayUrl(address), OneLine(error.Message())));
        }
        check.Signature = signature::ParseSignature(text);
        check.Key = signature::SigningKey(keys, check.Signature);
    } catch (const Exception& error) {
        throw ESignatureRefused(error.Message());
    }
    return check;
}

void TZLTWebUpdater::FetchPackage(http::TZLTHttp& AClient, QString& AFileName) {
    const QString address = http::DisplayUrl(FstrDownloUrl);
    // The signature first: a package that could never be accepted is not downloaded at all.
    std::optional<TSignatureCheck> check;
    if (!FPublicKeys.isEmpty()) {
        try {
            check = FetchSignature(AClient);
        } catch (const ESignatureRefused& error) {
            Log(TLogLevel::llError, QStringLiteral("Package %1 refused: %2").arg(address, OneLine(error.Message())));
            throw ETransferFailed(error.Message());
        }
    }
    const QString folder = platform::ExecutableFolder() + QStringLiteral("Updates");
    const bool folderExisted = QFileInfo::exists(folder) || QFileInfo(folder).isSymLink();
    if (folderExisted && !platform::IsRealFolder(folder))
        throw Exception(
            QStringLiteral("Cannot create the package file. \"%1\" is not a folder of its own (a link or a file).")
                .arg(folder));
    platform::ForceDirectories(folder);
    platform::TExclusiveFile file = CreatePackageFile(PackageFileName());
    // Named for the caller only once this call has made the file: a failure may then delete
    // it, and never a file that another call made.
    AFileName = file.FileName();
    const auto fitsOnDisk = [&folder](std::int64_t ADeclared) {
        const qint64 available = QStorageInfo(folder).bytesAvailable();
        if (ADeclared > 0 && available >= 0 && ADeclared > available)
            throw Exception(QStringLiteral("The package (%1 bytes) does not fit on the disk (%2 bytes free)")
                                .arg(ADeclared)
                                .arg(available));
    };
    std::int64_t received = 0; // over every try, for the record
    std::int64_t kept = 0;     // of the file as it stands
    QElapsedTimer clock;
    clock.start();
    // libcurl hands the body over in pieces of 16 KiB; written one by one they cost as much
    // system time as the transfer itself, so they are gathered into larger writes.
    constexpr qsizetype WriteBlock = 1024 * 1024;
    QByteArray pending;
    pending.reserve(WriteBlock);
    std::optional<TBackgroundHash> hash;
    if (check) hash.emplace();
    const auto writePending = [&] {
        file.Write(pending.constData(), static_cast<std::size_t>(pending.size()));
        if (hash)
            hash->Hand(pending);
        else
            pending.resize(0); // keeps the buffer
    };
    http::TZLTHttp::TResume resume;
    resume.MaxResumptions = MaxResumptions;
    resume.Restart = [&] {
        pending.resize(0);
        file.Rewind();
        if (hash) hash->Reset();
        kept = 0;
    };
    resume.Resuming = [&](std::int64_t AOffset, const QString& ACause) {
        Log(TLogLevel::llWarning, QStringLiteral("Transfer of %1 broke off after %2 bytes of the file (%3); %4 (try %5 of %6)")
                                      .arg(address)
                                      .arg(kept)
                                      .arg(OneLine(ACause))
                                      .arg(AOffset > 0 ? QStringLiteral("resuming from byte %1").arg(AOffset)
                                                       : QStringLiteral("starting over"))
                                      .arg(AClient.Resumptions() + 1)
                                      .arg(MaxResumptions + 1));
    };
    try {
        try {
            AClient.Download(
                FstrDownloUrl,
                [&](const char* AData, std::size_t ASize) {
                    pending.append(AData, static_cast<qsizetype>(ASize));
                    received += static_cast<std::int64_t>(ASize);
                    kept += static_cast<std::int64_t>(ASize);
                    if (pending.size() >= WriteBlock) writePending();
                },
                fitsOnDisk, resume);
            writePending();
            file.Close();
        } catch (...) {
            file.Abandon();
            const QString reason = OneLine(ReasonOf(std::current_exception()));
            Log(TLogLevel::llError, QStringLiteral("Download of %1 failed after %2 bytes and %3 resumptions: %4")
                                        .arg(address)
                                        .arg(received)
                                        .arg(AClient.Resumptions())
                                        .arg(reason));
            throw ETransferFailed(reason);
        }
        const double seconds = static_cast<double>(clock.nsecsElapsed()) / 1e9;
        Log(TLogLevel::llInfo,
            QStringLiteral("Downloaded %1 into %2: HTTP %3, %4 bytes in %5 s (%6 MB/s), %7 resumptions")
                .arg(address, AFileName)
                .arg(AClient.ResponseCode())
                .arg(kept)
                .arg(seconds, 0, 'f', 2)
                .arg(seconds > 0 ? static_cast<double>(received) / 1e6 / seconds : 0.0, 0, 'f', 1)
                .arg(AClient.Resumptions()));
        if (check) {
            try {
                signature::Verify(check->Key, check->Signature, hash->Final());
            } catch (const Exception& error) {
                Log(TLogLevel::llError, QStringLiteral("Package %1 refused: %2").arg(address, OneLine(error.Message())));
                throw ETransferFailed(error.Message());
            }
            Log(TLogLevel::llInfo, QStringLiteral("Signature of %1 verified: key %2, trusted comment \"%3\"")
                                       .arg(address, signature::KeyIdText(check->Key.KeyId),
                                            OneLine(QString::fromUtf8(check->Signature.TrustedComment))));
        }
    } catch (...) {
        DeleteIfExists(AFileName);
        // A failed update leaves the application's folder as it found it: the folder goes too
        // when this call made it and nothing else is in it (rmdir leaves a folder with files).
        if (!folderExisted) QDir().rmdir(folder);
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
