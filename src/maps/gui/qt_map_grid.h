#pragma once
// The map grid on screen: a QTableWidget behind the table editor's grid interface. The widget's
// cells are the data cells only; the fixed rows are its column header (one line per fixed row)
// and the fixed column its row header, so the axis labels stay in place while the cells scroll.
// Grid coordinates (row, col) count the fixed rows and columns as the interface does; the
// widget's own model indexes do not (IndexOf translates). Positions are relative to the cells'
// viewport; the fixed cells count as lying right above and left of the first cell, wherever the
// cells have scrolled to, although the headers stay in place. Sizes are in twips
// (kTwipsPerPixel per pixel). Key presses are handed out as characters or
// editor codes (Ctrl+C 3, Ctrl+E 5, Ctrl+V 22) and key-downs as key codes (F2 113); every other
// key moves the current cell as usual. The two parts of the operating-point marker are drawn over
// the cells; the fading trail of the last operating points is drawn on the cells' backgrounds,
// under their numbers, which it never hides.
#include "maps/grid.h"
#include "maps/gui/grid_overlay.h"
#include "maps/map_trace.h"

#include <QColor>
#include <QTableWidget>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace kv {

// 1440 twips to the inch at 96 pixels to the inch.
inline constexpr int kTwipsPerPixel = 15;

class QtMapGrid;

// One part of the marker: part 0 a frame around the operating point's cell, part 1 the two arrows
// at its sides.
class MarkerPart final : public QWidget, public MapMarker {
    Q_OBJECT
public:
    MarkerPart(QtMapGrid& grid, int index, QWidget* parent);
    void MoveCentre(double x, double y) override;
    void SetVisible(bool visible) override;
    int Index() const { return index_; }
    // The operating point it marks, in pixels of the grid's viewport.
    QPoint Centre() const { return centre_; }
    void SetCentre(QPoint centre) { centre_ = centre; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QtMapGrid& grid_;
    int index_;
    QPoint centre_;
};

class QtMapGrid final : public QTableWidget, public MapGrid {
    Q_OBJECT
public:
    // `markerName` is the objectName of both marker parts (MapOPIndicator / IgnMapOPIndicator).
    QtMapGrid(const QString& objectName, const QString& markerName, QWidget* parent = nullptr);

    // Key handlers: `onKeyPress` gets a character (EditorCharacterOfKey), `onKeyDown` a key code and
    // the shift state (1 shift, 2 ctrl, 4 alt). A handler returns true when it used the key.
    std::function<bool(char key)> onKeyPress;
    std::function<bool(int keyCode, int shift)> onKeyDown;

    MarkerPart* Marker(int index) const { return markers_[static_cast<std::size_t>(index)]; }
    const OperatingPointTrail& Trail() const { return trail_; }
    // Puts a marker part with its centre on (x, y) twips of the grid: over the cells, or over the
    // row labels when x falls left of them. Over the cells the frame goes round the cell the
    // point lies in, or round the two (or four) it lies between, and the arrows point at that
    // frame from outside: no number is crossed.
    void PlaceMarker(MarkerPart& part, double xTwips, double yTwips);
    // Called by marker part 0.
    void MarkerMoved(double xTwips, double yTwips);
    void MarkerHidden();

    // MapGrid
    int Rows() const override { return rows_; }
    int Cols() const override { return cols_; }
    int FixedRows() const override { return fixedRows_; }
    int FixedCols() const override { return fixedCols_; }
    void SetRows(int rows) override;
    void SetCols(int cols) override;
    void SetFixedRows(int rows) override;
    void SetFixedCols(int cols) override;
    int Row() const override { return row_; }
    int Col() const override { return col_; }
    int RowSel() const override { return rowSel_; }
    int ColSel() const override { return colSel_; }
    void SetCurrentCell(int row, int col) override;
    void SetSelectionEnd(int rowSel, int colSel) override;
    std::string TextMatrix(int row, int col) const override;
    void SetTextMatrix(int row, int col, const std::string& text) override;
    void SetToolTip(int row, int col, const std::string& text) override;
    std::uint32_t CellBackColor() const override;
    void SetCellBackColor(std::uint32_t colour) override;
    int ColWidth(int col) const override;
    void SetColWidth(int col, int twips) override;
    int ColPos(int col) const override;
    int RowPos(int row) const override;
    int RowHeight(int row) const override;
    bool Redraw() const override { return updatesEnabled(); }
    void SetRedraw(bool on) override { setUpdatesEnabled(on); }

