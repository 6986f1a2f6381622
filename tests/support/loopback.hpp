#pragma once
// Plain TCP sockets on 127.0.0.1 for the tests' own servers and raw clients, over the platform's
// socket calls (one implementation file per platform, as in bot/platform). Nothing here throws;
// nothing raises SIGPIPE.
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "bot/platform/socket.hpp"

namespace nimbus::testing {

using platform::kNoSocket;
using platform::SocketHandle;

// The platform's error codes (platform::lastSocketError()) for a connection refused and a
// connection reset by the peer: 111 and 104 on Linux, 10061 and 10054 on Windows.
extern const long kConnectionRefused;
extern const long kConnectionReset;

// Listens on 127.0.0.1:port (0: any free port) and stores the port it got in `taken`.
// Returns kNoSocket when the port cannot be had.
SocketHandle listenOnLoopback(std::uint16_t port, std::uint16_t& taken);
// A socket bound to a free loopback port without listening: while it lives, connections to that
// port are refused.
SocketHandle bindWithoutListening(std::uint16_t& taken);
// A connected client socket, or kNoSocket.
SocketHandle connectToLoopback(std::uint16_t port);
// The next client of a listening socket, or kNoSocket.
SocketHandle acceptClient(SocketHandle listener);

// True when the socket has something for its next receive (bytes, the end, an error, or on a
// listening socket a client) within the timeout.
bool waitReadable(SocketHandle s, std::chrono::milliseconds timeout);
// Sends all bytes; false when the peer is gone.
bool sendAll(SocketHandle s, const char* data, std::size_t size);
// Bytes received and not yet read.
std::size_t bytesWaiting(SocketHandle s);
// Ends the sending direction: the peer reads the end of the stream.
void shutdownSending(SocketHandle s);
// Closes the socket with a reset: the peer's next receive or send fails.
void closeWithReset(SocketHandle s);
// False under Wine, whose sockets close gracefully even when told to reset (a reset from a Linux
// peer does reach a program under Wine: tests/windows checks the bot's message for it).
bool resetsReachThePeer();

}  // namespace nimbus::testing
