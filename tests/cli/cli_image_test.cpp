// kestrovane-cli image and unpack commands, run in-process on files in a temporary folder.
#include "cli/cli.h"
#include "cli_run.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "eprom/pack_key.h"

#include <gtest/gtest.h>

#include "../eprom/eprom_test_util.h"

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace kv {

namespace {

using namespace eprom_test;
using Bytes = std::vector<std::uint8_t>;

class CliImage : public testing::Test {
protected:
    TempDir dir;
    std::string Path(const std::string& name) const { return dir.File(name); }
    // Saves bytes as a 27C256 file through the image model (file patches and all).
    std::string SaveImage(const std::string& name, const Bytes& bytes, FileFormat format = FileFormat::EPROM27C256) {
        EPROM image;
        image.LoadFromArray(bytes);
        EXPECT_TRUE(image.SaveToFile(Path(name), format));
        return Path(name);
    }
    static EPROM Load(const std::string& path) {
        EPROM image;
        EXPECT_EQ(image.LoadFromFile(path), "");
        return image;
    }
};

TEST_F(CliImage, InfoListsTheImageInOrder) {
    Bytes bytes = EZKImage(6);
    Put(bytes, 16358, std::string("GTS\xFF\xFF", 5));
    bytes[16363] = 1;
    const auto file = SaveImage("ezk.bin", bytes, FileFormat::EPROM27C512);
    const CliRun r = Cli({"image", "info", file});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "kind: 5\n"
                     "name: 928 EZK S4/GT/GTS\n"
                     "ecu_type: 2\n"
                     "ecu_function: 2\n"
                     "creator: 1\n"
                     "revision: 6\n"
                     "maf_type: SuperMAF\n"
                     "base_maps: GTS\n"
                     "file_format: 4\n"
                     "file_format_name: 27C512 EPROM binary (64 kB)\n"
                     "empty: no\n"
                     "modified: no\n");
    EXPECT_EQ(r.err, "");

    WriteFile(Path("blank.bin"), Bytes(4096, 0xFF));
    const CliRun blank = Cli({"image", "info", Path("blank.bin")});
    EXPECT_EQ(blank.code, 0);
    EXPECT_NE(blank.out.find("kind: 0\nname: \n"), std::string::npos);
    EXPECT_NE(blank.out.find("empty: yes\n"), std::string::npos);
}

struct FailureCase {
    const char* what;
    std::vector<std::string> args; // "@name" is replaced by a path in the temporary folder
    int code;
    const char* err; // start of the standard error text
};

class CliImageFailures : public CliImage, public testing::WithParamInterface<FailureCase> {};

TEST_P(CliImageFailures, ExitCodeAndMessage) {
    const auto& c = GetParam();
    WriteFile(Path("odd.bin"), Bytes(16385, 0x11));
    SaveImage("lh23.bin", LH23Image());
    SaveImage("later.bin", LH23Image(9));
    SaveImage("ezk5.bin", EZKImage(5));
    SaveImage("unknown.bin", Filled());
    Bytes typeA = Filled();
    Put(typeA, 16368, std::string("MRX\xFF\xFF", 5));
    SaveImage("typea.bin", typeA);
    Bytes typeC = LH23Image();
    Put(typeC, 16200, "MRX-C");
    SaveImage("typec.bin", typeC);
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(a.rfind('@', 0) == 0 ? Path(a.substr(1)) : a);
    const CliRun r = Cli(args);
    EXPECT_EQ(r.code, c.code) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << c.what << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CliImageFailures,
    testing::Values(
        FailureCase{"info of a file of odd length", {"image", "info", "@odd.bin"}, 1, "Unrecognized file format\n"},
        FailureCase{"info of a missing file", {"image", "info", "@none.bin"}, 1, "Failed to open file\n"},
        FailureCase{"info without a file", {"image", "info"}, 2, "usage:"},
        FailureCase{"info with two files", {"image", "info", "@a", "@b"}, 2, "usage:"},
        FailureCase{"no sub-command", {"image"}, 2, "usage:"},
        FailureCase{"unknown sub-command", {"image", "melt", "@lh23.bin"}, 2, "usage:"},
        FailureCase{"new from an unknown base",
                    {"image", "new", "NO_SUCH", "-o", "@x.bin"},
                    1,
                    "Sorry, the selected EPROM is not yet supported\n"},
        FailureCase{"new without output", {"image", "new", "MRX_D"}, 2, "usage:"},
        FailureCase{
            "new with a format out of range", {"image", "new", "MRX_D", "-o", "@x.bin", "--format", "5"}, 2, "usage:"},
        FailureCase{"new with a format that is no number",
                    {"image", "new", "MRX_D", "-o", "@x.bin", "--format", "3x"},
                    2,
                    "usage:"},
        FailureCase{"convert without format", {"image", "convert", "@lh23.bin", "-o", "@x.bin"}, 2, "usage:"},
        FailureCase{"convert with an unknown option",
                    {"image", "convert", "@lh23.bin", "-o", "@x.bin", "--fmt", "2"},
                    2,
                    "usage:"},
        FailureCase{"convert of an unreadable file",
                    {"image", "convert", "@odd.bin", "-o", "@x.bin", "--format", "2"},
                    1,
                    "Unrecognized file format\n"},
        FailureCase{"convert of a 16 kB image into a 4 kB file",
                    {"image", "convert", "@lh23.bin", "-o", "@x.bin", "--format", "1"},
                    1,
                    "The image does not fit the 27C32 EPROM binary (4 kB) format\n"},
        FailureCase{"convert into a missing folder",
                    {"image", "convert", "@lh23.bin", "-o", "@no/such/x.bin", "--format", "2"},
                    1,
                    "Save failed - disk I/O error\n"},
        FailureCase{"upgrade of a later image",
                    {"image", "upgrade", "@later.bin", "-o", "@x.bin"},
                    1,
                    "The selected EPROM image was created in a later version of the Kestrovane software and is not "
                    "compatible with this version (1.0.0). \r\n\r\nPlease contact Dravenholt"},
        FailureCase{"upgrade of an old EZK image without the SuperMAF answer",
                    {"image", "upgrade", "@ezk5.bin", "-o", "@x.bin"},
                    2,
                    "Is the car equipped with a SuperMAF?"},
        FailureCase{"upgrade with a SuperMAF answer that is neither yes nor no",
                    {"image", "upgrade", "@ezk5.bin", "-o", "@x.bin", "--supermaf", "maybe"},
                    2,
                    "usage:"},
        FailureCase{"upgrade of an unknown image",
                    {"image", "upgrade", "@unknown.bin", "-o", "@x.bin"},
                    1,
                    "Unrecognized EPROM. Only special EPROMs from Dravenholt are supported by Kestrovane.\n"},
        FailureCase{"SuperMAF conversion of an ignition image",
                    {"image", "supermaf", "@ezk5.bin", "-o", "@x.bin"},
                    1,
                    "The SuperMAF conversion applies to LH 2.3 and LH 2.2"},
        FailureCase{"SuperMAF conversion of a Type A image, which has no map addresses",
                    {"image", "supermaf", "@typea.bin", "-o", "@x.bin"},
                    1,
                    "The image was made by an earlier version: upgrade it first"},
        FailureCase{"SuperMAF conversion of a Type C image, which has no map addresses",
                    {"image", "supermaf", "@typec.bin", "-o", "@x.bin"},
                    1,
                    "The image was made by an earlier version: upgrade it first"},
        FailureCase{"SuperMAF conversion of a later image",
                    {"image", "supermaf", "@later.bin", "-o", "@x.bin"},
                    1,
                    "The selected EPROM image was created in a later version"},
        FailureCase{"unpack of a missing file", {"unpack", "@none.bin", "-o", "@x.bin"}, 1, "Failed to open file\n"},
        FailureCase{"unpack without output", {"unpack", "@lh23.bin"}, 2, "usage:"},
        FailureCase{"unpack of a folder", {"unpack", "@", "-o", "@x.bin"}, 1, "Not a regular file: "},
        FailureCase{"unpack of an endless device",
                    {"unpack", "/dev/zero", "-o", "@x.bin"},
                    1,
                    "Not a regular file: /dev/zero\n"},
        FailureCase{"unpack onto a folder", {"unpack", "@lh23.bin", "-o", "@"}, 1, "Not a regular file: "}));

TEST_F(CliImage, FailedCommandsWriteNoOutputFile) {
    SaveImage("later.bin", LH23Image(9));
    Cli({"image", "new", "NO_SUCH", "-o", Path("a.bin")});
    Cli({"image", "upgrade", Path("later.bin"), "-o", Path("b.bin")});
    EXPECT_FALSE(std::filesystem::exists(Path("a.bin")));
    EXPECT_FALSE(std::filesystem::exists(Path("b.bin")));
}

TEST_F(CliImage, ConvertKeepsTheImageAndChangesTheFileLength) {
    const auto in = SaveImage("in.bin", LH23Image(), FileFormat::EPROM27C128);
    const struct {
        const char* format;
        std::size_t length;
    } cases[] = {{"2", 16384}, {"3", 32768}, {"4", 65536}};
    for (const auto& c : cases) {
        const CliRun r = Cli({"image", "convert", in, "-o", Path("out.bin"), "--format", c.format});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(ReadFile(Path("out.bin")).size(), c.length);
        EXPECT_EQ(Load(Path("out.bin")).Bytes(), Load(in).Bytes());
    }
    // LH 2.2 may go down to a 27C32
    const auto lh22 = SaveImage("lh22.bin", LH22Image('E'), FileFormat::EPROM27C256);
    ASSERT_EQ(Cli({"image", "convert", lh22, "-o", Path("small.bin"), "--format", "1"}).code, 0);
    EXPECT_EQ(ReadFile(Path("small.bin")), LH22Image('E'));
}

TEST_F(CliImage, UpgradeOfAnOldEZKImageWithSuperMAF) {
    Bytes old = EZKImage(5);
    for (int row = 0; row < 16; ++row)
        for (int col = 0; col < 16; ++col)
            old[static_cast<std::size_t>(4096 + 16 * row + col)] = static_cast<std::uint8_t>(row);
    old[2931] = 0x5A; // protected parameter
    const auto in = SaveImage("old.bin", old, FileFormat::EPROM27C128);
    const CliRun r = Cli({"image", "upgrade", in, "-o", Path("new.bin"), "--supermaf", "yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    const EPROM upgraded = Load(Path("new.bin"));
    EXPECT_EQ(upgraded.GetKind(), 5);
    EXPECT_EQ(upgraded.GetRevision(), 8);
    EXPECT_EQ(upgraded.LH23EZK_GetMAFType(), "SuperMAF");
    EXPECT_EQ(upgraded.GetFileFormat(), FileFormat::EPROM27C128); // the old file's format
    EXPECT_EQ(upgraded.ReadByte(2931), 0x5A);
    const int rows[] = {0, 2, 4, 6, 8, 10, 12, 14, 15, 15, 15, 15, 15, 15, 15, 15};
    for (int row = 0; row < 16; ++row) EXPECT_EQ(upgraded.ReadByte(4096 + 16 * row + 3), rows[row]) << row;

    const CliRun standard = Cli({"image", "upgrade", in, "-o", Path("std.bin"), "--supermaf", "no"});
    ASSERT_EQ(standard.code, 0) << standard.err;
    const EPROM kept = Load(Path("std.bin"));
    EXPECT_EQ(kept.LH23EZK_GetMAFType(), "Standard MAF");
    for (int row = 0; row < 16; ++row) EXPECT_EQ(kept.ReadByte(4096 + 16 * row + 3), row) << row;
}

TEST_F(CliImage, UpgradeOfAnOldLH23ImageKeepsItsMaps) {
    Bytes old = LH23Image(4);
    old[13568] = 0x21; // map 1, first cell
    const auto in = SaveImage("old.bin", old);
    const CliRun r = Cli({"image", "upgrade", in, "-o", Path("new.bin")});
    ASSERT_EQ(r.code, 0) << r.err;
    const EPROM upgraded = Load(Path("new.bin"));
    EXPECT_EQ(upgraded.GetRevision(), 8);
    EXPECT_EQ(upgraded.ReadMapCell(1, 0, 0), 0x21);
    EXPECT_NE(upgraded.ReadByte(100), old[100]); // program code comes from the base image
}

TEST_F(CliImage, UpgradeOfACurrentImageWritesItUnchanged) {
    const auto in = SaveImage("cur.bin", LH23Image(8));
    ASSERT_EQ(Cli({"image", "upgrade", in, "-o", Path("out.bin")}).code, 0);
    EXPECT_EQ(ReadFile(Path("out.bin")), ReadFile(in));
}

TEST_F(CliImage, SuperMAFConversionOfTheFuelImages) {
    const auto lh23 = SaveImage("lh23.bin", LH23Image());
    ASSERT_EQ(Cli({"image", "supermaf", lh23, "-o", Path("s23.bin")}).code, 0);
    const EPROM converted = Load(Path("s23.bin"));
    EXPECT_EQ(converted.LH23EZK_GetMAFType(), "SuperMAF");
    EXPECT_EQ(converted.LH_GetMAFAxisPoint(15), 236);

    const auto lh22 = SaveImage("lh22.bin", LH22Image(), FileFormat::EPROM27C32);
    ASSERT_EQ(Cli({"image", "supermaf", lh22, "-o", Path("s22.bin")}).code, 0);
    const EPROM converted22 = Load(Path("s22.bin"));
    EXPECT_EQ(converted22.GetFileFormat(), FileFormat::EPROM27C32);
    EXPECT_EQ(converted22.ReadMapCell(28, 0, 0), 0x3FB);
}

TEST_F(CliImage, UnpackWritesTheUnpackedBytes) {
    const auto key = PackedResourceKey();
    Bytes tokens = {0x00, 0x02, 0x10, 0x20, 0x80, 0x04, 0x00, 0x02, 0xC0};
    for (std::size_t i = 0; i < tokens.size(); ++i) tokens[i] ^= key[i % key.size()];
    Bytes packed = {'F', 'P', 1};
    packed.insert(packed.end(), tokens.begin(), tokens.end());
    WriteFile(Path("p.bin"), packed);
    ASSERT_EQ(Cli({"unpack", Path("p.bin"), "-o", Path("u.bin")}).code, 0);
    EXPECT_EQ(ReadFile(Path("u.bin")), Bytes({0x10, 0x20, 0x10, 0x20, 0x10, 0x20}));

    const Bytes raw = Filled(100);
    WriteFile(Path("raw.bin"), raw);
    ASSERT_EQ(Cli({"unpack", Path("raw.bin"), "-o", Path("r.bin")}).code, 0);
    EXPECT_EQ(ReadFile(Path("r.bin")), raw);
}

// Fill tokens of 16383 bytes each, then one fill of `rest` bytes: a tiny input for a large output.
Bytes PackedFills(int fullTokens, int rest) {
    Bytes packed = {'F', 'P', 0};
    for (int i = 0; i < fullTokens; ++i) packed.insert(packed.end(), {0x7F, 0xFF, 0x5A});
    if (rest > 0)
        packed.insert(packed.end(),
                      {static_cast<std::uint8_t>(0x40 | (rest >> 8)), static_cast<std::uint8_t>(rest & 0xFF), 0x5A});
    packed.push_back(0xC0);
    return packed;
}

TEST_F(CliImage, UnpackRefusesAnOutputPast16MB) {
    constexpr std::size_t kLimit = 16u * 1024 * 1024;
    const struct {
        const char* what;
        int fullTokens;
        int rest;
        bool written;
    } cases[] = {
        {"exactly 16 MB", 1024, 1024, true}, {"one byte more", 1024, 1025, false}, {"twice as much", 2048, 0, false}};
    for (const auto& c : cases) {
        std::filesystem::remove(Path("u.bin"));
        WriteFile(Path("p.bin"), PackedFills(c.fullTokens, c.rest));
        const CliRun r = Cli({"unpack", Path("p.bin"), "-o", Path("u.bin")});
        if (c.written) {
            EXPECT_EQ(r.code, 0) << c.what << ": " << r.err;
            EXPECT_EQ(std::filesystem::file_size(Path("u.bin")), kLimit) << c.what;
        } else {
            EXPECT_EQ(r.code, 1) << c.what;
            EXPECT_EQ(r.err, "The unpacked data would be larger than 16 MB\n") << c.what;
            EXPECT_FALSE(std::filesystem::exists(Path("u.bin"))) << c.what;
        }
    }
}

TEST_F(CliImage, UsageOfImageNewListsTheBaseImages) {
    const CliRun r = Cli({"image", "new", "MRX_D"});
    EXPECT_EQ(r.code, 2);
    for (const std::string& base : BaseImageNames()) EXPECT_NE(r.err.find(base), std::string::npos) << base;
}

TEST_F(CliImage, UnpackNeverCostsTheOldOutput) {
    // The output is written beside its place first: something in that place makes the write fail
    // for every user, root included, and the old output stays as it was.
    const Bytes old = Filled(100, 5);
    WriteFile(Path("u.bin"), old);
    WriteFile(Path("raw.bin"), Filled(200, 6));
    std::filesystem::create_directory(Path("u.bin.kvtmp"));
    const CliRun r = Cli({"unpack", Path("raw.bin"), "-o", Path("u.bin")});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(ReadFile(Path("u.bin")), old);
}

// What sits at the output's name besides a file, and what each system makes of it.
struct OutputPlace {
    const char* what;
    std::string output;   // the -o name
    std::string receiver; // the file that takes the output, or "" when the output is refused
};

#ifdef _WIN32
// Windows links are reparse points, which a save refuses like devices; Wine makes none (its
// CreateSymbolicLinkW makes nothing), so the device names stand for what is refused.
std::vector<OutputPlace> OutputPlaces(const std::function<std::string(const std::string&)>&) {
    return {{"the null device", "NUL", ""}, {"the null device in capitals and small letters", "nul", ""}};
}
#else
// A symbolic link is followed: its target receives the output and the link stays.
std::vector<OutputPlace> OutputPlaces(const std::function<std::string(const std::string&)>& path) {
    std::filesystem::create_symlink("u.bin", path("link.bin"));
    return {{"a symbolic link", path("link.bin"), path("u.bin")}, {"a device node", "/dev/null", ""}};
}
#endif

TEST_F(CliImage, UnpackOntoWhatIsNoPlainFileFollowsTheSystemsRule) {
    WriteFile(Path("u.bin"), Filled(100, 5));
    WriteFile(Path("raw.bin"), Filled(200, 6));
    for (const OutputPlace& c : OutputPlaces([this](const std::string& name) { return Path(name); })) {
        SCOPED_TRACE(c.what);
        const CliRun r = Cli({"unpack", Path("raw.bin"), "-o", c.output});
        if (c.receiver.empty()) {
            EXPECT_EQ(r.code, 1);
            EXPECT_EQ(r.err, "Not a regular file: " + c.output + "\n");
        } else {
            EXPECT_EQ(r.code, 0) << r.err;
            EXPECT_TRUE(std::filesystem::is_symlink(c.output)) << "the link stays";
            EXPECT_EQ(ReadFile(c.receiver), Filled(200, 6));
        }
    }
}

} // namespace

} // namespace kv
