// Step and percentage changes, typed values, copy and paste, operating point and colours.
#include "map_test_util.h"
#include "monitor/conversions.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using maps_test::EditorFixture;
using TE = TableEditor;

class EditTest : public EditorFixture {
protected:
    void OpenBaseMap() { Open(maps_test::LH23Bytes(), MapTab::Fuel, "Base fuel map (cat)"); }
    bool Asked() const {
        for (const auto& line : dialogs.log)
            if (line.rfind("InputBox|", 0) == 0) return true;
        return false;
    }
};

TEST_F(EditTest, StepChangesClampAtTheLimits) {
    struct Case {
        std::vector<std::uint8_t> (*bytes)();
        MapTab tab;
        const char* listText;
        int start;
        EditOp code;
        int expected;
    };
    auto ezk = [] { return maps_test::EZKBytes(0); };
    const Case cases[] = {
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 127, TE::BOGUSKEY_INC1SEL, 127},
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", -128, TE::BOGUSKEY_DEC1SEL, -128},
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 0, TE::BOGUSKEY_INC2SEL, 10},
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 5, TE::BOGUSKEY_DEC2SEL, -5},
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 120, TE::BOGUSKEY_INC2SEL, 127},
        {+ezk, MapTab::Ignition, "Warmup compensation map (idle)", 170, TE::BOGUSKEY_INC2SEL, 176},
        {+ezk, MapTab::Ignition, "Warmup compensation map (idle)", 3, TE::BOGUSKEY_DEC2SEL, 0},
        // EZF warm-up: signed limits -20..-1, bytes 236..255, step 1 = 4, step 2 = 8
        {maps_test::EZFBytes, MapTab::Ignition, "Warmup compensation map (idle) ", 255, TE::BOGUSKEY_INC1SEL, 255},
        {maps_test::EZFBytes, MapTab::Ignition, "Warmup compensation map (idle) ", 246, TE::BOGUSKEY_INC1SEL, 250},
        {maps_test::EZFBytes, MapTab::Ignition, "Warmup compensation map (idle) ", 241, TE::BOGUSKEY_DEC2SEL, 236},
        {maps_test::EZFBytes, MapTab::Ignition, "Warmup compensation map (idle) ", 236, TE::BOGUSKEY_DEC1SEL, 236},
        // EZF air temperature: limits 0..20
        {maps_test::EZFBytes, MapTab::Ignition, "Air temperature compensation map (WOT)", 18, TE::BOGUSKEY_INC1SEL, 20},
        {maps_test::EZFBytes, MapTab::Ignition, "Air temperature compensation map (WOT)", 2, TE::BOGUSKEY_DEC1SEL, 0},
    };
    for (const auto& c : cases) {
        Open(c.bytes(), c.tab, c.listText);
        const int mapId = editor->GetMap();
        const int offset = editor->GetCellValueOffset();
        const int lastX = editor->GetXAxisSize() - 1;
        image->WriteMapCell(mapId, lastX, 0, c.start - offset);
        editor->RenderTable();
        Select(0, 0, 0, 0);
        editor->Apply(c.code);
        EXPECT_EQ(image->ReadMapCell(mapId, lastX, 0) + offset, c.expected) << c.listText << " from " << c.start;
    }
}

TEST_F(EditTest, StepSizesAndSelectionRectangle) {
    OpenBaseMap();
    editor->SetIncdec1StepSize(0); // raised to 1
    EXPECT_EQ(editor->GetIncdec1StepSize(), 1);
    editor->SetIncdec2StepSize(0); // stays 0: the key stores the unchanged value
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) editor->SetCellValue(r, c, 10 * r + c);
    changes.clear();
    Select(0, 0, 0, 0);
    editor->Apply(TE::BOGUSKEY_INC2SEL);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(Cell(0, 0), "0");

    // Selection from (2, 2) back to (1, 1): columns outer, rows inner.
    grid.SetCurrentCell(grid.FixedRows() + 2, 3);
    grid.SetSelectionEnd(grid.FixedRows() + 1, 2);
    changes.clear();
    dialogs.log.clear();
    editor->Apply(TE::BOGUSKEY_INC1SEL);
    EXPECT_EQ(Cell(1, 1), "12");
    EXPECT_EQ(Cell(2, 2), "23");
    EXPECT_EQ(Cell(0, 0), "0");
    ASSERT_EQ(changes.size(), 4u);
    // data (1,1) -> map (14,1); (2,1) -> (14,2); then column 2 -> map x 13
    EXPECT_EQ(changes[0], std::make_tuple(14, 1, 12 + 128));
    EXPECT_EQ(changes[1], std::make_tuple(14, 2, 22 + 128));
    EXPECT_EQ(changes[2], std::make_tuple(13, 1, 13 + 128));
    EXPECT_EQ(dialogs.log.front(), "Hourglass|on");
    EXPECT_EQ(dialogs.log.back(), "Hourglass|off");
}

