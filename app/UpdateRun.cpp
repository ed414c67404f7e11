#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/RunSettings.h"
#include "common/Errors.h"
#include "common/Processes.h"
#include "install/Unzipper.h"
#include "platform/Files.h"
#include "platform/System.h"
#include "webupdater/PackageRecord.h"
#include "webupdater/WebUpdater.h"

#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTimer>

#include <algorithm>
#include <optional>
#include <vector>
#include <utility>

namespace zlt::app {

void TfrmMainUpdater_::SetBarPosition(QProgressBar* ABar, int APosition) {
    ABar->setValue(std::clamp(APosition, ABar->minimum(), std::max(ABar->minimum(), ABar->maximum())));
}

void TfrmMainUpdater_::MoveBar(int APosition) {
    // The event loop does not run during a transfer or an installation, so the bar is repainted
    // by hand; but only when it moved: thousands of small entries share a hundred positions,
    // and a repaint that shows nothing new costs more than the entry itself.
    const int before = pbrFormProgress->value();
    SetBarPosition(pbrFormProgress, APosition);
    if (pbrFormProgress->value() != before) pbrFormProgress->repaint();
}

void TfrmMainUpdater_::tmrFormTimer___Timer() {
    Guarded(QStringLiteral("tmrFormTimer___Timer"), [this] {
        tmrFormTimer___->stop();
        platform::Sleep(RunDelayMs);
        RunUpdate();
    });
}

void TfrmMainUpdater_::RunUpdate() {
    // The run is what showing the window sets going, so its failures carry the label of the
    // show handler: the error box then names the step the user saw begin.
    Guarded(QStringLiteral("FormShow"), [this] {
        wupPelmoraUpda->SetPVersionNumber(ParamVersion);
        RemoveLeftovers();
        if (RollBackMode) {
            RollBackToPrevious();
            close();
            return;
        }
        // Check first, stop last: an update that can't happen leaves the application running.
        if (!ReadyToUpdate()) {
            close();
            return;
        }
        StopApplication();
        wupPelmoraUpda->SetPProgressBar(pbrFormProgress);
        wupPelmoraUpda->DownloadUpdatesNetHTTPClient();
        close();
    });
}

void TfrmMainUpdater_::RemoveLeftovers() {
    // The packages of earlier runs, a partial one of a killed run among them: only the files
    // that downloads recorded making, nothing else a user keeps in Updates/. (The start-up has
    // applied the installation's journal already.)
    const QString updates = platform::ExecutableFolder() + QStringLiteral("Updates");
    if (!platform::IsRealFolder(updates)) return;
    if (const int removed = webupdater::RemoveRecordedPackages(updates); removed > 0)
        RunLog().Info(QStringLiteral("Removed %1 packages of earlier runs").arg(removed));
}

QString TfrmMainUpdater_::ApplicationProgram() const {
    return QDir(platform::ExecutableFolder()).absoluteFilePath(strAppliExeFile);
}

bool TfrmMainUpdater_::ReadyToUpdate() {
    const std::optional<platform::TFileIdentity> program = platform::FileIdentity(ApplicationProgram());
    if (program && program == platform::FileIdentity(platform::ExecutablePath())) {
        RunLog().Error(QStringLiteral("APPEXE %1 names the updater itself: nothing is stopped, updated or started")
                           .arg(strAppliExeFile));
        return false;
    }
    if (wupPelmoraUpda->PCheckUrl().isEmpty() || wupPelmoraUpda->PDownloadUrl().isEmpty()) {
        RunLog().Error(QStringLiteral("Update not begun: the settings give no %1 address; %2 was left running")
                           .arg(wupPelmoraUpda->PDownloadUrl().isEmpty() ? QStringLiteral("download")
                                                                         : QStringLiteral("check"),
                                strAppliExeFile));
        return false;
    }
    if (!wupPelmoraUpda->PrepareDownload()) {
        RunLog().Warning(QStringLiteral("Update not begun; %1 was left running").arg(strAppliExeFile));
        return false;
    }
    return true;
}

void TfrmMainUpdater_::StopApplication() {
    // Each pass ends the first copy found. The termination does not wait for the process to go,
    // hence the pause; and a copy that cannot be ended (not ours) must not hold the run forever.
    // Only copies of this folder's program are ours: a program of the same name elsewhere is
    // left running, and said so once.
    const QString program = ApplicationProgram();
    quint32 processId = 0;
    quint32 logged = 0; // a copy is listed until it is gone: each one is recorded once
    std::vector<platform::TProcessEntry> namesakes;
    const auto find = [&] {
        FindProgramCopy(program, processId, &namesakes);
        LogNamesakes(namesakes);
    };
    find();
    for (int pass = 0; processId != 0; ++pass) {
        if (pass >= StopAttempts) {
            RunLog().Error(QStringLiteral("Could not stop %1 (process %2): still running after %3 attempts")
                               .arg(strAppliExeFile)
                               .arg(processId)
                               .arg(StopAttempts));
            throw Exception(QStringLiteral("No se pudo detener la aplicación ") + strAppliExeFile + u'.');
        }
        const bool stopped = KillProcess(processId);
        if (std::exchange(logged, processId) != processId) {
            if (stopped)
                RunLog().Info(QStringLiteral("Stopped %1 (process %2)").arg(strAppliExeFile).arg(processId));
            else
                RunLog().Warning(QStringLiteral("Could not stop %1 (process %2)").arg(strAppliExeFile).arg(processId));
        }
        platform::Sleep(StopPauseMs);
        find();
    }
}

void TfrmMainUpdater_::LogNamesakes(const std::vector<platform::TProcessEntry>& ANamesakes) {
    for (const platform::TProcessEntry& entry : ANamesakes) {
        if (FNamesakesLogged.contains(entry.ProcessId)) continue;
        FNamesakesLogged.insert(entry.ProcessId);
        RunLog().Info(QStringLiteral("Left running: process %1 runs %2, not %3")
                          .arg(entry.ProcessId)
                          .arg(entry.ExePath.isEmpty() ? entry.ExeFile + QStringLiteral(" (a file that can't be read)")
                                                       : entry.ExePath,
                               ApplicationProgram()));
    }
}

void TfrmMainUpdater_::wupPelmoraUpdaDownLoadStart(TZLTWebUpdater* /*Sender*/, std::int32_t AMax) {
    Guarded(QStringLiteral("wupPelmoraUpdaDownLoadStart"), [this, AMax] {
        pbrFormProgress->setVisible(true);
        SetBarPosition(pbrFormProgress, 0);
        pbrFormProgress->setMinimum(0);
        pbrFormProgress->setMaximum(AMax);
        // The event loop is blocked during a transfer.
        pbrFormProgress->repaint();
    });
}

void TfrmMainUpdater_::wupPelmoraUpdaProgressEvent(TZLTWebUpdater* /*Sender*/, std::int32_t APosition) {
    Guarded(QStringLiteral("wupPelmoraUpdaProgressEvent"), [this, APosition] { MoveBar(APosition); });
}

} // namespace zlt::app
