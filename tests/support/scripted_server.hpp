#pragma once
// An in-process TCP server for tests: listens on 127.0.0.1 (an ephemeral port unless one is
// given), accepts one client on a background thread and hands the connection to a script.
// Everything the client sent is recorded. Reads and the accept time out, so a test never hangs.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "tests/support/loopback.hpp"

namespace nimbus::testing {

class ScriptedConnection {
  public:
    explicit ScriptedConnection(SocketHandle socket, std::string& record, std::mutex& recordMutex)
        : socket_(socket), record_(record), recordMutex_(recordMutex) {}

    // Reads up to and including the next line feed; returns the line without it.
    // nullopt when the client closed the connection or nothing came within the timeout.
    std::optional<std::string> readLine(
        std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Sends bytes as they are; false when the client is gone.
    bool send(const std::string& bytes);
    // Closes the connection (the client sees the end of the stream).
    void close();
    // Resets the connection: the client's next send or receive fails.
    void reset();
    bool closed() const { return socket_ == kNoSocket; }

  private:
    SocketHandle socket_;
    std::string& record_;
    std::mutex& recordMutex_;
    std::string pending_;
};

class ScriptedServer {
  public:
    using Script = std::function<void(ScriptedConnection&)>;

    // Listens on 127.0.0.1:port (0 = ephemeral) and serves one client with the script.
    explicit ScriptedServer(Script script, std::uint16_t port = 0);
    // Waits for the script to finish, then closes everything.
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    std::uint16_t port() const { return port_; }
    std::string portText() const { return std::to_string(port_); }
    // Waits until the script has returned and the connection is closed.
    void join();
    // All bytes the client sent so far.
    std::string received() const;
    bool accepted() const { return accepted_; }

  private:
    void serve(Script script);

    SocketHandle listener_ = kNoSocket;
    std::uint16_t port_ = 0;
    std::atomic<bool> accepted_{false};
    mutable std::mutex recordMutex_;
    std::string record_;
    std::thread thread_;
};

}  // namespace nimbus::testing
