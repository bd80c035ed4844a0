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
    RenderedMap(EPROM& image, const MapDefinition& definition) : editor(dialogs, dialogs, dialogs) {
        editor.SetEPROM(&image);
        editor.SetControl(&grid);
        ConfigureEditor(editor, MapTabOf(image), &definition, image.GetECUType());
        editor.RenderTable();
    }
    // The text of data cell (row, col).
    std::string Cell(int row, int col) const { return grid.TextMatrix(grid.FixedRows() + row, col + 1); }

    SilentDialogs dialogs;
    TextGrid grid;
    TableEditor editor;
};

} // namespace kv
