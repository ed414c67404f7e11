#include "http/HttpClient.h"

#include "common/ScopeExit.h"
#include "http/Curl.h"
#include "platform/AnsiCodePage.h"
#include "platform/Certificates.h"

#include <QFile>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>
#include <utility>

namespace zlt::http {

namespace {

long SslVersionOption(const TZLTSslHandler* AHandler) {
    constexpr long openEnded = CURL_SSLVERSION_MAX_DEFAULT;
    if (AHandler == nullptr) return long{CURL_SSLVERSION_TLSv1_2} | openEnded;
    auto minimum = [](TSSLVersion AVersion) -> long {
        switch (AVersion) {
        case TSSLVersion::sslvTLSv1: return CURL_SSLVERSION_TLSv1_0;
        case TSSLVersion::sslvTLSv1_1: return CURL_SSLVERSION_TLSv1_1;
        case TSSLVersion::sslvTLSv1_2: return CURL_SSLVERSION_TLSv1_2;
        case TSSLVersion::sslvTLSv1_3: return CURL_SSLVERSION_TLSv1_3;
        }
        return CURL_SSLVERSION_TLSv1_2;
    };
    auto maximum = [](TSSLVersion AVersion) -> long {
        switch (AVersion) {
        case TSSLVersion::sslvTLSv1: return CURL_SSLVERSION_MAX_TLSv1_0;
        case TSSLVersion::sslvTLSv1_1: return CURL_SSLVERSION_MAX_TLSv1_1;
        case TSSLVersion::sslvTLSv1_2: return CURL_SSLVERSION_MAX_TLSv1_2;
        case TSSLVersion::sslvTLSv1_3: return CURL_SSLVERSION_MAX_TLSv1_3;
        }
        return CURL_SSLVERSION_MAX_DEFAULT;
    };
    return minimum(AHandler->MinVersion()) | (AHandler->OpenEnded() ? openEnded : maximum(AHandler->MaxVersion()));
}

// The address as libcurl wants it: ASCII as given (libcurl judges it), anything else
// percent-encoded as UTF-8.
QByteArray EncodedUrl(const QString& AURL) {
    bool ascii = true;
    for (const QChar c : AURL) ascii = ascii && c.unicode() < 0x80;
    if (ascii) return AURL.toLatin1();
    const QUrl url(AURL);
    if (!url.isValid()) throw Exception(QStringLiteral("Malformed address %1: %2").arg(AURL, url.errorString()));
    return url.toEncoded();
}

QByteArray CharsetOf(const QString& AContentType) {
    for (const QString& parameter : AContentType.split(u';').mid(1)) {
        const QString item = parameter.trimmed();
        if (item.startsWith(QLatin1String("charset="), Qt::CaseInsensitive)) {
            QString value = item.mid(8).trimmed();
            if (value.size() >= 2 && value.startsWith(u'"') && value.endsWith(u'"'))
                value = value.mid(1, value.size() - 2);
            return value.toLatin1();
        }
    }
    return {};
}

} // namespace

struct TZLTHttp::TImpl {
    using TClock = std::chrono::steady_clock;
    static constexpr std::int64_t WorkStepBytes = 512 * 1024;
    static constexpr TClock::duration WorkStepTime = std::chrono::milliseconds(100);

    explicit TImpl(TZLTHttp& AOwner) : Owner(AOwner) {
        EnsureCurlGlobalInit();
        Easy.reset(curl_easy_init());
        if (!Easy) throw Exception(QStringLiteral("Cannot create an HTTP client (curl_easy_init failed)"));
    }

    TZLTHttp& Owner;
    TCurlEasy Easy;
    char ErrorBuffer[CURL_ERROR_SIZE] = {};

    // State of the running transfer, over all its tries.
    const TSink* Sink = nullptr;
    const TBodyBegin* BodyBeginCheck = nullptr;
    const TResume* Resume = nullptr;
    bool BodyBegun = false;    // the work begin event has fired
    std::int64_t Received = 0; // bytes of the body handed to the sink: where a resumption goes on
    std::int64_t Reported = 0; // the count of the last work event
    std::int64_t Total = -1;   // the whole body's size, -1 while unknown
    QByteArray Validator;      // what identifies the file begun: its strong ETag or Last-Modified
    std::int32_t Resumptions = 0;
    bool HeadOnly = false;     // a HEAD request: the answer's headers alone
    TClock::time_point Deadline;      // of the whole transfer
    std::int64_t RequestReceived = 0; // bytes of the body this request delivered

