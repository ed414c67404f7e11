// The default dialog: its design, and the pictures it can show by their extension.

#include "common/Errors.h"
#include "platform/Exception.h"
#include "tests/support/TestSupport.h"
#include "webupdater/ProgressDialog.h"
#include "webupdater/Types.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::webupdater;
using namespace zlt::http;
using namespace zlt::ui;

namespace {

TEST(Dialog, DesignBeforeAnyPreparation) {
    const TfrmUpdater dialog;
    EXPECT_EQ(dialog.size(), QSize(311, 122));
    EXPECT_TRUE(dialog.windowTitle().isEmpty());
    EXPECT_EQ(Control<QLabel>(&dialog, "img1")->geometry(), QRect(0, 0, 311, 122));
    EXPECT_EQ(Control<QLabel>(&dialog, "lblTitle")->pos(), QPoint(37, 22));
    EXPECT_EQ(Control<QLabel>(&dialog, "lblProgress")->pos(), QPoint(37, 44));
    EXPECT_EQ(Control<QLabel>(&dialog, "lblChecking")->pos(), QPoint(88, 53));
    EXPECT_EQ(Control<QProgressBar>(&dialog, "prb1")->geometry(), QRect(37, 75, 236, 17));
    EXPECT_EQ(Control<QProgressBar>(&dialog, "prb1")->maximum(), 100);
    EXPECT_EQ(Control<QLabel>(&dialog, "lblTitle")->text(),
              QStringLiteral("Please, wait while downloading updates..."));
    EXPECT_EQ(Control<QLabel>(&dialog, "lblProgress")->text(), QStringLiteral("Percentage"));
    EXPECT_EQ(Control<QLabel>(&dialog, "lblChecking")->text(), QStringLiteral("Checking for updates..."));
}

TEST(Dialog, PicturesLoadByTheirExtension) {
    TTempDir folder;
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    struct TCase {
        const char* File;
        const char* Format; // nullptr: written as plain bytes, must be refused
    };
    const TCase drawable[] = {
        {"p.bmp", "BMP"}, {"p.ico", "ICO"}, {"p.jpg", "JPEG"}, {"p.jpeg", "JPEG"}, {"p.tif", "TIFF"}};
    for (const TCase& c : drawable) {
        SCOPED_TRACE(c.File);
        const QString path = folder.File(QString::fromLatin1(c.File));
        ASSERT_TRUE(image.save(path, c.Format)) << "this platform cannot write " << c.Format;
        const QPixmap picture = LoadPicture(path);
        EXPECT_EQ(picture.size(), QSize(40, 30));

        // The dialog shows it at its own size.
        TkvDialogOptions options;
        options.SetPPicture(path);
        TfrmUpdater dialog;
        dialog.PrepareForCheck(options);
        EXPECT_TRUE(Control<QLabel>(&dialog, "img1")->isVisible());
        EXPECT_EQ(Control<QLabel>(&dialog, "img1")->pixmap().size(), QSize(40, 30));
    }
    const TCase refused[] = {
        {"p.wmf", nullptr}, {"p.emf", nullptr}, {"p.xyz", nullptr}, {"broken.bmp", nullptr}, {"missing.jpg", nullptr}};
    for (const TCase& c : refused) {
        SCOPED_TRACE(c.File);
        const QString path = folder.File(QString::fromLatin1(c.File));
        if (QString::fromLatin1(c.File) != QStringLiteral("missing.jpg")) WriteFile(path, "not a picture");
        EXPECT_THROW(LoadPicture(path), Exception);
    }
}

} // namespace
} // namespace zlt::test
