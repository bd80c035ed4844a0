#include "monitor/monitor_fuel.h"

#include "auxinputs/aux_inputs.h"
#include "fakes.h"
#include "monitor_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace monitor_test;

Texts Shown(const FuelMonitorView& v) {
    auto item = [](int shown, int i) { return std::string(shown == i ? "marked" : "plain"); };
    Texts t = {
        {"lblMonitorRPM", v.rpm},
        {"sldMonitorRPM", v.rpmSlider ? std::to_string(*v.rpmSlider) : "unchanged"},
        {"lblMonitorMAF", v.maf},
        {"lblMonitorMAFpercent", v.mafPercent},
        {"MAF red", v.mafHigh ? "red" : "normal"},
        {"lblMonitorCoolant(0)", v.coolant[0]},
        {"lblMonitorCoolant(1)", v.coolant[1]},
        {"lblMonitorInjInterval", v.injMode},
        {"lblMonitorInjPW", v.injPW},
        {"lblMonitorInjDC", v.injDC},
        {"lblMonitorBatt", v.battery},
        {"lblMonitorMAFVoltage", v.mafVoltage},
        {"lblMonitorAFR", v.afr},
        {"lblMonitorEqR", v.eqr},
        {"sldMonitorAFR", v.afrSlider ? std::to_string(*v.afrSlider) : "unchanged"},
        {"IDLE", item(v.throttle, 0)},
        {"CRUISE", item(v.throttle, 1)},
        {"WOT", item(v.throttle, 2)},
        {"OPEN", v.flapOpen && *v.flapOpen ? "marked" : "plain"},
        {"CLOSED", v.flapOpen && !*v.flapOpen ? "marked" : "plain"},
        {"lblMonitorCOpot", v.coPot},
        {"lblMonitorCOpotPercent", v.coPotPercent},
        {"lblMonitorO2", v.o2},
        {"lblMonitorIdleStabilizer", v.idleStabilizer},
        {"lblMonitorO2Adapt(0)", v.o2Adapt[0]},
        {"lblMonitorO2Adapt(1)", v.o2Adapt[1]},
        {"cmdO2AdaptReset", v.o2AdaptResetEnabled ? "enabled" : "disabled"},
    };
    for (const auto& a : v.aux) t.emplace_back("lblAux " + a.caption, a.text);
    return t;
}

AuxInputs AuxWithInput2() {
    AuxInputs aux;
    aux.SetAuxEnabled(2, true);
    aux.SetAuxName(2, "MAP");
    aux.SetAuxUnit(2, "kPa");
    aux.SetAuxDecimals(2, 1);
    aux.AddAuxLawPoint(2, 0, 0);
    aux.AddAuxLawPoint(2, 5, 100);
    return aux;
}

EPROM LH23WithCoReference() {
    auto bytes = eprom_test::LH23Image();
    bytes[12357] = 128; // CO reference (parameter entry 7)
    bytes[12356] = 100; // CO factor (parameter entry 8)
    return Load(bytes);
}

TEST(FuelMonitorLayout, LH23AndLH22Records) {
    AuxInputs aux = AuxWithInput2();
    aux.SetAuxEnabled(4, true);
    EPROM lh23 = Load(eprom_test::LH23Image());
    RecordLayout l = BuildFuelMonitorLayout(lh23, aux);
    EXPECT_EQ(l.addresses, (std::vector<int>{17, 29, 72, 63303, 37, 45, 45,    39,    63292, 89, 63301,
                                             11, 41, 44, 63299, 77, 52, 63332, 63341, 6,     8}));
    EXPECT_EQ(l.sizes, (std::vector<int>{1, 3, 2, 1, 1, 1, 1, 1, 2, 1, 1, 2, 1, 1, 1, 2, 2, 3, 3, 2, 2}));
    EXPECT_EQ(l.auxInputs, (std::vector<int>{2, 4}));

    EPROM lh22 = Load(eprom_test::LH22Image());
    RecordLayout l2 = BuildFuelMonitorLayout(lh22, aux);
    EXPECT_EQ(l2.addresses, (std::vector<int>{1, 3, 12, 13, 4, 5, 11, 6, 7, 6, 8}));
    EXPECT_EQ(l2.sizes, (std::vector<int>{1, 3, 3, 1, 2, 2, 2, 2, 2, 2, 2}));
}

