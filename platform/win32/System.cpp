#include "platform/System.h"

#include "platform/win32/Win32.h"

#include <QDir>
#include <QFileInfo>

#include <shellapi.h>

#include <algorithm>
#include <string>

namespace zlt::platform {

namespace {

QString& PathOverride() {
    static QString path;
    return path;
}

QStringList& Arguments() {
    static QStringList arguments;
    return arguments;
}

QString RunningExecutable() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return QDir::fromNativeSeparators(QString::fromWCharArray(path.data(), length));
        path.resize(path.size() * 2);
    }
}

} // namespace

QString ExecutablePath() {
    if (!PathOverride().isEmpty()) return PathOverride();
    static const QString path = RunningExecutable();
    return path;
}

void SetExecutablePathOverride(const QString& APath) { PathOverride() = APath; }

QString ExecutableFolder() {
    QString folder = QFileInfo(ExecutablePath()).absolutePath();
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder;
}

void SetCommandLine(int argc, char** argv) {
    // argv holds the parameters in the ANSI code page; the wide command line holds them as
    // typed. It is taken when it splits into as many parameters.
    QStringList arguments;
    int count = 0;
    if (wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count)) {
        if (count == argc)
            for (int index = 0; index < count; ++index) arguments.append(QString::fromWCharArray(wide[index]));
        ::LocalFree(wide);
    }
    if (arguments.isEmpty())
        for (int index = 0; index < argc; ++index) arguments.append(QString::fromLocal8Bit(argv[index]));
    SetCommandLine(arguments);
}

void SetCommandLine(const QStringList& AArguments) { Arguments() = AArguments; }

int ParamCount() { return static_cast<int>(std::max<qsizetype>(Arguments().size() - 1, 0)); }

QString ParamStr(int AIndex) {
    if (AIndex < 0 || AIndex >= Arguments().size()) return {};
    return Arguments().at(AIndex);
}

QDateTime LocalNow() { return QDateTime::currentDateTime(); }

void Sleep(unsigned AMilliseconds) { ::Sleep(AMilliseconds); }

} // namespace zlt::platform
