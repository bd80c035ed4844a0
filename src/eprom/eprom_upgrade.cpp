// Wholesale rewrites of an image: the version upgrade from a base image of the current revision
// and the SuperMAF conversions of the LH units.
#include "eprom/edit_step.h"
#include "eprom/eprom_image.h"

#include "eprom/supermaf_tables.h"

#include <algorithm>
#include <array>

namespace kv {

namespace {

struct Range {
    std::int32_t first;
    std::int32_t last; // inclusive
};

// LH 2.3: what the base image brings along (program code, code constants, revision, marker).
constexpr std::array<Range, 6> kLH23UpgradeRanges = {
    {{0, 12287}, {12413, 12413}, {12420, 12421}, {15104, 15145}, {15312, 16372}, {16375, 16383}}};

// EZK: ranges copied unless protected, and ranges copied whatever they hold.
constexpr std::array<Range, 4> kEZKUpgradeRanges = {{{0, 4095}, {7168, 15871}, {16011, 16357}, {16363, 16383}}};
constexpr std::array<Range, 3> kEZKUpgradeAlways = {{{4800, 4815}, {5824, 5839}, {6848, 6863}}};
constexpr std::array<std::int32_t, 3> kEZKMainMaps = {4096, 5120, 6144};
constexpr std::array<int, 5> kEZKProtectedEntries = {34, 38, 39, 40, 41};
constexpr std::int32_t kEZKKeepFlagByte = 4800;
constexpr std::int32_t kEZKSuperMAFFlag = 16363;

} // namespace

void EPROM::UpgradeVersion(const EPROM& source, bool toSuperMAF) {
    const auto copy = [this, &source](std::int32_t address) {
        if (address < 0 || static_cast<std::size_t>(address) >= image_.size()) return;
        if (static_cast<std::size_t>(address) >= source.image_.size()) return;
        image_[static_cast<std::size_t>(address)] = source.image_[static_cast<std::size_t>(address)];
    };
    const auto store = [this](std::int32_t address, std::uint8_t value) {
        if (address >= 0 && static_cast<std::size_t>(address) < image_.size())
            image_[static_cast<std::size_t>(address)] = value;
    };

    switch (source.GetECUType()) {
    case EcuType::LH23:
        for (const Range& r : kLH23UpgradeRanges)
            for (std::int32_t a = r.first; a <= r.last; ++a) copy(a);
        break;
    case EcuType::EZK: {
        const int revision = GetRevision();
        const bool keepFlag = revision == 6 && ReadByte(kEZKKeepFlagByte) == 0xCC;
        if (revision < 7 && toSuperMAF && !keepFlag) {
            // The SuperMAF load axis covers twice the range: rows r0, r2, ..., r14, then r15 eight times.
            for (const std::int32_t map : kEZKMainMaps) {
                std::array<std::array<std::uint8_t, 16>, 16> rows{};
                for (int row = 0; row < 16; ++row)
                    for (int col = 0; col < 16; ++col) rows[row][col] = ReadByte(map + 16 * row + col);
                for (int row = 0; row < 16; ++row) {
                    const int from = row < 8 ? 2 * row : 15;
                    for (int col = 0; col < 16; ++col) store(map + 16 * row + col, rows[from][col]);
                }
            }
        }
        // Parameters that the user's tune keeps. A kind without parameter entries has none
        // (entry 0 is no address).
        std::array<std::int32_t, kEZKProtectedEntries.size()> protectedAddresses{};
        for (std::size_t i = 0; i < kEZKProtectedEntries.size(); ++i)
            protectedAddresses[i] = GetEPROMAddress(kEZKProtectedEntries[i]);
        const auto isProtected = [&protectedAddresses](std::int32_t a) {
            return a != 0 &&
                   std::find(protectedAddresses.begin(), protectedAddresses.end(), a) != protectedAddresses.end();
        };
        for (const Range& r : kEZKUpgradeRanges)
            for (std::int32_t a = r.first; a <= r.last; ++a)
                if (!isProtected(a)) copy(a);
        for (const Range& r : kEZKUpgradeAlways)
            for (std::int32_t a = r.first; a <= r.last; ++a) copy(a);
        if (keepFlag) store(kEZKSuperMAFFlag, 1);
        break;
    }
    default: return; // nothing copied, the image stays as it was
    }

    // The upgraded bytes carry the base image's markers: decide the kind again so that maps,
    // parameters and patch lists follow the new layout, and put the device values in place.
    DecideKind();
    ApplyPatchList(devicePatches_);
}

void EPROM::LH23_MakeSuperMAF() {
    const EditStep step(*context_, kSuperMafStepName);
    const std::int32_t map3 = GetEPROMAddress(103);
    for (std::size_t k = 0; k < supermaf::kLH23AirFlowTable.size(); ++k)
        WriteWord(map3 + static_cast<std::int32_t>(2 * k), supermaf::kLH23AirFlowTable[k]);

    const std::int32_t axis = GetEPROMAddress(100);
    WriteWord(axis + 17, supermaf::kLH23LastAxisWord);
    for (std::size_t k = supermaf::kLH23AxisSteps.size(); k-- > 0;)
        WriteByte(axis + 2 + static_cast<std::int32_t>(k), supermaf::kLH23AxisSteps[k]);

    WriteByte(GetEPROMAddress(18), supermaf::kLH23Entry18Value);
    for (const auto& [address, value] : supermaf::kLH23CodeBytes) WriteByte(address, value);
}

void EPROM::LH22_MakeSuperMAF() {
    const EditStep step(*context_, kSuperMafStepName);
    const std::int32_t map28 = GetEPROMAddress(128);
    for (std::size_t k = 0; k < supermaf::kLH22FuelMapLow.size(); ++k)
        WriteByte(map28 + static_cast<std::int32_t>(k), supermaf::kLH22FuelMapLow[k]);
    const std::int32_t upper = GetEPROMAddress(129);
    for (std::size_t k = 0; k < supermaf::kLH22FuelMapUpperBits.size(); ++k)
        WriteByte(upper + static_cast<std::int32_t>(k), supermaf::kLH22FuelMapUpperBits[k]);
    const std::int32_t steps = GetEPROMAddress(131);
    for (std::size_t k = 0; k < supermaf::kLH22AxisSteps.size(); ++k)
        WriteByte(steps + static_cast<std::int32_t>(k), supermaf::kLH22AxisSteps[k]);

    for (const auto& [address, value] : supermaf::kLH22Constants) WriteByte(address, value);
    for (std::int32_t a = supermaf::kLH22IdleFirst; a <= supermaf::kLH22IdleLast; ++a)
        if (ReadByte(a) == supermaf::kLH22IdleFrom) WriteByte(a, supermaf::kLH22IdleTo);
    for (const auto& [address, value] : supermaf::kLH22StartBytes) WriteByte(address, value);
    for (const auto& [address, value] : supermaf::kLH22NonZeroBytes)
        if (ReadByte(address) != 0) WriteByte(address, value);
    for (const auto& [address, value] : supermaf::kLH22TailBytes) WriteByte(address, value);
}

} // namespace kv
