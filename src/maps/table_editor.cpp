#include "maps/table_editor.h"

#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"
#include "maps/grid.h"
#include "monitor/conversions.h"
#include "platform/clipboard.h"
#include "platform/messages.h"
#include "platform/progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

namespace kv {

namespace {

constexpr int kMaxAxisPoints = 255; // an axis width read from a damaged image never exceeds a byte

// The "0.0" mask: one decimal by the rule of every shown number (a decimal half away from zero,
// judged at the value's own precision: 15 digits for a double, 7 for a single, so the single
// 59.85, stored as 59.849998..., still shows "59.9").
std::string FormatOneDecimal(double x, int significantDigits) { return conv::FormatFixed(x, 1, significantDigits); }
std::string FormatOneDecimal(double x) { return FormatOneDecimal(x, 15); }
std::string FormatOneDecimal(float x) { return FormatOneDecimal(static_cast<double>(x), 7); }

std::int32_t ClampInt(double v, std::int32_t lo, std::int32_t hi) {
    if (std::isnan(v)) return lo;
    if (v < lo) return lo;
    if (v > hi) return hi;
    return static_cast<std::int32_t>(v);
}

std::int32_t SignedOf(std::int32_t byte) { return byte >= 128 && byte <= 255 ? byte - 256 : byte; }

std::string TemperatureText(int celsius, bool fahrenheitRow) {
    if (fahrenheitRow)
        return std::to_string(conv::FahrenheitFromCelsius(celsius)) + " \xC2\xB0"
                                                                      "F";
    return std::to_string(celsius) + " \xC2\xB0"
                                     "C";
}

} // namespace

TableEditor::TableEditor(UserMessages& messages, ProgressDisplay& progress, Clipboard& clipboard, CellInput* cellInput)
    : messages_(messages), progress_(progress), clipboard_(clipboard), cellInput_(cellInput), ownCellInput_(messages) {
    if (cellInput_ == nullptr) cellInput_ = &ownCellInput_;
}

void TableEditor::SetIncdec2StepSize(int n) { incdec2StepSize_ = n; }

void TableEditor::SetIncdec1StepSize(int n) { incdec1StepSize_ = n < 1 ? 1 : n; }

void TableEditor::SetOperatingPointControls(MapMarker* marker1, MapMarker* marker2) {
    opMarker1_ = marker1;
    opMarker2_ = marker2;
    opX_ = -1.0f;
    opY_ = -1.0f;
    opShown_ = false;
}

void TableEditor::SetXAxisType(XAxisType t) {
    xAxisType_ = t;
    // Every X axis is stored from its high end down.
    xAxisReversed_ = false;
    switch (t) {
    case XAxisType::None: break;
    case MAPRPMAXIS:
    case RPMAXIS:
    case COOLANTAXIS:
    case IGNCOOLANTAXIS:
    case IGNRPMAXIS1:
    case IGNRPMAXIS2:
    case IGNRPMAXIS3:
    case EZFRPMAXIS:
    case EZFCOOLANTAXISIDLE:
    case EZFCOOLANTAXISCRUISE:
    case EZFCOOLANTAXISWOT:
    case EZFAIRTEMPAXISCRUISE:
    case EZFAIRTEMPAXISWOT: xAxisReversed_ = true; break;
    }
}

void TableEditor::SetYAxisType(YAxisType t) {
    yAxisReversed_ = t == MAPMAFAXIS_LH22;
    yAxisType_ = yAxisReversed_ ? MAPMAFAXIS : t;
}

// ---------------------------------------------------------------------------------------------
// Coordinates

int TableEditor::MapX(int col) const {
    const int n = GetXAxisSize();
    return xAxisReversed_ ? n - 1 - col : col;
}

int TableEditor::MapY(int row) const {
    const int n = GetYAxisSize();
    return yAxisReversed_ ? n - 1 - row : row;
}

int TableEditor::FirstDataRow() const { return grid_ ? grid_->FixedRows() : 0; }

bool TableEditor::HasGrid() const { return grid_ != nullptr && mapId_ != 0 && eprom_ != nullptr; }

bool TableEditor::InData(int row, int col) const {
    return row >= 0 && col >= 0 && row < GetYAxisSize() && col < GetXAxisSize();
}

double TableEditor::ColumnRpm(int col) const {
    if (col < 0 || col >= GetXAxisSize()) return 0.0;
    return conv::EZK_RpmFromPeriod(xAxisPoints_[static_cast<std::size_t>(col)]);
}

// ---------------------------------------------------------------------------------------------
// Layout

void TableEditor::RenderTable() {
    if (grid_ == nullptr) return;
    xAxisPoints_.clear();
    yAxisPoints_.clear();
    grid_->SetRows(0);
    grid_->SetCols(0);
    if (mapId_ == 0 || eprom_ == nullptr) {
        grid_->SetFixedRows(0);
        grid_->SetFixedCols(0);
        return;
    }
    const EPROM& image = *eprom_;
    const bool lh22 = image.GetECUType() == EcuType::LH22;

    // Data columns, fixed rows, raw points (map order) and the header texts of each point.
    int columns = 0;
    int fixedRows = 1;
    std::vector<std::int32_t> mapPoints;
    enum class Header { None, Numbered, LhRpm, EzkRpm, EzfRpm, LhCoolant, EzfCoolant, EzfAir } header = Header::None;
    auto collect = [&](int n, auto point) {
        columns = std::clamp(n, 0, kMaxAxisPoints);
        for (int x = 0; x < columns; ++x) mapPoints.push_back(static_cast<std::int32_t>(point(x)));
    };
    switch (xAxisType_) {
    case MAPRPMAXIS:
        collect(16, [&](int x) { return image.LH_GetRPMAxisPoint(x); });
        header = Header::LhRpm;
        break;
    case RPMAXIS:
        collect(image.GetMapXAxisWidth(mapId_), [&](int x) { return image.GetMapXAxisPoint(mapId_, x); });
        header = Header::LhRpm;
        break;
    case COOLANTAXIS:
        collect(image.GetMapXAxisWidth(mapId_), [&](int x) { return image.GetMapXAxisPoint(mapId_, x); });
        header = Header::LhCoolant;
        break;
    case IGNCOOLANTAXIS:
        // No coolant breakpoints are stored with these maps: the columns are numbered from the
        // left (the cells are stored from the right, so map x 14 is column 1).
        collect(kNumberedColumns, [&](int x) { return kNumberedColumns - x; });
        header = Header::Numbered;
        break;
    case IGNRPMAXIS1:
    case IGNRPMAXIS2:
    case IGNRPMAXIS3: {
        const int selector = static_cast<int>(xAxisType_) - static_cast<int>(IGNRPMAXIS1) + 1;
        collect(16, [&](int x) { return image.EZK_GetRPMAxisPoint(selector, x); });
        header = Header::EzkRpm;
        break;
    }
    case EZFRPMAXIS:
        collect(16, [&](int x) { return image.EZF_GetRPMAxisPoint(x); });
        header = Header::EzfRpm;
        break;
    case EZFAIRTEMPAXISCRUISE:
    case EZFAIRTEMPAXISWOT: {
        const int selector = xAxisType_ == EZFAIRTEMPAXISCRUISE ? 1 : 2;
        collect(5, [&](int x) { return image.EZF_GetAirTempAxisPoint(selector, x); });
        header = Header::EzfAir;
        break;
    }
    case EZFCOOLANTAXISIDLE:
    case EZFCOOLANTAXISCRUISE:
    case EZFCOOLANTAXISWOT: {
        const int selector = static_cast<int>(xAxisType_) - static_cast<int>(EZFCOOLANTAXISIDLE);
        collect(5, [&](int x) { return image.EZF_GetCoolantTempAxisPoint(selector, x); });
        header = Header::EzfCoolant;
        break;
    }
    default: break;
    }
    if (header == Header::LhCoolant || header == Header::EzfCoolant || header == Header::EzfAir) fixedRows = 2;

    xAxisPoints_.resize(static_cast<std::size_t>(columns));
    for (int c = 0; c < columns; ++c)
        xAxisPoints_[static_cast<std::size_t>(c)] = mapPoints[static_cast<std::size_t>(MapX(c))];

    // Data rows and their labels (grid order).
    std::vector<std::string> rowLabels;
    switch (yAxisType_) {
    case MAPMAFAXIS:
        yAxisPoints_.resize(16);
        for (int r = 0; r < 16; ++r) {
            const std::int32_t p = image.LH_GetMAFAxisPoint(MapY(r));
            yAxisPoints_[static_cast<std::size_t>(r)] = p;
            rowLabels.push_back(std::to_string(p));
        }
        break;
    case IGNLOADAXIS:
        for (int r = 0; r < 16; ++r) {
            yAxisPoints_.push_back(r * 4);
            rowLabels.push_back(std::to_string(conv::RoundEven(r / 15.0 * 100.0)) + " %");
        }
        break;
    case EZFLOADAXIS:
        yAxisPoints_.resize(16);
        for (int r = 0; r < 16; ++r) {
            const std::int32_t p = image.EZF_GetLoadAxisPoint(MapY(r));
            yAxisPoints_[static_cast<std::size_t>(r)] = p;
            rowLabels.push_back(FormatOneDecimal(conv::VacuumFromRaw(p * 256.0)));
        }
        break;
    default:
        yAxisPoints_.push_back(0); // one row
        rowLabels.emplace_back();
        break;
    }
    const int rows = GetYAxisSize();

    grid_->SetCols(columns + 1);
    grid_->SetRows(rows + fixedRows);
    grid_->SetFixedCols(1);
    grid_->SetFixedRows(fixedRows);
    for (int c = 0; c <= columns; ++c) grid_->SetColWidth(c, COLUMN_WIDTH);

    for (int c = 0; c < columns; ++c) {
        const std::int32_t p = xAxisPoints_[static_cast<std::size_t>(c)];
        std::string top;
        std::string second;
        switch (header) {
        case Header::LhRpm: {
            const double rpm = lh22 ? conv::LH_RpmFromByteMid(p) : conv::LH_RpmFromCode(p);
            top = std::to_string(static_cast<long long>(conv::RoundToSignificant(rpm, 2)));
            break;
        }
        case Header::EzkRpm:
            top = std::to_string(static_cast<long long>(conv::RoundToSignificant(conv::EZK_RpmFromPeriod(p), 2)));
            break;
        case Header::EzfRpm:
            top = std::to_string(static_cast<long long>(conv::RoundToSignificant(conv::EZF_RpmFromPeriod(p), 2)));
            break;
        case Header::Numbered:
            top = std::to_string(p);
            grid_->SetToolTip(0, c + 1, std::string(kNoBreakpointsTip));
            break;
        case Header::LhCoolant:
        case Header::EzfCoolant:
        case Header::EzfAir: {
            int celsius = 0;
            if (header == Header::LhCoolant)
                celsius = lh22 ? conv::TempLH22Coolant(p) : conv::TempLH23Coolant(p);
            else if (header == Header::EzfCoolant)
                celsius = conv::TempEZFCoolant(p);
            else
                celsius = conv::TempEZFAirTemp(p);
            top = TemperatureText(celsius, false);
            second = TemperatureText(celsius, true);
            break;
        }
        case Header::None: break;
        }
        grid_->SetTextMatrix(0, c + 1, top);
        if (fixedRows > 1) grid_->SetTextMatrix(1, c + 1, second);
    }
    for (int r = 0; r < rows; ++r) grid_->SetTextMatrix(fixedRows + r, 0, rowLabels[static_cast<std::size_t>(r)]);

    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < columns; ++c)
            grid_->SetTextMatrix(fixedRows + r, c + 1,
                                 CellText(image.ReadMapCell(mapId_, MapX(c), MapY(r)) + cellValueOffset_, c));
}

