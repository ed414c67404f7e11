#pragma once

#include <QString>

namespace zlt {

// Process id of the first running process whose executable file name equals AExeName exactly
// (case-sensitive, bare name: a name with a folder never matches), 0 when there is none. The
// calling process itself is never found.
void FindProcess(const QString& AExeName, quint32& AProcessId);

// Number of running processes whose executable file name equals AExeName, the caller included.
int CountProcess(const QString& AExeName);

// Ends the process at once with exit code 0, without waiting for it. false when the process
// could not be opened for termination (gone, not ours); nothing is raised then.
bool KillProcess(quint32 AProcessId);

} // namespace zlt
