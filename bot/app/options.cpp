#include "bot/app/options.hpp"

#include <algorithm>
#include <cstring>

#include "bot/plan/planner.hpp"

namespace nimbus {

namespace {

// A port number: decimal digits only, 1 to 65535 (leading zeros allowed).
bool validPort(const std::string& text) {
    if (text.empty() || text.size() > 10) {
        return false;
    }
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535;
}

std::string canonical(const std::string& text) {
    const std::size_t first = text.find_first_not_of('0');
    return text.substr(first);
}

}  // namespace

const char* botUsage() {
    return "usage: nimbus-bot [--port N] [--strategy NAME]\n"
           "Plays one game of nimbus against the server on 127.0.0.1 and exits.\n"
           "  --port N           the server's TCP port (default: NIMBUS_ARENA_PORT if set, else "
           "1986)\n"
           "  --strategy NAME    how to play (default: faithful); see --list-strategies\n"
           "  --list-strategies  print the strategy names, one a line, and exit\n"
           "  -h, --help         print this text and exit\n"
           "Exit status: 0 after a game the server ended, 1 when no connection was made,\n"
           "2 for a bad command line or NIMBUS_ARENA_PORT.\n";
}

BotOptions parseBotOptions(int argc, const char* const* argv, const char* environmentPort) {
    BotOptions options;
    std::string flagPort;
    bool portGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--list-strategies") {
            options.listStrategies = true;
        } else if (arg == "--strategy") {
            if (i + 1 >= argc) {
                options.error = "--strategy needs a name";
                return options;
            }
            options.strategy = argv[++i];
        } else if (arg.rfind("--strategy=", 0) == 0) {
            options.strategy = arg.substr(std::strlen("--strategy="));
        } else if (arg == "--port") {
            if (i + 1 >= argc) {
                options.error = "--port needs a value";
                return options;
            }
            flagPort = argv[++i];
            portGiven = true;
        } else if (arg.rfind("--port=", 0) == 0) {
            flagPort = arg.substr(std::strlen("--port="));
            portGiven = true;
        } else {
            options.error = "unknown argument \"" + arg + "\"";
            return options;
        }
    }
    if (options.help || options.listStrategies) {
        return options;
    }
    const std::vector<std::string> names = strategyNames();
    if (std::find(names.begin(), names.end(), options.strategy) == names.end()) {
        std::string known;
        for (const std::string& name : names)
            known += (known.empty() ? "" : ", ") + name;
        options.error = "unknown strategy \"" + options.strategy + "\" (known: " + known + ")";
        return options;
    }
    if (portGiven) {
        if (!validPort(flagPort)) {
            options.error = "--port " + flagPort + " is not a port number (1 to 65535)";
            return options;
        }
        options.port = canonical(flagPort);
    } else if (environmentPort != nullptr && environmentPort[0] != '\0') {
        if (!validPort(environmentPort)) {
            options.error = std::string("NIMBUS_ARENA_PORT=") + environmentPort +
                            " is not a port number (1 to 65535)";
            return options;
        }
        options.port = canonical(environmentPort);
    }
    return options;
}

}  // namespace nimbus
