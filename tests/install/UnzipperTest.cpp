// TZLTUnZipper and the directory reader against archives that the tests write byte by byte
// (ZipWriter.h: hostile, lying, damaged and malformed ones, each with what is wrong in it) and
// against archives made by the real tools: what lands, what is refused (not a ZIP, paths and
// links that lead out, damaged entries), what an unwritable entry does, the permission bits,
// the progress, and the same tree from every tool.

#include "install/Unzipper.h"
#include "common/Errors.h"
#include "install/Journal.h"
#include "install/Previous.h"
#include "install/Staging.h"
#include "install/ZipDirectory.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/install/ArchiveTools.h"
#include "tests/install/ZipWriter.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStorageInfo>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace zlt::test {

using namespace zlt::install;

namespace {

namespace fs = std::filesystem;

using TMethod = TZipWriter::TMethod;

fs::path SystemPath(const QString& APath) { return platform::FileSystemPath(APath); }

QByteArray RandomBytes(qsizetype ASize, quint32 ASeed) {
    QRandomGenerator generator(ASeed);
    QByteArray bytes(ASize, Qt::Uninitialized);
    for (char& byte : bytes) byte = static_cast<char>(generator.bounded(256));
    return bytes;
}

// What a folder holds: "dir/" for a folder, "-> target" for a link, the bytes for a file.
using TTree = std::map<std::string, QByteArray>;

TTree ReadTree(const QString& ARoot) {
    TTree tree;
    QDirIterator it(ARoot, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const std::string relative = QDir(ARoot).relativeFilePath(path).toStdString();
        const QFileInfo info(path);
        if (info.isSymLink())
            tree[relative] = "-> " + QByteArray::fromStdString(fs::read_symlink(SystemPath(path)).string());
        else if (info.isDir())
            tree[relative + '/'] = "dir";
        else
            tree[relative] = ReadFile(path);
    }
    return tree;
}

std::vector<std::string> Names(const TTree& ATree) {
    std::vector<std::string> names;
    for (const auto& [name, data] : ATree) names.push_back(name);
    return names;
}

// Exact: a temporary file left behind shows up as an extra name.
void ExpectSameTree(const TTree& AActual, const TTree& AExpected) {
    ASSERT_EQ(Names(AActual), Names(AExpected));
    int differing = 0;
    for (const auto& [name, data] : AExpected)
        if (AActual.at(name) != data && ++differing <= 5) ADD_FAILURE() << "contents differ: " << name;
    EXPECT_EQ(differing, 0);
}

// The reader as the installation sets it up: folders created, stored paths kept, every
// confirmation answered yes.
struct TInstaller {
    QObject Owner;
    TZLTUnZipper UnZipper{&Owner};
    TInstaller() {
        UnZipper.CreateDirs = true;
        UnZipper.RestorePath = true;
    }
    void Install(const QString& AZip, const QString& AFolder) {
        UnZipper.Open(AZip);
        UnZipper.BaseDirectory = AFolder + u'/';
        UnZipper.ExtractFiles(QStringLiteral("*"));
    }
    // An installation that must fail and be undone: the failure as "file: cause", or the
    // reason why it is missing.
    QString InstallUndone(const QString& AZip, const QString& AFolder) {
        try {
            Install(AZip, AFolder);
        } catch (const EInstallationUndone& failure) {
            return failure.Message();
        }
        ADD_FAILURE() << "the installation was not undone";
        return QStringLiteral("(not undone)");
    }
};

fs::perms Permissions(const QString& APath) { return fs::status(SystemPath(APath)).permissions(); }

// Whether this system keeps a file's Unix permission bits (Windows keeps a read-only flag only).
bool PermissionBitsHold(const TTempDir& ADir) {
    const QString probe = ADir.File(QStringLiteral("probe-mode"));
    WriteFile(probe, "probe");
    std::error_code error;
    fs::permissions(SystemPath(probe), fs::perms(0750), error);
    return !error && Permissions(probe) == fs::perms(0750);
}

// Whether this system lets the test make symbolic links (Wine does not).
bool LinksCanBeMade(const TTempDir& ADir) {
    std::error_code error;
    fs::create_directory_symlink(SystemPath(ADir.Path()), SystemPath(ADir.File(QStringLiteral("probe-link"))), error);
    return !error;
}

// --- the installation ------------------------------------------------------------------------

TEST(UnZipper, InstallsOverTheFolderCreatingSubfoldersAndLeavingOtherFilesAlone) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter()
        .File("app.exe", "new program", 0755)
        .File("data/base.db", QByteArray("new base").repeated(1000))
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/app.exe"), "old program");
    WriteFile(folder + QStringLiteral("/settings.cfi"), "[UPDATE]");

    TInstaller installer;
    const QString cwd = QDir::currentPath();
    QStringList overwriteAsked, processAsked, cwdInHandlers;
    installer.UnZipper.OnConfirmOverwrite = [&](TZLTUnZipper*, QString& Name, bool& Confirm) {
        overwriteAsked << Name;
        cwdInHandlers << QDir::currentPath();
        EXPECT_TRUE(Confirm) << "starts true";
    };
    installer.UnZipper.OnConfirmProcessItem = [&](TZLTUnZipper*, const TZLTZipItem& Item, TZLTProcessType,
                                                  bool& Confirm) {
        processAsked << Item.FileName;
        cwdInHandlers << QDir::currentPath();
        EXPECT_TRUE(Confirm) << "starts true";
    };
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t, bool&) {
        cwdInHandlers << QDir::currentPath();
    };
    installer.Install(zip, folder);

    ExpectSameTree(ReadTree(folder), {{"app.exe", "new program"},
                                      {"data/", "dir"},
                                      {"data/base.db", QByteArray("new base").repeated(1000)},
                                      {"settings.cfi", "[UPDATE]"}});
    EXPECT_EQ(overwriteAsked, QStringList{QDir(folder).filePath(QStringLiteral("app.exe"))});
    EXPECT_EQ(processAsked, (QStringList{QStringLiteral("app.exe"), QStringLiteral("data/base.db")}));
    EXPECT_EQ(installer.UnZipper.Counts().Replaced, 1);
    EXPECT_EQ(installer.UnZipper.Counts().Added, 1);
    // Two questions about the entries, one about the old program, three progress steps.
    EXPECT_EQ(cwdInHandlers, QStringList(6, cwd)) << "handlers run in the process's own folder";
    EXPECT_EQ(QDir::currentPath(), cwd) << "the working directory is given back";
}

TEST(UnZipper, AHandlerThatSaysNoKeepsTheEntryOut) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter()
        .File("keep.txt", "new keep")
        .File("declined.txt", "new declined")
        .File("taken.txt", "new taken")
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/keep.txt"), "old keep");
    TInstaller installer;
    installer.UnZipper.OnConfirmOverwrite = [](TZLTUnZipper*, QString&, bool& Confirm) { Confirm = false; };
    installer.UnZipper.OnConfirmProcessItem = [](TZLTUnZipper*, const TZLTZipItem& Item, TZLTProcessType,
                                                 bool& Confirm) {
        Confirm = Item.FileName != QStringLiteral("declined.txt");
    };
    installer.Install(zip, folder);
    ExpectSameTree(ReadTree(folder), {{"keep.txt", "old keep"}, {"taken.txt", "new taken"}});
}

// Root may write anywhere, so the unwritable entries are made by what stands in their way: a
// folder, a file, and the archive itself, which lies in the folder it is installed into (whose
// name is not ASCII, as the system's form of a path must carry it). Each comes after entries
// that replace a file, add one and make a folder: none of them may stay.
TEST(UnZipper, AnEntryThatCannotBeWrittenLeavesTheFolderAsItWas) {
    struct TCase {
        const char* Entry;
        const char* Blocker; // what stands in the way, relative to the folder
        const char* Cause;
    };
    const TCase cases[] = {
        {"blocked.dll", "blocked.dll/inside.txt", "a folder stands where the file goes"},
        {"plugins/tool.dll", "plugins", ""},
        {"cache/", "cache", "a file stands where the folder goes"},
        {"Updates/update.zip", nullptr, "the archive itself cannot be replaced"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Entry);
        TTempDir dir;
        const QString folder = dir.File(QStringLiteral("aplicación"));
        const QString zip = folder + QStringLiteral("/Updates/update.zip");
        TZipWriter writer;
        writer.File("first.txt", "new first").File("fresh/new.txt", "new file in a new folder");
        if (QByteArray(c.Entry).endsWith('/'))
            writer.Folder(c.Entry);
        else
            writer.File(c.Entry, QByteArray(100000, 'x'));
        writer.File("last.txt", "last").Write().Save(zip);
        WriteFile(folder + QStringLiteral("/first.txt"), "old first");
        if (c.Blocker != nullptr) WriteFile(folder + u'/' + QString::fromLatin1(c.Blocker), "in the way");
        const TTree before = ReadTree(folder);

        TInstaller installer;
        const QString failure = installer.InstallUndone(zip, folder);
        EXPECT_TRUE(failure.startsWith(QString::fromLatin1(c.Entry).remove(u'/') + u':') ||
                    failure.startsWith(QString::fromLatin1(c.Entry) + u':'))
            << failure.toStdString();
        EXPECT_TRUE(failure.contains(QString::fromLatin1(c.Cause))) << failure.toStdString();
        ExpectSameTree(ReadTree(folder), before);
    }
}

