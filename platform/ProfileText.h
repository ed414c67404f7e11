#pragma once

// The reading rules of profile (INI) files, shared by every platform's GetPrivateProfileString:
// the platforms differ only in how they read a file's bytes.

#include <QByteArray>
#include <QString>

#include <optional>

namespace zlt::platform {

// The text of a profile file. A byte order mark decides: UTF-16 LE, or UTF-8. Without one,
// bytes that are valid UTF-8 are read as UTF-8 and anything else as the ANSI code page. Windows'
// own reader takes every file without a mark as ANSI; we read valid UTF-8 as UTF-8 on every
// platform, so that a file saved without a mark by today's editors and tools reads as written.
// An ANSI file that is by chance valid UTF-8 needs a run of accented characters arranged as
// UTF-8's lead and trail bytes, which plain text in Windows-1252 practically never contains.
QString DecodeProfile(const QByteArray& ABytes);

// The value of AKey in ASection of the file's bytes AContent (nullopt: the file could not be
// read), with the rules that Profile.h describes.
QString ProfileValue(const std::optional<QByteArray>& AContent, const QString& ASection, const QString& AKey,
                     const QString& ADefault, qsizetype ABufferSize);

} // namespace zlt::platform
