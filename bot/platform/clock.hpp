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

// The real clock: CLOCK_MONOTONIC, counted from this object's construction.
class SystemClock final : public Clock {
  public:
    SystemClock();
    std::int32_t now() override;
    void sleep(std::int32_t ms) override;

  private:
    std::int64_t startNs_;
};

}  // namespace nimbus::platform