TEST(FuelMonitorDecode, FullLH23Record) {
    AuxInputs aux = AuxWithInput2();
    EPROM image = LH23WithCoReference();
    RecordLayout l = BuildFuelMonitorLayout(image, aux);
    auto record = MakeRecord(l, {
                                    {1},                // valid
                                    {0x00, 0x3A, 0x98}, // period 15000 -> 0.06 s per revolution
                                    {0x03, 0xE8},       // MAF 1000
                                    {128},              // coolant 2.5 V
                                    {0},
                                    {16},
                                    {0},                // gate: only flag 2 set, no gate
                                    {128},              // injection mode flag set
                                    {0x0B, 0xB8},       // pulse width 3000
                                    {200},              // battery
                                    {128},              // MAF voltage
                                    {0x00, 0x80},       // wide-band 2.5 V (device input: low byte first)
                                    {0x06},             // throttle: WOT
                                    {64},               // flap open
                                    {150},              // CO pot
                                    {0x8C, 0xCD},       // O2 36045
                                    {0x04, 0x00},       // idle stabiliser 1024
                                    {0x80, 0x80, 0x00}, // adaptation 8421376: neutral
                                    {0x9A, 0x33, 0x33}, // adaptation 10105651: +10 %
                                    {0x00, 0x80},       // aux 2: 2.5 V (device input: low byte first)
                                });
    ExpectTexts(Shown(DecodeLH23Record(l, record, image, aux, false)),
                {
                    {"lblMonitorRPM", "1000"},
                    {"sldMonitorRPM", "1000"},
                    {"lblMonitorMAF", "1000"},
                    {"lblMonitorMAFpercent", "36 %"},
                    {"MAF red", "normal"},
                    {"lblMonitorCoolant(0)", "21 \xC2\xBA"
                                             "C"},
                    {"lblMonitorCoolant(1)", "69 \xC2\xBA"
                                             "F"},
                    {"lblMonitorInjInterval", "Enhanced duty cycle"},
                    {"lblMonitorInjPW", "8.00 ms"},
                    {"lblMonitorInjDC", "13 %"},
                    {"lblMonitorBatt", "12.7 V"},
                    {"lblMonitorMAFVoltage", "3.87 V"},
                    {"lblMonitorAFR", "14.00"},
                    {"lblMonitorEqR", "1.05"},
                    {"sldMonitorAFR", "1400"},
                    {"IDLE", "plain"},
                    {"CRUISE", "plain"},
                    {"WOT", "marked"},
                    {"OPEN", "marked"},
                    {"CLOSED", "plain"},
                    {"lblMonitorCOpot", "0.12 ms"},
                    {"lblMonitorCOpotPercent", "+17.3 %"},
                    {"lblMonitorO2", "+5.0 %"},
                    {"lblMonitorIdleStabilizer", "26.7 %"},
                    {"lblMonitorO2Adapt(0)", "0.0 %"},
                    {"lblMonitorO2Adapt(1)", "+10.0 %"},
                    {"cmdO2AdaptReset", "enabled"},
                    {"lblAux MAP (aux 2)", "50.0 kPa"},
                });
}

