#include "platform/System.h"

#include "platform/Native.h"

#include "platform/win32/Win32.h"

#include <QDir>
#include <QStandardPaths>

#include <shellapi.h>

#include <string>

namespace zlt::platform {

QString native::RunningExecutablePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return QDir::fromNativeSeparators(QString::fromWCharArray(path.data(), length));
        path.resize(path.size() * 2);
    }
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

void Sleep(unsigned AMilliseconds) { ::Sleep(AMilliseconds); }

QString WindowsFontFolder() { return QStandardPaths::writableLocation(QStandardPaths::FontsLocation); }

} // namespace zlt::platform
