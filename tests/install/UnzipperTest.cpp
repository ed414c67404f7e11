// TZLTUnZipper against archives made by real tools at test time: what lands, what is refused
// (not a ZIP, paths and links that lead out, damaged entries), what an unwritable entry does,
// the permission bits, the progress, and the same tree from every tool.

#include "install/Unzipper.h"
#include "install/ZipDirectory.h"
#include "common/Errors.h"
#include "platform/Exception.h"
#include "platform/Files.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <gtest/gtest.h>

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

// Helpers every Python-made archive may use: put() with any name, mode and method, link() for
// a symbolic link (Unix mode in the external attributes, the target as the data).
constexpr const char* PythonPreamble = R"(
import os, sys, zipfile
Z = sys.argv[1]
def put(z, name, data, mode=0o644, method=zipfile.ZIP_DEFLATED):
    i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
    i.create_system = 3
    i.external_attr = (0o100000 | mode) << 16
    i.compress_type = method
    z.writestr(i, data)
def folder(z, name):
    i = zipfile.ZipInfo(name.rstrip('/') + '/', (2020, 1, 2, 3, 4, 6))
    i.create_system = 3
    i.external_attr = (0o040755 << 16) | 0x10
    z.writestr(i, b'')
def dos(z, name, data, readonly=False):
    # As Windows tools store an entry: made on MS-DOS, no Unix mode, only the DOS attributes.
    i = zipfile.ZipInfo(name, (2020, 1, 2, 3, 4, 6))
    i.create_system = 0
    i.external_attr = 0x01 if readonly else 0x20
    i.compress_type = zipfile.ZIP_DEFLATED
    z.writestr(i, data)
def declare(z, name, size, local=True):
    # Patches the uncompressed size that the entry NAME declares, in its local header (unless
    # local is False) and in the central directory, to SIZE: an entry that lies about what it
    # holds. Closes Z first.
    import struct
    if z.fp: z.close()
    with open(Z, 'r+b') as f:
        data = bytearray(f.read())
        info = zipfile.ZipFile(Z).getinfo(name)
        if local: struct.pack_into('<I', data, info.header_offset + 22, size)
        cd = struct.unpack_from('<I', data, data.rfind(b'PK\x05\x06') + 16)[0]
        while data[cd:cd + 4] == b'PK\x01\x02':
            n, e, c = struct.unpack_from('<HHH', data, cd + 28)
            if data[cd + 46:cd + 46 + n].decode() == name:
                struct.pack_into('<I', data, cd + 24, size)
            cd += 46 + n + e + c
        f.seek(0)
        f.write(data)
def link(z, name, target):
    i = zipfile.ZipInfo(name)
    i.create_system = 3
    i.external_attr = 0o120777 << 16
    z.writestr(i, target)
)";

// Runs APython (after the preamble) with Z = AZip and the further arguments in sys.argv[2:].
void MakeZipWithPython(const QString& AZip, const QString& APython, const QStringList& AArguments = {}) {
    QByteArray output;
    const int code = RunProgram(QStringLiteral("python3"),
                                QStringList{QStringLiteral("-c"), QString::fromUtf8(PythonPreamble) + APython, AZip} +
                                    AArguments,
                                &output);
    ASSERT_EQ(code, 0) << "python3 could not make " << AZip.toStdString();
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
            tree[relative] = "-> " + QByteArray::fromStdString(fs::read_symlink(QFile::encodeName(path).toStdString()).string());
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

bool Skipped(const TZLTUnZipper& AUnZipper, const QString& AEntry) {
    for (const QString& line : AUnZipper.SkippedEntries())
        if (line.startsWith(AEntry + QStringLiteral(": "))) return true;
    return false;
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
};

fs::perms Permissions(const QString& APath) { return fs::status(platform::FileSystemPath(APath)).permissions(); }

// Whether this system keeps a file's Unix permission bits (Windows keeps a read-only flag only).
bool PermissionBitsHold(const TTempDir& ADir) {
    const QString probe = ADir.File(QStringLiteral("probe-mode"));
    WriteFile(probe, "probe");
    std::error_code error;
    fs::permissions(platform::FileSystemPath(probe), fs::perms(0750), error);
    return !error && Permissions(probe) == fs::perms(0750);
}

// --- the installation ------------------------------------------------------------------------

TEST(UnZipper, InstallsOverTheFolderCreatingSubfoldersAndLeavingOtherFilesAlone) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'app.exe', b'new program', 0o755)
    put(z, 'data/base.db', b'new base' * 1000)
)"));
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
    EXPECT_TRUE(installer.UnZipper.SkippedEntries().isEmpty())
        << installer.UnZipper.SkippedEntries().join(u'\n').toStdString();
    // Two questions about the entries, one about the old program, three progress steps.
    EXPECT_EQ(cwdInHandlers, QStringList(6, cwd)) << "handlers run in the process's own folder";
    EXPECT_EQ(QDir::currentPath(), cwd) << "the working directory is given back";
}

