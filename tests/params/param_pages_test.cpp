// The parameter pages without their windows: what each change event shows and which bytes it
// writes, the page load, and the rules between settings.
#include "auxinputs/aux_inputs.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "fakes.h"
#include "monitor/conversions.h"
#include "params/param_page.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <vector>

using namespace kv;

namespace {

struct Loaded {
    EpromContext context;
    std::unique_ptr<EPROM> image;
    std::unique_ptr<ParamPage> page;
};

std::unique_ptr<Loaded> Open(const std::string& base, ParamServices services = {}) {
    auto l = std::make_unique<Loaded>();
    l->image = std::make_unique<EPROM>(l->context);
    EXPECT_EQ(LoadBaseImage(base, *l->image), "");
    l->context.wordBigEndian = l->image->GetCreator() != 2;
    l->page = MakeParamPage(*l->image, std::move(services));
    EXPECT_NE(l->page, nullptr);
    l->page->Load();
    return l;
}

// The bytes that differ between two images: address -> new value.
std::map<int, int> Changed(const std::vector<std::uint8_t>& before, const EPROM& after) {
    std::map<int, int> out;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (before[i] != after.Bytes()[i]) out[static_cast<int>(i)] = after.Bytes()[i];
    return out;
}

// An expected byte: at parameter `index` + offset, or (index 0) at the image address `offset`.
struct Byte {
    int index;
    int offset;
    int value;
};

enum class Act { Value, Option, Check, Type };

struct Case {
    const char* name;
    const char* base;
    const char* key;
    Act act;
    int value;
    const char* text; // ListText after the change
    std::vector<Byte> bytes;
};

// Words in the LH 2.3 image's byte order (its creator writes them high byte first).
std::vector<Byte> Word(int index, int offset, int w) { return {{index, offset, w >> 8}, {index, offset + 1, w & 255}}; }

std::vector<Byte> Join(std::initializer_list<std::vector<Byte>> parts) {
    std::vector<Byte> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<Byte> Block(int index, std::vector<int> values) {
    std::vector<Byte> out;
    for (std::size_t i = 0; i < values.size(); ++i) out.push_back({index, static_cast<int>(i), values[i]});
    return out;
}

const std::vector<int> kRecovery200{200, 193, 184, 175, 165, 155, 145, 135, 125, 116, 106, 96, 82, 59, 42, 30};

std::vector<Case> Cases() {
    return {
        // LH 2.3
        {"custom injector 64", "MRX_D", "injector_size", Act::Value, -64, "38.0",
         Join(
             {{{3, 0, 64}}, Word(11, 0, 1106), Word(12, 0, 1106), Block(24, {72, 108, 128, 128, 128, 128, 128, 128})})},
        {"cranking 5 ms", "MRX_D", "cranking_pw", Act::Value, 100, "5.00",
         Join({Word(11, 0, 1875), Word(12, 0, 1875)})},
        {"opening time 1 ms", "MRX_D", "injector_opening_time", Act::Value, 100, "1.00",
         Join({Word(13, 0, 2743), Word(13, 2, 1805), Word(13, 4, 1360), Word(13, 6, 931), Word(13, 8, 570),
               Word(13, 10, 439), Word(13, 12, 375), Word(13, 14, 307), Word(13, 16, 256)})},
        {"decel cut-off off", "MRX_D", "decel_cutoff", Act::Check, 0, "off", {{4, 0, 0}}},
        {"2:1 pulsing code 50", "MRX_D", "pulsing_rpm", Act::Value, -50, "5100", {{17, 0, 50}}},
        {"rev limit code 38", "MRX_D", "rev_limit_rpm", Act::Value, -38, "6340", {{1, 0, 38}}},
        {"rev restore code 41", "MRX_D", "rev_restore_rpm", Act::Value, -41, "6010", {{2, 0, 41}}},
        {"flappy open code 60", "MRX_D", "flappy_open_rpm", Act::Value, -60, "3970", {{5, 0, 194}, {6, 0, 13}}},
        {"load threshold 50", "MRX_D", "flappy_load_threshold", Act::Type, 50, "50", {{10, 0, 50}}},
        {"force cat mode", "MRX_D", "o2_sensor", Act::Option, 2, "cat", {{9, 0, 2}}},
        {"CO pot enabled", "MRX_D", "co_pot", Act::Option, 1, "enabled", {{9, 0, 4}}},
        {"adaptation disabled", "MRX_D", "o2_adaptation", Act::Option, 0, "disabled", {{28, 0, 0}}},
        {"idle 775",
         "MRX_D",
         "idle_rpm",
         Act::Option,
         1,
         "775",
         {{19, 0, 31}, {19, 8, 36}, {19, 9, 49}, {19, 16, 116}, {19, 17, 164}}},
        {"fixed idle valve on",
         "MRX_D",
         "fixed_isv",
         Act::Check,
         1,
         "50.0%",
         {{0, 1108, 116}, {0, 1109, 128}, {0, 1111, 116}, {0, 1112, 7}}},
        {"fixed idle valve 25 %", "MRX_D", "fixed_isv", Act::Value, 80, "off", {{0, 16361, 3}, {0, 16362, 192}}},
        {"enrichment base +5", "MRX_D", "acc_enrich_base", Act::Value, 5, "+5", {{21, 0, 59}}},
        {"enrichment base -3", "MRX_D", "acc_enrich_base", Act::Value, -3, "-3", {{21, 0, 67}}},
        {"enrichment width 2", "MRX_D", "acc_enrich_width_2", Act::Value, 24, "150%", {{20, 1, 24}}},
        {"enrichment sustain 100", "MRX_D", "acc_enrich_sustain", Act::Value, 100, "100", {{22, 0, 100}, {23, 0, 150}}},
        // EZK
        {"WOT ignored", "EZK_D-S4", "wot_ignored", Act::Check, 1, "on", {{0, 3058, '?'}}},
        {"knock step 16", "EZK_D-S4", "knock_retard_step", Act::Value, 16, "6.0", {{34, 0, 16}}},
        {"recovery 200", "EZK_D-S4", "knock_recovery_s", Act::Value, 200, "7.8",
         Join({Block(35, kRecovery200), Block(36, kRecovery200), Block(37, kRecovery200)})},
        {"recovery 10 keeps 4", "EZK_D-S4", "knock_recovery_s", Act::Value, 10, "0.4",
         Join({Block(35, {10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 4, 4}),
               Block(36, {10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 4, 4}),
               Block(37, {10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5, 4, 4, 4, 4})})},
        {"retard at idle", "EZK_D-S4", "retard_throttle_idle", Act::Value, 12, "4.5", {{38, 0, 12}}},
        {"retard after decel", "EZK_D-S4", "retard_throttle_decel", Act::Value, 4, "1.5", {{39, 0, 4}}},
        {"retard on load", "EZK_D-S4", "retard_load_increase", Act::Value, 9, "3.4", {{40, 0, 9}}},
        {"advance rate", "EZK_D-S4", "advance_increase_rate", Act::Value, 3, "1.1", {{41, 0, 3}}},
        // LH 2.2
        {"LH 2.2 cut-off 100", "MRX_LH22_USA", "rev_limit_rpm", Act::Value, -100, "5240", {{42, 0, 100}}},
        {"LH 2.2 custom injector 64", "MRX_LH22_USA", "injector_size", Act::Value, -64, "48.0",
         Join({{{46, 0, 64}, {47, 0, 3}, {48, 0, 0x39}, {49, 0, 0x39}}, Block(54, {4, 4, 4, 5, 6, 7, 13, 13, 13})})},
        {"LH 2.2 cranking 5 ms",
         "MRX_LH22_USA",
         "cranking_pw",
         Act::Value,
         100,
         "5.00",
         {{47, 0, 5}, {48, 0, 0x76}, {49, 0, 0x76}}},
        {"LH 2.2 opening time",
         "MRX_LH22_USA",
         "injector_opening_time",
         Act::Value,
         20,
         "0.24",
         {{50, 0, 2}, {51, 0, 0xCC}}},
        {"LH 2.2 O2 loop off", "MRX_LH22_USA", "o2_loop", Act::Option, 1, "disabled", {{52, 0, 4}, {52, 1, 125}}},
        {"LH 2.2 O2 loop on", "MRX_LH22_EURO", "o2_loop", Act::Option, 0, "enabled", {{52, 0, 246}, {52, 1, 116}}},
        {"LH 2.2 pulsing off", "MRX_LH22_USA", "pulsing", Act::Check, 0, "off", {{53, 0, 0x97}}},
        {"LH 2.2 pulsing on", "MRX_LH22_EURO", "pulsing", Act::Check, 1, "on", {{53, 0, 0xA7}}},
        // EZF
        {"vacuum calibration +10",
         "EZF_USA",
         "vacuum_sensor_volts",
         Act::Value,
         -10,
         "4.41",
         {{55, 0, 10}, {56, 0, 0xE6}, {57, 0, 0xFF}}},
        {"vacuum calibration -5",
         "EZF_USA",
         "vacuum_sensor_volts",
         Act::Value,
         5,
         "4.71",
         {{55, 0, 251}, {56, 0, 0xF6}, {57, 0, 0x00}}},
        {"high load threshold",
         "EZF_USA",
         "high_load_vacuum_inhg",
         Act::Value,
         100,
         "8.9",
         {{58, 0, 100}, {59, 0, 100}}},
        {"advance interval", "EZF_USA", "advance_change_interval", Act::Value, 10, "10", {{60, 0, 10}}},
        {"advance step 2", "EZF_USA", "advance_change_step", Act::Value, 2, "3.6", {{61, 0, 2}}},
    };
}

class ParamChange : public ::testing::TestWithParam<Case> {};

TEST_P(ParamChange, ShowsTextAndWritesExactlyItsBytes) {
    const Case& c = GetParam();
    auto l = Open(c.base);
    EPROM& image = *l->image;
    ParamPage& page = *l->page;
    const auto before = image.Bytes();
    switch (c.act) {
    case Act::Value: page.SetValue(c.key, c.value); break;
    case Act::Option: page.SelectOption(c.key, c.value); break;
    case Act::Check: page.SetChecked(c.key, c.value != 0); break;
    case Act::Type: EXPECT_TRUE(page.TypeText(c.key, std::to_string(c.value))); break;
    }
    EXPECT_EQ(page.ListText(c.key), c.text);
    const auto changed = Changed(before, image);
    std::map<int, int> expected;
    for (const Byte& b : c.bytes) {
        const int address = (b.index == 0 ? 0 : image.GetEPROMAddress(b.index)) + b.offset;
        expected[address] = b.value;
        EXPECT_EQ(image.ReadByte(address), expected[address]) << "at " << address;
    }
    for (const auto& [address, value] : changed)
        EXPECT_TRUE(expected.count(address)) << "unexpected write of " << value << " at " << address;
}

INSTANTIATE_TEST_SUITE_P(AllPages, ParamChange, ::testing::ValuesIn(Cases()), [](const auto& info) {
    std::string n = info.param.name;
    for (char& ch : n)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return n;
});

class PageLoad : public ::testing::TestWithParam<const char*> {};

TEST_P(PageLoad, ChangesNoByteAndSettlesEverySetting) {
    EpromContext context;
    EPROM image(context);
    ASSERT_EQ(LoadBaseImage(GetParam(), image), "");
    const auto before = image.Bytes();
    auto page = MakeParamPage(image, {});
    ASSERT_NE(page, nullptr);
    page->Load();
    EXPECT_TRUE(Changed(before, image).empty());
    EXPECT_FALSE(page->Loading());
    EXPECT_FALSE(image.HasBeenModified());
    // Every base image lies inside the ranges of the up-downs.
    for (const auto& s : page->Settings())
        if (s.kind == SettingKind::Number && s.inImage) {
            EXPECT_GE(page->Value(s.key), s.min) << s.key;
            EXPECT_LE(page->Value(s.key), s.max) << s.key;
        }
}

INSTANTIATE_TEST_SUITE_P(BaseImages, PageLoad,
                         ::testing::Values("MRX_D", "MRX_D-SUPERMAF", "EZK_D-S4", "EZK_D-GT", "EZK_D-GTS",
                                           "MRX_LH22_USA", "MRX_LH22_EURO", "EZF_USA", "EZF_EURO"));

TEST(LH23Page, InjectorByteZeroReadsAsStock) {
    auto l = Open("MRX_D");
    l->image->WriteByte(l->image->GetEPROMAddress(3), 0);
    l->page->Load();
    EXPECT_EQ(l->page->Text("injector_size"), "19.0");
    EXPECT_EQ(l->page->Option("injector_size"), 5); // "Custom"
}

TEST(LH23Page, Preset24StoresByte101WithItsRewrites) {
    auto l = Open("MRX_D");
    l->page->SelectOption("injector_size", 1);
    const EPROM& im = *l->image;
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(3)), 101);
    EXPECT_EQ(l->page->Text("injector_size"), "24.1");
    EXPECT_FALSE(l->page->Enabled("injector_size"));
    EXPECT_EQ(l->page->Text("cranking_pw"), "3.65");
    EXPECT_EQ(im.ReadWord(im.GetEPROMAddress(11)), 1369);
    EXPECT_EQ(im.ReadWord(im.GetEPROMAddress(12)), 1369);
    const std::vector<int> scaled{113, 170, 201, 201, 201, 201, 201, 201};
    const std::vector<int> fixed{191, 210, 230, 255, 255, 255, 255, 255};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(24) + i), scaled[static_cast<std::size_t>(i)]);
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(25) + i), fixed[static_cast<std::size_t>(i)]);
    }
    l->page->SelectOption("injector_size", 5);
    EXPECT_TRUE(l->page->Enabled("injector_size"));
}

