#include "platform/Shell.h"

#include "platform/System.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

#include <utility>

namespace zlt::platform {

namespace {

TShellExecuteHook& ShellHook() {
    static TShellExecuteHook hook;
    return hook;
}

// The file that "open" means: an absolute name as it stands, a relative name with a folder
// from the program's own folder, a bare name from the program's own folder or PATH, in that
// order. Empty when none exists.
QString ResolveFile(const QString& AFileName) {
    if (AFileName.contains(u'/')) {
        const QFileInfo file(QDir(ExecutableFolder()), AFileName);
        return file.exists() ? file.absoluteFilePath() : QString();
    }
    QStringList folders{ExecutableFolder()};
    // An empty or relative PATH entry would mean the current folder: skipped.
    for (const QString& folder : qEnvironmentVariable("PATH").split(u':'))
        if (QDir::isAbsolutePath(folder)) folders.append(folder);
    for (const QString& folder : std::as_const(folders)) {
        const QFileInfo file(QDir(folder), AFileName);
        if (file.exists()) return file.absoluteFilePath();
    }
    return {};
}

} // namespace

bool ShellExecuteOpen(const QString& AFileName, const QString& AParameters) {
    if (const TShellExecuteHook& hook = ShellHook()) return hook(AFileName, AParameters);
    if (AFileName.isEmpty()) return false;

    const QString path = ResolveFile(AFileName);
    if (path.isEmpty()) return false;
    const QFileInfo file(path);
    if (file.isFile() && file.isExecutable()) return QProcess::startDetached(path, QProcess::splitCommand(AParameters));
    // Documents, packages and folders go to whatever the desktop opens them with.
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook) { return std::exchange(ShellHook(), std::move(AHook)); }

} // namespace zlt::platform
