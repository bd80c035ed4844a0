// Firmware container check, the embedded images, both upgrade procedures and the dialogues.
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "mini_device.h"
#include "platform/resources.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <set>

namespace kv {

namespace {

Bytes Payload(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return b;
}

void SetU32(Bytes& d, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Recomputes the checksum field after a header change.
Bytes Resealed(Bytes d) {
    SetU32(d, 12, 0);
    const std::uint32_t total = d[8] | d[9] << 8 | d[10] << 16 | static_cast<std::uint32_t>(d[11]) << 24;
    Bytes body(d.begin(), d.begin() + std::min<std::size_t>(total, d.size()));
    SetU32(d, 12, Crc16Of(body));
    return d;
}

TEST(FirmwareContainer, Checks) {
    const Bytes good = BuildFirmwareContainer(Payload(300), 1, "6.003");
    struct Case {
        const char* name;
        Bytes data;
        bool exact;
        bool ok;
    };
    std::vector<Case> cases = {
        {"good file", good, true, true},
        {"kind 2", Resealed([&] {
             Bytes d = good;
             d[16] = 2;
             return d;
         }()),
         true, true},
        {"kind 3", Resealed([&] {
             Bytes d = good;
             d[16] = 3;
             return d;
         }()),
         true, false},
        {"kind 0", Resealed([&] {
             Bytes d = good;
             d[16] = 0;
             return d;
         }()),
         true, false},
        {"file one byte longer",
         [&] {
             Bytes d = good;
             d.push_back(0xFF);
             return d;
         }(),
         true, false},
        {"file one byte shorter", Bytes(good.begin(), good.end() - 1), true, false},
        {"embedded image padded", BuildFirmwareContainer(Payload(300), 1, "6.003", 400), false, true},
        {"embedded image cut short", Bytes(good.begin(), good.end() - 1), false, false},
        {"wrong checksum",
         [&] {
             Bytes d = good;
             d[12] ^= 1;
             return d;
         }(),
         true, false},
        {"payload byte changed",
         [&] {
             Bytes d = good;
             d[200] ^= 0x80;
             return d;
         }(),
         true, false},
        {"checksum high bytes ignored",
         [&] {
             Bytes d = good;
             d[14] = 0x77;
             d[15] = 0x88;
             return d;
         }(),
         true, true},
        {"bad tag", Resealed([&] {
             Bytes d = good;
             d[6] = 0xF2;
             return d;
         }()),
         true, false},
        {"payload past the end", Resealed([&] {
             Bytes d = good;
             SetU32(d, 29, 301);
             return d;
         }()),
         true, false},
        {"payload bounds overflow", Resealed([&] {
             Bytes d = good;
             SetU32(d, 25, 0xFFFFFFF0u);
             SetU32(d, 29, 0x20);
             return d;
         }()),
         true, false},
        {"header only", Bytes(good.begin(), good.begin() + 20), true, false},
        {"empty", Bytes{}, true, false},
        {"empty payload", BuildFirmwareContainer(Bytes{}, 1, "6.003"), true, false},
        {"payload length zero", Resealed([&] {
             Bytes d = good;
             SetU32(d, 29, 0);
             return d;
         }()),
         true, false},
    };
    for (const Case& c : cases) EXPECT_EQ(CheckFirmwareBytes(c.data, c.exact, nullptr), c.ok) << c.name;
}

TEST(FirmwareContainer, CheckShowsTheCheckingProgress) {
    ScriptedDialogs dialogs;
    EXPECT_TRUE(CheckFirmwareBytes(BuildFirmwareContainer(Payload(3000), 1, "6.003"), true, &dialogs));
    ASSERT_FALSE(dialogs.log.empty());
    EXPECT_EQ(dialogs.log.front(), "ShowProgress|Checking|3");
    EXPECT_EQ(dialogs.log.back(), "CloseProgress");
}

TEST(EmbeddedFirmware, DeviceImageAndModuleImageAreUsable) {
    const auto fw = LoadResource("FIRMWARE");
    ASSERT_TRUE(fw.has_value());
    ASSERT_GE(fw->size(), 10905u);
    const auto header = ParseFirmwareHeader(*fw);
    ASSERT_TRUE(header.Ok());
    EXPECT_EQ(header->totalLength, 10905u);
    EXPECT_EQ(header->payloadOffset, 33u);
    EXPECT_EQ(header->payloadLength, 10872u);
    EXPECT_EQ(header->version, "6.003   ");
    EXPECT_TRUE(CheckFirmwareBytes(*fw, false, nullptr));
    EXPECT_EQ(UnpackResource(*fw), *fw); // not in the packed form

    const auto nv = LoadResource("NVRAM-FIRMWARE");
    ASSERT_TRUE(nv.has_value());
    ASSERT_GE(nv->size(), 3u);
    EXPECT_EQ((*nv)[0], 'F');
    EXPECT_EQ((*nv)[1], 'P');
    EXPECT_EQ((*nv)[2], 1);
    EXPECT_GE(UnpackResource(*nv).size(), 16256u);
}

TEST(VersionCompare, OrdinalText) {
    struct Case {
        const char* a;
        const char* b;
        bool below;
    };
    const Case cases[] = {{"6.002", "6.003", true}, {"6.003", "6.003", false}, {"6.1", "6.003", false},
                          {"", "6.003", true},      {"0.95", "1.00", true},    {"1.00", "1.00", false},
                          {"10.0", "6.003", true},  {"A", "1.00", false}};
    for (const Case& c : cases) EXPECT_EQ(VersionBelow(c.a, c.b), c.below) << c.a << " vs " << c.b;
}

// ---- procedures against the mini device ----

class FirmwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        dialogs.logProgressUpdates = false;
        ASSERT_TRUE(comms.Comms_Open());
    }
    // One file per test: the tests run in parallel processes.
    std::string WriteTemp(const Bytes& data) {
        const std::string path = ::testing::TempDir() + "/kv_fw_test_" +
                                 ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".dat";
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
        return path;
    }
    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& l : dialogs.log)
            if (l.rfind("ShowProgress|", 0) == 0) out.push_back(l.substr(13));
        return out;
    }

    FakeClock clock;
    FakeHid hid{clock};
    MiniDevice device{hid};
    Comms comms{hid, clock};
    ScriptedDialogs dialogs;
    Firmware firmware{comms, dialogs, dialogs, dialogs, clock};
};