TEST(UnZipper, OpenRefusesWhatIsNoReadableZipAndNothingIsExtracted) {
    TTempDir dir;
    TZipWriter good;
    for (int n = 0; n < 20; ++n)
        good.File("file" + QByteArray::number(n) + ".bin", RandomBytes(5000, static_cast<quint32>(n)), 0644,
                  TMethod::Stored);
    const QByteArray goodBytes = good.Write().Bytes;

    struct TCase {
        const char* Name;
        QByteArray Contents; // null: the file does not exist
    };
    const std::vector<TCase> cases = {
        {"missing file", QByteArray()},
        {"zero-size file", QByteArray("")},
        {"server error page", "<html><head><title>502 Bad Gateway</title></head><body>nginx</body></html>\n"},
        {"download cut in half", goodBytes.left(goodBytes.size() / 2)},
    };
    std::vector<std::pair<std::string, QString>> files;
    for (const TCase& c : cases) {
        const QString name = dir.File(QString::fromLatin1(c.Name).replace(u' ', u'_') + QStringLiteral(".zip"));
        if (!c.Contents.isNull()) WriteFile(name, c.Contents);
        files.emplace_back(c.Name, name);
    }
    // Other archive formats are refused too: the type is ZIP, never detected. (Their members
    // are plain files: a stored ZIP at the end of a tar is still a readable ZIP, as for unzip.)
    for (const auto& [format, file] : {std::pair{"ustar", "package.tar"}, std::pair{"7zip", "package.7z"}}) {
        const QString path = dir.File(QString::fromLatin1(file));
        const QString failure = WriteOtherArchive(path, format, "app.exe", RandomBytes(20000, 7));
        ASSERT_TRUE(failure.isEmpty()) << format << ": " << failure.toStdString();
        files.emplace_back(format, path);
    }

    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        const QString folder = dir.File(QStringLiteral("app-") + QString::fromStdString(name).replace(u' ', u'_'));
        QDir().mkpath(folder);
        TInstaller installer;
        try {
            installer.UnZipper.Open(file);
            ADD_FAILURE() << "Open did not throw";
        } catch (const Exception& e) {
            EXPECT_TRUE(e.Message().contains(QFileInfo(file).fileName())) << e.what();
        }
        EXPECT_FALSE(installer.UnZipper.IsOpen());
        installer.UnZipper.BaseDirectory = folder;
        EXPECT_THROW(installer.UnZipper.ExtractFiles(QStringLiteral("*")), Exception);
        EXPECT_TRUE(ReadTree(folder).empty());
    }
}

// --- the folder's border ---------------------------------------------------------------------

struct TMaliciousCase {
    const char* Name;
    // The trick's entries (a harmless ok.txt follows them); AOutside is the absolute path of
    // the folder beside the target folder.
    void (*Entries)(TZipWriter& AZip, const QByteArray& AOutside);
    bool PlantLinkOutside;                  // the folder already holds "planted", a link to the outside folder
    std::vector<const char*> MustBeSkipped; // the refusal names one of these, when given
    // What the trick makes, relative to the target folder, when nothing guards the folder: the
    // installation must not make it, libarchive's disk writer without its secure flags does.
    std::vector<const char*> Lands;
    bool NeedsLinks = false; // the archive's own links must become links on disk
};

