#include "platform/System.h"

#include "platform/posix/ProcExe.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <string>
#include <thread>

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

QString RunningExecutable() { return QFile::decodeName(posix::ReadExecutableLink("/proc/self/exe").c_str()); }

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
    QStringList arguments;
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

void Sleep(unsigned AMilliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(AMilliseconds)); }

} // namespace zlt::platform