    // State of the running request.
    std::exception_ptr Error; // thrown inside a callback, rethrown after the transfer
    std::int64_t RangeFrom = 0; // the first byte asked for; 0: the whole body
    std::int64_t PartLast = -1; // the last byte of a part asked for; -1: the body to its end
    bool ResponseBegun = false;
    bool StatusRefused = false; // the final status is not 2xx: the body is not delivered
    bool Stalled = false;
    TClock::time_point LastReport;
    QByteArray StatusLine;
    QByteArray ETag;
    QByteArray LastModified;
    QByteArray ContentRange;
    TClock::time_point LastActivity;
    curl_off_t LastDownloaded = 0;
    TClock::duration StallLimit{};

    void BeginTransfer(const TSink* ASink, const TBodyBegin* ABodyBegin, const TResume* AResume) {
        Sink = ASink;
        BodyBeginCheck = ABodyBegin;
        Resume = AResume;
        BodyBegun = false;
        Received = 0;
        Reported = 0;
        Total = -1;
        Validator.clear();
        Resumptions = 0;
        RangeFrom = 0;
    }

    void BeginRequest() {
        Error = nullptr;
        ResponseBegun = false;
        StatusRefused = false;
        Stalled = false;
        ClearResponseHeaders();
        LastDownloaded = 0;
        RequestReceived = 0;
        LastActivity = TClock::now();
        ErrorBuffer[0] = '\0';
    }

    void ClearResponseHeaders() {
        StatusLine.clear();
        ETag.clear();
        LastModified.clear();
        ContentRange.clear();
    }

    long ResponseCode() const {
        long code = 0;
        curl_easy_getinfo(Easy.get(), CURLINFO_RESPONSE_CODE, &code);
        return code;
    }

    void FireWorkBegin(std::int64_t AExpected) {
        BodyBegun = true;
        LastReport = TClock::now();
        if (Owner.OnWorkBegin) Owner.OnWorkBegin(&Owner, TWorkMode::wmRead, AExpected);
    }

    // The final answer, judged once: before the first byte of its body reaches the sink, or
    // after the transfer when it brought no body. false: its status is no success, and its
    // body (an error page) must not reach the sink.
    bool AnswerBegins() {
        ResponseBegun = true;
        // Redirect bodies never get here, so this is the final response.
        const long code = ResponseCode();
        if (code < 200 || code > 299) {
            StatusRefused = true;
            return false;
        }
        curl_off_t expected = -1;
        curl_easy_getinfo(Easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &expected);
        const std::int64_t declared = expected >= 0 ? static_cast<std::int64_t>(expected) : -1;
        if (PartLast >= 0)
            CheckPart(code, declared);
        else if (RangeFrom > 0 && code == 206)
            CheckContentRange(declared);
        else
            WholeBodyBegins(code, declared);
        return true;
    }

    // An answer without a body never reaches the write callback; it is judged all the same
    // (a part where none was asked for is refused with a body or without).
    void AnswerWithoutBody() {
        try {
            AnswerBegins();
        } catch (...) {
            Error = std::current_exception();
        }
    }

    // false: the transfer ends here.
    bool Body(const char* AData, std::size_t ASize) {
        LastActivity = TClock::now();
        if (!ResponseBegun && !AnswerBegins()) return false;
        // A body without a declared length is cut at the cap as well, before the sink sees
        // more than the cap allows.
        if (Owner.MaxBodyBytes > 0 && Received + static_cast<std::int64_t>(ASize) > Owner.MaxBodyBytes)
            throw TooLarge();
        if (Sink != nullptr && *Sink) (*Sink)(AData, ASize);
        Received += static_cast<std::int64_t>(ASize);
        RequestReceived += static_cast<std::int64_t>(ASize);
        // libcurl hands over what one read returned, often only a few KiB on a fast link;
        // a work event for each would make a progress display that repaints cost more than
        // the transfer itself.
        if (PartLast < 0 && (Received - Reported >= WorkStepBytes || LastActivity - LastReport >= WorkStepTime))
            FireWork();
        return true;
    }

    // The answer to a request for the whole body, or a server's answer to a resumption that
    // starts over (it ignores ranges, or the file changed since).
    void WholeBodyBegins(long ACode, std::int64_t ADeclared) {
        if (ACode == 206) throw Exception(QStringLiteral("The server sent a part (206) where the whole file was asked for"));
        StartOver();
        Validator = ETag.isEmpty() || ETag.startsWith("W/") ? LastModified : ETag;
        const bool sizeChanged = BodyBegun && ADeclared != Total;
        Total = ADeclared;
        if (Owner.MaxBodyBytes > 0 && ADeclared > Owner.MaxBodyBytes) throw TooLarge();
        if (BodyBeginCheck != nullptr && *BodyBeginCheck) (*BodyBeginCheck)(ADeclared);
        if (!BodyBegun || sizeChanged) FireWorkBegin(ADeclared > 0 ? ADeclared : 0);
    }

