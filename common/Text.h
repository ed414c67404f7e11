#pragma once

#include <QString>

namespace zlt {

// true when AText is empty or holds only characters with codes 0 to 32.
bool StringIsEmpty(const QString& AText);

// true when ASubText occurs in AText, letter case disregarded; false when either is empty.
bool TextContains(const QString& AText, const QString& ASubText);

// AText with a to z upper-cased and every other character as it is: letters of other scripts
// must not turn into a key or an extension ("uſr=" stays unknown).
QString AsciiUpperCase(QString AText);

// AText as one line of a record: its own line breaks (CR LF, LF, CR) become " / ".
QString OneLine(QString AText);

} // namespace zlt
