#pragma once

#include <QLabel>

namespace zlt::ui {

// A label that emboldens a bitmap face the way the Windows text renderer does: the glyphs
// drawn twice, one pixel apart, each advancing one pixel more. "MS Sans Serif" is such a face
// without a bold variant, and the toolkit emboldens only outline glyphs, so its bold would
// come out as regular text. Any other font is drawn as a plain label draws it.
class TRasterBoldLabel : public QLabel {
public:
    TRasterBoldLabel(const QString& AText, QWidget* AParent);

protected:
    void paintEvent(QPaintEvent* AEvent) override;
};

} // namespace zlt::ui
