// File services and the exclusive file that downloads write into.

#include "platform/Files.h"
#include "common/Errors.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <functional>

#ifndef Q_OS_WIN
#include <unistd.h>
#endif

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
    EXPECT_TRUE(platform::FileExists(file));
#ifndef Q_OS_WIN
    // QFile::link makes shortcut files on Windows, not links.
    ASSERT_TRUE(QFile::link(file, dir.File(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(dir.File(QStringLiteral("gone")), dir.File(QStringLiteral("dangling"))));
    EXPECT_TRUE(platform::FileExists(dir.File(QStringLiteral("link"))));
    EXPECT_FALSE(platform::FileExists(dir.File(QStringLiteral("dangling"))));
#endif
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

// Whatever stands under the name is refused and left exactly as it was: a file, a link to a
// file outside (which would otherwise be replaced or emptied), a dangling link, and a folder
// that is itself a link leading out.
TEST(ExclusiveFile, NeverOpensTruncatesOrFollowsWhatStandsUnderTheName) {
    TTempDir dir, outside;
    const QString victim = outside.File(QStringLiteral("victim.txt"));
    WriteFile(victim, "not the updater's");
    const struct {
        const char* Case;
        std::function<QString()> Plant; // returns the name to create
    } cases[] = {
        {"an existing file",
         [&] {
             WriteFile(dir.File(QStringLiteral("a.zip")), "an older package");
             return dir.File(QStringLiteral("a.zip"));
         }},
#ifndef Q_OS_WIN
        // QFile::link makes shortcut files on Windows, not links.
        {"a link to a file outside",
         [&] {
             QFile::link(victim, dir.File(QStringLiteral("b.zip")));
             return dir.File(QStringLiteral("b.zip"));
         }},
        {"a dangling link",
         [&] {
             QFile::link(outside.File(QStringLiteral("new.txt")), dir.File(QStringLiteral("c.zip")));
             return dir.File(QStringLiteral("c.zip"));
         }},
        {"the folder is a link leading out",
         [&] {
             QFile::link(outside.Path(), dir.File(QStringLiteral("Updates")));
             return dir.File(QStringLiteral("Updates/d.zip"));
         }},
#endif
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Case);
        const QString name = item.Plant();
        const QByteArray before = ReadFile(name);
        bool created = false;
        try {
            created = TExclusiveFile::CreateNew(name).has_value();
        } catch (const Exception&) {}
        EXPECT_FALSE(created);
        EXPECT_THROW(TExclusiveFile::Create(name), Exception);
        EXPECT_EQ(ReadFile(name), before);
        EXPECT_EQ(ReadFile(victim), "not the updater's");
        EXPECT_FALSE(QFile::exists(outside.File(QStringLiteral("new.txt"))));
        EXPECT_FALSE(QFile::exists(outside.File(QStringLiteral("d.zip"))));
    }
}

TEST(ExclusiveFile, SecondCreatorIsRefusedAndLeavesTheHolderAlone) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("update.zip"));
    TExclusiveFile holder = TExclusiveFile::Create(path);
    holder.Write("held", 4);
    try {
        TExclusiveFile::Create(path);
        ADD_FAILURE() << "a second creator got the file";
    } catch (const Exception& error) {
        EXPECT_TRUE(error.Message().contains(path)) << error.what();
    }
    EXPECT_FALSE(TExclusiveFile::CreateNew(path).has_value());
#ifdef Q_OS_WIN
    // What the refused creator did to the file shows once the holder has closed it, below.
    {
        // Nobody else opens or deletes the package while it is held.
        QFile other(path);
        EXPECT_FALSE(other.open(QIODevice::ReadOnly)) << "the held file was shared";
        EXPECT_FALSE(platform::DeleteFile(path)) << "the held file was deleted";
    }
#else
    EXPECT_EQ(ReadFile(path), "held") << "the refused creator truncated the holder's file";
#endif

    TExclusiveFile moved = std::move(holder);
    moved.Write("!", 1);
    // A download that starts over writes the file again from its start.
    moved.Rewind();
    moved.Write("new", 3);
    moved.Close();
    EXPECT_FALSE(moved.IsOpen());
    EXPECT_EQ(ReadFile(path), "new");
}

