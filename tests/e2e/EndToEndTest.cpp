// The whole update with nothing standing in for anything: the real updater program, a real
// application running twice, nginx serving the package made by zip, the real shell start.

#include "platform/Network.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

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
        App = Root.File(AppFolder());
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
                      "PATHUPD=acme\r\nFILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\n%3%4")
                      .arg(AppExe)
                      .arg(APort)
                      .arg(APublicKeys.isEmpty() ? QString() : QStringLiteral("PUBKEY=%1\r\n").arg(APublicKeys),
                           ExtraSettings)
                      .toUtf8());
    }

    // The application's folder below the test's root.
    virtual QString AppFolder() const { return QStringLiteral("app"); }

    QString Package() const { return Root.File(QStringLiteral("www/acme/Produccion/acme.zip")); }
    QString RunLogText() const {
        return QString::fromUtf8(ReadFile(App + u'/' + UpdaterName + QStringLiteral(".log")));
    }

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

    std::unique_ptr<QProcess> StartUpdater(const QStringList& AArguments) {
        auto updater = std::make_unique<QProcess>();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        for (const auto& [name, value] : std::as_const(UpdaterEnvironment)) environment.insert(name, value);
        updater->setProcessEnvironment(environment);
        updater->setWorkingDirectory(App);
        updater->start(Updater, AArguments);
        return updater;
    }

    int RunUpdater(const QStringList& AArguments = {QStringLiteral("VER=1.0")}) {
        const std::unique_ptr<QProcess> updater = StartUpdater(AArguments);
        EXPECT_TRUE(updater->waitForFinished(60000)) << "the updater did not end";
        EXPECT_EQ(updater->exitStatus(), QProcess::NormalExit);
        return updater->exitCode();
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
    QList<QPair<QString, QString>> UpdaterEnvironment; // added to the updater's
    QString ExtraSettings;                             // more lines of [UPDATE]
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

// Check first, stop last: with the server down the application is never stopped, and nothing
// changes but the record of the run, which names the cause.
TEST_F(EndToEnd, WithTheServerDownTheApplicationKeepsRunningAndNothingChanges) {
    WriteSettings(FreePort());
    StartApplicationTwice();
    const QMap<QString, QByteArray> before = Tree(App);
    EXPECT_EQ(RunUpdater(), 0);
    for (auto& copy : Copies) EXPECT_EQ(copy->state(), QProcess::Running) << "the application was stopped";
    QMap<QString, QByteArray> after = Tree(App);
    const QString log = QString::fromUtf8(after.take(UpdaterName + QStringLiteral(".log")));
    EXPECT_EQ(after, before);
    EXPECT_TRUE(log.contains(QLatin1String(" ERROR Package http://127.0.0.1:"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("onnect"))) << "the transport error is named: " << log.toStdString();
    EXPECT_FALSE(log.contains(QLatin1String("Stopped"))) << log.toStdString();
    for (auto& copy : Copies) copy->kill();
    for (auto& copy : Copies) copy->waitForFinished(5000);
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
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" INFO Signature of http://127.0.0.1:")))
        << RunLogText().toStdString();
}

TEST_F(EndToEnd, ATamperedPackageIsRefusedAndNothingChanges) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
    const TMinisignKey key;
    key.Sign(Package());
    // Someone with the server in hand adds a file to the signed package.
    WriteFile(Root.File(QStringLiteral("package/payload.sh")), "#!/bin/sh\necho owned\n");
    ASSERT_EQ(RunProgram(QStringLiteral("zip"), {QStringLiteral("-q"), Package(), QStringLiteral("payload.sh")},
                         nullptr, Root.File(QStringLiteral("package"))),
              0);
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port(), key.PublicKeyLine());
    StartApplicationTwice();
    // Nothing of the package may be installed or left.
    const QString log = RunExpectingNothingChanged();
    EXPECT_TRUE(
        log.contains(QLatin1String("/acme/Produccion/acme.zip refused: The package does not match its signature")))
        << log.toStdString();
}

