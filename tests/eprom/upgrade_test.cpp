// Version upgrade (copied ranges, EZK row compression, protected parameters, the kind decided
// again), the SuperMAF conversions, and the revision policy with its base-image names.
#include "eprom/base_images.h"
#include "eprom/supermaf_tables.h"
#include "eprom_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

struct Range {
    std::int32_t first, last;
};

bool InRanges(std::int32_t a, std::initializer_list<Range> ranges) {
    for (const auto& r : ranges)
        if (a >= r.first && a <= r.last) return true;
    return false;
}

Bytes BaseLH23(bool superMAF = false) {
    Bytes base = Filled(16384, 77);
    Put(base, 16368, "MRX-D");
    base[16367] = 8;
    if (superMAF) {
        base[13056 + 30] = 0;
        base[13056 + 31] = 0;
    }
    return base;
}

Bytes BaseEZK(bool superMAF = false) {
    Bytes base = Filled(16384, 78);
    Put(base, 16352, "MRX-D");
    base[16357] = 8;
    base[16363] = superMAF ? 1 : 0xFF;
    return base;
}

TEST(Upgrade, LH23TakesCodeFromTheBaseAndKeepsMapsAndParameters) {
    EPROM old;
    old.LoadFromArray(LH23Image(5));
    EPROM base;
    base.LoadFromArray(BaseLH23());
    const Bytes before = old.Bytes();

    old.UpgradeVersion(base, false);

    const int devicePatches[][2] = {{12462, 1}, {84, 176},  {11302, 176}, {9575, 0}, {9576, 0},
                                    {10065, 0}, {10066, 0}, {10104, 0},   {10105, 0}};
    Bytes expected(16384);
    for (std::int32_t a = 0; a < 16384; ++a) {
        const bool fromBase =
            InRanges(a, {{0, 12287}, {12413, 12413}, {12420, 12421}, {15104, 15145}, {15312, 16372}, {16375, 16383}});
        expected[static_cast<std::size_t>(a)] =
            fromBase ? base.Bytes()[static_cast<std::size_t>(a)] : before[static_cast<std::size_t>(a)];
    }
    for (const auto& p : devicePatches) expected[static_cast<std::size_t>(p[0])] = static_cast<std::uint8_t>(p[1]);
    EXPECT_EQ(old.Bytes(), expected);
    EXPECT_EQ(old.GetRevision(), 8);
    EXPECT_TRUE(old.HasBeenModified());
}

TEST(Upgrade, TypeAImageIsDecidedAgainAndEditsItsMapsAtTheNewAddresses) {
    Bytes typeA = Filled(16384, 5);
    Put(typeA, 16368, std::string("MRX\xFF\xFF", 5));
    RecordingDevice device;
    EpromContext context;
    context.device = &device;
    EPROM old(context);
    old.LoadFromArray(typeA);
    ASSERT_EQ(old.GetKind(), 1);
    EPROM base;
    base.LoadFromArray(BaseLH23());

    old.UpgradeVersion(base, false);
    EXPECT_TRUE(device.writes.empty()); // the upgrade itself sends nothing
    EXPECT_EQ(old.GetKind(), 3);
    EXPECT_EQ(old.GetName(), "928 LH S4/GT/GTS");
    EXPECT_EQ(old.GetMapAddr(1), 13568);
    EXPECT_EQ(old.ReadByte(12462), 1); // device patch list in place
    old.WriteMapCell(1, 0, 0, 0x42);
    EXPECT_EQ(old.ReadByte(13568), 0x42);
    EXPECT_EQ(DecideRevision(old), RevisionDecision::Keep);

    context.deviceIO = true;
    old.WriteMapCell(1, 1, 0, 0x43);
    ASSERT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.writes[0].unit, 1);
    EXPECT_EQ(device.writes[0].address, 13569);
}

// Main ignition maps with row r of map m holding 16 * m + r (plus the column in the low bits).
Bytes EZKWithRows(int revision, bool keepMarker) {
    Bytes image = EZKImage(revision);
    const std::int32_t maps[] = {4096, 5120, 6144};
    for (int m = 0; m < 3; ++m)
        for (int row = 0; row < 16; ++row)
            for (int col = 0; col < 16; ++col)
                image[static_cast<std::size_t>(maps[m] + 16 * row + col)] =
                    static_cast<std::uint8_t>(64 * m + 4 * row + col % 4);
    if (keepMarker) image[4800] = 0xCC;
    return image;
}

