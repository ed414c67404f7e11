// The updater window: its look on a grabbed image, the settings file and the addresses it
// builds, and the update run with its error chains, driven through the real start timer.

#include "app/MainWindow.h"
#include "app/RunSettings.h"
#include "common/Errors.h"
#include "common/Processes.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "platform/Exception.h"
#include "platform/Processes.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TestSupport.h"
#include "ui/Application.h"
#include "ui/MessageBox.h"
#include "ui/Panel.h"
#include "ui/WindowMessages.h"
#include "webupdater/WebUpdater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QScopeGuard>
#include <QScreen>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <iostream>
#include <memory>
#include <vector>

namespace zlt::test {

using namespace zlt::app;
using namespace zlt::webupdater;
using namespace zlt::install;
using namespace zlt::ui;

namespace {

const QString AcmeName = QStringLiteral("Acme Contabilidad");
QString Hex(QRgb AColor) { return QColor(AColor).name(); }

// --- the look ------------------------------------------------------------------------------

struct TPixel {
    int X;
    int Y;
    const char* What;
    QRgb Production;
    QRgb Test;
};

constexpr QRgb Blue = 0xFF78ADE9;  // frame and most lines
constexpr QRgb Light = 0xFFB4DCF3; // lines of the icon panel
constexpr QRgb Black = 0xFF000000;
constexpr QRgb Yellow = 0xFFFFFFB3; // every panel in test mode

// Points of the panels, in client coordinates: lines keep their colours in test mode, fills
// turn light yellow.
const TPixel Pixels[] = {
    {0, 60, "left line of cntFormMain____", Blue, Blue},
    {200, 0, "top line of cntFormMain____", Blue, Blue},
    {471, 60, "right line of cntFormMain____", Blue, Blue},
    {1, 60, "border of cntFormMain____", Blue, Yellow},
    {200, 124, "bottom of cntFormMain____ (no line there)", Blue, Yellow},
    {3, 10, "left line of cntContaTop____", Blue, Blue},
    {200, 3, "top line of cntContaTop____", Blue, Blue},
    {200, 16, "bottom line of cntContaTop____", Blue, Blue},
    {200, 10, "fill of cntContaTop____", Black, Yellow},
    {3, 60, "left line of cntFormIcon____", Light, Light},
    {45, 17, "top line of cntFormIcon____", Light, Light},
    {88, 60, "right line of cntFormIcon____", Light, Light},
    {45, 109, "bottom line of cntFormIcon____", Light, Light},
    {10, 100, "fill of cntFormIcon____", Black, Yellow},
    {89, 60, "left line of cntContaClient_", Blue, Blue},
    {468, 60, "right line of cntContaClient_", Blue, Blue},
    {95, 30, "fill of cntContaClient_", Black, Yellow},
    {200, 110, "top line of cntContaBotton_", Blue, Blue},
    {200, 116, "fill of cntContaBotton_", Black, Yellow},
    {200, 122, "bottom line of cntContaBotton_", Blue, Blue},
    {468, 116, "right line of cntContaBotton_", Blue, Blue},
};

// The columns of a label's rectangle (client coordinates) that hold text pixels.
struct TInk {
    int Count = 0;
    int Left = 0;
    int Right = 0;
};
TInk InkIn(const QImage& AImage, const QRect& ARect, bool ADarkInk) {
    TInk ink;
    ink.Left = ARect.right();
    ink.Right = ARect.left();
    for (int y = ARect.top(); y <= ARect.bottom(); ++y)
        for (int x = ARect.left(); x <= ARect.right(); ++x) {
            const QColor c = AImage.pixelColor(x, y);
            const bool hit = ADarkInk ? (c.red() < 80 && c.green() < 80 && c.blue() < 80)
                                      : (c.red() > 180 && c.green() > 180 && c.blue() > 180);
            if (!hit) continue;
            ++ink.Count;
            ink.Left = std::min(ink.Left, x);
            ink.Right = std::max(ink.Right, x);
        }
    return ink;
}

using MainWindowLookTest = TWindowFixture;

TEST_F(MainWindowLookTest, ProductionAndTestModeOnTheGrabbedImage) {
    WriteSettings(Settings(AcmeName, QStringLiteral("Acme.exe"), QStringLiteral("http://127.0.0.1:9/"),
                           QStringLiteral("acme"), QStringLiteral("checkUpdates.php"), QStringLiteral("acme.zip")));
    for (const bool testMode : {false, true}) {
        SCOPED_TRACE(testMode ? "test mode" : "production");
        TestMode = testMode;
        delete FWindow.data();
        TfrmMainUpdater_* window = CreateWindow();
        window->show();
        const QImage image = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QString file = QStringLiteral(ZLT_BINARY_DIR "/updater-window-%1.png")
                                 .arg(testMode ? QStringLiteral("test") : QStringLiteral("production"));
        EXPECT_TRUE(image.save(file)) << file.toStdString();

        // The client area keeps its size when the title bar goes; what the frame does on a real
        // X server is the end-to-end test UpdaterWindow.OnX11TheWholeFrameGoes.
        EXPECT_EQ(window->size(), QSize(472, 125));
        EXPECT_EQ(image.size(), QSize(472, 125));
        const QRect screen = window->screen()->geometry();
        EXPECT_EQ(window->pos(),
                  QPoint(screen.x() + (screen.width() - 472) / 2, screen.y() + (screen.height() - 125) / 2))
            << "centred on the screen";

        for (const TPixel& pixel : Pixels) {
            const QRgb expected = testMode ? pixel.Test : pixel.Production;
            EXPECT_EQ(Hex(image.pixel(pixel.X, pixel.Y)), Hex(expected))
                << pixel.What << " at " << pixel.X << "," << pixel.Y;
        }
        EXPECT_EQ(window->cntContaClient_->geometry(), QRect(89, 17, 380, 93));

        // The three labels: texts, one bold font, white (black in test mode), centred.
        const struct {
            QLabel* Label;
            QString Text;
        } labels[] = {{window->lblUpdCaption__, QStringLiteral("ZELT Updater está Instalando actualizaciones de")},
                      {window->lblUpdProduct__, AcmeName},
                      {window->lblUpdCaption2_, QStringLiteral("Por favor espere un momento")}};
        for (const auto& [label, text] : labels) {
            SCOPED_TRACE(label->objectName().toStdString());
            EXPECT_EQ(label->text(), text);
            EXPECT_EQ(QFontInfo(label->font()).family(), QStringLiteral("MS Sans Serif"));
            EXPECT_TRUE(label->font().bold());
            EXPECT_EQ(label->font().pixelSize(), 11);
            const QRect area(label->mapTo(window, QPoint(0, 0)), label->size());
            EXPECT_EQ(area.left(), 151);
            EXPECT_EQ(area.width(), 286);
            const TInk ink = InkIn(image, area, testMode);
            EXPECT_GT(ink.Count, 30) << "text drawn in " << (testMode ? "black" : "white");
            EXPECT_NEAR((ink.Left + ink.Right) / 2.0, area.left() + 143, 3.0) << "centred in the fixed width";
            if (testMode) {
                EXPECT_EQ(InkIn(image, area, false).Count, 0) << "no white text left";
            }
            EXPECT_EQ(Hex(image.pixel(area.left(), area.top())), Hex(testMode ? Yellow : Black))
                << "the label shows its panel's fill";
        }

        // The bar: empty, text hidden, drawn over the panel.
        QProgressBar* bar = window->pbrFormProgress;
        EXPECT_TRUE(bar->isVisible());
        EXPECT_FALSE(bar->isTextVisible());
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
        EXPECT_EQ(bar->value(), 0);
        EXPECT_EQ(QRect(bar->mapTo(window, QPoint(0, 0)), bar->size()), QRect(95, 88, 363, 16));
        EXPECT_NE(Hex(image.pixel(95 + 181, 88 + 8)), Hex(testMode ? Yellow : Black)) << "the bar's groove";

        // The picture: the icon at 32 x 32, an orange arrow over a blue globe.
        const QRect picture(QPoint(30, 42), QSize(32, 32));
        EXPECT_EQ(QRect(window->imgFormImage___->mapTo(window, QPoint(0, 0)), window->imgFormImage___->size()),
                  picture);
        int orange = 0;
        int blue = 0;
        for (int y = picture.top(); y <= picture.bottom(); ++y)
            for (int x = picture.left(); x <= picture.right(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() > 70 && c.green() < 200 && c.blue() < 90) ++orange;
                if (c.blue() > c.red() + 60 && c.blue() > 120) ++blue;
            }
        EXPECT_GT(orange, 20);
        EXPECT_GT(blue, 100);
        EXPECT_FALSE(window->windowIcon().isNull());

        // Caption and application title.
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Pelmora actualizador - ") + AcmeName);
        EXPECT_EQ(Application().Title(), window->windowTitle());
        EXPECT_EQ(window->tmrFormTimer___->interval(), 1000);
        EXPECT_TRUE(window->tmrFormTimer___->isActive());
    }
}

TEST_F(MainWindowLookTest, CaptionAndTitleFollowAppName) {
    const struct {
        const char* Name;
        QString AppName;
        QString Caption;
    } cases[] = {
        {"with a name", QStringLiteral("Acme"), QStringLiteral("Pelmora actualizador - Acme")},
        {"empty APPNAME", QString(), QStringLiteral("Pelmora actualizador - ")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        WriteSettings(QStringLiteral("[UPDATE]\nAPPNAME=%1\n").arg(c.AppName));
        delete FWindow.data();
        Application().SetTitle(QStringLiteral("before"));
        TfrmMainUpdater_* window = CreateWindow();
        EXPECT_EQ(window->windowTitle(), c.Caption);
        EXPECT_EQ(Application().Title(), c.Caption);
        EXPECT_EQ(window->lblUpdProduct__->text(), c.AppName);
    }
}

// --- the settings file ---------------------------------------------------------------------

using ConfigFileReadTest = TWindowFixture;

// How the addresses are built is BuildUpdateAddresses' table (UpdateSettingsTest.cpp); here the
// window reads the file and hands on what is ready.
TEST_F(ConfigFileReadTest, ReadsTheFileAndHandsOnTheReadyAddresses) {
    const QString s = QStringLiteral("http://127.0.0.1:8080/upd");
    const struct {
        const char* Name;
        QString Settings;
        bool TestMode;
        QString CheckUrl;
        QString DownloadUrl;
        QString Product;
    } cases[] = {
        {"production", Settings(AcmeName, "Acme.exe", s + "/", "acme", "checkUpdates.php", "acme.zip"), false,
         s + "/acme/Produccion/checkUpdates.php", s + "/acme/Produccion/acme.zip", AcmeName},
        {"test", Settings(AcmeName, "Acme.exe", s + "/", "acme", "checkUpdates.php", "acme.zip"), true,
         s + "/acme/Pruebas/checkUpdates.php", s + "/acme/Pruebas/acme.zip", AcmeName},
        {"FILEZIP blank", Settings(AcmeName, "Acme.exe", s + "/", "acme", "checkUpdates.php", "\" \""), false,
         s + "/acme/Produccion/checkUpdates.php", QString(), AcmeName},
        {"lower-case keys, blanks around the values",
         QStringLiteral("[update]\nappname = %1 \nappexe=Acme.exe\nserver1 =  %2/  \npathupd=acme\n"
                        "filephp=checkUpdates.php\nfilezip=acme.zip\n")
             .arg(AcmeName, s),
         false, s + "/acme/Produccion/checkUpdates.php", s + "/acme/Produccion/acme.zip", AcmeName},
        {"keys in another section",
         QString(Settings(AcmeName, "Acme.exe", s + "/", "acme", "checkUpdates.php", "acme.zip"))
             .replace(QStringLiteral("[UPDATE]"), QStringLiteral("[OTHER]")),
         false, QString(), QString(), QString()},
        {"no settings file", QString(), false, QString(), QString(), QString()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QFile::remove(FExe.SettingsFile());
        if (!c.Settings.isNull()) WriteSettings(c.Settings);
        TestMode = c.TestMode;
        delete FWindow.data();
        TfrmMainUpdater_* window = CreateWindow();
        EXPECT_EQ(window->wupPelmoraUpda->PCheckUrl(), c.CheckUrl);
        EXPECT_EQ(window->wupPelmoraUpda->PDownloadUrl(), c.DownloadUrl);
        EXPECT_EQ(window->lblUpdProduct__->text(), c.Product);
        EXPECT_EQ(window->strAppliName___, c.Product);
    }
}

TEST_F(ConfigFileReadTest, KeepsTheValuesAsReadAndTheHalfBuiltAddresses) {
    WriteSettings(Settings(AcmeName, "C:\\Apps\\Acme.exe", "http://h/", "", "checkUpdates.php", "acme.zip"));
    TfrmMainUpdater_* window = CreateWindow();
    EXPECT_EQ(window->strAppliExeFile, QStringLiteral("C:\\Apps\\Acme.exe"));
    EXPECT_EQ(window->strUpdaServer__, QStringLiteral("http://h/"));
    EXPECT_EQ(window->strUpdaFilePhp_, QStringLiteral("checkUpdates.php"));
    EXPECT_EQ(window->strUpdaFileZip_, QStringLiteral("acme.zip"));
    // PATHUPD blank: both fields hold SERVER1, neither address is handed over.
    EXPECT_EQ(window->strUpdaCheckUrl, QStringLiteral("http://h/"));
    EXPECT_EQ(window->strUpdaDownlUrl, QStringLiteral("http://h/"));
    EXPECT_TRUE(window->wupPelmoraUpda->PCheckUrl().isEmpty());
    EXPECT_TRUE(window->wupPelmoraUpda->PDownloadUrl().isEmpty());
}

// --- creation and the update run ------------------------------------------------------------

using MainWindowRunTest = TWindowFixture;

TEST_F(MainWindowRunTest, FailingSettingsReadSkipsTheRestOfCreationButTheRunStillStarts) {
    WriteSettings(Settings(AcmeName, "Acme.exe", "http://127.0.0.1:9/", "acme", "checkUpdates.php", "acme.zip"));
    // A system whose reading of the file fails, which no real file makes ours do.
    const TScopedProfileReadHook failingRead(
        [](const QString&) -> std::optional<QByteArray> { throw Exception(QStringLiteral("disco ilegible")); });
    int snapshots = 0;
    const TScopedProcessSnapshotHook noProcesses([&snapshots] {
        ++snapshots;
        return std::optional<std::vector<platform::TProcessEntry>>(std::vector<platform::TProcessEntry>{});
    });
    Application().SetTitle(QStringLiteral("updater"));
    const TScopedValue<quint32> message(UpdateApplyMessage, 0u);

    TMessageBoxRecorder boxes;
    TfrmMainUpdater_* window = CreateWindow();
    EXPECT_TRUE(OneBox(boxes, GuardLine("ConfigFileRead") + GuardLine("IniFileLoad") + "disco ilegible.",
                       QStringLiteral("updater"), ui::MB_ICONERROR));
    // The rest of FormCreate was skipped; the addresses stay empty.
    EXPECT_EQ(window->windowTitle(), QStringLiteral("frmMainUpdater_"));
    EXPECT_EQ(Application().Title(), QStringLiteral("updater"));
    EXPECT_EQ(UpdateApplyMessage, 0u);
    EXPECT_FALSE(window->windowFlags().testFlag(Qt::CustomizeWindowHint)) << "the title bar stays";
    EXPECT_TRUE(window->wupPelmoraUpda->PDownloadUrl().isEmpty());
    EXPECT_TRUE(window->tmrFormTimer___->isActive());

    // The timer still starts the run: without addresses it stops nothing, downloads nothing and
    // closes.
    window->show();
    ASSERT_TRUE(RunThroughTimer(boxes));
    EXPECT_EQ(boxes.Calls.size(), 1u);
    EXPECT_EQ(snapshots, 0) << "the application was looked for, to be stopped";
    EXPECT_TRUE(FWindow.isNull() || !FWindow->isVisible());
    EXPECT_FALSE(QDir(FExe.Folder() + QStringLiteral("/Updates")).exists() &&
                 !QDir(FExe.Folder() + QStringLiteral("/Updates")).isEmpty());
}

TEST_F(MainWindowRunTest, SuccessfulCreationRegistersTheMessage) {
    const TScopedValue<quint32> message(UpdateApplyMessage, 0u);
    CreateWindow();
    EXPECT_NE(UpdateApplyMessage, 0u);
    EXPECT_EQ(UpdateApplyMessage, ui::RegisterWindowMessage(QStringLiteral("MESAGE_UPDATE_APPLY")));
}

// nginx serving acme/Produccion/acme.zip, which a run may ask for but must not fetch.
struct TServedPackage {
    TServedPackage() : Nginx(std::make_unique<TNginx>(Www.Path())) {
        WriteFile(Www.File(QStringLiteral("acme/Produccion/acme.zip")), QByteArray("not fetched"));
    }
    TTempDir Www;
    std::unique_ptr<TNginx> Nginx;
};

// After the error box of a failed run the window closes, so that the program ends: an updater
// left waiting would keep every later one from starting.
TEST_F(MainWindowRunTest, FindProcessFailureShowsTheFourLinesAndTheRunEnds) {
    const TServedPackage served;
    TNginx& nginx = *served.Nginx;
    WriteSettings(
        Settings(AcmeName, "Acme.exe", nginx.Url(QStringLiteral("/")), "acme", "checkUpdates.php", "acme.zip"));
    const TScopedProcessSnapshotHook failingSnapshot(
        []() -> std::optional<std::vector<platform::TProcessEntry>> { throw Exception(QStringLiteral("boom")); });
    TShellRecorder shell;
    RunExpectingOneErrorBox(GuardLine("tmrFormTimer___Timer") + GuardLine("FormShow") + GuardLine("FindProcess") +
                                QStringLiteral("boom."),
                            QStringLiteral("Pelmora actualizador - ") + AcmeName);
    EXPECT_TRUE(FWindow.isNull() || !FWindow->isVisible()) << "the window stays open after a failed run";
    EXPECT_FALSE(nginx.AccessLog().contains("GET /acme/Produccion/acme.zip ")) << nginx.AccessLog().toStdString();
    EXPECT_TRUE(shell.Calls.empty());
}

TEST_F(MainWindowRunTest, ApplicationThatCannotBeStoppedEndsTheRunWithoutDownloading) {
    const TServedPackage served;
    TNginx& nginx = *served.Nginx;
    WriteSettings(
        Settings(AcmeName, "Acme.exe", nginx.Url(QStringLiteral("/")), "acme", "checkUpdates.php", "acme.zip"));
    // A copy that is always listed and can't be ended: an id above any real process id, so the
    // termination fails without touching any process; it runs this folder's Acme.exe.
    const QString program = FExe.Folder() + QStringLiteral("/Acme.exe");
    WriteFile(program, "the application");
    const std::optional<platform::TFileIdentity> identity = platform::FileIdentity(program);
    ASSERT_TRUE(identity);
    const TScopedProcessSnapshotHook alwaysListed([identity, program] {
        return std::optional<std::vector<platform::TProcessEntry>>(
            std::vector<platform::TProcessEntry>{{999999999u, QStringLiteral("Acme.exe"), identity, program}});
    });
    const TScopedValue<int> fewAttempts(TfrmMainUpdater_::StopAttempts, 3);
    TShellRecorder shell;
    RunExpectingOneErrorBox(GuardLine("tmrFormTimer___Timer") + GuardLine("FormShow") +
                                QStringLiteral("No se pudo detener la aplicación Acme.exe."),
                            QStringLiteral("Pelmora actualizador - ") + AcmeName);
    EXPECT_FALSE(nginx.AccessLog().contains("GET /acme/Produccion/acme.zip ")) << nginx.AccessLog().toStdString();
    EXPECT_FALSE(QDir(FExe.Folder() + QStringLiteral("/Updates")).exists());
    const QString log = RunLogText();
    EXPECT_TRUE(log.contains(QLatin1String(" WARNING Could not stop Acme.exe (process 999999999)\n")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(
        QLatin1String(" ERROR Could not stop Acme.exe (process 999999999): still running after 3 attempts\n")))
        << log.toStdString();
    EXPECT_FALSE(log.contains(QLatin1String("Downloaded"))) << log.toStdString();
    EXPECT_TRUE(shell.Calls.empty());
    EXPECT_FALSE(Application().Terminated());
    EXPECT_TRUE(FWindow.isNull() || !FWindow->isVisible()) << "the run ends after the box";
}

// Check first, stop last: an update that can't happen ends the run before the application is
// looked for, with the cause in the record. Each row gets a run whose package would otherwise
// be fetched; the control row shows that the same run does look for the application.
TEST_F(MainWindowRunTest, AnUpdateThatCannotHappenStopsNothing) {
    TTempDir www;
    WriteFile(www.File(QStringLiteral("acme/Produccion/acme.zip")), QByteArray("not a package"));
    TNginx nginx(www.Path());
    const QString server = nginx.Url(QStringLiteral("/"));
    const QString key = QStringLiteral("RWRUN1gf5tuPg39r04lQ/hO7lJ6k1nMSkla/OF3HuD8mCgCruH/w8CoE");
    const struct {
        const char* What;
        QString Settings;
        bool Connected;
        const char* Cause; // in the record; empty for the control
    } cases[] = {
        {"no SERVER1", Settings(AcmeName, "Acme.exe", QString(), "acme", "checkUpdates.php", "acme.zip"), true,
         " ERROR Update not begun: the settings give no download address; Acme.exe was left running\n"},
        {"no FILEPHP", Settings(AcmeName, "Acme.exe", server, "acme", QString(), "acme.zip"), true,
         " ERROR Update not begun: the settings give no check address"},
        {"offline", Settings(AcmeName, "Acme.exe", server, "acme", "checkUpdates.php", "acme.zip"), false,
         " WARNING PrepareDownload refused: no network connection\n"},
        {"signature missing",
         Settings(AcmeName, "Acme.exe", server, "acme", "checkUpdates.php", "acme.zip") + "PUBKEY=" + key + "\n", true,
         "acme/Produccion/acme.zip refused: The signature "},
        {"PUBKEY naming no key",
         Settings(AcmeName, "Acme.exe", server, "acme", "checkUpdates.php", "acme.zip") + "PUBKEY= , ,\n", true,
         "acme/Produccion/acme.zip refused: No usable public key is set"},
        {"package missing", Settings(AcmeName, "Acme.exe", server, "acme", "checkUpdates.php", "nothing.zip"), true,
         "acme/Produccion/nothing.zip is not available: HTTP/1.1 404 Not Found"},
        {"APPEXE is the updater", Settings(AcmeName, "updater", server, "acme", "checkUpdates.php", "acme.zip"), true,
         " ERROR APPEXE updater names the updater itself: nothing is stopped, updated or started\n"},
        {"control: a package there", Settings(AcmeName, "Acme.exe", server, "acme", "checkUpdates.php", "acme.zip"),
         true, ""},
    };
    WriteFile(FExe.ExePath(), "the updater");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.What);
        QFile::remove(FExe.Folder() + QStringLiteral("/updater.log"));
        delete FWindow.data();
        WriteSettings(c.Settings);
        const TScopedConnectedState connection(c.Connected);
        int snapshots = 0;
        const TScopedProcessSnapshotHook counted([&snapshots] {
            ++snapshots;
            return std::optional<std::vector<platform::TProcessEntry>>(std::vector<platform::TProcessEntry>{});
        });
        TMessageBoxRecorder boxes;
        TShellRecorder shell;
        CreateWindow()->show();
        ASSERT_TRUE(RunThroughTimer(boxes));
        const QString log = RunLogText();
        if (*c.Cause == '\0') {
            EXPECT_GE(snapshots, 1) << log.toStdString();
            continue;
        }
        EXPECT_EQ(snapshots, 0) << "the application was looked for, to be stopped";
        EXPECT_TRUE(shell.Calls.empty());
        EXPECT_TRUE(FWindow.isNull() || !FWindow->isVisible());
        EXPECT_TRUE(log.contains(QString::fromUtf8(c.Cause))) << log.toStdString();
        EXPECT_FALSE(log.contains(QLatin1String("Downloaded"))) << log.toStdString();
    }
}

// The whole road: two running copies of the application are ended, the package comes from a
// real server, is unpacked beside the executable, the application is started with "Upd=1",
// and the window closes and is freed.
TEST_F(MainWindowRunTest, WholeRunStopsEveryCopyDownloadsInstallsAndCloses) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("zip"));
    // The application: a copy of the sample program under a name no other test run uses.
    const QString appName = QStringLiteral("acme_app_%1").arg(QCoreApplication::applicationPid()) + ProgramSuffix();
    const QString appPath = FExe.Folder() + u'/' + appName;
    ASSERT_TRUE(QFile::copy(BinDir() + QStringLiteral("/zlt_sample_app") + ProgramSuffix(), appPath));
    std::vector<std::unique_ptr<QProcess>> copies;
    std::vector<qint64> ids;
    for (int i = 0; i < 2; ++i) {
        copies.push_back(std::make_unique<QProcess>());
        copies.back()->start(appPath, {QStringLiteral("wait")});
        ASSERT_TRUE(copies.back()->waitForStarted());
        ids.push_back(copies.back()->processId());
    }

