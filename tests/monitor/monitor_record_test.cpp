#include "monitor/monitor_record.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(MonitorFormat, Sections) {
    struct Case {
        double value;
        const char* format;
        const char* expected;
    } cases[] = {
        {12.345, "0.00", "12.35"},   {-0.004, "0.00", "0.00"},          {-3.21, "0.0", "-3.2"},
        {0.04, "+0.0;-0.0;0.0", "0.0"}, {1.25, "+0.0;-0.0;0.0", "+1.2"}, {-7.06, "+0.0;-0.0;0.0", "-7.1"},
        {0.0, "+0.0;-0.0;0", "0"},   {-0.5, "0.00;-0.00;0.00", "-0.50"}, {36.4, "0", "36"},
        {std::numeric_limits<double>::infinity(), "0.0", "0.0"},
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