TEST(UnZipper, AHandlerThatSaysNoKeepsTheEntryOut) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'keep.txt', b'new keep')
    put(z, 'declined.txt', b'new declined')
    put(z, 'taken.txt', b'new taken')
)"));
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

// Root may write anywhere, so the unwritable entries are made by what stands in their way.
TEST(UnZipper, AnEntryThatCannotBeWrittenIsSkippedAndTheRestLands) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'first.txt', b'first')
    put(z, 'blocked.dll', b'x' * 100000)
    put(z, 'plugins/tool.dll', b'tool')
    folder(z, 'cache/')
    put(z, 'last.txt', b'last')
)"));
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/blocked.dll/inside.txt"), "a folder where the file goes");
    WriteFile(folder + QStringLiteral("/plugins"), "a file where the folder goes");
    WriteFile(folder + QStringLiteral("/cache"), "a file where the folder goes");

    TInstaller installer;
    installer.Install(zip, folder);

    ExpectSameTree(ReadTree(folder), {{"blocked.dll/", "dir"},
                                      {"blocked.dll/inside.txt", "a folder where the file goes"},
                                      {"cache", "a file where the folder goes"},
                                      {"first.txt", "first"},
                                      {"last.txt", "last"},
                                      {"plugins", "a file where the folder goes"}});
    const QStringList& skipped = installer.UnZipper.SkippedEntries();
    EXPECT_EQ(skipped.size(), 3) << skipped.join(u'\n').toStdString();
    for (const char* entry : {"blocked.dll", "plugins/tool.dll", "cache/"})
        EXPECT_TRUE(Skipped(installer.UnZipper, QString::fromLatin1(entry))) << entry;
}

