// The strategies the bot knows, by name.
#include <utility>

#include "bot/plan/decide.hpp"
#include "bot/plan/planner.hpp"
#include "bot/plan/thrifty_planner.hpp"

namespace nimbus {

namespace {

// Today's bot: the decision step as it stands, nothing remembered between cycles.
class FaithfulPlanner final : public Planner {
  public:
    Strategy decide(float tickDrift, const WorldSnapshot& snapshot,
                    const Trajectory& own) override {
        return decidePlan(tickDrift, snapshot, own);
    }
};

using Factory = std::unique_ptr<Planner> (*)();

struct Entry {
    const char* name;
    Factory make;
};

const Entry kStrategies[] = {
    {"faithful", []() -> std::unique_ptr<Planner> { return std::make_unique<FaithfulPlanner>(); }},
    {"thrifty", makeThriftyPlanner},
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
