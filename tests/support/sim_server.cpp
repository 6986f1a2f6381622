#include "tests/support/sim_server.hpp"

#include <cstdio>
#include <memory>
#include <optional>
#include <sstream>

#include "bot/physics/motion.hpp"
#include "bot/physics/wind_law.hpp"

namespace nimbus::testing {

SimServer::SimServer(SimWorld world, TimeSource time, StopRule stop, std::uint16_t port,
                     std::int32_t msPerTick)
    : world_(std::move(world)),
      baseTick_(world_.tick),
      msPerTick_(msPerTick),
      time_(std::move(time)),
      stop_(std::move(stop)),
      server_([this](ScriptedConnection& c) { serve(c); }, port) {}

std::int32_t SimServer::currentTick(std::int64_t timeMs) {
    if (frozen_)
        return world_.tick;
    return baseTick_ + static_cast<std::int32_t>(timeMs / msPerTick_);
}

void SimServer::advanceTo(std::int32_t tick) {
    while (world_.tick < tick) {
        moveOneTick(world_.own);
        for (auto& c : world_.rivals)
            moveOneTick(c);
        for (auto& c : world_.rainclouds)
            moveOneTick(c);
        ++world_.tick;
    }
}

std::string SimServer::stateReply() const {
    char line[256];
    std::string out;
    std::snprintf(line, sizeof line, "BEGIN_STATE %d\nYOU 0\n", world_.tick);
    out += line;
    auto put = [&](const char* keyword, const CloudState& c) {
        std::snprintf(line, sizeof line, "%s %f %f %f %f %f\n", keyword, c.x, c.y, c.vx, c.vy,
                      c.mass);
        out += line;
    };
    put("THUNDERSTORM", world_.own);
    for (const auto& c : world_.rivals)
        put("THUNDERSTORM", c);
    for (const auto& c : world_.rainclouds)
        put("RAINCLOUD", c);
    out += "END_STATE\n";
    return out;
}

void SimServer::serve(ScriptedConnection& c) {
    for (;;) {
        const auto line = c.readLine(std::chrono::seconds(20));
        if (!line)
            return;
        std::string reply;
        {
            std::lock_guard lock(mutex_);
            const std::int64_t now = time_();
            advanceTo(currentTick(now));
            log_.push_back({world_.tick, now, *line, std::chrono::steady_clock::now()});
            if (hook_)
                hook_(world_, log_.back());
            if (line->rfind("NAME ", 0) == 0) {
                reply = "HELLO " + line->substr(5) + "\n";
            } else if (*line == "GET_STATE") {
                reply = stateReply();
            } else if (line->rfind("WIND ", 0) == 0) {
                float wx = 0, wy = 0;
                if (std::sscanf(line->c_str() + 5, "%f %f", &wx, &wy) == 2) {
                    // The velocity change only: the own mass stays.
                    pushByWind(world_.own, wx, wy, WindRounding::FloatFactor);
                    reply = "OK\n";
                } else {
                    reply = "ERROR bad wind\n";
                }
            } else {
                reply = "ERROR unknown command\n";
            }
            if (stop_ && stop_(log_))
                return;
        }
        if (!c.send(reply))
            return;
    }
}

std::vector<SimEntry> SimServer::log() const {
    std::lock_guard lock(mutex_);
    return log_;
}

SimWorld SimServer::world() const {
    std::lock_guard lock(mutex_);
    return world_;
}

SimServer::TimeSource realTimeSource(int startCall) {
    using Clock = std::chrono::steady_clock;
    auto start = std::make_shared<std::optional<Clock::time_point>>();
    auto calls = std::make_shared<int>(0);
    return [start, calls, startCall]() -> std::int64_t {
        if (++*calls < startCall)
            return 0;
        if (!*start)
            *start = Clock::now();
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - **start)
            .count();
    };
}

int countLines(const std::vector<SimEntry>& log, const std::string& prefix) {
    int n = 0;
    for (const auto& e : log)
        n += e.line.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

}  // namespace nimbus::testing
