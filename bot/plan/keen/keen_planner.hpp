#pragma once
// The keen strategy (`nimbus-bot --strategy keen`): thrifty's way of winning the rainclouds, for
// still less wind, with an eye on what the rivals can do.
//
// Like thrifty it simulates, with the arena's motion and swallowing rules, where the own cloud
// goes with no wind and with a wind towards each of the rainclouds cheapest to catch, and takes
// the path that wins the most mass per tick among those that stay clear of heavier clouds. It
// differs in six ways. It predicts the other clouds' swallows among themselves, so that a
// raincloud a rival will have swallowed is no target and that rival is heavier from then on. It
// follows every cloud for 700 ticks (fewer in a crowded arena, at least 500) and simulates up to
// 34 winds (the ten cheapest catches, even those that do not pay alone, and the four best paths
// again with winds 0.55 to 1.9 times as strong), so that chains and slower, cheaper catches
// count. Of its four best paths with different first catches it takes the one that does best
// with a second wind blown after that catch, so that a catch is chosen for the next one it
// leads to. It counts wind at its whole cost and adds 60 ticks to every path, not 30: a catch must
// pay for itself. It leaves a raincloud that a heavier rival could catch first for a fifth of
// the raincloud's mass: such chases end with the wind spent and nothing caught. With one rival
// left it counts wind at 0.8 of its cost: every raincloud it leaves then goes to that rival.
// When every path meets a heavier cloud it escapes with thrifty's cheapest escape; otherwise it
// idles.
#include <memory>

#include "bot/plan/planner.hpp"

namespace nimbus {

std::unique_ptr<Planner> makeKeenPlanner();

}  // namespace nimbus
