// The sample application of the demo and of the process tests. It writes one line about
// itself to sample_app.log beside its executable:
//   pid=<pid> version=<version.txt beside it> args=<its arguments>
// then, by its arguments:
//   Upd=1            ends at once (the updater restarted it) with code 0, or as trial.txt beside
//                    it says: "exit N" ends with code N, "crash" ends by an access violation
//                    (SIGSEGV; exception 0xC0000005 on Windows), "run" waits as below
//   --run-updater X  starts the updater beside it with "VER=<version>" and X..., then waits
//   --hold FILE      opens FILE (beside it) as a program does that shares it for reading only,
//                    so that on Windows nobody may rename or delete it, then waits
//   anything else    waits until it is killed (ten minutes at most)

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>
#endif

namespace {

// Keeps AFileName open until the process ends.
void Hold(const QString& AFileName) {
#ifdef Q_OS_WIN
    // No FILE_SHARE_DELETE: the file can be neither renamed nor deleted while it is open.
    static HANDLE handle = ::CreateFileW(reinterpret_cast<const wchar_t*>(AFileName.utf16()), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    static_cast<void>(handle);
#else
    static QFile file(AFileName);
    file.open(QIODevice::ReadOnly);
#endif
}

// How a version that the updater restarted ends, by trial.txt beside it; -1: it runs on.
int EndAfterUpdate(const QDir& AFolder) {
    QFile trial(AFolder.filePath(QStringLiteral("trial.txt")));
    if (!trial.open(QIODevice::ReadOnly)) return 0;
    const QByteArray how = trial.readAll().trimmed();
    trial.close();
    if (how.startsWith("exit ")) return how.mid(5).toInt();
    if (how == "run") return -1;
    if (how == "crash") {
#ifdef Q_OS_WIN
        // No crash dialog nor debugger that would wait for someone: the last filter ends the
        // process with the exception's code, as a crashing program ends for its parent.
        ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
        ::SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { return EXCEPTION_EXECUTE_HANDLER; });
        ::RaiseException(EXCEPTION_ACCESS_VIOLATION, EXCEPTION_NONCONTINUABLE, 0, nullptr);
#else
        // No core file in the application's folder.
        const rlimit none{0, 0};
        ::setrlimit(RLIMIT_CORE, &none);
        ::raise(SIGSEGV);
#endif
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QDir folder(QCoreApplication::applicationDirPath());
    QStringList arguments = QCoreApplication::arguments().mid(1);

    QFile versionFile(folder.filePath(QStringLiteral("version.txt")));
    QString version;
    if (versionFile.open(QIODevice::ReadOnly)) version = QString::fromUtf8(versionFile.readAll()).trimmed();
    // Closed at once, as an application that reads its files does: on Windows an open file
    // can be neither renamed nor replaced.
    versionFile.close();

    // Copies started together append in turn: on Windows an append is a seek to the end and a
    // write, and two copies would write over each other's line.
    QLockFile lock(folder.filePath(QStringLiteral("sample_app.log.lock")));
    lock.lock();
    QFile log(folder.filePath(QStringLiteral("sample_app.log")));
    if (log.open(QIODevice::Append | QIODevice::Text)) {
        log.write(QStringLiteral("pid=%1 version=%2 args=%3\n")
                      .arg(QString::number(QCoreApplication::applicationPid()), version, arguments.join(u' '))
                      .toUtf8());
        log.close();
    }
    lock.unlock();

    if (arguments.contains(QStringLiteral("Upd=1")))
        if (const int code = EndAfterUpdate(folder); code >= 0) return code;

    if (const qsizetype hold = arguments.indexOf(QStringLiteral("--hold")); hold >= 0 && hold + 1 < arguments.size())
        Hold(folder.filePath(arguments[hold + 1]));

    const qsizetype runUpdater = arguments.indexOf(QStringLiteral("--run-updater"));
    if (runUpdater >= 0) {
        QStringList updaterArguments{QStringLiteral("VER=") + version};
        updaterArguments += arguments.mid(runUpdater + 1);
#ifdef Q_OS_WIN
        const QString updater = folder.filePath(QStringLiteral("updater.exe"));
#else
        const QString updater = folder.filePath(QStringLiteral("updater"));
#endif
        QProcess::startDetached(updater, updaterArguments, folder.path());
    }
    for (int second = 0; second < 600; ++second) QThread::sleep(1);
    return 0;
}