void PrintTo(const TMaliciousCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class UnZipperMalicious : public testing::TestWithParam<TMaliciousCase> {
protected:
    // sandbox/app is the target folder and sandbox/outside the folder beside it, one level
    // down in the test's own folder, so that whatever climbs out of the target stays in it.
    void SetUp() override {
        Root = Dir.File(QStringLiteral("sandbox"));
        Folder = Root + QStringLiteral("/app");
        Outside = Root + QStringLiteral("/outside");
    }
    // An empty target folder and outside folder, and the planted link if the case has one.
    void MakeSandbox(const TMaliciousCase& ACase) const {
        std::error_code error;
        fs::remove_all(SystemPath(Root), error);
        QDir().mkpath(Folder);
        QDir().mkpath(Outside);
        if (ACase.PlantLinkOutside)
            fs::create_directory_symlink(SystemPath(Outside), SystemPath(Folder + QStringLiteral("/planted")));
    }
    bool Exists(const char* ARelative) const {
        std::error_code error;
        return fs::exists(fs::symlink_status(SystemPath(Folder + u'/' + QString::fromUtf8(ARelative)), error));
    }
    // Whether what the link ARelative leads to, if anything, lies outside the target folder.
    bool LeadsOutside(const QString& ARelative) const {
        const QString folder = QFileInfo(Folder).canonicalFilePath();
        const QString resolved = QFileInfo(Folder + u'/' + ARelative).canonicalFilePath();
        return !resolved.isEmpty() && resolved != folder && !resolved.startsWith(folder + u'/');
    }

    TTempDir Dir;
    QString Root, Folder, Outside;
};

TEST_P(UnZipperMalicious, WritesNothingOutsideTheFolder) {
    const TMaliciousCase& c = GetParam();
    const bool links = LinksCanBeMade(Dir);
    if ((c.PlantLinkOutside || c.NeedsLinks) && !links)
        GTEST_SKIP() << "this system makes no symbolic links (Wine), so none stands in the way";
    TZipWriter writer;
    c.Entries(writer, QFile::encodeName(Outside));
    writer.File("ok.txt", "ok");
    const QString zip = Dir.File(QStringLiteral("evil.zip"));
    writer.Write().Save(zip);

    MakeSandbox(c);
    TInstaller installer;
    const QString failure = installer.InstallUndone(zip, Folder);

    EXPECT_TRUE(ReadTree(Outside).empty()) << "written outside: " << testing::PrintToString(Names(ReadTree(Outside)));
    EXPECT_EQ(QDir(Root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
              (QStringList{QStringLiteral("app"), QStringLiteral("outside")}))
        << "written beside the folder";
    for (const char* trick : c.Lands) EXPECT_FALSE(Exists(trick)) << trick << " landed through the guard";
    EXPECT_FALSE(QFileInfo::exists(Folder + QStringLiteral("/ok.txt"))) << "nothing of a refused archive lands";
    if (!c.MustBeSkipped.empty()) {
        const bool named = std::any_of(c.MustBeSkipped.begin(), c.MustBeSkipped.end(), [&failure](const char* AEntry) {
            return failure.startsWith(QString::fromUtf8(AEntry) + u':');
        });
        EXPECT_TRUE(named) << failure.toStdString();
    }
    // No link that the extraction left behind resolves outside the folder.
    for (const auto& [name, data] : ReadTree(Folder)) {
        const QString path = QString::fromStdString(name);
        if (name != "planted" && QFileInfo(Folder + u'/' + path).isSymLink()) {
            EXPECT_FALSE(LeadsOutside(path)) << name << " leads outside the folder";
        }
    }

    // The control: the same archive into the same place, without the guard.
    if (writer.HasLinks() && !links) {
        std::cout << "this system makes no symbolic links (Wine): no control for a trick of links\n";
        return;
    }
    MakeSandbox(c);
    const QStringList failures = ExtractWithoutGuard(zip, Folder);
    for (const char* trick : c.Lands) {
        EXPECT_TRUE(Exists(trick)) << trick << " does not land even without the guard, so the row proves nothing; "
                                   << failures.join(u'\n').toStdString();
        if (QFileInfo(Folder + u'/' + QString::fromUtf8(trick)).isSymLink()) {
            EXPECT_TRUE(LeadsOutside(QString::fromUtf8(trick))) << trick << " does not lead out even without the guard";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnZipperMalicious,
    testing::Values(TMaliciousCase{"dot_dot",
                                   [](TZipWriter& AZip, const QByteArray&) {
                                       AZip.File("../evil.txt", "x").File("a/../../evil-deep.txt", "x");
                                   },
                                   false,
                                   {"../evil.txt", "a/../../evil-deep.txt"},
                                   {"../evil.txt", "../evil-deep.txt"}},
                    TMaliciousCase{"absolute_path",
                                   [](TZipWriter& AZip, const QByteArray& AOutside) {
                                       AZip.File(AOutside + "/evil.txt", "x");
                                   },
                                   false,
                                   {},
                                   {"../outside/evil.txt"}},
                    TMaliciousCase{"link_to_absolute_outside",
                                   [](TZipWriter& AZip, const QByteArray& AOutside) { AZip.Link("link", AOutside); },
                                   false,
                                   {"link"},
                                   {"link"}},
                    TMaliciousCase{"link_climbing_out",
                                   [](TZipWriter& AZip, const QByteArray&) { AZip.Link("sub/link", "../../outside"); },
                                   false,
                                   {"sub/link"},
                                   {"sub/link"}},
                    // "here" is the folder itself, through "sub", and "up" leads to its parent's "outside".
                    TMaliciousCase{"link_climbing_through_another_link",
                                   [](TZipWriter& AZip, const QByteArray&) {
                                       AZip.Folder("sub/").Link("here", "sub/..").Link("up", "here/../outside");
                                   },
                                   false,
                                   {"here", "up"},
                                   {"up"}},
                    TMaliciousCase{"file_written_through_a_link_entry",
                                   [](TZipWriter& AZip, const QByteArray& AOutside) {
                                       AZip.Link("esc", AOutside).File("esc/evil.txt", "x");
                                   },
                                   false,
                                   {"esc"},
                                   {"../outside/evil.txt"}},
                    TMaliciousCase{"file_written_through_a_link_on_disk",
                                   [](TZipWriter& AZip, const QByteArray&) { AZip.File("planted/evil.txt", "x"); },
                                   true,
                                   {"planted/evil.txt"},
                                   {"../outside/evil.txt"}},
                    TMaliciousCase{"link_entry_then_file_through_it_inside",
                                   [](TZipWriter& AZip, const QByteArray&) {
                                       AZip.Folder("real/").Link("alias", "real").File("alias/evil.txt", "x");
                                   },
                                   false,
                                   {"alias/evil.txt"},
                                   {"real/evil.txt"},
                                   true},
                    // Targets that lead out on Windows: a drive, a server's share, '\' as the
                    // separator. Here they are names, so nothing lands without the guard either;
                    // under Wine the absolute rows above name a drive.
                    TMaliciousCase{"links_in_the_spelling_of_windows",
                                   [](TZipWriter& AZip, const QByteArray&) {
                                       AZip.Link("drive", "C:/Windows")
                                           .Link("share", "\\\\server\\share")
                                           .Link("back", "..\\..\\outside");
                                   },
                                   false,
                                   {"drive", "share", "back"},
                                   {}}),
    [](const testing::TestParamInfo<TMaliciousCase>& AInfo) { return std::string(AInfo.param.Name); });

// --- what lands --------------------------------------------------------------------------------

TEST(UnZipper, RestoresStoredPermissionBits) {
    TTempDir dir;
    if (!PermissionBitsHold(dir)) GTEST_SKIP() << "this system's files carry no Unix permission bits";
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter()
        .File("bin/app", "#!/bin/sh\n", 0755)
        .File("bin/private", "secret", 0700)
        .File("doc.txt", "text", 0644)
        .File("setuid", "#!/bin/sh\n", 04755)
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/bin/app"), "old");
    fs::permissions(SystemPath(folder + QStringLiteral("/bin/app")), fs::perms(0644));

    TInstaller installer;
    installer.Install(zip, folder);
    const std::vector<std::pair<const char*, int>> expected = {{"bin/app", 0755},
                                                               {"bin/private", 0700},
                                                               {"doc.txt", 0644},
                                                               {"setuid", 0755}};
    for (const auto& [name, mode] : expected)
        EXPECT_EQ(static_cast<int>(Permissions(folder + u'/' + QString::fromLatin1(name))), mode) << name;
}

// Entries made on Windows store no mode: a replaced file keeps its own, a new one gets 0644, or
// 0755 when it is the program the package updates. Stored modes never carry setuid, setgid,
// sticky or world-write bits.
TEST(UnZipper, ModesOfWindowsMadeEntriesAndMaskedStoredModes) {
    TTempDir dir;
    if (!PermissionBitsHold(dir)) GTEST_SKIP() << "this system's files carry no Unix permission bits";
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter()
        .WindowsFile("bin/acme", "new program")
        .WindowsFile("bin/helper", "new helper")
        .WindowsFile("private.db", "new data", true)
        .WindowsFile("new.txt", "new text")
        .WindowsFile("bin/newtool", "new tool")
        .File("shared.txt", "x", 0666)
        .File("sticky", "x", 01755)
        .File("setgid", "x", 02755)
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    const std::vector<std::pair<const char*, int>> existing = {{"bin/acme", 0755},
                                                               {"bin/helper", 0750},
                                                               {"private.db", 0600}};
    for (const auto& [name, mode] : existing) {
        const QString path = folder + u'/' + QString::fromLatin1(name);
        WriteFile(path, "old");
        fs::permissions(SystemPath(path), fs::perms(mode));
    }

    TInstaller installer;
    installer.UnZipper.ProgramName = QStringLiteral("bin/newtool");
    installer.Install(zip, folder);
    const std::vector<std::pair<const char*, int>> expected = {{"bin/acme", 0755},    {"bin/helper", 0750},
                                                               {"private.db", 0600},  {"new.txt", 0644},
                                                               {"bin/newtool", 0755}, {"shared.txt", 0664},
                                                               {"sticky", 0755},      {"setgid", 0755}};
    for (const auto& [name, mode] : expected) {
        const QString path = folder + u'/' + QString::fromLatin1(name);
        EXPECT_EQ(static_cast<int>(Permissions(path)), mode) << name;
        EXPECT_NE(ReadFile(path), "old") << name;
    }
}

// A package cannot weaken the folder: a "./" or an existing folder's entry with mode 0777
// changes neither the base folder nor the existing one, and the program the package updates
// stays runnable for its owner whatever mode it stores. The controls: a folder the package makes
// gets its stored mode (without write for everyone), another file its stored 0600.
TEST(UnZipper, APackageCannotWeakenTheFolderNorLockItsProgram) {
    TTempDir dir;
    if (!PermissionBitsHold(dir)) GTEST_SKIP() << "this system's files carry no Unix permission bits";
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter()
        .Folder("./", 0777)
        .Folder("data/", 0777)
        .Folder("fresh/", 0777)
        .File("bin/acme", "new program", 0)
        .File("bin/other", "new program", 0600)
        .File("data/base.db", "new data", 0644)
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/data/base.db"), "old");
    fs::permissions(SystemPath(folder), fs::perms(0755));
    fs::permissions(SystemPath(folder + QStringLiteral("/data")), fs::perms(0750));

    TInstaller installer;
    installer.UnZipper.ProgramName = QStringLiteral("bin/acme");
    installer.Install(zip, folder);
    const std::vector<std::pair<const char*, int>> expected = {
        {"", 0755}, {"/data", 0750}, {"/fresh", 0775}, {"/bin/acme", 0500}, {"/bin/other", 0600}};
    for (const auto& [name, mode] : expected)
        EXPECT_EQ(static_cast<int>(Permissions(folder + QString::fromLatin1(name))), mode) << name;
    EXPECT_EQ(ReadFile(folder + QStringLiteral("/bin/acme")), "new program");
}

// What a package declares is what it may write: an entry that holds more than it declares is
// refused without leaving anything, and a package that declares more than the disk holds is
// refused before anything is written.
TEST(UnZipper, DeclaredSizesBoundWhatIsWritten) {
    TTempDir dir;
    // The 20 MiB entry declares 1000 bytes in both headers, which is what the space check
    // counts. (Headers that disagree are refused at opening: AnUntrustworthyPackage...)
    TZipImage liar = TZipWriter().File("small.txt", "fine").File("bomb.bin", QByteArray(20 << 20, '\0')).Write();
    const TZipImage::TEntryPlace& bomb = liar.Entries[1];
    liar.Put32(bomb.DirectoryHeader + TDirectoryHeader::UncompressedSize, 1000);
    liar.Put32(bomb.LocalHeader + TLocalHeader::UncompressedSize, 1000);
    const QString zip = dir.File(QStringLiteral("liar.zip"));
    liar.Save(zip);
    {
        SCOPED_TRACE("an entry that holds more than it declares in both headers");
        const QString folder = dir.File(QStringLiteral("a"));
        TInstaller installer;
        const QString failure = installer.InstallUndone(zip, folder);
        EXPECT_TRUE(failure.startsWith(QStringLiteral("bomb.bin: the ent"))) << failure.toStdString();
        ExpectSameTree(ReadTree(folder), {});
    }
    // small.txt and 4096 entries of 13 bytes, each declaring almost 4 GiB in both headers, 16 TiB
    // in all: more than any test machine's disk holds.
    TZipWriter hugeWriter;
    hugeWriter.File("small.txt", "fine", 0644, TMethod::Stored);
    for (int n = 0; n < 4096; ++n)
        hugeWriter.File("giant" + QByteArray::number(n) + ".bin", "tiny in truth", 0644, TMethod::Stored);
    TZipImage huge = hugeWriter.Write();
    for (std::size_t n = 1; n < huge.Entries.size(); ++n) {
        huge.Put32(huge.Entries[n].DirectoryHeader + TDirectoryHeader::UncompressedSize, 0xFFFFFFF0);
        huge.Put32(huge.Entries[n].LocalHeader + TLocalHeader::UncompressedSize, 0xFFFFFFF0);
    }
    const QString hugeZip = dir.File(QStringLiteral("huge.zip"));
    huge.Save(hugeZip);
    {
        SCOPED_TRACE("a package that can't fit");
        const QString folder = dir.File(QStringLiteral("b"));
        QDir().mkpath(folder);
        if (QStorageInfo(folder).bytesAvailable() > (qint64{16} << 40)) GTEST_SKIP() << "this disk holds 16 TiB";
        TInstaller installer;
        EXPECT_THROW(installer.Install(hugeZip, folder), ENotEnoughSpace);
        ExpectSameTree(ReadTree(folder), {});
    }
}

// The central directory alone gives the entries' count and the sum of their sizes, which the
// installation's progress and space check use; a ZIP64 entry keeps its size in an extra field.
TEST(ZipDirectory, CountsEntriesAndTheirSizes) {
    ZLT_REQUIRE_PROGRAM(QStringLiteral("zip"));
    TTempDir dir;
    WriteFile(dir.File(QStringLiteral("src/a.txt")), "hello");
    WriteFile(dir.File(QStringLiteral("src/sub/b.txt")), "world!!");
    for (const QStringList& options : {QStringList{}, QStringList{QStringLiteral("-fz")}}) {
        SCOPED_TRACE(options.join(u' ').toStdString());
        const QString zip = dir.File(QStringLiteral("t%1.zip").arg(options.size()));
        ASSERT_EQ(ZipFolder(dir.File(QStringLiteral("src")), zip, options), 0);
        TZipDirectory directory;
        ASSERT_NO_THROW(directory = ReadZipDirectory(zip));
        EXPECT_EQ(directory.EntryCount, 3); // a.txt, sub/, sub/b.txt
        EXPECT_EQ(directory.DeclaredBytes, 12);
    }
}

// The malformed directories' archive: three entries, their sizes in the ZIP64 records and extra
// fields or not.
TZipImage SmallZip(bool AZip64) {
    TZipWriter writer;
    writer.File("a.txt", "hello").Folder("sub/").File("sub/b.txt", "world!!");
    if (AZip64) writer.Zip64();
    return writer.Write();
}

// Where the extra field of the first entry's directory header starts, after its name.
qint64 FirstDirectoryExtra(const TZipImage& AZip) {
    return AZip.Entries[0].DirectoryHeader + TDirectoryHeader::Size + qint64{sizeof("a.txt") - 1};
}

struct TMalformedCase {
    const char* Name; // what is broken
    bool Zip64;       // broken in the ZIP64 form of the archive
    void (*Break)(TZipImage& AZip);
};

// Appends AComment to the archive as the end record's comment.
void Comment(TZipImage& AZip, const QByteArray& AComment) {
    AZip.Put16(AZip.EndRecord + TEndRecord::CommentLength, static_cast<quint64>(AComment.size()));
    AZip.Bytes += AComment;
}

// The directory comes from untrusted bytes: each row breaks one thing in a small well-formed
// archive, and the reader must refuse it with a cause, without reading outside what it read
// from the file. The first rows' archive is plain, the last rows' has its sizes and the
// directory's place in the ZIP64 records.
TEST(ZipDirectory, RefusesMalformedDirectories) {
    const std::vector<TMalformedCase> cases = {
        {"a file shorter than an end record", false,
         [](TZipImage& AZip) { AZip.Bytes = AZip.Bytes.right(TEndRecord::Size - 1); }},
        {"the end record cut before its comment length", false,
         [](TZipImage& AZip) { AZip.Bytes.truncate(AZip.EndRecord + TEndRecord::CommentLength); }},
        {"a comment length that reaches past the end of the file", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::CommentLength, 10); }},
        {"bytes after the end record that no comment length covers", false,
         [](TZipImage& AZip) { AZip.Bytes += "junk"; }},
        {"an entry count larger than the entries", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::EntryCount, 4); }},
        {"an entry count smaller than the entries", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::EntryCount, 2); }},
        {"an entry count of 0 before three entries", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::EntryCount, 0); }},
        {"a directory offset past the end of the file", false,
         [](TZipImage& AZip) {
             AZip.Put32(AZip.EndRecord + TEndRecord::DirectoryOffset, static_cast<quint64>(AZip.Bytes.size()));
         }},
        {"a directory size that reaches past the end of the file", false,
         [](TZipImage& AZip) { AZip.Put32(AZip.EndRecord + TEndRecord::DirectorySize, 0x10000); }},
        {"a directory offset at the first local header", false,
         [](TZipImage& AZip) { AZip.Put32(AZip.EndRecord + TEndRecord::DirectoryOffset, 0); }},
        {"a directory size that takes in the end record after the entries", false,
         [](TZipImage& AZip) {
             AZip.Put32(AZip.EndRecord + TEndRecord::DirectorySize,
                        static_cast<quint64>(AZip.Bytes.size() - AZip.Directory));
         }},
        {"a directory size that cuts the last entry's name", false,
         [](TZipImage& AZip) {
             AZip.Put32(AZip.EndRecord + TEndRecord::DirectorySize,
                        static_cast<quint64>(AZip.EndRecord - AZip.Directory - 1));
         }},
        {"an entry's name length that reaches past the directory", false,
         [](TZipImage& AZip) {
             AZip.Put16(AZip.Entries.back().DirectoryHeader + TDirectoryHeader::NameLength, 0xFFFF);
         }},
        {"the last entry's extra field length that reaches past the directory", false,
         [](TZipImage& AZip) {
             AZip.Put16(AZip.Entries.back().DirectoryHeader + TDirectoryHeader::ExtraLength, 0x100);
         }},
        {"the last entry's comment length that reaches past the directory", false,
         [](TZipImage& AZip) {
             AZip.Put16(AZip.Entries.back().DirectoryHeader + TDirectoryHeader::CommentLength, 0x100);
         }},
        {"an entry's broken signature", false, [](TZipImage& AZip) { AZip.Put32(AZip.Entries[1].DirectoryHeader, 0); }},
        // The directory and the local headers must tell the same story: libarchive reads the
        // entries through the directory, a streaming reader through the local headers.
        {"two records that point at one local header", false,
         [](TZipImage& AZip) {
             AZip.Put32(AZip.Entries[2].DirectoryHeader + TDirectoryHeader::LocalHeaderOffset,
                        static_cast<quint64>(AZip.Entries[0].LocalHeader));
         }},
        {"a local header that names another entry", false,
         [](TZipImage& AZip) { AZip.Bytes[AZip.Entries[0].LocalHeader + TLocalHeader::Size] = 'b'; }},
        {"a local header with another CRC", false,
         [](TZipImage& AZip) { AZip.Put32(AZip.Entries[0].LocalHeader + TLocalHeader::Crc, 0x12345678); }},
        {"a local header with another compressed size", false,
         [](TZipImage& AZip) { AZip.Put32(AZip.Entries[2].LocalHeader + TLocalHeader::CompressedSize, 3); }},
        {"a local header with another method", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.Entries[0].LocalHeader + TLocalHeader::Method, 0); }},
        {"an entry marked encrypted", false,
         [](TZipImage& AZip) {
             AZip.Put16(AZip.Entries[0].LocalHeader + TLocalHeader::Flags, 1);
             AZip.Put16(AZip.Entries[0].DirectoryHeader + TDirectoryHeader::Flags, 1);
         }},
        {"an end record that counts no entries and an empty directory after three entries", false,
         [](TZipImage& AZip) {
             AZip.Put16(AZip.EndRecord + TEndRecord::DiskEntryCount, 0);
             AZip.Put16(AZip.EndRecord + TEndRecord::EntryCount, 0);
             AZip.Put32(AZip.EndRecord + TEndRecord::DirectorySize, 0);
             AZip.Put32(AZip.EndRecord + TEndRecord::DirectoryOffset, static_cast<quint64>(AZip.EndRecord));
         }},
        {"a second end record, of an empty archive, in the comment", false,
         [](TZipImage& AZip) { Comment(AZip, TZipWriter().Write().Bytes); }},
        {"an end record on another disk", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::Disk, 1); }},
        {"an entry's size marked as in a ZIP64 extra field that it lacks", false,
         [](TZipImage& AZip) {
             AZip.Put32(AZip.Entries[0].DirectoryHeader + TDirectoryHeader::UncompressedSize, Zip64Marker32);
         }},
        {"the end record's ZIP64 marker without a locator", false,
         [](TZipImage& AZip) { AZip.Put16(AZip.EndRecord + TEndRecord::EntryCount, Zip64Marker16); }},
        {"an end record with the ZIP64 marker at the start of the file, its locator before it", false,
         [](TZipImage& AZip) {
             AZip.Bytes = AZip.Bytes.mid(AZip.EndRecord);
             AZip.Put16(TEndRecord::EntryCount, Zip64Marker16);
         }},
        {"the ZIP64 locator's broken signature", true, [](TZipImage& AZip) { AZip.Put32(AZip.Zip64Locator, 0); }},
        {"a ZIP64 locator that points past the end of the file", true,
         [](TZipImage& AZip) {
             AZip.Put64(AZip.Zip64Locator + TZip64Locator::EndOffset, static_cast<quint64>(AZip.Bytes.size()));
         }},
        {"a ZIP64 locator that points at a negative offset", true,
         [](TZipImage& AZip) { AZip.Put64(AZip.Zip64Locator + TZip64Locator::EndOffset, quint64{1} << 63); }},
        {"a ZIP64 locator that points at a local header", true,
         [](TZipImage& AZip) { AZip.Put64(AZip.Zip64Locator + TZip64Locator::EndOffset, 0); }},
        {"a ZIP64 locator that points into itself", true,
         [](TZipImage& AZip) {
             AZip.Put64(AZip.Zip64Locator + TZip64Locator::EndOffset, static_cast<quint64>(AZip.Zip64Locator));
         }},
        {"a ZIP64 entry count of 2^64 - 1", true,
         [](TZipImage& AZip) { AZip.Put64(AZip.Zip64End + TZip64End::EntryCount, ~quint64{0}); }},
        {"a ZIP64 directory size of 2^64 - 1", true,
         [](TZipImage& AZip) { AZip.Put64(AZip.Zip64End + TZip64End::DirectorySize, ~quint64{0}); }},
        // The offset plus the size wraps around to a small number.
        {"a ZIP64 directory offset 16 bytes short of 2^64, with no entries counted", true,
         [](TZipImage& AZip) {
             AZip.Put64(AZip.Zip64End + TZip64End::EntryCount, 0);
             AZip.Put64(AZip.Zip64End + TZip64End::DirectoryOffset, ~quint64{0} - 15);
         }},
        {"an entry's ZIP64 extra field too short for the size", true,
         [](TZipImage& AZip) { AZip.Put16(FirstDirectoryExtra(AZip) + TExtraField::Length, 4); }},
        {"the last entry's extra data too short for the ZIP64 field's size", true,
         [](TZipImage& AZip) { AZip.Put16(AZip.Entries.back().DirectoryHeader + TDirectoryHeader::ExtraLength, 8); }},
    };

    TTempDir dir;
    for (const bool zip64 : {false, true}) {
        SCOPED_TRACE(zip64 ? "the well-formed ZIP64 archive" : "the well-formed archive");
        // With a comment that is no end record: the control of the comment's row.
        TZipImage good = SmallZip(zip64);
        Comment(good, QByteArray(TEndRecord::Size, 'c'));
        const QString file = dir.File(QStringLiteral("good-%1.zip").arg(zip64));
        good.Save(file);
        TZipDirectory directory;
        ASSERT_NO_THROW(directory = ReadZipDirectory(file));
        EXPECT_EQ(directory.EntryCount, 3);
        EXPECT_EQ(directory.DeclaredBytes, 12);
        EXPECT_TRUE(directory.HasUnixMode("sub/b.txt"));
        // Each entry's span runs to the next one's local header, the last one's to the directory.
        ASSERT_EQ(directory.Entries.size(), 3U);
        EXPECT_EQ(directory.DirectoryOffset, good.Directory);
        for (std::size_t n = 0; n < 3; ++n) {
            const qint64 next = n + 1 < 3 ? good.Entries[n + 1].LocalHeader : good.Directory;
            EXPECT_EQ(directory.Entries[n].LocalHeaderOffset, good.Entries[n].LocalHeader);
            EXPECT_EQ(directory.Entries[n].LocalHeaderOffset + directory.Entries[n].SpanLength, next);
        }
    }
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const TMalformedCase& c = cases[n];
        SCOPED_TRACE(c.Name);
        TZipImage zip = SmallZip(c.Zip64);
        c.Break(zip);
        const QString file = dir.File(QStringLiteral("malformed-%1.zip").arg(n));
        zip.Save(file);
        try {
            const TZipDirectory directory = ReadZipDirectory(file);
            ADD_FAILURE() << "read as " << directory.EntryCount << " entries of " << directory.DeclaredBytes
                          << " bytes";
        } catch (const EMalformedZip& fault) {
            EXPECT_FALSE(fault.Message().isEmpty());
        }
    }
}

