#include "tests/support/TestSupport.h"

#include "tests/support/HostSide.h"

#include "platform/Network.h"
#include "platform/System.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <cstdio>
#include <stdexcept>
#include <utility>

namespace zlt::test {

namespace {

[[noreturn]] void Fail(const QString& AMessage) { throw std::runtime_error(AMessage.toStdString()); }

// Starts a server at a free port and waits until the port accepts connections. AConfigure
// writes the configuration for the port and returns the arguments. A port that someone else
// took meanwhile makes the server end at once; it is then tried again at another port.
quint16 StartServer(TServerProcess& AProcess, const QString& AProgram, const TTempDir& ADir,
                    const std::function<QStringList(quint16)>& AConfigure) {
    QString lastError;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const quint16 port = FreePort();
        const QStringList arguments = AConfigure(port);
        AProcess.Start(AProgram, arguments, ADir.File(QStringLiteral("stdout.log")),
                       ADir.File(QStringLiteral("stderr.log")));
        const bool ready = WaitFor([&] { return !AProcess.Running() || host::PortAccepts(port); }, 20000) &&
                           AProcess.Running();
        if (ready) return port;
        AProcess.Stop();
        lastError = QString::fromLocal8Bit(ReadFile(ADir.File(QStringLiteral("stderr.log"))));
    }
    Fail(QStringLiteral("%1 did not start: %2").arg(AProgram, lastError));
}

QString LoopbackUrl(const QString& AScheme, quint16 APort, const QString& APath) {
    return QStringLiteral("%1://%2:%3%4")
        .arg(AScheme, host::LoopbackHost(AScheme == QLatin1String("https")), QString::number(APort), APath);
}

} // namespace

QString SourceDir() { return host::LocalPath(QStringLiteral(ZLT_SOURCE_DIR)); }
QString BinDir() { return host::LocalPath(QStringLiteral(ZLT_BINARY_DIR "/bin")); }
QString SupportDir() { return SourceDir() + QStringLiteral("/tests/support"); }

QString InstallUpdater(const QString& AFolder, const QString& AName) {
    const QString program = AFolder + u'/' + AName + ProgramSuffix();
    const auto copy = [](const QString& AFrom, const QString& ATo) {
        QDir().mkpath(QFileInfo(ATo).path());
        if (!QFile::copy(AFrom, ATo)) Fail(QStringLiteral("cannot copy %1 to %2").arg(AFrom, ATo));
    };
#ifdef Q_OS_WIN
    const QDir dist(host::LocalPath(QStringLiteral(ZLT_BINARY_DIR "/dist")));
    QDirIterator files(dist.path(), QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString file = files.next();
        const QString relative = dist.relativeFilePath(file);
        copy(file, relative == QStringLiteral("updater.exe") ? program : AFolder + u'/' + relative);
    }
#else
    copy(BinProgram(QStringLiteral("updater")), program);
#endif
    return program;
}

// --- files and processes -----------------------------------------------------------------

TTempDir::TTempDir() : FDir(QDir::tempPath() + QStringLiteral("/zlt-test-XXXXXX")) {
    if (!FDir.isValid()) Fail(QStringLiteral("cannot create a temporary folder: %1").arg(FDir.errorString()));
}

QString TTempDir::Path() const { return FDir.path(); }
QString TTempDir::File(const QString& ARelative) const { return FDir.path() + u'/' + ARelative; }

void WriteFile(const QString& APath, const QByteArray& AData) {
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QFile file(APath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(AData) != AData.size())
        Fail(QStringLiteral("cannot write %1: %2").arg(APath, file.errorString()));
}

