#include "ui/Graphics.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>

#include <algorithm>

namespace zlt::ui {

TFont::TFont() : Name(QStringLiteral("Tahoma")), Height(-11), Color(clWindowText), Style(0), Charset(DEFAULT_CHARSET) {}

void TFont::Assign(const TFont& ASource) {
    if (&ASource == this) return;
    Name = ASource.Name;
    Height = ASource.Height;
    Color = ASource.Color;
    Style = ASource.Style;
    Charset = ASource.Charset;
}

QFont TFont::ToQFont() const {
    QFont font(Name);
    // A negative height is the character height without the internal leading: the em size.
    font.setPixelSize(Height < 0 ? -Height : std::max(1, Height));
    font.setBold(HasStyle(TFontStyle::fsBold));
    font.setItalic(HasStyle(TFontStyle::fsItalic));
    font.setUnderline(HasStyle(TFontStyle::fsUnderline));
    font.setStrikeOut(HasStyle(TFontStyle::fsStrikeOut));
    return font;
}

QColor ColorToQColor(TColor AColor) {
    if ((AColor >> 24) == 0xFF) {
        const QPalette palette = QGuiApplication::palette();
        switch (AColor & 0xFF) {
        case 5: return palette.color(QPalette::Base);        // window
        case 8: return palette.color(QPalette::WindowText);  // window text
        case 15: return palette.color(QPalette::Button);     // button face
        case 18: return palette.color(QPalette::ButtonText); // button text
        default: return palette.color(QPalette::Window);
        }
    }
    return QColor(int(AColor & 0xFF), int((AColor >> 8) & 0xFF), int((AColor >> 16) & 0xFF));
}

void LoadWindowsFonts() {
#ifndef Q_OS_WIN // Tahoma and MS Sans Serif are the system's own fonts on Windows.
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    const QDir folder(QStringLiteral("/usr/share/wine/fonts"));
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
        const QString path = folder.filePath(QString::fromLatin1(file));
        if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
    }
#endif
}

} // namespace zlt::ui
