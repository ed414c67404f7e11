#pragma once

#include "platform/Exceptions.h"

#include <QString>

namespace zlt {

// Process id of the first running process whose executable file name equals AExeName exactly
// (case-sensitive, bare name: a name with a folder never matches), 0 when there is none.
void FindProcess(const QString& AExeName, quint32& AProcessId);

// Number of running processes whose executable file name equals AExeName, the caller included.
int CountProcess(const QString& AExeName);

// Ends the process at once with exit code 0, without waiting for it. false when the process
// could not be opened for termination (gone, not ours); nothing is raised then.
bool KillProcess(quint32 AProcessId);

// The value of AKey in ASection of the settings file (the executable's path with the
// extension ".cfi"), or ADefault when the file, the section or the key is missing. Read anew
// on every call.
void IniFileLoad(const QString& ASection, const QString& AKey, const QString& ADefault, QString& AValue);

// The settings file beside the running executable.
QString SettingsFileName();

// true when AText is empty or holds only characters with codes 0 to 32.
bool StringIsEmpty(const QString& AText);

// Raises Exception("Error al ejecutar la función <ARoutineName>." CR LF AErrorMessage).
[[noreturn]] void RaiseRoutineError(const QString& ARoutineName, const QString& AErrorMessage);

// true when ASubText occurs in AText, letter case disregarded; false when either is empty.
bool TextContains(const QString& AText, const QString& ASubText);

// Runs ABody under the guard of a routine: an Exception that leaves it is raised again through
// RaiseRoutineError with ALabel and the caught message. Other exception types pass untouched.
template <typename TBody>
decltype(auto) Guarded(const QString& ALabel, TBody&& ABody) {
    try {
        return ABody();
    } catch (const Exception& error) {
        RaiseRoutineError(ALabel, error.Message());
    }
}

} // namespace zlt
