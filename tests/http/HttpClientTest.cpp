// The HTTP client against real peers on loopback: the fault server, nginx with a test CA, and
// tinyproxy with basic authentication.

#include "http/HttpClient.h"
#include "common/Errors.h"

#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/support/TestSupport.h"

#include <QUrl>

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <optional>
#include <vector>

namespace zlt::test {

using namespace zlt::http;

namespace {

class HttpClientTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { FServer = new TFaultServer(); }
    static void TearDownTestSuite() { delete std::exchange(FServer, nullptr); }

    static QString Url(const QString& APath) { return FServer->Url(APath); }

    // A client as the component sets it up: redirects followed, its own headers.
    static std::unique_ptr<TZLTHttp> Client() {
        auto client = std::make_unique<TZLTHttp>(nullptr);
        client->HandleRedirects = true;
        return client;
    }

    // The message of the Exception that AAction throws; nullopt when it throws none.
    template <typename TAction>
    static std::optional<QString> FailureOf(TAction&& AAction) {
        try {
            AAction();
        } catch (const Exception& error) {
            return error.Message();
        }
        return std::nullopt;
    }

    static inline TFaultServer* FServer = nullptr;
};

TEST_F(HttpClientTest, ProxyWithBasicAuthentication) {
    ZLT_REQUIRE_PROGRAM("tinyproxy");
    // The environment must neither send a direct request to a proxy nor let a request that
    // should use the proxy bypass it.
    const TScopedEnvironmentVariable httpProxy("http_proxy", "http://127.0.0.1:9");
    const TScopedEnvironmentVariable noProxy("no_proxy", "127.0.0.1,localhost");
    TTinyProxy proxy(QStringLiteral("zlt"), QStringLiteral("s3cret"));
    auto client = Client();
    client->ProxyParams = {true, QStringLiteral("127.0.0.1"), proxy.Port(), QStringLiteral("zlt"),
                           QStringLiteral("s3cret")};

    EXPECT_EQ(client->GetBytes(Url(QStringLiteral("/ok/100"))).size(), 100);
    EXPECT_EQ(proxy.RequestsSeen(), 1);

    TTestCa ca;
    TTempDir root;
    WriteFile(root.File(QStringLiteral("p.bin")), "through the tunnel");
    TNginx https(root.Path(), {&ca, QStringLiteral("TLSv1.2 TLSv1.3"), {}, {}});
    client->CaFile = ca.CaFile;
    EXPECT_EQ(client->GetBytes(https.Url(QStringLiteral("/p.bin"))), "through the tunnel");
    EXPECT_EQ(proxy.RequestsSeen(), 2);

    client->ProxyParams.Password = QStringLiteral("wrong");
    EXPECT_TRUE(FailureOf([&] { client->GetBytes(Url(QStringLiteral("/ok/100"))); }));
    client->ProxyParams.Username.clear();
    client->ProxyParams.Password.clear();
    EXPECT_TRUE(FailureOf([&] { client->GetBytes(Url(QStringLiteral("/ok/100"))); }));
    EXPECT_EQ(proxy.RequestsSeen(), 2) << "a refused request was forwarded";

    client->ProxyParams.UseProxy = false;
    EXPECT_EQ(client->GetBytes(Url(QStringLiteral("/ok/100"))).size(), 100);
    EXPECT_EQ(proxy.RequestsSeen(), 2) << "with the proxy turned off the request must go direct";
}

TEST_F(HttpClientTest, CookiesTravelOnlyThroughAStore) {
    struct TCase {
        const char* Name;
        bool Store;
        bool SecondClient; // the cookie goes out with another client of the same store
        bool Detach;       // the store is taken from the client before the next request
        bool Expected;
    };
    const TCase cases[] = {
        {"store, same client", true, false, false, true},
        {"store, another client", true, true, false, true},
        {"no store", false, false, false, false},
        {"store detached", true, false, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TZLTCookieManager store(nullptr);
        auto first = Client();
        auto second = Client();
        if (c.Store) {
            first->SetCookieManager(&store);
            second->SetCookieManager(&store);
        }
        first->GetBytes(Url(QStringLiteral("/setcookie")));
        if (c.Detach) first->SetCookieManager(nullptr);
        TZLTHttp& next = c.SecondClient ? *second : *first;
        const auto failure = FailureOf([&] { next.GetBytes(Url(QStringLiteral("/needcookie"))); });
        EXPECT_EQ(!failure.has_value(), c.Expected) << failure.value_or(QString()).toStdString();
    }
}

TEST_F(HttpClientTest, AReleasedCookieStoreIsForgotten) {
    auto client = Client();
    {
        TZLTCookieManager store(nullptr);
        client->SetCookieManager(&store);
        client->GetBytes(Url(QStringLiteral("/setcookie")));
    }
    EXPECT_EQ(client->CookieManager(), nullptr);
    // The cookies went with the store, and the client works on without one.
    EXPECT_EQ(FailureOf([&] { client->GetBytes(Url(QStringLiteral("/needcookie"))); }),
              QStringLiteral("HTTP/1.1 403 Forbidden"));
    EXPECT_EQ(client->GetBytes(Url(QStringLiteral("/ok/10"))), "0123456789");
}

TEST_F(HttpClientTest, Redirects) {
    struct TCase {
        const char* Path;
        bool Follow;
        int Maximum;
        const char* Failure; // part of the message; nullptr: 100 bytes arrive
    };
    const TCase cases[] = {
        {"/redirect/3", true, 15, nullptr},
        {"/redirect/3", false, 15, "HTTP/1.1 302"},
        {"/redirect/3", true, 2, "redirects"},
        {"/loop", true, 15, "redirects"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.Path << " follow=" << c.Follow << " maximum=" << c.Maximum);
        auto client = Client();
        client->HandleRedirects = c.Follow;
        client->RedirectMaximum = c.Maximum;
        QByteArray body;
        const auto failure = FailureOf([&] { body = client->GetBytes(Url(QString::fromLatin1(c.Path))); });
        if (c.Failure == nullptr) {
            EXPECT_FALSE(failure) << failure->toStdString();
            EXPECT_EQ(body.size(), 100);
            EXPECT_EQ(client->ResponseCode(), 200);
        } else {
            ASSERT_TRUE(failure);
            EXPECT_TRUE(failure->contains(QLatin1String(c.Failure))) << failure->toStdString();
        }
    }
}

TEST_F(HttpClientTest, AnErrorStatusRaisesAndItsBodyReachesNobody) {
    struct TCase {
        const char* Path;
        const char* Message;
    };
    const TCase cases[] = {
        {"/status/404", "HTTP/1.1 404 Not Found"},
        {"/status/500", "HTTP/1.1 500 Internal Server Error"},
        {"/status/204", nullptr}, // 2xx without a body is a success
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        auto client = Client();
        QByteArray received;
        int events = 0;
        client->OnWork = [&](TZLTHttp*, TWorkMode, std::int64_t) { ++events; };
        const auto failure = FailureOf([&] {
            client->Get(Url(QString::fromLatin1(c.Path)), [&](const char* AData, std::size_t ASize) {
                received.append(AData, static_cast<qsizetype>(ASize));
            });
        });
        if (c.Message == nullptr) {
            EXPECT_FALSE(failure);
        } else {
            EXPECT_EQ(failure, QString::fromLatin1(c.Message));
            EXPECT_EQ(received, QByteArray());
            EXPECT_EQ(events, 0);
        }
        EXPECT_EQ(client->ResponseCode(), QString::fromLatin1(c.Path).section(u'/', 2).toInt());
    }
}

TEST_F(HttpClientTest, TransportFailuresRaiseWithTheAddressAndTheReason) {
    struct TCase {
        QString Url;
        const char* Reason; // part of libcurl's text
    };
    const QString closedPort = QStringLiteral("http://127.0.0.1:%1/x").arg(FreePort());
    const TCase cases[] = {
        {Url(QStringLiteral("/drop/200000")), "transfer closed"},
        {Url(QStringLiteral("/short/1000")), "transfer closed"},
        {closedPort, "onnect"},
        {QStringLiteral("http://"), "URL"},
        {QStringLiteral("http://[::1/x"), "URL"},
        {QStringLiteral("ftp://127.0.0.1/x"), "rotocol"},
        {QString(), "empty"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Url.toStdString());
        auto client = Client();
        const auto failure = FailureOf([&] { client->Get(c.Url, {}); });
        ASSERT_TRUE(failure);
        EXPECT_TRUE(failure->contains(c.Url)) << failure->toStdString();
        EXPECT_TRUE(failure->contains(QLatin1String(c.Reason))) << failure->toStdString();
    }
}

TEST_F(HttpClientTest, AStalledTransferEndsAtTheStallTimeOut) {
    auto client = Client();
    // Short, yet long enough for the server's first bytes on a busy machine. libcurl looks in
    // about once a second while nothing arrives, which sets how long this takes.
    client->StallTimeoutMs = 500;
    std::int64_t received = 0;
    const auto failure = FailureOf([&] {
        client->Get(Url(QStringLiteral("/stall")),
                    [&](const char*, std::size_t ASize) { received += static_cast<std::int64_t>(ASize); });
    });
    ASSERT_TRUE(failure);
    EXPECT_TRUE(failure->contains(QLatin1String("no data received for 500 ms"))) << failure->toStdString();
    EXPECT_EQ(received, 10);
}

// Transfers that would hold the updater (and the stopped application) for ever, or fill the
// disk, end by themselves with a clear cause and hand the sink no more than the cap allows.
TEST_F(HttpClientTest, DrippingEndlessAndOversizedBodiesEndByThemselves) {
    struct TCase {
        const char* Name;
        const char* Path;
        std::int64_t Cap;
        const char* Reason;        // part of the message
        std::int64_t MostReceived; // the sink sees no more than this
    };
    const TCase cases[] = {
        {"a byte every half second", "/drip/1000", 0, "too slow", 10},
        {"no length and no end", "/endless", 1 << 20, "larger than the limit of 1048576 bytes", 1 << 20},
        {"a declared length beyond the cap", "/declare/5000000", 1 << 20, "larger than the limit", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        auto client = Client();
        client->LowSpeedBytesPerSecond = 100;
        client->LowSpeedSeconds = 1; // the drip's 2 bytes a second are too slow after one
        client->MaxBodyBytes = c.Cap;
        std::int64_t received = 0;
        const auto failure = FailureOf([&] {
            client->Get(Url(QString::fromLatin1(c.Path)),
                        [&](const char*, std::size_t ASize) { received += static_cast<std::int64_t>(ASize); });
        });
        ASSERT_TRUE(failure);
        EXPECT_TRUE(failure->contains(QLatin1String(c.Reason))) << failure->toStdString();
        EXPECT_LE(received, c.MostReceived);
    }
}

TEST_F(HttpClientTest, TheBodyBeginCheckSeesTheDeclaredLengthBeforeAnyByte) {
    struct TCase {
        const char* Path;
        std::int64_t Declared;
    };
    const TCase cases[] = {{"/ok/100", 100}, {"/nolength/100", -1}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        auto client = Client();
        std::int64_t seen = -2;
        std::int64_t receivedBefore = -1;
        std::int64_t received = 0;
        client->Get(
            Url(QString::fromLatin1(c.Path)),
            [&](const char*, std::size_t ASize) { received += static_cast<std::int64_t>(ASize); },
            [&](std::int64_t ADeclared) {
                seen = ADeclared;
                receivedBefore = received;
            });
        EXPECT_EQ(seen, c.Declared);
        EXPECT_EQ(receivedBefore, 0);
        EXPECT_EQ(received, 100);
    }
    // A refusal there ends the transfer before the sink sees anything.
    auto client = Client();
    std::int64_t received = 0;
    const auto failure = FailureOf([&] {
        client->Get(
            Url(QStringLiteral("/ok/100")),
            [&](const char*, std::size_t ASize) { received += static_cast<std::int64_t>(ASize); },
            [](std::int64_t) { throw Exception(QStringLiteral("no room")); });
    });
    EXPECT_EQ(failure, QStringLiteral("no room"));
    EXPECT_EQ(received, 0);
}

TEST_F(HttpClientTest, RequestHeaders) {
    struct TCase {
        const char* Name;
        std::function<std::unique_ptr<TZLTHttp>()> Make;
        QStringList Present;
        QStringList Absent;
    };
    const std::vector<TCase> cases{
        {"empty user agent and accept",
         [] {
             auto c = Client();
             c->UserAgent.clear();
             c->Accept.clear();
             return c;
         },
         {},
         {QStringLiteral("User-Agent:"), QStringLiteral("Accept:"), QStringLiteral("Content-Encoding:")}},
        {"as the check sets them",
         [] {
             auto c = Client();
             c->UserAgent = QStringLiteral("Mozilla/3.0 (compatible; Indy Library)");
             c->ContentEncoding = QStringLiteral("utf-8");
             return c;
         },
         {QStringLiteral("User-Agent: Mozilla/3.0 (compatible; Indy Library)"),
          QStringLiteral("Accept: text/html, */*"), QStringLiteral("Content-Encoding: utf-8")},
         {}},
        {"platform client",
         [] { return CreatePlatformHttpClient(); },
         {},
         {QStringLiteral("User-Agent:"), QStringLiteral("Accept:"), QStringLiteral("Content-Encoding:")}},
    };
    // The platform client would take a proxy of the environment.
    const TScopedEnvironmentVariable noProxy("no_proxy", "*");
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString echo = QString::fromLatin1(c.Make()->GetBytes(Url(QStringLiteral("/headers"))));
        const QStringList lines = echo.split(u'\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines.first(), QStringLiteral("GET /headers HTTP/1.1"));
        for (const QString& header : c.Present)
            EXPECT_TRUE(lines.contains(header)) << header.toStdString() << " in\n" << echo.toStdString();
        for (const QString& name : c.Absent) {
            for (const QString& line : lines)
                EXPECT_FALSE(line.startsWith(name, Qt::CaseInsensitive)) << line.toStdString();
        }
    }
}

TEST_F(HttpClientTest, TextIsDecodedInTheDeclaredCharset) {
    struct TCase {
        QByteArray Body;
        const char* Charset; // nullptr: none declared
        QString Expected;
    };
    const TCase cases[] = {
        {"A\xC3\xB1o \xE2\x82\xAC", "utf-8", QStringLiteral(u"Año €")},
        {"A\xC3\xB1o", "\"UTF-8\"", QStringLiteral(u"Año")},
        {"A\xF1o \xE9", "iso-8859-1", QStringLiteral(u"Año é")},
        {"A\xF1o \xE9", nullptr, QStringLiteral(u"Año é")},
        {"\x80", "windows-1252", QStringLiteral(u"€")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Charset ? c.Charset : "no charset");
        QString path = QStringLiteral("/text?body=") + QString::fromLatin1(c.Body.toPercentEncoding());
        if (c.Charset)
            path += QStringLiteral("&charset=") + QString::fromLatin1(QByteArray(c.Charset).toPercentEncoding());
        auto client = Client();
        EXPECT_EQ(client->GetText(Url(path)), c.Expected);
        EXPECT_TRUE(client->ContentType().startsWith(QLatin1String("text/plain")))
            << client->ContentType().toStdString();
    }
}

TEST_F(HttpClientTest, WorkEventsFollowTheBody) {
    struct TCase {
        const char* Path;
        std::int64_t Size;
        std::int64_t Announced; // 0: the length is not known beforehand
    };
    const TCase cases[] = {
        {"/ok/3000000", 3000000, 3000000},
        {"/nolength/300000", 300000, 0},
        {"/ok/0", 0, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        auto client = Client();
        std::vector<std::int64_t> begins;
        std::vector<std::int64_t> counts;
        std::int64_t sunk = 0;
        client->OnWorkBegin = [&](TZLTHttp* ASender, TWorkMode AMode, std::int64_t AMax) {
            EXPECT_EQ(ASender, client.get());
            EXPECT_EQ(AMode, TWorkMode::wmRead);
            EXPECT_EQ(counts.size(), 0u) << "work before its beginning";
            begins.push_back(AMax);
        };
        client->OnWork = [&](TZLTHttp*, TWorkMode, std::int64_t ACount) {
            EXPECT_EQ(ACount, sunk) << "the count runs ahead of or behind the sink";
            if (!counts.empty()) {
                EXPECT_GT(ACount, counts.back());
            }
            counts.push_back(ACount);
        };
        client->Get(Url(QString::fromLatin1(c.Path)),
                    [&](const char*, std::size_t ASize) { sunk += static_cast<std::int64_t>(ASize); });
        EXPECT_EQ(begins, std::vector<std::int64_t>{c.Announced});
        EXPECT_EQ(sunk, c.Size);
        EXPECT_EQ(counts.empty() ? 0 : counts.back(), c.Size);
    }
}

TEST_F(HttpClientTest, AnExceptionFromAHandlerOrTheSinkStopsTheTransferUnchanged) {
    struct TStop {
        int Where;
    };
    enum { begin, work, sink };
    for (const int where : {begin, work, sink}) {
        SCOPED_TRACE(where);
        auto client = Client();
        int workEvents = 0;
        std::int64_t sunk = 0;
        client->OnWorkBegin = [&](TZLTHttp*, TWorkMode, std::int64_t) {
            if (where == begin) throw TStop{begin};
        };
        client->OnWork = [&](TZLTHttp*, TWorkMode, std::int64_t) {
            ++workEvents;
            if (where == work) throw TStop{work};
        };
        try {
            client->Get(Url(QStringLiteral("/ok/50000000")), [&](const char*, std::size_t ASize) {
                sunk += static_cast<std::int64_t>(ASize);
                if (where == sink) throw TStop{sink};
            });
            ADD_FAILURE() << "no exception";
        } catch (const TStop& stop) {
            EXPECT_EQ(stop.Where, where);
        }
        EXPECT_LE(workEvents, 1);
        EXPECT_LT(sunk, 50000000);
        // The kept handle serves the next request normally.
        client->OnWorkBegin = nullptr;
        client->OnWork = nullptr;
        EXPECT_EQ(client->GetBytes(Url(QStringLiteral("/ok/10"))), "0123456789");
    }
}

class HttpsTest : public HttpClientTest {};

TEST_F(HttpsTest, CertificatesHostNamesAndVersions) {
    ZLT_REQUIRE_PROGRAM("nginx");
    const TTestCa good;
    const TTestCa otherHost({QStringLiteral("DNS:updates.example.org")});
    TTempDir root;
    WriteFile(root.File(QStringLiteral("p.bin")), "package");
    enum class TCaAt { nowhere, client, handler };
    struct TCase {
        const char* Name;
        const TTestCa* Ca;
        QString Protocols;
        TCaAt CaAt;
        std::optional<TSSLVersion> Method; // a handler set to this version only; none: no handler
        bool Passes;
    };
    const TCase cases[] = {
        {"unknown CA", &good, QStringLiteral("TLSv1.2 TLSv1.3"), TCaAt::nowhere, std::nullopt, false},
        {"CA file of the client", &good, QStringLiteral("TLSv1.2 TLSv1.3"), TCaAt::client, std::nullopt, true},
        {"CA file of the handler", &good, QStringLiteral("TLSv1.2 TLSv1.3"), TCaAt::handler, TSSLVersion::sslvTLSv1_2,
         true},
        {"certificate for another host", &otherHost, QStringLiteral("TLSv1.2 TLSv1.3"), TCaAt::client, std::nullopt,
         false},
        {"no handler against TLS 1.3 only", &good, QStringLiteral("TLSv1.3"), TCaAt::client, std::nullopt, true},
        {"TLS 1.2 handler against TLS 1.3 only", &good, QStringLiteral("TLSv1.3"), TCaAt::client,
         TSSLVersion::sslvTLSv1_2, false},
        {"TLS 1.3 handler against TLS 1.2 only", &good, QStringLiteral("TLSv1.2"), TCaAt::client,
         TSSLVersion::sslvTLSv1_3, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
#ifdef Q_OS_WIN
        // Wine's Schannel speaks no TLS 1.3: a server that offers nothing else is out of reach.
        if (c.Passes && c.Protocols == QLatin1String("TLSv1.3")) {
            std::cout << "[ NOTE     ] not under Wine's Schannel: " << c.Name << '\n';
            continue;
        }
#endif
        TNginxOptions options{c.Ca, c.Protocols, {}, {}};
        options.Http2 = true; // offered, yet the client keeps to HTTP/1.1
        TNginx nginx(root.Path(), options);
        auto client = Client();
        client->CaFile = c.CaAt == TCaAt::client ? c.Ca->CaFile : QString();
        if (c.Method) {
            // Owned by the client, as the checks attach theirs.
            auto* handler = new TZLTSslHandler(client.get());
            handler->SetMethod(*c.Method);
            handler->CaFile = c.CaAt == TCaAt::handler ? c.Ca->CaFile : QString();
            client->SetIOHandler(handler);
        }
        QByteArray body;
        const auto failure = FailureOf([&] { body = client->GetBytes(nginx.Url(QStringLiteral("/p.bin"))); });
        EXPECT_EQ(!failure, c.Passes) << failure.value_or(QString()).toStdString();
        if (c.Passes) {
            EXPECT_EQ(body, "package");
            // nginx logs a request once it has sent the answer, a moment after the client has it.
            EXPECT_TRUE(WaitFor([&] { return nginx.AccessLog().contains(QLatin1String("GET /p.bin HTTP/1.1 200")); }))
                << nginx.AccessLog().toStdString();
        }
    }
}

// A package of some megabytes from nginx, over HTTP and over HTTPS with the test CA, written
// piece by piece into an exclusive file as the downloads do: the file holds the very bytes.
TEST_F(HttpsTest, PackageFromNginxOverHttpAndHttps) {
    ZLT_REQUIRE_PROGRAM("nginx");
    const TTestCa ca;
    TTempDir root;
    WriteRandomFile(root.File(QStringLiteral("acme.zip")), 3 * 1024 * 1024 + 17, 13);
    const QByteArray expected = ReadFile(root.File(QStringLiteral("acme.zip")));
    const TNginx http(root.Path());
    const TNginx https(root.Path(), {&ca, QStringLiteral("TLSv1.2 TLSv1.3"), {}, {}});
    for (const TNginx* server : {&http, &https}) {
        const QString url = server->Url(QStringLiteral("/acme.zip"));
        SCOPED_TRACE(url.toStdString());
        TTempDir target;
        const QString path = target.File(QStringLiteral("update.zip"));
        auto client = Client();
        client->CaFile = ca.CaFile;
        platform::TExclusiveFile file = platform::TExclusiveFile::Create(path);
        client->Get(url, [&file](const char* AData, std::size_t ASize) { file.Write(AData, ASize); });
        file.Close();
        EXPECT_EQ(ReadFile(path), expected);
    }
}

// A package asked for over HTTPS never arrives over plain HTTP, whatever the server redirects
// to; a redirect that keeps HTTPS is followed.
TEST_F(HttpsTest, RedirectsNeverLeaveHttps) {
    ZLT_REQUIRE_PROGRAM("nginx");
    const TTestCa ca;
    TTempDir root;
    WriteFile(root.File(QStringLiteral("p.bin")), "package");
    TNginxOptions options{&ca, QStringLiteral("TLSv1.2 TLSv1.3"), {}, {}};
    options.ExtraServerConfig = QStringLiteral("location = /plain { return 302 %1; }\n"
                                               "location = /secure { return 302 /p.bin; }\n")
                                    .arg(FServer->Url(QStringLiteral("/ok/4242")));
    TNginx nginx(root.Path(), options);
    auto client = Client();
    client->CaFile = ca.CaFile;

    EXPECT_EQ(client->GetBytes(nginx.Url(QStringLiteral("/secure"))), "package");
    const auto failure = FailureOf([&] { client->GetBytes(nginx.Url(QStringLiteral("/plain"))); });
    ASSERT_TRUE(failure) << "followed a redirect from HTTPS to plain HTTP";
    EXPECT_TRUE(failure->contains(QLatin1String("rotocol"))) << failure->toStdString();
    EXPECT_FALSE(FServer->RequestLines().contains(QStringLiteral("GET /ok/4242 HTTP/1.1")));
}

} // namespace
} // namespace zlt::test
