// nimbus-virtual-games: whole games between strategies in one process, on virtual time, to judge
// strategy ideas in seconds instead of minutes. Each bot seat is the real Bot (control loop,
// waits, tick clock, planner) on its own thread, talking the line protocol over loopback to a
// small server around the arena's game library; builtin seats are played as the arena plays them.
// Time is virtual: it stands still while any bot computes or waits for a reply and jumps to the
// next wake-up when every bot sleeps, so a game's outcome does not depend on the machine's load
// (decisions take no game time here; measure them with nimbus-bench). The verdict on a strategy
// still comes from real games against nimbus-arena (nimbus-tournament).
//
//   nimbus-virtual-games --games 24 --players 4 faithful builtin:greedy ...
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "arena/game/builtin_player.hpp"
#include "arena/game/results.hpp"
#include "arena/limits.hpp"
#include "arena/server/protocol.hpp"
#include "arena/server/referee.hpp"
#include "bot/control/bot.hpp"
#include "bot/physics/wind_law.hpp"
#include "bot/plan/planner.hpp"
#include "tournament/analysis/analysis_report.hpp"
#include "tournament/play/schedule.hpp"
#include "tournament/standings/standings.hpp"

namespace {

using namespace nimbus;

// Discrete-event time shared by the bot threads: now() stands still while any joined thread
// runs; when all of them sleep, it jumps to the earliest wake-up and wakes those sleepers.
class VirtualTime {
  public:
    std::int64_t now() {
        std::lock_guard lock(mutex_);
        return now_;
    }
    void join() {
        std::lock_guard lock(mutex_);
        ++running_;
    }
    void leave() {
        std::lock_guard lock(mutex_);
        --running_;
        advance();
    }
    void sleep(std::int32_t ms) {
        if (ms <= 0)
            return;
        std::unique_lock lock(mutex_);
        bool ready = false;
        sleepers_.emplace(now_ + ms, &ready);
        --running_;
        advance();
        woken_.wait(lock, [&] { return ready; });
    }

  private:
    void advance() {
        if (running_ > 0 || sleepers_.empty())
            return;
        now_ = sleepers_.begin()->first;
        while (!sleepers_.empty() && sleepers_.begin()->first == now_) {
            *sleepers_.begin()->second = true;
            ++running_;
            sleepers_.erase(sleepers_.begin());
        }
        woken_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable woken_;
    std::int64_t now_ = 1000;
    std::int32_t running_ = 0;
    std::multimap<std::int64_t, bool*> sleepers_;
};

class VirtualClock final : public platform::Clock {
  public:
    explicit VirtualClock(VirtualTime& time) : time_(time) {}
    std::int32_t now() override { return static_cast<std::int32_t>(time_.now()); }
    void sleep(std::int32_t ms) override { time_.sleep(ms); }

  private:
    VirtualTime& time_;
};

// The plans a strategy's planner returned, by kind (chase, evade, push, idle: told apart by their
// shape), with the summed strength of their winds. Plans dropped before their wind count too.
struct PlanTally {
    std::mutex mutex;
    std::map<std::string, std::pair<std::int64_t, double>> kinds;  // "entrant kind": count, wind
};

class TallyPlanner final : public Planner {
  public:
    TallyPlanner(std::unique_ptr<Planner> inner, PlanTally& tally, std::string entrant)
        : inner_(std::move(inner)), tally_(tally), entrant_(std::move(entrant)) {}
    Strategy decide(float drift, const WorldSnapshot& s, const Trajectory& own) override {
        Strategy plan = inner_->decide(drift, s, own);
        const Wind w = plan.actionWind();
        const double strength = windStrengthDouble(w.x, w.y);
        std::string kind = !plan.isDirect             ? "chase"
                           : strength == 0.0          ? "idle"
                           : plan.startTick == s.tick ? "evade"
                                                      : "push";
        std::lock_guard lock(tally_.mutex);
        auto& k = tally_.kinds[entrant_ + " " + kind];
        k.first += 1;
        k.second += strength;
        return plan;
    }

  private:
    std::unique_ptr<Planner> inner_;
    PlanTally& tally_;
    std::string entrant_;
};

struct SeatLog {
    std::int32_t maxStatesPerTick = 0;
    std::int64_t refused = 0;  // WIND or GET_STATE commands answered with ERROR
};

// One game: the arena's game library behind a loopback listener, one thread per bot seat.
class VirtualMatch {
  public:
    // With a tally, every bot's plans are counted in it.
    VirtualMatch(const arena::GameSettings& settings, std::int32_t tickMs,
                 std::vector<std::string> seats, PlanTally* tally)
        : game_(settings),
          tickMs_(tickMs),
          seats_(std::move(seats)),
          logs_(seats_.size()),
          tally_(tally) {}

