#include "datalog/log_chart.h"

#include "datalog/log_run.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string_view>
#include <unordered_map>

namespace kv {

namespace {

constexpr const char* kChartSection = "Chart";
constexpr const char* kXAxisKey = "DefaultXAxisVariable";
constexpr const char* kPlotVariableKey = "DefaultPlotVariable";

std::string PlotVariableKey(int slot) { return kPlotVariableKey + std::to_string(slot); }

bool Contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

} // namespace

std::string PlotRunName(std::string_view caption) {
    if (!caption.empty() && caption.back() == '*') caption.remove_suffix(1);
    return std::string(caption);
}

PlotRun MakePlotRun(const LogRun& run, std::string_view caption) {
    PlotRun plot{PlotRunName(caption), run.Headers(), {}, {}};
    plot.columns.reserve(plot.headers.size());
    for (int c = 0; c < run.ColumnCount(); ++c) {
        const auto values = run.ColumnValues(c);
        plot.columns.emplace_back(values.begin(), values.end());
    }
    plot.decimals.assign(plot.headers.size(), -1);
    std::vector<std::string_view> cells;
    for (int r = 0; r < run.RowCount(); ++r) {
        run.RowCells(r, cells);
        for (std::size_t c = 0; c < cells.size(); ++c) {
            if (std::isnan(plot.columns[c][static_cast<std::size_t>(r)])) continue;
            const std::size_t separator = cells[c].find_first_of(".,");
            const int shown =
                separator == std::string_view::npos ? 0 : static_cast<int>(cells[c].find_last_not_of(' ') - separator);
            plot.decimals[c] = std::max(plot.decimals[c], shown);
        }
    }
    return plot;
}

std::vector<std::string> VariableNames(const std::vector<std::string>& headers) {
    std::unordered_map<std::string_view, int> total, seen;
    for (const std::string& header : headers) ++total[header];
    std::vector<std::string> names;
    names.reserve(headers.size());
    for (const std::string& header : headers) {
        if (total[header] == 1) {
            names.push_back(header);
            continue;
        }
        const int k = ++seen[header];
        names.push_back(header + (k == 1 ? " (fuel)" : k == 2 ? " (ignition)" : " (" + std::to_string(k) + ")"));
    }
    return names;
}

std::string ChartSettings::XAxisVariable() const { return store_.GetSetting(kChartSection, kXAxisKey, ""); }

void ChartSettings::SaveXAxisVariable(const std::string& header) {
    store_.SaveSetting(kChartSection, kXAxisKey, header);
}

std::array<std::string, kPlotVariableSlots> ChartSettings::PlotVariables() const {
    std::array<std::string, kPlotVariableSlots> slots;
    for (int i = 0; i < kPlotVariableSlots; ++i)
        slots[static_cast<std::size_t>(i)] = store_.GetSetting(kChartSection, PlotVariableKey(i), "");
    return slots;
}

void ChartSettings::SavePlotVariables(const std::array<std::string, kPlotVariableSlots>& headers) {
    for (int i = 0; i < kPlotVariableSlots; ++i)
        store_.SaveSetting(kChartSection, PlotVariableKey(i), headers[static_cast<std::size_t>(i)]);
}

Parsed<LogChart> LogChart::Open(std::vector<PlotRun> runs, const ChartSettings& settings) {
    if (runs.empty()) return ParseError{kNoRunsToPlot};
    for (const PlotRun& run : runs) {
        if (run.headers.empty() || run.Rows() == 0) return ParseError{kNoDataToPlot};
        if (run.columns.size() != run.headers.size()) return ParseError{kChartInternalError};
        for (const auto& column : run.columns) {
            if (column.size() != run.Rows()) return ParseError{kChartInternalError};
        }
    }
    LogChart chart;
    chart.runs_ = std::move(runs);
    const bool several = chart.runs_.size() > 1;
    for (std::size_t r = 0; r < chart.runs_.size(); ++r) {
        const PlotRun& run = chart.runs_[r];
        chart.names_.push_back(VariableNames(run.headers));
        const auto& names = chart.names_.back();
        for (std::size_t c = 0; c < names.size(); ++c) {
            if (!Contains(chart.xChoices_, names[c])) chart.xChoices_.push_back(names[c]);
            chart.available_.push_back(PlotEntry{several ? run.name + ": " + names[c] : names[c], r, c, names[c]});
        }
    }

    const std::string savedX = settings.XAxisVariable();
    if (!savedX.empty() && Contains(chart.xChoices_, savedX))
        chart.xVariable_ = savedX;
    else if (Contains(chart.xChoices_, kTimeHeader))
        chart.xVariable_ = kTimeHeader;
    else
        chart.xVariable_ = chart.xChoices_.front();

    // A saved name finds its column; "RPM" by default finds every column so headed.
    auto moveHeader = [&chart](const std::string& name, bool byHeader) {
        auto& avail = chart.available_;
        for (auto it = avail.begin(); it != avail.end();) {
            if (it->name == name || (byHeader && chart.runs_[it->run].headers[it->column] == name)) {
                chart.plotted_.push_back(*it);
                it = avail.erase(it);
            } else {
                ++it;
            }
        }
    };
    for (const std::string& slot : settings.PlotVariables()) {
        if (!slot.empty()) moveHeader(slot, false);
    }
    if (chart.plotted_.empty()) moveHeader(kRpmHeader, true);
    return chart;
}

std::string LogChart::Title() const {
    std::string title = "Data log plot for ";
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        if (i > 0) title += ", ";
        title += runs_[i].name;
    }
    return title;
}

