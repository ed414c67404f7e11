#pragma once

#include "platform/Shell.h"

#include <QElapsedTimer>
#include <QString>

namespace zlt::app {

// TRIAL= in [UPDATE]: how many seconds the new version is watched after an installation.
inline constexpr int DefaultTrialSeconds = 10;
// Nobody waits longer than this for a verdict, whatever the settings say.
inline constexpr int MaxTrialSeconds = 600;

// The seconds that a TRIAL value gives: a whole number from 0 (no trial) up to MaxTrialSeconds
// (larger ones are cut to it); empty, or anything else, gives DefaultTrialSeconds. AValid tells
// whether the value was empty or such a number.
int TrialSeconds(const QString& AValue, bool* AValid = nullptr);

// The new version on trial. Once an installation is committed with its replaced files kept for
// a verdict, Begin starts the application watched; Finish, once the window has closed, waits
// for the rest of the trial and gives the verdict. The version fails when its process ends
// within the trial with a non-zero exit code, a signal or an exception: the previous files are
// put back through the installation's journal, the added ones removed, the application started
// again, and one ERROR line says so. It passes when it still runs at the end or ended with
// code 0: the replaced files go into Updates/previous/. Without a trial (ASeconds 0, nothing
// that can be watched, or a start that failed) the verdict is "passed" at once. GUI thread.
class TTrial {
public:
    // Starts AProgram (from the updater's folder) with AParameters, recording the start.
    void Begin(const QString& AProgram, const QString& AParameters, int ASeconds);
    // Waits for the verdict of a trial that Begin left open and acts on it; nothing otherwise.
    void Finish();
    bool Open() const { return FOpen; }

private:
    void Pass(const QString& AHow);
    void Fail(const platform::TProgramEnd& AEnd, double ASeconds);

    platform::TWatchedProgram FProgram;
    QString FProgramName;
    QString FParameters;
    QString FCommand;
    QElapsedTimer FClock;
    int FSeconds = 0;
    bool FOpen = false;
};

// The run's one trial, begun by the installation and finished by the start-up.
TTrial& RunTrial();

// Starts AProgram with AParameters through the shell and records the outcome.
void StartAndRecord(const QString& AProgram, const QString& AParameters);

} // namespace zlt::app
