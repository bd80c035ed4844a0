// The program's device link against the simulated device: the two sides of the HID seam agree
// on framing, commands, module programming with ignition guidance, block reads, streaming and
// the firmware loader.
#include "app/core/connection_monitor.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/adapters/comms_presence.h"
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "sim_host.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <functional>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

using LinkRig = SimLinkRig;

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
    // Two records per 100 ms, and a few more for the time the reports themselves take on the bus.
    ASSERT_GE(stamps.size(), 40U);
    ASSERT_LE(stamps.size(), 44U);
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

// A drop of a second in the middle of a module load: the load reopens the link while it waits
// and carries on where it was.
TEST(SimLinkRecovery, ModuleLoadSurvivesADropOfOneSecond) {
    SimOptions o;
    o.ignition = "auto";
    LinkRig rig(o);
    EPROM image(rig.context);
    ASSERT_EQ(image.LoadFromArray(PatternImage()), "");
    bool dropped = false;
    std::int64_t replugAt = -1;
    rig.dialogs.onProcessEvents = [&] {
        if (!dropped && rig.dialogs.progressCaption == "Loading" &&
            rig.sim->Device().Module(kSimLH).memory[0x2000] == PatternImage()[0x2000]) {
            dropped = true;
            rig.sim->Unplug();
            replugAt = rig.clock.now + 1000;
        }
    };
    rig.clock.onSleep = [&](std::int64_t now) {
        if (replugAt >= 0 && now >= replugAt) {
            rig.sim->Replug();
            replugAt = -1;
        }
    };
    EXPECT_EQ(image.LoadToEmulator(), "");
    EXPECT_TRUE(dropped);
    EXPECT_EQ(rig.sim->Device().Module(kSimLH).memory, image.Bytes());
}

// Every reply arrives after its command has given up: each command then reads nothing, or the
// reply of the one before it. The module transfers must still end, with a message, and not
// take a stale reply (the detection status read as an acknowledgement) for an answer.
TEST(SimLinkRecovery, RepliesThatAlwaysComeLateEndEveryTransferWithAMessage) {
    struct Case {
        const char* name;
        std::function<std::string(LinkRig&)> run;
    };
    const Case cases[] = {
        {"load",
         [](LinkRig& rig) {
             EPROM image(rig.context);
             EXPECT_EQ(image.LoadFromArray(PatternImage()), "");
             return image.LoadToEmulator();
         }},
        {"start-up read",
         [](LinkRig& rig) {
             if (std::string m = GuideIgnitionOff(rig.context); !m.empty()) return m;
             int status = -1;
             if (std::string m = WaitForModules(rig.context, 1, status); !m.empty()) return m;
             EPROM image(rig.context);
             return image.LoadFromECU_Initiation(1);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimOptions o;
        o.ignition = "auto";
        o.faults = "late=1";
        LinkRig rig(o);
        // A user would give up after ten minutes: the transfer must have ended long before.
        const std::int64_t patience = rig.clock.now + 600'000;
        rig.dialogs.cancelWhen = [&](const std::string&) { return rig.clock.now > patience; };
        const std::string message = c.run(rig);
        EXPECT_NE(message, "");
        EXPECT_NE(message, "Cancelled by user");
    }
}

class LossIndicator final : public ConnectionIndicator {
public:
    void ShowConnectionStatus(const std::string& text, bool) override { shown.push_back(text); }
    void ShowFirmwareVersion(const std::string&) override {}
    std::vector<std::string> shown;
};

// A device that stops taking output reports: no command hangs on it, and the quick-ping check
// reports the loss within a second.
TEST(SimLinkRecovery, ADeviceThatStopsTakingReportsIsReportedLostPromptly) {
    SimOptions o;
    o.faults = "stall=40";
    LinkRig rig(o);
    CommsPresence presence(*rig.comms);
    ConnectionMonitor connection(presence);
    LossIndicator indicator;
    connection.SetConnectionIndicator(&indicator);
    ASSERT_TRUE(connection.UpdateConnectionStatus(true));
    ASSERT_EQ(indicator.shown, std::vector<std::string>{"Connected"});
    while (rig.comms->Ping()) {}
    const auto before = rig.clock.now;
    EXPECT_EQ(rig.comms->PemReadBlock(0x40), std::vector<std::uint8_t>{});
    EXPECT_LT(rig.clock.now - before, 1000) << "a command against the stalled device";
    const auto tick = rig.clock.now; // the quick-ping timer's check
    EXPECT_FALSE(connection.UpdateConnectionStatus(false));
    EXPECT_LT(rig.clock.now - tick, 1000);
    EXPECT_EQ(indicator.shown, (std::vector<std::string>{"Connected", "Not responding"}));
}

} // namespace

} // namespace kv
