#include "monitor/monitor_ignition.h"

#include "auxinputs/aux_inputs.h"
#include "fakes.h"
#include "monitor_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace monitor_test;

Texts Shown(const IgnitionMonitorView& v) {
    auto item = [](int shown, int i) { return std::string(shown == i ? "marked" : "plain"); };
    auto fault = [](const std::optional<bool>& f) { return std::string(!f ? "plain" : *f ? "red" : "green"); };
    Texts t = {
        {"lblMonitorEZKRPM", v.rpm},
        {"sldMonitorEZKRPM", v.rpmSlider ? std::to_string(*v.rpmSlider) : "unchanged"},
        {"lblMonitorEZKIgnAdv", v.advance},
        {"lblMonitorEZKLoad", v.load},
        {"98 OCTANE NON-CAT", item(v.coding, 0)},
        {"98 OCTANE CAT", item(v.coding, 1)},
        {"91 OCTANE", item(v.coding, 2)},
        {"IDLE", item(v.throttle, 0)},
        {"CRUISE", item(v.throttle, 1)},
        {"WOT", item(v.throttle, 2)},
        {"lblMonitorEZKCoolantC", v.coolantC},
        {"lblMonitorEZKCoolantF", v.coolantF},
        {"lblMonitorEZFAirTempC", v.airTempC},
        {"lblMonitorEZFAirTempF", v.airTempF},
        {"AUTO", item(v.transmission, 0)},
        {"MANUAL", item(v.transmission, 1)},
        {"P / N", item(v.gearSelector, 0)},
        {"D / 2 / 3", item(v.gearSelector, 1)},
        {"lblMonitorEZKBatt", v.battery},
        {"lblFaultEZKDescription", v.faultCaptions ? "shown" : "cleared"},
        {"lblMonitorEZKAFR", v.afr},
        {"lblMonitorEZKEqR", v.eqr},
        {"lblMonitorEZKRevWarning", v.revisionWarning},
    };
    for (int c = 0; c < kCylinders; ++c) t.emplace_back("KR" + std::to_string(c + 1), v.knockRetard[c]);
    for (int i = 0; i < kEzkFaults; ++i) t.emplace_back(kEzkFaultTexts[i], fault(v.faults[i]));
    for (const auto& a : v.aux) t.emplace_back("lblAuxEZK " + a.caption, a.text);
    return t;
}

TEST(KnockCount, CountsWrapsCapsAndHoldsRed) {
    struct Step {
        const char* label;
        int counter;
        std::string text;
        bool red, sound;
        int last;
    };
    const Step steps[] = {
        {"first knocks", 252, "2", true, true, 252},
        {"wrap through 256 adds 6", 2, "8", true, true, 2},
        {"difference of exactly 255 adds nothing", 1, "8", true, false, 2},
        {"no data", -1, "8", true, false, 2},
        {"same counter", 2, "8", true, false, 2},
    };
    KnockCountState state;
    KnockLabel label;
    ResetKnockCount(state, label, 250);
    for (const auto& s : steps) {
        SCOPED_TRACE(s.label);
        EXPECT_EQ(UpdateKnockCount(state, label, s.counter), s.sound);
        EXPECT_EQ(label.text, s.text);
        EXPECT_EQ(label.red, s.red);
        EXPECT_EQ(state.lastKnockCounter, s.last);
    }
}

TEST(KnockCount, WrapFrom250To3AddsNine) {
    KnockCountState state;
    KnockLabel label;
    ResetKnockCount(state, label, 250);
    EXPECT_TRUE(UpdateKnockCount(state, label, 3));
    EXPECT_EQ(label.text, "9");
}

TEST(KnockCount, RedForTenTicksThenBlack) {
    KnockCountState state;
    KnockLabel label;
    ResetKnockCount(state, label, 0);
    ASSERT_TRUE(UpdateKnockCount(state, label, 1));
    for (int tick = 1; tick <= 9; ++tick) {
        UpdateKnockCount(state, label, 1);
        EXPECT_TRUE(label.red) << tick;
    }
    UpdateKnockCount(state, label, 1);
    EXPECT_FALSE(label.red);
    UpdateKnockCount(state, label, 1);
    EXPECT_FALSE(label.red);
}

