#include "webupdater/uTZLTWebUpdater.h"

#include "common/uZLTGlobal.h"
#include "platform/AnsiCodePage.h"
#include "platform/Application.h"
#include "platform/Files.h"
#include "platform/Messages.h"
#include "platform/MessageBox.h"
#include "platform/Network.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "webupdater/uZLTHttpClient.h"
#include "webupdater/ufrmUpdater__.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProgressBar>

#include <memory>
#include <utility>

namespace zlt {

quint32 UpdateApplyMessage = 0;

namespace {

const QString IndyUserAgent = QStringLiteral("Mozilla/3.0 (compatible; Indy Library)");
const QString IndyAccept = QStringLiteral("text/html, */*");

// Runs a clean-up when the scope ends, however it ends.
template <typename TAction>
class TScopeExit {
public:
    explicit TScopeExit(TAction AAction) : FAction(std::move(AAction)) {}
    ~TScopeExit() { FAction(); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    TAction FAction;
};

// The bars and the events carry 32-bit values: the low 32 bits of the count.
std::int32_t Low32(std::int64_t ACount) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(ACount) & 0xFFFFFFFFu));
}

// Raised by FetchPackage when the transfer failed; the partial file is gone by then.
struct TTransferFailed {};

void DeleteIfExists(const QString& AFileName) {
    if (!AFileName.isEmpty() && platform::FileExists(AFileName)) platform::DeleteFile(AFileName);
}

} // namespace

TZLTWebUpdater::TZLTWebUpdater(QObject* AOwner) : TComponent(AOwner) {
    FdopDlgOption = new TkvDialogOptions;
    FdopDlgOption->SetPTitleCaption(QStringLiteral("Please, wait while downloading updates..."));
    FdopDlgOption->SetPProgressCaption(QStringLiteral("Percentage"));
    FdopDlgOption->SetPCheckingCaption(QStringLiteral("Checking for updates..."));
    FBolBusy_____ = false;
    FbolRunning__ = false;
    if (Designing()) return;

    FckmCookie___ = new TZLTCookieManager(this);
    FckmCookie___->SetName(QStringLiteral("InternalCookieMgr"));
    FIdHttp = new TZLTHttp(this);
    FIdHttp->SetName(QStringLiteral("InternalHttp"));
    FIdHttp->HandleRedirects = true;
    FIdHttp->SetCookieManager(FckmCookie___);
    FIdHttp->UserAgent = QStringLiteral("Undefined Application");
    AttachWorkHandlers(FIdHttp);
    FbolRunning__ = true;
}

TZLTWebUpdater::~TZLTWebUpdater() {
    delete std::exchange(FckmCookie___, nullptr);
    delete std::exchange(FIdHttp, nullptr);
    delete std::exchange(FdopDlgOption, nullptr);
}

void TZLTWebUpdater::SetPProxyParams(const TkvProxyParams& AValue) {
    FpprProxyPara = AValue;
    // Without a client the record is only kept: a client created later starts without a proxy.
    if (FIdHttp == nullptr) return;
    TZLTProxySettings& proxy = FIdHttp->ProxyParams;
    if (AValue.UseProxy) {
        proxy.BasicAuthentication = true;
        proxy.ProxyServer = AValue.Server;
        proxy.ProxyPort = AValue.Port;
        proxy.ProxyUsername = AValue.Username;
        proxy.ProxyPassword = AValue.Password;
    } else {
        proxy = TZLTProxySettings{};
    }
}

void TZLTWebUpdater::SetPDialogOptions(TkvDialogOptions* AValue) {
    if (AValue == FdopDlgOption) return;
    delete std::exchange(FdopDlgOption, AValue);
}

QProgressBar* TZLTWebUpdater::PProgressBar() const { return FpgbProgreBar.data(); }

void TZLTWebUpdater::SetPProgressBar(QProgressBar* AValue) { FpgbProgreBar = AValue; }

void TZLTWebUpdater::Loaded() {
    TComponent::Loaded();
    if (FumdUpdateMod == TUpdateMode::umAuto) Activate(true);
}

void TZLTWebUpdater::Activate(bool AValue) {
    if (!FbolRunning__) {
        const quint32 flags = platform::MB_ICONERROR | platform::MB_OK;
        if (FstrCheckUrl_.isEmpty())
            Application().MessageBox(QStringLiteral("CheckUrl property cannot be empty."), QStringLiteral("WebUpdater"), flags);
        else if (FstrDownloUrl.isEmpty())
            Application().MessageBox(QStringLiteral("DownloadUrl property cannot be empty."), QStringLiteral("WebUpdater"), flags);
        return;
    }
    if (FstrCheckUrl_.isEmpty() || FstrDownloUrl.isEmpty()) return;
    FbolActive___ = AValue;
    if (FbolActive___ && FumdUpdateMod == TUpdateMode::umAuto) {
        if (CheckForUpdatesRest()) DownloadUpdates();
    }
}

bool TZLTWebUpdater::IsInternetConnected() { return platform::InternetGetConnectedState(); }

