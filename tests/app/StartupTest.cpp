// Start-up: the parameter table and the trial's seconds. The built updater refusing to start is an end-to-end test.

#include "app/RunSettings.h"
#include "app/Trial.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::app;
using namespace zlt::webupdater;
using namespace zlt::install;
using namespace zlt::ui;

namespace {

TEST(Startup, ParametersBecomeRunSettings) {
    const QString long600 = QStringLiteral("VER=") + QStringLiteral("0123456789").repeated(60).left(596);
    const struct {
        const char* Name;
        QStringList Parameters;
        QString Version = {}, User = {}, Password = {};
        bool Test = false, Web = false, RollBack = false;
    } cases[] = {
        {"lower-case key", {"ver=2.5.1"}, "2.5.1"},
        {"key alone sets an empty version", {"VER=1", "VER="}, ""},
        {"key inside the parameter, slice from the fifth character", {"/VER=2.5"}, "=2.5"},
        {"600 characters give 512 from the fifth", {long600}, long600.mid(4, 512)},
        {"VER= wins over PWD=", {"PWD=abcVER=9"}, "abcVER=9", "", ""},
        {"VER=PRB is a version, not the test channel", {"VER=PRB"}, "PRB"},
        {"a later parameter overwrites", {"VER=1", "X", "VER=2"}, "2"},
        {"prb", {"prb"}, "", "", "", true},
        {"PRB", {"PRB"}, "", "", "", true},
        {"xprbx", {"xprbx"}, "", "", "", true},
        {"user", {"usr=Ana"}, "", "Ana"},
        {"password", {"PWD=s3cret"}, "", "", "s3cret"},
        {"web version", {"web_version"}, "", "", "", false, true},
        {"unknown parameter", {"X"}, ""},
        {"only a to z are upper-cased", {QString::fromUtf8("u\u017Fr=x"), QString::fromUtf8("web_vers\u0131on")}, ""},
        {"everything at once", {"VER=3.0", "USR=u", "PWD=p", "PRB", "WEB_VERSION"}, "3.0", "u", "p", true, true},
        {"rollback in any case", {"RollBack"}, "", "", "", false, false, true},
        {"rollback only as the whole parameter", {"ROLLBACKS", "XROLLBACK"}, "", "", "", false, false, false},
        {"VER=ROLLBACK is a version", {"VER=ROLLBACK"}, "ROLLBACK"},
    };
    const TScopedValue<QString> version(ParamVersion), user(ParamUser), password(ParamPassword);
    const TScopedValue<bool> testMode(TestMode), webVersionMode(WebVersionMode), rollBack(RollBackMode);
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Name);
        ParamVersion.clear();
        ParamUser.clear();
        ParamPassword.clear();
        // Parsing itself clears both flags before it looks at any parameter.
        TestMode = true;
        WebVersionMode = true;
        RollBackMode = true;

        ParseParameters(item.Parameters);
        EXPECT_EQ(ParamVersion, item.Version);
        EXPECT_EQ(ParamUser, item.User);
        EXPECT_EQ(ParamPassword, item.Password);
        EXPECT_EQ(TestMode, item.Test);
        EXPECT_EQ(WebVersionMode, item.Web);
        EXPECT_EQ(RollBackMode, item.RollBack);
    }
}

TEST(Startup, TrialSecondsFromTheSettings) {
    const struct {
        const char* Value;
        int Seconds;
        bool Valid;
    } cases[] = {
        {"", app::DefaultTrialSeconds, true},
        {"0", 0, true},
        {" 25 ", 25, true},
        {"600", 600, true},
        {"601", 600, true},
        {"99999999999999999999999", 600, true},
        {"-1", app::DefaultTrialSeconds, false},
        {"2.5", app::DefaultTrialSeconds, false},
        {"ten", app::DefaultTrialSeconds, false},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Value);
        bool valid = !item.Valid;
        EXPECT_EQ(app::TrialSeconds(QString::fromLatin1(item.Value), &valid), item.Seconds);
        EXPECT_EQ(valid, item.Valid);
    }
}

} // namespace
} // namespace zlt::test
