// Start-up of the built updater as a real process: the starts that it refuses end at once,
// with code 0 and no window.

#include "platform/Files.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>

namespace zlt::test {
namespace {

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

// Runs AProgram to its end (a minute at most) in AEnvironment.
TExit Run(const QString& AProgram, const QStringList& AArguments, const QProcessEnvironment& AEnvironment) {
    QProcess process;
    process.setProcessEnvironment(AEnvironment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(AProgram, AArguments);
    TExit result;
    if (!process.waitForStarted(10000)) return result;
    result.Finished = process.waitForFinished(60000);
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

TExit RunWithoutDisplay(const QString& AProgram, const QStringList& AArguments) {
    return Run(AProgram, AArguments, WithoutDisplay());
}

// The offscreen platform: a window, but no display needed.
TExit RunOffscreen(const QString& AProgram, const QStringList& AArguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    return Run(AProgram, AArguments, environment);
}

void Install(const QString& ASource, const QString& ATarget) {
    ASSERT_TRUE(QFile::copy(ASource, ATarget)) << ATarget.toStdString();
    QFile::setPermissions(ATarget, QFile::permissions(ATarget) | QFile::ExeOwner);
}

TEST(Startup, NoParameterEndsAtOnceWithoutWindow) {
    // A copy under a name of its own, so that an updater running elsewhere on the machine
    // can't be the reason it ends.
    TTempDir dir;
    const QString updater =
        InstallUpdater(dir.Path(), QStringLiteral("updater-%1").arg(QCoreApplication::applicationPid()));

    const TExit bare = RunWithoutDisplay(updater, {});
    EXPECT_TRUE(bare.Finished && bare.Normal && bare.Code == 0) << bare;

#ifndef Q_OS_WIN // Windows makes windows without a display too.
    // The control: with a parameter it goes on to create its window, which can't work here.
    const TExit withParameter = RunWithoutDisplay(updater, {QStringLiteral("VER=1")});
    EXPECT_TRUE(withParameter.Finished) << withParameter;
    EXPECT_FALSE(withParameter.Normal && withParameter.Code == 0) << "the environment does allow a window";
#endif
}

// One updater per folder, whatever its name: while the folder's lock is held (here by the test,
// as a first updater of another name would hold it) an updater ends at once with code 0, and
// the record says why. A program named like the updater in another folder never blocks it.
TEST(Startup, OneUpdaterPerFolderWhateverItsName) {
    TTempDir dir;
    const QString name = QStringLiteral("updater-second-%1").arg(QCoreApplication::applicationPid());
    QDir().mkpath(dir.File(QStringLiteral("elsewhere")));
    QDir().mkpath(dir.File(QStringLiteral("app/Updates")));
    const QString namesake = dir.File(QStringLiteral("elsewhere/") + name + ProgramSuffix());
    Install(BinProgram(QStringLiteral("zlt_sample_app")), namesake);
    const QString updater = InstallUpdater(dir.File(QStringLiteral("app")), name);
    const QString log = dir.File(QStringLiteral("app/") + name + QStringLiteral(".log"));
    QProcess running;
    running.start(namesake, {});
    ASSERT_TRUE(running.waitForStarted(10000));

    {
        std::optional<platform::TLockFile> first =
            platform::TLockFile::Acquire(dir.File(QStringLiteral("app/Updates/updater.lock")));
        ASSERT_TRUE(first);
        const TExit second = RunOffscreen(updater, {QStringLiteral("VER=2.5.1"), QStringLiteral("PRB")});
        EXPECT_TRUE(second.Finished && second.Normal && second.Code == 0) << second;
        const QString text = QString::fromUtf8(ReadFile(log));
        EXPECT_TRUE(text.contains(QLatin1String(" WARNING Start refused: another updater runs for "))) << text.toStdString();
        EXPECT_FALSE(text.contains(QLatin1String(" INFO Start: "))) << text.toStdString();
    }
    // The lock let go, the same updater runs, with the namesake elsewhere still running.
    const TExit run = RunOffscreen(updater, {QStringLiteral("VER=2.5.1"), QStringLiteral("PRB")});
    EXPECT_TRUE(run.Finished && run.Normal && run.Code == 0) << run;
    const QString text = QString::fromUtf8(ReadFile(log));
    EXPECT_TRUE(text.contains(QLatin1String(" INFO Start: "))) << text.toStdString();
    EXPECT_EQ(running.state(), QProcess::Running) << "the program elsewhere was disturbed";
    EXPECT_FALSE(QFileInfo::exists(dir.File(QStringLiteral("app/Updates/updater.lock"))));

    running.kill();
    running.waitForFinished(10000);
}

// The parameters are the updater's own: one that the toolkit would read as its option
// ("-platform", "-style") neither aborts nor changes the run. Without a settings file there is
// nothing to fetch, so the run ends by itself with code 0.
TEST(Startup, ToolkitOptionsAmongTheParametersAreNotTheToolkits) {
    TTempDir dir;
    const QString updater =
        InstallUpdater(dir.Path(), QStringLiteral("updater-toolkit-%1").arg(QCoreApplication::applicationPid()));
    const TExit run = RunOffscreen(updater,
                                   {QStringLiteral("VER=1.0"), QStringLiteral("-platform"), QStringLiteral("bogus"),
                                    QStringLiteral("-style"), QStringLiteral("bogus")});
    EXPECT_TRUE(run.Finished && run.Normal && run.Code == 0) << run;
}

// The record of a run beside the updater names its start, its settings and its end, and never
// the password given on the command line.
TEST(Startup, TheRunLogNeverHoldsThePassword) {
    TTempDir dir;
    const QString name = QStringLiteral("updater-log-%1").arg(QCoreApplication::applicationPid());
    const QString updater = InstallUpdater(dir.Path(), name);
    const TExit run = RunOffscreen(updater, {QStringLiteral("VER=2.5.1"), QStringLiteral("USR=ana"),
                                             QStringLiteral("PWD=s3cret"), QStringLiteral("PRB")});
    EXPECT_TRUE(run.Finished && run.Normal && run.Code == 0) << run;
    const QString log = QString::fromUtf8(ReadFile(dir.File(name + QStringLiteral(".log"))));
    EXPECT_TRUE(log.contains(
        QStringLiteral(" INFO Start: %1, version 2.5.1, channel Pruebas, parameters: VER=2.5.1 USR=ana PWD=*** PRB\n")
            .arg(updater)))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String(" INFO Settings "))) << log.toStdString();
    EXPECT_TRUE(log.endsWith(QLatin1String(" INFO End\n"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QLatin1String("s3cret"))) << log.toStdString();
}

} // namespace
} // namespace zlt::test