// Two versions of one package, alike in every size, for a download resumed against a file
// that changed under it.
QByteArray PackageVersion(char AFill) {
    return TZipWriter()
        .File("first.bin", QByteArray(4096, AFill), 0644, TMethod::Stored)
        .File("second.bin", QByteArray(4096, AFill), 0644, TMethod::Stored)
        .Write()
        .Bytes;
}

// The small well-formed archive, its end record counting ACount of its 3 entries.
template <quint64 ACount>
QByteArray CountedAs() {
    TZipImage zip = SmallZip(false);
    zip.Put16(zip.EndRecord + TEndRecord::DiskEntryCount, ACount);
    zip.Put16(zip.EndRecord + TEndRecord::EntryCount, ACount);
    return zip.Bytes;
}

struct TUntrustworthyCase {
    const char* Name;
    QByteArray (*Make)();
    const char* Cause; // nullptr: the control, which installs
};

// A package whose structure can't be trusted as a whole is refused at opening, with the
// cause, before the installation writes anything: no file, no journal, no Updates folder.
// Before, each of these installed some of its entries (or none) and was logged as a success.
TEST(UnZipper, AnUntrustworthyPackageIsRefusedBeforeAnythingIsWritten) {
    const std::vector<TUntrustworthyCase> cases = {
        {"the well-formed package (control)", [] { return SmallZip(false).Bytes; }, nullptr},
        {"an end record that counts 0 of 3 entries", CountedAs<0>, "more records than the 0 its end record counts"},
        {"an end record that counts 2 of 3 entries", CountedAs<2>, "more records than the 2 its end record counts"},
        {"two records for the entries of one local header",
         [] {
             TZipImage zip = TZipWriter().File("a.txt", "one").File("b.txt", "two").Write();
             zip.Put32(zip.Entries[1].DirectoryHeader + TDirectoryHeader::LocalHeaderOffset, 0);
             zip.Bytes[zip.Entries[1].DirectoryHeader + TDirectoryHeader::Size] = 'a';
             return zip.Bytes;
         },
         "two entries are stored as \"a.txt\""},
        {"a second end record in the comment",
         [] {
             TZipImage zip = SmallZip(false);
             Comment(zip, TZipWriter().Write().Bytes);
             return zip.Bytes;
         },
         "second end record"},
        {"an entry that holds more than its directory record declares",
         [] {
             TZipImage zip = SmallZip(false);
             zip.Put32(zip.Entries[2].DirectoryHeader + TDirectoryHeader::UncompressedSize, 3);
             return zip.Bytes;
         },
         "the local header of \"sub/b.txt\" declares another CRC or size"},
        {"two names that are one path",
         [] { return TZipWriter().File("a/./b.txt", "1").File("a/b.txt", "2").Write().Bytes; },
         "the entries \"a/./b.txt\" and \"a/b.txt\" name the same file"},
        {"a UTF-8 name and a Windows name that decode alike",
         [] { return TZipWriter().File("\xC3\xA9t\xC3\xA9.txt", "1").WindowsFile("\x82t\x82.txt", "2").Write().Bytes; },
         "name the same file"},
        {"a download spliced from two versions",
         [] { return PackageVersion('1').left(2000) + PackageVersion('2').mid(2000); },
         "the local header of \"first.bin\" declares another CRC or size"},
    };
    TTempDir dir;
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const TUntrustworthyCase& c = cases[n];
        SCOPED_TRACE(c.Name);
        const QString zip = dir.File(QStringLiteral("package-%1.zip").arg(n));
        WriteFile(zip, c.Make());
        const QString folder = dir.File(QStringLiteral("app-%1").arg(n));
        WriteFile(folder + QStringLiteral("/kept.txt"), "kept");
        TInstaller installer;
        if (c.Cause == nullptr) {
            ASSERT_NO_THROW(installer.Install(zip, folder));
            ExpectSameTree(ReadTree(folder),
                           {{"a.txt", "hello"}, {"kept.txt", "kept"}, {"sub/", "dir"}, {"sub/b.txt", "world!!"}});
            continue;
        }
        try {
            installer.Install(zip, folder);
            ADD_FAILURE() << "installed";
        } catch (const EInstallationUndone& failure) {
            ADD_FAILURE() << "refused only while installing: " << failure.Message().toStdString();
        } catch (const Exception& failure) {
            EXPECT_TRUE(failure.Message().contains(QString::fromUtf8(c.Cause))) << failure.Message().toStdString();
        }
        ExpectSameTree(ReadTree(folder), {{"kept.txt", "kept"}});
    }
}

