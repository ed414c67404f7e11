#include "common/Processes.h"

#include "common/Errors.h"
#include "platform/Processes.h"

#include <QCoreApplication>
#include <QFileInfo>

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

void FindProgramCopy(const QString& AProgram, quint32& AProcessId, std::vector<platform::TProcessEntry>* ANamesakes) {
    Guarded(QStringLiteral("FindProcess"), [&] {
        AProcessId = 0;
        if (ANamesakes != nullptr) ANamesakes->clear();
        const std::optional<platform::TFileIdentity> program = platform::FileIdentity(AProgram);
        const std::optional<std::vector<platform::TProcessEntry>> snapshot = platform::TakeProcessSnapshot();
        if (!snapshot) return;
        const auto self = static_cast<quint32>(QCoreApplication::applicationPid());
        const QString name = QFileInfo(AProgram).fileName();
        for (const platform::TProcessEntry& entry : *snapshot) {
            if (entry.ProcessId == self) continue;
            if (program && entry.Executable == program) {
                if (AProcessId == 0) AProcessId = entry.ProcessId;
                if (ANamesakes == nullptr) return;
            } else if (ANamesakes != nullptr && entry.ExeFile.compare(name, Qt::CaseInsensitive) == 0) {
                ANamesakes->push_back(entry);
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
