// zlt-publish as a publisher runs it: the real program on a real folder, its output checked
// with the tools a publisher or a client would use (bsdtar, unzip, b2sum, minisign).

#include "signature/Manifest.h"
#include "tests/support/TestSupport.h"
#include "webupdater/CheckScript.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <map>

namespace zlt::test {

namespace {

struct TRun {
    int Code = -1;
    QString Out;
    QString Err;
};

// The built zlt-publish with AArguments, AInput on its input, AEnvironment added.
TRun Publish(const QStringList& AArguments, const QByteArray& AInput = {},
             const QList<QPair<QString, QString>>& AEnvironment = {}) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : AEnvironment) environment.insert(name, value);
    process.setProcessEnvironment(environment);
    process.start(BinProgram(QStringLiteral("zlt-publish")), AArguments);
    EXPECT_TRUE(process.waitForStarted()) << "zlt-publish did not start";
    process.write(AInput);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(120000)) << "zlt-publish did not end";
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()), QString::fromUtf8(process.readAllStandardError())};
}

// Every file below AFolder with its content: what a folder holds, to show nothing changed.
std::map<QString, QByteArray> Tree(const QString& AFolder) {
    std::map<QString, QByteArray> tree;
    QDirIterator it(AFolder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        tree[QDir(AFolder).relativeFilePath(path)] = it.fileInfo().isDir() ? QByteArray("<dir>") : ReadFile(path);
    }
    return tree;
}

// zlt-publish.exe runs under Wine, where it can't wait for minisign, a Linux program.
bool CanSign() { return ProgramSuffix().isEmpty() && HaveProgram(QStringLiteral("minisign")); }

