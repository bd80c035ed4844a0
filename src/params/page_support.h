#pragma once
// Helpers shared by the four pages: reading and writing at a parameter index, the shown number
// formats and the rounding of stored values.
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"

#include <cstdint>
#include <string>

namespace kv::params {

inline std::int32_t Addr(const EPROM& image, int index) { return image.GetEPROMAddress(index); }
inline int ReadParam(const EPROM& image, int index, int offset = 0) {
    return image.ReadByte(Addr(image, index) + offset);
}
inline void WriteParam(EPROM& image, int index, int value, int offset = 0) {
    image.WriteByte(Addr(image, index) + offset, static_cast<std::uint8_t>(value & 0xFF));
}
// Bits `mask` of a parameter byte set to `bits`; the other bits kept.
inline void WriteBits(EPROM& image, int index, int mask, int bits) {
    WriteParam(image, index, (ReadParam(image, index) & ~mask) | (bits & mask));
}

// Rounded half to even to five decimals.
inline double Round5(double x) { return conv::RoundHalfEven(x * 100000.0) / 100000.0; }

inline std::string Fixed(double x, int decimals) { return conv::FormatFixed(x, decimals); }

// The byte of an up-down that runs over negative values: b = (-v) AND 255.
inline int NegByte(int v) { return (-v) & 0xFF; }

} // namespace kv::params
