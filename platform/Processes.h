#pragma once

#include "platform/Files.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zlt::platform {

// One process of a snapshot: its id and the bare file name of the executable it runs
// ("Upd.exe", "updater"), never a folder, at most 260 characters.
// Where the system tells, also the executable's full path and the identity of the file it runs:
// a process whose executable can't be read (another user's, a kernel thread, one that ended
// meanwhile) has neither.
struct TProcessEntry {
    quint32 ProcessId = 0;
    QString ExeFile;
    std::optional<TFileIdentity> Executable;
    QString ExePath;
};

// All running processes whose executable can be read, in the order the system lists them.
// Processes that end while the snapshot is taken are left out, and so are those whose
// executable this process may not see. nullopt when no snapshot can be taken at all.
std::optional<std::vector<TProcessEntry>> CreateProcessSnapshot();

// The snapshot that the process utilities take: CreateProcessSnapshot, or what a test hook
// gives in its place (a hook may also throw, to play a failing system).
std::optional<std::vector<TProcessEntry>> TakeProcessSnapshot();
using TProcessSnapshotHook = std::function<std::optional<std::vector<TProcessEntry>>()>;
TProcessSnapshotHook SetProcessSnapshotHook(TProcessSnapshotHook AHook);

// Ends a process at once, without letting it clean up, with the given exit status where the
// system keeps one. Does not wait for the process to go. false when the process can't be
// opened for termination: it does not exist, or it is not ours to end.
bool TerminateProcessById(quint32 AProcessId, quint32 AExitCode);

} // namespace zlt::platform
