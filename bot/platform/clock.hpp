#pragma once
// Time source of the bot: a monotonic millisecond clock and a millisecond sleep.
// Both sit behind one interface so that tests can run the control loop on virtual time.
#include <cstdint>

namespace nimbus::platform {

class Clock {
  public:
    virtual ~Clock() = default;
    // Milliseconds of wall time since the clock started; always >= 1.
    virtual std::int32_t now() = 0;
    // Blocks for ms milliseconds; zero or negative returns at once.
    virtual void sleep(std::int32_t ms) = 0;
};

// The real clock, counted from this object's construction: CLOCK_MONOTONIC and nanosleep on
// POSIX; on Windows the performance counter and Sleep, with 1 ms system timers requested for the
// object's lifetime (without them Sleep and the tick count move in steps of about 15.6 ms).
class SystemClock final : public Clock {
  public:
    SystemClock();
    ~SystemClock() override;
    SystemClock(const SystemClock&) = delete;
    SystemClock& operator=(const SystemClock&) = delete;

    std::int32_t now() override;
    void sleep(std::int32_t ms) override;

  private:
    std::int64_t start_;  // the platform counter's reading at construction, in its own units
};

}  // namespace nimbus::platform
