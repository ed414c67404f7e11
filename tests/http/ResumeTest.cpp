// Downloads that break off and go on: against the fault server's ranged files, each case on a
// path of its own (the server counts answers per path).

#include "common/Errors.h"
#include "http/HttpClient.h"
#include "tests/support/TestSupport.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

namespace zlt::test {

using namespace zlt::http;

namespace {

QByteArray Pattern(const QByteArray& AUnit, qsizetype ASize) {
    return AUnit.repeated(ASize / AUnit.size() + 1).left(ASize);
}

// What one Download did, as its caller sees it.
struct TRecord {
    QByteArray Body;
    std::vector<std::int64_t> Begins;  // OnWorkBegin sizes
    std::vector<std::int64_t> Work;    // OnWork counts
    std::vector<std::int64_t> Offsets; // of each Resuming call
    int Restarts = 0;
    std::int32_t Resumptions = 0;
    std::optional<QString> Failure;
};

TRecord DownloadOf(const QString& AURL, std::int32_t AMaxResumptions = 3) {
    TRecord record;
    TZLTHttp client(nullptr);
    client.HandleRedirects = true;
    client.OnWorkBegin = [&record](TZLTHttp*, TWorkMode, std::int64_t AMax) { record.Begins.push_back(AMax); };
    client.OnWork = [&record](TZLTHttp*, TWorkMode, std::int64_t ACount) { record.Work.push_back(ACount); };
    TZLTHttp::TResume resume;
    resume.MaxResumptions = AMaxResumptions;
    resume.Restart = [&record] {
        ++record.Restarts;
        record.Body.clear();
    };
    resume.Resuming = [&record](std::int64_t AOffset, const QString&) { record.Offsets.push_back(AOffset); };
    try {
        client.Download(
            AURL,
            [&record](const char* AData, std::size_t ASize) {
                record.Body.append(AData, static_cast<qsizetype>(ASize));
            },
            {}, resume);
    } catch (const Exception& error) {
        record.Failure = error.Message();
    }
    record.Resumptions = client.Resumptions();
    return record;
}

class ResumeTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { FServer = new TFaultServer(); }
    static void TearDownTestSuite() { delete std::exchange(FServer, nullptr); }
    // No pause before a resumption (the guard gives the defaults back): one test has them.
    void SetUp() override { TZLTHttpDefaults::Instance().ResumeBackoffMs = 0; }

    const TScopedHttpDefaults FDefaults;
    static inline TFaultServer* FServer = nullptr;
};

} // namespace

TEST_F(ResumeTest, BrokenBodiesGoOnOrStartOverAsTheServerAllows) {
    constexpr qsizetype Size = 300000;
    const QByteArray first = Pattern("0123456789", Size);
    const QByteArray changed = Pattern("abcdefghij", Size);
    struct TCase {
        const char* Path;
        QByteArray Body; // empty: the download fails
        int Restarts;
        std::vector<std::int64_t> Offsets;
        const char* RangeHeader; // in the second request's log line; "" for none
        const char* Failure;     // part of the message when it fails
    };
    // Each cut answer sends half of what it would, so the offsets follow from the size.
    const std::vector<TCase> cases = {
        {"/range/good/300000/2/a", first, 0, {150000, 225000}, "[Range: bytes=150000-; If-Range: \"v1\"]", ""},
        {"/range/lastmod/300000/1/a", first, 0, {150000}, "If-Range: Tue, 01 Dec 2026 10:00:00 GMT]", ""},
        {"/range/noetag/300000/1/a", first, 1, {0}, "", ""},
        {"/range/ignore/300000/1/a", first, 1, {150000}, "[Range: bytes=150000-", ""},
        {"/range/newetag/300000/1/a", changed, 1, {150000}, "If-Range: \"v1\"]", ""},
        {"/range/badrange/300000/1/a",
         {},
         0,
         {150000},
         "[Range: bytes=150000-",
         "Content-Range \"bytes 0-299999/300000\""},
        {"/range/good/300000/4/a", {}, 0, {150000, 225000, 262500}, "[Range: bytes=150000-", "remaining to read"},
        // A weak ETag never names the file in If-Range: its Last-Modified does, or, without
        // one, the body starts over.
        {"/range/weak/300000/1/a",
         first,
         0,
         {150000},
         "[Range: bytes=150000-; If-Range: Tue, 01 Dec 2026 10:00:00 GMT]",
         ""},
        {"/range/weakonly/300000/1/a", first, 1, {0}, "", ""},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Path);
        const TRecord record = DownloadOf(FServer->Url(QString::fromLatin1(c.Path)));
        if (c.Body.isEmpty()) {
            ASSERT_TRUE(record.Failure.has_value());
            EXPECT_TRUE(record.Failure->contains(QString::fromLatin1(c.Failure))) << record.Failure->toStdString();
        } else {
            ASSERT_FALSE(record.Failure.has_value()) << record.Failure->toStdString();
            EXPECT_TRUE(record.Body == c.Body) << "the body differs from the file";
            // The size is announced once, and the count ends at the whole file.
            EXPECT_EQ(record.Begins, std::vector<std::int64_t>{Size});
            ASSERT_FALSE(record.Work.empty());
            EXPECT_EQ(record.Work.back(), Size);
        }
        EXPECT_EQ(record.Restarts, c.Restarts);
        EXPECT_EQ(record.Offsets, c.Offsets);
        EXPECT_EQ(record.Resumptions, static_cast<std::int32_t>(c.Offsets.size()));
        // The work count goes back only when the body starts over.
        if (c.Restarts == 0) {
            for (std::size_t i = 1; i < record.Work.size(); ++i) EXPECT_GE(record.Work[i], record.Work[i - 1]);
        }
        const QStringList lines = FServer->RequestLines().filter(QString::fromLatin1(c.Path) + u' ');
        ASSERT_GE(lines.size(), 2);
        if (*c.RangeHeader == '\0')
            EXPECT_FALSE(lines[1].contains(QStringLiteral("Range"))) << lines[1].toStdString();
        else
            EXPECT_TRUE(lines[1].contains(QString::fromLatin1(c.RangeHeader))) << lines[1].toStdString();
    }
}

