#pragma once

// The updater window in a temporary executable folder, with the run settings and the window's
// tunables put back after each test.

#include "app/MainWindow.h"
#include "app/RunSettings.h"
#include "tests/support/TestSupport.h"

#include <QPointer>
#include <QString>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::app;
using namespace zlt::webupdater;
using namespace zlt::install;
using namespace zlt::ui;

class TWindowFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // The settings file beside the executable, as UTF-8 text.
    void WriteSettings(const QString& AText);
    // "[UPDATE]" with the six keys; SERVER1 and the rest as given.
    static QString Settings(const QString& AAppName, const QString& AAppExe, const QString& AServer,
                            const QString& APath, const QString& AFilePhp, const QString& AFileZip);

    // Creates the window (its construction and FormCreate). The fixture deletes it unless its own
    // close did.
    TfrmMainUpdater_* CreateWindow();

    // Fires the start timer at once through the event loop, as the program would a second after
    // start-up, and waits until the run is over: the window closed, or a further error box shown.
    // The window must be visible. false when neither happened in time.
    bool RunThroughTimer(const TMessageBoxRecorder& ABoxes);

    // Creates and shows the window, runs it through its timer, and expects the run to end with
    // exactly one error box, showing AText under ACaption.
    void RunExpectingOneErrorBox(const QString& AText, const QString& ACaption);

    // What the runs recorded in the log beside the executable.
    QString RunLogText() const;

    TExeFolder FExe;
    QPointer<TfrmMainUpdater_> FWindow;

private:
    // Production mode, no version, and no wait before the run unless a test says otherwise.
    TScopedValue<bool> FTestMode{TestMode, false};
    TScopedValue<QString> FVersion{ParamVersion, QString()};
    TScopedValue<unsigned> FRunDelay{TfrmMainUpdater_::RunDelayMs, 0u};
};

} // namespace zlt::test
