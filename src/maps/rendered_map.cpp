#include "maps/rendered_map.h"

namespace kv {

std::string RenderedMap::CellPlace(int row, int col) const {
    std::string column = grid.TextMatrix(0, col + 1);
    for (int r = 1; r < grid.FixedRows(); ++r) column += " (" + grid.TextMatrix(r, col + 1) + ")";
    std::string place = std::string(mapDefinition.xCaption) + (editor.ColumnsNumbered() ? " column " : " ") + column;
    const std::string rowLabel = grid.TextMatrix(grid.FixedRows() + row, 0);
    if (mapDefinition.yCaption.empty() || rowLabel.empty()) return place;
    return std::string(mapDefinition.yCaption) + " " + rowLabel + " / " + place;
}

} // namespace kv
