// Parameters and variables: the per-kind address tables and the named parameter operations
// that switch firmware features by rewriting code bytes.
#include "eprom/eprom_image.h"

#include <cmath>

namespace kv {

namespace {

// EZK: the byte that decides whether wide-open throttle is ignored ("?") or not ("n").
constexpr std::int32_t kEZKWOTSwitch = 3058;
constexpr std::uint8_t kWOTIgnored = '?';
constexpr std::uint8_t kWOTUsed = 'n';

// LH 2.3 fixed idle-valve pulse width: stored value and the code switch that uses it.
constexpr std::int32_t kFixedISVHigh = 16361;
constexpr std::int32_t kFixedISVLow = 16362;
constexpr int kFixedISVDefault = 1920;
constexpr int kFixedISVLimit = 3841;
constexpr std::int32_t kISVSwitch1 = 1108;
constexpr std::int32_t kISVOperandLow = 1109;
constexpr std::int32_t kISVSwitch2 = 1111;
constexpr std::int32_t kISVOperandHigh = 1112;

template <std::size_t N>
std::int32_t Entry(const std::array<std::int32_t, N>& table, int n) {
    return (n >= 1 && static_cast<std::size_t>(n) < N) ? table[static_cast<std::size_t>(n)] : 0;
}

} // namespace

std::int32_t EPROM::GetVariableAddress(int n) const { return Entry(ramVariables_, n); }

std::int32_t EPROM::GetEPROMAddress(int n) const { return Entry(epromAddresses_, n); }

int EPROM::GetBitVariableNumber(int n) const { return static_cast<std::int16_t>(Entry(bitVariables_, n) & 0xFFFF); }

void EPROM::GetBitVariableAddress(int n, std::int32_t& byteAddress, int& mask) const {
    const int b = GetBitVariableNumber(n) & 0xFF; // the bit-addressable area holds bits 0..255
    byteAddress = 32 + b / 8;
    mask = 1 << (b % 8);
}

int EPROM::EZK_GetRPMCompensation(double rpm) const {
    // period of one ignition interval in 1.5 us ticks
    double t = 0;
    if (rpm != 0) t = std::nearbyint(((1.0 / (rpm / 60.0)) / 60.0) * 4.0 / 0.0000015);
    int k = 0;
    if (t > EZK_GetRPMAxisPoint(2, 0)) {
        if (t < EZK_GetRPMAxisPoint(2, 15)) {
            for (int i = 1; i <= 15; ++i) {
                if (EZK_GetRPMAxisPoint(2, i) > t) {
                    k = i - 1;
                    break;
                }
            }
        } else {
            k = 15;
        }
    }
    return static_cast<std::int8_t>(ReadByte(GetEPROMAddress(32) + k));
}

void EPROM::LH22_EnableO2Loop(bool enable) {
    const std::int32_t a = GetEPROMAddress(52);
    WriteByte(a, enable ? 246 : 4);
    WriteByte(a + 1, enable ? 116 : 125);
}

bool EPROM::LH22_IsO2LoopEnabled() const { return ReadByte(GetEPROMAddress(52)) == 246; }

bool EPROM::EZK_IsWOTIgnored() const { return ReadByte(kEZKWOTSwitch) == kWOTIgnored; }

void EPROM::EZK_SetWOTIgnored(bool ignore) {
    const std::uint8_t current = ReadByte(kEZKWOTSwitch);
    if (current != kWOTIgnored && current != kWOTUsed) return;
    WriteByte(kEZKWOTSwitch, ignore ? kWOTIgnored : kWOTUsed);
}

int EPROM::LH23_GetFixedISVPW() const {
    const int v = ReadByte(kFixedISVHigh) * 256 + ReadByte(kFixedISVLow);
    return v < kFixedISVLimit ? v : kFixedISVDefault;
}

void EPROM::LH23_SetFixedISVPW(int v) {
    const auto high = static_cast<std::uint8_t>((v >> 8) & 0xFF);
    const auto low = static_cast<std::uint8_t>(v & 0xFF);
    if (LH23_IsFixedISVPWEnabled()) {
        WriteByte(kISVOperandHigh, high);
        WriteByte(kISVOperandLow, low);
    }
    if (v == kFixedISVDefault) {
        WriteByte(kFixedISVHigh, 0xFF);
        WriteByte(kFixedISVLow, 0xFF);
    } else {
        WriteByte(kFixedISVHigh, high);
        WriteByte(kFixedISVLow, low);
    }
}

bool EPROM::LH23_IsFixedISVPWEnabled() const { return ReadByte(kISVSwitch1) != 229; }

void EPROM::LH23_EnableFixedISVPW(bool enable) {
    if (enable) {
        const int p = LH23_GetFixedISVPW();
        WriteByte(kISVSwitch1, 116);
        WriteByte(kISVOperandLow, static_cast<std::uint8_t>(p & 0xFF));
        WriteByte(kISVSwitch2, 116);
        WriteByte(kISVOperandHigh, static_cast<std::uint8_t>((p >> 8) & 0xFF));
    } else {
        WriteByte(kISVSwitch1, 229);
        WriteByte(kISVOperandLow, 53);
        WriteByte(kISVSwitch2, 229);
        WriteByte(kISVOperandHigh, 52);
    }
}

} // namespace kv
