#include "datalog/run_file.h"

#include "platform/file_io.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
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
        const void* lf = std::memchr(q, '\n', static_cast<std::size_t>(end_ - q));
        const char* stop = lf ? static_cast<const char*>(lf) : end_;
        const void* cr = std::memchr(q, '\r', static_cast<std::size_t>(stop - q));
        return cr ? static_cast<const char*>(cr) : stop;
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

// Turns data lines into rows: cells split at tabs (those past the last column dropped), blanks
// removed, "," and "." made the decimal separator, each cell's number read where it stands.
class RowReader {
public:
    RowReader(std::size_t columns, char decimalSeparator)
        : columns_(columns), separator_(decimalSeparator), numbers_(columns) {}

    bool Store(std::string_view line, LogRun& run) {
        // The numbers are read from the text with decimal points; the run keeps the user's.
        std::string_view pointed = line;
        if (Has(line, ' ') || Has(line, ',') || (separator_ != '.' && Has(line, '.'))) {
            cleaned_.clear();
            for (const char c : line) {
                if (c != ' ') cleaned_.push_back(c == ',' ? '.' : c);
            }
            pointed = cleaned_;
        }
        pointed = pointed.substr(0, ReadNumbers(pointed));
        if (separator_ == '.' || !Has(pointed, '.')) return run.AppendJoinedRow(pointed, numbers_);
        shown_.assign(pointed);
        std::replace(shown_.begin(), shown_.end(), '.', separator_);
        return run.AppendJoinedRow(shown_, numbers_);
    }

private:
    static bool Has(std::string_view text, char c) { return std::memchr(text.data(), c, text.size()) != nullptr; }

    // Reads the number of every column's cell; returns the length of the text those cells take
    // (cells past the last column are left out).
    std::size_t ReadNumbers(std::string_view text) {
        const char* begin = text.data();
        const char* end = begin + text.size();
        const char* p = begin;
        for (std::size_t c = 0; c < columns_; ++c) {
            const char* start = p;
            if (p != end && *p == '+' && end - p > 1 && p[1] != '-') ++p;
            double value = 0;
            const auto [next, ec] = std::from_chars(p, end, value);
            if (ec == std::errc() && next != p && (next == end || *next == '\t') && std::isfinite(value)) {
                numbers_[c] = value;
                p = next;
            } else {
                numbers_[c] = std::numeric_limits<double>::quiet_NaN();
                const void* tab = std::memchr(start, '\t', static_cast<std::size_t>(end - start));
                p = tab ? static_cast<const char*>(tab) : end;
            }
            // `p` is at the end of the cell: a tab or the end of the line.
            if (p == end) {
                std::fill(numbers_.begin() + static_cast<std::ptrdiff_t>(c) + 1, numbers_.end(),
                          std::numeric_limits<double>::quiet_NaN());
                break;
            }
            if (c + 1 == columns_) break;
            ++p;
        }
        return static_cast<std::size_t>(p - begin);
    }

    std::size_t columns_;
    char separator_;
    std::vector<double> numbers_;
    std::string cleaned_;
    std::string shown_;
};

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
    const std::string_view header = lines.TakeLine();
    if (std::count(header.begin(), header.end(), '\t') >= kMaxRunColumns) return ParseError{RunTooWideMessage()};
    LoadedRunFile loaded{LogRun(SplitAtTabs(header)), false};
    // Room for the rows that will be kept, judged by the lines there are.
    const auto lineCount = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    const std::size_t rows = std::min<std::size_t>(lineCount, kMaxRunRows);
    loaded.run.ReserveRows(rows, text.size() / lineCount * rows + text.size() % lineCount);
    RowReader reader(static_cast<std::size_t>(loaded.run.ColumnCount()), decimalSeparator);
    while (lines.SkipToContent()) {
        if (loaded.run.RowCount() == kMaxRunRows) {
            loaded.truncated = true;
            break;
        }
        if (!reader.Store(lines.TakeLine(), loaded.run)) return ParseError{RunLoadErrorMessage()};
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
    std::vector<std::string_view> cells;
    for (int r = firstRow; r <= lastRow; ++r) {
        if (r > 0) run.RowCells(r - 1, cells);
        for (int c = firstColumn; c <= lastColumn; ++c) {
            if (c > firstColumn) text.push_back('\t');
            text.append(r == 0 ? std::string_view(run.Headers()[static_cast<std::size_t>(c)])
                               : cells[static_cast<std::size_t>(c)]);
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
    std::vector<std::string_view> cells;
    for (int r = 0; r < run.RowCount(); ++r) {
        run.RowCells(r, cells);
        for (int c = 0; c < run.ColumnCount(); ++c) {
            if (c > 0) out.push_back(',');
            const std::string_view cell = cells[static_cast<std::size_t>(c)];
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

std::string RunTooWideMessage() {
    return "File has more than " + std::to_string(kMaxRunColumns) + " columns - not a data logging run";
}

std::string RunLoadErrorMessage() { return "Error when loading file"; }

std::string RunSaveErrorMessage() { return "Error when saving - file not saved"; }

std::string RunTruncatedMessage() {
    const std::string limit = std::to_string(kMaxRunRows);
    return "File contained more than " + limit + " rows. Only the first " + limit + " were loaded.";
}

} // namespace kv
