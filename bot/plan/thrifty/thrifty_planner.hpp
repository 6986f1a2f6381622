#pragma once
// The thrifty strategy (`nimbus-bot --strategy thrifty`): wins the rainclouds for less wind.
//
// Every cycle it predicts the free path of every cloud for 400 ticks and simulates, with the
// arena's own motion and swallowing rules, where the own cloud would go with no wind and with a
// wind towards each of the few rainclouds that are cheapest to catch (the faithful strategy's
// wind law, solved for every catch tick). It takes the path with the most mass won per tick, the
// wind counted against it at 0.8 and 30 ticks added to every path's length, among those that
// stay clear of heavier clouds for 200 ticks (rivals, which can steer, by a wider margin). A path
// often catches several clouds; the plan lasts until its first catch, then the bot plans again
// with its momentum as it is. When every path meets a heavier cloud, it blows the cheapest wind
// that escapes; otherwise it idles. It never chases rivals and never pushes off walls.
#include <memory>

#include "bot/plan/planner.hpp"

namespace nimbus {

std::unique_ptr<Planner> makeThriftyPlanner();

}  // namespace nimbus