    TTempDir package;
    WriteFile(package.File(QStringLiteral("app.bin")), QByteArray("new program"));
    WriteFile(package.File(QStringLiteral("data/base.db")), QByteArray("new data"));
    TTempDir www;
    ASSERT_EQ(ZipFolder(package.Path(), www.File(QStringLiteral("acme/Produccion/acme.zip"))), 0);
    TNginx nginx(www.Path());
    WriteSettings(Settings(AcmeName, appName, nginx.Url(QStringLiteral("/")), "acme", "checkUpdates.php", "acme.zip"));
    ParamVersion = QStringLiteral("2.5.1");
    // What earlier runs left: packages that they recorded making, a partial one among them;
    // beside them files of the same kind of name that are not ours, some in a file system
    // mounted inside the folder (where the system lets the test mount one).
    const QString folder = FExe.Folder();
    for (const char* leftover : {"/Updates/update20200101_000000.zip", "/Updates/update20200101_000000_2.exe"})
        WriteFile(folder + QString::fromLatin1(leftover), "left by a killed run");
    WriteFile(folder + QStringLiteral("/Updates/packages.list"),
              "update20200101_000000.zip\nupdate20200101_000000_2.exe\n../app.bin\n");
    const QString mounted = folder + QStringLiteral("/mounted");
    QDir().mkpath(mounted);
    const bool mount = RunProgram(QStringLiteral("mount"), {QStringLiteral("-t"), QStringLiteral("tmpfs"),
                                                            QStringLiteral("zlt-test"), mounted}) == 0;
    const auto unmount = qScopeGuard([&] {
        if (mount) RunProgram(QStringLiteral("umount"), {mounted});
    });
    std::vector<const char*> kept{"/notes.tmp",
                                  "/data/zlt-0123.tmp",
                                  "/Updates/readme.txt",
                                  "/.zlt-0123456789abcdef.tmp",
                                  "/data/.zlt-fedcba9876543210.tmp",
                                  "/Updates/update_manual_backup.zip",
                                  "/Updates/update20190101_000000.zip"};
    if (mount)
        kept.insert(kept.end(), {"/mounted/.zlt-0123456789abcdef.tmp", "/mounted/Updates/update20200101_000000.zip"});
    for (const char* name : kept) WriteFile(folder + QString::fromLatin1(name), "the user's");