void TZLTWebUpdater::AttachWorkHandlers(TZLTHttp* AClient) {
    AClient->OnWorkBegin = [this](TZLTHttp*, TWorkMode, std::int64_t AWorkCountMax) { DoWorkBegin(AWorkCountMax); };
    AClient->OnWork = [this](TZLTHttp*, TWorkMode, std::int64_t AWorkCount) { DoWork(AWorkCount); };
}

TfrmUpdater* TZLTWebUpdater::Dialog() const { return FbolUseDefFrm ? frmUpdater.data() : nullptr; }

void TZLTWebUpdater::DoWorkBegin(std::int64_t AWorkCountMax) {
    const std::int32_t maximum = Low32(AWorkCountMax);
    if (TfrmUpdater* dialog = Dialog())
        dialog->prb1->setMaximum(maximum);
    else if (FpgbProgreBar)
        FpgbProgreBar->setMaximum(maximum);
    if (OnDownLoadStart) OnDownLoadStart(this, maximum);
}

void TZLTWebUpdater::DoWork(std::int64_t AWorkCount) {
    const std::int32_t position = Low32(AWorkCount);
    if (FbolUseDefFrm) {
        if (TfrmUpdater* dialog = frmUpdater.data()) {
            // The thread does not return to the event loop during a transfer: repaint by hand.
            dialog->prb1->setValue(position);
            dialog->prb1->repaint();
            const QString caption = QStringLiteral("%1 of %2 bytes").arg(AWorkCount).arg(dialog->prb1->maximum());
            // The label is sized to its text; its size changes only with the text's length.
            const bool resize = caption.size() != dialog->lblProgress->text().size();
            dialog->lblProgress->setText(caption);
            if (resize) dialog->lblProgress->adjustSize();
            dialog->lblProgress->repaint();
        } else if (FpgbProgreBar) {
            FpgbProgreBar->setValue(position);
            FpgbProgreBar->repaint();
        }
    }
    if (OnProgressEvent) OnProgressEvent(this, position);
}

TZLTHttp* TZLTWebUpdater::EnsureHttpClient() {
    // After a CheckForUpdatesRest released the constructor's client, a plain one takes its
    // place: no name, no progress handlers, no cookie store, no proxy.
    if (FIdHttp == nullptr) FIdHttp = new TZLTHttp(nullptr);
    return FIdHttp;
}

void TZLTWebUpdater::ReleaseHttpClient() { delete std::exchange(FIdHttp, nullptr); }

void TZLTWebUpdater::ReadCheckAnswer(const QString& AAnswer, bool& AResult) {
    if (TextContains(AAnswer, QStringLiteral("Outdated"))) {
        AResult = true;
        if (OnUpdateFound) OnUpdateFound(this);
    } else {
        FbolActive___ = false;
    }
}

TZLTHttp* TZLTWebUpdater::PrepareRestClient(std::unique_ptr<TZLTSslHandler>& AHandler) {
    TZLTHttp* client = EnsureHttpClient();
    AHandler = std::make_unique<TZLTSslHandler>(nullptr);
    AHandler->SetMethod(TSSLVersion::sslvTLSv1_2); // TLS 1.2 and nothing else
    client->SetIOHandler(AHandler.get());
    client->HandleRedirects = true;
    client->Accept = IndyAccept;
    client->UserAgent = IndyUserAgent;
    client->ContentEncoding = QStringLiteral("utf-8");
    return client;
}

QString TZLTWebUpdater::CheckRequestUrl() const { return FstrCheckUrl_ + QStringLiteral("?ver=") + FstrVerNumber; }

bool TZLTWebUpdater::CheckForUpdates() {
    if (!FbolRunning__ || !IsInternetConnected()) return false;
    if (FbolUseDefFrm) CreateUpdaterDialog();
    const TScopeExit releaseDialog([this] {
        if (FbolUseDefFrm) FreeUpdaterDialog();
    });
    if (TfrmUpdater* dialog = Dialog()) dialog->PrepareForCheck(*FdopDlgOption);

    TZLTHttp* client = EnsureHttpClient();
    // The client owns the handlers it is given and releases them with itself.
    client->SetIOHandler(new TZLTSslHandler(client));
    client->UserAgent = FstrApplName_;
    QString answer;
    try {
        answer = client->GetText(CheckRequestUrl());
    } catch (...) {
        // A failed request is an empty answer: no newer version known.
        answer.clear();
    }
    if (TfrmUpdater* dialog = Dialog()) dialog->EndCheck();
    bool result = false;
    ReadCheckAnswer(answer, result);
    return result;
}

bool TZLTWebUpdater::CheckForUpdatesRest() {
    bool result = false;
    std::unique_ptr<TZLTSslHandler> handler;
    try {
        if (FbolRunning__ && IsInternetConnected()) {
            if (FbolUseDefFrm) CreateUpdaterDialog()->PrepareForCheck(*FdopDlgOption);
            TZLTHttp* client = PrepareRestClient(handler);
            const QString answer = client->GetText(CheckRequestUrl());
            if (TfrmUpdater* dialog = Dialog()) dialog->EndCheck();
            ReadCheckAnswer(answer, result);
        }
    } catch (const std::exception&) {
        // Every failure means "no newer version known" here, or keeps a true already reached.
    }
    handler.reset();
    ReleaseHttpClient();
    return result;
}

