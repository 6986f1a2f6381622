#include "tournament/standings/standings.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "tournament/records/entrant.hpp"
#include "tournament/standings/stats.hpp"
#include "tournament/records/whole_file.hpp"

namespace nimbus::tournament {

namespace {

std::string fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// A text cell: quoted when it holds a separator, a quote or a line break; one that a spreadsheet
// would read as a formula (= + - @, tab, CR first) is quoted with a ' in front.
std::string csvField(const std::string& text) {
    const bool formula =
        !text.empty() && std::string_view("=+-@\t\r").find(text[0]) != std::string_view::npos;
    if (!formula && text.find_first_of(",\"\r\n") == std::string::npos) {
        return text;
    }
    std::string quoted = formula ? "\"'" : "\"";
    for (char c : text) {
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    }
    return quoted + "\"";
}

// A Markdown table cell: '|' (and '\\', which could undo that) escaped.
std::string markdownCell(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '|' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out;
}

}  // namespace

void Standings::know(const std::vector<std::string>& entrants) {
    known_.insert(entrants.begin(), entrants.end());
}

void Standings::notePresence(const GameOutcome& outcome) {
    for (const SeatResult& seat : outcome.seats) {
        Presence& p = presence_[seat.entrant];
        ++p.seats;
        if (seat.status == "absent") {
            ++p.absent;
            p.log = seat.log.empty() ? p.log : seat.log;
        }
    }
}

void Standings::add(const GameOutcome& outcome, const std::string& game) {
    ++games_;
    sandboxed_ += outcome.sandboxed ? 1 : 0;
    notePresence(outcome);
    std::vector<Rating> before;
    std::vector<std::int32_t> ranks;
    for (const SeatResult& seat : outcome.seats) {
        before.push_back(tallies_[seat.entrant].rating);
        ranks.push_back(seat.rank);
    }
    const std::vector<RatingChange> changes = ratingChanges(before, ranks);
    for (std::size_t i = 0; i < outcome.seats.size(); ++i) {
        const SeatResult& seat = outcome.seats[i];
        Tally& t = tallies_[seat.entrant];
        t.wins += seat.rank == 1 ? 1 : 0;
        t.disconnects += seat.status == "disconnected" || seat.status == "absent" ? 1 : 0;
        t.rankSum += seat.rank;
        t.mass.add(seat.finalMass);
        t.rating.mu += changes[i].muDelta;
        t.rating.sigma *= std::sqrt(changes[i].varianceFactor);
    }
    if (outcome.pacing) {
        if (!pacing_) {
            pacing_ = PacingReport{game, *outcome.pacing, 0};
        } else if (outcome.pacing->p99Ms > pacing_->worst.p99Ms) {
            pacing_->game = game;
            pacing_->worst = *outcome.pacing;
        }
        pacing_->unfair += outcome.pacing->p99Ms > kFairLagMs ? 1 : 0;
    }
}

void Standings::noteUnplayed(const GameOutcome& outcome) {
    notePresence(outcome);
}

std::map<std::string, std::string> Standings::labels() const {
    std::vector<std::string> all(known_.begin(), known_.end());
    for (const auto& [entrant, p] : presence_) {
        all.push_back(entrant);
    }
    return entrantLabels(all);
}

std::vector<StandingRow> Standings::rows() const {
    const std::map<std::string, std::string> label = labels();
    std::vector<StandingRow> rows;
    for (const auto& [entrant, t] : tallies_) {
        StandingRow row;
        row.entrant = entrant;
        row.label = label.at(entrant);
        row.games = static_cast<std::int32_t>(t.mass.count());
        row.wins = t.wins;
        row.meanRank = static_cast<double>(t.rankSum) / row.games;
        const MeanInterval mass = t.mass.interval();
        row.meanFinalMass = mass.mean;
        row.massHalfWidth = mass.halfWidth;
        row.massSd = mass.sd;
        row.disconnects = t.disconnects;
        row.rating = t.rating;
        rows.push_back(row);
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

std::string Standings::leader() const {
    const std::vector<StandingRow> all = rows();
    return all.empty() ? std::string() : all.front().label;
}

std::vector<NeverConnected> Standings::neverConnected() const {
    const std::map<std::string, std::string> label = labels();
    std::vector<NeverConnected> out;
    for (const auto& [entrant, p] : presence_) {
        if (p.seats > 0 && p.absent == p.seats) {
            out.push_back({entrant, label.at(entrant), p.seats, p.log});
        }
    }
    return out;
}

std::vector<std::string> logTail(const std::string& path, std::size_t count) {
    std::vector<std::string> lines;
    if (path.empty()) {
        return lines;
    }
    std::string text = readFileTail(path, 16u << 10).text;
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    while (!text.empty() && lines.size() < count) {
        const std::size_t cut = text.rfind('\n');
        const std::size_t from = cut == std::string::npos ? 0 : cut + 1;
        lines.insert(lines.begin(), printable(text.substr(from)));
        text.resize(cut == std::string::npos ? 0 : cut);
    }
    return lines;
}

std::string pacingText(const Pacing& p) {
    return "tick lag p50 " + fixed(p.p50Ms, 1) + " ms, p99 " + fixed(p.p99Ms, 1) + " ms, max " +
           fixed(p.maxMs, 1) + " ms, largest catch-up " + std::to_string(p.catchUpTicks) + " ticks";
}

std::vector<std::string> closingReport(const Standings& standings) {
    std::vector<std::string> lines;
    if (standings.sandboxedGames() > 0) {
        lines.push_back("sandbox: " + std::to_string(standings.sandboxedGames()) + " of " +
                        std::to_string(standings.games()) +
                        " games played with every bot in a sandbox (--sandbox)");
    }
    if (const auto& p = standings.pacing()) {
        lines.push_back("worst pacing: " + printable(p->game) + ", " + pacingText(p->worst));
        if (p->unfair > 0) {
            lines.push_back("warning: " + std::to_string(p->unfair) +
                            " games had a tick lag p99 over 4 ms: not fair to real-time bots "
                            "(fewer games at once, --parallel, would help)");
        }
    }
    for (const NeverConnected& n : standings.neverConnected()) {
        lines.push_back(
            "warning: " + n.label + " never connected in any of its " + std::to_string(n.seats) +
            " seats" +
            (n.log.empty() ? std::string(".") : "; the last lines of " + printable(n.log) + ":"));
        for (const std::string& line : logTail(n.log)) {
            lines.push_back("  | " + line);
        }
    }
    return lines;
}

nlohmann::json standingsJson(const Standings& standings) {
    const RatingModel model;
    const Rating fresh;
    nlohmann::json entrants = nlohmann::json::array();
    for (const StandingRow& r : standings.rows()) {
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
                            {"final_mass_sd", r.massSd ? nlohmann::json(*r.massSd) : nullptr},
                            {"disconnects", r.disconnects},
                            {"mu", r.rating.mu},
                            {"sigma", r.rating.sigma},
                            {"ordinal", r.rating.ordinal()}});
    }
    nlohmann::json never = nlohmann::json::array();
    for (const NeverConnected& n : standings.neverConnected()) {
        never.push_back({{"entrant", n.entrant},
                         {"label", n.label},
                         {"seats", n.seats},
                         {"log", n.log.empty() ? nlohmann::json(nullptr) : nlohmann::json(n.log)},
                         {"log_tail", logTail(n.log)}});
    }
    nlohmann::json pacing = nullptr;
    if (const auto& p = standings.pacing()) {
        pacing = {{"worst_game", p->game},
                  {"tick_lag_p50_ms", p->worst.p50Ms},
                  {"tick_lag_p99_ms", p->worst.p99Ms},
                  {"tick_lag_max_ms", p->worst.maxMs},
                  {"largest_catch_up_ticks", p->worst.catchUpTicks},
                  {"games_over_4_ms", p->unfair}};
    }
    return {{"games", standings.games()},
            {"sandboxed_games", standings.sandboxedGames()},
            {"rating_model",
             {{"name", "Weng-Lin Plackett-Luce"},
              {"mu0", fresh.mu},
              {"sigma0", fresh.sigma},
              {"beta", model.beta},
              {"kappa", model.kappa},
              {"ordinal", "mu - 3 sigma"}}},
            {"entrants", entrants},
            {"never_connected", never},
            {"pacing", pacing}};
}

std::string standingsCsv(const std::vector<StandingRow>& rows) {
    std::string out =
        "place,label,entrant,games,wins,mean_rank,mean_final_mass,final_mass_ci95_low,"
        "final_mass_ci95_high,disconnects,mu,sigma,ordinal\n";
    for (const StandingRow& r : rows) {
        const std::string low = r.massHalfWidth ? fixed(r.meanFinalMass - *r.massHalfWidth, 3) : "";
        const std::string high =
            r.massHalfWidth ? fixed(r.meanFinalMass + *r.massHalfWidth, 3) : "";
        out += std::to_string(r.place) + "," + csvField(r.label) + "," + csvField(r.entrant) + "," +
               std::to_string(r.games) + "," + std::to_string(r.wins) + "," + fixed(r.meanRank, 4) +
               "," + fixed(r.meanFinalMass, 3) + "," + low + "," + high + "," +
               std::to_string(r.disconnects) + "," + fixed(r.rating.mu, 4) + "," +
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
            fixed(r.meanFinalMass, 1) + (r.massHalfWidth
                                             ? std::string(" ± ").append(fixed(*r.massHalfWidth, 1))
                                             : std::string());
        cells.push_back({std::to_string(r.place), markdownCell(r.label), std::to_string(r.games),
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