// ---------------------------------------------------------------------------------------------
// Values and texts

std::string TableEditor::CellText(std::int32_t v, int col) const {
    switch (dataType_) {
    case DataType::FuelValue: return std::to_string(v);
    case DATAIGNABS: {
        const double rpm = ColumnRpm(col);
        const int compensation = eprom_ ? eprom_->EZK_GetRPMCompensation(rpm) : 0;
        const int u = std::clamp(v + compensation, 0, 255);
        return FormatOneDecimal(conv::EZK_IgnitionAdvance(u, rpm));
    }
    case DATAIGNREL: return FormatOneDecimal((128.0 - v) * 6.0 / 16.0);
    case DATAIGNDEGS: return FormatOneDecimal(v * 6.0 / 16.0);
    case DATAIGNABSEZF: {
        const double b = std::clamp(v, 0, 255);
        return FormatOneDecimal(static_cast<float>(70.2 - ((b / 2.0 + 10.0) / 2.0) * 1.8));
    }
    case DATAIGNRELEZF: return FormatOneDecimal(v >= 128 ? (256.0 - v) * 0.45 : -v * 0.45);
    default: return {};
    }
}

std::int32_t TableEditor::Clamp(std::int32_t v) const {
    const std::int32_t lo = cellMinValue_;
    const std::int32_t hi = std::max(cellMinValue_, cellMaxValue_);
    if (dataType_ == DATAIGNRELEZF) {
        const std::int32_t s = std::clamp(SignedOf(v), lo, hi);
        return s < 0 ? s + 256 : s;
    }
    return std::clamp(v, lo, hi);
}

