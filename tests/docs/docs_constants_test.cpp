// The numbers the bot authors' documents list must be the code's: each document has a table
// after a "<!-- constants" line whose rows are "| name | value | ... |"; every row must name a
// constant below with the same value, and every constant below must have its row.
#include <cmath>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "arena/game/setup.hpp"
#include "arena/game/wind_law.hpp"
#include "arena/limits.hpp"
#include "arena/server/arena_server.hpp"
#include "arena/server/protocol.hpp"
#include "arena/server/session.hpp"
#include "bot/physics/cloud_state.hpp"

namespace {

using Table = std::map<std::string, std::string>;

std::string trimmed(const std::string& s) {
    const auto b = s.find_first_not_of(" \t`");
    const auto e = s.find_last_not_of(" \t`");
    return b == std::string::npos ? "" : s.substr(b, e - b + 1);
}

// The rows of the document's constants table: name -> value text.
Table constantsTable(const std::string& file) {
    std::ifstream in(std::string(NIMBUS_DOCS_DIR) + "/" + file);
    EXPECT_TRUE(in) << file;
    Table rows;
    std::string line;
    bool inTable = false;
    while (std::getline(in, line)) {
        if (line.rfind("<!-- constants", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable) {
            continue;
        }
        if (line.empty() || line[0] != '|') {
            if (!rows.empty()) {
                break;
            }
            continue;
        }
        std::istringstream cells(line.substr(1));
        std::string name;
        std::string value;
        std::getline(cells, name, '|');
        std::getline(cells, value, '|');
        name = trimmed(name);
        value = trimmed(value);
        if (name == "name" || name.rfind("---", 0) == 0) {
            continue;
        }
        EXPECT_TRUE(rows.emplace(name, value).second) << file << ": " << name << " twice";
    }
    return rows;
}

// A constant of the code; a float one matches the document's decimal rounded to float.
struct Constant {
    double value;
    bool isFloat = false;
};

void expectTable(const std::string& file, const std::map<std::string, Constant>& code) {
    const Table doc = constantsTable(file);
    EXPECT_FALSE(doc.empty()) << file << " has no constants table";
    for (const auto& [name, value] : doc) {
        const auto it = code.find(name);
        if (it == code.end()) {
            ADD_FAILURE() << file << " lists \"" << name << "\", which the test does not know";
            continue;
        }
        const double written = std::stod(value);
        if (it->second.isFloat) {
            EXPECT_EQ(static_cast<float>(written), static_cast<float>(it->second.value))
                << file << ": " << name;
        } else {
            EXPECT_EQ(written, it->second.value) << file << ": " << name;
        }
    }
    for (const auto& [name, constant] : code) {
        EXPECT_TRUE(doc.count(name))
            << file << " does not list \"" << name << "\" (" << constant.value << ")";
    }
}

TEST(DocsConstants, RulesListTheGamesNumbers) {
    namespace a = nimbus::arena;
    const a::ArenaOptions defaults;
    expectTable("rules.md",
                {
                    {"arena width", {static_cast<double>(nimbus::kArenaWidth)}},
                    {"arena height", {static_cast<double>(nimbus::kArenaHeight)}},
                    {"wind push", {a::kWindPush}},
                    {"max wind share", {static_cast<double>(a::kMaxWindShare)}},
                    {"thunderstorm mass", {static_cast<double>(a::kThunderstormMass)}},
                    {"raincloud mass min", {static_cast<double>(a::kMinRaincloudMass)}},
                    {"raincloud mass max", {static_cast<double>(a::kMaxRaincloudMass)}},
                    {"raincloud speed max", {static_cast<double>(a::kMaxRaincloudSpeed)}},
                    {"raincloud clearance", {static_cast<double>(a::kRaincloudClearance)}},
                    {"ticks", {static_cast<double>(defaults.ticks)}},
                    {"tick ms", {static_cast<double>(defaults.tickMs)}},
                    {"rainclouds", {static_cast<double>(defaults.rainclouds)}},
                });
}

TEST(DocsConstants, ProtocolListsTheArenasLimits) {
    namespace a = nimbus::arena;
    const a::ArenaOptions defaults;
    expectTable("protocol.md",
                {
                    {"port", {static_cast<double>(defaults.port)}},
                    {"lobby seconds", {defaults.lobbySeconds}},
                    {"line bytes", {static_cast<double>(a::kMaxLineBytes)}},
                    {"name bytes", {static_cast<double>(a::kMaxNameBytes)}},
                    {"winds per tick", {static_cast<double>(a::kWindsPerTick)}},
                    {"states per tick base", {static_cast<double>(a::kStatesPerTickBase)}},
                    {"unread reply bytes", {static_cast<double>(a::kMaxPendingReplyBytes)}},
                });
}

}  // namespace
