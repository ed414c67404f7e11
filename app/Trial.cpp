#include "app/Trial.h"

#include "app/RunLog.h"
#include "common/Text.h"
#include "install/Journal.h"
#include "platform/System.h"

#include <algorithm>

namespace zlt::app {

namespace {

QString Command(const QString& AProgram, const QString& AParameters) {
    return AParameters.isEmpty() ? AProgram : AProgram + u' ' + AParameters;
}

// Records what a verdict's recovery did that went wrong.
void RecordProblems(const install::TRecovery& ARecovery) {
    for (const QString& problem : ARecovery.Problems)
        RunLog().Error(QStringLiteral("Not undone: %1").arg(OneLine(problem)));
    if (!ARecovery.PreviousNotKept.isEmpty())
        RunLog().Warning(QStringLiteral("The previous version is not kept: %1; its files were removed")
                             .arg(OneLine(ARecovery.PreviousNotKept)));
}

} // namespace

int TrialSeconds(const QString& AValue, bool* AValid) {
    const QString value = AValue.trimmed();
    const bool digits = !value.isEmpty() &&
                        std::all_of(value.begin(), value.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
    if (AValid != nullptr) *AValid = value.isEmpty() || digits;
    if (!digits) return DefaultTrialSeconds;
    // A number too long to read is past the bound all the same.
    bool read = false;
    const qlonglong seconds = value.toLongLong(&read);
    return read ? static_cast<int>(std::min<qlonglong>(seconds, MaxTrialSeconds)) : MaxTrialSeconds;
}

void StartAndRecord(const QString& AProgram, const QString& AParameters) {
    if (platform::ShellExecuteOpen(AProgram, AParameters))
        RunLog().Info(QStringLiteral("Started %1").arg(Command(AProgram, AParameters)));
    else
        RunLog().Error(QStringLiteral("Could not start %1").arg(Command(AProgram, AParameters)));
}

TTrial& RunTrial() {
    static TTrial trial;
    return trial;
}

void TTrial::Begin(const QString& AProgram, const QString& AParameters, int ASeconds) {
    FProgramName = AProgram;
    FParameters = AParameters;
    FCommand = Command(AProgram, AParameters);
    FSeconds = ASeconds;
    FClock.start();
    platform::TShellStart start = platform::ShellExecuteWatched(AProgram, AParameters);
    if (!start.Started) {
        RunLog().Error(QStringLiteral("Could not start %1").arg(FCommand));
    } else if (ASeconds > 0 && start.Program.Watched()) {
        RunLog().Info(QStringLiteral("Started %1 on trial for %2 s (process %3)")
                          .arg(FCommand)
                          .arg(ASeconds)
                          .arg(start.Program.ProcessId()));
        FProgram = std::move(start.Program);
        FOpen = true;
        return;
    } else {
        RunLog().Info(QStringLiteral("Started %1").arg(FCommand));
    }
    // Without a process to watch there is nothing to judge; a program that does not start at all
    // is no sign that the one before it would.
    Pass(!start.Started  ? QStringLiteral("not started")
         : ASeconds == 0 ? QStringLiteral("no trial")
                         : QStringLiteral("not watched"));
}

void TTrial::Finish() {
    if (!FOpen) return;
    FOpen = false;
    const qint64 left = std::max<qint64>(0, qint64{FSeconds} * 1000 - FClock.elapsed());
    const std::optional<platform::TProgramEnd> end = FProgram.WaitForEnd(static_cast<unsigned>(left));
    const double seconds = static_cast<double>(FClock.nsecsElapsed()) / 1e9;
    if (end && end->Failed()) return Fail(*end, seconds);
    Pass(end ? QStringLiteral("ended with exit code 0 after %1 s").arg(seconds, 0, 'f', 1)
             : QStringLiteral("still running after %1 s").arg(seconds, 0, 'f', 1));
}

void TTrial::Pass(const QString& AHow) {
    const install::TRecovery kept = install::FinishInstallation(platform::ExecutableFolder(), true);
    RecordProblems(kept);
    RunLog().Info(QStringLiteral("Version on trial passed (%1); %2")
                      .arg(AHow, kept.PreviousKept ? QStringLiteral("the replaced files are kept in Updates/previous")
                                                   : QStringLiteral("no previous version is kept")));
}

void TTrial::Fail(const platform::TProgramEnd& AEnd, double ASeconds) {
    const install::TRecovery restored = install::FinishInstallation(platform::ExecutableFolder(), false);
    if (restored.Problems.isEmpty())
        RunLog().Error(QStringLiteral("Version on trial ended with %1 after %2 s; the previous version is restored")
                           .arg(AEnd.Text())
                           .arg(ASeconds, 0, 'f', 1));
    else
        RunLog().Error(QStringLiteral("Version on trial ended with %1 after %2 s; the previous version could not be "
                                      "restored whole, the next start tries again")
                           .arg(AEnd.Text())
                           .arg(ASeconds, 0, 'f', 1));
    RecordProblems(restored);
    StartAndRecord(FProgramName, FParameters);
}

} // namespace zlt::app
