// The bot processes: started one after another, each once the one before it has connected (or
// after a while), so that connections can be told apart in launch order.
#include "arena/server/arena_server.hpp"

namespace nimbus::arena {

namespace {

constexpr auto kLaunchGap = std::chrono::seconds(3);  // the most a bot gets to connect in turn

}  // namespace

void ArenaServer::launchNext() {
    if (processes_.size() >= commands_.size() || phase_ >= Phase::Ending) {
        return;
    }
    const std::size_t i = processes_.size();
    const std::string path = options_.logDir + "/nimbus-arena-" + std::to_string(options_.seed) +
                             "-bot" + std::to_string(i + 1) + ".log";
    try {
        // A bot started by the arena can find it through NIMBUS_ARENA_PORT.
        processes_.push_back(std::make_unique<BotProcess>(
            commands_[i], path,
            std::vector<std::string>{"NIMBUS_ARENA_PORT=" + std::to_string(port())}));
        logPaths_.push_back(path);
        log_("started \"" + commands_[i] + "\" (log " + path + ")", false);
    } catch (const std::exception& e) {
        log_(e.what(), true);
        commands_.erase(commands_.begin() + static_cast<std::ptrdiff_t>(i));
        launchNext();
        return;
    }
    // The next bot starts once this one has connected, or after a while if it does not.
    launchTimer_.expires_after(kLaunchGap);
    launchTimer_.async_wait([this](const asio::error_code& ec) {
        if (ec) {
            return;
        }
        if (attributed_ < processes_.size()) {
            ++attributed_;  // it never connected; later connections belong to later bots
        }
        launchNext();
    });
}

}  // namespace nimbus::arena
