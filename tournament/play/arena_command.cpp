#include "tournament/play/arena_command.hpp"

#include <cstdio>

#include "util/sandbox_settings.hpp"

namespace nimbus::tournament {

std::filesystem::path gameFolder(const std::filesystem::path& dir, std::int32_t number) {
    return dir / "games" / std::to_string(number);
}

std::vector<std::string> arenaArguments(const std::string& arena, const TournamentConfig& config,
                                        const GameSpec& game, const std::filesystem::path& folder) {
    std::vector<std::string> args{arena, "--port", "0", "--quiet", "--seed",
                                  std::to_string(game.seed)};
    const ArenaSettings& a = config.arena;
    if (a.ticks) {
        args.insert(args.end(), {"--ticks", std::to_string(*a.ticks)});
    }
    if (a.tickMs) {
        args.insert(args.end(), {"--tick-ms", std::to_string(*a.tickMs)});
    }
    if (a.rainclouds) {
        args.insert(args.end(), {"--rainclouds", std::to_string(*a.rainclouds)});
    }
    if (a.lobbySeconds) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", *a.lobbySeconds);
        args.insert(args.end(), {"--lobby-seconds", seconds});
    }
    if (config.sandbox) {
        const std::vector<std::string> sandbox = util::sandboxArguments(*config.sandbox);
        args.insert(args.end(), sandbox.begin(), sandbox.end());
    }
    args.insert(args.end(), {"--results", (folder / "results.json").string(), "--replay",
                             (folder / "replay.jsonl.gz").string(), "--log-dir", folder.string()});
    for (std::int32_t seat : game.seats) {
        args.push_back(config.roster[static_cast<std::size_t>(seat)]);
    }
    return args;
}

std::string shellQuote(const std::string& word) {
    bool safe = !word.empty();
    for (char c : word) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || std::string_view("-_./:=+,@%").find(c) !=
                                                         std::string_view::npos;
        safe = safe && plain;
    }
    if (safe) {
        return word;
    }
    std::string quoted = "'";
    for (char c : word) {
        if (c == '\'') {
            quoted.append("'\\''");
        } else {
            quoted.push_back(c);
        }
    }
    quoted.push_back('\'');
    return quoted;
}

std::string jobLine(const std::string& arena, const TournamentConfig& config, const GameSpec& game,
                    const std::filesystem::path& folder) {
    std::string line = "mkdir -p ";
    line.append(shellQuote(folder.string())).append(" &&");
    for (const std::string& arg : arenaArguments(arena, config, game, folder)) {
        line.append(" ").append(shellQuote(arg));
    }
    return line.append(" > ").append(shellQuote((folder / "arena.log").string())).append(" 2>&1");
}

std::string planLine(const std::string& arena, const TournamentConfig& config,
                     const std::filesystem::path& dir, std::int32_t number) {
    const auto roster = static_cast<std::int32_t>(config.roster.size());
    const GameSpec game = scheduledGame(number, roster, config.players, config.seedBase);
    return jobLine(arena, config, game, gameFolder(dir, number));
}

}  // namespace nimbus::tournament
