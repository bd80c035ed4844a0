// Map catalogue: where each map's cells lie (normal, reversed, 10-bit, word cells, axis blocks),
// the creator-2 layout, and how the axis points are computed.
#include "eprom_test_util.h"

#include <gtest/gtest.h>

#include <functional>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

struct CellCase {
    const char* what;
    std::function<Bytes()> make;
    std::vector<std::pair<std::int32_t, std::uint8_t>> prelude; // bytes set before the cell is written
    int mapId;
    int x;
    int y;
    std::int32_t address; // where the cell lies
    bool word;
};

class CellAddressing : public testing::TestWithParam<CellCase> {};

TEST_P(CellAddressing, WriteLandsAtTheCellAndReadsBack) {
    const auto& c = GetParam();
    EPROM image;
    image.LoadFromArray(c.make());
    for (const auto& [address, value] : c.prelude) image.WriteByte(address, value);
    Bytes expected = image.Bytes();
    const std::int32_t value = c.word ? 0xA1B2 : 0x5C;
    image.WriteMapCell(c.mapId, c.x, c.y, value);
    if (c.word) {
        expected[static_cast<std::size_t>(c.address)] = 0xA1;
        expected[static_cast<std::size_t>(c.address + 1)] = 0xB2;
    } else {
        expected[static_cast<std::size_t>(c.address)] = 0x5C;
    }
    EXPECT_EQ(image.Bytes(), expected) << c.what;
    EXPECT_EQ(image.ReadMapCell(c.mapId, c.x, c.y), value) << c.what;
}

Bytes LH23() { return LH23Image(); }
Bytes EZK() { return EZKImage(); }
Bytes LH22() { return LH22Image(); }
Bytes EZF() { return EZFImage(); }

INSTANTIATE_TEST_SUITE_P(
    Creator1, CellAddressing,
    testing::Values(CellCase{"LH main map", LH23, {}, 1, 5, 3, 13568 + 5 + 48, false},
                    CellCase{"LH second main map", LH23, {}, 2, 15, 15, 13824 + 15 + 240, false},
                    CellCase{"LH air-flow map of words", LH23, {}, 3, 2, 1, 13056 + 4 + 32, true},
                    // LH curves start with their axis block: unused byte, n, n steps
                    CellCase{"LH curve after its axis block", LH23, {{14201, 5}}, 4, 2, 0, 14200 + 7 + 2, false},
                    CellCase{"LH curve with an empty block", LH23, {{14681, 0}}, 11, 0, 0, 14680 + 2, false},
                    CellCase{"EZK main map", EZK, {}, 16, 3, 2, 4131, false},
                    CellCase{"EZK curve: no block skipping outside LH 2.3", EZK, {}, 19, 4, 0, 4884, false},
                    CellCase{"EZK reversed curve, first cell", EZK, {}, 14, 0, 0, 4495, false},
                    CellCase{"EZK reversed curve, last cell", EZK, {}, 14, 14, 0, 4481, false},
                    CellCase{"EZK reversed curve, second row", EZK, {}, 13, 2, 1, 4496 + 16 + 12 + 1, false},
                    CellCase{"EZK reversed curve, map 15", EZK, {}, 15, 7, 0, 4512 + 7 + 1, false},
                    CellCase{"EZF map", EZF, {}, 33, 1, 2, 768 + 1 + 32, false},
                    CellCase{"EZF curve", EZF, {}, 36, 2, 0, 1684, false},
                    CellCase{"LH 2.2 curve", LH22, {}, 31, 8, 0, 2103 + 8, false}));

TEST(Maps, TenBitCellsOfTheLH22FuelMap) {
    EPROM image;
    image.LoadFromArray(LH22Image());
    image.WriteByte(2304, 0xF3);
    // cell address 770 (x = 2): bits 3..2 of byte 2304
    image.WriteMapCell(28, 2, 0, 0x2AB);
    EXPECT_EQ(image.ReadByte(770), 0xAB);
    EXPECT_EQ(image.ReadByte(2304), 0xFB);
    EXPECT_EQ(image.ReadMapCell(28, 2, 0), 0x2AB);

    struct Case {
        int x, y;
        std::int32_t upperByte;
        int shift;
    };
    const Case cases[] = {{0, 0, 2304, 6}, {1, 0, 2304, 4},       {3, 0, 2304, 0},
                          {4, 0, 2305, 6}, {3, 15, 2304 + 60, 0}, {15, 15, 2304 + 63, 0}};
    for (const auto& c : cases) {
        for (const std::int32_t value : {0x3FF, 0x100, 0x0FE, 0x201}) {
            image.WriteByte(c.upperByte, 0x55);
            image.WriteMapCell(28, c.x, c.y, value);
            EXPECT_EQ(image.ReadMapCell(28, c.x, c.y), value) << c.x << "," << c.y;
            const int others = image.ReadByte(c.upperByte) & ~(3 << c.shift);
            EXPECT_EQ(others, 0x55 & ~(3 << c.shift)) << c.x << "," << c.y;
        }
    }
}

