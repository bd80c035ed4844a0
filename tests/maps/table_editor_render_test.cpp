// Layout, axis headers and cell texts of one map of each axis type and data type.
#include "map_test_util.h"
#include "monitor/conversions.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using maps_test::EditorFixture;

class RenderTest : public EditorFixture {};

TEST_F(RenderTest, Lh23BaseMapHeadersLabelsAndMirroredColumns) {
    Open(maps_test::LH23Bytes(), MapTab::Fuel, "Base fuel map (cat)");
    image->WriteMapCell(1, 15, 0, 200);
    image->WriteMapCell(1, 0, 3, 0);
    editor->RenderTable();
    EXPECT_EQ(grid.Rows(), 17);
    EXPECT_EQ(grid.Cols(), 17);
    EXPECT_EQ(grid.FixedRows(), 1);
    EXPECT_EQ(grid.FixedCols(), 1);
    EXPECT_EQ(grid.ColWidth(0), 600);
    EXPECT_EQ(grid.ColWidth(16), 600);
    // Column 0 shows map x 15 (point 248, 68 rpm), the last column map x 0 (point 128, 916 rpm).
    EXPECT_EQ(grid.TextMatrix(0, 1), "68");
    EXPECT_EQ(grid.TextMatrix(0, 16), "920");
    for (int c = 2; c <= 16; ++c)
        EXPECT_LT(std::stoi(grid.TextMatrix(0, c - 1)), std::stoi(grid.TextMatrix(0, c))) << "column " << c;
    EXPECT_EQ(grid.TextMatrix(1, 0), "3856");
    EXPECT_EQ(grid.TextMatrix(16, 0), "4096");
    EXPECT_EQ(Cell(0, 0), "72");
    EXPECT_EQ(Cell(3, 15), "-128");
    EXPECT_EQ(editor->GetXAxisSize(), 16);
    EXPECT_EQ(editor->GetYAxisSize(), 16);
}

TEST_F(RenderTest, CoolantAxisHasCelsiusAndFahrenheitRows) {
    Open(maps_test::LH23Bytes(), MapTab::Fuel, "Warmup enrichment map (cat)");
    image->WriteMapCell(6, 3, 0, 77);
    editor->RenderTable();
    EXPECT_EQ(grid.FixedRows(), 2);
    EXPECT_EQ(grid.Rows(), 3);
    EXPECT_EQ(grid.Cols(), 5);
    EXPECT_EQ(grid.RowTexts(0), (std::vector<std::string>{"",
                                                          "-28 \xC2\xB0"
                                                          "C",
                                                          "-13 \xC2\xB0"
                                                          "C",
                                                          "-2 \xC2\xB0"
                                                          "C",
                                                          "3 \xC2\xB0"
                                                          "C"}));
    EXPECT_EQ(grid.TextMatrix(1, 1), "-19 \xC2\xB0"
                                     "F");
    EXPECT_EQ(grid.TextMatrix(1, 4), "37 \xC2\xB0"
                                     "F");
    EXPECT_EQ(grid.TextMatrix(2, 0), "");
    EXPECT_EQ(Cell(0, 0), "77");
}

TEST_F(RenderTest, EzkAbsoluteMapShowsDegreesWithSpeedCompensation) {
    Open(maps_test::EZKBytes(4), MapTab::Ignition, "Cruise map (98 octane cat)");
    image->WriteMapCell(17, 15, 0, 96);
    editor->RenderTable();
    EXPECT_EQ(grid.Rows(), 17);
    EXPECT_EQ(grid.TextMatrix(0, 1), "1500");   // period 1756 -> 1519 rpm
    EXPECT_EQ(grid.TextMatrix(0, 16), "10000"); // period 255 -> above 10000
    EXPECT_EQ(grid.TextMatrix(1, 0), "0 %");
    EXPECT_EQ(grid.TextMatrix(2, 0), "7 %");
    EXPECT_EQ(grid.TextMatrix(16, 0), "100 %");
    // 96 + 4 = 100: 60 - 37.5 - (90.5 us at 1519 rpm = 0.825 degrees) = 21.675
    EXPECT_EQ(Cell(0, 0), "21.7");
    EXPECT_EQ(editor->YAxisPoints()[15], 60);
}

