#pragma once

// The pieces of the test support that depend on where servers and tools run: on Linux, in the
// test program's own system; under Wine, on the Linux side behind the broker. One
// implementation file per side (TestSupportPosix.cpp, TestSupportWin32.cpp).

#include <QString>

namespace zlt::test::host {

// Whether something accepts connections on 127.0.0.1:APort.
bool PortAccepts(quint16 APort);
// The full name of a server or tool program, empty when it is not installed.
QString FindProgram(const QString& AProgram);
// A path that the build knows (the sources, the binaries) as the test program names it.
QString LocalPath(const QString& APath);
// Whether servers run as root (nginx's workers must then be told to stay root).
bool IsRoot();
// The host name of loopback URLs.
QString LoopbackHost(bool AHttps);

} // namespace zlt::test::host
