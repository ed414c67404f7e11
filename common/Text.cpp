#include "common/Text.h"

#include "common/Errors.h"

#include <QLocale>

namespace zlt {

bool StringIsEmpty(const QString& AText) {
    return Guarded(QStringLiteral("StringIsEmpty"), [&] {
        for (const QChar character : AText)
            if (character.unicode() > 32) return false;
        return true;
    });
}

bool TextContains(const QString& AText, const QString& ASubText) {
    if (AText.isEmpty() || ASubText.isEmpty()) return false;
    const QLocale locale;
    return locale.toUpper(AText).contains(locale.toUpper(ASubText));
}

QString AsciiUpperCase(QString AText) {
    for (QChar& character : AText)
        if (character >= u'a' && character <= u'z') character = QChar(char16_t(character.unicode() - (u'a' - u'A')));
    return AText;
}

QString OneLine(QString AText) {
    AText.replace(QLatin1String("\r\n"), QLatin1String(" / "));
    AText.replace(u'\n', QLatin1String(" / "));
    AText.replace(u'\r', QLatin1String(" / "));
    return AText;
}

} // namespace zlt