TEST_F(EndToEnd, APackageWhoseTransferIsCutTwiceIsInstalled) {
    TNginx server(Root.File(QStringLiteral("www")));
    const std::int64_t size = QFileInfo(Package()).size();
    // The checks before the stop: the first connection asks for the release's manifest beside
    // the package (there is none), the second whether the package is there.
    TCutProxy proxy(server.Port(), {size * 100, size * 100, size / 3, size / 3});
    WriteSettings(proxy.Port());
    StartApplicationTwice();

    EXPECT_EQ(RunUpdater(), 0);
    ExpectBothCopiesStopped();
    ExpectInstalledAndRestarted();
    const QString log = RunLogText();
    EXPECT_EQ(log.count(QLatin1String("broke off")), 2) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("HTTP 206, %1 bytes").arg(size))) << log.toStdString();
    EXPECT_TRUE(log.contains(QLatin1String("2 resumptions"))) << log.toStdString();
    EXPECT_EQ(proxy.Connections().filter(QStringLiteral(" cut")).size(), 2)
        << proxy.Connections().join(u'|').toStdString();
}

// Files that a plain replacement can't take the place of: a second program of the package
// running from the folder, a read-only file, the updater itself and (on Windows) a library
// it has loaded. Each is moved aside and replaced; the next run removes the aside files that
// were still in use, and it is the new updater that runs it.
TEST_F(EndToEnd, ProgramsInUseReadOnlyFilesAndTheUpdaterItselfAreReplaced) {
    const QString helper = QStringLiteral("helper_%1").arg(QCoreApplication::applicationPid()) + ProgramSuffix();
    const QString updater = UpdaterName + ProgramSuffix();
    QStringList replaced{helper, updater};
    if (ProgramSuffix() == QLatin1String(".exe")) replaced << QStringLiteral("Qt6Core.dll");
    // The new version of each: the old bytes and a mark after them, which programs and
    // libraries carry without harm.
    const QString package = Root.File(QStringLiteral("package"));
    ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), App + u'/' + helper));
    for (const QString& name : replaced) {
        WriteFile(package + u'/' + name, ReadFile(App + u'/' + name) + "\nversion 2.0 of " + name.toUtf8());
        QFile::setPermissions(package + u'/' + name, QFileInfo(App + u'/' + name).permissions());
    }
    WriteFile(App + QStringLiteral("/readonly.dat"), "old read-only data");
    ASSERT_TRUE(QFile::setPermissions(App + QStringLiteral("/readonly.dat"), QFile::ReadOwner | QFile::ReadGroup));
    WriteFile(package + QStringLiteral("/readonly.dat"), "new data");
    QFile::remove(Package());
    ASSERT_EQ(ZipFolder(package, Package()), 0);

    QProcess running;
    running.start(App + u'/' + helper, {QStringLiteral("wait")});
    ASSERT_TRUE(running.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).contains("args=wait"); }));
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    EXPECT_EQ(RunUpdater(), 0);
    ExpectInstalledAndRestarted();
    for (const QString& name : replaced)
        EXPECT_EQ(ReadFile(App + u'/' + name), ReadFile(package + u'/' + name)) << name.toStdString();
    EXPECT_EQ(ReadFile(App + QStringLiteral("/readonly.dat")), "new data");
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" files replaced, "))) << RunLogText().toStdString();

    // The next run, with nothing to download, removes the old files that were in use.
    running.kill();
    running.waitForFinished();
    WriteSettings(FreePort());
    EXPECT_EQ(RunUpdater(), 0) << "the new updater runs";
    const QStringList left = Tree(App).keys().filter(QStringLiteral(".zlt-"));
    EXPECT_TRUE(left.isEmpty()) << left.join(u' ').toStdString() << "\n" << RunLogText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/Updates/install.journal")));
}