TEST(Maps, StepCodedAxisBlocks) {
    EPROM image;
    image.LoadFromArray(LH23Image());
    // map 4: x block at 14200 with n = 4, y block right after it
    const Bytes xBlock = {0, 4, 10, 20, 30, 40};
    const Bytes yBlock = {0, 3, 200, 50, 7};
    image.WriteBlock(14200, xBlock);
    image.WriteBlock(14206, yBlock);
    EXPECT_EQ(image.GetMapXAxisWidth(4), 4);
    const std::pair<int, int> xs[] = {{0, 156}, {1, 166}, {2, 186}, {3, 216}, {9, 216}, {-1, 156}};
    for (const auto& [i, point] : xs) EXPECT_EQ(image.GetMapXAxisPoint(4, i), point) << i;
    EXPECT_EQ(image.GetMapYAxisWidth(4), 3);
    // steps summing past 256 give 0
    const std::pair<int, int> ys[] = {{0, 0}, {1, 199}, {2, 249}};
    for (const auto& [i, point] : ys) EXPECT_EQ(image.GetMapYAxisPoint(4, i), point) << i;
}

TEST(Maps, FixedAxisWidthsAndPoints) {
    EPROM image;
    image.LoadFromArray(LH22Image());
    struct Case {
        int mapId;
        int width;
        std::vector<std::pair<int, int>> points;
    };
    const Case cases[] = {{29, 17, {{0, 0}, {15, 240}, {16, 255}}},
                          {30, 17, {{3, 48}, {16, 255}}},
                          {32, 17, {{16, 255}}},
                          {31, 9, {{1, 32}, {7, 224}, {8, 255}}},
                          {13, 15, {}},
                          {14, 15, {}},
                          {15, 15, {}},
                          {1, 16, {}},
                          {28, 16, {}},
                          {33, 16, {}},
                          {35, 16, {}},
                          {36, 5, {}},
                          {40, 5, {}}};
    for (const auto& c : cases) {
        EXPECT_EQ(image.GetMapXAxisWidth(c.mapId), c.width) << c.mapId;
        for (const auto& [x, point] : c.points) EXPECT_EQ(image.GetMapXAxisPoint(c.mapId, x), point) << c.mapId;
    }
    for (const int id : {1, 2, 3, 28, 33}) EXPECT_EQ(image.GetMapYAxisWidth(id), 16) << id;
    EXPECT_EQ(image.GetMapAddr(0), 0);
    EXPECT_EQ(image.GetMapAddr(41), 0);
    EXPECT_EQ(image.GetMapAddr(28), 768);
}

TEST(Maps, LH23SharedAxes) {
    EPROM image;
    image.LoadFromArray(LH23Image());
    // RPM steps at axis block + 21 .. + 36, air-flow steps at + 2 .. + 16, last air-flow word at + 17
    image.WriteBlock(13019 + 21, Bytes(16, 10));
    image.WriteBlock(13019 + 2, Bytes(15, 10));
    image.WriteWord(13019 + 17, 65300);
    const std::pair<int, int> rpm[] = {{0, 96}, {1, 106}, {15, 246}, {20, 246}, {-3, 96}};
    for (const auto& [i, p] : rpm) {
        EXPECT_EQ(image.LH_GetRPMAxisPoint(i), p) << i;
        EXPECT_EQ(image.GetMapXAxisPoint(1, i), p) << i;
    }
    const std::pair<int, int> maf[] = {{15, 236}, {14, 226}, {0, 86}, {-1, 86}, {40, 236}};
    for (const auto& [i, p] : maf) {
        EXPECT_EQ(image.LH_GetMAFAxisPoint(i), p) << i;
        EXPECT_EQ(image.GetMapYAxisPoint(3, i), p & 0xFF) << i;
    }
    // steps that sum past 256 clamp the RPM point at 0
    image.WriteBlock(13019 + 21, Bytes(16, 100));
    EXPECT_EQ(image.LH_GetRPMAxisPoint(0), 0);
}