struct CompressionCase {
    const char* what;
    int revision;
    bool keepMarker;
    bool toSuperMAF;
    bool compressed;
    int superMAFFlag;
};

class EZKUpgrade : public testing::TestWithParam<CompressionCase> {};

TEST_P(EZKUpgrade, LoadAxisCompressionForSuperMAF) {
    const auto& c = GetParam();
    const Bytes oldBytes = EZKWithRows(c.revision, c.keepMarker);
    EPROM old;
    old.LoadFromArray(oldBytes);
    EPROM base;
    base.LoadFromArray(BaseEZK(c.toSuperMAF));
    old.UpgradeVersion(base, c.toSuperMAF);

    const std::int32_t maps[] = {4096, 5120, 6144};
    for (const auto map : maps) {
        for (int row = 0; row < 16; ++row) {
            const int from = !c.compressed ? row : row < 8 ? 2 * row : 15;
            for (int col = 0; col < 16; ++col)
                ASSERT_EQ(old.ReadByte(map + 16 * row + col), oldBytes[static_cast<std::size_t>(map + 16 * from + col)])
                    << c.what << " map " << map << " row " << row;
        }
    }
    EXPECT_EQ(old.ReadByte(16363), c.superMAFFlag) << c.what;
    EXPECT_EQ(old.GetRevision(), 8) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Revisions, EZKUpgrade,
                         testing::Values(CompressionCase{"rev 5 to SuperMAF", 5, false, true, true, 1},
                                         CompressionCase{"rev 5 to standard MAF", 5, false, false, false, 0xFF},
                                         CompressionCase{"rev 7 to SuperMAF", 7, false, true, false, 1},
                                         CompressionCase{"rev 6 already compressed", 6, true, true, false, 1},
                                         CompressionCase{"rev 6 already compressed, standard base", 6, true, false,
                                                         false, 1},
                                         CompressionCase{"rev 5 with the marker byte", 5, true, true, true, 1}));

TEST(Upgrade, EZKCopiesAroundProtectedParameters) {
    const Bytes oldBytes = EZKImage(4);
    EPROM old;
    old.LoadFromArray(oldBytes);
    EPROM base;
    base.LoadFromArray(BaseEZK());
    old.UpgradeVersion(base, false);

    const std::int32_t protectedAddresses[] = {16204, 2931, 2936, 2957, 3067};
    for (const auto a : protectedAddresses) {
        EXPECT_EQ(old.ReadByte(a), oldBytes[static_cast<std::size_t>(a)]) << a;
        EXPECT_EQ(old.ReadByte(a + 1), base.ReadByte(a + 1)) << a;
    }
    // copied always, kept always
    for (const std::int32_t a : {4800, 4815, 5824, 6863, 0, 4095, 7168, 15871, 16011, 16357, 16383})
        EXPECT_EQ(old.ReadByte(a), base.ReadByte(a)) << a;
    for (const std::int32_t a : {4816, 5840, 6864, 4799, 15872, 16010, 16358, 16362})
        EXPECT_EQ(old.ReadByte(a), oldBytes[static_cast<std::size_t>(a)]) << a;
    EXPECT_TRUE(old.HasBeenModified());
}

TEST(Upgrade, EZKTypeAWithoutParameterEntriesTakesTheWholeCode) {
    Bytes typeA = Filled(16384, 9);
    Put(typeA, 16352, "MRX-A");
    EPROM old;
    old.LoadFromArray(typeA);
    ASSERT_EQ(old.GetKind(), 4);
    EPROM base;
    base.LoadFromArray(BaseEZK());
    old.UpgradeVersion(base, false);
    EXPECT_EQ(old.GetKind(), 5);
    EXPECT_EQ(old.ReadByte(0), base.ReadByte(0));
    EXPECT_EQ(old.GetName(), "928 EZK S4/GT/GTS");
    EXPECT_EQ(old.GetEPROMAddress(34), 16204);
}

