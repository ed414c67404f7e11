#include "app/RunLog.h"

#include "common/Settings.h"
#include "common/Text.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace zlt::app {

namespace {

const char* LevelName(TLogLevel ALevel) {
    switch (ALevel) {
    case TLogLevel::llInfo: return "INFO";
    case TLogLevel::llWarning: return "WARNING";
    case TLogLevel::llError: return "ERROR";
    }
    return "INFO";
}

QByteArray FormatLine(TLogLevel ALevel, const QString& AText) {
    // One event, one line: a message's own breaks would split it.
    const QString text = OneLine(AText);
    const QDateTime now = QDateTime::currentDateTime();
    const int offset = now.offsetFromUtc();
    const QString zone = QStringLiteral("%1%2:%3")
                             .arg(QChar(offset < 0 ? u'-' : u'+'))
                             .arg(std::abs(offset) / 3600, 2, 10, QLatin1Char('0'))
                             .arg(std::abs(offset) % 3600 / 60, 2, 10, QLatin1Char('0'));
    return (now.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + zone + u' ' + QLatin1String(LevelName(ALevel)) +
            u' ' + text + u'\n')
        .toUtf8();
}

} // namespace

TRunLog::TRunLog(QString AFileName) : FFileName(std::move(AFileName)) {}

void TRunLog::Write(TLogLevel ALevel, const QString& AText) noexcept {
    try {
        const QByteArray line = FormatLine(ALevel, AText);
        if (QFileInfo(FFileName).size() + line.size() > RotateBytes) {
            const QString older = FFileName + QStringLiteral(".1");
            QFile::remove(older);
            QFile::rename(FFileName, older);
        }
        QFile file(FFileName);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append) && file.write(line) == line.size() && file.flush())
            return;
        std::fputs(line.constData(), stderr);
    } catch (...) {
        // Nothing about a record may stop an update.
    }
}

TRunLog RunLog() { return TRunLog(FileBesideExecutable(QStringLiteral(".log"))); }

QString ParameterForLog(const QString& AParameter) {
    return AsciiUpperCase(AParameter).contains(QLatin1String("PWD=")) ? QStringLiteral("PWD=***") : AParameter;
}

} // namespace zlt::app
