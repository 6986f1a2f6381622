#include "tournament/slurm.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

#include "tournament/arena_command.hpp"
#include "tournament/entrant.hpp"
#include "tournament/game_result.hpp"
#include "tournament/progress.hpp"
#include "tournament/run.hpp"
#include "tournament/schedule.hpp"
#include "tournament/standings_files.hpp"
#include "tournament/tournament_folder.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
// How long a cancelled job may take to go before we stop waiting for it.
constexpr auto kCancelGrace = std::chrono::seconds(60);

std::string shellLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& word : argv) {
        line += line.empty() ? "" : " ";
        line += shellQuote(word);
    }
    return line;
}

struct CommandResult {
    int exitCode = -1;
    std::string output;  // standard output and error
};

CommandResult capture(const std::vector<std::string>& argv) {
    CommandResult result;
    FILE* pipe = ::popen((shellLine(argv) + " 2>&1 </dev/null").c_str(), "r");
    if (pipe == nullptr) {
        result.output = "cannot start " + argv.front();
        return result;
    }
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        result.output.append(buffer, n);
    }
    const int status = ::pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// The array's tasks that Slurm still holds (pending, running or completing).
struct QueueState {
    bool known = false;  // false: squeue failed for another reason than a finished job
    bool gone = false;   // the whole array has ended
    std::set<std::int32_t> tasks;
    std::int32_t running = 0;
    std::string error;
};

QueueState queueState(const std::string& jobId) {
    const CommandResult q = capture(
        {"squeue", "--noheader", "--array", "--jobs=" + jobId, "--format=%K %t"});
    QueueState state;
    if (q.exitCode != 0) {
        // A job that ended long enough ago is no longer known at all.
        state.known = state.gone = q.output.find("Invalid job id") != std::string::npos;
        state.error = q.output;
        return state;
    }
    state.known = true;
    std::size_t start = 0;
    while (start < q.output.size()) {
        std::size_t end = q.output.find('\n', start);
        end = end == std::string::npos ? q.output.size() : end;
        const std::string line = q.output.substr(start, end - start);
        start = end + 1;
        int task = 0;
        char status[8] = {};
        if (std::sscanf(line.c_str(), "%d %7s", &task, status) == 2) {
            state.tasks.insert(task);
            state.running += std::string(status) == "R" ? 1 : 0;
        }
    }
    state.gone = state.tasks.empty();
    return state;
}

// The job id that sbatch --parsable printed ("12" or "12;cluster"), empty if none.
std::string parsedJobId(const std::string& output) {
    std::string id;
    std::size_t start = 0;
    while (start < output.size()) {
        std::size_t end = output.find('\n', start);
        end = end == std::string::npos ? output.size() : end;
        const std::string line = output.substr(start, end - start);
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits != 0 && (digits == std::string::npos || line[digits] == ';')) {
            id = line.substr(0, digits);
        }
        start = end + 1;
    }
    return id;
}

GameSpec gameOf(const TournamentConfig& config, std::int32_t number) {
    return scheduledGame(number, static_cast<std::int32_t>(config.roster.size()), config.players,
                         config.seedBase);
}

LoadedGame loadResults(const TournamentConfig& config, const fs::path& out, std::int32_t number) {
    return loadGame(gameFolder(out, number) / "results.json",
                    expectedGame(config, gameOf(config, number)));
}

std::string gameList(const std::vector<std::int32_t>& games) {
    std::string text;
    for (const std::int32_t n : games) {
        text += text.empty() ? "" : ", ";
        text += std::to_string(n);
    }
    return text;
}

// The games of the tournament as they settle on Slurm, in any order, folded into the standings
// in game-number order as far as every game before them has settled. A byte per game: results
// are read again when folded.
class SettledGames {
  public:
    enum State : char { Waiting, Finished, Failed };

    explicit SettledGames(const SlurmJob& job)
        : job_(job), states_(static_cast<std::size_t>(job.config.games), Waiting) {
        standings_.know(job.config.roster);
    }
    State state(std::int32_t n) const { return states_[static_cast<std::size_t>(n - 1)]; }
    void settle(std::int32_t n, State state) {
        states_[static_cast<std::size_t>(n - 1)] = state;
        fold(false);
    }
    // `all`: the wait is over; games still waiting are passed over.
    void fold(bool all) {
        while (folded_ < job_.config.games) {
            const std::int32_t n = folded_ + 1;
            if (state(n) == Waiting && !all) {
                break;
            }
            if (state(n) == Finished) {
                const LoadedGame loaded = loadResults(job_.config, job_.out, n);
                if (finishedAs(loaded, gameOf(job_.config, n))) {
                    standings_.add(loaded.outcome, "game " + std::to_string(n));
                }
            }
            folded_ = n;
        }
    }
    Standings& standings() { return standings_; }