TEST_F(FirmwareTest, ThreeHundredBytePayloadGoesAsTwoBlocksPaddedWithFF) {
    device.versionAfterUpgrade = "6.004";
    ASSERT_TRUE(firmware.OpenFirmware(WriteTemp(BuildFirmwareContainer(Payload(300), 2, "6.004"))));
    ASSERT_TRUE(firmware.CheckFirmware());
    EXPECT_EQ(firmware.GetFirmwareFileVersion(), "6.004");
    EXPECT_TRUE(firmware.UpgradeDeviceFirmware());
    ASSERT_EQ(device.firmwareBlocks.size(), 2u);
    const Bytes p = Payload(300);
    EXPECT_EQ(device.firmwareBlocks[0], Bytes(p.begin(), p.begin() + 256));
    Bytes second(p.begin() + 256, p.end());
    second.resize(256, 0xFF);
    EXPECT_EQ(device.firmwareBlocks[1], second);
    EXPECT_EQ(device.badCrcBlocks, 0);
    EXPECT_TRUE(device.restarted);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Checking|0", "Starting firmware upgrade|1", "Loading firmware|1",
                                                    "Restarting firmware|16"}));
    EXPECT_EQ(dialogs.log.back(), "CloseProgress");
    EXPECT_FALSE(dialogs.progressVisible);
}

TEST_F(FirmwareTest, EmbeddedImageGoesWhole) {
    ASSERT_TRUE(firmware.OpenFirmware(kEmbeddedFirmwareSource));
    ASSERT_TRUE(firmware.CheckFirmware());
    EXPECT_EQ(firmware.GetFirmwareFileVersion(), "6.003");
    EXPECT_TRUE(firmware.UpgradeDeviceFirmware());
    EXPECT_EQ(device.firmwareBlocks.size(), 43u); // 10872 bytes: 42 full blocks and one of 120 bytes
}

