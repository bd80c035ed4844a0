#include "monitor/monitor_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace kv {

namespace {

TEST(MonitorFormat, Sections) {
    struct Case {
        double value;
        const char* format;
        const char* expected;
    } cases[] = {
        {12.345, "0.00", "12.35"},
        {-0.004, "0.00", "0.00"},
        {-3.21, "0.0", "-3.2"},
        {0.04, "+0.0;-0.0;0.0", "0.0"},
        {1.25, "+0.0;-0.0;0.0", "+1.3"},
        {-7.06, "+0.0;-0.0;0.0", "-7.1"},
        {0.0, "+0.0;-0.0;0", "0"},
        {-0.5, "0.00;-0.00;0.00", "-0.50"},
        {36.4, "0", "36"},
        {std::numeric_limits<double>::infinity(), "0.0", "0.0"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.format), c.expected) << c.value << " " << c.format;
}

// The monitors round as the map grid does: a decimal half goes away from zero, judged on the
// value's decimal text, whether or not the half is exact in binary.
TEST(MonitorFormat, HalvesRoundAwayFromZeroAsInTheGrid) {
    struct Case {
        double value;
        const char* format;
        const char* expected;
    } cases[] = {
        {2.25, "0.0", "2.3"}, // a knock retard of 6 x 6/16 degrees
        {-2.25, "0.0", "-2.3"},
        {9.625, "0.00", "9.63"},
        {0.125, "0.00", "0.13"},
        {0.5, "0", "1"},
        {2.5, "0", "3"},
        {-0.05, "0.0", "-0.1"},
        {0.05, "+0.0;-0.0;0.0", "+0.1"},
        {-0.05, "+0.0;-0.0;0.0", "-0.1"},
        {0.049999, "+0.0;-0.0;0.0", "0.0"},
        {59.85, "0.0", "59.9"},  // 59.849999999999994 in binary
        {1.005, "0.00", "1.01"}, // 1.00499999999999989 in binary
        {0.15, "0.0", "0.2"},
        {-0.004, "0.00", "0.00"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatNumber(c.value, c.format), c.expected) << c.value << " " << c.format;
}

TEST(MonitorRecord, FieldsAndValidity) {
    RecordLayout l;
    l.Add(17, 1);
    l.Add(29, 3);
    l.Add(72, 2);
    const std::vector<std::uint8_t> record = {1, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xFF};
    RecordFields f(l, record); // longer than needed: fine
    ASSERT_TRUE(f.Valid());
    EXPECT_EQ(f.LowFirst(1), 0x563412);
    EXPECT_EQ(f.Ram(1, false), 0x123456);
    EXPECT_EQ(f.Ram(1, true), 0x563412);
    EXPECT_EQ(f.Ram(2, false), 0x789A);
    EXPECT_EQ(f.Byte(2, 5), 0);
    EXPECT_EQ(f.Byte(7), 0);
    EXPECT_FALSE(RecordFields(l, {1, 2, 3, 4, 5}).Valid());
    EXPECT_FALSE(RecordFields(l, {0, 2, 3, 4, 5, 6}).Valid());
    EXPECT_EQ(RecordFields(l, {0, 2, 3, 4, 5, 6}).LowFirst(1), 0);
}

TEST(MonitorRecord, SwitchInputsAndInterval) {
    EXPECT_EQ(ThrottleFromSwitchInputs(100, 60000), 0);
    EXPECT_EQ(ThrottleFromSwitchInputs(60000, 60000), 1);
    EXPECT_EQ(ThrottleFromSwitchInputs(60000, 100), 2);
    EXPECT_EQ(ThrottleFromSwitchInputs(100, 100), kNoItem);
    EXPECT_EQ(NextMonitorInterval(50), 50);
    EXPECT_EQ(NextMonitorInterval(500), 20);
}

} // namespace

} // namespace kv