    TMessageBoxRecorder boxes;
    TShellRecorder shell;
    TfrmMainUpdater_* window = CreateWindow();
    QProgressBar* bar = window->pbrFormProgress;
    std::vector<int> positions;
    QObject::connect(bar, &QProgressBar::valueChanged, [&positions](int AValue) { positions.push_back(AValue); });
    window->show();
    ASSERT_TRUE(RunThroughTimer(boxes));

    EXPECT_TRUE(boxes.Calls.empty()) << boxes.Calls.front().Text.toStdString();
    for (const std::unique_ptr<QProcess>& copy : copies) {
        EXPECT_TRUE(copy->waitForFinished(10000));
#ifndef Q_OS_WIN // TerminateProcess ends it with code 0, which reads as a normal end
        EXPECT_EQ(copy->exitStatus(), QProcess::CrashExit) << "ended by the updater";
#endif
    }
    EXPECT_TRUE(nginx.AccessLog().contains(QStringLiteral("GET /acme/Produccion/acme.zip")))
        << nginx.AccessLog().toStdString();
    EXPECT_EQ(ReadFile(FExe.Folder() + QStringLiteral("/app.bin")), QByteArray("new program"));
    EXPECT_EQ(ReadFile(FExe.Folder() + QStringLiteral("/data/base.db")), QByteArray("new data"));
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].FileName, appName);
    EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));
    ASSERT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), 100);
    EXPECT_TRUE(Application().Terminated()) << "the component's quit request";
    const QString log = RunLogText();
    for (const QString& line :
         {QStringLiteral(" INFO Settings %1/updater.cfi: check address %2acme/Produccion/checkUpdates.php, download "
                         "address %2acme/Produccion/acme.zip, packages taken unsigned\n")
              .arg(FExe.Folder(), nginx.Url(QStringLiteral("/"))),
          QStringLiteral(" INFO Stopped %1 (process %2)\n").arg(appName).arg(ids[0]),
          QStringLiteral(" INFO Stopped %1 (process %2)\n").arg(appName).arg(ids[1]),
          QStringLiteral(" INFO Downloaded %1acme/Produccion/acme.zip into ").arg(nginx.Url(QStringLiteral("/"))),
          QStringLiteral(": HTTP 200, "), QStringLiteral(" INFO Installed 3 entries into %1/ in ").arg(FExe.Folder()),
          QStringLiteral(" s: 0 files replaced, 2 added\n"),
          QStringLiteral(" INFO Removed 2 packages of earlier runs\n"),
          QStringLiteral(" INFO Started %1 Upd=1\n").arg(appName)})
        EXPECT_TRUE(log.contains(line)) << line.toStdString() << "\nnot in:\n" << log.toStdString();
    for (const char* leftover : {"/Updates/update20200101_000000.zip", "/Updates/update20200101_000000_2.exe"})
        EXPECT_FALSE(QFile::exists(folder + QString::fromLatin1(leftover))) << leftover;
    for (const char* name : kept) EXPECT_EQ(ReadFile(folder + QString::fromLatin1(name)), "the user's") << name;
    if (!mount) std::cout << "no file system could be mounted inside the folder; that row is not tried\n";
    EXPECT_EQ(QDir(folder + QStringLiteral("/Updates")).entryList({QStringLiteral("update2*.zip")}, QDir::Files).size(),
              2)
        << "this run's package";

    // Closed, and freed once the event loop gets to it.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(FWindow.isNull());
}

