#pragma once
// Test helpers: an arena server running on its own thread on a free port, and a blocking line
// client with a receive time-out.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "arena/server/arena_server.hpp"

namespace nimbus::arena::testing {

class RunningArena {
  public:
    // Binds a free port and runs the whole game on a thread of its own.
    explicit RunningArena(ArenaOptions options);
    ~RunningArena();

    std::uint16_t port() const { return port_; }
    // Waits until the game is over and the server has shut down.
    void join();
    // Log lines so far (thread-safe copy).
    std::vector<std::string> logLines();
    bool logContains(const std::string& part);
    ArenaServer& server() { return *server_; }  // only after join()

  private:
    asio::io_context io_;
    std::mutex mutex_;
    std::vector<std::string> log_;
    std::unique_ptr<ArenaServer> server_;
    std::uint16_t port_ = 0;
    std::thread thread_;
};

class ArenaClient {
  public:
    // Connects to 127.0.0.1:port. A receive buffer size > 0 is set before connecting.
    explicit ArenaClient(std::uint16_t port, int receiveBuffer = 0);
    ~ArenaClient();

    bool connected() const { return fd_ >= 0; }
    // Sends raw bytes; false once the connection is gone.
    bool send(const std::string& text);
    // One line without its LF; nothing when the connection closed or 10 s passed.
    std::optional<std::string> readLine();
    // The lines of one state reply, BEGIN_STATE to END_STATE; empty on failure.
    std::vector<std::string> readState();
    // True when the server closes the connection within 10 s (pending bytes are skipped).
    bool waitForClose();

  private:
    int fd_ = -1;
    std::string buffered_;
};

}  // namespace nimbus::arena::testing
