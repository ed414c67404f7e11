#include "webupdater/WebUpdater.h"

#include "common/Errors.h"
#include "common/ScopeExit.h"
#include "http/HttpClient.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "ui/Application.h"
#include "ui/WindowMessages.h"
#include "webupdater/ProgressDialog.h"

#include <QDir>

#include <exception>
#include <memory>

namespace zlt::webupdater {

namespace {

// A transfer that failed, with the failure's own message; the partial file is gone by then.
class ETransferFailed : public Exception {
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

void TZLTWebUpdater::FetchPackage(http::TZLTHttp& AClient, QString& AFileName) {
    AFileName = PackageFileName();
    const QString folder = platform::ExecutableFolder() + QStringLiteral("Updates");
    const bool folderExisted = QDir(folder).exists();
    platform::ForceDirectories(folder);
    platform::TExclusiveFile file = platform::TExclusiveFile::Create(AFileName);
    try {
        AClient.Get(FstrDownloUrl, [&file](const char* AData, std::size_t ASize) { file.Write(AData, ASize); });
        file.Close();
    } catch (...) {
        file.Abandon();
        DeleteIfExists(AFileName);
        // A failed update leaves the application's folder as it found it: the folder goes too
        // when this call made it and nothing else is in it (rmdir leaves a folder with files).
        if (!folderExisted) QDir().rmdir(folder);
        throw ETransferFailed(ReasonOf(std::current_exception()));
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

void TZLTWebUpdater::DownloadUpdates() {
    if (FBolBusy_____ || !IsInternetConnected()) return;
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
    if (FBolBusy_____ || !IsInternetConnected()) return;
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
        DeleteIfExists(fileName);
    }
}

void TZLTWebUpdater::DownloadUpdatesNetHTTPClient() {
    if (FBolBusy_____ || !IsInternetConnected()) return;
    QString fileName;
    try {
        const std::unique_ptr<http::TZLTHttp> client = http::CreatePlatformHttpClient();
        RequireDialogForDownload();
        FetchPackage(*client, fileName);
        FinishDownload(fileName);
    } catch (...) {
        DeleteIfExists(fileName);
    }
}

} // namespace zlt::webupdater
