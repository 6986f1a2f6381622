#include "tournament/records/tournament_folder.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "tournament/play/arena_command.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/records/whole_file.hpp"
#include "util/sandbox_settings.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

namespace {

std::string shown(const fs::path& path) {
    return printable(path.string());
}

// The game number a folder name stands for, 0 when it is not one.
std::int64_t gameNumber(const std::string& name) {
    if (name.empty() || name.size() > 10 || name[0] == '0' ||
        name.find_first_not_of("0123456789") != std::string::npos) {
        return 0;
    }
    return std::stoll(name);
}

void checkGameFile(const fs::path& folder, const std::string& id) {
    const FileText file = readWholeFile(folder / "game.json", 1u << 20);
    if (!file.exists) {
        return;
    }
    const nlohmann::json game = nlohmann::json::parse(file.text, nullptr, false);
    const bool ours = file.problem.empty() && game.is_object() && game.contains("tournament") &&
                      game["tournament"] == id;
    if (!ours) {
        throw std::invalid_argument(shown(folder / "game.json") +
                                    " belongs to another tournament; give another --out");
    }
}

// The folder, made with its parents where missing; throws std::runtime_error when it cannot be.
void createFolder(const fs::path& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
        throw std::runtime_error("cannot create " + shown(dir));
    }
}

}  // namespace

FolderLock::FolderLock(const fs::path& dir) {
    createFolder(dir);
    const fs::path path = dir / "tournament.lock";
    // Kept from run to run (the lock is on it), and written: never through a link.
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        throw std::runtime_error("cannot open " + shown(path) + ": " + std::strerror(errno));
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        char holder[32] = {0};
        [[maybe_unused]] const ssize_t n = ::pread(fd_, holder, sizeof holder - 1, 0);
        ::close(fd_);
        fd_ = -1;
        if (error == EWOULDBLOCK) {
            const std::string pid(holder, std::strcspn(holder, "\n"));
            throw std::invalid_argument(
                shown(dir) + " is in use by another nimbus-tournament" +
                (pid.empty() ? std::string() : " (pid " + printable(pid) + ")") +
                ": one run per folder at a time");
        }
        throw std::runtime_error("cannot lock " + shown(path) + ": " + std::strerror(error));
    }
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd_, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd_, pid.data(), pid.size(), 0);
    }
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

ExpectedGame expectedGame(const TournamentConfig& config, const GameSpec& game) {
    ExpectedGame expected;
    std::vector<std::string> seats;
    for (std::int32_t seat : game.seats) {
        seats.push_back(config.roster[static_cast<std::size_t>(seat)]);
    }
    expected.seats = std::move(seats);
    expected.seed = game.seed;
    expected.ticks = config.arena.ticks;
    expected.tickMs = config.arena.tickMs;
    expected.rainclouds = config.arena.rainclouds;
    expected.sandbox = util::sandboxJson(config.sandbox);
    return expected;
}

std::optional<TournamentConfig> readTournament(const fs::path& dir) {
    const FileText stored = readWholeFile(dir / "tournament.json");
    if (!stored.exists) {
        return std::nullopt;
    }
    if (!stored.problem.empty()) {
        throw std::runtime_error(stored.problem);
    }
    return configFromJson(nlohmann::json::parse(stored.text, nullptr, false));
}

namespace {

// The tournament.json already in the folder, if any, must be this tournament's, with no more
// games than `config`.
void checkStoredConfig(const fs::path& dir, const TournamentConfig& config) {
    std::optional<TournamentConfig> before;
    try {
        before = readTournament(dir);
    } catch (const std::runtime_error& e) {
        throw std::invalid_argument(
            shown(dir / "tournament.json") + " is not a tournament of this " +
            "nimbus-tournament: " + printable(e.what()) + "; give another --out");
    }
    if (!before) {
        return;
    }
    if (const std::string difference = configDifference(*before, config); !difference.empty()) {
        throw std::invalid_argument(shown(dir) + " holds another tournament (" +
                                    printable(difference) + "); give another --out");
    }
    if (before->games > config.games) {
        throw std::invalid_argument(
            shown(dir) + " holds a tournament of " + std::to_string(before->games) +
            " games; --games " + std::to_string(config.games) + " would leave games " +
            std::to_string(config.games + 1) + " to " + std::to_string(before->games) +
            " out: give --games " + std::to_string(before->games) + " or more, or another --out");
    }
}

// The numbers of the game folders, ascending, whatever tournament.json says (or whether it is
// there at all): none beyond config.games.
std::vector<std::int64_t> gameNumbers(const fs::path& dir, const TournamentConfig& config) {
    std::error_code ec;
    std::vector<std::int64_t> numbers;
    for (auto it = fs::directory_iterator(dir / "games", ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::int64_t n = gameNumber(it->path().filename().string());
        if (n > 0 && it->is_directory()) {
            numbers.push_back(n);
        }
    }
    std::sort(numbers.begin(), numbers.end());
    if (!numbers.empty() && numbers.back() > config.games) {
        throw std::invalid_argument(shown(dir) + " holds games up to " +
                                    std::to_string(numbers.back()) + ", beyond --games " +
                                    std::to_string(config.games) + "; give --games " +
                                    std::to_string(numbers.back()) + " or more, or another --out");
    }
    return numbers;
}

}  // namespace

std::vector<std::int32_t> prepareFolder(const fs::path& dir, const TournamentConfig& config) {
    createFolder(dir);
    checkStoredConfig(dir, config);
    const std::string id = tournamentId(config);
    const auto roster = static_cast<std::int32_t>(config.roster.size());
    std::vector<std::int32_t> finished;
    for (const std::int64_t n : gameNumbers(dir, config)) {
        const auto number = static_cast<std::int32_t>(n);
        const fs::path folder = gameFolder(dir, number);
        checkGameFile(folder, id);
        const GameSpec game = scheduledGame(number, roster, config.players, config.seedBase);
        const LoadedGame loaded = loadGame(folder / "results.json", expectedGame(config, game));
        if (loaded.state == GameState::Foreign) {
            throw std::invalid_argument(shown(folder / "results.json") + " is " + loaded.problem +
                                        "; give another --out");
        }
        if (loaded.state == GameState::Finished) {
            finished.push_back(number);
        }
    }
    writeWhole(dir / "tournament.json", toJson(config).dump(2) + "\n");
    return finished;
}

void writeGameFile(const fs::path& folder, const TournamentConfig& config, const GameSpec& game) {
    nlohmann::json seats = nlohmann::json::array();
    for (std::int32_t seat : game.seats) {
        seats.push_back(config.roster[static_cast<std::size_t>(seat)]);
    }
    nlohmann::json record{{"tournament", tournamentId(config)},
                          {"game", game.number},
                          {"seed", game.seed},
                          {"seats", seats}};
    if (config.sandbox) {
        record["sandbox"] = util::sandboxJson(config.sandbox);
    }
    writeWhole(folder / "game.json", record.dump(2) + "\n");
}

}  // namespace nimbus::tournament
