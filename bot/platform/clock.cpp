#include "bot/platform/clock.hpp"

#include <cerrno>
#include <ctime>

namespace nimbus::platform {
namespace {

std::int64_t monotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

}  // namespace

SystemClock::SystemClock() : startNs_(monotonicNs()) {}

std::int32_t SystemClock::now() {
    const std::int64_t ms = (monotonicNs() - startNs_) / 1'000'000 + 1;
    return ms > 2147483647 ? 2147483647 : static_cast<std::int32_t>(ms);
}

void SystemClock::sleep(std::int32_t ms) {
    if (ms <= 0)
        return;
    timespec req{ms / 1000, static_cast<long>(ms % 1000) * 1'000'000};
    timespec rem{};
    while (nanosleep(&req, &rem) != 0 && errno == EINTR)
        req = rem;
}

}  // namespace nimbus::platform