TEST(FuelMonitorDecode, LH23FieldRules) {
    AuxInputs aux;
    EPROM image = LH23WithCoReference();
    RecordLayout l = BuildFuelMonitorLayout(image, aux);
    struct Case {
        const char* label;
        int field;
        std::vector<int> bytes;
        std::string display, expected;
    } cases[] = {
        {"period 0 reads as 0xFFFFFF", 1, {0, 0, 0}, "lblMonitorRPM", "0"},
        {"throttle 0x06 is WOT", 12, {0x06}, "WOT", "marked"},
        {"throttle 0x07 is CRUISE: only the low two bits count", 12, {0x07}, "CRUISE", "marked"},
        {"throttle 3 is CRUISE", 12, {0x03}, "CRUISE", "marked"},
        {"throttle 1 is IDLE", 12, {0x01}, "IDLE", "marked"},
        {"flap bit clear is CLOSED", 13, {0xBF}, "CLOSED", "marked"},
        {"MAF 95 % turns red", 2, {0x0A, 0x50}, "MAF red", "red"},    // 2640 / 2778
        {"MAF 94 % is normal", 2, {0x0A, 0x33}, "MAF red", "normal"}, // 2611 / 2778
        {"gate flag 1 zeroes the pulse width", 4, {4}, "lblMonitorInjPW", "0.00 ms"},
        {"injection flag clear is normal", 7, {0x7F}, "lblMonitorInjInterval", "Normal duty cycle"},
        {"CO below the reference", 14, {64}, "lblMonitorCOpotPercent", "-50.0 %"},
        {"CO at the reference", 14, {128}, "lblMonitorCOpotPercent", "0 %"},
        {"CO at the reference, ms", 14, {128}, "lblMonitorCOpot", "0.00 ms"},
        {"O2 at 0 is -50 % for creator 1", 15, {0x00, 0x00}, "lblMonitorO2", "-50.0 %"},
        {"O2 at 32768 is neutral for creator 1", 15, {0x80, 0x00}, "lblMonitorO2", "0.0 %"},
    };
    const std::vector<std::vector<int>> base = {{1}, {0, 0x3A, 0x98}, {0, 0}, {0},       {0},      {0}, {0},
                                                {0}, {0, 0},          {0},    {0},       {0, 0},   {0}, {0},
                                                {0}, {0, 0},          {0, 0}, {0, 0, 0}, {0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto fields = base;
        fields[c.field] = c.bytes;
        if (c.field == 4) fields[8] = {0x0B, 0xB8};
        Texts shown = Shown(DecodeLH23Record(l, MakeRecord(l, fields), image, aux, false));
        bool found = false;
        for (const auto& [name, text] : shown)
            if (name == c.display) {
                EXPECT_EQ(text, c.expected);
                found = true;
            }
        EXPECT_TRUE(found);
    }
}

// The CO percentage at the ends of the reference byte: a reference of 255 counts as 256 (so the
// top of the pot reads +100 %), one of 0 below the reference counts as 1.
TEST(FuelMonitorDecode, CoPotPercentAtTheEndsOfTheReference) {
    AuxInputs aux;
    struct Case {
        int reference, pot;
        const char* percent;
        const char* ms;
    } cases[] = {
        {255, 255, "+100.0 %", "0.00 ms"}, {255, 0, "-100.0 %", "-1.39 ms"}, {255, 254, "-0.4 %", "-0.01 ms"},
        {0, 0, "0 %", "0.00 ms"},          {0, 255, "+100.0 %", "1.39 ms"},  {128, 255, "+100.0 %", "0.69 ms"},
        {1, 0, "-100.0 %", "-0.01 ms"},
    };
    const std::vector<std::vector<int>> base = {{1}, {0, 0x3A, 0x98}, {0, 0}, {0},       {0},      {0}, {0},
                                                {0}, {0, 0},          {0},    {0},       {0, 0},   {0}, {0},
                                                {0}, {0, 0},          {0, 0}, {0, 0, 0}, {0, 0, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.reference) + " / " + std::to_string(c.pot));
        auto bytes = eprom_test::LH23Image();
        bytes[12357] = static_cast<std::uint8_t>(c.reference); // parameter entry 7
        bytes[12356] = 100;                                    // parameter entry 8
        EPROM image = Load(bytes);
        RecordLayout l = BuildFuelMonitorLayout(image, aux);
        auto fields = base;
        fields[14] = {c.pot};
        const FuelMonitorView v = DecodeLH23Record(l, MakeRecord(l, fields), image, aux, false);
        EXPECT_EQ(v.coPotPercent, c.percent);
        EXPECT_EQ(v.coPot, c.ms);
    }
}

TEST(FuelMonitorDecode, RamByteOrderFlagSwapsMultiByteFields) {
    AuxInputs aux;
    EPROM image = LH23WithCoReference();
    RecordLayout l = BuildFuelMonitorLayout(image, aux);
    std::vector<std::vector<int>> fields = {
        {1}, {0x98, 0x3A, 0x00}, {0xE8, 0x03}, {0}, {0}, {0},    {0},    {0},       {0, 0},   {0},
        {0}, {0x00, 0x80},       {0},          {0}, {0}, {0, 0}, {0, 0}, {0, 0, 0}, {0, 0, 0}};
    FuelMonitorView v = DecodeLH23Record(l, MakeRecord(l, fields), image, aux, true);
    EXPECT_EQ(v.rpm, "1000");
    EXPECT_EQ(v.maf, "1000");
    EXPECT_EQ(v.afr, "14.00");
}