TEST(UnZipper, OpenRefusesWhatIsNoReadableZipAndNothingIsExtracted) {
    TTempDir dir;
    const QString good = dir.File(QStringLiteral("good.zip"));
    MakeZipWithPython(good, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    for n in range(20):
        put(z, 'file%d.bin' % n, os.urandom(5000), method=zipfile.ZIP_STORED)
)"));
    const QByteArray goodBytes = ReadFile(good);

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
    const QString payload = dir.File(QStringLiteral("app.exe"));
    WriteRandomFile(payload, 20000);
    const QString tar = dir.File(QStringLiteral("package.tar"));
    ASSERT_EQ(
        RunProgram(QStringLiteral("python3"),
                   {QStringLiteral("-c"),
                    QStringLiteral(
                        "import tarfile,sys\nwith tarfile.open(sys.argv[1],'w') as t: t.add(sys.argv[2],'app.exe')"),
                    tar, payload}),
        0);
    files.emplace_back("tar archive", tar);
    if (HaveProgram(QStringLiteral("7z"))) {
        const QString sevenZip = dir.File(QStringLiteral("package.7z"));
        ASSERT_EQ(RunProgram(QStringLiteral("7z"),
                             {QStringLiteral("a"), QStringLiteral("-t7z"), QStringLiteral("-bd"), sevenZip, payload}),
                  0);
        files.emplace_back("7z archive", sevenZip);
    } else {
        std::cout << "7z is not installed: the 7z-format case is not tried\n";
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
    // Python writing into z; OUT is the absolute path of the outside folder.
    const char* Entries;
    bool PlantLinkOutside; // the folder already holds "planted", a link to the outside folder
    std::vector<const char*> MustBeSkipped;
    bool NeedsLinks = false; // the archive's own links must become links on disk
};

// Whether this system lets the test make symbolic links (Wine does not).
bool LinksCanBeMade(const TTempDir& ADir) {
    std::error_code error;
    fs::create_directory_symlink(ADir.Path().toStdString(), ADir.File(QStringLiteral("probe-link")).toStdString(),
                                 error);
    return !error;
}

void PrintTo(const TMaliciousCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class UnZipperMalicious : public testing::TestWithParam<TMaliciousCase> {};

TEST_P(UnZipperMalicious, WritesNothingOutsideTheFolder) {
    const TMaliciousCase& c = GetParam();
    TTempDir dir;
    const QString folder = dir.File(QStringLiteral("app"));
    const QString outside = dir.File(QStringLiteral("outside"));
    QDir().mkpath(folder);
    QDir().mkpath(outside);
    if ((c.PlantLinkOutside || c.NeedsLinks) && !LinksCanBeMade(dir))
        GTEST_SKIP() << "this system makes no symbolic links (Wine), so none stands in the way";
    if (c.PlantLinkOutside)
        fs::create_directory_symlink(outside.toStdString(), (folder + QStringLiteral("/planted")).toStdString());
    const QString zip = dir.File(QStringLiteral("evil.zip"));
    MakeZipWithPython(zip,
                      QStringLiteral("OUT = sys.argv[2]\nwith zipfile.ZipFile(Z, 'w') as z:\n") +
                          QString::fromLatin1(c.Entries) + QStringLiteral("    put(z, 'ok.txt', b'ok')\n"),
                      {outside});

    TInstaller installer;
    installer.Install(zip, folder);

    EXPECT_TRUE(ReadTree(outside).empty()) << "written outside: " << testing::PrintToString(Names(ReadTree(outside)));
    EXPECT_FALSE(QFile::exists(dir.File(QStringLiteral("evil.txt"))));
    EXPECT_EQ(ReadFile(folder + QStringLiteral("/ok.txt")), "ok") << "the rest of the archive lands";
    for (const char* entry : c.MustBeSkipped)
        EXPECT_TRUE(Skipped(installer.UnZipper, QString::fromUtf8(entry)))
            << entry << " not among " << installer.UnZipper.SkippedEntries().join(u'\n').toStdString();
    // No link that the extraction left behind resolves outside the folder.
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    for (const auto& [name, data] : ReadTree(folder)) {
        const QFileInfo info(folder + u'/' + QString::fromStdString(name));
        if (!info.isSymLink() || name == "planted") continue;
        const QString resolved = info.canonicalFilePath();
        EXPECT_TRUE(resolved.isEmpty() || resolved == canonicalFolder || resolved.startsWith(canonicalFolder + u'/'))
            << name << " resolves to " << resolved.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnZipperMalicious,
    testing::Values(
        TMaliciousCase{"dot_dot",
                       "    put(z, '../evil.txt', b'x')\n    put(z, 'a/../../evil.txt', b'x')\n",
                       false,
                       {"../evil.txt", "a/../../evil.txt"}},
        TMaliciousCase{"absolute_path", "    put(z, OUT + '/evil.txt', b'x')\n", false, {}},
        TMaliciousCase{"link_to_absolute_outside", "    link(z, 'link', OUT)\n", false, {"link"}},
        TMaliciousCase{"link_climbing_out", "    link(z, 'sub/link', '../../outside')\n", false, {"sub/link"}},
        TMaliciousCase{"link_climbing_through_another_link",
                       "    link(z, 'here', 'sub/..')\n    link(z, 'up', 'here/../outside')\n",
                       false,
                       {"here", "up"}},
        TMaliciousCase{"file_written_through_a_link_entry",
                       "    link(z, 'esc', OUT)\n    put(z, 'esc/evil.txt', b'x')\n",
                       false,
                       {"esc"}},
        TMaliciousCase{"file_written_through_a_link_on_disk",
                       "    put(z, 'planted/evil.txt', b'x')\n",
                       true,
                       {"planted/evil.txt"}},
        TMaliciousCase{"link_entry_then_file_through_it_inside",
                       "    folder(z, 'real/')\n    link(z, 'alias', 'real')\n    put(z, 'alias/evil.txt', b'x')\n",
                       false,
                       {"alias/evil.txt"},
                       true}),
    [](const testing::TestParamInfo<TMaliciousCase>& AInfo) { return std::string(AInfo.param.Name); });

// --- what lands --------------------------------------------------------------------------------

TEST(UnZipper, RestoresStoredPermissionBits) {
    TTempDir dir;
    if (!PermissionBitsHold(dir)) GTEST_SKIP() << "this system's files carry no Unix permission bits";
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'bin/app', b'#!/bin/sh\n', 0o755)
    put(z, 'bin/private', b'secret', 0o700)
    put(z, 'doc.txt', b'text', 0o644)
    put(z, 'setuid', b'#!/bin/sh\n', 0o4755)
)"));
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/bin/app"), "old");
    fs::permissions((folder + QStringLiteral("/bin/app")).toStdString(), fs::perms(0644));

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
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    dos(z, 'bin/acme', b'new program')
    dos(z, 'bin/helper', b'new helper')
    dos(z, 'private.db', b'new data', readonly=True)
    dos(z, 'new.txt', b'new text')
    dos(z, 'bin/newtool', b'new tool')
    put(z, 'shared.txt', b'x', 0o666)
    put(z, 'sticky', b'x', 0o1755)
    put(z, 'setgid', b'x', 0o2755)
)"));
    const QString folder = dir.File(QStringLiteral("app"));
    const std::vector<std::pair<const char*, int>> existing = {{"bin/acme", 0755},
                                                               {"bin/helper", 0750},
                                                               {"private.db", 0600}};
    for (const auto& [name, mode] : existing) {
        const QString path = folder + u'/' + QString::fromLatin1(name);
        WriteFile(path, "old");
        fs::permissions(path.toStdString(), fs::perms(mode));
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

// What a package declares is what it may write: an entry that holds more than it declares is
// refused without leaving anything, and a package that declares more than the disk holds is
// refused before anything is written.
TEST(UnZipper, DeclaredSizesBoundWhatIsWritten) {
    TTempDir dir;
    // The 20 MiB entry declares 1000 bytes in both places, or only in the central directory,
    // which is what the space check counts.
    for (const char* local : {"True", "False"}) {
        SCOPED_TRACE(std::string("an entry that holds more than it declares, local header patched: ") + local);
        const QString liar = dir.File(QStringLiteral("liar-%1.zip").arg(QLatin1String(local)));
        MakeZipWithPython(liar, QStringLiteral(R"(
z = zipfile.ZipFile(Z, 'w')
put(z, 'small.txt', b'fine')
put(z, 'bomb.bin', bytes(20 * 1024 * 1024))
declare(z, 'bomb.bin', 1000, local=%1)
)")
                                    .arg(QLatin1String(local)));
        const QString folder = dir.File(QStringLiteral("a-%1").arg(QLatin1String(local)));
        TInstaller installer;
        installer.Install(liar, folder);
        EXPECT_TRUE(Skipped(installer.UnZipper, QStringLiteral("bomb.bin")))
            << installer.UnZipper.SkippedEntries().join(u'|').toStdString();
        ExpectSameTree(ReadTree(folder), {{"small.txt", "fine"}});
    }
    // small.txt and 4096 entries of almost 4 GiB each, 16 TiB in all: more than any test
    // machine's disk holds.
    const QString huge = dir.File(QStringLiteral("huge.zip"));
    ASSERT_EQ(RunProgram(QStringLiteral("python3"),
                         {SupportDir() + QStringLiteral("/lying_zip.py"), huge, QStringLiteral("4096")}),
              0);
    {
        SCOPED_TRACE("a package that can't fit");
        const QString folder = dir.File(QStringLiteral("b"));
        QDir().mkpath(folder);
        if (QStorageInfo(folder).bytesAvailable() > (qint64{16} << 40)) GTEST_SKIP() << "this disk holds 16 TiB";
        TInstaller installer;
        EXPECT_THROW(installer.Install(huge, folder), ENotEnoughSpace);
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
        const std::optional<TZipDirectory> directory = ReadZipDirectory(zip);
        ASSERT_TRUE(directory.has_value());
        EXPECT_EQ(directory->EntryCount, 3); // a.txt, sub/, sub/b.txt
        EXPECT_EQ(directory->DeclaredBytes, 12);
    }
}

// An archive with no entries (22 bytes, as zip tools write it) is a readable package with
// nothing to install.
TEST(UnZipper, AnEmptyArchiveOpensAndInstallsNothing) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("empty.zip"));
    MakeZipWithPython(zip, QStringLiteral("zipfile.ZipFile(Z, 'w').close()\n"));
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

// A path longer than the system allows is skipped before anything of it is made: no folders,
// no temporary file.
TEST(UnZipper, APathTooLongForTheSystemLeavesNothing) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("long.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, '/'.join(['d' * 200] * 25) + '/deep.txt', b'too deep')
    put(z, 'n' * 300, b'name too long')
    put(z, 'ok.txt', b'fine')
)"));
    const QString folder = dir.File(QStringLiteral("app"));
    TInstaller installer;
    installer.Install(zip, folder);
    EXPECT_EQ(installer.UnZipper.SkippedEntries().size(), 2)
        << installer.UnZipper.SkippedEntries().join(u'|').toStdString();
    ExpectSameTree(ReadTree(folder), {{"ok.txt", "fine"}});
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
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'bin/app', b'new')
)"));
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
    const char* Method; // zipfile constant
    // How the data of the damaged entries is spoilt: a flipped byte spoils only the checksum
    // of a stored entry; an invalid first block stops inflate itself.
    const char* Spoil;
    bool ExtractionGoesOn; // libarchive grades a bad checksum WARN, a broken stream FATAL
};

