#include "bot/app/sockets_guard.hpp"

#include <cstdio>
#include <cstdlib>

#include "bot/platform/socket.hpp"

namespace nimbus {

namespace {

void releaseSockets() {
    platform::socketsCleanup();
    std::printf("WSACleanup done\n");
}

}  // namespace

SocketsGuard::SocketsGuard() {
    // Line by line, so that a log of the trace is complete even if the process is killed.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
    result_ = platform::socketsStartup();
    std::printf("WSAStartup result: %d\n", result_);
    std::atexit(releaseSockets);
}

}  // namespace nimbus
