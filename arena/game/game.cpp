#include "arena/game/game.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

#include "arena/game/absorption.hpp"
#include "arena/game/setup.hpp"
#include "arena/limits.hpp"
#include "bot/physics/motion.hpp"

namespace nimbus::arena {

Game::Game(const GameSettings& settings)
    : Game(settings, initialClouds(settings.seed, settings.players, settings.rainclouds)) {}

Game::Game(const GameSettings& settings, std::vector<Cloud> clouds)
    : settings_(settings),
      clouds_(std::move(clouds)),
      records_(static_cast<std::size_t>(settings.players)),
      pendingMass_(static_cast<std::size_t>(settings.players), 0.0f),
      triesThisTick_(static_cast<std::size_t>(settings.players), 0) {
    for (std::int32_t p = 0; p < settings_.players; ++p) {
        const Cloud* own = thunderstorm(p);
        const float mass = own != nullptr ? own->state.mass : 0.0f;
        records_[p].peakMass = mass;
        if (own == nullptr) {
            records_[p].outAtTick = 0;
        }
        pendingMass_[p] = mass;
    }
}

const Cloud* Game::thunderstorm(std::int32_t player) const {
    for (const Cloud& c : clouds_) {
        if (c.kind != CloudKind::Thunderstorm) {
            break;  // thunderstorms come first
        }
        if (c.owner == player) {
            return &c;
        }
    }
    return nullptr;
}

Cloud* Game::mutableThunderstorm(std::int32_t player) {
    return const_cast<Cloud*>(thunderstorm(player));
}

std::int32_t Game::livingPlayers() const {
    std::int32_t n = 0;
    for (const PlayerRecord& r : records_) {
        n += r.outAtTick < 0 ? 1 : 0;
    }
    return n;
}

bool Game::over() const {
    if (tick_ >= settings_.ticks) {
        return true;
    }
    const std::int32_t living = livingPlayers();
    return living == 0 || (settings_.players >= 2 && living <= 1);
}

WindVerdict Game::queueWind(std::int32_t player, float wx, float wy) {
    PlayerRecord& record = records_.at(player);
    ++record.winds;
    WindVerdict verdict;
    if (record.outAtTick >= 0) {
        verdict = {false, "thunderstorm swallowed"};
    } else if (over()) {
        verdict = {false, "game over"};
    } else if (++triesThisTick_[player] > kWindsPerTick) {
        verdict = {false, "too many winds"};
    } else {
        CloudState projected;
        projected.mass = pendingMass_[player];
        verdict = applyWind(projected, wx, wy);
        if (verdict.accepted) {
            pendingMass_[player] = projected.mass;
            queue_.push_back({player, wx, wy});
        }
    }
    if (!verdict.accepted) {
        ++record.rejectedWinds;
        return verdict;
    }
    windLog_.push_back({tick_, player, wx, wy});
    return verdict;
}

void Game::step() {
    if (over()) {
        return;
    }
    for (const QueuedWind& w : queue_) {
        applyWind(mutableThunderstorm(w.player)->state, w.wx, w.wy);
    }
    queue_.clear();
    std::fill(triesThisTick_.begin(), triesThisTick_.end(), 0);
    for (Cloud& c : clouds_) {
        moveOneTick(c.state);
    }
    ++tick_;
    for (const Swallow& s : resolveAbsorption(clouds_)) {
        swallowLog_.push_back({tick_, s.by, s.victim});
        // Thunderstorm ids equal their owner's index (setup.hpp).
        if (s.victim < settings_.players) {
            records_[s.victim].outAtTick = tick_;
        }
        if (s.by < settings_.players) {
            ++records_[s.by].swallowed;
        }
    }
    for (const Cloud& c : clouds_) {
        if (c.kind != CloudKind::Thunderstorm) {
            break;
        }
        PlayerRecord& r = records_[c.owner];
        if (c.state.mass > r.peakMass) {
            r.peakMass = c.state.mass;
        }
        pendingMass_[c.owner] = c.state.mass;
    }
}

std::uint64_t Game::fingerprint() const {
    std::uint64_t h = 0xCBF29CE484222325ull;  // FNV-1a
    auto mix = [&h](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) {
            h ^= (v >> (8 * i)) & 0xFFu;
            h *= 0x100000001B3ull;
        }
    };
    auto bits = [](float f) {
        std::uint32_t u = 0;
        std::memcpy(&u, &f, sizeof u);
        return u;
    };
    for (const Cloud& c : clouds_) {
        mix(static_cast<std::uint32_t>(c.id));
        mix(bits(c.state.x));
        mix(bits(c.state.y));
        mix(bits(c.state.vx));
        mix(bits(c.state.vy));
        mix(bits(c.state.mass));
    }
    return h;
}

}  // namespace nimbus::arena