QByteArray ReadFile(const QString& APath) {
    QFile file(APath);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

void WriteRandomFile(const QString& APath, std::int64_t ASize, std::uint32_t ASeed) {
    QDir().mkpath(QFileInfo(APath).absolutePath());
    QFile file(APath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) Fail(QStringLiteral("cannot write %1").arg(APath));
    // splitmix64: fast enough for files of gigabytes, and the same bytes for the same seed.
    std::uint64_t state = ASeed;
    std::vector<std::uint64_t> piece(1 << 17); // 1 MiB
    std::int64_t left = ASize;
    while (left > 0) {
        for (auto& word : piece) {
            std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
            word = z ^ (z >> 31);
        }
        const auto bytes = std::min<std::int64_t>(left,
                                                  static_cast<std::int64_t>(piece.size() * sizeof(std::uint64_t)));
        if (file.write(reinterpret_cast<const char*>(piece.data()), bytes) != bytes)
            Fail(QStringLiteral("cannot write %1: %2").arg(APath, file.errorString()));
        left -= bytes;
    }
}

QString Python3() { return host::Python(); }

bool HaveProgram(const QString& AProgram) { return !host::FindProgram(AProgram).isEmpty(); }

int host::RunLocalProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput,
                          QByteArray& AErrors, const QString& AWorkingDir, int ATimeoutMs) {
    QProcess process;
    process.setProgram(AProgram);
    process.setArguments(AArguments);
    if (!AWorkingDir.isEmpty()) process.setWorkingDirectory(AWorkingDir);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(10000)) return -1;
    if (!process.waitForFinished(ATimeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        return -1;
    }
    if (AOutput) *AOutput = process.readAllStandardOutput();
    AErrors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

int RunProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput, const QString& AWorkingDir,
               int ATimeoutMs) {
    QByteArray errors;
    const int code = host::RunProgram(AProgram, AArguments, AOutput, errors, AWorkingDir, ATimeoutMs);
    // Kept visible for the test log; callers decide whether the code is a failure.
    if (code != 0 && !errors.isEmpty())
        fprintf(stderr, "%s %s: %s\n", qPrintable(AProgram), qPrintable(AArguments.join(u' ')), errors.constData());
    return code;
}

QString GuardLine(const char* ALabel) {
    return QString::fromUtf8("Error al ejecutar la funci\u00F3n %1.\r\n").arg(QString::fromUtf8(ALabel));
}

int ZipFolder(const QString& AFolder, const QString& AZipFile, const QStringList& AOptions) {
    QDir().mkpath(QFileInfo(AZipFile).path());
    QFile::remove(AZipFile);
    return RunProgram(QStringLiteral("zip"),
                      QStringList{QStringLiteral("-q"), QStringLiteral("-r")} + AOptions +
                          QStringList{QFileInfo(AZipFile).absoluteFilePath(), QStringLiteral(".")},
                      nullptr, AFolder);
}

bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs) {
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        if (ACondition()) return true;
        if (timer.elapsed() >= ATimeoutMs) return false;
        if (QCoreApplication::instance()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(10);
    }
}

// --- minisign ----------------------------------------------------------------------------

TMinisignKey::TMinisignKey() {
    if (!HaveProgram(QStringLiteral("minisign"))) Fail(QStringLiteral("minisign is not installed"));
    if (RunProgram(QStringLiteral("minisign"), {QStringLiteral("-G"), QStringLiteral("-W"), QStringLiteral("-p"),
                                                FDir.File(QStringLiteral("key.pub")), QStringLiteral("-s"),
                                                FDir.File(QStringLiteral("key.sec"))}) != 0)
        Fail(QStringLiteral("minisign -G failed"));
}

QString TMinisignKey::PublicKeyLine() const {
    const QList<QByteArray> lines = ReadFile(FDir.File(QStringLiteral("key.pub"))).trimmed().split('\n');
    return QString::fromLatin1(lines.last().trimmed());
}

void TMinisignKey::Sign(const QString& AFile, bool ALegacy, const QString& ASignatureFile) const {
    QStringList arguments{QStringLiteral("-S"),
                          QStringLiteral("-s"),
                          FDir.File(QStringLiteral("key.sec")),
                          QStringLiteral("-m"),
                          AFile,
                          QStringLiteral("-x"),
                          ASignatureFile.isEmpty() ? AFile + QStringLiteral(".minisig") : ASignatureFile};
    if (ALegacy) arguments.append(QStringLiteral("-l"));
    QByteArray output;
    if (RunProgram(QStringLiteral("minisign"), arguments, &output) != 0)
        Fail(QStringLiteral("minisign -S failed: ") + QString::fromUtf8(output));
}

void TMinisignKey::SignWithComment(const QString& AFile, const QString& ATrustedComment) const {
    QByteArray output;
    if (RunProgram(QStringLiteral("minisign"), {QStringLiteral("-S"), QStringLiteral("-s"), SecretKeyFile(),
                                                QStringLiteral("-t"), ATrustedComment, QStringLiteral("-m"), AFile},
                   &output) != 0)
        Fail(QStringLiteral("minisign -S failed: ") + QString::fromUtf8(output));
}

// --- certificates ------------------------------------------------------------------------

