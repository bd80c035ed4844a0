#pragma once
// The log chart's logic: the runs it plots, the choice of the X variable and of the plotted
// variables with the defaults the user saved last time, the series that follow from them, and the
// reduction of a long series to what the pixels of the view can show.
#include "datalog/log_catalogue.h"
#include "platform/parsed.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class SettingsStore;

class LogRun;

// One run as the chart sees it: copied when the chart opens, numbers only.
struct PlotRun {
    std::string name;                         // the tab caption without a trailing "*"
    std::vector<std::string> headers;         // the column titles
    std::vector<std::vector<double>> columns; // per header, one number per sample row; NaN = not a number
    // Per header, the most decimals its cells show; -1 for a column without numbers. Empty when
    // unknown (the read-out then shows six significant digits).
    std::vector<int> decimals = {};

    std::size_t Rows() const { return columns.empty() ? 0 : columns.front().size(); }
    double Value(std::size_t row, std::size_t column) const { return columns[column][row]; }
};

// The run name shown for a tab caption: the caption without a trailing "*".
std::string PlotRunName(std::string_view caption);
// The chart's copy of a run shown in the tab captioned `caption`.
PlotRun MakePlotRun(const LogRun& run, std::string_view caption);

inline constexpr int kPlotVariableSlots = 8;
inline constexpr const char* kNoRunsToPlot = "No data logs selected to plot";
inline constexpr const char* kNoDataToPlot = "Data log contains no data to plot";
inline constexpr const char* kChartInternalError = "Internal error";

// The chart's remembered choices in the settings store.
class ChartSettings {
public:
    explicit ChartSettings(SettingsStore& store) : store_(store) {}
    std::string XAxisVariable() const;
    void SaveXAxisVariable(const std::string& header);
    std::array<std::string, kPlotVariableSlots> PlotVariables() const;
    void SavePlotVariables(const std::array<std::string, kPlotVariableSlots>& headers);

private:
    SettingsStore& store_;
};

// A variable that can be plotted: one column of one run.
struct PlotEntry {
    std::string label; // the name, or run name ": " name when several runs are plotted
    std::size_t run = 0;
    std::size_t column = 0;
    std::string name; // the column's name within its run (VariableNames)
    friend bool operator==(const PlotEntry&, const PlotEntry&) = default;
};

// The names of a run's columns as the chart lists them: the header, and for a header that more
// than one column holds (the fuel and the ignition unit both log "RPM") the header with the unit
// it belongs to, the first " (fuel)", the second " (ignition)", any further " (3)", " (4)", ....
std::vector<std::string> VariableNames(const std::vector<std::string>& headers);

// One series to draw: the X variable's column and the plotted column of one run.
struct PlotSeries {
    std::string label;
    std::size_t run = 0;
    std::size_t xColumn = 0;
    std::size_t yColumn = 0;
    std::string name; // the variable's name (its series of every run share a Y axis)
};

struct SeriesPlan {
    std::vector<PlotSeries> series;
    bool internalError = false; // a listed variable was not found in its run
};

// The data bounds of a set of series (NaN values left out); nullopt when no point has both.
struct PlotBounds {
    double xMin, xMax, yMin, yMax;
};
std::optional<PlotBounds> PlanBounds(const std::vector<PlotRun>& runs, const SeriesPlan& plan);

// The chart's choices for an opened set of runs.
class LogChart {
public:
    // Opens the chart over `runs` with the saved defaults; the message to show when there is
    // nothing to plot.
    static Parsed<LogChart> Open(std::vector<PlotRun> runs, const ChartSettings& settings);

    // "Data log plot for " and the run names joined by ", ".
    std::string Title() const;
    const std::vector<PlotRun>& Runs() const { return runs_; }

    // The variable names offered for the X axis (of every run, each once) and the one chosen.
    const std::vector<std::string>& XAxisChoices() const { return xChoices_; }
    const std::string& XVariable() const { return xVariable_; }
    // Chooses the X variable and saves it; false (nothing changes) when it is not offered.
    bool SetXVariable(const std::string& name, ChartSettings& settings);

    // The variables not plotted (in run and column order) and the plotted ones (in the order added).
    const std::vector<PlotEntry>& Available() const { return available_; }
    const std::vector<PlotEntry>& Plotted() const { return plotted_; }
    // Moves Available()[index] to the end of Plotted() and saves the plot variables; false when
    // there is no such entry.
    bool AddSeries(std::size_t index, ChartSettings& settings);
    // Moves Plotted()[index] back to its place in Available() and saves; false when there is none.
    bool RemoveSeries(std::size_t index, ChartSettings& settings);

    // The series to draw, one per plotted entry.
    SeriesPlan Plan() const;
    // The bounds of all points of the plan's series.
    std::optional<PlotBounds> Bounds(const SeriesPlan& plan) const;

private:
    LogChart() = default;
    void SavePlotVariables(ChartSettings& settings) const;
    std::size_t EntryOrder(const PlotEntry& e) const;
    std::optional<std::size_t> Column(std::size_t run, const std::string& name) const;

    std::vector<PlotRun> runs_;
    std::vector<std::vector<std::string>> names_; // per run, VariableNames of its headers
    std::vector<std::string> xChoices_;
    std::string xVariable_;
    std::vector<PlotEntry> available_;
    std::vector<PlotEntry> plotted_;
};

struct ChartPoint {
    double x, y;
    friend bool operator==(const ChartPoint&, const ChartPoint&) = default;
};

// The points of one series (column `yColumn` over column `xColumn` of `run`) that a line through
// them needs to look the same in a view of [xMin, xMax] that is `pixelColumns` pixels wide: in data
// order, points with a NaN left out; of each stretch of consecutive points that fall into one pixel
// column the first, the lowest, the highest and the last; of each stretch left or right of the view
// only its first and last. A series of at most 4 points per pixel column is returned whole.
std::vector<ChartPoint> ReduceToPixels(const PlotRun& run, std::size_t xColumn, std::size_t yColumn, double xMin,
                                       double xMax, int pixelColumns);

// The point of a series whose X is nearest to `x` (points with a NaN left out); nullopt for a
// series without points.
std::optional<ChartPoint> PointAtX(const PlotRun& run, std::size_t xColumn, std::size_t yColumn, double x);

// A tick step of 1, 2 or 5 times a power of ten that divides `span` into about `ticks` steps
// (at most that many); 1 for a span that is not positive.
double NiceTickStep(double span, int ticks);

} // namespace kv
