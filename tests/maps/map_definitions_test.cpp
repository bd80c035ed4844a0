#include "maps/map_definitions.h"

#include "maps/table_editor.h"
#include "map_test_util.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(MapListTest, ListsByUnitKeepExactTexts) {
    struct Case {
        MapTab tab;
        EcuType ecuType;
        int creator;
        std::size_t size;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {MapTab::Fuel, EcuType::LH23, 1, 9, "Base fuel map (cat)", "Cranking fuel map"},
        {MapTab::Fuel, EcuType::LH23, 2, 3, "Base fuel map ", "Warmup enrichment map "},
        {MapTab::Fuel, EcuType::LH22, 1, 5, "Base fuel map", "Cranking fuel map "},
        {MapTab::Fuel, EcuType::EZK, 1, 0, nullptr, nullptr},
        {MapTab::Fuel, EcuType::Unknown, 1, 0, nullptr, nullptr},
        {MapTab::Ignition, EcuType::EZK, 1, 15, "Cruise map (98 octane cat)", "Max knock retard (91 octane)"},
        {MapTab::Ignition, EcuType::EZF, 1, 8, "Cruise map", "Warmup compensation map (WOT) "},
        {MapTab::Ignition, EcuType::LH23, 1, 0, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        const auto list = MapListTexts(c.tab, c.ecuType, c.creator);
        ASSERT_EQ(list.size(), c.size) << EcuTypeCode(c.ecuType) << "/" << c.creator;
        if (c.size == 0) continue;
        EXPECT_EQ(list.front(), c.first);
        EXPECT_EQ(list.back(), c.last);
        // Every entry has its definition on the same tab, and no entry appears twice.
        std::set<std::string_view> seen(list.begin(), list.end());
        EXPECT_EQ(seen.size(), list.size());
        for (auto text : list) EXPECT_NE(FindMapDefinition(c.tab, text), nullptr) << "'" << text << "'";
    }
    const auto ezk = MapListTexts(MapTab::Ignition, EcuType::EZK, 1);
    EXPECT_EQ(ezk[5], "Idle map (91 octame)");
}

TEST(MapListTest, TrailingBlanksSelectDifferentMaps) {
    struct Case {
        MapTab tab;
        const char* text;
        int mapId; // 0 = no such entry
    };
    const Case cases[] = {{MapTab::Fuel, "Base fuel map (cat)", 1},
                          {MapTab::Fuel, "Base fuel map ", 1},
                          {MapTab::Fuel, "Base fuel map", 28},
                          {MapTab::Fuel, "Base fuel map  ", 0},
                          {MapTab::Fuel, "Cranking fuel map", 12},
                          {MapTab::Fuel, "Cranking fuel map ", 32},
                          {MapTab::Ignition, "Warmup compensation map (idle)", 14},
                          {MapTab::Ignition, "Warmup compensation map (idle) ", 38},
                          {MapTab::Ignition, "Cruise map", 33},
                          {MapTab::Fuel, "Cruise map", 0},
                          {MapTab::Ignition, "Base fuel map", 0}};
    for (const auto& c : cases) {
        const MapDefinition* d = FindMapDefinition(c.tab, c.text);
        EXPECT_EQ(d ? d->mapId : 0, c.mapId) << "'" << c.text << "'";
    }
    // The creator-2 WOT map: offset -128 with limits 0..127.
    const MapDefinition* wot = FindMapDefinition(MapTab::Fuel, "WOT enrichment map ");
    ASSERT_NE(wot, nullptr);
    EXPECT_EQ(wot->offset, -128);
    EXPECT_EQ(wot->minValue, 0);
    EXPECT_EQ(wot->maxValue, 127);
}

TEST(MapListTest, HelpTextsAndButtons) {
    const MapDefinition* base = FindMapDefinition(MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->helpText, "Valid range of values for map: -128 to 127. \r\nChanging a cell value by 1 changes "
                              "fueling by about 0.2%.");
    EXPECT_EQ(FindMapDefinition(MapTab::Fuel, "Base fuel map")->helpText, "Valid range of values for map: -512 to 511.");
    EXPECT_EQ(FindMapDefinition(MapTab::Fuel, "WOT enrichment map")->helpText,
              "Valid range of values for map: 0 to 255.\r\nChanging a cell value by 1 changes fueling by about 0.7%.");
    EXPECT_EQ(FindMapDefinition(MapTab::Ignition, "Cruise map")->yCaption, "Vac [inHg]");
    EXPECT_EQ(FindMapDefinition(MapTab::Fuel, "Acceleration enrichment (cat)")->factor, 0.0f);
    EXPECT_EQ(FindMapDefinition(MapTab::Fuel, "Cranking fuel map")->requiredThrottlePos, -2);

    struct Case {
        MapTab tab;
        EcuType ecuType;
        int step1, step2;
        const char* inc2Tip;
    };
    const Case cases[] = {{MapTab::Fuel, EcuType::LH23, 1, 10, "Increase value(s) by 10"},
                          {MapTab::Ignition, EcuType::EZK, 1, 8, "Increase value(s) by 3 degrees"},
                          {MapTab::Ignition, EcuType::EZF, 4, 8, "Increase value(s) by 3.6 degrees"}};
    for (const auto& c : cases) {
        const MapButtonSet* b = MapButtons(c.tab, c.ecuType);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->step1, c.step1);
        EXPECT_EQ(b->step2, c.step2);
        EXPECT_EQ(b->inc2Tip, c.inc2Tip);
    }
    EXPECT_EQ(MapButtons(MapTab::Ignition, EcuType::LH23), nullptr);
}

