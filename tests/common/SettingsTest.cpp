// IniFileLoad and the settings file it reads, with the executable's folder moved to a
// temporary one so that each case writes its own settings file beside "the program".

#include "common/Settings.h"
#include "common/Errors.h"
#include "common/Processes.h"
#include "common/Text.h"
#include "platform/System.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QStringEncoder>

#include <gtest/gtest.h>

#include <iostream>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zlt::test {
namespace {

const QString Missing = QStringLiteral("<default>");

QString Utf8(const char* AText) { return QString::fromUtf8(AText); }

QByteArray Utf16LeWithMark(const QString& AText) {
    QStringEncoder encoder(QStringConverter::Utf16LE, QStringConverter::Flag::WriteBom);
    return encoder.encode(AText);
}

enum class TPlace { File, NoFile, Folder, LinkLoop, Pipe };

struct TSettingsCase {
    const char* Name;
    TPlace Place;
    QByteArray Content;
    QString Key;
    QString Expected;
};

class SettingsFile : public ::testing::Test {
protected:
    TExeFolder FExe{QStringLiteral("Upd.exe")};

    // Puts AContent, or something that can't be read as a settings file, in the file's place.
    // False when this system can't make such a thing there.
    bool Prepare(TPlace APlace, const QByteArray& AContent) const {
        const QByteArray path = QFile::encodeName(FExe.SettingsFile());
        switch (APlace) {
        case TPlace::File: WriteFile(FExe.SettingsFile(), AContent); break;
        case TPlace::NoFile: break;
        case TPlace::Folder: EXPECT_TRUE(QDir().mkpath(FExe.SettingsFile())); break;
#ifdef Q_OS_WIN
        // Windows programs make neither a link to itself nor a named pipe in a folder.
        case TPlace::LinkLoop:
        case TPlace::Pipe: return false;
#else
        case TPlace::LinkLoop: EXPECT_EQ(::symlink(path.constData(), path.constData()), 0); break;
        case TPlace::Pipe: EXPECT_EQ(::mkfifo(path.constData(), 0644), 0); break;
#endif
        }
        return true;
    }
};

TEST_F(SettingsFile, ValuesFollowTheProfileReaderRules) {
    const QByteArray longValue(3000, 'x');
    const QString funcion = Utf8("funci\u00F3n");
    const TSettingsCase cases[] = {
        {"plain value", TPlace::File, "[UPDATE]\nSERVER1=http://127.0.0.1/\n", "SERVER1", "http://127.0.0.1/"},
        {"3000 characters come back as 2047", TPlace::File, "[UPDATE]\nAPPNAME=" + longValue + "\n", "APPNAME",
         QString(2047, u'x')},
        {"section and key written in lower case", TPlace::File, "[update]\nserver1=s/\n", "SERVER1", "s/"},
        {"blanks around a quoted value, blanks inside kept", TPlace::File, "[UPDATE]\nAPPNAME =  \"  Acme  \"\t \n",
         "APPNAME", "  Acme  "},
        {"blanks around a plain value", TPlace::File, "[UPDATE]\nSERVER1=   s/  \n", "SERVER1", "s/"},
        {"only blanks: present but empty", TPlace::File, "[UPDATE]\nSERVER1=   \n", "SERVER1", ""},
        {"keys in another section", TPlace::File, "[OTHER]\nSERVER1=s/\n", "SERVER1", Missing},
        {"key missing", TPlace::File, "[UPDATE]\nAPPEXE=Acme.exe\n", "SERVER1", Missing},
        {"empty file", TPlace::File, "", "SERVER1", Missing},
        {"no file", TPlace::NoFile, "", "SERVER1", Missing},
        {"a folder in the file's place", TPlace::Folder, "", "SERVER1", Missing},
        {"a file that can't be opened (link loop)", TPlace::LinkLoop, "", "SERVER1", Missing},
        {"a pipe in the file's place", TPlace::Pipe, "", "SERVER1", Missing},
        // Windows' own reader would take this as ANSI ("funciÃ³n"); valid UTF-8 is UTF-8 here on
        // every platform.
        {"UTF-8 without mark", TPlace::File, "[UPDATE]\nAPPNAME=funci\xC3\xB3n\n", "APPNAME", funcion},
        {"UTF-8 with mark", TPlace::File, "\xEF\xBB\xBF[UPDATE]\nAPPNAME=funci\xC3\xB3n\n", "APPNAME", funcion},
        {"UTF-16 LE with mark", TPlace::File, Utf16LeWithMark(Utf8("[UPDATE]\r\nAPPNAME=funci\u00F3n\r\n")), "APPNAME",
         funcion},
        {"Windows-1252", TPlace::File, "[UPDATE]\nAPPNAME=funci\xF3n \x80\n", "APPNAME", Utf8("funci\u00F3n \u20AC")},
        {"CR LF line ends", TPlace::File, "[UPDATE]\r\nAPPEXE=Acme.exe\r\nSERVER1=s/\r\n", "APPEXE", "Acme.exe"},
        {"LF line ends", TPlace::File, "[UPDATE]\nAPPEXE=Acme.exe\nSERVER1=s/\n", "APPEXE", "Acme.exe"},
        {"last line without line end", TPlace::File, "[UPDATE]\r\nAPPEXE=Acme.exe", "APPEXE", "Acme.exe"},
    };
    for (const TSettingsCase& item : cases) {
        SCOPED_TRACE(item.Name);
        QFile::remove(FExe.SettingsFile());
        QDir(FExe.SettingsFile()).removeRecursively();
        if (!Prepare(item.Place, item.Content)) {
            std::cout << "[ NOTE     ] not on this system: " << item.Name << '\n';
            continue;
        }
        QString value = QStringLiteral("stale");
        IniFileLoad(QStringLiteral("UPDATE"), item.Key, Missing, value);
        EXPECT_EQ(value, item.Expected);
    }
}

TEST_F(SettingsFile, EveryCallReadsTheFileAnew) {
    QString value;
    WriteFile(FExe.SettingsFile(), "[UPDATE]\nAPPEXE=One.exe\n");
    IniFileLoad(QStringLiteral("UPDATE"), QStringLiteral("APPEXE"), QString(), value);
    EXPECT_EQ(value, "One.exe");
    WriteFile(FExe.SettingsFile(), "[UPDATE]\nAPPEXE=Two.exe\n");
    IniFileLoad(QStringLiteral("UPDATE"), QStringLiteral("APPEXE"), QString(), value);
    EXPECT_EQ(value, "Two.exe");
}

TEST_F(SettingsFile, DefaultMayBeTheReceivingVariable) {
    QString value = QStringLiteral("kept");
    IniFileLoad(QStringLiteral("UPDATE"), QStringLiteral("APPEXE"), value, value);
    EXPECT_EQ(value, "kept");
}

TEST(SettingsFileName, ExtensionOfTheExecutableBecomesCfi) {
    const struct {
        const char* Executable;
        const char* Expected;
    } cases[] = {
        {"/opt/acme/Upd.exe", "/opt/acme/Upd.cfi"},
        {"/opt/acme/updater", "/opt/acme/updater.cfi"},
        {"/opt/acme.d/updater", "/opt/acme.d/updater.cfi"},
        {"/opt/acme/up.date.bin", "/opt/acme/up.date.cfi"},
    };
    for (const auto& item : cases) {
        SCOPED_TRACE(item.Executable);
        const TScopedExecutablePath exe(QString::fromUtf8(item.Executable));
        EXPECT_EQ(SettingsFileName(), QString::fromUtf8(item.Expected));
    }
}

} // namespace
} // namespace zlt::test
