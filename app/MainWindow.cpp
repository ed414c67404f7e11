#include "app/MainWindow.h"

#include "app/RunLog.h"
#include "app/RunSettings.h"
#include "app/UpdaterIcon.h"
#include "common/Errors.h"
#include "platform/Window.h"
#include "ui/Application.h"
#include "ui/BoldLabel.h"
#include "ui/Graphics.h"
#include "ui/Panel.h"
#include "ui/WindowMessages.h"
#include "webupdater/WebUpdater.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QPalette>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>

#include <exception>
#include <utility>

namespace zlt::app {

// The window is drawn in the toolkit's vocabulary throughout.
using namespace ui;

QPointer<TfrmMainUpdater_> frmMainUpdater_;

unsigned TfrmMainUpdater_::RunDelayMs = 1000;
int TfrmMainUpdater_::StopAttempts = 500;
unsigned TfrmMainUpdater_::StopPauseMs = 20;

namespace {

constexpr TColor clFrameBlue = RGBColor(0x78, 0xAD, 0xE9);  // the frame and the panels' lines
constexpr TColor clIconLine = RGBColor(0xB4, 0xDC, 0xF3);   // the lines of the icon's panel
constexpr TColor clTestYellow = RGBColor(0xFF, 0xFF, 0xB3); // the panels' fill in test mode

TZLTPanel* CreatePanel(QWidget* AParent, const char* AName, const QRect& AGeometry, TAlign AAlign, TColor AColor,
                       std::uint8_t ALines, TColor ALineColor, int ABorderWidth) {
    auto* panel = new TZLTPanel(AParent);
    panel->setObjectName(QString::fromLatin1(AName));
    panel->setGeometry(AGeometry);
    panel->SetColor(AColor);
    panel->SetLines(ALines);
    panel->SetLineColor(ALineColor);
    panel->SetBorderWidth(ABorderWidth);
    panel->SetAlign(AAlign);
    return panel;
}

void SetFontColor(QWidget* AControl, TColor AColor) {
    QPalette palette = AControl->palette();
    palette.setColor(QPalette::WindowText, ColorToQColor(AColor));
    AControl->setPalette(palette);
}

QLabel* CreateLabel(QWidget* AParent, const char* AName, const QRect& AGeometry, const QString& AText) {
    TFont font;
    font.Name = QStringLiteral("MS Sans Serif");
    font.Height = -11;
    font.Color = clWhite;
    font.Style = std::uint8_t(TFontStyle::fsBold);

    auto* label = new ui::TRasterBoldLabel(AText, AParent);
    label->setObjectName(QString::fromLatin1(AName));
    label->setGeometry(AGeometry);
    label->setFont(font.ToQFont());
    SetFontColor(label, font.Color);
    // Fixed width, no automatic sizing; the panel's fill shows through.
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setAutoFillBackground(false);
    return label;
}

} // namespace

TfrmMainUpdater_::TfrmMainUpdater_() : QWidget(nullptr) {
    SetUpWindow();
    CreateControls();
    CreateTimer();
    CreateUpdaterComponent();
    wupPelmoraUpda->Loaded();
    try {
        FormCreate();
    } catch (const std::exception& error) {
        Application().HandleException(error);
    }
}

TfrmMainUpdater_::~TfrmMainUpdater_() = default;

void TfrmMainUpdater_::SetUpWindow() {
    LoadWindowsFonts();
    setObjectName(QStringLiteral("frmMainUpdater_"));
    setWindowTitle(QStringLiteral("frmMainUpdater_"));
    setWindowIcon(UpdaterIcon());
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorToQColor(clBtnFace));
    palette.setColor(QPalette::WindowText, ColorToQColor(clWindowText));
    setPalette(palette);
    setAutoFillBackground(true);
    setFont(TFont().ToQFont()); // "Tahoma", -11, window text
    resize(472, 125);
}

