#pragma once
// A small game server for tests: it keeps a world of clouds, moves it with the game's motion
// model up to the tick that a tick source names (virtual or real time), answers NAME, GET_STATE
// and WIND, and logs every line it receives with the tick and time it arrived.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "bot/physics/cloud_state.hpp"
#include "tests/support/scripted_server.hpp"

namespace nimbus::testing {

struct SimWorld {
    std::int32_t tick = 0;
    CloudState own;
    std::vector<CloudState> rivals;
    std::vector<CloudState> rainclouds;
};

struct SimEntry {
    std::int32_t tick;    // server tick when the line arrived
    std::int64_t timeMs;  // tick source's time when the line arrived
    std::string line;
    std::chrono::steady_clock::time_point at;  // real time when the line arrived
};

class SimServer {
  public:
    // Current server time in milliseconds; the server tick is base tick + time / msPerTick.
    using TimeSource = std::function<std::int64_t()>;
    // Decides after each line whether the server closes the connection now.
    using StopRule = std::function<bool(const std::vector<SimEntry>&)>;
    // Sees every line before it is answered and may change the world (a drill resets it).
    using Hook = std::function<void(SimWorld&, const SimEntry&)>;

    SimServer(SimWorld world, TimeSource time, StopRule stop, std::uint16_t port = 0,
              std::int32_t msPerTick = 16);

    std::uint16_t port() const { return server_.port(); }
    std::string portText() const { return server_.portText(); }
    void join() { server_.join(); }
    // Stops the ticks at the current tick: replies go on, the tick stays. May be called from
    // a stop rule.
    void freeze() { frozen_ = true; }
    // Installs the hook; call before the client connects.
    void setHook(Hook hook) {
        std::lock_guard lock(mutex_);
        hook_ = std::move(hook);
    }
    std::vector<SimEntry> log() const;
    SimWorld world() const;

  private:
    void serve(ScriptedConnection& c);
    std::int32_t currentTick(std::int64_t timeMs);
    void advanceTo(std::int32_t tick);
    std::string stateReply() const;

    mutable std::mutex mutex_;
    SimWorld world_;
    std::int32_t baseTick_;
    std::int32_t msPerTick_;
    std::atomic<bool> frozen_{false};
    TimeSource time_;
    StopRule stop_;
    Hook hook_;
    std::vector<SimEntry> log_;
    ScriptedServer server_;  // last: its thread starts once everything above is ready
};

// Real time in milliseconds, counted from the startCall-th call (the server asks once a line:
// 1 counts from the first line, 2 from the second); 0 before it.
SimServer::TimeSource realTimeSource(int startCall = 1);

// Counts the log's lines that start with prefix.
int countLines(const std::vector<SimEntry>& log, const std::string& prefix);

}  // namespace nimbus::testing
