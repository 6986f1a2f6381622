#include "arena/game/results.hpp"

#include <algorithm>
#include <cstdio>

namespace nimbus::arena {

std::vector<ResultRow> rankPlayers(const Game& game, const std::vector<PlayerInfo>& players) {
    std::vector<ResultRow> rows;
    for (std::int32_t p = 0; p < game.settings().players; ++p) {
        ResultRow row;
        row.player = p;
        row.info = p < static_cast<std::int32_t>(players.size()) ? players[p] : PlayerInfo{};
        row.record = game.record(p);
        const Cloud* t = game.thunderstorm(p);
        row.finalMass = t != nullptr ? t->state.mass : 0.0f;
        rows.push_back(row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const ResultRow& a, const ResultRow& b) {
        const bool aIn = a.record.outAtTick < 0;
        const bool bIn = b.record.outAtTick < 0;
        if (aIn != bIn) {
            return aIn;
        }
        if (aIn) {
            return a.finalMass > b.finalMass;
        }
        return a.record.outAtTick > b.record.outAtTick;
    });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].rank = static_cast<std::int32_t>(i + 1);
    }
    return rows;
}

std::string resultsTable(const std::vector<ResultRow>& rows) {
    std::string out;
    char line[256];
    std::snprintf(line, sizeof line, "%-4s %-20s %-7s %10s %10s %6s %8s %9s %6s\n", "rank",
                  "player", "kind", "final", "peak", "winds", "refused", "swallowed", "out");
    out += line;
    for (const ResultRow& r : rows) {
        char outAt[16] = "-";
        if (r.record.outAtTick >= 0) {
            std::snprintf(outAt, sizeof outAt, "%d", r.record.outAtTick);
        }
        std::snprintf(line, sizeof line, "%-4d %-20.20s %-7s %10.2f %10.2f %6d %8d %9d %6s\n",
                      r.rank, r.info.name.c_str(), r.info.kind.c_str(),
                      static_cast<double>(r.finalMass), static_cast<double>(r.record.peakMass),
                      r.record.winds, r.record.rejectedWinds, r.record.swallowed, outAt);
        out += line;
    }
    return out;
}

nlohmann::json resultsJson(const Game& game, const std::vector<ResultRow>& rows) {
    nlohmann::json players = nlohmann::json::array();
    for (const ResultRow& r : rows) {
        nlohmann::json p = {
            {"name", r.info.name},
            {"kind", r.info.kind},
            {"rank", r.rank},
            {"final_mass", r.finalMass},
            {"peak_mass", r.record.peakMass},
            {"winds", r.record.winds},
            {"rejected_winds", r.record.rejectedWinds},
            {"swallowed", r.record.swallowed},
            {"out_at_tick", nullptr},
            {"log", r.info.log.empty() ? nlohmann::json(nullptr) : nlohmann::json(r.info.log)},
        };
        if (r.record.outAtTick >= 0) {
            p["out_at_tick"] = r.record.outAtTick;
        }
        players.push_back(p);
    }
    return {{"seed", game.settings().seed}, {"ticks", game.tick()}, {"players", players}};
}

}  // namespace nimbus::arena