TTestCa::TTestCa(const QStringList& AHostNames) {
    if (!HaveProgram(QStringLiteral("openssl"))) Fail(QStringLiteral("openssl is not installed"));
    CaFile = FDir.File(QStringLiteral("ca.pem"));
    CertFile = FDir.File(QStringLiteral("server.pem"));
    KeyFile = FDir.File(QStringLiteral("server.key"));
    const QString caKey = FDir.File(QStringLiteral("ca.key"));
    const QString request = FDir.File(QStringLiteral("server.csr"));
    const QString config = FDir.File(QStringLiteral("openssl.cnf"));
    // An own configuration, so that the machine's openssl.cnf adds nothing unexpected.
    WriteFile(config, QStringLiteral("[req]\n"
                                     "distinguished_name = dn\n"
                                     "prompt = no\n"
                                     "[dn]\n"
                                     "CN = ZLT Test CA\n"
                                     "[ca_ext]\n"
                                     "basicConstraints = critical,CA:TRUE\n"
                                     "keyUsage = critical,keyCertSign,cRLSign\n"
                                     "subjectKeyIdentifier = hash\n"
                                     "[server_ext]\n"
                                     "basicConstraints = CA:FALSE\n"
                                     "keyUsage = critical,digitalSignature\n"
                                     "extendedKeyUsage = serverAuth\n"
                                     "subjectKeyIdentifier = hash\n"
                                     "authorityKeyIdentifier = keyid\n"
                                     "subjectAltName = %1\n")
                          .arg(AHostNames.join(u','))
                          .toUtf8());
    const QString openssl = QStringLiteral("openssl");
#ifdef Q_OS_WIN
    // Wine's certificate chain check now and then rejects a valid ECDSA signature
    // (CERT_TRUST_IS_NOT_SIGNATURE_VALID: 3 downloads of 120 here); with RSA none of 120 failed.
    const QStringList newKey{QStringLiteral("-newkey"), QStringLiteral("rsa:2048"), QStringLiteral("-nodes")};
#else
    const QStringList newKey{QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                             QStringLiteral("ec_paramgen_curve:P-256"), QStringLiteral("-nodes")};
#endif
    const QList<QStringList> steps{
        QStringList{QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-config"), config,
                    QStringLiteral("-extensions"), QStringLiteral("ca_ext"), QStringLiteral("-subj"),
                    QStringLiteral("/CN=ZLT Test CA"), QStringLiteral("-days"), QStringLiteral("3650"),
                    QStringLiteral("-keyout"), caKey, QStringLiteral("-out"), CaFile} +
            newKey,
        QStringList{QStringLiteral("req"), QStringLiteral("-new"), QStringLiteral("-config"), config,
                    QStringLiteral("-subj"), QStringLiteral("/CN=zlt-test-server"), QStringLiteral("-keyout"), KeyFile,
                    QStringLiteral("-out"), request} +
            newKey,
        QStringList{QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"), request,
                    QStringLiteral("-CA"), CaFile, QStringLiteral("-CAkey"), caKey, QStringLiteral("-set_serial"),
                    QString::number(QRandomGenerator::global()->bounded(1, 0x7fffffff)), QStringLiteral("-days"),
                    QStringLiteral("825"), QStringLiteral("-extfile"), config, QStringLiteral("-extensions"),
                    QStringLiteral("server_ext"), QStringLiteral("-out"), CertFile},
    };
    for (const QStringList& step : steps) {
        if (RunProgram(openssl, step, nullptr, FDir.Path()) != 0)
            Fail(QStringLiteral("openssl %1 failed").arg(step.join(u' ')));
    }
}

// --- nginx -------------------------------------------------------------------------------