// On Windows a file that a program holds open without delete sharing can be neither renamed
// nor replaced: the commit goes back, and the folder keeps the old version whole.
TEST_F(EndToEnd, AFileHeldOpenByAnotherProgramLeavesTheOldVersionWhole) {
    if (ProgramSuffix() != QLatin1String(".exe"))
        GTEST_SKIP() << "only Windows keeps a program from renaming a file that another holds open";
    const QString helper = QStringLiteral("holder_%1").arg(QCoreApplication::applicationPid()) + ProgramSuffix();
    ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), App + u'/' + helper));
    WriteFile(App + QStringLiteral("/data/base.db"), "old base");
    QProcess holder;
    holder.start(App + u'/' + helper, {QStringLiteral("--hold"), QStringLiteral("data/base.db")});
    ASSERT_TRUE(holder.waitForStarted());
    ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).contains("args=--hold"); }));
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    const QMap<QString, QByteArray> before = Tree(App);

    EXPECT_EQ(RunUpdater(), 0);
    ASSERT_TRUE(WaitFor([&] { return ReadFile(App + QStringLiteral("/sample_app.log")).contains("args=Upd=1"); }))
        << "the application is started as it is: " << RunLogText().toStdString();
    holder.kill();
    holder.waitForFinished();
    QMap<QString, QByteArray> after = Tree(App);
    after.remove(UpdaterName + QStringLiteral(".log"));
    after.remove(QStringLiteral("sample_app.log"));
    for (auto it = after.begin(); it != after.end();)
        it = it.key().startsWith(QLatin1String("Updates")) || before.contains(it.key()) ? std::next(it)
                                                                                        : after.erase(it);
    for (const QString& name : {QStringLiteral("version.txt"), QStringLiteral("data/base.db"), AppExe})
        EXPECT_EQ(after.value(name), before.value(name)) << name.toStdString();
    EXPECT_TRUE(Tree(App).keys().filter(QStringLiteral(".zlt-")).isEmpty());
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" ERROR Installation undone: data/base.db: ")))
        << RunLogText().toStdString();
}

// A run killed in the middle of its commit left the folder half old, half new; the next run puts
// the old version back before it does anything else, and says so.
TEST_F(EndToEnd, AnInterruptedInstallationIsUndoneAtTheNextStart) {
    // Where the kill caught it: version.txt replaced (its old file aside), data/base.db staged.
    ASSERT_TRUE(QFile::rename(App + QStringLiteral("/version.txt"), App + QStringLiteral("/.zlt-1a.old")));
    WriteFile(App + QStringLiteral("/version.txt"), "2.0\n");
    WriteFile(App + QStringLiteral("/data/.zlt-2b.tmp"), "new base");
    WriteFile(App + QStringLiteral("/Updates/install.journal"),
              "zlt-journal 1\ntemp .zlt-3c.tmp\nfolder data\ntemp data/.zlt-2b.tmp\n"
              "step version.txt .zlt-3c.tmp .zlt-1a.old\nstep data/base.db data/.zlt-2b.tmp -\ncommit\n");
    WriteSettings(FreePort());
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_EQ(ReadFile(App + QStringLiteral("/version.txt")), "1.0\n");
    QStringList names = Tree(App).keys();
    EXPECT_EQ(names.filter(QStringLiteral(".zlt-")), QStringList());
    EXPECT_FALSE(names.contains(QStringLiteral("data"))) << "the folder the staging made";
    EXPECT_TRUE(RunLogText().contains(QLatin1String(
        " WARNING An interrupted installation was undone: 1 old files restored, 2 new or temporary files removed; "
        "the application is as it was before it\n")))
        << RunLogText().toStdString();
}

// Names and folders as Windows' users have them, each case a whole update: the application
// stopped, the package downloaded and installed, the application started again from its folder.
struct TNamesCase {
    const char* Name;
    const char16_t* Folder; // the application's folder below the test's root
    // More files of the package: stored as Info-ZIP stores names on Unix (UTF-8, no mark) ...
    std::vector<QString> Files;
    // ... and stored with the UTF-8 mark, as 7-Zip and Python's zipfile store them.
    std::vector<QString> Marked;
    // A folder that the updater may not change (as Program Files is to a user): nothing is
    // stopped or changed, and the record says why.
    bool Unwritable = false;
};