std::optional<std::int32_t> TableEditor::TypedTextToValue(const std::string& text, int col) const {
    const auto number = ParseCellNumber(text, false);
    if (!number) return std::nullopt;
    const double d = *number;
    const std::int32_t lo = cellMinValue_;
    const std::int32_t hi = std::max(cellMinValue_, cellMaxValue_);
    switch (dataType_) {
    case DataType::FuelValue: return ClampInt(conv::RoundHalfEven(d), lo, hi);
    case DATAIGNABS: {
        // Nearest byte u with EZK_IgnitionAdvance(u, rpm) = d, less the speed compensation.
        const double rpm = ColumnRpm(col);
        const int compensation = eprom_ ? eprom_->EZK_GetRPMCompensation(rpm) : 0;
        const double travelled = rpm == 0.0 ? 0.0 : 90.5 / (1000000.0 / rpm) * 6.0;
        const std::int32_t u = ClampInt(conv::RoundHalfEven((60.0 - travelled - d) / 0.375), 0, 255);
        return std::clamp(u - compensation, lo, hi);
    }
    case DATAIGNREL: return ClampInt(128.0 - conv::RoundHalfEven(d / 0.375), lo, hi);
    case DATAIGNDEGS: return ClampInt(conv::RoundHalfEven(d / 0.375), lo, hi);
    case DATAIGNABSEZF: return ClampInt(conv::RoundHalfEven((61.2 - d) / 0.45), lo, hi);
    case DATAIGNRELEZF: {
        // Degrees are the signed byte times -0.45; a small positive angle still means one step.
        double s = -conv::RoundHalfEven(d / 0.45);
        if (d > 0 && s == 0.0) s = -1.0;
        const std::int32_t v = ClampInt(s, lo, hi);
        return v < 0 ? v + 256 : v;
    }
    default: return std::nullopt;
    }
}

