#include "arena/server/bot_watch.hpp"

#include <cstdio>

namespace nimbus::arena {

namespace {

constexpr double kCpuLeeway = 1.1;
constexpr double kMiB = 1024.0 * 1024.0;

std::string figure(const char* format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::optional<Breach> BotWatch::check(pid_t pid, Clock::time_point now) {
    Bot& bot = bots_[pid];
    if (bot.init == 0) {
        bot.init = util::sandboxInit(pid);
    }
    util::SandboxUsage usage;
    if (bot.init == 0 || !util::sandboxUsage(bot.init, usage)) {
        return std::nullopt;
    }
    if (usage.residentBytes > limits_.memoryMiB * 1024 * 1024) {
        return Breach{"memory limit",
                      figure("%.0f", static_cast<double>(usage.residentBytes) / kMiB) +
                          " MiB resident, the limit is " + std::to_string(limits_.memoryMiB) +
                          " MiB"};
    }
    if (usage.tasks >= limits_.processes) {
        return Breach{"process limit", std::to_string(usage.tasks) +
                                           " processes and threads, the limit is " +
                                           std::to_string(limits_.processes)};
    }
    return cpuOver(bot, {now, usage.cpuSeconds});
}

std::optional<Breach> BotWatch::cpuOver(Bot& bot, Sample now) const {
    bot.samples.push_back(now);
    const auto windowStart = now.at - util::kCpuWindow;
    while (bot.samples.size() > 1 && bot.samples[1].at <= windowStart) {
        bot.samples.pop_front();
    }
    const Sample& then = bot.samples.front();
    if (then.at > windowStart) {
        return std::nullopt;  // not watched for a whole window yet
    }
    const double seconds = std::chrono::duration<double>(now.at - then.at).count();
    const double used = now.cpuSeconds - then.cpuSeconds;
    if (used <= limits_.cpuCores * seconds * kCpuLeeway) {
        return std::nullopt;
    }
    return Breach{"cpu limit", figure("%.1f", used) + " s of CPU in " + figure("%.1f", seconds) +
                                   " s, the share is " + figure("%g", limits_.cpuCores) + " cores"};
}

}  // namespace nimbus::arena
