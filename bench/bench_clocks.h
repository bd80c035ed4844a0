#pragma once
// Clocks of the benchmarks.
#include "platform/clock.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace kv {

// Steady time with sleeps that end on the millisecond (sleep most of it, spin the rest).
class PreciseClock final : public Clock {
public:
    std::int64_t NowMs() override {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock_::now() - start_).count();
    }
    void SleepMs(std::int64_t ms) override {
        if (ms <= 0) return;
        const auto begin = Clock_::now();
        const auto until = begin + std::chrono::milliseconds(ms);
        if (ms > 2) std::this_thread::sleep_until(until - std::chrono::milliseconds(1));
        while (Clock_::now() < until) {}
        sleptSeconds += std::chrono::duration<double>(Clock_::now() - begin).count();
    }
    // Wall time spent in sleeps so far.
    double sleptSeconds = 0.0;

private:
    using Clock_ = std::chrono::steady_clock;
    Clock_::time_point start_ = Clock_::now();
};

} // namespace kv
