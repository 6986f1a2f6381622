// The bot processes: started one after another, each once the one before it has connected (or
// after a while), so that connections can be told apart in launch order.
#include <sys/wait.h>

#include <filesystem>
#include <fstream>

#include "arena/server/arena_server.hpp"
#include "util/process.hpp"

namespace nimbus::arena {

namespace {

constexpr auto kLaunchGap = std::chrono::seconds(3);  // the most a bot gets to connect in turn
constexpr std::size_t kLogTailLines = 12;
constexpr auto kUsageEvery = std::chrono::milliseconds(100);  // sandboxed bots' usage sampled

// The name shown for a BOT that never named itself: its program's file name.
std::string programName(const std::string& command) {
    const std::size_t start = command.find_first_not_of(" \t");
    if (start == std::string::npos) {
        return "bot";
    }
    std::string word = command.substr(start, command.find_first_of(" \t", start) - start);
    const std::size_t slash = word.rfind('/');
    return slash == std::string::npos ? word : word.substr(slash + 1);
}

// The last lines of a file (all of it when shorter).
std::vector<std::string> lastLines(const std::string& path, std::size_t count) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
        if (lines.size() > count) {
            lines.erase(lines.begin());
        }
    }
    return lines;
}

}  // namespace

void ArenaServer::launchNext() {
    // Bots start only while the lobby is open; one not started by then is absent.
    if (processes_.size() >= commands_.size() || phase_ != Phase::Lobby) {
        return;
    }
    const std::size_t i = processes_.size();
    const std::string path = options_.logDir + "/nimbus-arena-" + std::to_string(options_.seed) +
                             "-bot" + std::to_string(i + 1) + ".log";
    try {
        std::optional<util::Sandbox> sandbox;
        if (options_.sandbox) {
            sandbox = util::commandSandbox(commands_[i], std::filesystem::current_path().string(),
                                           *options_.sandbox);
        }
        // A bot started by the arena can find it through NIMBUS_ARENA_PORT.
        processes_.push_back(std::make_unique<BotProcess>(
            commands_[i], path,
            std::vector<std::string>{"NIMBUS_ARENA_PORT=" + std::to_string(port())}, sandbox));
        logPaths_.push_back(path);
        connected_.push_back(false);
        seated_.push_back(false);
        stopped_.emplace_back();
        log_("started \"" + commands_[i] + "\" (log " + path + ")", false);
    } catch (const std::exception& e) {
        log_(e.what(), true);
        unstarted_.push_back(commands_[i]);
        commands_.erase(commands_.begin() + static_cast<std::ptrdiff_t>(i));
        commandPlaces_.erase(commandPlaces_.begin() + static_cast<std::ptrdiff_t>(i));
        launchNext();
        return;
    }
    // The next bot starts once this one has connected, or after a while if it does not.
    launchTimer_.expires_after(kLaunchGap);
    launchTimer_.async_wait([this](const asio::error_code& ec) {
        if (!ec) {
            launchNext();
        }
    });
}

// Stops each sandboxed bot that is over one of the limits the kernel does not keep; it leaves the
// game as a bot that disconnects, and its results say why.
void ArenaServer::watchUsage() {
    if (!botWatch_ || phase_ >= Phase::Ending) {
        return;
    }
    const auto now = Clock::now();
    for (std::size_t i = 0; i < processes_.size(); ++i) {
        if (!stopped_[i].empty() || processes_[i]->exited()) {
            continue;
        }
        if (const auto breach = botWatch_->check(processes_[i]->pid(), now)) {
            stopped_[i] = breach->limit;
            log_("\"" + processes_[i]->command() + "\" stopped: " + breach->limit + " (" +
                     breach->measured + ")",
                 true);
            processes_[i]->kill();
        }
    }
    usageTimer_.expires_after(kUsageEvery);
    usageTimer_.async_wait([this](const asio::error_code& ec) {
        if (!ec) {
            watchUsage();
        }
    });
}

void ArenaServer::reportSilentExits() {
    for (auto& p : processes_) {
        log_("\"" + p->command() + "\" ended (" + util::exitText(p->status()) +
                 ") before naming itself; the last lines of " + p->logPath() + ":",
             true);
        const auto lines = lastLines(p->logPath(), kLogTailLines);
        if (lines.empty()) {
            log_("  (empty)", true);
        }
        for (const std::string& line : lines) {
            log_("  | " + line, true);
        }
    }
}

void ArenaServer::noteAbsentBots() {
    absent_.clear();
    for (std::size_t i = 0; i < commands_.size(); ++i) {
        const std::string log = i < logPaths_.size() ? logPaths_[i] : "";
        bool named = false;
        for (const PlayerInfo& info : infos_) {
            named = named || (!log.empty() && info.log == log);
        }
        if (!named) {
            absent_.push_back({programName(commands_[i]), "bot", log, commands_[i], -1});
        }
    }
    for (const std::string& command : unstarted_) {
        absent_.push_back({programName(command), "bot", "", command, -1});
    }
    for (const PlayerInfo& a : absent_) {
        log_("\"" + a.command + "\" never named itself: absent", true);
    }
}

std::vector<PlayerInfo> ArenaServer::resultPlayers() const {
    std::vector<PlayerInfo> all = infos_;
    for (std::size_t p = 0; p < all.size(); ++p) {
        all[p].rejectedStates = overBudget(static_cast<std::int32_t>(p));
    }
    all.insert(all.end(), absent_.begin(), absent_.end());
    for (PlayerInfo& info : all) {
        for (std::size_t i = 0; i < logPaths_.size(); ++i) {
            if (!info.log.empty() && info.log == logPaths_[i]) {
                info.stopReason = stopped_[i];
            }
        }
    }
    return all;
}

}  // namespace nimbus::arena
