// nimbus-bot: plays one game against the server on 127.0.0.1 (port 1986, NIMBUS_ARENA_PORT or
// --port N) with the strategy --strategy names (faithful by default). Exits 0 after a game that
// the server ended, 1 when it never got a connection (or the sockets library did not start), 2
// for a bad command line; --help prints the usage, --list-strategies the strategies.
#include <cstdio>
#include <cstdlib>

#include "bot/app/options.hpp"
#include "bot/app/sockets_guard.hpp"
#include "bot/control/bot.hpp"
#include "bot/plan/planner.hpp"
#include "bot/platform/clock.hpp"

int main(int argc, char** argv) {
    const nimbus::BotOptions options =
        nimbus::parseBotOptions(argc, argv, std::getenv("NIMBUS_ARENA_PORT"));
    if (options.help) {
        std::fputs(nimbus::botUsage(), stdout);
        return 0;
    }
    if (options.listStrategies) {
        for (const std::string& name : nimbus::strategyNames())
            std::printf("%s\n", name.c_str());
        return 0;
    }
    if (!options.error.empty()) {
        std::fprintf(stderr, "nimbus-bot: %s (see nimbus-bot --help)\n", options.error.c_str());
        return 2;
    }
    const nimbus::SocketsGuard guard;
    nimbus::platform::SystemClock clock;
    bool connected = false;
    {
        nimbus::Bot bot(clock, options.port.c_str(), nimbus::makePlanner(options.strategy));
        connected = bot.link.enabled();
        bot.run();
        clock.sleep(1000);
    }
    return guard.ok() && connected ? 0 : 1;
}
