#pragma once
// TableEditor: turns a grid into the editor of one map of one EPROM image. It lays the grid out
// from the map's axis types, writes the axis labels and the cell texts, and carries out every
// edit: step changes, percentage changes, typed values, copy and paste. Every change goes into
// the image at once through EPROM::WriteMapCell (which writes through to the device when the
// image is live) and is announced through the ChangeCellValue callback. Each key, button, typed
// value or paste is one edit step of the image (EditStep), so it is undone as a whole.
//
// Coordinates: public row/column arguments are data coordinates (data row 0 is the first row
// below the fixed rows, data column 0 the first right of the fixed column). The map's own
// indexes are the same except that X is mirrored when the X axis is reversed and Y when the
// Y axis is reversed; only the two image accesses apply the mirroring.
//
// Values: the "shown value" is what limits, steps and typing work with: for fuel maps the
// stored cell plus the offset; for ignition maps the stored byte (DATAIGNRELEZF: its limits apply
// to the byte read as signed). The grid shows a text made from it by the data type (degrees for
// ignition maps).
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "eprom/edit_step.h"
#include "maps/axis_types.h"
#include "maps/cell_input.h"
#include "maps/edit_op.h"

namespace kv {

class EPROM;
class MapGrid;
class MapMarker;
class Clipboard;
class ProgressDisplay;
class UserMessages;

class TableEditor {
public:
    // The axis and data types under the names the editor has always used.
    static constexpr XAxisType MAPRPMAXIS = XAxisType::MAPRPMAXIS;
    static constexpr XAxisType RPMAXIS = XAxisType::RPMAXIS;
    static constexpr XAxisType COOLANTAXIS = XAxisType::COOLANTAXIS;
    static constexpr XAxisType IGNCOOLANTAXIS = XAxisType::IGNCOOLANTAXIS;
    static constexpr XAxisType IGNRPMAXIS1 = XAxisType::IGNRPMAXIS1;
    static constexpr XAxisType IGNRPMAXIS2 = XAxisType::IGNRPMAXIS2;
    static constexpr XAxisType IGNRPMAXIS3 = XAxisType::IGNRPMAXIS3;
    static constexpr XAxisType EZFRPMAXIS = XAxisType::EZFRPMAXIS;
    static constexpr XAxisType EZFCOOLANTAXISIDLE = XAxisType::EZFCOOLANTAXISIDLE;
    static constexpr XAxisType EZFCOOLANTAXISCRUISE = XAxisType::EZFCOOLANTAXISCRUISE;
    static constexpr XAxisType EZFCOOLANTAXISWOT = XAxisType::EZFCOOLANTAXISWOT;
    static constexpr XAxisType EZFAIRTEMPAXISCRUISE = XAxisType::EZFAIRTEMPAXISCRUISE;
    static constexpr XAxisType EZFAIRTEMPAXISWOT = XAxisType::EZFAIRTEMPAXISWOT;
    static constexpr YAxisType MAPMAFAXIS = YAxisType::MAPMAFAXIS;
    static constexpr YAxisType MAPMAFAXIS_LH22 = YAxisType::MAPMAFAXIS_LH22;
    static constexpr YAxisType IGNLOADAXIS = YAxisType::IGNLOADAXIS;
    static constexpr YAxisType EZFLOADAXIS = YAxisType::EZFLOADAXIS;
    static constexpr DataType DATAIGNABS = DataType::DATAIGNABS;
    static constexpr DataType DATAIGNREL = DataType::DATAIGNREL;
    static constexpr DataType DATAIGNDEGS = DataType::DATAIGNDEGS;
    static constexpr DataType DATAIGNABSEZF = DataType::DATAIGNABSEZF;
    static constexpr DataType DATAIGNRELEZF = DataType::DATAIGNRELEZF;
    // The edit operations under the names the editor has always used.
    static constexpr EditOp BOGUSKEY_INC1SEL = EditOp::INC1SEL;
    static constexpr EditOp BOGUSKEY_DEC1SEL = EditOp::DEC1SEL;
    static constexpr EditOp BOGUSKEY_INC2SEL = EditOp::INC2SEL;
    static constexpr EditOp BOGUSKEY_DEC2SEL = EditOp::DEC2SEL;
    static constexpr EditOp BOGUSKEY_INCPSEL = EditOp::INCPSEL;
    static constexpr EditOp BOGUSKEY_DECPSEL = EditOp::DECPSEL;
    static constexpr EditOp BOGUSKEY_INC1OP = EditOp::INC1OP;
    static constexpr EditOp BOGUSKEY_DEC1OP = EditOp::DEC1OP;
    static constexpr EditOp BOGUSKEY_INC2OP = EditOp::INC2OP;
    static constexpr EditOp BOGUSKEY_DEC2OP = EditOp::DEC2OP;
    static constexpr EditOp BOGUSKEY_INCPOP = EditOp::INCPOP;
    static constexpr EditOp BOGUSKEY_DECPOP = EditOp::DECPOP;
    // Characters handled by KeyPress and the key code of KeyDown.
    static constexpr char KEY_COPY = 3;   // Ctrl+C
    static constexpr char KEY_EDIT = 5;   // Ctrl+E
    static constexpr char KEY_PASTE = 22; // Ctrl+V
    static constexpr int KEYCODE_F2 = 113;
    // Width of every grid column in twips.
    static constexpr int COLUMN_WIDTH = 600;
    // Columns of a map whose axis has no stored breakpoints (shown numbered 1 .. 15), and the tool
    // tip of their headers.
    static constexpr int kNumberedColumns = 15;
    static constexpr std::string_view kNoBreakpointsTip =
        "The coolant temperature breakpoints are not stored with this map.";

