#include "bot/plan/faithful_planner.hpp"

#include "bot/plan/decide.hpp"

namespace nimbus {

namespace {

class FaithfulPlanner final : public Planner {
  public:
    Strategy decide(float tickDrift, const WorldSnapshot& snapshot,
                    const Trajectory& own) override {
        return decidePlan(tickDrift, snapshot, own);
    }
};

}  // namespace

std::unique_ptr<Planner> makeFaithfulPlanner() {
    return std::make_unique<FaithfulPlanner>();
}

}  // namespace nimbus
