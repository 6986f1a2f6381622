// nimbus-analyze: where the entrants of a tournament won and lost their mass. Reads every game
// under the folders (results.json and the replay beside it), re-runs each from its seed and winds,
// and prints per entrant the standings and the figures of tournament/game_analysis.hpp: mass won
// from rainclouds and from players, spent on winds, lost when swallowed, winds, gain per unit of
// wind, deaths and their causes, chases and how they ended.
//   nimbus-analyze games/t1 [--json analysis.json]
#include <cstdio>
#include <filesystem>
#include <fstream>

#include <CLI/CLI.hpp>

#include "tournament/analysis/analysis_report.hpp"
#include "tournament/records/entrant.hpp"
#include "tournament/records/game_result.hpp"
#include "tournament/analysis/recorded_game.hpp"
#include "tournament/standings/standings.hpp"
#include "tournament/standings/standings_files.hpp"

namespace {

namespace fs = std::filesystem;
namespace nt = nimbus::tournament;

// What the games read so far add up to.
struct Totals {
    nt::Standings standings;
    nt::Expectations expectations;
    nt::AnalysisReport report;
    int skipped = 0;
};

// The game of a results file, re-run from its replay and added to the totals; why not, when it
// cannot be (the game is not finished, not the tournament's, or its replay is not its own).
std::string addGame(const fs::path& results, Totals& totals) {
    const fs::path replay = nt::replayBeside(results);
    std::string problem;
    const nt::LoadedGame game = nt::loadGame(results, totals.expectations.of(results, problem));
    if (!problem.empty())
        return problem;
    if (game.state != nt::GameState::Finished)
        return game.problem.empty() ? "no finished game" : game.problem;
    try {
        const nt::RecordedGame recorded = nt::readRecordedGame(replay, game.outcome);
        std::vector<std::string> entrants(static_cast<std::size_t>(recorded.settings.players));
        for (const nt::SeatResult& seat : game.outcome.seats) {
            if (seat.player >= 0 && seat.player < recorded.settings.players)
                entrants[static_cast<std::size_t>(seat.player)] = seat.entrant;
        }
        totals.report.add(entrants, nt::analyzeGame(recorded));
        totals.standings.add(game.outcome);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "";
}

// The tables on standard output, and with a path the figures as JSON.
void report(const Totals& totals, const std::string& jsonPath) {
    nt::AnalysisReport::Labels labels;
    for (const nt::StandingRow& row : totals.standings.rows())
        labels[row.entrant] = row.label;
    const std::string skips =
        totals.skipped > 0 ? ", " + std::to_string(totals.skipped) + " skipped" : "";
    std::printf("%d games%s\n\n%s\n%s", totals.report.games(), skips.c_str(),
                nt::standingsMarkdown(totals.standings.rows()).c_str(),
                totals.report.markdown(labels).c_str());
    if (!jsonPath.empty()) {
        nlohmann::json json = totals.report.json(labels);
        json["standings"] = nt::standingsJson(totals.standings);
        nt::writeWhole(jsonPath, json.dump(2) + "\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "nimbus-analyze: per entrant, where the mass of a tournament's games came from and "
        "went (re-runs every game from its replay). Exit codes: 0 done, 1 no game could "
        "be analysed, 2 usage error."};
    std::vector<std::string> folders;
    std::string jsonPath;
    app.add_option("FOLDER", folders, "tournament folders (or any folders holding games)")
        ->required()
        ->check(CLI::ExistingDirectory);
    app.add_option("--json", jsonPath, "also write the figures as JSON to FILE");
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }

    Totals totals;
    for (const fs::path& results : nt::findResults({folders.begin(), folders.end()})) {
        if (const std::string problem = addGame(results, totals); !problem.empty()) {
            ++totals.skipped;
            std::fprintf(stderr, "nimbus-analyze: skipped %s (%s)\n",
                         nt::printable(results.string()).c_str(), nt::printable(problem).c_str());
        }
    }
    if (totals.report.games() == 0) {
        std::fprintf(stderr, "nimbus-analyze: no game to analyse\n");
        return 1;
    }
    report(totals, jsonPath);
    return 0;
}
