// kestrovane-simdev's command line: what each option sets, and the refusals.
#include "sim/simdev/simdev_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {

namespace {

struct GoodCase {
    const char* name;
    std::vector<std::string> args;
    long unplugAfter;
    long replugAfterMs;
    long inputIntervalMs;
    SimdevDriver driver;
    const char* ignition;
};

class SimdevOptionsGood : public ::testing::TestWithParam<GoodCase> {};

TEST_P(SimdevOptionsGood, Sets) {
    const GoodCase& c = GetParam();
    const Parsed<SimdevConfig> parsed = ParseSimdevArgs(c.args);
    ASSERT_TRUE(parsed.Ok()) << parsed.Error();
    const SimdevConfig& cfg = *parsed;
    EXPECT_EQ(cfg.bridge.unplugAfterReports, c.unplugAfter);
    EXPECT_EQ(cfg.bridge.replugAfterMs, c.replugAfterMs);
    EXPECT_EQ(cfg.bridge.inputIntervalMs, c.inputIntervalMs);
    EXPECT_EQ(cfg.driver, c.driver);
    EXPECT_EQ(cfg.sim.ignition, c.ignition);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimdevOptionsGood,
    ::testing::Values(GoodCase{"Defaults", {}, -1, -1, 1, SimdevDriver::None, "on"},
                      GoodCase{"UnplugAndReplug",
                               {"--unplug-after", "600", "--replug-after-ms", "3000"},
                               600,
                               3000,
                               1,
                               SimdevDriver::None,
                               "on"},
                      GoodCase{"NoPacing", {"--input-interval-ms", "0"}, -1, -1, 0, SimdevDriver::None, "on"},
                      GoodCase{
                          "DriverStartsWithTheKeyOn", {"--sim-ignition", "auto"}, -1, -1, 1, SimdevDriver::Auto, "on"},
                      GoodCase{"KeyOff", {"--sim-ignition", "OFF"}, -1, -1, 1, SimdevDriver::None, "off"}),
    [](const ::testing::TestParamInfo<GoodCase>& info) { return std::string(info.param.name); });

TEST(SimdevOptions, PassesTheSimulatorOptionsOn) {
    const Parsed<SimdevConfig> parsed =
        ParseSimdevArgs({"--sim-state", "/tmp/s", "--sim-firmware", "6.002", "--sim-pem-firmware", "0.99",
                         "--sim-faults", "drop=0.5,seed=3", "--uhid", "/dev/x"});
    ASSERT_TRUE(parsed.Ok()) << parsed.Error();
    const SimdevConfig& cfg = *parsed;
    EXPECT_EQ(cfg.sim.stateFile, "/tmp/s");
    EXPECT_EQ(cfg.sim.firmwareVersion, "6.002");
    EXPECT_EQ(cfg.sim.pemFirmwareVersion, "0.99");
    EXPECT_EQ(cfg.sim.faults, "drop=0.5,seed=3");
    EXPECT_EQ(cfg.uhidPath, "/dev/x");
}

struct BadCase {
    const char* name;
    std::vector<std::string> args;
    const char* messageStart;
};

class SimdevOptionsBad : public ::testing::TestWithParam<BadCase> {};

TEST_P(SimdevOptionsBad, Refuses) {
    const BadCase& c = GetParam();
    const Parsed<SimdevConfig> parsed = ParseSimdevArgs(c.args);
    EXPECT_FALSE(parsed.Ok());
    EXPECT_EQ(parsed.Error().rfind(c.messageStart, 0), 0u) << parsed.Error();
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SimdevOptionsBad,
    ::testing::Values(BadCase{"UnknownOption", {"--bogus"}, "Unknown option: --bogus"},
                      BadCase{"MissingValue", {"--unplug-after"}, "Missing value after --unplug-after"},
                      BadCase{"ZeroReports", {"--unplug-after", "0"}, "Bad report count"},
                      BadCase{"NegativeReports", {"--unplug-after", "-5"}, "Bad report count"},
                      BadCase{"TrailingJunk", {"--unplug-after", "12x"}, "Bad report count"},
                      BadCase{"NotANumber", {"--replug-after-ms", "soon"}, "Bad time"},
                      BadCase{"IntervalTooLong", {"--input-interval-ms", "2000"}, "Bad time"},
                      BadCase{"IgnitionSideways", {"--sim-ignition", "sideways"}, "Unknown ignition mode"}),
    [](const ::testing::TestParamInfo<BadCase>& info) { return std::string(info.param.name); });

TEST(SimdevOptions, BadFaultSpecIsRefusedWithTheSimulatorsMessage) {
    const Parsed<SimdevConfig> parsed = ParseSimdevArgs({"--sim-faults", "drop=lots"});
    EXPECT_FALSE(parsed.Ok());
    EXPECT_NE(parsed.Error(), "");
}

} // namespace

} // namespace kv