TEST(LH23Page, LoadThresholdOutsideOneTo255IsNotWritten) {
    for (const char* typed : {"0", "256", "x", ""}) {
        auto l = Open("MRX_D");
        const auto before = l->image->Bytes();
        EXPECT_FALSE(l->page->TypeText("flappy_load_threshold", typed)) << typed;
        EXPECT_TRUE(Changed(before, *l->image).empty()) << typed;
        EXPECT_TRUE(l->page->Apply("flappy_load_threshold", typed).has_value()) << typed;
        EXPECT_TRUE(Changed(before, *l->image).empty()) << typed;
        // Leaving the box puts "1" in it, and that is written.
        l->page->LeaveText("flappy_load_threshold");
        EXPECT_EQ(l->page->Text("flappy_load_threshold"), "1");
        EXPECT_EQ(l->image->ReadByte(l->image->GetEPROMAddress(10)), 1);
    }
}

TEST(LH23Page, IdleOptionSwitchedTwiceRestoresTheBytes) {
    auto l = Open("MRX_D");
    const auto before = l->image->Bytes();
    ASSERT_EQ(l->page->Value("idle_rpm"), 0);
    l->page->SelectOption("idle_rpm", 1);
    EXPECT_FALSE(Changed(before, *l->image).empty());
    l->page->SelectOption("idle_rpm", 0);
    EXPECT_TRUE(Changed(before, *l->image).empty());
}

