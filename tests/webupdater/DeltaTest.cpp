// Only what changed travels: releases that zlt-publish made, an application folder that holds
// an older one, and the component fetching the changed entries by HTTP ranges from nginx and
// from the fault server. Every row installs what was handed on and compares the folder with
// the release.

#include "install/Unzipper.h"
#include "install/ZipDirectory.h"
#include "tests/support/TestSupport.h"
#include "ui/Application.h"
#include "webupdater/DeltaPackage.h"
#include "webupdater/WebUpdater.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QWidget>

#include <gtest/gtest.h>

#include <map>

namespace zlt::test {

using namespace zlt::webupdater;

namespace {

constexpr int SmallFiles = 60;
constexpr std::int64_t SmallSize = 4096;
constexpr std::int64_t ProgramSize = 256 * 1024;
constexpr std::int64_t BigSize = 3 * 1024 * 1024;

// A release's folder: small files, a program and one big file, their bytes drawn from seeds, so
// that a release differs from another where the seeds do.
struct TFolder {
    std::uint32_t SmallSeed = 100; // the first ChangedSmall files take another seed
    int ChangedSmall = 0;
    std::uint32_t ProgramSeed = 1;
    std::uint32_t BigSeed = 2;
    bool EmptyFolder = true; // logs/
};

void WriteRelease(const QString& AFolder, const TFolder& AContent) {
    for (int i = 0; i < SmallFiles; ++i)
        WriteRandomFile(AFolder + QStringLiteral("/data/f%1.bin").arg(i, 3, 10, QChar(u'0')), SmallSize,
                        AContent.SmallSeed + static_cast<std::uint32_t>(i) + (i < AContent.ChangedSmall ? 5000u : 0u));
    WriteRandomFile(AFolder + QStringLiteral("/acme"), ProgramSize, AContent.ProgramSeed);
    QFile::setPermissions(AFolder + QStringLiteral("/acme"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup |
                              QFile::ReadOther | QFile::ExeOther);
    WriteRandomFile(AFolder + QStringLiteral("/big.bin"), BigSize, AContent.BigSeed);
    if (AContent.EmptyFolder) QDir().mkpath(AFolder + QStringLiteral("/logs"));
}

// Every file and folder below AFolder but Updates/, with a file's content and whether it may be
// run.
std::map<QString, QByteArray> Tree(const QString& AFolder) {
    std::map<QString, QByteArray> tree;
    QDirIterator it(AFolder, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = QDir(AFolder).relativeFilePath(it.next());
        if (name == QStringLiteral("Updates") || name.startsWith(QStringLiteral("Updates/"))) continue;
        tree[name] = it.fileInfo().isDir() ? QByteArray("<dir>")
                                           : ReadFile(it.filePath()) + (it.fileInfo().isExecutable() ? "+x" : "");
    }
    return tree;
}

// The bytes nginx sent for APath, from its access log.
std::int64_t BytesSent(const TNginx& AServer, const QString& APath) {
    std::int64_t sent = 0;
    for (const QString& line : AServer.AccessLog().split(u'\n', Qt::SkipEmptyParts)) {
        const QStringList words = line.split(u' ');
        if (words.size() >= 5 && words[1] == APath) sent += words.last().toLongLong();
    }
    return sent;
}

class DeltaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        Site = new TTempDir;
        const QString from = Site->File(QStringLiteral("release"));
        WriteRelease(from, {});
        QDir().mkpath(Site->File(QStringLiteral("www")));
        QByteArray output;
        const int code = RunProgram(BinProgram(QStringLiteral("zlt-publish")),
                                    {QStringLiteral("--from"), from, QStringLiteral("--version"), QStringLiteral("2.0"),
                                     QStringLiteral("--app"), QStringLiteral("acme"), QStringLiteral("--channel"),
                                     QStringLiteral("Produccion"), QStringLiteral("--to"), Site->File(QStringLiteral("www")),
                                     QStringLiteral("--package"), QStringLiteral("acme.zip")},
                                    &output);
        ASSERT_EQ(code, 0) << output.toStdString();
        Package = new QByteArray(ReadFile(Site->File(QStringLiteral("www/Produccion/acme.zip"))));
        Http = new TNginx(Site->File(QStringLiteral("www")));
        TNginxOptions noRanges;
        noRanges.ExtraServerConfig = QStringLiteral("max_ranges 0;");
        NoRanges = new TNginx(Site->File(QStringLiteral("www")), noRanges);
        Faults = new TFaultServer(Site->File(QStringLiteral("www/Produccion")));
    }
    static void TearDownTestSuite() {
        delete Faults;
        delete NoRanges;
        delete Http;
        delete Package;
        delete Site;
    }

