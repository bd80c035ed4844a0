#include "datalog/log_cells.h"

#include "datalog/log_chart.h"
#include "eprom/eprom_image.h"
#include "maps/blend_shares.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>

namespace kv {

namespace {

// The column named `name`, or else the fuel unit's column of that header.
std::optional<int> FindColumn(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& candidate : {name, name + " (fuel)"}) {
        const auto it = std::find(names.begin(), names.end(), candidate);
        if (it != names.end()) return static_cast<int>(it - names.begin());
    }
    return std::nullopt;
}

// The unit's own column of `header`: the header alone, or with the unit's part when both units
// logged it.
std::optional<int> FindUnitColumn(const std::vector<std::string>& names, const std::string& header, bool ignition) {
    for (const std::string& candidate : {header, header + (ignition ? " (ignition)" : " (fuel)")}) {
        const auto it = std::find(names.begin(), names.end(), candidate);
        if (it != names.end()) return static_cast<int>(it - names.begin());
    }
    return std::nullopt;
}

bool IsRpmAxis(XAxisType t) {
    return t == XAxisType::MAPRPMAXIS || t == XAxisType::RPMAXIS || t == XAxisType::IGNRPMAXIS1 ||
           t == XAxisType::IGNRPMAXIS2 || t == XAxisType::IGNRPMAXIS3 || t == XAxisType::EZFRPMAXIS;
}

// The load axis of a map with rows (the LH 2.2 MAF axis is the LH MAF axis read reversed).
enum class LoadAxis { None, Maf, EzkLoad, EzfVacuum, Other };

LoadAxis LoadAxisOf(YAxisType t) {
    switch (t) {
    case YAxisType::None: return LoadAxis::None;
    case YAxisType::MAPMAFAXIS:
    case YAxisType::MAPMAFAXIS_LH22: return LoadAxis::Maf;
    case YAxisType::IGNLOADAXIS: return LoadAxis::EzkLoad;
    case YAxisType::EZFLOADAXIS: return LoadAxis::EzfVacuum;
    }
    return LoadAxis::Other;
}

// The period word (1..65535) of `rpm` by the unit's conversion `rpmOf` (falling with the
// period): the middle of the periods that give that speed, or else the period whose speed lies
// nearest.
template <typename RpmOf>
double PeriodOf(RpmOf rpmOf, double rpm) {
    // The first period whose speed is at most `limit` (strictly below it when `below`).
    const auto first = [&](double limit, bool below) {
        std::int64_t lo = 1, hi = 65535;
        while (lo < hi) {
            const std::int64_t mid = (lo + hi) / 2;
            if (below ? rpmOf(mid) < limit : rpmOf(mid) <= limit)
                hi = mid;
            else
                lo = mid + 1;
        }
        return lo;
    };
    const std::int64_t at = first(rpm, false), past = first(rpm, true);
    if (past > at) return (static_cast<double>(at) + static_cast<double>(past - 1)) / 2.0;
    if (at > 1 && std::abs(rpmOf(at - 1) - rpm) < std::abs(rpmOf(at) - rpm)) return static_cast<double>(at - 1);
    return static_cast<double>(at);
}

// The raw 16-bit vacuum reading whose inHg by the unit's conversion (falling with the reading)
// is `inHg`.
double VacuumRawOf(double inHg) {
    double lo = 0, hi = 65535;
    for (int i = 0; i < 40; ++i) {
        const double mid = (lo + hi) / 2;
        (conv::VacuumFromRaw(mid) > inHg ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// Where a run's samples come from on a map: the columns and the raw axis values the unit reads.
struct Placement {
    EcuType type = EcuType::Unknown;
    LoadAxis load = LoadAxis::None;
    int rpmColumn = 0;
    std::optional<int> loadColumn;

    double RawRpm(double rpm) const {
        switch (type) {
        case EcuType::LH23: return conv::LH_CodeFromRpm(rpm);
        case EcuType::LH22: return conv::LH_ByteFromRpm(rpm);
        case EcuType::EZK: return PeriodOf([](std::int64_t v) { return conv::EZK_RpmFromPeriod(v); }, rpm);
        case EcuType::EZF: return PeriodOf([](std::int64_t v) { return conv::EZF_RpmFromPeriod(v); }, rpm);
        case EcuType::Unknown: break;
        }
        return 0;
    }
    // `loadTop`: the last point of the load axis (the EZK's load rows run up to it at 100 %).
    double RawLoad(double value, double loadTop) const {
        switch (load) {
        case LoadAxis::Maf: return value;
        case LoadAxis::EzkLoad: return value * loadTop / 100.0;
        case LoadAxis::EzfVacuum: return VacuumRawOf(value) / 256.0;
        case LoadAxis::None:
        case LoadAxis::Other: break;
        }
        return 0;
    }
};

Parsed<Placement> Place(const std::vector<std::string>& names, XAxisType x, YAxisType y, EcuType type) {
    const LoadAxis load = LoadAxisOf(y);
    if (type == EcuType::Unknown || !IsRpmAxis(x) || load == LoadAxis::Other)
        return ParseError{"Cell statistics need a map over engine speed (and load); this map lies over a temperature"};
    const bool ignition = type == EcuType::EZK || type == EcuType::EZF;
    Placement p;
    p.type = type;
    p.load = load;
    const auto rpm = FindUnitColumn(names, kRpmHeader, ignition);
    if (!rpm)
        return ParseError{std::string("The run has no column \"") + kRpmHeader + "\" for the map's engine-speed axis"};
    p.rpmColumn = *rpm;
    if (load != LoadAxis::None) {
        const char* header = load == LoadAxis::Maf       ? kMafHeader
                             : load == LoadAxis::EzkLoad ? kEzkLoadHeader
                                                         : kEzfVacuumHeader;
        p.loadColumn = FindUnitColumn(names, header, ignition);
        if (!p.loadColumn)
            return ParseError{std::string("The run has no column \"") + header + "\" for the map's load axis"};
    }
    return p;
}

} // namespace

int CellStatistics::CellsWith(int minCount) const {
    return static_cast<int>(std::count_if(cells.begin(), cells.end(),
                                          [&](const CellStats& c) { return c.count > 0 && c.count >= minCount; }));
}

bool CellStatisticsPlace(const LogRun& run, const MapDefinition& definition, EcuType type) {
    return static_cast<bool>(Place(VariableNames(run.Headers()), definition.xAxisType, definition.yAxisType, type));
}

Parsed<CellStatistics> ComputeCellStatistics(const LogRun& run, const TableEditor& editor, const std::string& column,
                                             const SampleFilter& keep) {
    const std::vector<std::string> names = VariableNames(run.Headers());
    const EcuType type = editor.GetEPROM() != nullptr ? editor.GetEPROM()->GetECUType() : EcuType::Unknown;
    const Parsed<Placement> place = Place(names, editor.GetXAxisType(), editor.GetYAxisType(), type);
    if (!place) return ParseError{place.Error()};
    const auto value = FindColumn(names, column);
    if (!value) return ParseError{"The run has no column \"" + column + "\""};

    CellStatistics stats;
    stats.cols = editor.GetXAxisSize();
    stats.rows = editor.GetYAxisSize();
    if (stats.cols <= 0 || stats.rows <= 0) return ParseError{"The map is empty"};
    stats.cells.resize(static_cast<std::size_t>(stats.rows * stats.cols));
    const double loadTop = editor.YAxisPoints().empty() ? 0.0 : editor.YAxisPoints().back();
    const auto rpms = run.ColumnValues(place->rpmColumn), values = run.ColumnValues(*value);
    const auto loads = place->loadColumn ? run.ColumnValues(*place->loadColumn) : decltype(rpms){};
    for (std::size_t r = 0; r < values.size(); ++r) {
        const double v = values[r];
        const double load = place->loadColumn ? loads[r] : 0.0;
        if (std::isnan(rpms[r]) || std::isnan(load) || std::isnan(v)) continue;
        if (keep && !keep(static_cast<int>(r))) continue;
        // The axes as the unit reads them.
        const double fx = editor.FindXCoord(place->RawRpm(rpms[r]));
        const double fy = place->loadColumn ? editor.FindYCoord(place->RawLoad(load, loadTop)) : 0.0;
        ++stats.samples;
        for (const BlendShare& b : BlendShares(fx, fy, stats.cols, stats.rows)) {
            CellStats& c = stats.cells[static_cast<std::size_t>(b.row * stats.cols + b.col)];
            ++c.count;
            c.weight += b.share;
            c.weightedSum += b.share * v;
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
        }
    }
    return stats;
}

} // namespace kv
