#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>

class QLabel;
class QProgressBar;
class QTimer;

namespace zlt {

class TZLTPanel;
class TZLTUnZipper;
class TZLTWebUpdater;

// Run settings, written once by start-up before the window exists.
extern QString ParamVersion;
extern QString ParamUser;
extern QString ParamPassword;
extern bool TestMode;
extern bool WebVersionMode;

class TfrmMainUpdater_;
// The one updater window, set by start-up.
extern QPointer<TfrmMainUpdater_> frmMainUpdater_;

// The updater's only window: reads the settings file, stops the application, lets its
// component download the package, installs it and restarts the application.
class TfrmMainUpdater_ : public QWidget {
public:
    // Loads the form resource (controls, component, timer, stored settings), sends Loaded to
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

    // Controls and parts, as the form resource lays them out.
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

    // How long the timer handler waits before the run (1000 ms); tests shorten it.
    static unsigned RunDelayMs;
    // How many passes the stop loop makes before it gives up on the application.
    static int StopAttempts;

protected:
    void showEvent(QShowEvent* AEvent) override;
    void closeEvent(QCloseEvent* AEvent) override;

private:
    void RunUpdate();
    void HideTitleBar(bool AHide);
    void StopApplication();
};

} // namespace zlt
