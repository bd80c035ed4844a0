// The state file: the car keeps its memories and firmware versions between runs; a damaged
// file is set aside and the run starts with a fresh car.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

class SimStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::path(::testing::TempDir()) /
               ("simstate-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        file_ = (dir_ / "car.state").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    SimOptions Options() const {
        SimOptions o;
        o.stateFile = file_;
        return o;
    }
    static std::string Slurp(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::filesystem::path dir_;
    std::string file_;
};

TEST_F(SimStateTest, MemoriesAndVersionsSurviveARestart) {
    {
        SimOptions o = Options();
        o.firmwareVersion = "6.002";
        o.pemFirmwareVersion = "0.97";
        SimRig rig(o);
        ASSERT_EQ(rig.host->Exchange({0x86, 'L', 0x10, 0x00, 3, 1, 2, 3}, 1), Bytes("1"));
        ASSERT_EQ(rig.host->Exchange({0x86, 'E', 0x3F, 0xFF, 1, 9}, 1), Bytes("1"));
        rig.Device().EmulatorMemory()[5] = 0x55;
        rig.Device().MarkMemoryChanged();
    }
    SimRig again(Options()); // default versions: the file's win
    EXPECT_EQ(again.host->Exchange({0x85, 'L', 0x10, 0x00, 3}, 4), (B{1, 2, 3, '1'}));
    EXPECT_EQ(again.host->Exchange({0x85, 'E', 0x3F, 0xFF, 1}, 2), (B{9, '1'}));
    EXPECT_EQ(again.host->Exchange({'r', 0, 5, 0, 1}, 2), (B{0x55, '1'}));
    const B v = again.host->Exchange(Bytes("v"), 5);
    EXPECT_EQ(std::string(v.begin(), v.end()), "6.002");
    EXPECT_EQ(again.Device().Module(kSimLH).firmwareVersion, "0.97");
}

TEST_F(SimStateTest, SavedWhileRunningAfterAModuleLoadAndAfterAWhile) {
    SimRig rig(Options());
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.host->Exchange({0x82, 1}, 1);
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_EQ(rig.host->Exchange({0x95, 'L'}, 1), Bytes("1"));
    B block{0x91, 0x00, 0x01};
    B crcIn{0x00, 0x01};
    for (int i = 0; i < 64; ++i) {
        block.push_back(0x77);
        crcIn.push_back(0x77);
    }
    const std::uint16_t crc = CrcOf(crcIn);
    block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    block.push_back(static_cast<std::uint8_t>(crc >> 8));
    ASSERT_EQ(rig.host->Exchange(block, 1), Bytes("1"));
    ASSERT_EQ(rig.host->Exchange({0x93, 0xBE, 0xEF}, 1), Bytes("1"));
    {
        SimRig reader(Options());
        EXPECT_EQ(reader.Device().Module(kSimLH).memory[0x100], 0x77) << "written at the end of the load";
    }
    ASSERT_EQ(rig.host->Exchange({0x86, 'L', 0x00, 0x00, 1, 0x31}, 1), Bytes("1"));
    rig.clock.SleepMs(2500);
    rig.host->Exchange(Bytes("t"), 1);
    SimRig reader(Options());
    EXPECT_EQ(reader.Device().Module(kSimLH).memory[0], 0x31) << "a live edit is saved within seconds";
}

struct BadStateCase {
    const char* name;
    std::string content;
};

std::string ValidStateWith(const std::string& replaceKey, const std::string& value) {
    const std::string hex(32768, 'F');
    std::string s = "Kestrovane simulated car, state 1\n";
    const std::pair<std::string, std::string> entries[] = {
        {"firmware", "6.003"}, {"lh-firmware", "1.00"}, {"ezk-firmware", "1.00"},
        {"coolant", "20"},     {"emulator", hex},       {"lh", hex},
        {"ezk", hex}};
    for (const auto& [k, v] : entries) s += k + "=" + (k == replaceKey ? value : v) + "\n";
    return s;
}

class SimBadStateTest : public SimStateTest, public ::testing::WithParamInterface<BadStateCase> {};

TEST_P(SimBadStateTest, StartsFreshKeepsTheOldFileAndRewritesIt) {
    {
        std::ofstream out(file_, std::ios::binary);
        out << GetParam().content;
    }
    SimOptions o = Options();
    o.firmwareVersion = "6.001";
    ::testing::internal::CaptureStderr();
    {
        SimRig rig(o);
        const std::string err = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find("malformed"), std::string::npos) << err;
        EXPECT_NE(err.find(file_), std::string::npos) << err;
        ASSERT_TRUE(rig.sim);
        EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T"));
        const B v = rig.host->Exchange(Bytes("v"), 5);
        EXPECT_EQ(std::string(v.begin(), v.end()), "6.001") << "fresh car from the options";
        EXPECT_EQ(rig.host->Exchange({0x85, 'L', 0, 0, 1}, 2), (B{0xFF, '1'}));
    }
    EXPECT_EQ(Slurp(file_ + ".bad"), GetParam().content) << "the damaged file is kept";
    ::testing::internal::CaptureStderr();
    SimRig next(Options());
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "the file was rewritten in good form";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SimBadStateTest,
    ::testing::Values(BadStateCase{"Empty", ""}, BadStateCase{"Garbage", "\x01\x02 not a state \xff\n"},
                      BadStateCase{"HeaderOnly", "Kestrovane simulated car, state 1\n"},
                      BadStateCase{"ShortMemory", ValidStateWith("lh", "FFFF")},
                      BadStateCase{"NotHex", ValidStateWith("ezk", std::string(32767, 'F') + "G")},
                      BadStateCase{"VersionWithSpace", ValidStateWith("firmware", "6 003")},
                      BadStateCase{"CoolantNotANumber", ValidStateWith("coolant", "warm")},
                      BadStateCase{"UnknownKey", ValidStateWith("firmware", "6.003") + "turbo=yes\n"},
                      BadStateCase{"LineWithoutEquals", ValidStateWith("firmware", "6.003") + "xyz\n"},
                      BadStateCase{"DuplicateEntry", ValidStateWith("firmware", "6.003") + "lh-firmware=0.97\n"},
                      BadStateCase{"HexadecimalCoolant", ValidStateWith("coolant", "0x1A")},
                      BadStateCase{"ExponentCoolant", ValidStateWith("coolant", "2e1")}),
    [](const ::testing::TestParamInfo<BadStateCase>& info) { return std::string(info.param.name); });