TEST(LH23Page, RestoreSpeedNeverPassesTheCutOff) {
    auto l = Open("MRX_D");
    ParamPage& p = *l->page;
    p.SetValue("rev_limit_rpm", -60); // cut-off at about 4080 rpm
    const int cut = std::stoi(p.Text("rev_limit_rpm"));
    EXPECT_LE(std::stoi(p.Text("rev_restore_rpm")), cut);
    EXPECT_EQ(l->image->ReadByte(l->image->GetEPROMAddress(2)), (-p.Value("rev_restore_rpm")) & 255);
    p.SetValue("rev_restore_rpm", p.Max("rev_restore_rpm") + 20);
    EXPECT_LE(std::stoi(p.Text("rev_restore_rpm")), cut);
}

TEST(LH23Page, FlappyCloseStaysAboveOpen) {
    auto l = Open("MRX_D");
    ParamPage& p = *l->page;
    p.SetValue("flappy_open_rpm", -35);
    EXPECT_GE(p.Value("flappy_close_rpm"), -32);
    p.SetValue("flappy_close_rpm", -200);
    EXPECT_EQ(p.Value("flappy_close_rpm"), -32);
    EXPECT_EQ(l->image->ReadByte(l->image->GetEPROMAddress(6)), 2);
    EXPECT_EQ(l->image->ReadByte(l->image->GetEPROMAddress(5)), 254 - 35);
}