    // Raised after every stored cell: map X index, map Y index, new stored value.
    using ChangeCellValueHandler = std::function<void(int mapX, int mapY, std::int32_t storedValue)>;

    // `messages` serves the input box and messages, `progress` the progress window and hourglass,
    // `clipboard` copy and paste; all must outlive the editor. `cellInput` is the cell input
    // dialog; null = an input box over `messages`.
    TableEditor(UserMessages& messages, ProgressDisplay& progress, Clipboard& clipboard,
                CellInput* cellInput = nullptr);
    TableEditor(const TableEditor&) = delete;
    TableEditor& operator=(const TableEditor&) = delete;

    // --- configuration (call SetEPROM, the setters, then RenderTable) ---
    void SetEPROM(EPROM* image) { eprom_ = image; }
    // The image the editor reads and writes.
    const EPROM* GetEPROM() const { return eprom_; }
    void SetControl(MapGrid* grid) { grid_ = grid; }
    void SetIncdec2StepSize(int n);
    void SetIncdec1StepSize(int n); // values below 1 become 1
    // The two marker parts (either may be null); clears the operating point.
    void SetOperatingPointControls(MapMarker* marker1, MapMarker* marker2);
    void SetCellMaxValue(std::int32_t v) { cellMaxValue_ = v; }
    void SetCellMinValue(std::int32_t v) { cellMinValue_ = v; }
    void SetCellValueOffset(std::int32_t v) { cellValueOffset_ = v; }
    void SetCellFactor(float f) { cellFactor_ = f; }
    void SetMap(int id) { mapId_ = id; }
    void SetXAxisType(XAxisType t);
    void SetYAxisType(YAxisType t);
    void SetDataType(DataType t) { dataType_ = t; }
    void SetRequiredThrottlePos(int p) { requiredThrottlePos_ = p; }
    int GetRequiredThrottlePos() const { return requiredThrottlePos_; }
    void OnChangeCellValue(ChangeCellValueHandler handler) { changeCellValue_ = std::move(handler); }

    // Read-back of the configuration.
    int GetMap() const { return mapId_; }
    XAxisType GetXAxisType() const { return xAxisType_; }
    YAxisType GetYAxisType() const { return yAxisType_; }
    DataType GetDataType() const { return dataType_; }
    bool IsXAxisReversed() const { return xAxisReversed_; }
    bool IsYAxisReversed() const { return yAxisReversed_; }
    // Whether the columns are only numbered: the map's axis has no stored breakpoints.
    bool ColumnsNumbered() const { return xAxisType_ == IGNCOOLANTAXIS; }
    std::int32_t GetCellMinValue() const { return cellMinValue_; }
    std::int32_t GetCellMaxValue() const { return cellMaxValue_; }
    std::int32_t GetCellValueOffset() const { return cellValueOffset_; }
    float GetCellFactor() const { return cellFactor_; }
    int GetIncdec1StepSize() const { return incdec1StepSize_; }
    int GetIncdec2StepSize() const { return incdec2StepSize_; }

    // Number of data columns / data rows (after RenderTable).
    int GetXAxisSize() const { return static_cast<int>(xAxisPoints_.size()); }
    int GetYAxisSize() const { return static_cast<int>(yAxisPoints_.size()); }
    // Raw axis point of each data column / data row, in grid order.
    const std::vector<std::int32_t>& XAxisPoints() const { return xAxisPoints_; }
    const std::vector<std::int32_t>& YAxisPoints() const { return yAxisPoints_; }

    // Lays out and fills the grid: headers, axis labels and every cell. Map 0 gives an empty grid.
    void RenderTable();
    // The image's bytes changed behind the editor (an undo): the grid is filled again, keeping the
    // current cell and the selection.
    void RefreshFromImage();

    // --- operating point ---
    // Places the marker on the fractional grid point of the live axis values; nothing while the
    // editor has no marker parts.
    void ShowOperatingPoint(double rpmValue, double loadValue, double coolantValue, double airTempValue);
    void HideOperatingPoint();
    // Whether the marker stands on the grid; its data column is -1 where the columns have no
    // breakpoints (the marker then follows the row only).
    bool OperatingPointShown() const { return opShown_; }
    float OperatingPointX() const { return opX_; }
    float OperatingPointY() const { return opY_; }