TEST(FuelMonitorDecode, NoDataTexts) {
    AuxInputs aux = AuxWithInput2();
    const Texts noData = {
        {"lblMonitorRPM", "-"},
        {"sldMonitorRPM", "unchanged"},
        {"lblMonitorMAF", "-"},
        {"lblMonitorMAFpercent", "-"},
        {"MAF red", "normal"},
        {"lblMonitorCoolant(0)", "- \xC2\xBA"
                                 "C"},
        {"lblMonitorCoolant(1)", "- \xC2\xBA"
                                 "F"},
        {"lblMonitorInjInterval", "-"},
        {"lblMonitorInjPW", "- ms"},
        {"lblMonitorInjDC", "-"},
        {"lblMonitorBatt", "- V"},
        {"lblMonitorMAFVoltage", "- V"},
        {"lblMonitorAFR", "-"},
        {"lblMonitorEqR", "-"},
        {"sldMonitorAFR", "unchanged"},
        {"IDLE", "plain"},
        {"CRUISE", "plain"},
        {"WOT", "plain"},
        {"OPEN", "plain"},
        {"CLOSED", "plain"},
        {"lblMonitorCOpot", "- ms"},
        {"lblMonitorCOpotPercent", "-"},
        {"lblMonitorO2", "-"},
        {"lblMonitorIdleStabilizer", "-"},
        {"lblMonitorO2Adapt(0)", "-"},
        {"lblMonitorO2Adapt(1)", "-"},
        {"cmdO2AdaptReset", "disabled"},
        {"lblAux MAP (aux 2)", "-"},
    };
    EPROM lh23 = LH23WithCoReference();
    RecordLayout l = BuildFuelMonitorLayout(lh23, aux);
    std::vector<std::uint8_t> full(static_cast<std::size_t>(l.RecordSize()), 0x55);
    std::vector<std::uint8_t> zeroValidity = full;
    zeroValidity[0] = 0;
    std::vector<std::uint8_t> shortRecord(full.begin(), full.end() - 1);
    for (const auto& record : {std::vector<std::uint8_t>{}, zeroValidity, shortRecord}) {
        ExpectTexts(Shown(DecodeLH23Record(l, record, lh23, aux, false)), noData);
    }
    EXPECT_TRUE(DecodeLH23Record(l, full, lh23, aux, false).valid);

    EPROM lh22 = Load(eprom_test::LH22Image());
    RecordLayout l2 = BuildFuelMonitorLayout(lh22, aux);
    ExpectTexts(Shown(DecodeLH22Record(l2, {}, aux)), noData);
}

TEST(FuelMonitorDecode, FullLH22Record) {
    AuxInputs aux;
    EPROM image = Load(eprom_test::LH22Image());
    RecordLayout l = BuildFuelMonitorLayout(image, aux);
    auto record = MakeRecord(l, {
                                    {1},                // valid
                                    {0xE4, 0x57, 0x00}, // period 22500 counts = 0.03 s
                                    {0xB8, 0x0B, 0x00}, // injector on 3000 counts = 4 ms
                                    {3},                // enhanced
                                    {0x00, 0x80},       // MAF 2.515 V
                                    {0x00, 128},        // coolant: high byte 128
                                    {0x00, 0x80},       // wide-band 2.5 V
                                    {0xE8, 0x03},       // idle switch closed (low input)
                                    {0x60, 0xEA},       // full-load switch open
                                });
    ExpectTexts(Shown(DecodeLH22Record(l, record, aux)), {
                                                             {"lblMonitorRPM", "1000"},
                                                             {"sldMonitorRPM", "1000"},
                                                             {"lblMonitorMAF", "976"},
                                                             {"lblMonitorMAFpercent", "18 %"},
                                                             {"MAF red", "normal"},
                                                             {"lblMonitorCoolant(0)", "22 \xC2\xBA"
                                                                                      "C"},
                                                             {"lblMonitorCoolant(1)", "71 \xC2\xBA"
                                                                                      "F"},
                                                             {"lblMonitorInjInterval", "Enhanced duty cycle"},
                                                             {"lblMonitorInjPW", "4.00 ms"},
                                                             {"lblMonitorInjDC", "7 %"},
                                                             {"lblMonitorBatt", "- V"},
                                                             {"lblMonitorMAFVoltage", "4.46 V"},
                                                             {"lblMonitorAFR", "14.00"},
                                                             {"lblMonitorEqR", "1.05"},
                                                             {"sldMonitorAFR", "1400"},
                                                             {"IDLE", "marked"},
                                                             {"CRUISE", "plain"},
                                                             {"WOT", "plain"},
                                                             {"OPEN", "plain"},
                                                             {"CLOSED", "plain"},
                                                             {"lblMonitorCOpot", "- ms"},
                                                             {"lblMonitorCOpotPercent", "-"},
                                                             {"lblMonitorO2", "-"},
                                                             {"lblMonitorIdleStabilizer", "-"},
                                                             {"lblMonitorO2Adapt(0)", "-"},
                                                             {"lblMonitorO2Adapt(1)", "-"},
                                                             {"cmdO2AdaptReset", "disabled"},
                                                         });
}

