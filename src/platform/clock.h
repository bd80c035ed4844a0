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

// Simulated time: it moves only when something waits, and a wait returns at once. For running
// against the simulated car faster than real time (the command-line tool, the benchmarks).
class SimulatedClock final : public Clock {
public:
    std::int64_t NowMs() override { return now_; }
    void SleepMs(std::int64_t ms) override {
        if (ms > 0) now_ += ms;
    }

private:
    std::int64_t now_ = 0;
};

} // namespace kv
