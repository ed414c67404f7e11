#include "platform/Native.h"

#include <QFileInfo>
#include <QProcess>

#include <unistd.h>

namespace zlt::platform::native {

bool OpenFile(const QString& APath, const QString& AParameters) {
    // A program starts in the caller's working folder and is not waited for.
    const QFileInfo file(APath);
    if (file.isFile() && file.isExecutable())
        return QProcess::startDetached(APath, QProcess::splitCommand(AParameters));
    // Documents, packages and folders go to whatever the desktop opens them with.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {APath});
}

QString StartElevated(const QString&, const QStringList&) {
    if (::geteuid() == 0) return QStringLiteral("the updater runs as root already");
    // sudo or pkexec would need a terminal or a desktop agent that the application's user may
    // not have, and would ask for a password that the application never announced.
    return QStringLiteral("this system has no elevation prompt: run the updater as a user who may change its folder");
}

} // namespace zlt::platform::native
