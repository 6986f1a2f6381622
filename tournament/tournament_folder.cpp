#include "tournament/tournament_folder.hpp"

#include <fstream>
#include <stdexcept>

#include "tournament/standings_files.hpp"

namespace nimbus::tournament {

namespace fs = std::filesystem;

void prepareFolder(const fs::path& dir, const TournamentConfig& config) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!fs::is_directory(dir)) {
        throw std::runtime_error("cannot create " + dir.string());
    }
    const fs::path file = dir / "tournament.json";
    std::ifstream in(file);
    if (in) {
        const nlohmann::json stored = nlohmann::json::parse(in, nullptr, false);
        std::string difference;
        try {
            difference = configDifference(configFromJson(stored), config);
        } catch (const std::runtime_error& e) {
            throw std::invalid_argument(file.string() + " is not a tournament: " + e.what());
        }
        if (!difference.empty()) {
            throw std::invalid_argument(dir.string() + " holds another tournament (" + difference +
                                        "); give another --out");
        }
    }
    writeWhole(file, toJson(config).dump(2) + "\n");
}

}  // namespace nimbus::tournament
