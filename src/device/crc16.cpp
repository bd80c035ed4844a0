#include "device/crc16.h"

namespace kv {

void Crc16::CRC_Update(std::uint8_t b) {
    for (int i = 0; i < 8; ++i) {
        const bool out = (reg_ & 1) != 0;
        reg_ = static_cast<std::uint16_t>(reg_ >> 1);
        if (b & 1) reg_ = static_cast<std::uint16_t>(reg_ | 0x8000);
        b = static_cast<std::uint8_t>(b >> 1);
        if (out) reg_ = static_cast<std::uint16_t>(reg_ ^ 0x8408);
    }
}

std::uint16_t Crc16Of(const std::vector<std::uint8_t>& data) {
    Crc16 crc;
    crc.CRC_Init();
    crc.CRC_Update(data.data(), data.size());
    return crc.CRC_Finish();
}

} // namespace kv