    // No pause before a resumption (the guard gives the defaults back).
    void SetUp() override { http::TZLTHttpDefaults::Instance().ResumeBackoffMs = 0; }

    static QString Release() { return Site->File(QStringLiteral("release")); }

    const TScopedHttpDefaults FDefaults;

    // One download by DownloadUpdates into an application folder holding AInstalled (nullopt:
    // a fresh folder), and the installation of what it handed on.
    struct TRun {
        TExeFolder Exe;
        QObject Host;
        TZLTWebUpdater Updater{&Host};
        QStringList Handed;
        QStringList Log;
        std::vector<std::int32_t> Starts;
        std::int32_t LastPosition = 0;
    };
    static void Download(TRun& ARun, const std::optional<TFolder>& AInstalled, const QString& AURL) {
        ui::Application().ResetTerminated();
        if (AInstalled) WriteRelease(ARun.Exe.Folder(), *AInstalled);
        ARun.Updater.SetPDownloadUrl(AURL);
        ARun.Updater.OnLog = [&ARun](TZLTWebUpdater*, TLogLevel, const QString& AText) { ARun.Log << AText; };
        ARun.Updater.OnDownLoadStart = [&ARun](TZLTWebUpdater*, std::int32_t AMax) { ARun.Starts.push_back(AMax); };
        ARun.Updater.OnProgressEvent = [&ARun](TZLTWebUpdater*, std::int32_t APosition) { ARun.LastPosition = APosition; };
        ARun.Updater.OnUpdateDownloaded = [&ARun](TZLTWebUpdater*, QString AFileName) { ARun.Handed << AFileName; };
        ARun.Updater.DownloadUpdates();
        ui::Application().ResetTerminated();
        if (ARun.Handed.size() != 1) return;
        install::TZLTUnZipper unzipper(nullptr);
        unzipper.CreateDirs = true;
        unzipper.RestorePath = true;
        unzipper.Open(ARun.Handed[0]);
        unzipper.BaseDirectory = ARun.Exe.Folder();
        unzipper.ExtractFiles(QStringLiteral("*"));
    }

    static inline TTempDir* Site = nullptr;
    static inline QByteArray* Package = nullptr;
    static inline TNginx* Http = nullptr;
    static inline TNginx* NoRanges = nullptr;
    static inline TFaultServer* Faults = nullptr;
};

} // namespace

// The four cases of an update against nginx, and a server that serves no ranges: each ends with
// the release installed, and sends what its line says.
TEST_F(DeltaTest, OnlyWhatChangedTravelsFromNginx) {
    const std::int64_t whole = Package->size();
    struct TCase {
        const char* Name;
        std::optional<TFolder> Installed;
        bool Ranges;
        QString Line;       // a line of the log
        std::int64_t Least; // bytes of the package nginx sends, at least and at most
        std::int64_t Most;
    };
    // The release's files, and its folders data/ and logs/ (empty).
    constexpr int entries = SmallFiles + 2 + 2;
    const TCase cases[] = {
        {"ten small files and the program changed, the empty folder missing", TFolder{100, 10, 9, 2, false}, true,
         QStringLiteral("Fetched 12 of %1 entries").arg(entries), ProgramSize + 10 * SmallSize,
         ProgramSize + 12 * SmallSize + 64 * 1024},
        {"only the big file changed", TFolder{100, 0, 1, 9}, true,
         QStringLiteral("travels whole: 1 of %1 entries changed").arg(entries), whole, whole},
        {"nothing changed", TFolder{}, true, QStringLiteral("Fetched 0 of %1 entries").arg(entries), 0, 0},
        {"a fresh folder", std::nullopt, true,
         QStringLiteral("travels whole: %1 of %1 entries changed").arg(entries), whole, whole},
        {"a server without ranges", TFolder{100, 10, 9, 2}, false, QStringLiteral("the whole package is taken"), whole,
         2 * whole},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const TNginx& server = c.Ranges ? *Http : *NoRanges;
        const std::int64_t before = BytesSent(server, QStringLiteral("/Produccion/acme.zip"));
        TRun run;
        Download(run, c.Installed, server.Url(QStringLiteral("/Produccion/acme.zip")));
        ASSERT_EQ(run.Handed.size(), 1) << run.Log.join(u'\n').toStdString();
        EXPECT_TRUE(Tree(run.Exe.Folder()) == Tree(Release())) << "the folder is the release";
        EXPECT_FALSE(run.Log.filter(c.Line).isEmpty()) << run.Log.join(u'\n').toStdString();
        // nginx writes its line once the answer has gone out.
        std::int64_t sent = 0;
        WaitFor([&] { return (sent = BytesSent(server, QStringLiteral("/Produccion/acme.zip")) - before) >= c.Least; }, 5000);
        EXPECT_GE(sent, c.Least);
        EXPECT_LE(sent, c.Most);
        ASSERT_FALSE(run.Starts.empty());
        EXPECT_EQ(run.Starts.back(), c.Ranges && c.Most < whole ? run.LastPosition : whole)
            << "the bar counts the bytes to fetch";
    }
}

