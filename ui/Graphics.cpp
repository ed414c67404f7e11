#include "ui/Graphics.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QPalette>
#include <QStandardPaths>

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
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
#ifdef Q_OS_WIN
    // The windows platform knows the system's fonts; the offscreen one knows none, so it gets
    // them from the system's font folder (MS Sans Serif is a bitmap font there; Wine's
    // replacement is a TrueType file).
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) return;
    const QDir folder(QStandardPaths::writableLocation(QStandardPaths::FontsLocation));
    const char* const files[] = {"tahoma.ttf", "tahomabd.ttf", "sserife.fon", "ms_sans_serif.ttf"};
#else
    const QDir folder(QStringLiteral("/usr/share/wine/fonts"));
    const char* const files[] = {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"};
#endif
    for (const char* file : files) {
        const QString path = folder.filePath(QString::fromLatin1(file));
        if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
    }
}

} // namespace zlt::ui
