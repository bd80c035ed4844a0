// Kind recognition from the marker bytes, the order of the rules, and what each kind reports.
#include "eprom_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

struct KindCase {
    const char* what;
    Bytes bytes;
    int kind;
};

Bytes With(Bytes image, std::size_t address, const std::string& text) {
    Put(image, address, text);
    return image;
}

const std::string kLHMarkerTypeA("MRX\xFF\xFF", 5);
const std::string kLHMarkerQuoted("\x22MR\x93\x22", 5);

class KindRules : public testing::TestWithParam<KindCase> {};

TEST_P(KindRules, MarkersDecideTheKind) {
    const auto& c = GetParam();
    EPROM image;
    image.LoadFromArray(c.bytes);
    EXPECT_EQ(image.GetKind(), c.kind) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Markers, KindRules,
    testing::Values(
        KindCase{"no marker", Filled(), 0}, KindCase{"erased", Bytes(16384, 0xFF), 0},
        KindCase{"LH Type A", With(Filled(), 16368, kLHMarkerTypeA), 1},
        KindCase{"LH MRX-D", With(Filled(), 16368, "MRX-D"), 3},
        KindCase{"LH quoted marker", With(Filled(), 16368, kLHMarkerQuoted), 3},
        KindCase{"LH marker with wrong case", With(Filled(), 16368, "mrx-d"), 0},
        KindCase{"EZK Type A", With(Filled(), 16352, "MRX-A"), 4},
        KindCase{"EZK MRX-D", With(Filled(), 16352, "MRX-D"), 5},
        KindCase{"EZK marker wins over LH marker", With(With(Filled(), 16368, "MRX-D"), 16352, "MRX-D"), 5},
        KindCase{"build text wins over LH marker", With(With(Filled(), 16368, "MRX-D"), 16200, "MRX-C"), 2},
        KindCase{"build text at its first byte", With(Filled(), 16128, "MRX-C"), 2},
        KindCase{"build text at its last bytes", With(Filled(), 16251, "MRX-C"), 2},
        KindCase{"build text just past its area", With(Filled(), 16252, "MRX-C"), 0},
        KindCase{"build text in lower case", With(Filled(), 16200, "mrx-c"), 0},
        // the small kinds
        KindCase{"LH 2.2 USA file", LH22Image('U'), 6}, KindCase{"LH 2.2 Euro file", LH22Image('E'), 7},
        KindCase{"LH 2.2 other region", LH22Image('X'), 0},
        KindCase{"LH 2.2 in a 27C128 file", Repeat(LH22Image('E'), 4), 7},
        // a 16 kB file buffer is read from address 0: the marker must be in the first copy too
        KindCase{"LH 2.2 only at the window of a file buffer", With(Filled(), 12288 + 4057, "MU"), 0},
        KindCase{"LH 2.2 copies of different regions", With(With(Filled(), 12288 + 4057, "MU"), 4057, "ME"), 0},
        KindCase{"EZF image", EZFImage(), 8}, KindCase{"EZF in a 27C32 file", Repeat(EZFImage(), 2), 8},
        KindCase{"EZF marker in one copy of a 27C32 file only", With(Filled(4096), 1790, "M"), 0},
        KindCase{"EZF only at the window of a file buffer", With(Filled(), 14336 + 1790, "M"), 0},
        KindCase{"EZF in a 27C128 file", Repeat(EZFImage(), 8), 8},
        KindCase{"4 kB file has no marker areas", With(Filled(4096), 4096 - 5, "MRX-D"), 0},
        // region markers never override the 16 kB kinds
        KindCase{"LH 2.3 holding an LH 2.2 region marker", With(With(Filled(), 16368, "MRX-D"), 16345, "MU"), 3},
        KindCase{"EZK holding an EZF region marker", With(With(Filled(), 16352, "MRX-D"), 16126, "M"), 5},
        KindCase{"Type C holding a region marker", With(With(Filled(), 16345, "ME"), 16130, "MRX-C"), 2}));

struct IdentityCase {
    const char* what;
    Bytes bytes;
    const char* name;
    int ecuType;
    int ecuFunction;
    int creator;
    int imageSize;
    int windowOffset;
    int revision;
};

class KindIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(KindIdentity, KindTableValues) {
    const auto& c = GetParam();
    EPROM image;
    image.LoadFromArray(c.bytes);
    EXPECT_EQ(image.GetName(), c.name) << c.what;
    EXPECT_EQ(EcuTypeCode(image.GetECUType()), c.ecuType) << c.what;
    EXPECT_EQ(image.GetECUFunction(), c.ecuFunction) << c.what;
    EXPECT_EQ(image.GetCreator(), c.creator) << c.what;
    EXPECT_EQ(image.ImageSize(), c.imageSize) << c.what;
    EXPECT_EQ(image.WindowOffset(), c.windowOffset) << c.what;
    EXPECT_EQ(image.GetRevision(), c.revision) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Kinds, KindIdentity,
                         testing::Values(IdentityCase{"unknown", Filled(), "", 0, 0, 1, 16384, 0, 0},
                                         IdentityCase{"LH Type A", With(Filled(), 16368, kLHMarkerTypeA),
                                                      "928 LH S4/GT/GTS Dravenholt Type A", 1, 1, 1, 16384, 0, 0},
                                         IdentityCase{"LH Type C", With(Filled(), 16200, "MRX-C"),
                                                      "928 LH S4/GT/GTS Dravenholt Type C", 1, 1, 2, 16384, 0, 0},
                                         IdentityCase{"LH 2.3", LH23Image(5), "928 LH S4/GT/GTS", 1, 1, 1, 16384, 0, 5},
                                         IdentityCase{"EZK Type A", With(Filled(), 16352, "MRX-A"),
                                                      "928 EZK S4/GT/GTS Dravenholt Type A", 2, 2, 1, 16384, 0, 0},
                                         IdentityCase{"EZK", EZKImage(7), "928 EZK S4/GT/GTS", 2, 2, 1, 16384, 0, 7},
                                         IdentityCase{"LH 2.2 USA", LH22Image('U', 3), "928 LH '85 - '86 32-valve USA",
                                                      3, 1, 1, 4096, 12288, 3},
                                         IdentityCase{"LH 2.2 Euro", LH22Image('E', 1), "928 LH S2 16-valve Euro", 3, 1,
                                                      1, 4096, 12288, 1},
                                         IdentityCase{"EZF", EZFImage(2), "928 EZF", 4, 2, 1, 2048, 14336, 2}));

