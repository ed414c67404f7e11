// The update check against real servers: the script that CreateScript writes served by php,
// the same behind nginx over HTTPS, answers of every kind, and what each variant leaves behind.

#include "common/Errors.h"
#include "http/HttpClient.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"
#include "webupdater/ProgressDialog.h"
#include "webupdater/WebUpdater.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>

#include <gtest/gtest.h>

#include <iostream>
#include <stdexcept>

namespace zlt::test {

using namespace zlt::webupdater;
using namespace zlt::http;
using namespace zlt::ui;

namespace {

enum class TVariant { Plain, Rest };

const char* VariantName(TVariant AVariant) {
    return AVariant == TVariant::Plain ? "CheckForUpdates" : "CheckForUpdatesRest";
}

bool RunCheck(TZLTWebUpdater& AUpdater, TVariant AVariant) {
    return AVariant == TVariant::Plain ? AUpdater.CheckForUpdates() : AUpdater.CheckForUpdatesRest();
}

// A site served by php -S with the check script the component writes for version 2.1.0, and
// a script that records each request's URI and headers.
class TCheckSite {
public:
    TCheckSite() {
        {
            TMessageBoxRecorder boxes;
            const TExeFolder exe(QStringLiteral("updater"));
            QObject host;
            TZLTWebUpdater writer(&host);
            writer.SetPVersionNumber(QStringLiteral("2.1.0"));
            writer.CreateScript(QStringLiteral("PHP"));
            QFile::copy(exe.Folder() + QStringLiteral("/checkUpdates.php"),
                        FSite.File(QStringLiteral("checkUpdates.php")));
        }
        WriteFile(FSite.File(QStringLiteral("record.php")),
                  "<?php file_put_contents(__DIR__ . '/seen.txt', json_encode(['uri' => $_SERVER['REQUEST_URI'],"
                  " 'headers' => getallheaders()]) . \"\\n\", FILE_APPEND); echo 'Updated';");
        WriteFile(FSite.File(QStringLiteral("missing.php")), "<?php http_response_code(404); echo 'Outdated';");
        FPhp = std::make_unique<TPhpServer>(FSite.Path());
    }
    QString Url(const QString& APath) const { return FPhp->Url(APath); }
    QString Root() const { return FSite.Path(); }
    quint16 PhpPort() const { return static_cast<quint16>(QUrl(FPhp->Url(QStringLiteral("/"))).port()); }
    // The last request that record.php saw.
    QJsonObject LastRecorded() const {
        const QList<QByteArray> lines = ReadFile(FSite.File(QStringLiteral("seen.txt"))).trimmed().split('\n');
        return QJsonDocument::fromJson(lines.last()).object();
    }

private:
    TTempDir FSite;
    std::unique_ptr<TPhpServer> FPhp;
};

TEST(Check, TheGeneratedScriptAnswersBothVariants) {
    TCheckSite site;
    struct TCase {
        const char* Version;
        bool Outdated;
    };
    const TCase cases[] = {{"2.0.9", true}, {"2.1.0", false}, {"", true}, {"2.2", false}};
    for (const TVariant variant : {TVariant::Plain, TVariant::Rest}) {
        for (const TCase& c : cases) {
            SCOPED_TRACE(std::string(VariantName(variant)) + " ver=" + c.Version);
            QObject host;
            TZLTWebUpdater updater(&host);
            updater.SetPCheckUrl(site.Url(QStringLiteral("/checkUpdates.php")));
            updater.SetPVersionNumber(QString::fromLatin1(c.Version));
            int found = 0;
            updater.OnUpdateFound = [&](TZLTWebUpdater* ASender) {
                EXPECT_EQ(ASender, &updater);
                ++found;
            };
            EXPECT_EQ(RunCheck(updater, variant), c.Outdated);
            EXPECT_EQ(found, c.Outdated ? 1 : 0);
        }
    }
}

TEST(Check, OverHttpsBehindNginx) {
    TCheckSite site;
    const TTestCa ca;
    const TScopedHttpDefaults defaults;
    TZLTHttpDefaults::Instance().CaFile = ca.CaFile;
    const QString proxyToPhp = QStringLiteral("location / { proxy_pass http://127.0.0.1:%1; }").arg(site.PhpPort());
    TNginxOptions modern;
    modern.Ca = &ca;
    modern.ExtraServerConfig = proxyToPhp;
    TNginx tls12and13(site.Root(), modern);
    TNginxOptions only13 = modern;
    only13.SslProtocols = QStringLiteral("TLSv1.3");
    TNginx tls13(site.Root(), only13);
    const TTestCa otherHost({QStringLiteral("DNS:update.example.org")});
    TNginxOptions wrongName = modern;
    wrongName.Ca = &otherHost;
    TNginx misnamed(site.Root(), wrongName);

    struct TCase {
        const char* Name;
        const TNginx* Server;
        bool Plain;
        bool Rest;
    };
    const TCase cases[] = {
        {"TLS 1.2 and 1.3 offered", &tls12and13, true, true},
        {"TLS 1.3 only: the Rest variant speaks TLS 1.2 only", &tls13, true, false},
        {"certificate for another host name", &misnamed, false, false},
    };
    for (const TCase& c : cases) {
        for (const TVariant variant : {TVariant::Plain, TVariant::Rest}) {
            SCOPED_TRACE(std::string(c.Name) + ", " + VariantName(variant));
#ifdef Q_OS_WIN
            // Wine's Schannel speaks no TLS 1.3: a server that offers nothing else is out of reach.
            if (c.Server == &tls13 && variant == TVariant::Plain) {
                std::cout << "[ NOTE     ] not under Wine's Schannel: " << c.Name << '\n';
                continue;
            }
#endif
            QObject host;
            TZLTWebUpdater updater(&host);
            updater.SetPCheckUrl(c.Server->Url(QStringLiteral("/checkUpdates.php")));
            updater.SetPVersionNumber(QStringLiteral("1.0"));
            // The misnamed server's CA is another one: trust it too, so only the name is wrong.
            TZLTHttpDefaults::Instance().CaFile = c.Server == &misnamed ? otherHost.CaFile : ca.CaFile;
            EXPECT_EQ(RunCheck(updater, variant), variant == TVariant::Plain ? c.Plain : c.Rest);
        }
    }
}

TEST(Check, RequestLineAndHeadersOfEachVariant) {
    TCheckSite site;
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPCheckUrl(site.Url(QStringLiteral("/record.php")));
    updater.SetPVersionNumber(QStringLiteral("2.0.1.7"));

    EXPECT_FALSE(updater.CheckForUpdates());
    QJsonObject seen = site.LastRecorded();
    EXPECT_EQ(seen[QStringLiteral("uri")].toString(), QStringLiteral("/record.php?ver=2.0.1.7"));
    EXPECT_FALSE(seen[QStringLiteral("headers")].toObject().contains(QStringLiteral("User-Agent")))
        << "an empty application name sends no User-Agent";

    updater.SetPApplicationName(QStringLiteral("Acme 2"));
    updater.CheckForUpdates();
    EXPECT_EQ(site.LastRecorded()[QStringLiteral("headers")].toObject()[QStringLiteral("User-Agent")].toString(),
              QStringLiteral("Acme 2"));

    EXPECT_FALSE(updater.CheckForUpdatesRest());
    const QJsonObject headers = site.LastRecorded()[QStringLiteral("headers")].toObject();
    EXPECT_EQ(headers[QStringLiteral("User-Agent")].toString(),
              QStringLiteral("Mozilla/3.0 (compatible; Indy Library)"));
    EXPECT_EQ(headers[QStringLiteral("Accept")].toString(), QStringLiteral("text/html, */*"));
    EXPECT_EQ(headers[QStringLiteral("Content-Encoding")].toString(), QStringLiteral("utf-8"));
}

TEST(Check, WhatCountsAsANewerVersion) {
    TCheckSite site;
    struct TCase {
        const char* Name;
        QByteArray Body; // served as a static file; empty name: the 404 script
        bool Outdated;
    };
    const TCase cases[] = {
        {"upper case", "OUTDATED", true},
        {"inside a page", "<html><body>Your version is outdated.</body></html>", true},
        {"up to date", "Updated", false},
        {"empty body", "", false},
        {"two words", "Out dated", false},
    };
    int index = 0;
    for (const TCase& c : cases) {
        const QString file = QStringLiteral("/answer%1.txt").arg(++index);
        WriteFile(site.Root() + file, c.Body);
        for (const TVariant variant : {TVariant::Plain, TVariant::Rest}) {
            SCOPED_TRACE(std::string(c.Name) + ", " + VariantName(variant));
            QObject host;
            TZLTWebUpdater updater(&host);
            updater.SetPCheckUrl(site.Url(file));
            EXPECT_EQ(RunCheck(updater, variant), c.Outdated);
        }
    }
    for (const TVariant variant : {TVariant::Plain, TVariant::Rest}) {
        SCOPED_TRACE(std::string("404 page saying Outdated, ") + VariantName(variant));
        QObject host;
        TZLTWebUpdater updater(&host);
        updater.SetPCheckUrl(site.Url(QStringLiteral("/missing.php")));
        int found = 0;
        updater.OnUpdateFound = [&](TZLTWebUpdater*) { ++found; };
        EXPECT_FALSE(RunCheck(updater, variant));
        EXPECT_EQ(found, 0);
    }
}

TEST(Check, TheRestVariantReleasesTheClientAndTheNextOneRunsOnAPlainClient) {
    TCheckSite site;
    TTinyProxy proxy(QStringLiteral("zlt"), QStringLiteral("secret"));
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPCheckUrl(site.Url(QStringLiteral("/checkUpdates.php")));
    updater.SetPVersionNumber(QStringLiteral("1.0"));
    updater.SetPProxyParams(
        {true, QStringLiteral("127.0.0.1"), proxy.Port(), QStringLiteral("zlt"), QStringLiteral("secret")});
    int starts = 0;
    int steps = 0;
    updater.OnDownLoadStart = [&](TZLTWebUpdater*, std::int32_t) { ++starts; };
    updater.OnProgressEvent = [&](TZLTWebUpdater*, std::int32_t) { ++steps; };

    {
        const TScopedConnectedState offline(false);
        EXPECT_FALSE(updater.CheckForUpdatesRest());
    }
    EXPECT_EQ(updater.HttpClient(), nullptr) << "released even without a connection";

    // The next check makes a plain client: no progress handlers, no proxy.
    EXPECT_TRUE(updater.CheckForUpdatesRest());
    EXPECT_EQ(updater.HttpClient(), nullptr);
    EXPECT_EQ(starts, 0);
    EXPECT_EQ(steps, 0);
    EXPECT_EQ(proxy.RequestsSeen(), 0);
    EXPECT_EQ(updater.PProxyParams().Port, proxy.Port()) << "the stored record stays";

    // The plain check, on a component whose client is gone, works on a plain client too.
    EXPECT_TRUE(updater.CheckForUpdates());
    ASSERT_NE(updater.HttpClient(), nullptr);
    EXPECT_EQ(updater.HttpClient()->CookieManager(), nullptr);
}

TEST(Check, TheConstructorsClientReportsProgressForTheCheckAndGoesThroughTheProxy) {
    TCheckSite site;
    TTinyProxy proxy(QStringLiteral("zlt"), QStringLiteral("secret"));
    QObject host;
    TZLTWebUpdater updater(&host);
    // A static answer, so that its length is announced.
    WriteFile(site.Root() + QStringLiteral("/outdated.txt"), "Outdated");
    updater.SetPCheckUrl(site.Url(QStringLiteral("/outdated.txt")));
    updater.SetPProxyParams(
        {true, QStringLiteral("127.0.0.1"), proxy.Port(), QStringLiteral("zlt"), QStringLiteral("secret")});
    std::vector<std::int32_t> starts;
    updater.OnDownLoadStart = [&](TZLTWebUpdater*, std::int32_t AMax) { starts.push_back(AMax); };
    EXPECT_TRUE(updater.CheckForUpdatesRest());
    EXPECT_EQ(starts, std::vector<std::int32_t>{8}) << "the size of the answer \"Outdated\"";
    EXPECT_EQ(proxy.RequestsSeen(), 1);
}

TEST(Check, TheDefaultDialogOfEachVariant) {
    TCheckSite site;
    for (const char* version : {"1.0", "9.9"}) {
        SCOPED_TRACE(version);
        QObject host;
        TZLTWebUpdater updater(&host);
        updater.SetPUseDefaultForm(true);
        updater.SetPCheckUrl(site.Url(QStringLiteral("/checkUpdates.php")));
        updater.SetPVersionNumber(QString::fromLatin1(version));
        bool shownWhileFound = false;
        updater.OnUpdateFound = [&](TZLTWebUpdater*) {
            shownWhileFound = !frmUpdater.isNull() && frmUpdater->isVisible();
        };
        const bool outdated = updater.CheckForUpdates();
        EXPECT_EQ(outdated, shownWhileFound);
        EXPECT_TRUE(frmUpdater.isNull()) << "CheckForUpdates frees its dialog";

        updater.CheckForUpdatesRest();
        ASSERT_FALSE(frmUpdater.isNull()) << "CheckForUpdatesRest leaves its dialog open";
        EXPECT_TRUE(frmUpdater->isVisible());
        EXPECT_FALSE(Control<QLabel>(frmUpdater.data(), "lblChecking")->isVisible());
        FreeUpdaterDialog();
    }

    // A failed request with the dialog: still freed.
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPUseDefaultForm(true);
    updater.SetPCheckUrl(site.Url(QStringLiteral("/missing.php")));
    EXPECT_FALSE(updater.CheckForUpdates());
    EXPECT_TRUE(frmUpdater.isNull());
}

TEST(Check, AnExceptionFromOnUpdateFound) {
    TCheckSite site;
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPUseDefaultForm(true);
    updater.SetPCheckUrl(site.Url(QStringLiteral("/checkUpdates.php")));
    updater.SetPVersionNumber(QStringLiteral("1.0"));
    updater.OnUpdateFound = [](TZLTWebUpdater*) { throw std::runtime_error("host failed"); };
    EXPECT_THROW(updater.CheckForUpdates(), std::runtime_error);
    EXPECT_TRUE(frmUpdater.isNull()) << "the dialog is freed on the way out";
    EXPECT_TRUE(updater.CheckForUpdatesRest()) << "the Rest variant absorbs it and keeps its answer";
    FreeUpdaterDialog();
}

TEST(Check, APictureThatCannotBeLoaded) {
    TCheckSite site;
    TTempDir pictures;
    WriteFile(pictures.File(QStringLiteral("logo.wmf")), "not drawable here");
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPUseDefaultForm(true);
    updater.SetPCheckUrl(site.Url(QStringLiteral("/checkUpdates.php")));
    updater.PDialogOptions()->SetPPicture(pictures.File(QStringLiteral("logo.wmf")));
    EXPECT_THROW(updater.CheckForUpdates(), Exception);
    EXPECT_TRUE(frmUpdater.isNull());
    EXPECT_FALSE(updater.CheckForUpdatesRest());
    EXPECT_FALSE(frmUpdater.isNull()) << "left as it was";
    EXPECT_EQ(updater.HttpClient(), nullptr);
    FreeUpdaterDialog();
}

} // namespace
} // namespace zlt::test
