#include "tournament/standings_files.hpp"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <set>
#include <stdexcept>

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
            if (it->path().filename() == "results.json" && it->is_regular_file()) {
                found.push_back(it->path());
            }
        }
        std::sort(found.begin(), found.end(), [](const fs::path& a, const fs::path& b) {
            return naturalLess(a.generic_string(), b.generic_string());
        });
        for (const fs::path& p : found) {
            if (seen.insert(fs::weakly_canonical(p)).second) {
                all.push_back(p);
            }
        }
    }
    return all;
}

void writeWhole(const fs::path& path, const std::string& text) {
    const fs::path temp = path.string() + ".tmp";
    {
        std::ofstream out(temp, std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            throw std::runtime_error("cannot write " + temp.string());
        }
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        throw std::runtime_error("cannot write " + path.string() + ": " + ec.message());
    }
}

void writeStandingsFiles(const fs::path& dir, const Standings& standings) {
    const std::vector<StandingRow> rows = standings.rows();
    writeWhole(dir / "standings.json", standingsJson(rows, standings.games()).dump(2) + "\n");
    writeWhole(dir / "standings.csv", standingsCsv(rows));
    writeWhole(dir / "standings.md", standingsMarkdown(rows));
}

}  // namespace nimbus::tournament
