// The whole update with nothing standing in for anything: the real updater program, a real
// application running twice, nginx serving the package made by zip, the real shell start.

#include "platform/Network.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QFile>
#include <QMap>
#include <QProcess>

#include <gtest/gtest.h>

#include <memory>

namespace zlt::test {

using namespace zlt::app;

namespace {

// Every file and folder below AFolder, with the files' contents.
QMap<QString, QByteArray> Tree(const QString& AFolder) {
    QMap<QString, QByteArray> tree;
    QDirIterator it(AFolder, QDir::Files | QDir::Hidden | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(AFolder).relativeFilePath(path);
        tree.insert(relative, it.fileInfo().isDir() ? QByteArray("<dir>") : ReadFile(path));
    }
    return tree;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        bool connected = false;
        {
            const TScopedConnectedState system(std::nullopt);
            connected = platform::InternetGetConnectedState();
        }
        if (!connected)
            GTEST_SKIP()
                << "the machine has no network interface besides loopback: the updater would not start a download";
        ZLT_REQUIRE_PROGRAM(QStringLiteral("zip"));

        // A name of its own, so that no other program's processes are stopped.
        AppExe = QStringLiteral("acme_%1").arg(QCoreApplication::applicationPid()) + ProgramSuffix();
        App = Root.File(QStringLiteral("app"));
        // The updater too: a second updater of the same name ends at once, and other cases of
        // this program may run one beside this case's.
        UpdaterName = QStringLiteral("updater-e2e-%1").arg(QCoreApplication::applicationPid());
        Updater = InstallUpdater(App, UpdaterName);
        ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), App + u'/' + AppExe));
        WriteFile(App + QStringLiteral("/version.txt"), "1.0\n");
        WriteFile(App + QStringLiteral("/notes.txt"), "the user's own file\n");

        const QString package = Root.File(QStringLiteral("package"));
        QDir().mkpath(package + QStringLiteral("/data"));
        ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), package + u'/' + AppExe));
        WriteFile(package + QStringLiteral("/version.txt"), "2.0\n");
        WriteRandomFile(package + QStringLiteral("/data/base.db"), 200000, 3);
        const QString zip = Root.File(QStringLiteral("www/acme/Produccion/acme.zip"));
        ASSERT_EQ(ZipFolder(package, zip), 0);
    }

    void WriteSettings(quint16 APort, const QString& APublicKeys = QString()) {
        WriteFile(App + u'/' + UpdaterName + QStringLiteral(".cfi"),
                  QStringLiteral(
                      "[UPDATE]\r\nAPPNAME=Acme Contabilidad\r\nAPPEXE=%1\r\nSERVER1=http://127.0.0.1:%2/\r\n"
                      "PATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\n%3")
                      .arg(AppExe)
                      .arg(APort)
                      .arg(APublicKeys.isEmpty() ? QString() : QStringLiteral("PUBKEY=%1\r\n").arg(APublicKeys))
                      .toUtf8());
    }

    QString Package() const { return Root.File(QStringLiteral("www/acme/Produccion/acme.zip")); }
    QString RunLogText() const { return QString::fromUtf8(ReadFile(App + u'/' + UpdaterName + QStringLiteral(".log"))); }

    // A run that must leave the application's folder as it was, but for the run log, whose text
    // it returns; the application stays stopped.
    QString RunExpectingNothingChanged() {
        const QMap<QString, QByteArray> before = Tree(App);
        EXPECT_EQ(RunUpdater(), 0);
        ExpectBothCopiesStopped();
        QMap<QString, QByteArray> after = Tree(App);
        const QString log = QString::fromUtf8(after.take(UpdaterName + QStringLiteral(".log")));
        EXPECT_EQ(after, before);
        EXPECT_FALSE(ReadFile(App + QStringLiteral("/sample_app.log")).contains("Upd=1"));
        return log;
    }

    // The update arrived: the new version runs, started with Upd=1.
    void ExpectInstalledAndRestarted() {
        ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).contains("args=Upd=1"); }))
            << "the application was not started again: " << RunLogText().toStdString();
        EXPECT_EQ(ReadFile(App + QStringLiteral("/version.txt")), "2.0\n");
        EXPECT_EQ(ReadFile(App + QStringLiteral("/data/base.db")),
                  ReadFile(Root.File(QStringLiteral("package/data/base.db"))));
    }

    // Two running copies of the application, each having written its line.
    void StartApplicationTwice() {
        for (auto& copy : Copies) {
            copy = std::make_unique<QProcess>();
            copy->setWorkingDirectory(App);
            copy->start(App + u'/' + AppExe, {});
            ASSERT_TRUE(copy->waitForStarted());
        }
        ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).count('\n') == 2; }));
    }

    int RunUpdater() {
        QProcess updater;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        updater.setProcessEnvironment(environment);
        updater.setWorkingDirectory(App);
        updater.start(Updater, {QStringLiteral("VER=1.0")});
        EXPECT_TRUE(updater.waitForFinished(60000)) << "the updater did not end";
        EXPECT_EQ(updater.exitStatus(), QProcess::NormalExit);
        return updater.exitCode();
    }

    void ExpectBothCopiesStopped() {
        for (auto& copy : Copies) {
            // The sample application never ends by itself before Upd=1 or ten minutes.
            EXPECT_TRUE(copy->waitForFinished(5000));
#ifndef Q_OS_WIN // TerminateProcess ends it with code 0, which reads as a normal end
            EXPECT_EQ(copy->exitStatus(), QProcess::CrashExit) << "killed, not ended by itself";
#endif
        }
    }

    TTempDir Root;
    QString App;
    QString UpdaterName; // without the system's suffix
    QString Updater;     // the program in App
    QString AppExe;
    std::unique_ptr<QProcess> Copies[2];
};

