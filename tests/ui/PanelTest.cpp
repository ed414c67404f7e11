// The panel of the windows: the alignment of its children inside its border and lines,
// and its painting, checked on grabbed images.

#include "ui/Panel.h"
#include "ui/Graphics.h"

#include <QImage>
#include <QWidget>

#include <gtest/gtest.h>

namespace zlt::test {

using namespace zlt::ui;

namespace {

TZLTPanel* Panel(QWidget* AParent, const QRect& AGeometry, TAlign AAlign, std::uint8_t ALines = psNone,
                 int ABorder = 0) {
    auto* panel = new TZLTPanel(AParent);
    panel->setGeometry(AGeometry);
    panel->SetLines(ALines);
    panel->SetBorderWidth(ABorder);
    panel->SetAlign(AAlign);
    return panel;
}

TEST(PanelTest, AlignedChildrenFillTheInsetAreaAndFollowResizes) {
    QWidget window;
    window.resize(300, 200);
    // Border 2 and lines on three sides: children start 3 pixels in at left, top and right, 2 at the bottom.
    TZLTPanel* main = Panel(&window, {10, 10, 50, 50}, TAlign::alClient, psLeft | psTop | psRight, 2);
    // Created in an order that is not the order of alignment.
    TZLTPanel* client = Panel(main, {0, 0, 5, 5}, TAlign::alClient);
    TZLTPanel* left = Panel(main, {0, 0, 40, 5}, TAlign::alLeft);
    TZLTPanel* top = Panel(main, {0, 0, 5, 10}, TAlign::alTop);
    TZLTPanel* bottom = Panel(main, {0, 0, 5, 12}, TAlign::alBottom);
    TZLTPanel* right = Panel(main, {0, 0, 20, 5}, TAlign::alRight);
    TZLTPanel* free = Panel(main, {50, 60, 7, 8}, TAlign::alNone);
    window.show(); // a hidden widget gets its resize events only when shown

    const struct {
        QSize Window;
        QRect Main, Top, Bottom, Left, Right, Client;
    } cases[] = {
        {{300, 200},
         {0, 0, 300, 200},
         {3, 3, 294, 10},
         {3, 186, 294, 12},
         {3, 13, 40, 173},
         {277, 13, 20, 173},
         {43, 13, 234, 173}},
        {{472, 125},
         {0, 0, 472, 125},
         {3, 3, 466, 10},
         {3, 111, 466, 12},
         {3, 13, 40, 98},
         {449, 13, 20, 98},
         {43, 13, 406, 98}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Window.width());
        window.resize(c.Window);
        EXPECT_EQ(main->geometry(), c.Main);
        EXPECT_EQ(top->geometry(), c.Top);
        EXPECT_EQ(bottom->geometry(), c.Bottom);
        EXPECT_EQ(left->geometry(), c.Left);
        EXPECT_EQ(right->geometry(), c.Right);
        EXPECT_EQ(client->geometry(), c.Client);
        EXPECT_EQ(free->geometry(), QRect(50, 60, 7, 8)) << "a control without alignment keeps its place";
    }

    // A hidden control takes no room; shown again, it takes its place back.
    top->hide();
    EXPECT_EQ(left->geometry(), QRect(3, 3, 40, 108));
    top->show();
    EXPECT_EQ(left->geometry(), QRect(3, 13, 40, 98));
}

TEST(PanelTest, PaintsFillAndLinesOnlyOnChosenSides) {
    const QRgb fill = 0xFF102030;
    const QRgb line = 0xFFE0C0A0;
    const struct {
        const char* Name;
        std::uint8_t Lines;
        int X, Y;
        QRgb Expected;
    } cases[] = {
        {"left line", psLeft | psBottom, 0, 10, line},
        {"bottom line", psLeft | psBottom, 20, 29, line},
        {"no top line", psLeft | psBottom, 20, 0, fill},
        {"no right line", psLeft | psBottom, 39, 10, fill},
        {"inside, next to a line", psLeft | psBottom, 1, 10, fill},
        {"all four: top", psAll, 20, 0, line},
        {"all four: right", psAll, 39, 10, line},
        {"all four: inside", psAll, 20, 10, fill},
        {"no lines: corner", psNone, 0, 0, fill},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TZLTPanel panel(nullptr);
        panel.resize(40, 30);
        panel.SetColor(RGBColor(0x10, 0x20, 0x30));
        panel.SetLineColor(RGBColor(0xE0, 0xC0, 0xA0));
        panel.SetLines(c.Lines);
        const QImage image = panel.grab().toImage().convertToFormat(QImage::Format_RGB32);
        EXPECT_EQ(QColor(image.pixel(c.X, c.Y)).name(), QColor(c.Expected).name());
    }
}

} // namespace
} // namespace zlt::test
