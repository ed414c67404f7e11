#include "webupdater/WebUpdater.h"

#include "http/HttpClient.h"
#include "platform/Network.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "webupdater/ProgressDialog.h"

#include <QProgressBar>

#include <utility>

namespace zlt::webupdater {

quint32 UpdateApplyMessage = 0;

namespace {

// The bars and the events carry 32-bit values: the low 32 bits of the count.
std::int32_t Low32(std::int64_t ACount) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(ACount) & 0xFFFFFFFFu));
}

} // namespace

TZLTWebUpdater::TZLTWebUpdater(QObject* AOwner)
    : TComponent(AOwner), FdopDlgOption(std::make_unique<TkvDialogOptions>()) {
    FdopDlgOption->SetPTitleCaption(QStringLiteral("Please, wait while downloading updates..."));
    FdopDlgOption->SetPProgressCaption(QStringLiteral("Percentage"));
    FdopDlgOption->SetPCheckingCaption(QStringLiteral("Checking for updates..."));
    FBolBusy_____ = false;
    FbolRunning__ = false;
    if (Designing()) return;

    FckmCookie___ = std::make_unique<http::TZLTCookieManager>(this);
    FckmCookie___->SetName(QStringLiteral("InternalCookieMgr"));
    FIdHttp = std::make_unique<http::TZLTHttp>(this);
    FIdHttp->SetName(QStringLiteral("InternalHttp"));
    FIdHttp->HandleRedirects = true;
    FIdHttp->SetCookieManager(FckmCookie___.get());
    FIdHttp->UserAgent = QStringLiteral("Undefined Application");
    AttachWorkHandlers(*FIdHttp);
    FbolRunning__ = true;
}

TZLTWebUpdater::~TZLTWebUpdater() {
    // The cookie store first, then the client, then the options, whatever the members' order.
    FckmCookie___.reset();
    FIdHttp.reset();
    FdopDlgOption.reset();
}

void TZLTWebUpdater::SetPProxyParams(const TkvProxyParams& AValue) {
    FpprProxyPara = AValue;
    // Without a client the record is only kept: a client created later starts without a proxy.
    if (!FIdHttp) return;
    // Turning the proxy off clears the whole record: no credentials stay behind on the client.
    FIdHttp->ProxyParams = AValue.UseProxy ? AValue : TkvProxyParams{};
}

void TZLTWebUpdater::SetPDialogOptions(std::unique_ptr<TkvDialogOptions> AValue) {
    if (AValue && AValue != FdopDlgOption) FdopDlgOption = std::move(AValue);
}

QProgressBar* TZLTWebUpdater::PProgressBar() const { return FpgbProgreBar.data(); }

void TZLTWebUpdater::SetPProgressBar(QProgressBar* AValue) { FpgbProgreBar = AValue; }

void TZLTWebUpdater::Loaded() {
    TComponent::Loaded();
    if (FumdUpdateMod == TUpdateMode::umAuto) Activate(true);
}

void TZLTWebUpdater::Activate(bool AValue) {
    if (!FbolRunning__) {
        const quint32 flags = ui::MB_ICONERROR | ui::MB_OK;
        if (FstrCheckUrl_.isEmpty())
            ui::Application().MessageBox(QStringLiteral("CheckUrl property cannot be empty."),
                                         QStringLiteral("WebUpdater"), flags);
        else if (FstrDownloUrl.isEmpty())
            ui::Application().MessageBox(QStringLiteral("DownloadUrl property cannot be empty."),
                                         QStringLiteral("WebUpdater"), flags);
        return;
    }
    if (FstrCheckUrl_.isEmpty() || FstrDownloUrl.isEmpty()) return;
    FbolActive___ = AValue;
    if (FbolActive___ && FumdUpdateMod == TUpdateMode::umAuto) {
        if (CheckForUpdatesRest()) DownloadUpdates();
    }
}

void TZLTWebUpdater::Log(TLogLevel ALevel, const QString& AText) {
    if (!OnLog) return;
    try {
        OnLog(this, ALevel, AText);
    } catch (...) {
        // A record that can't be kept is no reason to fail or change an update.
    }
}

bool TZLTWebUpdater::IsInternetConnected() { return platform::InternetGetConnectedState(); }

void TZLTWebUpdater::AttachWorkHandlers(http::TZLTHttp& AClient) {
    AClient.OnWorkBegin = [this](http::TZLTHttp*, http::TWorkMode, std::int64_t AWorkCountMax) {
        DoWorkBegin(AWorkCountMax);
    };
    AClient.OnWork = [this](http::TZLTHttp*, http::TWorkMode, std::int64_t AWorkCount) { DoWork(AWorkCount); };
}

TfrmUpdater* TZLTWebUpdater::Dialog() const { return FbolUseDefFrm ? frmUpdater.data() : nullptr; }

void TZLTWebUpdater::DoWorkBegin(std::int64_t AWorkCountMax) {
    const std::int32_t maximum = Low32(AWorkCountMax);
    if (TfrmUpdater* dialog = Dialog())
        dialog->BeginProgress(maximum);
    else if (FpgbProgreBar)
        FpgbProgreBar->setMaximum(maximum);
    if (OnDownLoadStart) OnDownLoadStart(this, maximum);
}

void TZLTWebUpdater::DoWork(std::int64_t AWorkCount) {
    const std::int32_t position = Low32(AWorkCount);
    if (FbolUseDefFrm) {
        if (TfrmUpdater* dialog = frmUpdater.data()) {
            dialog->ShowProgress(AWorkCount);
        } else if (FpgbProgreBar) {
            // The thread does not return to the event loop during a transfer: repaint by hand.
            FpgbProgreBar->setValue(position);
            FpgbProgreBar->repaint();
        }
    }
    if (OnProgressEvent) OnProgressEvent(this, position);
}

http::TZLTHttp& TZLTWebUpdater::EnsureHttpClient() {
    // After a CheckForUpdatesRest released the constructor's client, a plain one takes its
    // place: no name, no progress handlers, no cookie store, no proxy.
    if (!FIdHttp) FIdHttp = std::make_unique<http::TZLTHttp>(nullptr);
    return *FIdHttp;
}

void TZLTWebUpdater::ReleaseHttpClient() { FIdHttp.reset(); }

http::TZLTHttp& TZLTWebUpdater::PrepareRestClient(std::unique_ptr<http::TZLTSslHandler>& AHandler) {
    http::TZLTHttp& client = EnsureHttpClient();
    AHandler = std::make_unique<http::TZLTSslHandler>(nullptr);
    AHandler->SetMethod(http::TSSLVersion::sslvTLSv1_2); // TLS 1.2 and nothing else
    client.SetIOHandler(AHandler.get());
    client.HandleRedirects = true;
    client.Accept = http::DefaultAccept;
    client.UserAgent = http::DefaultUserAgent;
    client.ContentEncoding = QStringLiteral("utf-8");
    return client;
}

} // namespace zlt::webupdater