TNginx::TNginx(const QString& ARoot, const TNginxOptions& AOptions) : FHttps(AOptions.Ca != nullptr) {
    const QString dir = FDir.Path();
    QDir().mkpath(FDir.File(QStringLiteral("tmp")));
    const QString config = FDir.File(QStringLiteral("nginx.conf"));
    FPort = StartServer(FProcess, QStringLiteral("nginx"), FDir, [&](quint16 APort) {
        QString text;
        // Workers would otherwise run as nobody and could not read our private folders.
        if (host::IsRoot()) text += QStringLiteral("user root;\n");
        text += QStringLiteral("daemon off;\n"
                               "worker_processes 1;\n"
                               "pid %1/nginx.pid;\n"
                               "error_log %1/error.log info;\n"
                               "events { worker_connections 256; }\n"
                               "http {\n"
                               "  include /etc/nginx/mime.types;\n"
                               "  default_type application/octet-stream;\n"
                               "  log_format zlt '$request $status $body_bytes_sent';\n"
                               "  access_log %1/access.log zlt;\n"
                               "  client_body_temp_path %1/tmp/body;\n"
                               "  proxy_temp_path %1/tmp/proxy;\n"
                               "  fastcgi_temp_path %1/tmp/fastcgi;\n"
                               "  uwsgi_temp_path %1/tmp/uwsgi;\n"
                               "  scgi_temp_path %1/tmp/scgi;\n"
                               "  sendfile on;\n"
                               "  tcp_nopush on;\n"
                               "  server {\n"
                               "    listen 127.0.0.1:%2%3;\n"
                               "    root %4;\n")
                    .arg(HostPath(dir), QString::number(APort),
                         QString(FHttps ? QStringLiteral(" ssl") : QString()) +
                             (AOptions.Http2 ? QStringLiteral(" http2") : QString()),
                         HostPath(ARoot));
        if (FHttps) {
            text += QStringLiteral("    ssl_certificate %1;\n"
                                   "    ssl_certificate_key %2;\n"
                                   "    ssl_protocols %3;\n")
                        .arg(HostPath(AOptions.Ca->CertFile), HostPath(AOptions.Ca->KeyFile), AOptions.SslProtocols);
        }
        if (!AOptions.LimitRate.isEmpty()) text += QStringLiteral("    limit_rate %1;\n").arg(AOptions.LimitRate);
        if (!AOptions.ExtraServerConfig.isEmpty()) text += AOptions.ExtraServerConfig + u'\n';
        text += QStringLiteral("  }\n}\n");
        WriteFile(config, text.toUtf8());
        return QStringList{QStringLiteral("-c"), HostPath(config), QStringLiteral("-e"),
                           HostPath(FDir.File(QStringLiteral("error.log")))};
    });
}

TNginx::~TNginx() = default;

QString TNginx::Url(const QString& APath) const {
    return LoopbackUrl(FHttps ? QStringLiteral("https") : QStringLiteral("http"), FPort, APath);
}

QString TNginx::AccessLog() const { return QString::fromUtf8(ReadFile(FDir.File(QStringLiteral("access.log")))); }

// --- tinyproxy ---------------------------------------------------------------------------

TTinyProxy::TTinyProxy(const QString& AUser, const QString& APassword) {
    const QString config = FDir.File(QStringLiteral("tinyproxy.conf"));
    FPort = StartServer(FProcess, QStringLiteral("tinyproxy"), FDir, [&](quint16 APort) {
        // No ConnectPort line: CONNECT is allowed to every port.
        WriteFile(config, QStringLiteral("Port %1\n"
                                         "Listen 127.0.0.1\n"
                                         "Timeout 60\n"
                                         "MaxClients 32\n"
                                         "Allow 127.0.0.1\n"
                                         "BasicAuth %2 %3\n"
                                         "LogFile \"%4\"\n"
                                         "LogLevel Info\n"
                                         "DisableViaHeader Yes\n")
                              .arg(QString::number(APort), AUser, APassword,
                                   HostPath(FDir.File(QStringLiteral("tinyproxy.log"))))
                              .toUtf8());
        return QStringList{QStringLiteral("-d"), QStringLiteral("-c"), HostPath(config)};
    });
}

TTinyProxy::~TTinyProxy() = default;

int TTinyProxy::RequestsSeen() const {
    // tinyproxy logs this line once it has passed a request on to its server; refused
    // requests never get that far.
    return static_cast<int>(
        ReadFile(FDir.File(QStringLiteral("tinyproxy.log"))).count("Established connection to host"));
}

// --- php ---------------------------------------------------------------------------------

TPhpServer::TPhpServer(const QString& ARoot) {
    FPort = StartServer(FProcess, QStringLiteral("php"), FDir, [&](quint16 APort) {
        return QStringList{QStringLiteral("-S"), QStringLiteral("127.0.0.1:%1").arg(APort), QStringLiteral("-t"),
                           HostPath(ARoot)};
    });
}

TPhpServer::~TPhpServer() = default;

QString TPhpServer::Url(const QString& APath) const { return LoopbackUrl(QStringLiteral("http"), FPort, APath); }

// --- fault server ------------------------------------------------------------------------

