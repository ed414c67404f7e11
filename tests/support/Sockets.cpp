#include "tests/support/Sockets.h"

#include "tests/support/HostSide.h"
#include "tests/support/TestSupport.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#endif

#include <stdexcept>

namespace zlt::test {

namespace {

#ifdef _WIN32
using TNative = SOCKET;
using TLength = int;
constexpr TNative NoSocket = INVALID_SOCKET;
void CloseNative(TNative ASocket) { ::closesocket(ASocket); }
TNative OpenNative() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started ? ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP) : NoSocket;
}
#else
using TNative = int;
using TLength = socklen_t;
constexpr TNative NoSocket = -1;
void CloseNative(TNative ASocket) { ::close(ASocket); }
TNative OpenNative() { return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0); }
#endif

sockaddr_in LoopbackAddress(quint16 APort) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(APort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

TLoopbackSocket::TLoopbackSocket() : FSocket(static_cast<qintptr>(OpenNative())) {
    if (static_cast<TNative>(FSocket) == NoSocket) throw std::runtime_error("socket() failed");
}

TLoopbackSocket::~TLoopbackSocket() { CloseNative(static_cast<TNative>(FSocket)); }

bool TLoopbackSocket::Connect(quint16 APort) {
    const sockaddr_in address = LoopbackAddress(APort);
    return ::connect(static_cast<TNative>(FSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

quint16 TLoopbackSocket::BindFreePort() {
    sockaddr_in address = LoopbackAddress(0);
    if (::bind(static_cast<TNative>(FSocket), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("bind() to a free port failed");
    TLength length = sizeof address;
    if (::getsockname(static_cast<TNative>(FSocket), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("getsockname() failed");
    return ntohs(address.sin_port);
}

void TLoopbackSocket::SetReceiveTimeout(int AMilliseconds) {
#ifdef _WIN32
    const DWORD timeout = static_cast<DWORD>(AMilliseconds);
#else
    const timeval timeout{AMilliseconds / 1000, (AMilliseconds % 1000) * 1000};
#endif
    ::setsockopt(static_cast<TNative>(FSocket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                 sizeof timeout);
}

bool TLoopbackSocket::SendAll(const QByteArray& AData) {
    for (qsizetype sent = 0; sent < AData.size();) {
        const auto count = ::send(static_cast<TNative>(FSocket), AData.constData() + sent,
                                  static_cast<int>(AData.size() - sent), 0);
        if (count <= 0) return false;
        sent += count;
    }
    return true;
}

QByteArray TLoopbackSocket::ReceiveLine() {
    QByteArray answer;
    char buffer[65536];
    while (!answer.endsWith('\n')) {
        const auto count = ::recv(static_cast<TNative>(FSocket), buffer, sizeof buffer, 0);
        if (count <= 0) break;
        answer.append(buffer, static_cast<qsizetype>(count));
    }
    return answer;
}

quint16 FreePort() { return TLoopbackSocket().BindFreePort(); }

bool host::PortAccepts(quint16 APort) { return TLoopbackSocket().Connect(APort); }

} // namespace zlt::test
