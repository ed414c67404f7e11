#pragma once

// The libcurl handles' owners and the library's start-up, shared by the HTTP classes; never
// included outside http/.

#include "common/Errors.h"

#include <QByteArray>
#include <QString>

#include <curl/curl.h>

#include <memory>

namespace zlt::http {

struct TCurlEasyDeleter {
    void operator()(CURL* AHandle) const noexcept { curl_easy_cleanup(AHandle); }
};
using TCurlEasy = std::unique_ptr<CURL, TCurlEasyDeleter>;

struct TCurlShareDeleter {
    void operator()(CURLSH* AHandle) const noexcept { curl_share_cleanup(AHandle); }
};
using TCurlShare = std::unique_ptr<CURLSH, TCurlShareDeleter>;

struct TCurlSlistDeleter {
    void operator()(curl_slist* AList) const noexcept { curl_slist_free_all(AList); }
};

// A request's header list; appended lines stay until the list goes.
class TCurlHeaders {
public:
    void Append(const QByteArray& ALine) {
        curl_slist* list = curl_slist_append(FList.get(), ALine.constData());
        if (list == nullptr) throw Exception(QStringLiteral("Out of memory while building the request headers"));
        if (!FList) FList.reset(list); // later appends return the same head
    }
    curl_slist* Get() const { return FList.get(); }

private:
    std::unique_ptr<curl_slist, TCurlSlistDeleter> FList;
};

// A libcurl failure as the common exception: AWhat, then the library's own text.
inline Exception CurlError(const QString& AWhat, CURLcode ACode) {
    return Exception(QStringLiteral("%1: %2").arg(AWhat, QString::fromUtf8(curl_easy_strerror(ACode))));
}

// Starts libcurl once per process; every class that makes a handle calls it first.
inline void EnsureCurlGlobalInit() {
    static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
    if (result != CURLE_OK) throw CurlError(QStringLiteral("libcurl could not be initialised"), result);
}

} // namespace zlt::http