TEST(Maps, LH22SharedAxes) {
    EPROM image;
    image.LoadFromArray(LH22Image());
    image.WriteByte(3028, 200);            // RPM anchor (parameter 45)
    image.WriteBlock(2853, Bytes(15, 5));  // RPM steps
    image.WriteByte(2976, 250);            // air-flow anchor, high (parameter 43)
    image.WriteByte(2972, 16);             // air-flow anchor, low (parameter 44)
    image.WriteBlock(2838, Bytes(15, 64)); // air-flow steps
    const std::pair<int, int> rpm[] = {{0, 56}, {3, 71}, {15, 131}};
    for (const auto& [i, p] : rpm) EXPECT_EQ(image.LH_GetRPMAxisPoint(i), p) << i;
    EXPECT_EQ(image.GetMapXAxisPoint(28, 3), 71);
    const std::pair<int, int> maf[] = {{0, 1520}, {2, 1392}, {15, 560}};
    for (const auto& [i, p] : maf) EXPECT_EQ(image.LH_GetMAFAxisPoint(i), p) << i;
    EXPECT_EQ(image.GetMapYAxisPoint(28, 2), 1392 & 0xFF);
    image.WriteByte(3028, 0);
    EXPECT_EQ(image.LH_GetRPMAxisPoint(15), 255);
}

TEST(Maps, EZKRPMAxes) {
    EPROM image;
    image.LoadFromArray(EZKImage());
    for (const std::int32_t table : {4528, 4544, 4560}) {
        for (int k = 0; k < 15; ++k) image.WriteByte(table + k, static_cast<std::uint8_t>(k + 1));
        image.WriteByte(table + 15, static_cast<std::uint8_t>(table == 4528 ? 100 : table == 4544 ? 50 : 10));
    }
    struct Case {
        int selector, index;
        std::int32_t point;
    };
    const Case cases[] = {{1, 0, 355}, {1, 3, 380}, {1, 15, 836}, {1, 20, 836},
                          {2, 0, 305}, {2, 1, 310}, {0, 0, 265},  {3, 2, 278}};
    for (const auto& c : cases) {
        EXPECT_EQ(image.EZK_GetRPMAxisPoint_Bosch(c.selector, c.index), c.point) << c.selector << "/" << c.index;
        EXPECT_EQ(image.EZK_GetRPMAxisPoint(c.selector, c.index), c.point) << c.selector << "/" << c.index;
    }
}

TEST(Maps, EZFAxes) {
    EPROM image;
    image.LoadFromArray(EZFImage());
    image.WriteBlock(1634, Bytes(16, 250)); // RPM: 6 per point
    image.WriteBlock(1618, Bytes(16, 246)); // load: 10 per point
    image.WriteBlock(1712, {100, 200, 200, 200, 200});
    image.WriteBlock(1707, {250, 250, 250, 250, 250});
    image.WriteBlock(1692, {240, 240, 240, 240, 240});
    image.WriteBlock(1697, {0, 0, 0, 0, 0});
    image.WriteBlock(1687, {255, 255, 255, 255, 255});
    EXPECT_EQ(image.EZF_GetRPMAxisPoint(0), 6);
    EXPECT_EQ(image.EZF_GetRPMAxisPoint(3), 24);
    EXPECT_EQ(image.GetMapXAxisPoint(33, 3), 24);
    EXPECT_EQ(image.EZF_GetLoadAxisPoint(4), 50);
    EXPECT_EQ(image.EZF_GetLoadAxisPoint(99), 160);
    EXPECT_EQ(image.EZF_GetAirTempAxisPoint(1, 0), 156);
    EXPECT_EQ(image.EZF_GetAirTempAxisPoint(1, 1), 212);
    EXPECT_EQ(image.EZF_GetAirTempAxisPoint(1, 2), 255); // limited
    EXPECT_EQ(image.EZF_GetAirTempAxisPoint(2, 9), 30);  // index limited to 4
    EXPECT_EQ(image.EZF_GetCoolantTempAxisPoint(0, 4), 80);
    EXPECT_EQ(image.EZF_GetCoolantTempAxisPoint(1, 0), 255);
    EXPECT_EQ(image.EZF_GetCoolantTempAxisPoint(2, 4), 5);
}

// Type C: the tables come from an LH 2.3 image loaded before; axis blocks hold counts and points.
class CreatorTwo : public testing::Test {
protected:
    void SetUp() override {
        image.LoadFromArray(LH23Image());
        Bytes typeC = LH23Image();
        Put(typeC, 16140, "MRX-C");
        image.LoadFromArray(typeC);
        context.wordBigEndian = false;
    }
    EpromContext context;
    EPROM image{context};
};