TEST(LH23Page, EveryReachableValueFitsItsBytes) {
    // The largest injector and sustain the up-downs reach still give bytes, not wrapped values.
    auto l = Open("MRX_D");
    ParamPage& p = *l->page;
    const EPROM& im = *l->image;
    p.SetValue("injector_size", p.Min("injector_size"));
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(24) + 2), 255);
    p.SetValue("acc_enrich_sustain", 1000);
    EXPECT_EQ(p.Value("acc_enrich_sustain"), 170);
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(23)), 255);
}

TEST(LH23Page, AdaptationResetOnlyForLH23Images) {
    int resets = 0;
    ParamServices s;
    s.resetO2Adaptation = [&resets] {
        ++resets;
        return true;
    };
    auto l = Open("MRX_D", s);
    EXPECT_TRUE(l->page->RunCommand("cmdO2AdaptReset"));
    EXPECT_EQ(resets, 1);
    EXPECT_FALSE(l->page->RunCommand("cmdVacSensorCal"));
    EXPECT_EQ(resets, 1);
}

TEST(LH22Page, PulsingShownOnlyForA7) {
    for (int byte : {0xA7, 0x97, 0xA6, 0x00}) {
        auto l = Open("MRX_LH22_USA");
        l->image->WriteByte(l->image->GetEPROMAddress(53), static_cast<std::uint8_t>(byte));
        l->page->Load();
        EXPECT_EQ(l->page->Checked("pulsing"), byte == 0xA7) << byte;
    }
}

