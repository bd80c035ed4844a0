#pragma once
// Cell statistics: a run laid over a fuel or ignition map. Each sample's operating point (its
// engine speed and load, turned into the raw axis values the unit reads its map axes in) falls
// between four cells (two on a map of one row); each of them takes the sample in the unit's own
// interpolation shares. Per cell: how many samples touched it, their
// share-weighted count, and the share-weighted mean with the minimum and maximum of one column.
#include "datalog/log_catalogue.h"
#include "datalog/log_run.h"
#include "platform/parsed.h"

#include "eprom/ecu_type.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace kv {

class TableEditor;
struct MapDefinition;

struct CellStats {
    int count = 0;          // samples with a share in the cell
    double weight = 0;      // their shares added up
    double weightedSum = 0; // the column's values times their shares, added up
    double min = std::numeric_limits<double>::infinity();
    double max = -std::numeric_limits<double>::infinity();
    double Mean() const { return weight > 0 ? weightedSum / weight : std::numeric_limits<double>::quiet_NaN(); }
};

struct CellStatistics {
    int rows = 0, cols = 0;
    int samples = 0; // samples with an operating point and a value
    std::vector<CellStats> cells;
    const CellStats& At(int row, int col) const { return cells[static_cast<std::size_t>(row * cols + col)]; }
    // Cells touched by at least `minCount` samples.
    int CellsWith(int minCount) const;
};

// The column averaged by default (the columns that give the operating point are kRpmHeader and
// the unit's load column: kMafHeader, kEzkLoadHeader or kEzfVacuumHeader).
inline constexpr const char* kCellsDefaultColumn = kAfrHeader;

// The statistics of `column` (a variable name as the chart lists it; the fuel unit's columns
// first when the ignition unit logs the same header) over the map the editor shows, of the
// editor's image. The map must lie over engine speed (and, with more than one row, load) of an
// LH 2.3, LH 2.2, EZK or EZF image; the run must hold the unit's engine speed ("RPM", or
// "RPM (fuel)" / "RPM (ignition)" when both units logged it), its load column for a map with
// rows, and the column. Otherwise the message why not, naming a missing column.
// `keep`, when given, chooses the run rows that count (by row index).
using SampleFilter = std::function<bool(int row)>;
Parsed<CellStatistics> ComputeCellStatistics(const LogRun& run, const TableEditor& editor, const std::string& column,
                                             const SampleFilter& keep = {});

// Whether the run's columns place samples on the map `definition` describes in an image of
// `type`.
bool CellStatisticsPlace(const LogRun& run, const MapDefinition& definition, EcuType type);

} // namespace kv
