#include "http/CookieStore.h"

#include "http/Curl.h"

namespace zlt::http {

struct TZLTCookieManager::TImpl {
    TCurlShare Share;
};

TZLTCookieManager::TZLTCookieManager(QObject* AOwner) : TComponent(AOwner), FImpl(std::make_unique<TImpl>()) {
    EnsureCurlGlobalInit();
    FImpl->Share.reset(curl_share_init());
    if (!FImpl->Share) throw Exception(QStringLiteral("Cannot create the cookie store (curl_share_init failed)"));
    const CURLSHcode result = curl_share_setopt(FImpl->Share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
    if (result != CURLSHE_OK)
        throw Exception(
            QStringLiteral("Cannot create the cookie store: %1").arg(QString::fromUtf8(curl_share_strerror(result))));
}

// Clients attach the share only for the length of a request, so nothing uses it any more here.
TZLTCookieManager::~TZLTCookieManager() = default;

void* TZLTCookieManager::Share() const { return FImpl->Share.get(); }

} // namespace zlt::http
