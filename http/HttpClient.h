#pragma once

#include "common/Component.h"
#include "common/Errors.h"
#include "http/CookieStore.h"
#include "http/Defaults.h"
#include "http/ProxyParams.h"
#include "http/TlsHandler.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace zlt::http {

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
    QString UserAgent = DefaultUserAgent; // empty: no header
    QString Accept = DefaultAccept;       // empty: no header
    QString ContentEncoding;              // empty: no header
    TkvProxyParams ProxyParams;
    // With no proxy server of its own, take the system's proxy (http_proxy, https_proxy and
    // no_proxy of the environment) instead of going direct.
    bool UseSystemProxy = false;
    std::int32_t ConnectTimeoutMs;       // from TZLTHttpDefaults
    std::int32_t StallTimeoutMs;         // from TZLTHttpDefaults; counts from the start of a request,
                                         // each header line or piece of body starts it anew
    std::int32_t LowSpeedBytesPerSecond; // from TZLTHttpDefaults; 0: no low-speed limit
    std::int32_t LowSpeedSeconds;        // from TZLTHttpDefaults
    std::int64_t MaxBodyBytes;           // from TZLTHttpDefaults; 0: no cap
    std::int32_t TransferTimeoutMs;      // from TZLTHttpDefaults; of a whole Get or Download
    QString CaFile;                      // used unless an attached TLS handler names its own

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
    // ABodyBegin, when given, sees the declared length of a 2xx body (-1 when none is declared)
    // before its first byte reaches ASink; an exception it throws ends the transfer the same way.
    // A redirect never leads from HTTPS to plain HTTP. A part (206) of the file where no range
    // was asked for is a failure, with a body or without.
    using TSink = std::function<void(const char* AData, std::size_t ASize)>;
    using TBodyBegin = std::function<void(std::int64_t ADeclaredLength)>;
    void Get(const QString& AURL, const TSink& ASink, const TBodyBegin& ABodyBegin = {});
    // How a download goes on when its body breaks off: the connection closed or reset, a body
    // shorter than declared, a stall. The next try asks for the rest ("Range: bytes=N-") on
    // condition that the file is the one begun ("If-Range" with its strong ETag, else its
    // Last-Modified); a server without either, one that answers the condition with the whole
    // file, or a new version of it, means starting over from the first byte. Only a try that
    // delivered something worth going on from (1 MiB, or 1% of the file when that is less) is
    // followed by another. The whole transfer ends after TransferTimeoutMs. Each try waits first:
    // BackoffMs times its number (the first resumption BackoffMs, the second twice that...).
    struct TResume {
        std::int32_t MaxResumptions = TZLTHttpDefaults::Instance().MaxResumptions;
        std::int32_t BackoffMs = TZLTHttpDefaults::Instance().ResumeBackoffMs;
        // Everything handed to the sink so far is void: the body starts over from its first byte.
        std::function<void()> Restart;
        // Told before each new try: the byte it continues from (0: from the start) and why the
        // last one broke.
        std::function<void(std::int64_t AOffset, const QString& ACause)> Resuming;
    };
    // As Get, with resumptions. The sink sees the body in order, as if it had come in one
    // piece; OnWorkBegin fires once with the whole size (again only when starting over brings
    // a file of another size), and OnWork counts the whole file, never going back on a
    // resumption. An answer to a resumption whose Content-Range is not the rest of the file
    // begun is a failure. After the last try, the last break is the failure thrown.
    void Download(const QString& AURL, const TSink& ASink, const TBodyBegin& ABodyBegin, const TResume& AResume);
    // The bytes AFirst to ALast of AURL, asked for by "Range: bytes=AFirst-ALast", handed to
    // ASink in order; the work events stay silent (the caller counts). The answer must be a
    // part (206) whose Content-Range is exactly that range: a server that sends the whole file
    // (200) throws EPartsNotServed at once, before its body is read, and any other part throws
    // Exception. A break in the body is resumed from the next byte missing, as Download does
    // (AResume's Restart is never called: a part is never started over).
    void GetPart(const QString& AURL, std::int64_t AFirst, std::int64_t ALast, const TSink& ASink,
                 const TResume& AResume);
    // Tries after the first in the last Download or GetPart.
    std::int32_t Resumptions() const;
    // Whether the server has AURL, without taking its body: a HEAD request, or, when the server
    // does not answer HEAD (405, 501), a GET that ends at the first byte of the body. Returns
    // on a 2xx answer; throws as Get does otherwise. The work events and size cap stay silent.
    void Probe(const QString& AURL);
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

// A server that answers a range request with the whole file: it does not serve parts.
class EPartsNotServed : public Exception {
public:
    using Exception::Exception;
};

// The address as messages and records show it: without any user name or password in it.
QString DisplayUrl(const QString& AURL);

// The platform's own HTTP client, as a fresh one per transfer: redirects followed, no
// User-Agent or Accept header of its own, nothing attached, the system's proxy.
std::unique_ptr<TZLTHttp> CreatePlatformHttpClient();

} // namespace zlt::http
