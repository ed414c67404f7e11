// The installation of a downloaded package by the window's update-downloaded handler, over
// real archives made by zip: what lands in the executable's folder, what the shell is asked
// to start, the progress bar, and the packages that are refused.

#include "app/MainWindow.h"
#include "common/Errors.h"
#include "install/Unzipper.h"
#include "platform/Exception.h"
#include "tests/app/WindowFixture.h"
#include "tests/support/TestSupport.h"
#include "webupdater/WebUpdater.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace zlt::test {

using namespace zlt::app;
using namespace zlt::webupdater;
using namespace zlt::install;
using namespace zlt::ui;

namespace {

const QString Guard = GuardLine("wupPelmoraUpdaUpdateDownloaded");

class PackageInstallTest : public TWindowFixture {
protected:
    void SetUp() override {
        TWindowFixture::SetUp();
        if (!HaveProgram(QStringLiteral("zip"))) GTEST_SKIP() << "needs zip, not installed";
        WriteSettings(Settings(QStringLiteral("Acme"), QStringLiteral("Acme.exe"),
                               QStringLiteral("http://127.0.0.1:9/"), QStringLiteral("acme"),
                               QStringLiteral("checkUpdates.php"), QStringLiteral("acme.zip")));
        FWindowUnderTest = CreateWindow();
        FWindowUnderTest->tmrFormTimer___->stop();
    }

    // A package with app.exe and data/base.db, zipped into AFileName inside FPackages.
    QString MakePackage(const QString& AFileName) {
        TTempDir content;
        WriteFile(content.File(QStringLiteral("app.exe")), QByteArray("new program"));
        WriteFile(content.File(QStringLiteral("data/base.db")), QByteArray("new data"));
        const QString zipFile = FPackages.File(QStringLiteral("package.zip"));
        QFile::remove(zipFile);
        EXPECT_EQ(ZipFolder(content.Path(), zipFile), 0);
        const QString target = FPackages.File(AFileName);
        QDir().mkpath(QFileInfo(target).path());
        QFile::remove(target);
        EXPECT_TRUE(QFile::rename(zipFile, target));
        return target;
    }

    void Install(const QString& AFileName) {
        FWindowUnderTest->wupPelmoraUpdaUpdateDownloaded(FWindowUnderTest->wupPelmoraUpda, AFileName);
    }

    QString Installed(const QString& ARelative) const { return FExe.Folder() + u'/' + ARelative; }

    // ZIP readers still alive below the window: the handler must release its own.
    int Readers() const {
        const QList<QObject*> children = FWindowUnderTest->findChildren<QObject*>();
        return int(std::count_if(children.begin(), children.end(),
                                 [](QObject* AChild) { return dynamic_cast<TZLTUnZipper*>(AChild) != nullptr; }));
    }

    TTempDir FPackages;
    TfrmMainUpdater_* FWindowUnderTest = nullptr;
};

TEST_F(PackageInstallTest, UnpacksOverTheExecutableFolderAndRestartsTheApplication) {
    WriteFile(Installed(QStringLiteral("app.exe")), QByteArray("old program"));
    WriteFile(Installed(QStringLiteral("keep.txt")), QByteArray("not in the package"));
    const QString package = MakePackage(QStringLiteral("Updates/update20250402_143005.zip"));
    QProgressBar* bar = FWindowUnderTest->pbrFormProgress;
    bar->setRange(10, 250);
    bar->setValue(120);
    std::vector<int> positions;
    QObject::connect(bar, &QProgressBar::valueChanged, [&positions](int AValue) { positions.push_back(AValue); });

    TShellRecorder shell;
    Install(package);

    EXPECT_EQ(ReadFile(Installed(QStringLiteral("app.exe"))), QByteArray("new program"))
        << "replaced without a question";
    EXPECT_EQ(ReadFile(Installed(QStringLiteral("data/base.db"))), QByteArray("new data")) << "folder created";
    EXPECT_EQ(ReadFile(Installed(QStringLiteral("keep.txt"))), QByteArray("not in the package"));
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].FileName, QStringLiteral("Acme.exe"));
    EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));

    // From an empty bar to a full one.
    EXPECT_EQ(bar->minimum(), 0);
    EXPECT_EQ(bar->maximum(), 100);
    EXPECT_EQ(bar->value(), 100);
    ASSERT_GE(positions.size(), 2u);
    EXPECT_EQ(positions.front(), 0);
    EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
    EXPECT_EQ(Readers(), 0);
}

TEST_F(PackageInstallTest, ExtensionDecidesBetweenInstallingAndOpening) {
    const struct {
        const char* Name;
        QString FileName;
        bool Install;
    } cases[] = {
        {"upper-case .ZIP", QStringLiteral("UPDATE.ZIP"), true},
        {"an extension that holds ZIP", QStringLiteral("update.xzipx"), true},
        {"an executable package", QStringLiteral("update20250402_143005.exe"), false},
        {"a dot only in the folder", QStringLiteral("pkg.zip.d/update"), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QFile::remove(Installed(QStringLiteral("app.exe")));
        const QString package = MakePackage(c.FileName);
        TShellRecorder shell;
        Install(package);
        ASSERT_EQ(shell.Calls.size(), 1u);
        if (c.Install) {
            EXPECT_TRUE(QFileInfo::exists(Installed(QStringLiteral("app.exe"))));
            EXPECT_EQ(shell.Calls[0].FileName, QStringLiteral("Acme.exe"));
            EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));
        } else {
            EXPECT_FALSE(QFileInfo::exists(Installed(QStringLiteral("app.exe")))) << "nothing extracted";
            EXPECT_EQ(shell.Calls[0].FileName, package) << "the package itself goes to the shell";
            EXPECT_TRUE(shell.Calls[0].Parameters.isEmpty());
        }
        EXPECT_EQ(Readers(), 0);
    }
}

