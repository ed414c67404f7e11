#pragma once

#include "common/Component.h"
#include "signature/Manifest.h"
#include "signature/Minisign.h"
#include "webupdater/Types.h"

#include <QPointer>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

class QProgressBar;

namespace zlt::http {
class TZLTHttp;
class TZLTCookieManager;
class TZLTSslHandler;
} // namespace zlt::http

namespace zlt::webupdater {

class TfrmUpdater;

// Id of the registered window message "MESAGE_UPDATE_APPLY"; 0 until a host registers it.
extern quint32 UpdateApplyMessage;

// The web updater: asks a server whether a newer version exists, downloads the update package
// through one of three transports, shows an optional progress dialog and writes the server's
// check script. Everything runs on the GUI thread and blocks it while a transfer runs.
class TZLTWebUpdater : public TComponent {
public:
    explicit TZLTWebUpdater(QObject* AOwner);
    ~TZLTWebUpdater() override;

    // Properties.
    TkvProxyParams PProxyParams() const { return FpprProxyPara; }
    void SetPProxyParams(const TkvProxyParams& AValue);
    const QString& PCheckUrl() const { return FstrCheckUrl_; }
    void SetPCheckUrl(const QString& AValue) { FstrCheckUrl_ = AValue; }
    const QString& PDownloadUrl() const { return FstrDownloUrl; }
    void SetPDownloadUrl(const QString& AValue) { FstrDownloUrl = AValue; }
    bool PUseDefaultForm() const { return FbolUseDefFrm; }
    void SetPUseDefaultForm(bool AValue) { FbolUseDefFrm = AValue; }
    TUpdateMode PUpdateMode() const { return FumdUpdateMod; }
    void SetPUpdateMode(TUpdateMode AValue) { FumdUpdateMod = AValue; }
    TkvDialogOptions* PDialogOptions() const { return FdopDlgOption.get(); }
    // Takes ownership of AValue; the options held before are released.
    void SetPDialogOptions(std::unique_ptr<TkvDialogOptions> AValue);
    // The host's bar, not owned; forgotten when the host releases it.
    QProgressBar* PProgressBar() const;
    void SetPProgressBar(QProgressBar* AValue);
    TFileTypeExt PFileType() const { return FftyFileType_; }
    void SetPFileType(TFileTypeExt AValue) { FftyFileType_ = AValue; }
    const QString& PVersionNumber() const { return FstrVerNumber; }
    void SetPVersionNumber(const QString& AValue) { FstrVerNumber = AValue; }
    const QString& PApplicationName() const { return FstrApplName_; }
    void SetPApplicationName(const QString& AValue) { FstrApplName_ = AValue; }
    // The minisign public keys (each the base64 line of a .pub file) of which one must have
    // signed a package. Empty: packages are taken unsigned. Otherwise every download first
    // fetches "<download address>.minisig", and the package is handed on only when its
    // signature is good; any doubt (no signature, a malformed one, an unknown key, a package
    // that does not match) fails the download like a broken transfer and leaves no file.
    const QStringList& PPublicKeys() const { return FPublicKeys; }
    void SetPPublicKeys(const QStringList& AValue) { FPublicKeys = AValue; }
    // The release a package must be, as its signed facts state them: the channel ("Produccion"
    // or "Pruebas") and the app (compared without regard to letter case); an empty value is
    // not checked. A release older than PVersionNumber is refused too. The facts come from
    // "<download address>.manifest" when the server has one (signed when keys are set, and
    // then with "<download address>.manifest.minisig"), whose package size and hash must then
    // match; else from the trusted comment of the package's signature.
    const QString& PReleaseChannel() const { return FReleaseChannel; }
    void SetPReleaseChannel(const QString& AValue) { FReleaseChannel = AValue; }
    const QString& PReleaseApp() const { return FReleaseApp; }
    void SetPReleaseApp(const QString& AValue) { FReleaseApp = AValue; }

    TNotifyEvent OnUpdateFound;
    TUpdateDownloadedEvent OnUpdateDownloaded;
    TOnProgressEvent OnProgressEvent;
    TOnDownloadStarEvent OnDownLoadStart;
    // What the checks and downloads did, and why one failed or was refused.
    TOnLogEvent OnLog;

    // true when the server reports a newer version; OnUpdateFound fires just before.
    // CheckForUpdates lets an exception of the dialog or of OnUpdateFound reach the caller;
    // CheckForUpdatesRest absorbs every failure and releases the component's HTTP client.
    bool CheckForUpdates();
    bool CheckForUpdatesRest();

    // Download the package into Updates/ beside the executable and hand it on, then ask the
    // application to quit. Failed transfers leave no file and return quietly. DownloadUpdates
    // lets errors outside the transfer reach the caller; the other two absorb them.
    void DownloadUpdates();
    void DownloadUpdatesRest();
    void DownloadUpdatesNetHTTPClient();

    // The checks before the application is stopped, without writing anything: a network
    // connection, the download address's signature and manifest fetched and accepted (as the
    // download would), and the package's address answering with 2xx. false, with the cause
    // logged, when an update can't happen now. The next download of the same address takes the
    // signature and manifest checked here.
    bool PrepareDownload();

    bool IsInternetConnected();

