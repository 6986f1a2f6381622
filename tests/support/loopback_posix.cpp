// Test sockets on POSIX; loopback_windows.cpp is the Windows twin.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "tests/support/loopback.hpp"

namespace nimbus::testing {

const long kConnectionRefused = ECONNREFUSED;
const long kConnectionReset = ECONNRESET;

namespace {

int fd(SocketHandle s) {
    return static_cast<int>(s);
}

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    return addr;
}

// A bound socket and its port; kNoSocket when the port is taken.
SocketHandle bound(std::uint16_t port, std::uint16_t& taken) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return kNoSocket;
    const int one = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr = loopback(port);
    socklen_t len = sizeof addr;
    if (::bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(s);
        return kNoSocket;
    }
    taken = ntohs(addr.sin_port);
    return s;
}

}  // namespace

SocketHandle listenOnLoopback(std::uint16_t port, std::uint16_t& taken) {
    const SocketHandle s = bound(port, taken);
    if (s != kNoSocket && ::listen(fd(s), 4) != 0) {
        ::close(fd(s));
        return kNoSocket;
    }
    return s;
}

SocketHandle bindWithoutListening(std::uint16_t& taken) {
    return bound(0, taken);
}

SocketHandle connectToLoopback(std::uint16_t port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    if (s >= 0 && ::connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(s);
        return kNoSocket;
    }
    return s < 0 ? kNoSocket : s;
}

SocketHandle acceptClient(SocketHandle listener) {
    const int s = ::accept4(fd(listener), nullptr, nullptr, SOCK_CLOEXEC);
    return s < 0 ? kNoSocket : s;
}

bool waitReadable(SocketHandle s, std::chrono::milliseconds timeout) {
    pollfd p{fd(s), POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(timeout.count())) > 0;
}

bool sendAll(SocketHandle s, const char* data, std::size_t size) {
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::send(fd(s), data + done, size - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::size_t bytesWaiting(SocketHandle s) {
    int queued = 0;
    return ::ioctl(fd(s), FIONREAD, &queued) == 0 && queued > 0 ? static_cast<std::size_t>(queued)
                                                                 : 0;
}

void shutdownSending(SocketHandle s) {
    ::shutdown(fd(s), SHUT_WR);
}

void closeWithReset(SocketHandle s) {
    const linger hard{1, 0};
    ::setsockopt(fd(s), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd(s));
}

bool resetsReachThePeer() {
    return true;
}

}  // namespace nimbus::testing
