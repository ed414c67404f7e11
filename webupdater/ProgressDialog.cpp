#include "webupdater/ProgressDialog.h"

#include "common/Errors.h"
#include "ui/Application.h"
#include "ui/Graphics.h"
#include "webupdater/Types.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QPalette>
#include <QPixmap>
#include <QProgressBar>
#include <QScreen>

namespace zlt::webupdater {

QPointer<TfrmUpdater> frmUpdater;

using ui::ColorToQColor;

namespace {

constexpr int ClientWidth = 311;
constexpr int ClientHeight = 122;

void ApplyFont(QWidget* AControl, const TFont& AFont) {
    AControl->setFont(AFont.ToQFont());
    QPalette palette = AControl->palette();
    palette.setColor(QPalette::WindowText, ColorToQColor(AFont.Color));
    AControl->setPalette(palette);
}

QLabel* NewLabel(QWidget* AParent, const QString& ACaption, int ALeft, int ATop, int AWidth, int AHeight,
                 const TFont& AFont) {
    auto* label = new QLabel(ACaption, AParent);
    label->setGeometry(ALeft, ATop, AWidth, AHeight);
    label->setAttribute(Qt::WA_TranslucentBackground);
    ApplyFont(label, AFont);
    label->setVisible(false);
    return label;
}

TFont DialogFont(int AHeight, TColor AColor) {
    TFont font;
    font.Name = QStringLiteral("MS Sans Serif");
    font.Height = AHeight;
    font.Color = AColor;
    return font;
}

// A label sized to its text keeps its top-left corner.
void SetCaption(QLabel* ALabel, const QString& ACaption) {
    ALabel->setText(ACaption);
    ALabel->adjustSize();
}

} // namespace

TfrmUpdater::TfrmUpdater() : QWidget(nullptr, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmUpdater"));
    setWindowTitle(QString());
    setFixedSize(ClientWidth, ClientHeight);
    setAutoFillBackground(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorToQColor(ui::clBtnFace));
    setPalette(palette);
    ApplyFont(this, DialogFont(-11, ui::clWindowText));

    // Created bottom to top: the picture lies under the labels and the bar.
    img1 = new QLabel(this);
    img1->setObjectName(QStringLiteral("img1"));
    img1->setGeometry(0, 0, ClientWidth, ClientHeight);
    img1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    img1->setAttribute(Qt::WA_TranslucentBackground);
    lblProgress = NewLabel(this, QStringLiteral("Percentage"), 37, 44, 55, 13, DialogFont(-11, ui::clWindowText));
    lblProgress->setObjectName(QStringLiteral("lblProgress"));
    lblTitle = NewLabel(this, QStringLiteral("Please, wait while downloading updates..."), 37, 22, 246, 16,
                        DialogFont(-13, ui::clWindowText));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblChecking = NewLabel(this, QStringLiteral("Checking for updates..."), 88, 53, 135, 16,
                           DialogFont(-13, ui::clBlack));
    lblChecking->setObjectName(QStringLiteral("lblChecking"));
    prb1 = new QProgressBar(this);
    prb1->setObjectName(QStringLiteral("prb1"));
    prb1->setGeometry(37, 75, 236, 17);
    prb1->setRange(0, 100);
    prb1->setValue(0);
    prb1->setTextVisible(false);
    prb1->setVisible(false);
}

TfrmUpdater::~TfrmUpdater() = default;

void TfrmUpdater::PrepareForCheck(const TkvDialogOptions& AOptions) {
    lblChecking->setVisible(true);
    ApplyFont(lblChecking, AOptions.PCheckingLabelFont());
    ApplyOptions(AOptions);
}

void TfrmUpdater::PrepareForDownload(const TkvDialogOptions& AOptions) {
    lblProgress->setVisible(true);
    lblTitle->setVisible(true);
    prb1->setVisible(true);
    ApplyFont(lblProgress, AOptions.PProgressLabelFont());
    ApplyFont(lblTitle, AOptions.PTitleLabelFont());
    ApplyOptions(AOptions);
}

void TfrmUpdater::EndCheck() { lblChecking->setVisible(false); }

void TfrmUpdater::EndDownload() {
    lblProgress->setVisible(false);
    lblTitle->setVisible(false);
    prb1->setVisible(false);
}

void TfrmUpdater::BeginProgress(std::int32_t AMax) { prb1->setMaximum(AMax); }

void TfrmUpdater::ShowProgress(std::int64_t ADone) {
    // The bar carries 32-bit values: the low 32 bits of the count.
    prb1->setValue(static_cast<std::int32_t>(static_cast<std::uint32_t>(ADone)));
    prb1->repaint();
    const QString caption = QStringLiteral("%1 of %2 bytes").arg(ADone).arg(prb1->maximum());
    // The label is sized to its text; its size changes only with the text's length.
    const bool resize = caption.size() != lblProgress->text().size();
    lblProgress->setText(caption);
    if (resize) lblProgress->adjustSize();
    lblProgress->repaint();
}

void TfrmUpdater::ApplyOptions(const TkvDialogOptions& AOptions) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, ColorToQColor(AOptions.PDialogColor()));
    setPalette(palette);
    SetCaption(lblTitle, AOptions.PTitleCaption());
    SetCaption(lblProgress, AOptions.PProgressCaption());
    SetCaption(lblChecking, AOptions.PCheckingCaption());
    if (!AOptions.PPicture().isEmpty()) {
        img1->setPixmap(LoadPicture(AOptions.PPicture()));
        img1->setVisible(true);
    } else {
        img1->clear();
        img1->setVisible(false);
    }
    if (const QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
    show();
    repaint();
}

QPixmap LoadPicture(const QString& AFileName) {
    const QString extension = QFileInfo(AFileName).suffix().toLower();
    static const QStringList Metafiles{QStringLiteral("wmf"), QStringLiteral("emf")};
    static const QStringList Drawable{QStringLiteral("bmp"),  QStringLiteral("ico"), QStringLiteral("tif"),
                                      QStringLiteral("tiff"), QStringLiteral("jpg"), QStringLiteral("jpeg"),
                                      QStringLiteral("png"),  QStringLiteral("gif")};
    if (Metafiles.contains(extension))
        throw Exception(QStringLiteral("Metafile pictures can't be drawn on this platform: %1").arg(AFileName));
    if (!Drawable.contains(extension))
        throw Exception(QStringLiteral("Unknown picture file extension (.%1)").arg(extension));
    QImageReader reader(AFileName, extension.toLatin1());
    const QImage image = reader.read();
    if (image.isNull())
        throw Exception(QStringLiteral("Cannot load picture %1: %2").arg(AFileName, reader.errorString()));
    return QPixmap::fromImage(image);
}

TfrmUpdater* CreateUpdaterDialog() {
    auto* dialog = new TfrmUpdater;
    ui::Application().Own(dialog);
    frmUpdater = dialog;
    return dialog;
}

void FreeUpdaterDialog() {
    delete frmUpdater.data();
    frmUpdater = nullptr;
}

} // namespace zlt::webupdater
