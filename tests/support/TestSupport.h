#pragma once

// Fixtures shared by the test programs. Servers run on 127.0.0.1 at free ports chosen at run
// time, each in a temporary folder of its own, and stop when the object goes.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "http/Defaults.h"
#include "platform/Processes.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "ui/MessageBox.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <type_traits>
#include <utility>
#include <vector>

// GoogleTest prints QString values in failure messages as text.
inline void PrintTo(const QString& AText, std::ostream* AStream) { *AStream << '"' << AText.toStdString() << '"'; }

// The libraries' namespaces, so that a test program can name any of them in a using-directive.
namespace zlt::platform {}
namespace zlt::ui {}
namespace zlt::http {}
namespace zlt::install {}
namespace zlt::webupdater {}
namespace zlt::app {}

namespace zlt::test {

// Servers and tools (nginx, php, tinyproxy, openssl, python3, zip...) are Linux programs. A
// Windows test program runs under Wine and reaches them through the broker that
// scripts/test-windows.sh starts on the Linux side (tests/support/broker.py); its temporary
// folders lie on Wine's drive Z:, which is the Linux root, so both sides share the files.

QString SourceDir();  // the repository
QString BinDir();     // the build's bin/ folder (updater, zlt_sample_app)
QString SupportDir(); // tests/support in the repository
// The system's suffix of programs: ".exe" on Windows, none elsewhere.
inline QString ProgramSuffix() {
#ifdef Q_OS_WIN
    return QStringLiteral(".exe");
#else
    return QString();
#endif
}
// A program built into BinDir(), by its name without the system's suffix.
inline QString BinProgram(const QString& AName) { return BinDir() + u'/' + AName + ProgramSuffix(); }
// Installs the built updater into AFolder as a user does, as the program AName (without the
// suffix): on Linux the program alone, on Windows the whole deployable folder (the build's
// dist/: the program with its libraries and plugins). Returns the program's path.
QString InstallUpdater(const QString& AFolder, const QString& AName = QStringLiteral("updater"));

// The control of AParent named AName, found by its object name; the test fails when there is
// none, and then gets nullptr.
template <typename TControl>
TControl* Control(const QObject* AParent, const char* AName) {
    auto* control = AParent != nullptr ? AParent->findChild<TControl*>(QString::fromLatin1(AName)) : nullptr;
    EXPECT_NE(control, nullptr) << "no control named " << AName;
    return control;
}

// A temporary folder removed with the object.
class TTempDir {
public:
    TTempDir();
    QString Path() const;
    QString File(const QString& ARelative) const; // Path() + "/" + ARelative
private:
    QTemporaryDir FDir;
};

quint16 FreePort();
void WriteFile(const QString& APath, const QByteArray& AData); // creates missing folders
QByteArray ReadFile(const QString& APath);                     // empty when missing
// A file of ASize pseudo-random bytes (seeded), written in pieces.
void WriteRandomFile(const QString& APath, std::int64_t ASize, std::uint32_t ASeed = 1);
// APath as the servers and tools see it: the path itself on Linux, "Z:/tmp/x" as "/tmp/x"
// under Wine. Paths inside configuration files for them go through this.
QString HostPath(const QString& APath);
// Runs a program to its end; returns its exit code, its output in AOutput when given. Under
// Wine a program without ".exe" is a Linux tool and runs through the broker.
int RunProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput = nullptr,
               const QString& AWorkingDir = QString(), int ATimeoutMs = 120000);
// Whether a program (a bare name looked up along PATH, or a path) can be run. Use
// ZLT_REQUIRE_PROGRAM to skip the current test with a reason when it cannot.
bool HaveProgram(const QString& AProgram);
// The Python interpreter for scripts that tests run (Debian's python3 where it is installed).
QString Python3();
#define ZLT_REQUIRE_PROGRAM(AProgram)                                                                                  \
    do {                                                                                                               \
        if (!::zlt::test::HaveProgram(AProgram))                                                                       \
            GTEST_SKIP() << "needs " << ::QString(AProgram).toStdString() << ", not installed";                        \
    } while (false)
// Runs the current test again in a child of this test program as the unprivileged user nobody
// (through setpriv), with AEnvironment added, and returns the child's exit code; the child's
// output goes to this program's. The child tells itself apart by a variable of AEnvironment.
// Skips the current test, with the reason, when this program is not root or setpriv is
// missing: use it through ZLT_RUN_AS_NOBODY.
int RunCurrentTestAsNobody(const QList<QPair<QByteArray, QByteArray>>& AEnvironment);
inline constexpr quint32 NobodyId = 65534;
bool CanRunAsNobody();
#define ZLT_REQUIRE_NOBODY()                                                                                           \
    do {                                                                                                               \
        if (!::zlt::test::CanRunAsNobody()) GTEST_SKIP() << "needs root and setpriv to act as an ordinary user";       \
    } while (false)