// A package the server doesn't have: the record names the address and the server's status,
// and nothing is started.
TEST_F(MainWindowRunTest, AMissingPackageIsRecordedWithItsStatus) {
    TTempDir www;
    TNginx nginx(www.Path());
    WriteSettings(
        Settings(AcmeName, "Acme.exe", nginx.Url(QStringLiteral("/")), "acme", "checkUpdates.php", "acme.zip"));
    TMessageBoxRecorder boxes;
    TShellRecorder shell;
    TfrmMainUpdater_* window = CreateWindow();
    window->show();
    ASSERT_TRUE(RunThroughTimer(boxes));
    EXPECT_TRUE(shell.Calls.empty());
    const QString log = RunLogText();
    const QString line = QStringLiteral(" ERROR Package %1acme/Produccion/acme.zip is not available: HTTP/1.1 404 Not Found\n")
                             .arg(nginx.Url(QStringLiteral("/")));
    EXPECT_TRUE(log.contains(line)) << log.toStdString();
    EXPECT_FALSE(log.contains(QLatin1String("Started"))) << log.toStdString();
}

// A record that can't be written changes nothing of the run: here a folder stands where the
// log file goes.
TEST_F(MainWindowRunTest, AnUnwritableLogLeavesTheRunUnchanged) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("zip"));
    TTempDir package;
    WriteFile(package.File(QStringLiteral("app.bin")), QByteArray("new program"));
    TTempDir www;
    ASSERT_EQ(ZipFolder(package.Path(), www.File(QStringLiteral("acme/Produccion/acme.zip"))), 0);
    TNginx nginx(www.Path());
    WriteSettings(
        Settings(AcmeName, "Acme.exe", nginx.Url(QStringLiteral("/")), "acme", "checkUpdates.php", "acme.zip"));
    ASSERT_TRUE(QDir().mkpath(FExe.Folder() + QStringLiteral("/updater.log")));
    TMessageBoxRecorder boxes;
    TShellRecorder shell;
    TfrmMainUpdater_* window = CreateWindow();
    window->show();
    ASSERT_TRUE(RunThroughTimer(boxes));
    EXPECT_TRUE(boxes.Calls.empty());
    EXPECT_EQ(ReadFile(FExe.Folder() + QStringLiteral("/app.bin")), QByteArray("new program"));
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));
}

TEST_F(MainWindowRunTest, ProgressHandlersDriveTheBar) {
    TfrmMainUpdater_* window = CreateWindow();
    QProgressBar* bar = window->pbrFormProgress;
    bar->setRange(0, 100);
    bar->setValue(40);
    bar->hide();

    window->wupPelmoraUpdaDownLoadStart(window->wupPelmoraUpda, 2000);
    EXPECT_FALSE(bar->isHidden());
    EXPECT_EQ(bar->value(), 0);
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 2000);

    window->wupPelmoraUpdaProgressEvent(window->wupPelmoraUpda, 1500);
    EXPECT_EQ(bar->value(), 1500);
    // A native bar clamps a position beyond its range.
    window->wupPelmoraUpdaProgressEvent(window->wupPelmoraUpda, 2500);
    EXPECT_EQ(bar->value(), 2000);
}

} // namespace
} // namespace zlt::test
