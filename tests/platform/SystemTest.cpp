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
#ifdef Q_OS_WIN
        const QString root = QStringLiteral("C:/");
#else
        const QString root = QStringLiteral("/");
#endif
        const TScopedExecutablePath acme(root + QStringLiteral("opt/acme/Upd.exe"));
        EXPECT_EQ(platform::ExecutablePath(), root + QStringLiteral("opt/acme/Upd.exe"));
        EXPECT_EQ(platform::ExecutableFolder(), root + QStringLiteral("opt/acme/"));
        const TScopedExecutablePath atTheRoot(root + QStringLiteral("updater"));
        EXPECT_EQ(platform::ExecutableFolder(), root);
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
