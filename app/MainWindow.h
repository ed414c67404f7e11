#pragma once

#include "app/Trial.h"
#include "install/Unzipper.h"
#include "platform/Processes.h"
#include "webupdater/Types.h"

#include <QPointer>
#include <QSet>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <vector>

class QCloseEvent;
class QLabel;
class QProgressBar;
class QShowEvent;
class QTimer;

namespace zlt {

namespace ui {
class TZLTPanel;
}
namespace webupdater {
class TZLTWebUpdater;
}

namespace app {

using install::TZLTProcessType;
using install::TZLTUnZipper;
using install::TZLTZipItem;
using ui::TZLTPanel;
using webupdater::TZLTWebUpdater;

class TfrmMainUpdater_;
// The one updater window, set by start-up.
extern QPointer<TfrmMainUpdater_> frmMainUpdater_;

// The updater's only window: reads the settings file, stops the application, lets its
// component download the package, installs it and restarts the application. The class spans
// MainWindow.cpp (construction and the window's own handlers), SettingsFile.cpp,
// UpdateRun.cpp (the timer, the stop loop, the transfer's progress) and PackageInstall.cpp.
class TfrmMainUpdater_ : public QWidget {
public:
    // Creates the controls, the timer and the component with their settings, sends Loaded to
    // the component, then runs FormCreate. Errors of FormCreate go to the application's
    // default error box and creation goes on.
    TfrmMainUpdater_();
    ~TfrmMainUpdater_() override;

    void ConfigFileRead();

    // The settings as read and the addresses as built.
    QString strAppliName___;
    QString strAppliExeFile;
    QString strUpdaServer__;
    QString strUpdaPath____;
    QString strUpdaFilePhp_;
    QString strUpdaFileZip_;
    QString strUpdaCheckUrl;
    QString strUpdaDownlUrl;

    // Controls and parts, as the window lays them out.
    TZLTPanel* cntFormMain____ = nullptr;
    TZLTPanel* cntContaTop____ = nullptr;
    TZLTPanel* cntFormIcon____ = nullptr;
    QLabel* imgFormImage___ = nullptr;
    TZLTPanel* cntContaClient_ = nullptr;
    TZLTPanel* cntContaBotton_ = nullptr;
    QLabel* lblUpdCaption__ = nullptr;
    QLabel* lblUpdProduct__ = nullptr;
    QLabel* lblUpdCaption2_ = nullptr;
    QProgressBar* pbrFormProgress = nullptr;
    QTimer* tmrFormTimer___ = nullptr;
    TZLTWebUpdater* wupPelmoraUpda = nullptr;

    // Handlers, public so that tests can drive them as the toolkit would.
    void FormCreate();
    void FormShow();
    void tmrFormTimer___Timer();
    void wupPelmoraUpdaDownLoadStart(TZLTWebUpdater* Sender, std::int32_t AMax);
    void wupPelmoraUpdaProgressEvent(TZLTWebUpdater* Sender, std::int32_t APosition);
    void wupPelmoraUpdaUpdateDownloaded(TZLTWebUpdater* Sender, QString AFileName);

    // The ZIP reader's handlers during the installation.
    void UnZipperArchiveProgress(TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort);
    void UnZipperConfirmOverwrite(TZLTUnZipper* Sender, QString& Name, bool& Confirm);
    void UnZipperConfirmProcessItem(TZLTUnZipper* Sender, const TZLTZipItem& Item, TZLTProcessType ProcessType,
                                    bool& Confirm);

    // How long the timer handler waits before the run (1000 ms); tests shorten it.
    static unsigned RunDelayMs;
    // The stop loop gives up on an application that is still listed after StopAttempts
    // passes, pausing StopPauseMs after each termination (500 x 20 ms: about ten seconds).
    static int StopAttempts;
    static unsigned StopPauseMs;

    // Centres the window on its screen before it is first shown.
    void setVisible(bool AVisible) override;

protected:
    void showEvent(QShowEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override; // FormClose

private:
    // The window's construction, in this order: its own look and size; the panels, the
    // picture, the labels and the bar; the start timer (running); the updater component with
    // its dialog options and handlers.
    void SetUpWindow();
    void CreateControls();
    void CreateTimer();
    void CreateUpdaterComponent();
    void LogSettings() const;
    void RunUpdate();
    void HideTitleBar(bool AHide);
    // The checks before anything is stopped: APPEXE is not the updater itself, both addresses
    // are set, and the component can start the download. false, with the cause recorded: the
    // run ends and the application is left running.
    bool ReadyToUpdate();
    void StopApplication();
    // APPEXE in the updater's folder.
    QString ApplicationProgram() const;
    void LogNamesakes(const std::vector<platform::TProcessEntry>& ANamesakes);
    void RemoveLeftovers();
    void LogInstallation(const TZLTUnZipper& AUnZipper, double ASeconds);
    // The shell's "open", recorded with its outcome.
    void StartProgram(const QString& AFileName, const QString& AParameters);
    // A native progress bar clamps a position outside its range; QProgressBar would ignore it.
    static void SetBarPosition(QProgressBar* ABar, int APosition);
    // Moves the window's bar to APosition and repaints it when that changed what it shows.
    void MoveBar(int APosition);

    // The ROLLBACK run: the application stopped, the kept previous version put back, the
    // application started again (Rollback.cpp).
    void RollBackToPrevious();
    // The installation of a ZIP package; true when it was committed.
    bool InstallPackage(TZLTUnZipper& AUnZipper, const QString& AFileName);
    // Removes the kept previous version when that frees what the package lacks; true then.
    bool MakeRoom(const install::ENotEnoughSpace& AShortage);

    bool FCentred = false;
    int FTrialSeconds = DefaultTrialSeconds; // TRIAL=, as read
    QSet<quint32> FNamesakesLogged;
};

} // namespace app

} // namespace zlt