    // A 206 must be the rest of the file begun: "bytes <first>-<last>/<size>" from the byte
    // asked for to the end, of the size known, as long as the body it comes with.
    void CheckContentRange(std::int64_t ADeclared) const {
        const QByteArray range = ContentRange.trimmed();
        bool ok = range.startsWith("bytes ");
        const qsizetype dash = range.indexOf('-');
        const qsizetype slash = range.indexOf('/');
        std::int64_t first = -1, last = -1, size = -1;
        if (ok && dash > 6 && slash > dash) {
            bool okFirst = false, okLast = false, okSize = true;
            first = range.mid(6, dash - 6).toLongLong(&okFirst);
            last = range.mid(dash + 1, slash - dash - 1).toLongLong(&okLast);
            const QByteArray sizeText = range.mid(slash + 1);
            if (sizeText != "*") size = sizeText.toLongLong(&okSize);
            ok = okFirst && okLast && okSize;
        } else {
            ok = false;
        }
        const std::int64_t whole = size >= 0 ? size : Total;
        ok = ok && first == RangeFrom && last >= first && (whole < 0 || last == whole - 1) &&
             (Total < 0 || size < 0 || size == Total) && (ADeclared < 0 || ADeclared == last - first + 1);
        if (!ok)
            throw Exception(QStringLiteral("The server's part does not continue the file: Content-Range \"%1\" "
                                           "for the bytes from %2 of %3")
                                .arg(QString::fromLatin1(range))
                                .arg(RangeFrom)
                                .arg(Total >= 0 ? QString::number(Total) : QStringLiteral("an unknown size")));
    }

    // The answer to a request for a part: that part and no other, or the refusal to serve parts.
    void CheckPart(long ACode, std::int64_t ADeclared) const {
        if (ACode != 206)
            throw EPartsNotServed(QStringLiteral("the server answered a request for bytes %1-%2 with the whole file "
                                                 "(HTTP %3)")
                                      .arg(RangeFrom)
                                      .arg(PartLast)
                                      .arg(ACode));
        const QByteArray range = ContentRange.trimmed();
        const QByteArray expected = "bytes " + QByteArray::number(RangeFrom) + '-' + QByteArray::number(PartLast) + '/';
        if (!range.startsWith(expected) || (ADeclared >= 0 && ADeclared != PartLast - RangeFrom + 1))
            throw Exception(QStringLiteral("the server sent another part (Content-Range \"%1\", %2 bytes) for bytes %3-%4")
                                .arg(QString::fromLatin1(range))
                                .arg(ADeclared)
                                .arg(RangeFrom)
                                .arg(PartLast));
    }

    // What the sink got is void; the work count goes back with it.
    void StartOver() {
        if (Received == 0) return;
        if (Resume != nullptr && Resume->Restart) Resume->Restart();
        Received = 0;
        FireWork();
    }

    Exception TooLarge() const {
        return Exception(QStringLiteral("The answer is larger than the limit of %1 bytes").arg(Owner.MaxBodyBytes));
    }

    void FireWork() {
        Reported = Received;
        LastReport = TClock::now();
        if (Owner.OnWork) Owner.OnWork(&Owner, TWorkMode::wmRead, Received);
    }

    void Header(const char* AData, std::size_t ASize) {
        LastActivity = TClock::now();
        const QByteArray line(AData, static_cast<qsizetype>(ASize));
        if (line.startsWith("HTTP/")) {
            // Each answer of a redirect chain brings its own headers.
            ClearResponseHeaders();
            StatusLine = line.trimmed();
            return;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0) return;
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed();
        if (name == "etag")
            ETag = value;
        else if (name == "last-modified")
            LastModified = value;
        else if (name == "content-range")
            ContentRange = value;
    }

    // false: nothing arrived for longer than the stall limit.
    bool Progress(curl_off_t ADownloaded) {
        const TClock::time_point now = TClock::now();
        if (ADownloaded != LastDownloaded) {
            LastDownloaded = ADownloaded;
            LastActivity = now;
        }
        if (now - LastActivity > StallLimit) {
            Stalled = true;
            return false;
        }
        return true;
    }