void PrintTo(const TDamageCase& ACase, std::ostream* AOut) { *AOut << ACase.Name; }

class UnZipperDamaged : public testing::TestWithParam<TDamageCase> {};

TEST_P(UnZipperDamaged, NeverReplacesAGoodFileNorLeavesACutOne) {
    const TDamageCase& c = GetParam();
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
M = zipfile.%1
with zipfile.ZipFile(Z, 'w') as z:
    put(z, 'first.txt', b'first')
    put(z, 'good.db', b'NEW DATA ' * 50000, method=M)
    put(z, 'fresh.db', b'FRESH DATA ' * 50000, method=M)
    put(z, 'last.txt', b'last')
data = bytearray(open(Z, 'rb').read())
with zipfile.ZipFile(Z) as z:
    for name in ('good.db', 'fresh.db'):
        info = z.getinfo(name)
        start = info.header_offset + 30 + len(info.filename.encode()) + len(info.extra)
        %2
open(Z, 'wb').write(data)
)")
                               .arg(QString::fromLatin1(c.Method), QString::fromLatin1(c.Spoil)));
    const QString folder = dir.File(QStringLiteral("app"));
    WriteFile(folder + QStringLiteral("/good.db"), "OLD GOOD DATA");

    TInstaller installer;
    const QString cwd = QDir::currentPath();
    if (c.ExtractionGoesOn) {
        installer.Install(zip, folder);
        EXPECT_TRUE(Skipped(installer.UnZipper, QStringLiteral("good.db")));
        EXPECT_TRUE(Skipped(installer.UnZipper, QStringLiteral("fresh.db")));
        ExpectSameTree(ReadTree(folder), {{"first.txt", "first"}, {"good.db", "OLD GOOD DATA"}, {"last.txt", "last"}});
    } else {
        EXPECT_THROW(installer.Install(zip, folder), Exception);
        ExpectSameTree(ReadTree(folder), {{"first.txt", "first"}, {"good.db", "OLD GOOD DATA"}});
    }
    EXPECT_EQ(QDir::currentPath(), cwd);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnZipperDamaged,
    testing::Values(TDamageCase{"stored_bad_checksum", "ZIP_STORED", "data[start + 1000] ^= 0xFF", true},
                    TDamageCase{"deflated_broken_stream", "ZIP_DEFLATED", "data[start] = 0x07", false}),
    [](const testing::TestParamInfo<TDamageCase>& AInfo) { return std::string(AInfo.param.Name); });

