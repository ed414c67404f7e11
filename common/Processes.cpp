#include "common/Processes.h"

#include "common/Errors.h"
#include "platform/Processes.h"

#include <QCoreApplication>

#include <optional>
#include <vector>

namespace zlt {

void FindProcess(const QString& AExeName, quint32& AProcessId) {
    Guarded(QStringLiteral("FindProcess"), [&] {
        AProcessId = 0;
        const std::optional<std::vector<platform::TProcessEntry>> snapshot = platform::TakeProcessSnapshot();
        if (!snapshot) return;
        // The caller is never its own target: an application named like the updater must
        // not make the updater stop itself.
        const auto self = static_cast<quint32>(QCoreApplication::applicationPid());
        for (const platform::TProcessEntry& entry : *snapshot) {
            if (entry.ExeFile == AExeName && entry.ProcessId != self) {
                AProcessId = entry.ProcessId;
                return;
            }
        }
    });
}

int CountProcess(const QString& AExeName) {
    int count = 0;
    const std::optional<std::vector<platform::TProcessEntry>> snapshot = platform::TakeProcessSnapshot();
    if (!snapshot) return count;
    for (const platform::TProcessEntry& entry : *snapshot)
        if (entry.ExeFile == AExeName) ++count;
    return count;
}

bool KillProcess(quint32 AProcessId) {
    return Guarded(QStringLiteral("KillProcess"), [&] { return platform::TerminateProcessById(AProcessId, 0); });
}

} // namespace zlt
