#include "datalog/log_decode.h"

#include "auxinputs/aux_inputs.h"
#include "datalog/log_setup.h"
#include "datalog_test_util.h"
#include "monitor/conversions.h"
#include "monitor/monitor_fuel.h"
#include "monitor/monitor_record.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace datalog_test;

struct Column {
    std::string header;
    std::string text;
};

// Prepares a run of every slot of one unit (trigger None) and decodes one record of it.
class DecodeRig {
public:
    DecodeRig(const EPROM& fuel, const EPROM& ignition, const std::vector<const char*>& commands,
              const std::vector<int>& slots, const AuxInputs& aux)
        : fuel_(fuel), ignition_(ignition), aux_(aux) {
        for (const char* command : commands) setup_.SetupLogVariables(command, ignition, aux);
        for (int s : slots) setup_.OnVariableChecked(s, true);
        setup_.SetTrigger(LogTrigger::None);
        setup_.FillRateList();
        FakeDataLogDevice device;
        EXPECT_EQ(PrepareLoggingRun(setup_, fuel, ignition, aux, device, plan_), "");
    }
    std::vector<Column> Decode(const std::vector<FieldValue>& values, int& knockPrevious, bool ramHighFirst = true) {
        LogRecordDecoder decoder(plan_, fuel_, ignition_, aux_, !ramHighFirst);
        bool play = false;
        const std::vector<std::uint8_t> record = MakeRecord(plan_, values, ramHighFirst);
        EXPECT_EQ(static_cast<int>(record.size()), plan_.recordSize);
        std::optional<int> previous = knockPrevious;
        const std::vector<std::string> cells = decoder.Decode(record, previous, setup_.Knock(), play);
        knockPrevious = previous.value_or(-1);
        EXPECT_EQ(cells.size() + 1, plan_.headers.size());
        std::vector<Column> out;
        for (std::size_t i = 0; i < cells.size(); ++i) out.push_back({plan_.headers[i + 1], cells[i]});
        return out;
    }
    const LogRunPlan& Plan() const { return plan_; }
    LogSetup& Setup() { return setup_; }

private:
    const EPROM& fuel_;
    const EPROM& ignition_;
    const AuxInputs& aux_;
    LogSetup setup_;
    LogRunPlan plan_;
};

void ExpectColumns(const std::vector<Column>& got, const std::vector<Column>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].header, expected[i].header) << "column " << i + 1;
        EXPECT_EQ(got[i].text, expected[i].text) << got[i].header;
    }
}

std::string F(double v, const char* format) { return FormatNumber(v, format); }

const std::string kThrottle = "Throttle pos (1=idle, 2=cruise, 3=WOT)";
const std::string kDegC = "\xC2\xB0"
                          "C";
const std::string kDegF = "\xC2\xB0"
                          "F";

TEST(LogDecode, LH23RecordIntoEveryColumn) {
    const EPROM fuel = Load(eprom_test::LH23Image());
    const EPROM ignition;
    const AuxInputs aux;
    std::vector<int> all;
    for (int s = kLh23First; s <= kLh23Last; ++s) all.push_back(s);
    DecodeRig rig(fuel, ignition, {"", "LH"}, all, aux);
    const int coolant = 150;
    const int c = conv::TempLH23Coolant(coolant);
    int knock = 0;
    const auto got = rig.Decode({{ch::LhMarker, 1},
                                 {ch::LhSpeed, 14999},
                                 {ch::LhMaf, 1234},
                                 {ch::LhMafVolts, 100},
                                 {ch::LhWideband, 32768},
                                 {ch::LhInjection, 3000},
                                 {ch::LhCoolant, coolant},
                                 {ch::LhThrottle, 0x42},
                                 {ch::LhBattery, 200},
                                 {ch::LhBit4, 0xFF},
                                 {ch::LhO2, 0x9000}},
                                knock);
    ExpectColumns(got, {
                           {"RPM", "1000"},
                           {"MAF signal", "1234"},
                           {"MAF signal [%]", "44"},
                           {"MAF voltage [V]", "3.60"},
                           {"A/F ratio", "14.00"},
                           {"Inj PW [ms]", "8.00"},
                           {"Inj duty cycle [%]", "13"},
                           {"Coolant temp [" + kDegC + "]", std::to_string(c)},
                           {"Coolant temp [" + kDegF + "]", std::to_string(conv::FahrenheitFromCelsius(c))},
                           {kThrottle, "3"},
                           {"Battery [V]", "12.7"},
                           {"Flappy (1=open, 0=closed)", "1"},
                           {"O2 sensor adj [%]", F(LH_O2CorrectionPercent(0x9000, fuel.GetCreator()), "0.0")},
                       });
}