// Whether two pictures show the same drawing, allowing what rasterisers on different processors
// may differ by: at most ATolerance per 8-bit channel, on at most a few pixels (an eighth of a
// percent of the picture, and never fewer than 8). A failure says how many pixels differ and by
// how much at most.
::testing::AssertionResult ImagesAlike(const QImage& AActual, const QImage& AExpected, int ATolerance = 2);

// One line of the guard chain, for the routine ALabel, with its line end: what a guard puts in
// front of the cause of a failure.
QString GuardLine(const char* ALabel);

// Zips AFolder's whole content, named relative to it, into AZipFile with the zip tool (AOptions,
// such as "-0" or "-fz", go first), creating AZipFile's folder and replacing an older file.
// Returns zip's exit code; the caller has checked for zip with ZLT_REQUIRE_PROGRAM.
int ZipFolder(const QString& AFolder, const QString& AZipFile, const QStringList& AOptions = {});

// A server process, stopped when the object goes. Start throws when the program can't start.
class TServerProcess {
public:
    TServerProcess();
    ~TServerProcess();
    TServerProcess(const TServerProcess&) = delete;
    TServerProcess& operator=(const TServerProcess&) = delete;
    // AProgram is looked up like HaveProgram's; output is appended to the two files.
    void Start(const QString& AProgram, const QStringList& AArguments, const QString& AStdoutFile,
               const QString& AStderrFile);
    bool Running() const;
    void Stop();

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};

// Polls ACondition (processing Qt events) until true or ATimeoutMs passed.
bool WaitFor(const std::function<bool()>& ACondition, int ATimeoutMs = 10000);

// A test certificate authority and a server certificate that it signs.
struct TTestCa {
    // AHostNames go into the server certificate's subjectAltName ("IP:127.0.0.1",
    // "DNS:localhost"); give another name to make a certificate for the wrong host.
    explicit TTestCa(const QStringList& AHostNames = {QStringLiteral("IP:127.0.0.1"), QStringLiteral("DNS:localhost")});
    QString CaFile;   // PEM of the CA, for TZLTHttpDefaults::CaFile
    QString CertFile; // server certificate
    QString KeyFile;  // server key
private:
    TTempDir FDir;
};

// A minisign key pair made by the real minisign, without a password, in a folder of its own.
class TMinisignKey {
public:
    TMinisignKey();
    QString PublicKeyLine() const; // the base64 line of the .pub file, as PUBKEY= holds it
    QString PublicKeyFile() const { return FDir.File(QStringLiteral("key.pub")); }
    // Signs AFile into AFile + ".minisig" (or ASignatureFile); ALegacy makes the old
    // non-prehashed form.
    void Sign(const QString& AFile, bool ALegacy = false, const QString& ASignatureFile = QString()) const;
    // Signs AFile into AFile + ".minisig" with ATrustedComment as the trusted comment.
    void SignWithComment(const QString& AFile, const QString& ATrustedComment) const;
    QString SecretKeyFile() const { return FDir.File(QStringLiteral("key.sec")); }

private:
    TTempDir FDir;
};

// nginx serving ARoot. HTTPS when ACa is given; ASslProtocols limits the offered versions
// ("TLSv1.3"); ALimitRate ("100k") slows every body; Http2 offers HTTP/2 besides HTTP/1.1.
struct TNginxOptions {
    const TTestCa* Ca = nullptr;
    QString SslProtocols = QStringLiteral("TLSv1.2 TLSv1.3");
    QString LimitRate;
    QString ExtraServerConfig; // lines placed inside server { }
    bool Http2 = false;
};
class TNginx {
public:
    explicit TNginx(const QString& ARoot, const TNginxOptions& AOptions = {});
    ~TNginx();
    quint16 Port() const { return FPort; }
    // "http://127.0.0.1:PORT" + APath; HTTPS names the host "localhost" under Wine, whose TLS
    // refuses certificates for IP addresses.
    QString Url(const QString& APath) const;
    // One line per request seen so far: "<request line> <status> <body bytes sent>". nginx
    // writes the line after the answer has gone out: poll it with WaitFor.
    QString AccessLog() const;

private:
    TTempDir FDir;
    quint16 FPort = 0;
    bool FHttps = false;
    TServerProcess FProcess;
};

