// File services and the exclusive file that downloads write into.

#include "platform/Files.h"
#include "common/Errors.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace zlt::test {
namespace {

using platform::TExclusiveFile;

TEST(FileServices, ExistCreateDelete) {
    TTempDir dir;
    const QString file = dir.File(QStringLiteral("a.txt"));
    WriteFile(file, "x");
    ASSERT_TRUE(QFile::link(file, dir.File(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(dir.File(QStringLiteral("gone")), dir.File(QStringLiteral("dangling"))));

    EXPECT_TRUE(platform::FileExists(file));
    EXPECT_TRUE(platform::FileExists(dir.File(QStringLiteral("link"))));
    EXPECT_FALSE(platform::FileExists(dir.File(QStringLiteral("dangling"))));
    EXPECT_FALSE(platform::FileExists(dir.Path())) << "a folder is no file";
    EXPECT_FALSE(platform::FileExists(QString()));

    const QString nested = dir.File(QStringLiteral("Updates/a/b"));
    EXPECT_TRUE(platform::ForceDirectories(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());
    EXPECT_TRUE(platform::ForceDirectories(nested)) << "an existing folder is no failure";
    EXPECT_FALSE(platform::ForceDirectories(file + QStringLiteral("/sub"))) << "a file is in the way";

    EXPECT_TRUE(platform::DeleteFile(file));
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_FALSE(platform::DeleteFile(file));
    EXPECT_FALSE(platform::DeleteFile(nested)) << "folders are not deleted";
}

TEST(ExclusiveFile, TruncatesAnExistingFile) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("update.zip"));
    WriteFile(path, "an older and longer package");
    TExclusiveFile file = TExclusiveFile::Create(path);
    file.Write("new", 3);
    file.Close();
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(ReadFile(path), "new");
}

TEST(ExclusiveFile, SecondOpenerIsRefusedAndLeavesTheHolderAlone) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("update.zip"));
    TExclusiveFile holder = TExclusiveFile::Create(path);
    holder.Write("held", 4);
    try {
        TExclusiveFile::Create(path);
        ADD_FAILURE() << "a second opener got the file";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(path)) << error.what();
    }
    EXPECT_EQ(ReadFile(path), "held") << "the refused opener truncated the holder's file";

    // Moving the file keeps it held; closing lets the next opener in.
    TExclusiveFile moved = std::move(holder);
    EXPECT_THROW(TExclusiveFile::Create(path), Exception);
    moved.Close();
    EXPECT_NO_THROW(TExclusiveFile::Create(path).Abandon());
}

TEST(ExclusiveFile, UnwritableFolderRaisesTheSystemText) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("missing/update.zip"));
    try {
        TExclusiveFile::Create(path);
        FAIL() << "created a file in a missing folder";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << error.what();
    }
}

// A full disk: a tiny tmpfs, mounted in a mount namespace of its own so nobody else sees it.
// The test runs itself again inside that namespace; ZLT_TEST_FULL_DISK names the mount there.
constexpr const char* FullDiskVariable = "ZLT_TEST_FULL_DISK";

TEST(ExclusiveFile, FullDiskRaisesTheSystemText) {
    const QString inner = qEnvironmentVariable(FullDiskVariable);
    if (!inner.isEmpty()) {
        const QString path = inner + QStringLiteral("/update.zip");
        TExclusiveFile file = TExclusiveFile::Create(path);
        const std::string piece(3000, 'x'); // not a divisor of the size: the last write is partial
        try {
            for (int count = 0; count < 1000; ++count) file.Write(piece.data(), piece.size());
            FAIL() << "wrote 3 MB onto a 64 KiB file system";
        } catch (const Exception& error) {
            EXPECT_TRUE(error.Message().contains(QString::fromLocal8Bit(std::strerror(ENOSPC)))) << error.what();
            EXPECT_TRUE(error.Message().contains(path)) << error.what();
        }
        file.Abandon();
        return;
    }

    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
    if (!HaveProgram(QStringLiteral("unshare"))) GTEST_SKIP() << "needs unshare";
    TTempDir mountPoint;
    const QString mount = QStringLiteral("mount -t tmpfs -o size=64k tmpfs \"$1\"");
    if (RunProgram(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"), mount,
                                               QStringLiteral("sh"), mountPoint.Path()}) != 0)
        GTEST_SKIP() << "this machine refuses a private tmpfs mount (unshare -m)";

    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(FullDiskVariable), mountPoint.Path());
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("unshare"), {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                                          mount + QStringLiteral(" && exec \"$2\" \"$3\""), QStringLiteral("sh"),
                                          mountPoint.Path(), QCoreApplication::applicationFilePath(),
                                          QStringLiteral("--gtest_filter=ExclusiveFile.FullDiskRaisesTheSystemText")});
    ASSERT_TRUE(run.waitForFinished(120000));
    const QString output = QString::fromLocal8Bit(run.readAll());
    EXPECT_EQ(run.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains(QStringLiteral("[  PASSED  ] 1 test"))) << output.toStdString();
}

} // namespace
} // namespace zlt::test
