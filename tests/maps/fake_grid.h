#pragma once
// A grid that keeps its texts, colours and selection in memory, and a marker part that records
// where it was put; for the table editor's tests.
#include "maps/grid.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class FakeGrid final : public MapGrid {
public:
    int Rows() const override { return rows_; }
    int Cols() const override { return cols_; }
    int FixedRows() const override { return fixedRows_; }
    int FixedCols() const override { return fixedCols_; }
    void SetRows(int rows) override {
        rows_ = rows;
        Trim();
    }
    void SetCols(int cols) override {
        cols_ = cols;
        widths_.resize(static_cast<std::size_t>(cols > 0 ? cols : 0), 0);
        Trim();
    }
    void SetFixedRows(int rows) override { fixedRows_ = rows; }
    void SetFixedCols(int cols) override { fixedCols_ = cols; }

    int Row() const override { return row_; }
    int Col() const override { return col_; }
    int RowSel() const override { return rowSel_; }
    int ColSel() const override { return colSel_; }
    void SetCurrentCell(int row, int col) override {
        row_ = rowSel_ = row;
        col_ = colSel_ = col;
    }
    void SetSelectionEnd(int rowSel, int colSel) override {
        rowSel_ = rowSel;
        colSel_ = colSel;
    }

    std::string TextMatrix(int row, int col) const override {
        auto it = texts_.find({row, col});
        return it == texts_.end() ? std::string() : it->second;
    }
    void SetTextMatrix(int row, int col, const std::string& text) override {
        if (row < 0 || col < 0 || row >= rows_ || col >= cols_) return;
        texts_[{row, col}] = text;
        ++textWrites;
    }

    std::uint32_t CellBackColor() const override {
        auto it = colours_.find({row_, col_});
        return it == colours_.end() ? 0xFFFFFFu : it->second;
    }
    void SetCellBackColor(std::uint32_t colour) override {
        if (!redraw_) ++colourChangesWhileRedrawOff;
        colours_[{row_, col_}] = colour;
    }

    int ColWidth(int col) const override {
        return col >= 0 && col < cols_ ? widths_[static_cast<std::size_t>(col)] : 0;
    }
    void SetColWidth(int col, int twips) override {
        if (col >= 0 && col < cols_) widths_[static_cast<std::size_t>(col)] = twips;
    }
    int ColPos(int col) const override {
        int x = 0;
        for (int c = 0; c < col && c < cols_; ++c) x += widths_[static_cast<std::size_t>(c)];
        return x;
    }
    int RowPos(int row) const override { return row * kRowHeight; }
    int RowHeight(int) const override { return kRowHeight; }

    void SetToolTip(int row, int col, const std::string& text) override {
        if (row >= 0 && col >= 0 && row < rows_ && col < cols_) tips_[{row, col}] = text;
    }

    bool Redraw() const override { return redraw_; }
    void SetRedraw(bool on) override { redraw_ = on; }

    // Colour of a cell without touching the selection.
    std::uint32_t ColourAt(int row, int col) const {
        auto it = colours_.find({row, col});
        return it == colours_.end() ? 0xFFFFFFu : it->second;
    }
    std::string ToolTipAt(int row, int col) const {
        auto it = tips_.find({row, col});
        return it == tips_.end() ? std::string() : it->second;
    }
    // One grid row as its texts.
    std::vector<std::string> RowTexts(int row) const {
        std::vector<std::string> texts;
        for (int c = 0; c < cols_; ++c) texts.push_back(TextMatrix(row, c));
        return texts;
    }

    static constexpr int kRowHeight = 240;
    int textWrites = 0;
    int colourChangesWhileRedrawOff = 0;

private:
    void Trim() {
        for (auto it = texts_.begin(); it != texts_.end();) {
            if (it->first.first >= rows_ || it->first.second >= cols_)
                it = texts_.erase(it);
            else
                ++it;
        }
        for (auto it = tips_.begin(); it != tips_.end();) {
            if (it->first.first >= rows_ || it->first.second >= cols_)
                it = tips_.erase(it);
            else
                ++it;
        }
    }

    int rows_ = 0, cols_ = 0, fixedRows_ = 0, fixedCols_ = 0;
    int row_ = 0, col_ = 0, rowSel_ = 0, colSel_ = 0;
    bool redraw_ = true;
    std::vector<int> widths_;
    std::map<std::pair<int, int>, std::string> texts_;
    std::map<std::pair<int, int>, std::string> tips_;
    std::map<std::pair<int, int>, std::uint32_t> colours_;
};

class FakeMarker final : public MapMarker {
public:
    void MoveCentre(double x, double y) override {
        centreX = x;
        centreY = y;
    }
    void SetVisible(bool v) override { visible = v; }
    double centreX = -1, centreY = -1;
    bool visible = false;
};

} // namespace kv