    void play() {
        const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
            ::listen(listener, 64) != 0 ||
            ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            throw std::runtime_error("cannot listen on loopback");
        const std::string port = std::to_string(ntohs(address.sin_port));
        start_ = time_.now();

        // Every bot is counted before any starts, so that time waits for the last one too.
        for (const std::string& seat : seats_) {
            if (!arena::looksBuiltin(seat))
                time_.join();
        }
        std::vector<std::thread> threads;
        for (std::size_t p = 0; p < seats_.size(); ++p) {
            if (arena::looksBuiltin(seats_[p]))
                continue;
            threads.emplace_back([this, p, port] {
                VirtualClock clock(time_);
                {
                    std::unique_ptr<Planner> planner = makePlanner(seats_[p]);
                    if (tally_ != nullptr)
                        planner =
                            std::make_unique<TallyPlanner>(std::move(planner), *tally_, seats_[p]);
                    Bot bot(clock, port.c_str(), std::move(planner));
                    bot.run();
                }
                time_.leave();
            });
            const int fd = ::accept(listener, nullptr, nullptr);
            threads.emplace_back([this, p, fd] { serve(static_cast<std::int32_t>(p), fd); });
        }
        ::close(listener);
        for (std::thread& t : threads)
            t.join();
        std::lock_guard lock(mutex_);
        advanceTo(game_.settings().ticks);
    }

    const arena::Game& game() const { return game_; }
    const std::vector<SeatLog>& logs() const { return logs_; }

  private:
    void advanceTo(std::int64_t tick) {
        while (!game_.over() && game_.tick() < tick) {
            for (std::size_t p = 0; p < seats_.size(); ++p) {
                const auto player = static_cast<std::int32_t>(p);
                if (const auto kind = arena::parseBuiltin(seats_[p])) {
                    if (const auto w = arena::builtinWind(*kind, game_, player))
                        game_.queueWind(player, w->wx, w->wy);
                }
            }
            game_.step();
        }
    }

    // The arena's answer to one line of a seated bot (its seat is the connection: NAME names it).
    std::string answer(std::int32_t player, const arena::Command& c, bool& named,
                       arena::StateBudget& budget) {
        SeatLog& log = logs_[static_cast<std::size_t>(player)];
        if (!named) {
            std::string refusal;
            named = arena::refereeLobby(c, refusal);
            log.refused += named ? 0 : 1;
            return named ? arena::nameAccepted(c.name) : refusal;
        }
        const arena::Reply r = arena::referee(game_, player, tickMs_, budget, c);
        log.maxStatesPerTick = std::max(log.maxStatesPerTick, budget.states);
        log.refused += r.ruling == arena::Ruling::Answered ? 0 : 1;
        return r.text;
    }

    // Answers one bot's lines until the game is over for it, then closes its connection.
    void serve(std::int32_t player, int fd) {
        std::string pending;
        char buffer[4096];
        bool named = false;
        arena::StateBudget budget;
        for (;;) {
            const std::size_t end = pending.find('\n');
            if (end == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                pending.append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            std::string reply;
            bool over = false;
            {
                std::lock_guard lock(mutex_);
                advanceTo((time_.now() - start_) / tickMs_);
                over = game_.over() || game_.isOut(player);
                if (!over) {
                    reply = answer(player, arena::parseCommand(line), named, budget);
                }
            }
            if (over)
                break;
            if (::send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) !=
                static_cast<ssize_t>(reply.size()))
                break;
        }
        ::close(fd);
    }

