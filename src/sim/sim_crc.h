#pragma once
// Block checksum of the device protocol: 16-bit register initialised to 0x5AA5, bits fed in
// least significant first, reflected polynomial 0x8408, finished by feeding two zero bytes.
// The result is sent low byte first; a receiver that feeds the data and then the two received
// bytes ends with the register at 0.
#include <cstddef>
#include <cstdint>

namespace kv {

class SimCrc {
public:
    void Update(std::uint8_t b) {
        for (int i = 0; i < 8; ++i) {
            const bool out = (reg_ & 1U) != 0;
            reg_ = static_cast<std::uint16_t>(reg_ >> 1);
            if ((b & 1U) != 0) reg_ = static_cast<std::uint16_t>(reg_ | 0x8000U);
            b = static_cast<std::uint8_t>(b >> 1);
            if (out) reg_ = static_cast<std::uint16_t>(reg_ ^ 0x8408U);
        }
    }
    void Update(const std::uint8_t* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) Update(data[i]);
    }
    std::uint16_t Finish() {
        Update(0);
        Update(0);
        return reg_;
    }
    std::uint16_t Register() const { return reg_; }

private:
    std::uint16_t reg_ = 0x5AA5;
};

} // namespace kv
