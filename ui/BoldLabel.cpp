#include "ui/BoldLabel.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>

namespace zlt::ui {

TRasterBoldLabel::TRasterBoldLabel(const QString& AText, QWidget* AParent) : QLabel(AText, AParent) {}

void TRasterBoldLabel::paintEvent(QPaintEvent* AEvent) {
    const QFontInfo face(font());
    if (!font().bold() || QFontDatabase::bold(face.family(), face.styleName()) ||
        QFontDatabase::isSmoothlyScalable(face.family(), face.styleName())) {
        QLabel::paintEvent(AEvent);
        return;
    }
    // Each emboldened glyph is one pixel wider, as with the system's own emboldening.
    QFont wider = font();
    wider.setLetterSpacing(QFont::AbsoluteSpacing, 1);
    QPainter painter(this);
    painter.setFont(wider);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetrics metrics(wider);
    const QSize textSize(metrics.horizontalAdvance(text()) + 1, metrics.height());
    const QRect box = QStyle::alignedRect(layoutDirection(), alignment(), textSize, contentsRect());
    for (const int offset : {0, 1}) painter.drawText(box.left() + offset, box.top() + metrics.ascent(), text());
}

} // namespace zlt::ui