TEST(Kinds, MAFTypeAndBaseMapsName) {
    EPROM lh;
    lh.LoadFromArray(LH23Image());
    lh.WriteWord(13056 + 30, 0);
    EXPECT_EQ(lh.LH23EZK_GetMAFType(), "SuperMAF");
    lh.WriteWord(13056 + 30, 1);
    EXPECT_EQ(lh.LH23EZK_GetMAFType(), "Standard MAF");

    struct EzkCase {
        std::string nameBytes;
        int superMAFFlag;
        const char* baseMaps;
        const char* mafType;
    };
    const EzkCase cases[] = {{std::string("GT\xFF\xFF\xFF", 5), 1, "GT", "SuperMAF"},
                             {"GTS  ", 0, "GTS", "Standard MAF"},
                             {std::string("\xFFS4\xFF\xFF", 5), 2, "S4", "Standard MAF"},
                             {std::string("\xFF\xFF\xFF\xFF\xFF", 5), 0xFF, "", "Standard MAF"},
                             {std::string("A\xFF"
                                          "B\xFF\xFF",
                                          5),
                              1, "A B", "SuperMAF"}};
    for (const auto& c : cases) {
        Bytes bytes = EZKImage();
        Put(bytes, 16358, c.nameBytes);
        bytes[16363] = static_cast<std::uint8_t>(c.superMAFFlag);
        EPROM ezk;
        ezk.LoadFromArray(bytes);
        EXPECT_EQ(ezk.GetBaseMapsName(), c.baseMaps) << c.baseMaps;
        EXPECT_EQ(ezk.LH23EZK_GetMAFType(), c.mafType) << c.baseMaps;
    }

    EPROM lh22;
    lh22.LoadFromArray(LH22Image());
    EXPECT_EQ(lh22.LH23EZK_GetMAFType(), "");
    EXPECT_EQ(lh22.GetBaseMapsName(), "");
}

TEST(Kinds, ArrayLoadKeepsTheWholeBuffer) {
    // The caller of LoadFromArray passes the image itself: a window-sized buffer is not cut.
    const Bytes buffer = Repeat(LH22Image('U', 4), 4);
    EPROM image;
    image.LoadFromArray(buffer);
    EXPECT_EQ(image.GetKind(), 6);
    EXPECT_EQ(image.Bytes(), buffer);
    EXPECT_EQ(image.ImageSize(), 4096);
    EXPECT_EQ(image.GetRevision(), 4);
}

struct WindowCase {
    const char* what;
    Bytes image;
    std::int32_t windowOffset;
    int kind;
};

class DeviceWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(DeviceWindow, DeviceLoadFindsTheMarkerAtTheWindowAndExtractsTheImage) {
    const auto& c = GetParam();
    RecordingDevice device;
    device.emulator = Filled(16384, 21); // whatever the module held below the image
    std::copy(c.image.begin(), c.image.end(), device.emulator.begin() + c.windowOffset);
    EpromContext context;
    context.device = &device;
    EPROM image(context);
    ASSERT_EQ(image.LoadFromEmulator(), "") << c.what;
    EXPECT_EQ(image.GetKind(), c.kind) << c.what;
    EXPECT_EQ(image.WindowOffset(), c.windowOffset) << c.what;
    EXPECT_EQ(image.Bytes(), c.image) << c.what; // no patch list: the module holds the patched image
    EXPECT_FALSE(image.HasBeenModified()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Windows, DeviceWindow,
                         testing::Values(WindowCase{"LH 2.2 Euro", LH22Image('E', 2), 12288, 7},
                                         WindowCase{"EZF", EZFImage(3), 14336, 8},
                                         WindowCase{"LH 2.3", LH23Image(), 0, 3}, WindowCase{"EZK", EZKImage(), 0, 5}));

TEST(Kinds, TablesOfAnEarlierKindStayForKindsWithoutTables) {
    EPROM image;
    image.LoadFromArray(LH23Image());
    EXPECT_EQ(image.GetMapAddr(3), 13056);
    image.LoadFromArray(With(Filled(), 16368, kLHMarkerTypeA));
    EXPECT_EQ(image.GetKind(), 1);
    EXPECT_EQ(image.GetMapAddr(3), 13056);
    EXPECT_EQ(image.GetEPROMAddress(1), 12364);
    EPROM fresh;
    fresh.LoadFromArray(With(Filled(), 16368, kLHMarkerTypeA));
    EXPECT_EQ(fresh.GetMapAddr(3), 0);
}

} // namespace

} // namespace kv
