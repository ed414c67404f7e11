// The test support's part for programs with windows: pictures.

#include "tests/support/TestSupport.h"

#include <QColor>

#include <algorithm>
#include <cstdlib>

namespace zlt::test {

namespace {

// The bits of a box's flags that choose its icon.
constexpr quint32 IconBits = 0xF0;

} // namespace

::testing::AssertionResult OneBox(const TMessageBoxRecorder& ABoxes, const QString& AText, const QString& ACaption,
                                  quint32 AIcon) {
    if (ABoxes.Calls.size() != 1) return ::testing::AssertionFailure() << ABoxes.Calls.size() << " boxes, not one";
    const TMessageBox& box = ABoxes.Calls.front();
    if (box.Text != AText)
        return ::testing::AssertionFailure()
               << "the text is \"" << box.Text.toStdString() << "\", not \"" << AText.toStdString() << '"';
    if (box.Caption != ACaption)
        return ::testing::AssertionFailure()
               << "the caption is \"" << box.Caption.toStdString() << "\", not \"" << ACaption.toStdString() << '"';
    if ((box.Flags & IconBits) != AIcon)
        return ::testing::AssertionFailure()
               << "the icon bits are 0x" << std::hex << (box.Flags & IconBits) << ", not 0x" << AIcon;
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult ImagesAlike(const QImage& AActual, const QImage& AExpected, int ATolerance) {
    if (AActual.size() != AExpected.size())
        return ::testing::AssertionFailure() << "sizes differ: " << AActual.width() << "x" << AActual.height()
                                             << " against " << AExpected.width() << "x" << AExpected.height();
    const QImage actual = AActual.convertToFormat(QImage::Format_ARGB32);
    const QImage expected = AExpected.convertToFormat(QImage::Format_ARGB32);
    qsizetype differing = 0;
    int largest = 0;
    for (int y = 0; y < actual.height(); ++y)
        for (int x = 0; x < actual.width(); ++x) {
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            const int difference = std::max({std::abs(qAlpha(a) - qAlpha(e)), std::abs(qRed(a) - qRed(e)),
                                             std::abs(qGreen(a) - qGreen(e)), std::abs(qBlue(a) - qBlue(e))});
            if (difference == 0) continue;
            ++differing;
            largest = std::max(largest, difference);
        }
    const qsizetype allowed = std::max<qsizetype>(8, qsizetype{actual.width()} * actual.height() / 800);
    if (largest <= ATolerance && differing <= allowed)
        return ::testing::AssertionSuccess() << differing << " pixels differ, by at most " << largest;
    return ::testing::AssertionFailure() << differing << " of " << qsizetype{actual.width()} * actual.height()
                                         << " pixels differ (at most " << allowed << " may), the largest difference is "
                                         << largest << " levels of a channel (at most " << ATolerance << " may be)";
}

} // namespace zlt::test