    static std::size_t WriteCallback(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) noexcept {
        auto* self = static_cast<TImpl*>(AUser);
        try {
            return self->Body(AData, ASize * ACount) ? ASize * ACount : CURL_WRITEFUNC_ERROR;
        } catch (...) {
            self->Error = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }

    static std::size_t HeaderCallback(char* AData, std::size_t ASize, std::size_t ACount, void* AUser) noexcept {
        auto* self = static_cast<TImpl*>(AUser);
        try {
            self->Header(AData, ASize * ACount);
            return ASize * ACount;
        } catch (...) {
            self->Error = std::current_exception();
            return CURL_WRITEFUNC_ERROR;
        }
    }

    static int ProgressCallback(void* AUser, curl_off_t, curl_off_t ADownloaded, curl_off_t, curl_off_t) noexcept {
        return static_cast<TImpl*>(AUser)->Progress(ADownloaded) ? 0 : 1;
    }

    template <typename TValue>
    void Set(CURLoption AOption, TValue AValue) {
        const CURLcode result = curl_easy_setopt(Easy.get(), AOption, AValue);
        if (result != CURLE_OK) throw CurlError(QStringLiteral("Cannot configure the HTTP request"), result);
    }

    // The request's settings, one concern at a time; each throws when libcurl refuses one.
    void Configure(const QByteArray& AUrl, TCurlHeaders& AHeaders);
    void ConfigureProtocol(const QByteArray& AUrl); // address, schemes, HTTP version, redirects
    void ConfigureCallbacks();                      // where the headers and the body go
    void ConfigureHeaders(TCurlHeaders& AHeaders);  // Accept, User-Agent, Content-Encoding, Range
    void ConfigureProxy();
    void ConfigureCookies();
    void ConfigureTls();
    void SetCaBundle(const QString& AFile);
    void ConfigureLimits(); // connection, low-speed and stall time-outs
    void Perform(const QString& AURL, const TSink* ASink, const TBodyBegin* ABodyBegin, const TResume* AResume);
    void PerformPart(const QString& AURL, std::int64_t AFirst, std::int64_t ALast, const TSink& ASink,
                     const TResume& AResume);
    // One request of the transfer. Empty when it delivered the rest of the body; the cause when
    // it broke off in a way that another try may mend. Throws every other failure.
    QString Request(const QByteArray& AUrl, const std::function<Exception(const QString&)>& AFailure);
};

void TZLTHttp::TImpl::Configure(const QByteArray& AUrl, TCurlHeaders& AHeaders) {
    // Every request starts from libcurl's defaults, so nothing of an earlier request's
    // settings lingers; live connections and the session cache survive the reset.
    curl_easy_reset(Easy.get());
    ConfigureProtocol(AUrl);
    ConfigureCallbacks();
    ConfigureHeaders(AHeaders);
    ConfigureProxy();
    ConfigureCookies();
    ConfigureTls();
    ConfigureLimits();
}

void TZLTHttp::TImpl::ConfigureProtocol(const QByteArray& AUrl) {
    Set(CURLOPT_ERRORBUFFER, ErrorBuffer);
    Set(CURLOPT_URL, AUrl.constData());
    Set(CURLOPT_NOSIGNAL, 1L);
    Set(CURLOPT_PROTOCOLS_STR, "http,https");
    // A redirect may keep or raise the scheme, never lower it: a package asked for over HTTPS
    // must not arrive over plain HTTP.
    Set(CURLOPT_REDIR_PROTOCOLS_STR, AUrl.left(6).toLower() == "https:" ? "https" : "http,https");
    Set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    Set(CURLOPT_FOLLOWLOCATION, Owner.HandleRedirects ? 1L : 0L);
    if (HeadOnly) Set(CURLOPT_NOBODY, 1L);
    Set(CURLOPT_MAXREDIRS, static_cast<long>(Owner.RedirectMaximum < 0 ? -1 : Owner.RedirectMaximum));
}

void TZLTHttp::TImpl::ConfigureCallbacks() {
    // Larger socket reads; the write callback still gets at most 16 KiB at a time, which is
    // why the work events are batched.
    Set(CURLOPT_BUFFERSIZE, 512L * 1024L);
    Set(CURLOPT_WRITEFUNCTION, &TImpl::WriteCallback);
    Set(CURLOPT_WRITEDATA, this);
    Set(CURLOPT_HEADERFUNCTION, &TImpl::HeaderCallback);
    Set(CURLOPT_HEADERDATA, this);
}

void TZLTHttp::TImpl::ConfigureHeaders(TCurlHeaders& AHeaders) {
    // An empty value removes the header; libcurl would otherwise send "Accept: */*" itself.
    AHeaders.Append("Accept:" + (Owner.Accept.isEmpty() ? QByteArray() : " " + Owner.Accept.toUtf8()));
    if (Owner.UserAgent.isEmpty())
        AHeaders.Append("User-Agent:");
    else
        Set(CURLOPT_USERAGENT, Owner.UserAgent.toUtf8().constData());
    if (!Owner.ContentEncoding.isEmpty()) AHeaders.Append("Content-Encoding: " + Owner.ContentEncoding.toUtf8());
    if (PartLast >= 0) {
        AHeaders.Append("Range: bytes=" + QByteArray::number(RangeFrom) + '-' + QByteArray::number(PartLast));
    } else if (RangeFrom > 0) {
        AHeaders.Append("Range: bytes=" + QByteArray::number(RangeFrom) + '-');
        AHeaders.Append("If-Range: " + Validator);
    }
    Set(CURLOPT_HTTPHEADER, AHeaders.Get());
}

void TZLTHttp::TImpl::ConfigureProxy() {
    // Only the settings of this client decide about a proxy; the environment's http_proxy
    // and no_proxy do not, unless the client takes the system's proxy.
    const TkvProxyParams& proxy = Owner.ProxyParams;
    const bool ownProxy = proxy.UseProxy && !proxy.Server.isEmpty();
    if (!ownProxy) {
        // nullptr: libcurl reads the environment; "": no proxy at all.
        const char* const setting = Owner.UseSystemProxy ? nullptr : "";
        Set(CURLOPT_NOPROXY, setting);
        Set(CURLOPT_PROXY, setting);
        return;
    }
    Set(CURLOPT_NOPROXY, "");
    Set(CURLOPT_PROXY, proxy.Server.toUtf8().constData());
    Set(CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    if (proxy.Port > 0) Set(CURLOPT_PROXYPORT, static_cast<long>(proxy.Port));
    Set(CURLOPT_PROXYAUTH, static_cast<unsigned long>(CURLAUTH_BASIC));
    Set(CURLOPT_PROXYUSERNAME, proxy.Username.toUtf8().constData());
    Set(CURLOPT_PROXYPASSWORD, proxy.Password.toUtf8().constData());
}

void TZLTHttp::TImpl::ConfigureCookies() {
    // Without a store no cookie of an earlier response travels with this request. The store's
    // share is detached after every request anyway; clearing the handle's own jar keeps that
    // true whatever libcurl's engine did on its own.
    if (Owner.FCookieManager) {
        Set(CURLOPT_SHARE, static_cast<CURLSH*>(Owner.FCookieManager->Share()));
        Set(CURLOPT_COOKIEFILE, "");
    } else {
        Set(CURLOPT_SHARE, static_cast<CURLSH*>(nullptr));
        Set(CURLOPT_COOKIELIST, "ALL");
    }
}

void TZLTHttp::TImpl::ConfigureTls() {
    const TZLTSslHandler* handler = Owner.FIOHandler.data();
    Set(CURLOPT_SSL_VERIFYPEER, 1L);
    Set(CURLOPT_SSL_VERIFYHOST, 2L);
    Set(CURLOPT_SSLVERSION, SslVersionOption(handler));
    // CAINFO replaces libcurl's default bundle; the system's certificate folder (CAPATH)
    // stays in force beside it, so a private CA is trusted in addition to the system's.
    const QString caFile = handler != nullptr && !handler->CaFile.isEmpty() ? handler->CaFile : Owner.CaFile;
    if (!caFile.isEmpty())
        SetCaBundle(caFile);
    else if (const QString bundle = platform::DefaultCaBundle(); !bundle.isEmpty())
        SetCaBundle(bundle);
}

void TZLTHttp::TImpl::SetCaBundle(const QString& AFile) {
    // Read here, by its name as the system spells it: libcurl would open a Windows name through
    // the ANSI code page, which lacks most of the letters a folder's name may hold.
    QFile file(AFile);
    if (file.open(QIODevice::ReadOnly)) {
        QByteArray bundle = file.readAll();
        curl_blob blob{bundle.data(), static_cast<std::size_t>(bundle.size()), CURL_BLOB_COPY};
        Set(CURLOPT_CAINFO_BLOB, &blob);
        return;
    }
    // libcurl names the file it cannot read.
    Set(CURLOPT_CAINFO, AFile.toLocal8Bit().constData());
}

void TZLTHttp::TImpl::ConfigureLimits() {
    if (Owner.ConnectTimeoutMs > 0) Set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(Owner.ConnectTimeoutMs));
    // What is left of the whole transfer's time, at least a millisecond (0 would mean none).
    if (Owner.TransferTimeoutMs > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - TClock::now()).count();
        Set(CURLOPT_TIMEOUT_MS, static_cast<long>(std::max<long long>(left, 1)));
    }
    // A body that drips (a byte now and then, never long enough apart for the stall guard)
    // is ended by libcurl's own average-speed check.
    if (Owner.LowSpeedBytesPerSecond > 0 && Owner.LowSpeedSeconds > 0) {
        Set(CURLOPT_LOW_SPEED_LIMIT, static_cast<long>(Owner.LowSpeedBytesPerSecond));
        Set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(Owner.LowSpeedSeconds));
    }
    // The stall guard: checked in the progress callback, which libcurl calls at least once a
    // second even when nothing arrives, so it ends a stalled transfer within a second of the
    // limit; libcurl's own low-speed check only works in whole seconds over a sliding
    // average, which would let a burst before the stall hide it for several seconds.
    if (Owner.StallTimeoutMs > 0) {
        StallLimit = std::chrono::milliseconds(Owner.StallTimeoutMs);
        Set(CURLOPT_NOPROGRESS, 0L);
        Set(CURLOPT_XFERINFOFUNCTION, &TImpl::ProgressCallback);
        Set(CURLOPT_XFERINFODATA, this);
    }
}