TEST_F(FirmwareTest, FailingBlockStopsTheUpgradeWithoutRestart) {
    device.acceptFirmwareBlock = [](int n) { return n != 1; };
    ASSERT_TRUE(firmware.OpenFirmware(WriteTemp(BuildFirmwareContainer(Payload(1000), 1, "6.003"))));
    EXPECT_FALSE(firmware.UpgradeDeviceFirmware());
    EXPECT_EQ(device.firmwareBlocks.size(), 1u);
    EXPECT_FALSE(device.restarted);
    EXPECT_FALSE(dialogs.progressVisible);
}

TEST_F(FirmwareTest, LoaderThatNeverAnswersFailsAfterFourAttempts) {
    device.loaderAnswers = false;
    ASSERT_TRUE(firmware.OpenFirmware(kEmbeddedFirmwareSource));
    const auto before = clock.now;
    EXPECT_FALSE(firmware.UpgradeDeviceFirmware());
    EXPECT_GE(clock.now - before, 10000); // waits of 1 + 2 + 3 + 4 s
    EXPECT_TRUE(device.firmwareBlocks.empty());
    EXPECT_FALSE(dialogs.progressVisible);
}

TEST_F(FirmwareTest, RestartWaitPollsEveryHalfSecondUntilTheDeviceAnswers) {
    struct Case {
        int silentReopens;
        bool ok;
    };
    for (const Case c : {Case{0, true}, Case{6, true}, Case{40, false}}) {
        FakeClock clk;
        FakeHid h{clk};
        MiniDevice dev{h};
        dev.silentReopensAfterRestart = c.silentReopens;
        Comms link{h, clk};
        ScriptedDialogs dlg;
        Firmware fw{link, dlg, dlg, dlg, clk};
        ASSERT_TRUE(link.Comms_Open());
        ASSERT_TRUE(fw.OpenFirmware(kEmbeddedFirmwareSource));
        EXPECT_EQ(fw.UpgradeDeviceFirmware(), c.ok) << c.silentReopens;
        EXPECT_FALSE(dlg.progressVisible);
    }
}

TEST_F(FirmwareTest, ModuleFirmwareGoesAs254BlocksThenTheModuleRestarts) {
    int polls = 0;
    device.detectStatus = [&](int poll) {
        polls = poll + 1;
        return poll < 3 ? 0 : 1;
    };
    EXPECT_TRUE(firmware.UpgradePemFirmware(1));
    ASSERT_EQ(device.pemBlocks.size(), 254u);
    const Bytes image = UnpackResource(*LoadResource("NVRAM-FIRMWARE"));
    for (const auto& [address, block] : device.pemBlocks)
        EXPECT_EQ(block, Bytes(image.begin() + address, image.begin() + address + 64)) << address;
    EXPECT_EQ(device.pemBlocks.rbegin()->first, 16192);
    EXPECT_EQ(polls, 4);
    EXPECT_EQ(device.commands, (std::vector<std::string>{"pem-update", "detect-start", "detect-stop", "select"}));
    EXPECT_EQ(Captions(), (std::vector<std::string>{"Loading EPROM Module firmware|254", "Updating firmware|21"}));
    EXPECT_FALSE(dialogs.progressVisible);
}

