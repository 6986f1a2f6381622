#pragma once
// The faithful strategy (`nimbus-bot --strategy faithful`, the default): the decision step of
// decide.hpp, unchanged, with nothing remembered from one cycle to the next.
#include <memory>

#include "bot/plan/planner.hpp"

namespace nimbus {

std::unique_ptr<Planner> makeFaithfulPlanner();

}  // namespace nimbus