// An archive with no entries (22 bytes, as zip tools write it) is a readable package with
// nothing to install.
TEST(UnZipper, AnEmptyArchiveOpensAndInstallsNothing) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("empty.zip"));
    TZipWriter().Write().Save(zip);
    ASSERT_EQ(QFileInfo(zip).size(), 22);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/kept.txt"), "kept");
    TInstaller installer;
    std::vector<int> progress;
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t AProgress, bool&) {
        progress.push_back(AProgress);
    };
    ASSERT_NO_THROW(installer.Install(zip, folder));
    EXPECT_EQ(progress, std::vector<int>{100});
    ExpectSameTree(ReadTree(folder), {{"kept.txt", "kept"}});
}

// A path longer than the system allows is refused before anything of it is made: no folders,
// no temporary file, and the entry before it is undone. (Windows' extended-length paths hold
// 32,767 characters, POSIX systems' PATH_MAX fewer; a name holds 255 on both.)
TEST(UnZipper, APathTooLongForTheSystemLeavesNothing) {
    TTempDir dir;
    for (const QByteArray& path :
         {QByteArrayList(170, QByteArray(200, 'd')).join('/') + "/deep.txt", QByteArray(300, 'n')}) {
        SCOPED_TRACE(path.size());
        const QString zip = dir.File(QStringLiteral("long-%1.zip").arg(path.size()));
        TZipWriter().File("ok.txt", "fine").File(path, "too long").Write().Save(zip);
        const QString folder = dir.File(QStringLiteral("app-%1").arg(path.size()));
        TInstaller installer;
        const QString failure = installer.InstallUndone(zip, folder);
        EXPECT_TRUE(failure.endsWith(QStringLiteral(": the path is longer than the system allows")))
            << failure.toStdString();
        ExpectSameTree(ReadTree(folder), {});
    }
}

// Paths that the system holds are installed, however long: the temporary name that stands in
// for a long last name while it is staged is shorter than it, and Windows takes paths beyond
// MAX_PATH (260) in their extended-length form.
TEST(UnZipper, LongPathsThatTheSystemHoldsAreInstalled) {
    TTempDir dir;
    const QByteArray longName = QByteArray(251, 'n') + ".txt";
    const QByteArray deepPath = QByteArrayList(12, QByteArray(20, 'd')).join('/') + '/' + QByteArray(230, 'f');
    const QString zip = dir.File(QStringLiteral("long.zip"));
    TZipWriter()
        .File(longName, "a name of 255")
        .File("long/" + QByteArray(241, 'l') + ".txt", "a path of 250")
        .File(deepPath, "a path of 482")
        .Write()
        .Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + u'/' + QString::fromLatin1(longName), "old");
    TInstaller installer;
    ASSERT_NO_THROW(installer.Install(zip, folder));
    EXPECT_EQ(installer.UnZipper.Counts().Replaced, 1);
    EXPECT_EQ(ReadFile(folder + u'/' + QString::fromLatin1(longName)), "a name of 255");
    EXPECT_EQ(ReadFile(folder + QStringLiteral("/long/") + QString(241, u'l') + QStringLiteral(".txt")),
              "a path of 250");
    EXPECT_EQ(ReadFile(folder + u'/' + QString::fromLatin1(deepPath)), "a path of 482");
    const TTree tree = ReadTree(folder);
    EXPECT_EQ(std::count_if(tree.begin(), tree.end(),
                            [](const auto& AEntry) { return AEntry.first.find(".zlt-") != std::string::npos; }),
              0);
}

// Names as each kind of tool stores them, and what they become on either system: a name marked
// UTF-8 is UTF-8; an unmarked one made on Unix is UTF-8 when its bytes are; any other is in the
// OEM code page (850 on Linux, the system's on Windows: 437 under Wine, which agrees with 850 on
// the lowercase letters of these names).
TEST(UnZipper, NamesAsEachToolStoresThem) {
    struct TCase {
        const char* Tool;
        QByteArray Stored;
        const char16_t* Expected;
        enum { Marked, UnixUnmarked, WindowsFolder } Kind;
    };
    const TCase cases[] = {
        {"7-Zip", "\xE2\x82\xAC.txt", u"\u20AC.txt", TCase::Marked},
        {"7-Zip", "\xC5\x92uvre.txt", u"\u0152uvre.txt", TCase::Marked},
        {"7-Zip", "\xCE\xA9.txt", u"\u03A9.txt", TCase::Marked},
        {"7-Zip", "\xC5\x81\xC3\xB3\x64\xC5\xBA.txt", u"\u0141\u00F3d\u017A.txt", TCase::Marked},
        {"7-Zip", "\xE6\x97\xA5\xE6\x9C\xAC.txt", u"\u65E5\u672C.txt", TCase::Marked},
        {"Info-ZIP on Unix", "Configuraci\xC3\xB3n.ini", u"Configuraci\u00F3n.ini", TCase::UnixUnmarked},
        {"a Unix tool in a Latin-1 locale", "r\x82sum\x82.txt", u"r\u00E9sum\u00E9.txt", TCase::UnixUnmarked},
        {"Windows' compressed folder", "Configuraci\xA2n.cfg", u"Configuraci\u00F3n.cfg", TCase::WindowsFolder},
        {"Windows' compressed folder", "A\xA4o.txt", u"A\u00F1o.txt", TCase::WindowsFolder},
        {"Windows' compressed folder", "\xA4\x61nd\xA3.dat", u"\u00F1and\u00FA.dat", TCase::WindowsFolder},
    };
    TZipWriter writer;
    for (const TCase& c : cases) {
        if (c.Kind == TCase::WindowsFolder)
            writer.WindowsFile(c.Stored, c.Tool);
        else
            writer.File(c.Stored, c.Tool);
        if (c.Kind == TCase::UnixUnmarked) writer.Unmarked();
    }
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("names.zip"));
    writer.Write().Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    TInstaller installer;
    QStringList shown;
    installer.UnZipper.OnConfirmProcessItem = [&](TZLTUnZipper*, const TZLTZipItem& AItem, TZLTProcessType, bool&) {
        shown << AItem.FileName;
    };
    ASSERT_NO_THROW(installer.Install(zip, folder));
    const TTree tree = ReadTree(folder);
    ASSERT_EQ(shown.size(), std::ssize(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const QString expected = QString::fromUtf16(cases[i].Expected);
        SCOPED_TRACE(std::string(cases[i].Tool) + ": " + expected.toStdString());
        EXPECT_EQ(shown[static_cast<qsizetype>(i)], expected) << "the name the handlers see";
        const auto file = tree.find(expected.toStdString());
        EXPECT_TRUE(file != tree.end() && file->second == cases[i].Tool) << "the file on the disk";
    }
    EXPECT_EQ(tree.size(), std::size(cases));
}

