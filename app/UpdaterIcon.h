#pragma once

#include <QByteArray>
#include <QIcon>
#include <QImage>

namespace zlt::app {

// The updater's icon, drawn by code: a blue globe with an orange arrow pointing down. One
// 32-bit ARGB image for each of the sizes 16, 24, 32, 48, 64, 72, 96 and 128 pixels square.
QIcon UpdaterIcon();

// The image of one size, ASize pixels square.
QImage DrawUpdaterIcon(int ASize);

// The icon as a Windows .ico file: every size as a 32-bit PNG picture. The Windows build carries
// it as the program's icon resource (app/updater.ico, written by zlt_write_icon).
QByteArray UpdaterIconFile();

// The sizes that UpdaterIcon holds, smallest first.
inline constexpr int UpdaterIconSizes[] = {16, 24, 32, 48, 64, 72, 96, 128};

} // namespace zlt::app