// tinyproxy on loopback with basic authentication. Plain requests and CONNECT to any port.
class TTinyProxy {
public:
    TTinyProxy(const QString& AUser, const QString& APassword);
    ~TTinyProxy();
    quint16 Port() const { return FPort; }
    int RequestsSeen() const; // requests that the proxy forwarded, from its log
private:
    TTempDir FDir;
    quint16 FPort = 0;
    TServerProcess FProcess;
};

// php -S serving ARoot.
class TPhpServer {
public:
    explicit TPhpServer(const QString& ARoot);
    ~TPhpServer();
    QString Url(const QString& APath) const;
    quint16 Port() const { return FPort; }

private:
    TTempDir FDir;
    quint16 FPort = 0;
    TServerProcess FProcess;
};

// tests/support/fault_server.py: the cases nobody else plays. Paths:
//   /ok/N            N bytes ("0123456789" repeated), with Content-Length
//   /nolength/N      N bytes without Content-Length, ended by closing the connection
//   /drop/N          Content-Length N, half the body, then the connection is reset
//   /short/N         Content-Length N, N/2 bytes, then the connection is closed cleanly
//   /stall           headers (Content-Length 1000000) and 10 bytes, then nothing for minutes
//   /drip/N          Content-Length N, then one byte every half second
//   /declare/N       Content-Length N, 10 bytes, then the connection is closed
//   /endless         no Content-Length and a body that never ends
//   /range/MODE/N/CUTS/ANY   N bytes served with ranges; the first CUTS answers on this path
//                    are closed halfway; MODE good, lastmod, noetag, ignore, newetag, badrange,
//                    weak, weakonly, resize or part (see fault_server.py). The log line of a request with Range ends with
//                    " [Range: ...; If-Range: ...]"
//   /status/CODE     status CODE with the body "Outdated error page"
//   /redirect/K      K redirects (302), then /ok/100
//   /loop            redirects to itself forever
//   /text?body=B&charset=C   the bytes of B (percent-decoded, sent as they are) as text/plain,
//                    declaring charset C; without a charset parameter when C is not given
//   /headers         200; body: the request line, then the request headers, one per line
//   /setcookie       sets cookie zlt=1; /needcookie answers 200 only when it came back (else 403)
//   /file/MODE/CUTS/NAME   the file NAME of the root folder given, served with single ranges;
//                    the first CUTS answers on this path are closed halfway; MODE good, alter,
//                    alterparts or shift (see fault_server.py)
//   anything else    404
class TFaultServer {
public:
    explicit TFaultServer(const QString& ARoot = QString());
    ~TFaultServer();
    QString Url(const QString& APath) const;
    quint16 Port() const { return FPort; }
    QStringList RequestLines() const; // request lines seen so far, in order
private:
    TTempDir FDir;
    quint16 FPort = 0;
    TServerProcess FProcess;
};

// tests/support/cut_proxy.py: forwards every connection to 127.0.0.1:AUpstreamPort, and resets
// the Nth one once it has passed ACuts[N] bytes of the answer (headers included) to the client.
class TCutProxy {
public:
    TCutProxy(quint16 AUpstreamPort, const QList<std::int64_t>& ACuts);
    ~TCutProxy();
    quint16 Port() const { return FPort; }
    // One line per connection that ended: "<n> <bytes passed to the client> cut|whole|broken".
    QStringList Connections() const;

private:
    TTempDir FDir;
    quint16 FPort = 0;
    TServerProcess FProcess;
};

// --- process-wide state, given back when the guard goes ---------------------------------
// Every guard puts back what it found, also when a failed ASSERT or an exception leaves the
// scope, so that no test changes the program for the tests after it. Guards nest: an inner one
// gives back the outer one's value.

// A plain variable of the program (a window's static knob, a run setting) for the guard's life.
// The one-argument form only saves it, for a test that changes it several times.
template <typename T>
class TScopedValue {
public:
    explicit TScopedValue(T& AVariable) : FVariable(AVariable), FSaved(AVariable) {}
    TScopedValue(T& AVariable, std::type_identity_t<T> AValue)
        : FVariable(AVariable), FSaved(std::exchange(AVariable, std::move(AValue))) {}
    ~TScopedValue() { FVariable = std::move(FSaved); }
    TScopedValue(const TScopedValue&) = delete;
    TScopedValue& operator=(const TScopedValue&) = delete;

private:
    T& FVariable;
    T FSaved;
};

// The whole of TZLTHttpDefaults::Instance(); change its fields freely meanwhile.
class TScopedHttpDefaults : public TScopedValue<http::TZLTHttpDefaults> {
public:
    TScopedHttpDefaults() : TScopedValue(http::TZLTHttpDefaults::Instance()) {}
};

