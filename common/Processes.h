#pragma once

#include "platform/Processes.h"

#include <QString>

#include <vector>

namespace zlt {

// Process id of the first running process whose executable file name equals AExeName exactly
// (case-sensitive, bare name: a name with a folder never matches), 0 when there is none. The
// calling process itself is never found.
void FindProcess(const QString& AExeName, quint32& AProcessId);

// Process id of the first running copy of the program file AProgram: a process whose executable
// is that very file, compared by the file's identity (so neither its name nor its letter case
// matters), the calling process excepted; 0 when there is none, or when AProgram can't be read.
// A process whose executable can't be read is never a copy. ANamesakes, when given, receives
// the processes that run another file of the same name (letter case aside), or one that can't
// be read: programs that are not this one. Guarded with the label "FindProcess".
void FindProgramCopy(const QString& AProgram, quint32& AProcessId,
                     std::vector<platform::TProcessEntry>* ANamesakes = nullptr);

// Number of running processes whose executable file name equals AExeName, the caller included.
int CountProcess(const QString& AExeName);

// Ends the process at once with exit code 0, without waiting for it. false when the process
// could not be opened for termination (gone, not ours); nothing is raised then.
bool KillProcess(quint32 AProcessId);

} // namespace zlt
