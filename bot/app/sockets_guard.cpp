// The process-wide sockets guard: brought up before main, released at process exit.
#include <cstdio>
#include <cstdlib>

#include "bot/platform/socket.hpp"

namespace {

void releaseSockets() {
    nimbus::platform::socketsCleanup();
    std::printf("WSACleanup done\n");
}

struct SocketsGuard {
    SocketsGuard() {
        // Line by line, so that a log of the trace is complete even if the process is killed.
        std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
        std::printf("WSAStartup result: %d\n", nimbus::platform::socketsStartup());
        std::atexit(releaseSockets);
    }
};

const SocketsGuard guard;

}  // namespace
