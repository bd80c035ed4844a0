// The built-in base images: identification, packed form, and that their maps and parameters
// read as a plausible 928 calibration through the conversions the program shows them with.
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "eprom/mkbase/packer.h"
#include "monitor/conversions.h"
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace kv {

namespace {

// Loads a base image into a fresh object; fails the test when it cannot.
EPROM Load(const std::string& name) {
    EPROM image;
    const std::string message = LoadBaseImage(name, image);
    EXPECT_EQ(message, "") << name;
    return image;
}

// ---------------------------------------------------------------------------------------------
// Identification of every base image

struct Identity {
    const char* name;
    bool packed;
    int kind;
    int ecuType;
    int size;
    int windowOffset;
    int revision;
    const char* mafType;
    const char* baseMaps;
};

const Identity kIdentities[] = {
    {"MRX_D", true, 3, 1, 16384, 0, 8, "Standard MAF", ""},
    {"MRX_D-SUPERMAF", true, 3, 1, 16384, 0, 8, "SuperMAF", ""},
    {"EZK_D-S4", true, 5, 2, 16384, 0, 8, "Standard MAF", "S4"},
    {"EZK_D-GT", true, 5, 2, 16384, 0, 8, "Standard MAF", "GT"},
    {"EZK_D-GTS", true, 5, 2, 16384, 0, 8, "Standard MAF", "GTS"},
    {"EZK_D-S4-SUPERMAF", true, 5, 2, 16384, 0, 8, "SuperMAF", "S4"},
    {"EZK_D-GT-SUPERMAF", true, 5, 2, 16384, 0, 8, "SuperMAF", "GT"},
    {"EZK_D-GTS-SUPERMAF", true, 5, 2, 16384, 0, 8, "SuperMAF", "GTS"},
    {"MRX_LH22_USA", false, 6, 3, 4096, 12288, 1, "", ""},
    {"MRX_LH22_EURO", false, 7, 3, 4096, 12288, 1, "", ""},
    {"EZF_USA", false, 8, 4, 2048, 14336, 1, "", ""},
    {"EZF_EURO", false, 8, 4, 2048, 14336, 1, "", ""},
};

class BaseImageIdentity : public ::testing::TestWithParam<Identity> {};

TEST_P(BaseImageIdentity, LoadsAsItsKindWithRevisionAndMafType) {
    const Identity& id = GetParam();
    const EPROM image = Load(id.name);
    EXPECT_EQ(image.GetKind(), id.kind);
    EXPECT_EQ(EcuTypeCode(image.GetECUType()), id.ecuType);
    EXPECT_EQ(image.GetCreator(), 1);
    EXPECT_EQ(image.ImageSize(), id.size);
    EXPECT_EQ(static_cast<int>(image.Bytes().size()), id.size);
    EXPECT_EQ(image.WindowOffset(), id.windowOffset);
    EXPECT_EQ(image.GetRevision(), id.revision);
    EXPECT_EQ(image.LH23EZK_GetMAFType(), id.mafType);
    EXPECT_EQ(image.GetBaseMapsName(), id.baseMaps);
    EXPECT_FALSE(image.GetName().empty());
    EXPECT_FALSE(image.IsEmptyImage());
    EXPECT_FALSE(image.HasBeenModified());
}

TEST_P(BaseImageIdentity, ResourceIsStoredInItsForm) {
    const Identity& id = GetParam();
    const auto resource = LoadResource(id.name);
    ASSERT_TRUE(resource.has_value()) << id.name;
    const bool packedHeader = resource->size() > 3 && (*resource)[0] == 'F' && (*resource)[1] == 'P';
    EXPECT_EQ(packedHeader, id.packed);
    if (id.packed) {
        EXPECT_EQ((*resource)[2], 1) << "packed base images are scrambled (mode 1)";
    } else {
        EXPECT_EQ(static_cast<int>(resource->size()), id.size);
    }
    // Unpacked, the resource is the image exactly: LoadFromArray's device patch list changed
    // nothing, so every patch-list address already holds its device value.
    const EPROM image = Load(id.name);
    EXPECT_EQ(UnpackResource(*resource), image.Bytes());
}

TEST_P(BaseImageIdentity, HasNoErasedArea) {
    // The code areas hold filler, not erased EPROM: no run of 0xFF longer than a small table.
    const EPROM image = Load(GetParam().name);
    std::size_t run = 0;
    std::size_t longest = 0;
    for (std::uint8_t b : image.Bytes()) {
        run = b == 0xFF ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    EXPECT_LT(longest, 16u);
}

INSTANTIATE_TEST_SUITE_P(AllBaseImages, BaseImageIdentity, ::testing::ValuesIn(kIdentities), [](const auto& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

TEST(BaseImageCatalogue, EveryListedNameHasAResource) {
    std::vector<std::string> expected;
    for (const Identity& id : kIdentities) expected.emplace_back(id.name);
    EXPECT_EQ(BaseImageNames(), expected);
    for (const std::string& name : BaseImageNames()) EXPECT_TRUE(LoadResource(name).has_value()) << name;
}

// Region markers and the EZK name / SuperMAF bytes at their image offsets.
struct MarkerBytes {
    const char* name;
    int address;
    std::vector<int> bytes;
};

class BaseImageMarkers : public ::testing::TestWithParam<MarkerBytes> {};

TEST_P(BaseImageMarkers, HoldTheirBytes) {
    const MarkerBytes& m = GetParam();
    const EPROM image = Load(m.name);
    for (std::size_t i = 0; i < m.bytes.size(); ++i) {
        if (m.bytes[i] < 0) continue; // any value (the byte between two code-switch bytes)
        EXPECT_EQ(image.ReadByte(m.address + static_cast<int>(i)), m.bytes[i]) << m.name << " at " << m.address + i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    AllBaseImages, BaseImageMarkers,
    ::testing::Values(MarkerBytes{"MRX_LH22_USA", 4057, {'M', 'U', 1}},
                      MarkerBytes{"MRX_LH22_EURO", 4057, {'M', 'E', 1}}, MarkerBytes{"EZF_USA", 1790, {'M', 1}},
                      MarkerBytes{"EZF_EURO", 1790, {'M', 1}},
                      MarkerBytes{"MRX_D", 16367, {8, 'M', 'R', 'X', '-', 'D'}},
                      MarkerBytes{"EZK_D-S4", 16352, {'M', 'R', 'X', '-', 'D', 8, 'S', '4', 0xFF, 0xFF, 0xFF, 0}},
                      MarkerBytes{"EZK_D-GT", 16358, {'G', 'T', 0xFF, 0xFF, 0xFF, 0}},
                      MarkerBytes{"EZK_D-GTS", 16358, {'G', 'T', 'S', 0xFF, 0xFF, 0}},
                      MarkerBytes{"EZK_D-S4-SUPERMAF", 16358, {'S', '4', 0xFF, 0xFF, 0xFF, 1}},
                      MarkerBytes{"EZK_D-GT-SUPERMAF", 16358, {'G', 'T', 0xFF, 0xFF, 0xFF, 1}},
                      MarkerBytes{"EZK_D-GTS-SUPERMAF", 16358, {'G', 'T', 'S', 0xFF, 0xFF, 1}},
                      // device values of the patch lists and the disabled fixed-idle-valve code switch
                      MarkerBytes{"MRX_D", 1108, {229, 53, -1, 229, 52}}, MarkerBytes{"MRX_D", 84, {176}},
                      MarkerBytes{"MRX_D", 11302, {176}}, MarkerBytes{"MRX_D", 12462, {1}},
                      MarkerBytes{"MRX_D", 9575, {0, 0}}, MarkerBytes{"MRX_D", 10065, {0, 0}},
                      MarkerBytes{"MRX_D", 10104, {0, 0}}, MarkerBytes{"EZK_D-GT", 1233, {62, 240}},
                      MarkerBytes{"EZK_D-GT", 1087, {176}}, MarkerBytes{"EZK_D-GT", 3058, {'n'}}));

// ---------------------------------------------------------------------------------------------
// Packed form

TEST(PackedForm, EveryPackedImagePacksAndUnpacksInBothModes) {
    for (const Identity& id : kIdentities) {
        if (!id.packed) continue;
        const EPROM image = Load(id.name);
        for (std::uint8_t mode : {mkbase::kPackModePlain, mkbase::kPackModeScrambled}) {
            const auto packed = mkbase::PackResource(image.Bytes(), mode);
            EXPECT_EQ(packed[2], mode);
            EXPECT_EQ(UnpackResource(packed), image.Bytes()) << id.name << " mode " << int{mode};
        }
    }
}

struct PackCase {
    const char* what;
    std::vector<std::uint8_t> data;
};

std::vector<std::uint8_t> Pattern(std::size_t n, std::size_t period) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>((i % period) * 37 + 0xC0);
    return v;
}

std::vector<std::uint8_t> Noise(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    std::uint32_t x = 7;
    for (auto& b : v) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(x >> 24);
    }
    return v;
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class PackRoundTrip : public ::testing::TestWithParam<PackCase> {};

TEST_P(PackRoundTrip, UnpacksToTheInput) {
    const auto& data = GetParam().data;
    for (std::uint8_t mode : {mkbase::kPackModePlain, mkbase::kPackModeScrambled})
        EXPECT_EQ(UnpackResource(mkbase::PackResource(data, mode)), data) << "mode " << int{mode};
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PackRoundTrip,
    ::testing::Values(PackCase{"empty", {}}, PackCase{"one byte", {0xC0}}, PackCase{"three bytes", {'F', 'P', 1}},
                      PackCase{"run longer than one token", std::vector<std::uint8_t>(40000, 0xFF)},
                      PackCase{"short repeat distance", Pattern(20000, 3)},
                      PackCase{"long repeat distance", Concat(Noise(30000), Noise(30000))},
                      PackCase{"literal run longer than one token", Noise(50000)},
                      PackCase{"runs between literals",
                               Concat(Concat(Noise(100), std::vector<std::uint8_t>(5, 0x40)), Noise(3))}),
    [](const auto& info) {
        std::string n = info.param.what;
        std::replace(n.begin(), n.end(), ' ', '_');
        return n;
    });

TEST(PackedForm, RepetitionIsPackedSmall) {
    EXPECT_LT(mkbase::PackResource(std::vector<std::uint8_t>(16384, 0xFF), 1).size(), 16u);
    EXPECT_LT(mkbase::PackResource(Pattern(16384, 64), 1).size(), 200u);
}

TEST(PackedForm, ScramblingChangesTheStream) {
    const auto data = Noise(64);
    const auto plain = mkbase::PackResource(data, 0);
    const auto scrambled = mkbase::PackResource(data, 1);
    ASSERT_EQ(plain.size(), scrambled.size());
    EXPECT_NE(std::vector<std::uint8_t>(plain.begin() + 3, plain.end()),
              std::vector<std::uint8_t>(scrambled.begin() + 3, scrambled.end()));
}

// ---------------------------------------------------------------------------------------------
// LH 2.3

class LH23Base : public ::testing::TestWithParam<const char*> {};

TEST_P(LH23Base, MainAxesSpanTheEngine) {
    const EPROM image = Load(GetParam());
    for (int i = 1; i < 16; ++i) {
        EXPECT_GT(image.LH_GetRPMAxisPoint(i), image.LH_GetRPMAxisPoint(i - 1)) << i;
        EXPECT_GT(image.LH_GetMAFAxisPoint(i), image.LH_GetMAFAxisPoint(i - 1)) << i;
    }
    // Shown rpm: period codes, so the highest speed sits at index 0.
    const int top = conv::LH_RpmFromCode(image.LH_GetRPMAxisPoint(0));
    const int bottom = conv::LH_RpmFromCode(image.LH_GetRPMAxisPoint(15));
    EXPECT_NEAR(top, 6000, 400);
    EXPECT_NEAR(bottom, 600, 80);
    EXPECT_GE(image.LH_GetMAFAxisPoint(0), 1);
    EXPECT_LE(image.LH_GetMAFAxisPoint(15), 255);
}

TEST_P(LH23Base, BaseFuelMapsSitNearTheirCentre) {
    const EPROM image = Load(GetParam());
    for (int map : {1, 2}) {
        int sum = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const int shown = image.ReadMapCell(map, x, y) - 128;
                EXPECT_GE(shown, -16);
                EXPECT_LE(shown, 16);
                sum += shown;
            }
        EXPECT_LT(std::abs(sum) / 256.0, 4.0) << "map " << map;
    }
}

TEST_P(LH23Base, WotEnrichmentRisesWithEngineSpeed) {
    const EPROM image = Load(GetParam());
    for (int map : {4, 5}) {
        const int n = image.GetMapXAxisWidth(map);
        ASSERT_GE(n, 8);
        for (int x = 1; x < n; ++x) {
            EXPECT_GT(image.GetMapXAxisPoint(map, x), image.GetMapXAxisPoint(map, x - 1));
            // x ascends in period, so the engine speed falls: the enrichment may not rise
            EXPECT_LE(image.ReadMapCell(map, x, 0), image.ReadMapCell(map, x - 1, 0)) << "map " << map << " x " << x;
        }
        EXPECT_NEAR(conv::LH_RpmFromCode(image.GetMapXAxisPoint(map, n - 1)), 600, 80);
        EXPECT_GT(conv::LH_RpmFromCode(image.GetMapXAxisPoint(map, 0)), 5500);
        // 0.8 / 128 per count: a few percent at idle speed, well below 30 % at the top
        EXPECT_GT(image.ReadMapCell(map, n - 1, 0), 5);
        EXPECT_LT(image.ReadMapCell(map, 0, 0), 48);
        EXPECT_GT(image.ReadMapCell(map, 0, 0), image.ReadMapCell(map, n - 1, 0));
    }
}

TEST_P(LH23Base, WarmupAndCrankingRiseAsTheEngineGetsColder) {
    const EPROM image = Load(GetParam());
    for (int map : {6, 7, 12}) {
        const int n = image.GetMapXAxisWidth(map);
        ASSERT_GE(n, 8);
        EXPECT_GE(conv::TempLH23Coolant(image.GetMapXAxisPoint(map, 0)), 90) << "map " << map;
        EXPECT_LE(conv::TempLH23Coolant(image.GetMapXAxisPoint(map, n - 1)), -20) << "map " << map;
        EXPECT_EQ(image.ReadMapCell(map, 0, 0), 0) << "no enrichment on a hot engine, map " << map;
        for (int x = 1; x < n; ++x) {
            EXPECT_LT(conv::TempLH23Coolant(image.GetMapXAxisPoint(map, x)),
                      conv::TempLH23Coolant(image.GetMapXAxisPoint(map, x - 1)));
            EXPECT_GE(image.ReadMapCell(map, x, 0), image.ReadMapCell(map, x - 1, 0)) << "map " << map << " x " << x;
        }
        EXPECT_GT(image.ReadMapCell(map, n - 1, 0), 30) << "map " << map;
    }
}

TEST_P(LH23Base, ParametersHoldStockSettings) {
    const EPROM image = Load(GetParam());
    const auto param = [&](int entry) { return image.ReadByte(image.GetEPROMAddress(entry)); };
    EXPECT_EQ(param(3), 128) << "19 lb/hr injectors";
    const int cutOff = conv::LH_RpmCodeLow(param(1));
    EXPECT_NEAR(conv::RoundToSignificant(cutOff, 3), 6200, 150);
    EXPECT_LT(conv::LH_RpmCodeHigh(param(2)), cutOff) << "fuel restored below the cut-off speed";
    EXPECT_GT(conv::LH_RpmCodeHigh(param(2)), 5000);
    // flap: open code stored as 254 - code, close code as the distance below it
    const int openCode = 254 - param(5);
    const int closeCode = openCode - param(6) - 1;
    EXPECT_GT(conv::LH_RpmCodeLow(closeCode), conv::LH_RpmCodeLow(openCode));
    EXPECT_NEAR(conv::LH_RpmCodeLow(openCode), 3500, 300);
    EXPECT_EQ(param(9) & 3, 0) << "oxygen sensor obeys the coding plug";
    EXPECT_EQ(image.ReadWord(image.GetEPROMAddress(11)), 1575) << "4.2 ms cranking";
    EXPECT_EQ(image.ReadWord(image.GetEPROMAddress(12)), 1575);
    const std::array<int, 9> opening = {2589, 1704, 1284, 879, 538, 414, 354, 290, 242};
    for (int k = 0; k < 9; ++k)
        EXPECT_EQ(image.ReadWord(image.GetEPROMAddress(13) + 2 * k), opening[static_cast<std::size_t>(k)]);
    const auto& idle = LH23ReferenceTable(1);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(image.ReadByte(image.GetEPROMAddress(19) + i), idle[static_cast<std::size_t>(i)]);
    EXPECT_FALSE(image.LH23_IsFixedISVPWEnabled());
    EXPECT_EQ(image.LH23_GetFixedISVPW(), 1920);
    const int flapThreshold = param(10);
    EXPECT_GE(flapThreshold, 1);
    EXPECT_EQ(param(21), 64) << "acceleration enrichment base setting 0";
    EXPECT_EQ(param(23), conv::RoundEven(param(22) * 1.5));
}

INSTANTIATE_TEST_SUITE_P(BothMeters, LH23Base, ::testing::Values("MRX_D", "MRX_D-SUPERMAF"),
                         [](const auto& info) { return std::string(info.param) == "MRX_D" ? "Standard" : "SuperMAF"; });

TEST(LH23SuperMAF, IsTheStandardImageAfterTheConversion) {
    EPROM converted = Load("MRX_D");
    converted.LH23_MakeSuperMAF();
    const EPROM superMaf = Load("MRX_D-SUPERMAF");
    EXPECT_EQ(converted.Bytes(), superMaf.Bytes());
    EXPECT_EQ(superMaf.LH_GetMAFAxisPoint(15), 236);
    EXPECT_NE(Load("MRX_D").Bytes(), superMaf.Bytes());
}

// ---------------------------------------------------------------------------------------------
// EZK

// Degrees the editor shows for an absolute ignition cell in a column of the given speed.
double ShownAdvance(const EPROM& image, int stored, double rpm) {
    const int u = std::clamp(stored + image.EZK_GetRPMCompensation(rpm), 0, 255);
    return conv::EZK_IgnitionAdvance(u, rpm);
}

double AxisRpm(const EPROM& image, int selector, int i) {
    return conv::EZK_RpmFromPeriod(image.EZK_GetRPMAxisPoint(selector, i));
}

const char* const kEzkNames[] = {"EZK_D-S4",          "EZK_D-GT",          "EZK_D-GTS",
                                 "EZK_D-S4-SUPERMAF", "EZK_D-GT-SUPERMAF", "EZK_D-GTS-SUPERMAF"};

class EZKBase : public ::testing::TestWithParam<const char*> {};

TEST_P(EZKBase, RpmAxesAscendInSpeedAcrossTheEngine) {
    const EPROM image = Load(GetParam());
    struct AxisRange {
        int selector;
        double top;
        double bottom;
    };
    for (const AxisRange& a : {AxisRange{1, 6000, 600}, AxisRange{2, 6000, 600}, AxisRange{3, 5300, 500}}) {
        for (int i = 1; i < 16; ++i)
            EXPECT_GT(image.EZK_GetRPMAxisPoint(a.selector, i), image.EZK_GetRPMAxisPoint(a.selector, i - 1));
        EXPECT_NEAR(AxisRpm(image, a.selector, 0), a.top, a.top * 0.03) << "axis " << a.selector;
        EXPECT_NEAR(AxisRpm(image, a.selector, 15), a.bottom, a.bottom * 0.03) << "axis " << a.selector;
    }
}

TEST_P(EZKBase, IgnitionMapsShowAPlausibleAdvance) {
    const EPROM image = Load(GetParam());
    struct MapAxis {
        int map;
        int selector;
        int rows;
    };
    const MapAxis maps[] = {{16, 1, 16}, {17, 1, 16}, {18, 1, 16}, {22, 1, 1}, {23, 1, 1},
                            {24, 1, 1},  {19, 3, 1},  {20, 3, 1},  {21, 3, 1}};
    for (const MapAxis& m : maps)
        for (int x = 0; x < 16; ++x)
            for (int y = 0; y < m.rows; ++y) {
                const int stored = image.ReadMapCell(m.map, x, y);
                EXPECT_GE(stored, 16);
                EXPECT_LE(stored, 176);
                const double deg = ShownAdvance(image, stored, AxisRpm(image, m.selector, x));
                EXPECT_GE(deg, 9.5) << "map " << m.map << " (" << x << ", " << y << ")";
                EXPECT_LE(deg, 38.5) << "map " << m.map << " (" << x << ", " << y << ")";
            }
    // Cruise: more advance at light load than at full load, and at speed than at idle speed.
    const double light3000 = ShownAdvance(image, image.ReadMapCell(16, 6, 0), AxisRpm(image, 1, 6));
    const double full3000 = ShownAdvance(image, image.ReadMapCell(16, 6, 15), AxisRpm(image, 1, 6));
    const double light600 = ShownAdvance(image, image.ReadMapCell(16, 15, 0), AxisRpm(image, 1, 15));
    EXPECT_GT(light3000, full3000 + 5);
    EXPECT_GT(light3000, light600 + 10);
    // 91 octane never runs more advance than 98 octane non-cat.
    for (int x = 0; x < 16; ++x) EXPECT_GE(image.ReadMapCell(24, x, 0), image.ReadMapCell(22, x, 0)) << x;
}

TEST_P(EZKBase, RetardAndCompensationMapsStayInRange) {
    const EPROM image = Load(GetParam());
    for (int map : {25, 26, 27})
        for (int x = 0; x < 16; ++x) {
            const double deg = image.ReadMapCell(map, x, 0) * 6 / 16.0;
            EXPECT_GE(deg, 3.0) << "map " << map;
            EXPECT_LE(deg, 15.0) << "map " << map;
        }
    for (int map : {13, 14, 15}) {
        EXPECT_EQ(image.GetMapXAxisWidth(map), 15);
        for (int x = 0; x < 15; ++x) {
            const double deg = (128 - image.ReadMapCell(map, x, 0)) * 6 / 16.0;
            EXPECT_GE(deg, 0.0) << "map " << map;
            EXPECT_LE(deg, 6.0) << "map " << map;
        }
    }
    for (int k = 0; k < 16; ++k) {
        const int c = static_cast<std::int8_t>(image.ReadByte(image.GetEPROMAddress(32) + k));
        EXPECT_LE(std::abs(c), 4);
    }
    EXPECT_FALSE(image.EZK_IsWOTIgnored());
    const auto param = [&](int entry) { return image.ReadByte(image.GetEPROMAddress(entry)); };
    EXPECT_NEAR(param(34) * 6 / 16.0, 3.0, 1.5) << "knock retard step";
    for (int entry : {38, 39, 40, 41}) EXPECT_LE(param(entry) * 6 / 16.0, 6.0) << entry;
    for (int entry : {35, 36, 37})
        for (int i = 0; i < 16; ++i) EXPECT_GE(image.ReadByte(image.GetEPROMAddress(entry) + i), 4);
}

INSTANTIATE_TEST_SUITE_P(AllSets, EZKBase, ::testing::ValuesIn(kEzkNames), [](const auto& info) {
    std::string n = info.param;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

int DifferingCells(const EPROM& a, const EPROM& b, int map, int rows) {
    int n = 0;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < 16; ++x) n += a.ReadMapCell(map, x, y) != b.ReadMapCell(map, x, y) ? 1 : 0;
    return n;
}

TEST(EZKBaseSets, TheThreeModelsHaveVisiblyDifferentMaps) {
    const EPROM s4 = Load("EZK_D-S4");
    const EPROM gt = Load("EZK_D-GT");
    const EPROM gts = Load("EZK_D-GTS");
    for (int map : {16, 17, 18}) {
        EXPECT_GT(DifferingCells(s4, gt, map, 16), 32) << map;
        EXPECT_GT(DifferingCells(s4, gts, map, 16), 32) << map;
        EXPECT_GT(DifferingCells(gt, gts, map, 16), 32) << map;
    }
    for (int map : {19, 22, 25}) {
        EXPECT_GT(DifferingCells(s4, gt, map, 1), 0) << map;
        EXPECT_GT(DifferingCells(gt, gts, map, 1), 0) << map;
    }
}

TEST(EZKBaseSets, SuperMAFVariantsCompressTheLoadRowsAndChangeNothingElse) {
    for (const char* set : {"S4", "GT", "GTS"}) {
        const EPROM standard = Load(std::string("EZK_D-") + set);
        const EPROM superMaf = Load(std::string("EZK_D-") + set + "-SUPERMAF");
        for (int map : {16, 17, 18})
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    EXPECT_EQ(superMaf.ReadMapCell(map, x, y), standard.ReadMapCell(map, x, y < 8 ? 2 * y : 15))
                        << set << " map " << map << " (" << x << ", " << y << ")";
        int elsewhere = 0;
        for (int a = 0; a < 16384; ++a) {
            const bool inMainMap = (a >= 4096 && a < 4352) || (a >= 5120 && a < 5376) || (a >= 6144 && a < 6400);
            if (!inMainMap && a != 16363 && standard.ReadByte(a) != superMaf.ReadByte(a)) ++elsewhere;
        }
        EXPECT_EQ(elsewhere, 0) << set;
    }
}

// ---------------------------------------------------------------------------------------------
// LH 2.2

class LH22Base : public ::testing::TestWithParam<const char*> {};

TEST_P(LH22Base, AxesAndMapsArePlausible) {
    const EPROM image = Load(GetParam());
    for (int i = 1; i < 16; ++i) {
        EXPECT_GT(image.LH_GetRPMAxisPoint(i), image.LH_GetRPMAxisPoint(i - 1)) << i;
        EXPECT_LT(image.LH_GetMAFAxisPoint(i), image.LH_GetMAFAxisPoint(i - 1)) << i;
    }
    EXPECT_NEAR(conv::LH_RpmFromByteMid(image.LH_GetRPMAxisPoint(0)), 6000, 400);
    EXPECT_NEAR(conv::LH_RpmFromByteMid(image.LH_GetRPMAxisPoint(15)), 600, 80);
    EXPECT_LE(image.LH_GetMAFAxisPoint(0), 255) << "whole MAF points, not only their low byte";
    EXPECT_GE(image.LH_GetMAFAxisPoint(15), 1);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const int shown = image.ReadMapCell(28, x, y) - 512;
            EXPECT_GE(shown, -24);
            EXPECT_LE(shown, 24);
        }
    // Fixed axes: x = 0 is the highest speed / hottest engine.
    EXPECT_GT(image.ReadMapCell(29, 0, 0), image.ReadMapCell(29, 16, 0)) << "WOT enrichment rises with speed";
    for (int map : {30, 32}) {
        EXPECT_EQ(image.ReadMapCell(map, 0, 0), 0) << map;
        for (int x = 1; x < 17; ++x) EXPECT_GE(image.ReadMapCell(map, x, 0), image.ReadMapCell(map, x - 1, 0)) << map;
        EXPECT_GT(image.ReadMapCell(map, 16, 0), 50) << map;
    }
}

TEST_P(LH22Base, ParametersHoldStockSettings) {
    const EPROM image = Load(GetParam());
    const auto param = [&](int entry) { return image.ReadByte(image.GetEPROMAddress(entry)); };
    EXPECT_NEAR(60.0 / (param(42) * 0.0001144409), 6100, 250) << "fuel cut-off";
    EXPECT_EQ(param(46), 128) << "24 lb/hr injectors";
    const int cranking = param(47) * 256 + param(48);
    EXPECT_NEAR(cranking * 3.5765 / 1000.0, 4.2, 0.01);
    EXPECT_EQ(param(49), param(48));
    const int opening = param(50) * 256 + param(51);
    EXPECT_NEAR(((opening / 256.0) + 130) / 559200 * 1000, 0.55, 0.01);
    EXPECT_TRUE(param(53) == 0xA7 || param(53) == 0x97);
    const std::array<int, 9> table = {7, 7, 7, 9, 12, 14, 26, 26, 26};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(image.ReadByte(image.GetEPROMAddress(54) + i), table[static_cast<std::size_t>(i)]);
    EXPECT_EQ(image.LH22_IsO2LoopEnabled(), std::string(GetParam()) == "MRX_LH22_USA") << "oxygen loop on US cars";
}

INSTANTIATE_TEST_SUITE_P(BothRegions, LH22Base, ::testing::Values("MRX_LH22_USA", "MRX_LH22_EURO"),
                         [](const auto& info) { return std::string(info.param) == "MRX_LH22_USA" ? "USA" : "Euro"; });

// ---------------------------------------------------------------------------------------------
// EZF

class EZFBase : public ::testing::TestWithParam<const char*> {};

TEST_P(EZFBase, AxesSpanSpeedLoadAndTemperature) {
    const EPROM image = Load(GetParam());
    for (int i = 1; i < 16; ++i) {
        EXPECT_GT(image.EZF_GetRPMAxisPoint(i), image.EZF_GetRPMAxisPoint(i - 1));
        EXPECT_GT(image.EZF_GetLoadAxisPoint(i), image.EZF_GetLoadAxisPoint(i - 1));
    }
    EXPECT_NEAR(conv::EZF_RpmFromPeriod(image.EZF_GetRPMAxisPoint(0)), 6000, 200);
    EXPECT_NEAR(conv::EZF_RpmFromPeriod(image.EZF_GetRPMAxisPoint(15)), 600, 30);
    EXPECT_NEAR(conv::VacuumFromRaw(image.EZF_GetLoadAxisPoint(0) * 256.0), 20, 1);
    EXPECT_NEAR(conv::VacuumFromRaw(image.EZF_GetLoadAxisPoint(15) * 256.0), 0, 0.5);
    for (int selector : {0, 1, 2}) {
        EXPECT_NEAR(conv::TempEZFCoolant(image.EZF_GetCoolantTempAxisPoint(selector, 0)), 80, 3);
        EXPECT_NEAR(conv::TempEZFCoolant(image.EZF_GetCoolantTempAxisPoint(selector, 4)), 0, 3);
    }
    for (int selector : {1, 2}) {
        EXPECT_NEAR(conv::TempEZFAirTemp(image.EZF_GetAirTempAxisPoint(selector, 0)), 80, 3);
        EXPECT_NEAR(conv::TempEZFAirTemp(image.EZF_GetAirTempAxisPoint(selector, 4)), 0, 3);
    }
}

TEST_P(EZFBase, MapsStayWithinTheirLimits) {
    const EPROM image = Load(GetParam());
    const auto degrees = [](int v) { return 70.2 - ((v / 2.0 + 10) / 2) * 1.8; };
    for (int map : {33, 34, 35})
        for (int y = 0; y < (map == 33 ? 16 : 1); ++y)
            for (int x = 0; x < 16; ++x) {
                const int v = image.ReadMapCell(map, x, y);
                EXPECT_GE(v, 1);
                EXPECT_LE(v, 144);
                EXPECT_GE(degrees(v), 9.5) << "map " << map;
                EXPECT_LE(degrees(v), 38.5) << "map " << map;
            }
    // Light load (row 0, most vacuum) runs more advance than full load at cruise speed.
    EXPECT_GT(degrees(image.ReadMapCell(33, 4, 0)), degrees(image.ReadMapCell(33, 4, 15)) + 5);
    for (int map : {36, 37})
        for (int x = 0; x < 5; ++x) {
            EXPECT_GE(image.ReadMapCell(map, x, 0), 0);
            EXPECT_LE(image.ReadMapCell(map, x, 0), 20);
        }
    for (int map : {38, 39, 40})
        for (int x = 0; x < 5; ++x) {
            const int signedValue = static_cast<std::int8_t>(image.ReadMapCell(map, x, 0));
            EXPECT_GE(signedValue, -20) << map;
            EXPECT_LE(signedValue, -1) << map;
        }
    const auto param = [&](int entry) { return image.ReadByte(image.GetEPROMAddress(entry)); };
    EXPECT_EQ(param(55), 0);
    EXPECT_EQ(param(56), 0xE6) << "calibration byte below 128";
    EXPECT_EQ(param(57), 0xFF);
    EXPECT_EQ(param(58), param(59));
    EXPECT_NEAR(conv::VacuumFromRaw(conv::EZF_VacuumCalibrated((256 - param(58)) * 256, param(55))), 5, 0.2);
}

INSTANTIATE_TEST_SUITE_P(BothRegions, EZFBase, ::testing::Values("EZF_USA", "EZF_EURO"),
                         [](const auto& info) { return std::string(info.param) == "EZF_USA" ? "USA" : "Euro"; });

} // namespace

} // namespace kv
