// FindProcess, CountProcess and KillProcess against real child processes: copies of the
// sample program under chosen file names, which sleep until they are killed. Names carry this
// test's process id so that other test runs on the machine can't be counted.

#include "common/Processes.h"
#include "common/Errors.h"
#include "common/Settings.h"
#include "common/Text.h"
#include "platform/Processes.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace zlt::test {
namespace {

QString Unique(const char* APattern) { return QString::fromUtf8(APattern).arg(QCoreApplication::applicationPid()); }

// Sample programs started under given file names in a temporary folder; killed at the end.
class TChildren {
public:
    ~TChildren() {
        for (const auto& process : FProcesses) {
            process->kill();
            process->waitForFinished(10000);
        }
    }

    QString Path(const QString& AName) const { return FDir.File(AName); }

    quint32 Start(const QString& AName) {
        const QString path = Path(AName);
        if (!QFile::exists(path)) Install(path);
        auto process = std::make_unique<QProcess>();
        process->start(path, {});
        // Started means the file was executed: the process shows its new name from now on.
        EXPECT_TRUE(process->waitForStarted(10000)) << process->errorString().toStdString();
        const auto id = static_cast<quint32>(process->processId());
        FProcesses.push_back(std::move(process));
        return id;
    }

    QProcess& Last() { return *FProcesses.back(); }

    static void Install(const QString& APath) {
        QFile::remove(APath);
        ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), APath)) << APath.toStdString();
        QFile::setPermissions(APath, QFile::permissions(APath) | QFile::ExeOwner | QFile::ReadOwner);
    }

private:
    TTempDir FDir;
    std::vector<std::unique_ptr<QProcess>> FProcesses;
};

quint32 FirstListed(const QString& AName) {
    const auto snapshot = platform::CreateProcessSnapshot();
    if (snapshot)
        for (const platform::TProcessEntry& entry : *snapshot)
            if (entry.ExeFile == AName) return entry.ProcessId;
    return 0;
}

// A process counts by its real executable only. Another user's process that calls itself like
// the application (its first argument) is not ours, even where its executable can't be read;
// and the caller never finds itself, so an application named like the updater can't make the
// updater stop itself.
TEST(FindProcess, NeverTakesAnImpostorOrTheCallerItself) {
    if (qEnvironmentVariableIsSet("ZLT_TEST_IMPOSTOR")) {
        // As an ordinary user, who can't read another user's executable link.
        quint32 found = 0;
        FindProcess(qEnvironmentVariable("ZLT_TEST_IMPOSTOR"), found);
        EXPECT_EQ(found, 0u) << "another user's process passed for ours by the name it gives itself";
        return;
    }
    if (qEnvironmentVariableIsSet("ZLT_TEST_SELF")) {
        const QString self = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
        quint32 found = 0;
        FindProcess(self, found);
        EXPECT_EQ(found, 0u);
        EXPECT_GE(CountProcess(self), 1) << "counting still counts the caller";
        return;
    }
    {
        SCOPED_TRACE("the caller itself");
        // A copy of this program under a name of its own runs the check: other cases of this
        // program may be running beside it, and those the caller must find.
        TTempDir dir;
        const QString copy = dir.File(Unique("find-self-%1") + ProgramSuffix());
        ASSERT_TRUE(QFile::copy(QCoreApplication::applicationFilePath(), copy));
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZLT_TEST_SELF"), QStringLiteral("1"));
        child.setProcessEnvironment(environment);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(copy, {QStringLiteral("--gtest_filter=FindProcess.NeverTakesAnImpostorOrTheCallerItself")});
        ASSERT_TRUE(child.waitForFinished(60000)) << child.errorString().toStdString();
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(child.exitCode(), 0);
    }
    ZLT_REQUIRE_NOBODY();
    const QString impostorName = Unique("impostor%1");
    // The impostor: sleep, as yet another user, with the application's name as its first
    // argument.
    QProcess impostor;
    impostor.start(QStringLiteral("setpriv"),
                   {QStringLiteral("--reuid=%1").arg(NobodyId - 1), QStringLiteral("--regid=%1").arg(NobodyId - 1),
                    QStringLiteral("--clear-groups"), QStringLiteral("bash"), QStringLiteral("-c"),
                    QStringLiteral("exec -a %1 sleep 60").arg(impostorName)});
    ASSERT_TRUE(impostor.waitForStarted(10000));
    const QString cmdline = QStringLiteral("/proc/%1/cmdline").arg(impostor.processId());
    ASSERT_TRUE(WaitFor([&] { return ReadFile(cmdline).startsWith(impostorName.toUtf8()); }));
    EXPECT_EQ(RunCurrentTestAsNobody({{"ZLT_TEST_IMPOSTOR", impostorName.toUtf8()}}), 0);
    impostor.kill();
    impostor.waitForFinished(10000);
}

