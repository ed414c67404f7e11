#include "platform/System.h"

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

// /proc/self/exe names the running file. After an update replaced the program's own file the
// kernel shows it as "NAME (deleted)"; the program is still NAME to its settings and to the
// shell, so the mark goes unless a file of that very name is the one running.
QString RunningExecutable() {
    std::string target(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size()) return {};
    target.resize(static_cast<std::size_t>(length));

    static const std::string DeletedMark = " (deleted)";
    if (target.size() > DeletedMark.size() &&
        target.compare(target.size() - DeletedMark.size(), DeletedMark.size(), DeletedMark) == 0) {
        struct stat running {};
        struct stat named {};
        const bool sameFile = ::stat("/proc/self/exe", &running) == 0 && ::stat(target.c_str(), &named) == 0 &&
                              running.st_dev == named.st_dev && running.st_ino == named.st_ino;
        if (!sameFile) target.resize(target.size() - DeletedMark.size());
    }
    return QFile::decodeName(target.c_str());
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