    std::mutex mutex_;
    arena::Game game_;
    std::int32_t tickMs_;
    std::vector<std::string> seats_;
    std::vector<SeatLog> logs_;
    VirtualTime time_;
    std::int64_t start_ = 0;
    PlanTally* tally_;
};

struct Options {
    std::int32_t games = 12;
    std::int32_t players = 4;
    std::uint64_t seed = 1;
    arena::GameSettings base;
    std::int32_t tickMs = 16;
    std::vector<std::string> roster;
    bool quiet = false;
    std::string jsonPath;
    bool planKinds = false;
};

void addOptions(CLI::App& app, Options& o) {
    app.add_option("--games", o.games, "number of games")->check(CLI::Range(1, 100000));
    app.add_option("--players", o.players, "seats in each game")->check(CLI::Range(1, 64));
    app.add_option("--seed", o.seed, "seed of the first round; round r plays seed + r");
    app.add_option("--ticks", o.base.ticks, "ticks per game")->check(CLI::Range(1, 1000000));
    app.add_option("--rainclouds", o.base.rainclouds, "rainclouds")->check(CLI::Range(0, 10000));
    app.add_option("--tick-ms", o.tickMs, "milliseconds per tick")->check(CLI::Range(1, 1000));
    app.add_flag("--quiet", o.quiet, "no line per game");
    app.add_flag("--plan-kinds", o.planKinds,
                 "count the plans each strategy returns by kind, with their winds");
    app.add_option("--json", o.jsonPath,
                   "write every game's seats and the figures as JSON to FILE");
    app.add_option("ENTRANT", o.roster,
                   "strategy names (nimbus-bot --list-strategies) or "
                   "builtin:greedy / builtin:idle")
        ->required();
}

// Whether every entrant names a strategy or a builtin; a line on standard error for the first
// that does not.
bool entrantsKnown(const std::vector<std::string>& roster) {
    for (const std::string& e : roster) {
        if (arena::looksBuiltin(e) ? !arena::parseBuiltin(e) : !makePlanner(e)) {
            std::fprintf(stderr, "nimbus-virtual-games: unknown entrant \"%s\"\n", e.c_str());
            return false;
        }
    }
    return true;
}

// What the games played so far add up to.
struct Totals {
    nlohmann::json games = nlohmann::json::array();
    tournament::Standings standings;
    tournament::AnalysisReport report;
    std::int32_t worstStates = 0;
    std::int64_t refused = 0;
};

// The seats of a played game, ranked as the arena ranks them.
tournament::GameOutcome outcomeOf(const arena::Game& game, const std::vector<std::string>& seats,
                                  std::uint64_t seed) {
    std::vector<arena::PlayerInfo> infos(seats.size());
    for (std::size_t p = 0; p < seats.size(); ++p) {
        infos[p].name = seats[p];
        infos[p].kind = "bot";
    }
    tournament::GameOutcome outcome;
    outcome.seed = seed;
    for (const arena::ResultRow& row : arena::rankPlayers(&game, infos)) {
        tournament::SeatResult seat;
        seat.entrant = seats[static_cast<std::size_t>(row.player)];
        seat.rank = row.rank;
        seat.finalMass = row.finalMass;
        seat.status = arena::statusName(row.status);
        seat.player = row.player;
        outcome.seats.push_back(seat);
    }
    return outcome;
}

nlohmann::json gameJson(const tournament::GameOutcome& outcome) {
    nlohmann::json seatsJson = nlohmann::json::array();
    for (const tournament::SeatResult& seat : outcome.seats)
        seatsJson.push_back({{"entrant", seat.entrant},
                             {"player", seat.player},
                             {"rank", seat.rank},
                             {"final_mass", seat.finalMass},
                             {"status", seat.status}});
    return {{"seed", outcome.seed}, {"seats", seatsJson}};
}

void printGame(std::FILE* out, std::int32_t n, const tournament::GameOutcome& outcome) {
    std::fprintf(out, "game %d (seed %llu):", n, static_cast<unsigned long long>(outcome.seed));
    for (const tournament::SeatResult& s : outcome.seats)
        std::fprintf(out, " %d. %s %.1f", s.rank, s.entrant.c_str(), s.finalMass);
    std::fprintf(out, "\n");
    std::fflush(out);
}

// Game n of the schedule, played and added to the totals (and its line printed unless quiet).
void playGame(std::int32_t n, const Options& o, PlanTally* tally, Totals& totals, std::FILE* out) {
    const tournament::GameSpec spec =
        tournament::scheduledGame(n, static_cast<std::int32_t>(o.roster.size()), o.players, o.seed);
    std::vector<std::string> seats;
    for (std::int32_t s : spec.seats)
        seats.push_back(o.roster[static_cast<std::size_t>(s)]);
    arena::GameSettings settings = o.base;
    settings.seed = spec.seed;
    settings.players = o.players;
    VirtualMatch match(settings, o.tickMs, seats, tally);
    match.play();

    const tournament::GameOutcome outcome = outcomeOf(match.game(), seats, spec.seed);
    totals.standings.add(outcome);
    totals.games.push_back(gameJson(outcome));
    tournament::RecordedGame recorded{settings, {}, match.game().tick(), match.game().windLog()};
    totals.report.add(seats, tournament::analyzeGame(recorded));
    for (const SeatLog& log : match.logs()) {
        totals.worstStates = std::max(totals.worstStates, log.maxStatesPerTick);
        totals.refused += log.refused;
    }
    if (!o.quiet)
        printGame(out, n, outcome);
}

void writeJson(const std::string& path, const Totals& totals) {
    nlohmann::json json = totals.report.json();
    json["games"] = totals.games;
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file != nullptr) {
        std::fputs(json.dump().c_str(), file);
        std::fclose(file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"nimbus-virtual-games: games between strategies on virtual time, in process"};
    Options o;
    addOptions(app, o);
    CLI11_PARSE(app, argc, argv);
    if (!entrantsKnown(o.roster))
        return 2;
    PlanTally tally;
    // The bots' trace goes nowhere; the figures go to the original standard output.
    FILE* out = fdopen(dup(STDOUT_FILENO), "w");
    if (out == nullptr || std::freopen("/dev/null", "w", stdout) == nullptr)
        return 1;

    Totals totals;
    for (std::int32_t n = 1; n <= o.games; ++n)
        playGame(n, o, o.planKinds ? &tally : nullptr, totals, out);
    std::fprintf(out,
                 "\n%s\n%s\nmost GET_STATE in one tick: %d (budget %d); refused commands: %lld\n",
                 tournament::standingsMarkdown(totals.standings.rows()).c_str(),
                 totals.report.markdown().c_str(), totals.worstStates,
                 arena::statesPerTick(o.tickMs), static_cast<long long>(totals.refused));
    if (!o.jsonPath.empty())
        writeJson(o.jsonPath, totals);
    for (const auto& [kind, k] : tally.kinds)
        std::fprintf(out, "plans of %s: %lld, wind %.1f\n", kind.c_str(),
                     static_cast<long long>(k.first), k.second);
    std::fclose(out);
    return 0;
}
