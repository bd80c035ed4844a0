// The operating-point trace: record layouts and filters per unit, the ignition-on gate, records
// decoded into the marker's cell, the throttle match, the knock count, the chart position and
// the trail. Against the built-in base images and a scripted device.
#include "auxinputs/aux_inputs.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "fake_grid.h"
#include "fakes.h"
#include "maps/map_definitions.h"
#include "maps/map_keys.h"
#include "maps/map_trace.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "trace_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

namespace {

using maps_test::FakeTraceDevice;
using maps_test::RecordBuilder;

// An image loaded from a base image, an editor for one listed map with both marker parts, and
// a trace against the scripted device.
class TraceFixture : public ::testing::Test {
protected:
    void Open(const std::string& base, MapTab tab, const std::string& listText) {
        image = std::make_unique<EPROM>(context);
        ASSERT_EQ(LoadBaseImage(base, *image), "") << base;
        context.wordBigEndian = image->GetCreator() != 2;
        editor = std::make_unique<TableEditor>(dialogs, dialogs, dialogs);
        editor->SetEPROM(image.get());
        editor->SetControl(&grid);
        editor->SetOperatingPointControls(&marker1, &marker2);
        const MapDefinition* definition = FindMapDefinition(tab, listText);
        ASSERT_NE(definition, nullptr) << listText;
        ConfigureEditor(*editor, tab, definition, image->GetECUType());
        editor->RenderTable();
        trace = std::make_unique<MapTrace>(device, aux, clock);
        this->tab = tab;
    }
    bool Configure() { return trace->Configure(tab, *image); }
    TraceTickResult Tick(bool chart = false) {
        clock.now += 100;
        return trace->Tick(*editor, chart);
    }
    std::int32_t Var(int n) const { return image->GetVariableAddress(n); }
    int BitMaskOf(int n) const {
        std::int32_t a = 0;
        int mask = 0;
        image->GetBitVariableAddress(n, a, mask);
        return mask;
    }

    EpromContext context;
    std::unique_ptr<EPROM> image;
    FakeGrid grid;
    FakeMarker marker1, marker2;
    ScriptedDialogs dialogs;
    std::unique_ptr<TableEditor> editor;
    FakeTraceDevice device;
    AuxInputs aux;
    FakeClock clock;
    std::unique_ptr<MapTrace> trace;
    MapTab tab = MapTab::Fuel;
};

// --- layouts and filters ---

struct LayoutCase {
    const char* base;
    MapTab tab;
    std::vector<int> sizes;
    std::vector<std::string> filtersAfterAux; // the unit's own channels after aux 1..4
};

class TraceLayoutTest : public TraceFixture, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(TraceLayoutTest, SendsFiltersFirstThenTheUnitsRecord) {
    const LayoutCase& c = GetParam();
    image = std::make_unique<EPROM>(context);
    ASSERT_EQ(LoadBaseImage(c.base, *image), "");
    aux.SetAuxFilter(2, 4);
    MapTrace t(device, aux, clock);
    ASSERT_TRUE(t.Configure(c.tab, *image));
    EXPECT_EQ(device.sizes, c.sizes);
    std::vector<std::string> expected = {"filter 2=0", "filter 3=4", "filter 4=0", "filter 5=0"};
    expected.insert(expected.end(), c.filtersAfterAux.begin(), c.filtersAfterAux.end());
    expected.push_back("configure");
    std::vector<std::string> sent;
    for (const auto& call : device.calls)
        if (call.rfind("filter", 0) == 0 || call == "configure") sent.push_back(call);
    EXPECT_EQ(sent, expected);
    // Every address goes out as one byte.
    for (int a : device.addresses) {
        EXPECT_GE(a, 0);
        EXPECT_LE(a, 255);
    }
}

INSTANTIATE_TEST_SUITE_P(Units, TraceLayoutTest,
                         ::testing::Values(LayoutCase{"MRX_D", MapTab::Fuel, {1, 1, 2, 1, 2, 2, 1, 1, 1}, {}},
                                           LayoutCase{"MRX_LH22_USA",
                                                      MapTab::Fuel,
                                                      {1, 3, 3, 2, 2, 2, 2, 2},
                                                      {"filter 1=2", "filter 2=3", "filter 3=0", "filter 4=0"}},
                                           LayoutCase{"EZK_D-S4", MapTab::Ignition, {1, 2, 1, 1, 1, 1, 1, 1, 2}, {}},
                                           LayoutCase{"EZF_EURO",
                                                      MapTab::Ignition,
                                                      {1, 2, 2, 2, 2, 2, 2},
                                                      {"filter 2=3", "filter 3=0", "filter 4=0", "filter 5=1",
                                                       "filter 6=1"}}));

TEST_F(TraceFixture, LayoutOfTheFuelUnitUsesItsRamVariablesAsAddressBytes) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    const auto layout = BuildTraceLayout(MapTab::Fuel, *image);
    ASSERT_EQ(layout.FieldCount(), 9);
    EXPECT_EQ(layout.addresses[0], 17);
    EXPECT_EQ(layout.addresses[1], Var(10) & 0xFF);
    EXPECT_EQ(layout.addresses[4], 11);
}

