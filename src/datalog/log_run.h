#pragma once
// One data-logging run in memory: the column titles and the sample rows of cell texts, with each
// cell's number read once for the chart. The rows' texts share one character arena, each row its
// cells joined by tabs, with a 32-bit end offset per row; the numbers are kept per column. A full
// run of 10000 rows stays a few megabytes.
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

    // Appends one row: missing cells are empty, cells past the last column are dropped, a tab in
    // a cell becomes a blank. False (and nothing appended) when the run's text would no longer
    // fit its 32-bit offsets.
    bool AppendRow(std::span<const std::string> cells);
    bool AppendRow(std::span<const std::string_view> cells);
    // Appends one row given as its cells joined by tabs (at most ColumnCount cells; missing ones
    // are empty) with the number of every column (ColumnCount values, NaN for no number), as the
    // file reader has them at hand. False as above.
    bool AppendJoinedRow(std::string_view joinedCells, std::span<const double> numbers);

    // Cell text and number of sample row `row` (0-based, header row excluded); empty text and
    // NaN outside the run.
    std::string_view Cell(int row, int column) const;
    double Value(int row, int column) const;
    // Every cell text of sample row `row` into `cells` (ColumnCount entries, empty past the
    // row's last cell), in one pass over the row.
    void RowCells(int row, std::vector<std::string_view>& cells) const;
    // Every row's number in one column, top to bottom (empty outside the run).
    std::span<const double> ColumnValues(int column) const;

    // Removes `count` sample rows from `first` on (clamped to the rows there are).
    void RemoveRows(int first, int count);
    void Clear();

    // Gives back spare capacity, where much is spare, after the last row has been added.
    void Compact();

    // Room for `rows` rows of `textBytes` characters in all.
    void ReserveRows(std::size_t rows, std::size_t textBytes);

private:
    template <typename Cells>
    bool AppendCells(const Cells& cells);
    // The text of row `row`: its cells joined by tabs.
    std::string_view RowText(int row) const;

    std::vector<std::string> headers_;
    int rows_ = 0;
    std::string text_;                        // every row's cells, joined by tabs, row after row
    std::vector<std::uint32_t> rowEnds_;      // end offset in text_ of each row
    std::vector<std::vector<double>> values_; // per column, one number per row
};

} // namespace kv