TEST_F(EditTest, PercentageChanges) {
    struct Case {
        int start;
        EditOp code;
        std::optional<std::string> answer;
        int expected;
        bool message;
    };
    const Case cases[] = {
        {0, TE::BOGUSKEY_INCPSEL, "10", 51, false},    // 0.1 * 512 = 51.2
        {120, TE::BOGUSKEY_INCPSEL, "10", 127, false}, // would be 183: clamped
        {0, TE::BOGUSKEY_DECPSEL, "10", -51, false},
        {0, TE::BOGUSKEY_INCPSEL, "2.5", 10, false}, // rounds to 2 %: 10.24
        {0, TE::BOGUSKEY_INCPSEL, "3.5", 20, false}, // rounds to 4 %: 20.48
        {10, TE::BOGUSKEY_DECPSEL, "100", -128, false},
        {7, TE::BOGUSKEY_INCPSEL, "0", 7, false},
        {7, TE::BOGUSKEY_INCPSEL, "", 7, false},
        {7, TE::BOGUSKEY_INCPSEL, std::nullopt, 7, false},
        {7, TE::BOGUSKEY_INCPSEL, "abc", 7, true},
        {7, TE::BOGUSKEY_INCPSEL, "5x", 7, true},
        {7, TE::BOGUSKEY_INCPSEL, "-5", 7, true},
        {7, TE::BOGUSKEY_INCPSEL, "99999", 7, true},
    };
    for (const auto& c : cases) {
        OpenBaseMap();
        editor->SetCellValue(0, 0, c.start);
        Select(0, 0, 0, 0);
        dialogs.messages.clear();
        dialogs.log.clear();
        dialogs.inputs.push_back(c.answer);
        editor->Apply(c.code);
        EXPECT_EQ(editor->GetCellValue(0, 0), c.expected) << c.start << " " << c.answer.value_or("<cancel>");
        EXPECT_EQ(image->ReadMapCell(1, 15, 0), c.expected + 128);
        if (c.message) {
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0], "Invalid percentage value. Value must be an integer.");
        } else {
            EXPECT_TRUE(dialogs.messages.empty());
        }
    }
    EXPECT_EQ(dialogs.log.front(),
              "InputBox|Kestrovane|Enter percentage value by which fueling in selected cells should be increased:|");
}

TEST_F(EditTest, PercentageRefusedWithoutFactorOrOperatingPoint) {
    Open(maps_test::LH23Bytes(), MapTab::Fuel, "Acceleration enrichment (cat)");
    Select(0, 0, 0, 0);
    editor->Apply(TE::BOGUSKEY_INCPSEL);
    EXPECT_FALSE(Asked());
    OpenBaseMap();
    editor->Apply(TE::BOGUSKEY_INCPOP); // no operating point yet
    EXPECT_FALSE(Asked());
}

TEST_F(EditTest, TypedValuesCheckedByTheDialog) {
    OpenBaseMap();
    Select(0, 0, 2, 2); // typing stores only the current cell
    dialogs.inputs = {std::string("200"), std::string("abc"), std::string("-129"), std::string("12")};
    editor->KeyPress('5');
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Value cannot be greater than 127!", "Invalid value!",
                                                          "Value cannot be less than -128!"}));
    EXPECT_EQ(dialogs.log.front().substr(0, 19), "InputBox|Edit cell|");
    EXPECT_EQ(dialogs.log.front().back(), '5'); // the typed character is the initial text
    EXPECT_EQ(Cell(0, 0), "12");
    EXPECT_EQ(image->ReadMapCell(1, 15, 0), 140);
    EXPECT_EQ(changes.size(), 1u);

    changes.clear();
    dialogs.inputs = {std::nullopt};
    editor->KeyDown(TE::KEYCODE_F2, 0);
    EXPECT_TRUE(changes.empty());
    EXPECT_EQ(dialogs.log.back().back(), '|'); // F2 opens it empty
    const auto asked = dialogs.log.size();
    editor->KeyDown(TE::KEYCODE_F2, 1); // shift+F2 does nothing
    editor->KeyPress('x');
    EXPECT_EQ(dialogs.log.size(), asked);
}

