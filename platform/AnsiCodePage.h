#pragma once

#include <QByteArray>
#include <QString>

namespace zlt::platform {

// The system's ANSI code page, Windows-1252 (Western European) on this platform.
// Characters it can't hold become '?'.
QByteArray ToAnsi(const QString& AText);
QString FromAnsi(const QByteArray& ABytes);

// The system's OEM code page, in which the tools of Windows store file names that carry no
// UTF-8 mark (a ZIP archive's names, for one): the code page Windows reports (GetOEMCP), and
// 850 (Western European) elsewhere, which agrees with the 437 of English systems on every
// lowercase letter of Western languages and also holds their capitals.
QString FromOemCodePage(const QByteArray& ABytes);

} // namespace zlt::platform
