#include "platform/System.h"

#include "platform/Native.h"

#include <QFileInfo>

#include <algorithm>

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

} // namespace

QString ExecutablePath() {
    if (!PathOverride().isEmpty()) return PathOverride();
    static const QString path = native::RunningExecutablePath();
    return path;
}

void SetExecutablePathOverride(const QString& APath) { PathOverride() = APath; }

QString ExecutableFolder() {
    QString folder = QFileInfo(ExecutablePath()).absolutePath();
    if (!folder.endsWith(u'/')) folder += u'/';
    return folder;
}

void SetCommandLine(const QStringList& AArguments) { Arguments() = AArguments; }

int ParamCount() { return static_cast<int>(std::max<qsizetype>(Arguments().size() - 1, 0)); }

QString ParamStr(int AIndex) {
    if (AIndex < 0 || AIndex >= Arguments().size()) return {};
    return Arguments().at(AIndex);
}

QDateTime LocalNow() { return QDateTime::currentDateTime(); }

} // namespace zlt::platform
