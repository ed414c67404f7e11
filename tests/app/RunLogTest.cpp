// The run log: its line format, its rotation at the bound, and that it is never fatal.

#include "app/RunLog.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::app;

namespace {

TEST(RunLog, OneLinePerEventWithTheLocalTimeItsOffsetAndTheLevel) {
    TTempDir dir;
    TRunLog log(dir.File(QStringLiteral("updater.log")));
    log.Info(QStringLiteral("first"));
    log.Error(QStringLiteral("Error al ejecutar la función FormShow.\r\nNo se pudo detener la aplicación acme."));
    log.Warning(QStringLiteral("third\nline"));
    const QStringList lines = QString::fromUtf8(ReadFile(log.FileName())).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 3);
    const QRegularExpression stamp(
        QStringLiteral(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d (\w+) (.*)$)"));
    const char* expected[][2] = {
        {"INFO", "first"},
        {"ERROR", "Error al ejecutar la función FormShow. / No se pudo detener la aplicación acme."},
        {"WARNING", "third / line"},
    };
    for (int i = 0; i < 3; ++i) {
        const QRegularExpressionMatch match = stamp.match(lines[i]);
        ASSERT_TRUE(match.hasMatch()) << lines[i].toStdString();
        EXPECT_EQ(match.captured(1), QString::fromUtf8(expected[i][0]));
        EXPECT_EQ(match.captured(2), QString::fromUtf8(expected[i][1]));
    }
}

TEST(RunLog, PassingTheBoundStartsANewFileAndKeepsOneOlder) {
    TTempDir dir;
    TRunLog log(dir.File(QStringLiteral("updater.log")));
    WriteFile(log.FileName() + QStringLiteral(".1"), "the oldest, replaced");
    const QString text = QString(200, u'x');
    qint64 written = 0;
    while (written <= TRunLog::RotateBytes) {
        log.Info(text);
        written = QFileInfo(log.FileName()).size();
        ASSERT_LE(written, TRunLog::RotateBytes) << "the file passed the bound";
        if (QFileInfo(log.FileName() + QStringLiteral(".1")).size() > TRunLog::RotateBytes / 2) break;
    }
    const QByteArray older = ReadFile(log.FileName() + QStringLiteral(".1"));
    EXPECT_GT(older.size(), TRunLog::RotateBytes - 400);
    EXPECT_FALSE(older.contains("the oldest")) << "the older file is replaced";
    EXPECT_LT(QFileInfo(log.FileName()).size(), 400) << "a new file starts";
    log.Info(QStringLiteral("after"));
    EXPECT_TRUE(ReadFile(log.FileName()).contains("after"));
}

TEST(RunLog, ALogThatCannotBeWrittenNeverThrows) {
    TTempDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.File(QStringLiteral("updater.log"))));
    TRunLog log(dir.File(QStringLiteral("updater.log")));
    EXPECT_NO_THROW(log.Error(QStringLiteral("goes to standard error")));
    EXPECT_TRUE(QFileInfo(log.FileName()).isDir());
}

TEST(RunLog, APasswordNeverAppears) {
    const char* cases[][2] = {
        {"PWD=s3cret", "PWD=***"}, {"pwd=s3cret", "PWD=***"},  {"xPwD=s3cret", "PWD=***"},
        {"USR=ana", "USR=ana"},    {"VER=2.5.1", "VER=2.5.1"},
    };
    for (const auto& [parameter, shown] : cases)
        EXPECT_EQ(ParameterForLog(QString::fromLatin1(parameter)), QString::fromLatin1(shown));
}

} // namespace
} // namespace zlt::test