namespace {

// The transport failures that leave a body cut short; anything else (a refused certificate, a
// malformed address, too many redirects) another try would only repeat.
bool BrokeOff(CURLcode AResult) {
    switch (AResult) {
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_GOT_NOTHING:
    case CURLE_COULDNT_CONNECT: return true;
    default: return false;
    }
}

} // namespace

void TZLTHttp::TImpl::Perform(const QString& AURL, const TSink* ASink, const TBodyBegin* ABodyBegin,
                              const TResume* AResume) {
    Owner.FResponseCode = 0;
    Owner.FContentType.clear();
    const QString shownUrl = DisplayUrl(AURL);
    const QString verb = HeadOnly ? QStringLiteral("HEAD") : QStringLiteral("GET");
    const auto failure = [&shownUrl, &verb](const QString& AReason) {
        return Exception(QStringLiteral("%1 %2 failed: %3").arg(verb, shownUrl, AReason));
    };
    if (AURL.trimmed().isEmpty()) throw failure(QStringLiteral("the address is empty"));
    const QByteArray url = EncodedUrl(AURL);
    BeginTransfer(ASink, ABodyBegin, AResume);
    Deadline = TClock::now() + std::chrono::milliseconds(Owner.TransferTimeoutMs);
    for (;;) {
        const QString cause = Request(url, failure);
        if (cause.isEmpty()) break;
        if (AResume == nullptr || Resumptions >= AResume->MaxResumptions) throw failure(cause);
        // Only a try that brought something is worth another: one that stalled or dripped from
        // its first byte would do the same again.
        const std::int64_t worth = std::min(TZLTHttpDefaults::ResumeWorthBytes,
                                            Total > 0 ? std::max<std::int64_t>(Total / 100, 1)
                                                      : TZLTHttpDefaults::ResumeWorthBytes);
        if (RequestReceived < worth)
            throw failure(QStringLiteral("%1 (after %2 bytes of this try: not worth trying again)")
                              .arg(cause)
                              .arg(RequestReceived));
        ++Resumptions;
        // Without a validator nothing tells the rest of this file from the rest of another.
        RangeFrom = Validator.isEmpty() ? 0 : Received;
        if (RangeFrom == 0) StartOver();
        if (AResume->Resuming) AResume->Resuming(RangeFrom, cause);
        // A server that just dropped the connection gets a moment before the next try.
        if (AResume->BackoffMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(AResume->BackoffMs) * Resumptions);
    }
    // The work begin event has fired by now: an answer with a body or without one was judged,
    // and announced, in AnswerBegins.
    if (Received != Reported) FireWork();
}

