// The platform layer on POSIX: BSD sockets, CLOCK_MONOTONIC and nanosleep, line-buffered stdout.
// platform_windows.cpp is its Windows twin; CMake builds one of the two.
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "bot/platform/clock.hpp"
#include "bot/platform/console.hpp"
#include "bot/platform/socket.hpp"

namespace nimbus::platform {

// ---- Sockets --------------------------------------------------------------------------------

struct AddressList {
    addrinfo* head = nullptr;
};

int socketsStartup() {
    return 0;
}
void socketsCleanup() {}

int resolveAddresses(const char* node, const char* service, AddressList** out) {
    addrinfo hints{};
    hints.ai_flags = 0;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* head = nullptr;
    const int rc = getaddrinfo(node, service, &hints, &head);
    if (rc != 0)
        return rc;
    *out = new AddressList{head};
    return 0;
}

void releaseAddresses(AddressList* list) {
    if (list == nullptr)
        return;
    freeaddrinfo(list->head);
    delete list;
}

SocketHandle openSocket(const AddressList* list) {
    const addrinfo* a = list->head;
    int fd = -1;
    do {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoSocket : fd;
}

int connectSocket(SocketHandle handle, const AddressList* list) {
    const addrinfo* a = list->head;
    return ::connect(static_cast<int>(handle), a->ai_addr, a->ai_addrlen) == 0 ? 0 : -1;
}

long sendBytes(SocketHandle handle, const char* data, int length) {
    ssize_t n = 0;
    do {
        n = ::send(static_cast<int>(handle), data, static_cast<size_t>(length), MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

long receiveBytes(SocketHandle handle, char* data, int capacity) {
    ssize_t n = 0;
    do {
        n = ::recv(static_cast<int>(handle), data, static_cast<size_t>(capacity), 0);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? -1 : static_cast<long>(n);
}

void closeSocket(SocketHandle handle) {
    ::close(static_cast<int>(handle));
}

long lastSocketError() {
    return errno;
}

// ---- Clock ----------------------------------------------------------------------------------

namespace {

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

SystemClock::SystemClock() : start_(monotonicNs()) {}
SystemClock::~SystemClock() = default;

std::int32_t SystemClock::now() {
    const std::int64_t ms = (monotonicNs() - start_) / 1'000'000 + 1;
    return ms > 2147483647 ? 2147483647 : static_cast<std::int32_t>(ms);
}

void SystemClock::sleep(std::int32_t ms) {
    if (ms <= 0)
        return;
    timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

// ---- Standard output ------------------------------------------------------------------------

void writeStandardOutputByLine() {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}

}  // namespace nimbus::platform
