#pragma once
// A grid held in memory only: texts, colours and selection, no widget. Renders maps for the
// command-line tool and anything else that needs the editor's texts without a window.
#include "maps/grid.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class TextGrid final : public MapGrid {
public:
    int Rows() const override { return rows_; }
    int Cols() const override { return cols_; }
    int FixedRows() const override { return fixedRows_; }
    int FixedCols() const override { return fixedCols_; }
    void SetRows(int rows) override { Resize(rows < 0 ? 0 : rows, cols_); }
    void SetCols(int cols) override { Resize(rows_, cols < 0 ? 0 : cols); }
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
        return Inside(row, col) ? texts_[Index(row, col)] : std::string();
    }
    void SetTextMatrix(int row, int col, const std::string& text) override {
        if (Inside(row, col)) texts_[Index(row, col)] = text;
    }
    // Only texts are rendered: a tip has nowhere to show.
    void SetToolTip(int, int, const std::string&) override {}
    std::uint32_t CellBackColor() const override { return Inside(row_, col_) ? colours_[Index(row_, col_)] : kWhite; }
    void SetCellBackColor(std::uint32_t colour) override {
        if (Inside(row_, col_)) colours_[Index(row_, col_)] = colour;
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
    bool Redraw() const override { return redraw_; }
    void SetRedraw(bool on) override { redraw_ = on; }

    static constexpr std::uint32_t kWhite = 0xFFFFFF;
    static constexpr int kRowHeight = 240;

private:
    bool Inside(int row, int col) const { return row >= 0 && col >= 0 && row < rows_ && col < cols_; }
    std::size_t Index(int row, int col) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col);
    }
    void Resize(int rows, int cols) {
        std::vector<std::string> texts(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols));
        std::vector<std::uint32_t> colours(texts.size(), kWhite);
        for (int r = 0; r < rows && r < rows_; ++r)
            for (int c = 0; c < cols && c < cols_; ++c) {
                const std::size_t to =
                    static_cast<std::size_t>(r) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(c);
                texts[to] = texts_[Index(r, c)];
                colours[to] = colours_[Index(r, c)];
            }
        rows_ = rows;
        cols_ = cols;
        texts_ = std::move(texts);
        colours_ = std::move(colours);
        widths_.resize(static_cast<std::size_t>(cols), 0);
    }

    int rows_ = 0, cols_ = 0, fixedRows_ = 0, fixedCols_ = 0;
    int row_ = 0, col_ = 0, rowSel_ = 0, colSel_ = 0;
    bool redraw_ = true;
    std::vector<std::string> texts_;
    std::vector<std::uint32_t> colours_;
    std::vector<int> widths_;
};

} // namespace kv
