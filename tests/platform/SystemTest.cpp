// The program's own path and command line.

#include "platform/System.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <gtest/gtest.h>

namespace zlt::test {
namespace {

TEST(System, ExecutablePathAndFolder) {
    const QString real = QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath();
    EXPECT_EQ(QFileInfo(platform::ExecutablePath()).canonicalFilePath(), real);
    EXPECT_TRUE(platform::ExecutableFolder().endsWith(u'/'));

    {
        const TScopedExecutablePath acme(QStringLiteral("/opt/acme/Upd.exe"));
        EXPECT_EQ(platform::ExecutablePath(), QStringLiteral("/opt/acme/Upd.exe"));
        EXPECT_EQ(platform::ExecutableFolder(), QStringLiteral("/opt/acme/"));
        const TScopedExecutablePath root(QStringLiteral("/updater"));
        EXPECT_EQ(platform::ExecutableFolder(), QStringLiteral("/"));
    }
    EXPECT_EQ(QFileInfo(platform::ExecutablePath()).canonicalFilePath(), real) << "the real path is back";
}

TEST(System, CommandLineCountsParametersWithoutTheProgram) {
    platform::SetCommandLine({QStringLiteral("/opt/acme/updater"), QStringLiteral("VER=2.5"), QStringLiteral("PRB")});
    EXPECT_EQ(platform::ParamCount(), 2);
    EXPECT_EQ(platform::ParamStr(0), QStringLiteral("/opt/acme/updater"));
    EXPECT_EQ(platform::ParamStr(2), QStringLiteral("PRB"));
    EXPECT_EQ(platform::ParamStr(3), QString());
    EXPECT_EQ(platform::ParamStr(-1), QString());

    platform::SetCommandLine(QStringList{});
    EXPECT_EQ(platform::ParamCount(), 0);
}

} // namespace
} // namespace zlt::test
