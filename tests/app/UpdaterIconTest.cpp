// The updater's icon drawn by code: eight square sizes in 32-bit colour with transparency,
// each showing the blue globe and the orange arrow.

#include "app/UpdaterIcon.h"

#include <QColor>
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

} // namespace
} // namespace zlt::test
