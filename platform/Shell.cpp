#include "platform/Shell.h"

#include "platform/Native.h"
#include "platform/System.h"

#include <QDir>
#include <QFileInfo>

#include <utility>

namespace zlt::platform {

namespace {

TShellExecuteHook& ShellHook() {
    static TShellExecuteHook hook;
    return hook;
}

TElevatedStartHook& ElevationHook() {
    static TElevatedStartHook hook;
    return hook;
}

// The file that "open" means: an absolute name as it stands, a relative name with a folder
// from the program's own folder, a bare name from the program's own folder or PATH, in that
// order. Empty when none exists. A shell would look in the current folder first; it only
// ever gets a full path from here.
QString ResolveFile(const QString& AFileName) {
    // Windows takes '\' as a delimiter too; elsewhere it is a character of the name.
    const QString name = QDir::fromNativeSeparators(AFileName);
    if (QDir::isAbsolutePath(name) || name.contains(u'/')) {
        const QFileInfo file(QDir(ExecutableFolder()), name);
        return file.exists() ? file.absoluteFilePath() : QString();
    }
    QStringList folders{ExecutableFolder()};
    // An empty or relative PATH entry would mean the current folder: skipped.
    for (const QString& folder : qEnvironmentVariable("PATH").split(QDir::listSeparator()))
        if (QDir::isAbsolutePath(folder)) folders.append(folder);
    for (const QString& folder : std::as_const(folders)) {
        const QFileInfo file(QDir(folder), name);
        if (file.exists()) return file.absoluteFilePath();
    }
    return {};
}

} // namespace

bool ShellExecuteOpen(const QString& AFileName, const QString& AParameters) {
    if (const TShellExecuteHook& hook = ShellHook()) return hook(AFileName, AParameters);
    if (AFileName.isEmpty()) return false;
    const QString path = ResolveFile(AFileName);
    return !path.isEmpty() && native::OpenFile(path, AParameters);
}

TShellStart ShellExecuteWatched(const QString& AFileName, const QString& AParameters) {
    if (const TShellExecuteHook& hook = ShellHook()) return {hook(AFileName, AParameters), {}};
    if (AFileName.isEmpty()) return {};
    const QString path = ResolveFile(AFileName);
    if (path.isEmpty()) return {};
    return native::OpenWatched(path, AParameters);
}

QString TProgramEnd::Text() const {
    if (Signal) return QStringLiteral("signal %1").arg(Code);
    if (Code >= 0xC0000000u)
        return QStringLiteral("exit code 0x%1").arg(QString::number(Code, 16).toUpper().rightJustified(8, u'0'));
    return QStringLiteral("exit code %1").arg(Code);
}

TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook) { return std::exchange(ShellHook(), std::move(AHook)); }

QString StartElevated(const QString& AProgram, const QStringList& AParameters) {
    if (const TElevatedStartHook& hook = ElevationHook()) return hook(AProgram, AParameters);
    return native::StartElevated(AProgram, AParameters);
}

TElevatedStartHook SetElevatedStartHook(TElevatedStartHook AHook) {
    return std::exchange(ElevationHook(), std::move(AHook));
}

} // namespace zlt::platform
