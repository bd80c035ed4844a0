// The value colour scale of the maps: its ends and middle, and text that stays readable on it.
#include "maps/heat_colours.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {
namespace {

double Luminance(Rgb c) {
    auto linear = [](std::uint8_t v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

TEST(HeatColours, EndsMiddleAndOutOfRange) {
    const Rgb low = HeatColour(-128, -128, 127);
    const Rgb high = HeatColour(127, -128, 127);
    const Rgb mid = HeatColour(-0.5, -128, 127);
    EXPECT_GT(low.b, low.r) << "the low end is blue";
    EXPECT_GT(high.r, high.b) << "the high end is red";
    EXPECT_GT(mid.g, mid.b) << "the middle is green";
    EXPECT_GT(mid.g, mid.r);
    const struct {
        double value, low, high;
        Rgb expected;
    } cases[] = {
        {-500, -128, 127, low},           // below the range: its end
        {500, -128, 127, high},           // above the range
        {7, 7, 7, HeatColour(0.5, 0, 1)}, // a range of no width
        {std::numeric_limits<double>::quiet_NaN(), 0, 1, HeatColour(0.5, 0, 1)},
        {12.5, 10, 15, HeatColour(0.5, 0, 1)}, // the scale is relative
    };
    for (const auto& c : cases) EXPECT_EQ(HeatColour(c.value, c.low, c.high), c.expected) << c.value;
}

TEST(HeatColours, ValuesCloseTogetherGetDifferentColours) {
    // Neighbouring counts of a 16-count range are told apart.
    for (int v = 0; v < 16; ++v) EXPECT_FALSE(HeatColour(v, 0, 16) == HeatColour(v + 1, 0, 16)) << v;
}

TEST(HeatColours, TheChosenTextColourIsReadableEverywhereOnTheScale) {
    double worst = 100.0;
    for (int i = 0; i <= 1000; ++i) {
        const Rgb bg = HeatColour(i, 0, 1000);
        const double l = Luminance(bg);
        const double contrast = DarkTextOn(bg) ? (l + 0.05) / 0.05 : 1.05 / (l + 0.05);
        worst = std::min(worst, contrast);
    }
    EXPECT_GE(worst, 4.5) << "the contrast normal text needs";
    EXPECT_TRUE(DarkTextOn({255, 255, 255}));
    EXPECT_FALSE(DarkTextOn({0, 0, 0}));
}

} // namespace
} // namespace kv