TEST_F(TraceFixture, AnImageOfTheOtherTabHasNoRecordAndNoTimer) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    EXPECT_TRUE(BuildTraceLayout(MapTab::Ignition, *image).addresses.empty());
    tab = MapTab::Ignition;
    EXPECT_FALSE(Configure());
    EXPECT_TRUE(device.addresses.empty());
}

TEST_F(TraceFixture, ARefusedLayoutReportsFailure) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    device.acceptLayout = false;
    EXPECT_FALSE(Configure());
}

// --- ignition-on gate ---

struct GateStep {
    bool on;
    double t;
    bool pass;
};

TEST(IgnitionGateTest, RecordsOnlyFromHalfASecondAfterSwitchOn) {
    const std::vector<std::vector<GateStep>> sequences = {
        // on since the map selection: at once
        {{true, 10.0, true}, {true, 10.1, true}},
        // off, then on: the switch-on tick and the next 0.5 s are skipped
        {{false, 1.0, false},
         {true, 1.1, false},
         {true, 1.4, false},
         {true, 1.6, false},
         {true, 1.7, true},
         {true, 1.8, true}},
        // off again in between starts over
        {{false, 0.0, false},
         {true, 0.1, false},
         {false, 0.2, false},
         {true, 0.3, false},
         {true, 0.7, false},
         {true, 0.9, true}},
        // off all the time
        {{false, 0.0, false}, {false, 5.0, false}},
    };
    for (std::size_t s = 0; s < sequences.size(); ++s) {
        IgnitionGate gate;
        gate.Reset();
        for (std::size_t i = 0; i < sequences[s].size(); ++i) {
            const GateStep& step = sequences[s][i];
            EXPECT_EQ(gate.Pass(step.on, step.t), step.pass) << "sequence " << s << " step " << i;
        }
    }
}

TEST_F(TraceFixture, IgnitionOffOrJustOnReadsNoRecordAndHidesTheMarker) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    device.ignitionOn = false;
    auto r = Tick();
    EXPECT_FALSE(r.proceeded);
    EXPECT_EQ(device.recordReads, 0);
    EXPECT_FALSE(marker1.visible);
    EXPECT_EQ(r.sample.afr, "-");
    device.ignitionOn = true;
    EXPECT_FALSE(Tick().proceeded); // just came on
    EXPECT_EQ(device.recordReads, 0);
}

// --- marker on the expected cell ---

struct CellCase {
    int col;
    int row;
    double colFraction; // 0.5 = half-way to the next axis point
};

class Lh23MarkerTest : public TraceFixture, public ::testing::WithParamInterface<CellCase> {};

TEST_P(Lh23MarkerTest, RecordPlacesTheMarkerOnItsCell) {
    const CellCase& c = GetParam();
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    const auto& xs = editor->XAxisPoints();
    const auto& ys = editor->YAxisPoints();
    double rpm = xs[static_cast<std::size_t>(c.col)];
    if (c.colFraction > 0) rpm += c.colFraction * (xs[static_cast<std::size_t>(c.col) + 1] - rpm);
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(static_cast<std::int64_t>(rpm), 1)
                        .Ram(ys[static_cast<std::size_t>(c.row)], 2)
                        .Ram(100, 1)
                        .Item(32768, 2)
                        .Ram(32768, 2)
                        .Ram(0, 1) // part load
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    auto r = Tick();
    ASSERT_TRUE(r.sample.valid);
    EXPECT_TRUE(r.markerShown);
    EXPECT_NEAR(editor->OperatingPointX(), c.col + c.colFraction, 0.02);
    EXPECT_NEAR(editor->OperatingPointY(), c.row, 1e-6);
    EXPECT_TRUE(marker1.visible);
    EXPECT_TRUE(marker2.visible);
    const double cx = grid.ColPos(c.col + 1) + (c.colFraction + 0.5) * grid.ColWidth(c.col + 1);
    EXPECT_NEAR(marker1.centreX, cx, 0.02 * TableEditor::COLUMN_WIDTH);
    EXPECT_DOUBLE_EQ(marker1.centreY, grid.RowPos(c.row + 1) + 0.5 * FakeGrid::kRowHeight);
    EXPECT_EQ(r.nextIntervalMs, 100);
}

INSTANTIATE_TEST_SUITE_P(Cells, Lh23MarkerTest,
                         ::testing::Values(CellCase{0, 0, 0}, CellCase{15, 15, 0}, CellCase{7, 3, 0},
                                           CellCase{4, 9, 0.5}, CellCase{12, 0, 0}));