TEST_F(CreatorTwo, MapsSkipCountAndPointBlocks) {
    ASSERT_EQ(image.GetCreator(), 2);
    // map 4 at 14200: n = 3, points 11, 22, 33, then the cells
    image.WriteBlock(14200, {3, 11, 22, 33});
    EXPECT_EQ(image.GetMapXAxisWidth(4), 3);
    EXPECT_EQ(image.GetMapXAxisPoint(4, 1), 22);
    image.WriteMapCell(4, 2, 0, 0x77);
    EXPECT_EQ(image.ReadByte(14204 + 2), 0x77);
    // map 1 keeps its place and the LH axes are plain bytes and words
    image.WriteMapCell(1, 1, 1, 0x66);
    EXPECT_EQ(image.ReadByte(13568 + 17), 0x66);
    image.WriteBlock(13019 + 1, {5, 6, 7});
    EXPECT_EQ(image.LH_GetRPMAxisPoint(2), 7);
    EXPECT_EQ(image.GetMapXAxisPoint(2, 2), 7);
    image.WriteWord(13019 + 19 + 4, 0x1234);
    EXPECT_EQ(image.ReadByte(13019 + 19 + 4), 0x34); // little-endian
    EXPECT_EQ(image.LH_GetMAFAxisPoint(2), 0x1234);
    EXPECT_EQ(image.GetMapYAxisPoint(1, 2), 0x34);
    // word cells of map 3 in little-endian order, no block skipping
    image.WriteMapCell(3, 1, 0, 0xBEEF);
    EXPECT_EQ(image.ReadByte(13058), 0xEF);
    EXPECT_EQ(image.ReadMapCell(3, 1, 0), 0xBEEF);
    EXPECT_EQ(image.GetMapXAxisWidth(3), 16);
    EXPECT_EQ(image.GetMapYAxisWidth(3), 16);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(image.EZK_GetRPMAxisPoint(1, i), 0);
}

TEST_F(CreatorTwo, TwoDimensionalMapWithTwoBlocks) {
    // first block: n = 2, points 40, 80; second block: n = 3, points 1, 2, 3
    image.WriteBlock(14200, {2, 40, 80, 3, 1, 2, 3});
    EXPECT_EQ(image.GetMapYAxisWidth(4), 3);
    EXPECT_EQ(image.GetMapYAxisPoint(4, 0), 1);
    EXPECT_EQ(image.GetMapYAxisPoint(4, 2), 3);
}

} // namespace

namespace {

TEST(Maps, AccessorsStayInsideAnyImage) {
    // Images of every kind and of odd sizes (tables of earlier kinds kept) with every map id,
    // selector and index in and around the ranges; the sanitizers catch a stray access.
    const std::vector<Bytes> images = {
        LH23Image(), EZKImage(), LH22Image(), EZFImage(), Bytes{}, Bytes(1, 0), Bytes(3000, 0xFF), [] {
            Bytes b = Filled();
            Put(b, 16200, "MRX-C");
            return b;
        }()};
    EPROM image;
    for (const auto& bytes : images) {
        image.LoadFromArray(bytes);
        for (int id = -1; id <= 41; ++id) {
            for (const int i : {-1, 0, 7, 15, 16, 300}) {
                (void)image.ReadMapCell(id, i, i);
                image.WriteMapCell(id, i, 15 - i, 0x3FF);
                (void)image.GetMapXAxisPoint(id, i);
                (void)image.GetMapYAxisPoint(id, i);
            }
            (void)image.GetMapXAxisWidth(id);
            (void)image.GetMapYAxisWidth(id);
        }
        for (const int selector : {-1, 0, 1, 2, 3}) {
            for (const int i : {-1, 0, 4, 15, 99}) {
                (void)image.EZK_GetRPMAxisPoint(selector, i);
                (void)image.EZF_GetAirTempAxisPoint(selector, i);
                (void)image.EZF_GetCoolantTempAxisPoint(selector, i);
                (void)image.EZF_GetRPMAxisPoint(i);
                (void)image.EZF_GetLoadAxisPoint(i);
                (void)image.LH_GetRPMAxisPoint(i);
                (void)image.LH_GetMAFAxisPoint(i);
            }
        }
        (void)image.EZK_GetRPMCompensation(3000);
        (void)image.LH23EZK_GetMAFType();
        (void)image.GetBaseMapsName();
        EXPECT_EQ(image.Bytes().size(), bytes.size());
    }
}

} // namespace

} // namespace kv