TEST_F(EditTest, TypedDegreesRoundToTheNearestByte) {
    struct Case {
        std::vector<std::uint8_t> (*bytes)();
        const char* listText;
        const char* typed;
        int stored; // byte in data column 0
        const char* shown;
        const char* message; // nullptr = accepted
    };
    auto ezk = [] { return maps_test::EZKBytes(4); };
    const Case cases[] = {
        {+ezk, "Cruise map (98 octane cat)", "21.7", 96, "21.7", nullptr},
        {+ezk, "Cruise map (98 octane cat)", "21.6", 96, "21.7", nullptr},
        {+ezk, "Warmup compensation map (idle)", "-18", 176, "-18.0", nullptr},
        {+ezk, "Warmup compensation map (idle)", "-20", 0, "", "Value cannot be less than -18.0!"},
        {+ezk, "Warmup compensation map (idle)", "1", 125, "1.1", nullptr},
        {+ezk, "Max knock retard (98 octane cat)", "20.3", 54, "20.3", nullptr},
        {maps_test::EZFBytes, "Cruise map", "60.75", 1, "60.8", nullptr},
        {maps_test::EZFBytes, "Cruise map", "0", 136, "0.0", nullptr},
        {maps_test::EZFBytes, "Warmup compensation map (idle) ", "0.45", 255, "0.5", nullptr},
        {maps_test::EZFBytes, "Warmup compensation map (idle) ", "4.5", 246, "4.5", nullptr},
        {maps_test::EZFBytes, "Warmup compensation map (idle) ", "9.5", 0, "", "Value cannot be greater than 9.0!"},
        {maps_test::EZFBytes, "Air temperature compensation map (WOT)", "-4.5", 10, "-4.5", nullptr},
    };
    for (const auto& c : cases) {
        Open(c.bytes(), MapTab::Ignition, c.listText);
        const int lastX = editor->GetXAxisSize() - 1;
        image->WriteMapCell(editor->GetMap(), lastX, 0, 0);
        editor->RenderTable();
        const std::string before = Cell(0, 0);
        Select(0, 0, 0, 0);
        dialogs.messages.clear();
        dialogs.inputs = {std::string(c.typed), std::nullopt};
        editor->KeyPress(TE::KEY_EDIT);
        if (c.message) {
            ASSERT_EQ(dialogs.messages.size(), 1u) << c.listText << " " << c.typed;
            EXPECT_EQ(dialogs.messages[0], c.message);
            EXPECT_EQ(Cell(0, 0), before);
            continue;
        }
        EXPECT_TRUE(dialogs.messages.empty()) << c.listText << " " << c.typed;
        EXPECT_EQ(image->ReadMapCell(editor->GetMap(), lastX, 0), c.stored) << c.listText << " " << c.typed;
        EXPECT_EQ(Cell(0, 0), c.shown) << c.listText << " " << c.typed;
    }
}

