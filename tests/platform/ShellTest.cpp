// The shell's "open" with the real shell: which file a bare name means, how an executable is
// started, and where a document goes. Probes are small scripts that leave a marker file.

#include "platform/Shell.h"
#include "platform/Processes.h"
#include "platform/System.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace zlt::test {
namespace {

// The program in a folder of its own, a current folder and a PATH folder, each a temporary
// one; all three settings are given back when the scene goes.
class TShellScene {
public:
    TShellScene() : FOldFolder(QDir::currentPath()) { QDir::setCurrent(CurrentDir()); }
    ~TShellScene() { QDir::setCurrent(FOldFolder); }

    QString ExeDir() const { return FExe.Path(); }
    QString CurrentDir() const { return FCurrent.Path(); }
    QString PathDir() const { return FPath.Path(); }
    QString Marker() const { return FMarkers.File(QStringLiteral("marker")); }

    // A script that records who it is, its working folder and its arguments, one per line.
    void PlaceProbe(const QString& AFolder, const QString& AName, const QString& AWho) const {
        const QString path = AFolder + u'/' + AName;
        WriteFile(path, QStringLiteral("#!/bin/sh\n"
                                       "{ echo %1; pwd; for a in \"$@\"; do echo \"$a\"; done; } > '%2.tmp'\n"
                                       "mv '%2.tmp' '%2'\n")
                            .arg(AWho, Marker())
                            .toLocal8Bit());
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }

    QStringList WaitForMarker() const {
        if (!WaitFor([&] { return QFile::exists(Marker()); }, 60000)) return {};
        return QString::fromLocal8Bit(ReadFile(Marker())).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    TTempDir FExe, FCurrent, FPath, FMarkers;
    QString FOldFolder;
    // After the folders, which make their values.
    TScopedExecutablePath FExePath{ExeDir() + QStringLiteral("/updater")};
    TScopedEnvironmentVariable FPathVariable{"PATH", (PathDir() + u':').toLocal8Bit() + qgetenv("PATH")};
};

// The probes are shell scripts: on Windows the shell runs none of them.
#ifdef Q_OS_WIN
#define ZLT_REQUIRE_SCRIPT_PROBES() GTEST_SKIP() << "the probes are shell scripts, which Windows' shell does not run"
#else
#define ZLT_REQUIRE_SCRIPT_PROBES() static_cast<void>(0)
#endif

TEST(ShellOpen, NameLooksInTheProgramFolderThenPathNeverInTheCurrentFolder) {
    ZLT_REQUIRE_SCRIPT_PROBES();
    const QString name = QStringLiteral("zlt-probe-%1").arg(QCoreApplication::applicationPid());
    const struct {
        const char* Case;
        QString Name; // as the settings give it
        bool InCurrent, InExe, InPath, InExeSub;
        const char* Expected; // who runs; nullptr: nothing is found
    } cases[] = {
        {"only beside the program", name, false, true, false, false, "exe"},
        {"a program planted in the current folder is never run", name, true, true, true, false, "exe"},
        {"planted in the current folder and nowhere else", name, true, false, false, false, nullptr},
        {"program folder before PATH", name, false, true, true, false, "exe"},
        {"PATH last", name, false, false, true, false, "path"},
        {"nowhere", name, false, false, false, false, nullptr},
        {"a relative path is taken from the program folder", QStringLiteral("sub/") + name, true, false, false, true,
         "exesub"},
        {"./name is the program folder's too", QStringLiteral("./") + name, true, true, false, false, "exe"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Case);
        TShellScene scene;
        if (item.InCurrent) {
            scene.PlaceProbe(scene.CurrentDir(), name, QStringLiteral("current"));
            QDir(scene.CurrentDir()).mkpath(QStringLiteral("sub"));
            scene.PlaceProbe(scene.CurrentDir() + QStringLiteral("/sub"), name, QStringLiteral("current"));
        }
        if (item.InExe) scene.PlaceProbe(scene.ExeDir(), name, QStringLiteral("exe"));
        if (item.InPath) scene.PlaceProbe(scene.PathDir(), name, QStringLiteral("path"));
        if (item.InExeSub) {
            QDir(scene.ExeDir()).mkpath(QStringLiteral("sub"));
            scene.PlaceProbe(scene.ExeDir() + QStringLiteral("/sub"), name, QStringLiteral("exesub"));
        }

        const bool started = platform::ShellExecuteOpen(item.Name, QStringLiteral("Upd=1 \"two words\""));
        if (item.Expected == nullptr) {
            EXPECT_FALSE(started);
            continue;
        }
        ASSERT_TRUE(started);
        const QStringList lines = scene.WaitForMarker();
        ASSERT_EQ(lines.size(), 4) << lines.join(u'|').toStdString();
        EXPECT_EQ(lines[0], QString::fromLatin1(item.Expected));
        EXPECT_EQ(QDir(lines[1]).canonicalPath(), QDir(scene.CurrentDir()).canonicalPath())
            << "runs in the caller's working folder";
        EXPECT_EQ(lines[2], QStringLiteral("Upd=1"));
        EXPECT_EQ(lines[3], QStringLiteral("two words"));
    }
}

TEST(ShellOpen, DocumentGoesToTheDesktopOpener) {
    ZLT_REQUIRE_SCRIPT_PROBES();
    TShellScene scene;
    // The desktop's opener, as found along PATH.
    const QString opener = scene.PathDir() + QStringLiteral("/xdg-open");
    const QString script = QStringLiteral("#!/bin/sh\necho \"$1\" > '%1.tmp'\nmv '%1.tmp' '%1'\n");
    WriteFile(opener, script.arg(scene.Marker()).toLocal8Bit());
    QFile::setPermissions(opener, QFile::permissions(opener) | QFile::ExeOwner);
    const QString document = scene.ExeDir() + QStringLiteral("/Updates/update20250101_120000.exe");
    WriteFile(document, "not marked executable");

    ASSERT_TRUE(platform::ShellExecuteOpen(document, QStringLiteral("Upd=1")));
    EXPECT_EQ(scene.WaitForMarker(), QStringList{document});
}

// A watched program's end as the system reports it, with the real sample application: its exit
// code, the signal or exception that ended it, and a wait that ends at its limit while the
// program runs on.
TEST(ShellWatched, TheEndOfTheProgramIsReportedAsItCame) {
    const bool windows = ProgramSuffix() == QLatin1String(".exe");
    struct TCase {
        const char* How; // trial.txt beside the program
        quint32 Code;
        bool Signal;
        const char* Text;
    };
    const TCase cases[] = {
        {"exit 0", 0, false, "exit code 0"},
        {"exit 3", 3, false, "exit code 3"},
        {"crash", windows ? 0xC0000005u : 11u, !windows, windows ? "exit code 0xC0000005" : "signal 11"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.How);
        TTempDir folder;
        const QString program = folder.File(QStringLiteral("watched_%1").arg(QCoreApplication::applicationPid()) +
                                            ProgramSuffix());
        ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), program));
        WriteFile(folder.File(QStringLiteral("trial.txt")), c.How);
        platform::TShellStart start = platform::ShellExecuteWatched(program, QStringLiteral("Upd=1"));
        ASSERT_TRUE(start.Started);
        ASSERT_TRUE(start.Program.Watched());
        const std::optional<platform::TProgramEnd> end = start.Program.WaitForEnd(60000);
        ASSERT_TRUE(end.has_value()) << "woken when the program ended, long before the limit";
        EXPECT_EQ(end->Code, c.Code);
        EXPECT_EQ(end->Signal, c.Signal);
        EXPECT_EQ(end->Failed(), c.Code != 0 || c.Signal);
        EXPECT_EQ(end->Text(), QString::fromLatin1(c.Text));
    }

    TTempDir folder;
    const QString program = folder.File(QStringLiteral("running_%1").arg(QCoreApplication::applicationPid()) +
                                        ProgramSuffix());
    ASSERT_TRUE(QFile::copy(BinProgram(QStringLiteral("zlt_sample_app")), program));
    platform::TShellStart start = platform::ShellExecuteWatched(program, QStringLiteral("wait"));
    ASSERT_TRUE(start.Program.Watched());
    EXPECT_FALSE(start.Program.WaitForEnd(50).has_value()) << "it runs on";
    ASSERT_TRUE(platform::TerminateProcessById(start.Program.ProcessId(), 7));
    const std::optional<platform::TProgramEnd> end = start.Program.WaitForEnd(60000);
    ASSERT_TRUE(end.has_value());
    EXPECT_TRUE(end->Failed());
}

} // namespace
} // namespace zlt::test