TEST_F(TraceFixture, Lh23RecordGivesTheCaptionsOfTheFuelMonitor) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    // Wide-band 2.5 V (the default law: 0 V -> 9, 5 V -> 19) and O2 word 0x8000 (no correction)
    // on a creator-1 image; then 0xA000 = +12.5 %.
    device.records.push_back(RecordBuilder()
                                 .Ram(1, 1)
                                 .Ram(200, 1)
                                 .Ram(100, 2)
                                 .Ram(100, 1)
                                 .Item(32768, 2)
                                 .Ram(0x8000, 2)
                                 .Ram(0, 1)
                                 .Ram(0, 1)
                                 .Ram(0, 1)
                                 .bytes);
    device.records.push_back(RecordBuilder()
                                 .Ram(1, 1)
                                 .Ram(200, 1)
                                 .Ram(100, 2)
                                 .Ram(100, 1)
                                 .Item(0, 2)
                                 .Ram(0xA000, 2)
                                 .Ram(0, 1)
                                 .Ram(0, 1)
                                 .Ram(0, 1)
                                 .bytes);
    auto r = Tick();
    EXPECT_EQ(r.sample.afr, "14.00");
    EXPECT_EQ(r.sample.eqr, "1.05");
    EXPECT_EQ(r.sample.o2, "0.0 %");
    r = Tick();
    EXPECT_EQ(r.sample.afr, "9.00");
    EXPECT_EQ(r.sample.o2, "+12.5 %");
}

TEST_F(TraceFixture, RpmBeyondTheLastAxisPointStaysOnTheLastColumn) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    const auto& xs = editor->XAxisPoints();
    const bool descending = xs.front() > xs.back();
    for (int rpmByte : {0, 255}) {
        device.record = RecordBuilder()
                            .Ram(1, 1)
                            .Ram(rpmByte, 1)
                            .Ram(0, 2)
                            .Ram(0, 1)
                            .Item(0, 2)
                            .Ram(0, 2)
                            .Ram(0, 1)
                            .Ram(0, 1)
                            .Ram(0, 1)
                            .bytes;
        Tick();
        EXPECT_GE(editor->OperatingPointX(), 0.0f);
        EXPECT_LE(editor->OperatingPointX(), 15.0f);
        const bool beyondLast = descending ? rpmByte <= xs.back() : rpmByte >= xs.back();
        if (beyondLast) {
            EXPECT_FLOAT_EQ(editor->OperatingPointX(), 15.0f) << rpmByte;
        }
    }
}

TEST_F(TraceFixture, NoRecordOrAnInvalidOneHidesTheMarkerAndShowsDashes) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    const auto good = RecordBuilder()
                          .Ram(1, 1)
                          .Ram(200, 1)
                          .Ram(100, 2)
                          .Ram(100, 1)
                          .Item(32768, 2)
                          .Ram(0x8000, 2)
                          .Ram(0, 1)
                          .Ram(0, 1)
                          .Ram(0, 1)
                          .bytes;
    auto invalid = good;
    invalid[0] = 0;
    const std::vector<std::vector<std::uint8_t>> bad = {{}, invalid, {good.begin(), good.begin() + 5}};
    for (std::size_t i = 0; i < bad.size(); ++i) {
        device.record = good;
        Tick();
        ASSERT_TRUE(marker1.visible);
        device.record = bad[i];
        auto r = Tick();
        EXPECT_FALSE(r.sample.valid) << i;
        EXPECT_FALSE(marker1.visible) << i;
        EXPECT_FALSE(marker2.visible) << i;
        EXPECT_EQ(editor->OperatingPointX(), -1.0f);
        EXPECT_EQ(r.sample.afr, "-");
        EXPECT_EQ(r.sample.eqr, "-");
        EXPECT_EQ(r.sample.o2, "-");
    }
}

TEST_F(TraceFixture, AMapWithoutMarkerPartsStillGetsCaptions) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (non-cat)");
    editor->SetOperatingPointControls(nullptr, nullptr);
    ASSERT_TRUE(Configure());
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(200, 1)
                        .Ram(100, 2)
                        .Ram(100, 1)
                        .Item(32768, 2)
                        .Ram(0x8000, 2)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    auto r = Tick();
    EXPECT_FALSE(r.markerShown);
    EXPECT_FALSE(marker1.visible);
    EXPECT_EQ(r.sample.afr, "14.00");
}

// --- throttle position ---

struct ThrottleCase {
    const char* listText;
    int switchBits; // LH 2.3 switch byte
    bool shown;
};

class Lh23ThrottleTest : public TraceFixture, public ::testing::WithParamInterface<ThrottleCase> {};

