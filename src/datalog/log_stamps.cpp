#include "datalog/log_stamps.h"

#include "datalog/log_decode.h"

namespace kv {

void StampJudge::StartStretch(std::int64_t nowMs, int rate) {
    startMs_ = nowMs;
    rate_ = rate > 0 ? rate : 1;
    lastStamp_ = -1;
    periods_ = 0;
    anchorConfirmed_ = false;
    lastDropped_.reset();
}

bool StampJudge::WithinClock(std::int64_t periods, std::int64_t nowMs) const {
    const double elapsed = static_cast<double>(nowMs - startMs_) / 1000.0;
    const double allowed = (elapsed * (1.0 + kStampDrift) + kStampSlackSeconds) * rate_;
    return static_cast<double>(periods_ + periods) <= allowed;
}

std::optional<std::int64_t> StampJudge::Judge(int startCount, std::int64_t stamp, std::span<const std::int64_t> next,
                                              std::int64_t nowMs) {
    const auto take = [&](std::int64_t periods) {
        periods_ += periods;
        lastStamp_ = stamp;
        lastDropped_.reset();
        return std::optional<std::int64_t>(periods);
    };
    const auto step = [](std::int64_t from, std::int64_t to) {
        return ((to - from) % kStampModulus + kStampModulus) % kStampModulus;
    };

    if (lastStamp_ < 0) {
        const std::int64_t periods = startCount + 1;
        if (!WithinClock(periods, nowMs)) return std::nullopt;
        return take(periods);
    }
    const std::int64_t d = step(lastStamp_, stamp);
    const auto follows = [&](std::int64_t from, std::int64_t to) {
        const std::int64_t e = step(from, to);
        return e > 0 && WithinClock(d + e, nowMs);
    };
    const bool nextFallsBehind = d > 1 && !next.empty() && step(lastStamp_, next[0]) > 0 &&
                                 step(lastStamp_, next[0]) < d && !(next.size() > 1 && follows(stamp, next[1]));
    if (d > 0 && WithinClock(d, nowMs) && !nextFallsBehind) {
        anchorConfirmed_ = true;
        return take(d);
    }
    if (!anchorConfirmed_ && lastDropped_) {
        // The stretch's first stamp was bad: this record follows the one dropped before it, which
        // is taken to have come one period after the first record.
        const std::int64_t e = step(*lastDropped_, stamp);
        if (e > 0 && WithinClock(1 + e, nowMs)) {
            anchorConfirmed_ = true;
            return take(1 + e);
        }
    }
    lastDropped_ = stamp;
    return std::nullopt;
}

} // namespace kv
