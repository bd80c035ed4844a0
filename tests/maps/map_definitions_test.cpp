#include "maps/map_definitions.h"

#include "map_test_util.h"
#include "maps/table_editor.h"

#include <gtest/gtest.h>

#include <set>

namespace kv {

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
    EXPECT_EQ(FindMapDefinition(MapTab::Fuel, "Base fuel map")->helpText,
              "Valid range of values for map: -512 to 511.");
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
    const Case cases[] = {{MapTab::Fuel, -1, false, 0, true},        {MapTab::Fuel, 1, true, 0, true},
                          {MapTab::Fuel, 1, false, 0, false},        {MapTab::Fuel, 0, false, 0, true},
                          {MapTab::Ignition, 4, false, 4, true},     {MapTab::Ignition, 4, false, 8, false},
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

// Every listed map against the values the unit's documentation gives, written out here rather
// than taken from the program's own constants. Fractions are the single-precision values of the
// written fractions.
TEST(MapDefinitionTableTest, EveryMapMatchesItsExpectedRow) {
    using X = XAxisType;
    using Y = YAxisType;
    using D = DataType;
    const std::string h1 = "Valid range of values for map: -128 to 127. \r\n"
                           "Changing a cell value by 1 changes fueling by about 0.2%.";
    const std::string h2 = "Valid range of values for map: 0 to 255. \r\n"
                           "Changing a cell value by 1 changes fueling by about 0.6%.";
    const std::string h3 = "Valid range of values for map: 0 to 255. \r\n"
                           "Changing a cell value by 1 changes fueling by about 0.8%.";
    const std::string h4 = "Valid range of values for map: 0 to 255. \r\n"
                           "Changing a cell value by 1 changes fueling by about 4%. A value of 0 means the pulse "
                           "width will be as defined on the Parameters tab.";
    const std::string h5 = "Valid range of values for map: 0 to 255.";
    const std::string h6 = "Valid range of values for map: -512 to 511.";
    const std::string h7 = "Valid range of values for map: 0 to 255.\r\n"
                           "Changing a cell value by 1 changes fueling by about 0.7%.";
    struct Row {
        MapTab tab;
        const char* text;
        int id;
        X x;
        Y y;
        D data;
        int offset, min, max;
        double factor;
        int throttle, active;
        const char* xCaption;
        const char* yCaption;
        std::string help;
    };
    const MapTab F = MapTab::Fuel;
    const MapTab I = MapTab::Ignition;
    const char* rpm = "RPM";
    const char* cool = "Coolant temperature";
    const char* air = "Air temperature";
    const D fv = D::FuelValue;
    const double ign = 0.001953125;
    const Row rows[] = {
        {F, "Base fuel map (cat)", 1, X::MAPRPMAXIS, Y::MAPMAFAXIS, fv, -128, -128, 127, 0.001953125, -1, 1, rpm, "MAF",
         h1},
        {F, "Base fuel map (non-cat)", 2, X::MAPRPMAXIS, Y::MAPMAFAXIS, fv, -128, -128, 127, 0.001953125, -1, 0, rpm,
         "MAF", h1},
        {F, "Base fuel map ", 1, X::MAPRPMAXIS, Y::MAPMAFAXIS, fv, -128, -128, 127, 0.001953125, -1, -1, rpm, "MAF",
         h1},
        {F, "WOT enrichment map (cat)", 4, X::RPMAXIS, Y::None, fv, 0, 0, 255, 0.00625, 2, 1, rpm, "", h2},
        {F, "WOT enrichment map (non-cat)", 5, X::RPMAXIS, Y::None, fv, 0, 0, 255, 0.00625, 2, 0, rpm, "", h2},
        {F, "WOT enrichment map ", 4, X::RPMAXIS, Y::None, fv, -128, 0, 127, 0.0078125, 2, -1, rpm, "", h3},
        {F, "Warmup enrichment map (cat)", 6, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0.00625, -1, 1, cool, "", h2},
        {F, "Warmup enrichment map (non-cat)", 7, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0.00625, -1, 0, cool, "", h2},
        {F, "Warmup enrichment map ", 6, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0.0078125, -1, -1, cool, "", h3},
        {F, "Acceleration enrichment (cat)", 10, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0, -1, 1, cool, "", h5},
        {F, "Acceleration enrichment (non-cat)", 11, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0, -1, 0, cool, "", h5},
        {F, "Cranking fuel map", 12, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 1.12109375, -2, -1, cool, "", h4},
        {F, "Base fuel map", 28, X::MAPRPMAXIS, Y::MAPMAFAXIS_LH22, fv, -512, -512, 511, 0.001953125, -1, -1, rpm,
         "MAF", h6},
        {F, "WOT enrichment map", 29, X::RPMAXIS, Y::None, fv, 0, 0, 255, 0.00703125, -1, -1, rpm, "", h7},
        {F, "Warmup enrichment map", 30, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0.00703125, -1, -1, cool, "", h7},
        {F, "Acceleration enrichment", 31, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0, -1, -1, cool, "", h5},
        {F, "Cranking fuel map ", 32, X::COOLANTAXIS, Y::None, fv, 0, 0, 255, 0.04, -1, -1, cool, "", h4},
        {I, "Warmup compensation map (cruise)", 13, X::IGNCOOLANTAXIS, Y::None, D::DATAIGNREL, 0, 0, 176, ign, 1, -1,
         cool, "", ""},
        {I, "Warmup compensation map (idle)", 14, X::IGNCOOLANTAXIS, Y::None, D::DATAIGNREL, 0, 0, 176, ign, 0, -1,
         cool, "", ""},
        {I, "Warmup compensation map (WOT)", 15, X::IGNCOOLANTAXIS, Y::None, D::DATAIGNREL, 0, 0, 176, ign, 2, -1, cool,
         "", ""},
        {I, "Cruise map (98 octane non-cat)", 16, X::IGNRPMAXIS1, Y::IGNLOADAXIS, D::DATAIGNABS, 0, 16, 176, ign, 1, 0,
         rpm, "Load", ""},
        {I, "Cruise map (98 octane cat)", 17, X::IGNRPMAXIS1, Y::IGNLOADAXIS, D::DATAIGNABS, 0, 16, 176, ign, 1, 4, rpm,
         "Load", ""},
        {I, "Cruise map (91 octane)", 18, X::IGNRPMAXIS1, Y::IGNLOADAXIS, D::DATAIGNABS, 0, 16, 176, ign, 1, 8, rpm,
         "Load", ""},
        {I, "Idle map (98 octane non-cat)", 19, X::IGNRPMAXIS3, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 0, 0, rpm, "",
         ""},
        {I, "Idle map (98 octane cat)", 20, X::IGNRPMAXIS3, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 0, 4, rpm, "", ""},
        {I, "Idle map (91 octame)", 21, X::IGNRPMAXIS3, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 0, 8, rpm, "", ""},
        {I, "WOT map (98 octane non-cat)", 22, X::IGNRPMAXIS1, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 2, 0, rpm, "",
         ""},
        {I, "WOT map (98 octane cat)", 23, X::IGNRPMAXIS1, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 2, 4, rpm, "", ""},
        {I, "WOT map (91 octane)", 24, X::IGNRPMAXIS1, Y::None, D::DATAIGNABS, 0, 16, 176, ign, 2, 8, rpm, "", ""},
        {I, "Max knock retard (98 octane non-cat)", 25, X::IGNRPMAXIS2, Y::None, D::DATAIGNDEGS, 0, 0, 54, ign, -1, 0,
         rpm, "", ""},
        {I, "Max knock retard (98 octane cat)", 26, X::IGNRPMAXIS2, Y::None, D::DATAIGNDEGS, 0, 0, 54, ign, -1, 4, rpm,
         "", ""},
        {I, "Max knock retard (91 octane)", 27, X::IGNRPMAXIS2, Y::None, D::DATAIGNDEGS, 0, 0, 54, ign, -1, 8, rpm, "",
         ""},
        {I, "Cruise map", 33, X::EZFRPMAXIS, Y::EZFLOADAXIS, D::DATAIGNABSEZF, 0, 1, 144, ign, 1, -1, rpm, "Vac [inHg]",
         ""},
        {I, "Idle map", 34, X::EZFRPMAXIS, Y::None, D::DATAIGNABSEZF, 0, 1, 144, ign, 0, -1, rpm, "", ""},
        {I, "WOT map", 35, X::EZFRPMAXIS, Y::None, D::DATAIGNABSEZF, 0, 1, 144, ign, 2, -1, rpm, "", ""},
        {I, "Air temperature compensation map (high load cruise)", 36, X::EZFAIRTEMPAXISCRUISE, Y::None,
         D::DATAIGNRELEZF, 0, 0, 20, ign, 1, -1, air, "", ""},
        {I, "Air temperature compensation map (WOT)", 37, X::EZFAIRTEMPAXISWOT, Y::None, D::DATAIGNRELEZF, 0, 0, 20,
         ign, 2, -1, air, "", ""},
        {I, "Warmup compensation map (idle) ", 38, X::EZFCOOLANTAXISIDLE, Y::None, D::DATAIGNRELEZF, 0, -20, -1, ign, 0,
         -1, cool, "", ""},
        {I, "Warmup compensation map (cruise) ", 39, X::EZFCOOLANTAXISCRUISE, Y::None, D::DATAIGNRELEZF, 0, -20, -1,
         ign, 1, -1, cool, "", ""},
        {I, "Warmup compensation map (WOT) ", 40, X::EZFCOOLANTAXISWOT, Y::None, D::DATAIGNRELEZF, 0, -20, -1, ign, 2,
         -1, cool, "", ""},
    };
    std::size_t fuelRows = 0;
    for (const Row& r : rows) {
        const MapDefinition* d = FindMapDefinition(r.tab, r.text);
        ASSERT_NE(d, nullptr) << r.text;
        EXPECT_EQ(d->mapId, r.id) << r.text;
        EXPECT_EQ(d->xAxisType, r.x) << r.text;
        EXPECT_EQ(d->yAxisType, r.y) << r.text;
        EXPECT_EQ(d->dataType, r.data) << r.text;
        EXPECT_EQ(d->offset, r.offset) << r.text;
        EXPECT_EQ(d->minValue, r.min) << r.text;
        EXPECT_EQ(d->maxValue, r.max) << r.text;
        EXPECT_EQ(d->factor, static_cast<float>(r.factor)) << r.text;
        EXPECT_EQ(d->requiredThrottlePos, r.throttle) << r.text;
        EXPECT_EQ(d->activeCode, r.active) << r.text;
        EXPECT_EQ(d->xCaption, r.xCaption) << r.text;
        EXPECT_EQ(d->yCaption, r.yCaption) << r.text;
        EXPECT_EQ(d->helpText, r.help) << r.text;
        if (r.tab == F) ++fuelRows;
    }
    // Nothing listed is left out of the table above.
    EXPECT_EQ(MapDefinitions(F).size(), fuelRows);
    EXPECT_EQ(MapDefinitions(I).size(), std::size(rows) - fuelRows);
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

} // namespace kv
