// Live edits that the running unit did not confirm, against the simulated car: the status bar
// says so, and once the unit answers again the difference is offered and sent.
#include "app/core/connection_monitor.h"
#include "app/core/image_workflows.h"
#include "app/core/unconfirmed_edits.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/adapters/comms_presence.h"
#include "device/adapters/comms_shell_device.h"
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "fakes.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kv {
namespace {

using B = std::vector<std::uint8_t>;

// The device link as the image sees it, with a switch that loses the acknowledgement of module
// writes (the write lands, the answer does not come) or refuses them outright.
class LossyWrites final : public EpromDevice {
public:
    enum class Mode { Pass, LoseAck, Refuse };
    explicit LossyWrites(EpromDevice& inner) : inner_(inner) {}
    Mode mode = Mode::Pass;

    bool EcuWriteEprom(int unit, int address, const B& data) override {
        if (mode == Mode::Refuse) return false;
        const bool ok = inner_.EcuWriteEprom(unit, address, data);
        return mode == Mode::LoseAck ? false : ok;
    }
    B EcuReadEprom(int unit, int address, int n) override { return inner_.EcuReadEprom(unit, address, n); }
    B ReadEmulatorBlock(int address, int length) override { return inner_.ReadEmulatorBlock(address, length); }
    bool IsIgnitionOn() override { return inner_.IsIgnitionOn(); }
    bool PemDetectStart(int mask) override { return inner_.PemDetectStart(mask); }
    int PemDetectStatus() override { return inner_.PemDetectStatus(); }
    bool PemDetectStop() override { return inner_.PemDetectStop(); }
    bool PemSelect(int unit) override { return inner_.PemSelect(unit); }
    std::string PemGetFirmwareVersion() override { return inner_.PemGetFirmwareVersion(); }
    bool PemWriteBlock(int address, const B& block) override { return inner_.PemWriteBlock(address, block); }
    B PemReadBlock(int address) override { return inner_.PemReadBlock(address); }
    bool PemFinish() override { return inner_.PemFinish(); }
    void DrainReplies() override { inner_.DrainReplies(); }
    bool UpgradePemFirmware(int unit) override { return inner_.UpgradePemFirmware(unit); }
    bool Reopen() override { return inner_.Reopen(); }

private:
    EpromDevice& inner_;
};

// The car with an LH 2.3 image in the running unit's module and in the fuel slot; module
// writes pass through LossyWrites.
struct CarRig : SimLinkRig {
    CarRig() : SimLinkRig({}, [](SimulatedBackend& car) { car.Device().Module(kSimLH).memory = PatternImage(); }) {
        lossy = std::make_unique<LossyWrites>(*device);
        presence = std::make_unique<CommsPresence>(*comms);
        connection = std::make_unique<ConnectionMonitor>(*presence);
        shellDevice = std::make_unique<CommsShellDevice>(*comms, *firmware, *connection);
        context.device = lossy.get();
        slots.fuel = std::make_unique<EPROM>(context);
        slots.ignition = std::make_unique<EPROM>(context);
        EXPECT_EQ(Fuel().LoadFromArray(PatternImage()), "");
        EXPECT_EQ(Fuel().WriteThroughUnit(), 1);
        edits = std::make_unique<UnconfirmedEdits>(slots, *shellDevice, dialogs);
    }

    EPROM& Fuel() { return *slots.fuel; }
    std::uint8_t InUnit(int address) { return sim->Device().Module(kSimLH).memory[static_cast<std::size_t>(address)]; }
    // What the quick-ping timer does, then the follow-up.
    void Tick() {
        QuickPingTick(*shellDevice);
        edits->Tick();
    }

