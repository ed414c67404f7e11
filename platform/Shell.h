#pragma once

#include "platform/Handle.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace zlt::platform {

inline constexpr int SW_SHOWNORMAL = 1;

// The shell's "open" verb. An executable starts with AParameters (split like a command line)
// in the caller's working folder and is not waited for; any other file goes to the desktop's
// opener. A bare file name (no folder) is looked up in the running executable's folder, then
// along PATH; a relative name with a folder is taken from the running executable's folder.
// The current folder is never searched: whoever started us chose it, and a program planted
// there must not run in place of ours. The result tells whether anything was started;
// callers may ignore it.
bool ShellExecuteOpen(const QString& AFileName, const QString& AParameters = QString());

// How a watched program ended.
struct TProgramEnd {
    quint32 Code = 0;    // its exit code; the signal's number when Signal
    bool Signal = false; // ended by a signal (POSIX systems)
    // A non-zero exit code, a signal, or (Windows) an unhandled exception's code as exit code.
    bool Failed() const { return Signal || Code != 0; }
    // "exit code 3", "signal 11", "exit code 0xC0000005" (codes from 0xC0000000, the range of
    // Windows' exception codes, in hexadecimal).
    QString Text() const;
};

// A program that the shell started and its caller watches: a child process whose handle stays
// open (a pidfd on Linux, the process handle on Windows). Move-only. Letting it go neither ends
// nor waits for the program.
class TWatchedProgram {
public:
    TWatchedProgram() = default;
    TWatchedProgram(TUniqueHandle AHandle, quint32 AProcessId) : FHandle(std::move(AHandle)), FProcessId(AProcessId) {}
    TWatchedProgram(TWatchedProgram&&) noexcept = default;
    TWatchedProgram& operator=(TWatchedProgram&&) noexcept = default;

    bool Watched() const { return FProcessId != 0; }
    quint32 ProcessId() const { return FProcessId; }
    // Blocks until the program ends or AMilliseconds pass, whichever comes first, woken by the
    // system when the program ends. nullopt while it still runs (or when nothing is watched).
    std::optional<TProgramEnd> WaitForEnd(unsigned AMilliseconds);

private:
    TUniqueHandle FHandle;
    quint32 FProcessId = 0;
    std::optional<TProgramEnd> FEnd;
};

// The shell's "open" for a program that the caller then watches: the same lookup as
// ShellExecuteOpen, in the caller's working folder, the program in a session of its own (it
// outlives the caller). Started tells whether anything started; Program is watched only when a
// program of ours started (not when a test's hook took the call, nor a document went to the
// desktop's opener).
struct TShellStart {
    bool Started = false;
    TWatchedProgram Program;
};
TShellStart ShellExecuteWatched(const QString& AFileName, const QString& AParameters);

// Tests may take the place of the shell to see what would be opened. Returns the hook set
// before; an empty hook restores the real shell.
using TShellExecuteHook = std::function<bool(const QString& AFileName, const QString& AParameters)>;
TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook);

// Starts AProgram once more with administrator rights and AParameters (each one argument, as
// the program gets them), through the system's elevation prompt, and does not wait for it.
// Empty when it started; else why not: the user refused, the system has no such prompt (every
// system but Windows), or this process runs with those rights already, so that a copy that
// still can't do its work never starts another.
QString StartElevated(const QString& AProgram, const QStringList& AParameters);

// Tests may take the place of the elevated start to see what would be started: the hook's
// result is StartElevated's. Returns the hook set before; an empty hook restores the system's.
using TElevatedStartHook = std::function<QString(const QString& AProgram, const QStringList& AParameters)>;
TElevatedStartHook SetElevatedStartHook(TElevatedStartHook AHook);

} // namespace zlt::platform