TEST(UnZipper, ProgressRisesFromTheFirstEntryToHundred) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    folder(z, 'data/')
    for n in range(6):
        put(z, 'data/f%d.txt' % n, b'x' * n)
    put(z, '../skipped.txt', b'x')
)"));
    TInstaller installer;
    std::vector<int> seen;
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t Progress, bool& Abort) {
        EXPECT_FALSE(Abort);
        seen.push_back(Progress);
    };
    installer.Install(zip, dir.File(QStringLiteral("app")));
    // Eight entries, the refused one included, then 100 at the end.
    EXPECT_EQ(seen, (std::vector<int>{12, 25, 37, 50, 62, 75, 87, 100, 100}));
}

TEST(UnZipper, AbortFromTheProgressHandlerStopsTheExtraction) {
    TTempDir dir;
    const QString zip = dir.File(QStringLiteral("update.zip"));
    MakeZipWithPython(zip, QStringLiteral(R"(
with zipfile.ZipFile(Z, 'w') as z:
    for n in range(5):
        put(z, 'f%d.txt' % n, b'x')
)"));
    TInstaller installer;
    int calls = 0;
    installer.UnZipper.OnArchiveProgress = [&](TZLTUnZipper*, std::uint8_t, bool& Abort) { Abort = ++calls == 2; };
    const QString folder = dir.File(QStringLiteral("app"));
    installer.Install(zip, folder);
    EXPECT_EQ(calls, 2);
    ExpectSameTree(ReadTree(folder), {{"f0.txt", "x"}, {"f1.txt", "x"}});
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
    static void SetUpTestSuite() {
        for (const bool many : {false, true}) {
            Sources[many] = new TTempDir;
            FillTree(*Sources[many], many);
            Expected[many] = new TTree(ReadTree(Sources[many]->Path()));
        }
    }
    static void TearDownTestSuite() {
        for (const bool many : {false, true}) {
            delete Expected[many];
            delete Sources[many];
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
    // A UTF-8 locale, so that every tool stores the non-ASCII names as UTF-8.
    QStringList arguments{QStringLiteral("LC_ALL=C.UTF-8"), program};
    for (const char* argument : recipe.Arguments)
        arguments << QString::fromUtf8(argument)
                         .replace(QStringLiteral("OUT"), zip)
                         .replace(QStringLiteral("SRC"), Sources[recipe.ManyEntries]->Path())
                         .replace(QStringLiteral("PYTHON"), QString::fromUtf8(PythonRecipe));
    QByteArray output;
    ASSERT_EQ(RunProgram(QStringLiteral("env"), arguments, &output, Sources[recipe.ManyEntries]->Path()), 0)
        << output.toStdString();

    const QString folder = dir.File(QStringLiteral("app"));
    TInstaller installer;
    installer.Install(zip, folder);
    EXPECT_TRUE(installer.UnZipper.SkippedEntries().isEmpty())
        << installer.UnZipper.SkippedEntries().mid(0, 5).join(u'\n').toStdString();
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

} // namespace
} // namespace zlt::test