// The caller may stand in a folder that it may enter but not list, or one that was deleted:
// the extraction works in the target folder all the same. Runs as an ordinary user, for whom
// the permissions hold.
TEST(UnZipper, WorksWhateverTheCallersWorkingFolder) {
    if (!qEnvironmentVariableIsSet("ZLT_TEST_CALLER_FOLDER")) {
        ZLT_REQUIRE_NOBODY();
        EXPECT_EQ(RunCurrentTestAsNobody({{"ZLT_TEST_CALLER_FOLDER", "1"}}), 0);
        return;
    }
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter().File("bin/app", "new").Write().Save(zip);
    const QString previous = QDir::currentPath();
    for (const char* kind : {"may be entered, not listed", "deleted"}) {
        SCOPED_TRACE(kind);
        const QString caller = dir.File(QString::fromLatin1(kind).replace(u' ', u'_').remove(u','));
        ASSERT_TRUE(QDir().mkpath(caller));
        ASSERT_TRUE(QDir::setCurrent(caller));
        if (QByteArrayView(kind) == "deleted")
            ASSERT_TRUE(QDir().rmdir(caller));
        else
            ASSERT_TRUE(QFile::setPermissions(caller, QFile::ExeOwner));
        const QString folder = dir.File(QStringLiteral("app-") + QString::number(qHash(QString::fromLatin1(kind))));
        TInstaller installer;
        EXPECT_NO_THROW(installer.Install(zip, folder));
        EXPECT_EQ(ReadFile(folder + QStringLiteral("/bin/app")), "new");
        QDir::setCurrent(previous);
        QFile::setPermissions(caller, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

struct TDamageCase {
    const char* Name;
    TMethod Method;
    // How the stored data of a damaged entry, from its first byte AData on, is spoilt.
    void (*Spoil)(QByteArray& AZip, qint64 AData);
};

void PrintTo(const TDamageCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class UnZipperDamaged : public testing::TestWithParam<TDamageCase> {};

TEST_P(UnZipperDamaged, NeverReplacesAGoodFileNorLeavesACutOne) {
    const TDamageCase& c = GetParam();
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipImage image = TZipWriter()
                          .File("first.txt", "first")
                          .File("good.db", QByteArray("NEW DATA ").repeated(50000), 0644, c.Method)
                          .File("fresh.db", QByteArray("FRESH DATA ").repeated(50000), 0644, c.Method)
                          .File("last.txt", "last")
                          .Write();
    for (const std::size_t damaged : {std::size_t{1}, std::size_t{2}})
        c.Spoil(image.Bytes, image.Entries[damaged].Data);
    image.Save(zip);
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/good.db"), "OLD GOOD DATA");

    // libarchive grades a bad checksum WARN and a broken stream FATAL: either undoes it all.
    TInstaller installer;
    const QString cwd = QDir::currentPath();
    const QString failure = installer.InstallUndone(zip, folder);
    EXPECT_TRUE(failure.startsWith(QStringLiteral("good.db: "))) << failure.toStdString();
    ExpectSameTree(ReadTree(folder), {{"good.db", "OLD GOOD DATA"}});
    EXPECT_EQ(QDir::currentPath(), cwd);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnZipperDamaged,
    testing::Values(
        // A flipped byte spoils only the checksum of a stored entry.
        TDamageCase{"stored_bad_checksum", TMethod::Stored,
                    [](QByteArray& AZip, qint64 AData) { AZip[static_cast<qsizetype>(AData + 1000)] ^= char(0xFF); }},
        // A first block of the reserved type stops inflate itself.
        TDamageCase{"deflated_broken_stream", TMethod::Deflated,
                    [](QByteArray& AZip, qint64 AData) { AZip[static_cast<qsizetype>(AData)] = 0x07; }}),
    [](const testing::TestParamInfo<TDamageCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(UnZipper, ProgressRisesFromTheFirstEntryToHundred) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter writer;
    writer.Folder("data/");
    for (int n = 0; n < 6; ++n) writer.File("data/f" + QByteArray::number(n) + ".txt", QByteArray(n, 'x'));
    writer.Write().Save(zip);
    TInstaller installer;
    std::vector<int> seen;
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t Progress, bool& Abort) {
        EXPECT_FALSE(Abort);
        seen.push_back(Progress);
    };
    installer.Install(zip, dir.File(QStringLiteral("app")));
    // Seven entries, then 100 at the end, once they are in place.
    EXPECT_EQ(seen, (std::vector<int>{14, 28, 42, 57, 71, 85, 100, 100}));
}

TEST(UnZipper, AbortFromTheProgressHandlerUndoesTheInstallation) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    TZipWriter writer;
    for (int n = 0; n < 5; ++n) writer.File("f" + QByteArray::number(n) + ".txt", "x");
    writer.Write().Save(zip);
    TInstaller installer;
    int calls = 0;
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t, bool& Abort) { Abort = ++calls == 2; };
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/f0.txt"), "old");
    EXPECT_EQ(installer.InstallUndone(zip, folder),
              QStringLiteral("f1.txt: the installation was stopped by its progress handler"));
    EXPECT_EQ(calls, 2);
    ExpectSameTree(ReadTree(folder), {{"f0.txt", "old"}});
}

// --- the same tree from every tool -----------------------------------------------------------

struct TRecipe {
    const char* Name;
    const char* Program; // skipped with a reason when missing
    // Arguments; OUT is the archive, SRC the source folder (also the working directory).
    std::vector<const char*> Arguments;
    bool ManyEntries = false; // the source tree with 10,000 more files
};

// Python's zipfile: every folder as an entry, files by the method given in argv[3]; "zip64"
// forces the zip64 records on every file.
constexpr const char* PythonRecipe = R"(
import os, sys, zipfile
out, src, kind = sys.argv[1:4]
method = zipfile.ZIP_STORED if kind == 'stored' else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(out, 'w', method) as z:
    for root, dirs, files in os.walk(src):
        dirs.sort()
        for d in dirs:
            z.write(os.path.join(root, d), os.path.relpath(os.path.join(root, d), src))
        for f in sorted(files):
            path = os.path.join(root, f)
            info = zipfile.ZipInfo.from_file(path, os.path.relpath(path, src))
            info.compress_type = method
            with open(path, 'rb') as i, z.open(info, 'w', force_zip64=(kind == 'zip64')) as o:
                o.write(i.read())
)";

void PrintTo(const TRecipe& ARecipe, std::ostream* AOut) { *AOut << ARecipe.Name; }

class UnZipperTools : public testing::TestWithParam<TRecipe> {
protected:
    // A program, a compressible file, an empty file, an empty folder, non-ASCII names; the
    // second tree adds a folder of 10,000 small files.
    static void FillTree(const TTempDir& ADir, bool AManyEntries) {
        WriteRandomFile(ADir.File(QStringLiteral("app.exe")), 300000, 7);
        QByteArray text;
        for (int n = 0; n < 20000; ++n) text += "row " + QByteArray::number(n) + " of the base\n";
        WriteFile(ADir.File(QStringLiteral("data/base.db")), text);
        WriteFile(ADir.File(QStringLiteral("data/empty.txt")), "");
        QDir().mkpath(ADir.File(QStringLiteral("logs/empty")));
        WriteFile(ADir.File(QStringLiteral("ñandú/café.txt")), "café con leche");
        if (!AManyEntries) return;
        for (int n = 0; n < 10000; ++n)
            WriteFile(ADir.File(QStringLiteral("many/%1/f%2.txt").arg(n / 1000).arg(n)), QByteArray::number(n));
    }
    // Each tree is made when a case first needs it: a case may run alone in its own process,
    // and the tree of 10,000 files costs seconds.
    static const TTempDir& Source(bool AManyEntries) {
        if (Sources[AManyEntries] == nullptr) {
            Sources[AManyEntries] = new TTempDir;
            FillTree(*Sources[AManyEntries], AManyEntries);
            Expected[AManyEntries] = new TTree(ReadTree(Sources[AManyEntries]->Path()));
        }
        return *Sources[AManyEntries];
    }
    static void TearDownTestSuite() {
        for (const bool many : {false, true}) {
            delete Expected[many];
            delete Sources[many];
            Expected[many] = nullptr;
            Sources[many] = nullptr;
        }
    }
    static inline TTempDir* Sources[2] = {};
    static inline TTree* Expected[2] = {};
};

TEST_P(UnZipperTools, ExtractToTheSameTree) {
    const TRecipe& recipe = GetParam();
    const QString program = QString::fromLatin1(recipe.Program);
    if (!HaveProgram(program)) GTEST_SKIP() << recipe.Program << " is not installed, so its ZIPs are not tried";
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("package.zip"));
    // A UTF-8 locale, so that every tool stores the non-ASCII names as UTF-8. A heap that keeps
    // 64 MiB of slack: bsdtar and Python's zlib otherwise give memory back to the system and ask
    // for it again at every entry, which takes them seconds for 10,000 entries; the archives'
    // bytes are the same.
    QStringList arguments{QStringLiteral("LC_ALL=C.UTF-8"), QStringLiteral("MALLOC_TOP_PAD_=67108864"),
                          program == QLatin1String("python3") ? Python3() : program};
    for (const char* argument : recipe.Arguments)
        arguments << QString::fromUtf8(argument)
                         .replace(QStringLiteral("OUT"), zip)
                         .replace(QStringLiteral("SRC"), Source(recipe.ManyEntries).Path())
                         .replace(QStringLiteral("PYTHON"), QString::fromUtf8(PythonRecipe));
    QByteArray output;
    ASSERT_EQ(RunProgram(QStringLiteral("env"), arguments, &output, Source(recipe.ManyEntries).Path()), 0)
        << output.toStdString();

    const QString folder = dir.File(QStringLiteral("app"));
    TInstaller installer;
    installer.Install(zip, folder);
    ExpectSameTree(ReadTree(folder), *Expected[recipe.ManyEntries]);
}

INSTANTIATE_TEST_SUITE_P(
    Tools, UnZipperTools,
    testing::Values(TRecipe{"zip_deflated", "zip", {"-q", "-r", "OUT", "."}},
                    TRecipe{"zip_10000_entries", "zip", {"-q", "-r", "OUT", "."}, true},
                    TRecipe{"zip_stored", "zip", {"-q", "-r", "-0", "OUT", "."}},
                    TRecipe{"zip_zip64", "zip", {"-q", "-r", "-fz", "OUT", "."}},
                    TRecipe{"7z_deflated", "7z", {"a", "-tzip", "-bd", "-mcu=on", "OUT", "*"}},
                    TRecipe{"7z_stored", "7z", {"a", "-tzip", "-bd", "-mcu=on", "-mx0", "OUT", "*"}},
                    TRecipe{"bsdtar_deflated", "bsdtar", {"--format", "zip", "-cf", "OUT", "."}},
                    TRecipe{"bsdtar_10000_entries", "bsdtar", {"--format", "zip", "-cf", "OUT", "."}, true},
                    TRecipe{"bsdtar_stored",
                            "bsdtar",
                            {"--format", "zip", "--options", "zip:compression=store", "-cf", "OUT", "."}},
                    TRecipe{"python_deflated", "python3", {"-c", "PYTHON", "OUT", "SRC", "deflated"}},
                    TRecipe{"python_stored", "python3", {"-c", "PYTHON", "OUT", "SRC", "stored"}},
                    TRecipe{"python_zip64", "python3", {"-c", "PYTHON", "OUT", "SRC", "zip64"}},
                    TRecipe{"python_zip64_10000_entries", "python3", {"-c", "PYTHON", "OUT", "SRC", "zip64"}, true}),
    [](const testing::TestParamInfo<TRecipe>& AInfo) { return std::string(AInfo.param.Name); });

