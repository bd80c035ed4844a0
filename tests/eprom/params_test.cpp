// Parameters and variables: table look-ups, bit addresses, the code-switch operations and the
// EZK RPM compensation look-up.
#include "eprom_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

TEST(Params, BitVariableAddresses) {
    EPROM lh;
    lh.LoadFromArray(LH23Image());
    std::int32_t address = 0;
    int mask = 0;
    lh.GetBitVariableAddress(1, address, mask); // bit 42
    EXPECT_EQ(address, 37);
    EXPECT_EQ(mask, 4);
    lh.GetBitVariableAddress(3, address, mask); // bit 110
    EXPECT_EQ(address, 45);
    EXPECT_EQ(mask, 64);

    EPROM ezk;
    ezk.LoadFromArray(EZKImage());
    ezk.GetBitVariableAddress(15, address, mask); // bit 0
    EXPECT_EQ(address, 32);
    EXPECT_EQ(mask, 1);
}

TEST(Params, LookUpsOutsideTheTablesGiveZero) {
    EPROM image;
    image.LoadFromArray(EZKImage());
    for (const int n : {0, -1, 17, 1000}) {
        EXPECT_EQ(image.GetVariableAddress(n), 0) << n;
        EXPECT_EQ(image.GetBitVariableNumber(n), 0) << n;
    }
    for (const int n : {0, -1, 151}) EXPECT_EQ(image.GetEPROMAddress(n), 0) << n;
    EXPECT_EQ(image.GetEPROMAddress(150), 0); // an EZF entry: not set by an EZK image
    EXPECT_EQ(image.GetEPROMAddress(32), 4864);
}

TEST(Params, LH22OxygenLoopSwitch) {
    EPROM image;
    image.LoadFromArray(LH22Image());
    image.LH22_EnableO2Loop(true);
    EXPECT_EQ(image.ReadByte(108), 246);
    EXPECT_EQ(image.ReadByte(109), 116);
    EXPECT_TRUE(image.LH22_IsO2LoopEnabled());
    image.LH22_EnableO2Loop(false);
    EXPECT_EQ(image.ReadByte(108), 4);
    EXPECT_EQ(image.ReadByte(109), 125);
    EXPECT_FALSE(image.LH22_IsO2LoopEnabled());
}

TEST(Params, EZKWideOpenThrottleSwitchOnlyFlipsItsTwoValues) {
    struct Case {
        std::uint8_t before;
        bool ignore;
        std::uint8_t after;
        bool ignored;
    };
    const Case cases[] = {{'n', true, '?', true},   {'?', false, 'n', false}, {'?', true, '?', true},
                          {'n', false, 'n', false}, {'x', true, 'x', false},  {0xFF, false, 0xFF, false}};
    for (const auto& c : cases) {
        Bytes bytes = EZKImage();
        bytes[3058] = c.before;
        EPROM image;
        image.LoadFromArray(bytes);
        image.EZK_SetWOTIgnored(c.ignore);
        EXPECT_EQ(image.ReadByte(3058), c.after) << int(c.before);
        EXPECT_EQ(image.EZK_IsWOTIgnored(), c.ignored) << int(c.before);
    }
}

TEST(Params, LH23FixedIdleValvePulseWidth) {
    const std::tuple<std::uint8_t, std::uint8_t, int> reads[] = {
        {0x07, 0x80, 1920}, {0x0F, 0x00, 3840}, {0x0F, 0x01, 1920}, {0xFF, 0xFF, 1920}, {0x00, 0x10, 16}};
    for (const auto& [high, low, value] : reads) {
        Bytes bytes = LH23Image();
        bytes[16361] = high;
        bytes[16362] = low;
        EPROM image;
        image.LoadFromArray(bytes);
        EXPECT_EQ(image.LH23_GetFixedISVPW(), value) << int(high) << "/" << int(low);
    }

    EPROM image;
    image.LoadFromArray(LH23Image());
    image.LH23_EnableFixedISVPW(false);
    EXPECT_FALSE(image.LH23_IsFixedISVPWEnabled());
    EXPECT_EQ(image.ReadByte(1108), 229);
    EXPECT_EQ(image.ReadByte(1109), 53);
    EXPECT_EQ(image.ReadByte(1111), 229);
    EXPECT_EQ(image.ReadByte(1112), 52);

    // disabled: only the stored value changes
    image.LH23_SetFixedISVPW(1000);
    EXPECT_EQ(image.LH23_GetFixedISVPW(), 1000);
    EXPECT_EQ(image.ReadByte(1109), 53);
    EXPECT_EQ(image.ReadByte(1112), 52);
    image.LH23_SetFixedISVPW(1920);
    EXPECT_EQ(image.ReadByte(16361), 0xFF);
    EXPECT_EQ(image.ReadByte(16362), 0xFF);
    EXPECT_EQ(image.LH23_GetFixedISVPW(), 1920);
    image.LH23_SetFixedISVPW(3841);
    EXPECT_EQ(image.LH23_GetFixedISVPW(), 1920);

    // enabling copies the stored value into the code; later sets keep the code in step
    image.LH23_SetFixedISVPW(0x0321);
    image.LH23_EnableFixedISVPW(true);
    EXPECT_TRUE(image.LH23_IsFixedISVPWEnabled());
    EXPECT_EQ(image.ReadByte(1108), 116);
    EXPECT_EQ(image.ReadByte(1109), 0x21);
    EXPECT_EQ(image.ReadByte(1111), 116);
    EXPECT_EQ(image.ReadByte(1112), 0x03);
    image.LH23_SetFixedISVPW(0x0456);
    EXPECT_EQ(image.ReadByte(1109), 0x56);
    EXPECT_EQ(image.ReadByte(1112), 0x04);
    EXPECT_EQ(image.LH23_GetFixedISVPW(), 0x0456);
}

TEST(Params, EZKRPMCompensationSlot) {
    EPROM image;
    image.LoadFromArray(EZKImage());
    // selector-2 axis: P(0) = 255, P(i) = 256 + 400 i
    for (int k = 0; k < 15; ++k) image.WriteByte(4544 + k, 100);
    image.WriteByte(4544 + 15, 0);
    for (int k = 0; k < 16; ++k) image.WriteByte(4864 + k, static_cast<std::uint8_t>(k - 8));
    struct Case {
        double rpm;
        int compensation; // slot - 8
    };
    const Case cases[] = {
        {0, -8},       // t = 0: slot 0
        {10457.5, -8}, // t = 255 = P(0): not above it
        {3333.33, -7}, // t = 800: between P(1) = 656 and P(2) = 1056
        {2525.25, -6}, // t = 1056 = P(2): slot 2
        {420, 7},      // t = 6349 above P(15) = 6256: slot 15
        {-100, -8},    // negative period: slot 0
    };
    for (const auto& c : cases) EXPECT_EQ(image.EZK_GetRPMCompensation(c.rpm), c.compensation) << c.rpm;
}

} // namespace

namespace {

TEST(Params, TheTwoReferenceTablesDifferInFiveEntries) {
    const auto& one = LH23ReferenceTable(1);
    const auto& two = LH23ReferenceTable(2);
    std::vector<std::size_t> differ;
    for (std::size_t i = 0; i < one.size(); ++i)
        if (one[i] != two[i]) differ.push_back(i);
    EXPECT_EQ(differ, (std::vector<std::size_t>{0, 8, 9, 16, 17}));
    EXPECT_EQ(one[16], 92);
    EXPECT_EQ(two[16], 116);
    EXPECT_EQ(one[31], 255);
}

} // namespace

} // namespace kv