TEST_F(PackageInstallTest, RefusedPackageLeavesThroughTheGuardAndStartsNothing) {
    const struct {
        const char* Name;
        QByteArray Content;
        bool Exists;
    } cases[] = {
        {"zero-size file", QByteArray(), true},
        {"server error page", QByteArray("<html><body><h1>500 Internal Server Error</h1></body></html>\n"), true},
        {"missing file", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        const QString package = FPackages.File(QStringLiteral("update20250402_143005.zip"));
        QFile::remove(package);
        if (c.Exists) WriteFile(package, c.Content);
        const QStringList before = QDir(FExe.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        TShellRecorder shell;
        try {
            Install(package);
            ADD_FAILURE() << "no error raised";
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().startsWith(Guard)) << error.Message().toStdString();
            EXPECT_GT(error.Message().size(), Guard.size()) << "the cause follows";
        }
        EXPECT_EQ(QDir(FExe.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before)
            << "nothing extracted";
        EXPECT_TRUE(shell.Calls.empty()) << "the application is not started";
        EXPECT_EQ(Readers(), 0) << "the reader is released on the error path too";
    }
}

// An archive with no entries is a readable package: nothing to install, the application is
// started again. One whose declared sizes can't fit on the disk takes the path of a package
// that can't be opened: nothing written, nothing started, the cause in the error.
TEST_F(PackageInstallTest, AnEmptyPackageRestartsAndOneThatCannotFitStartsNothing) {
    const QString empty = FPackages.File(QStringLiteral("empty.zip"));
    const QString huge = FPackages.File(QStringLiteral("huge.zip"));
    // An archive without entries, and one that declares 16 TiB while it holds a few bytes.
    ASSERT_EQ(RunProgram(Python3(),
                         {QStringLiteral("-c"),
                          QStringLiteral("import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').close()"), empty}),
              0);
    ASSERT_EQ(RunProgram(Python3(), {SupportDir() + QStringLiteral("/lying_zip.py"), huge, QStringLiteral("4096")}), 0);
    {
        SCOPED_TRACE("empty");
        TShellRecorder shell;
        EXPECT_NO_THROW(Install(empty));
        ASSERT_EQ(shell.Calls.size(), 1u);
        EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));
    }
    {
        SCOPED_TRACE("can't fit");
        const QStringList before = QDir(FExe.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
        TShellRecorder shell;
        try {
            Install(huge);
            ADD_FAILURE() << "no error raised";
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().startsWith(Guard)) << error.Message().toStdString();
            EXPECT_TRUE(error.Message().contains(QLatin1String("bytes free"))) << error.Message().toStdString();
        }
        EXPECT_EQ(QDir(FExe.Folder()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
        EXPECT_TRUE(shell.Calls.empty()) << "the application was started as if updated";
    }
}

// Counts the paints of a widget.
class TPaintCounter : public QObject {
public:
    int Paints = 0;

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override {
        if (AEvent->type() == QEvent::Paint) ++Paints;
        return QObject::eventFilter(AWatched, AEvent);
    }
};

// A package of many small files moves the bar through a hundred positions: the bar is painted
// when it moves, not once for every file.
TEST_F(PackageInstallTest, TheBarIsPaintedWhenItMovesNotForEveryEntry) {
    const QString package = FPackages.File(QStringLiteral("many.zip"));
    const QString script = QStringLiteral(R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    for n in range(2000):
        z.writestr('files/%04d.txt' % n, b'small')
)");
    ASSERT_EQ(RunProgram(Python3(), {QStringLiteral("-c"), script, package}), 0);
    FWindowUnderTest->show();
    ASSERT_TRUE(WaitFor(
        [&] { return FWindowUnderTest->windowHandle() != nullptr && FWindowUnderTest->windowHandle()->isExposed(); }));
    QProgressBar* bar = FWindowUnderTest->pbrFormProgress;
    std::vector<int> positions;
    QObject::connect(bar, &QProgressBar::valueChanged, [&positions](int AValue) { positions.push_back(AValue); });
    TPaintCounter counter;
    bar->installEventFilter(&counter);
    TShellRecorder shell;
    Install(package);
    bar->removeEventFilter(&counter);

    EXPECT_EQ(bar->value(), 100);
    EXPECT_GE(positions.size(), 100u) << "every position is still shown";
    EXPECT_LE(counter.Paints, 2 * static_cast<int>(positions.size()) + 4)
        << "painted " << counter.Paints << " times for " << positions.size() << " positions";
}

// One entry that can't be written undoes the whole installation: the folder keeps the old
// version whole, the run's record says so, and the application is started as it is.
TEST_F(PackageInstallTest, AnInstallationThatFailsIsUndoneAndTheApplicationStillStarts) {
    WriteFile(Installed(QStringLiteral("app.exe")), QByteArray("old program"));
    const QString package = MakePackage(QStringLiteral("update.zip"));
    // A folder with content where data/base.db should go: that entry can't be written.
    WriteFile(Installed(QStringLiteral("data/base.db/inside.txt")), QByteArray("in the way"));
    TShellRecorder shell;
    Install(package);
    EXPECT_EQ(ReadFile(Installed(QStringLiteral("app.exe"))), QByteArray("old program"));
    EXPECT_EQ(ReadFile(Installed(QStringLiteral("data/base.db/inside.txt"))), QByteArray("in the way"));
    EXPECT_TRUE(RunLogText().contains(QStringLiteral(" ERROR Installation undone: data/base.db: a folder stands where "
                                                     "the file goes; the application is as it was\n")))
        << RunLogText().toStdString();
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].Parameters, QStringLiteral("Upd=1"));
}

} // namespace
} // namespace zlt::test
