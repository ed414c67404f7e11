#include "app/Startup.h"

#include "app/MainWindow.h"
#include "app/RunLog.h"
#include "app/RunSettings.h"
#include "common/Text.h"
#include "app/Trial.h"
#include "install/Journal.h"
#include "install/Previous.h"
#include "platform/Files.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "ui/Application.h"
#include "ui/Graphics.h"
#include "webupdater/PackageRecord.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>

#include <exception>
#include <optional>

namespace zlt::app {

int RunExitCode = 0;

namespace {

// An installation that a kill or a power cut interrupted is finished before anything else:
// undone, or only its clean-up finished when its commit was done.
void FinishInterruptedInstallation() {
    const install::TRecovery recovery = install::RecoverInstallation(platform::ExecutableFolder());
    if (!recovery.Found) return;
    if (recovery.PreviousKept)
        RunLog().Info(QStringLiteral("The last installation was complete and no verdict on its version was given; "
                                     "taken as passed, the replaced files are kept in Updates/previous"));
    else if (recovery.RolledBack)
        RunLog().Warning(QStringLiteral("An interrupted rollback was finished: %1 old files restored, %2 files "
                                        "removed; the previous version is in place")
                             .arg(recovery.Restored)
                             .arg(recovery.Removed));
    else if (recovery.Forward)
        RunLog().Info(QStringLiteral("The last installation was complete; its clean-up is finished: %1 old files "
                                     "removed, %2 still in use")
                          .arg(recovery.Removed)
                          .arg(recovery.Kept.size()));
    else
        RunLog().Warning(QStringLiteral("An interrupted installation was undone: %1 old files restored, %2 new or "
                                        "temporary files removed; the application is as it was before it")
                             .arg(recovery.Restored)
                             .arg(recovery.Removed));
    for (const QString& problem : recovery.Problems)
        RunLog().Error(QStringLiteral("Not undone: %1").arg(OneLine(problem)));
    if (!recovery.PreviousNotKept.isEmpty())
        RunLog().Warning(QStringLiteral("The previous version is not kept: %1; its files were removed")
                             .arg(OneLine(recovery.PreviousNotKept)));
}

// One updater per folder, whatever its name: the lock in Updates/ (made for the run when
// missing, and removed after it when nothing else went in), held for the whole run.
class TRunLock {
public:
    TRunLock()
        : FFolder(platform::ExecutableFolder() + QStringLiteral("Updates")),
          FMadeFolder(!QFileInfo::exists(FFolder) && !QFileInfo(FFolder).isSymLink() &&
                      platform::ForceDirectories(FFolder)) {}
    TRunLock(const TRunLock&) = delete;
    TRunLock& operator=(const TRunLock&) = delete;
    ~TRunLock() {
        if (FLock) FLock->Release();
        if (FMadeFolder) QDir().rmdir(FFolder); // only when nothing else is in it
    }

    // false, with the cause recorded, when another updater holds the lock or it can't be taken.
    bool Take() {
        try {
            FLock = platform::TLockFile::Acquire(webupdater::RunLockFile(FFolder));
        } catch (const std::exception& error) {
            RunLog().Error(QStringLiteral("Start refused: %1").arg(QString::fromUtf8(error.what())));
            return false;
        }
        if (!FLock)
            RunLog().Warning(
                QStringLiteral("Start refused: another updater runs for %1").arg(platform::ExecutableFolder()));
        return FLock.has_value();
    }

private:
    QString FFolder;
    bool FMadeFolder;
    std::optional<platform::TLockFile> FLock;
};

// Why files can't be made and renamed in AFolder, found by doing it with a probe of the
// installation's own temporary names; empty when they can.
QString FolderWriteProblem(const QString& AFolder) {
    const QString first = AFolder + QString::fromLatin1(install::NewTemporaryName());
    const QString second = AFolder + QString::fromLatin1(install::NewTemporaryName());
    try {
        std::optional<platform::TExclusiveFile> probe = platform::TExclusiveFile::CreateNew(first);
        if (!probe) return {}; // someone else's file of that name: a file was there to be made
        probe->Close();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    const QString problem = platform::RenameOver(first, second);
    platform::RemoveFile(problem.isEmpty() ? second : first);
    return problem;
}

} // namespace

bool EnsureWritableFolder(const QString& AFolder, const QStringList& AParameters) {
    const QString problem = FolderWriteProblem(AFolder);
    if (problem.isEmpty()) return true;
    const QString cause = QStringLiteral("The updater can't make and rename files in %1 (%2); nothing was stopped")
                              .arg(QDir::toNativeSeparators(AFolder), OneLine(problem));
    const QString refusal = platform::StartElevated(platform::ExecutablePath(), AParameters);
    if (refusal.isEmpty())
        RunLog().Warning(cause + QStringLiteral(", and the updater starts again with administrator rights"));
    else
        RunLog().Error(cause +
                       QStringLiteral(", and it can't start with administrator rights: %1").arg(OneLine(refusal)));
    return false;
}

int RunStartup(int argc, char** argv) {
    platform::SetCommandLine(argc, argv);
    QStringList parameters;
    for (int index = 1; index <= platform::ParamCount(); ++index) parameters.append(platform::ParamStr(index));
    // Every check comes before the windowed application exists: a refused start shows nothing
    // and needs no display.
    if (!parameters.isEmpty() && !EnsureWritableFolder(platform::ExecutableFolder(), parameters)) return 0;
    TRunLock lock;
    if (!lock.Take()) return 0;
    if (parameters.isEmpty()) return 0;
    FinishInterruptedInstallation();

    QStringList shown;
    for (const QString& parameter : std::as_const(parameters)) shown.append(ParameterForLog(parameter));
    ParseParameters(parameters);
    RunLog().Info(QStringLiteral("Start: %1, version %2, channel %3, parameters: %4")
                      .arg(platform::ExecutablePath(), ParameterForLog(ParamVersion),
                           TestMode ? QStringLiteral("Pruebas") : QStringLiteral("Produccion"), shown.join(u' ')));
    if (RollBackMode && !install::ReadPreviousVersion(platform::ExecutableFolder())) {
        const QString kept = platform::ExecutableFolder() + QStringLiteral("Updates/previous");
        RunLog().Error(
            QStringLiteral("Rollback refused: no previous version is kept in %1; nothing was stopped or changed")
                .arg(QDir::toNativeSeparators(kept)));
        return 1;
    }
    RunExitCode = 0;

    // The toolkit gets the program's name alone: the parameters are ours, and an option the
    // toolkit would take for its own ("-platform", "-style") must neither change nor abort
    // the run. It keeps references to both for its whole life.
    int toolkitArgc = 1;
    char* toolkitArgv[] = {argv[0], nullptr};
    QApplication application(toolkitArgc, toolkitArgv);
    ui::LoadWindowsFonts();
    ui::Application().OnError = [](const QString& AText) { RunLog().Error(AText); };
    try {
        auto* window = new TfrmMainUpdater_();
        ui::Application().Own(window);
        ui::Application().SetMainForm(window);
        frmMainUpdater_ = window;
        window->show();
        QApplication::exec();
    } catch (const std::exception& error) {
        ui::Application().HandleException(error);
    }
    ui::Application().ReleaseOwned();
    // After the window: the user sees the application, not the updater, while it is on trial;
    // the lock stays held, so no second updater runs meanwhile.
    RunTrial().Finish();
    RunLog().Info(QStringLiteral("End"));
    return RunExitCode;
}

} // namespace zlt::app
