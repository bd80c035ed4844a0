// Offline editing against the simulated car: when File > Open or File > New cannot reach the
// device, the image can be opened for offline editing (edits stay in the image, the window says
// so), and File > Load into module sends it through the guided module load once the device is
// back.
#include "app/core/connection_monitor.h"
#include "app/core/shell.h"
#include "app_test_support.h"
#include "device/adapters/comms_presence.h"
#include "device/adapters/comms_shell_device.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace kv {

using namespace app_test;

namespace {

// The program's shell on the simulated car, with the ignition driven by the guidance.
struct OfflineCar : SimLinkRig {
    explicit OfflineCar(const SimOptions& options) : SimLinkRig(options) {
        presence = std::make_unique<CommsPresence>(*comms);
        connection = std::make_unique<ConnectionMonitor>(*presence);
        shellDevice = std::make_unique<CommsShellDevice>(*comms, *firmware, *connection);
        shell = std::make_unique<Shell>(*shellDevice, device.get(), dialogs, dialogs, dialogs, settings, clock, view,
                                        ProgramVersion{1, 0, 0});
        shell->Context().ignition = driver.get();
        shell->Context().deviceIO = true;
    }
    std::uint8_t InModule(int unit, std::int32_t address) {
        return sim->Device().Module(unit).memory[static_cast<std::size_t>(address)];
    }

