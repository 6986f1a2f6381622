// The strategies the bot knows, by name.
#include "bot/plan/faithful_planner.hpp"
#include "bot/plan/keen/keen_planner.hpp"
#include "bot/plan/planner.hpp"
#include "bot/plan/thrifty/thrifty_planner.hpp"

namespace nimbus {

namespace {

using Factory = std::unique_ptr<Planner> (*)();

struct Entry {
    const char* name;
    Factory make;
};

const Entry kStrategies[] = {
    {"faithful", makeFaithfulPlanner},
    {"thrifty", makeThriftyPlanner},
    {"keen", makeKeenPlanner},
};

}  // namespace

std::vector<std::string> strategyNames() {
    std::vector<std::string> names;
    for (const Entry& e : kStrategies)
        names.emplace_back(e.name);
    return names;
}

std::unique_ptr<Planner> makePlanner(std::string_view name) {
    for (const Entry& e : kStrategies) {
        if (name == e.name)
            return e.make();
    }
    return nullptr;
}

}  // namespace nimbus