  private:
    const SlurmJob& job_;
    std::vector<State> states_;
    std::int32_t folded_ = 0;  // games 1..folded_ are in the standings (or passed over)
    Standings standings_;
};

// Follows the submitted array until it has ended, settling the games that were waiting and
// adding those that failed to `failed`. Returns the signal that stopped the wait (SIGINT,
// SIGTERM, SIGHUP or SIGPIPE), or 0.
int follow(const SlurmJob& job, const std::string& jobId, SettledGames& games,
           std::vector<std::int32_t>& failed, std::int32_t& playedNow) {
    std::set<std::int32_t> waiting;
    for (std::int32_t n = 1; n <= job.config.games; ++n) {
        if (games.state(n) == SettledGames::Waiting) {
            waiting.insert(n);
        }
    }
    const std::size_t toPlay = waiting.size();
    const std::int32_t before = job.config.games - static_cast<std::int32_t>(toPlay);
    const std::map<std::string, std::string> labels = entrantLabels(job.config.roster);

    sigset_t watched;
    sigset_t previous;
    ::sigemptyset(&watched);
    // SIGPIPE too: a closed standard output (`| head`) stops the wait as Ctrl-C does.
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::sigaddset(&watched, s);
    }
    ::sigprocmask(SIG_BLOCK, &watched, &previous);

    ProgressReporter report;
    const Clock::time_point start = Clock::now();
    std::int32_t running = 0;
    int stopSignal = 0;
    Clock::time_point stopAt;
    bool warned = false;
    const auto progress = [&] {
        Progress p;
        p.done = before + playedNow;
        p.total = job.config.games;
        p.running = running;
        p.failed = static_cast<std::int32_t>(failed.size());
        p.elapsedSeconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (playedNow > 0) {
            const auto left = static_cast<double>(toPlay) - playedNow - p.failed;
            p.etaSeconds = p.elapsedSeconds / playedNow * left;
        }
        p.leader = games.standings().leader();
        return p;
    };

    for (;;) {
        timespec wait{1, 0};
        const int sig = ::sigtimedwait(&watched, nullptr, &wait);
        if (sig > 0 && stopSignal == 0) {
            stopSignal = sig;
            stopAt = Clock::now();
            report.line("interrupted: cancelling job " + jobId +
                        "; submit again with the same --out to play the rest");
            const CommandResult cancel = capture({"scancel", jobId});
            if (cancel.exitCode != 0) {
                report.line("scancel " + jobId + " failed: " + printable(cancel.output));
            }
        }
        const QueueState queue = queueState(jobId);
        if (!queue.known && !warned) {
            report.line("squeue failed (retrying): " + printable(queue.error));
            warned = true;
        }
        running = queue.running;
        for (auto it = waiting.begin(); it != waiting.end();) {
            const std::int32_t n = *it;
            const LoadedGame loaded = loadResults(job.config, job.out, n);
            if (finishedAs(loaded, gameOf(job.config, n))) {
                ++playedNow;
                const std::string winner = labels.at(loaded.outcome.seats.front().entrant);
                games.settle(n, SettledGames::Finished);
                report.gameDone("game " + std::to_string(n) + " (seed " +
                                    std::to_string(gameOf(job.config, n).seed) + ") won by " +
                                    winner,
                                progress());
                it = waiting.erase(it);
            } else if (queue.known && queue.tasks.count(n) == 0 && stopSignal == 0) {
                // Its task has ended without whole results.
                if (loaded.state == GameState::NotPlayed) {
                    games.standings().noteUnplayed(loaded.outcome);
                }
                failed.push_back(n);
                games.settle(n, SettledGames::Failed);
                report.line("game " + std::to_string(n) + " failed" +
                            (loaded.problem.empty() ? "" : " (" + loaded.problem + ")") +
                            ", see " + printable((gameFolder(job.out, n) / "arena.log").string()) +
                            " and " + printable(taskLog(job.out, n).string()));
                it = waiting.erase(it);
            } else {
                ++it;
            }
        }
        if (queue.gone || (stopSignal != 0 && Clock::now() - stopAt > kCancelGrace)) {
            break;
        }
        report.bar(progress());
    }
    report.clearBar();
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    return stopSignal;
}

}  // namespace