    // Whether (row, col) is a label in a header rather than a cell of the widget.
    bool IsFixed(int row, int col) const { return row < fixedRows_ || col < fixedCols_; }
    // The widget's model index of data cell (row, col) in grid coordinates; invalid for a label
    // or outside the grid.
    QModelIndex IndexOf(int row, int col) const;

    // Value colours: while on, every data cell that holds a number is drawn on the maps' colour
    // scale over the lowest to the highest number of the grid, with text that reads on it, in
    // place of its own background (which stays what CellBackColor tells).
    void SetValueColours(bool on);
    bool ValueColours() const { return valueColours_; }
    // The colour cell (row, col) is drawn on while value colours are on; nullopt when it keeps
    // its own (a fixed cell, a cell without a number, or value colours off).
    std::optional<QColor> ValueColourAt(int row, int col) const;

    // Cells that fill the view: while on, the cells grow with the widget until the grid fills
    // it, the columns sharing the width beside the row labels and the rows the height below the
    // column labels (a row never taller than its cells are wide). A cell never shrinks below the
    // width the editor gave its column and the rows' first height; when the grid does not fit
    // that way, it scrolls. Off: the cells keep those sizes.
    void SetCellsFillView(bool on);
    bool CellsFillView() const { return fillView_; }

    // Compared cells: each marked with a frame drawn over whatever colour the cell has, its
    // tool tip carrying the given line below the cell's own tip. Grid coordinates.
    using ComparedCells = std::map<std::pair<int, int>, QString>;
    void SetComparedCells(ComparedCells cells);
    bool IsCompared(int row, int col) const { return compared_.count({row, col}) != 0; }
    const ComparedCells& Compared() const { return compared_; }
    // The tool tip cell (row, col) shows.
    QString CellToolTip(int row, int col) const;

    // A layer shown over the data cells in place of their own texts, colours and tips (null:
    // none). The layer must outlive its use here.
    void SetOverlay(const GridOverlay* overlay);
    const GridOverlay* Overlay() const { return overlay_; }
    // What the layer shows on data cell (row, col) in grid coordinates; nullopt without a layer
    // or for a label.
    std::optional<GridOverlayCell> OverlayCellAt(int row, int col) const;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    // A label: the text and tip of a fixed cell, shown in a header.
    struct Label {
        std::string text;
        std::string tip;
    };
    QTableWidgetItem* ItemAt(int row, int col);
    const QTableWidgetItem* CellItem(int row, int col) const;
    // Re-lays the widget out for a new size and new fixed counts, keeping every cell's and
    // label's content at its grid coordinates.
    void Relayout(int rows, int cols, int fixedRows, int fixedCols);
    void RefreshColumnHeader(int col);
    void RefreshRowHeader(int row);
    void RefreshHeaderSizes();
    void FitColumnLabels();
    // Width of the row labels and height of the column labels as the view lays them out.
    int LabelWidth() const;
    int LabelHeight() const;
    // Where the first cell's left and top edges are in the cells' viewport (negative when the
    // cells are scrolled), in pixels.
    int CellsLeft() const;
    int CellsTop() const;
    // The cells around a point of the viewport: the one it lies in, with its neighbour when the
    // point is nearer their border than the cell's centre (rows and columns alike); empty when
    // the point is on no cell.
    QRect CellsAround(QPoint point) const;
    // The cells' sizes from the editor's widths and, while the cells fill the view, its size.
    void FitCells();
    void PushSelectionToView();
    void TakeSelectionFromView();
    void ClampState();

    bool fillView_ = false;
    bool fitting_ = false;
    std::map<int, int> cellWidths_; // data column (grid coordinates) -> the editor's width in pixels
    bool valueColours_ = false;
    ComparedCells compared_;
    const GridOverlay* overlay_ = nullptr;
    // Lowest and highest number of the data cells; recomputed when a text changed.
    mutable std::optional<std::pair<double, double>> valueRange_;
    mutable bool valueRangeDirty_ = true;

    int rows_ = 0, cols_ = 0;
    int fixedRows_ = 0;
    int fixedCols_ = 0;
    std::map<std::pair<int, int>, Label> labels_; // by grid coordinates
    std::map<int, int> labelWidths_;              // fixed column -> width in pixels
    int row_ = 0, col_ = 0, rowSel_ = 0, colSel_ = 0;
    bool syncing_ = false;
    std::array<MarkerPart*, 2> markers_{};
    OperatingPointTrail trail_;
};

// Qt key event -> the character the editor gets, or 0 when the key is no character: Ctrl+C 3,
// Ctrl+E 5, Ctrl+V 22, + and the keypad's - the letters of the + and - buttons, printable text
// as its first character.
char EditorCharacterOfKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text);

} // namespace kv