class PublishTest : public ::testing::Test {
protected:
    void SetUp() override {
        From = Root.File(QStringLiteral("from"));
        WriteRandomFile(From + QStringLiteral("/acme"), 150000, 1);
        QFile::setPermissions(From + QStringLiteral("/acme"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                                  QFile::ReadGroup | QFile::ExeGroup |
                                                                  QFile::ReadOther | QFile::ExeOther);
        WriteFile(From + QStringLiteral("/version.txt"), "2.0.1\n");
        WriteRandomFile(From + QStringLiteral("/data/precios.db"), 300000, 2);
        WriteFile(From + QString::fromUtf8("/datos/año 2026.txt"), "ñ\n");
        To = Root.File(QStringLiteral("www"));
        QDir().mkpath(To);
    }

    QStringList Arguments(const QString& AVersion, const QStringList& AMore = {}) const {
        return QStringList{QStringLiteral("--from"), From, QStringLiteral("--version"), AVersion,
                           QStringLiteral("--app"), QStringLiteral("acme"), QStringLiteral("--channel"),
                           QStringLiteral("Produccion"), QStringLiteral("--to"), To} +
               AMore;
    }
    QString Channel(const QString& AFile = QString()) const {
        return To + QStringLiteral("/Produccion") + (AFile.isEmpty() ? QString() : u'/' + AFile);
    }

    TTempDir Root;
    QString From;
    QString To;
};

// The package opens with bsdtar and unzip and holds every file with its mode; the manifest's
// hashes are b2sum's; minisign accepts both signatures; the script is the component's.
TEST_F(PublishTest, AFolderBecomesAReleaseThatRealToolsAccept) {
    if (!CanSign()) GTEST_SKIP() << "needs minisign that zlt-publish can run (not under Wine)";
    for (const char* tool : {"bsdtar", "unzip", "b2sum"}) ZLT_REQUIRE_PROGRAM(QString::fromLatin1(tool));
    const TMinisignKey key;
    const TRun run = Publish(Arguments(QStringLiteral("2.0.1"), {QStringLiteral("--key"), key.SecretKeyFile()}));
    ASSERT_EQ(run.Code, 0) << run.Err.toStdString();
    const QString zip = Channel(QStringLiteral("acme.zip"));

    QByteArray listing;
    ASSERT_EQ(RunProgram(QStringLiteral("bsdtar"), {QStringLiteral("-tvf"), zip}, &listing), 0);
    const QStringList lines = QString::fromUtf8(listing).split(u'\n');
    const auto modeOf = [&lines](const QString& AName) {
        const QStringList found = lines.filter(QRegularExpression(QStringLiteral(" %1$").arg(QRegularExpression::escape(AName))));
        return found.size() == 1 ? found.first().left(10) : QStringLiteral("(not listed)");
    };
    EXPECT_EQ(modeOf(QStringLiteral("acme")), QStringLiteral("-rwxr-xr-x"));
    EXPECT_EQ(modeOf(QStringLiteral("version.txt")), QStringLiteral("-rw-r--r--"));
    EXPECT_EQ(modeOf(QString::fromUtf8("datos/año 2026.txt")), QStringLiteral("-rw-r--r--")) << "the name in UTF-8";
    EXPECT_EQ(RunProgram(QStringLiteral("unzip"), {QStringLiteral("-tq"), zip}), 0) << "unzip finds it sound";
    const QString out = Root.File(QStringLiteral("unzipped"));
    QDir().mkpath(out);
    ASSERT_EQ(RunProgram(QStringLiteral("unzip"), {QStringLiteral("-q"), zip, QStringLiteral("-d"), out}), 0);
    EXPECT_EQ(Tree(out), Tree(From)) << "every file and folder, as it was";

    const signature::TManifest manifest = signature::ParseManifest(ReadFile(zip + QStringLiteral(".manifest")));
    EXPECT_EQ(manifest.Entries.size(), 4u);
    for (const signature::TManifestEntry& entry : manifest.Entries) {
        QByteArray sum;
        ASSERT_EQ(RunProgram(QStringLiteral("b2sum"), {QStringLiteral("-l"), QStringLiteral("256"), From + u'/' + entry.Name}, &sum), 0);
        EXPECT_EQ(signature::HexText(entry.Hash).toLatin1(), sum.left(64)) << entry.Name.toStdString();
    }
    QByteArray sum;
    ASSERT_EQ(RunProgram(QStringLiteral("b2sum"), {zip}, &sum), 0);
    EXPECT_EQ(signature::HexText(manifest.PackageHash).toLatin1(), sum.left(128));

    for (const QString& file : {zip, zip + QStringLiteral(".manifest")}) {
        QByteArray said;
        EXPECT_EQ(RunProgram(QStringLiteral("minisign"), {QStringLiteral("-V"), QStringLiteral("-p"), key.PublicKeyFile(),
                                                          QStringLiteral("-m"), file}, &said), 0) << file.toStdString();
        EXPECT_TRUE(said.contains("Trusted comment: version:2.0.1 channel:Produccion app:acme")) << said.toStdString();
    }
    EXPECT_EQ(ReadFile(Channel(QStringLiteral("checkUpdates.php"))),
              webupdater::CheckScriptBytes(QStringLiteral("PHP"), QStringLiteral("2.0.1")));
    EXPECT_EQ(QDir(Channel()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 5)
        << "the five files and nothing left beside them";
}

// A release can be made again: the same folder, copied elsewhere with other times and
// listed in another order, gives the same package bytes.
TEST_F(PublishTest, TheSameFolderGivesTheSamePackage) {
    ASSERT_EQ(Publish(Arguments(QStringLiteral("2.0.1"))).Code, 0);
    const QByteArray first = ReadFile(Channel(QStringLiteral("acme.zip")));
    ASSERT_FALSE(first.isEmpty());
    const QString copy = Root.File(QStringLiteral("copy"));
    for (const auto& [name, content] : Tree(From)) {
        if (content == "<dir>") continue;
        WriteFile(copy + u'/' + name, content); // written now: other times, another order
        QFile::setPermissions(copy + u'/' + name, QFile::permissions(From + u'/' + name));
    }
    From = copy;
    To = Root.File(QStringLiteral("www2"));
    QDir().mkpath(To);
    ASSERT_EQ(Publish(Arguments(QStringLiteral("2.0.1"))).Code, 0);
    EXPECT_TRUE(ReadFile(Channel(QStringLiteral("acme.zip"))) == first) << "the package differs";
}

// Versions compare number by number; a version not newer than the one published is refused,
// and the release in place stays, unless --force.
TEST_F(PublishTest, AVersionNotNewerIsRefusedUnlessForced) {
    ASSERT_EQ(Publish(Arguments(QStringLiteral("2.9"))).Code, 0);
    struct TCase {
        const char* Version;
        bool Force;
        bool Published;
    };
    const TCase cases[] = {{"2.10", false, true}, {"2.10", false, false}, {"2.9.9", false, false},
                           {"2.10.0", false, false}, {"2.9", true, true}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Version) + (c.Force ? " --force" : ""));
        const std::map<QString, QByteArray> before = Tree(To);
        const QString was = signature::ParseManifest(ReadFile(Channel(QStringLiteral("acme.zip.manifest")))).Version;
        const TRun run = Publish(Arguments(QString::fromLatin1(c.Version), c.Force ? QStringList{QStringLiteral("--force")} : QStringList{}));
        const QString now = signature::ParseManifest(ReadFile(Channel(QStringLiteral("acme.zip.manifest")))).Version;
        if (c.Published) {
            EXPECT_EQ(run.Code, 0) << run.Err.toStdString();
            EXPECT_EQ(now, QString::fromLatin1(c.Version));
        } else {
            EXPECT_EQ(run.Code, 1);
            EXPECT_TRUE(run.Err.contains(QStringLiteral("Version %1 is not newer than %2").arg(QString::fromLatin1(c.Version), was)))
                << run.Err.toStdString();
            EXPECT_EQ(Tree(To), before) << "nothing written";
        }
    }
}