CellInputLimits TableEditor::InputLimits(int col) const {
    auto shownOf = [&](std::int32_t limit) { return dataType_ == DATAIGNRELEZF && limit < 0 ? limit + 256 : limit; };
    // Exact numeric value of a limit in the units the dialog takes (degrees for ignition maps).
    auto numeric = [&](std::int32_t v) -> double {
        switch (dataType_) {
        case DATAIGNABS: {
            const double rpm = ColumnRpm(col);
            const int compensation = eprom_ ? eprom_->EZK_GetRPMCompensation(rpm) : 0;
            return conv::EZK_IgnitionAdvance(std::clamp(v + compensation, 0, 255), rpm);
        }
        case DATAIGNREL: return (128.0 - v) * 6.0 / 16.0;
        case DATAIGNDEGS: return v * 6.0 / 16.0;
        case DATAIGNABSEZF: return 70.2 - ((std::clamp(v, 0, 255) / 2.0 + 10.0) / 2.0) * 1.8;
        case DATAIGNRELEZF: return v >= 128 ? (256.0 - v) * 0.45 : -v * 0.45;
        default: return v;
        }
    };
    const std::int32_t a = shownOf(cellMinValue_);
    const std::int32_t b = shownOf(cellMaxValue_);
    CellInputLimits limits{CellText(a, col), CellText(b, col), numeric(a), numeric(b)};
    if (limits.minValue > limits.maxValue) {
        std::swap(limits.minText, limits.maxText);
        std::swap(limits.minValue, limits.maxValue);
    }
    // The check compares with what the texts say where they are rounded outward, so that every
    // value shown as a limit can be typed.
    limits.minValue = std::min(limits.minValue, ParseCellNumber(limits.minText, true).ValueOr(limits.minValue));
    limits.maxValue = std::max(limits.maxValue, ParseCellNumber(limits.maxText, true).ValueOr(limits.maxValue));
    return limits;
}

std::optional<std::int32_t> TableEditor::CurrentShownValue(int row, int col) const {
    if (grid_ == nullptr) return std::nullopt;
    return TypedTextToValue(grid_->TextMatrix(FirstDataRow() + row, col + 1), col);
}

std::int32_t TableEditor::GetCellValue(int row, int col) const {
    if (grid_ == nullptr || !InData(row, col)) return 0;
    const std::string text = grid_->TextMatrix(FirstDataRow() + row, col + 1);
    if (dataType_ == DataType::FuelValue) {
        const auto number = ParseCellNumber(text, false);
        return number ? conv::RoundEven(*number) : 0;
    }
    return TypedTextToValue(text, col).value_or(0);
}

