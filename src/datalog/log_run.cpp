#include "datalog/log_run.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

namespace kv {

namespace {

constexpr double kNoNumber = std::numeric_limits<double>::quiet_NaN();
constexpr std::size_t kMaxText = std::numeric_limits<std::uint32_t>::max();

double ParsePlain(const char* first, const char* last) {
    if (first != last && *first == '+' && last - first > 1 && first[1] != '-') ++first;
    double value = 0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || first == last || !std::isfinite(value)) return kNoNumber;
    return value;
}

} // namespace

double CellNumber(std::string_view text) {
    if (text.find_first_of(", ") == std::string_view::npos) return ParsePlain(text.data(), text.data() + text.size());
    // A decimal comma or blanks: read a cleaned copy (on the stack for every text a number fits in).
    constexpr std::size_t kShort = 64;
    char shortCopy[kShort];
    std::string longCopy;
    char* clean = shortCopy;
    if (text.size() > kShort) {
        longCopy.resize(text.size());
        clean = longCopy.data();
    }
    std::size_t length = 0;
    for (const char c : text) {
        if (c != ' ') clean[length++] = c == ',' ? '.' : c;
    }
    return ParsePlain(clean, clean + length);
}

LogRun::LogRun(std::vector<std::string> headers) : headers_(std::move(headers)), values_(headers_.size()) {}

void LogRun::SetHeaders(std::vector<std::string> headers) {
    if (headers.size() == headers_.size() || rows_ == 0) {
        headers_ = std::move(headers);
        values_.resize(headers_.size());
        return;
    }
    LogRun wider(std::move(headers));
    wider.ReserveRows(static_cast<std::size_t>(rows_), text_.size());
    for (int r = 0; r < rows_; ++r) {
        for (int c = 0; c < ColumnCount(); ++c) wider.AddCell(Cell(r, c));
        wider.EndRow();
    }
    *this = std::move(wider);
}

bool LogRun::AppendRow(std::span<const std::string> cells) {
    for (const std::string& cell : cells) AddCell(cell);
    return EndRow();
}

bool LogRun::AppendRow(std::span<const std::string_view> cells) {
    for (const std::string_view cell : cells) AddCell(cell);
    return EndRow();
}

void LogRun::AddCell(std::string_view text) {
    if (rowCells_ >= headers_.size()) return;
    if (text_.size() + text.size() > kMaxText) {
        overflow_ = true;
        text = {};
    }
    text_.append(text);
    ends_.push_back(static_cast<std::uint32_t>(text_.size()));
    values_[rowCells_].push_back(CellNumber(text));
    ++rowCells_;
}

bool LogRun::EndRow() {
    while (rowCells_ < headers_.size()) AddCell({});
    const bool fits = !overflow_;
    if (!fits) {
        // Take the partial row back out.
        const std::size_t firstCell = static_cast<std::size_t>(rows_) * headers_.size();
        text_.resize(firstCell == 0 ? 0 : ends_[firstCell - 1]);
        ends_.resize(firstCell);
        for (std::vector<double>& column : values_) column.resize(static_cast<std::size_t>(rows_));
    } else {
        ++rows_;
    }
    rowCells_ = 0;
    overflow_ = false;
    return fits;
}

std::string_view LogRun::Cell(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= ColumnCount()) return {};
    const std::size_t index = static_cast<std::size_t>(row) * headers_.size() + static_cast<std::size_t>(column);
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(text_).substr(begin, ends_[index] - begin);
}

double LogRun::Value(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= ColumnCount()) return kNoNumber;
    return values_[static_cast<std::size_t>(column)][static_cast<std::size_t>(row)];
}

std::span<const double> LogRun::ColumnValues(int column) const {
    if (column < 0 || column >= ColumnCount()) return {};
    return values_[static_cast<std::size_t>(column)];
}

void LogRun::RemoveRows(int first, int count) {
    first = std::clamp(first, 0, rows_);
    count = std::clamp(count, 0, rows_ - first);
    if (count == 0) return;
    const std::size_t columns = headers_.size();
    const std::size_t beginCell = static_cast<std::size_t>(first) * columns;
    const std::size_t endCell = static_cast<std::size_t>(first + count) * columns;
    if (endCell > beginCell) {
        const std::uint32_t beginText = beginCell == 0 ? 0 : ends_[beginCell - 1];
        const std::uint32_t endText = ends_[endCell - 1];
        text_.erase(beginText, endText - beginText);
        const auto at = [](std::size_t i) { return static_cast<std::ptrdiff_t>(i); };
        ends_.erase(ends_.begin() + at(beginCell), ends_.begin() + at(endCell));
        for (std::size_t i = beginCell; i < ends_.size(); ++i) ends_[i] -= endText - beginText;
        for (std::vector<double>& column : values_)
            column.erase(column.begin() + first, column.begin() + first + count);
    }
    rows_ -= count;
}

void LogRun::Clear() { *this = LogRun(); }

void LogRun::ReserveRows(std::size_t rows, std::size_t textBytes) {
    text_.reserve(std::min(textBytes, kMaxText));
    ends_.reserve(rows * headers_.size());
    for (std::vector<double>& column : values_) column.reserve(rows);
}

void LogRun::Compact() {
    text_.shrink_to_fit();
    ends_.shrink_to_fit();
    for (std::vector<double>& column : values_) column.shrink_to_fit();
}

std::size_t LogRun::HeapBytes() const {
    // A string's characters are on the heap only past its in-object buffer.
    const auto stringHeap = [](const std::string& s) {
        return s.capacity() > std::string().capacity() ? s.capacity() + 1 : 0;
    };
    std::size_t bytes = headers_.capacity() * sizeof(std::string);
    for (const std::string& h : headers_) bytes += stringHeap(h);
    bytes += stringHeap(text_);
    bytes += ends_.capacity() * sizeof(std::uint32_t);
    bytes += values_.capacity() * sizeof(std::vector<double>);
    for (const std::vector<double>& column : values_) bytes += column.capacity() * sizeof(double);
    return bytes;
}

} // namespace kv