void PrintTo(const TNamesCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class EndToEndNames : public EndToEnd, public ::testing::WithParamInterface<TNamesCase> {
protected:
    QString AppFolder() const override { return QString::fromUtf16(GetParam().Folder); }

    void ExpectUnwritableFolderLeftAlone();

    // Adds files named ANames, each holding its name, to the package with the UTF-8 mark. The
    // names travel as escapes: the command line of a tool started from Windows is ANSI.
    void AddMarked(const std::vector<QString>& ANames) {
        QStringList escaped;
        for (const QString& name : ANames) {
            QString text;
            for (const QChar character : name)
                text += QStringLiteral("\\u%1").arg(static_cast<uint>(character.unicode()), 4, 16, QChar(u'0'));
            escaped << text;
        }
        const QString script = QStringLiteral(
            "import sys, zipfile\n"
            "with zipfile.ZipFile(sys.argv[1], 'a', zipfile.ZIP_DEFLATED) as package:\n"
            "    for name in sys.argv[2:]:\n"
            "        name = name.encode('ascii').decode('unicode_escape')\n"
            "        package.writestr(name, name.encode('utf-8'))\n");
        ASSERT_EQ(RunProgram(Python3(),
                             QStringList{QStringLiteral("-c"), script, QFileInfo(Package()).absoluteFilePath()} +
                                 escaped),
                  0);
    }
};

// The application's folder made immutable, which even root can't change: the updater ends
// before it stops anything, its record going to the user's own copy. The test runs with all
// rights (root; Wine gives every program administrator rights), so there are none to ask for.
void EndToEndNames::ExpectUnwritableFolderLeftAlone() {
    if (!HaveProgram(QStringLiteral("chattr")) ||
        RunProgram(QStringLiteral("chattr"), {QStringLiteral("+i"), HostPath(App)}) != 0)
        GTEST_SKIP() << "this file system has no immutable attribute";
    const auto release = qScopeGuard([&] {
        RunProgram(QStringLiteral("chattr"), {QStringLiteral("-i"), HostPath(App)});
    });
    const QMap<QString, QByteArray> before = Tree(App);
    // The user's data folder, the same for the test and the updater: XDG_DATA_HOME on Linux,
    // Wine's prefix on Windows.
    const QString data = Root.File(QStringLiteral("data"));
    const TScopedEnvironmentVariable dataHome("XDG_DATA_HOME", data.toUtf8());
    UpdaterEnvironment.append({QStringLiteral("XDG_DATA_HOME"), data});
    const QString copy = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                         QStringLiteral("/zlt-updater/") + UpdaterName + QStringLiteral(".log");
    const auto removeCopy = qScopeGuard([&] { QFile::remove(copy); });
    EXPECT_EQ(RunUpdater(), 0);
    for (const auto& running : Copies) EXPECT_EQ(running->state(), QProcess::Running) << "a copy was stopped";
    EXPECT_EQ(Tree(App), before);
    const QString log = QString::fromUtf8(ReadFile(copy));
    EXPECT_TRUE(log.contains(QStringLiteral(" ERROR The updater can't make and rename files in %1%2 (")
                                 .arg(QDir::toNativeSeparators(App), QDir::separator())))
        << log.toStdString();
    EXPECT_TRUE(log.contains(
        QLatin1String("nothing was stopped, and it can't start with administrator rights: the updater runs ")))
        << log.toStdString();
}

TEST_P(EndToEndNames, TheUpdateInstallsEveryNameInAnyFolder) {
    const TNamesCase& c = GetParam();
    const QString package = Root.File(QStringLiteral("package"));
    for (const QString& file : c.Files) WriteFile(package + u'/' + file, file.toUtf8());
    ASSERT_EQ(ZipFolder(package, Package()), 0);
    if (!c.Marked.empty()) {
        ASSERT_NO_FATAL_FAILURE(AddMarked(c.Marked));
    }
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    StartApplicationTwice();
    if (c.Unwritable) return ExpectUnwritableFolderLeftAlone();

    EXPECT_EQ(RunUpdater(), 0);
    ExpectBothCopiesStopped();
    ExpectInstalledAndRestarted();
    for (const std::vector<QString>* files : {&c.Files, &c.Marked}) {
        for (const QString& file : *files) {
            EXPECT_EQ(ReadFile(App + u'/' + file), file.toUtf8()) << file.toStdString() << "\n"
                                                                  << RunLogText().toStdString();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    NamesAndFolders, EndToEndNames,
    ::testing::Values(
        TNamesCase{"marked_names_beyond_Latin_1",
                   u"app",
                   {},
                   {QStringLiteral("\u20AC.txt"), QStringLiteral("\u0152uvre.txt"), QStringLiteral("\u03A9.txt"),
                    QStringLiteral("\u0141\u00F3d\u017A.txt"), QStringLiteral("\u65E5\u672C.txt"),
                    QStringLiteral("A\u00F1o.txt")}},
        TNamesCase{"a_folder_outside_the_ANSI_code_page",
                   u"\u0141ukasz/Acme",
                   {QStringLiteral("Configuraci\u00F3n.ini"), QStringLiteral("\u0141\u00F3d\u017A/plan.txt")},
                   {}},
        TNamesCase{"entries_of_250_characters",
                   u"app",
                   {QStringLiteral("long/") + QString(241, u'n') + QStringLiteral(".txt"),
                    QString(20, u'd') + u'/' + QString(20, u'e') + u'/' + QString(204, u'f') + QStringLiteral(".txt")},
                   {}},
        TNamesCase{"a_folder_the_updater_may_not_change", u"Program Files/Acme", {}, {}, true}),
    [](const ::testing::TestParamInfo<TNamesCase>& AInfo) { return std::string(AInfo.param.Name); });

// --- the new version on trial -------------------------------------------------------------------

class EndToEndTrial : public EndToEnd {
protected:
    // The new version of the package ends after its restart as AHow says (see the sample
    // application); the folder as it is now is the version to come back to.
    void PackageEndingAs(const QByteArray& AHow, int ATrialSeconds) {
        WriteFile(Root.File(QStringLiteral("package/trial.txt")), AHow);
        QFile::remove(Package());
        ASSERT_EQ(ZipFolder(Root.File(QStringLiteral("package")), Package()), 0);
        ExtraSettings = QStringLiteral("TRIAL=%1\r\n").arg(ATrialSeconds);
        Before = AppFiles();
    }

    // An updater run against AServer, once its new version (a package that runs on) is on a
    // trial of 50 s; nullptr when the trial did not begin.
    std::unique_ptr<QProcess> UpdaterWithAVersionOnTrial(const TNginx& AServer) {
        WriteSettings(AServer.Port());
        std::unique_ptr<QProcess> updater = StartUpdater({QStringLiteral("VER=1.0")});
        if (!WaitFor([&] { return RunLogText().contains(QLatin1String(" on trial for 50 s")); }, 30000)) return {};
        return updater;
    }

    // The application's folder without the settings, the records of the runs and Updates/.
    QMap<QString, QByteArray> AppFiles() const {
        QMap<QString, QByteArray> files = Tree(App);
        for (auto it = files.begin(); it != files.end();) {
            const bool record = it.key().startsWith(UpdaterName + u'.') || it.key().startsWith(u"sample_app.log");
            it = record || it.key() == u"Updates" || it.key().startsWith(u"Updates/") ? files.erase(it) : std::next(it);
        }
        return files;
    }

    QList<QByteArray> Starts() const { return ReadFile(App + QStringLiteral("/sample_app.log")).trimmed().split('\n'); }

    // Ends the copy of the application that runs version 2.0 (the last one started), once it
    // has written its line.
    void StopNewVersion() {
        ASSERT_TRUE(WaitFor([&] { return Starts().back().contains("version=2.0"); })) << Starts().back().toStdString();
        const QByteArray last = Starts().back();
        const quint32 id = last.mid(4, last.indexOf(' ') - 4).toUInt();
        ASSERT_TRUE(platform::TerminateProcessById(id, 1)) << last.toStdString();
    }

    // Updates/previous/: its files, and its list as a sorted set of lines without the header.
    QMap<QString, QByteArray> Previous(QStringList* AList) const {
        QMap<QString, QByteArray> files = Tree(App + QStringLiteral("/Updates/previous"));
        QStringList lines = QString::fromUtf8(files.take(QStringLiteral("previous.list")))
                                .split(u'\n', Qt::SkipEmptyParts);
        if (!lines.isEmpty()) lines.removeFirst();
        lines.sort();
        *AList = lines;
        return files;
    }

    QMap<QString, QByteArray> Before;
};

// An updater killed while its new version is on trial gave no verdict: the next start takes the
// version as passed and keeps the replaced files.
TEST_F(EndToEndTrial, AnUpdaterKilledDuringTheTrialLeavesTheNewVersionWithThePreviousKept) {
    ASSERT_NO_FATAL_FAILURE(PackageEndingAs("run", 50));
    TNginx server(Root.File(QStringLiteral("www")));
    const std::unique_ptr<QProcess> updater = UpdaterWithAVersionOnTrial(server);
    ASSERT_TRUE(updater) << RunLogText().toStdString();
    updater->kill();
    ASSERT_TRUE(updater->waitForFinished(10000));
    ASSERT_NO_FATAL_FAILURE(StopNewVersion());

    WriteSettings(FreePort());
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" INFO The last installation was complete and no verdict")))
        << RunLogText().toStdString();
    EXPECT_EQ(ReadFile(App + QStringLiteral("/version.txt")), "2.0\n");
    EXPECT_EQ(ReadFile(App + QStringLiteral("/Updates/previous/version.txt")), "1.0\n");
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/Updates/install.journal")));
}

