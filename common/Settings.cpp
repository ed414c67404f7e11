#include "common/Settings.h"

#include "common/Errors.h"
#include "platform/Profile.h"
#include "platform/System.h"

#include <QFileInfo>

namespace zlt {

namespace {

constexpr qsizetype ProfileBufferSize = 2048;

} // namespace

QString SettingsFileName() { return FileBesideExecutable(QStringLiteral(".cfi")); }

QString FileBesideExecutable(const QString& AExtension) {
    const QString path = platform::ExecutablePath();
    const QFileInfo file(path);
    const QString name = file.fileName();
    const qsizetype dot = name.lastIndexOf(u'.');
    const qsizetype nameStart = path.size() - name.size();
    return (dot < 0 ? path : path.left(nameStart + dot)) + AExtension;
}

void IniFileLoad(const QString& ASection, const QString& AKey, const QString& ADefault, QString& AValue) {
    Guarded(QStringLiteral("IniFileLoad"), [&] {
        // ADefault may be the very variable that receives the value.
        const QString defaultValue = ADefault;
        AValue.clear();
        AValue = platform::GetPrivateProfileString(ASection, AKey, defaultValue, SettingsFileName(), ProfileBufferSize);
    });
}

} // namespace zlt