TEST_F(FirmwareTest, ModuleFirmwareFailures) {
    struct Case {
        const char* name;
        std::function<void(MiniDevice&)> setUp;
        std::size_t blocksWritten;
    };
    const Case cases[] = {
        {"a block refused eight times", [](MiniDevice& d) { d.acceptPemBlock = [](int a) { return a != 128; }; }, 2},
        {"update start refused", [](MiniDevice& d) { d.pemUpdateStartOk = false; }, 254},
        {"module never seen again", [](MiniDevice& d) { d.detectStatus = [](int) { return 0; }; }, 254},
        {"select refused", [](MiniDevice& d) { d.selectOk = false; }, 254},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        FakeHid h{clk};
        MiniDevice dev{h};
        c.setUp(dev);
        Comms link{h, clk};
        ScriptedDialogs dlg;
        Firmware fw{link, dlg, dlg, dlg, clk};
        ASSERT_TRUE(link.Comms_Open());
        EXPECT_FALSE(fw.UpgradePemFirmware(2)) << c.name;
        EXPECT_EQ(dev.pemBlocks.size(), c.blocksWritten) << c.name;
        EXPECT_FALSE(dlg.progressVisible) << c.name;
        if (std::string(c.name) == "module never seen again") {
            EXPECT_EQ(dev.detectPolls, 22);
            EXPECT_EQ(dev.commands.back(), "detect-stop");
        }
    }
}

TEST(ModuleFirmware, MissingOrShortImageIsNeverSent) {
    for (const auto& image : {std::optional<Bytes>{}, std::optional<Bytes>{Bytes(16255, 0)}}) {
        FakeClock clock;
        FakeHid hid{clock};
        MiniDevice device{hid};
        Comms comms{hid, clock};
        ScriptedDialogs dialogs;
        Firmware firmware{comms, dialogs, dialogs, dialogs, clock, [&](std::string_view) { return image; }};
        ASSERT_TRUE(comms.Comms_Open());
        EXPECT_FALSE(firmware.UpgradePemFirmware(1));
        EXPECT_TRUE(device.pemBlocks.empty());
    }
}

TEST(StartUpCheck, OffersTheUpgradeOnlyForAnOlderDevice) {
    struct Case {
        std::string deviceVersion;
        bool asked;
    };
    for (const Case& c : {Case{"6.002", true}, Case{"6.003", false}, Case{"6.1", false}, Case{"", false}}) {
        FakeClock clock;
        FakeHid hid{clock};
        MiniDevice device{hid};
        device.version = c.deviceVersion;
        Comms comms{hid, clock};
        ScriptedDialogs dialogs;
        dialogs.answers = {MsgResult::No};
        Firmware firmware{comms, dialogs, dialogs, dialogs, clock};
        ASSERT_TRUE(comms.Comms_Open());
        firmware.CheckFirmwareAtStartUp(true);
        if (c.asked) {
            ASSERT_EQ(dialogs.log.size(), 2u);
            EXPECT_EQ(dialogs.log[0],
                      "MessageBox|Old firmware version detected|This version of the Kestrovane PC software requires "
                      "firmware version 6.003 on the Kestrovane device. The firmware version on your Kestrovane "
                      "device is 6.002.\r\n\r\nDo you wish to upgrade the firmware to version 6.003 now?");
            EXPECT_EQ(dialogs.log[1], "MessageBox|Warning|The Kestrovane may not work properly until you have "
                                      "upgraded the firmware.");
        } else {
            EXPECT_TRUE(dialogs.log.empty()) << c.deviceVersion;
        }
    }
}

TEST_F(FirmwareTest, StartUpUpgradeRunsFromTheEmbeddedImage) {
    device.version = "6.002";
    device.versionAfterUpgrade = "6.003";
    dialogs.answers = {MsgResult::Yes, MsgResult::Yes};
    firmware.CheckFirmwareAtStartUp(true);
    EXPECT_EQ(device.firmwareBlocks.size(), 43u); // 10872 bytes: 42 full blocks and one of 120 bytes
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages.back(), "Firmware succesfully updated.");
    EXPECT_NE(dialogs.messages[1].find("to version 6.003. The update will take approximately one minute"),
              std::string::npos);
}

TEST_F(FirmwareTest, StartUpWithoutOfferOnlyWarns) {
    device.version = "5.9";
    firmware.CheckFirmwareAtStartUp(false);
    ASSERT_EQ(dialogs.log.size(), 1u);
    EXPECT_EQ(dialogs.log[0].rfind("MessageBox|Warning|Your Kestrovane device has an old version of the firmware", 0),
              0u);
    EXPECT_TRUE(device.firmwareBlocks.empty());
}

