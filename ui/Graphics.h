#pragma once

#include <QColor>
#include <QFont>
#include <QString>

#include <cstdint>

namespace zlt::ui {

// A 32-bit colour: a high byte 0xFF names the system colour whose index is the low byte,
// otherwise the three low bytes hold blue, green, red (0x00BBGGRR).
using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clWindowText = 0xFF000008;
inline constexpr TColor clBtnFace = 0xFF00000F;

// The colour from red, green and blue, as written #RRGGBB.
constexpr TColor RGBColor(std::uint8_t ARed, std::uint8_t AGreen, std::uint8_t ABlue) {
    return TColor(ARed) | (TColor(AGreen) << 8) | (TColor(ABlue) << 16);
}

// Resolves system colours through the application palette.
QColor ColorToQColor(TColor AColor);

enum class TFontStyle : std::uint8_t { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

inline constexpr std::uint8_t DEFAULT_CHARSET = 1;

// A font description. Height is the character height in pixels, negative as stored by the
// designer (-11 is 8 pt at 96 dots per inch); a positive height includes the leading.
class TFont {
public:
    TFont();

    QString Name;
    int Height;
    TColor Color;
    std::uint8_t Style; // set of TFontStyle bits
    std::uint8_t Charset;

    bool HasStyle(TFontStyle AStyle) const { return (Style & std::uint8_t(AStyle)) != 0; }
    void Assign(const TFont& ASource);
    bool operator==(const TFont&) const = default;

    QFont ToQFont() const;
};

// Makes the Windows faces of the windows ("Tahoma", "MS Sans Serif") known to the toolkit
// when metric-compatible files are installed; on Windows the system has them (for the offscreen
// platform, which reads no system fonts, they are taken from the system's font folder). Safe to
// call more than once.
void LoadWindowsFonts();

} // namespace zlt::ui