    // Writes checkUpdates.php ("PHP") or checkUpdates.asp ("ASP") beside the executable and
    // tells the user in a message box. Raises nothing.
    void CreateScript(const QString& Lang);

    void Loaded() override;

    // State that hosts and tests may read.
    http::TZLTHttp* HttpClient() const { return FIdHttp.get(); }
    http::TZLTCookieManager* CookieManager() const { return FckmCookie___.get(); }
    bool Running() const { return FbolRunning__; }
    bool Active() const { return FbolActive___; }
    bool Busy() const { return FBolBusy_____; }

    // The package file name for the current local time.
    QString PackageFileName() const;

private:
    void Activate(bool AValue);
    void DoWorkBegin(std::int64_t AWorkCountMax);
    void DoWork(std::int64_t AWorkCount);
    void AttachWorkHandlers(http::TZLTHttp& AClient);
    http::TZLTHttp& EnsureHttpClient();
    void ReleaseHttpClient();
    // The client of the Rest routines (made plain when there is none) with their fixed
    // headers and a TLS 1.2-only handler that the caller owns through AHandler.
    http::TZLTHttp& PrepareRestClient(std::unique_ptr<http::TZLTSslHandler>& AHandler);
    // The default dialog while it is in use, else nullptr.
    TfrmUpdater* Dialog() const;
    QString CheckRequestUrl() const;
    // Sets AResult (before OnUpdateFound runs, so that a raising handler keeps it) or clears
    // the active flag.
    void ReadCheckAnswer(const QString& AAnswer, bool& AResult);
    // Names, creates and fills the package file. Errors in naming or creating the file pass;
    // a failed transfer deletes the partial file and throws ETransferFailed.
    void FetchPackage(http::TZLTHttp& AClient, QString& AFileName);
    // The entries of the package that differ from the installed files, fetched alone by HTTP
    // ranges into a ZIP of their own in Updates/, each checked against AManifest. false, with
    // the cause logged and no file left, when the whole package must travel instead.
    bool FetchChangedEntries(http::TZLTHttp& AClient, const signature::TManifest& AManifest, QString& AFileName);
    // The package's signature, fetched and parsed, and the trusted key that made it; throws
    // the cause of a refusal.
public:
    struct TSignatureCheck {
        signature::TSignature Signature;
        signature::TPublicKey Key;
    };

    // What a package is checked against: its signature (with keys) and its manifest.
    struct TReleaseChecks {
        std::optional<TSignatureCheck> Check;
        std::optional<signature::TManifest> Manifest;
    };

private:
    // The signature and the manifest of the download address, fetched and checked against the
    // release expected; a refusal is logged and thrown as a failed transfer.
    TReleaseChecks FetchReleaseChecks(http::TZLTHttp& AClient);
    TSignatureCheck FetchSignature(http::TZLTHttp& AClient);
    // The file "<download address>" + ASuffix (AWhat names it in errors), at most AMaxBytes;
    // nullopt when AOptional and the server answers that there is none.
    std::optional<QByteArray> FetchBeside(http::TZLTHttp& AClient, const QString& ASuffix, const QString& AWhat,
                                          std::int64_t AMaxBytes, bool AOptional);
    // The release's manifest, verified when keys are set; nullopt when the server has none.
    std::optional<signature::TManifest> FetchManifest(http::TZLTHttp& AClient);
    // Refuses a release whose signed facts are not the ones this component expects.
    void CheckReleaseFacts(const std::optional<TSignatureCheck>& ACheck,
                           const std::optional<signature::TManifest>& AManifest);
    void RequireDialogForDownload() const;
    void FinishDownload(const QString& AFileName);
    void Dispatch(const QString& AFileName);
    // Hands a line to OnLog; a failing handler never changes the transfer.
    void Log(TLogLevel ALevel, const QString& AText);
    // The guards every download passes: not already busy, and a network connection.
    bool MayDownload(const char* ARoutine);
    // An absorbed failure of a download routine: the partial package goes, the cause is logged.
    void DownloadAbandoned(const QString& AFileName, const std::exception_ptr& AError);

    bool FbolUseDefFrm = false;
    QString FstrCheckUrl_;
    QString FstrDownloUrl;
    TUpdateMode FumdUpdateMod = TUpdateMode::umAuto;
    std::unique_ptr<TkvDialogOptions> FdopDlgOption;
    QPointer<QProgressBar> FpgbProgreBar;
    TFileTypeExt FftyFileType_ = TFileTypeExt::tfeZip;
    QString FstrVerNumber;
    QString FstrApplName_;
    TkvProxyParams FpprProxyPara;
    QStringList FPublicKeys;
    // Checked by PrepareDownload for the address FPreparedUrl; taken by the next download.
    std::optional<TReleaseChecks> FPrepared;
    QString FPreparedUrl;
    QString FReleaseChannel;
    QString FReleaseApp;
    // Both are children of the component too (its owner releases what it owns); the pointers
    // decide when they go, and deleting a child takes it off its parent's list.
    std::unique_ptr<http::TZLTCookieManager> FckmCookie___;
    std::unique_ptr<http::TZLTHttp> FIdHttp;
    bool FbolRunning__ = false;
    bool FbolActive___ = false;
    bool FBolBusy_____ = false;
};

} // namespace zlt::webupdater
