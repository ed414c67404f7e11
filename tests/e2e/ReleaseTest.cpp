// The updater against releases that zlt-publish made, served by nginx: a release is installed
// only when its signed facts are the ones this updater expects.

#include "platform/Network.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <functional>

namespace zlt::test {

namespace {

struct TRelease {
    QString Version = QStringLiteral("2.0");
    QString Channel = QStringLiteral("Produccion");
    QString App = QStringLiteral("acme");
};

class ReleaseEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        bool connected = false;
        {
            const TScopedConnectedState system(std::nullopt);
            connected = platform::InternetGetConnectedState();
        }
        if (!connected) GTEST_SKIP() << "no network interface besides loopback: the updater would not download";
        ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
        // Names of this program's own: no other test's processes are stopped.
        AppExe = QStringLiteral("acme") + ProgramSuffix();
        UpdaterName = QStringLiteral("updater-release-%1").arg(QCoreApplication::applicationPid());
    }

    // zlt-publish makes ARelease of a folder holding version.txt into www/acme, and the release
    // is signed as zlt-publish signs it (minisign, the release in the trusted comment). Under
    // Wine zlt-publish can't wait for minisign, a Linux program: the test signs for it.
    void Publish(const QString& ARoot, const TRelease& ARelease, const QStringList& AMore = {}) const {
        const QString from = ARoot + QStringLiteral("/release");
        WriteFile(from + QStringLiteral("/version.txt"), ARelease.Version.toUtf8() + '\n');
        QDir().mkpath(ARoot + QStringLiteral("/www/acme"));
        QByteArray output;
        ASSERT_EQ(RunProgram(BinProgram(QStringLiteral("zlt-publish")),
                             QStringList{QStringLiteral("--from"), from, QStringLiteral("--version"), ARelease.Version,
                                         QStringLiteral("--app"), ARelease.App, QStringLiteral("--channel"),
                                         ARelease.Channel, QStringLiteral("--to"), ARoot + QStringLiteral("/www/acme"),
                                         QStringLiteral("--package"), QStringLiteral("acme.zip")} +
                                 AMore,
                             &output),
                  0)
            << output.toStdString();
        const QString channel = ARoot + QStringLiteral("/www/acme/") + ARelease.Channel;
        const QString comment = QStringLiteral("version:%1 channel:%2 app:%3")
                                    .arg(ARelease.Version, ARelease.Channel, ARelease.App);
        Key.SignWithComment(channel + QStringLiteral("/acme.zip"), comment);
        Key.SignWithComment(channel + QStringLiteral("/acme.zip.manifest"), comment);
    }

    // The application folder at version 1.0 with the updater, run with VER=AInstalled against
    // nginx serving AWww; returns the run's log. AInstalled tells whether 2.0 came in.
    QString Run(const QString& ARoot, const QString& AWww, bool ASigned, bool& AInstalled) const {
        const QString app = ARoot + QStringLiteral("/app");
        const QString updater = InstallUpdater(app, UpdaterName);
        EXPECT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), app + u'/' + AppExe));
        WriteFile(app + QStringLiteral("/version.txt"), "1.0\n");
        TNginx server(AWww);
        WriteFile(app + u'/' + UpdaterName + QStringLiteral(".cfi"),
                  QStringLiteral(
                      "[UPDATE]\r\nAPPNAME=Acme\r\nAPPEXE=%1\r\nSERVER1=http://127.0.0.1:%2/\r\nPATHUPD=acme\r\n"
                      "FILEPHP=checkUpdates.php\r\nFILEZIP=acme.zip\r\n%3")
                      .arg(AppExe)
                      .arg(server.Port())
                      .arg(ASigned ? QStringLiteral("PUBKEY=%1\r\n").arg(Key.PublicKeyLine()) : QString())
                      .toUtf8());
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(app);
        process.start(updater, {QStringLiteral("VER=1.0")});
        EXPECT_TRUE(process.waitForFinished(60000)) << "the updater did not end";
        // The run's record tells whether it started the application again; only then is there
        // a start to wait for.
        const QString log = QString::fromUtf8(ReadFile(app + u'/' + UpdaterName + QStringLiteral(".log")));
        AInstalled = log.contains(QStringLiteral(" INFO Started ")) &&
                     WaitFor([&] { return ReadFile(app + QStringLiteral("/sample_app.log")).contains("args=Upd=1"); });
        EXPECT_EQ(ReadFile(app + QStringLiteral("/version.txt")), AInstalled ? "2.0\n" : "1.0\n");
        return log;
    }

    TMinisignKey Key;
    QString AppExe;
    QString UpdaterName;
};