TEST(CellNumberTest, LeadingAndWholeNumbers) {
    struct Case {
        const char* text;
        std::optional<double> leading;
        std::optional<double> whole;
    };
    const Case cases[] = {
        {"12", 12.0, 12.0},
        {" -3 ", -3.0, -3.0},
        {"1,5", 1.5, 1.5},
        {"1.5", 1.5, 1.5},
        {"5.", 5.0, 5.0},
        {".5", 0.5, 0.5},
        {"-.5", -0.5, -0.5},
        {"+2", 2.0, 2.0},
        {"12abc", 12.0, std::nullopt},
        {"1.2.3", 1.2, std::nullopt},
        {"1 2", 1.0, std::nullopt},
        {"-", std::nullopt, std::nullopt},
        {"--1", std::nullopt, std::nullopt},
        {"", std::nullopt, std::nullopt},
        {"abc", std::nullopt, std::nullopt},
        {"1e3", 1.0, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ParseCellNumber(c.text, false), c.leading) << "'" << c.text << "'";
        EXPECT_EQ(ParseCellNumber(c.text, true), c.whole) << "'" << c.text << "'";
    }
    const CellInputLimits limits{"-18.0", "48.0", -18.0, 48.0};
    EXPECT_EQ(CheckCellInput("48", limits), std::optional<double>(48.0));
    EXPECT_EQ(CheckCellInput("-18", limits), std::optional<double>(-18.0));
    EXPECT_EQ(CheckCellInput("48.1", limits).Error(), "Value cannot be greater than 48.0!");
    EXPECT_EQ(CheckCellInput("-18.5", limits).Error(), "Value cannot be less than -18.0!");
    EXPECT_EQ(CheckCellInput("4x", limits).Error(), "Invalid value!");
}

TEST(PasteParserTest, SeparatorsRowsAndJunk) {
    using Table = std::vector<std::vector<std::string>>;
    struct Case {
        const char* text;
        std::optional<Table> parsed;
    };
    const Case cases[] = {
        {"1\t2\r\n3\t4\r\n", Table{{"1", "2"}, {"3", "4"}}},
        {"1\t2\n3\t4", Table{{"1", "2"}, {"3", "4"}}},
        {"1\t2\n\r3\t4\r", Table{{"1", "2"}, {"3", "4"}}},
        {"1\t2\r3\t4", Table{{"1", "2"}, {"3", "4"}}},
        {"1\t2\t\r\n3\t4\t\r\n", Table{{"1", "2"}, {"3", "4"}}},
        {" 1 \t - 2 ", Table{{"1", "-2"}}},
        {"1,5\t2.5", Table{{"1.5", "2.5"}}},
        {"1\t\t3", Table{{"1", "", "3"}}},
        {"", Table{}},
        {"1\t2\r\n3", std::nullopt},
        {"1\r\n2\t3", std::nullopt},
        {"1\tA", std::nullopt},
        {"1e3", std::nullopt},
        {"+1", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ParsePasteText(c.text), c.parsed) << c.text;
}

TEST_F(EditTest, CopyThenPasteRestoresABlock) {
    OpenBaseMap();
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) editor->SetCellValue(r, c, 10 * r + c - 5);
    Select(0, 0, 1, 2);
    editor->KeyPress(TE::KEY_COPY);
    EXPECT_EQ(dialogs.clipboard, "-5\t-4\t-3\r\n5\t6\t7\r\n");
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) editor->SetCellValue(r, c, 0);
    Select(0, 0, 0, 0);
    dialogs.log.clear();
    editor->KeyPress(TE::KEY_PASTE);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(editor->GetCellValue(r, c), 10 * r + c - 5) << r << "," << c;
    EXPECT_EQ(image->ReadMapCell(1, 13, 1), 7 + 128);
    EXPECT_EQ(grid.RowSel(), grid.FixedRows() + 1);
    EXPECT_EQ(grid.ColSel(), 3);
    // Six items: the progress window is shown and closed.
    EXPECT_NE(std::find(dialogs.log.begin(), dialogs.log.end(), "ShowProgress|Pasting|6"), dialogs.log.end());
    EXPECT_NE(std::find(dialogs.log.begin(), dialogs.log.end(), "CloseProgress"), dialogs.log.end());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(EditTest, PasteRulesAndMessages) {
    struct Case {
        const char* clipboard;
        bool singleCell;
        int startRow, startCol;
        const char* message; // nullptr = none
        int changed;         // cells stored
    };
    const std::string tooTall = [] {
        std::string s;
        for (int i = 0; i < 17; ++i) s += "1\r\n";
        return s;
    }();
    const Case cases[] = {
        {"1,5", true, 0, 0, nullptr, 1},
        {"1\t2\r\n3", true, 0, 0, nullptr, 0},
        {"1\tx", true, 0, 0, nullptr, 0},
        {"", true, 0, 0, nullptr, 0},
        {tooTall.c_str(), true, 0, 0, "Area to be pasted is too large", 0},
        {"1\t2", false, 0, 0,
         "Please select a single cell (the top left corner of the area to be pasted in) before pasting.", 0},
        {"1\t2\t3", true, 15, 14, nullptr, 2}, // the item beyond the last column is skipped
        {"1\t\t3", true, 0, 0, nullptr, 2},    // an empty item leaves its cell alone
    };
    for (const auto& c : cases) {
        OpenBaseMap();
        changes.clear();
        dialogs.messages.clear();
        dialogs.clipboard = c.clipboard;
        if (c.singleCell)
            Select(c.startRow, c.startCol, c.startRow, c.startCol);
        else
            Select(0, 0, 1, 1);
        const int writes = grid.textWrites;
        editor->KeyPress(TE::KEY_PASTE);
        EXPECT_EQ(static_cast<int>(changes.size()), c.changed) << c.clipboard;
        if (c.message) {
            ASSERT_EQ(dialogs.messages.size(), 1u) << c.clipboard;
            EXPECT_EQ(dialogs.messages[0], c.message);
        } else {
            EXPECT_TRUE(dialogs.messages.empty()) << c.clipboard;
        }
        if (c.changed == 0) {
            EXPECT_EQ(grid.textWrites, writes) << c.clipboard;
        }
    }
    // "1,5" reads 1.5 and stores RoundEven(1.5) = 2; the cell shows what was stored.
    OpenBaseMap();
    Select(0, 0, 0, 0);
    dialogs.clipboard = "1,5\t2.5";
    editor->KeyPress(TE::KEY_PASTE);
    EXPECT_EQ(Cell(0, 0), "2");
    EXPECT_EQ(Cell(0, 1), "2");
    EXPECT_EQ(image->ReadMapCell(1, 15, 0), 130);
    // Near the edge the selection end stops at the grid.
    Select(15, 14, 15, 14);
    dialogs.clipboard = "1\t2\t3\r\n";
    editor->KeyPress(TE::KEY_PASTE);
    EXPECT_EQ(grid.ColSel(), 16);
    EXPECT_EQ(grid.RowSel(), 16);
}

