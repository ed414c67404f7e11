// The updater's icon drawn by code: eight square sizes in 32-bit colour with transparency,
// each showing the blue globe and the orange arrow.

#include "app/UpdaterIcon.h"

#include "tests/support/TestSupport.h"

#include <QColor>
#include <QDataStream>
#include <QImage>

#include <gtest/gtest.h>

#include <functional>

namespace zlt::test {

using namespace zlt::app;

namespace {

TEST(UpdaterIconTest, HoldsEightSizesOfTheGlobeAndTheArrow) {
    const QIcon icon = UpdaterIcon();
    EXPECT_EQ(icon.availableSizes().size(), 8);
    for (const int size : UpdaterIconSizes) {
        SCOPED_TRACE(size);
        EXPECT_TRUE(icon.availableSizes().contains(QSize(size, size)));
        const QImage image = DrawUpdaterIcon(size);
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.depth(), 32);
        EXPECT_TRUE(image.hasAlphaChannel());
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << "transparent around the globe";

        int orange = 0;
        int blue = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.alpha() < 200) continue;
                if (c.red() > 200 && c.green() > 70 && c.green() < 200 && c.blue() < 90) ++orange;
                if (c.blue() > c.red() + 60 && c.blue() > 120) ++blue;
            }
        // Each part covers a fair share of the picture at every size.
        EXPECT_GT(orange, size * size / 25);
        EXPECT_GT(blue, size * size / 8);
    }
}

// The Windows build's icon resource is the checked-in app/updater.ico: it must show what the
// code draws, size for size (after a change to the drawing, run zlt_write_icon app/updater.ico).
TEST(UpdaterIconTest, TheWindowsIconFileShowsWhatTheCodeDraws) {
    for (const QByteArray& file : {ReadFile(QStringLiteral(ZLT_SOURCE_DIR "/app/updater.ico")), UpdaterIconFile()}) {
        QDataStream in(file);
        in.setByteOrder(QDataStream::LittleEndian);
        quint16 reserved = 9, type = 0, count = 0;
        in >> reserved >> type >> count;
        ASSERT_EQ(reserved, 0);
        ASSERT_EQ(type, 1) << "an icon, not a cursor";
        ASSERT_EQ(count, std::size(UpdaterIconSizes));
        for (const int size : UpdaterIconSizes) {
            SCOPED_TRACE(size);
            quint8 width = 0, height = 0, colours = 0, zero = 0;
            quint16 planes = 0, bits = 0;
            quint32 length = 0, offset = 0;
            in >> width >> height >> colours >> zero >> planes >> bits >> length >> offset;
            EXPECT_EQ(width, size);
            EXPECT_EQ(height, size);
            EXPECT_EQ(bits, 32);
            ASSERT_LE(qsizetype(offset) + qsizetype(length), file.size());
            const QImage stored = QImage::fromData(file.mid(offset, length), "PNG");
            EXPECT_TRUE(ImagesAlike(stored, DrawUpdaterIcon(size)));
        }
    }
}

// The comparison above lets through what rasterisers differ by, and nothing of a real change:
// a level or two on a few edge pixels passes; a changed colour, or a level on many pixels, fails.
TEST(UpdaterIconTest, TheComparisonTellsARasteriserFromAChangedDrawing) {
    const QImage drawn = DrawUpdaterIcon(64).convertToFormat(QImage::Format_ARGB32);
    const auto changed = [&](const std::function<QRgb(int AX, int AY, QRgb APixel)>& AChange) {
        QImage image = drawn;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) image.setPixel(x, y, AChange(x, y, image.pixel(x, y)));
        return image;
    };
    const auto nudge = [](QRgb APixel, int ALevels) {
        const int red = qRed(APixel) + ALevels <= 255 ? qRed(APixel) + ALevels : qRed(APixel) - ALevels;
        return qRgba(red, qGreen(APixel), qBlue(APixel), qAlpha(APixel));
    };
    const auto orange = [](QRgb APixel) {
        return qAlpha(APixel) > 200 && qRed(APixel) > 200 && qGreen(APixel) > 70 && qGreen(APixel) < 200 &&
               qBlue(APixel) < 90;
    };
    struct TCase {
        const char* Name;
        std::function<QRgb(int, int, QRgb)> Change;
        bool Alike;
    };
    const TCase cases[] = {
        {"unchanged", [](int, int, QRgb APixel) { return APixel; }, true},
        {"two levels on five pixels",
         [&](int AX, int AY, QRgb APixel) { return AY == 32 && AX < 5 ? nudge(APixel, 2) : APixel; }, true},
        {"the arrow red instead of orange",
         [&](int, int, QRgb APixel) { return orange(APixel) ? qRgba(230, 20, 20, qAlpha(APixel)) : APixel; }, false},
        {"three levels on one pixel",
         [&](int AX, int AY, QRgb APixel) { return AX == 32 && AY == 32 ? nudge(APixel, 3) : APixel; }, false},
        {"one level on a whole row", [&](int, int AY, QRgb APixel) { return AY == 32 ? nudge(APixel, 1) : APixel; },
         false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        const QImage image = changed(c.Change);
        if (c.Alike) {
            EXPECT_TRUE(ImagesAlike(image, drawn));
        } else {
            EXPECT_FALSE(ImagesAlike(image, drawn));
        }
    }
}

} // namespace
} // namespace zlt::test
