#pragma once
// The time stamps of streamed records, judged before a record becomes a row. Streamed records
// carry no check of their own, so a record is taken only when its 24-bit stamp follows from the
// one before at the sample rate: a repeat, a step backwards (beyond the 2^24 wrap) or a step
// further ahead than the wall clock allows since the stretch began is no record of this stretch.
#include <cstdint>
#include <optional>
#include <span>

namespace kv {

// How far the device's sample clock may run ahead of the program's clock: a fixed allowance
// for the timer's jitter and a share of the elapsed time for the two clocks' drift.
inline constexpr double kStampSlackSeconds = 1.0;
inline constexpr double kStampDrift = 0.002;

class StampJudge {
public:
    // A new logging stretch began (the device was told to start) at `nowMs` on the monotonic
    // clock, sampling `rate` records a second.
    void StartStretch(std::int64_t nowMs, int rate);

    // The sample periods from the previous record to this one (for the first record of the
    // stretch, its start count + 1), or nullopt when the record does not follow and is dropped.
    // `nowMs` is when the record arrived; `next` holds the stamps of the (up to two) records
    // after it in the same download: a step over lost periods that the next record falls back
    // behind was a damaged stamp, unless the record after the next follows it (the next one
    // came late).
    //
    // The first record of a stretch cannot be judged by its stamp. When the records after it do
    // not follow it but follow each other, its stamp was the bad one: the second of them is taken
    // as following the first good record (one of them is lost).
    std::optional<std::int64_t> Judge(int startCount, std::int64_t stamp, std::span<const std::int64_t> next,
                                      std::int64_t nowMs);

    // The periods taken since the stretch began.
    std::int64_t StretchPeriods() const { return periods_; }

private:
    bool WithinClock(std::int64_t periods, std::int64_t nowMs) const;

    std::int64_t startMs_ = 0;
    int rate_ = 1;
    std::int64_t lastStamp_ = -1; // -1: the next record is the first of the stretch
    std::int64_t periods_ = 0;
    bool anchorConfirmed_ = false; // a record has followed the stretch's first one
    std::optional<std::int64_t> lastDropped_;
};

} // namespace kv
