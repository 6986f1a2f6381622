#include "tournament/play/slurm.hpp"

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <stdexcept>

#include "tournament/play/arena_command.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/play/driver.hpp"
#include "tournament/play/schedule.hpp"
#include "tournament/standings/standings_files.hpp"
#include "tournament/records/tournament_folder.hpp"
#include "util/process.hpp"

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

// The array's tasks that Slurm still holds (pending, running or completing).
struct QueueState {
    bool known = false;  // false: squeue failed for another reason than a finished job
    bool gone = false;   // the whole array has ended
    std::set<std::int32_t> tasks;
    std::int32_t running = 0;
    std::string error;
};

QueueState queueState(const std::string& jobId) {
    const util::CommandOutput q = util::runCaptured(
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

LoadedGame loadResults(const Driver& driver, std::int32_t n) {
    return loadGame(gameFolder(driver.out(), n) / "results.json",
                    expectedGame(driver.config(), driver.game(n)));
}

// The submitted array: games settle as their results appear or their tasks leave the queue.
class SlurmPlayer final : public GamePlayer {
  public:
    SlurmPlayer(const SlurmJob& job, std::string jobId, const std::vector<std::int32_t>& missing)
        : job_(job), jobId_(std::move(jobId)), waiting_(missing.begin(), missing.end()) {}

    bool step(Driver& driver) override {
        const QueueState queue = queueState(jobId_);
        if (!queue.known && !warned_) {
            driver.report().line("squeue failed (retrying): " + printable(queue.error));
            warned_ = true;
        }
        running_ = queue.running;
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            const std::int32_t n = *it;
            const LoadedGame loaded = loadResults(driver, n);
            if (finishedAs(loaded, driver.game(n))) {
                it = waiting_.erase(it);
                driver.finished(n, loaded);
            } else if (queue.known && queue.tasks.count(n) == 0 && !driver.stopping()) {
                // Its task has ended without whole results.
                it = waiting_.erase(it);
                driver.failed(n, loaded,
                              "game " + std::to_string(n) + " failed" +
                                  (loaded.problem.empty() ? "" : " (" + loaded.problem + ")") +
                                  ", see " +
                                  printable((gameFolder(job_.out, n) / "arena.log").string()) +
                                  " and " + printable(taskLog(job_.out, n).string()));
            } else {
                ++it;
            }
        }
        const bool givenUp = driver.stopping() && Clock::now() - stopAt_ > kCancelGrace;
        return !queue.gone && !givenUp;
    }

    void stop(Driver& driver, bool again) override {
        if (again) {
            return;  // the job is cancelled already; we wait for it to go
        }
        stopAt_ = Clock::now();
        driver.report().line("interrupted: cancelling job " + jobId_ +
                             "; submit again with the same --out to play the rest");
        const util::CommandOutput cancel = util::runCaptured({"scancel", jobId_});
        if (cancel.exitCode != 0) {
            driver.report().line("scancel " + jobId_ + " failed: " + printable(cancel.output));
        }
    }

    std::int32_t running() const override { return running_; }
    timespec pollEvery() const override { return {1, 0}; }
    bool wakesOnChildExit() const override { return false; }
    std::string againHint() const override {
        return "(see games/<n>/arena.log and slurm/<n>.log in " + printable(job_.out.string()) +
               "); submit again to play them";
    }

  private:
    const SlurmJob& job_;
    std::string jobId_;
    std::set<std::int32_t> waiting_;
    std::int32_t running_ = 0;
    bool warned_ = false;
    Clock::time_point stopAt_;
};

// Nothing to submit: every game is played already.
class NothingToPlay final : public GamePlayer {
  public:
    bool step(Driver&) override { return false; }
    void stop(Driver&, bool) override {}
    std::int32_t running() const override { return 0; }
    timespec pollEvery() const override { return {1, 0}; }
    bool wakesOnChildExit() const override { return false; }
    std::string againHint() const override { return ""; }
};

// Submits the games still missing, keeping the %N (games at once) of an --array given. Returns
// the job id; throws std::runtime_error when sbatch fails.
std::string submit(const SlurmOptions& options, const std::vector<std::int32_t>& missing) {
    const SlurmJob& job = options.job;
    std::vector<std::string> args = options.sbatchArgs;
    if (static_cast<std::int32_t>(missing.size()) < job.config.games) {
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
    const util::CommandOutput submitted = util::runCaptured(command);
    const std::string jobId = parsedJobId(submitted.output);
    if (submitted.exitCode != 0 || jobId.empty()) {
        throw std::runtime_error(printable(shellLine(command)) +
                                 " failed: " + printable(submitted.output));
    }
    std::printf("%s\nsubmitted job %s\n", printable(shellLine(command)).c_str(), jobId.c_str());
    std::fflush(stdout);
    return jobId;
}

}  // namespace

int slurmTournament(const SlurmOptions& options) {
    const SlurmJob& job = options.job;
    if (const std::string problem = slurmJobProblem(job); !problem.empty()) {
        throw std::invalid_argument(problem);
    }
    const FolderLock lock(job.out);  // one run (here, or on Slurm) per folder, to the end
    const std::vector<std::int32_t> finished = prepareFolder(job.out, job.config);
    fs::create_directories(job.out / "slurm");
    const fs::path script = job.out / "tournament.sbatch";
    writeWhole(script, sbatchScript(job));
    if (!options.submit) {
        std::printf("%s: %d games, one array task each; submit it with\n%s\n",
                    printable(script.string()).c_str(), job.config.games,
                    printable(shellLine(sbatchCommand(job.out, options.sbatchArgs, false))).c_str());
        return kExitAllPlayed;
    }

    std::vector<std::int32_t> missing;
    std::size_t k = 0;
    for (std::int32_t n = 1; n <= job.config.games; ++n) {
        if (k < finished.size() && finished[k] == n) {
            ++k;
        } else {
            missing.push_back(n);
        }
    }
    std::printf("tournament %s: %d games of %d seats, %zu already played, %zu to play on Slurm\n",
                printable(job.out.string()).c_str(), job.config.games, job.config.players,
                finished.size(), missing.size());
    std::fflush(stdout);

    Driver driver(job.config, job.out, finished);
    if (missing.empty()) {
        NothingToPlay nothing;
        return driver.play(nothing);
    }
    SlurmPlayer player(job, submit(options, missing), missing);
    return driver.play(player);
}

}  // namespace nimbus::tournament
