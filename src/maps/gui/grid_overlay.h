#pragma once
// A layer laid over a map grid's data cells as a view: while a grid has one, each data cell shows
// the layer's text, background and tool tip in place of its own. The cells' own content stays as
// it was underneath and comes back when the layer is taken away.
#include <QColor>
#include <QString>

namespace kv {

struct GridOverlayCell {
    QString text;
    QString tip;
    QColor background; // invalid: the grid's plain cell colour
};

class GridOverlay {
public:
    virtual ~GridOverlay() = default;
    // Data cell (row, col), counted from the first cell right of and below the labels.
    virtual GridOverlayCell Cell(int row, int col) const = 0;
};

} // namespace kv