TEST(KnockCount, CapAndReset) {
    KnockCountState state;
    KnockLabel label{"9995", false};
    state.lastKnockCounter = 0;
    EXPECT_TRUE(UpdateKnockCount(state, label, 10));
    EXPECT_EQ(label.text, "9999");
    ResetKnockCount(state, label, -1); // the button: baseline kept
    EXPECT_EQ(label.text, "0");
    EXPECT_FALSE(label.red);
    EXPECT_EQ(state.lastKnockCounter, 10);
    EXPECT_EQ(state.redHold, 0);
    KnockLabel dash{"-", false}; // a label showing no number counts from 0
    EXPECT_TRUE(UpdateKnockCount(state, dash, 12));
    EXPECT_EQ(dash.text, "2");
}

TEST(KnockRetard, RotationAndFailureCases) {
    using Counts = std::array<int, kCylinders>;
    struct Case {
        const char* label;
        std::vector<std::uint8_t> block;
        Counts expected;
    } cases[] = {
        {"marker already 0x63", {0x63, 1, 2, 3, 4, 5, 6, 7, 8}, {7, 4, 6, 1, 2, 3, 5, 8}},
        {"two rotations", {0x8D, 1, 2, 3, 4, 5, 6, 7, 8}, {1, 6, 8, 3, 4, 5, 7, 2}},
        {"255 reads as 0", {0x63, 255, 2, 3, 4, 5, 6, 255, 8}, {0, 4, 6, 0, 2, 3, 5, 8}},
        {"marker 0", {0, 1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {"marker never reaches 0x63", {0x01, 1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {"marker 0xFF", {0xFF, 1, 2, 3, 4, 5, 6, 7, 8}, {}},
        {"short block", {0x63, 1, 2, 3}, {}},
    };
    for (const auto& c : cases) EXPECT_EQ(EZK_DecodeKnockRetard(c.block), c.expected) << c.label;
}

TEST(IgnitionMonitorLayout, EZKByRevisionAndEZF) {
    AuxInputs aux;
    aux.SetAuxEnabled(1, true);
    EPROM ezk = Load(eprom_test::EZKImage(8));
    RecordLayout l = BuildIgnitionMonitorLayout(ezk, aux);
    EXPECT_EQ(l.addresses, (std::vector<int>{18, 106, 84, 123, 65, 34, 34, 57, 134, 11, 32,
                                             34, 56,  2,  38,  38, 37, 37, 37, 37,  34, 5}));
    EXPECT_EQ(l.sizes, (std::vector<int>{1, 2, 1, 1, 1, 1, 1, 1, 1, 2, 1, 1, 1, 9, 1, 1, 1, 1, 1, 1, 1, 2}));
    EPROM old = Load(eprom_test::EZKImage(1));
    RecordLayout lo = BuildIgnitionMonitorLayout(old, aux);
    EXPECT_EQ(lo.addresses[13], 127);
    EXPECT_EQ(lo.sizes[13], 1);
    EPROM ezf = Load(eprom_test::EZFImage());
    RecordLayout lf = BuildIgnitionMonitorLayout(ezf, aux);
    EXPECT_EQ(lf.addresses, (std::vector<int>{1, 15, 9, 6, 7, 5, 8, 11, 5}));
    EXPECT_EQ(lf.sizes, (std::vector<int>{1, 5, 2, 2, 2, 2, 2, 2, 2}));
}

TEST(IgnitionMonitorDecode, FullEZKRecord) {
    AuxInputs aux;
    aux.SetAuxEnabled(4, true);
    aux.SetAuxName(4, "EGT");
    aux.AddAuxLawPoint(4, 0, 0);
    aux.AddAuxLawPoint(4, 5, 1000);
    aux.SetAuxUnit(4, "\xC2\xB0"
                      "C");
    EPROM image = Load(eprom_test::EZKImage(8));
    RecordLayout l = BuildIgnitionMonitorLayout(image, aux);
    auto record = MakeRecord(l, {
                                    {1},          // valid
                                    {0x03, 0xE8}, // period word 1000
                                    {80},         // advance byte
                                    {128},        // load
                                    {4},          // coding: 98 octane cat
                                    {4},
                                    {0xFD},       // idle flag set, full-load flag clear
                                    {128},        // coolant
                                    {5},          // knock counter
                                    {0x00, 0x80}, // wide-band 2.5 V (device input: low byte first)
                                    {1},          // automatic
                                    {16},         // selector in D
                                    {200},        // battery
                                    {0x8D, 4, 8, 12, 255, 16, 20, 24, 28}, // knock retard block
                                    {4},
                                    {0},
                                    {0},
                                    {0},
                                    {0},
                                    {0},
                                    {64},         // faults 0 and 6 set
                                    {0x00, 0x40}, // aux 4: 1.25 V (device input: low byte first)
                                });
    int counter = -1;
    ExpectTexts(Shown(DecodeEZKRecord(l, record, image, aux, false, counter)),
                {
                    {"lblMonitorEZKRPM", "2667"},
                    {"sldMonitorEZKRPM", "2667"},
                    {"lblMonitorEZKIgnAdv", "28.6 \xC2\xBA"},
                    {"lblMonitorEZKLoad", "50 %"},
                    {"98 OCTANE NON-CAT", "plain"},
                    {"98 OCTANE CAT", "marked"},
                    {"91 OCTANE", "plain"},
                    {"IDLE", "marked"},
                    {"CRUISE", "plain"},
                    {"WOT", "plain"},
                    {"lblMonitorEZKCoolantC", "3 \xC2\xBA"
                                              "C"},
                    {"lblMonitorEZKCoolantF", "37 \xC2\xBA"
                                              "F"},
                    {"lblMonitorEZFAirTempC", "-"},
                    {"lblMonitorEZFAirTempF", "-"},
                    {"AUTO", "marked"},
                    {"MANUAL", "plain"},
                    {"P / N", "plain"},
                    {"D / 2 / 3", "marked"},
                    {"lblMonitorEZKBatt", "14.6 V"},
                    {"lblFaultEZKDescription", "shown"},
                    {"lblMonitorEZKAFR", "14.00"},
                    {"lblMonitorEZKEqR", "1.05"},
                    {"lblMonitorEZKRevWarning", ""},
                    {"KR1", "1.5 \xC2\xBA"},
                    {"KR2", "7.5 \xC2\xBA"},
                    {"KR3", "10.5 \xC2\xBA"},
                    {"KR4", "4.5 \xC2\xBA"},
                    {"KR5", "0.0 \xC2\xBA"},
                    {"KR6", "6.0 \xC2\xBA"},
                    {"KR7", "9.0 \xC2\xBA"},
                    {"KR8", "3.0 \xC2\xBA"},
                    {kEzkFaultTexts[0], "red"},
                    {kEzkFaultTexts[1], "green"},
                    {kEzkFaultTexts[2], "green"},
                    {kEzkFaultTexts[3], "green"},
                    {kEzkFaultTexts[4], "green"},
                    {kEzkFaultTexts[5], "green"},
                    {kEzkFaultTexts[6], "red"},
                    {"lblAuxEZK EGT (aux 4)", "250 \xC2\xB0"
                                              "C"},
                });
    EXPECT_EQ(counter, 5);
}

TEST(IgnitionMonitorDecode, EZKSwitchRules) {
    AuxInputs aux;
    EPROM image = Load(eprom_test::EZKImage(8));
    RecordLayout l = BuildIgnitionMonitorLayout(image, aux);
    struct Case {
        const char* label;
        int idle, full, coding, gearbox, selector;
        int throttle, expectedCoding, transmission, gear;
    } cases[] = {
        {"both throttle flags clear: cruise", 0, 0, 0, 0, 16, 1, 0, 1, kNoItem},
        {"full-load only: WOT", 0, 2, 8, 1, 0, 2, 2, 0, 0},
        {"both set: none", 4, 2, 3, 1, 16, kNoItem, kNoItem, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto record =
            MakeRecord(l, {{1}, {0, 0}, {0},    {0},         {c.coding},   {c.idle}, {c.full},
                           {0}, {0},    {0, 0}, {c.gearbox}, {c.selector}, {0},      {0, 0, 0, 0, 0, 0, 0, 0, 0},
                           {0}, {0},    {0},    {0},         {0},          {0},      {0}});
        int counter = 0;
        IgnitionMonitorView v = DecodeEZKRecord(l, record, image, aux, false, counter);
        EXPECT_EQ(v.throttle, c.throttle);
        EXPECT_EQ(v.coding, c.expectedCoding);
        EXPECT_EQ(v.transmission, c.transmission);
        EXPECT_EQ(v.gearSelector, c.gear);
        EXPECT_EQ(v.rpm, "0");
        EXPECT_EQ(v.knockRetard[0], "0.0 \xC2\xBA"); // marker 0: all zero
    }
}

TEST(IgnitionMonitorDecode, OldRevisionWarnsAndShowsNoRetard) {
    AuxInputs aux;
    EPROM image = Load(eprom_test::EZKImage(1));
    RecordLayout l = BuildIgnitionMonitorLayout(image, aux);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(l.RecordSize()), 0x63);
    int counter = 0;
    IgnitionMonitorView v = DecodeEZKRecord(l, record, image, aux, false, counter);
    EXPECT_TRUE(v.valid);
    EXPECT_EQ(v.revisionWarning, kEzkRevisionWarning);
    for (const auto& kr : v.knockRetard) EXPECT_EQ(kr, "-");
}

TEST(IgnitionMonitorDecode, NoDataTexts) {
    AuxInputs aux;
    aux.SetAuxEnabled(3, true);
    EPROM image = Load(eprom_test::EZKImage(8));
    RecordLayout l = BuildIgnitionMonitorLayout(image, aux);
    std::vector<std::uint8_t> zeroValidity(static_cast<std::size_t>(l.RecordSize()), 0x40);
    zeroValidity[0] = 0;
    for (const auto& record : {std::vector<std::uint8_t>{}, zeroValidity,
                               std::vector<std::uint8_t>(static_cast<std::size_t>(l.RecordSize() - 1), 1)}) {
        int counter = 0;
        IgnitionMonitorView v = DecodeEZKRecord(l, record, image, aux, false, counter);
        EXPECT_EQ(counter, -1); // no knock counted from a missing record
        Texts shown = Shown(v);
        for (const auto& [name, text] : shown) {
            if (name == "lblMonitorEZKRevWarning") continue;
            const bool noData = text == "-" || text == "- V" ||
                                text == "- \xC2\xBA"
                                        "C" ||
                                text == "- \xC2\xBA"
                                        "F" ||
                                text == "plain" || text == "unchanged" || text == "shown";
            EXPECT_TRUE(noData) << name << " shows " << text;
        }
    }
}

TEST(IgnitionMonitorDecode, FullEZFRecord) {
    AuxInputs aux;
    auto bytes = eprom_test::EZFImage();
    bytes[2040] = 0; // vacuum calibration
    EPROM image = Load(bytes);
    RecordLayout l = BuildIgnitionMonitorLayout(image, aux);
    auto record = MakeRecord(l, {
                                    {1},                            // valid
                                    {0x60, 0x09, 0xB8, 0x0B, 0x00}, // period 2400 counts, spark delay 3000 counts
                                    {0x33, 0x33},                   // vacuum 1 V
                                    {0x60, 0xEA},                   // idle switch open
                                    {0xE8, 0x03},                   // full-load switch closed
                                    {0x00, 128},                    // coolant
                                    {0x00, 128},                    // air temperature
                                    {0x00, 0x80},                   // wide-band 2.5 V
                                });
    ExpectTexts(Shown(DecodeEZFRecord(l, record, image, aux)), {
                                                                   {"lblMonitorEZKRPM", "1500"},
                                                                   {"sldMonitorEZKRPM", "1500"},
                                                                   {"lblMonitorEZKIgnAdv", "32.4 \xC2\xBA"},
                                                                   {"lblMonitorEZKLoad", "20.6 inHg"},
                                                                   {"98 OCTANE NON-CAT", "plain"},
                                                                   {"98 OCTANE CAT", "plain"},
                                                                   {"91 OCTANE", "plain"},
                                                                   {"IDLE", "plain"},
                                                                   {"CRUISE", "plain"},
                                                                   {"WOT", "marked"},
                                                                   {"lblMonitorEZKCoolantC", "20 \xC2\xBA"
                                                                                             "C"},
                                                                   {"lblMonitorEZKCoolantF", "68 \xC2\xBA"
                                                                                             "F"},
                                                                   {"lblMonitorEZFAirTempC", "22 \xC2\xBA"
                                                                                             "C"},
                                                                   {"lblMonitorEZFAirTempF", "71 \xC2\xBA"
                                                                                             "F"},
                                                                   {"AUTO", "plain"},
                                                                   {"MANUAL", "plain"},
                                                                   {"P / N", "plain"},
                                                                   {"D / 2 / 3", "plain"},
                                                                   {"lblMonitorEZKBatt", "- V"},
                                                                   {"lblFaultEZKDescription", "cleared"},
                                                                   {"lblMonitorEZKAFR", "14.00"},
                                                                   {"lblMonitorEZKEqR", "1.05"},
                                                                   {"lblMonitorEZKRevWarning", ""},
                                                                   {"KR1", "-"},
                                                                   {"KR2", "-"},
                                                                   {"KR3", "-"},
                                                                   {"KR4", "-"},
                                                                   {"KR5", "-"},
                                                                   {"KR6", "-"},
                                                                   {"KR7", "-"},
                                                                   {"KR8", "-"},
                                                                   {kEzkFaultTexts[0], "plain"},
                                                                   {kEzkFaultTexts[1], "plain"},
                                                                   {kEzkFaultTexts[2], "plain"},
                                                                   {kEzkFaultTexts[3], "plain"},
                                                                   {kEzkFaultTexts[4], "plain"},
                                                                   {kEzkFaultTexts[5], "plain"},
                                                                   {kEzkFaultTexts[6], "plain"},
                                                               });
}

// A knock counter that cannot be read when the tab opens is no baseline: the first counter the
// records bring becomes it, and only knocks after that are counted.
TEST(IgnitionMonitorTick, UnreadCounterAtSetupCountsFromTheFirstRecord) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    KnockCountState knock;
    IgnitionMonitor monitor(dev, aux, clock, knock);
    EPROM ezk = Load(eprom_test::EZKImage(8));
    dev.ramValue = std::nullopt;
    ASSERT_TRUE(monitor.Setup(ezk));
    EXPECT_EQ(monitor.Label().text, "0");

    auto record = [&](int counter) {
        std::vector<std::uint8_t> r(static_cast<std::size_t>(monitor.Layout().RecordSize()), 0);
        r[0] = 1;
        r[1 + 2 + 1 + 1 + 1 + 1 + 1 + 1] = static_cast<std::uint8_t>(counter); // field 8
        return r;
    };
    int next = 0;
    bool play = false;
    dev.records = {record(57), record(59)};
    monitor.Tick(ezk, next, play);
    EXPECT_FALSE(play);
    EXPECT_EQ(monitor.Label().text, "0");
    monitor.Tick(ezk, next, play);
    EXPECT_TRUE(play);
    EXPECT_EQ(monitor.Label().text, "2");
}

TEST(IgnitionMonitorTick, SetupBaselineKnocksAndSound) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    KnockCountState knock;
    IgnitionMonitor monitor(dev, aux, clock, knock);
    EPROM ezk = Load(eprom_test::EZKImage(8));
    dev.ramValue = 40; // knocks before the tab opened are not counted
    ASSERT_TRUE(monitor.Setup(ezk));
    EXPECT_EQ(dev.log, (std::vector<std::string>{"ram 2 134 1", "resetDebounce", "configure"}));
    EXPECT_EQ(knock.lastKnockCounter, 40);

    auto record = [&](int counter) {
        std::vector<std::uint8_t> r(static_cast<std::size_t>(monitor.Layout().RecordSize()), 0);
        r[0] = 1;
        r[1 + 2 + 1 + 1 + 1 + 1 + 1 + 1] = static_cast<std::uint8_t>(counter); // field 8
        return r;
    };
    int next = 0;
    bool play = false;
    dev.records = {record(43), record(43)};
    monitor.Tick(ezk, next, play);
    EXPECT_TRUE(play);
    EXPECT_EQ(monitor.Label().text, "3");
    EXPECT_TRUE(monitor.Label().red);
    monitor.Tick(ezk, next, play);
    EXPECT_FALSE(play);
    dev.ignition = false; // no data: the total stays
    monitor.Tick(ezk, next, play);
    EXPECT_FALSE(play);
    EXPECT_EQ(monitor.Label().text, "3");
    monitor.ResetCount();
    EXPECT_EQ(monitor.Label().text, "0");
    EXPECT_EQ(knock.lastKnockCounter, 43);
    EXPECT_EQ(next, 100);

    EPROM ezf = Load(eprom_test::EZFImage());
    dev.log.clear();
    ASSERT_TRUE(monitor.Setup(ezf));
    EXPECT_EQ(dev.log, (std::vector<std::string>{"resetDebounce", "configure"}));
    monitor.Tick(ezf, next, play);
    EXPECT_EQ(monitor.Label().text, "-");
}

} // namespace

} // namespace kv