TEST(LogDecode, LH23PulseWidthSpeedAndThrottleCases) {
    const EPROM fuel = Load(eprom_test::LH23Image());
    const EPROM ignition;
    const AuxInputs aux;
    DecodeRig rig(fuel, ignition, {"", "LH"}, {0, 5, 9}, aux);
    auto mask = [&](int channel) { return ChannelBitMask(LogChannelByNumber(channel), fuel, ignition); };
    struct Case {
        const char* label;
        std::int64_t period;
        int bits; // 1, 2, 3 set as flags 1, 2, 4
        int throttle;
        std::vector<std::string> texts; // RPM, Inj PW, throttle
    };
    const Case cases[] = {
        {"running", 14999, 0, 0x01, {"1000", "8.00", "1"}},
        {"a period of 0 is a standing engine", 0, 0, 0x00, {"0", "8.00", "2"}},
        {"fuel cut by bit 1", 14999, 1, 0x02, {"1000", "0.00", "3"}},
        {"bits 2 and 3 together cut", 14999, 2 | 4, 0x03, {"1000", "0.00", "0"}},
        {"bit 2 alone does not", 14999, 2, 0x40, {"1000", "8.00", "2"}},
        {"bit 3 alone does not", 14999, 4, 0x41, {"1000", "8.00", "1"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        int knock = 0;
        const auto got = rig.Decode({{ch::LhSpeed, c.period},
                                     {ch::LhInjection, 3000},
                                     {ch::LhBit1, c.bits & 1 ? mask(ch::LhBit1) : 0},
                                     {ch::LhBit2, c.bits & 2 ? mask(ch::LhBit2) : 0},
                                     {ch::LhBit3, c.bits & 4 ? mask(ch::LhBit3) : 0},
                                     {ch::LhThrottle, c.throttle}},
                                    knock);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].text, c.texts[0]);
        EXPECT_EQ(got[1].text, c.texts[1]);
        EXPECT_EQ(got[2].text, c.texts[2]);
    }
}

TEST(LogDecode, EZKRecordIntoEveryColumnWithTheKnockCounter) {
    const EPROM fuel;
    const EPROM ignition = Load(eprom_test::EZKImage(8));
    const AuxInputs aux;
    std::vector<int> all;
    for (int s = kEzkFirst; s <= kEzkLast; ++s) all.push_back(s);
    DecodeRig rig(fuel, ignition, {"", "EZK"}, all, aux);
    const int coolant = 90;
    const int c = conv::TempEZKCoolant(coolant);
    const int rpm = conv::EZK_RpmFromPeriod(4000);
    // Knock retard block: marker 0x63 unrotated, then the counts.
    std::vector<std::uint8_t> block(9, 8);
    block[0] = 0x63;
    int knock = 250; // the counter of the preceding record, also the display's baseline
    rig.Setup().Knock().state.lastKnockCounter = knock;
    const auto got = rig.Decode({{ch::IgnMarker, 1},
                                 {ch::EzkSpeed, 4000},
                                 {ch::EzkAdvance, 60},
                                 {ch::EzkLoad, 128},
                                 {ch::EzkKnock, 3},
                                 {ch::EzkWideband, 0},
                                 {ch::EzkCoolant, coolant},
                                 {ch::EzkBit1, 0},
                                 {ch::EzkBit2, 0xFF},
                                 {ch::EzkKnockRetard, 0, block}},
                                knock);
    std::vector<Column> expected = {
        {"RPM", "667"},
        {"Ign adv [\xC2\xB0]", F(conv::EZK_IgnitionAdvance(60, rpm), "0.0")},
        {"Load [%]", "50"},
        {"Knock count", "9"}, // 250 -> 3 wraps: 9 knocks
        {"A/F ratio", "9.00"},
        {"Coolant temp [" + kDegC + "]", std::to_string(c)},
        {"Coolant temp [" + kDegF + "]", std::to_string(conv::FahrenheitFromCelsius(c))},
        {kThrottle, "3"},
    };
    for (int k = 1; k <= 8; ++k) expected.push_back({"KR" + std::to_string(k), "3.0"});
    ExpectColumns(got, expected);
    EXPECT_EQ(rpm, 667);
    EXPECT_EQ(knock, 3);
    EXPECT_EQ(rig.Setup().Knock().label.text, "9");
    EXPECT_TRUE(rig.Setup().Knock().label.red);
}

