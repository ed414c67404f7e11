#pragma once

// A loopback TCP socket for the test support, over BSD sockets or Winsock: one piece of code
// for the free ports, the readiness probes and the broker's connection on both sides.

#include <QByteArray>
#include <QtGlobal>

namespace zlt::test {

class TLoopbackSocket {
public:
    TLoopbackSocket(); // throws std::runtime_error when no socket can be made
    ~TLoopbackSocket();
    TLoopbackSocket(const TLoopbackSocket&) = delete;
    TLoopbackSocket& operator=(const TLoopbackSocket&) = delete;

    bool Connect(quint16 APort); // to 127.0.0.1:APort
    // Binds to 127.0.0.1 on a port the system chooses, and returns it; throws when it can't.
    quint16 BindFreePort();
    void SetReceiveTimeout(int AMilliseconds);
    bool SendAll(const QByteArray& AData);
    // What arrives until a line ends or the peer closes.
    QByteArray ReceiveLine();

private:
    qintptr FSocket;
};

} // namespace zlt::test