TEST(Upgrade, SourceOfAnotherUnitCopiesNothing) {
    EPROM old;
    old.LoadFromArray(LH23Image(3));
    const Bytes before = old.Bytes();
    EPROM lh22;
    lh22.LoadFromArray(LH22Image());
    old.UpgradeVersion(lh22, false);
    EXPECT_EQ(old.Bytes(), before);
    EXPECT_FALSE(old.HasBeenModified());
}

TEST(SuperMAF, LH23Conversion) {
    RecordingDevice device;
    EpromContext context;
    context.device = &device;
    EPROM image(context);
    image.LoadFromArray(LH23Image());
    context.deviceIO = true;
    ASSERT_EQ(image.LH23EZK_GetMAFType(), "Standard MAF");

    image.LH23_MakeSuperMAF();
    EXPECT_EQ(image.LH_GetMAFAxisPoint(15), 236);
    EXPECT_EQ(image.LH23EZK_GetMAFType(), "SuperMAF");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            ASSERT_EQ(image.ReadMapCell(3, x, y), supermaf::kLH23AirFlowTable[static_cast<std::size_t>(16 * y + x)]);
    EXPECT_EQ(image.ReadMapCell(3, 0, 0), 16124);
    EXPECT_EQ(image.ReadMapCell(3, 15, 15), 11488);
    const std::pair<std::int32_t, int> bytes[] = {{13019 + 16, 26}, {13019 + 15, 30}, {13019 + 14, 30},
                                                  {13019 + 13, 10}, {13019 + 2, 10},  {12412, 3},
                                                  {12413, 11},      {12420, 13},      {12421, 190}};
    for (const auto& [a, v] : bytes) EXPECT_EQ(image.ReadByte(a), v) << a;
    // every axis point rises
    for (int i = 1; i < 16; ++i) EXPECT_GT(image.LH_GetMAFAxisPoint(i), image.LH_GetMAFAxisPoint(i - 1)) << i;
    // everything reached the unit
    EPROM replay;
    replay.LoadFromArray(LH23Image());
    for (const auto& w : device.writes) {
        EXPECT_EQ(w.unit, 1);
        for (std::size_t k = 0; k < w.data.size(); ++k) replay.WriteByte(w.address + static_cast<int>(k), w.data[k]);
    }
    EXPECT_EQ(replay.Bytes(), image.Bytes());
}

TEST(SuperMAF, LH22Conversion) {
    Bytes bytes = LH22Image();
    bytes[2448] = 240;
    bytes[2449] = 17;
    bytes[2457] = 240;
    bytes[2458] = 240; // outside the idle region
    bytes[2240] = 0;
    bytes[2241] = 5;
    EPROM image;
    image.LoadFromArray(bytes);
    image.LH22_MakeSuperMAF();

    EXPECT_EQ(image.ReadMapCell(28, 0, 0), 0x3FB);
    for (int c = 0; c < 256; ++c) {
        const int upper = (supermaf::kLH22FuelMapUpperBits[static_cast<std::size_t>(c / 4)] >> (6 - 2 * (c % 4))) & 3;
        ASSERT_EQ(image.ReadMapCell(28, c % 16, c / 16),
                  supermaf::kLH22FuelMapLow[static_cast<std::size_t>(c)] | upper << 8)
            << c;
    }
    EXPECT_EQ(image.ReadMapCell(28, 15, 15), 0);
    const std::pair<std::int32_t, int> expected[] = {{2838, 64},  {2852, 16},  {2917, 192}, {2943, 64},  {2972, 240},
                                                     {2976, 253}, {2986, 64},  {3167, 4},   {2448, 192}, {2449, 17},
                                                     {2457, 192}, {2458, 240}, {2112, 251}, {2115, 255}, {2240, 0},
                                                     {2241, 149}, {2434, 246}, {2441, 223}};
    for (const auto& [a, v] : expected) EXPECT_EQ(image.ReadByte(a), v) << a;
    // the air-flow axis now starts at (256 - 253) * 256 - 240 and falls by the new steps
    EXPECT_EQ(image.LH_GetMAFAxisPoint(0), 528);
    EXPECT_EQ(image.LH_GetMAFAxisPoint(3), 528 - 192);
}

