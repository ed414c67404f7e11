#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/Startup.h"
#include "common/Errors.h"
#include "common/Text.h"
#include "install/Journal.h"
#include "install/Previous.h"
#include "platform/System.h"

#include <QProgressBar>

namespace zlt::app {

void TfrmMainUpdater_::RollBackToPrevious() {
    RunLog().Info(QStringLiteral("Rollback to the previous version kept in Updates/previous"));
    // Until it is done: an application that can't be stopped ends the run through the guard.
    RunExitCode = 1;
    StopApplication();
    pbrFormProgress->setVisible(true);
    pbrFormProgress->setMinimum(0);
    SetBarPosition(pbrFormProgress, 0);
    pbrFormProgress->setMaximum(100);
    pbrFormProgress->repaint();
    const QString base = platform::ExecutableFolder();
    try {
        const install::TRestored restored = install::RestorePreviousVersion(base, [this](int APercent) {
            MoveBar(APercent);
        });
        MoveBar(100);
        RunExitCode = 0;
        const install::TRecovery& kept = restored.Kept;
        for (const QString& problem : kept.Problems)
            RunLog().Error(QStringLiteral("Not finished: %1").arg(OneLine(problem)));
        RunLog().Info(QStringLiteral("Rolled back: %1 files restored, %2 removed; the version rolled back from is %3")
                          .arg(restored.Committed.Replaced + restored.Committed.Added)
                          .arg(restored.Committed.Removed)
                          .arg(kept.PreviousKept ? QStringLiteral("kept in Updates/previous")
                                                 : QStringLiteral("not kept: ") + OneLine(kept.PreviousNotKept)));
    } catch (const install::EInstallationUndone& error) {
        RunLog().Error(QStringLiteral("Rollback undone: %1: %2; the application is as it was")
                           .arg(error.File(), OneLine(error.Cause())));
    } catch (const Exception& error) {
        RunLog().Error(QStringLiteral("Rollback not begun: %1").arg(OneLine(error.Message())));
    }
    StartProgram(strAppliExeFile, QStringLiteral("Upd=1"));
}

} // namespace zlt::app
