#pragma once
// Live autotune without a window: the fuel map trace ticks on the clock, and every record it reads
// goes to the autotune, for a stretch of clock time (the command-line tool drives the simulated
// car this way on simulated time).
#include <cstdint>
#include <functional>

namespace kv {

class Autotune;
class Clock;
class MapTrace;
class TableEditor;
struct AutotuneSampleData;

// Runs `trace` (configured for the fuel tab) on `editor` for `ms` milliseconds of `clock` time,
// re-armed as the trace asks, and hands every record to `tune`; `onSample` (may be empty) sees
// each sample first.
void DriveAutotune(Autotune& tune, MapTrace& trace, TableEditor& editor, Clock& clock, std::int64_t ms,
                   const std::function<void(const AutotuneSampleData&)>& onSample = {});

} // namespace kv
