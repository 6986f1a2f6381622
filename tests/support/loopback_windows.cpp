// Test sockets on Windows (Winsock 2); loopback_posix.cpp is the POSIX twin. The sockets are not
// inherited by programs the tests start, so a bot under test never holds a test server's socket.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include "tests/support/loopback.hpp"

namespace nimbus::testing {

const long kConnectionRefused = WSAECONNREFUSED;
const long kConnectionReset = WSAECONNRESET;

namespace {

SOCKET native(SocketHandle s) {
    return static_cast<SOCKET>(s);
}

SocketHandle ours(SOCKET s) {
    if (s == INVALID_SOCKET)
        return kNoSocket;
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A bound socket and its port; kNoSocket when the port is taken. (Windows' SO_REUSEADDR would
// let two sockets share a port, so it is not set.)
SocketHandle bound(std::uint16_t port, std::uint16_t& taken) {
    const SocketHandle s = ours(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (s == kNoSocket)
        return kNoSocket;
    sockaddr_in addr = loopback(port);
    int len = sizeof addr;
    if (::bind(native(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(native(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::closesocket(native(s));
        return kNoSocket;
    }
    taken = ntohs(addr.sin_port);
    return s;
}

}  // namespace

SocketHandle listenOnLoopback(std::uint16_t port, std::uint16_t& taken) {
    const SocketHandle s = bound(port, taken);
    if (s != kNoSocket && ::listen(native(s), 4) != 0) {
        ::closesocket(native(s));
        return kNoSocket;
    }
    return s;
}

SocketHandle bindWithoutListening(std::uint16_t& taken) {
    return bound(0, taken);
}

SocketHandle connectToLoopback(std::uint16_t port) {
    const SocketHandle s = ours(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    const sockaddr_in addr = loopback(port);
    if (s != kNoSocket &&
        ::connect(native(s), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::closesocket(native(s));
        return kNoSocket;
    }
    return s;
}

SocketHandle acceptClient(SocketHandle listener) {
    return ours(::accept(native(listener), nullptr, nullptr));
}

bool waitReadable(SocketHandle s, std::chrono::milliseconds timeout) {
    WSAPOLLFD p{native(s), POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, static_cast<INT>(timeout.count())) > 0;
}

bool sendAll(SocketHandle s, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const int n = ::send(native(s), data + done, static_cast<int>(size - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t bytesWaiting(SocketHandle s) {
    u_long queued = 0;
    return ::ioctlsocket(native(s), FIONREAD, &queued) == 0 ? queued : 0;
}

void shutdownSending(SocketHandle s) {
    ::shutdown(native(s), SD_SEND);
}

void closeWithReset(SocketHandle s) {
    const linger hard{1, 0};
    ::setsockopt(native(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard),
                 sizeof hard);
    ::closesocket(native(s));
}

bool resetsReachThePeer() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}

}  // namespace nimbus::testing
