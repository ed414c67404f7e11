#pragma once

#include "webupdater/Types.h"

#include <QString>

namespace zlt::app {

using webupdater::TLogLevel;

// The record of the updater's runs: <the updater's name>.log beside it, appended to by every
// run, one UTF-8 line per event that starts with the local time and its offset
// ("2026-12-10T14:05:00.123+01:00 ERROR ..."). When the file passes RotateBytes it becomes
// <name>.log.1, replacing an older one, and a new file starts. Never fatal: a line that can't
// be written there (a folder the user may not change) goes to the user's own copy,
// <the user's data folder>/zlt-updater/<name>.log, and when that fails too to standard error;
// the run goes on unchanged. GUI thread only.
class TRunLog {
public:
    static constexpr qint64 RotateBytes = qint64{1} << 20;

    explicit TRunLog(QString AFileName);
    const QString& FileName() const { return FFileName; }
    void Write(TLogLevel ALevel, const QString& AText) noexcept;
    void Info(const QString& AText) noexcept { Write(TLogLevel::llInfo, AText); }
    void Warning(const QString& AText) noexcept { Write(TLogLevel::llWarning, AText); }
    void Error(const QString& AText) noexcept { Write(TLogLevel::llError, AText); }

private:
    QString FFileName;
};

// The record beside the running executable.
TRunLog RunLog();

// A parameter as the record shows it: a password never appears.
QString ParameterForLog(const QString& AParameter);

} // namespace zlt::app
