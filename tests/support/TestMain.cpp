#include "platform/Network.h"
#include "tests/support/TestSupport.h"
#include "ui/Graphics.h"

#include <QApplication>

#include <gtest/gtest.h>

// Every test program runs with a real QApplication on the offscreen platform unless a display
// is asked for, and with the connection state fixed to "connected": loopback servers are the
// only peers, whatever interfaces the machine has.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    zlt::ui::LoadWindowsFonts();
    zlt::platform::ForceConnectedState(zlt::test::ProgramConnectedState);
    return RUN_ALL_TESTS();
}