// The other two download routines share the package fetch, and with it the ranges.
TEST_F(DeltaTest, EveryDownloadRoutineFetchesOnlyWhatChanged) {
    for (const bool rest : {true, false}) {
        SCOPED_TRACE(rest ? "DownloadUpdatesRest" : "DownloadUpdatesNetHTTPClient");
        TRun run;
        WriteRelease(run.Exe.Folder(), TFolder{100, 10, 9, 2});
        run.Updater.SetPDownloadUrl(Http->Url(QStringLiteral("/Produccion/acme.zip")));
        run.Updater.OnLog = [&run](TZLTWebUpdater*, TLogLevel, const QString& AText) { run.Log << AText; };
        run.Updater.OnUpdateDownloaded = [&run](TZLTWebUpdater*, QString AFileName) { run.Handed << AFileName; };
        if (rest)
            run.Updater.DownloadUpdatesRest();
        else
            run.Updater.DownloadUpdatesNetHTTPClient();
        ui::Application().ResetTerminated();
        EXPECT_EQ(run.Handed.size(), 1);
        EXPECT_FALSE(run.Log.filter(QStringLiteral("Fetched 11 of")).isEmpty()) << run.Log.join(u'\n').toStdString();
    }
}

// Faults of a server that does serve ranges: the changed entries are refused for any doubt and
// the whole package comes instead, under its own checks; a part that breaks off goes on.
TEST_F(DeltaTest, ADoubtfulPartMeansTheWholePackage) {
    struct TCase {
        const char* Mode;
        int Cuts;
        bool Installed;
        QString Line; // a line of the log
    };
    const TCase cases[] = {
        {"good", 0, true, QStringLiteral("Fetched 11 of")},
        {"good", 1, true, QStringLiteral("broke off")},
        {"alterparts", 0, true, QStringLiteral("do not match the manifest's hash")},
        {"shift", 0, true, QStringLiteral("another part")},
        // The whole package is altered too: its own check refuses it.
        {"alter", 0, false, QStringLiteral("is not the manifest's")},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Mode) + " cut " + std::to_string(c.Cuts));
        TRun run;
        Download(run, TFolder{100, 10, 9, 2},
                 Faults->Url(QStringLiteral("/file/%1/%2/acme.zip").arg(QLatin1String(c.Mode)).arg(c.Cuts)));
        EXPECT_EQ(run.Handed.size(), c.Installed ? 1 : 0) << run.Log.join(u'\n').toStdString();
        EXPECT_FALSE(run.Log.filter(c.Line).isEmpty()) << run.Log.join(u'\n').toStdString();
        if (c.Installed) {
            EXPECT_TRUE(Tree(run.Exe.Folder()) == Tree(Release())) << "the folder is the release";
        }
        EXPECT_TRUE(QDir(run.Exe.Folder() + QStringLiteral("/Updates")).entryList({QStringLiteral("*.zip")}).size() ==
                    (c.Installed ? 1 : 0))
            << "a refused ZIP of parts is gone";
    }
}

// Spans fewer than 64 KiB apart share a request; the bytes between them travel and are dropped.
TEST(DeltaParts, NearSpansShareARequest) {
    const auto entry = [](std::int64_t AOffset, std::int64_t ALength) {
        signature::TManifestEntry result;
        result.Span = signature::TManifestSpan{AOffset, ALength, {}, 0, 0, 0};
        return result;
    };
    const signature::TManifestEntry a = entry(0, 100), b = entry(100 + MaxPartGap - 1, 10),
                                    c = entry(100 + MaxPartGap - 1 + 10 + MaxPartGap, 5);
    const std::vector<TPartRequest> requests = GroupParts({&a, &b, &c});
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].First, 0);
    EXPECT_EQ(requests[0].Last, 100 + MaxPartGap - 1 + 10 - 1) << "a gap of 64 KiB less a byte is bridged";
    EXPECT_EQ(requests[0].Entries.size(), 2u);
    EXPECT_EQ(requests[1].First, c.Span->Offset) << "a gap of 64 KiB is not";
    EXPECT_EQ(requests[1].Last, c.Span->Offset + 4);
}

} // namespace zlt::test