namespace {

// Starts one of the support folder's Python servers, which bind a port of the system's choice
// and tell it on their first line; returns the port.
quint16 StartScriptServer(TServerProcess& AProcess, const TTempDir& ADir, const QString& AScript,
                          const QStringList& AArguments) {
    const QString portFile = ADir.File(QStringLiteral("port.txt"));
    AProcess.Start(host::Python(), QStringList{HostPath(SupportDir() + u'/' + AScript)} + AArguments,
                   portFile, ADir.File(QStringLiteral("stderr.log")));
    if (!WaitFor([&] { return ReadFile(portFile).contains('\n') || !AProcess.Running(); }, 20000) ||
        !ReadFile(portFile).contains('\n')) {
        AProcess.Stop();
        Fail(QStringLiteral("%1 did not start: %2")
                 .arg(AScript, QString::fromLocal8Bit(ReadFile(ADir.File(QStringLiteral("stderr.log"))))));
    }
    bool ok = false;
    const uint port = ReadFile(portFile).trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) Fail(QStringLiteral("%1 named no port").arg(AScript));
    return static_cast<quint16>(port);
}

} // namespace

TFaultServer::TFaultServer(const QString& ARoot) {
    QStringList arguments{HostPath(FDir.File(QStringLiteral("requests.log")))};
    if (!ARoot.isEmpty()) arguments << HostPath(ARoot);
    FPort = StartScriptServer(FProcess, FDir, QStringLiteral("fault_server.py"), arguments);
}

TCutProxy::TCutProxy(quint16 AUpstreamPort, const QList<std::int64_t>& ACuts) {
    QStringList cuts;
    for (const std::int64_t cut : ACuts) cuts << QString::number(cut);
    FPort = StartScriptServer(FProcess, FDir, QStringLiteral("cut_proxy.py"),
                              {QString::number(AUpstreamPort), cuts.join(u','),
                               HostPath(FDir.File(QStringLiteral("connections.log")))});
}

TCutProxy::~TCutProxy() = default;

QStringList TCutProxy::Connections() const {
    return QString::fromUtf8(ReadFile(FDir.File(QStringLiteral("connections.log")))).split(u'\n', Qt::SkipEmptyParts);
}

TFaultServer::~TFaultServer() = default;

QString TFaultServer::Url(const QString& APath) const { return LoopbackUrl(QStringLiteral("http"), FPort, APath); }

QStringList TFaultServer::RequestLines() const {
    return QString::fromUtf8(ReadFile(FDir.File(QStringLiteral("requests.log")))).split(u'\n', Qt::SkipEmptyParts);
}

// --- process-wide state --------------------------------------------------------------------

TScopedConnectedState::TScopedConnectedState(std::optional<bool> AState) { platform::ForceConnectedState(AState); }

TScopedConnectedState::~TScopedConnectedState() { platform::ForceConnectedState(ProgramConnectedState); }

TScopedEnvironmentVariable::TScopedEnvironmentVariable(const char* AName, const std::optional<QByteArray>& AValue)
    : FName(AName) {
    if (qEnvironmentVariableIsSet(AName)) FSaved = qgetenv(AName);
    if (AValue)
        qputenv(AName, *AValue);
    else
        qunsetenv(AName);
}

TScopedEnvironmentVariable::~TScopedEnvironmentVariable() {
    if (FSaved)
        qputenv(FName.constData(), *FSaved);
    else
        qunsetenv(FName.constData());
}

TScopedExecutablePath::TScopedExecutablePath(const QString& APath) {
    // Only the effective path can be read: without the override for a moment it shows whether
    // the one in force was an override at all.
    const QString current = platform::ExecutablePath();
    platform::SetExecutablePathOverride(QString());
    if (platform::ExecutablePath() != current) FPrevious = current;
    platform::SetExecutablePathOverride(APath);
}

TScopedExecutablePath::~TScopedExecutablePath() { platform::SetExecutablePathOverride(FPrevious); }

TExeFolder::TExeFolder(const QString& AExeName) : FExeName(AExeName), FPath(ExePath()) {}

QString TExeFolder::Folder() const { return FDir.Path(); }
QString TExeFolder::ExePath() const { return FDir.File(FExeName); }

QString TExeFolder::SettingsFile() const {
    const QString suffix = QFileInfo(FExeName).suffix();
    const QString base = suffix.isEmpty() ? FExeName : FExeName.chopped(suffix.size() + 1);
    return FDir.File(base + QStringLiteral(".cfi"));
}

} // namespace zlt::test