void TfrmMainUpdater_::CreateControls() {
    cntFormMain____ = CreatePanel(this, "cntFormMain____", {0, 0, 472, 125}, TAlign::alClient, clFrameBlue,
                                  psLeft | psTop | psRight, clFrameBlue, 2);
    cntContaTop____ = CreatePanel(cntFormMain____, "cntContaTop____", {3, 3, 466, 14}, TAlign::alTop, clBlack, psAll,
                                  clFrameBlue, 0);
    cntFormIcon____ = CreatePanel(cntFormMain____, "cntFormIcon____", {3, 17, 86, 93}, TAlign::alLeft, clBlack, psAll,
                                  clIconLine, 0);
    imgFormImage___ = new QLabel(cntFormIcon____);
    imgFormImage___->setObjectName(QStringLiteral("imgFormImage___"));
    imgFormImage___->setGeometry(27, 25, 32, 32);
    imgFormImage___->setPixmap(QPixmap::fromImage(DrawUpdaterIcon(32)));
    imgFormImage___->setScaledContents(true);
    cntContaClient_ = CreatePanel(cntFormMain____, "cntContaClient_", {89, 17, 380, 93}, TAlign::alClient, clBlack,
                                  psAll, clFrameBlue, 0);
    cntContaBotton_ = CreatePanel(cntFormMain____, "cntContaBotton_", {3, 110, 466, 13}, TAlign::alBottom, clBlack,
                                  psAll, clFrameBlue, 0);

    lblUpdCaption__ = CreateLabel(cntContaClient_, "lblUpdCaption__", {62, 6, 286, 13},
                                  QStringLiteral("ZELT Updater está Instalando actualizaciones de"));
    lblUpdProduct__ = CreateLabel(cntContaClient_, "lblUpdProduct__", {62, 25, 286, 13}, QString());
    lblUpdCaption2_ = CreateLabel(cntContaClient_, "lblUpdCaption2_", {62, 44, 286, 13},
                                  QStringLiteral("Por favor espere un momento"));

    pbrFormProgress = new QProgressBar(cntContaClient_);
    pbrFormProgress->setObjectName(QStringLiteral("pbrFormProgress"));
    pbrFormProgress->setGeometry(6, 71, 363, 16);
    pbrFormProgress->setTextVisible(false);
    pbrFormProgress->setRange(0, 100);
    pbrFormProgress->setValue(0);
    pbrFormProgress->setVisible(true);
}

void TfrmMainUpdater_::CreateTimer() {
    tmrFormTimer___ = new QTimer(this);
    tmrFormTimer___->setObjectName(QStringLiteral("tmrFormTimer___"));
    tmrFormTimer___->setInterval(1000);
    connect(tmrFormTimer___, &QTimer::timeout, this, [this] {
        // Nothing may leave a Qt handler: the error goes to the default error box.
        // The run is over either way: after the error box the window closes and the program
        // ends, so that a run that failed (an application that can't be stopped) never leaves
        // an updater waiting, and every later one refused.
        try {
            tmrFormTimer___Timer();
        } catch (const std::exception& error) {
            Application().HandleException(error);
            close();
        }
    });
    tmrFormTimer___->start();
}

void TfrmMainUpdater_::CreateUpdaterComponent() {
    wupPelmoraUpda = new TZLTWebUpdater(this);
    wupPelmoraUpda->SetName(QStringLiteral("wupPelmoraUpda"));
    wupPelmoraUpda->SetPUseDefaultForm(false);
    wupPelmoraUpda->SetPUpdateMode(webupdater::TUpdateMode::umAuto);
    webupdater::TkvDialogOptions* options = wupPelmoraUpda->PDialogOptions();
    options->SetPTitleCaption(QStringLiteral("Please, wait while downloading updates..."));
    options->SetPProgressCaption(QStringLiteral("Percentage"));
    options->SetPCheckingCaption(QStringLiteral("Checking for updates..."));
    TFont dialogFont;
    dialogFont.Name = QStringLiteral("Tahoma");
    dialogFont.Height = -11;
    dialogFont.Color = clWindowText;
    dialogFont.Style = 0;
    dialogFont.Charset = DEFAULT_CHARSET;
    options->PTitleLabelFont().Assign(dialogFont);
    options->PProgressLabelFont().Assign(dialogFont);
    options->PCheckingLabelFont().Assign(dialogFont);
    wupPelmoraUpda->SetPProgressBar(pbrFormProgress);
    wupPelmoraUpda->OnDownLoadStart = [this](TZLTWebUpdater* Sender, std::int32_t AMax) {
        wupPelmoraUpdaDownLoadStart(Sender, AMax);
    };
    wupPelmoraUpda->OnProgressEvent = [this](TZLTWebUpdater* Sender, std::int32_t APosition) {
        wupPelmoraUpdaProgressEvent(Sender, APosition);
    };
    wupPelmoraUpda->OnLog = [](TZLTWebUpdater*, webupdater::TLogLevel ALevel, const QString& AText) {
        RunLog().Write(ALevel, AText);
    };
    wupPelmoraUpda->OnUpdateDownloaded = [this](TZLTWebUpdater* Sender, webupdater::TFileName AFileName) {
        wupPelmoraUpdaUpdateDownloaded(Sender, std::move(AFileName));
    };
}

