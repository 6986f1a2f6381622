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

// A recorded game re-run tick by tick, with the figures found so far.
class Rerun {
  public:
    explicit Rerun(const RecordedGame& recorded)
        : recorded_(recorded),
          players_(static_cast<std::size_t>(recorded.settings.players)),
          game_(recorded.start.empty() ? arena::Game(recorded.settings)
                                       : arena::Game(recorded.settings, recorded.start)),
          figures_(players_),
          chases_(players_) {
        std::int32_t cloudCount = 0;
        for (const arena::Cloud& c : game_.clouds())
            cloudCount = std::max(cloudCount, c.id + 1);
        mass_.assign(static_cast<std::size_t>(cloudCount), 0.0);
        for (std::size_t p = 0; p < players_; ++p) {
            const arena::Cloud* own = game_.thunderstorm(static_cast<std::int32_t>(p));
            figures_[p].startMass = own != nullptr ? own->state.mass : 0.0;
        }
    }

    std::vector<PlayerFigures> run() {
        for (std::int32_t t = 0; t < recorded_.endTick; ++t) {
            if (game_.over())
                throw std::invalid_argument("the re-run game ended at tick " + std::to_string(t));
            for (const arena::Cloud& c : game_.clouds())
                mass_[static_cast<std::size_t>(c.id)] = c.state.mass;
            blowWinds(t);
            game_.step();
            takeSwallows();
            endMissedChases();
        }
        for (std::size_t p = 0; p < players_; ++p) {
            endChase(figures_[p], chases_[p], ChaseEnd::Cut);
            const arena::Cloud* own = findCloud(game_.clouds(), static_cast<std::int32_t>(p));
            figures_[p].finalMass = own != nullptr ? own->state.mass : 0.0;
        }
        return figures_;
    }

  private:
    // The winds of tick t, queued in the game and counted; each player's cloud as its winds so
    // far blew it tells what they aim at.
    void blowWinds(std::int32_t t) {
        std::vector<std::optional<CloudState>> blown(players_);
        for (; nextWind_ < recorded_.winds.size() && recorded_.winds[nextWind_].tick <= t;
             ++nextWind_) {
            const arena::WindEvent& w = recorded_.winds[nextWind_];
            if (w.tick < t || w.player < 0 || w.player >= recorded_.settings.players)
                throw std::invalid_argument("a recorded wind is out of order or of no player");
            const auto p = static_cast<std::size_t>(w.player);
            const arena::Cloud* own = game_.thunderstorm(w.player);
            if (own == nullptr || !game_.queueWind(w.player, w.wx, w.wy).accepted)
                throw std::invalid_argument("the wind at tick " + std::to_string(t) +
                                            " is refused in the re-run game");
            if (!blown[p])
                blown[p] = own->state;
            arena::applyWind(*blown[p], w.wx, w.wy);
            const double strength = arena::windStrength(w.wx, w.wy);
            PlayerFigures& f = figures_[p];
            f.winds += 1;
            f.windSpent += strength;
            mass_[static_cast<std::size_t>(own->id)] = blown[p]->mass;
            if (const std::optional<Aim> aim = aimOf(*blown[p], own->id, game_.clouds(), t))
                aimChase(f, chases_[p], *aim, strength);
        }
    }

    // A wind aimed at `aim`: the chase of that target goes on, another one ends switched.
    static void aimChase(PlayerFigures& f, OpenChase& chase, const Aim& aim, double strength) {
        if (chase.open && chase.target != aim.target)
            endChase(f, chase, ChaseEnd::Switched);
        chase.open = true;
        chase.target = aim.target;
        chase.dueTick = aim.tick;
        chase.wind += strength;
    }

    // The swallows of the step just taken: mass won and lost, deaths, chases caught or taken.
    void takeSwallows() {
        const std::vector<arena::SwallowEvent>& swallows = game_.swallowLog();
        for (; swallowsSeen_ < swallows.size(); ++swallowsSeen_)
            takeSwallow(swallows[swallowsSeen_]);
    }

    void takeSwallow(const arena::SwallowEvent& s) {
        const double victimMass = mass_[static_cast<std::size_t>(s.victim)];
        mass_[static_cast<std::size_t>(s.by)] += victimMass;
        const bool byPlayer = s.by < recorded_.settings.players;
        const bool ofPlayer = s.victim < recorded_.settings.players;
        if (byPlayer) {
            PlayerFigures& f = figures_[static_cast<std::size_t>(s.by)];
            (ofPlayer ? f.playerGain : f.rainGain) += victimMass;
            (ofPlayer ? f.playersCaught : f.rainCaught) += 1;
        }
        if (ofPlayer) {
            const auto v = static_cast<std::size_t>(s.victim);
            figures_[v].lostSwallowed = victimMass;
            figures_[v].outAtTick = s.tick;
            figures_[v].swallowedBy = byPlayer ? s.by : -1;
            endChase(figures_[v], chases_[v], ChaseEnd::Died);
        }
        for (std::size_t p = 0; p < players_; ++p) {
            if (chases_[p].open && chases_[p].target == s.victim)
                endChase(figures_[p], chases_[p],
                         s.by == static_cast<std::int32_t>(p) ? ChaseEnd::Caught : ChaseEnd::Taken);
        }
    }

    void endMissedChases() {
        for (std::size_t p = 0; p < players_; ++p) {
            if (chases_[p].open && game_.tick() > chases_[p].dueTick + kChaseSlack)
                endChase(figures_[p], chases_[p], ChaseEnd::Missed);
        }
    }

    const RecordedGame& recorded_;
    std::size_t players_;
    arena::Game game_;
    std::vector<PlayerFigures> figures_;
    std::vector<OpenChase> chases_;
    std::vector<double> mass_;  // of every cloud by id, as the analysis counts it
    std::size_t nextWind_ = 0;
    std::size_t swallowsSeen_ = 0;
};

}  // namespace

std::vector<PlayerFigures> analyzeGame(const RecordedGame& recorded) {
    return Rerun(recorded).run();
}

}  // namespace nimbus::tournament