// Installs AHook through ASet (a system function's replacement that gives back the one it
// replaces) for the guard's life.
template <typename THook, THook (*ASet)(THook)>
class TScopedHook {
public:
    explicit TScopedHook(THook AHook) : FPrevious(ASet(std::move(AHook))) {}
    ~TScopedHook() { ASet(std::move(FPrevious)); }
    TScopedHook(const TScopedHook&) = delete;
    TScopedHook& operator=(const TScopedHook&) = delete;

private:
    THook FPrevious;
};
// The process snapshot that the process utilities take comes from AHook.
using TScopedProcessSnapshotHook = TScopedHook<platform::TProcessSnapshotHook, &platform::SetProcessSnapshotHook>;
// Plays the reading of settings files: the bytes it gives, or a system that fails (a throw).
using TScopedProfileReadHook = TScopedHook<platform::TProfileReadHook, &platform::SetProfileReadHook>;

// The connection state that every test program fixes in main(): loopback servers are the only
// peers, whatever interfaces the machine has.
inline constexpr bool ProgramConnectedState = true;

// Fixes the connection state (nullopt: asks the system). Nothing reads back a forced state, so
// the guard can't see an outer one: it gives back ProgramConnectedState, and so does not nest.
class TScopedConnectedState {
public:
    explicit TScopedConnectedState(std::optional<bool> AState);
    ~TScopedConnectedState();
    TScopedConnectedState(const TScopedConnectedState&) = delete;
    TScopedConnectedState& operator=(const TScopedConnectedState&) = delete;
};

// Sets an environment variable to AValue, or unsets it for nullopt; gives back the earlier
// value, or the variable's absence.
class TScopedEnvironmentVariable {
public:
    TScopedEnvironmentVariable(const char* AName, const std::optional<QByteArray>& AValue);
    ~TScopedEnvironmentVariable();
    TScopedEnvironmentVariable(const TScopedEnvironmentVariable&) = delete;
    TScopedEnvironmentVariable& operator=(const TScopedEnvironmentVariable&) = delete;

private:
    QByteArray FName;
    std::optional<QByteArray> FSaved;
};

// Makes APath the running executable's path, so that "the executable's folder" is a test's.
class TScopedExecutablePath {
public:
    explicit TScopedExecutablePath(const QString& APath);
    ~TScopedExecutablePath();
    TScopedExecutablePath(const TScopedExecutablePath&) = delete;
    TScopedExecutablePath& operator=(const TScopedExecutablePath&) = delete;

private:
    QString FPrevious; // empty: the real path was in force
};

// Records the calls of a replaceable system function instead of making them while alive: each
// call's arguments become one entry of Calls, and each call gets AAnswer. ASet installs the
// function and gives back the one it replaces, which comes back when the recorder goes.
template <typename TEntry, typename THook, THook (*ASet)(THook)>
class TRecorder {
public:
    template <typename TAnswer>
    explicit TRecorder(TAnswer AAnswer)
        : FHook([this, AAnswer](const auto&... AArguments) {
              Calls.push_back(TEntry{AArguments...});
              return AAnswer;
          }) {}
    std::vector<TEntry> Calls;

private:
    TScopedHook<THook, ASet> FHook;
};

// Message boxes, recorded instead of shown; each is answered with OK.
struct TMessageBox {
    QString Text;
    QString Caption;
    quint32 Flags;
};
class TMessageBoxRecorder : public TRecorder<TMessageBox, ui::TMessageBoxSink, &ui::SetMessageBoxSink> {
public:
    TMessageBoxRecorder() : TRecorder(ui::IDOK) {}
};

// Whether ABoxes holds exactly one box, showing AText under ACaption with the icon AIcon
// (MB_ICON* bits; the buttons are not compared). A failure names what differs.
::testing::AssertionResult OneBox(const TMessageBoxRecorder& ABoxes, const QString& AText, const QString& ACaption,
                                  quint32 AIcon);

// Shell "open" calls, recorded instead of performed; each reports success.
struct TShellCall {
    QString FileName;
    QString Parameters;
};
class TShellRecorder : public TRecorder<TShellCall, platform::TShellExecuteHook, &platform::SetShellExecuteHook> {
public:
    TShellRecorder() : TRecorder(true) {}
};

// Makes the executable's folder a temporary one while alive (settings file, Updates/).
class TExeFolder {
public:
    explicit TExeFolder(const QString& AExeName = QStringLiteral("updater"));
    QString Folder() const; // ends without '/'
    QString ExePath() const;
    QString SettingsFile() const;

private:
    TTempDir FDir;
    QString FExeName;
    TScopedExecutablePath FPath; // after the folder and the name, which make its value
};

} // namespace zlt::test