// nginx, as a real server answers ranges, behind a proxy that resets the first two connections
// partway through the answer.
TEST_F(ResumeTest, ResetsOnTheWayFromNginxAreResumed) {
    TTempDir site;
    WriteRandomFile(site.File(QStringLiteral("package.zip")), 2000000, 11);
    TNginx server(site.Path());
    TCutProxy proxy(server.Port(), {700000, 900000});
    const TRecord record = DownloadOf(QStringLiteral("http://127.0.0.1:%1/package.zip").arg(proxy.Port()));
    ASSERT_FALSE(record.Failure.has_value()) << record.Failure->toStdString();
    EXPECT_TRUE(record.Body == ReadFile(site.File(QStringLiteral("package.zip"))));
    EXPECT_EQ(record.Resumptions, 2);
    EXPECT_EQ(record.Restarts, 0);
    EXPECT_EQ(record.Begins, std::vector<std::int64_t>{2000000});
    ASSERT_TRUE(WaitFor([&] { return server.AccessLog().count(QStringLiteral("GET /package.zip")) == 3; }));
    const QStringList lines = server.AccessLog().split(u'\n', Qt::SkipEmptyParts);
    EXPECT_TRUE(lines[0].contains(QStringLiteral(" 200 "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains(QStringLiteral(" 206 "))) << lines[1].toStdString();
    EXPECT_TRUE(lines[2].contains(QStringLiteral(" 206 "))) << lines[2].toStdString();
}

TEST_F(ResumeTest, OnlyBodiesThatBrokeOffAreTriedAgain) {
    // A dead server, an error status and a plain Get are not resumed.
    const quint16 closedPort = FreePort();
    const TRecord dead = DownloadOf(QStringLiteral("http://127.0.0.1:%1/x").arg(closedPort));
    ASSERT_TRUE(dead.Failure.has_value());
    EXPECT_EQ(dead.Resumptions, 0);
    const TRecord missing = DownloadOf(FServer->Url(QStringLiteral("/status/404")));
    ASSERT_TRUE(missing.Failure.has_value());
    EXPECT_EQ(missing.Resumptions, 0);
    const TRecord unresumed = DownloadOf(FServer->Url(QStringLiteral("/range/good/300000/1/b")), 0);
    ASSERT_TRUE(unresumed.Failure.has_value());
    EXPECT_EQ(FServer->RequestLines().filter(QStringLiteral("/range/good/300000/1/b ")).size(), 1);
}

// A part (206) where no range was asked for is refused, whatever it holds, before any of it
// reaches the sink, and is not tried again: the server does not follow HTTP.
TEST_F(ResumeTest, AnUnaskedForPartIsRefused) {
    for (const char* path : {"/range/part/300000/0/a", "/range/part/0/0/a"}) {
        SCOPED_TRACE(path);
        const TRecord record = DownloadOf(FServer->Url(QString::fromLatin1(path)));
        ASSERT_TRUE(record.Failure.has_value());
        EXPECT_TRUE(
            record.Failure->contains(QStringLiteral("The server sent a part (206) where the whole file was asked for")))
            << record.Failure->toStdString();
        EXPECT_TRUE(record.Body.isEmpty());
        EXPECT_TRUE(record.Work.empty() || record.Work.back() == 0);
        EXPECT_EQ(record.Resumptions, 0);
        EXPECT_EQ(FServer->RequestLines().filter(QString::fromLatin1(path) + u' ').size(), 1);
    }
    // A plain Get refuses it alike.
    TZLTHttp client(nullptr);
    EXPECT_THROW(client.GetBytes(FServer->Url(QStringLiteral("/range/part/100/0/b"))), Exception);
}

// A resumption answered with the whole of another file, of another size: the body starts over
// and is that file alone, the size is announced again, and the count ends at the new size.
TEST_F(ResumeTest, StartingOverWithAFileOfAnotherSize) {
    constexpr qsizetype Size = 300000;
    constexpr qsizetype NewSize = Size * 2 / 3;
    for (const int cuts : {1, 2}) {
        SCOPED_TRACE(cuts);
        const QString path = QStringLiteral("/range/resize/300000/%1/a").arg(cuts);
        const TRecord record = DownloadOf(FServer->Url(path));
        ASSERT_FALSE(record.Failure.has_value()) << record.Failure->toStdString();
        EXPECT_TRUE(record.Body == Pattern("abcdefghij", NewSize)) << "a body of " << record.Body.size() << " bytes";
        EXPECT_EQ(record.Restarts, 1);
        EXPECT_EQ(record.Begins, (std::vector<std::int64_t>{Size, NewSize}));
        // The offsets: half of the first file, then (when cut again) half of the new one.
        const std::vector<std::int64_t> offsets = cuts == 1 ? std::vector<std::int64_t>{Size / 2}
                                                            : std::vector<std::int64_t>{Size / 2, NewSize / 2};
        EXPECT_EQ(record.Offsets, offsets);
        ASSERT_FALSE(record.Work.empty());
        EXPECT_EQ(record.Work.back(), NewSize);
        for (const std::int64_t count : record.Work) EXPECT_LE(count, Size);
        const QStringList lines = FServer->RequestLines().filter(path + u' ');
        ASSERT_EQ(lines.size(), cuts + 1);
        EXPECT_TRUE(lines[1].contains(QStringLiteral("If-Range: \"v1\"]"))) << lines[1].toStdString();
        if (cuts == 2) {
            EXPECT_TRUE(lines[2].contains(QStringLiteral("If-Range: \"v2\"]"))) << lines[2].toStdString();
        }
    }
}

// How many tries and how long a pause before each come from the transfer settings: the pause
// grows with each try.
TEST_F(ResumeTest, TriesAndPausesComeFromTheTransferSettings) {
    TZLTHttpDefaults::Instance().MaxResumptions = 1;
    TZLTHttpDefaults::Instance().ResumeBackoffMs = 150;
    const TZLTHttp::TResume resume;
    EXPECT_EQ(resume.MaxResumptions, 1);
    EXPECT_EQ(resume.BackoffMs, 150);

    QElapsedTimer clock;
    clock.start();
    const TRecord twice = DownloadOf(FServer->Url(QStringLiteral("/range/good/300000/2/pause")), 2);
    EXPECT_GE(clock.elapsed(), 150 + 300) << "the pauses before the two tries";
    ASSERT_FALSE(twice.Failure.has_value()) << twice.Failure->toStdString();
    EXPECT_EQ(twice.Resumptions, 2);

    TZLTHttpDefaults::Instance().ResumeBackoffMs = 0;
    TZLTHttp client(nullptr);
    std::int64_t received = 0;
    const auto sink = [&received](const char*, std::size_t ASize) { received += static_cast<std::int64_t>(ASize); };
    EXPECT_THROW(client.Download(FServer->Url(QStringLiteral("/range/good/300000/2/once")), sink, {}, {}), Exception);
    EXPECT_EQ(client.Resumptions(), 1);
    EXPECT_EQ(FServer->RequestLines().filter(QStringLiteral("/range/good/300000/2/once ")).size(), 2);
}

} // namespace zlt::test

namespace zlt::test {

// A try that brought next to nothing is not tried again: a server that stalls from its first
// bytes costs one stall, not one per try. The control: a try that brought half the file goes on.
TEST_F(ResumeTest, OnlyATryThatDeliveredIsResumed) {
    TZLTHttpDefaults::Instance().StallTimeoutMs = 200;
    const TRecord stalled = DownloadOf(FServer->Url(QStringLiteral("/stall/a")));
    ASSERT_TRUE(stalled.Failure.has_value());
    EXPECT_TRUE(stalled.Failure->contains(QLatin1String("no data received for 200 ms"))) << stalled.Failure->toStdString();
    EXPECT_EQ(stalled.Resumptions, 0);
    EXPECT_EQ(FServer->RequestLines().filter(QStringLiteral("/stall/a ")).size(), 1);

    const TRecord half = DownloadOf(FServer->Url(QStringLiteral("/range/good/300000/1/worth")));
    ASSERT_FALSE(half.Failure.has_value()) << half.Failure->toStdString();
    EXPECT_EQ(half.Resumptions, 1);
}

// The whole transfer has a deadline: a body that drips, never slow enough for the stall guard nor,
// here, for a speed floor, ends when its time is up, and is not tried again.
TEST_F(ResumeTest, AWholeTransferEndsAtItsDeadline) {
    TZLTHttpDefaults::Instance().LowSpeedBytesPerSecond = 0;
    TZLTHttpDefaults::Instance().TransferTimeoutMs = 1500;
    QElapsedTimer clock;
    clock.start();
    const TRecord dripped = DownloadOf(FServer->Url(QStringLiteral("/drip/100000")));
    ASSERT_TRUE(dripped.Failure.has_value());
    EXPECT_TRUE(dripped.Failure->contains(QLatin1String("took longer than its limit of 1.5 s")))
        << dripped.Failure->toStdString();
    EXPECT_EQ(dripped.Resumptions, 0);
    EXPECT_LT(clock.elapsed(), 30000) << "the body would drip for 50000 s";
}

// Parts of a file (GetPart): only the part asked for is taken; a server that ignores ranges is
// told apart from one that sends the wrong part, and a part that breaks off goes on from its
// next byte on a connection of its own.
TEST_F(ResumeTest, APartIsThatPartOrNothing) {
    const TTempDir root;
    const QByteArray file = Pattern("The quick brown fox jumps over the lazy dog. ", 400000);
    WriteFile(root.File(QStringLiteral("p.zip")), file);
    const TFaultServer server(root.Path());
    enum class TOutcome { Taken, NotServed, Refused };
    struct TCase {
        const char* Name;
        QString Path;
        std::int64_t First, Last;
        TOutcome Outcome;
        std::int32_t Resumptions;
    };
    const TCase cases[] = {
        {"a part in the middle", QStringLiteral("/file/good/0/p.zip"), 1000, 250999, TOutcome::Taken, 0},
        {"the last byte", QStringLiteral("/file/good/0/p.zip"), file.size() - 1, file.size() - 1, TOutcome::Taken, 0},
        {"cut twice, resumed twice", QStringLiteral("/file/good/2/p.zip"), 5, 300004, TOutcome::Taken, 2},
        {"a server without ranges (200)", QStringLiteral("/ok/400000"), 1000, 1999, TOutcome::NotServed, 0},
        {"another part (206)", QStringLiteral("/file/shift/0/p.zip"), 1000, 1999, TOutcome::Refused, 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TZLTHttp client(nullptr);
        int work = 0;
        client.OnWork = [&work](TZLTHttp*, TWorkMode, std::int64_t) { ++work; };
        std::vector<std::int64_t> offsets;
        TZLTHttp::TResume resume;
        resume.Resuming = [&offsets](std::int64_t AOffset, const QString&) { offsets.push_back(AOffset); };
        QByteArray body;
        const auto sink = [&body](const char* AData, std::size_t ASize) { body.append(AData, static_cast<qsizetype>(ASize)); };
        try {
            client.GetPart(server.Url(c.Path), c.First, c.Last, sink, resume);
            EXPECT_EQ(c.Outcome, TOutcome::Taken);
            EXPECT_TRUE(body == file.mid(c.First, c.Last - c.First + 1)) << "the part's bytes, in order";
        } catch (const EPartsNotServed& error) {
            EXPECT_EQ(c.Outcome, TOutcome::NotServed) << error.Message().toStdString();
            EXPECT_TRUE(body.isEmpty()) << "nothing of the whole file reaches the sink";
        } catch (const Exception& error) {
            EXPECT_EQ(c.Outcome, TOutcome::Refused) << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains(QStringLiteral("another part"))) << error.Message().toStdString();
            EXPECT_TRUE(body.isEmpty());
        }
        EXPECT_EQ(client.Resumptions(), c.Resumptions);
        EXPECT_EQ(static_cast<std::int32_t>(offsets.size()), c.Resumptions);
        EXPECT_EQ(work, 0) << "the caller counts parts itself";
    }
    const QStringList lines = server.RequestLines().filter(QStringLiteral("/file/good/2/"));
    ASSERT_EQ(lines.size(), 3);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("[Range: bytes=5-300004; If-Range: ]"))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("[Range: bytes=150005-300004; If-Range: ]"))) << lines[1].toStdString();
}

} // namespace zlt::test
