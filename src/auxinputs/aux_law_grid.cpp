#include "auxinputs/aux_law_grid.h"

#include "auxinputs/aux_inputs.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace kv {

std::string AuxNumberText(double v) {
    if (v == 0.0) v = 0.0; // no "-0"
    // Plain decimal notation (settings and grid cells never show exponents).
    char buf[400];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
    if (r.ec != std::errc()) r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

Parsed<double> ParseAuxNumber(const std::string& text) {
    auto b = text.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return ParseError{"not a number"};
    auto e = text.find_last_not_of(" \t\r\n");
    std::string t = text.substr(b, e - b + 1);
    if (t.find('.') == std::string::npos) std::replace(t.begin(), t.end(), ',', '.');
    if (!t.empty() && t[0] == '+') t.erase(0, 1);
    if (t.empty() || !(std::isdigit(static_cast<unsigned char>(t[0])) || t[0] == '-' || t[0] == '.'))
        return ParseError{"not a number"};
    double v = 0.0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size() || !std::isfinite(v)) return ParseError{"not a number"};
    return v;
}

AuxLawGrid::AuxLawGrid(AuxInputs& aux, int input) : aux_(aux), input_(input) { Load(input); }

void AuxLawGrid::Load(int input) {
    input_ = input;
    Redraw({});
}

void AuxLawGrid::Redraw(std::vector<AuxLawRow> pending) {
    rows_.clear();
    const int size = aux_.GetAuxLawSize(input_);
    for (int i = 0; i < size; ++i)
        rows_.push_back({AuxNumberText(aux_.GetAuxLawIn(input_, i)), AuxNumberText(aux_.GetAuxLawOut(input_, i)), i});
    for (auto& row : pending) {
        row.point = -1;
        rows_.push_back(std::move(row));
    }
}

std::string AuxLawGrid::CellText(int row, int col) const {
    if (row < 0 || row >= static_cast<int>(rows_.size())) return {};
    return col == 0 ? rows_[row].volts : col == 1 ? rows_[row].value : std::string();
}

void AuxLawGrid::AddRow() { rows_.push_back({}); }

void AuxLawGrid::DeleteRows(int first, int last) {
    if (rows_.empty()) return;
    if (first > last) std::swap(first, last);
    first = std::max(first, 0);
    last = std::min(last, static_cast<int>(rows_.size()) - 1);
    if (first > last) return;
    std::vector<int> points;
    std::vector<AuxLawRow> pending;
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r) {
        bool selected = r >= first && r <= last;
        if (selected && rows_[r].point >= 0) points.push_back(rows_[r].point);
        if (!selected && rows_[r].point < 0) pending.push_back(rows_[r]);
    }
    // Highest index first so the lower indexes stay valid.
    std::sort(points.rbegin(), points.rend());
    for (int p : points) aux_.RemoveAuxLawPoint(input_, p);
    Redraw(std::move(pending));
}

bool AuxLawGrid::SetCell(int row, int col, const std::string& text) {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || col < 0 || col > 1) return false;
    if (!ParseAuxNumber(text)) return false;
    AuxLawRow& edited = rows_[row];
    (col == 0 ? edited.volts : edited.value) = text;
    auto volts = ParseAuxNumber(edited.volts);
    auto value = ParseAuxNumber(edited.value);
    if (!volts || !value) return true;

    std::vector<AuxLawRow> pending;
    for (int r = 0; r < static_cast<int>(rows_.size()); ++r)
        if (r != row && rows_[r].point < 0) pending.push_back(rows_[r]);
    if (edited.point >= 0) aux_.RemoveAuxLawPoint(input_, edited.point);
    aux_.AddAuxLawPoint(input_, *volts, *value);
    Redraw(std::move(pending));
    return true;
}

std::string AuxLawGrid::CopyText(int r1, int c1, int r2, int c2) const {
    if (r1 > r2) std::swap(r1, r2);
    if (c1 > c2) std::swap(c1, c2);
    r1 = std::max(r1, 0);
    r2 = std::min(r2, static_cast<int>(rows_.size()) - 1);
    c1 = std::max(c1, 0);
    c2 = std::min(c2, 1);
    std::string out;
    for (int r = r1; r <= r2; ++r) {
        for (int c = c1; c <= c2; ++c) {
            if (c > c1) out += '\t';
            out += CellText(r, c);
        }
        out += "\r\n";
    }
    return out;
}

Parsed<std::vector<std::pair<double, double>>> ParseAuxLawPaste(const std::string& text) {
    std::vector<std::pair<double, double>> points;
    bool numbersOk = true;
    std::size_t start = 0;
    while (start < text.size()) {
        auto nl = text.find('\n', start);
        std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        start = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() && start >= text.size()) break; // the final line ending
        auto tab = line.find('\t');
        if (tab == std::string::npos || line.find('\t', tab + 1) != std::string::npos)
            return ParseError{kAuxPasteColumnsMessage};
        auto volts = ParseAuxNumber(line.substr(0, tab));
        auto value = ParseAuxNumber(line.substr(tab + 1));
        if (!volts || !value || *volts < kAuxLawMinVolts || *volts > kAuxLawMaxVolts || *value < kAuxLawMinValue ||
            *value > kAuxLawMaxValue)
            numbersOk = false;
        else
            points.emplace_back(*volts, *value);
    }
    if (points.empty() && numbersOk) return ParseError{kAuxPasteColumnsMessage};
    if (!numbersOk) return ParseError{kAuxPasteNumbersMessage};
    return points;
}

std::optional<std::string> AuxLawGrid::Paste(const std::string& text) {
    const auto points = ParseAuxLawPaste(text);
    if (!points) return points.Error();
    std::vector<AuxLawRow> pending;
    for (const auto& row : rows_)
        if (row.point < 0) pending.push_back(row);
    for (const auto& [v, out] : *points) aux_.AddAuxLawPoint(input_, v, out);
    Redraw(std::move(pending));
    return std::nullopt;
}

} // namespace kv
