#include "webupdater/WebUpdater.h"

#include "common/ScopeExit.h"
#include "common/Text.h"
#include "http/HttpClient.h"
#include "webupdater/ProgressDialog.h"

#include <exception>
#include <memory>

namespace zlt::webupdater {

void TZLTWebUpdater::ReadCheckAnswer(const QString& AAnswer, bool& AResult) {
    if (TextContains(AAnswer, QStringLiteral("Outdated"))) {
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
    std::unique_ptr<http::TZLTSslHandler> handler;
    try {
        if (FbolRunning__ && IsInternetConnected()) {
            if (FbolUseDefFrm) CreateUpdaterDialog()->PrepareForCheck(*FdopDlgOption);
            http::TZLTHttp& client = PrepareRestClient(handler);
            const QString answer = client.GetText(CheckRequestUrl());
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

} // namespace zlt::webupdater
