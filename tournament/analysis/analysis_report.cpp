#include "tournament/analysis/analysis_report.hpp"

#include <cstdio>

namespace nimbus::tournament {

namespace {

const char* const kChaseEndNames[kChaseEnds] = {"caught", "taken", "switched",
                                                "missed", "died",  "cut"};

std::string fixed(double v, int decimals = 1) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

// A Markdown table row from its cells.
std::string row(const std::vector<std::string>& cells) {
    std::string line = "|";
    for (const std::string& c : cells)
        line.append(" ").append(c).append(" |");
    return line.append("\n");
}

std::string labelOf(const std::string& entrant, const AnalysisReport::Labels& labels) {
    const auto it = labels.find(entrant);
    return it != labels.end() ? it->second : entrant;
}

}  // namespace

void AnalysisReport::add(const std::vector<std::string>& entrants,
                         const std::vector<PlayerFigures>& figures) {
    ++games_;
    for (std::size_t p = 0; p < figures.size() && p < entrants.size(); ++p) {
        const std::string& name = entrants[p];
        if (!tallies_.contains(name))
            order_.push_back(name);
        Tally& t = tallies_[name];
        const PlayerFigures& f = figures[p];
        t.seats += 1;
        t.sum.startMass += f.startMass;
        t.sum.finalMass += f.finalMass;
        t.sum.rainGain += f.rainGain;
        t.sum.playerGain += f.playerGain;
        t.sum.windSpent += f.windSpent;
        t.sum.lostSwallowed += f.lostSwallowed;
        t.sum.winds += f.winds;
        t.sum.rainCaught += f.rainCaught;
        t.sum.playersCaught += f.playersCaught;
        t.sum.chaseWind += f.chaseWind;
        t.sum.missedChaseWind += f.missedChaseWind;
        for (std::size_t e = 0; e < kChaseEnds; ++e)
            t.sum.chases[e] += f.chases[e];
        if (f.outAtTick >= 0) {
            if (f.swallowedBy < 0 || static_cast<std::size_t>(f.swallowedBy) >= entrants.size())
                t.deathsByRain += 1;
            else
                t.deathsBy[entrants[static_cast<std::size_t>(f.swallowedBy)]] += 1;
        }
    }
}

std::string AnalysisReport::markdown(const Labels& labels) const {
    std::string out = row({"entrant", "seats", "final mass", "from rainclouds", "from players",
                           "spent on winds", "lost when swallowed", "winds", "gain per wind",
                           "deaths", "by rainclouds", "by players"});
    out += "|:--|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|:--|\n";
    for (const std::string& name : order_) {
        const Tally& t = tally(name);
        const double n = t.seats;
        const double gain = t.sum.rainGain + t.sum.playerGain;
        std::int32_t deaths = t.deathsByRain;
        std::string byPlayers;
        for (const auto& [by, count] : t.deathsBy) {
            deaths += count;
            if (!byPlayers.empty())
                byPlayers.append(", ");
            byPlayers.append(std::to_string(count)).append(" ").append(labelOf(by, labels));
        }
        out += row(
            {labelOf(name, labels), std::to_string(t.seats), fixed(t.sum.finalMass / n),
             fixed(t.sum.rainGain / n), fixed(t.sum.playerGain / n), fixed(t.sum.windSpent / n),
             fixed(t.sum.lostSwallowed / n), fixed(double(t.sum.winds) / n),
             t.sum.windSpent > 0.0 ? fixed(gain / t.sum.windSpent, 2) : "-", std::to_string(deaths),
             std::to_string(t.deathsByRain), byPlayers.empty() ? "-" : byPlayers});
    }
    out.append("\n");
    out += row({"entrant", "chases", "caught", "taken", "switched", "missed", "died", "cut",
                "wind in caught chases", "in missed chases", "outside chases"});
    out += "|:--|--:|--:|--:|--:|--:|--:|--:|--:|--:|--:|\n";
    for (const std::string& name : order_) {
        const Tally& t = tally(name);
        const double n = t.seats;
        std::int32_t chases = 0;
        for (std::int32_t c : t.sum.chases)
            chases += c;
        std::vector<std::string> cells{labelOf(name, labels), std::to_string(chases)};
        for (std::int32_t c : t.sum.chases)
            cells.push_back(std::to_string(c));
        cells.push_back(fixed((t.sum.chaseWind - t.sum.missedChaseWind) / n));
        cells.push_back(fixed(t.sum.missedChaseWind / n));
        cells.push_back(fixed((t.sum.windSpent - t.sum.chaseWind) / n));
        out += row(cells);
    }
    return out;
}

nlohmann::json AnalysisReport::json(const Labels& labels) const {
    nlohmann::json entrants = nlohmann::json::array();
    for (const std::string& name : order_) {
        const Tally& t = tally(name);
        const double n = t.seats;
        nlohmann::json deaths = {{"raincloud", t.deathsByRain}};
        for (const auto& [by, count] : t.deathsBy)
            deaths[labelOf(by, labels)] = count;
        nlohmann::json chases = nlohmann::json::object();
        for (std::size_t e = 0; e < kChaseEnds; ++e)
            chases[kChaseEndNames[e]] = t.sum.chases[e];
        const double gain = t.sum.rainGain + t.sum.playerGain;
        entrants.push_back(
            {{"entrant", name},
             {"label", labelOf(name, labels)},
             {"seats", t.seats},
             {"final_mass", t.sum.finalMass / n},
             {"rain_gain", t.sum.rainGain / n},
             {"player_gain", t.sum.playerGain / n},
             {"wind_spent", t.sum.windSpent / n},
             {"lost_swallowed", t.sum.lostSwallowed / n},
             {"winds", double(t.sum.winds) / n},
             {"gain_per_wind",
              t.sum.windSpent > 0.0 ? nlohmann::json(gain / t.sum.windSpent) : nlohmann::json()},
             {"deaths", deaths},
             {"chases", chases},
             {"chase_wind", t.sum.chaseWind / n},
             {"missed_chase_wind", t.sum.missedChaseWind / n}});
    }
    return {{"games", games_}, {"entrants", entrants}};
}

}  // namespace nimbus::tournament
