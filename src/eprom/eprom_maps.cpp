// The map catalogue: map ids 1..40, cell addressing per creator layout, and the axes.
#include "eprom/eprom_image.h"

#include <algorithm>

namespace kv {

namespace {

// Entry of the address table that holds map id m.
int MapEntry(int mapId) {
    if (mapId >= 1 && mapId <= 27) return 100 + mapId;
    if (mapId == 28) return 128;
    if (mapId >= 29 && mapId <= 40) return 103 + mapId;
    return 0;
}

int CellWidth(int mapId) { return mapId == 3 ? 2 : 1; }

int Dimensions(int mapId) {
    switch (mapId) {
    case 1:
    case 2:
    case 3:
    case 16:
    case 17:
    case 18:
    case 28:
    case 33: return 2;
    default: return 1;
    }
}

bool IsLHMainMap(int mapId) { return mapId >= 1 && mapId <= 3; }
bool IsReversed(int mapId) { return mapId >= 13 && mapId <= 15; }

// Entries of the axis data.
constexpr int kLHAxisBlock = 100;
constexpr int kLH22UpperBits = 129;
constexpr int kLH22RPMSteps = 130;
constexpr int kLH22MAFSteps = 131;
constexpr int kEZFRPMAxis = 144;
constexpr int kEZFLoadAxis = 145;

std::int32_t Limit(std::int32_t v, std::int32_t lo, std::int32_t hi) { return std::clamp(v, lo, hi); }

} // namespace

std::int32_t EPROM::GetMapAddr(int mapId) const {
    const int entry = MapEntry(mapId);
    return entry == 0 ? 0 : epromAddresses_[static_cast<std::size_t>(entry)];
}

std::int32_t EPROM::SumBytes(std::int32_t address, int count) const {
    std::int32_t sum = 0;
    for (int k = 0; k < count; ++k) sum += ReadByte(address + k);
    return sum;
}

// Creator-1 axis block at blockAddress: unused byte, n, then n step bytes.
std::uint8_t EPROM::StepCodedPoint(std::int32_t blockAddress, int index) const {
    const int n = ReadByte(blockAddress + 1);
    const int i = std::clamp(index, 0, std::max(n - 1, 0));
    const std::int32_t sum = SumBytes(blockAddress + 2 + i, n - i);
    return static_cast<std::uint8_t>(Limit(256 - sum, 0, 255));
}

std::int32_t EPROM::CellAddress(int mapId, int x, int y) const {
    std::int32_t address = GetMapAddr(mapId);
    const int width = CellWidth(mapId);
    if (GetCreator() == 2) {
        if (!IsLHMainMap(mapId))
            for (int d = 0; d < Dimensions(mapId); ++d) address += ReadByte(address) + 1;
        return address + width * x + 16 * width * y;
    }
    if (GetECUType() == EcuType::LH23 && !IsLHMainMap(mapId))
        for (int d = 0; d < Dimensions(mapId); ++d) address += ReadByte(address + 1) + 2;
    if (IsReversed(mapId)) return address + 16 * width * y + (14 - x) * width + 1;
    return address + width * x + 16 * width * y;
}

std::int32_t EPROM::ReadMapCell(int mapId, int x, int y) const {
    const std::int32_t c = CellAddress(mapId, x, y);
    if (CellWidth(mapId) == 2) return ReadWord(c);
    if (mapId == 28 && GetCreator() == 1) {
        // 10-bit cells: the upper two bits sit in the upper-bit table, four cells per byte
        const std::int32_t index = c - GetMapAddr(28);
        if (index < 0) return ReadByte(c);
        const std::uint8_t upper = ReadByte(epromAddresses_[kLH22UpperBits] + index / 4);
        const int shift = 6 - 2 * (index % 4);
        return ReadByte(c) | (((upper >> shift) & 3) << 8);
    }
    return ReadByte(c);
}

void EPROM::WriteMapCell(int mapId, int x, int y, std::int32_t value) {
    const std::int32_t c = CellAddress(mapId, x, y);
    if (CellWidth(mapId) == 2) {
        WriteWord(c, value);
        return;
    }
    WriteByte(c, static_cast<std::uint8_t>(value & 0xFF));
    if (mapId == 28 && GetCreator() == 1) {
        const std::int32_t index = c - GetMapAddr(28);
        if (index < 0) return;
        const std::int32_t upperAddress = epromAddresses_[kLH22UpperBits] + index / 4;
        const int shift = 6 - 2 * (index % 4);
        const int cleared = ReadByte(upperAddress) & ~(3 << shift);
        WriteByte(upperAddress, static_cast<std::uint8_t>(cleared | (((value >> 8) & 3) << shift)));
    }
}

int EPROM::GetMapXAxisWidth(int mapId) const {
    const std::int32_t address = GetMapAddr(mapId);
    if (GetCreator() == 2) return IsLHMainMap(mapId) ? 16 : ReadByte(address);
    switch (mapId) {
    case 1:
    case 2:
    case 3:
    case 28: return 16;
    case 13:
    case 14:
    case 15: return 15;
    case 29:
    case 30:
    case 32: return 17;
    case 31: return 9;
    case 33:
    case 34:
    case 35: return 16;
    case 36:
    case 37:
    case 38:
    case 39:
    case 40: return 5;
    default: return ReadByte(address + 1);
    }
}

std::uint8_t EPROM::GetMapXAxisPoint(int mapId, int x) const {
    const std::int32_t address = GetMapAddr(mapId);
    if (GetCreator() == 2) {
        if (IsLHMainMap(mapId)) return LH_GetRPMAxisPoint(x);
        return ReadByte(address + 1 + x);
    }
    switch (mapId) {
    case 1:
    case 2:
    case 3:
    case 28: return LH_GetRPMAxisPoint(x);
    case 33:
    case 34:
    case 35: return static_cast<std::uint8_t>(EZF_GetRPMAxisPoint(x) & 0xFF);
    case 29:
    case 30:
    case 32: return x >= 0 && x < 16 ? static_cast<std::uint8_t>(16 * x) : 255;
    case 31: return x >= 0 && x < 8 ? static_cast<std::uint8_t>(32 * x) : 255;
    default: return StepCodedPoint(address, x);
    }
}

std::uint8_t EPROM::GetMapYAxisWidth(int mapId) const {
    const std::int32_t address = GetMapAddr(mapId);
    if (GetCreator() == 2) {
        if (IsLHMainMap(mapId)) return 16;
        return ReadByte(address + ReadByte(address) + 1);
    }
    switch (mapId) {
    case 1:
    case 2:
    case 3:
    case 28:
    case 33: return 16;
    default: return ReadByte(address + ReadByte(address + 1) + 3);
    }
}

std::uint8_t EPROM::GetMapYAxisPoint(int mapId, int y) const {
    const std::int32_t address = GetMapAddr(mapId);
    if (GetCreator() == 2) {
        if (IsLHMainMap(mapId)) return static_cast<std::uint8_t>(LH_GetMAFAxisPoint(y) & 0xFF);
        const std::int32_t second = address + 1 + ReadByte(address);
        return ReadByte(second + 1 + y);
    }
    switch (mapId) {
    case 1:
    case 2:
    case 3:
    case 28: return static_cast<std::uint8_t>(LH_GetMAFAxisPoint(y) & 0xFF);
    default: return StepCodedPoint(address + ReadByte(address + 1) + 2, y);
    }
}

std::uint8_t EPROM::LH_GetRPMAxisPoint(int index) const {
    const int i = std::clamp(index, 0, 15);
    const std::int32_t block = epromAddresses_[kLHAxisBlock];
    if (GetCreator() == 2) return ReadByte(block + 1 + i);
    switch (GetECUType()) {
    case EcuType::LH23: return static_cast<std::uint8_t>(Limit(256 - SumBytes(block + 21 + i, 16 - i), 0, 255));
    case EcuType::LH22: {
        const std::int32_t anchor = ReadByte(GetEPROMAddress(45));
        const std::int32_t v = 256 - anchor + SumBytes(epromAddresses_[kLH22RPMSteps], i);
        return static_cast<std::uint8_t>(Limit(v, 0, 255));
    }
    default: return 0;
    }
}

std::int32_t EPROM::LH_GetMAFAxisPoint(int index) const {
    const int i = std::clamp(index, 0, 15);
    const std::int32_t block = epromAddresses_[kLHAxisBlock];
    if (GetCreator() == 2) return ReadWord(block + 19 + 2 * i);
    switch (GetECUType()) {
    case EcuType::LH23: return 65536 - ReadWord(block + 17) - SumBytes(block + 2 + i, 15 - i);
    case EcuType::LH22: {
        const std::int32_t h = ReadByte(GetEPROMAddress(43));
        const std::int32_t l = ReadByte(GetEPROMAddress(44));
        return (256 - h) * 256 - l - SumBytes(epromAddresses_[kLH22MAFSteps], i);
    }
    default: return 0;
    }
}

namespace {

// (256 - byte(E)) + ... + (256 - byte(E + i)) over a reader of bytes.
template <typename Reader>
std::int32_t EZFAxisSum(Reader read, std::int32_t e, int i) {
    std::int32_t v = 0;
    for (int k = 0; k <= i; ++k) v += 256 - read(e + k);
    return v;
}

} // namespace

std::int32_t EPROM::EZF_GetRPMAxisPoint(int index) const {
    const int i = std::clamp(index, 0, kWindowSize);
    const auto read = [this](std::int32_t a) { return static_cast<std::int32_t>(ReadByte(a)); };
    return Limit(EZFAxisSum(read, epromAddresses_[kEZFRPMAxis], i), 0, 65535);
}

std::int32_t EPROM::EZF_GetLoadAxisPoint(int index) const {
    const int i = std::clamp(index, 0, 15);
    const auto read = [this](std::int32_t a) { return static_cast<std::int32_t>(ReadByte(a)); };
    return Limit(EZFAxisSum(read, epromAddresses_[kEZFLoadAxis], i), 0, 65535);
}

std::uint8_t EPROM::EZF_GetAirTempAxisPoint(int selector, int index) const {
    const std::int32_t e = selector == 1 ? epromAddresses_[146] : selector == 2 ? epromAddresses_[147] : 0;
    const int i = std::clamp(index, 0, 4);
    const auto read = [this](std::int32_t a) { return static_cast<std::int32_t>(ReadByte(a)); };
    return static_cast<std::uint8_t>(Limit(EZFAxisSum(read, e, i), 0, 255));
}

std::uint8_t EPROM::EZF_GetCoolantTempAxisPoint(int selector, int index) const {
    const std::int32_t e = selector == 0   ? epromAddresses_[148]
                           : selector == 1 ? epromAddresses_[149]
                           : selector == 2 ? epromAddresses_[150]
                                           : 0;
    const int i = std::clamp(index, 0, 4);
    const auto read = [this](std::int32_t a) { return static_cast<std::int32_t>(ReadByte(a)); };
    return static_cast<std::uint8_t>(Limit(EZFAxisSum(read, e, i), 0, 255));
}

std::int32_t EPROM::EZK_GetRPMAxisPoint_Bosch(int selector, int index) const {
    const std::int32_t t = selector == 1   ? epromAddresses_[29]
                           : selector == 2 ? epromAddresses_[30]
                                           : epromAddresses_[31];
    const int i = std::clamp(index, 0, 15);
    const std::int32_t value = 256 + ReadByte(t + 15) + 4 * SumBytes(t, i);
    return i == 0 ? value - 1 : value;
}

std::int32_t EPROM::GetEZKRPMAxisPoint_MRXC(int, int) const { return 0; }

std::int32_t EPROM::EZK_GetRPMAxisPoint(int selector, int index) const {
    return GetCreator() == 2 ? GetEZKRPMAxisPoint_MRXC(selector, index) : EZK_GetRPMAxisPoint_Bosch(selector, index);
}

} // namespace kv
