#include "autotune/autotune_drive.h"

#include "autotune/autotune.h"
#include "maps/map_trace.h"
#include "platform/clock.h"

namespace kv {

void DriveAutotune(Autotune& tune, MapTrace& trace, TableEditor& editor, Clock& clock, std::int64_t ms,
                   const std::function<void(const AutotuneSampleData&)>& onSample) {
    const std::int64_t end = clock.NowMs() + ms;
    while (clock.NowMs() < end) {
        const TraceTickResult r = trace.Tick(editor, false);
        if (r.sample.valid) {
            const AutotuneSampleData s = AutotuneSampleFromTrace(r.sample);
            if (onSample) onSample(s);
            tune.Sample(s);
        }
        clock.SleepMs(r.nextIntervalMs);
    }
}

} // namespace kv