void TableEditor::SetCellValue(int row, int col, std::int32_t shownValue) {
    if (!HasGrid() || !InData(row, col)) return;
    StoreCell(row, col, Clamp(shownValue));
}

void TableEditor::StoreCell(int row, int col, std::int32_t v) {
    grid_->SetTextMatrix(FirstDataRow() + row, col + 1, CellText(v, col));
    if (mapId_ == 0 || eprom_ == nullptr) return;
    const int x = MapX(col);
    const int y = MapY(row);
    const std::int32_t stored = v - cellValueOffset_;
    eprom_->WriteMapCell(mapId_, x, y, stored);
    if (changeCellValue_) changeCellValue_(x, y, stored);
}

std::int32_t TableEditor::Increase(std::int32_t v, std::int32_t step) const {
    if (dataType_ == DATAIGNRELEZF) v = SignedOf(v);
    const std::int64_t r = static_cast<std::int64_t>(v) + step;
    const std::int32_t lo = cellMinValue_;
    const std::int32_t hi = std::max(cellMinValue_, cellMaxValue_);
    const std::int32_t s = static_cast<std::int32_t>(std::clamp<std::int64_t>(r, lo, hi));
    return dataType_ == DATAIGNRELEZF && s < 0 ? s + 256 : s;
}

std::int32_t TableEditor::Decrease(std::int32_t v, std::int32_t step) const { return Increase(v, -step); }

// ---------------------------------------------------------------------------------------------
// Edits

TableEditor::Rect TableEditor::SelectedRect() const {
    return {std::min(grid_->Row(), grid_->RowSel()), std::min(grid_->Col(), grid_->ColSel()),
            std::max(grid_->Row(), grid_->RowSel()), std::max(grid_->Col(), grid_->ColSel())};
}

std::vector<std::pair<int, int>> TableEditor::TargetCells(bool atOperatingPoint) const {
    std::vector<std::pair<int, int>> cells; // (data row, data column)
    if (atOperatingPoint) {
        if (opX_ < 0 || opY_ < 0) return cells;
        const int row = conv::RoundEven(opY_);
        const int col = conv::RoundEven(opX_);
        if (InData(row, col)) cells.emplace_back(row, col);
        return cells;
    }
    const Rect r = SelectedRect();
    const int fixed = FirstDataRow();
    for (int col = std::max(r.col1, 1); col <= r.col2; ++col)
        for (int row = std::max(r.row1, fixed); row <= r.row2; ++row)
            if (InData(row - fixed, col - 1)) cells.emplace_back(row - fixed, col - 1);
    return cells;
}

void TableEditor::StepCells(bool atOperatingPoint, bool increase, int step) {
    if (!HasGrid()) return;
    const auto cells = TargetCells(atOperatingPoint);
    const auto undoStep =
        OpenStep(atOperatingPoint ? (increase ? "Increase at operating point" : "Decrease at operating point")
                                  : (increase ? "Increase selection" : "Decrease selection"));
    if (!atOperatingPoint) progress_.SetHourglass(true);
    for (const auto& [row, col] : cells) {
        const auto v = CurrentShownValue(row, col);
        if (!v) continue; // a text that is not a number stays as it is
        StoreCell(row, col, increase ? Increase(*v, step) : Decrease(*v, step));
    }
    if (!atOperatingPoint) progress_.SetHourglass(false);
}

void TableEditor::PercentCells(bool atOperatingPoint, bool increase) {
    if (!HasGrid()) return;
    if (cellFactor_ == 0.0f) return;
    if (atOperatingPoint && (opX_ < 0 || opY_ < 0)) return;
    const char* prompt = "";
    if (!atOperatingPoint)
        prompt = increase ? "Enter percentage value by which fueling in selected cells should be increased:"
                          : "Enter percentage value by which fueling in selected cells should be decreased:";
    else
        prompt = increase ? "Enter percentage value by which fueling at current operating point should be increased:"
                          : "Enter percentage value by which fueling at current operating point should be decreased:";
    const auto answer = messages_.InputBox(prompt, std::string(kProgramTitle), {});
    if (!answer || answer->find_first_not_of(" \t") == std::string::npos) return; // cancelled or empty
    const auto number = ParseCellNumber(*answer, true);
    const double rounded = number ? conv::RoundHalfEven(*number) : -1.0;
    if (rounded < 0 || rounded > std::numeric_limits<std::int16_t>::max()) {
        messages_.MessageBox("Invalid percentage value. Value must be an integer.", std::string(kProgramTitle),
                             MsgButtons::OK, MsgIcon::Warning);
        return;
    }
    if (rounded == 0) return;
    const double p = rounded / 100.0;
    const double f = cellFactor_;
    const auto cells = TargetCells(atOperatingPoint);
    const auto undoStep = OpenStep(
        atOperatingPoint
            ? (increase ? "Increase at operating point by percentage" : "Decrease at operating point by percentage")
            : (increase ? "Increase selection by percentage" : "Decrease selection by percentage"));
    if (!atOperatingPoint) progress_.SetHourglass(true);
    for (const auto& [row, col] : cells) {
        const auto v = CurrentShownValue(row, col);
        if (!v) continue;
        const double m = (1.0 + f * *v) * (increase ? 1.0 + p : 1.0 - p);
        const double n = conv::RoundHalfEven((m - 1.0) / f);
        const std::int32_t target =
            ClampInt(n, std::numeric_limits<std::int32_t>::min() / 2, std::numeric_limits<std::int32_t>::max() / 2);
        StoreCell(row, col, increase ? Increase(*v, target - *v) : Decrease(*v, *v - target));
    }
    if (!atOperatingPoint) progress_.SetHourglass(false);
}

