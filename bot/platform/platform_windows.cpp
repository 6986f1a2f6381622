// The platform layer on Windows: Windows Sockets 2.2, the performance counter, Sleep with 1 ms
// system timers, unbuffered stdout. platform_posix.cpp is its POSIX twin; CMake builds one of the
// two. Error codes are Windows' own (WSAGetLastError: 10061 refused, 10054 reset).
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <timeapi.h>

#include <cstdio>

#include "bot/platform/clock.hpp"
#include "bot/platform/console.hpp"
#include "bot/platform/socket.hpp"

namespace nimbus::platform {

// ---- Sockets --------------------------------------------------------------------------------

namespace {

SOCKET native(SocketHandle handle) {
    return static_cast<SOCKET>(handle);
}

}  // namespace

struct AddressList {
    addrinfo* head = nullptr;
};

int socketsStartup() {
    static WSADATA startupRecord;  // filled by WSAStartup; nothing reads it afterwards
    return WSAStartup(MAKEWORD(2, 2), &startupRecord);
}

void socketsCleanup() {
    WSACleanup();
}

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
    const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    return s == INVALID_SOCKET ? kNoSocket : static_cast<SocketHandle>(s);
}

int connectSocket(SocketHandle handle, const AddressList* list) {
    const addrinfo* a = list->head;
    return ::connect(native(handle), a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 ? 0 : -1;
}

// Windows raises no signal for a closed peer: a failed send just returns SOCKET_ERROR (-1).
long sendBytes(SocketHandle handle, const char* data, int length) {
    const int n = ::send(native(handle), data, length, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long receiveBytes(SocketHandle handle, char* data, int capacity) {
    const int n = ::recv(native(handle), data, capacity, 0);
    return n == SOCKET_ERROR ? -1 : n;
}

void closeSocket(SocketHandle handle) {
    ::closesocket(native(handle));
}

long lastSocketError() {
    return WSAGetLastError();
}

// ---- Clock ----------------------------------------------------------------------------------
// Windows schedules sleeps and advances GetTickCount64 on its system timer, which ticks every
// ~15.6 ms unless some process asks for a finer one: Sleep(11) would then last up to ~16 ms and a
// tick-count clock would jump in 15-16 ms steps, far too coarse for a clock that times winds to
// 16 ms server ticks. So the clock asks for 1 ms timers (timeBeginPeriod(1)) while it lives and
// reads the performance counter, which is fine-grained whatever the timer period. Wine sleeps and
// reads time with the host's fine timers in any case, so tests under Wine cannot show the coarse
// timer: this is the part that only a real Windows machine exercises.

namespace {

std::int64_t counterNow() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

std::int64_t counterFrequency() {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
}

}  // namespace

SystemClock::SystemClock() : start_(counterNow()) {
    timeBeginPeriod(1);
}

SystemClock::~SystemClock() {
    timeEndPeriod(1);
}

std::int32_t SystemClock::now() {
    static const std::int64_t perSecond = counterFrequency();
    const std::int64_t counts = counterNow() - start_;
    // Whole seconds and the rest apart, so that counts * 1000 cannot overflow.
    const std::int64_t ms = counts / perSecond * 1000 + counts % perSecond * 1000 / perSecond + 1;
    return ms > 2147483647 ? 2147483647 : static_cast<std::int32_t>(ms);
}

void SystemClock::sleep(std::int32_t ms) {
    if (ms <= 0)
        return;
    Sleep(static_cast<DWORD>(ms));
}

// ---- Standard output ------------------------------------------------------------------------

// The Windows C runtime has no line buffering (_IOLBF means full buffering there): unbuffered
// output hands every line over as it is printed. The stream stays in text mode, so lines end in
// CR LF, as console programs' lines do on Windows.
void writeStandardOutputByLine() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

}  // namespace nimbus::platform
