#include "arena/game/results.hpp"

#include <algorithm>
#include <cstdio>

#include "util/sandbox_settings.hpp"

namespace nimbus::arena {

namespace {

nlohmann::json tickOrNull(std::int32_t tick) {
    return tick >= 0 ? nlohmann::json(tick) : nlohmann::json(nullptr);
}

nlohmann::json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::json(nullptr) : nlohmann::json(text);
}

// The name in a column `width` characters wide: cut after `width` characters (never inside
// one), padded with spaces.
std::string nameColumn(const std::string& name, std::size_t width) {
    std::size_t end = 0;
    std::size_t characters = 0;
    while (end < name.size() && characters < width) {
        ++end;
        while (end < name.size() && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) {
            ++end;  // continuation bytes belong to the character before
        }
        ++characters;
    }
    return name.substr(0, end) + std::string(width - characters, ' ');
}

// Better rows first; false for rows that tie (the stable sort keeps index order).
bool ranksAbove(const ResultRow& a, const ResultRow& b) {
    if (a.status != b.status) {
        return a.status < b.status;
    }
    switch (a.status) {
        case PlayerStatus::Playing:
            return a.finalMass > b.finalMass;
        case PlayerStatus::Out:
            return a.record.outAtTick > b.record.outAtTick;
        case PlayerStatus::Disconnected:
            if (a.info.leftAtTick != b.info.leftAtTick) {
                return a.info.leftAtTick > b.info.leftAtTick;
            }
            return a.finalMass > b.finalMass;
        case PlayerStatus::Absent:
            break;
    }
    return false;
}

}  // namespace

const char* statusName(PlayerStatus status) {
    switch (status) {
        case PlayerStatus::Playing:
            return "playing";
        case PlayerStatus::Out:
            return "out";
        case PlayerStatus::Disconnected:
            return "disconnected";
        case PlayerStatus::Absent:
            break;
    }
    return "absent";
}

const char* replayStateName(ReplayState state) {
    switch (state) {
        case ReplayState::Whole:
            return "whole";
        case ReplayState::Partial:
            return "partial";
        case ReplayState::None:
            break;
    }
    return "none";
}

const char* programVersion() {
    return NIMBUS_VERSION;
}

std::vector<ResultRow> rankPlayers(const Game* game, const std::vector<PlayerInfo>& players) {
    const std::int32_t inGame = game != nullptr ? game->settings().players : 0;
    const std::int32_t listed = std::max(inGame, static_cast<std::int32_t>(players.size()));
    std::vector<ResultRow> rows;
    for (std::int32_t p = 0; p < listed; ++p) {
        ResultRow row;
        row.player = p;
        row.info = p < static_cast<std::int32_t>(players.size()) ? players[p] : PlayerInfo{};
        if (p >= inGame) {
            row.status = PlayerStatus::Absent;
            row.info.leftAtTick = -1;
        } else {
            row.record = game->record(p);
            const Cloud* t = game->thunderstorm(p);
            row.finalMass = t != nullptr ? t->state.mass : 0.0f;
            // Leaving comes first: a cloud swallowed after its player left was already judged.
            if (row.info.leftAtTick >= 0) {
                row.status = PlayerStatus::Disconnected;
            } else if (row.record.outAtTick >= 0) {
                row.status = PlayerStatus::Out;
            }
        }
        rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), ranksAbove);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].rank = static_cast<std::int32_t>(i + 1);
    }
    return rows;
}

std::string resultsTable(const std::vector<ResultRow>& rows) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-4s %-20s %-7s %-12s %10s %10s %6s %8s %9s %6s %6s\n",
                  "rank", "player", "kind", "status", "final", "peak", "winds", "refused",
                  "swallowed", "out", "left");
    out += line;
    for (const ResultRow& r : rows) {
        char outAt[16] = "-";
        char leftAt[16] = "-";
        if (r.record.outAtTick >= 0) {
            std::snprintf(outAt, sizeof outAt, "%d", r.record.outAtTick);
        }
        if (r.info.leftAtTick >= 0) {
            std::snprintf(leftAt, sizeof leftAt, "%d", r.info.leftAtTick);
        }
        std::snprintf(
            line, sizeof line, "%-4d %s %-7s %-12s %10.2f %10.2f %6lld %8lld %9lld %6s %6s\n",
            r.rank, nameColumn(r.info.name, 20).c_str(), r.info.kind.c_str(), statusName(r.status),
            static_cast<double>(r.finalMass), static_cast<double>(r.record.peakMass),
            static_cast<long long>(r.record.winds), static_cast<long long>(r.record.rejectedWinds),
            static_cast<long long>(r.record.swallowed), outAt, leftAt);
        out += line;
    }
    return out;
}

nlohmann::json resultsJson(const ResultsSummary& summary, const std::vector<ResultRow>& rows) {
    nlohmann::json players = nlohmann::json::array();
    for (const ResultRow& r : rows) {
        players.push_back({
            {"index", r.player},
            {"name", r.info.name},
            {"kind", r.info.kind},
            {"command", textOrNull(r.info.command)},
            {"status", statusName(r.status)},
            {"left_at_tick", tickOrNull(r.info.leftAtTick)},
            {"rank", summary.played ? nlohmann::json(r.rank) : nlohmann::json(nullptr)},
            {"final_mass", r.finalMass},
            {"peak_mass", r.record.peakMass},
            {"winds", r.record.winds},
            {"rejected_winds", r.record.rejectedWinds},
            {"rejected_states", r.info.rejectedStates},
            {"swallowed", r.record.swallowed},
            {"out_at_tick", tickOrNull(r.record.outAtTick)},
            {"log", textOrNull(r.info.log)},
            {"stop_reason", textOrNull(r.info.stopReason)},
        });
    }
    nlohmann::json pacing = nullptr;
    if (summary.pacing) {
        pacing = {{"tick_lag_p50_ms", summary.pacing->lagP50Ms},
                  {"tick_lag_p99_ms", summary.pacing->lagP99Ms},
                  {"tick_lag_max_ms", summary.pacing->lagMaxMs},
                  {"largest_catch_up_ticks", summary.pacing->largestCatchUp}};
    }
    return {
        {"version", programVersion()},
        {"played", summary.played},
        {"seed", summary.seed},
        {"ticks", summary.ticksRequested},
        {"ticks_played", summary.ticksPlayed},
        {"end_reason", summary.endReason},
        {"settings",
         {{"seed", summary.seed},
          {"tick_ms", summary.tickMs},
          {"rainclouds", summary.rainclouds},
          {"players", rows.size()},
          {"sandbox", util::sandboxJson(summary.sandbox)}}},
        {"pacing", pacing},
        {"replay",
         {{"state", replayStateName(summary.replay.state)},
          {"problem", textOrNull(summary.replay.problem)}}},
        {"players", players},
    };
}

}  // namespace nimbus::arena
