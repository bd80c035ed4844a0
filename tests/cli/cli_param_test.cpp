// kestrovane-cli param list|set: the parameter pages from scripts, on files and (--simulate)
// through to the running unit of the simulated car.
#include "cli/cli.h"
#include "cli_run.h"
#include "eprom/base_images.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <set>
#include <sstream>

namespace kv {

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFile(const std::string& path) { return ReadFileBytes(path); }

class CliParam : public CliFileTest {
protected:
    // The value of one key in `param list`.
    std::string Listed(const std::string& file, const std::string& key) {
        const CliRun list = Cli({"param", "list", file});
        EXPECT_EQ(list.code, 0) << list.err;
        std::istringstream lines(list.out);
        for (std::string line; std::getline(lines, line);)
            if (line.rfind(key + ": ", 0) == 0) return line.substr(key.size() + 2);
        return "(missing)";
    }
};

TEST_F(CliParam, ListShowsEverySettingOfThePage) {
    struct Case {
        const char* base;
        std::string expected;
    };
    for (const Case& c :
         {Case{"MRX_D", "injector_size: 19.0\ncranking_pw: 4.20\ninjector_opening_time: 0.94\ndecel_cutoff: on\n"
                        "pulsing_rpm: 3970\nrev_limit_rpm: 6170\nrev_restore_rpm: 6010\nflappy_open_rpm: 3550\n"
                        "flappy_close_rpm: 5450\nflappy_load_threshold: 100\no2_sensor: coding-plug\nco_pot: disabled\n"
                        "o2_adaptation: enabled\nidle_rpm: 675\nfixed_isv: off\nacc_enrich_base: 0\n"
                        "acc_enrich_width_1: 100%\nacc_enrich_width_2: 100%\nacc_enrich_width_3: 75%\n"
                        "acc_enrich_width_4: 50%\nacc_enrich_sustain: 20\n"},
          Case{"EZK_D-S4", "wot_ignored: off\nknock_retard_step: 3.0\nknock_recovery_s: 2.5\n"
                           "retard_throttle_idle: 3.0\nretard_throttle_decel: 3.0\nretard_load_increase: 2.3\n"
                           "advance_increase_rate: 0.8\n"},
          Case{"MRX_LH22_EURO", "rev_limit_rpm: 6030\ninjector_size: 24.0\ncranking_pw: 4.20\n"
                                "injector_opening_time: 0.55\no2_loop: disabled\npulsing: off\n"},
          Case{"EZF_USA", "vacuum_sensor_volts: 4.61\nhigh_load_vacuum_inhg: 5.0\nadvance_change_interval: 4\n"
                          "advance_change_step: 1.8\n"}}) {
        const CliRun list = Cli({"param", "list", New(c.base)});
        EXPECT_EQ(list.code, 0) << list.err;
        EXPECT_EQ(list.out, c.expected) << c.base;
    }
}

TEST_F(CliParam, SetWritesThePagesBytesInPlaceOrToOut) {
    const std::string lh = New("MRX_D");
    const CliRun set = Cli({"param", "set", lh, "injector_size", "24"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, "injector_size: 24.1\n");
    EXPECT_EQ(Listed(lh, "injector_size"), "24.1");
    EXPECT_EQ(Listed(lh, "cranking_pw"), "3.65") << "the cranking pulse width follows the injector";

    const std::string out = Path("out.bin");
    const Bytes before = ReadFile(lh);
    ASSERT_EQ(Cli({"param", "set", lh, "rev_limit_rpm", "6500", "-o", out}).code, 0);
    EXPECT_EQ(ReadFile(lh), before) << "with -o the input stays as it was";
    EXPECT_EQ(Listed(out, "rev_limit_rpm"), "6510");
    ASSERT_EQ(Cli({"param", "set", out, "fixed_isv", "25"}).code, 0);
    EXPECT_EQ(Listed(out, "fixed_isv"), "25.0%");
    ASSERT_EQ(Cli({"param", "set", out, "acc_enrich_base", "-3"}).code, 0);
    EXPECT_EQ(Listed(out, "acc_enrich_base"), "-3");
}

TEST_F(CliParam, RefusedValuesLeaveTheFileByteIdentical) {
    const std::string lh = New("MRX_D");
    const std::string ezf = New("EZF_USA");
    struct Case {
        std::string file;
        const char* key;
        const char* value;
        const char* message;
    };
    for (const Case& c :
         {Case{lh, "flappy_load_threshold", "0", "whole number from 1 to 255"},
          Case{lh, "flappy_load_threshold", "256", "whole number from 1 to 255"},
          Case{lh, "o2_sensor", "sometimes", "coding-plug, non-cat, cat"},
          Case{lh, "knock_retard_step", "6", "Unknown setting"}, Case{lh, "cranking_pw", "fast", "takes a number"},
          Case{ezf, "altitude_ft", "1000", "Unknown setting"}}) {
        const Bytes before = ReadFile(c.file);
        const CliRun set = Cli({"param", "set", c.file, c.key, c.value});
        EXPECT_EQ(set.code, 1) << c.key << " " << c.value;
        EXPECT_NE(set.err.find(c.message), std::string::npos) << set.err;
        EXPECT_EQ(ReadFile(c.file), before) << c.key << " " << c.value;
    }
}

TEST_F(CliParam, SetRefusesValuesOutsideTheRangeOrNotPlainNumbers) {
    const std::string lh = New("MRX_D");
    const std::string lh22 = New("MRX_LH22_USA");
    struct Case {
        std::string file;
        const char* key;
        const char* value;
        const char* range; // as the message names it
    };
    for (const Case& c :
         {Case{lh, "rev_limit_rpm", "-5", "from 60 to 11700"}, Case{lh, "rev_limit_rpm", "99999", "from 60 to 11700"},
          Case{lh, "rev_limit_rpm", "1e308", "from 60 to 11700"}, Case{lh, "rev_limit_rpm", "+-1", "from 60 to 11700"},
          Case{lh, "rev_limit_rpm", "nan", "from 60 to 11700"}, Case{lh, "rev_limit_rpm", "inf", "from 60 to 11700"},
          Case{lh, "injector_size", "500", "from 19.0 to 60.8"}, Case{lh, "fixed_isv", "150", "from 0.0% to 100.0%"},
          Case{lh, "acc_enrich_width_1", "-1", "from 0% to 1594%"},
          Case{lh, "rev_restore_rpm", "6500", "Fuel cut off RPM"},
          Case{lh22, "injector_opening_time", "1e-1", "from 0.23 to 0.69"}}) {
        const Bytes before = ReadFile(c.file);
        const CliRun set = Cli({"param", "set", c.file, c.key, c.value});
        EXPECT_EQ(set.code, 1) << c.key << " " << c.value << ": " << set.out;
        EXPECT_NE(set.err.find(c.range), std::string::npos) << c.key << " " << c.value << ": " << set.err;
        EXPECT_EQ(set.out, "");
        EXPECT_EQ(ReadFile(c.file), before) << c.key << " " << c.value;
    }
}

TEST_F(CliParam, SetTakesTheNearestReachableValueAndSaysSo) {
    const std::string lh = New("MRX_D");
    const CliRun set = Cli({"param", "set", lh, "rev_limit_rpm", "6500"});
    ASSERT_EQ(set.code, 0) << set.err;
    EXPECT_EQ(set.out, "rev_limit_rpm: 6510\n");
    EXPECT_NE(set.err.find("6510"), std::string::npos) << set.err;
    EXPECT_EQ(Listed(lh, "rev_limit_rpm"), "6510");
    const CliRun exact = Cli({"param", "set", lh, "cranking_pw", "5"});
    ASSERT_EQ(exact.code, 0) << exact.err;
    EXPECT_EQ(exact.err, "") << "a reachable value is taken without a word";
}

// The settings as `param list` shows them: key and shown text.
std::vector<std::pair<std::string, std::string>> ListedSettings(const std::string& file) {
    const CliRun list = Cli({"param", "list", file});
    EXPECT_EQ(list.code, 0) << list.err;
    std::vector<std::pair<std::string, std::string>> settings;
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        const auto colon = line.find(": ");
        EXPECT_NE(colon, std::string::npos) << line;
        if (colon != std::string::npos) settings.emplace_back(line.substr(0, colon), line.substr(colon + 2));
    }
    return settings;
}

// `param set` of every setting's listed value, on every base image of the four kinds, changes no
// byte of the file.
TEST_F(CliParam, SettingTheListedValueLeavesTheFileByteIdentical) {
    std::set<std::string> kinds;
    for (const std::string& base : BaseImageNames()) {
        const std::string file = New(base);
        const Bytes before = ReadFile(file);
        const auto settings = ListedSettings(file);
        for (const auto& [key, shown] : settings) {
            const CliRun set = Cli({"param", "set", file, key, shown});
            EXPECT_EQ(set.code, 0) << base << " " << key << " " << shown << ": " << set.err;
            EXPECT_EQ(set.err, "") << base << " " << key << " " << shown;
            EXPECT_EQ(ReadFile(file), before) << base << " " << key << " " << shown;
        }
        EXPECT_GT(settings.size(), 3u) << base;
        const std::string info = Cli({"image", "info", file}).out;
        const auto at = info.find("ecu_type: ");
        ASSERT_NE(at, std::string::npos) << info;
        kinds.insert(info.substr(at, info.find('\n', at) - at));
    }
    // LH 2.3, EZK, LH 2.2 and EZF
    EXPECT_EQ(kinds, (std::set<std::string>{"ecu_type: 1", "ecu_type: 2", "ecu_type: 3", "ecu_type: 4"}));
}

// The same after a change: each numeric setting moved by about a fifth either way (where its
// range allows) shows a value whose `param set` leaves that file byte-identical.
TEST_F(CliParam, SettingAChangedSettingsShownValueLeavesTheFileByteIdentical) {
    for (const char* base : {"MRX_D", "MRX_LH22_EURO", "EZK_D-S4", "EZF_USA"}) {
        const std::string file = New(base);
        const std::string moved = Path("moved.bin");
        int tried = 0;
        for (const auto& [key, shown] : ListedSettings(file)) {
            const bool percent = !shown.empty() && shown.back() == '%';
            const std::string number = percent ? shown.substr(0, shown.size() - 1) : shown;
            double value = 0;
            const auto parsed = std::from_chars(number.data(), number.data() + number.size(), value);
            if (parsed.ec != std::errc() || parsed.ptr != number.data() + number.size()) continue;
            const auto point = number.find('.');
            const int decimals = point == std::string::npos ? 0 : static_cast<int>(number.size() - point - 1);
            for (double factor : {0.8, 1.2}) {
                std::ostringstream text;
                text << std::fixed << std::setprecision(decimals) << (value == 0 ? 1.0 : value * factor);
                const CliRun set = Cli({"param", "set", file, key, text.str() + (percent ? "%" : ""), "-o", moved});
                if (set.code != 0) continue; // outside the setting's range
                ASSERT_EQ(set.out.rfind(key + ": ", 0), 0u) << set.out;
                const std::string nowShown = set.out.substr(key.size() + 2, set.out.size() - key.size() - 3);
                const Bytes changed = ReadFile(moved);
                const CliRun again = Cli({"param", "set", moved, key, nowShown});
                EXPECT_EQ(again.code, 0) << base << " " << key << " " << nowShown << ": " << again.err;
                EXPECT_EQ(again.err, "") << base << " " << key << " " << nowShown;
                EXPECT_EQ(ReadFile(moved), changed) << base << " " << key << " " << nowShown;
                ++tried;
            }
        }
        EXPECT_GT(tried, 3) << base;
    }
}

TEST_F(CliParam, UsageAndBadFiles) {
    for (const auto& args : {std::vector<std::string>{"param"},
                             {"param", "list"},
                             {"param", "set", "f", "k"},
                             {"param", "bogus", "f"},
                             {"param", "list", "f", "-o", "x"}})
        EXPECT_EQ(Cli(args).code, 2) << args.size();
    EXPECT_EQ(Cli({"param", "list", Path("missing.bin")}).code, 1);
}

TEST_F(CliParam, SimulatedChangeReachesTheRunningModule) {
    const std::string lh = New("MRX_D");
    const std::string state = Path("car.state");
    auto sim = [&](std::vector<std::string> args) {
        std::vector<std::string> all{"--simulate", "--sim-state", state};
        all.insert(all.end(), args.begin(), args.end());
        return Cli(all);
    };
    ASSERT_EQ(sim({"device", "load-pem", lh}).code, 0);
    const CliRun set = sim({"param", "set", lh, "idle_rpm", "775"});
    ASSERT_EQ(set.code, 0) << set.err;
    const std::string read = Path("read.bin");
    const CliRun back = sim({"device", "read-pem", "lh", "-o", read, "--format", "3"});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(Listed(read, "idle_rpm"), "775");
    EXPECT_EQ(ReadFile(read), ReadFile(lh)) << "the running module holds what the file holds";
}

} // namespace

} // namespace kv