struct TTrialFailure {
    const char* Name;
    const char* How;        // trial.txt of the new version
    const char* PosixCause; // as the record names it
    const char* WindowsCause;
};

void PrintTo(const TTrialFailure& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class EndToEndTrialFailure : public EndToEndTrial, public ::testing::WithParamInterface<TTrialFailure> {};

// The new version ends at once: the verdict comes then, not at the end of the trial; the
// folder is wholly the previous version, which is started again with Upd=1.
TEST_P(EndToEndTrialFailure, TheFolderIsThePreviousVersionAgainAndItIsStarted) {
    const TTrialFailure& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(PackageEndingAs(c.How, 50));
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_LT(clock.elapsed(), 40000) << "the updater waited for the end of the trial";
    ASSERT_TRUE(WaitFor([&] { return Starts().size() == 2; })) << RunLogText().toStdString();
    EXPECT_TRUE(Starts()[0].contains("version=2.0 args=Upd=1")) << Starts()[0].toStdString();
    EXPECT_TRUE(Starts()[1].contains("version=1.0 args=Upd=1")) << Starts()[1].toStdString();
    EXPECT_EQ(AppFiles(), Before);
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/Updates/previous")));
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/Updates/install.journal")));
    const QString cause = QString::fromLatin1(ProgramSuffix() == QLatin1String(".exe") ? c.WindowsCause : c.PosixCause);
    const QRegularExpression line(
        QStringLiteral(" ERROR Version on trial ended with %1 after \\d+\\.\\d s; the previous version is restored\n")
            .arg(QRegularExpression::escape(cause)));
    EXPECT_TRUE(line.match(RunLogText()).hasMatch()) << RunLogText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(Trial, EndToEndTrialFailure,
                         ::testing::Values(TTrialFailure{"exit_code_3", "exit 3", "exit code 3", "exit code 3"},
                                           TTrialFailure{"crash", "crash", "signal 11", "exit code 0xC0000005"}),
                         [](const ::testing::TestParamInfo<TTrialFailure>& AInfo) {
                             return std::string(AInfo.param.Name);
                         });

// A healthy version passes: the files it replaced are kept, with the list of what it added;
// ROLLBACK then stops the application and puts that version back, and keeps the one it leaves.
TEST_F(EndToEndTrial, APassedVersionKeepsThePreviousOneAndRollbackReturnsToIt) {
    ASSERT_NO_FATAL_FAILURE(PackageEndingAs("exit 0", 50));
    const QByteArray oldProgram = ReadFile(App + u'/' + AppExe);
    TNginx server(Root.File(QStringLiteral("www")));
    WriteSettings(server.Port());
    EXPECT_EQ(RunUpdater(), 0);
    ExpectInstalledAndRestarted();
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" INFO Version on trial passed (ended with exit code 0 after ")))
        << RunLogText().toStdString();
    QStringList list;
    const QMap<QString, QByteArray> kept{{AppExe, oldProgram}, {QStringLiteral("version.txt"), "1.0\n"}};
    EXPECT_EQ(Previous(&list), kept);
    EXPECT_EQ(list, QStringList({QStringLiteral("added data/base.db"), QStringLiteral("added trial.txt"),
                                 QStringLiteral("folder data"), QStringLiteral("replaced ") + AppExe,
                                 QStringLiteral("replaced version.txt")}));
    const QMap<QString, QByteArray> updated = AppFiles();

    QFile::remove(App + QStringLiteral("/sample_app.log"));
    StartApplicationTwice();
    EXPECT_EQ(RunUpdater({QStringLiteral("ROLLBACK")}), 0) << RunLogText().toStdString();
    ExpectBothCopiesStopped();
    ASSERT_TRUE(WaitFor([&] { return Starts().size() == 3; })) << RunLogText().toStdString();
    EXPECT_TRUE(Starts()[2].contains("version=1.0 args=Upd=1")) << Starts()[2].toStdString();
    EXPECT_EQ(AppFiles(), Before);
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" INFO Rolled back: 2 files restored, 2 removed;")))
        << RunLogText().toStdString();
    // What the rollback left is the previous version now.
    const QMap<QString, QByteArray> left = Previous(&list);
    EXPECT_EQ(left.keys(), QStringList({AppExe, QStringLiteral("data"), QStringLiteral("data/base.db"),
                                        QStringLiteral("trial.txt"), QStringLiteral("version.txt")}));
    for (const QString& name : left.keys()) EXPECT_EQ(left.value(name), updated.value(name)) << name.toStdString();
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/Updates/install.journal")));
}

