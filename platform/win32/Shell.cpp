#include "platform/Shell.h"

#include "platform/System.h"
#include "platform/win32/Win32.h"

#include <QDir>
#include <QFileInfo>

#include <shellapi.h>

#include <utility>

namespace zlt::platform {

namespace {

TShellExecuteHook& ShellHook() {
    static TShellExecuteHook hook;
    return hook;
}

// The file that "open" means: an absolute name as it stands, a relative name with a folder
// from the program's own folder, a bare name from the program's own folder or PATH, in that
// order. Empty when none exists. The shell itself would look in the current folder first; it
// only ever gets a full path from here.
QString ResolveFile(const QString& AFileName) {
    if (QDir::isAbsolutePath(AFileName) || AFileName.contains(u'/') || AFileName.contains(u'\\')) {
        const QFileInfo file(QDir(ExecutableFolder()), QDir::fromNativeSeparators(AFileName));
        return file.exists() ? file.absoluteFilePath() : QString();
    }
    QStringList folders{ExecutableFolder()};
    // An empty or relative PATH entry would mean the current folder: skipped.
    for (const QString& folder : qEnvironmentVariable("PATH").split(u';'))
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
    const std::wstring file = win32::WidePath(path);
    const std::wstring parameters = AParameters.toStdWString();
    // No folder: the program starts in the caller's working folder. Results above 32 mean
    // success.
    const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", file.c_str(),
                                             parameters.empty() ? nullptr : parameters.c_str(), nullptr, SW_SHOWNORMAL);
    return reinterpret_cast<INT_PTR>(result) > 32;
}

TShellExecuteHook SetShellExecuteHook(TShellExecuteHook AHook) { return std::exchange(ShellHook(), std::move(AHook)); }

} // namespace zlt::platform