TEST(LogDecode, EZKThrottleFromItsTwoBits) {
    const EPROM fuel;
    const EPROM ignition = Load(eprom_test::EZKImage(8));
    const AuxInputs aux;
    DecodeRig rig(fuel, ignition, {"", "EZK"}, {30}, aux);
    const std::pair<int, std::string> cases[] = {{0, "2"}, {1, "1"}, {2, "3"}, {3, "0"}};
    for (const auto& [bits, text] : cases) {
        int knock = 0;
        const auto got = rig.Decode({{ch::EzkBit1, bits & 1 ? 0xFF : 0}, {ch::EzkBit2, bits & 2 ? 0xFF : 0}}, knock);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].text, text) << bits;
    }
}

TEST(LogDecode, LH22RecordIntoEveryColumn) {
    const EPROM fuel = Load(eprom_test::LH22Image());
    const EPROM ignition;
    const AuxInputs aux;
    std::vector<int> all;
    for (int s = kLh22First; s <= kLh22Last; ++s) all.push_back(s);
    DecodeRig rig(fuel, ignition, {"", "LH22"}, all, aux);
    const std::int64_t period = 11250, maf = 30000, injection = 6000;
    const double cycle = 2.0 * conv::DevicePeriodSeconds(period);
    const int load = conv::LH22_MafLoad(maf, period);
    const double pwMs = conv::DevicePeriodSeconds(injection) * 1000.0;
    const int c = conv::TempLH22Coolant(0x9A);
    int knock = 0;
    const auto got = rig.Decode({{ch::Lh22Speed, period},
                                 {ch::Lh22Maf, maf},
                                 {ch::Lh22Wideband, 65535},
                                 {ch::Lh22Injection, injection},
                                 {ch::Lh22Coolant, 0x9A11},
                                 {ch::Lh22SwitchA, 0x1000},  // idle closed
                                 {ch::Lh22SwitchB, 0xF000}}, // full load open
                                knock);
    ExpectColumns(got, {
                           {"RPM", std::to_string(conv::RpmFromDevicePeriodLH(period))},
                           {"MAF signal", std::to_string(load)},
                           {"MAF signal [%]", F(conv::DutyCycleFromTicksHalf(load, cycle) * 100.0, "0")},
                           {"MAF voltage [V]", F(conv::LH22_MafSignal(maf), "0.00")},
                           {"A/F ratio", "19.00"},
                           {"Inj PW [ms]", "8.00"},
                           {"Inj duty cycle [%]", F(pwMs / 1000.0 / cycle * 100.0, "0")},
                           {"Coolant temp [" + kDegC + "]", std::to_string(c)},
                           {"Coolant temp [" + kDegF + "]", std::to_string(conv::FahrenheitFromCelsius(c))},
                           {kThrottle, "1"},
                       });
    EXPECT_EQ(conv::RpmFromDevicePeriodLH(period), 2000);
}

TEST(LogDecode, SwitchThrottleOfLH22AndEZF) {
    const AuxInputs aux;
    const EPROM lh22 = Load(eprom_test::LH22Image());
    const EPROM ezf = Load(eprom_test::EZFImage());
    DecodeRig rig(lh22, ezf, {"", "LH22", "EZF"}, {22, 40}, aux);
    struct Case {
        int a, b; // second bytes of switch A and B
        const char* text;
    };
    const Case cases[] = {{0x7F, 0x80, "1"}, {0x80, 0x80, "2"}, {0x80, 0x7F, "3"}, {0x00, 0x00, "0"}};
    for (const Case& c : cases) {
        int knock = 0;
        const auto got = rig.Decode({{ch::Lh22SwitchA, c.a << 8},
                                     {ch::Lh22SwitchB, c.b << 8},
                                     {ch::EzfSwitchA, c.a << 8},
                                     {ch::EzfSwitchB, c.b << 8}},
                                    knock);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].text, c.text) << c.a << " " << c.b;
        EXPECT_EQ(got[1].text, c.text) << c.a << " " << c.b;
    }
}

