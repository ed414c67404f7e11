#include "ui/Graphics.h"

#include "platform/System.h"

#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
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

namespace {

// Tahoma, Tahoma Bold and MS Sans Serif (Wine's TrueType files) from AFolder, those that are there.
void AddWindowsFontFiles(const QDir& AFolder) {
    for (const char* file : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
        const QString path = AFolder.filePath(QString::fromLatin1(file));
        if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
    }
}

} // namespace

void LoadWindowsFonts() {
    static bool loaded = false;
    if (loaded) return;
    loaded = true;
    // A toolkit that does not know the two faces (any but the windows platform) gets their
    // files.
    const auto drawn = [](const char* AFamily) {
        return QFontInfo(QFont(QString::fromLatin1(AFamily))).family() == QLatin1String(AFamily);
    };
    if (!drawn("Tahoma") || !drawn("MS Sans Serif")) AddWindowsFontFiles(QDir(platform::WindowsFontFolder()));
    // Windows keeps MS Sans Serif as a bitmap font, which the toolkit does not draw: its
    // TrueType successor stands in, or Tahoma where that is missing too.
    if (!drawn("MS Sans Serif")) {
        QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                                   {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Tahoma")});
    }
}

} // namespace zlt::ui
