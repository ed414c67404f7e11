// The test support's Linux side: servers and tools are programs of this very system.

#include "tests/support/HostSide.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

#include <stdexcept>

namespace zlt::test {

namespace {

[[noreturn]] void Fail(const QString& AMessage) { throw std::runtime_error(AMessage.toStdString()); }

// A server outlives no test program, even one that crashes: the kernel sends it SIGTERM when
// the test program goes.
void DieWithParent(QProcess& AProcess) {
    AProcess.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
}

void StopProcess(QProcess& AProcess) {
    if (AProcess.state() == QProcess::NotRunning) return;
    AProcess.terminate();
    if (!AProcess.waitForFinished(5000)) {
        AProcess.kill();
        AProcess.waitForFinished(5000);
    }
}

QString PosixFindProgram(const QString& AProgram) {
    if (AProgram.contains(u'/')) {
        const QFileInfo info(AProgram);
        return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
    }
    QString found = QStandardPaths::findExecutable(AProgram);
    // Servers such as nginx live in sbin, which a plain user's PATH may lack.
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(AProgram, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")});
    return found;
}

} // namespace

namespace host {

QString FindProgram(const QString& AProgram) { return PosixFindProgram(AProgram); }
QString LocalPath(const QString& APath) { return APath; }
// Debian's own first: a version manager's shim on PATH (pyenv's runs a dozen shell scripts)
// costs about half a second at every start, and every test case starts its own servers.
QString Python() {
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo(system).isExecutable() ? system : QStringLiteral("python3");
}
bool IsRoot() { return ::geteuid() == 0; }
QString LoopbackHost(bool) { return QStringLiteral("127.0.0.1"); }

} // namespace host

QString HostPath(const QString& APath) { return APath; }

int host::RunProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput, QByteArray& AErrors,
                     const QString& AWorkingDir, int ATimeoutMs) {
    return RunLocalProgram(AProgram, AArguments, AOutput, AErrors, AWorkingDir, ATimeoutMs);
}

// --- servers -------------------------------------------------------------------------------

struct TServerProcess::TImpl {
    QProcess Process;
};

TServerProcess::TServerProcess() : FImpl(std::make_unique<TImpl>()) {}

TServerProcess::~TServerProcess() { Stop(); }

void TServerProcess::Start(const QString& AProgram, const QStringList& AArguments, const QString& AStdoutFile,
                           const QString& AStderrFile) {
    const QString program = host::FindProgram(AProgram);
    if (program.isEmpty()) Fail(QStringLiteral("%1 is not installed").arg(AProgram));
    QProcess& process = FImpl->Process;
    process.setProgram(program);
    process.setArguments(AArguments);
    process.setStandardOutputFile(AStdoutFile, QIODevice::Append);
    process.setStandardErrorFile(AStderrFile, QIODevice::Append);
    DieWithParent(process);
    process.start();
    if (!process.waitForStarted(10000)) Fail(QStringLiteral("cannot start %1: %2").arg(program, process.errorString()));
}

bool TServerProcess::Running() const { return FImpl->Process.state() == QProcess::Running; }

void TServerProcess::Stop() { StopProcess(FImpl->Process); }

// --- another user -------------------------------------------------------------------------

bool CanRunAsNobody() {
    // The test program must also be reachable for nobody: a checkout below a folder that only
    // root may enter (such as /root) is not.
    static const bool can = [] {
        if (::geteuid() != 0 || !HaveProgram(QStringLiteral("setpriv"))) return false;
        const QString id = QString::number(NobodyId);
        return RunProgram(QStringLiteral("setpriv"), {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
                                                      QStringLiteral("--clear-groups"), QStringLiteral("test"),
                                                      QStringLiteral("-x"), QCoreApplication::applicationFilePath()}) ==
               0;
    }();
    return can;
}

int RunCurrentTestAsNobody(const QList<QPair<QByteArray, QByteArray>>& AEnvironment) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const QString filter = QStringLiteral("--gtest_filter=%1.%2")
                               .arg(QString::fromLatin1(test->test_suite_name()), QString::fromLatin1(test->name()));
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const auto& [name, value] : AEnvironment)
        environment.insert(QString::fromLatin1(name), QString::fromUtf8(value));
    // A home and a runtime folder of its own: root's are not the child's to use.
    environment.insert(QStringLiteral("HOME"), QStringLiteral("/tmp"));
    environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.setWorkingDirectory(QStringLiteral("/"));
    const QString id = QString::number(NobodyId);
    child.start(QStringLiteral("setpriv"),
                {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id, QStringLiteral("--clear-groups"),
                 QCoreApplication::applicationFilePath(), filter});
    if (!child.waitForStarted(10000) || !child.waitForFinished(300000)) {
        child.kill();
        child.waitForFinished(10000);
        return -1;
    }
    return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
}

} // namespace zlt::test
