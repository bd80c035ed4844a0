#pragma once
// Comparing two images of the same kind: map by map in the texts the map editor shows (a cell
// differs when its stored value or its shown text differs), and parameter by parameter over the
// bytes of each parameter entry of the unit. Used by `kestrovane-cli diff` and by the window's
// comparison, so both find the same differences.
#include "maps/map_definitions.h"
#include "platform/parsed.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class EPROM;

// One differing cell, in data coordinates (row 0 is the first row below the axis labels).
struct CellDifference {
    int row = 0;
    int col = 0;
    std::string text;      // shown in the first image
    std::string otherText; // shown in the second image
    friend bool operator==(const CellDifference&, const CellDifference&) = default;
};

// The differing cells of one listed map, in row then column order.
struct MapDifference {
    std::string name; // the map list's text
    std::vector<CellDifference> cells;
};

// One parameter entry whose bytes differ, the bytes written as decimal numbers split by blanks.
struct ParameterDifference {
    int entry = 0;
    std::int32_t address = 0;
    std::string bytes;
    std::string otherBytes;
};

struct ImageComparison {
    MapTab tab = MapTab::Fuel;       // the tab that lists the maps
    std::vector<MapDifference> maps; // only maps with differing cells, in list order
    std::vector<ParameterDifference> parameters;
    bool Equal() const { return maps.empty() && parameters.empty(); }
};

// The differing cells of one map of two images of the same kind (the editor reads both).
std::vector<CellDifference> CompareMap(EPROM& a, EPROM& b, const MapDefinition& definition);

// Compares `a` with `b`. Images of different kinds cannot be compared: the error then says so.
Parsed<ImageComparison> CompareImages(EPROM& a, EPROM& b);

} // namespace kv
