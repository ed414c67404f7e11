#include "platform/System.h"

#include "platform/Native.h"

#include "platform/posix/ProcExe.h"

#include <QFile>

#include <chrono>
#include <thread>

namespace zlt::platform {

QString native::RunningExecutablePath() {
    return QFile::decodeName(posix::ReadExecutableLink("/proc/self/exe").c_str());
}

void SetCommandLine(int argc, char** argv) {
    QStringList arguments;
    for (int index = 0; index < argc; ++index) arguments.append(QString::fromLocal8Bit(argv[index]));
    SetCommandLine(arguments);
}

void Sleep(unsigned AMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(AMilliseconds)); }

QString WindowsFontFolder() { return QStringLiteral("/usr/share/wine/fonts"); }

} // namespace zlt::platform