TEST_P(Lh23ThrottleTest, MarkerFollowsTheRequiredThrottlePosition) {
    const ThrottleCase& c = GetParam();
    Open("MRX_D", MapTab::Fuel, c.listText);
    ASSERT_TRUE(Configure());
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(200, 1)
                        .Ram(100, 2)
                        .Ram(150, 1)
                        .Item(0, 2)
                        .Ram(0, 2)
                        .Ram(c.switchBits, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    Tick();
    EXPECT_EQ(marker1.visible, c.shown) << c.listText << " bits " << c.switchBits;
}

INSTANTIATE_TEST_SUITE_P(Maps, Lh23ThrottleTest,
                         ::testing::Values(ThrottleCase{"WOT enrichment map (cat)", 2, true},  // full load
                                           ThrottleCase{"WOT enrichment map (cat)", 0, false}, // part load
                                           ThrottleCase{"WOT enrichment map (cat)", 1, false}, // idle
                                           ThrottleCase{"WOT enrichment map (cat)", 3, false}, // both: idle
                                           ThrottleCase{"Cranking fuel map", 0, false},        // never
                                           ThrottleCase{"Cranking fuel map", 2, false},
                                           ThrottleCase{"Warmup enrichment map (cat)", 1, true}, // any
                                           ThrottleCase{"Warmup enrichment map (cat)", 2, true}));

struct MatchCase {
    int required;
    int throttle;
    int mapId;
    bool wotIgnored;
    bool shown;
};

TEST(ThrottleMatchTest, WotIgnoreMovesFullLoadFromTheWotMapsToTheCruiseMaps) {
    const MatchCase cases[] = {
        {1, 1, 17, false, true}, {1, 2, 17, false, false},  {1, 2, 17, true, true},  {1, 2, 16, true, true},
        {1, 2, 18, true, true},  {2, 2, 23, false, true},   {2, 2, 23, true, false}, {2, 2, 22, true, false},
        {2, 2, 24, true, false}, {0, 0, 20, true, true},    {0, 2, 20, true, false}, {1, 1, 17, true, true},
        {-1, 2, 25, true, true}, {-2, 0, 12, false, false}, {2, 2, 15, true, true}, // warm-up WOT map: unchanged
    };
    for (const auto& c : cases)
        EXPECT_EQ(ThrottleMatches(c.required, c.throttle, c.mapId, c.wotIgnored), c.shown)
            << c.required << "/" << c.throttle << "/" << c.mapId << "/" << c.wotIgnored;
}

// --- ignition tab ---

TEST_F(TraceFixture, EzkRecordPlacesTheMarkerShowsAdvanceAndCountsKnocks) {
    Open("EZK_D-S4", MapTab::Ignition, "Cruise map (98 octane cat)");
    device.ram[Var(7)] = 250;
    ASSERT_TRUE(Configure());
    EXPECT_EQ(trace->Knock().text, "0");
    const auto& xs = editor->XAxisPoints();
    auto record = [&](int col, int loadByte, int advance, int knock) {
        return RecordBuilder()
            .Ram(1, 1)
            .Ram(xs[static_cast<std::size_t>(col)], 2)
            .Ram(loadByte, 1)
            .Ram(120, 1)
            .Ram(advance, 1)
            .Ram(knock, 1)
            .Ram(0, 1) // part load: neither switch
            .Ram(0, 1)
            .Item(32768, 2)
            .bytes;
    };
    // Load byte 17 j is row j of the 0 .. 100 % rows.
    device.record = record(6, 17 * 9, 80, 250);
    auto r = Tick();
    ASSERT_TRUE(r.sample.valid);
    EXPECT_NEAR(editor->OperatingPointX(), 6, 1e-4);
    EXPECT_NEAR(editor->OperatingPointY(), 9, 1e-4);
    EXPECT_TRUE(marker1.visible);
    const int rpm = conv::EZK_RpmFromPeriod(xs[6]);
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.1f", static_cast<double>(conv::EZK_IgnitionAdvance(80, rpm)));
    EXPECT_EQ(r.sample.advance, std::string(expected) + " \xC2\xBA");
    EXPECT_EQ(r.knock.text, "0");
    EXPECT_FALSE(r.playKnock);

    // The counter wraps: 250 -> 3 adds 9.
    device.record = record(6, 255, 80, 3);
    r = Tick();
    EXPECT_EQ(r.knock.text, "9");
    EXPECT_TRUE(r.knock.red);
    EXPECT_TRUE(r.playKnock);
    EXPECT_NEAR(editor->OperatingPointY(), 15, 1e-4);
    for (int i = 0; i < 10; ++i) r = Tick();
    EXPECT_FALSE(r.knock.red);
    EXPECT_EQ(r.knock.text, "9");
    trace->ResetKnockCount();
    EXPECT_EQ(trace->Knock().text, "0");
}

// A knock counter that cannot be read at set-up is no baseline: the first counter of the records
// becomes it, and only knocks after that are counted.
TEST_F(TraceFixture, EzkUnreadKnockCounterCountsFromTheFirstRecord) {
    Open("EZK_D-S4", MapTab::Ignition, "Cruise map (98 octane cat)");
    device.ramFails = true;
    ASSERT_TRUE(Configure());
    EXPECT_EQ(trace->Knock().text, "0");
    const auto& xs = editor->XAxisPoints();
    auto record = [&](int knock) {
        return RecordBuilder()
            .Ram(1, 1)
            .Ram(xs[6], 2)
            .Ram(17 * 9, 1)
            .Ram(120, 1)
            .Ram(80, 1)
            .Ram(knock, 1)
            .Ram(0, 1)
            .Ram(0, 1)
            .Item(32768, 2)
            .bytes;
    };
    device.record = record(57);
    auto r = Tick();
    ASSERT_TRUE(r.sample.valid);
    EXPECT_EQ(r.knock.text, "0");
    EXPECT_FALSE(r.playKnock);
    device.record = record(59);
    r = Tick();
    EXPECT_EQ(r.knock.text, "2");
    EXPECT_TRUE(r.playKnock);
}

TEST_F(TraceFixture, EzkWarmupMapMarkerMovesByRowOnlyAndHasNoChartPoint) {
    // Without stored breakpoints the coolant reading has no column: the marker stands on the
    // row's label whatever the reading, and no edit goes to a guessed cell.
    Open("EZK_D-S4", MapTab::Ignition, "Warmup compensation map (cruise)");
    ASSERT_TRUE(Configure());
    for (int coolant : {0, 40, 120, 176, 255}) {
        device.record = RecordBuilder()
                            .Ram(1, 1)
                            .Ram(400, 2)
                            .Ram(100, 1)
                            .Ram(coolant, 1)
                            .Ram(80, 1)
                            .Ram(0, 1)
                            .Ram(0, 1) // part load: neither switch
                            .Ram(0, 1)
                            .Item(32768, 2)
                            .bytes;
        auto r = Tick();
        ASSERT_TRUE(r.sample.valid) << coolant;
        EXPECT_TRUE(r.markerShown) << coolant;
        EXPECT_TRUE(marker1.visible) << coolant;
        EXPECT_FLOAT_EQ(editor->OperatingPointX(), -1) << coolant;
        EXPECT_FLOAT_EQ(editor->OperatingPointY(), 0) << coolant;
        EXPECT_NEAR(marker1.centreX, TableEditor::COLUMN_WIDTH / 2.0, 1) << coolant;
        EXPECT_NEAR(marker1.centreY, grid.RowPos(1) + grid.RowHeight(1) / 2.0, 1) << coolant;
        std::vector<std::int32_t> before;
        for (int x = 0; x < 15; ++x) before.push_back(image->ReadMapCell(13, x, 0));
        editor->Apply(TableEditor::BOGUSKEY_INC1OP);
        for (int x = 0; x < 15; ++x) EXPECT_EQ(image->ReadMapCell(13, x, 0), before[static_cast<std::size_t>(x)]) << x;
        r = Tick(true);
        EXPECT_FALSE(r.chartX.has_value()) << coolant;
    }
}

TEST_F(TraceFixture, EzkWotIgnoreShowsTheCruiseMapAtFullLoad) {
    for (bool ignored : {false, true}) {
        Open("EZK_D-S4", MapTab::Ignition, "Cruise map (98 octane cat)");
        image->EZK_SetWOTIgnored(ignored);
        ASSERT_EQ(image->EZK_IsWOTIgnored(), ignored);
        ASSERT_TRUE(Configure());
        device.record = RecordBuilder()
                            .Ram(1, 1)
                            .Ram(editor->XAxisPoints()[3], 2)
                            .Ram(100, 1)
                            .Ram(120, 1)
                            .Ram(80, 1)
                            .Ram(0, 1)
                            .Ram(0, 1)
                            .Ram(BitMaskOf(2), 1) // full-load switch
                            .Item(0, 2)
                            .bytes;
        Tick();
        EXPECT_EQ(marker1.visible, ignored);
    }
}

struct SwitchCase {
    int a;
    int b;
    int throttle;
};

TEST_F(TraceFixture, DeviceThrottleSwitchesGiveTheThrottleState) {
    Open("MRX_LH22_USA", MapTab::Fuel, "Base fuel map");
    ASSERT_TRUE(Configure());
    const auto layout = BuildTraceLayout(MapTab::Fuel, *image);
    const SwitchCase cases[] = {{0x0000, 0xFF00, kThrottleIdle},
                                {0xFF00, 0xFF00, kThrottlePartLoad},
                                {0x8000, 0x8000, kThrottlePartLoad},
                                {0xFF00, 0x0000, kThrottleFullLoad},
                                {0x7FFF, 0x7FFF, kThrottleIdle}};
    for (const auto& c : cases) {
        const auto record = RecordBuilder()
                                .Item(1, 1)
                                .Item(30000, 3)
                                .Item(0, 3)
                                .Item(20000, 2)
                                .Item(0x6000, 2)
                                .Item(c.a, 2)
                                .Item(c.b, 2)
                                .Item(0, 2)
                                .bytes;
        const auto s = DecodeTraceRecord(MapTab::Fuel, *image, aux, false, layout, record);
        ASSERT_TRUE(s.valid);
        EXPECT_EQ(s.throttle, c.throttle) << c.a << "/" << c.b;
        EXPECT_EQ(s.coolantValue, 0x60);
        EXPECT_EQ(s.o2, "-");
        EXPECT_EQ(s.rpmValue, conv::LH_ByteFromRpm(conv::RpmFromDevicePeriodLH(30000)));
    }
}

// What live autotune takes from a fuel record besides the axis values: the transient flag (LH 2.3:
// bit variable 2 at idle; LH 2.2: no injection time), the coolant in degrees and whether the
// wide-band reading lies at an end of its law.
TEST_F(TraceFixture, FuelRecordsCarryTransientCoolantAndSensorState) {
    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    auto lh23 = [&](int throttleBits, int flag2, int wideband) {
        const auto layout = BuildTraceLayout(MapTab::Fuel, *image);
        const auto record = RecordBuilder()
                                .Ram(1, 1)
                                .Ram(200, 1)
                                .Ram(100, 2)
                                .Ram(0x30, 1)
                                .Item(wideband, 2)
                                .Ram(0x8000, 2)
                                .Ram(throttleBits, 1)
                                .Ram(0, 1)
                                .Ram(flag2, 1)
                                .bytes;
        return DecodeTraceRecord(MapTab::Fuel, *image, aux, false, layout, record);
    };
    const int mask = BitMaskOf(2);
    struct Lh23Case {
        int throttleBits;
        int flag2;
        bool transient;
    };
    for (const Lh23Case& c : {Lh23Case{1, mask, true}, Lh23Case{1, 0, false}, Lh23Case{1, 0xFF & ~mask, false},
                              Lh23Case{0, mask, false}, Lh23Case{2, mask, false}, Lh23Case{3, mask, true}}) {
        const TraceSample s = lh23(c.throttleBits, c.flag2, 30000);
        ASSERT_TRUE(s.valid);
        EXPECT_EQ(s.transient, c.transient) << c.throttleBits << " " << c.flag2;
        EXPECT_EQ(s.coolantC, conv::TempLH23Coolant(0x30));
        EXPECT_FALSE(s.afrAtLawEnd);
    }
    EXPECT_TRUE(lh23(0, 0, 0).afrAtLawEnd);
    EXPECT_TRUE(lh23(0, 0, 65535).afrAtLawEnd);

    Open("MRX_LH22_USA", MapTab::Fuel, "Base fuel map");
    const auto layout = BuildTraceLayout(MapTab::Fuel, *image);
    for (int injection : {0, 1, 5000}) {
        const auto record = RecordBuilder()
                                .Item(1, 1)
                                .Item(30000, 3)
                                .Item(injection, 3)
                                .Item(20000, 2)
                                .Item(0x6000, 2)
                                .Item(0xFF00, 2)
                                .Item(0xFF00, 2)
                                .Item(40000, 2)
                                .bytes;
        const auto s = DecodeTraceRecord(MapTab::Fuel, *image, aux, false, layout, record);
        ASSERT_TRUE(s.valid);
        EXPECT_EQ(s.transient, injection == 0) << injection;
        EXPECT_EQ(s.coolantC, conv::TempLH22Coolant(0x60));
        EXPECT_FALSE(s.afrAtLawEnd);
    }
}

TEST_F(TraceFixture, EzfRecordPlacesTheMarkerOnTheVacuumRow) {
    Open("EZF_EURO", MapTab::Ignition, "Cruise map");
    ASSERT_TRUE(Configure());
    const auto& ys = editor->YAxisPoints();
    const auto& xs = editor->XAxisPoints();
    ASSERT_EQ(ys.size(), 16u);
    // A device period that gives the EZF period word of column 5, and the vacuum reading of row 7
    // (the image's calibration byte shifts the reading; its effect is taken out by searching).
    std::int64_t period = 0;
    for (std::int64_t p = 1; p < 200000 && period == 0; ++p)
        if (conv::EZF_PeriodFromDevicePeriod(p) == xs[5]) period = p;
    ASSERT_NE(period, 0);
    const int calibration = image->ReadByte(image->GetEPROMAddress(55));
    std::int64_t vacuum = -1;
    for (std::int64_t v = 0; v < 65536 && vacuum < 0; ++v)
        if (conv::EZF_VacuumCalibrated(v, calibration) == ys[7] * 256) vacuum = v;
    ASSERT_GE(vacuum, 0);
    device.record = RecordBuilder()
                        .Item(1, 1)
                        .Item(period, 2)
                        .Item(vacuum, 2)
                        .Item(0x8000, 2)
                        .Item(0x8000, 2)
                        .Item(0xFF00, 2)
                        .Item(0xFF00, 2)
                        .bytes;
    Tick();
    EXPECT_NEAR(editor->OperatingPointX(), 5, 1e-4);
    EXPECT_NEAR(editor->OperatingPointY(), 7, 1e-4);
    EXPECT_TRUE(marker1.visible);
}

// --- chart view ---

TEST_F(TraceFixture, ChartViewMarksOneRowMapsInHeaderUnitsAndClearsTwoRowMaps) {
    Open("MRX_D", MapTab::Fuel, "Warmup enrichment map (cat)");
    ASSERT_TRUE(Configure());
    const auto& xs = editor->XAxisPoints();
    device.record = RecordBuilder()
                        .Ram(1, 1)
                        .Ram(200, 1)
                        .Ram(100, 2)
                        .Ram(xs[2], 1)
                        .Item(0, 2)
                        .Ram(0, 2)
                        .Ram(1, 1)
                        .Ram(0, 1)
                        .Ram(0, 1)
                        .bytes;
    auto r = Tick(true);
    ASSERT_TRUE(r.chartX.has_value());
    // The header of column 2 reads the same temperature.
    const std::string header = grid.TextMatrix(0, 3);
    EXPECT_EQ(std::to_string(static_cast<int>(*r.chartX)), header.substr(0, header.find(' ')));
    EXPECT_FALSE(marker1.visible);

    Open("MRX_D", MapTab::Fuel, "Base fuel map (cat)");
    ASSERT_TRUE(Configure());
    r = Tick(true);
    EXPECT_FALSE(r.chartX.has_value());
}

// A one-row map of a unit whose record comes from device items is marked on its chart at the
// value its column header shows, when the live reading is that column's axis point: the LH 2.2
// rpm from the device period, the LH 2.2 coolant and the EZF temperatures from the high byte of
// their 16-bit inputs (the low byte carries noise here and must not count).
TEST_F(TraceFixture, ChartViewOfDeviceItemUnitsIsAtTheColumnHeader) {
    enum class Reading { Lh22Rpm, Lh22Coolant, EzfCoolant, EzfAirTemp };
    struct Case {
        const char* base;
        MapTab tab;
        const char* listText;
        Reading reading;
        int switchA, switchB;
    };
    const Case cases[] = {
        {"MRX_LH22_USA", MapTab::Fuel, "WOT enrichment map", Reading::Lh22Rpm, 0xFF00, 0x0000},
        {"MRX_LH22_USA", MapTab::Fuel, "Warmup enrichment map", Reading::Lh22Coolant, 0xFF00, 0xFF00},
        {"EZF_EURO", MapTab::Ignition, "Warmup compensation map (cruise) ", Reading::EzfCoolant, 0xFF00, 0xFF00},
        {"EZF_EURO", MapTab::Ignition, "Air temperature compensation map (WOT)", Reading::EzfAirTemp, 0xFF00, 0x0000},
        {"EZF_EURO", MapTab::Ignition, "Air temperature compensation map (high load cruise)", Reading::EzfAirTemp,
         0xFF00, 0xFF00},
    };
    for (const Case& c : cases) {
        Open(c.base, c.tab, c.listText);
        ASSERT_TRUE(Configure()) << c.listText;
        const auto& xs = editor->XAxisPoints();
        for (int col : {0, editor->GetXAxisSize() / 2, editor->GetXAxisSize() - 1}) {
            const std::int32_t point = xs[static_cast<std::size_t>(col)];
            const std::int64_t sensor = point * 256 + 0x7F;
            std::int64_t period = 30000;
            if (c.reading == Reading::Lh22Rpm) {
                period = 0;
                for (std::int64_t p = 2000; p < 300000 && period == 0; ++p)
                    if (conv::LH_ByteFromRpm(conv::RpmFromDevicePeriodLH(p)) == point) period = p;
                ASSERT_NE(period, 0) << c.listText << " column " << col;
            }
            if (c.tab == MapTab::Fuel)
                device.record = RecordBuilder()
                                    .Item(1, 1)
                                    .Item(period, 3)
                                    .Item(0, 3)
                                    .Item(20000, 2)
                                    .Item(c.reading == Reading::Lh22Coolant ? sensor : 0x6000, 2)
                                    .Item(c.switchA, 2)
                                    .Item(c.switchB, 2)
                                    .Item(0, 2)
                                    .bytes;
            else
                device.record = RecordBuilder()
                                    .Item(1, 1)
                                    .Item(2000, 2)
                                    .Item(30000, 2)
                                    .Item(c.reading == Reading::EzfCoolant ? sensor : 0x6000, 2)
                                    .Item(c.reading == Reading::EzfAirTemp ? sensor : 0x6000, 2)
                                    .Item(c.switchA, 2)
                                    .Item(c.switchB, 2)
                                    .bytes;
            const auto r = Tick(true);
            ASSERT_TRUE(r.chartX.has_value()) << c.listText << " column " << col;
            const std::string header = grid.TextMatrix(0, col + 1);
            const double shown = std::stod(header.substr(0, header.find(' ')));
            if (c.reading == Reading::Lh22Rpm) // headers are rounded to two significant digits
                EXPECT_NEAR(*r.chartX, shown, 0.05 * shown + 1) << c.listText << " column " << col;
            else
                EXPECT_EQ(*r.chartX, shown) << c.listText << " column " << col;
        }
    }
}

TEST_F(TraceFixture, ChartViewOfAnRpmCurveIsNearTheColumnHeader) {
    Open("EZK_D-S4", MapTab::Ignition, "Idle map (98 octane cat)");
    ASSERT_TRUE(Configure());
    const auto& xs = editor->XAxisPoints();
    for (int col : {0, 5, 15}) {
        device.record = RecordBuilder()
                            .Ram(1, 1)
                            .Ram(xs[static_cast<std::size_t>(col)], 2)
                            .Ram(10, 1)
                            .Ram(120, 1)
                            .Ram(80, 1)
                            .Ram(0, 1)
                            .Ram(BitMaskOf(1), 1)
                            .Ram(0, 1)
                            .Item(0, 2)
                            .bytes;
        auto r = Tick(true);
        ASSERT_TRUE(r.chartX.has_value()) << col;
        const double header = std::stod(grid.TextMatrix(0, col + 1));
        // Headers are rounded to two significant digits.
        EXPECT_NEAR(*r.chartX, header, 0.05 * header + 1) << col;
    }
}

// --- trail ---

TEST(OperatingPointTrailTest, KeepsTheLastPointsFadingWithAge) {
    OperatingPointTrail trail;
    EXPECT_TRUE(trail.Behind().empty());
    trail.Push(1, 1);
    EXPECT_TRUE(trail.Behind().empty()); // the marker stands on the only point
    trail.Push(1, 1);                    // unchanged position: not kept twice
    EXPECT_EQ(trail.Size(), 1);
    for (int i = 2; i <= 20; ++i) trail.Push(i, 0);
    EXPECT_EQ(trail.Size(), OperatingPointTrail::kLength);
    const auto behind = trail.Behind();
    ASSERT_EQ(behind.size(), static_cast<std::size_t>(OperatingPointTrail::kLength - 1));
    EXPECT_EQ(behind.back().x, 19); // right behind the newest (20)
    EXPECT_EQ(behind.front().x, 20 - OperatingPointTrail::kLength + 1);
    for (std::size_t i = 1; i < behind.size(); ++i) EXPECT_GT(behind[i].opacity, behind[i - 1].opacity);
    EXPECT_GT(behind.front().opacity, 0.0);
    EXPECT_LT(behind.back().opacity, 1.0);
    trail.Clear();
    EXPECT_EQ(trail.Size(), 0);
}

// --- key mapping ---

struct KeyCase {
    MapTab tab;
    int mapId;
    bool op;
    char key;
    std::optional<EditOp> expected; // none: the key stays a typed character
};

TEST(MapKeyTest, LettersBecomeEditOperations) {
    using TE = TableEditor;
    const KeyCase cases[] = {
        {MapTab::Fuel, 1, false, 'q', TE::BOGUSKEY_INC1SEL},
        {MapTab::Fuel, 1, false, 'Q', TE::BOGUSKEY_INC1SEL},
        {MapTab::Fuel, 1, false, 'a', TE::BOGUSKEY_DEC1SEL},
        {MapTab::Fuel, 1, false, 'W', TE::BOGUSKEY_INC2SEL},
        {MapTab::Fuel, 1, false, 's', TE::BOGUSKEY_DEC2SEL},
        {MapTab::Fuel, 1, false, 'e', TE::BOGUSKEY_INCPSEL},
        {MapTab::Fuel, 1, false, 'D', TE::BOGUSKEY_DECPSEL},
        {MapTab::Fuel, 1, true, 'q', TE::BOGUSKEY_INC1OP},
        {MapTab::Fuel, 1, true, 'a', TE::BOGUSKEY_DEC1OP},
        {MapTab::Fuel, 1, true, 'w', TE::BOGUSKEY_INC2OP},
        {MapTab::Fuel, 1, true, 's', TE::BOGUSKEY_DEC2OP},
        {MapTab::Fuel, 1, true, 'e', TE::BOGUSKEY_INCPOP},
        {MapTab::Fuel, 1, true, 'd', TE::BOGUSKEY_DECPOP},
        {MapTab::Fuel, 1, false, '5', std::nullopt},
        {MapTab::Fuel, 1, false, 3, std::nullopt},
        {MapTab::Fuel, 1, false, 'x', std::nullopt},
        // ignition: swapped except on the max knock retard maps
        {MapTab::Ignition, 17, false, 'q', TE::BOGUSKEY_DEC1SEL},
        {MapTab::Ignition, 17, false, 'A', TE::BOGUSKEY_INC1SEL},
        {MapTab::Ignition, 17, false, 'w', TE::BOGUSKEY_DEC2SEL},
        {MapTab::Ignition, 17, true, 's', TE::BOGUSKEY_INC2OP},
        {MapTab::Ignition, 38, false, 'q', TE::BOGUSKEY_DEC1SEL},
        {MapTab::Ignition, 25, false, 'q', TE::BOGUSKEY_INC1SEL},
        {MapTab::Ignition, 27, true, 'a', TE::BOGUSKEY_DEC1OP},
        {MapTab::Ignition, 26, false, 'S', TE::BOGUSKEY_DEC2SEL},
        {MapTab::Ignition, 17, false, 'e', std::nullopt},
        {MapTab::Ignition, 17, false, 'D', std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MapKeyToEditOp(c.tab, c.mapId, c.op, c.key), c.expected)
            << (c.tab == MapTab::Fuel ? "fuel " : "ignition ") << c.mapId << " " << c.op << " " << int{c.key};
}

} // namespace

} // namespace kv
