#include "platform/ProfileText.h"

#include "platform/AnsiCodePage.h"

#include <QStringDecoder>
#include <QStringView>

#include <algorithm>

namespace zlt::platform {

namespace {

bool IsBlank(QChar ACharacter) {
    const char16_t code = ACharacter.unicode();
    return code == u' ' || code == u'\t' || code == u'\r' || code == u'\n' || code == u'\v' || code == u'\f';
}

QStringView TrimBlanks(QStringView AText) {
    while (!AText.isEmpty() && IsBlank(AText.front())) AText = AText.sliced(1);
    while (!AText.isEmpty() && IsBlank(AText.back())) AText.chop(1);
    return AText;
}

bool SameName(QStringView ALeft, QStringView ARight) { return ALeft.compare(ARight, Qt::CaseInsensitive) == 0; }

QStringView WithoutEnclosingQuotes(QStringView AValue) {
    if (AValue.size() >= 2 && (AValue.front() == u'"' || AValue.front() == u'\'') && AValue.back() == AValue.front())
        return AValue.sliced(1, AValue.size() - 2);
    return AValue;
}

// The raw value of AKey in the first section named ASection, if the text has one.
std::optional<QStringView> FindValue(QStringView AText, QStringView ASection, QStringView AKey) {
    bool inSection = false;
    qsizetype lineStart = 0;
    while (lineStart <= AText.size()) {
        qsizetype lineEnd = AText.indexOf(u'\n', lineStart);
        if (lineEnd < 0) lineEnd = AText.size();
        const QStringView line = TrimBlanks(AText.sliced(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;

        if (line.isEmpty() || line.front() == u';') continue;
        if (line.front() == u'[') {
            const qsizetype close = line.indexOf(u']');
            if (close < 0) continue;
            // Only the first section of a name is searched, as the Windows reader does.
            if (inSection) return std::nullopt;
            inSection = SameName(line.sliced(1, close - 1), ASection);
            continue;
        }
        if (!inSection) continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0) continue;
        if (SameName(TrimBlanks(line.first(equals)), AKey)) return line.sliced(equals + 1);
    }
    return std::nullopt;
}

} // namespace

QString DecodeProfile(const QByteArray& ABytes) {
    if (ABytes.startsWith("\xFF\xFE")) {
        QStringDecoder decoder(QStringConverter::Utf16LE, QStringDecoder::Flag::Stateless);
        return decoder.decode(QByteArrayView(ABytes).sliced(2));
    }
    if (ABytes.startsWith("\xEF\xBB\xBF")) return QString::fromUtf8(QByteArrayView(ABytes).sliced(3));
    QStringDecoder utf8(QStringConverter::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(ABytes);
    if (!utf8.hasError()) return text;
    return FromAnsi(ABytes);
}

QString ProfileValue(const std::optional<QByteArray>& AContent, const QString& ASection, const QString& AKey,
                     const QString& ADefault, qsizetype ABufferSize) {
    const qsizetype limit = std::max<qsizetype>(ABufferSize - 1, 0);
    QString value = ADefault;
    if (AContent && !ASection.isEmpty() && !AKey.isEmpty()) {
        const QString text = DecodeProfile(*AContent);
        if (const std::optional<QStringView> raw = FindValue(text, ASection, AKey))
            value = WithoutEnclosingQuotes(TrimBlanks(*raw)).toString();
    }
    value.truncate(limit);
    return value;
}

} // namespace zlt::platform
