#include "ui/Panel.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace zlt::ui {

TZLTPanel::TZLTPanel(QWidget* AParent) : QWidget(AParent) {}

TZLTPanel::~TZLTPanel() = default;

void TZLTPanel::SetColor(TColor AValue) {
    FColor = AValue;
    update();
}

void TZLTPanel::SetLineColor(TColor AValue) {
    FLineColor = AValue;
    update();
}

void TZLTPanel::SetLines(std::uint8_t AValue) {
    FLines = AValue;
    RealignChildren();
    update();
}

void TZLTPanel::SetBorderWidth(int AValue) {
    FBorderWidth = std::max(0, AValue);
    RealignChildren();
    update();
}

void TZLTPanel::SetAlign(TAlign AValue) {
    FAlign = AValue;
    QWidget* parent = parentWidget();
    // A panel parent lays out its children when it is resized; any other parent is watched.
    if (FAlign != TAlign::alNone && parent != nullptr && dynamic_cast<TZLTPanel*>(parent) == nullptr &&
        !FWatchingParent) {
        parent->installEventFilter(this);
        FWatchingParent = true;
    }
    RealignParent();
}

QRect TZLTPanel::ClientArea() const {
    const auto line = [this](TPanelSide ASide) { return (FLines & ASide) != 0 ? 1 : 0; };
    return rect().adjusted(FBorderWidth + line(psLeft), FBorderWidth + line(psTop), -(FBorderWidth + line(psRight)),
                           -(FBorderWidth + line(psBottom)));
}

void TZLTPanel::AlignControls(QWidget* AParent, const QRect& AArea) {
    if (AParent == nullptr) return;
    QList<TZLTPanel*> panels;
    for (QObject* child : AParent->children()) {
        auto* panel = dynamic_cast<TZLTPanel*>(child);
        // Children of a window not yet shown count as hidden until it is; only an explicit
        // hide takes a panel out of the layout.
        const bool hidden = panel != nullptr && panel->isHidden() &&
                            panel->testAttribute(Qt::WA_WState_ExplicitShowHide);
        if (panel != nullptr && panel->FAlign != TAlign::alNone && !panel->isWindow() && !hidden) panels.append(panel);
    }

    QRect area = AArea;
    // Edges first, so that the client control gets what they leave: top, bottom, left, right.
    for (const TAlign align : {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight, TAlign::alClient}) {
        for (TZLTPanel* panel : panels) {
            if (panel->FAlign != align) continue;
            const int height = std::min(panel->height(), std::max(0, area.height()));
            const int width = std::min(panel->width(), std::max(0, area.width()));
            switch (align) {
            case TAlign::alTop:
                panel->setGeometry(area.left(), area.top(), area.width(), height);
                area.setTop(area.top() + height);
                break;
            case TAlign::alBottom:
                panel->setGeometry(area.left(), area.bottom() + 1 - height, area.width(), height);
                area.setBottom(area.bottom() - height);
                break;
            case TAlign::alLeft:
                panel->setGeometry(area.left(), area.top(), width, area.height());
                area.setLeft(area.left() + width);
                break;
            case TAlign::alRight:
                panel->setGeometry(area.right() + 1 - width, area.top(), width, area.height());
                area.setRight(area.right() - width);
                break;
            case TAlign::alClient:
                panel->setGeometry(area.left(), area.top(), std::max(0, area.width()), std::max(0, area.height()));
                break;
            case TAlign::alNone: break;
            }
        }
    }
}

void TZLTPanel::paintEvent(QPaintEvent* /*AEvent*/) {
    QPainter painter(this);
    painter.fillRect(rect(), ColorToQColor(FColor));
    const QColor line = ColorToQColor(FLineColor);
    const int w = width();
    const int h = height();
    // Filled 1-pixel rectangles rather than pen strokes: exact pixels whatever the pen rules.
    if ((FLines & psLeft) != 0) painter.fillRect(0, 0, 1, h, line);
    if ((FLines & psTop) != 0) painter.fillRect(0, 0, w, 1, line);
    if ((FLines & psRight) != 0) painter.fillRect(w - 1, 0, 1, h, line);
    if ((FLines & psBottom) != 0) painter.fillRect(0, h - 1, w, 1, line);
}

void TZLTPanel::resizeEvent(QResizeEvent* AEvent) {
    QWidget::resizeEvent(AEvent);
    RealignChildren();
}

bool TZLTPanel::event(QEvent* AEvent) {
    const bool result = QWidget::event(AEvent);
    if (AEvent->type() == QEvent::ShowToParent || AEvent->type() == QEvent::HideToParent) RealignParent();
    return result;
}

bool TZLTPanel::eventFilter(QObject* AWatched, QEvent* AEvent) {
    if (AEvent->type() == QEvent::Resize && AWatched == parentWidget()) {
        QWidget* parent = parentWidget();
        AlignControls(parent, parent->rect());
    }
    return QWidget::eventFilter(AWatched, AEvent);
}

void TZLTPanel::RealignParent() {
    QWidget* parent = parentWidget();
    if (parent == nullptr || FAlign == TAlign::alNone) return;
    if (auto* panel = dynamic_cast<TZLTPanel*>(parent))
        AlignControls(panel, panel->ClientArea());
    else
        AlignControls(parent, parent->rect());
}

void TZLTPanel::RealignChildren() { AlignControls(this, ClientArea()); }

} // namespace zlt::ui
