// The updater's icon drawn by code: eight square sizes in 32-bit colour with transparency,
// each showing the blue globe and the orange arrow.

#include "app/UpdaterIcon.h"

#include "tests/support/TestSupport.h"

#include <QColor>
#include <QDataStream>
#include <QImage>

#include <gtest/gtest.h>

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
            EXPECT_EQ(stored.convertToFormat(QImage::Format_ARGB32),
                      DrawUpdaterIcon(size).convertToFormat(QImage::Format_ARGB32));
        }
    }
}

} // namespace
} // namespace zlt::test
