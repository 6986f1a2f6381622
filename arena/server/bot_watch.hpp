#pragma once
// The limits of sandboxed bots that the kernel does not keep by itself: the resident memory of all
// of a bot's processes together, its processes and threads (the kernel refuses one more; a bot
// found at the limit is stopped), and its share of the CPU over util::kCpuWindow (10 % leeway).
// Sampled from each sandbox's own /proc.
#include <sys/types.h>

#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <string>

#include "util/sandbox.hpp"

namespace nimbus::arena {

// A limit a bot is over: "memory limit", "process limit" or "cpu limit", and what was measured.
struct Breach {
    std::string limit;
    std::string measured;
};

class BotWatch {
  public:
    using Clock = std::chrono::steady_clock;

    explicit BotWatch(util::SandboxLimits limits) : limits_(std::move(limits)) {}

    // Samples the bot started as `pid` (BotProcess::pid) at `now`: the limit it is over, if any
    // (none while its sandbox is not up yet, and once it has gone).
    std::optional<Breach> check(pid_t pid, Clock::time_point now);

  private:
    struct Sample {
        Clock::time_point at;
        double cpuSeconds = 0.0;
    };
    struct Bot {
        pid_t init = 0;
        std::deque<Sample> samples;  // the last kCpuWindow and one more
    };
    std::optional<Breach> cpuOver(Bot& bot, Sample now) const;

    util::SandboxLimits limits_;
    std::map<pid_t, Bot> bots_;
};

}  // namespace nimbus::arena
