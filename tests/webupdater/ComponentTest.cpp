// The component's life: construction in run and design mode, the end of loading, the proxy
// settings, and the routing of transfer progress to the dialog, the host's bar and events.

#include "common/Errors.h"
#include "http/HttpClient.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "webupdater/ProgressDialog.h"
#include "webupdater/WebUpdater.h"

#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

#include <memory>

namespace zlt::test {

using namespace zlt::webupdater;
using namespace zlt::http;
using namespace zlt::ui;

namespace {

struct TEvents {
    std::vector<std::int32_t> Starts;
    std::vector<std::int32_t> Positions;
    int Found = 0;
    void Attach(TZLTWebUpdater& AUpdater) {
        AUpdater.OnDownLoadStart = [this](TZLTWebUpdater*, std::int32_t AMax) { Starts.push_back(AMax); };
        AUpdater.OnProgressEvent = [this](TZLTWebUpdater*, std::int32_t APosition) { Positions.push_back(APosition); };
        AUpdater.OnUpdateFound = [this](TZLTWebUpdater*) { ++Found; };
    }
};

TEST(Component, RunModeStartsWithTheDefaultsAHostReliesOn) {
    QObject host;
    TZLTWebUpdater updater(&host);
    EXPECT_TRUE(updater.Running());
    EXPECT_EQ(updater.PUpdateMode(), TUpdateMode::umAuto);
    EXPECT_EQ(updater.PFileType(), TFileTypeExt::tfeZip);
    EXPECT_FALSE(updater.PUseDefaultForm());
    EXPECT_FALSE(updater.Active());
    EXPECT_FALSE(updater.Busy());
    EXPECT_EQ(updater.PDialogOptions()->PTitleCaption(), QStringLiteral("Please, wait while downloading updates..."));
    EXPECT_EQ(updater.PDialogOptions()->PProgressCaption(), QStringLiteral("Percentage"));
    EXPECT_EQ(updater.PDialogOptions()->PCheckingCaption(), QStringLiteral("Checking for updates..."));
}

// A site that hands out a session cookie with the check answer and serves the package only to
// that session: the client that a run-mode component builds keeps its cookies.
TEST(Component, TheChecksCookieReachesTheDownload) {
    TExeFolder exe;
    TFaultServer server;
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPCheckUrl(server.Url(QStringLiteral("/setcookie")));
    updater.SetPDownloadUrl(server.Url(QStringLiteral("/needcookie")));
    QStringList downloaded;
    updater.OnUpdateDownloaded = [&](TZLTWebUpdater*, QString AFileName) { downloaded << AFileName; };

    EXPECT_FALSE(updater.CheckForUpdates());
    updater.DownloadUpdates();
    Application().ResetTerminated();
    ASSERT_EQ(downloaded.size(), 1);
    EXPECT_EQ(ReadFile(downloaded[0]), "cookie seen");
}

TEST(Component, DesignModeHasNoClientAndReportsOneMissingAddressAtLoad) {
    struct TCase {
        const char* Name;
        const char* CheckUrl;
        const char* DownloadUrl;
        const char* Box; // nullptr: no box
    };
    const TCase cases[] = {
        {"both empty", "", "", "CheckUrl property cannot be empty."},
        {"download empty", "http://127.0.0.1:1/c.php", "", "DownloadUrl property cannot be empty."},
        {"check empty", "", "http://127.0.0.1:1/p.zip", "CheckUrl property cannot be empty."},
        {"both set", "http://127.0.0.1:1/c.php", "http://127.0.0.1:1/p.zip", nullptr},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QObject designer;
        TComponent::SetDesigning(&designer, true);
        TMessageBoxRecorder boxes;
        TZLTWebUpdater updater(&designer);
        EXPECT_EQ(updater.HttpClient(), nullptr);
        EXPECT_EQ(updater.CookieManager(), nullptr);
        EXPECT_FALSE(updater.Running());
        EXPECT_EQ(updater.PDialogOptions()->PCheckingCaption(), QStringLiteral("Checking for updates..."));
        updater.SetPCheckUrl(QString::fromLatin1(c.CheckUrl));
        updater.SetPDownloadUrl(QString::fromLatin1(c.DownloadUrl));
        updater.Loaded();
        if (c.Box == nullptr) {
            EXPECT_TRUE(boxes.Calls.empty());
        } else {
            EXPECT_TRUE(OneBox(boxes, QString::fromLatin1(c.Box), QStringLiteral("WebUpdater"), ui::MB_ICONERROR));
        }
        EXPECT_FALSE(updater.CheckForUpdates());
        EXPECT_FALSE(updater.CheckForUpdatesRest());
    }
}

TEST(Component, RunModeLoadingWithoutAddressesOrInManualModeSendsNothing) {
    TFaultServer server;
    for (const TUpdateMode mode : {TUpdateMode::umAuto, TUpdateMode::umManual}) {
        SCOPED_TRACE(mode == TUpdateMode::umAuto ? "auto, no addresses" : "manual, both addresses");
        QObject host;
        TMessageBoxRecorder boxes;
        TZLTWebUpdater updater(&host);
        updater.SetPUpdateMode(mode);
        if (mode == TUpdateMode::umManual) {
            updater.SetPCheckUrl(server.Url(QStringLiteral("/text?body=Outdated")));
            updater.SetPDownloadUrl(server.Url(QStringLiteral("/ok/10")));
        }
        updater.Loaded();
        EXPECT_TRUE(boxes.Calls.empty());
        EXPECT_FALSE(updater.Active());
        EXPECT_NE(updater.HttpClient(), nullptr) << "no check ran, so the client is still there";
    }
    EXPECT_TRUE(server.RequestLines().isEmpty());
}

TEST(Component, AutomaticModeChecksAndDownloadsAtTheEndOfLoading) {
    TExeFolder exe;
    TFaultServer server;
    TTempDir site;
    WriteFile(site.File(QStringLiteral("check.php")), "<?php echo $_GET['ver'] === '1.0' ? 'Outdated' : 'Updated';");
    TPhpServer php(site.Path());
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPCheckUrl(php.Url(QStringLiteral("/check.php")));
    updater.SetPVersionNumber(QStringLiteral("1.0"));
    updater.SetPDownloadUrl(server.Url(QStringLiteral("/ok/4096")));
    QStringList downloaded;
    updater.OnUpdateDownloaded = [&](TZLTWebUpdater*, QString AFileName) { downloaded << AFileName; };
    Application().ResetTerminated();
    updater.Loaded();
    ASSERT_EQ(downloaded.size(), 1);
    EXPECT_EQ(ReadFile(downloaded[0]).size(), 4096);
    EXPECT_TRUE(Application().Terminated());
    EXPECT_FALSE(updater.Active());
    EXPECT_FALSE(updater.Busy());
    Application().ResetTerminated();
}

TEST(Component, ProxySettingsReachTheClientAndCanBeTakenBack) {
    TTinyProxy proxy(QStringLiteral("zlt"), QStringLiteral("secret"));
    TFaultServer server;
    QObject host;
    TZLTWebUpdater updater(&host);
    TZLTHttp& client = *updater.HttpClient();
    const QString url = server.Url(QStringLiteral("/ok/100"));

    updater.SetPProxyParams(
        {true, QStringLiteral("127.0.0.1"), proxy.Port(), QStringLiteral("zlt"), QStringLiteral("wrong")});
    EXPECT_THROW(client.GetBytes(url), Exception) << "wrong credentials must be refused";

    updater.SetPProxyParams(
        {true, QStringLiteral("127.0.0.1"), proxy.Port(), QStringLiteral("zlt"), QStringLiteral("secret")});
    EXPECT_EQ(client.GetBytes(url).size(), 100);
    const int throughProxy = proxy.RequestsSeen();
    EXPECT_GE(throughProxy, 1);

    const TkvProxyParams direct{false, QStringLiteral("ignored"), 9, QStringLiteral("x"), QStringLiteral("y")};
    updater.SetPProxyParams(direct);
    EXPECT_EQ(client.ProxyParams, TkvProxyParams{}) << "no server, port or credentials stay on the client";
    EXPECT_EQ(client.GetBytes(url).size(), 100);
    EXPECT_EQ(proxy.RequestsSeen(), throughProxy) << "the request after UseProxy=false went through the proxy";
    EXPECT_EQ(updater.PProxyParams(), direct);
}

TEST(ProgressRouting, WithoutTheDialogTheHostBarGetsTheMaximumAndTheEventsFire) {
    TExeFolder exe;
    TFaultServer server;
    QObject host;
    TZLTWebUpdater updater(&host);
    QProgressBar bar;
    updater.SetPProgressBar(&bar);
    TEvents events;
    events.Attach(updater);
    updater.SetPDownloadUrl(server.Url(QStringLiteral("/ok/5000")));
    updater.OnUpdateDownloaded = [](TZLTWebUpdater*, QString) {};
    updater.DownloadUpdates();
    Application().ResetTerminated();

    EXPECT_EQ(bar.maximum(), 5000);
    EXPECT_EQ(bar.value(), -1) << "the host moves its own bar";
    ASSERT_EQ(events.Starts.size(), 1u);
    EXPECT_EQ(events.Starts[0], 5000);
    ASSERT_FALSE(events.Positions.empty());
    EXPECT_EQ(events.Positions.back(), 5000);
}

TEST(ProgressRouting, WithTheDialogTheBarAndLabelFollowTheFullCount) {
    QObject host;
    TZLTWebUpdater updater(&host);
    updater.SetPUseDefaultForm(true);
    TEvents events;
    events.Attach(updater);
    TfrmUpdater* dialog = CreateUpdaterDialog();
    TZLTHttp* client = updater.HttpClient();

    client->OnWorkBegin(client, TWorkMode::wmRead, 2097152);
    client->OnWork(client, TWorkMode::wmRead, 1048576);
    EXPECT_EQ(Control<QProgressBar>(dialog, "prb1")->maximum(), 2097152);
    EXPECT_EQ(Control<QProgressBar>(dialog, "prb1")->value(), 1048576);
    EXPECT_EQ(Control<QLabel>(dialog, "lblProgress")->text(), QStringLiteral("1048576 of 2097152 bytes"));
    EXPECT_EQ(events.Starts, std::vector<std::int32_t>{2097152});
    EXPECT_EQ(events.Positions, std::vector<std::int32_t>{1048576});

    // Beyond 2 GiB the bar and the events get the low 32 bits, the label the full count.
    client->OnWork(client, TWorkMode::wmRead, (std::int64_t{1} << 32) + 7);
    EXPECT_EQ(events.Positions.back(), 7);
    EXPECT_EQ(Control<QLabel>(dialog, "lblProgress")->text(), QStringLiteral("4294967303 of 2097152 bytes"));
    FreeUpdaterDialog();
    EXPECT_TRUE(frmUpdater.isNull());
}

} // namespace
} // namespace zlt::test