    std::unique_ptr<LossyWrites> lossy;
    std::unique_ptr<CommsPresence> presence;
    std::unique_ptr<ConnectionMonitor> connection;
    std::unique_ptr<CommsShellDevice> shellDevice;
    ImageSlots slots;
    std::unique_ptr<UnconfirmedEdits> edits;
};

constexpr int kAddress = 0x1234;
constexpr std::uint8_t kEdited = 0x5A;

// How the unit goes away during an edit and comes back.
struct Absence {
    const char* name;
    std::function<void(CarRig&)> leave;
    std::function<void(CarRig&)> comeBack;
};

const Absence kAbsences[] = {
    {"device unplugged", [](CarRig& r) { r.sim->Unplug(); }, [](CarRig& r) { r.sim->Replug(); }},
    {"ignition off", [](CarRig& r) { r.sim->SetIgnitionMode(SimIgnitionMode::Off); },
     [](CarRig& r) { r.sim->SetIgnitionMode(SimIgnitionMode::On); }},
};

TEST(UnconfirmedEdits, AnEditMadeWhileTheUnitIsAwayIsShownAndOfferedWhenItReturns) {
    for (const Absence& a : kAbsences) {
        SCOPED_TRACE(a.name);
        CarRig rig;
        EXPECT_EQ(rig.edits->StatusText(), "");
        a.leave(rig);
        rig.Fuel().WriteByte(kAddress, kEdited);
        EXPECT_EQ(rig.Fuel().ReadByte(kAddress), kEdited) << "the image keeps the edit";
        EXPECT_NE(rig.InUnit(kAddress), kEdited);
        EXPECT_TRUE(rig.Fuel().HasUnconfirmedWrites());
        EXPECT_EQ(rig.edits->StatusText(), "not in the unit");

        rig.Tick(); // still away: nothing is asked
        EXPECT_TRUE(rig.dialogs.messages.empty());

        a.comeBack(rig);
        rig.clock.SleepMs(1100); // the quick ping reopens at most once a second
        rig.Tick();
        ASSERT_EQ(rig.dialogs.messages.size(), 1u);
        EXPECT_NE(rig.dialogs.messages[0].find("1 byte of the fuel image"), std::string::npos)
            << rig.dialogs.messages[0];
        EXPECT_EQ(rig.InUnit(kAddress), kEdited) << "answered Yes: the byte is in the unit";
        EXPECT_FALSE(rig.Fuel().HasUnconfirmedWrites());
        EXPECT_EQ(rig.edits->StatusText(), "");
    }
}

TEST(UnconfirmedEdits, ALostAcknowledgementIsConfirmedByReadingTheModuleWithoutAsking) {
    CarRig rig;
    rig.lossy->mode = LossyWrites::Mode::LoseAck;
    rig.Fuel().WriteBlock(kAddress, {1, 2, 3});
    EXPECT_EQ(rig.edits->StatusText(), "not in the unit");
    rig.lossy->mode = LossyWrites::Mode::Pass;
    rig.Tick();
    EXPECT_TRUE(rig.dialogs.messages.empty());
    EXPECT_FALSE(rig.Fuel().HasUnconfirmedWrites());
    EXPECT_EQ(rig.edits->StatusText(), "");
}

TEST(UnconfirmedEdits, DecliningKeepsTheMarkAndAsksAgainOnlyAfterTheUnitWasAwayAgain) {
    CarRig rig;
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.Fuel().WriteByte(kAddress, kEdited);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    rig.dialogs.answers.push_back(MsgResult::No);
    rig.Tick();
    rig.Tick();
    EXPECT_EQ(rig.dialogs.messages.size(), 1u) << "asked once while the unit stays";
    EXPECT_NE(rig.InUnit(kAddress), kEdited);
    EXPECT_EQ(rig.edits->StatusText(), "not in the unit");

    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.Tick();
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    rig.Tick();
    EXPECT_EQ(rig.dialogs.messages.size(), 2u);
    EXPECT_EQ(rig.InUnit(kAddress), kEdited);
    EXPECT_EQ(rig.edits->StatusText(), "");
}

TEST(UnconfirmedEdits, AnEditConfirmedLaterOrALoadForgetsTheMark) {
    CarRig rig;
    rig.lossy->mode = LossyWrites::Mode::Refuse;
    rig.Fuel().WriteWord(kAddress, 0x1122);
    EXPECT_EQ(rig.Fuel().UnconfirmedByteCount(), 2u);
    rig.lossy->mode = LossyWrites::Mode::Pass;
    rig.Fuel().WriteByte(kAddress, 0x33); // acknowledged: this byte is in the unit now
    EXPECT_EQ(rig.Fuel().UnconfirmedByteCount(), 1u);

    ASSERT_EQ(rig.Fuel().LoadFromArray(PatternImage()), "");
    EXPECT_FALSE(rig.Fuel().HasUnconfirmedWrites());
    EXPECT_EQ(rig.edits->StatusText(), "");
}

TEST(UnconfirmedEdits, ASendTheModuleStillRefusesIsReportedAndTheMarkStays) {
    CarRig rig;
    rig.lossy->mode = LossyWrites::Mode::Refuse;
    rig.Fuel().WriteByte(kAddress, kEdited);
    rig.Tick(); // asked, answered Yes, the module refuses again
    ASSERT_EQ(rig.dialogs.messages.size(), 2u);
    EXPECT_NE(rig.dialogs.messages[1].find("could not be sent"), std::string::npos) << rig.dialogs.messages[1];
    EXPECT_EQ(rig.edits->StatusText(), "not in the unit");
    EXPECT_NE(rig.InUnit(kAddress), kEdited);
}

} // namespace
} // namespace kv
