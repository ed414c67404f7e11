#pragma once

#include "platform/Component.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace zlt {

// Process-wide transfer settings that every new client starts from. Read once from the
// environment when first used: ZLT_CA_FILE (a PEM bundle trusted besides the system's),
// ZLT_CONNECT_TIMEOUT_MS, ZLT_STALL_TIMEOUT_MS. Tests may change them directly.
struct TZLTHttpDefaults {
    QString CaFile;                     // empty: the system's trust store only
    std::int32_t ConnectTimeoutMs = 30000;
    std::int32_t StallTimeoutMs = 60000; // no byte received for this long ends the transfer
    static TZLTHttpDefaults& Instance();
};

enum class TSSLVersion : std::uint8_t { sslvTLSv1 = 0, sslvTLSv1_1 = 1, sslvTLSv1_2 = 2, sslvTLSv1_3 = 3 };

// The TLS handler of a client. Certificates and host names are always verified. A new
// handler offers TLS 1.2 and newer; SetMethod(v) offers v only, SetSSLVersions any range.
class TZLTSslHandler : public TComponent {
public:
    explicit TZLTSslHandler(QObject* AOwner);
    ~TZLTSslHandler() override;

    TSSLVersion Method() const { return FMethod; }
    void SetMethod(TSSLVersion AMethod); // also limits the versions to AMethod alone
    // The lowest and highest version offered; AMax empty-handed (nullopt-like) by passing
    // TSSLVersion::sslvTLSv1_3 means "and newer".
    void SetSSLVersions(TSSLVersion AMin, TSSLVersion AMax);
    TSSLVersion MinVersion() const { return FMin; }
    TSSLVersion MaxVersion() const { return FMax; }
    bool OpenEnded() const { return FOpenEnded; } // true: newer versions than MaxVersion too

    QString CaFile; // starts as TZLTHttpDefaults::CaFile

private:
    TSSLVersion FMethod = TSSLVersion::sslvTLSv1_2;
    TSSLVersion FMin = TSSLVersion::sslvTLSv1_2;
    TSSLVersion FMax = TSSLVersion::sslvTLSv1_3;
    bool FOpenEnded = true;
};

// A cookie store that clients attached to it share: cookies set by a response of one go out
// with the next matching request of any of them.
class TZLTCookieManager : public TComponent {
public:
    explicit TZLTCookieManager(QObject* AOwner);
    ~TZLTCookieManager() override;
    void* Share() const; // the libcurl share handle, for the clients

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

struct TZLTProxySettings {
    bool BasicAuthentication = false;
    QString ProxyServer; // empty: no proxy
    std::int32_t ProxyPort = 0;
    QString ProxyUsername;
    QString ProxyPassword;
};

enum class TWorkMode : std::uint8_t { wmRead, wmWrite };

// A blocking HTTP/1.1 client: one libcurl handle, kept between requests. Every failed request
// throws Exception with a clear message: transport and TLS errors, a final status outside 2xx,
// too many redirects, a malformed address. Use on one thread at a time.
class TZLTHttp : public TComponent {
public:
    explicit TZLTHttp(QObject* AOwner);
    ~TZLTHttp() override;

    bool HandleRedirects = false;
    std::int32_t RedirectMaximum = 15;
    QString UserAgent = QStringLiteral("Mozilla/3.0 (compatible; Indy Library)"); // empty: no header
    QString Accept = QStringLiteral("text/html, */*");                        // empty: no header
    QString ContentEncoding;                                                  // empty: no header
    TZLTProxySettings ProxyParams;
    // With no proxy server of its own, take the system's proxy (http_proxy, https_proxy and
    // no_proxy of the environment) instead of going direct.
    bool UseSystemProxy = false;
    std::int32_t ConnectTimeoutMs; // from TZLTHttpDefaults
    std::int32_t StallTimeoutMs;   // from TZLTHttpDefaults; counts from the start of a request,
                                   // each header line or piece of body starts it anew
    QString CaFile;                // used unless an attached TLS handler names its own

    // Not owned; forgotten automatically when released elsewhere.
    TZLTCookieManager* CookieManager() const { return FCookieManager; }
    void SetCookieManager(TZLTCookieManager* AManager) { FCookieManager = AManager; }
    TZLTSslHandler* IOHandler() const { return FIOHandler; }
    void SetIOHandler(TZLTSslHandler* AHandler) { FIOHandler = AHandler; }

    // Fired as the body of a 2xx answer arrives: once when it begins (expected size, 0 when
    // unknown; also for an empty body), then with the count handed to the sink so far, each
    // time another 512 KiB or 100 ms have passed, and once more with the whole count at the end.
    // An exception thrown by a handler aborts the transfer and leaves the Get call unchanged.
    std::function<void(TZLTHttp* ASender, TWorkMode AWorkMode, std::int64_t AWorkCountMax)> OnWorkBegin;
    std::function<void(TZLTHttp* ASender, TWorkMode AWorkMode, std::int64_t AWorkCount)> OnWork;

    // GET, the body handed to ASink piece by piece as it arrives, never held whole. A final
    // status outside 2xx throws Exception("HTTP/1.1 404 Not Found", the server's status line)
    // and none of that answer's body reaches ASink. An exception thrown by ASink ends the
    // transfer and leaves Get unchanged.
    using TSink = std::function<void(const char* AData, std::size_t ASize)>;
    void Get(const QString& AURL, const TSink& ASink);
    QByteArray GetBytes(const QString& AURL);
    // The body decoded in the charset the response declares (ISO-8859-1 when none, as HTTP says).
    QString GetText(const QString& AURL);

    // Of the last request: the final status code (0 before any), its Content-Type.
    std::int32_t ResponseCode() const { return FResponseCode; }
    const QString& ContentType() const { return FContentType; }

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
    QPointer<TZLTCookieManager> FCookieManager;
    QPointer<TZLTSslHandler> FIOHandler;
    std::int32_t FResponseCode = 0;
    QString FContentType;
};

// The platform's own HTTP client, as a fresh one per transfer: redirects followed, no
// User-Agent or Accept header of its own, nothing attached, the system's proxy.
std::unique_ptr<TZLTHttp> CreatePlatformHttpClient();

} // namespace zlt
