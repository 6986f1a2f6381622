#pragma once
// The bot's one TCP link to the game server on 127.0.0.1. Every failure prints one line on
// standard output and disables the link for good (handle -1); a disabled link ignores sends
// and reads return 0 with an empty text. Nothing here throws.
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

    // Reads one line, one byte per receive, into buffer (at least limit + 1 bytes). Carriage
    // returns are dropped; a line feed ends the line; at limit characters the read stops and
    // the rest stays on the connection. Returns the count stored and terminates the text there.
    // A closed or failed connection prints its message, disables the link and returns 0.
    std::int32_t receiveLine(char* buffer, std::int32_t limit);

    // The NAME handshake: prints "sending NAME", sends the name, prints the one-line reply.
    void announceName();

    bool enabled() const { return handle != platform::kNoSocket; }

    platform::SocketHandle handle = platform::kNoSocket;

  private:
    void open(const char* port);
    void disable();
};

}  // namespace nimbus
