#pragma once

#include "ui/Graphics.h"

#include <QRect>
#include <QWidget>

#include <cstdint>

namespace zlt::ui {

// Where a control sits in its parent: alTop and alBottom controls take the
// full width and keep their height, stacked from the edge in creation order; alLeft and alRight
// controls take the height that is left and keep their width; one alClient control fills the
// rest. alNone controls keep the place they were given.
enum class TAlign : std::uint8_t { alNone, alTop, alBottom, alLeft, alRight, alClient };

// The sides of a panel that carry a line; combine with |.
enum TPanelSide : std::uint8_t { psNone = 0, psLeft = 1, psTop = 2, psRight = 4, psBottom = 8, psAll = 15 };

// The container panel of the windows: a rectangle filled with Color, a 1-pixel solid line in
// LineColor along each side in Lines, and BorderWidth pixels of margin. Its aligned children
// are laid out inside its rectangle inset by BorderWidth on every side plus 1 pixel on each
// side that has a line. Its caption is not drawn.
class TZLTPanel : public QWidget {
public:
    explicit TZLTPanel(QWidget* AParent);
    ~TZLTPanel() override;

    TColor Color() const { return FColor; }
    void SetColor(TColor AValue);
    TColor LineColor() const { return FLineColor; }
    void SetLineColor(TColor AValue);
    std::uint8_t Lines() const { return FLines; }
    void SetLines(std::uint8_t AValue);
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int AValue);
    TAlign Align() const { return FAlign; }
    // Takes the aligned place in the parent at once and keeps it when the parent is resized.
    void SetAlign(TAlign AValue);

    // The part of the panel, in its own coordinates, where aligned children are laid out.
    QRect ClientArea() const;

    // Lays out the aligned panels among AParent's children inside AArea.
    static void AlignControls(QWidget* AParent, const QRect& AArea);

protected:
    void paintEvent(QPaintEvent* AEvent) override;
    void resizeEvent(QResizeEvent* AEvent) override;
    bool event(QEvent* AEvent) override; // showing or hiding realigns the siblings
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override;

private:
    void RealignParent();
    void RealignChildren();

    TColor FColor = clBtnFace;
    TColor FLineColor = clBlack;
    std::uint8_t FLines = psNone;
    int FBorderWidth = 0;
    TAlign FAlign = TAlign::alNone;
    bool FWatchingParent = false;
};

} // namespace zlt::ui