QString TZLTWebUpdater::PackageFileName() const {
    const QString extension = FftyFileType_ == TFileTypeExt::tfeExe ? QStringLiteral(".exe") : QStringLiteral(".zip");
    return platform::ExecutableFolder() + QStringLiteral("Updates/update") +
           platform::LocalNow().toString(QStringLiteral("yyyyMMdd_HHmmss")) + extension;
}

void TZLTWebUpdater::FetchPackage(TZLTHttp& AClient, QString& AFileName) {
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
        throw TTransferFailed{};
    }
}

void TZLTWebUpdater::Dispatch(const QString& AFileName) {
    if (OnUpdateDownloaded)
        OnUpdateDownloaded(this, AFileName);
    else if (FftyFileType_ == TFileTypeExt::tfeExe)
        platform::SendMessageToMainWindow(UpdateApplyMessage, AFileName, 0);
    else
        platform::ShellExecuteOpen(AFileName);
}

void TZLTWebUpdater::FinishDownload(const QString& AFileName) {
    if (!platform::FileExists(AFileName)) return;
    Dispatch(AFileName);
    if (TfrmUpdater* dialog = Dialog()) dialog->EndDownload();
    FbolActive___ = false;
    Application().Terminate();
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
        TZLTHttp* client = EnsureHttpClient();
        client->UserAgent = FstrApplName_;
        QString fileName;
        try {
            FetchPackage(*client, fileName);
        } catch (const TTransferFailed&) {
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
    std::unique_ptr<TZLTSslHandler> handler;
    QString fileName;
    try {
        RequireDialogForDownload();
        TZLTHttp* client = PrepareRestClient(handler);
        FetchPackage(*client, fileName);
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
        const std::unique_ptr<TZLTHttp> client = CreatePlatformHttpClient();
        RequireDialogForDownload();
        FetchPackage(*client, fileName);
        FinishDownload(fileName);
    } catch (...) {
        DeleteIfExists(fileName);
    }
}

namespace {

QStringList PhpScript(const QString& AVersion) {
    return {QStringLiteral("<?php"),
            QStringLiteral("$newVersion = \"%1\";").arg(AVersion),
            QStringLiteral("$actualVersion = $_GET[\"ver\"];"),
            QStringLiteral("if ($actualVersion < $newVersion || $actualVersion == \"\") {"),
            QStringLiteral("    echo \"Outdated\";"),
            QStringLiteral("}else{"),
            QStringLiteral("    echo \"Updated\";"),
            QStringLiteral("}"),
            QStringLiteral("?>")};
}

QStringList AspScript(const QString& AVersion) {
    return {QStringLiteral("<%"),
            QStringLiteral("Dim newVersion, actualVersion"),
            QStringLiteral("newVersion = \"%1\"").arg(AVersion),
            QStringLiteral("actualVersion = Request.QueryString(\"ver\")"),
            QStringLiteral("if (actualVersion < newVersion OR actualVersion = \"\") then"),
            QStringLiteral("    Response.Write \"Outdated\""),
            QStringLiteral("else"),
            QStringLiteral("    Response.Write \"Updated\""),
            QStringLiteral("end if"),
            QStringLiteral("%>")};
}

void SaveAnsiLines(const QStringList& ALines, const QString& AFileName) {
    QByteArray content;
    for (const QString& line : ALines) content += platform::ToAnsi(line) + "\r\n";
    QFile file(AFileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size() || !file.flush())
        throw Exception(QStringLiteral("Cannot create file \"%1\". %2").arg(AFileName, file.errorString()));
}

} // namespace

void TZLTWebUpdater::CreateScript(const QString& Lang) {
    const QString caption = QStringLiteral("Application.Title");
    try {
        QStringList lines;
        QString scriptName;
        if (Lang == QStringLiteral("PHP")) {
            lines = PhpScript(FstrVerNumber);
            scriptName = QStringLiteral("checkUpdates.php");
        } else if (Lang == QStringLiteral("ASP")) {
            lines = AspScript(FstrVerNumber);
            scriptName = QStringLiteral("checkUpdates.asp");
        } else {
            return;
        }
        const QString folder = platform::ExecutableFolder();
        SaveAnsiLines(lines, folder + scriptName);
        platform::MessageBox(QStringLiteral("The script %1 has been correcly created in %2").arg(scriptName, folder), caption,
                             platform::MB_ICONINFORMATION | platform::MB_OK);
    } catch (...) {
        platform::MessageBox(QStringLiteral("Something has gone wrong creating Php script.\r\nNo file has been created."),
                             caption, platform::MB_ICONERROR | platform::MB_OK);
    }
}

} // namespace zlt
