#pragma once
// One listed map of an image rendered through the table editor into an in-memory grid: the
// texts the map editor shows, without a window. Shared by the command-line tool and the image
// comparison.
#include "eprom/eprom_image.h"
#include "maps/map_definitions.h"
#include "maps/table_editor.h"
#include "maps/text_grid.h"
#include "platform/silent_dialogs.h"

#include <string>

namespace kv {

// The tab whose list holds the image's maps.
inline MapTab MapTabOf(const EPROM& image) { return image.GetECUFunction() == 2 ? MapTab::Ignition : MapTab::Fuel; }

// An editor bound to an in-memory grid, configured for one map and rendered. Every question of
// the editor is cancelled and nothing is shown.
struct RenderedMap {
    RenderedMap(EPROM& image, const MapDefinition& definition)
        : mapDefinition(definition), editor(dialogs, dialogs, dialogs) {
        editor.SetEPROM(&image);
        editor.SetControl(&grid);
        ConfigureEditor(editor, MapTabOf(image), &definition, image.GetECUType());
        editor.RenderTable();
    }
    // The text of data cell (row, col).
    std::string Cell(int row, int col) const { return grid.TextMatrix(grid.FixedRows() + row, col + 1); }
    // Data cell (row, col) named by its axis values as the map tab shows them: each axis caption
    // followed by the cell's label on that axis, the rows' axis first ("MAF 96 / RPM 2200"). A
    // map of one row names only its column; a second header line is given in brackets
    // ("Coolant temperature 20 °C (68 °F)"); numbered columns are named as such
    // ("Coolant temperature column 3").
    std::string CellPlace(int row, int col) const;

    const MapDefinition& mapDefinition;
    SilentDialogs dialogs;
    TextGrid grid;
    TableEditor editor;
};

} // namespace kv
