#include "bot/net/server_link.hpp"

#include <cstdio>

namespace nimbus {

namespace plat = platform;

void ServerLink::open(const char* port) {
    handle = plat::kNoSocket;
    plat::AddressList* addresses = nullptr;
    const int rc = plat::resolveAddresses("127.0.0.1", port, &addresses);
    if (rc != 0) {
        std::printf("getaddrinfo failed: %d\n", rc);
        return;
    }
    const plat::SocketHandle s = plat::openSocket(addresses);
    if (s == plat::kNoSocket) {
        std::printf("socket error: %ld\n", plat::lastSocketError());
        plat::releaseAddresses(addresses);
        return;
    }
    if (plat::connectSocket(s, addresses) != 0) {
        std::printf("could not connect socket: %ld\n", plat::lastSocketError());
        plat::closeSocket(s);
        plat::releaseAddresses(addresses);
        return;
    }
    handle = s;
    std::printf("socket up and running\n");
    plat::releaseAddresses(addresses);
}

ServerLink::~ServerLink() {
    if (handle != plat::kNoSocket)
        plat::closeSocket(handle);
}

void ServerLink::disable() {
    plat::closeSocket(handle);
    handle = plat::kNoSocket;
    receivedStart_ = 0;
    receivedEnd_ = 0;
}

void ServerLink::sendText(const char* text, int length) {
    if (handle == plat::kNoSocket)
        return;
    if (plat::sendBytes(handle, text, length) == -1) {
        std::printf("socket send failed: %ld, disabling socket\n", plat::lastSocketError());
        disable();
    }
}

std::int32_t ServerLink::receiveLine(char* buffer, std::int32_t limit) {
    if (handle == plat::kNoSocket)
        return 0;
    std::int32_t count = 0;
    while (count < limit) {
        if (receivedStart_ == receivedEnd_) {
            const long got = plat::receiveBytes(handle, received_.data(), kReceiveBufferSize);
            if (got <= 0) {
                if (got == 0) {
                    std::printf("connection closed while waiting for data\n");
                } else {
                    std::printf("socket recv failed: %ld, disabling socket\n",
                                plat::lastSocketError());
                }
                disable();
                buffer[0] = '\0';
                return 0;
            }
            receivedStart_ = 0;
            receivedEnd_ = static_cast<int>(got);
        }
        // Every byte lands at buffer[count] as it would from a one-byte receive; a carriage
        // return is then overwritten by the next byte or the terminator.
        const char byte = received_[static_cast<std::size_t>(receivedStart_++)];
        buffer[count] = byte;
        if (byte == '\n') {
            buffer[count] = '\0';
            return count;
        }
        if (byte != '\r')
            ++count;
    }
    buffer[count] = '\0';
    return count;
}

void ServerLink::announceName() {
    std::printf("sending NAME\n");
    char buffer[64 + 1];
    const int length = std::snprintf(buffer, 64, "NAME %s\n", kPlayerName);
    sendText(buffer, length);
    const std::int32_t count = receiveLine(buffer, 64);
    buffer[count] = '\0';
    std::printf("recieved %s\n", buffer);
}

}  // namespace nimbus
