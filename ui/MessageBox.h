#pragma once

#include <QString>

#include <functional>

namespace zlt::ui {

inline constexpr quint32 MB_OK = 0x00;
inline constexpr quint32 MB_ICONERROR = 0x10;
inline constexpr quint32 MB_ICONINFORMATION = 0x40;
inline constexpr int IDOK = 1;

// A modal box with one OK button; every message box of the program goes through here.
int MessageBox(const QString& AText, const QString& ACaption, quint32 AFlags);

// Tests put a sink in place of the real box to record what would be shown. Returns the sink
// set before; an empty sink restores the real box.
using TMessageBoxSink = std::function<int(const QString& AText, const QString& ACaption, quint32 AFlags)>;
TMessageBoxSink SetMessageBoxSink(TMessageBoxSink ASink);

} // namespace zlt::ui