void TZLTHttp::TImpl::PerformPart(const QString& AURL, std::int64_t AFirst, std::int64_t ALast, const TSink& ASink,
                                  const TResume& AResume) {
    Owner.FResponseCode = 0;
    Owner.FContentType.clear();
    const QString shownUrl = DisplayUrl(AURL);
    const auto failure = [&shownUrl](const QString& AReason) {
        return Exception(QStringLiteral("GET %1 failed: %2").arg(shownUrl, AReason));
    };
    if (AFirst < 0 || ALast < AFirst) throw failure(QStringLiteral("no bytes %1-%2 to ask for").arg(AFirst).arg(ALast));
    const QByteArray url = EncodedUrl(AURL);
    BeginTransfer(&ASink, nullptr, &AResume);
    const TScopeExit whole([this] {
        PartLast = -1;
        RangeFrom = 0;
    });
    Deadline = TClock::now() + std::chrono::milliseconds(Owner.TransferTimeoutMs);
    for (RangeFrom = AFirst, PartLast = ALast;; RangeFrom = AFirst + Received) {
        const QString cause = Request(url, failure);
        if (cause.isEmpty()) break;
        // Only a try that brought something is worth another.
        if (Resumptions >= AResume.MaxResumptions || RequestReceived == 0) throw failure(cause);
        ++Resumptions;
        if (AResume.Resuming) AResume.Resuming(AFirst + Received, cause);
        if (AResume.BackoffMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(AResume.BackoffMs) * Resumptions);
    }
    // A part whose answer declared no length ends where the server closed it.
    if (Received != ALast - AFirst + 1)
        throw failure(QStringLiteral("the part of bytes %1-%2 ended after %3 bytes").arg(AFirst).arg(ALast).arg(Received));
}