    MemorySettings settings;
    RecordingView view;
    app_test::TempDir dir;
    std::unique_ptr<CommsPresence> presence;
    std::unique_ptr<ConnectionMonitor> connection;
    std::unique_ptr<CommsShellDevice> shellDevice;
    std::unique_ptr<Shell> shell;
};

SimOptions AutoIgnition(const std::string& faults = {}) {
    SimOptions o;
    o.ignition = "auto";
    o.faults = faults;
    return o;
}

// How the device is not there.
struct Absence {
    const char* name;
    std::string faults;
    bool unplug;
};
const Absence kAbsences[] = {{"device unplugged", "", true}, {"device silent", "silent", false}};

// How the image comes: its route and its slot.
struct Route {
    const char* name;
    bool fuelSlot;
    int unit;
    std::vector<MsgResult> answersBeforeOffer; // up to the offline question
    std::function<bool(OfflineCar&)> open;
};
const Route kRoutes[] = {
    {"File > Open of an LH 2.3 file",
     true,
     kSimLH,
     {MsgResult::OK, MsgResult::OK},
     [](OfflineCar& car) {
         return car.shell->Workflows().FileOpen(OpenSource::File(car.dir.Write("s4.bin", BaseImage("MRX_D"))));
     }},
    {"File > New EZK image",
     false,
     kSimEZK,
     {MsgResult::OK},
     [](OfflineCar& car) {
         car.view.newChoice = NewImageChoice{"EZK_D-GTS", false};
         return car.shell->Workflows().FileOpen(OpenSource::NewImage());
     }},
};

constexpr std::int32_t kAddress = 0x0200;

TEST(OfflineEditing, TheQuestionFollowsTheDeviceMessageAndDecidesWhetherTheImageOpens) {
    for (const Absence& a : kAbsences) {
        for (const Route& r : kRoutes) {
            for (const MsgResult answer : {MsgResult::No, MsgResult::Yes}) {
                SCOPED_TRACE(std::string(a.name) + ", " + r.name + (answer == MsgResult::Yes ? ", Yes" : ", No"));
                OfflineCar car(AutoIgnition(a.faults));
                ASSERT_TRUE(car.sim);
                car.checkProtocol = false;
                if (a.unplug) car.sim->Unplug();
                car.dialogs.answers.assign(r.answersBeforeOffer.begin(), r.answersBeforeOffer.end());
                car.dialogs.answers.push_back(answer);
                const bool opened = r.open(car);
                const std::size_t n = car.dialogs.messages.size();
                ASSERT_GE(n, 2u);
                EXPECT_EQ(car.dialogs.messages[n - 2], "Kestrovane device not responding");
                EXPECT_EQ(car.dialogs.messages[n - 1], kOfflineQuestion);
                EPROM& slot = r.fuelSlot ? car.shell->FuelImage() : car.shell->IgnitionImage();
                if (answer == MsgResult::No) {
                    EXPECT_FALSE(opened);
                    EXPECT_EQ(slot.GetECUType(), EcuType::Unknown) << "today's behaviour: nothing opens";
                    EXPECT_EQ(car.view.info.windowTitle, "Kestrovane");
                    continue;
                }
                ASSERT_TRUE(opened);
                EXPECT_TRUE(slot.IsOffline());
                EXPECT_EQ(car.view.info.windowTitle,
                          r.fuelSlot ? "Kestrovane (offline: fuel image)" : "Kestrovane (offline: ignition image)");
                EXPECT_NE(car.view.info.offline.find("not in the EPROM Module"), std::string::npos);
                EXPECT_NE((r.fuelSlot ? car.view.info.fuel : car.view.info.ignition).find("Offline"),
                          std::string::npos);
                const long reports = car.sim->ReportCount();
                const std::uint8_t before = car.InModule(r.unit, kAddress);
                slot.WriteByte(kAddress, static_cast<std::uint8_t>(before ^ 0x5A));
                EXPECT_EQ(slot.ReadByte(kAddress), before ^ 0x5A);
                EXPECT_EQ(car.sim->ReportCount(), reports) << "an offline edit sends nothing";
                EXPECT_EQ(car.InModule(r.unit, kAddress), before);
                EXPECT_FALSE(slot.HasUnconfirmedWrites());
            }
        }
    }
}

TEST(OfflineEditing, LoadIntoModuleSendsTheOfflineImageOnceTheDeviceIsBack) {
    for (const Route& r : kRoutes) {
        SCOPED_TRACE(r.name);
        OfflineCar car(AutoIgnition());
        car.sim->Unplug();
        car.dialogs.answers.assign(r.answersBeforeOffer.begin(), r.answersBeforeOffer.end());
        car.dialogs.answers.push_back(MsgResult::Yes);
        ASSERT_TRUE(r.open(car));
        EPROM& slot = r.fuelSlot ? car.shell->FuelImage() : car.shell->IgnitionImage();
        slot.WriteByte(kAddress, 0x3C);

        // Still away: the load says so and the image stays offline.
        car.dialogs.messages.clear();
        EXPECT_FALSE(car.shell->Workflows().LoadOfflineIntoModule());
        ASSERT_EQ(car.dialogs.messages.size(), 1u);
        EXPECT_EQ(car.dialogs.messages[0], "Kestrovane device not responding");
        EXPECT_TRUE(slot.IsOffline());

        car.sim->Replug();
        car.clock.SleepMs(1100);
        QuickPingTick(*car.shellDevice); // the timer reopens the device
        car.dialogs.messages.clear();
        ASSERT_TRUE(car.shell->Workflows().LoadOfflineIntoModule());
        EXPECT_TRUE(car.dialogs.messages.empty()) << car.dialogs.messages.front();
        EXPECT_FALSE(slot.IsOffline());
        EXPECT_EQ(car.view.info.windowTitle, "Kestrovane");
        EXPECT_EQ(car.view.info.offline, "");
        const std::vector<std::uint8_t>& module = car.sim->Device().Module(r.unit).memory;
        EXPECT_TRUE(std::equal(slot.Bytes().begin(), slot.Bytes().begin() + slot.ImageSize(),
                               module.begin() + slot.WindowOffset()))
            << "the module holds the image with its offline edit";
        EXPECT_EQ(car.InModule(r.unit, kAddress), 0x3C);

        slot.WriteByte(kAddress, 0x3D);
        EXPECT_EQ(car.InModule(r.unit, kAddress), 0x3D) << "edits are live again";
    }
}

TEST(OfflineEditing, ImagesFromTheUnitAndOtherFailuresAreNotOfferedOffline) {
    OfflineCar car(AutoIgnition());
    // The driver never turns the key: the module load is cancelled, which is no absent device.
    car.shell->Context().ignition = nullptr;
    car.sim->SetIgnitionMode(SimIgnitionMode::Off);
    car.dialogs.cancelWhen = [](const std::string& caption) { return caption == "Turn ignition ON"; };
    car.dialogs.answers = {MsgResult::OK};
    EXPECT_FALSE(car.shell->Workflows().FileOpen(OpenSource::File(car.dir.Write("s4.bin", BaseImage("MRX_D")))));
    ASSERT_FALSE(car.dialogs.messages.empty());
    EXPECT_EQ(car.dialogs.messages.back(), "Cancelled by user");
    EXPECT_EQ(car.shell->FuelImage().GetECUType(), EcuType::Unknown);
    EXPECT_FALSE(car.shell->Workflows().HasOfflineImage());
}

} // namespace
} // namespace kv