void TableEditor::EditCurrentCell(const std::string& initialText) {
    if (!HasGrid()) return;
    const int row = grid_->Row() - FirstDataRow();
    const int col = grid_->Col() - 1;
    if (!InData(row, col)) return;
    const auto text = cellInput_->Ask(initialText, InputLimits(col));
    if (!text || text->empty()) return;
    const auto v = TypedTextToValue(*text, col);
    if (!v) return;
    const auto undoStep = OpenStep("Set value");
    StoreCell(row, col, *v);
}

void TableEditor::RefreshFromImage() {
    if (grid_ == nullptr) return;
    const int row = grid_->Row();
    const int col = grid_->Col();
    const int rowSel = grid_->RowSel();
    const int colSel = grid_->ColSel();
    RenderTable();
    auto inside = [this](int r, int c) { return r >= 0 && c >= 0 && r < grid_->Rows() && c < grid_->Cols(); };
    if (!inside(row, col)) return;
    grid_->SetCurrentCell(row, col);
    if (inside(rowSel, colSel)) grid_->SetSelectionEnd(rowSel, colSel);
}

std::optional<EditStep> TableEditor::OpenStep(const char* name) const {
    if (eprom_ == nullptr) return std::nullopt;
    return std::optional<EditStep>(std::in_place, eprom_->Context(), name);
}

void TableEditor::KeyDown(int keyCode, int shift) {
    if (keyCode == KEYCODE_F2 && shift == 0) EditCurrentCell({});
}

void TableEditor::Apply(EditOp op) {
    switch (op) {
    case EditOp::INC1SEL: StepCells(false, true, incdec1StepSize_); return;
    case EditOp::DEC1SEL: StepCells(false, false, incdec1StepSize_); return;
    case EditOp::INC2SEL: StepCells(false, true, incdec2StepSize_); return;
    case EditOp::DEC2SEL: StepCells(false, false, incdec2StepSize_); return;
    case EditOp::INC1OP: StepCells(true, true, incdec1StepSize_); return;
    case EditOp::DEC1OP: StepCells(true, false, incdec1StepSize_); return;
    case EditOp::INC2OP: StepCells(true, true, incdec2StepSize_); return;
    case EditOp::DEC2OP: StepCells(true, false, incdec2StepSize_); return;
    case EditOp::INCPSEL: PercentCells(false, true); return;
    case EditOp::DECPSEL: PercentCells(false, false); return;
    case EditOp::INCPOP: PercentCells(true, true); return;
    case EditOp::DECPOP: PercentCells(true, false); return;
    }
}

void TableEditor::KeyPress(char key) {
    switch (key) {
    case KEY_COPY: Copy(); return;
    case KEY_PASTE: Paste(); return;
    case KEY_EDIT: EditCurrentCell({}); return;
    default:
        if ((key >= '0' && key <= '9') || key == '-') EditCurrentCell(std::string(1, key));
        return;
    }
}

void TableEditor::Copy() {
    if (grid_ == nullptr || mapId_ == 0) return;
    const Rect r = SelectedRect();
    std::string text;
    for (int row = std::max(r.row1, 0); row <= r.row2 && row < grid_->Rows(); ++row) {
        for (int col = std::max(r.col1, 0); col <= r.col2 && col < grid_->Cols(); ++col) {
            if (col > std::max(r.col1, 0)) text += '\t';
            text += grid_->TextMatrix(row, col);
        }
        text += "\r\n";
    }
    if (!clipboard_.TrySetClipboardText(text))
        messages_.MessageBox("Failed to open clipboard", std::string(kProgramTitle), MsgButtons::OK, MsgIcon::Critical);
}