TEST(StartUpCheck, CorruptOrMissingEmbeddedImage) {
    struct Case {
        std::optional<Bytes> image;
        std::string title;
        std::string message;
    };
    Bytes corrupt = BuildFirmwareContainer(Bytes(100, 1), 1, "6.003");
    corrupt[50] ^= 1;
    const Case cases[] = {
        {std::nullopt, "Firmware upgrade failed", "Failed to load firmware data from disk"},
        {corrupt, "Firmware upgrade failed", "The firmware shipped with this version of the PC software is corrupt"},
    };
    for (const Case& c : cases) {
        FakeClock clock;
        FakeHid hid{clock};
        MiniDevice device{hid};
        device.version = "6.002";
        Comms comms{hid, clock};
        ScriptedDialogs dialogs;
        Firmware firmware{comms, dialogs, dialogs, dialogs, clock, [&](std::string_view) { return c.image; }};
        ASSERT_TRUE(comms.Comms_Open());
        firmware.CheckFirmwareAtStartUp(true);
        EXPECT_EQ(dialogs.log.back(), "MessageBox|" + c.title + "|" + c.message);
        EXPECT_TRUE(device.firmwareBlocks.empty());
    }
}

TEST_F(FirmwareTest, ToolsUpgradeFromFile) {
    struct Case {
        const char* name;
        std::optional<Bytes> file; // nullopt: a path that does not exist
        std::deque<MsgResult> answers;
        std::string lastMessage;
        std::size_t blocks;
    };
    Bytes corrupt = BuildFirmwareContainer(Payload(600), 1, "6.003");
    corrupt.push_back(0);
    const Case cases[] = {
        {"good file",
         BuildFirmwareContainer(Payload(600), 1, "6.003"),
         {MsgResult::Yes},
         "Firmware succesfully updated.",
         3},
        {"declined", BuildFirmwareContainer(Payload(600), 1, "6.003"), {MsgResult::No}, "", 0},
        {"corrupt file", corrupt, {}, "The selected file is not a firmware .dat file or is corrupted.", 0},
        {"missing file", std::nullopt, {}, "Failed to open file!", 0},
    };
    for (const Case& c : cases) {
        device.firmwareBlocks.clear();
        dialogs.log.clear();
        dialogs.messages.clear();
        const std::string path = c.file ? WriteTemp(*c.file) : ::testing::TempDir() + "/no-such-firmware.dat";
        dialogs.files = {FileDialogResult{path, 1}};
        dialogs.answers = c.answers;
        firmware.ToolsFirmwareUpgrade();
        EXPECT_EQ(dialogs.log[0], "OpenFileDialog|Firmware upgrade|Firmware files (*.dat)|*.dat|1") << c.name;
        if (c.lastMessage.empty()) {
            EXPECT_EQ(dialogs.messages.size(), 1u) << c.name; // the confirmation only
        } else {
            EXPECT_EQ(dialogs.messages.back(), c.lastMessage) << c.name;
        }
        EXPECT_EQ(device.firmwareBlocks.size(), c.blocks) << c.name;
    }
}

TEST_F(FirmwareTest, AnUpgradeIsJudgedByTheVersionTheDeviceReportsAfterwards) {
    struct Case {
        const char* name;
        std::string reportedAfterwards; // empty: the device keeps its old version
        bool ok;
    };
    const Case cases[] = {
        {"the new version", "6.004", true},
        {"the old version", "", false},
        {"another version", "6.005", false},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        FakeHid h{clk};
        MiniDevice dev{h};
        dev.version = "6.003";
        dev.versionAfterUpgrade = c.reportedAfterwards;
        Comms link{h, clk};
        ScriptedDialogs dlg;
        Firmware fw{link, dlg, dlg, dlg, clk};
        ASSERT_TRUE(link.Comms_Open());
        ASSERT_TRUE(fw.OpenFirmware(WriteTemp(BuildFirmwareContainer(Payload(600), 1, "6.004"))));
        ASSERT_TRUE(fw.CheckFirmware());
        EXPECT_EQ(fw.UpgradeDeviceFirmware(), c.ok) << c.name;
        EXPECT_TRUE(dev.restarted) << c.name;
        EXPECT_FALSE(dlg.progressVisible) << c.name;
    }
}

