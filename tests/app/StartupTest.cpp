// Start-up: the parameter table. The built updater refusing to start is an end-to-end test.

#include "app/RunSettings.h"
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
        bool Test = false, Web = false;
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
    };
    const TScopedValue<QString> version(ParamVersion), user(ParamUser), password(ParamPassword);
    const TScopedValue<bool> testMode(TestMode), webVersionMode(WebVersionMode);
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Name);
        ParamVersion.clear();
        ParamUser.clear();
        ParamPassword.clear();
        // Parsing itself clears both flags before it looks at any parameter.
        TestMode = true;
        WebVersionMode = true;

        ParseParameters(item.Parameters);
        EXPECT_EQ(ParamVersion, item.Version);
        EXPECT_EQ(ParamUser, item.User);
        EXPECT_EQ(ParamPassword, item.Password);
        EXPECT_EQ(TestMode, item.Test);
        EXPECT_EQ(WebVersionMode, item.Web);
    }
}

} // namespace
} // namespace zlt::test