void TableEditor::Paste() {
    if (!HasGrid()) return;
    std::string text;
    if (!clipboard_.TryGetClipboardText(text)) {
        messages_.MessageBox("Failed to open clipboard", std::string(kProgramTitle), MsgButtons::OK, MsgIcon::Critical);
        return;
    }
    const auto table = ParsePasteText(text);
    if (!table || table->empty()) return; // junk or nothing: silently ignored
    const int rows = static_cast<int>(table->size());
    const int cols = static_cast<int>(table->front().size());
    if (rows > grid_->Rows() - 1 || cols > grid_->Cols() - 1) {
        messages_.MessageBox("Area to be pasted is too large", std::string(kProgramTitle), MsgButtons::OK,
                             MsgIcon::Warning);
        return;
    }
    if (grid_->Row() != grid_->RowSel() || grid_->Col() != grid_->ColSel()) {
        messages_.MessageBox(
            "Please select a single cell (the top left corner of the area to be pasted in) before pasting.",
            std::string(kProgramTitle), MsgButtons::OK, MsgIcon::Warning);
        return;
    }
    const int startRow = grid_->Row() - FirstDataRow();
    const int startCol = grid_->Col() - 1;
    if (!InData(startRow, startCol)) return;
    const int items = rows * cols;
    const bool progress = items >= 6;
    const auto undoStep = OpenStep("Paste");
    progress_.SetHourglass(true);
    if (progress) progress_.ShowProgress("Pasting", items);
    int done = 0;
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            const int row = startRow + i;
            const int col = startCol + j;
            if (InData(row, col)) {
                if (const auto v =
                        TypedTextToValue((*table)[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)], col))
                    StoreCell(row, col, *v);
            }
            ++done;
            if (progress && done % 5 == 0) progress_.UpdateProgress(done);
        }
    }
    if (progress) progress_.CloseProgress();
    progress_.SetHourglass(false);
    grid_->SetSelectionEnd(std::min(grid_->Row() + rows - 1, grid_->Rows() - 1),
                           std::min(grid_->Col() + cols - 1, grid_->Cols() - 1));
}

Parsed<std::vector<std::vector<std::string>>> ParsePasteText(const std::string& text) {
    std::vector<std::vector<std::string>> table;
    std::vector<std::string> row;
    std::string cell;
    bool rowOpen = false;  // something of the current row has been read
    bool afterTab = false; // the last thing read was a TAB
    auto endRow = [&]() -> bool {
        if (!rowOpen) return true;
        if (!afterTab || !cell.empty()) row.push_back(cell); // a TAB right before the row end is dropped
        cell.clear();
        if (!table.empty() && row.size() != table.front().size()) return false;
        table.push_back(std::move(row));
        row.clear();
        rowOpen = false;
        afterTab = false;
        return true;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (!endRow()) return ParseError{"the rows have different numbers of cells"};
            const char pair = c == '\r' ? '\n' : '\r';
            if (i + 1 < text.size() && text[i + 1] == pair) ++i;
            continue;
        }
        if (c == ' ') continue;
        rowOpen = true;
        if (c == '\t') {
            row.push_back(cell);
            cell.clear();
            afterTab = true;
            continue;
        }
        afterTab = false;
        if (c == '.' || c == ',')
            cell += '.';
        else if ((c >= '0' && c <= '9') || c == '-')
            cell += c;
        else
            return ParseError{"a cell holds something other than a number"};
    }
    if (!endRow()) return ParseError{"the rows have different numbers of cells"};
    return table;
}

// ---------------------------------------------------------------------------------------------
// Operating point and colours

float TableEditor::FindCoord(const std::vector<std::int32_t>& p, double value) {
    if (p.empty()) return 0.0f;
    const std::size_t n = p.size() - 1;
    if (p[0] <= p[n]) {
        if (value <= p[0]) return 0.0f;
        if (value >= p[n]) return static_cast<float>(n);
        std::size_t k = 1;
        while (k < n && !(p[k] > value)) ++k;
        return static_cast<float>((k - 1) + (value - p[k - 1]) / static_cast<double>(p[k] - p[k - 1]));
    }
    if (value >= p[0]) return 0.0f;
    if (value <= p[n]) return static_cast<float>(n);
    std::size_t k = 1;
    while (k < n && !(p[k] < value)) ++k;
    return static_cast<float>((k - 1) + (value - p[k - 1]) / static_cast<double>(p[k] - p[k - 1]));
}