// --- all or nothing ----------------------------------------------------------------------------

// The application's folder as the updater finds it (an old version, a user's file, the package
// in Updates/), and what it holds once the package is installed.
struct TVersions {
    QString Zip;
    TTree Old;
    TTree New;

    static TVersions Make(const TTempDir& ADir) {
        TVersions versions;
        const QString source = ADir.File(QStringLiteral("source"));
        WriteFile(source + QStringLiteral("/app.exe"), "old program");
        WriteFile(source + QStringLiteral("/data/base.db"), "old base");
        WriteFile(source + QStringLiteral("/keep.txt"), "the user's");
        versions.Zip = ADir.File(QStringLiteral("update.zip"));
        TZipWriter()
            .File("app.exe", "new program", 0755)
            .File("data/base.db", "new base")
            .File("plugins/new/tool.dll", "new tool")
            .Link("current", "data")
            .File("readme.txt", "new readme")
            .Write()
            .Save(versions.Zip);
        WriteFile(source + QStringLiteral("/Updates/update.zip"), ReadFile(versions.Zip));
        versions.Old = ReadTree(source);
        versions.New = versions.Old;
        versions.New["app.exe"] = "new program";
        versions.New["data/base.db"] = "new base";
        versions.New["plugins/"] = "dir";
        versions.New["plugins/new/"] = "dir";
        versions.New["plugins/new/tool.dll"] = "new tool";
        versions.New["current"] = "-> data";
        versions.New["readme.txt"] = "new readme";
        return versions;
    }

    // A fresh copy of the old version.
    QString Place(const TTempDir& ADir, const QString& AName) const {
        const QString folder = ADir.File(AName);
        for (const auto& [name, data] : Old)
            if (!QByteArrayView(name.c_str()).endsWith('/'))
                WriteFile(folder + u'/' + QString::fromStdString(name), data);
        return folder;
    }
};

// The process ends (as by a kill) at every step of the installation in turn: during the staging,
// before and after each rename of the commit, before its last flush, before and after the mark
// that the commit is done. The next run's recovery finds the folder wholly old, or wholly new
// once the commit was marked done; never a mix, never a temporary left.
TEST(UnZipperCommit, AKillAtAnyStepIsFinishedByTheNextRunToOneWholeVersion) {
    TTempDir dir;
    if (!LinksCanBeMade(dir)) GTEST_SKIP() << "this system makes no symbolic links (Wine) and no fork for a kill";
    GTEST_FLAG_SET(death_test_style, "fast");
    const TVersions versions = TVersions::Make(dir);

    int steps = 0;
    SetCommitStepHook([&steps](int ACount) { steps = ACount + 1; });
    TInstaller whole;
    whole.Install(versions.Zip, versions.Place(dir, QStringLiteral("whole")));
    SetCommitStepHook({});
    ExpectSameTree(ReadTree(dir.File(QStringLiteral("whole"))), versions.New);
    ASSERT_EQ(steps, 2 * 5 + 3) << "two renames for each of the five files and links, two flushes, the mark";

    // Step -1 ends the process in the progress handler, after the third entry is staged.
    for (int kill = -1; kill < steps; ++kill) {
        SCOPED_TRACE("killed at step " + std::to_string(kill));
        const QString folder = versions.Place(dir, QStringLiteral("killed%1").arg(kill));
        EXPECT_EXIT(
            {
                TInstaller installer;
                installer.UnZipper.OnArchiveProgress = [kill](TZLTUnZipper*, std::uint8_t AShare, bool&) {
                    if (kill == -1 && AShare == 60) std::_Exit(77);
                };
                SetCommitStepHook([kill](int ACount) {
                    if (ACount == kill) std::_Exit(77);
                });
                installer.Install(versions.Zip, folder);
                std::_Exit(0);
            },
            testing::ExitedWithCode(77), "");
        const TRecovery recovery = RecoverInstallation(folder);
        EXPECT_TRUE(recovery.Found);
        EXPECT_TRUE(recovery.Problems.isEmpty()) << recovery.Problems.join(u'\n').toStdString();
        const bool committed = kill == steps - 1;
        EXPECT_EQ(recovery.Forward, committed);
        ExpectSameTree(ReadTree(folder), committed ? versions.New : versions.Old);
        EXPECT_FALSE(RecoverInstallation(folder).Found) << "the journal is gone";
    }
}

// An old file that can't be moved aside makes the commit go back, after other files were
// replaced already: as an ordinary user, the old file belongs to root in a folder anyone may
// write but only its owner may rename in (the sticky bit, as /tmp).
TEST(UnZipperCommit, AFileThatCannotBeMovedAsideUndoesTheCommit) {
    const QByteArray given = qgetenv("ZLT_TEST_COMMIT_FOLDER");
    if (given.isEmpty()) {
        ZLT_REQUIRE_NOBODY();
        TTempDir dir;
        const TVersions versions = TVersions::Make(dir);
        const QString folder = versions.Place(dir, QStringLiteral("app"));
        WriteFile(folder + QStringLiteral("/locked/z.dll"), "old z");
        TZipWriter()
            .File("app.exe", "new program", 0755)
            .File("fresh/x.txt", "new x")
            .File("locked/z.dll", "new z")
            .Write()
            .Save(folder + QStringLiteral("/Updates/update.zip"));
        const TTree before = ReadTree(folder);
        const QString owner = QString::number(NobodyId) + u':' + QString::number(NobodyId);
        ASSERT_EQ(RunProgram(QStringLiteral("chmod"), {QStringLiteral("755"), dir.Path()}), 0);
        ASSERT_EQ(RunProgram(QStringLiteral("chown"), {QStringLiteral("-R"), owner, folder}), 0);
        ASSERT_EQ(RunProgram(QStringLiteral("chown"),
                             {QStringLiteral("-R"), QStringLiteral("0:0"), folder + QStringLiteral("/locked")}),
                  0);
        ASSERT_EQ(RunProgram(QStringLiteral("chmod"), {QStringLiteral("1777"), folder + QStringLiteral("/locked")}), 0);
        EXPECT_EQ(RunCurrentTestAsNobody({{"ZLT_TEST_COMMIT_FOLDER", QFile::encodeName(folder)}}), 0);
        ExpectSameTree(ReadTree(folder), before);
        return;
    }
    const QString folder = QFile::decodeName(given);
    TInstaller installer;
    const QString failure = installer.InstallUndone(folder + QStringLiteral("/Updates/update.zip"), folder);
    EXPECT_TRUE(failure.startsWith(QStringLiteral("locked/z.dll: "))) << failure.toStdString();
    EXPECT_EQ(ReadFile(folder + QStringLiteral("/app.exe")), "old program");
}

// A journal is read as the hostile file it may be: names that lead out, through a link or to
// another file system, and names that an installation never makes, are left alone.
TEST(UnZipperCommit, RecoveryTouchesOnlyTheNamesAnInstallationMakes) {
    TTempDir dir;
    const QString folder = dir.File(QStringLiteral("app"));
    const QString outside = dir.File(QStringLiteral("outside"));
    for (const char* name : {"keep.txt", "data/.zlt-1.tmp", "data/.zlt-2.old"})
        WriteFile(folder + u'/' + QString::fromLatin1(name), "the user's");
    WriteFile(outside + QStringLiteral("/.zlt-3.tmp"), "outside");
    WriteFile(outside + QStringLiteral("/victim.txt"), "outside");
    const bool links = LinksCanBeMade(dir);
    if (links) fs::create_directory_symlink(SystemPath(outside), SystemPath(folder + QStringLiteral("/planted")));
    QDir().mkpath(folder + QStringLiteral("/Updates"));
    const TTree before = ReadTree(folder);
    WriteFile(JournalFileName(folder), "zlt-journal 1\n"
                                       "temp ../outside/.zlt-3.tmp\n"
                                       "temp planted/.zlt-3.tmp\n"
                                       "temp keep.txt\n"
                                       "folder data\n"
                                       "step ../outside/victim.txt data/.zlt-9.tmp -\n"
                                       "step planted/victim.txt data/.zlt-9.tmp -\n"
                                       "step keep.txt data/.zlt-1.tmp data/.zlt-2.old\n"
                                       "commit\n");
    const TRecovery recovery = RecoverInstallation(folder);
    EXPECT_TRUE(recovery.Found);
    EXPECT_EQ(recovery.Restored, 0);
    EXPECT_FALSE(recovery.Problems.isEmpty());
    EXPECT_TRUE(QFile::remove(JournalFileName(folder))) << "a journal not applied whole stays";
    ExpectSameTree(ReadTree(folder), before);
    EXPECT_EQ(ReadTree(outside).size(), 2u);
}

// --- the previous version kept ------------------------------------------------------------------

// The new version, with the old one kept in Updates/previous/ (its list left out: see
// ExpectKeptList).
TTree WithKept(TTree ATree, const TTree& AKept) {
    ATree["Updates/previous/"] = "dir";
    for (const auto& [name, data] : AKept) ATree["Updates/previous/" + name] = data;
    return ATree;
}

const TTree OldKept{{"app.exe", "old program"}, {"data/", "dir"}, {"data/base.db", "old base"}};

TTree WithoutList(TTree ATree) {
    ATree.erase("Updates/previous/previous.list");
    return ATree;
}

void ExpectKeptList(const QString& AFolder, std::vector<QByteArray> AReplaced, std::vector<QByteArray> AAdded) {
    const std::optional<TPreviousVersion> kept = ReadPreviousVersion(AFolder);
    ASSERT_TRUE(kept.has_value()) << "no readable list";
    std::vector<QByteArray> replaced = kept->Replaced;
    std::vector<QByteArray> added = kept->Added;
    std::sort(replaced.begin(), replaced.end());
    std::sort(added.begin(), added.end());
    EXPECT_EQ(replaced, AReplaced);
    EXPECT_EQ(added, AAdded);
}

