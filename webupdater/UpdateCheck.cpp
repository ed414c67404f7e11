#include "webupdater/WebUpdater.h"

#include "common/ScopeExit.h"
#include "common/Text.h"
#include "http/HttpClient.h"
#include "webupdater/ProgressDialog.h"

#include <exception>
#include <memory>

namespace zlt::webupdater {

void TZLTWebUpdater::ReadCheckAnswer(const QString& AAnswer, bool& AResult) {
    const bool outdated = TextContains(AAnswer, QStringLiteral("Outdated"));
    Log(TLogLevel::llInfo,
        QStringLiteral("Update check %1: %2")
            .arg(http::DisplayUrl(CheckRequestUrl()),
                 outdated ? QStringLiteral("a newer version exists") : QStringLiteral("no newer version")));
    if (outdated) {
        AResult = true;
        if (OnUpdateFound) OnUpdateFound(this);
    } else {
        FbolActive___ = false;
    }
}

QString TZLTWebUpdater::CheckRequestUrl() const { return FstrCheckUrl_ + QStringLiteral("?ver=") + FstrVerNumber; }

bool TZLTWebUpdater::CheckForUpdates() {
    if (!FbolRunning__ || !IsInternetConnected()) return false;
    if (FbolUseDefFrm) CreateUpdaterDialog();
    const TScopeExit releaseDialog([this] {
        if (FbolUseDefFrm) FreeUpdaterDialog();
    });
    if (TfrmUpdater* dialog = Dialog()) dialog->PrepareForCheck(*FdopDlgOption);

    http::TZLTHttp& client = EnsureHttpClient();
    // The client owns the handlers it is given and releases them with itself.
    client.SetIOHandler(new http::TZLTSslHandler(&client));
    client.UserAgent = FstrApplName_;
    QString answer;
    try {
        answer = client.GetText(CheckRequestUrl());
    } catch (const std::exception& error) {
        // A failed request is an empty answer: no newer version known.
        Log(TLogLevel::llWarning, QStringLiteral("Update check failed: %1").arg(QString::fromUtf8(error.what())));
        answer.clear();
    } catch (...) {
        answer.clear();
    }
    if (TfrmUpdater* dialog = Dialog()) dialog->EndCheck();
    bool result = false;
    ReadCheckAnswer(answer, result);
    return result;
}

bool TZLTWebUpdater::CheckForUpdatesRest() {
    bool result = false;
    std::unique_ptr<http::TZLTSslHandler> handler;
    try {
        if (FbolRunning__ && IsInternetConnected()) {
            if (FbolUseDefFrm) CreateUpdaterDialog()->PrepareForCheck(*FdopDlgOption);
            http::TZLTHttp& client = PrepareRestClient(handler);
            const QString answer = client.GetText(CheckRequestUrl());
            if (TfrmUpdater* dialog = Dialog()) dialog->EndCheck();
            ReadCheckAnswer(answer, result);
        }
    } catch (const std::exception& error) {
        // Every failure means "no newer version known" here, or keeps a true already reached.
        Log(TLogLevel::llWarning, QStringLiteral("Update check failed: %1").arg(QString::fromUtf8(error.what())));
    }
    handler.reset();
    ReleaseHttpClient();
    return result;
}

} // namespace zlt::webupdater