bool LogChart::SetXVariable(const std::string& name, ChartSettings& settings) {
    if (!Contains(xChoices_, name)) return false;
    xVariable_ = name;
    settings.SaveXAxisVariable(name);
    return true;
}

std::size_t LogChart::EntryOrder(const PlotEntry& e) const {
    std::size_t before = 0;
    for (std::size_t r = 0; r < e.run; ++r) before += runs_[r].headers.size();
    return before + e.column;
}

bool LogChart::AddSeries(std::size_t index, ChartSettings& settings) {
    if (index >= available_.size()) return false;
    plotted_.push_back(available_[index]);
    available_.erase(available_.begin() + static_cast<std::ptrdiff_t>(index));
    SavePlotVariables(settings);
    return true;
}

bool LogChart::RemoveSeries(std::size_t index, ChartSettings& settings) {
    if (index >= plotted_.size()) return false;
    const PlotEntry entry = plotted_[index];
    plotted_.erase(plotted_.begin() + static_cast<std::ptrdiff_t>(index));
    const std::size_t order = EntryOrder(entry);
    auto at =
        std::find_if(available_.begin(), available_.end(), [&](const PlotEntry& e) { return EntryOrder(e) > order; });
    available_.insert(at, entry);
    SavePlotVariables(settings);
    return true;
}

void LogChart::SavePlotVariables(ChartSettings& settings) const {
    std::array<std::string, kPlotVariableSlots> slots;
    for (std::size_t i = 0; i < slots.size() && i < plotted_.size(); ++i) slots[i] = plotted_[i].name;
    settings.SavePlotVariables(slots);
}

std::optional<std::size_t> LogChart::Column(std::size_t run, const std::string& name) const {
    if (run >= names_.size()) return std::nullopt;
    const auto& names = names_[run];
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return std::nullopt;
    return static_cast<std::size_t>(it - names.begin());
}

SeriesPlan LogChart::Plan() const {
    SeriesPlan plan;
    for (const PlotEntry& entry : plotted_) {
        const auto x = Column(entry.run, xVariable_);
        if (!x || entry.column >= runs_[entry.run].headers.size()) {
            plan.internalError = true;
            continue;
        }
        plan.series.push_back(PlotSeries{entry.label, entry.run, *x, entry.column, entry.name});
    }
    return plan;
}

std::optional<PlotBounds> LogChart::Bounds(const SeriesPlan& plan) const { return PlanBounds(runs_, plan); }

std::optional<PlotBounds> PlanBounds(const std::vector<PlotRun>& runs, const SeriesPlan& plan) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    PlotBounds b{inf, -inf, inf, -inf};
    bool any = false;
    for (const PlotSeries& s : plan.series) {
        const PlotRun& run = runs[s.run];
        for (std::size_t row = 0; row < run.Rows(); ++row) {
            const double x = run.Value(row, s.xColumn), y = run.Value(row, s.yColumn);
            if (std::isnan(x) || std::isnan(y)) continue;
            any = true;
            b.xMin = std::min(b.xMin, x);
            b.xMax = std::max(b.xMax, x);
            b.yMin = std::min(b.yMin, y);
            b.yMax = std::max(b.yMax, y);
        }
    }
    if (!any) return std::nullopt;
    return b;
}

