#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

namespace zlt::platform {

// Reads one value of an INI ("profile") file with the rules of the Windows profile reader:
// section and key names compare without regard to letter case; blanks around the value are
// dropped, then one pair of enclosing single or double quotes; at most ABufferSize - 1
// characters come back. A missing or unreadable file, section or key gives ADefault.
// The file may be UTF-8 (with or without BOM), UTF-16 LE with BOM, or the ANSI code page
// (Windows-1252); CR LF and LF line ends both work. Never throws, unless a test's read hook does.
QString GetPrivateProfileString(const QString& ASection, const QString& AKey, const QString& ADefault,
                                const QString& AFileName, qsizetype ABufferSize = 2048);

// Tests only: a function that stands for the reading of a profile file's bytes (nullopt: the
// file can't be read), and may throw to play a failing system. Returns the previous hook; an
// empty one restores the real read.
using TProfileReadHook = std::function<std::optional<QByteArray>(const QString& AFileName)>;
TProfileReadHook SetProfileReadHook(TProfileReadHook AHook);

} // namespace zlt::platform
