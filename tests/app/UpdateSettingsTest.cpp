// The two addresses built from the settings: the parts joined as they stand, for the channel's
// folder, ready only when every part is there.

#include "app/UpdateSettings.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace zlt::test {
namespace {

using app::BuildUpdateAddresses;
using app::TUpdateSettings;

TEST(UpdateAddresses, JoinTheSettingsForTheChannel) {
    const QString s = QStringLiteral("http://127.0.0.1:8080/upd");
    const auto settings = [](const QString& AServer, const QString& APath, const QString& AFilePhp,
                             const QString& AFileZip) {
        TUpdateSettings result;
        result.AppName = QStringLiteral("Acme");
        result.AppExe = QStringLiteral("Acme.exe");
        result.Server = AServer;
        result.Path = APath;
        result.FilePhp = AFilePhp;
        result.FileZip = AFileZip;
        return result;
    };
    const QString php = QStringLiteral("checkUpdates.php");
    const QString zip = QStringLiteral("acme.zip");
    const QString acme = QStringLiteral("acme");
    const struct {
        const char* Name;
        TUpdateSettings Settings;
        bool TestMode;
        QString CheckUrl; // as far as built
        QString DownloadUrl;
        bool CheckReady;
        bool DownloadReady;
    } cases[] = {
        {"production", settings(s + "/", acme, php, zip), false, s + "/acme/Produccion/checkUpdates.php",
         s + "/acme/Produccion/acme.zip", true, true},
        {"test", settings(s + "/", acme, php, zip), true, s + "/acme/Pruebas/checkUpdates.php",
         s + "/acme/Pruebas/acme.zip", true, true},
        {"SERVER1 without the final / is joined as it stands", settings(s, acme, php, zip), false,
         s + "acme/Produccion/checkUpdates.php", s + "acme/Produccion/acme.zip", true, true},
        {"PATHUPD with folders", settings(s + "/", QStringLiteral("acme/win64"), php, zip), false,
         s + "/acme/win64/Produccion/checkUpdates.php", s + "/acme/win64/Produccion/acme.zip", true, true},
        {"FILEPHP empty: only the package", settings(s + "/", acme, QString(), zip), false, s + "/acme/Produccion/",
         s + "/acme/Produccion/acme.zip", false, true},
        {"FILEZIP of blanks: only the check", settings(s + "/", acme, php, QStringLiteral("  ")), false,
         s + "/acme/Produccion/checkUpdates.php", s + "/acme/Produccion/", true, false},
        {"PATHUPD empty: SERVER1 alone, neither ready", settings(s + "/", QString(), php, zip), false, s + "/", s + "/",
         false, false},
        {"PATHUPD of blanks", settings(s + "/", QStringLiteral(" \t"), php, zip), true, s + "/", s + "/", false, false},
        {"SERVER1 empty: nothing", settings(QString(), acme, php, zip), false, QString(), QString(), false, false},
        {"SERVER1 of blanks", settings(QStringLiteral("   "), acme, php, zip), false, QString(), QString(), false,
         false},
        {"nothing set", TUpdateSettings{}, true, QString(), QString(), false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const app::TUpdateAddresses addresses = BuildUpdateAddresses(c.Settings, c.TestMode);
        EXPECT_EQ(addresses.CheckUrl, c.CheckUrl);
        EXPECT_EQ(addresses.DownloadUrl, c.DownloadUrl);
        EXPECT_EQ(addresses.CheckReady, c.CheckReady);
        EXPECT_EQ(addresses.DownloadReady, c.DownloadReady);
    }
}

} // namespace
} // namespace zlt::test