TEST(EZKPage, RecoveryTimeFollowsTheStepSize) {
    auto l = Open("EZK_D-S4");
    ParamPage& p = *l->page;
    p.SetValue("knock_recovery_s", 200);
    p.SetValue("knock_retard_step", 16);
    EXPECT_EQ(p.Text("knock_retard_step"), "6.0");
    EXPECT_EQ(p.Text("knock_recovery_s"), "15.6"); // 60 / 6150 / 2 x 200 x 16
}

// The aux input 3 channel of a device whose sensor gives a fixed voltage (or nothing at all).
class FixedAux final : public AuxDevice {
public:
    explicit FixedAux(std::optional<double> volts) : volts_(volts) {}
    bool SetAuxInputFilter(int channel, int coefficient) override {
        filters.emplace_back(channel, coefficient);
        return volts_.has_value();
    }
    std::optional<std::int32_t> ReadAuxInput(int channel) override {
        reads.push_back(channel);
        if (!volts_) return std::nullopt;
        return static_cast<std::int32_t>(*volts_ / 5.0 * 65536.0);
    }
    std::vector<std::pair<int, int>> filters;
    std::vector<int> reads;

private:
    std::optional<double> volts_;
};

struct CalibrationCase {
    const char* name;
    std::optional<double> volts;
    const char* altitude;
    bool ok;
    const char* shown; // the calibration text afterwards
};

class VacuumCalibration : public ::testing::TestWithParam<CalibrationCase> {};

TEST_P(VacuumCalibration, SetsTheMeasuredVoltageOrShowsTheError) {
    const auto& c = GetParam();
    FixedAux aux(c.volts);
    ScriptedDialogs dialogs;
    MemorySettings settings;
    settings.values[{"Ambient", "Altitude"}] = c.altitude;
    auto l = Open("EZF_USA", {&dialogs, &settings, &aux, {}});
    const int before = l->image->ReadByte(l->image->GetEPROMAddress(55));
    EXPECT_EQ(l->page->RunCommand("cmdVacSensorCal"), c.ok);
    ASSERT_FALSE(dialogs.log.empty());
    EXPECT_EQ(dialogs.log.front().rfind("MessageBox|Read vacuum sensor voltage|", 0), 0u);
    EXPECT_EQ(aux.filters, (std::vector<std::pair<int, int>>{{6, 0}}));
    EXPECT_EQ(aux.reads, std::vector<int>(50, 6));
    if (c.ok) {
        EXPECT_EQ(dialogs.log.size(), 1u);
    } else {
        ASSERT_EQ(dialogs.log.size(), 2u);
        EXPECT_EQ(
            dialogs.log[1].rfind("MessageBox|Error|No valid vacuum sensor signal was detected on aux input 3.", 0), 0u);
        EXPECT_EQ(l->image->ReadByte(l->image->GetEPROMAddress(55)), before);
    }
    EXPECT_EQ(l->page->Text("vacuum_sensor_volts"), c.shown);
}