// Each failure names the file and the cause, and leaves the server's folder as it was (here
// with an earlier release in it).
TEST_F(PublishTest, FailuresNameTheCauseAndWriteNothing) {
    ASSERT_EQ(Publish(Arguments(QStringLiteral("1.0"))).Code, 0);
    const std::map<QString, QByteArray> before = Tree(To);
    const QString missingKey = Root.File(QStringLiteral("nokey/acme.key"));
    QString passwordKey;
    if (CanSign()) {
        passwordKey = Root.File(QStringLiteral("pw/acme.key"));
        QDir().mkpath(Root.File(QStringLiteral("pw")));
        QProcess make;
        make.start(QStringLiteral("minisign"), {QStringLiteral("-G"), QStringLiteral("-p"), Root.File(QStringLiteral("pw/acme.pub")),
                                                QStringLiteral("-s"), passwordKey});
        ASSERT_TRUE(make.waitForStarted());
        make.write("right\nright\n");
        make.closeWriteChannel();
        ASSERT_TRUE(make.waitForFinished(60000) && make.exitCode() == 0);
    }
    struct TCase {
        const char* Name;
        QStringList Arguments;
        QByteArray Input;
        QList<QPair<QString, QString>> Environment;
        QString Cause; // a part of the error
        bool NeedsSigning;
    };
    const QList<TCase> cases = {
        {"a missing key file", Arguments(QStringLiteral("2.0"), {QStringLiteral("--key"), missingKey}), {}, {},
         QStringLiteral("The key file \"%1\" does not exist").arg(missingKey), false},
        {"a folder that is not there", QStringList(Arguments(QStringLiteral("2.0"))).replaceInStrings(From, From + QStringLiteral("-gone")), {}, {},
         QStringLiteral("\"%1-gone\" is not a folder").arg(From), false},
        {"minisign missing", Arguments(QStringLiteral("2.0"), {QStringLiteral("--key"), passwordKey}), {},
         {{QStringLiteral("ZLT_MINISIGN"), Root.File(QStringLiteral("no/minisign"))}}, QStringLiteral("is not a program that can be run"), true},
        {"a wrong password", Arguments(QStringLiteral("2.0"), {QStringLiteral("--key"), passwordKey}), "wrong\n", {},
         QStringLiteral("Wrong password"), true},
        {"a version that is no version", Arguments(QStringLiteral("2.0-beta")), {}, {}, QStringLiteral("\"2.0-beta\" is not a version"), false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        if (c.NeedsSigning && !CanSign()) continue;
        const TRun run = Publish(c.Arguments, c.Input, c.Environment);
        EXPECT_EQ(run.Code, 1);
        EXPECT_TRUE(run.Err.contains(c.Cause) && run.Err.contains(QStringLiteral("Nothing was published")))
            << run.Err.toStdString();
        EXPECT_EQ(Tree(To), before) << "nothing written";
    }
    // A file of the folder that can't be read: only an ordinary user is refused reading.
    if (!ProgramSuffix().isEmpty() || CanRunAsNobody()) return;
    const QString locked = From + QStringLiteral("/data/precios.db");
    QFile::setPermissions(locked, QFileDevice::Permissions());
    const TRun run = Publish(Arguments(QStringLiteral("2.0")));
    QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(run.Code, 1);
    EXPECT_TRUE(run.Err.contains(locked)) << run.Err.toStdString();
    EXPECT_EQ(Tree(To), before) << "nothing written";
}

// --verify checks a release as a client would, and names what is wrong.
TEST_F(PublishTest, VerifyPassesAGoodReleaseAndNamesEachFault) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("minisign"));
    const TMinisignKey key;
    const TMinisignKey stranger;
    // Two releases, each signed as zlt-publish signs (minisign, the release in the trusted
    // comment); the second in a folder of its own, to take pieces from.
    const auto release = [&](const QString& AVersion, const QString& ATo) {
        To = ATo;
        QDir().mkpath(To);
        WriteFile(From + QStringLiteral("/version.txt"), AVersion.toUtf8());
        ASSERT_EQ(Publish(Arguments(AVersion)).Code, 0);
        for (const QString& file : {Channel(QStringLiteral("acme.zip")), Channel(QStringLiteral("acme.zip.manifest"))})
            key.SignWithComment(file, QStringLiteral("version:%1 channel:Produccion app:acme").arg(AVersion));
    };
    release(QStringLiteral("2.1"), Root.File(QStringLiteral("other")));
    const QString other = Channel();
    release(QStringLiteral("2.0"), Root.File(QStringLiteral("www")));
    const auto cfi = [&](const TMinisignKey& AKey, const QString& AName) {
        const QString file = Root.File(AName);
        WriteFile(file, QStringLiteral("[UPDATE]\r\nAPPEXE=acme.exe\r\nPUBKEY=%1\r\n").arg(AKey.PublicKeyLine()).toUtf8());
        return file;
    };
    const auto copyIn = [&](const QStringList& ANames) {
        for (const QString& name : ANames) WriteFile(Channel(name), ReadFile(other + u'/' + name));
    };
    struct TCase {
        const char* Name;
        std::function<void()> Spoil;
        QStringList Options;
        QString Failure; // empty: every check passes
    };
    const QList<TCase> cases = {
        {"a good release", [] {}, {QStringLiteral("--pubkey"), key.PublicKeyFile()}, {}},
        {"a good release, keys of the .cfi", [] {}, {QStringLiteral("--cfi"), cfi(key, QStringLiteral("trusting.cfi"))}, {}},
        {"the package swapped after signing", [&] { copyIn({QStringLiteral("acme.zip")}); },
         {QStringLiteral("--pubkey"), key.PublicKeyFile()}, QStringLiteral("FAIL package acme.zip: package's BLAKE2b-512")},
        {"a manifest from another release",
         [&] { copyIn({QStringLiteral("acme.zip.manifest"), QStringLiteral("acme.zip.manifest.minisig")}); },
         {QStringLiteral("--pubkey"), key.PublicKeyFile()}, QStringLiteral("FAIL signature of acme.zip: signed as version 2.0, the manifest says 2.1")},
        {"a script with another version",
         [&] { WriteFile(Channel(QStringLiteral("checkUpdates.php")), webupdater::CheckScriptBytes(QStringLiteral("PHP"), QStringLiteral("1.9"))); },
         {QStringLiteral("--pubkey"), key.PublicKeyFile()},
         QStringLiteral("FAIL check script: checkUpdates.php names version 1.9, the manifest 2.0")},
        {"a manifest that places an entry one byte off",
         [&] {
             const QString file = Channel(QStringLiteral("acme.zip.manifest"));
             QJsonObject manifest = QJsonDocument::fromJson(ReadFile(file)).object();
             QJsonArray entries = manifest[QStringLiteral("entries")].toArray();
             QJsonObject first = entries[0].toObject();
             QJsonObject zip = first[QStringLiteral("zip")].toObject();
             zip[QStringLiteral("offset")] = zip[QStringLiteral("offset")].toDouble() + 1;
             first[QStringLiteral("zip")] = zip;
             entries[0] = first;
             manifest[QStringLiteral("entries")] = entries;
             WriteFile(file, QJsonDocument(manifest).toJson());
             key.SignWithComment(file, QStringLiteral("version:2.0 channel:Produccion app:acme"));
         },
         {QStringLiteral("--pubkey"), key.PublicKeyFile()}, QStringLiteral("acme is not where the manifest places it")},
        {"a key the .cfi does not trust", [] {}, {QStringLiteral("--cfi"), cfi(stranger, QStringLiteral("stranger.cfi"))},
         QStringLiteral("FAIL signature of acme.zip.manifest: The package is signed with key")},
    };
    const QString good = Root.File(QStringLiteral("good"));
    ASSERT_TRUE(QDir().rename(Channel(), good));
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        QDir(Channel()).removeRecursively();
        QDir().mkpath(Channel());
        for (const auto& [name, content] : Tree(good)) WriteFile(Channel(name), content);
        c.Spoil();
        const TRun run = Publish(QStringList{QStringLiteral("--verify"), Channel()} + c.Options);
        if (c.Failure.isEmpty()) {
            EXPECT_EQ(run.Code, 0) << run.Out.toStdString();
            EXPECT_EQ(run.Out.count(QStringLiteral("OK   ")), 6) << run.Out.toStdString();
        } else {
            EXPECT_EQ(run.Code, 1);
            EXPECT_TRUE(run.Out.contains(c.Failure)) << run.Out.toStdString();
        }
    }
}

} // namespace
} // namespace zlt::test
