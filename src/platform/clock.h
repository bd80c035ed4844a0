#pragma once
// Time seam: every wait and time-out in the core goes through a Clock so that tests run
// on a fake clock in milliseconds of test time.
#include <cstdint>

namespace kv {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in milliseconds since an arbitrary start; never goes backwards.
    virtual std::int64_t NowMs() = 0;
    // Blocks for `ms` milliseconds (0 or less returns at once). A fake clock just advances.
    virtual void SleepMs(std::int64_t ms) = 0;
};

// The real clock: std::chrono::steady_clock and std::this_thread::sleep_for.
class SteadyClock final : public Clock {
public:
    std::int64_t NowMs() override;
    void SleepMs(std::int64_t ms) override;
};

} // namespace kv