QString TZLTHttp::TImpl::Request(const QByteArray& AUrl, const std::function<Exception(const QString&)>& AFailure) {
    CURL* easy = Easy.get();
    // The headers must outlive the transfer; the share is detached on every path, so that a
    // cookie store released between requests is never touched again.
    TCurlHeaders headers;
    struct TDetachShare {
        CURL* Easy;
        ~TDetachShare() { curl_easy_setopt(Easy, CURLOPT_SHARE, static_cast<CURLSH*>(nullptr)); }
    } detach{easy};

    Configure(AUrl, headers);
    BeginRequest();
    const CURLcode result = curl_easy_perform(easy);
    if (result == CURLE_OK && !ResponseBegun && !Error) AnswerWithoutBody();

    Owner.FResponseCode = static_cast<std::int32_t>(ResponseCode());
    const char* contentType = nullptr;
    if (curl_easy_getinfo(easy, CURLINFO_CONTENT_TYPE, &contentType) == CURLE_OK && contentType != nullptr)
        Owner.FContentType = QString::fromLatin1(contentType);

    if (Error) std::rethrow_exception(std::exchange(Error, nullptr));

    const bool statusFailed = StatusRefused ||
                              (result == CURLE_OK && (Owner.FResponseCode < 200 || Owner.FResponseCode > 299));
    if (statusFailed) {
        // The server's own status line, as HTTP clients traditionally report it.
        const QString line = QString::fromLatin1(StatusLine);
        throw Exception(line.isEmpty() ? QStringLiteral("HTTP/1.1 %1").arg(Owner.FResponseCode) : line);
    }
    if (result == CURLE_OK && !Stalled) {
        if (!HeadOnly && Total >= 0 && Received != Total)
            throw AFailure(QStringLiteral("the body ended after %1 of %2 bytes").arg(Received).arg(Total));
        return {};
    }
    // libcurl counts the time left from its own start, a moment after the deadline was set.
    if (result == CURLE_OPERATION_TIMEDOUT && Owner.TransferTimeoutMs > 0 &&
        TClock::now() + std::chrono::milliseconds(100) >= Deadline)
        throw AFailure(QStringLiteral("the transfer took longer than its limit of %1 s")
                           .arg(Owner.TransferTimeoutMs / 1000.0, 0, 'g', 6));
    const QString cause = Stalled ? QStringLiteral("no data received for %1 ms").arg(Owner.StallTimeoutMs)
                          : ErrorBuffer[0] != '\0' ? QString::fromUtf8(ErrorBuffer)
                                                   : QString::fromUtf8(curl_easy_strerror(result));
    // Broken off mid-body: the answer was a success and its body stopped. A later try may
    // also fail before any answer, the server still coming back.
    const bool answered = Owner.FResponseCode >= 200 && Owner.FResponseCode <= 299;
    if ((Stalled || BrokeOff(result)) && (answered || Resumptions > 0)) return cause;
    throw AFailure(cause);
}

