#include "app/uFrmMainUpdater_.h"

#include "app/uUpdaterIcon.h"
#include "app/uZLTUnZipper.h"
#include "common/uZLTGlobal.h"
#include "platform/Application.h"
#include "platform/Exceptions.h"
#include "platform/Graphics.h"
#include "platform/Messages.h"
#include "platform/Panel.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "webupdater/uTZLTWebUpdater.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProgressBar>
#include <QScreen>
#include <QShowEvent>
#include <QStyle>
#include <QTimer>

#include <algorithm>
#include <exception>
#include <memory>
#include <utility>

namespace zlt {

unsigned TfrmMainUpdater_::RunDelayMs = 1000;
int TfrmMainUpdater_::StopAttempts = 500;
unsigned TfrmMainUpdater_::StopPauseMs = 20;
std::function<void()> TfrmMainUpdater_::ConfigFileReadTestHook;

namespace {

constexpr TColor clFrameBlue = RGBColor(0x78, 0xAD, 0xE9);  // stored 15314296
constexpr TColor clIconLine = RGBColor(0xB4, 0xDC, 0xF3);   // stored 15981748
constexpr TColor clTestYellow = RGBColor(0xFF, 0xFF, 0xB3); // stored 0x00B3FFFF

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

// A label that emboldens a bitmap face the way the Windows text renderer does: the glyphs
// drawn twice, one pixel apart, each advancing one pixel more. "MS Sans Serif" is such a face without a bold variant, and the
// toolkit emboldens only outline glyphs, so its bold would come out as regular text.
class TRasterBoldLabel : public QLabel {
public:
    TRasterBoldLabel(const QString& AText, QWidget* AParent) : QLabel(AText, AParent) {}

protected:
    void paintEvent(QPaintEvent* AEvent) override {
        const QFontInfo face(font());
        if (!font().bold() || QFontDatabase::bold(face.family(), face.styleName()) ||
            QFontDatabase::isSmoothlyScalable(face.family(), face.styleName())) {
            QLabel::paintEvent(AEvent);
            return;
        }
        // Each emboldened glyph is one pixel wider, as with the system's own emboldening.
        QFont wider = font();
        wider.setLetterSpacing(QFont::AbsoluteSpacing, 1);
        QPainter painter(this);
        painter.setFont(wider);
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetrics metrics(wider);
        const QSize textSize(metrics.horizontalAdvance(text()) + 1, metrics.height());
        const QRect box = QStyle::alignedRect(layoutDirection(), alignment(), textSize, contentsRect());
        for (const int offset : {0, 1}) painter.drawText(box.left() + offset, box.top() + metrics.ascent(), text());
    }
};

QLabel* CreateLabel(QWidget* AParent, const char* AName, const QRect& AGeometry, const QString& AText) {
    TFont font;
    font.Name = QStringLiteral("MS Sans Serif");
    font.Height = -11;
    font.Color = clWhite;
    font.Style = std::uint8_t(TFontStyle::fsBold);

    auto* label = new TRasterBoldLabel(AText, AParent);
    label->setObjectName(QString::fromLatin1(AName));
    label->setGeometry(AGeometry);
    label->setFont(font.ToQFont());
    SetFontColor(label, font.Color);
    // Fixed width, no automatic sizing; the panel's fill shows through.
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    label->setAutoFillBackground(false);
    return label;
}

// The extension as the Delphi runtime takes it: from the last "." of the file name, dot
// included; empty when the name part has no dot.
QString ExtractFileExt(const QString& AFileName) {
    const qsizetype dot = AFileName.lastIndexOf(u'.');
    const qsizetype delimiter = std::max(AFileName.lastIndexOf(u'/'), AFileName.lastIndexOf(u'\\'));
    if (dot < 0 || dot < delimiter) return {};
    return AFileName.mid(dot);
}

QString UpperCaseAscii(QString AText) {
    for (QChar& ch : AText)
        if (ch >= u'a' && ch <= u'z') ch = QChar(char16_t(ch.unicode() - (u'a' - u'A')));
    return AText;
}

// A native progress bar clamps a position outside its range; QProgressBar would ignore it.
void SetBarPosition(QProgressBar* ABar, int APosition) {
    ABar->setValue(std::clamp(APosition, ABar->minimum(), std::max(ABar->minimum(), ABar->maximum())));
}

} // namespace

TfrmMainUpdater_::TfrmMainUpdater_() : QWidget(nullptr) {
    LoadFormResource();
    wupPelmoraUpda->Loaded();
    try {
        FormCreate();
    } catch (const std::exception& error) {
        Application().HandleException(error);
    }
}

TfrmMainUpdater_::~TfrmMainUpdater_() = default;

void TfrmMainUpdater_::LoadFormResource() {
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

    cntFormMain____ = CreatePanel(this, "cntFormMain____", {0, 0, 472, 125}, TAlign::alClient, clFrameBlue,
                                  psLeft | psTop | psRight, clFrameBlue, 2);
    cntContaTop____ = CreatePanel(cntFormMain____, "cntContaTop____", {3, 3, 466, 14}, TAlign::alTop, clBlack,
                                  psAll, clFrameBlue, 0);
    cntFormIcon____ = CreatePanel(cntFormMain____, "cntFormIcon____", {3, 17, 86, 93}, TAlign::alLeft, clBlack,
                                  psAll, clIconLine, 0);
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

    tmrFormTimer___ = new QTimer(this);
    tmrFormTimer___->setObjectName(QStringLiteral("tmrFormTimer___"));
    tmrFormTimer___->setInterval(1000);
    connect(tmrFormTimer___, &QTimer::timeout, this, [this] {
        // Nothing may leave a Qt handler: the error goes to the default error box.
        try {
            tmrFormTimer___Timer();
        } catch (const std::exception& error) {
            Application().HandleException(error);
        }
    });
    tmrFormTimer___->start();

    wupPelmoraUpda = new TZLTWebUpdater(this);
    wupPelmoraUpda->SetName(QStringLiteral("wupPelmoraUpda"));
    wupPelmoraUpda->SetPUseDefaultForm(false);
    wupPelmoraUpda->SetPUpdateMode(TUpdateMode::umAuto);
    TkvDialogOptions* options = wupPelmoraUpda->PDialogOptions();
    options->SetPTitleCaption(QStringLiteral("Please, wait while downloading updates..."));
    options->SetPProgressCaption(QStringLiteral("Percentage"));
    options->SetPCheckingCaption(QStringLiteral("Checking for updates..."));
    TFont dialogFont;
    dialogFont.Name = QStringLiteral("Tahoma");
    dialogFont.Height = -11;
    dialogFont.Color = clWindowText;
    dialogFont.Style = 0;
    dialogFont.Charset = DEFAULT_CHARSET;
    options->PTitleLabelFont()->Assign(dialogFont);
    options->PProgressLabelFont()->Assign(dialogFont);
    options->PCheckingLabelFont()->Assign(dialogFont);
    wupPelmoraUpda->SetPProgressBar(pbrFormProgress);
    wupPelmoraUpda->OnDownLoadStart = [this](TZLTWebUpdater* Sender, std::int32_t AMax) {
        wupPelmoraUpdaDownLoadStart(Sender, AMax);
    };
    wupPelmoraUpda->OnProgressEvent = [this](TZLTWebUpdater* Sender, std::int32_t APosition) {
        wupPelmoraUpdaProgressEvent(Sender, APosition);
    };
    wupPelmoraUpda->OnUpdateDownloaded = [this](TZLTWebUpdater* Sender, TFileName AFileName) {
        wupPelmoraUpdaUpdateDownloaded(Sender, std::move(AFileName));
    };
}

void TfrmMainUpdater_::FormCreate() {
    ConfigFileRead();
    setWindowTitle(QStringLiteral("Pelmora actualizador - ") + strAppliName___);
    Application().SetTitle(windowTitle());
    UpdateApplyMessage = platform::RegisterWindowMessage(QStringLiteral("MESAGE_UPDATE_APPLY"));
    HideTitleBar(true);
    if (!tmrFormTimer___->isActive()) tmrFormTimer___->start();
}

void TfrmMainUpdater_::ConfigFileRead() {
    wupPelmoraUpda->SetPCheckUrl(QString());
    wupPelmoraUpda->SetPDownloadUrl(QString());
    Guarded(QStringLiteral("ConfigFileRead"), [this] {
        const QString section = QStringLiteral("UPDATE");
        IniFileLoad(section, QStringLiteral("APPNAME"), QString(), strAppliName___);
        IniFileLoad(section, QStringLiteral("APPEXE"), QString(), strAppliExeFile);
        IniFileLoad(section, QStringLiteral("SERVER1"), QString(), strUpdaServer__);
        IniFileLoad(section, QStringLiteral("PATHUPD"), QString(), strUpdaPath____);
        IniFileLoad(section, QStringLiteral("FILEPHP"), QString(), strUpdaFilePhp_);
        IniFileLoad(section, QStringLiteral("FILEZIP"), QString(), strUpdaFileZip_);
        if (ConfigFileReadTestHook) ConfigFileReadTestHook();

        bool checkReady = false;
        bool downloadReady = false;
        if (!StringIsEmpty(strUpdaServer__)) {
            strUpdaCheckUrl = strUpdaServer__;
            strUpdaDownlUrl = strUpdaServer__;
            if (!StringIsEmpty(strUpdaPath____)) {
                const QString folder = strUpdaPath____ + u'/' +
                                       (TestMode ? QStringLiteral("Pruebas/") : QStringLiteral("Produccion/"));
                strUpdaCheckUrl += folder;
                strUpdaDownlUrl += folder;
                if (!StringIsEmpty(strUpdaFilePhp_)) {
                    strUpdaCheckUrl += strUpdaFilePhp_;
                    checkReady = true;
                }
                if (!StringIsEmpty(strUpdaFileZip_)) {
                    strUpdaDownlUrl += strUpdaFileZip_;
                    downloadReady = true;
                }
            }
        }
        if (checkReady) wupPelmoraUpda->SetPCheckUrl(strUpdaCheckUrl);
        if (downloadReady) wupPelmoraUpda->SetPDownloadUrl(strUpdaDownlUrl);
        lblUpdProduct__->setText(strAppliName___);
    });
}

void TfrmMainUpdater_::HideTitleBar(bool AHide) {
    Guarded(QStringLiteral("ConfigFileRead"), [this, AHide] {
        // Qt's counterpart of clearing the caption bits: a customised frame without the title
        // bar hint keeps the sizeable border. The widget's size is the client area, kept as it is.
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

void TfrmMainUpdater_::tmrFormTimer___Timer() {
    Guarded(QStringLiteral("tmrFormTimer___Timer"), [this] {
        tmrFormTimer___->stop();
        platform::Sleep(RunDelayMs);
        RunUpdate();
    });
}

void TfrmMainUpdater_::RunUpdate() {
    Guarded(QStringLiteral("FormShow"), [this] {
        wupPelmoraUpda->SetPVersionNumber(ParamVersion);
        StopApplication();
        wupPelmoraUpda->SetPProgressBar(pbrFormProgress);
        wupPelmoraUpda->DownloadUpdatesNetHTTPClient();
        close();
    });
}

void TfrmMainUpdater_::StopApplication() {
    // Each pass ends the first copy found. The termination does not wait for the process to go,
    // hence the pause; and a copy that cannot be ended (not ours) must not hold the run forever.
    quint32 processId = 0;
    FindProcess(strAppliExeFile, processId);
    for (int pass = 0; processId != 0; ++pass) {
        if (pass >= StopAttempts)
            throw Exception(QStringLiteral("No se pudo detener la aplicación ") + strAppliExeFile + u'.');
        KillProcess(processId);
        platform::Sleep(StopPauseMs);
        FindProcess(strAppliExeFile, processId);
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
    Guarded(QStringLiteral("wupPelmoraUpdaProgressEvent"), [this, APosition] {
        SetBarPosition(pbrFormProgress, APosition);
        pbrFormProgress->repaint();
    });
}

void TfrmMainUpdater_::wupPelmoraUpdaUpdateDownloaded(TZLTWebUpdater* /*Sender*/, QString AFileName) {
    Guarded(QStringLiteral("wupPelmoraUpdaUpdateDownloaded"), [this, &AFileName] {
        pbrFormProgress->setMinimum(0);
        SetBarPosition(pbrFormProgress, 0);
        pbrFormProgress->setMaximum(100);
        pbrFormProgress->repaint();

        // Owned by the window while it lives; released here on every path.
        const std::unique_ptr<TZLTUnZipper> unzipper = std::make_unique<TZLTUnZipper>(this);
        unzipper->OnArchiveProgress = [this](TZLTUnZipper* Sender, std::uint8_t Progress, bool& Abort) {
            UnZipperArchiveProgress(Sender, Progress, Abort);
        };
        unzipper->OnConfirmOverwrite = [this](TZLTUnZipper* Sender, QString& Name, bool& Confirm) {
            UnZipperConfirmOverwrite(Sender, Name, Confirm);
        };
        unzipper->OnConfirmProcessItem = [this](TZLTUnZipper* Sender, const TZLTZipItem& Item,
                                                TZLTProcessType ProcessType, bool& Confirm) {
            UnZipperConfirmProcessItem(Sender, Item, ProcessType, Confirm);
        };
        unzipper->CreateDirs = true;
        unzipper->RestorePath = true;

        if (UpperCaseAscii(ExtractFileExt(AFileName)).contains(QStringLiteral("ZIP"))) {
            unzipper->CreateDirs = true;
            unzipper->RestorePath = true;
            unzipper->Open(AFileName);
            unzipper->BaseDirectory = platform::ExecutableFolder();
            try {
                unzipper->ExtractFiles(QStringLiteral("*"));
            } catch (const std::exception&) {
                // Whatever was extracted stays; the application is started in any case.
            }
            platform::ShellExecuteOpen(strAppliExeFile, QStringLiteral("Upd=1"));
        } else {
            platform::ShellExecuteOpen(AFileName);
        }
    });
}

void TfrmMainUpdater_::UnZipperArchiveProgress(TZLTUnZipper* /*Sender*/, std::uint8_t Progress, bool& /*Abort*/) {
    Guarded(QStringLiteral("UnZipperArchiveProgress"), [this, Progress] {
        SetBarPosition(pbrFormProgress, Progress);
        pbrFormProgress->repaint();
    });
}

void TfrmMainUpdater_::UnZipperConfirmOverwrite(TZLTUnZipper* /*Sender*/, QString& /*Name*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmOverwrite"), [&Confirm] { Confirm = true; });
}

void TfrmMainUpdater_::UnZipperConfirmProcessItem(TZLTUnZipper* /*Sender*/, const TZLTZipItem& /*Item*/,
                                                  TZLTProcessType /*ProcessType*/, bool& Confirm) {
    Guarded(QStringLiteral("UnZipperConfirmProcessItem"), [&Confirm] { Confirm = true; });
}

} // namespace zlt
