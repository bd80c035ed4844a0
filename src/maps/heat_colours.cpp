#include "maps/heat_colours.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace kv {

namespace {

// Stops of the scale, evenly spaced from 0 to 1. Softened so that dark text stays readable on
// all but the two ends.
constexpr std::array<Rgb, 5> kStops{{
    {0x4A, 0x6F, 0xE3}, // blue
    {0x6C, 0xC8, 0xE8}, // cyan
    {0x8E, 0xD8, 0x7A}, // green
    {0xF5, 0xD8, 0x5A}, // yellow
    {0xE0, 0x4A, 0x3A}, // red
}};

std::uint8_t Mix(std::uint8_t a, std::uint8_t b, double f) {
    return static_cast<std::uint8_t>(std::lround(a + (b - a) * f));
}

} // namespace

Rgb HeatColour(double value, double low, double high) {
    double f = 0.5;
    if (high > low && std::isfinite(value)) f = std::clamp((value - low) / (high - low), 0.0, 1.0);
    const double at = f * static_cast<double>(kStops.size() - 1);
    const auto i = std::min(static_cast<std::size_t>(at), kStops.size() - 2);
    const double t = at - static_cast<double>(i);
    const Rgb& a = kStops[i];
    const Rgb& b = kStops[i + 1];
    return {Mix(a.r, b.r, t), Mix(a.g, b.g, t), Mix(a.b, b.b, t)};
}

bool DarkTextOn(Rgb background) {
    // Relative luminance of sRGB colours; black text wins above the point where the contrast
    // ratios against black and white are equal (about 0.179).
    auto linear = [](std::uint8_t c) {
        const double s = c / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    const double l = 0.2126 * linear(background.r) + 0.7152 * linear(background.g) + 0.0722 * linear(background.b);
    return l > 0.179;
}

} // namespace kv