void TfrmMainUpdater_::FormCreate() {
    ConfigFileRead();
    setWindowTitle(QStringLiteral("Pelmora actualizador - ") + strAppliName___);
    Application().SetTitle(windowTitle());
    webupdater::UpdateApplyMessage = RegisterWindowMessage(QStringLiteral("MESAGE_UPDATE_APPLY"));
    HideTitleBar(true);
    if (!tmrFormTimer___->isActive()) tmrFormTimer___->start();
}

void TfrmMainUpdater_::HideTitleBar(bool AHide) {
    // The guard carries the settings routine's label on purpose: HideTitleBar is part of
    // setting the window up from its settings, and a failure here reads as that step's.
    Guarded(QStringLiteral("ConfigFileRead"), [this, AHide] {
        // On Windows the caption bits of the window's style go, with the system's calls, on the
        // window's handle (made now if it is not there yet): the sizeable frame stays and the
        // client area keeps its size. Not on the offscreen platform, whose windows are no
        // system windows.
        if (platform::HasNativeTitleBar() && QGuiApplication::platformName() == QLatin1String("windows")) {
            platform::SetNativeTitleBar(quintptr(winId()), !AHide);
            return;
        }
        // Elsewhere Qt's counterpart: a customised frame without the title bar hint. On X11, Qt
        // asks the window manager for no decorations at all for such a window, so the whole
        // frame goes, border included, and the window is the client area alone. The widget's
        // size is the client area, kept as it is.
        constexpr Qt::WindowFlags titleBar = Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                             Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint;
        const QSize client = size();
        const bool wasVisible = isVisible();
        Qt::WindowFlags flags = windowFlags() | Qt::Window | Qt::CustomizeWindowHint;
        flags = AHide ? (flags & ~titleBar) : (flags | titleBar);
        setWindowFlags(flags); // hides a visible window
        resize(client);
        if (wasVisible) show();
    });
}

void TfrmMainUpdater_::setVisible(bool AVisible) {
    if (AVisible && !FCentred && isWindow()) {
        FCentred = true;
        QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            const QRect area = screen->geometry();
            move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
        }
    }
    QWidget::setVisible(AVisible);
}

void TfrmMainUpdater_::showEvent(QShowEvent* AEvent) {
    QWidget::showEvent(AEvent);
    try {
        FormShow();
    } catch (const std::exception& error) {
        Application().HandleException(error);
    }
}

void TfrmMainUpdater_::FormShow() {
    Guarded(QStringLiteral("FormShow"), [this] {
        if (!TestMode) return;
        for (TZLTPanel* panel : {cntContaTop____, cntFormMain____, cntFormIcon____, cntContaBotton_, cntContaClient_})
            panel->SetColor(clTestYellow);
        for (QLabel* label : {lblUpdCaption__, lblUpdProduct__, lblUpdCaption2_}) SetFontColor(label, clBlack);
    });
}

void TfrmMainUpdater_::closeEvent(QCloseEvent* AEvent) {
    // The close action frees the window; being the main window, its closing ends the program.
    setAttribute(Qt::WA_DeleteOnClose);
    AEvent->accept();
}

} // namespace zlt::app
