#pragma once
// The rows of the conversion-law grid of the aux input dialog, kept apart from the widget so the
// editing rules run headless: rows show the law in order, plus rows the user added and has not
// filled yet. Every change to a point goes through AuxInputs, so the law stays ordered.
#include "platform/parsed.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class AuxInputs;

inline constexpr double kAuxLawMinVolts = 0.0;
inline constexpr double kAuxLawMaxVolts = 5.0;
inline constexpr double kAuxLawMinValue = -1000000.0;
inline constexpr double kAuxLawMaxValue = 1000000.0;

inline constexpr const char* kAuxPasteColumnsMessage = "Data to be pasted must contain 2 columns";
inline constexpr const char* kAuxPasteNumbersMessage =
    "Data to be pasted must contain numbers: input voltage 0 to 5, displayed value -1000000 to 1000000";

struct AuxLawRow {
    std::string volts; // column 0 text ("" while not entered)
    std::string value; // column 1 text
    int point = -1;    // the law point this row shows; -1 for a row not yet in the law
};

class AuxLawGrid {
public:
    // `aux` must outlive the grid.
    AuxLawGrid(AuxInputs& aux, int input);

    int Input() const { return input_; }
    // Shows input n's law (unfilled rows are dropped).
    void Load(int input);
    const std::vector<AuxLawRow>& Rows() const { return rows_; }
    std::string CellText(int row, int col) const;

    // Appends an empty row.
    void AddRow();
    // Removes rows first..last (in any order, clamped to the grid) and their law points.
    void DeleteRows(int first, int last);
    // Puts a checked cell text (from the cell input dialog) into the grid. When both cells of the
    // row are filled, the row's old point is replaced by the new one and the grid is redrawn in
    // law order. False when the row or column does not exist or the text is not a number.
    bool SetCell(int row, int col, const std::string& text);

    // The cells of rows r1..r2, columns c1..c2: cells joined by TAB, rows ended by CR LF.
    std::string CopyText(int r1, int c1, int r2, int c2) const;
    // Adds every line of tab-separated "volts<TAB>value" text as a law point. Returns the message
    // to show when the text is refused (then nothing is added), or nullopt on success.
    std::optional<std::string> Paste(const std::string& text);

    // The range of column col's typed values.
    static double MinFor(int col) { return col == 0 ? kAuxLawMinVolts : kAuxLawMinValue; }
    static double MaxFor(int col) { return col == 0 ? kAuxLawMaxVolts : kAuxLawMaxValue; }

private:
    // Law rows from the law, then the given unfilled rows.
    void Redraw(std::vector<AuxLawRow> pending);

    AuxInputs& aux_;
    int input_;
    std::vector<AuxLawRow> rows_;
};

// A number as shown in the grid: the shortest text that reads back to the same value.
std::string AuxNumberText(double v);
// A typed or pasted number ("." or "," as the decimal separator, surrounding blanks allowed);
// a failure for anything else.
Parsed<double> ParseAuxNumber(const std::string& text);
// Pasted law points: one "volts<TAB>value" line each (CR LF or LF), every number in its column's
// range. A failure, with the message to show, for any other text.
Parsed<std::vector<std::pair<double, double>>> ParseAuxLawPaste(const std::string& text);

} // namespace kv
