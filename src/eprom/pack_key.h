#pragma once
// The 7-byte key of the packed resource form (mode 1). Built byte by byte at run time so that it
// never appears as one literal in the program; the packer of the base-image generator and the
// unpacker share it. No other use.
#include <array>
#include <cstdint>

namespace kv {

inline std::array<std::uint8_t, 7> PackedResourceKey() {
    std::array<std::uint8_t, 7> key{};
    std::uint8_t b = 0x5D;
    for (std::size_t i = 0; i < key.size(); ++i) {
        b = static_cast<std::uint8_t>(b * 37u + 0x1Bu + i);
        key[i] = static_cast<std::uint8_t>(b ^ 0xA6u);
    }
    return key;
}

} // namespace kv