    // --- colours (data coordinates; the selection is restored afterwards) ---
    std::uint32_t GetCellColor(int row, int col);
    void SetCellColor(int row, int col, std::uint32_t colour);
    void SetSelectedCellsColor(std::uint32_t colour);

    // Fractional data coordinate of a raw axis value: 0 .. size-1, interpolated between points,
    // the end index beyond either end (ascending or descending points).
    float FindXCoord(double value) const;
    float FindYCoord(double value) const;

    // --- keys ---
    // keyCode 113 (F2) without shift opens the cell input dialog.
    void KeyDown(int keyCode, int shift);
    // A typed character: digits and "-" open the cell input dialog with that character, 5 (Ctrl+E)
    // opens it empty, 3 copies, 22 pastes; any other character does nothing.
    void KeyPress(char key);
    // Carries out a step or percentage change.
    void Apply(EditOp op);

    // Shown value of a data cell, read from its text (0 when the text does not convert).
    std::int32_t GetCellValue(int row, int col) const;
    // Displays and stores one data cell with the given shown value (clamped to the limits).
    void SetCellValue(int row, int col, std::int32_t shownValue);

    // The map's own X index of a data column and Y index of a data row (mirrored where the axis
    // is reversed).
    int MapX(int col) const;
    int MapY(int row) const;

    // The text a shown value gets in a data column, by the data type.
    std::string CellText(std::int32_t shownValue, int col) const;
    // A typed text -> shown value in a data column (clamped to the limits); nullopt when it does
    // not convert.
    std::optional<std::int32_t> TypedTextToValue(const std::string& text, int col) const;
    // The limits as the cell input dialog shows them for a data column.
    CellInputLimits InputLimits(int col) const;

private:
    struct Rect {
        int row1, col1, row2, col2;
    };

    int FirstDataRow() const;
    double ColumnRpm(int col) const;
    bool HasGrid() const;
    bool InData(int row, int col) const;
    std::int32_t Clamp(std::int32_t v) const;
    std::int32_t Increase(std::int32_t v, std::int32_t step) const;
    std::int32_t Decrease(std::int32_t v, std::int32_t step) const;
    std::optional<std::int32_t> CurrentShownValue(int row, int col) const;
    void StoreCell(int row, int col, std::int32_t shownValue);
    Rect SelectedRect() const;
    std::vector<std::pair<int, int>> TargetCells(bool atOperatingPoint) const;
    void StepCells(bool atOperatingPoint, bool increase, int step);
    void PercentCells(bool atOperatingPoint, bool increase);
    void EditCurrentCell(const std::string& initialText);
    // Brackets one user action on the image as an undo step of that name (nothing without an image).
    std::optional<EditStep> OpenStep(const char* name) const;
    void Copy();
    void Paste();
    void SaveSelection();
    void RestoreSelection();
    static float FindCoord(const std::vector<std::int32_t>& points, double value);

    UserMessages& messages_;
    ProgressDisplay& progress_;
    Clipboard& clipboard_;
    CellInput* cellInput_;
    DialogCellInput ownCellInput_;
    MapGrid* grid_ = nullptr;
    EPROM* eprom_ = nullptr;
    std::int32_t cellMaxValue_ = 0;
    std::int32_t cellMinValue_ = 0;
    std::int32_t cellValueOffset_ = 0;
    float cellFactor_ = 0.0f;
    int mapId_ = 0;
    XAxisType xAxisType_ = XAxisType::None;
    YAxisType yAxisType_ = YAxisType::None;
    DataType dataType_ = DataType::FuelValue;
    bool xAxisReversed_ = false;
    bool yAxisReversed_ = false;
    std::vector<std::int32_t> xAxisPoints_;
    std::vector<std::int32_t> yAxisPoints_;
    MapMarker* opMarker1_ = nullptr;
    MapMarker* opMarker2_ = nullptr;
    float opX_ = -1.0f;
    float opY_ = -1.0f;
    bool opShown_ = false;
    int savedSelection_[4] = {0, 0, 0, 0};
    int incdec1StepSize_ = 1;
    int incdec2StepSize_ = 0;
    int requiredThrottlePos_ = 0;
    ChangeCellValueHandler changeCellValue_;
};

// The paste parser: TAB ends a cell; CR, LF, CR LF or LF CR ends a row; blanks are skipped;
// "." and "," are decimal separators; digits and "-" are kept; any other character, or a row
// with another cell count than the first, makes the text invalid. A TAB right before the end of
// a row is dropped. An empty text gives an empty table.
Parsed<std::vector<std::vector<std::string>>> ParsePasteText(const std::string& text);

} // namespace kv
