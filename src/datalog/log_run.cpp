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
    LogRun other(std::move(headers));
    other.ReserveRows(static_cast<std::size_t>(rows_), text_.size());
    std::vector<std::string_view> cells(std::min(headers_.size(), other.headers_.size()));
    for (int r = 0; r < rows_; ++r) {
        for (std::size_t c = 0; c < cells.size(); ++c) cells[c] = Cell(r, static_cast<int>(c));
        other.AppendRow(cells);
    }
    *this = std::move(other);
}

template <typename Cells>
bool LogRun::AppendCells(const Cells& cells) {
    const std::size_t given = std::min(cells.size(), headers_.size());
    std::size_t length = given == 0 ? 0 : given - 1;
    for (std::size_t c = 0; c < given; ++c) length += std::string_view(cells[c]).size();
    if (text_.size() + length > kMaxText) return false;
    for (std::size_t c = 0; c < given; ++c) {
        if (c > 0) text_.push_back('\t');
        const auto at = static_cast<std::ptrdiff_t>(text_.size());
        text_.append(cells[c]);
        std::replace(text_.begin() + at, text_.end(), '\t', ' ');
    }
    rowEnds_.push_back(static_cast<std::uint32_t>(text_.size()));
    for (std::size_t c = 0; c < headers_.size(); ++c)
        values_[c].push_back(c < given ? CellNumber(cells[c]) : kNoNumber);
    ++rows_;
    return true;
}

bool LogRun::AppendRow(std::span<const std::string> cells) { return AppendCells(cells); }

bool LogRun::AppendRow(std::span<const std::string_view> cells) { return AppendCells(cells); }

bool LogRun::AppendJoinedRow(std::string_view joinedCells, std::span<const double> numbers) {
    if (text_.size() + joinedCells.size() > kMaxText) return false;
    text_.append(joinedCells);
    rowEnds_.push_back(static_cast<std::uint32_t>(text_.size()));
    for (std::size_t c = 0; c < headers_.size(); ++c) values_[c].push_back(c < numbers.size() ? numbers[c] : kNoNumber);
    ++rows_;
    return true;
}

std::string_view LogRun::RowText(int row) const {
    const std::size_t begin = row == 0 ? 0 : rowEnds_[static_cast<std::size_t>(row) - 1];
    return std::string_view(text_).substr(begin, rowEnds_[static_cast<std::size_t>(row)] - begin);
}

std::string_view LogRun::Cell(int row, int column) const {
    if (row < 0 || row >= rows_ || column < 0 || column >= ColumnCount()) return {};
    std::string_view rest = RowText(row);
    for (int c = 0; c < column; ++c) {
        const std::size_t tab = rest.find('\t');
        if (tab == std::string_view::npos) return {};
        rest.remove_prefix(tab + 1);
    }
    return rest.substr(0, rest.find('\t'));
}

void LogRun::RowCells(int row, std::vector<std::string_view>& cells) const {
    cells.assign(headers_.size(), std::string_view());
    if (row < 0 || row >= rows_) return;
    std::string_view rest = RowText(row);
    for (std::string_view& cell : cells) {
        const std::size_t tab = rest.find('\t');
        cell = rest.substr(0, tab);
        if (tab == std::string_view::npos) return;
        rest.remove_prefix(tab + 1);
    }
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
    const std::uint32_t beginText = first == 0 ? 0 : rowEnds_[static_cast<std::size_t>(first) - 1];
    const std::uint32_t endText = rowEnds_[static_cast<std::size_t>(first + count) - 1];
    text_.erase(beginText, endText - beginText);
    rowEnds_.erase(rowEnds_.begin() + first, rowEnds_.begin() + first + count);
    for (auto it = rowEnds_.begin() + first; it != rowEnds_.end(); ++it) *it -= endText - beginText;
    for (std::vector<double>& column : values_) column.erase(column.begin() + first, column.begin() + first + count);
    rows_ -= count;
}

void LogRun::Clear() { *this = LogRun(); }

void LogRun::ReserveRows(std::size_t rows, std::size_t textBytes) {
    text_.reserve(std::min(textBytes, kMaxText));
    rowEnds_.reserve(rows);
    for (std::vector<double>& column : values_) column.reserve(rows);
}

void LogRun::Compact() {
    // Copying costs time: only where more than a quarter is spare.
    const auto shrink = [](auto& container) {
        if (container.capacity() - container.size() > container.capacity() / 4) container.shrink_to_fit();
    };
    shrink(text_);
    shrink(rowEnds_);
    for (std::vector<double>& column : values_) shrink(column);
}

} // namespace kv
