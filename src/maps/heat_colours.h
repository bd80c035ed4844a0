#pragma once
// The colour scale that shows a map's values at a glance: blue at the low end of the map's range,
// through cyan, green and yellow, to red at the high end; and the text colour that stays readable
// on each of them.
#include <cstdint>

namespace kv {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Colour of `value` on the scale from `low` to `high` (values outside are drawn at the ends; a
// range of no width, or a value that is not a number, gives the middle of the scale).
Rgb HeatColour(double value, double low, double high);

// True when black text reads better than white on `background` (by its perceived luminance).
bool DarkTextOn(Rgb background);

} // namespace kv