TZLTHttp::TZLTHttp(QObject* AOwner)
    : TComponent(AOwner), ConnectTimeoutMs(TZLTHttpDefaults::Instance().ConnectTimeoutMs),
      StallTimeoutMs(TZLTHttpDefaults::Instance().StallTimeoutMs),
      LowSpeedBytesPerSecond(TZLTHttpDefaults::Instance().LowSpeedBytesPerSecond),
      LowSpeedSeconds(TZLTHttpDefaults::Instance().LowSpeedSeconds),
      MaxBodyBytes(TZLTHttpDefaults::Instance().MaxBodyBytes),
      TransferTimeoutMs(TZLTHttpDefaults::Instance().TransferTimeoutMs), CaFile(TZLTHttpDefaults::Instance().CaFile),
      FImpl(std::make_unique<TImpl>(*this)) {}

TZLTHttp::~TZLTHttp() = default;

void TZLTHttp::Get(const QString& AURL, const TSink& ASink, const TBodyBegin& ABodyBegin) {
    FImpl->Perform(AURL, &ASink, &ABodyBegin, nullptr);
}

void TZLTHttp::Download(const QString& AURL, const TSink& ASink, const TBodyBegin& ABodyBegin,
                        const TResume& AResume) {
    FImpl->Perform(AURL, &ASink, &ABodyBegin, &AResume);
}

void TZLTHttp::GetPart(const QString& AURL, std::int64_t AFirst, std::int64_t ALast, const TSink& ASink,
                       const TResume& AResume) {
    FImpl->PerformPart(AURL, AFirst, ALast, ASink, AResume);
}

std::int32_t TZLTHttp::Resumptions() const { return FImpl->Resumptions; }

namespace {
// Thrown by the probe's sink at the first byte: the answer is known, the rest is not wanted.
struct TProbeAnswered {};
} // namespace

void TZLTHttp::Probe(const QString& AURL) {
    // Nothing of the package is transferred: the host's progress stays where it is.
    auto workBegin = std::exchange(OnWorkBegin, nullptr);
    auto work = std::exchange(OnWork, nullptr);
    const TScopeExit restore([&] {
        FImpl->HeadOnly = false;
        OnWorkBegin = std::move(workBegin);
        OnWork = std::move(work);
    });
    FImpl->HeadOnly = true;
    try {
        FImpl->Perform(AURL, nullptr, nullptr, nullptr);
        return;
    } catch (const Exception&) {
        if (FResponseCode != 405 && FResponseCode != 501) throw;
    }
    FImpl->HeadOnly = false;
    try {
        Get(AURL, [](const char*, std::size_t) { throw TProbeAnswered{}; });
    } catch (const TProbeAnswered&) {
    }
}

QByteArray TZLTHttp::GetBytes(const QString& AURL) {
    QByteArray body;
    Get(AURL, [&body](const char* AData, std::size_t ASize) { body.append(AData, static_cast<qsizetype>(ASize)); });
    return body;
}

QString TZLTHttp::GetText(const QString& AURL) {
    const QByteArray body = GetBytes(AURL);
    const QByteArray charset = CharsetOf(FContentType);
    // Windows-1252 is the system's ANSI code page and has its own table here: Qt built
    // without ICU (as on Windows) does not know the name.
    if (charset.compare("windows-1252", Qt::CaseInsensitive) == 0 || charset.compare("cp1252", Qt::CaseInsensitive) == 0)
        return platform::FromAnsi(body);
    // HTTP's default for text is ISO-8859-1; a charset this platform does not know falls
    // back to it as well rather than losing the answer.
    QStringDecoder decoder(charset.isEmpty() ? "ISO-8859-1" : charset.constData());
    if (!decoder.isValid()) decoder = QStringDecoder(QStringDecoder::Latin1);
    return decoder.decode(body);
}

QString DisplayUrl(const QString& AURL) {
    const QUrl url(AURL);
    if (url.isValid() && !url.userInfo().isEmpty()) return url.toDisplayString(QUrl::RemoveUserInfo);
    // An address that does not parse may still hold a password: whatever stands before the
    // last "@" of its authority goes.
    const qsizetype scheme = AURL.indexOf(QLatin1String("://"));
    if (scheme < 0) return AURL;
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < AURL.size() && AURL[end] != u'/' && AURL[end] != u'?' && AURL[end] != u'#') ++end;
    const qsizetype at = AURL.lastIndexOf(u'@', end - 1);
    if (at < start) return AURL;
    return AURL.left(start) + AURL.mid(at + 1);
}

std::unique_ptr<TZLTHttp> CreatePlatformHttpClient() {
    auto client = std::make_unique<TZLTHttp>(nullptr);
    client->HandleRedirects = true;
    client->UserAgent.clear();
    client->Accept.clear();
    client->UseSystemProxy = true;
    return client;
}

} // namespace zlt::http
