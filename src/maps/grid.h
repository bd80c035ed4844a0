#pragma once
// What the table editor needs of its grid widget. Cells are addressed by row and column from 0;
// fixed (header) rows are at the top, fixed columns at the left. Sizes and positions are in
// twips. The Qt grid implements it; tests use a recording fake.
#include <cstdint>
#include <string>

namespace kv {

class MapGrid {
public:
    virtual ~MapGrid() = default;

    virtual int Rows() const = 0;
    virtual int Cols() const = 0;
    virtual int FixedRows() const = 0;
    virtual int FixedCols() const = 0;
    // Changing the size keeps the texts of the cells that remain; new cells are empty.
    virtual void SetRows(int rows) = 0;
    virtual void SetCols(int cols) = 0;
    virtual void SetFixedRows(int rows) = 0;
    virtual void SetFixedCols(int cols) = 0;

    // Current cell and selection end; the selection is the rectangle between the two.
    virtual int Row() const = 0;
    virtual int Col() const = 0;
    virtual int RowSel() const = 0;
    virtual int ColSel() const = 0;
    // Makes (row, col) the current cell and collapses the selection onto it.
    virtual void SetCurrentCell(int row, int col) = 0;
    // Moves the selection end, keeping the current cell.
    virtual void SetSelectionEnd(int rowSel, int colSel) = 0;

    // Text of any cell; outside the grid: empty text, writes ignored.
    virtual std::string TextMatrix(int row, int col) const = 0;
    virtual void SetTextMatrix(int row, int col, const std::string& text) = 0;

    // Tool tip of any cell; outside the grid: ignored. Cells keep their tip until the grid shrinks past them.
    virtual void SetToolTip(int row, int col, const std::string& text) = 0;

    // Background colour (0x00BBGGRR) of the current cell.
    virtual std::uint32_t CellBackColor() const = 0;
    virtual void SetCellBackColor(std::uint32_t colour) = 0;

    virtual int ColWidth(int col) const = 0;
    virtual void SetColWidth(int col, int twips) = 0;
    // Left edge of a column and top edge / height of a row, relative to the grid.
    virtual int ColPos(int col) const = 0;
    virtual int RowPos(int row) const = 0;
    virtual int RowHeight(int row) const = 0;

    // Redraw switch: while off, changes are not painted.
    virtual bool Redraw() const = 0;
    virtual void SetRedraw(bool on) = 0;
};

// One part of the operating-point marker drawn over the grid.
class MapMarker {
public:
    virtual ~MapMarker() = default;
    // Centres the marker part on (x, y) twips relative to the grid.
    virtual void MoveCentre(double x, double y) = 0;
    virtual void SetVisible(bool visible) = 0;
};

} // namespace kv
