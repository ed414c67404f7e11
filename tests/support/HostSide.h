#pragma once

// The pieces of the test support that depend on where servers and tools run: on Linux, in the
// test program's own system; under Wine, on the Linux side behind the broker. One
// implementation file per side (TestSupportPosix.cpp, TestSupportWin32.cpp).

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace zlt::test::host {

// Runs a program to its end as RunProgram does, its error output in AErrors; -1 when it could
// not start, did not end in time or crashed.
int RunProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput, QByteArray& AErrors,
               const QString& AWorkingDir, int ATimeoutMs);
// The same for a program of the test program's own system, as both sides need it.
int RunLocalProgram(const QString& AProgram, const QStringList& AArguments, QByteArray* AOutput, QByteArray& AErrors,
                    const QString& AWorkingDir, int ATimeoutMs);

// Whether something accepts connections on 127.0.0.1:APort.
bool PortAccepts(quint16 APort);
// The full name of a server or tool program, empty when it is not installed.
QString FindProgram(const QString& AProgram);
// A path that the build knows (the sources, the binaries) as the test program names it.
QString LocalPath(const QString& APath);
// Whether servers run as root (nginx's workers must then be told to stay root).
bool IsRoot();
// The Python interpreter that runs the support's servers and scripts.
QString Python();
// The host name of loopback URLs.
QString LoopbackHost(bool AHttps);

} // namespace zlt::test::host