TEST(MapListTest, ActiveConditions) {
    struct Case {
        MapTab tab;
        int code;
        bool cat;
        int mapSet;
        bool used;
    };
    const Case cases[] = {{MapTab::Fuel, -1, false, 0, true},     {MapTab::Fuel, 1, true, 0, true},
                          {MapTab::Fuel, 1, false, 0, false},     {MapTab::Fuel, 0, false, 0, true},
                          {MapTab::Ignition, 4, false, 4, true},  {MapTab::Ignition, 4, false, 8, false},
                          {MapTab::Ignition, 8, false, 0x108, true}, {MapTab::Ignition, -1, false, 3, true}};
    for (const auto& c : cases) EXPECT_EQ(IsMapUsed(c.tab, c.code, c.cat, c.mapSet), c.used) << c.code;
}

TEST(ConfigureEditorTest, SetsEveryFieldAndStepsByUnit) {
    ScriptedDialogs dialogs;
    TableEditor editor(dialogs, dialogs, dialogs);
    ConfigureEditor(editor, MapTab::Fuel, FindMapDefinition(MapTab::Fuel, "Base fuel map"), EcuType::LH22);
    EXPECT_EQ(editor.GetMap(), 28);
    EXPECT_EQ(editor.GetCellMinValue(), -512);
    EXPECT_EQ(editor.GetCellMaxValue(), 511);
    EXPECT_EQ(editor.GetCellValueOffset(), -512);
    EXPECT_FLOAT_EQ(editor.GetCellFactor(), 1.0f / 512);
    EXPECT_EQ(editor.GetXAxisType(), TableEditor::MAPRPMAXIS);
    EXPECT_TRUE(editor.IsXAxisReversed());
    EXPECT_EQ(editor.GetYAxisType(), TableEditor::MAPMAFAXIS); // LH 2.2 axis stored as MAF, reversed
    EXPECT_TRUE(editor.IsYAxisReversed());
    EXPECT_EQ(editor.GetIncdec2StepSize(), 10);

    TableEditor ignition(dialogs, dialogs, dialogs);
    ConfigureEditor(ignition, MapTab::Ignition, FindMapDefinition(MapTab::Ignition, "Cruise map"), EcuType::EZF);
    EXPECT_EQ(ignition.GetIncdec1StepSize(), 4);
    EXPECT_EQ(ignition.GetYAxisType(), TableEditor::EZFLOADAXIS);
    EXPECT_FALSE(ignition.IsYAxisReversed());
    EXPECT_EQ(ignition.GetDataType(), TableEditor::DATAIGNABSEZF);
    EXPECT_EQ(ignition.GetRequiredThrottlePos(), 1);

    TableEditor none(dialogs, dialogs, dialogs);
    ConfigureEditor(none, MapTab::Ignition, nullptr, EcuType::Unknown);
    EXPECT_EQ(none.GetMap(), 0);
    EXPECT_EQ(none.GetIncdec1StepSize(), 1);
    EXPECT_EQ(none.GetIncdec2StepSize(), 0);
}

TEST(AxisTypeTest, ReversalByAxisType) {
    ScriptedDialogs dialogs;
    TableEditor editor(dialogs, dialogs, dialogs);
    for (int t = 0; t <= 16; ++t) {
        editor.SetXAxisType(static_cast<XAxisType>(t));
        const bool expected = t >= 1 && t <= 15 && t != 8 && t != 10;
        EXPECT_EQ(editor.IsXAxisReversed(), expected) << t;
    }
    editor.SetYAxisType(TableEditor::IGNLOADAXIS);
    EXPECT_FALSE(editor.IsYAxisReversed());
    EXPECT_EQ(editor.GetYAxisType(), TableEditor::IGNLOADAXIS);
}

} // namespace
