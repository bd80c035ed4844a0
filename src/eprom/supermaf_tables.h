#pragma once
// Data of the SuperMAF conversions: what LH23_MakeSuperMAF and LH22_MakeSuperMAF write into an
// image. Plain data with no other dependency, so the base-image generator can build the SuperMAF
// base images from the same tables.
#include <array>
#include <cstdint>

namespace kv {

namespace supermaf {

struct AddressValue {
    std::int32_t address;
    std::uint8_t value;
};

// --- LH 2.3 (kind 3) ---

// Air-flow linearisation: the 16 x 16 words of map 3 in row order. Word 15 (map 3 + 30) is 0,
// which is what marks an LH 2.3 image as a SuperMAF image.
extern const std::array<std::uint16_t, 256> kLH23AirFlowTable;
// The word at axis block + 17: the last air-flow axis point becomes 65536 - 65300 = 236.
inline constexpr std::uint16_t kLH23LastAxisWord = 65300;
// Air-flow axis steps written at axis block + 2 .. + 16 (index 0 = block + 2).
extern const std::array<std::uint8_t, 15> kLH23AxisSteps;
// Value of parameter entry 18 after the conversion.
inline constexpr std::uint8_t kLH23Entry18Value = 3;
// Single code bytes changed by the conversion (image addresses).
extern const std::array<AddressValue, 3> kLH23CodeBytes;

// --- LH 2.2 (kinds 6 and 7) ---

// Main fuel map (map 28): low 8 bits of the 256 cells, row order.
extern const std::array<std::uint8_t, 256> kLH22FuelMapLow;
// Upper-bit table of map 28: four cells per byte, bits 7..6 for the first.
extern const std::array<std::uint8_t, 64> kLH22FuelMapUpperBits;
// Air-flow axis steps at the MAF axis step table + 0 .. 14.
extern const std::array<std::uint8_t, 15> kLH22AxisSteps;
// Constants written before the idle-region check (image addresses).
extern const std::array<AddressValue, 6> kLH22Constants;
// Bytes 2448 .. 2457 holding kLH22IdleFrom become kLH22IdleTo.
inline constexpr std::int32_t kLH22IdleFirst = 2448;
inline constexpr std::int32_t kLH22IdleLast = 2457;
inline constexpr std::uint8_t kLH22IdleFrom = 240;
inline constexpr std::uint8_t kLH22IdleTo = 192;
// Written unconditionally after the idle region.
extern const std::array<AddressValue, 4> kLH22StartBytes;
// Written only where the byte is not 0 already.
extern const std::array<AddressValue, 2> kLH22NonZeroBytes;
// Written last.
extern const std::array<AddressValue, 8> kLH22TailBytes;

} // namespace supermaf

} // namespace kv