// Rewrites the manifest of AChannel with AChange and signs it again as a publisher would.
void ChangeManifest(const TMinisignKey& AKey, const QString& AChannel,
                    const std::function<void(QJsonObject&)>& AChange) {
    const QString file = AChannel + QStringLiteral("/acme.zip.manifest");
    QJsonObject manifest = QJsonDocument::fromJson(ReadFile(file)).object();
    AChange(manifest);
    WriteFile(file, QJsonDocument(manifest).toJson());
    AKey.SignWithComment(file, QStringLiteral("version:%1 channel:Produccion app:acme")
                                   .arg(manifest[QStringLiteral("version")].toString()));
}

} // namespace

TEST_F(ReleaseEndToEnd, OnlyTheReleaseThisUpdaterExpectsIsInstalled) {
    struct TCase {
        const char* Name;
        TRelease Release;
        std::function<void(const QString& ARoot, const QString& AChannel)> Spoil; // after publishing
        bool Signed;
        QString Logged; // in the run's log: the refusal's cause, or what a taken release notes
        bool Installed;
    };
    const auto noManifest = [](const QString& AChannel) {
        QFile::remove(AChannel + QStringLiteral("/acme.zip.manifest"));
        QFile::remove(AChannel + QStringLiteral("/acme.zip.manifest.minisig"));
    };
    const QList<TCase> cases = {
        {"a good release", {}, {}, true, QStringLiteral("Signature of http://127.0.0.1:"), true},
        {"an older signed release",
         {QStringLiteral("0.9")},
         {},
         true,
         QStringLiteral("refused: version 0.9 is older than the installed 1.0"),
         false},
        {"a release of the other channel",
         {QStringLiteral("2.0"), QStringLiteral("Pruebas")},
         [](const QString& ARoot, const QString&) {
             QDir(ARoot + QStringLiteral("/www/acme/Produccion")).removeRecursively();
             QDir().rename(ARoot + QStringLiteral("/www/acme/Pruebas"), ARoot + QStringLiteral("/www/acme/Produccion"));
         },
         true,
         QStringLiteral("package of channel Pruebas offered on Produccion"),
         false},
        {"another app's release",
         {QStringLiteral("2.0"), QStringLiteral("Produccion"), QStringLiteral("other")},
         {},
         true,
         QStringLiteral("package of app other offered for acme"),
         false},
        {"an expired manifest",
         {},
         [this](const QString&, const QString& AChannel) {
             ChangeManifest(Key, AChannel, [](QJsonObject& AManifest) {
                 AManifest[QStringLiteral("expires")] = QStringLiteral("2020-01-01T00:00:00Z");
             });
         },
         true,
         QStringLiteral("release expired on 2020-01-01T00:00:00Z"),
         false},
        {"a manifest whose package was swapped",
         {},
         [this](const QString&, const QString& AChannel) {
             // Another package, validly signed: only the manifest tells it is not this release's.
             WriteFile(AChannel + QStringLiteral("/acme.zip"), ReadFile(AChannel + QStringLiteral("/acme.zip")) + "x");
             Key.SignWithComment(AChannel + QStringLiteral("/acme.zip"),
                                 QStringLiteral("version:2.0 channel:Produccion app:acme"));
         },
         true,
         QStringLiteral("where the manifest says"),
         false},
        {"a signature whose file: names another file",
         {},
         [&, this](const QString&, const QString& AChannel) {
             noManifest(AChannel);
             Key.SignWithComment(AChannel + QStringLiteral("/acme.zip"),
                                 QStringLiteral("timestamp:1\tfile:other.zip\thashed"));
         },
         true,
         QStringLiteral("signature of file other.zip offered as acme.zip"),
         false},
        {"minisign's comment with an older version: after a tab",
         {},
         [&, this](const QString&, const QString& AChannel) {
             noManifest(AChannel);
             Key.SignWithComment(AChannel + QStringLiteral("/acme.zip"),
                                 QStringLiteral("timestamp:1\tfile:acme.zip\thashed\tversion:0.9"));
         },
         true,
         QStringLiteral("version 0.9 is older than the installed 1.0"),
         false},
        {"an unversioned signature",
         {},
         [&, this](const QString&, const QString& AChannel) {
             noManifest(AChannel);
             Key.SignWithComment(AChannel + QStringLiteral("/acme.zip"),
                                 QStringLiteral("timestamp:1\tfile:acme.zip\thashed"));
         },
         true,
         QStringLiteral("unversioned signature"),
         true},
        {"unsigned: a manifest of the other channel",
         {QStringLiteral("2.0"), QStringLiteral("Pruebas")},
         [](const QString& ARoot, const QString&) {
             QDir().rename(ARoot + QStringLiteral("/www/acme/Pruebas"), ARoot + QStringLiteral("/www/acme/Produccion"));
         },
         false,
         QStringLiteral("package of channel Pruebas offered on Produccion"),
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TTempDir root;
        // A file that the installed folder lacks makes most of the package: the whole package
        // travels, and its own checks are what these rows show.
        WriteRandomFile(root.File(QStringLiteral("release/payload.bin")), 64 * 1024);
        ASSERT_NO_FATAL_FAILURE(Publish(root.Path(), c.Release));
        if (c.Spoil) c.Spoil(root.Path(), root.Path() + QStringLiteral("/www/acme/") + c.Release.Channel);
        bool installed = false;
        const QString log = Run(root.Path(), root.Path() + QStringLiteral("/www"), c.Signed, installed);
        EXPECT_EQ(installed, c.Installed) << log.toStdString();
        EXPECT_TRUE(log.contains(c.Logged)) << log.toStdString();
        if (!c.Installed) {
            EXPECT_TRUE(log.contains(QStringLiteral(" ERROR Package http://127.0.0.1:"))) << log.toStdString();
        }
    }
}

// An application folder that holds most of a signed release already: only the changed file
// travels, checked against the signed manifest, and the installation brings the release.
TEST_F(ReleaseEndToEnd, OnlyTheChangedFileOfASignedReleaseTravels) {
    const TTempDir root;
    for (int i = 0; i < 20; ++i) {
        const QString name = QStringLiteral("/data/f%1.bin").arg(i);
        WriteRandomFile(root.File(QStringLiteral("release") + name), 32 * 1024, static_cast<std::uint32_t>(i + 1));
        WriteRandomFile(root.File(QStringLiteral("app") + name), 32 * 1024, static_cast<std::uint32_t>(i + 1));
    }
    ASSERT_NO_FATAL_FAILURE(Publish(root.Path(), {}));
    bool installed = false;
    const QString log = Run(root.Path(), root.Path() + QStringLiteral("/www"), true, installed);
    EXPECT_TRUE(installed) << log.toStdString();
    // 21 files and the folder data/.
    EXPECT_TRUE(log.contains(QStringLiteral("Fetched 1 of 22 entries"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("21 unchanged"))) << log.toStdString();
    EXPECT_FALSE(log.contains(QStringLiteral("Downloaded http://"))) << "the whole package did not travel";
    EXPECT_EQ(ReadFile(root.File(QStringLiteral("app/data/f7.bin"))), ReadFile(root.File(QStringLiteral("release/data/f7.bin"))));
}

} // namespace zlt::test