std::vector<ChartPoint> ReduceToPixels(const PlotRun& run, std::size_t xColumn, std::size_t yColumn, double xMin,
                                       double xMax, int pixelColumns) {
    const std::size_t rows = run.Rows();
    const std::size_t width = static_cast<std::size_t>(std::max(pixelColumns, 1));
    std::vector<ChartPoint> out;
    std::size_t valid = 0;
    for (std::size_t row = 0; row < rows; ++row) {
        if (!std::isnan(run.Value(row, xColumn)) && !std::isnan(run.Value(row, yColumn))) ++valid;
    }
    if (valid <= 4 * width) {
        out.reserve(valid);
        for (std::size_t row = 0; row < rows; ++row) {
            const double x = run.Value(row, xColumn), y = run.Value(row, yColumn);
            if (!std::isnan(x) && !std::isnan(y)) out.push_back({x, y});
        }
        return out;
    }

    // Pixel column of x: -1 left of the view, `width` right of it.
    const double span = xMax - xMin;
    const double perPixel = span > 0 ? static_cast<double>(width) / span : 0.0;
    const auto columnOf = [&](double x) -> std::ptrdiff_t {
        if (x < xMin) return -1;
        if (x > xMax) return static_cast<std::ptrdiff_t>(width);
        const auto c = static_cast<std::ptrdiff_t>((x - xMin) * perPixel);
        return std::min(c, static_cast<std::ptrdiff_t>(width) - 1);
    };

    out.reserve(std::min(valid, 4 * width + 8));
    struct Stretch {
        std::ptrdiff_t column = 0;
        ChartPoint first{}, low{}, high{}, last{};
        std::size_t lowAt = 0, highAt = 0, count = 0;
    } s;
    const auto flush = [&]() {
        if (s.count == 0) return;
        out.push_back(s.first);
        const bool inView = s.column >= 0 && s.column < static_cast<std::ptrdiff_t>(width);
        if (inView) {
            // Low and high in the order they came, each only when it is not the first or last.
            const bool lowInner = s.lowAt != 0 && s.lowAt != s.count - 1;
            const bool highInner = s.highAt != 0 && s.highAt != s.count - 1 && s.highAt != s.lowAt;
            if (lowInner && highInner) {
                if (s.lowAt < s.highAt) {
                    out.push_back(s.low);
                    out.push_back(s.high);
                } else {
                    out.push_back(s.high);
                    out.push_back(s.low);
                }
            } else if (lowInner) {
                out.push_back(s.low);
            } else if (highInner) {
                out.push_back(s.high);
            }
        }
        if (s.count > 1) out.push_back(s.last);
        s.count = 0;
    };
    for (std::size_t row = 0; row < rows; ++row) {
        const double x = run.Value(row, xColumn), y = run.Value(row, yColumn);
        if (std::isnan(x) || std::isnan(y)) continue;
        const ChartPoint p{x, y};
        const std::ptrdiff_t column = columnOf(x);
        if (s.count > 0 && column != s.column) flush();
        if (s.count == 0) {
            s.column = column;
            s.first = s.low = s.high = p;
            s.lowAt = s.highAt = 0;
        } else {
            if (y < s.low.y) {
                s.low = p;
                s.lowAt = s.count;
            }
            if (y > s.high.y) {
                s.high = p;
                s.highAt = s.count;
            }
        }
        s.last = p;
        ++s.count;
    }
    flush();
    return out;
}

std::optional<ChartPoint> PointAtX(const PlotRun& run, std::size_t xColumn, std::size_t yColumn, double x) {
    std::optional<ChartPoint> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (std::size_t row = 0; row < run.Rows(); ++row) {
        const double px = run.Value(row, xColumn), py = run.Value(row, yColumn);
        if (std::isnan(px) || std::isnan(py)) continue;
        if (const double d = std::abs(px - x); d < bestDistance) {
            bestDistance = d;
            best = ChartPoint{px, py};
        }
    }
    return best;
}

double NiceTickStep(double span, int ticks) {
    if (!(span > 0) || !std::isfinite(span) || ticks < 1) return 1.0;
    const double raw = span / ticks;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw * (1 - 1e-9)) return m * power;
    }
    return 10.0 * power;
}

} // namespace kv
