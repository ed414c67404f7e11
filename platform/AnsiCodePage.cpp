#include "platform/AnsiCodePage.h"

#include <array>

namespace zlt::platform {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F; 0 marks the five unassigned codes.
constexpr std::array<char16_t, 32> HighControls = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                                   0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                                   0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                                   0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

} // namespace

QByteArray ToAnsi(const QString& AText) {
    QByteArray bytes;
    bytes.reserve(AText.size());
    for (const QChar ch : AText) {
        const char16_t code = ch.unicode();
        char byte = '?';
        if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) {
            byte = static_cast<char>(code);
        } else {
            for (std::size_t i = 0; i < HighControls.size(); ++i) {
                if (HighControls[i] != 0 && HighControls[i] == code) {
                    byte = static_cast<char>(0x80 + i);
                    break;
                }
            }
        }
        bytes.append(byte);
    }
    return bytes;
}

QString FromAnsi(const QByteArray& ABytes) {
    QString text;
    text.reserve(ABytes.size());
    for (const char byte : ABytes) {
        const auto code = static_cast<unsigned char>(byte);
        if (code >= 0x80 && code < 0xA0 && HighControls[code - 0x80u] != 0)
            text.append(QChar(HighControls[code - 0x80u]));
        else
            text.append(QChar(code));
    }
    return text;
}

} // namespace zlt::platform