TEST(ExclusiveFile, RewindEmptiesTheHeldFile) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("update.zip"));
    TExclusiveFile file = TExclusiveFile::Create(path);
    file.Write("a broken first try", 18);
    file.Rewind();
    file.Write("new", 3);
    file.Close();
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_THROW(file.Rewind(), Exception) << "a closed file";
}

TEST(RenameOver, PutsTheNewFileInPlaceAndLeavesNoOtherName) {
    const struct {
        const char* Case;
        const char* Target; // what stands at the target before; nullptr: nothing
        bool TargetIsFolder;
        bool Replaces;
    } cases[] = {
        {"over an existing file", "old", false, true},
        {"where nothing stands", nullptr, false, true},
        {"over a folder", nullptr, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Case);
        TTempDir dir;
        const QString source = dir.File(QStringLiteral(".new.tmp"));
        const QString target = dir.File(QStringLiteral("app.bin"));
        WriteFile(source, "new");
        if (c.Target != nullptr) WriteFile(target, c.Target);
        if (c.TargetIsFolder) WriteFile(target + QStringLiteral("/inside.txt"), "kept");
        const QString failure = platform::RenameOver(source, target);
        if (c.Replaces) {
            EXPECT_TRUE(failure.isEmpty()) << failure.toStdString();
            EXPECT_EQ(ReadFile(target), "new");
            EXPECT_FALSE(QFileInfo::exists(source)) << "the old file or the temporary name stayed";
            EXPECT_EQ(QDir(dir.Path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                      QStringList{QStringLiteral("app.bin")});
        } else {
            EXPECT_FALSE(failure.isEmpty());
            EXPECT_EQ(ReadFile(source), "new") << "the source stays for its owner to remove";
            EXPECT_EQ(ReadFile(target + QStringLiteral("/inside.txt")), "kept");
        }
    }
}

TEST(ExclusiveFile, UnwritableFolderRaisesTheSystemText) {
    TTempDir dir;
    const QString path = dir.File(QStringLiteral("missing/update.zip"));
    try {
        TExclusiveFile::Create(path);
        FAIL() << "created a file in a missing folder";
    } catch (const Exception& error) {
#ifdef Q_OS_WIN
        // The system's own text follows the name.
        EXPECT_GT(error.Message().section(path, 1).trimmed().size(), 3) << error.what();
#else
        EXPECT_TRUE(error.Message().contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << error.what();
#endif
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

#ifdef Q_OS_WIN
    GTEST_SKIP() << "a full disk is played by a private tmpfs mount, which only Linux makes";
#else
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a small file system needs root";
#endif
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

// One holder at a time, whoever asks: a second lock on the file is refused at once (never
// waited for) while the first lives, and taken once it is let go; the file goes with its holder.
TEST(LockFile, OneHolderAtATimeAndNeverThroughALink) {
    TTempDir dir;
    const QString name = dir.File(QStringLiteral("updater.lock"));
    std::optional<platform::TLockFile> first = platform::TLockFile::Acquire(name);
    ASSERT_TRUE(first && first->Held());
    EXPECT_FALSE(platform::TLockFile::Acquire(name)) << "a second holder";
    first->Release();
    EXPECT_FALSE(QFileInfo::exists(name)) << "the file goes with its holder";
    std::optional<platform::TLockFile> second = platform::TLockFile::Acquire(name);
    EXPECT_TRUE(second && second->Held()) << "the control: free again";
    second.reset();

    if (ProgramSuffix() == QLatin1String(".exe")) return; // links are planted with POSIX calls
    const QString target = dir.File(QStringLiteral("elsewhere"));
    WriteFile(target, "the user's");
    ASSERT_TRUE(QFile::link(target, name));
    EXPECT_THROW(platform::TLockFile::Acquire(name), Exception);
    EXPECT_EQ(ReadFile(target), "the user's");
}

} // namespace
} // namespace zlt::test
