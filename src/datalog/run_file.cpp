#include "datalog/run_file.h"

#include "platform/file_io.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

namespace kv {

namespace {

// A run file of 10000 rows of every loggable value is a few megabytes; one far larger is not a
// run file.
constexpr std::size_t kMaxRunFileBytes = 256u * 1024 * 1024;

class LineReader {
public:
    explicit LineReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

    // Moves past empty lines and comment lines; false at the end of the text.
    bool SkipToContent() {
        while (p_ != end_) {
            if (*p_ == ';') {
                p_ = LineEnd(p_);
            } else if (*p_ != '\n' && *p_ != '\r') {
                return true;
            }
            p_ = PastBreak(p_);
        }
        return false;
    }

    // The rest of the current line, moving to the next.
    std::string_view TakeLine() {
        const char* start = p_;
        const char* stop = LineEnd(p_);
        p_ = PastBreak(stop);
        return {start, static_cast<std::size_t>(stop - start)};
    }

private:
    const char* LineEnd(const char* q) const {
        while (q != end_ && *q != '\n' && *q != '\r') ++q;
        return q;
    }
    // A line ends with LF, CR LF or a lone CR.
    const char* PastBreak(const char* q) const {
        if (q != end_ && *q == '\r') ++q;
        if (q != end_ && *q == '\n') ++q;
        return q;
    }

    const char* p_;
    const char* end_;
};

std::vector<std::string> SplitAtTabs(std::string_view line) {
    std::vector<std::string> cells;
    for (;;) {
        const std::size_t tab = line.find('\t');
        cells.emplace_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return cells;
        line.remove_prefix(tab + 1);
    }
}

// Stores one data line as a row: cells split at tabs, blanks removed, "," and "." made the
// decimal separator.
bool StoreRow(std::string_view line, char decimalSeparator, std::string& cell, LogRun& run) {
    cell.clear();
    for (const char c : line) {
        switch (c) {
        case '\t':
            run.AddCell(cell);
            cell.clear();
            break;
        case ' ': break;
        case ',':
        case '.': cell.push_back(decimalSeparator); break;
        default: cell.push_back(c);
        }
    }
    run.AddCell(cell);
    return run.EndRow();
}

void AppendCsvField(std::string& out, std::string_view field) {
    if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
        out.append(field);
        return;
    }
    out.push_back('"');
    for (const char c : field) {
        if (c == '"') out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
}

} // namespace

Parsed<LoadedRunFile> ParseRunFile(std::string_view text, char decimalSeparator) {
    LineReader lines(text);
    if (!lines.SkipToContent()) return ParseError{RunFileEmptyMessage()};
    LoadedRunFile loaded{LogRun(SplitAtTabs(lines.TakeLine())), false};
    const auto lineCount = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    loaded.run.ReserveRows(std::min<std::size_t>(lineCount, kMaxRunRows), text.size());
    std::string cell;
    while (lines.SkipToContent()) {
        if (loaded.run.RowCount() == kMaxRunRows) {
            loaded.truncated = true;
            break;
        }
        if (!StoreRow(lines.TakeLine(), decimalSeparator, cell, loaded.run)) return ParseError{RunLoadErrorMessage()};
    }
    loaded.run.Compact();
    return loaded;
}

Parsed<LoadedRunFile> LoadRunFile(const std::string& path, char decimalSeparator) {
    const Parsed<std::vector<std::uint8_t>> bytes = ReadRegularFile(path, kMaxRunFileBytes);
    if (!bytes) return ParseError{RunLoadErrorMessage()};
    return ParseRunFile(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()),
                        decimalSeparator);
}

std::string RunBlockText(const LogRun& run, int firstRow, int lastRow, int firstColumn, int lastColumn) {
    if (firstRow > lastRow) std::swap(firstRow, lastRow);
    if (firstColumn > lastColumn) std::swap(firstColumn, lastColumn);
    firstRow = std::max(firstRow, 0);
    lastRow = std::min(lastRow, run.RowCount());
    firstColumn = std::max(firstColumn, 0);
    lastColumn = std::min(lastColumn, run.ColumnCount() - 1);
    std::string text;
    if (firstColumn > lastColumn) return text;
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = firstColumn; c <= lastColumn; ++c) {
            if (c > firstColumn) text.push_back('\t');
            text.append(r == 0 ? std::string_view(run.Headers()[static_cast<std::size_t>(c)]) : run.Cell(r - 1, c));
        }
        text.append("\r\n");
    }
    return text;
}

std::string RunText(const LogRun& run) { return RunBlockText(run, 0, run.RowCount(), 0, run.ColumnCount() - 1); }

std::string SaveRunFile(const std::string& path, const LogRun& run) {
    const std::string text = RunText(run);
    return SaveFileAtomically(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string RunCsvText(const LogRun& run) {
    std::string out;
    for (int c = 0; c < run.ColumnCount(); ++c) {
        if (c > 0) out.push_back(',');
        AppendCsvField(out, run.Headers()[static_cast<std::size_t>(c)]);
    }
    out.append("\r\n");
    std::string number;
    for (int r = 0; r < run.RowCount(); ++r) {
        for (int c = 0; c < run.ColumnCount(); ++c) {
            if (c > 0) out.push_back(',');
            const std::string_view cell = run.Cell(r, c);
            if (std::isnan(run.Value(r, c))) {
                AppendCsvField(out, cell);
                continue;
            }
            number.assign(cell);
            std::replace(number.begin(), number.end(), ',', '.');
            out.append(number);
        }
        out.append("\r\n");
    }
    return out;
}

std::string RunFileEmptyMessage() { return "File is empty"; }

std::string RunLoadErrorMessage() { return "Error when loading file"; }

std::string RunSaveErrorMessage() { return "Error when saving - file not saved"; }

std::string RunTruncatedMessage() {
    const std::string limit = std::to_string(kMaxRunRows);
    return "File contained more than " + limit + " rows. Only the first " + limit + " were loaded.";
}

} // namespace kv
