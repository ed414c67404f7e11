#pragma once

#include <QString>

namespace zlt {

// The value of AKey in ASection of the settings file (the executable's path with the
// extension ".cfi"), or ADefault when the file, the section or the key is missing. Read anew
// on every call.
void IniFileLoad(const QString& ASection, const QString& AKey, const QString& ADefault, QString& AValue);

// The settings file beside the running executable.
QString SettingsFileName();

// The executable's path with its extension (if any) replaced by AExtension (".cfi", ".log").
QString FileBesideExecutable(const QString& AExtension);

} // namespace zlt
