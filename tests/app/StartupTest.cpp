// Start-up: the parameter table and the trial's seconds. The built updater refusing to start is an end-to-end test.

#include "app/Startup.h"
#include "app/RunSettings.h"
#include "app/Trial.h"
#include "platform/Shell.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <optional>

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

// A folder that nobody may change, root included: the immutable attribute, set on the Linux
// side (through the broker under Wine). Held() is false where the file system has no such
// attribute.
class TImmutableFolder {
public:
    explicit TImmutableFolder(QString AFolder) : FFolder(std::move(AFolder)) {
        FHeld = RunProgram(QStringLiteral("chattr"), {QStringLiteral("+i"), HostPath(FFolder)}) == 0;
    }
    ~TImmutableFolder() {
        if (FHeld) RunProgram(QStringLiteral("chattr"), {QStringLiteral("-i"), HostPath(FFolder)});
    }
    TImmutableFolder(const TImmutableFolder&) = delete;
    TImmutableFolder& operator=(const TImmutableFolder&) = delete;
    bool Held() const { return FHeld; }

private:
    QString FFolder;
    bool FHeld = false;
};

struct TElevationCase {
    const char* Name;
    bool Immutable;
    std::optional<QString> Answer; // the elevated start's result; nullopt: the system's own
    const char* Logged;            // nullptr: nothing is logged and the run goes on
};

// Before anything is stopped, the updater makes sure it can make and rename files in its
// folder. When it can't, the run ends there, after asking the system to start the updater
// again with administrator rights and the same parameters; the record says what happened.
TEST(Startup, AFolderTheUpdaterCannotChangeEndsTheRunAndAsksForAnElevatedStart) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("chattr"));
    const std::vector<TElevationCase> cases = {
        {"a folder it may change (control)", false, QString(), nullptr},
        {"elevation granted", true, QString(),
         " WARNING The updater can't make and rename files in %1 (%2); nothing was stopped, and the updater "
         "starts again with administrator rights"},
        {"elevation refused", true, QStringLiteral("The operation was canceled by the user."),
         " ERROR The updater can't make and rename files in %1 (%2); nothing was stopped, and it can't start with "
         "administrator rights: The operation was canceled by the user."},
        {"the system's own answer", true, std::nullopt,
         " ERROR The updater can't make and rename files in %1 (%2); nothing was stopped, and it can't start with "
         "administrator rights: "},
    };
    const QStringList parameters{QStringLiteral("VER=2.0"), QStringLiteral("PRB"), QStringLiteral("PWD=a \"b\" c\\")};
    for (const TElevationCase& c : cases) {
        SCOPED_TRACE(c.Name);
        // Under Wine there is no prompt, and the real elevated start would start this test.
        if (!c.Answer && ProgramSuffix() == QLatin1String(".exe")) continue;
        TExeFolder exe;
        const QString folder = exe.Folder() + QStringLiteral("/app/");
        ASSERT_TRUE(QDir().mkpath(folder));
        const TImmutableFolder immutable(c.Immutable ? folder : QString());
        if (c.Immutable && !immutable.Held()) GTEST_SKIP() << "this file system has no immutable attribute";
        std::vector<std::pair<QString, QStringList>> starts;
        const platform::TElevatedStartHook before = platform::SetElevatedStartHook(
            c.Answer ? platform::TElevatedStartHook([&](const QString& AProgram, const QStringList& AParameters) {
                starts.emplace_back(AProgram, AParameters);
                return *c.Answer;
            })
                     : platform::TElevatedStartHook());
        const auto restore = qScopeGuard([&] { platform::SetElevatedStartHook(before); });

        EXPECT_EQ(app::EnsureWritableFolder(folder, parameters), c.Logged == nullptr);
        const QString log = QString::fromUtf8(ReadFile(exe.Folder() + QStringLiteral("/updater.log")));
        EXPECT_TRUE(QDir(folder).isEmpty()) << "the probe left a file";
        if (c.Logged == nullptr) {
            EXPECT_TRUE(starts.empty());
            EXPECT_TRUE(log.isEmpty()) << log.toStdString();
            continue;
        }
        if (c.Answer) {
            ASSERT_EQ(starts.size(), 1U);
            EXPECT_EQ(starts[0].first, exe.ExePath());
            EXPECT_EQ(starts[0].second, parameters);
        }
        const QString expected = QString::fromUtf8(c.Logged).arg(QDir::toNativeSeparators(folder));
        const qsizetype cause = expected.indexOf(QStringLiteral("%2"));
        EXPECT_TRUE(log.contains(expected.left(cause))) << log.toStdString();
        EXPECT_TRUE(log.contains(expected.mid(cause + 2))) << log.toStdString();
        EXPECT_FALSE(log.contains(QStringLiteral("PWD="))) << "the parameters stay out of the record";
    }
}

} // namespace
} // namespace zlt::test