INSTANTIATE_TEST_SUITE_P(Sensor, VacuumCalibration,
                         ::testing::Values(CalibrationCase{"sea_level_4_50_V", 4.50, "0", true, "4.49"},
                                           CalibrationCase{"sea_level_4_80_V", 4.80, "0", true, "4.81"},
                                           CalibrationCase{"at_3000_ft", 4.10, "3000", true, "4.11"},
                                           CalibrationCase{"unplugged_reads_0_V", 0.0, "0", false, "4.61"},
                                           CalibrationCase{"no_device_answer", std::nullopt, "0", false, "4.61"},
                                           CalibrationCase{"low_reading", 2.0, "0", false, "4.61"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EZFPage, CalibrationCancelledMeasuresNothing) {
    FixedAux aux(4.5);
    ScriptedDialogs dialogs;
    dialogs.answers.push_back(MsgResult::Cancel);
    auto l = Open("EZF_USA", {&dialogs, nullptr, &aux, {}});
    EXPECT_FALSE(l->page->RunCommand("cmdVacSensorCal"));
    EXPECT_TRUE(aux.reads.empty());
}

TEST(EZFPage, AltitudeComesFromTheSettingsAndGoesBackOnLeave) {
    MemorySettings settings;
    settings.values[{"Ambient", "Altitude"}] = "1500";
    auto l = Open("EZF_USA", {nullptr, &settings, nullptr, {}});
    EXPECT_EQ(l->page->Text("altitude_ft"), "1500");
    EXPECT_EQ(l->page->ExtraText("altitude_ft"), "458"); // 1500 x 0.305 = 457.5, half to even
    const auto before = l->image->Bytes();
    l->page->SetValue("altitude_ft", 2000);
    EXPECT_TRUE(Changed(before, *l->image).empty());
    l->page->Leave();
    EXPECT_EQ((settings.values[{"Ambient", "Altitude"}]), "2000");
}

struct ApplyCase {
    const char* base;
    const char* key;
    const char* value;
    const char* text; // ListText afterwards; empty = refused
};

class ScriptApply : public ::testing::TestWithParam<ApplyCase> {};

TEST_P(ScriptApply, TakesTheNearestReachableValue) {
    const auto& c = GetParam();
    auto l = Open(c.base);
    const auto before = l->image->Bytes();
    const auto refused = l->page->Apply(c.key, c.value);
    if (std::string(c.text).empty()) {
        EXPECT_TRUE(refused.has_value());
        EXPECT_TRUE(Changed(before, *l->image).empty());
    } else {
        EXPECT_FALSE(refused.has_value()) << *refused;
        EXPECT_EQ(l->page->ListText(c.key), c.text);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, ScriptApply,
    ::testing::Values(
        ApplyCase{"MRX_D", "injector_size", "24", "24.1"}, ApplyCase{"MRX_D", "injector_size", "26", "25.9"},
        ApplyCase{"MRX_D", "injector_size", "60.8", "60.8"}, ApplyCase{"MRX_D", "cranking_pw", "4.23", "4.25"},
        ApplyCase{"MRX_D", "rev_limit_rpm", "6500", "6510"}, ApplyCase{"MRX_D", "o2_sensor", "non-cat", "non-cat"},
        ApplyCase{"MRX_D", "o2_sensor", "always", ""}, ApplyCase{"MRX_D", "fixed_isv", "25%", "25.0%"},
        ApplyCase{"MRX_D", "fixed_isv", "off", "off"}, ApplyCase{"MRX_D", "acc_enrich_base", "+7", "+7"},
        ApplyCase{"MRX_D", "flappy_load_threshold", "0", ""}, ApplyCase{"MRX_D", "flappy_load_threshold", "256", ""},
        ApplyCase{"MRX_D", "idle_rpm", "775", "775"}, ApplyCase{"MRX_D", "knock_retard_step", "6", ""},
        ApplyCase{"EZK_D-S4", "knock_retard_step", "6", "6.0"},
        ApplyCase{"MRX_LH22_USA", "injector_size", "19", "19.0"}, ApplyCase{"MRX_LH22_USA", "pulsing", "maybe", ""},
        ApplyCase{"EZF_USA", "advance_change_step", "3.5", "3.6"}, ApplyCase{"EZF_USA", "altitude_ft", "1000", ""}));

} // namespace

namespace {

// A value a script gives that the page refuses, with a part of the message that names the range.
struct RefusedCase {
    const char* base;
    const char* key;
    const char* value;
    const char* message;
};

void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.base << " " << c.key << " \"" << c.value << "\""; }

class ScriptRefuses : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(ScriptRefuses, ValuesOutsideTheRangeOrNotPlainNumbers) {
    const auto& c = GetParam();
    auto l = Open(c.base);
    const auto before = l->image->Bytes();
    const std::string shown = l->page->ListText(c.key);
    std::string note;
    const auto refused = l->page->Apply(c.key, c.value, &note);
    ASSERT_TRUE(refused.has_value()) << c.key << " " << c.value << " gave " << l->page->ListText(c.key);
    EXPECT_NE(refused->find(c.message), std::string::npos) << *refused;
    EXPECT_TRUE(Changed(before, *l->image).empty());
    EXPECT_EQ(l->page->ListText(c.key), shown);
}

INSTANTIATE_TEST_SUITE_P(Values, ScriptRefuses,
                         ::testing::Values(RefusedCase{"MRX_D", "rev_limit_rpm", "-5", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "99999", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "1e308", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "+-1", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "nan", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "inf", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "-inf", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "0x1800", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "6 000", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "rev_limit_rpm", "", "from 60 to 11700"},
                                           RefusedCase{"MRX_D", "injector_size", "500", "from 19.0 to 60.8"},
                                           RefusedCase{"MRX_D", "injector_size", "18.9", "from 19.0 to 60.8"},
                                           RefusedCase{"MRX_D", "fixed_isv", "150", "from 0.0% to 100.0%"},
                                           RefusedCase{"MRX_D", "cranking_pw", "4.2.1", "from 0.50 to 10.00"},
                                           RefusedCase{"MRX_D", "acc_enrich_base", "++7", "from -64 to +64"},
                                           // The restore speed never passes the cut-off (6170 rpm, code 40, shown as
                                           // 6170 by the restore's conversion).
                                           RefusedCase{"MRX_D", "rev_restore_rpm", "6500", "to 6170"},
                                           RefusedCase{"MRX_D", "rev_restore_rpm", "6180", "Fuel cut off RPM"},
                                           RefusedCase{"EZK_D-S4", "knock_retard_step", "12.5", "from 0.4 to 12.0"},
                                           RefusedCase{"MRX_LH22_USA", "injector_size", "1e1", "from 15.4 to 76.8"},
                                           RefusedCase{"EZF_USA", "advance_change_step", "36.1", "from 1.8 to 36.0"}),
                         [](const auto& info) { return "case_" + std::to_string(info.index); });

TEST(ScriptApply, BetweenTwoReachableValuesTakesTheNearestAndSaysSo) {
    auto l = Open("MRX_D");
    std::string note;
    EXPECT_FALSE(l->page->Apply("rev_limit_rpm", "6500", &note).has_value());
    EXPECT_EQ(l->page->ListText("rev_limit_rpm"), "6510");
    EXPECT_NE(note.find("6510"), std::string::npos) << note;
    EXPECT_NE(note.find("6500"), std::string::npos) << note;
    note.clear();
    EXPECT_FALSE(l->page->Apply("cranking_pw", "5.00", &note).has_value());
    EXPECT_EQ(note, "") << "a reachable value is taken as it is";
}

// Every setting of every base image, set to the text it shows, leaves every byte as it was.
class ShownValue : public ::testing::TestWithParam<const char*> {};

TEST_P(ShownValue, SettingWhatASettingShowsIsANoOp) {
    auto l = Open(GetParam());
    const auto before = l->image->Bytes();
    for (const auto& s : l->page->Settings()) {
        if (!s.inImage) continue;
        const std::string shown = l->page->ListText(s.key);
        std::string note;
        const auto refused = l->page->Apply(s.key, shown, &note);
        EXPECT_FALSE(refused.has_value()) << s.key << ": " << *refused;
        EXPECT_EQ(note, "") << s.key;
        EXPECT_TRUE(Changed(before, *l->image).empty()) << s.key << " " << shown;
        EXPECT_EQ(l->page->ListText(s.key), shown);
        if (s.kind == SettingKind::Number && !s.textBox.empty()) {
            EXPECT_FALSE(l->page->CommitText(s.key, l->page->Text(s.key)).has_value()) << s.key;
            EXPECT_TRUE(Changed(before, *l->image).empty()) << s.key << " typed";
        }
    }
    EXPECT_FALSE(l->image->HasBeenModified());
}

INSTANTIATE_TEST_SUITE_P(BaseImages, ShownValue,
                         ::testing::Values("MRX_D", "MRX_D-SUPERMAF", "EZK_D-S4", "EZK_D-GT", "EZK_D-GTS",
                                           "MRX_LH22_USA", "MRX_LH22_EURO", "EZF_USA", "EZF_EURO"));

// The unit compares the two stored codes: the restore code may equal the cut-off code (the same
// speed: the cut-off reads its code's low end, the restore its high end) but never be faster.
TEST(LH23Page, RestoreCapIsTheCutOffsOwnCodeForEveryCutOff) {
    auto l = Open("MRX_D");
    ParamPage& p = *l->page;
    const EPROM& im = *l->image;
    const int restoreAddress = im.GetEPROMAddress(2);
    for (int cut = p.Min("rev_limit_rpm"); cut <= p.Max("rev_limit_rpm"); ++cut) {
        p.SetValue("rev_limit_rpm", cut);
        ASSERT_EQ(p.Max("rev_restore_rpm"), cut) << "cut-off code " << -cut;
        // At the cap the restore speed is no faster than the cut-off's.
        const int b = -cut;
        EXPECT_LE(conv::LH_RpmCodeHigh(b), conv::LH_RpmCodeLow(b)) << b;
        // Arrows past the cap stay at it; the byte and its label follow.
        p.SetValue("rev_restore_rpm", cut + 1);
        EXPECT_EQ(im.ReadByte(restoreAddress), b);
        EXPECT_EQ(p.ByteText("rev_restore_rpm"), std::to_string(b));
    }
}

TEST(LH23Page, ACutOffMovedBelowTheRestorePullsTheRestoreInTheSameStep) {
    auto l = Open("MRX_D");
    ParamPage& p = *l->page;
    const EPROM& im = *l->image;
    p.SetValue("rev_limit_rpm", -60);
    p.SetValue("rev_restore_rpm", -60);
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(2)), 60);
    p.SetValue("rev_limit_rpm", -70);
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(1)), 70);
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(2)), 70);
    EXPECT_EQ(p.ByteText("rev_restore_rpm"), "70");
    // A faster cut-off leaves the restore where it is.
    p.SetValue("rev_limit_rpm", -50);
    EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(2)), 70);
    EXPECT_EQ(p.Max("rev_restore_rpm"), -50);
}

