#pragma once
// Autotune at the desk: the base fuel map tuned from a recorded data-logging run. Every row was
// measured with the map the image holds, so the evidence is referred to that map, and each cell's
// value is worked out once from all of it: a share-weighted least-squares fit of the cells' fuel
// to what each sample says the unit's blend at its operating point should have been, damped
// towards no change where a cell's evidence is thin. The samples are judged as live: charged to
// the operating point the transport delay before, by the shares of the four cells, after the same
// guards and settling.
#include "autotune/autotune.h"
#include "platform/parsed.h"

#include <array>
#include <string>
#include <vector>

namespace kv {

class LogRun;
class TableEditor;

// A run needs the data-logging tab's time, RPM, MAF signal, A/F ratio and throttle columns; its
// coolant column in degrees Celsius feeds the cold-engine guard when present.

struct OfflineTuneOptions {
    std::array<AutotuneBand, kAutotuneZoneCount> bands{};
    std::array<bool, kAutotuneZoneCount> enabled{true, true, true};
    double delayS = kDefaultTransportDelayS;
    double warmEngineC = kDefaultWarmEngineC;
    // The wide-band law's ends: a reading there is not a mixture.
    double afrLowEnd = 9.0;
    double afrHighEnd = 19.0;
};

struct OfflineTuneResult {
    AutotuneGuardCounts dropped;
    // |A/F ratio - target| of every judged sample, in the run's order.
    std::vector<float> judgedErrors;
    int visited = 0; // cells that took a share of a judged sample
};

// Tunes the map shown in `editor` (of an image of `type`) from `run`: cells whose evidence
// reaches the threshold are coloured tuned (inside the band, value kept) or lean / rich and set
// to the fitted value; the others keep their value. Fails naming a missing column.
Parsed<OfflineTuneResult> TuneFromRun(const LogRun& run, TableEditor& editor, EcuType type,
                                      const OfflineTuneOptions& options);

} // namespace kv
