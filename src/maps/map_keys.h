#pragma once
// The main window's key mapping of the two map grids: the letter keys and the letters the
// "Modify" buttons send become the editor's edit operations.
//
// Fuel grid: q/Q INC1, a/A DEC1, w/W INC2, s/S DEC2, e/E INCP, d/D DECP, as SEL codes with
// "Manually selected cells" chosen and as OP codes with "Cell at current operating point".
// Ignition grid: only q/a/w/s are mapped; for every ignition map except the three max knock
// retard maps the letters are first swapped (q<->a, w<->s), because a larger stored byte means
// less advance there. Every other key is no operation: it stays a typed character.
#include <optional>

#include "maps/edit_op.h"
#include "maps/map_definitions.h"

namespace kv {

// The letter each step button sends, in button order Inc1, Dec1, Inc2, Dec2, IncPercent,
// DecPercent.
inline constexpr char kMapButtonLetters[6] = {'q', 'a', 'w', 's', 'e', 'd'};

// The operation passed to TableEditor::Apply for key character `key` on the tab's grid, or none
// when the key is a character for TableEditor::KeyPress.
// `atOperatingPoint`: the cell-source choice is "Cell at current operating point".
std::optional<EditOp> MapKeyToEditOp(MapTab tab, int mapId, bool atOperatingPoint, char key);

} // namespace kv
