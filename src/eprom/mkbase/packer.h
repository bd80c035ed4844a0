#pragma once
// The packer of the packed resource form read by UnpackResource: "F", "P", mode byte, then a
// token stream (mode 1: scrambled with the program's 7-byte key, the key index restarting
// every 7 bytes). Tokens, each with a 14-bit count n in the low 6 bits of the first byte and
// the second byte:
//   0x00 | n>>8, n & 0xFF, n literal bytes
//   0x40 | n>>8, n & 0xFF, value              (value written n times)
//   0x80 | n>>8, n & 0xFF, dHi, dLo           (n bytes copied from d bytes back)
//   0xC0                                      (end of data)
#include <cstdint>
#include <vector>

namespace kv {

namespace mkbase {

inline constexpr std::uint8_t kPackModePlain = 0;
inline constexpr std::uint8_t kPackModeScrambled = 1;

// Packs data in the given mode (0 or 1). UnpackResource of the result gives data back.
std::vector<std::uint8_t> PackResource(const std::vector<std::uint8_t>& data, std::uint8_t mode);

} // namespace mkbase

} // namespace kv
