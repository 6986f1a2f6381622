#pragma once
// A ServerLink fed from memory: the server's side is one end of a socket pair holding the bytes
// and then closed, so the link reads exactly them and then sees the connection end.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "bot/net/server_link.hpp"

namespace nimbus::fuzz {

// The input is capped so that it fits a socket pair's buffer without a second thread.
inline constexpr std::size_t kMaxInput = 48 * 1024;

// A link whose every read comes from data (truncated to kMaxInput). Its sends go to the pair's
// other end and are dropped with it. Port "1" is never listened on: the link's own connect fails
// at once and the pair takes its place.
inline std::unique_ptr<ServerLink> linkReading(const std::uint8_t* data, std::size_t size) {
    auto link = std::make_unique<ServerLink>("1");
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
        return link;
    }
    int big = 256 * 1024;
    ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    ::setsockopt(ends[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    std::size_t done = 0;
    const std::size_t total = size < kMaxInput ? size : kMaxInput;
    while (done < total) {
        const ssize_t n = ::write(ends[0], data + done, total - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    ::shutdown(ends[0], SHUT_WR);
    ::shutdown(ends[0], SHUT_RD);  // what the link sends is dropped
    ::close(ends[0]);
    link->handle = ends[1];
    return link;
}

// The bot prints a line for every failure: into /dev/null while fuzzing.
inline void quietStdout() {
    if (FILE* null = std::freopen("/dev/null", "w", stdout)) {
        (void)null;
    }
}

}  // namespace nimbus::fuzz
