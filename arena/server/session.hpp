#pragma once
// One client connection: reads lines (LF ends a line, CR is dropped), hands them to its host one
// at a time, and writes replies without ever blocking the event loop. A line over kMaxLineBytes,
// or more than kMaxPendingReplyBytes of replies left unread (arena/limits.hpp), ends the
// connection with a line in the arena's log.
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include <asio.hpp>

#include "arena/limits.hpp"
#include "arena/server/line_assembler.hpp"
#include "arena/server/peer_process.hpp"

namespace nimbus::arena {

class Session;

// What a session reports to the server that owns it.
class SessionHost {
  public:
    virtual ~SessionHost() = default;
    virtual void onLine(Session& session, const std::string& line) = 0;
    virtual void onClosed(Session& session) = 0;
    virtual void log(const std::string& text) = 0;
};

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(asio::ip::tcp::socket socket, SessionHost& host, std::int32_t id);

    // Starts reading lines.
    void start();

    // Queues a reply. Drops the connection when the client leaves more than 1 MiB unread.
    void send(const std::string& text);

    // While held, complete lines wait in the session and are handed over only on release, in
    // order. Reading goes on, so a vanished client is still noticed.
    void hold() { held_ = true; }
    void release();

    // Closes once every queued reply is written (or at once if none is queued).
    void closeAfterFlush();

    // Closes now, dropping unwritten replies.
    void abort(const std::string& why);

    bool isOpen() const { return open_; }
    // The client's end and the arena's end of the connection (IPv4); false when unknown.
    bool endpoints(Endpoint4& client, Endpoint4& arena) const;
    std::int32_t id() const { return id_; }
    std::int32_t player = -1;  // the player index once named; -1 before
    std::string label;         // for log lines
    std::int32_t process = -1;  // the started bot process it belongs to; -1 for none
    bool matched = false;       // whether `process` has been looked for

  private:
    void readMore();
    void consume(std::size_t n);
    void dispatch(const std::string& line);
    void writeMore();
    void finish();

    asio::ip::tcp::socket socket_;
    SessionHost& host_;
    std::int32_t id_;
    bool open_ = true;
    bool held_ = false;
    bool closing_ = false;
    bool writing_ = false;
    std::array<char, 4096> readBuffer_{};
    LineAssembler lines_;
    std::deque<std::string> waiting_;  // complete lines received while held
    std::size_t waitingBytes_ = 0;
    std::string outgoing_;  // replies not yet handed to the socket
    std::string inFlight_;  // replies being written
};

}  // namespace nimbus::arena
