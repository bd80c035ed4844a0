#include "datalog/log_side_by_side.h"

#include "datalog/log_catalogue.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

std::optional<std::size_t> HeaderColumn(const PlotRun& run, const char* header) {
    const auto it = std::find(run.headers.begin(), run.headers.end(), header);
    if (it == run.headers.end()) return std::nullopt;
    return static_cast<std::size_t>(it - run.headers.begin());
}

std::string Shown(double v) {
    std::string text = std::to_string(v);
    text.erase(text.find_last_not_of('0') + 1);
    if (text.back() == '.') text.pop_back();
    return text;
}

// `run` from its row `start` on, with `x` (one value per row kept) as a last column titled `title`.
PlotRun Cut(const PlotRun& run, std::size_t start, std::vector<double> x, const std::string& title, int xDecimals) {
    PlotRun out{run.name, run.headers, {}, run.decimals};
    out.columns.reserve(run.columns.size() + 1);
    for (const auto& column : run.columns)
        out.columns.emplace_back(column.begin() + static_cast<std::ptrdiff_t>(start), column.end());
    out.headers.push_back(title);
    out.columns.push_back(std::move(x));
    if (!out.decimals.empty()) out.decimals.push_back(xDecimals);
    return out;
}

} // namespace

std::optional<std::size_t> AlignRpmColumn(const PlotRun& run) { return HeaderColumn(run, kRpmHeader); }

Parsed<SideBySide> AlignRuns(const std::vector<PlotRun>& runs, const SideBySideChoice& choice,
                             const std::vector<std::string>& variables) {
    if (choice.before >= runs.size() || choice.after >= runs.size() || choice.before == choice.after)
        return ParseError{"Choose two different runs to show side by side"};
    SideBySide out;
    out.xTitle = choice.x == SideBySideX::TimeFromStart ? std::string(kTimeFromStartTitle) : std::string(kRpmHeader);
    for (const std::size_t index : {choice.before, choice.after}) {
        const PlotRun& run = runs[index];
        const auto time = HeaderColumn(run, kTimeHeader);
        const auto rpm = AlignRpmColumn(run);
        if (choice.x == SideBySideX::TimeFromStart && !time)
            return ParseError{run.name + " has no \"" + kTimeHeader + "\" column"};
        if ((choice.x == SideBySideX::Rpm || choice.startRpm > 0) && !rpm)
            return ParseError{run.name + " has no \"" + kRpmHeader + "\" column"};

        std::size_t start = 0;
        if (choice.startRpm > 0) {
            const auto& speeds = run.columns[*rpm];
            const auto reached = std::find_if(speeds.begin(), speeds.end(),
                                              [&](double v) { return !std::isnan(v) && v >= choice.startRpm; });
            if (reached == speeds.end())
                return ParseError{run.name + " never reaches " + Shown(choice.startRpm) + " rpm"};
            start = static_cast<std::size_t>(reached - speeds.begin());
        }

        std::vector<double> x;
        int xDecimals = -1;
        if (choice.x == SideBySideX::TimeFromStart) {
            const auto& times = run.columns[*time];
            // The first time at or after the start that is a number is the zero.
            const auto origin = std::find_if(times.begin() + static_cast<std::ptrdiff_t>(start), times.end(),
                                             [](double v) { return !std::isnan(v); });
            const double zero = origin == times.end() ? 0.0 : *origin;
            x.reserve(times.size() - start);
            for (std::size_t row = start; row < times.size(); ++row) x.push_back(times[row] - zero);
            if (*time < run.decimals.size()) xDecimals = run.decimals[*time];
        } else {
            x.assign(run.columns[*rpm].begin() + static_cast<std::ptrdiff_t>(start), run.columns[*rpm].end());
            if (*rpm < run.decimals.size()) xDecimals = run.decimals[*rpm];
        }
        out.runs.push_back(Cut(run, start, std::move(x), out.xTitle, xDecimals));
    }

    for (const std::string& variable : variables) {
        for (std::size_t r = 0; r < out.runs.size(); ++r) {
            const PlotRun& run = out.runs[r];
            const auto names = VariableNames(std::vector<std::string>(run.headers.begin(), run.headers.end() - 1));
            const auto it = std::find(names.begin(), names.end(), variable);
            if (it == names.end()) continue;
            out.plan.series.push_back(PlotSeries{variable + kSeriesRunSeparator + run.name, r, run.headers.size() - 1,
                                                 static_cast<std::size_t>(it - names.begin()), variable});
        }
    }
    return out;
}

} // namespace kv
