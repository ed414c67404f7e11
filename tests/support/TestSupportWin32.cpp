// The test support's Windows side. The test programs run under Wine; servers and tools are
// Linux programs, run by tests/support/broker.py, which scripts/test-windows.sh starts and
// names in ZLT_BROKER_PORT. Files are shared through Wine's drive Z:, the Linux root: the
// script points TEMP there.

#include "tests/support/HostSide.h"
#include "tests/support/Sockets.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <stdexcept>

namespace zlt::test {

namespace {

[[noreturn]] void Fail(const QString& AMessage) { throw std::runtime_error(AMessage.toStdString()); }

// One request to the broker and its answer; a broken broker fails the test.
QJsonObject Broker(const QJsonObject& ARequest, int ATimeoutMs = 60000) {
    bool ok = false;
    const uint port = qEnvironmentVariable("ZLT_BROKER_PORT").toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        Fail(QStringLiteral("ZLT_BROKER_PORT is not set: run the Windows tests with scripts/test-windows.sh"));
    TLoopbackSocket socket;
    if (!socket.Connect(static_cast<quint16>(port))) Fail(QStringLiteral("the broker does not answer"));
    socket.SetReceiveTimeout(ATimeoutMs + 30000);
    if (!socket.SendAll(QJsonDocument(ARequest).toJson(QJsonDocument::Compact) + '\n'))
        Fail(QStringLiteral("cannot send to the broker"));
    const QByteArray answer = socket.ReceiveLine();
    const QJsonObject object = QJsonDocument::fromJson(answer).object();
    if (object.isEmpty() && !answer.trimmed().startsWith("{}")) Fail(QStringLiteral("the broker gave no answer"));
    if (object.contains(QStringLiteral("error")))
        Fail(QStringLiteral("broker: %1").arg(object.value(QStringLiteral("error")).toString()));
    return object;
}

// A Windows program runs here; anything else is a Linux tool for the broker.
bool IsWindowsProgram(const QString& AProgram) { return AProgram.endsWith(QLatin1String(".exe"), Qt::CaseInsensitive); }

// Every "Z:/..." in AText as the Linux path it stands for.
QString ToHost(QString AText) {
    if (AText.size() >= 3 && AText[1] == u':' && (AText[2] == u'/' || AText[2] == u'\\') &&
        AText[0].toUpper() == u'Z')
        AText = QDir::fromNativeSeparators(AText.mid(2));
    return AText.replace(QLatin1String("Z:/"), QLatin1String("/"), Qt::CaseInsensitive);
}

QJsonArray HostArguments(const QString& AProgram, const QStringList& AArguments) {
    QJsonArray argv{AProgram};
    for (const QString& argument : AArguments) argv.append(ToHost(argument));
    return argv;
}

} // namespace

namespace host {

QString FindProgram(const QString& AProgram) {
    if (IsWindowsProgram(AProgram)) {
        const QFileInfo info(AProgram);
        return info.isFile() ? info.absoluteFilePath() : QString();
    }
    return Broker({{QStringLiteral("op"), QStringLiteral("which")}, {QStringLiteral("name"), AProgram}})
        .value(QStringLiteral("path"))
        .toString();
}

QString Python() { return QStringLiteral("python3"); } // run on the Linux side by the broker
QString LocalPath(const QString& APath) { return APath.startsWith(u'/') ? QStringLiteral("Z:") + APath : APath; }

bool IsRoot() {
    static const bool root =
        Broker({{QStringLiteral("op"), QStringLiteral("root")}}).value(QStringLiteral("root")).toBool();
    return root;
}

// Wine's TLS refuses a certificate for an IP address even when it names that address.
QString LoopbackHost(bool AHttps) { return AHttps ? QStringLiteral("localhost") : QStringLiteral("127.0.0.1"); }

} // namespace host

QString HostPath(const QString& APath) { return ToHost(APath); }

int host::RunProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput, QByteArray& AErrors,
                     const QString& AWorkingDir, int ATimeoutMs) {
    if (IsWindowsProgram(AProgram))
        return RunLocalProgram(AProgram, AArguments, AOutput, AErrors, AWorkingDir, ATimeoutMs);
    const QJsonObject answer = Broker({{QStringLiteral("op"), QStringLiteral("run")},
                                       {QStringLiteral("argv"), HostArguments(AProgram, AArguments)},
                                       {QStringLiteral("cwd"), ToHost(AWorkingDir)},
                                       {QStringLiteral("timeout_ms"), ATimeoutMs}},
                                      ATimeoutMs);
    if (AOutput) *AOutput = QByteArray::fromBase64(answer.value(QStringLiteral("stdout")).toString().toLatin1());
    AErrors = QByteArray::fromBase64(answer.value(QStringLiteral("stderr")).toString().toLatin1());
    return answer.value(QStringLiteral("code")).toInt(-1);
}

// --- servers -------------------------------------------------------------------------------

struct TServerProcess::TImpl {
    qint64 Id = 0; // the broker's process id, 0 when none runs
};

TServerProcess::TServerProcess() : FImpl(std::make_unique<TImpl>()) {}

TServerProcess::~TServerProcess() {
    try {
        Stop();
    } catch (...) {
        // A broker that is gone has stopped its servers already.
    }
}

void TServerProcess::Start(const QString& AProgram, const QStringList& AArguments, const QString& AStdoutFile,
                           const QString& AStderrFile) {
    Stop();
    const QJsonObject answer = Broker({{QStringLiteral("op"), QStringLiteral("start")},
                                       {QStringLiteral("argv"), HostArguments(AProgram, AArguments)},
                                       {QStringLiteral("stdout"), ToHost(AStdoutFile)},
                                       {QStringLiteral("stderr"), ToHost(AStderrFile)}});
    FImpl->Id = answer.value(QStringLiteral("id")).toInteger();
    if (FImpl->Id <= 0) Fail(QStringLiteral("cannot start %1").arg(AProgram));
}

bool TServerProcess::Running() const {
    if (FImpl->Id <= 0) return false;
    return Broker({{QStringLiteral("op"), QStringLiteral("running")}, {QStringLiteral("id"), FImpl->Id}})
        .value(QStringLiteral("running"))
        .toBool();
}

void TServerProcess::Stop() {
    if (FImpl->Id <= 0) return;
    const qint64 id = std::exchange(FImpl->Id, 0);
    Broker({{QStringLiteral("op"), QStringLiteral("stop")}, {QStringLiteral("id"), id}});
}

// --- another user -------------------------------------------------------------------------

// Acting as another user needs setpriv on Linux; the Windows programs have no such switch.
bool CanRunAsNobody() { return false; }

int RunCurrentTestAsNobody(const QList<QPair<QByteArray, QByteArray>>&) { return -1; }

} // namespace zlt::test
