#pragma once
// Two runs side by side in one chart (before and after a change): both from a chosen start, over
// one X axis, either the time since that start or the engine speed, each series labelled with its
// variable and its run.
#include "datalog/log_chart.h"
#include "platform/parsed.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kv {

// What the shared X axis shows.
enum class SideBySideX {
    TimeFromStart, // seconds since each run's start
    Rpm,           // each run's engine speed
};

inline constexpr const char* kTimeFromStartTitle = "Time from start [s]";
inline constexpr const char* kSeriesRunSeparator = " \xE2\x80\x94 "; // an em dash between spaces

struct SideBySideChoice {
    std::size_t before = 0, after = 1; // indices of the two runs
    SideBySideX x = SideBySideX::TimeFromStart;
    // Where each run starts: its first row (the trigger) when 0, else its first row whose engine
    // speed is at least this.
    double startRpm = 0.0;
};

// The two runs cut to their starts, each with the X column appended as its last column, and one
// series per variable and run ("A/F ratio — Run 2"), a run that lacks a variable having none.
struct SideBySide {
    std::vector<PlotRun> runs;
    SeriesPlan plan;
    std::string xTitle;
};

// The engine speed column a run is aligned by: the first "RPM" column (the fuel unit's).
std::optional<std::size_t> AlignRpmColumn(const PlotRun& run);

// Lines the two chosen runs up for `variables` (names as VariableNames gives them); why not when a
// run lacks the time or the engine speed the choice needs, or never reaches the start speed.
Parsed<SideBySide> AlignRuns(const std::vector<PlotRun>& runs, const SideBySideChoice& choice,
                             const std::vector<std::string>& variables);

} // namespace kv
