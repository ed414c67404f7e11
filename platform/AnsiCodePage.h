#pragma once

#include <QByteArray>
#include <QString>

namespace zlt::platform {

// The system's ANSI code page, Windows-1252 (Western European) on this platform.
// Characters it can't hold become '?'.
QByteArray ToAnsi(const QString& AText);
QString FromAnsi(const QByteArray& ABytes);

} // namespace zlt::platform
