#pragma once
// A bot on virtual time against the test game server: the server's tick follows the virtual
// clock (tick 100 at reading 1000, 16 ms per tick), so every sleep the bot asks for is seen.
#include <memory>

#include "bot/control/bot.hpp"
#include "bot/plan/strategy.hpp"
#include "tests/support/sim_server.hpp"
#include "tests/support/virtual_clock.hpp"

namespace nimbus::testing {

inline constexpr std::int32_t kStartReading = 1000;
inline constexpr std::int32_t kStartTick = 100;

inline CloudState cloud(float x, float y, float vx, float vy, float mass) {
    return CloudState{x, y, vx, vy, mass};
}

// The bot's own cloud at rest in the middle of the arena.
inline SimWorld quietWorld() {
    SimWorld w;
    w.tick = kStartTick;
    w.own = cloud(640, 360, 0, 0, 100);
    return w;
}

// A raincloud heavier than the bot, on course to hit it (the worked evasion case).
inline CloudState threateningRaincloud() {
    return cloud(440, 365, 20, 0, 144);
}

class VirtualGame {
  public:
    // The server is at the world's tick at the clock reading start, and the bot knows it.
    explicit VirtualGame(SimWorld world, SimServer::StopRule stop = nullptr,
                         std::int32_t start = kStartReading)
        : clock(start),
          server(
              std::move(world), [this, start] { return std::int64_t{clock.now()} - start; },
              std::move(stop)) {
        bot = std::make_unique<Bot>(clock, server.portText().c_str());
        snapshot.tick = server.world().tick;
        snapshot.own = server.world().own;
        bot->tickClock.lastTick = snapshot.tick;
        bot->tickClock.lastClock = start;
    }
    ~VirtualGame() { bot.reset(); }

    // The own prediction of a control cycle, from the snapshot.
    Trajectory ownTrack() const {
        Trajectory own(1000);
        own.predict(snapshot.tick, 500, snapshot.own);
        return own;
    }

    // Plays plan with the bot and returns whether the wind was blown.
    bool play(Strategy& plan) {
        const Trajectory own = ownTrack();
        return bot->playPlan(snapshot, own, plan);
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const auto& e : server.log())
            out.push_back(e.line);
        return out;
    }

    VirtualClock clock;
    SimServer server;
    std::unique_ptr<Bot> bot;
    WorldSnapshot snapshot;
};

// A direct plan (no target) blowing (wx, wy) at tick start and ending ticks later.
inline Strategy directPlan(float wx, float wy, std::int32_t start, std::int32_t ticks) {
    Strategy plan;
    plan.setDirect(wx, wy, start, ticks);
    return plan;
}

}  // namespace nimbus::testing
