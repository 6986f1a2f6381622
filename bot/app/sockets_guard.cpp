#include "bot/app/sockets_guard.hpp"

#include <cstdio>
#include <cstdlib>

#include "bot/platform/console.hpp"
#include "bot/platform/socket.hpp"

namespace nimbus {

namespace {

void releaseSockets() {
    platform::socketsCleanup();
    std::printf("WSACleanup done\n");
}

}  // namespace

SocketsGuard::SocketsGuard() {
    platform::writeStandardOutputByLine();
    result_ = platform::socketsStartup();
    std::printf("WSAStartup result: %d\n", result_);
    std::atexit(releaseSockets);
}

}  // namespace nimbus
