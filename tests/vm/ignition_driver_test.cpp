// The simulated driver at the ignition key: what it does for each run of requests.
#include "sim/simdev/ignition_driver.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {

namespace {

struct Step {
    std::uint8_t request;
    std::int64_t atMs;
};

struct DriverCase {
    const char* name;
    bool ignitionOn;         // key position while the requests arrive
    std::vector<Step> steps; // requests in order
    bool keyOff;             // the key goes off at the last step
    std::int64_t keyOnAtMs;  // when the key goes on (-1: never)
};

class IgnitionDriverTest : public ::testing::TestWithParam<DriverCase> {};

TEST_P(IgnitionDriverTest, Acts) {
    const DriverCase& c = GetParam();
    IgnitionDriver d;
    IgnitionDriver::Action last = IgnitionDriver::Action::None;
    int offs = 0;
    for (const Step& s : c.steps) {
        last = d.OnRequest(s.request, c.ignitionOn, s.atMs);
        if (last == IgnitionDriver::Action::KeyOff) ++offs;
    }
    EXPECT_EQ(last == IgnitionDriver::Action::KeyOff, c.keyOff);
    EXPECT_LE(offs, 1);
    const std::int64_t end = c.steps.back().atMs;
    if (c.keyOnAtMs < 0) {
        EXPECT_FALSE(d.KeyOnDue(end + 100000));
    } else {
        EXPECT_FALSE(d.KeyOnDue(c.keyOnAtMs - 1));
        EXPECT_TRUE(d.KeyOnDue(c.keyOnAtMs));
        EXPECT_FALSE(d.KeyOnDue(c.keyOnAtMs + 1)); // once only
    }
}

constexpr std::uint8_t kIgn = 0x81, kDetect = 0x82, kRam = 0x84, kPing = 't';

INSTANTIATE_TEST_SUITE_P(
    Cases, IgnitionDriverTest,
    ::testing::Values(
        // The "Turn ignition OFF" wait: polls every 0.1 s and nothing else.
        DriverCase{"QuickPollsTurnTheKeyOff", true, {{kIgn, 0}, {kIgn, 100}, {kIgn, 200}}, true, -1},
        // The program's own ignition check once a second must not move the key.
        DriverCase{"SlowPollsLeaveIt", true, {{kIgn, 0}, {kIgn, 1000}, {kIgn, 2000}, {kIgn, 3000}}, false, -1},
        // A monitor polls the ignition between its RAM reads.
        DriverCase{"PollsBetweenOtherRequestsLeaveIt",
                   true,
                   {{kIgn, 0}, {kRam, 10}, {kIgn, 100}, {kRam, 110}, {kIgn, 200}, {kPing, 210}, {kIgn, 300}},
                   false,
                   -1},
        DriverCase{"GapResetsTheRun", true, {{kIgn, 0}, {kIgn, 100}, {kIgn, 400}, {kIgn, 500}}, false, -1},
        // With the key off already there is nothing to switch off.
        DriverCase{"KeyAlreadyOff", false, {{kIgn, 0}, {kIgn, 100}, {kIgn, 200}}, false, -1},
        // "Turn ignition ON": the detection starts with the key off.
        DriverCase{"DetectionWithKeyOffTurnsItOn",
                   false,
                   {{kIgn, 0}, {kDetect, 1000}, {0x8B, 1100}},
                   false,
                   1000 + IgnitionDriver::kKeyOnDelayMs},
        // The module firmware update starts a detection with the key on: leave it.
        DriverCase{"DetectionWithKeyOnLeavesIt", true, {{kDetect, 0}, {0x8B, 330}}, false, -1}),
    [](const ::testing::TestParamInfo<DriverCase>& info) { return std::string(info.param.name); });

} // namespace

} // namespace kv
