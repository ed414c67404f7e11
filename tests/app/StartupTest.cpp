// Start-up: the parameter table, and the built updater refusing to start, as a real process.

#include "app/uFrmMainUpdater_.h"
#include "app/uStartup.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <ostream>

namespace zlt::test {
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
    ParamVersion.clear();
    ParamUser.clear();
    ParamPassword.clear();
    TestMode = false;
    WebVersionMode = false;
}

// Without a display a windowed application can't be created: a program that ends with code 0
// in such an environment made no window.
QProcessEnvironment WithoutDisplay() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    return environment;
}

struct TExit {
    bool Finished = false;
    bool Normal = false;
    int Code = -1;
    QByteArray Errors;
};

std::ostream& operator<<(std::ostream& AStream, const TExit& AExit) {
    return AStream << "finished " << AExit.Finished << ", normal " << AExit.Normal << ", code " << AExit.Code
                   << ", error output: " << AExit.Errors.toStdString();
}

TExit RunWithoutDisplay(const QString& AProgram, const QStringList& AArguments) {
    QProcess process;
    process.setProcessEnvironment(WithoutDisplay());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(AProgram, AArguments);
    TExit result;
    if (!process.waitForStarted(10000)) return result;
    result.Finished = process.waitForFinished(30000);
    if (!result.Finished) {
        process.kill();
        process.waitForFinished(10000);
        return result;
    }
    result.Normal = process.exitStatus() == QProcess::NormalExit;
    result.Code = process.exitCode();
    result.Errors = process.readAllStandardError();
    return result;
}

void Install(const QString& ASource, const QString& ATarget) {
    ASSERT_TRUE(QFile::copy(ASource, ATarget)) << ATarget.toStdString();
    QFile::setPermissions(ATarget, QFile::permissions(ATarget) | QFile::ExeOwner);
}

TEST(Startup, NoParameterEndsAtOnceWithoutWindow) {
    // A copy under a name of its own, so that an updater running elsewhere on the machine
    // can't be the reason it ends.
    TTempDir dir;
    const QString updater = dir.File(QStringLiteral("updater-%1").arg(QCoreApplication::applicationPid()));
    Install(BinDir() + QStringLiteral("/updater"), updater);

    const TExit bare = RunWithoutDisplay(updater, {});
    EXPECT_TRUE(bare.Finished && bare.Normal && bare.Code == 0) << bare;

    // The control: with a parameter it goes on to create its window, which can't work here.
    const TExit withParameter = RunWithoutDisplay(updater, {QStringLiteral("VER=1")});
    EXPECT_TRUE(withParameter.Finished) << withParameter;
    EXPECT_FALSE(withParameter.Normal && withParameter.Code == 0) << "the environment does allow a window";
}

TEST(Startup, SecondCopyEndsAtOnceWhateverItsParameters) {
    // The first copy: any program whose executable file is named "updater".
    TTempDir dir;
    const QString first = dir.File(QStringLiteral("updater"));
    Install(BinDir() + QStringLiteral("/zlt_sample_app"), first);
    QProcess running;
    running.start(first, {});
    ASSERT_TRUE(running.waitForStarted(10000));

    const TExit second =
        RunWithoutDisplay(BinDir() + QStringLiteral("/updater"), {QStringLiteral("VER=2.5.1"), QStringLiteral("PRB")});
    EXPECT_TRUE(second.Finished && second.Normal && second.Code == 0) << second;
    EXPECT_EQ(running.state(), QProcess::Running) << "the running copy was disturbed";

    running.kill();
    running.waitForFinished(10000);
}

} // namespace
} // namespace zlt::test