struct PolicyCase {
    const char* what;
    Bytes bytes;
    RevisionDecision decision;
    bool asks;
    const char* baseStandard; // base name when the user answers No (or is not asked)
    const char* baseSuperMAF; // ... Yes
};

class RevisionPolicy : public testing::TestWithParam<PolicyCase> {};

Bytes WithMAFWordZero(Bytes b) {
    b[13056 + 30] = 0;
    b[13056 + 31] = 0;
    return b;
}

Bytes WithEZKFlag(Bytes b) {
    b[16363] = 1;
    return b;
}

TEST_P(RevisionPolicy, DecisionAndBaseName) {
    const auto& c = GetParam();
    EPROM image;
    image.LoadFromArray(c.bytes);
    EXPECT_EQ(DecideRevision(image), c.decision) << c.what;
    EXPECT_EQ(UpgradeAsksForSuperMAF(image), c.asks) << c.what;
    EXPECT_EQ(UpgradeBaseName(image, false), c.baseStandard) << c.what;
    EXPECT_EQ(UpgradeBaseName(image, true), c.baseSuperMAF) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Images, RevisionPolicy,
    testing::Values(PolicyCase{"LH current", LH23Image(8), RevisionDecision::Keep, false, "MRX_D", "MRX_D"},
                    PolicyCase{"LH later", LH23Image(9), RevisionDecision::Refuse, false, "MRX_D", "MRX_D"},
                    PolicyCase{"LH erased revision", LH23Image(255), RevisionDecision::Refuse, false, "MRX_D", "MRX_D"},
                    PolicyCase{"LH old", LH23Image(7), RevisionDecision::Upgrade, false, "MRX_D", "MRX_D"},
                    PolicyCase{"LH old SuperMAF", WithMAFWordZero(LH23Image(2)), RevisionDecision::Upgrade, false,
                               "MRX_D-SUPERMAF", "MRX_D-SUPERMAF"},
                    PolicyCase{"EZK rev 7", EZKImage(7), RevisionDecision::Upgrade, false, "EZK_D-S4", "EZK_D-S4"},
                    PolicyCase{"EZK rev 7 SuperMAF", WithEZKFlag(EZKImage(7)), RevisionDecision::Upgrade, false,
                               "EZK_D-S4-SUPERMAF", "EZK_D-S4-SUPERMAF"},
                    PolicyCase{"EZK rev 6 asks", WithEZKFlag(EZKImage(6)), RevisionDecision::Upgrade, true, "EZK_D-S4",
                               "EZK_D-S4-SUPERMAF"},
                    PolicyCase{"EZK Type A asks",
                               [] {
                                   Bytes b = Filled();
                                   Put(b, 16352, "MRX-A");
                                   return b;
                               }(),
                               RevisionDecision::Upgrade, true, "EZK_D-S4", "EZK_D-S4-SUPERMAF"},
                    PolicyCase{"LH 2.2 is not subject", LH22Image('U', 0), RevisionDecision::Keep, false, "", ""},
                    PolicyCase{"EZF is not subject", EZFImage(200), RevisionDecision::Keep, false, "", ""},
                    PolicyCase{"unknown", Filled(), RevisionDecision::Keep, false, "", ""}));

TEST(RevisionPolicyTexts, LaterVersionMessageCarriesTheProgramVersion) {
    EXPECT_EQ(LaterVersionMessage(1, 2, 3),
              "The selected EPROM image was created in a later version of the Kestrovane software and is not "
              "compatible with this version (1.2.3). \r\n\r\nPlease contact Dravenholt to get the latest version "
              "of the software.");
}

TEST(BaseImages, UnknownNamesFailWithoutTouchingTheImage) {
    EPROM image;
    image.LoadFromArray(LH23Image(3));
    const Bytes before = image.Bytes();
    EXPECT_EQ(LoadBaseImage("NO_SUCH_BASE", image), "Sorry, the selected EPROM is not yet supported");
    EXPECT_EQ(UpgradeFromBaseImage(image, "NO_SUCH_BASE-SUPERMAF"), "Upgrading of the EPROM image failed");
    EXPECT_EQ(image.Bytes(), before);
    EXPECT_EQ(image.GetRevision(), 3);
}

} // namespace

} // namespace kv