float TableEditor::FindXCoord(double value) const { return FindCoord(xAxisPoints_, value); }

float TableEditor::FindYCoord(double value) const { return FindCoord(yAxisPoints_, value); }

void TableEditor::ShowOperatingPoint(double rpmValue, double loadValue, double coolantValue, double airTempValue) {
    if (opMarker1_ == nullptr && opMarker2_ == nullptr) return;
    float x = 0.0f;
    switch (xAxisType_) {
    case MAPRPMAXIS:
    case RPMAXIS:
    case IGNRPMAXIS1:
    case IGNRPMAXIS2:
    case IGNRPMAXIS3:
    case EZFRPMAXIS: x = FindXCoord(rpmValue); break;
    case COOLANTAXIS:
    case EZFCOOLANTAXISIDLE:
    case EZFCOOLANTAXISCRUISE:
    case EZFCOOLANTAXISWOT: x = FindXCoord(coolantValue); break;
    case EZFAIRTEMPAXISCRUISE:
    case EZFAIRTEMPAXISWOT: x = FindXCoord(airTempValue); break;
    default: break;
    }
    float y = 0.0f;
    if (yAxisType_ == MAPMAFAXIS || yAxisType_ == IGNLOADAXIS || yAxisType_ == EZFLOADAXIS) y = FindYCoord(loadValue);
    // Numbered columns have no breakpoint to place the reading between: the marker follows the
    // row only, on the row's label, and no cell is at the operating point.
    const bool rowOnly = ColumnsNumbered();
    opX_ = rowOnly ? -1.0f : x;
    opY_ = y;
    opShown_ = true;
    if (grid_ == nullptr) return;
    const int col = rowOnly ? 0 : static_cast<int>(std::floor(x)) + grid_->FixedCols();
    const int row = static_cast<int>(std::floor(y)) + grid_->FixedRows();
    const double cx = grid_->ColPos(col) + (rowOnly ? 0.5 : x - std::floor(x) + 0.5) * grid_->ColWidth(col);
    const double cy = grid_->RowPos(row) + (y - std::floor(y) + 0.5) * grid_->RowHeight(row);
    for (MapMarker* m : {opMarker1_, opMarker2_}) {
        if (m == nullptr) continue;
        m->MoveCentre(cx, cy);
        m->SetVisible(true);
    }
}

void TableEditor::HideOperatingPoint() {
    for (MapMarker* m : {opMarker1_, opMarker2_})
        if (m != nullptr) m->SetVisible(false);
    opX_ = -1.0f;
    opY_ = -1.0f;
    opShown_ = false;
}

void TableEditor::SaveSelection() {
    savedSelection_[0] = grid_->Row();
    savedSelection_[1] = grid_->Col();
    savedSelection_[2] = grid_->RowSel();
    savedSelection_[3] = grid_->ColSel();
}

void TableEditor::RestoreSelection() {
    grid_->SetCurrentCell(savedSelection_[0], savedSelection_[1]);
    grid_->SetSelectionEnd(savedSelection_[2], savedSelection_[3]);
}

std::uint32_t TableEditor::GetCellColor(int row, int col) {
    if (grid_ == nullptr || !InData(row, col)) return 0;
    grid_->SetRedraw(false);
    SaveSelection();
    grid_->SetCurrentCell(FirstDataRow() + row, col + 1);
    const std::uint32_t colour = grid_->CellBackColor();
    RestoreSelection();
    grid_->SetRedraw(true);
    return colour;
}

void TableEditor::SetCellColor(int row, int col, std::uint32_t colour) {
    if (grid_ == nullptr || !InData(row, col)) return;
    grid_->SetRedraw(false);
    SaveSelection();
    grid_->SetCurrentCell(FirstDataRow() + row, col + 1);
    grid_->SetCellBackColor(colour);
    RestoreSelection();
    grid_->SetRedraw(true);
}

void TableEditor::SetSelectedCellsColor(std::uint32_t colour) {
    if (grid_ == nullptr) return;
    grid_->SetRedraw(false);
    SaveSelection();
    const Rect r = SelectedRect();
    for (int row = r.row1; row <= r.row2; ++row)
        for (int col = r.col1; col <= r.col2; ++col) {
            grid_->SetCurrentCell(row, col);
            grid_->SetCellBackColor(colour);
        }
    RestoreSelection();
    grid_->SetRedraw(true);
}

} // namespace kv
