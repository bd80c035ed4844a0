#include "datalog/log_cells.h"

#include "datalog/log_chart.h"
#include "maps/blend_shares.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"

#include <algorithm>
#include <cmath>
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

} // namespace

int CellStatistics::CellsWith(int minCount) const {
    return static_cast<int>(std::count_if(cells.begin(), cells.end(),
                                          [&](const CellStats& c) { return c.count > 0 && c.count >= minCount; }));
}

bool CellStatisticsCover(const MapDefinition& definition, EcuType type) {
    return type == EcuType::LH23 && definition.xAxisType == XAxisType::MAPRPMAXIS &&
           definition.yAxisType == YAxisType::MAPMAFAXIS;
}

Parsed<CellStatistics> ComputeCellStatistics(const LogRun& run, const TableEditor& editor, const std::string& column,
                                             const SampleFilter& keep) {
    if (editor.GetXAxisType() != TableEditor::MAPRPMAXIS || editor.GetYAxisType() != TableEditor::MAPMAFAXIS)
        return ParseError{"Cell statistics need a map over engine speed and MAF signal (an LH 2.3 base fuel map)"};
    const std::vector<std::string> names = VariableNames(run.Headers());
    const auto rpm = FindColumn(names, kRpmHeader);
    const auto maf = FindColumn(names, kMafHeader);
    const auto value = FindColumn(names, column);
    if (!rpm || !maf)
        return ParseError{std::string("The run must hold the columns \"") + kRpmHeader + "\" and \"" + kMafHeader +
                          "\""};
    if (!value) return ParseError{"The run has no column \"" + column + "\""};

    CellStatistics stats;
    stats.cols = editor.GetXAxisSize();
    stats.rows = editor.GetYAxisSize();
    if (stats.cols <= 0 || stats.rows <= 0) return ParseError{"The map is empty"};
    stats.cells.resize(static_cast<std::size_t>(stats.rows * stats.cols));
    const auto rpms = run.ColumnValues(*rpm), mafs = run.ColumnValues(*maf), values = run.ColumnValues(*value);
    for (std::size_t r = 0; r < values.size(); ++r) {
        const double v = values[r];
        if (std::isnan(rpms[r]) || std::isnan(mafs[r]) || std::isnan(v)) continue;
        if (keep && !keep(static_cast<int>(r))) continue;
        // The axes as the unit reads them: its engine-speed code and the MAF signal.
        const double fx = editor.FindXCoord(conv::LH_CodeFromRpm(rpms[r]));
        const double fy = editor.FindYCoord(mafs[r]);
        ++stats.samples;
        const auto shares = BlendShares(fx, fy, stats.cols, stats.rows);
        for (std::size_t i = 0; i < shares.size(); ++i) {
            const BlendShare& b = shares[i];
            // At the last column or row two shares land on the same cell: one sample there.
            double share = 0.0;
            bool first = true;
            for (std::size_t j = 0; j < shares.size(); ++j) {
                if (shares[j].row != b.row || shares[j].col != b.col) continue;
                if (j < i) first = false;
                share += shares[j].share;
            }
            if (!first || share <= 0.0) continue;
            CellStats& c = stats.cells[static_cast<std::size_t>(b.row * stats.cols + b.col)];
            ++c.count;
            c.weight += share;
            c.weightedSum += share * v;
            c.min = std::min(c.min, v);
            c.max = std::max(c.max, v);
        }
    }
    return stats;
}

} // namespace kv
