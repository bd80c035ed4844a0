#include "datalog/run_overlay.h"

#include "datalog/log_catalogue.h"
#include "datalog/log_cells.h"
#include "datalog/log_chart.h"
#include "eprom/eprom_image.h"
#include "maps/map_definitions.h"
#include "maps/rendered_map.h"
#include "monitor/monitor_record.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr std::array<const char*, kAutotuneZoneCount> kZoneNames{"idle", "cruise", "WOT"};

// The column of `names` called `name`, or else the fuel unit's column of that header.
std::optional<int> FindColumn(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& candidate : {name, name + " (fuel)"}) {
        const auto it = std::find(names.begin(), names.end(), candidate);
        if (it != names.end()) return static_cast<int>(it - names.begin());
    }
    return std::nullopt;
}

// A mixture column: the header, with or without the unit that logged it.
bool IsMixture(std::string_view column) { return column.substr(0, std::string_view(kAfrHeader).size()) == kAfrHeader; }

// The throttle zone of a throttle position (1 idle, 2 cruise, 3 WOT); nullopt for anything else.
std::optional<int> ZoneOf(double throttle) {
    if (throttle == 1.0 || throttle == 2.0 || throttle == 3.0) return static_cast<int>(throttle) - 1;
    return std::nullopt;
}

std::uint32_t Blend(std::uint32_t from, std::uint32_t to, double t) {
    std::uint32_t out = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double a = (from >> shift) & 0xFF, b = (to >> shift) & 0xFF;
        out |= static_cast<std::uint32_t>(std::lround(a + (b - a) * t)) << shift;
    }
    return out;
}

// A mean as a cell shows it: about four digits, at most two decimals ("14.58", "120.5", "2768").
std::string CellText(double mean) {
    const double magnitude = std::abs(mean);
    const char* format = magnitude < 99.995 ? "0.00" : magnitude < 999.95 ? "0.0" : "0";
    return FormatNumber(mean, format);
}

} // namespace

Parsed<RunOverlay> MakeRunOverlay(const LogRun& run, std::string_view runName, const TableEditor& editor,
                                  std::string_view mapName, const std::string& column,
                                  const std::array<AutotuneBand, kAutotuneZoneCount>& bands) {
    const Parsed<CellStatistics> stats = ComputeCellStatistics(run, editor, column);
    if (!stats) return ParseError{stats.Error()};

    // Per zone, the statistics of its samples alone: the zone with most weight in a cell judges it.
    std::vector<CellStatistics> zones;
    const std::optional<int> throttle = FindColumn(VariableNames(run.Headers()), kThrottleHeader);
    const bool judged = IsMixture(column) && throttle;
    if (judged) {
        const auto positions = run.ColumnValues(*throttle);
        for (int z = 0; z < kAutotuneZoneCount; ++z) {
            Parsed<CellStatistics> zone = ComputeCellStatistics(
                run, editor, column, [&](int row) { return ZoneOf(positions[static_cast<std::size_t>(row)]) == z; });
            zones.push_back(std::move(*zone));
        }
    }

    double lowest = 0, highest = 0;
    bool any = false;
    for (const CellStats& c : stats->cells) {
        if (c.count == 0) continue;
        lowest = any ? std::min(lowest, c.Mean()) : c.Mean();
        highest = any ? std::max(highest, c.Mean()) : c.Mean();
        any = true;
    }

    RunOverlay overlay;
    overlay.caption = std::string(runName) + ": " + column + " on " + std::string(mapName);
    overlay.summary = "samples: " + std::to_string(stats->samples) + ", cells: " + std::to_string(stats->CellsWith(1));
    if (IsMixture(column) && !throttle) overlay.summary += " (no throttle positions: no targets)";
    overlay.rows = stats->rows;
    overlay.cols = stats->cols;
    overlay.cells.resize(stats->cells.size());
    for (int r = 0; r < stats->rows; ++r) {
        for (int c = 0; c < stats->cols; ++c) {
            const CellStats& s = stats->At(r, c);
            if (s.count == 0) continue;
            OverlayCell& cell = overlay.cells[static_cast<std::size_t>(r * stats->cols + c)];
            const double mean = s.Mean();
            cell.text = CellText(mean);
            // The mean and its distance from the target with a decimal more than the cell, so
            // that a mean at a band's end shows on which side it lies.
            cell.tip = "samples: " + std::to_string(s.count) + " (weight " + FormatNumber(s.weight, "0.00") + ")\n" +
                       "mean: " + FormatNumber(mean, "0.000") + "\nmin: " + FormatNumber(s.min, "0.00") +
                       "\nmax: " + FormatNumber(s.max, "0.00");
            int zone = -1;
            for (int z = 0; z < static_cast<int>(zones.size()); ++z) {
                const double w = zones[static_cast<std::size_t>(z)].At(r, c).weight;
                if (w > 0 && (zone < 0 || w > zones[static_cast<std::size_t>(zone)].At(r, c).weight)) zone = z;
            }
            if (zone >= 0) {
                const AutotuneBand& band = bands[static_cast<std::size_t>(zone)];
                cell.colour = CellStateColour(JudgeMixture(mean, band));
                cell.tip += std::string("\n") + kZoneNames[static_cast<std::size_t>(zone)] + " target " +
                            BandText(band.target) + " \xC2\xB1 " + BandText(band.error) + ": " +
                            FormatNumber(mean - band.target, "+0.000;-0.000;0.000");
            } else {
                cell.colour = Blend(kOverlayNeutralLow, kOverlayNeutralHigh,
                                    highest > lowest ? (mean - lowest) / (highest - lowest) : 0.0);
            }
        }
    }
    return overlay;
}

std::vector<OverlayMap> OverlayMaps(const LogRun& run, EPROM* fuel, EPROM* ignition) {
    std::vector<OverlayMap> maps;
    for (EPROM* image : {fuel, ignition}) {
        if (image == nullptr) continue;
        for (const std::string_view text : MapListForImage(*image)) {
            const MapDefinition* definition = FindMapDefinition(MapTabOf(*image), text);
            if (definition != nullptr && CellStatisticsPlace(run, *definition, image->GetECUType()))
                maps.push_back({std::string(text), image});
        }
    }
    return maps;
}

std::vector<std::string> OverlayColumns(const LogRun& run) {
    std::vector<std::string> columns = VariableNames(run.Headers());
    std::erase(columns, std::string(kTimeHeader));
    return columns;
}

int DefaultOverlayColumn(const std::vector<std::string>& columns) {
    const std::optional<int> mixture = FindColumn(columns, kCellsDefaultColumn);
    return mixture ? *mixture : 0;
}

} // namespace kv