TEST_F(EditTest, ClipboardFailureIsReported) {
    OpenBaseMap();
    editor->SetCellValue(0, 0, 3);
    dialogs.clipboardFails = true;
    for (int key : {TE::KEY_COPY, TE::KEY_PASTE}) {
        dialogs.log.clear();
        Select(0, 0, 0, 0);
        editor->KeyPress(key);
        ASSERT_EQ(dialogs.log.size(), 1u);
        EXPECT_EQ(dialogs.log[0], "MessageBox|Kestrovane|Failed to open clipboard");
    }
    EXPECT_EQ(editor->GetCellValue(0, 0), 3);
}

TEST_F(EditTest, FindCoordinatesStayInsideTheAxis) {
    Open(maps_test::EZFBytes(), MapTab::Ignition, "Cruise map");
    // X points in grid order are descending: 960, 900, ..., 60; Y ascending 16 .. 256.
    struct Case {
        double value;
        float x;
    };
    const Case xs[] = {{2000, 0}, {960, 0}, {930, 0.5f}, {900, 1}, {90, 14.5f}, {60, 15}, {0, 15}, {-5, 15}};
    for (const auto& c : xs) EXPECT_FLOAT_EQ(editor->FindXCoord(c.value), c.x) << c.value;
    const Case ys[] = {{0, 0}, {16, 0}, {24, 0.5f}, {256, 15}, {1e6, 15}};
    for (const auto& c : ys) EXPECT_FLOAT_EQ(editor->FindYCoord(c.value), c.x) << c.value;
}