TEST(LogDecode, EZFRecordIntoEveryColumnWithAux) {
    const EPROM fuel;
    const EPROM ignition = Load(eprom_test::EZFImage());
    AuxInputs aux;
    aux.SetAuxEnabled(2, true);
    aux.SetAuxName(2, "Boost");
    aux.SetAuxDecimals(2, 1);
    aux.AddAuxLawPoint(2, 0.0, 0.0);
    aux.AddAuxLawPoint(2, 5.0, 50.0);
    std::vector<int> all;
    for (int s = kEzfFirst; s <= kEzfLast; ++s) all.push_back(s);
    all.push_back(42);
    DecodeRig rig(fuel, ignition, {"", "EZF"}, all, aux);
    const std::int64_t period = 1800, delay = 2500, vacuum = 20000;
    const int calibration = ignition.ReadByte(ignition.GetEPROMAddress(55));
    const int c = conv::TempEZFCoolant(0x70), air = conv::TempEZFAirTemp(0xA0);
    int knock = 0;
    const auto got = rig.Decode({{ch::EzfSpeed, period | (delay << 16)},
                                 {ch::EzfVacuum, vacuum},
                                 {ch::EzfWideband, 32768},
                                 {ch::EzfCoolant, 0x7001},
                                 {ch::EzfAirTemp, 0xA0FF},
                                 {ch::EzfSwitchA, 0xFFFF},
                                 {ch::EzfSwitchB, 0x0000},
                                 {ch::Aux1 + 1, 13107}}, // 1 V
                                knock);
    ExpectColumns(got,
                  {
                      {"RPM", std::to_string(conv::RpmFromDevicePeriodEZF(period))},
                      {"Ign adv [\xC2\xB0]", F(conv::IgnitionAdvanceFromTiming(period, delay), "0.0")},
                      {"Vacuum [inHg]", F(conv::VacuumFromRaw(conv::EZF_VacuumCalibrated(vacuum, calibration)), "0.0")},
                      {"A/F ratio", "14.00"},
                      {"Coolant temp [" + kDegC + "]", std::to_string(c)},
                      {"Coolant temp [" + kDegF + "]", std::to_string(conv::FahrenheitFromCelsius(c))},
                      {"Air temp [" + kDegC + "]", std::to_string(air)},
                      {"Air temp [" + kDegF + "]", std::to_string(conv::FahrenheitFromCelsius(air))},
                      {kThrottle, "3"},
                      {"Boost (aux 2)", "10.0"},
                  });
}

// Every column rounds its decimal value half up, aux columns too.
TEST(LogDecode, RoundingOfTiesAndLoadSteps) {
    const EPROM fuel;
    const EPROM ignition = Load(eprom_test::EZKImage(8));
    AuxInputs aux;
    aux.SetAuxEnabled(1, true);
    aux.SetAuxName(1, "Temp");
    aux.SetAuxDecimals(1, 3);
    // Raw 0 -> -34.0875 exactly as a decimal; as a binary double it lies just below.
    aux.AddAuxLawPoint(1, 0.0, -34.0875);
    aux.AddAuxLawPoint(1, 5.0, 65.9125);
    DecodeRig rig(fuel, ignition, {"", "EZK"}, {25, 41}, aux);
    struct Case {
        int load;
        const char* loadText;
    };
    for (const Case& c : {Case{129, "51"}, Case{128, "50"}, Case{255, "100"}, Case{0, "0"}}) {
        int knock = 0;
        const auto got = rig.Decode({{ch::EzkLoad, c.load}, {ch::Aux1, 0}}, knock);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].text, c.loadText) << c.load;
        EXPECT_EQ(got[1].text, "-34.088");
    }
}

// A record is in range when every value could be measured on a running engine.
TEST(LogDecode, PhysicalRanges) {
    const EPROM fuel = Load(eprom_test::LH23Image());
    const EPROM ignition = Load(eprom_test::EZKImage(8));
    const AuxInputs aux;
    DecodeRig rig(fuel, ignition, {"", "LH", "EZK"}, {0, 6, 26}, aux); // rate 10: 67 knocks at most
    struct Case {
        const char* label;
        std::int64_t period;    // LH revolution period, 4 us counts
        std::int64_t injection; // 2.67 us counts
        int knockCounter;       // after a baseline of 0
        bool inRange;
    };
    const Case cases[] = {
        {"idle", 20000, 3000, 0, true},
        {"a standing engine", 0, 0, 0, true},
        {"10000 rpm", 1500, 500, 0, true},
        {"above 10000 rpm", 1499, 500, 0, false},
        {"100 rpm", 150000, 0, 0, true},
        {"below 100 rpm", 150001, 0, 0, false},
        {"injector open the whole revolution", 20000, 29999, 0, true},
        {"injector open longer than the revolution", 20000, 30100, 0, false},
        {"67 knocks in a tenth of a second", 20000, 3000, 67, true},
        {"68 knocks in a tenth of a second", 20000, 3000, 68, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const LogRunPlan& plan = rig.Plan();
        LogRecordDecoder decoder(plan, fuel, ignition, aux, true);
        const auto record =
            MakeRecord(plan, {{ch::LhSpeed, c.period}, {ch::LhInjection, c.injection}, {ch::EzkKnock, c.knockCounter}});
        std::optional<int> knock = 0;
        bool play = false;
        decoder.Decode(record, knock, rig.Setup().Knock(), play);
        EXPECT_EQ(decoder.InRange(), c.inRange);
    }
}

} // namespace

} // namespace kv
