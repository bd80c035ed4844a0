#pragma once
// CRC-16 of block transfers and firmware files: register 0x5AA5, reflected polynomial 0x8408,
// finished by two zero bytes; the result goes out low byte first. CRC of "abc" is 0x9DC1.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {

class Crc16 {
public:
    void CRC_Init() { reg_ = 0x5AA5; }
    void CRC_Update(std::uint8_t b);
    void CRC_Update(const std::uint8_t* data, std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) CRC_Update(data[i]);
    }
    std::uint16_t CRC_Finish() {
        CRC_Update(0);
        CRC_Update(0);
        return reg_;
    }
    bool CRC_IsZero() const { return reg_ == 0; }
    std::uint16_t Register() const { return reg_; }

private:
    std::uint16_t reg_ = 0x5AA5;
};
// CRC of a whole buffer (init, data, finish).
std::uint16_t Crc16Of(const std::vector<std::uint8_t>& data);

} // namespace kv
