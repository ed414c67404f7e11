// CreateScript: the files byte for byte against the expected scripts kept beside this test,
// the boxes it shows, and what it does with a language it doesn't know or a folder it can't
// write to.

#include "tests/support/TestSupport.h"
#include "ui/MessageBox.h"
#include "webupdater/WebUpdater.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::webupdater;
using namespace zlt::http;
using namespace zlt::ui;

namespace {

QByteArray Fixture(const QString& AName) {
    return ReadFile(SourceDir() + QStringLiteral("/tests/webupdater/fixtures/") + AName);
}

TEST(Script, WritesEachLanguageByteForByteAndSaysSo) {
    for (const char* language : {"PHP", "ASP"}) {
        SCOPED_TRACE(language);
        const QString name = QStringLiteral("checkUpdates.") + QString::fromLatin1(language).toLower();
        TExeFolder exe;
        TMessageBoxRecorder boxes;
        QObject host;
        TZLTWebUpdater updater(&host);
        updater.SetPVersionNumber(QStringLiteral("2.1.0"));
        updater.CreateScript(QString::fromLatin1(language));

        const QByteArray expected = Fixture(name);
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(ReadFile(exe.Folder() + u'/' + name), expected);
        EXPECT_TRUE(OneBox(boxes,
                           QStringLiteral("The script %1 has been correcly created in %2/").arg(name, exe.Folder()),
                           QStringLiteral("Application.Title"), ui::MB_ICONINFORMATION));
    }
}

TEST(Script, TheVersionGoesInUnchangedInTheAnsiCodePage) {
    TExeFolder exe;
    TMessageBoxRecorder boxes;
    QObject host;
    TZLTWebUpdater updater(&host);
    for (const auto& [version, line] : {std::pair<QString, QByteArray>{QString(), "$newVersion = \"\";"},
                                        {QStringLiteral(" 3.0 versión"), "$newVersion = \" 3.0 versi\xf3n\";"}}) {
        SCOPED_TRACE(version.toStdString());
        updater.SetPVersionNumber(version);
        updater.CreateScript(QStringLiteral("PHP")); // a second call overwrites the first file
        const QList<QByteArray> lines = ReadFile(exe.Folder() + QStringLiteral("/checkUpdates.php")).split('\n');
        ASSERT_EQ(lines.size(), 10) << "nine lines, each ended by CR LF";
        EXPECT_EQ(lines[1], line + '\r');
        EXPECT_TRUE(lines[9].isEmpty());
    }
}

TEST(Script, AnUnknownLanguageWritesAndShowsNothing) {
    for (const char* language : {"php", "Asp", "", "PHP "}) {
        SCOPED_TRACE(language);
        TExeFolder exe;
        TMessageBoxRecorder boxes;
        QObject host;
        TZLTWebUpdater updater(&host);
        updater.CreateScript(QString::fromLatin1(language));
        EXPECT_TRUE(boxes.Calls.empty());
        EXPECT_TRUE(QDir(exe.Folder()).entryList(QDir::Files).isEmpty());
    }
}

TEST(Script, AFolderItCannotWriteToShowsTheErrorBoxAlone) {
    TExeFolder exe;
    // A folder in the script's place: the file can't be created, not even by root.
    ASSERT_TRUE(QDir().mkpath(exe.Folder() + QStringLiteral("/checkUpdates.php")));
    TMessageBoxRecorder boxes;
    QObject host;
    TZLTWebUpdater updater(&host);
    EXPECT_NO_THROW(updater.CreateScript(QStringLiteral("PHP")));
    EXPECT_TRUE(OneBox(boxes,
                       QStringLiteral("Something has gone wrong creating Php script.\r\nNo file has been created."),
                       QStringLiteral("Application.Title"), ui::MB_ICONERROR));
    EXPECT_TRUE(QFileInfo(exe.Folder() + QStringLiteral("/checkUpdates.php")).isDir());
}

} // namespace
} // namespace zlt::test
