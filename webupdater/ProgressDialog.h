#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <cstdint>

class QLabel;
class QProgressBar;

namespace zlt::webupdater {

class TkvDialogOptions;

// The component's default progress dialog: a small tool window that only shows what the
// component tells it, through the calls below; it knows nothing of transfers. Owned by the
// application object. Its controls carry their names as object names (img1, lblProgress,
// lblTitle, lblChecking, prb1).
class TfrmUpdater : public QWidget {
public:
    TfrmUpdater();
    ~TfrmUpdater() override;

    // Shows the checking label, applies the options and shows the dialog, repainted.
    // Throws Exception when the picture of the options cannot be loaded.
    void PrepareForCheck(const TkvDialogOptions& AOptions);
    // Shows the progress label, the title and the bar, applies the options, shows, repaints.
    void PrepareForDownload(const TkvDialogOptions& AOptions);
    void EndCheck();    // hides the checking label
    void EndDownload(); // hides the progress label, the title and the bar, in that order

    // A transfer of AMax bytes begins: the bar's range becomes 0..AMax.
    void BeginProgress(std::int32_t AMax);
    // ADone bytes have arrived: the bar moves there and the progress label reads
    // "<ADone> of <the bar's maximum> bytes". Both are repainted at once, since the event
    // loop does not run during a transfer.
    void ShowProgress(std::int64_t ADone);

private:
    void ApplyOptions(const TkvDialogOptions& AOptions);

    QLabel* img1;
    QLabel* lblProgress;
    QLabel* lblTitle;
    QLabel* lblChecking;
    QProgressBar* prb1;
};

// The current default dialog, none when there is none.
extern QPointer<TfrmUpdater> frmUpdater;

// Creates a dialog owned by the application object and stores it in frmUpdater; the dialog
// referred to before is not freed.
TfrmUpdater* CreateUpdaterDialog();
// Frees the dialog in frmUpdater, if any, and clears frmUpdater.
void FreeUpdaterDialog();

// Loads a picture file by its extension (bitmap, icon, TIFF, JPEG, PNG); throws Exception
// for a format this platform can't draw (metafiles) or a file that can't be read.
QPixmap LoadPicture(const QString& AFileName);

} // namespace zlt::webupdater
