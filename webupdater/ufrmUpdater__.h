#pragma once

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QLabel;
class QProgressBar;

namespace zlt {

class TkvDialogOptions;

// The component's default progress dialog: a small tool window that the component drives
// entirely. Owned by the application object.
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

    QLabel* img1;
    QLabel* lblProgress;
    QLabel* lblTitle;
    QLabel* lblChecking;
    QProgressBar* prb1;

private:
    void ApplyOptions(const TkvDialogOptions& AOptions);
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

} // namespace zlt
