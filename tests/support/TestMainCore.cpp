#include "platform/Network.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

// The test programs of the layers without windows (the Windows build): a QCoreApplication and
// the connection state fixed to "connected", since loopback servers are the only peers.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    zlt::platform::ForceConnectedState(zlt::test::ProgramConnectedState);
    return RUN_ALL_TESTS();
}