TEST_F(RenderTest, IgnitionDataTypesTexts) {
    struct Case {
        std::vector<std::uint8_t> (*bytes)();
        const char* listText;
        int mapId;
        int stored;
        const char* text;
    };
    auto ezk = [] { return maps_test::EZKBytes(4); };
    const Case cases[] = {
        {+ezk, "Warmup compensation map (idle)", 14, 128, "0.0"},
        {+ezk, "Warmup compensation map (idle)", 14, 0, "48.0"},
        {+ezk, "Warmup compensation map (idle)", 14, 176, "-18.0"},
        {+ezk, "Max knock retard (98 octane cat)", 26, 54, "20.3"},
        {+ezk, "Max knock retard (98 octane cat)", 26, 1, "0.4"},
        {maps_test::EZFBytes, "Cruise map", 33, 1, "60.8"},
        {maps_test::EZFBytes, "Cruise map", 33, 144, "-3.6"},
        // 59.85 and 58.05 are halves: the singles just below them still round up
        {maps_test::EZFBytes, "Cruise map", 33, 3, "59.9"},
        {maps_test::EZFBytes, "Cruise map", 33, 7, "58.1"},
        {maps_test::EZFBytes, "Warmup compensation map (idle) ", 38, 255, "0.5"},
        {maps_test::EZFBytes, "Warmup compensation map (idle) ", 38, 236, "9.0"},
        {maps_test::EZFBytes, "Air temperature compensation map (WOT)", 37, 20, "-9.0"},
        {maps_test::EZFBytes, "Air temperature compensation map (WOT)", 37, 0, "0.0"},
    };
    for (const auto& c : cases) {
        Open(c.bytes(), MapTab::Ignition, c.listText);
        const int lastX = editor->GetXAxisSize() - 1;
        image->WriteMapCell(c.mapId, lastX, 0, c.stored); // data column 0
        editor->RenderTable();
        EXPECT_EQ(Cell(0, 0), c.text) << c.listText << " stored " << c.stored;
    }
}

TEST_F(RenderTest, EzkWarmupMapsNumberTheirColumnsAndSayTheBreakpointsAreNotStored) {
    // These maps keep no coolant breakpoints: their own cells are not an axis.
    for (const char* listText :
         {"Warmup compensation map (cruise)", "Warmup compensation map (idle)", "Warmup compensation map (WOT)"}) {
        Open(maps_test::EZKBytes(4), MapTab::Ignition, listText);
        EXPECT_EQ(grid.FixedRows(), 1) << listText;
        EXPECT_EQ(grid.Rows(), 2) << listText;
        EXPECT_EQ(grid.Cols(), 16) << listText;
        std::vector<std::string> numbers{""};
        for (int c = 1; c <= 15; ++c) numbers.push_back(std::to_string(c));
        EXPECT_EQ(grid.RowTexts(0), numbers) << listText;
        EXPECT_EQ(grid.ToolTipAt(0, 0), "") << listText;
        for (int c = 1; c <= 15; ++c)
            EXPECT_EQ(grid.ToolTipAt(0, c), "The coolant temperature breakpoints are not stored with this map.")
                << listText << " column " << c;
        EXPECT_EQ(grid.ToolTipAt(1, 1), "") << listText;
    }
    // Another coolant map keeps its temperatures and has no such tip.
    Open(maps_test::EZFBytes(), MapTab::Ignition, "Warmup compensation map (cruise) ");
    EXPECT_EQ(grid.ToolTipAt(0, 1), "");
}

TEST_F(RenderTest, EzfAxes) {
    Open(maps_test::EZFBytes(), MapTab::Ignition, "Cruise map");
    EXPECT_EQ(grid.TextMatrix(0, 1), "1000");   // period 960
    EXPECT_EQ(grid.TextMatrix(0, 16), "10000"); // period 60
    EXPECT_EQ(grid.TextMatrix(1, 0), "24.6");   // load point 16
    EXPECT_EQ(grid.TextMatrix(16, 0), "-2.2");  // load point 256
    Open(maps_test::EZFBytes(), MapTab::Ignition, "Warmup compensation map (cruise) ");
    EXPECT_EQ(grid.Cols(), 6);
    EXPECT_EQ(grid.FixedRows(), 2);
    for (int c = 1; c < 6; ++c) {
        EXPECT_NE(grid.TextMatrix(0, c).find(" \xC2\xB0"
                                             "C"),
                  std::string::npos);
        EXPECT_NE(grid.TextMatrix(1, c).find(" \xC2\xB0"
                                             "F"),
                  std::string::npos);
    }
}

