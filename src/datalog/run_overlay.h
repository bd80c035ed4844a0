#pragma once
// A run laid over a map grid as a view: the cell statistics of one column turned into what each
// data cell of the map's grid shows while the overlay is on (its text, background and tool tip).
// A cell that no sample touched is blank. The mixture column is judged against the autotune band
// of the throttle zone that gave the cell most of its samples' shares, with autotune's own rule
// and colours; any other column (or a mixture without throttle positions) is shaded neutrally from
// the lowest to the highest mean. The map itself is never touched.
#include "autotune/autotune.h"
#include "datalog/log_run.h"
#include "platform/parsed.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class EPROM;
class TableEditor;

struct OverlayCell {
    std::string text; // the weighted mean, about four digits; empty for a blank cell
    std::string tip;  // samples, weight, mean, min, max and, when judged, the zone's target
    // Background (0x00BBGGRR); nullopt for a blank cell.
    std::optional<std::uint32_t> colour;
};

struct RunOverlay {
    std::string caption; // names the run, the column and the map
    std::string summary; // samples and cells
    int rows = 0, cols = 0;
    std::vector<OverlayCell> cells; // row by row, in the grid's data coordinates
    const OverlayCell& At(int row, int col) const { return cells[static_cast<std::size_t>(row * cols + col)]; }
};

// The ends of the neutral shading (0x00BBGGRR): the lowest mean and the highest.
inline constexpr std::uint32_t kOverlayNeutralLow = 0xF4F4F4;
inline constexpr std::uint32_t kOverlayNeutralHigh = 0xB4B4B4;

// The overlay of `column` of the run called `runName` over the map the editor shows, listed as
// `mapName`, judged against `bands`. Fails with the cell statistics' message.
Parsed<RunOverlay> MakeRunOverlay(const LogRun& run, std::string_view runName, const TableEditor& editor,
                                  std::string_view mapName, const std::string& column,
                                  const std::array<AutotuneBand, kAutotuneZoneCount>& bands);

// A map a run can be laid over: its list text and the image it belongs to.
struct OverlayMap {
    std::string name;
    EPROM* image;
};
// The maps of the two images (either may be null or hold no unit) that the run's columns place
// samples on, fuel image first, in list order.
std::vector<OverlayMap> OverlayMaps(const LogRun& run, EPROM* fuel, EPROM* ignition);

// The columns a run offers (VariableNames without the time), and the one chosen at first: the
// mixture when the run holds it, else the first.
std::vector<std::string> OverlayColumns(const LogRun& run);
int DefaultOverlayColumn(const std::vector<std::string>& columns);

} // namespace kv