// The installation as the updater runs it: the replaced files wait for the verdict.
void InstallKeeping(const TVersions& AVersions, const QString& AFolder) {
    TInstaller installer;
    installer.UnZipper.KeepReplaced = true;
    installer.Install(AVersions.Zip, AFolder);
    ASSERT_TRUE(InstallationAwaitsVerdict(AFolder));
}

// The verdicts: a failed trial puts the old version back whole and keeps nothing; a passed one
// keeps the replaced files (and replaces an older kept version whole); a rollback goes back to
// them and keeps the version it leaves, so a second rollback returns to it.
TEST(PreviousVersion, AVerdictKeepsOrRestoresAndRollbacksGoBackAndForth) {
    TTempDir dir;
    if (!LinksCanBeMade(dir)) GTEST_SKIP() << "the versions hold a link, which this system does not make (Wine)";
    const TVersions versions = TVersions::Make(dir);
    const QString failed = versions.Place(dir, QStringLiteral("failed"));
    ASSERT_NO_FATAL_FAILURE(InstallKeeping(versions, failed));
    const TRecovery undone = FinishInstallation(failed, false);
    EXPECT_TRUE(undone.RolledBack);
    EXPECT_TRUE(undone.Problems.isEmpty()) << undone.Problems.join(u'\n').toStdString();
    ExpectSameTree(ReadTree(failed), versions.Old);

    const QString folder = versions.Place(dir, QStringLiteral("passed"));
    WriteFile(folder + QStringLiteral("/Updates/previous/stale.txt"), "a version before the last");
    ASSERT_NO_FATAL_FAILURE(InstallKeeping(versions, folder));
    const TRecovery kept = FinishInstallation(folder, true);
    EXPECT_TRUE(kept.PreviousKept) << kept.PreviousNotKept.toStdString();
    ExpectSameTree(WithoutList(ReadTree(folder)), WithKept(versions.New, OldKept));
    ExpectKeptList(folder, {"app.exe", "data/base.db"}, {"current", "plugins/new/tool.dll", "readme.txt"});
    EXPECT_FALSE(InstallationAwaitsVerdict(folder));

    const TRestored back = RestorePreviousVersion(folder, {});
    EXPECT_EQ(back.Committed.Replaced, 2);
    EXPECT_EQ(back.Committed.Removed, 3);
    TTree expected = versions.Old;
    expected.erase("Updates/update.zip");
    TTree actual = ReadTree(folder);
    actual.erase("Updates/update.zip");
    for (auto it = actual.begin(); it != actual.end();)
        it = it->first.starts_with("Updates/previous") ? actual.erase(it) : std::next(it);
    ExpectSameTree(actual, expected);
    ExpectKeptList(folder, {"app.exe", "current", "data/base.db", "plugins/new/tool.dll", "readme.txt"}, {});

    RestorePreviousVersion(folder, {});
    ExpectSameTree(WithoutList(ReadTree(folder)), WithKept(versions.New, OldKept));
}

// A kill at any step of a commit that keeps the replaced files, or during the trial after it:
// the next run's recovery finds the old version whole, or the new one with the old one kept
// (a trial that no verdict ended counts as passed).
TEST(PreviousVersion, AKillBeforeTheVerdictIsFinishedAsPassed) {
    TTempDir dir;
    if (!LinksCanBeMade(dir)) GTEST_SKIP() << "this system makes no symbolic links (Wine) and no fork for a kill";
    GTEST_FLAG_SET(death_test_style, "fast");
    const TVersions versions = TVersions::Make(dir);
    const int steps = 2 * 5 + 3;
    for (int kill = 0; kill <= steps; ++kill) {
        SCOPED_TRACE("killed at step " + std::to_string(kill));
        const QString folder = versions.Place(dir, QStringLiteral("killed%1").arg(kill));
        EXPECT_EXIT(
            {
                SetCommitStepHook([kill](int ACount) {
                    if (ACount == kill) std::_Exit(77);
                });
                TInstaller installer;
                installer.UnZipper.KeepReplaced = true;
                installer.Install(versions.Zip, folder);
                std::_Exit(77); // step 13: killed during the trial
            },
            testing::ExitedWithCode(77), "");
        const TRecovery recovery = RecoverInstallation(folder);
        EXPECT_TRUE(recovery.Problems.isEmpty()) << recovery.Problems.join(u'\n').toStdString();
        const bool committed = kill >= steps - 1;
        EXPECT_EQ(recovery.PreviousKept, committed);
        ExpectSameTree(WithoutList(ReadTree(folder)), committed ? WithKept(versions.New, OldKept) : versions.Old);
        EXPECT_FALSE(RecoverInstallation(folder).Found) << "the journal is gone";
    }
}

// Cut in the middle of the verdict: a rollback that had put one file back, a keep that had moved
// one file. The recovery goes on the way the verdict went.
TEST(PreviousVersion, AVerdictCutMidwayIsFinishedTheWayItWent) {
    TTempDir dir;
    if (!LinksCanBeMade(dir)) GTEST_SKIP() << "the versions hold a link, which this system does not make (Wine)";
    const TVersions versions = TVersions::Make(dir);
    for (const bool passed : {false, true}) {
        SCOPED_TRACE(passed ? "keep" : "rollback");
        const QString folder = versions.Place(dir, passed ? QStringLiteral("keep") : QStringLiteral("rollback"));
        ASSERT_NO_FATAL_FAILURE(InstallKeeping(versions, folder));
        const QString journal = JournalFileName(folder);
        QByteArray aside;
        for (const QByteArray& line : ReadFile(journal).split('\n'))
            if (line.startsWith("step app.exe ")) aside = line.split(' ').at(3);
        ASSERT_FALSE(aside.isEmpty());
        const QString from = folder + u'/' + QString::fromUtf8(aside);
        if (passed) {
            QDir().mkpath(folder + QStringLiteral("/Updates/previous.new"));
            ASSERT_TRUE(QFile::rename(from, folder + QStringLiteral("/Updates/previous.new/app.exe")));
        } else {
            WriteFile(journal, ReadFile(journal) + "rollback\n");
            ASSERT_TRUE(platform::RenameOver(from, folder + QStringLiteral("/app.exe")).isEmpty());
        }
        const TRecovery recovery = RecoverInstallation(folder);
        EXPECT_TRUE(recovery.Problems.isEmpty()) << recovery.Problems.join(u'\n').toStdString();
        EXPECT_EQ(recovery.RolledBack, !passed);
        ExpectSameTree(WithoutList(ReadTree(folder)), passed ? WithKept(versions.New, OldKept) : versions.Old);
    }
}

// A kept version is read as the hostile folder it may be: a list that names a file that is
// missing, or one reached through a link, stops the rollback before anything changes. The
// control row: the same folder whose list names only what is there.
TEST(PreviousVersion, ARollbackWithAFileMissingOrOutsideChangesNothing) {
    TTempDir dir;
    const bool links = LinksCanBeMade(dir);
    for (const char* listed : {"", "gone.txt", "planted/secret.txt"}) {
        SCOPED_TRACE(listed);
        if (!links && QByteArray(listed).contains('/')) continue;
        const QString folder = dir.File(QStringLiteral("app%1").arg(QByteArray(listed).size()));
        WriteFile(folder + QStringLiteral("/app.exe"), "current");
        WriteFile(dir.File(QStringLiteral("outside/secret.txt")), "not ours");
        WriteFile(folder + QStringLiteral("/Updates/previous/app.exe"), "previous");
        WriteFile(folder + QStringLiteral("/Updates/previous/previous.list"),
                  "zlt-previous 1\nreplaced app.exe\n" + (*listed ? "replaced " + QByteArray(listed) + "\n" : ""));
        if (links)
            fs::create_directory_symlink(SystemPath(dir.File(QStringLiteral("outside"))),
                                         SystemPath(folder + QStringLiteral("/Updates/previous/planted")));
        const TTree before = ReadTree(folder);
        if (*listed == '\0') {
            // The updater's own files are never the kept version's to remove.
            WriteFile(folder + QStringLiteral("/Updates/updater.lock"), "");
            WriteFile(folder + QStringLiteral("/Updates/previous/previous.list"),
                      ReadFile(folder + QStringLiteral("/Updates/previous/previous.list")) +
                          "added Updates/updater.lock\nadded updates/previous/app.exe\n");
            RestorePreviousVersion(folder, {});
            EXPECT_EQ(ReadFile(folder + QStringLiteral("/app.exe")), "previous");
            EXPECT_TRUE(QFileInfo::exists(folder + QStringLiteral("/Updates/updater.lock")));
            continue;
        }
        EXPECT_THROW(RestorePreviousVersion(folder, {}), Exception);
        ExpectSameTree(ReadTree(folder), before);
    }
}

// The space check may take the kept version's room: its size counts its files only, and its
// removal takes a link under its names away, never what the link leads to.
TEST(PreviousVersion, ItsSizeAndItsRemovalStayInsideIt) {
    TTempDir dir;
    const QString folder = dir.File(QStringLiteral("app"));
    QDir().mkpath(folder + QStringLiteral("/Updates"));
    EXPECT_EQ(PreviousVersionBytes(folder), 0);
    EXPECT_FALSE(RemovePreviousVersion(folder)) << "nothing is kept";
    WriteFile(folder + QStringLiteral("/Updates/previous/app.exe"), QByteArray(1000, 'a'));
    WriteFile(folder + QStringLiteral("/Updates/previous/data/base.db"), QByteArray(24, 'b'));
    WriteFile(dir.File(QStringLiteral("outside/big.bin")), QByteArray(5000, 'c'));
    if (LinksCanBeMade(dir)) {
        fs::create_directory_symlink(SystemPath(dir.File(QStringLiteral("outside"))),
                                     SystemPath(folder + QStringLiteral("/Updates/previous/linked")));
        fs::create_directory_symlink(SystemPath(dir.File(QStringLiteral("outside"))),
                                     SystemPath(folder + QStringLiteral("/Updates/previous.old")));
    }
    EXPECT_EQ(PreviousVersionBytes(folder), 1024);
    EXPECT_TRUE(RemovePreviousVersion(folder));
    ExpectSameTree(ReadTree(folder), {{"Updates/", "dir"}});
    EXPECT_EQ(ReadFile(dir.File(QStringLiteral("outside/big.bin"))).size(), 5000);
}

} // namespace
} // namespace zlt::test
