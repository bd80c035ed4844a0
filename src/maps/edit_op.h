#pragma once

namespace kv {

// The table editor's edit operations: a step or a percentage change, up or down, of the selected
// cells (SEL) or of the cell at the operating point (OP); 1 / 2 = step size 1 / step size 2,
// P = a percentage asked from the user. The map grids' letter keys and "Modify" buttons become
// these (see map_keys.h).
enum class EditOp {
    INC1SEL,
    DEC1SEL,
    INC2SEL,
    DEC2SEL,
    INCPSEL,
    DECPSEL,
    INC1OP,
    DEC1OP,
    INC2OP,
    DEC2OP,
    INCPOP,
    DECPOP,
};

} // namespace kv
