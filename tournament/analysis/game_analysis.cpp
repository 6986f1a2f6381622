#include "tournament/analysis/game_analysis.hpp"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <string>

#include "arena/game/wind_law.hpp"
#include "bot/physics/motion.hpp"

namespace nimbus::tournament {

namespace {

// What a wind aims at: the cloud the player would swallow first on the free paths, and when.
struct Aim {
    std::int32_t target;
    std::int32_t tick;
};

// The cloud (id) that own, steered by the player with the given id, would swallow first within
// the chase horizon if nothing else were blown, or nothing when a heavier cloud would swallow own
// first or nothing comes within reach.
std::optional<Aim> aimOf(CloudState own, std::int32_t ownId, const std::vector<arena::Cloud>& all,
                         std::int32_t tick) {
    struct Other {
        std::int32_t id;
        CloudState state;
        WallBounds walls;
    };
    std::vector<Other> others;
    for (const arena::Cloud& c : all) {
        if (c.id != ownId && c.state.mass != own.mass)
            others.push_back({c.id, c.state, WallBounds(c.state.mass)});
    }
    const WallBounds ownWalls(own.mass);
    const double ownRadius = ownWalls.radius;
    for (std::int32_t k = 1; k <= kChaseHorizon; ++k) {
        ownWalls.move(own);
        for (Other& o : others) {
            o.walls.move(o.state);
            const double dx = double(o.state.x) - own.x;
            const double dy = double(o.state.y) - own.y;
            const double q = dx * dx + dy * dy;
            if (o.state.mass < own.mass) {
                if (q < ownRadius * ownRadius)
                    return Aim{o.id, tick + k};
            } else if (q < double(o.walls.radius) * o.walls.radius) {
                return std::nullopt;
            }
        }
    }
    return std::nullopt;
}

struct OpenChase {
    bool open = false;
    std::int32_t target = -1;
    std::int32_t dueTick = 0;  // the catch the last wind aimed for
    double wind = 0.0;
};

void endChase(PlayerFigures& f, OpenChase& chase, ChaseEnd how) {
    if (!chase.open)
        return;
    f.chases[static_cast<std::size_t>(how)] += 1;
    f.chaseWind += chase.wind;
    if (how != ChaseEnd::Caught)
        f.missedChaseWind += chase.wind;
    chase = {};
}

const arena::Cloud* findCloud(const std::vector<arena::Cloud>& clouds, std::int32_t id) {
    for (const arena::Cloud& c : clouds) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

}  // namespace

std::vector<PlayerFigures> analyzeGame(const RecordedGame& recorded) {
    const arena::GameSettings& settings = recorded.settings;
    arena::Game game =
        recorded.start.empty() ? arena::Game(settings) : arena::Game(settings, recorded.start);
    const auto players = static_cast<std::size_t>(settings.players);
    std::vector<PlayerFigures> figures(players);
    std::vector<OpenChase> chases(players);
    std::int32_t cloudCount = 0;
    for (const arena::Cloud& c : game.clouds())
        cloudCount = std::max(cloudCount, c.id + 1);
    for (std::size_t p = 0; p < players; ++p) {
        const arena::Cloud* own = game.thunderstorm(static_cast<std::int32_t>(p));
        figures[p].startMass = own != nullptr ? own->state.mass : 0.0;
    }

    std::vector<double> mass(static_cast<std::size_t>(cloudCount), 0.0);
    std::size_t nextWind = 0;
    std::size_t swallowsSeen = 0;
    for (std::int32_t t = 0; t < recorded.endTick; ++t) {
        if (game.over())
            throw std::invalid_argument("the re-run game ended at tick " + std::to_string(t));
        for (const arena::Cloud& c : game.clouds())
            mass[static_cast<std::size_t>(c.id)] = c.state.mass;
        // Each player's cloud with the winds it blew this tick so far.
        std::vector<std::optional<CloudState>> blown(players);
        for (; nextWind < recorded.winds.size() && recorded.winds[nextWind].tick <= t; ++nextWind) {
            const arena::WindEvent& w = recorded.winds[nextWind];
            if (w.tick < t || w.player < 0 || w.player >= settings.players)
                throw std::invalid_argument("a recorded wind is out of order or of no player");
            const auto p = static_cast<std::size_t>(w.player);
            const arena::Cloud* own = game.thunderstorm(w.player);
            if (own == nullptr || !game.queueWind(w.player, w.wx, w.wy).accepted)
                throw std::invalid_argument("the wind at tick " + std::to_string(t) +
                                            " is refused in the re-run game");
            if (!blown[p])
                blown[p] = own->state;
            arena::applyWind(*blown[p], w.wx, w.wy);
            const double strength = arena::windStrength(w.wx, w.wy);
            PlayerFigures& f = figures[p];
            f.winds += 1;
            f.windSpent += strength;
            mass[static_cast<std::size_t>(own->id)] = blown[p]->mass;
            OpenChase& chase = chases[p];
            if (const std::optional<Aim> aim = aimOf(*blown[p], own->id, game.clouds(), t)) {
                if (chase.open && chase.target != aim->target)
                    endChase(f, chase, ChaseEnd::Switched);
                chase.open = true;
                chase.target = aim->target;
                chase.dueTick = aim->tick;
                chase.wind += strength;
            }
        }

        game.step();

        const std::vector<arena::SwallowEvent>& swallows = game.swallowLog();
        for (; swallowsSeen < swallows.size(); ++swallowsSeen) {
            const arena::SwallowEvent& s = swallows[swallowsSeen];
            const double victimMass = mass[static_cast<std::size_t>(s.victim)];
            mass[static_cast<std::size_t>(s.by)] += victimMass;
            const bool byPlayer = s.by < settings.players;
            const bool ofPlayer = s.victim < settings.players;
            if (byPlayer) {
                PlayerFigures& f = figures[static_cast<std::size_t>(s.by)];
                (ofPlayer ? f.playerGain : f.rainGain) += victimMass;
                (ofPlayer ? f.playersCaught : f.rainCaught) += 1;
            }
            if (ofPlayer) {
                const auto v = static_cast<std::size_t>(s.victim);
                figures[v].lostSwallowed = victimMass;
                figures[v].outAtTick = s.tick;
                figures[v].swallowedBy = byPlayer ? s.by : -1;
                endChase(figures[v], chases[v], ChaseEnd::Died);
            }
            for (std::size_t p = 0; p < players; ++p) {
                if (chases[p].open && chases[p].target == s.victim)
                    endChase(
                        figures[p], chases[p],
                        s.by == static_cast<std::int32_t>(p) ? ChaseEnd::Caught : ChaseEnd::Taken);
            }
        }
        for (std::size_t p = 0; p < players; ++p) {
            if (chases[p].open && game.tick() > chases[p].dueTick + kChaseSlack)
                endChase(figures[p], chases[p], ChaseEnd::Missed);
        }
    }
    for (std::size_t p = 0; p < players; ++p) {
        endChase(figures[p], chases[p], ChaseEnd::Cut);
        const arena::Cloud* own = findCloud(game.clouds(), static_cast<std::int32_t>(p));
        figures[p].finalMass = own != nullptr ? own->state.mass : 0.0;
    }
    return figures;
}

}  // namespace nimbus::tournament