TEST_F(RenderTest, MirroredAxesStoreToTheRightMapIndex) {
    struct Case {
        std::vector<std::uint8_t> (*bytes)();
        MapTab tab;
        const char* listText;
        int mapId;
        int row, col, shown;
        int mapX, mapY, stored;
    };
    const Case cases[] = {
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 1, 0, 0, 5, 15, 0, 133},
        {maps_test::LH23Bytes, MapTab::Fuel, "Base fuel map (cat)", 1, 15, 15, -128, 0, 15, 0},
        {maps_test::LH22Bytes, MapTab::Fuel, "Base fuel map", 28, 0, 0, 5, 15, 15, 517},
        {maps_test::LH22Bytes, MapTab::Fuel, "Base fuel map", 28, 15, 15, 511, 0, 0, 1023},
        {maps_test::LH22Bytes, MapTab::Fuel, "Base fuel map", 28, 2, 3, 600, 12, 13, 1023}, // clamped to 511
        {maps_test::EZFBytes, MapTab::Ignition, "Cruise map", 33, 2, 3, 100, 12, 2, 100},
    };
    for (const auto& c : cases) {
        Open(c.bytes(), c.tab, c.listText);
        changes.clear();
        editor->SetCellValue(c.row, c.col, c.shown);
        EXPECT_EQ(image->ReadMapCell(c.mapId, c.mapX, c.mapY), c.stored) << c.listText << " " << c.row << "," << c.col;
        ASSERT_EQ(changes.size(), 1u);
        EXPECT_EQ(changes[0], std::make_tuple(c.mapX, c.mapY, c.stored));
        EXPECT_EQ(editor->GetCellValue(c.row, c.col), std::min(c.shown, 511));
    }
}

TEST_F(RenderTest, Lh22RowsAreFilledFromTheBottom) {
    Open(maps_test::LH22Bytes(), MapTab::Fuel, "Base fuel map");
    EXPECT_EQ(grid.TextMatrix(1, 0), std::to_string(image->LH_GetMAFAxisPoint(15)));
    EXPECT_EQ(grid.TextMatrix(16, 0), std::to_string(image->LH_GetMAFAxisPoint(0)));
    EXPECT_EQ(editor->YAxisPoints()[0], image->LH_GetMAFAxisPoint(15));
    EXPECT_EQ(grid.TextMatrix(0, 1), std::to_string(static_cast<int>(conv::RoundToSignificant(
                                         conv::LH_RpmFromByteMid(image->LH_GetRPMAxisPoint(15)), 2))));
}

TEST_F(RenderTest, MapZeroGivesEmptyGridAndNoEdits) {
    image = std::make_unique<EPROM>(context);
    ASSERT_EQ(image->LoadFromArray(maps_test::LH23Bytes()), "");
    const auto before = image->Bytes();
    TableEditor empty(dialogs, dialogs, dialogs);
    empty.SetEPROM(image.get());
    empty.SetControl(&grid);
    ConfigureEditor(empty, MapTab::Fuel, FindMapDefinition(MapTab::Fuel, "no such map"), image->GetECUType());
    grid.SetRows(5);
    grid.SetCols(5);
    empty.RenderTable();
    EXPECT_EQ(grid.Rows(), 0);
    EXPECT_EQ(grid.Cols(), 0);
    dialogs.clipboard = "1\t2";
    for (EditOp op : {TableEditor::BOGUSKEY_INC1SEL, TableEditor::BOGUSKEY_INCPSEL}) empty.Apply(op);
    for (char key : {TableEditor::KEY_PASTE, '5'}) empty.KeyPress(key);
    empty.SetCellValue(0, 0, 5);
    EXPECT_EQ(image->Bytes(), before);
    EXPECT_TRUE(dialogs.log.empty());
}

} // namespace

} // namespace kv
