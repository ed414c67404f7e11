#include "tests/app/WindowFixture.h"
#include "app/RunSettings.h"

#include "ui/Application.h"

#include <QTimer>

namespace zlt::test {

using namespace zlt::app;
using namespace zlt::webupdater;
using namespace zlt::install;
using namespace zlt::ui;

void TWindowFixture::SetUp() { Application().ResetTerminated(); }

void TWindowFixture::TearDown() {
    delete FWindow.data();
    Application().ResetTerminated();
}

void TWindowFixture::WriteSettings(const QString& AText) { WriteFile(FExe.SettingsFile(), AText.toUtf8()); }

QString TWindowFixture::Settings(const QString& AAppName, const QString& AAppExe, const QString& AServer,
                                 const QString& APath, const QString& AFilePhp, const QString& AFileZip) {
    return QStringLiteral("[UPDATE]\nAPPNAME=%1\nAPPEXE=%2\nSERVER1=%3\nPATHUPD=%4\nFILEPHP=%5\nFILEZIP=%6\n")
        .arg(AAppName, AAppExe, AServer, APath, AFilePhp, AFileZip);
}

TfrmMainUpdater_* TWindowFixture::CreateWindow() {
    FWindow = new TfrmMainUpdater_();
    return FWindow.data();
}

bool TWindowFixture::RunThroughTimer(const TMessageBoxRecorder& ABoxes) {
    if (FWindow.isNull() || !FWindow->isVisible()) return false;
    const std::size_t boxesBefore = ABoxes.Calls.size();
    FWindow->tmrFormTimer___->start(0);
    return WaitFor([&] { return FWindow.isNull() || !FWindow->isVisible() || ABoxes.Calls.size() > boxesBefore; },
                   120000);
}

void TWindowFixture::RunExpectingOneErrorBox(const QString& AText, const QString& ACaption) {
    TMessageBoxRecorder boxes;
    CreateWindow()->show();
    ASSERT_TRUE(RunThroughTimer(boxes)) << "the run neither ended nor showed a box";
    EXPECT_TRUE(OneBox(boxes, AText, ACaption, ui::MB_ICONERROR));
}

QString TWindowFixture::RunLogText() const {
    return QString::fromUtf8(ReadFile(FExe.Folder() + QStringLiteral("/updater.log")));
}

} // namespace zlt::test
