// The program's device link against the simulated device: the two sides of the HID seam agree
// on framing, commands, module programming with ignition guidance, block reads, streaming and
// the firmware loader.
#include "device/comms.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "sim_host.h"

#include <gtest/gtest.h>

namespace {

using B = std::vector<std::uint8_t>;

struct LinkRig {
    explicit LinkRig(SimOptions o = {}) {
        sim = MakeSimulatedBackend(o, clock);
        comms = std::make_unique<Comms>(*sim, clock);
        firmware = std::make_unique<Firmware>(*comms, autoDialogs(), clock);
        device = std::make_unique<CommsEpromDevice>(*comms, *firmware);
        context.deviceIO = true;
        context.device = device.get();
        context.dialogs = &autoDialogs();
        context.clock = &clock;
        comms->Comms_Open();
    }
    AutoIgnitionDialogs& autoDialogs() {
        if (!auto_) auto_ = std::make_unique<AutoIgnitionDialogs>(dialogs, *sim, clock, 800);
        return *auto_;
    }

    FakeClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimulatedBackend> sim;
    std::unique_ptr<AutoIgnitionDialogs> auto_;
    std::unique_ptr<Comms> comms;
    std::unique_ptr<Firmware> firmware;
    std::unique_ptr<CommsEpromDevice> device;
    EpromContext context;
};

// An LH 2.3 image with a recognisable pattern.
B PatternImage() {
    B img(kSimMemorySize);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 8));
    const char marker[] = "MRX-D";
    std::copy(marker, marker + 5, img.begin() + 16368);
    return img;
}

TEST(SimLinkTest, PresenceVersionAndIgnition) {
    LinkRig rig;
    ASSERT_TRUE(rig.comms->Comms_IsOpen());
    EXPECT_TRUE(rig.comms->Ping());
    EXPECT_EQ(rig.comms->GetFirmwareVersion(), "6.003");
    EXPECT_TRUE(rig.comms->IsIgnitionOn());
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    EXPECT_FALSE(rig.comms->IsIgnitionOn());
    EXPECT_EQ(rig.comms->ReadRpmPeriod(), 0xFFFFFF);
}

TEST(SimLinkTest, ModuleLoadWithAutoIgnitionThenReadBackBothWays) {
    SimOptions o;
    o.ignition = "auto";
    LinkRig rig(o);
    EPROM image(rig.context);
    ASSERT_EQ(image.LoadFromArray(PatternImage()), "");
    ASSERT_EQ(image.GetECUType(), EcuType::LH23);
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_EQ(rig.sim->Device().Module(kSimLH).memory, image.Bytes());
    EXPECT_TRUE(rig.sim->IsIgnitionOn());

    EPROM running(rig.context);
    EXPECT_EQ(running.LoadFromECU_Running(1), "");
    EXPECT_EQ(running.Bytes(), image.Bytes());

    // Through the start-up channel, with a few corrupted block checksums on the way.
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    ASSERT_TRUE(rig.comms->PemDetectStart(1));
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_EQ(rig.comms->PemDetectStatus(), 1);
    ASSERT_TRUE(rig.comms->PemDetectStop());
    EPROM initiation(rig.context);
    EXPECT_EQ(initiation.LoadFromECU_Initiation(1), "");
    EXPECT_EQ(initiation.Bytes(), image.Bytes());
}

TEST(SimLinkTest, BlockReadsSurviveCrcFaults) {
    SimOptions o;
    o.faults = "crc=0.2,seed=3";
    LinkRig rig(o);
    rig.sim->Device().Module(kSimEZK).memory = PatternImage();
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    ASSERT_TRUE(rig.comms->PemDetectStart(2));
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_TRUE(rig.comms->PemDetectStop());
    EPROM image(rig.context);
    EXPECT_EQ(image.LoadFromECU_Initiation(2), "");
    EXPECT_EQ(image.Bytes(), PatternImage());
}

TEST(SimLinkTest, LiveEditReachesTheModule) {
    LinkRig rig;
    EPROM image(rig.context);
    ASSERT_EQ(image.LoadFromArray(PatternImage()), "");
    image.WriteByte(0x1234, 0x5A);
    EXPECT_EQ(rig.sim->Device().Module(kSimLH).memory[0x1234], 0x5A);
}

TEST(SimLinkTest, StreamedRecordsArriveWithTrailers) {
    LinkRig rig;
    ASSERT_TRUE(rig.comms->DataLog_Configure({17, 29, 11}, {1, 3, 2}));
    ASSERT_TRUE(rig.comms->DataLog_SetRate(50));
    ASSERT_TRUE(rig.comms->DataLog_StartDeviceLogging());
    std::vector<std::uint32_t> stamps;
    for (int tick = 0; tick < 20; ++tick) {
        rig.clock.SleepMs(100);
        ASSERT_TRUE(rig.comms->DataLog_KeepAlive());
        const B data = rig.comms->DataLog_Download();
        ASSERT_EQ(data.size() % 10, 0U);
        for (std::size_t at = 0; at < data.size(); at += 10) {
            EXPECT_EQ(data[at], 1) << "LH marker";
            stamps.push_back(data[at + 7] | (data[at + 8] << 8) | (data[at + 9] << 16));
        }
    }
    ASSERT_EQ(stamps.size(), 40U);
    for (std::size_t i = 0; i < stamps.size(); ++i) EXPECT_EQ(stamps[i], i + 1);
    EXPECT_TRUE(rig.comms->DataLog_StopDeviceLogging());
}

TEST(SimLinkTest, DeviceFirmwareUpgradeThroughTheLoader) {
    SimOptions o;
    o.firmwareVersion = "6.002";
    LinkRig rig(o);
    ASSERT_EQ(rig.comms->GetFirmwareVersion(), "6.002");
    ASSERT_TRUE(rig.firmware->OpenFirmware(kEmbeddedFirmwareSource));
    ASSERT_TRUE(rig.firmware->CheckFirmware());
    EXPECT_TRUE(rig.firmware->UpgradeDeviceFirmware());
    rig.firmware->CloseFirmware();
    EXPECT_EQ(rig.comms->GetFirmwareVersion(), "6.003");
}

TEST(SimLinkTest, OldModuleFirmwareIsUpgradedDuringALoad) {
    SimOptions o;
    o.ignition = "auto";
    o.pemFirmwareVersion = "0.97";
    LinkRig rig(o);
    rig.dialogs.answers.push_back(MsgResult::OK);
    EPROM image(rig.context);
    ASSERT_EQ(image.LoadFromArray(PatternImage()), "");
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_EQ(rig.sim->Device().Module(kSimLH).firmwareVersion, "1.00");
    EXPECT_EQ(rig.sim->Device().Module(kSimLH).memory, image.Bytes());
}

TEST(SimLinkTest, UnplugClosesTheLinkAndReplugReopensIt) {
    LinkRig rig;
    ASSERT_TRUE(rig.comms->Ping());
    rig.sim->Unplug();
    EXPECT_FALSE(rig.comms->Ping());
    EXPECT_FALSE(rig.comms->Comms_IsOpen());
    rig.sim->Replug();
    EXPECT_TRUE(rig.comms->Comms_Open());
    EXPECT_TRUE(rig.comms->Ping());
}

} // namespace