TEST_F(EditTest, OperatingPointMarkerAndOpCodes) {
    OpenBaseMap();
    // Without marker parts nothing happens and the OP codes have no cell.
    editor->ShowOperatingPoint(20, 3864, 0, 0);
    EXPECT_FLOAT_EQ(editor->OperatingPointX(), -1);
    FakeMarker m1, m2;
    editor->SetOperatingPointControls(&m1, &m2);
    // rpm byte 20 lies beyond the slowest point (128): last column; load 3864 half-way rows 0..1.
    editor->ShowOperatingPoint(20, 3864, 0, 0);
    EXPECT_FLOAT_EQ(editor->OperatingPointX(), 15);
    EXPECT_FLOAT_EQ(editor->OperatingPointY(), 0.5f);
    EXPECT_TRUE(m1.visible && m2.visible);
    EXPECT_DOUBLE_EQ(m1.centreX, 16 * 600 + 300);
    EXPECT_DOUBLE_EQ(m1.centreY, FakeGrid::kRowHeight * 2);
    editor->SetCellValue(0, 15, 10);
    changes.clear();
    editor->Apply(TE::BOGUSKEY_INC2OP); // row RoundEven(0.5) = 0, column 15
    EXPECT_EQ(editor->GetCellValue(0, 15), 20);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0], std::make_tuple(0, 0, 148));
    dialogs.inputs = {std::string("10")};
    editor->Apply(TE::BOGUSKEY_DECPOP);
    EXPECT_EQ(editor->GetCellValue(0, 15), conv::RoundEven(((1 + 20 / 512.0) * 0.9 - 1) * 512));
    editor->HideOperatingPoint();
    EXPECT_FALSE(m1.visible || m2.visible);
    changes.clear();
    editor->Apply(TE::BOGUSKEY_INC1OP);
    EXPECT_TRUE(changes.empty());
}

TEST_F(EditTest, EachPercentageOperationAsksItsQuestionAndChangesItsCell) {
    OpenBaseMap();
    FakeMarker m1, m2;
    editor->SetOperatingPointControls(&m1, &m2);
    editor->ShowOperatingPoint(20, 3864, 0, 0); // operating point cell: row 0, column 15
    struct Case {
        EditOp op;
        const char* prompt;
        int selected;         // cell 0, 0 afterwards
        int atOperatingPoint; // cell 0, 15 afterwards
    };
    const Case cases[] = {
        {TE::BOGUSKEY_INCPSEL, "Enter percentage value by which fueling in selected cells should be increased:", 51, 0},
        {TE::BOGUSKEY_DECPSEL, "Enter percentage value by which fueling in selected cells should be decreased:", -51,
         0},
        {TE::BOGUSKEY_INCPOP,
         "Enter percentage value by which fueling at current operating point should be increased:", 0, 51},
        {TE::BOGUSKEY_DECPOP,
         "Enter percentage value by which fueling at current operating point should be decreased:", 0, -51},
    };
    for (const auto& c : cases) {
        editor->SetCellValue(0, 0, 0);
        editor->SetCellValue(0, 15, 0);
        Select(0, 0, 0, 0);
        dialogs.log.clear();
        dialogs.inputs = {std::string("10")};
        editor->Apply(c.op);
        ASSERT_FALSE(dialogs.log.empty()) << c.prompt;
        EXPECT_EQ(dialogs.log.front(), std::string("InputBox|Kestrovane|") + c.prompt + "|");
        EXPECT_EQ(editor->GetCellValue(0, 0), c.selected) << c.prompt;
        EXPECT_EQ(editor->GetCellValue(0, 15), c.atOperatingPoint) << c.prompt;
    }
}

TEST_F(EditTest, CellColoursKeepTheSelection) {
    OpenBaseMap();
    Select(1, 1, 2, 3);
    editor->SetCellColor(5, 6, 0x0000FF);
    EXPECT_EQ(grid.ColourAt(grid.FixedRows() + 5, 7), 0x0000FFu);
    EXPECT_EQ(editor->GetCellColor(5, 6), 0x0000FFu);
    EXPECT_EQ(grid.Row(), grid.FixedRows() + 1);
    EXPECT_EQ(grid.ColSel(), 4);
    editor->SetSelectedCellsColor(0x00FF00);
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) EXPECT_EQ(grid.ColourAt(grid.FixedRows() + r, c + 1), 0x00FF00u);
    EXPECT_EQ(grid.ColourAt(grid.FixedRows() + 3, 2), 0xFFFFFFu);
    EXPECT_EQ(grid.colourChangesWhileRedrawOff, 7);
    EXPECT_TRUE(grid.Redraw());
    EXPECT_EQ(grid.RowSel(), grid.FixedRows() + 2);
}

} // namespace

} // namespace kv