TEST(FuelMonitorDecode, LH22Limits) {
    AuxInputs aux;
    EPROM image = Load(eprom_test::LH22Image());
    RecordLayout l = BuildFuelMonitorLayout(image, aux);
    struct Case {
        const char* label;
        std::vector<int> injTime;
        int mode;
        std::vector<int> idle, full;
        std::string dc, pw, injMode;
        int throttle;
    } cases[] = {
        {"duty cycle above 200 % shows 200 %",
         {0xFF, 0xFF, 0xFF},
         0,
         {0, 0xFF},
         {0, 0xFF},
         "200 %",
         "120.00 ms",
         "Normal duty cycle",
         1},
        {"mode above 4", {0, 0, 0}, 5, {0, 0x10}, {0, 0x10}, "0 %", "0.00 ms", "-", kNoItem},
        {"full-load switch only", {0, 0, 0}, 4, {0, 0xFF}, {0, 0x10}, "0 %", "0.00 ms", "Enhanced duty cycle", 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto record =
            MakeRecord(l, {{1}, {0xE4, 0x57, 0x00}, c.injTime, {c.mode}, {0, 0}, {0, 0}, {0, 0}, c.idle, c.full});
        FuelMonitorView v = DecodeLH22Record(l, record, aux);
        EXPECT_EQ(v.injDC, c.dc);
        EXPECT_EQ(v.injPW, c.pw);
        EXPECT_EQ(v.injMode, c.injMode);
        EXPECT_EQ(v.throttle, c.throttle);
    }
}

TEST(FuelMonitorTick, PollsOnlyWithIgnitionAndReArms) {
    FakeMonitorDevice dev;
    AuxInputs aux;
    FakeClock clock;
    FuelMonitor monitor(dev, aux, clock);
    EPROM lh23 = LH23WithCoReference();
    ASSERT_TRUE(monitor.Setup(lh23));
    EXPECT_EQ(dev.log, (std::vector<std::string>{"resetDebounce", "configure"}));
    EXPECT_EQ(dev.addresses, monitor.Layout().addresses);

    int next = 0;
    dev.log.clear();
    dev.ignition = false;
    EXPECT_FALSE(monitor.Tick(lh23, next).valid);
    EXPECT_EQ(dev.log, (std::vector<std::string>{"debounced"})); // no record asked for
    EXPECT_EQ(next, 100);

    dev.ignition = true;
    dev.records.push_back(std::vector<std::uint8_t>(static_cast<std::size_t>(monitor.Layout().RecordSize()), 1));
    dev.onRead = [&] { clock.now += 30; };
    EXPECT_TRUE(monitor.Tick(lh23, next).valid);
    EXPECT_EQ(next, 70);
    dev.onRead = [&] { clock.now += 500; };
    EXPECT_FALSE(monitor.Tick(lh23, next).valid); // nothing came: no data for this tick only
    EXPECT_EQ(next, 20);

    // LH 2.2 asks the plain ignition state.
    EPROM lh22 = Load(eprom_test::LH22Image());
    ASSERT_TRUE(monitor.Setup(lh22));
    dev.log.clear();
    dev.onRead = nullptr;
    monitor.Tick(lh22, next);
    EXPECT_EQ(dev.log, (std::vector<std::string>{"ignition", "read"}));

    dev.configureOk = false;
    EXPECT_FALSE(monitor.Setup(lh23));
}

} // namespace

} // namespace kv