// A state file that is not a file: the simulated device is refused with what is wrong, and
// nothing is set aside or written over it.
TEST_F(SimStateTest, ADirectoryOrDeviceNodeIsRefusedWithItsError) {
    struct Case {
        const char* name;
        std::string path;
        const char* error;
    };
    const Case cases[] = {
        {"directory", dir_.string(), "Is a directory"},
#ifdef _WIN32
        {"device name", "NUL", "not a regular file"},
#else
        {"device node", "/dev/null", "not a regular file"},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o;
        o.stateFile = c.path;
        const std::string message = ValidateSimOptions(o);
        EXPECT_NE(message.find(c.path), std::string::npos) << message;
        EXPECT_NE(message.find(c.error), std::string::npos) << message;
        FakeClock clock;
        EXPECT_EQ(MakeSimulatedBackend(o, clock), nullptr);
        EXPECT_FALSE(std::filesystem::exists(c.path + ".bad"));
    }
}

TEST_F(SimStateTest, HandWrittenFilesLoadWithEitherLineEnding) {
    for (const bool crlf : {false, true}) {
        std::string text = ValidStateWith("ezk-firmware", "0.90");
        if (crlf) {
            std::string converted;
            for (char c : text) converted += c == '\n' ? std::string("\r\n") : std::string(1, c);
            text = converted;
        }
        {
            std::ofstream out(file_, std::ios::binary);
            out << text;
        }
        ::testing::internal::CaptureStderr();
        SimRig rig(Options());
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << crlf;
        EXPECT_EQ(rig.Device().Module(kSimEZK).firmwareVersion, "0.90") << crlf;
    }
}

struct ImageFileCase {
    const char* name;
    std::size_t fileSize; // 0 = no such file
    bool emulator;        // into the emulation memory (else the LH module)
    bool loaded;
};

class SimImageFileTest : public SimStateTest, public ::testing::WithParamInterface<ImageFileCase> {};

TEST_P(SimImageFileTest, EpromFilesFillTheTopOfTheWindow) {
    const ImageFileCase& c = GetParam();
    const std::string image = (dir_ / "image.bin").string();
    B bytes(c.fileSize);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i / 4096 + 1);
    if (c.fileSize > 0) {
        std::ofstream out(image, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    SimOptions o = Options();
    (c.emulator ? o.emulatorImageFile : o.lhImageFile) = image;
    ::testing::internal::CaptureStderr();
    SimRig rig(o);
    const std::string err = ::testing::internal::GetCapturedStderr();
    const B& memory = c.emulator ? rig.Device().EmulatorMemory() : rig.Device().Module(kSimLH).memory;
    ASSERT_EQ(memory.size(), 16384U);
    if (c.loaded) {
        EXPECT_EQ(err, "");
        const std::size_t n = std::min<std::size_t>(c.fileSize, 16384);
        EXPECT_TRUE(std::equal(bytes.end() - static_cast<std::ptrdiff_t>(n), bytes.end(),
                               memory.end() - static_cast<std::ptrdiff_t>(n)));
        EXPECT_TRUE(std::all_of(memory.begin(), memory.end() - static_cast<std::ptrdiff_t>(n),
                                [](std::uint8_t b) { return b == 0xFF; }));
    } else {
        EXPECT_NE(err.find("was not loaded"), std::string::npos) << err;
        EXPECT_TRUE(std::all_of(memory.begin(), memory.end(), [](std::uint8_t b) { return b == 0xFF; }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, SimImageFileTest,
    ::testing::Values(ImageFileCase{"EmulatorSmall", 4096, true, true}, ImageFileCase{"Emulator64k", 65536, true, true},
                      ImageFileCase{"Module32k", 32768, false, true}, ImageFileCase{"ModuleSmall", 4096, false, false},
                      ImageFileCase{"ModuleOddSize", 16383, false, false}, ImageFileCase{"Missing", 0, false, false}),
    [](const ::testing::TestParamInfo<ImageFileCase>& info) { return std::string(info.param.name); });

TEST_F(SimStateTest, AGivenImageFileReplacesTheSavedModule) {
    {
        SimRig rig(Options());
        ASSERT_EQ(rig.host->Exchange({0x86, 'L', 0, 0, 1, 0x11}, 1), Bytes("1"));
    }
    const std::string image = (dir_ / "image.bin").string();
    {
        std::ofstream out(image, std::ios::binary);
        out << std::string(16384, '\x22');
    }
    SimOptions o = Options();
    o.lhImageFile = image;
    SimRig rig(o);
    EXPECT_EQ(rig.Device().Module(kSimLH).memory[0], 0x22);
}

} // namespace

} // namespace kv
