#include "tournament/standings/standings_files.hpp"

#include <algorithm>
#include <cctype>
#include <set>
#include <stdexcept>

#include "tournament/records/tournament_folder.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

namespace {

// Compares runs of digits by value, everything else by character.
bool naturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) &&
            std::isdigit(static_cast<unsigned char>(b[j]))) {
            std::size_t ei = i;
            std::size_t ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) {
                ++ei;
            }
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) {
                ++ej;
            }
            std::string da = a.substr(i, ei - i);
            std::string db = b.substr(j, ej - j);
            da.erase(0, std::min(da.find_first_not_of('0'), da.size() - 1));
            db.erase(0, std::min(db.find_first_not_of('0'), db.size() - 1));
            if (da.size() != db.size()) {
                return da.size() < db.size();
            }
            if (da != db) {
                return da < db;
            }
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) {
                return a[i] < b[j];
            }
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

}  // namespace

std::vector<fs::path> findResults(const std::vector<fs::path>& folders) {
    std::vector<fs::path> all;
    std::set<fs::path> seen;
    for (const fs::path& folder : folders) {
        std::vector<fs::path> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().filename() == "results.json") {
                found.push_back(it->path());
            }
        }
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return naturalLess(a.generic_string(), b.generic_string());
        });
        for (const fs::path& p : found) {
            if (seen.insert(fs::weakly_canonical(p, ec)).second) {
                all.push_back(p);
            }
        }
    }
    return all;
}

const std::optional<TournamentConfig>& Expectations::tournamentIn(const fs::path& dir) {
    auto known = tournaments_.find(dir);
    if (known == tournaments_.end()) {
        std::optional<TournamentConfig> config;
        try {
            config = readTournament(dir);
        } catch (const std::exception&) {
            config.reset();  // not a tournament's folder
        }
        known = tournaments_.emplace(dir, config).first;
    }
    return known->second;
}

ExpectedGame Expectations::of(const fs::path& results, std::string& foreign) {
    foreign.clear();
    const fs::path folder = results.parent_path();
    const FileText gameFile = readWholeFile(folder / "game.json", 1u << 20);
    const nlohmann::json game = gameFile.problem.empty()
                                    ? nlohmann::json::parse(gameFile.text, nullptr, false)
                                    : nlohmann::json();
    const std::string name = folder.filename().string();
    const bool numbered = !name.empty() && name.size() < 10 && name[0] != '0' &&
                          name.find_first_not_of("0123456789") == std::string::npos;
    if (numbered && folder.parent_path().filename() == "games") {
        const fs::path root = folder.parent_path().parent_path();
        const std::optional<TournamentConfig>& known = tournamentIn(root);
        const std::int32_t n = std::stoi(name);
        if (known && n <= known->games) {
            const TournamentConfig& config = *known;
            if (gameFile.exists && !(game.is_object() && game.contains("tournament") &&
                                     game["tournament"] == tournamentId(config))) {
                foreign = "its game.json belongs to another tournament than " +
                          (root / "tournament.json").string() + "'s";
            }
            const auto roster = static_cast<std::int32_t>(config.roster.size());
            return expectedGame(config, scheduledGame(n, roster, config.players, config.seedBase));
        }
    }
    // Inside a tournament's folder, anything but one of its games is no game of it.
    for (fs::path above = folder; !above.empty(); above = above.parent_path()) {
        if (tournamentIn(above)) {
            foreign = "not one of the games of the tournament in " + above.string();
            break;
        }
        if (above == above.parent_path()) {
            break;
        }
    }
    ExpectedGame expected;
    if (game.is_object() && game.contains("seats") && game["seats"].is_array()) {
        std::vector<std::string> seats;
        for (const nlohmann::json& seat : game["seats"]) {
            seats.push_back(seat.is_string() ? seat.get<std::string>() : std::string());
        }
        expected.seats = std::move(seats);
        if (game.contains("seed") && game["seed"].is_number_unsigned()) {
            expected.seed = game["seed"].get<std::uint64_t>();
        }
    }
    return expected;
}

void writeStandingsFiles(const fs::path& dir, const Standings& standings) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
        throw std::runtime_error("cannot create " + dir.string() +
                                 (ec ? ": " + ec.message() : std::string()));
    }
    const std::vector<StandingRow> rows = standings.rows();
    writeWhole(dir / "standings.json", standingsJson(standings).dump(2) + "\n");
    writeWhole(dir / "standings.csv", standingsCsv(rows));
    writeWhole(dir / "standings.md", standingsMarkdown(rows));
}

}  // namespace nimbus::tournament
