#include "platform/Native.h"

#include <QFileInfo>
#include <QProcess>

namespace zlt::platform::native {

bool OpenFile(const QString& APath, const QString& AParameters) {
    // A program starts in the caller's working folder and is not waited for.
    const QFileInfo file(APath);
    if (file.isFile() && file.isExecutable())
        return QProcess::startDetached(APath, QProcess::splitCommand(AParameters));
    // Documents, packages and folders go to whatever the desktop opens them with.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {APath});
}

} // namespace zlt::platform::native