TEST_F(EndToEnd, StopsDownloadsInstallsAndRestartsTheApplication) {
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    StartApplicationTwice();

    EXPECT_EQ(RunUpdater(), 0);
    ExpectBothCopiesStopped();
    ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).contains("args=Upd=1"); }))
        << "the application was not started again";
    const QList<QByteArray> starts = ReadFile(App + QStringLiteral("/sample_app.log")).trimmed().split('\n');
    ASSERT_EQ(starts.size(), 3);
    EXPECT_TRUE(starts[2].contains("version=2.0 args=Upd=1")) << starts[2].toStdString();

    EXPECT_EQ(ReadFile(App + QStringLiteral("/version.txt")), "2.0\n");
    EXPECT_EQ(ReadFile(App + QStringLiteral("/data/base.db")),
              ReadFile(Root.File(QStringLiteral("package/data/base.db"))));
    EXPECT_EQ(ReadFile(App + QStringLiteral("/notes.txt")), "the user's own file\n")
        << "files outside the package stay";
    EXPECT_TRUE(QFileInfo(App + u'/' + AppExe).isExecutable());
    EXPECT_TRUE(server.AccessLog().contains("GET /acme/Produccion/acme.zip HTTP/1.1 200"));
}

TEST_F(EndToEnd, WithTheServerDownTheApplicationStaysStoppedAndNothingChanges) {
    WriteSettings(FreePort());
    StartApplicationTwice();
    // Nothing changes but the record of the run, which names the failed transfer.
    const QString log = RunExpectingNothingChanged();
    EXPECT_TRUE(log.contains(QLatin1String(" ERROR Download of http://127.0.0.1:"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("onnect"))) << "the transport error is named: " << log.toStdString();
}

TEST_F(EndToEnd, ASignedPackageIsInstalled) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
    const TMinisignKey key;
    key.Sign(Package());
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port(), key.PublicKeyLine());
    StartApplicationTwice();

    EXPECT_EQ(RunUpdater(), 0);
    ExpectBothCopiesStopped();
    ExpectInstalledAndRestarted();
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" INFO Signature of http://127.0.0.1:"))) << RunLogText().toStdString();
}

TEST_F(EndToEnd, ATamperedPackageIsRefusedAndNothingChanges) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
    const TMinisignKey key;
    key.Sign(Package());
    // Someone with the server in hand adds a file to the signed package.
    WriteFile(Root.File(QStringLiteral("package/payload.sh")), "#!/bin/sh\necho owned\n");
    ASSERT_EQ(RunProgram(QStringLiteral("zip"), {QStringLiteral("-q"), Package(), QStringLiteral("payload.sh")}, nullptr,
                         Root.File(QStringLiteral("package"))),
              0);
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port(), key.PublicKeyLine());
    StartApplicationTwice();
    // Nothing of the package may be installed or left.
    const QString log = RunExpectingNothingChanged();
    EXPECT_TRUE(log.contains(QLatin1String("/acme/Produccion/acme.zip refused: The package does not match its signature")))
        << log.toStdString();
}

TEST_F(EndToEnd, APackageWhoseTransferIsCutTwiceIsInstalled) {
    TNginx server(Root.File(QStringLiteral("www")));
    const std::int64_t size = QFileInfo(Package()).size();
    // The first connection asks for the release's manifest beside the package (there is none).
    TCutProxy proxy(server.Port(), {size * 100, size / 3, size / 3});
    WriteSettings(proxy.Port());
    StartApplicationTwice();

    EXPECT_EQ(RunUpdater(), 0);
    ExpectBothCopiesStopped();
    ExpectInstalledAndRestarted();
    const QString log = RunLogText();
    EXPECT_EQ(log.count(QLatin1String("broke off")), 2) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("HTTP 206, %1 bytes").arg(size))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("2 resumptions"))) << log.toStdString();
    EXPECT_EQ(proxy.Connections().filter(QStringLiteral(" cut")).size(), 2) << proxy.Connections().join(u'|').toStdString();
}

} // namespace
} // namespace zlt::test
