#include "tournament/standings.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "tournament/stats.hpp"

namespace nimbus::tournament {

namespace {

// A command is shown by its program's file name and its arguments; builtins as they are.
std::string shortLabel(const std::string& entrant) {
    const std::size_t space = entrant.find(' ');
    const std::string program = entrant.substr(0, space);
    const std::size_t slash = program.rfind('/');
    if (slash == std::string::npos) {
        return entrant;
    }
    return entrant.substr(slash + 1);
}

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string csvField(const std::string& text) {
    if (text.find_first_of(",\"\n") == std::string::npos) {
        return text;
    }
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

}  // namespace

void Standings::add(const GameOutcome& game) {
    ++games_;
    std::vector<Rating> before;
    std::vector<std::int32_t> ranks;
    for (const SeatResult& seat : game.seats) {
        before.push_back(tallies_[seat.entrant].rating);
        ranks.push_back(seat.rank);
    }
    const std::vector<RatingChange> changes = ratingChanges(before, ranks);
    for (std::size_t i = 0; i < game.seats.size(); ++i) {
        const SeatResult& seat = game.seats[i];
        Tally& t = tallies_[seat.entrant];
        t.wins += seat.rank == 1 ? 1 : 0;
        t.disconnects += seat.status == "disconnected" || seat.status == "absent" ? 1 : 0;
        t.rankSum += seat.rank;
        t.masses.push_back(seat.finalMass);
        t.rating.mu += changes[i].muDelta;
        t.rating.sigma *= std::sqrt(changes[i].varianceFactor);
    }
}

std::vector<StandingRow> Standings::rows() const {
    std::vector<StandingRow> rows;
    for (const auto& [entrant, t] : tallies_) {
        StandingRow row;
        row.entrant = entrant;
        row.label = shortLabel(entrant);
        row.games = static_cast<std::int32_t>(t.masses.size());
        row.wins = t.wins;
        row.meanRank = static_cast<double>(t.rankSum) / row.games;
        const MeanInterval mass = meanInterval(t.masses);
        row.meanFinalMass = mass.mean;
        row.massHalfWidth = mass.halfWidth;
        row.disconnects = t.disconnects;
        row.rating = t.rating;
        rows.push_back(row);
    }
    // Two commands in different folders may end in the same name: show those in full.
    for (StandingRow& row : rows) {
        const auto same = std::count_if(rows.begin(), rows.end(), [&row](const StandingRow& o) {
            return o.label == row.label || o.label == row.entrant;
        });
        if (same > 1) {
            row.label = row.entrant;
        }
    }
    std::sort(rows.begin(), rows.end(), [](const StandingRow& a, const StandingRow& b) {
        if (a.rating.ordinal() != b.rating.ordinal()) {
            return a.rating.ordinal() > b.rating.ordinal();
        }
        if (a.meanRank != b.meanRank) {
            return a.meanRank < b.meanRank;
        }
        return a.entrant < b.entrant;
    });
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].place = static_cast<std::int32_t>(i + 1);
    }
    return rows;
}

nlohmann::json standingsJson(const std::vector<StandingRow>& rows, std::int32_t games) {
    const RatingModel model;
    const Rating fresh;
    nlohmann::json entrants = nlohmann::json::array();
    for (const StandingRow& r : rows) {
        nlohmann::json interval = nullptr;
        if (r.massHalfWidth) {
            interval = {r.meanFinalMass - *r.massHalfWidth, r.meanFinalMass + *r.massHalfWidth};
        }
        entrants.push_back({{"place", r.place},
                            {"entrant", r.entrant},
                            {"label", r.label},
                            {"games", r.games},
                            {"wins", r.wins},
                            {"mean_rank", r.meanRank},
                            {"mean_final_mass", r.meanFinalMass},
                            {"final_mass_ci95", interval},
                            {"disconnects", r.disconnects},
                            {"mu", r.rating.mu},
                            {"sigma", r.rating.sigma},
                            {"ordinal", r.rating.ordinal()}});
    }
    return {{"games", games},
            {"rating_model",
             {{"name", "Weng-Lin Plackett-Luce"},
              {"mu0", fresh.mu},
              {"sigma0", fresh.sigma},
              {"beta", model.beta},
              {"kappa", model.kappa},
              {"ordinal", "mu - 3 sigma"}}},
            {"entrants", entrants}};
}

std::string standingsCsv(const std::vector<StandingRow>& rows) {
    std::string out =
        "place,entrant,games,wins,mean_rank,mean_final_mass,final_mass_ci95_low,"
        "final_mass_ci95_high,disconnects,mu,sigma,ordinal\n";
    for (const StandingRow& r : rows) {
        const std::string low = r.massHalfWidth ? fixed(r.meanFinalMass - *r.massHalfWidth, 3) : "";
        const std::string high = r.massHalfWidth ? fixed(r.meanFinalMass + *r.massHalfWidth, 3) : "";
        out += std::to_string(r.place) + "," + csvField(r.entrant) + "," +
               std::to_string(r.games) + "," + std::to_string(r.wins) + "," +
               fixed(r.meanRank, 4) + "," + fixed(r.meanFinalMass, 3) + "," + low + "," + high +
               "," + std::to_string(r.disconnects) + "," + fixed(r.rating.mu, 4) + "," +
               fixed(r.rating.sigma, 4) + "," + fixed(r.rating.ordinal(), 4) + "\n";
    }
    return out;
}

std::string standingsMarkdown(const std::vector<StandingRow>& rows) {
    std::vector<std::vector<std::string>> cells{{"#", "entrant", "games", "wins", "mean rank",
                                                 "final mass (95 % CI)", "disc.", "mu", "sigma",
                                                 "mu - 3 sigma"}};
    for (const StandingRow& r : rows) {
        const std::string mass =
            fixed(r.meanFinalMass, 1) +
            (r.massHalfWidth ? std::string(" ± ").append(fixed(*r.massHalfWidth, 1)) : std::string());
        cells.push_back({std::to_string(r.place), r.label, std::to_string(r.games),
                         std::to_string(r.wins), fixed(r.meanRank, 2), mass,
                         std::to_string(r.disconnects), fixed(r.rating.mu, 2),
                         fixed(r.rating.sigma, 2), fixed(r.rating.ordinal(), 2)});
    }
    // Widths in characters, counting the two-byte "±" as one.
    const auto width = [](const std::string& s) {
        std::size_t n = 0;
        for (unsigned char c : s) {
            n += (c & 0xC0) != 0x80 ? 1 : 0;
        }
        return n;
    };
    std::vector<std::size_t> widths(cells[0].size(), 3);
    for (const auto& line : cells) {
        for (std::size_t c = 0; c < line.size(); ++c) {
            widths[c] = std::max(widths[c], width(line[c]));
        }
    }
    std::string out;
    for (std::size_t l = 0; l < cells.size(); ++l) {
        out += "|";
        for (std::size_t c = 0; c < cells[l].size(); ++c) {
            const std::string pad(widths[c] - width(cells[l][c]), ' ');
            // Text columns to the left, figures to the right.
            out.push_back(' ');
            if (c == 1) {
                out.append(cells[l][c]).append(pad);
            } else {
                out.append(pad).append(cells[l][c]);
            }
            out.append(" |");
        }
        out += "\n";
        if (l == 0) {
            out += "|";
            for (std::size_t c = 0; c < widths.size(); ++c) {
                out.append(c == 1 ? ":" : "").append(widths[c] + 1, '-');
                out.append(c == 1 ? "|" : ":|");
            }
            out += "\n";
        }
    }
    return out;
}

}  // namespace nimbus::tournament
