#pragma once
// The bot's one TCP link to the game server on 127.0.0.1. Every failure prints one line on
// standard output and disables the link for good (handle -1); a disabled link ignores sends
// and reads return 0 with an empty text. Nothing here throws.
#include <array>
#include <cstdint>

#include "bot/platform/socket.hpp"

namespace nimbus {

inline constexpr const char* kServerPort = "1986";
inline constexpr const char* kPlayerName = "Varnolt";

class ServerLink {
  public:
    // Opens the link: connects to 127.0.0.1 on the given port and prints the outcome.
    explicit ServerLink(const char* port = kServerPort) { open(port); }
    // Closes the socket if it is still open.
    ~ServerLink();
    ServerLink(const ServerLink&) = delete;
    ServerLink& operator=(const ServerLink&) = delete;

    // Sends length bytes once; a failed send prints its error and disables the link.
    void sendText(const char* text, int length);

    // Reads one line into buffer (at least limit + 1 bytes). Carriage returns are dropped; a line
    // feed ends the line; at limit characters the read stops and the rest is read later. Returns
    // the count stored and terminates the text there. A closed or failed connection prints its
    // message, disables the link and returns 0 with an empty text.
    // Bytes come from the link's receive buffer, refilled with one receive of up to its size
    // only when a read needs a byte and the buffer is empty; bytes after the line stay there for
    // the next read. So lines, counts, prints and the moment of disabling are those of a reader
    // that receives one byte at a time.
    std::int32_t receiveLine(char* buffer, std::int32_t limit);

    // The NAME handshake: prints "sending NAME", sends the name, prints the one-line reply.
    void announceName();

    bool enabled() const { return handle != platform::kNoSocket; }

    platform::SocketHandle handle = platform::kNoSocket;

    // Size of the receive buffer: a whole 100-cloud state reply fits.
    static constexpr int kReceiveBufferSize = 16384;

  private:
    void open(const char* port);
    // Closes the socket, marks the link disabled and drops the bytes received but not read.
    void disable();

    std::array<char, kReceiveBufferSize> received_{};
    int receivedStart_ = 0;  // next unread byte in received_
    int receivedEnd_ = 0;    // one past the last received byte
};

}  // namespace nimbus