TEST(ProcessWalk, MatchesWholeBareNamesExactly) {
    TChildren children;
    const QString app = Unique("App%1.exe");
    const QString longName = Unique("AVeryLongProgramFileName%1.exe");
    const quint32 first = children.Start(app);
    const quint32 second = children.Start(app);
    const quint32 lone = children.Start(longName);

    const struct {
        const char* Name;
        QString ExeName;
        int Count;
    } cases[] = {
        {"two copies", app, 2},
        {"other letter case", app.toLower(), 0},
        {"upper case", app.toUpper(), 0},
        {"with its folder", children.Path(app), 0},
        {"without extension", app.chopped(4), 0},
        {"a name longer than the kernel's 15-character process name", longName, 1},
        {"the first 15 characters of the long name", longName.left(15), 0},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Name);
        EXPECT_EQ(CountProcess(item.ExeName), item.Count);
        quint32 found = 12345;
        FindProcess(item.ExeName, found);
        if (item.Count == 0) {
            EXPECT_EQ(found, 0u);
        }
    }

    quint32 found = 0;
    FindProcess(app, found);
    EXPECT_TRUE(found == first || found == second) << found;
    EXPECT_EQ(found, FirstListed(app)) << "not the first process the snapshot lists";
    FindProcess(longName, found);
    EXPECT_EQ(found, lone);
}

TEST(ProcessWalk, ReplacedExecutableKeepsItsOriginalName) {
#ifdef Q_OS_WIN
    GTEST_SKIP() << "Windows keeps a running program's file from being replaced: nothing to rename over it";
#endif
    TChildren children;
    const QString name = Unique("Replaced%1.exe");
    const quint32 id = children.Start(name);
    // An update writes the new file beside the old one and renames it into place.
    TChildren::Install(children.Path(name) + QStringLiteral(".new"));
    ASSERT_EQ(::rename(QFile::encodeName(children.Path(name) + QStringLiteral(".new")).constData(),
                       QFile::encodeName(children.Path(name)).constData()),
              0);

    quint32 found = 0;
    FindProcess(name, found);
    EXPECT_EQ(found, id);
    const auto snapshot = platform::CreateProcessSnapshot();
    ASSERT_TRUE(snapshot.has_value());
    for (const platform::TProcessEntry& entry : *snapshot)
        if (entry.ProcessId == id) {
            EXPECT_EQ(entry.ExeFile, name);
        }
}

TEST(KillProcess, EndsARunningProcessAndRefusesOnesThatAreGone) {
    TChildren children;
    const quint32 id = children.Start(Unique("Victim%1.exe"));
    EXPECT_TRUE(KillProcess(id));
    ASSERT_TRUE(children.Last().waitForFinished(30000));
#ifdef Q_OS_WIN
    // TerminateProcess ends it with the status given (0); the sample would sleep for minutes.
    EXPECT_EQ(children.Last().exitCode(), 0);
#else
    EXPECT_EQ(children.Last().exitStatus(), QProcess::CrashExit) << "killed, not ended by itself";
#endif

    // Reaped by now: the id names no process.
    EXPECT_FALSE(KillProcess(id));
    // Ids the system would read as process groups, ours included.
    EXPECT_FALSE(KillProcess(0));
    EXPECT_FALSE(KillProcess(0x80000000u));
}

// Only copies of this application are ours: processes that run the very program file, found
// by the file's identity. The same program copied to another folder (another installation) is
// a namesake, left alone and reported; so is a process whose executable can't be read. On
// Windows a name in other letters still finds the file.
TEST(FindProgramCopy, OnlyTheVeryFileIsACopy) {
    const QString name = Unique("acme-copy-%1") + ProgramSuffix();
    TChildren here;
    TChildren elsewhere;
    const quint32 copy = here.Start(name);
    const quint32 other = elsewhere.Start(name);
    ASSERT_TRUE(WaitFor([&] { return FirstListed(name) != 0; }));

    quint32 found = 0;
    std::vector<platform::TProcessEntry> namesakes;
    FindProgramCopy(here.Path(name), found, &namesakes);
    EXPECT_EQ(found, copy);
    ASSERT_EQ(namesakes.size(), 1u);
    EXPECT_EQ(namesakes[0].ProcessId, other);
    FindProgramCopy(elsewhere.Path(name), found);
    EXPECT_EQ(found, other) << "the control: the other installation's own file finds it";
    if (ProgramSuffix() == QLatin1String(".exe")) {
        FindProgramCopy(here.Path(name.toUpper()), found);
        EXPECT_EQ(found, copy) << "letter case";
    }

    {
        SCOPED_TRACE("an executable that can't be read");
        const TScopedProcessSnapshotHook unreadable([&] {
            return std::optional<std::vector<platform::TProcessEntry>>(
                std::vector<platform::TProcessEntry>{{copy, name, std::nullopt, QString()}});
        });
        FindProgramCopy(here.Path(name), found, &namesakes);
        EXPECT_EQ(found, 0u);
        EXPECT_EQ(namesakes.size(), 1u);
    }
    FindProgramCopy(here.Path(Unique("missing-%1")), found);
    EXPECT_EQ(found, 0u) << "a program file that isn't there has no copies";
}

} // namespace
} // namespace zlt::test