TEST_F(FirmwareTest, ABlockWhoseAcknowledgementWasLostNeverLeavesADuplicateInTheLoader) {
    // The loader takes every block, but the acknowledgements listed go missing: the program
    // cannot tell whether the loader kept the block, so it must not end with the loader holding
    // a block twice and report success.
    struct Case {
        const char* name;
        std::set<int> lostAcks; // numbers of the block writes (from 0) whose acknowledgement is lost
        bool ok;
    };
    const Case cases[] = {
        {"no loss", {}, true},
        {"first block's acknowledgement lost", {0}, true},
        {"last block's acknowledgement lost", {2}, true},
        {"lost on every pass", {0, 4, 8, 12, 16, 20, 24, 28}, false},
    };
    for (const Case& c : cases) {
        FakeClock clk;
        FakeHid h{clk};
        MiniDevice dev{h};
        dev.versionAfterUpgrade = "6.004";
        const std::set<int> lost = c.lostAcks;
        dev.answerFirmwareBlock = [lost](int write) { return lost.count(write) == 0; };
        Comms link{h, clk};
        ScriptedDialogs dlg;
        Firmware fw{link, dlg, dlg, dlg, clk};
        ASSERT_TRUE(link.Comms_Open());
        ASSERT_TRUE(fw.OpenFirmware(WriteTemp(BuildFirmwareContainer(Payload(600), 1, "6.004"))));
        ASSERT_TRUE(fw.CheckFirmware());
        const bool ok = fw.UpgradeDeviceFirmware();
        EXPECT_EQ(ok, c.ok) << c.name;
        if (ok) {
            ASSERT_EQ(dev.firmwareBlocks.size(), 3u) << c.name;
            const Bytes p = Payload(600);
            EXPECT_EQ(dev.firmwareBlocks[0], Bytes(p.begin(), p.begin() + 256)) << c.name;
        } else {
            EXPECT_EQ(fw.LastFailure(),
                      "The device may have received a firmware block twice. Run the firmware upgrade again.")
                << c.name;
        }
        EXPECT_FALSE(dlg.progressVisible) << c.name;
    }
}

TEST_F(FirmwareTest, ToolsUpgradeWarnsWhileTheIgnitionIsOn) {
    const std::string warning =
        "MessageBox|Warning|A firmware upgrade should be performed only when ignition is switched off and the "
        "vehicle is parked. If ignition is switched on, the engine will stall or may behave unpredictably resulting "
        "in a high risk of accident if the vehicle is in motion. Kestrovane has detected that you have ignition "
        "switched on.\r\n\r\nProceed anyway?";
    struct Case {
        bool ignition;
        MsgResult answer;
        bool warned;
        bool fileAsked;
    };
    const Case cases[] = {
        {true, MsgResult::No, true, false}, {true, MsgResult::Yes, true, true}, {false, MsgResult::No, false, true}};
    for (const Case& c : cases) {
        device.ignitionOn = c.ignition;
        dialogs.log.clear();
        dialogs.answers = {c.answer};
        dialogs.files = {};
        firmware.ToolsFirmwareUpgrade();
        ASSERT_FALSE(dialogs.log.empty());
        EXPECT_EQ(dialogs.log[0] == warning, c.warned) << c.ignition;
        const bool fileAsked = std::find_if(dialogs.log.begin(), dialogs.log.end(), [](const std::string& l) {
                                   return l.rfind("OpenFileDialog|", 0) == 0;
                               }) != dialogs.log.end();
        EXPECT_EQ(fileAsked, c.fileAsked) << c.ignition;
        EXPECT_TRUE(device.firmwareBlocks.empty());
    }
}

} // namespace

} // namespace kv
