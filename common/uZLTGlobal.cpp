#include "common/uZLTGlobal.h"

#include "platform/Processes.h"
#include "platform/Profile.h"
#include "platform/System.h"

#include <QFileInfo>
#include <QLocale>

#include <optional>
#include <vector>

namespace zlt {

namespace {

constexpr qsizetype ProfileBufferSize = 2048;

} // namespace

void FindProcess(const QString& AExeName, quint32& AProcessId) {
    Guarded(QStringLiteral("FindProcess"), [&] {
        AProcessId = 0;
        const std::optional<std::vector<platform::TProcessEntry>> snapshot = platform::TakeProcessSnapshot();
        if (!snapshot) return;
        for (const platform::TProcessEntry& entry : *snapshot) {
            if (entry.ExeFile == AExeName) {
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

QString SettingsFileName() {
    const QString path = platform::ExecutablePath();
    const QFileInfo file(path);
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype nameStart = path.size() - name.size();
    return (dot < 0 ? path : path.left(nameStart + dot)) + QStringLiteral(".cfi");
}

void IniFileLoad(const QString& ASection, const QString& AKey, const QString& ADefault, QString& AValue) {
    Guarded(QStringLiteral("IniFileLoad"), [&] {
        // ADefault may be the very variable that receives the value.
        const QString defaultValue = ADefault;
        AValue.clear();
        AValue = platform::GetPrivateProfileString(ASection, AKey, defaultValue, SettingsFileName(), ProfileBufferSize);
    });
}

bool StringIsEmpty(const QString& AText) {
    return Guarded(QStringLiteral("StringIsEmpty"), [&] {
        for (const QChar character : AText)
            if (character.unicode() > 32) return false;
        return true;
    });
}

void RaiseRoutineError(const QString& ARoutineName, const QString& AErrorMessage) {
    throw Exception(QStringLiteral("Error al ejecutar la funci\u00F3n ") + ARoutineName + QStringLiteral(".\r\n") +
                    AErrorMessage);
}

bool TextContains(const QString& AText, const QString& ASubText) {
    if (AText.isEmpty() || ASubText.isEmpty()) return false;
    const QLocale locale;
    return locale.toUpper(AText).contains(locale.toUpper(ASubText));
}

} // namespace zlt
