#pragma once
// A clock for tests whose sleeps advance time at once and are recorded, so that a control loop
// runs deterministically and without real waiting. Safe to read from a server thread.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "bot/platform/clock.hpp"

namespace nimbus::testing {

class VirtualClock final : public platform::Clock {
  public:
    explicit VirtualClock(std::int32_t start = 1000) : now_(start) {}

    std::int32_t now() override { return now_.load(); }
    void sleep(std::int32_t ms) override {
        {
            std::lock_guard lock(mutex_);
            sleeps_.push_back(ms);
        }
        if (ms > 0)
            now_ += ms;
    }

    void set(std::int32_t reading) { now_ = reading; }
    void advance(std::int32_t ms) { now_ += ms; }
    std::vector<std::int32_t> sleeps() const {
        std::lock_guard lock(mutex_);
        return sleeps_;
    }

  private:
    std::atomic<std::int32_t> now_;
    mutable std::mutex mutex_;
    std::vector<std::int32_t> sleeps_;
};

}  // namespace nimbus::testing