TEST(LH23Page, ARestorePastTheCutOffInTheImageIsShownAsStored) {
    auto l = Open("MRX_D");
    EPROM& im = *l->image;
    im.WriteByte(im.GetEPROMAddress(1), 60);
    im.WriteByte(im.GetEPROMAddress(2), 50);
    const auto before = im.Bytes();
    l->page->Load();
    EXPECT_EQ(l->page->ByteText("rev_restore_rpm"), "50");
    EXPECT_TRUE(Changed(before, im).empty());
}

TEST(InjectorPages, StoredByteZeroLoadsAsTheValueItMeans) {
    for (const char* base : {"MRX_D", "MRX_LH22_USA"}) {
        auto l = Open(base);
        EPROM& im = *l->image;
        const int index = im.GetECUType() == EcuType::LH23 ? 3 : 46;
        im.WriteByte(im.GetEPROMAddress(index), 0);
        l->page->Load();
        ParamPage& p = *l->page;
        EXPECT_EQ(p.Value("injector_size"), -128) << base;
        EXPECT_GE(p.Value("injector_size"), p.Min("injector_size")) << base;
        EXPECT_LE(p.Value("injector_size"), p.Max("injector_size")) << base;
        // One step up from it is the next size, not the far end of the range.
        p.SelectOption("injector_size", static_cast<int>(p.Find("injector_size")->optionKeys.size()) - 1);
        p.SetValue("injector_size", p.Value("injector_size") + 1);
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(index)), 127) << base;
    }
}

TEST(LH23Page, AnInjectorChangeResetsTheSecondTableWhateverItHeld) {
    auto l = Open("MRX_D");
    EPROM& im = *l->image;
    im.WriteBlock(im.GetEPROMAddress(25), std::vector<std::uint8_t>(8, 7));
    l->page->Load();
    l->page->SetValue("injector_size", -100);
    const std::vector<int> fixed{191, 210, 230, 255, 255, 255, 255, 255};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(25) + i), fixed[static_cast<std::size_t>(i)]) << i;
}

TEST(LH23Page, SecondSustainByteIsOneAndAHalfTimesRoundedHalfToEven) {
    auto l = Open("MRX_D");
    const EPROM& im = *l->image;
    for (const auto& [v, second] : std::vector<std::pair<int, int>>{{1, 2}, {3, 4}, {5, 8}, {7, 10}, {20, 30}}) {
        l->page->SetValue("acc_enrich_sustain", v);
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(22)), v);
        EXPECT_EQ(im.ReadByte(im.GetEPROMAddress(23)), second) << v;
    }
}

} // namespace
