#pragma once
// The arena's game rules, without any transport: the world, its players, the winds they blow and
// the tick that moves everything. One tick, in this order: the winds queued since the previous
// tick in arrival order (wind_law.hpp), one motion step for every cloud (the bot's own
// moveOneTick, bot/physics/motion.hpp), then absorption (absorption.hpp). The same settings and
// the same winds at the same ticks give the same game, bit for bit.
#include <cstdint>
#include <vector>

#include "arena/game/cloud.hpp"
#include "arena/game/wind_law.hpp"

namespace nimbus::arena {

struct GameSettings {
    std::uint64_t seed = 0;
    std::int32_t ticks = 3600;  // the game ends when this many ticks have run
    std::int32_t rainclouds = 40;
    std::int32_t players = 2;
};

// An accepted wind (its components are finite); tick is the tick whose step applies it (the
// game's tick when it was queued).
struct WindEvent {
    std::int32_t tick = 0;
    std::int32_t player = 0;
    float wx = 0.0f;
    float wy = 0.0f;
};

// A swallow during the step that led to tick `tick`.
struct SwallowEvent {
    std::int32_t tick = 0;
    std::int32_t by = 0;
    std::int32_t victim = 0;
};

struct PlayerRecord {
    std::int32_t outAtTick = -1;  // the tick at which the thunderstorm was swallowed; -1 if never
    float peakMass = 0.0f;
    std::int64_t winds = 0;  // every WIND the player sent, refused ones included
    std::int64_t rejectedWinds = 0;
    std::int32_t swallowed = 0;  // clouds this player's thunderstorm swallowed
};

class Game {
  public:
    // Sets up the seeded start (setup.hpp). players >= 1, ticks >= 0, rainclouds >= 0.
    explicit Game(const GameSettings& settings);

    // A game from given clouds instead of the seeded start: thunderstorm i must have id i and
    // owner i for i < settings.players; rainclouds follow with higher ids, ascending.
    Game(const GameSettings& settings, std::vector<Cloud> clouds);

    const GameSettings& settings() const { return settings_; }
    // Ticks run so far; the state shown to players is the one after this many ticks.
    std::int32_t tick() const { return tick_; }
    // The living clouds, ascending id: thunderstorms first (by player), then rainclouds.
    const std::vector<Cloud>& clouds() const { return clouds_; }
    // The player's thunderstorm, or nullptr once it has been swallowed.
    const Cloud* thunderstorm(std::int32_t player) const;
    bool isOut(std::int32_t player) const { return records_.at(player).outAtTick >= 0; }
    std::int32_t livingPlayers() const;
    const PlayerRecord& record(std::int32_t player) const { return records_.at(player); }

    // True at the tick limit, when one thunderstorm is left of two or more, or when none is left.
    bool over() const;

    // Checks the wind against the blower's mass after the winds it already queued for this tick
    // and queues it when accepted. A player gets kWindsPerTick tries per tick (arena/limits.hpp);
    // later ones are refused. Every call is counted; only accepted winds are logged, so the log
    // holds at most kWindsPerTick x players x ticks entries whatever the players send.
    WindVerdict queueWind(std::int32_t player, float wx, float wy);

    // Runs one tick. Does nothing once the game is over.
    void step();

    // A 64-bit fingerprint of every living cloud's id and exact state bits.
    std::uint64_t fingerprint() const;

    const std::vector<WindEvent>& windLog() const { return windLog_; }
    const std::vector<SwallowEvent>& swallowLog() const { return swallowLog_; }
    // Empties both logs (the replay takes them tick by tick, so that memory stays bounded
    // whatever the game's length).
    void forgetLogs() {
        windLog_.clear();
        swallowLog_.clear();
    }

  private:
    struct QueuedWind {
        std::int32_t player;
        float wx;
        float wy;
    };

    Cloud* mutableThunderstorm(std::int32_t player);

    GameSettings settings_;
    std::int32_t tick_ = 0;
    std::vector<Cloud> clouds_;
    std::vector<PlayerRecord> records_;
    std::vector<float> pendingMass_;  // per player: the mass after the winds queued so far
    std::vector<std::int32_t> triesThisTick_;  // per player: WIND commands since the last step
    std::vector<QueuedWind> queue_;
    std::vector<WindEvent> windLog_;
    std::vector<SwallowEvent> swallowLog_;
};

}  // namespace nimbus::arena