int slurmTournament(const SlurmOptions& options) {
    const SlurmJob& job = options.job;
    if (const std::string problem = slurmJobProblem(job); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    const FolderLock lock(job.out);  // one run (here, or on Slurm) per folder, to the end
    prepareFolder(job.out, job.config);
    fs::create_directories(job.out / "slurm");
    const fs::path script = job.out / "tournament.sbatch";
    writeWhole(script, sbatchScript(job));
    if (!options.submit) {
        std::printf("%s: %d games, one array task each; submit it with\n%s\n",
                    printable(script.string()).c_str(), job.config.games,
                    printable(shellLine(sbatchCommand(job.out, options.sbatchArgs, false))).c_str());
        return kExitAllPlayed;
    }

    SettledGames games(job);
    std::vector<std::int32_t> missing;
    for (std::int32_t n = 1; n <= job.config.games; ++n) {
        if (finishedAs(loadResults(job.config, job.out, n), gameOf(job.config, n))) {
            games.settle(n, SettledGames::Finished);
        } else {
            missing.push_back(n);
        }
    }
    const auto toPlay = static_cast<std::int32_t>(missing.size());
    std::printf("tournament %s: %d games of %d seats, %d already played, %d to play on Slurm\n",
                printable(job.out.string()).c_str(), job.config.games, job.config.players,
                job.config.games - toPlay, toPlay);
    std::fflush(stdout);

    const Clock::time_point start = Clock::now();
    std::vector<std::int32_t> failed;
    std::int32_t playedNow = 0;
    int stopSignal = 0;
    if (toPlay > 0) {
        // Only the games still missing, keeping the %N (games at once) of an --array given.
        std::vector<std::string> args = options.sbatchArgs;
        if (toPlay < job.config.games) {
            std::string limit;
            for (auto it = args.begin(); it != args.end();) {
                if (it->rfind("--array=", 0) == 0) {
                    const std::size_t percent = it->find('%');
                    limit = percent == std::string::npos ? "" : it->substr(percent);
                    it = args.erase(it);
                } else {
                    ++it;
                }
            }
            args.push_back("--array=" + arrayRanges(missing) + limit);
        }
        const std::vector<std::string> command = sbatchCommand(job.out, args, true);
        const CommandResult submitted = capture(command);
        const std::string jobId = parsedJobId(submitted.output);
        if (submitted.exitCode != 0 || jobId.empty()) {
            throw std::runtime_error(printable(shellLine(command)) +
                                     " failed: " + printable(submitted.output));
        }
        std::printf("%s\nsubmitted job %s\n", printable(shellLine(command)).c_str(),
                    jobId.c_str());
        std::fflush(stdout);
        stopSignal = follow(job, jobId, games, failed, playedNow);
    }
    games.fold(true);

    writeClosingReport(job.out, games.standings(), job.config.games, playedNow,
                       static_cast<std::int32_t>(failed.size()),
                       std::chrono::duration<double>(Clock::now() - start).count());
    if (stopSignal != 0) {
        return 128 + stopSignal;
    }
    if (!failed.empty()) {
        std::printf("failed: game%s %s (see games/<n>/arena.log and slurm/<n>.log in %s); submit "
                    "again to play them\n",
                    failed.size() > 1 ? "s" : "", gameList(failed).c_str(),
                    printable(job.out.string()).c_str());
        return kExitSomeFailed;
    }
    return games.standings().neverConnected().empty() ? kExitAllPlayed : kExitSomeFailed;
}

int gamePlayedInFolder(const fs::path& dir, std::int32_t number) {
    std::ifstream in(dir / "tournament.json");
    const nlohmann::json stored = nlohmann::json::parse(in, nullptr, false);
    TournamentConfig config;
    try {
        config = configFromJson(stored);
    } catch (const std::runtime_error& e) {
        throw std::invalid_argument(dir.string() + " holds no tournament: " + e.what());
    }
    if (number < 1 || number > config.games) {
        throw std::invalid_argument("no game " + std::to_string(number) + " in " + dir.string());
    }
    return finishedAs(loadResults(config, dir, number), gameOf(config, number)) ? 0 : 1;
}

}  // namespace nimbus::tournament