TEST_F(EndToEndTrial, RollbackWithoutAPreviousVersionEndsWithCode1AndChangesNothing) {
    WriteSettings(FreePort());
    Before = AppFiles();
    EXPECT_EQ(RunUpdater({QStringLiteral("rollback")}), 1);
    EXPECT_EQ(AppFiles(), Before);
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" ERROR Rollback refused: no previous version is kept in ")))
        << RunLogText().toStdString();
    EXPECT_FALSE(QFileInfo::exists(App + QStringLiteral("/sample_app.log"))) << "nothing was started";
}

// A version that still runs: with TRIAL=0 the updater ends right after the start, as without
// a trial; with a trial it passes at its end.
TEST_F(EndToEndTrial, AVersionThatRunsOnPassesAtOnceWithoutTrialOrAtTheTrialsEnd) {
    TNginx server(Root.File(QStringLiteral("www")));
    for (const int trial : {0, 1}) {
        SCOPED_TRACE("TRIAL=" + std::to_string(trial));
        QFile::remove(App + QStringLiteral("/version.txt"));
        WriteFile(App + QStringLiteral("/version.txt"), "1.0\n");
        ASSERT_NO_FATAL_FAILURE(PackageEndingAs("run", trial));
        WriteSettings(server.Port());
        EXPECT_EQ(RunUpdater(), 0);
        ASSERT_TRUE(WaitFor([&] { return Starts().back().contains("version=2.0 args=Upd=1"); }));
        EXPECT_TRUE(RunLogText().contains(trial == 0
                                              ? QLatin1String("Version on trial passed (no trial)")
                                              : QLatin1String("Version on trial passed (still running after 1.")))
            << RunLogText().toStdString();
        EXPECT_TRUE(QFileInfo::exists(App + QStringLiteral("/Updates/previous/version.txt")));
        ASSERT_NO_FATAL_FAILURE(StopNewVersion());
    }
}

// While the new version is on trial the lock is held: a second updater ends at once. A kill
// of the new version within the trial is a failure too.
TEST_F(EndToEndTrial, ASecondUpdaterEndsAtOnceDuringTheTrialAndAKilledVersionIsRolledBack) {
    ASSERT_NO_FATAL_FAILURE(PackageEndingAs("run", 50));
    TNginx server(Root.File(QStringLiteral("www")));
    const std::unique_ptr<QProcess> updater = UpdaterWithAVersionOnTrial(server);
    ASSERT_TRUE(updater) << RunLogText().toStdString();
    EXPECT_EQ(RunUpdater(), 0);
    EXPECT_TRUE(RunLogText().contains(QLatin1String(" WARNING Start refused: another updater runs for ")))
        << RunLogText().toStdString();
    ASSERT_NO_FATAL_FAILURE(StopNewVersion());
    EXPECT_TRUE(updater->waitForFinished(30000)) << "the verdict waited for the trial's end";
    EXPECT_EQ(AppFiles(), Before);
    EXPECT_TRUE(RunLogText().contains(QLatin1String("; the previous version is restored\n")))
        << RunLogText().toStdString();
}

} // namespace
} // namespace zlt::test
