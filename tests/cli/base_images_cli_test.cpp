// `kestrovane-cli image new` writes every base image as an EPROM file that `image info` reads
// back as the right kind, revision, MAF type and base maps.
#include "cli/cli.h"
#include "cli_run.h"
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace kv {

namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir() : path_(fs::temp_directory_path() / ("kv_base_cli_" + std::to_string(::getpid()))) {
        fs::remove_all(path_);
        fs::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& Path() const { return path_; }

private:
    fs::path path_;
};

struct NewCase {
    const char* base;
    const char* format; // "" = the default format
    std::size_t fileSize;
    const char* info; // the whole expected output of `image info`
};

const NewCase kCases[] = {
    {"MRX_D", "", 32768,
     "kind: 3\nname: 928 LH S4/GT/GTS\necu_type: 1\necu_function: 1\ncreator: 1\nrevision: 8\n"
     "maf_type: Standard MAF\nbase_maps: \nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"MRX_D-SUPERMAF", "2", 16384,
     "kind: 3\nname: 928 LH S4/GT/GTS\necu_type: 1\necu_function: 1\ncreator: 1\nrevision: 8\n"
     "maf_type: SuperMAF\nbase_maps: \nfile_format: 2\nfile_format_name: 27C128 EPROM binary (16 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-S4", "", 32768,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: Standard MAF\nbase_maps: S4\nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-GT", "4", 65536,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: Standard MAF\nbase_maps: GT\nfile_format: 4\nfile_format_name: 27C512 EPROM binary (64 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-GTS", "", 32768,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: Standard MAF\nbase_maps: GTS\nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-S4-SUPERMAF", "", 32768,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: SuperMAF\nbase_maps: S4\nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-GT-SUPERMAF", "2", 16384,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: SuperMAF\nbase_maps: GT\nfile_format: 2\nfile_format_name: 27C128 EPROM binary (16 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZK_D-GTS-SUPERMAF", "", 32768,
     "kind: 5\nname: 928 EZK S4/GT/GTS\necu_type: 2\necu_function: 2\ncreator: 1\nrevision: 8\n"
     "maf_type: SuperMAF\nbase_maps: GTS\nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"MRX_LH22_USA", "1", 4096,
     "kind: 6\nname: 928 LH '85 - '86 32-valve USA\necu_type: 3\necu_function: 1\ncreator: 1\nrevision: 1\n"
     "maf_type: \nbase_maps: \nfile_format: 1\nfile_format_name: 27C32 EPROM binary (4 kB)\n"
     "empty: no\nmodified: no\n"},
    {"MRX_LH22_EURO", "", 32768,
     "kind: 7\nname: 928 LH S2 16-valve Euro\necu_type: 3\necu_function: 1\ncreator: 1\nrevision: 1\n"
     "maf_type: \nbase_maps: \nfile_format: 3\nfile_format_name: 27C256 EPROM binary (32 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZF_USA", "1", 4096,
     "kind: 8\nname: 928 EZF\necu_type: 4\necu_function: 2\ncreator: 1\nrevision: 1\n"
     "maf_type: \nbase_maps: \nfile_format: 1\nfile_format_name: 27C32 EPROM binary (4 kB)\n"
     "empty: no\nmodified: no\n"},
    {"EZF_EURO", "2", 16384,
     "kind: 8\nname: 928 EZF\necu_type: 4\necu_function: 2\ncreator: 1\nrevision: 1\n"
     "maf_type: \nbase_maps: \nfile_format: 2\nfile_format_name: 27C128 EPROM binary (16 kB)\n"
     "empty: no\nmodified: no\n"},
};

// What the file holds where the image's file patch list differs from the device values.
const std::map<int, std::map<int, int>> kFileValues = {
    {3,
     {{12462, 0},
      {84, 144},
      {11302, 144},
      {9575, 194},
      {9576, 177},
      {10065, 194},
      {10066, 177},
      {10104, 194},
      {10105, 177}}},
    {5, {{1233, 32}, {1234, 3}, {1087, 0}}},
};

class ImageNewFromBase : public ::testing::TestWithParam<NewCase> {
protected:
    TempDir dir_;
};

TEST_P(ImageNewFromBase, WritesAnEpromFileThatReadsBackAsTheBaseImage) {
    const NewCase& c = GetParam();
    const fs::path file = dir_.Path() / (std::string(c.base) + ".bin");
    std::vector<std::string> args = {"image", "new", c.base, "-o", file.string()};
    if (*c.format != '\0') {
        args.emplace_back("--format");
        args.emplace_back(c.format);
    }
    const CliRun made = Cli(args);
    ASSERT_EQ(made.code, kExitOk) << made.err;
    EXPECT_EQ(made.err, "");

    const std::vector<std::uint8_t> bytes = ReadFileBytes(file.string());
    ASSERT_EQ(bytes.size(), c.fileSize);

    const CliRun info = Cli({"image", "info", file.string()});
    EXPECT_EQ(info.code, kExitOk) << info.err;
    EXPECT_EQ(info.out, c.info);

    // The file is the image, repeated to fill the EPROM, with the file values of the patch list.
    EPROM base;
    ASSERT_EQ(LoadBaseImage(c.base, base), "");
    const auto& image = base.Bytes();
    ASSERT_EQ(bytes.size() % image.size(), 0u);
    const auto patches = kFileValues.find(base.GetKind());
    int mismatches = 0;
    for (std::size_t copy = 0; copy < bytes.size() / image.size(); ++copy)
        for (std::size_t a = 0; a < image.size(); ++a) {
            int expected = image[a];
            if (patches != kFileValues.end()) {
                const auto p = patches->second.find(static_cast<int>(a));
                if (p != patches->second.end()) expected = p->second;
            }
            if (bytes[copy * image.size() + a] != expected) ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
}

INSTANTIATE_TEST_SUITE_P(EveryBaseImage, ImageNewFromBase, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n = info.param.base;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
});

TEST(ImageNewFromBase, CoversEveryBaseImage) {
    std::vector<std::string> covered;
    for (const NewCase& c : kCases) covered.emplace_back(c.base);
    EXPECT_EQ(covered, BaseImageNames());
}

} // namespace

} // namespace kv
