#pragma once
// One data-logging run in memory: the column titles and the sample rows of cell texts, with each
// cell's number read once for the chart. The texts of all cells share one character arena with a
// 32-bit end offset per cell, and the numbers are kept per column, so that a full run of 10000
// rows stays a few megabytes.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

// The number a cell text shows, with "," or "." as decimal separator and blanks ignored; NaN when
// the text is not a number (an empty cell included).
double CellNumber(std::string_view text);

class LogRun {
public:
    LogRun() = default;
    explicit LogRun(std::vector<std::string> headers);

    // The header row. Setting it keeps the rows, padded with empty cells or cut to the new width.
    const std::vector<std::string>& Headers() const { return headers_; }
    void SetHeaders(std::vector<std::string> headers);
    int ColumnCount() const { return static_cast<int>(headers_.size()); }
    // Sample rows, header row excluded.
    int RowCount() const { return rows_; }

    // Appends one row: missing cells are empty, cells past the last column are dropped. False
    // (and nothing appended) when the run's text would no longer fit its 32-bit offsets.
    bool AppendRow(std::span<const std::string> cells);
    bool AppendRow(std::span<const std::string_view> cells);

    // Cell text and number of sample row `row` (0-based, header row excluded); empty text and
    // NaN outside the run.
    std::string_view Cell(int row, int column) const;
    double Value(int row, int column) const;
    // Every row's number in one column, top to bottom (empty outside the run).
    std::span<const double> ColumnValues(int column) const;

    // Removes `count` sample rows from `first` on (clamped to the rows there are).
    void RemoveRows(int first, int count);
    void Clear();

    // Bytes this run holds on the heap (capacities included), for the memory benchmark.
    std::size_t HeapBytes() const;
    // Gives back spare capacity after the last row has been added.
    void Compact();

    // Row building without a container of strings per row: AddCell per cell (those past the last
    // column are dropped), then EndRow, which pads the missing cells and appends the row (false,
    // and the row dropped, when the text would no longer fit). Used by the file reader.
    void ReserveRows(std::size_t rows, std::size_t textBytes);
    void AddCell(std::string_view text);
    bool EndRow();

private:
    std::vector<std::string> headers_;
    int rows_ = 0;
    std::string text_;                        // every cell's text, row by row
    std::vector<std::uint32_t> ends_;         // end offset in text_ of each cell, row by row
    std::vector<std::vector<double>> values_; // per column, one number per row
    std::size_t rowCells_ = 0;                // cells added to the row being built
    bool overflow_ = false;                   // the row being built does not fit
};

} // namespace kv
