// Every image transfer and the device firmware upgrade against a simulated device that misbehaves:
// unplugged after report k for k across the whole transfer, and each kind of report fault at a
// low and a high rate with several seeds. Whatever happens, a transfer either succeeds with the
// right bytes where the user was told they are, or fails with a message and leaves the image it
// worked on as it was.
#include "device/adapters/comms_eprom_device.h"
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "sim/sim_device.h"
#include "sim_host.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <string>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

// An LH 2.3 image whose bytes follow `seed`.
B UnitImage(int seed) {
    B img(kSimMemorySize);
    for (std::size_t i = 0; i < img.size(); ++i)
        img[i] = static_cast<std::uint8_t>((i * static_cast<std::size_t>(seed)) ^ (i >> 8));
    const char marker[] = "MRX-D";
    std::copy(marker, marker + 5, img.begin() + 16368);
    return img;
}

// What the device holds before the transfer, and what the program holds.
const B kInDevice = UnitImage(13);
const B kInProgram = UnitImage(7);

enum class Transfer { ModuleLoad, RunningRead, StartUpRead, EmulatorRead, FirmwareUpgrade };

const char* Name(Transfer t) {
    switch (t) {
    case Transfer::ModuleLoad: return "module load";
    case Transfer::RunningRead: return "running-unit read";
    case Transfer::StartUpRead: return "start-up read";
    case Transfer::EmulatorRead: return "emulator read";
    case Transfer::FirmwareUpgrade: return "firmware upgrade";
    }
    return "";
}

// The longest a transfer may take on the simulated clock before it counts as hung.
constexpr std::int64_t kHangMs = 60LL * 60 * 1000;

// The link on a car whose module and emulation memory hold kInDevice, with `faults` injected.
// Faults in the requests make the device see malformed ones, so the protocol is not checked.
std::unique_ptr<SimLinkRig> MakeRig(const std::string& faults) {
    SimOptions o;
    o.ignition = "auto";
    o.faults = faults;
    o.firmwareVersion = "6.002";
    o.upgradedFirmwareVersion = "6.003";
    auto rig = std::make_unique<SimLinkRig>(o, [](SimulatedBackend& sim) {
        sim.Device().Module(kSimLH).memory = kInDevice;
        sim.Device().EmulatorMemory() = kInDevice;
        sim.Device().MarkMemoryChanged();
    });
    rig->checkProtocol = false;
    return rig;
}

struct Result {
    bool ok = false;
    long reports = 0; // reports moved both ways
};

// Runs one transfer and checks its promise.
Result RunAndCheck(Transfer transfer, const std::string& faults) {
    const std::string where = std::string(Name(transfer)) + " with \"" + faults + "\"";
    const std::unique_ptr<SimLinkRig> owned = MakeRig(faults);
    SimLinkRig& rig = *owned;
    if (!rig.sim) {
        ADD_FAILURE() << where << ": bad fault list";
        return {};
    }
    const std::int64_t start = rig.clock.now;
    EPROM image(rig.context);
    image.LoadFromArray(kInProgram);
    const B held = image.Bytes();
    std::string message;
    bool ok = false;
    switch (transfer) {
    case Transfer::ModuleLoad:
        message = image.LoadToEmulator();
        ok = message.empty();
        if (ok) {
            EXPECT_EQ(rig.sim->Device().Module(kSimLH).memory, held) << where << ": success, wrong bytes";
        }
        break;
    case Transfer::RunningRead: message = image.LoadFromECU_Running(1); break;
    case Transfer::EmulatorRead: message = image.LoadFromEmulator(); break;
    case Transfer::StartUpRead: {
        int status = -1;
        message = GuideIgnitionOff(rig.context);
        if (message.empty()) message = WaitForModules(rig.context, 1, status);
        rig.dialogs.CloseProgress();
        if (message.empty() && (status <= 0 || (status & 1) == 0))
            message = "No ECU with Kestrovane Programmable EPROM Module was found";
        if (message.empty()) {
            EPROM read(rig.context);
            read.LoadFromArray(kInProgram);
            const std::string readMessage = read.LoadFromECU_Initiation(1);
            const std::string finished = FinishModule(rig.context, 1, false);
            message = readMessage.empty() ? finished : readMessage;
            if (!readMessage.empty()) {
                EXPECT_EQ(read.Bytes(), held) << where << ": a failed read changed the image";
            } else {
                // A read that arrived whole holds the module's bytes; when only the finish then
                // fails, the read image is dropped and the slot keeps what it held.
                EXPECT_EQ(read.Bytes(), rig.sim->Device().Module(kSimLH).memory) << where << ": read wrong bytes";
                if (message.empty()) image = read;
            }
        }
        break;
    }
    case Transfer::FirmwareUpgrade: {
        EXPECT_TRUE(rig.firmware->OpenFirmware(kEmbeddedFirmwareSource));
        EXPECT_TRUE(rig.firmware->CheckFirmware());
        rig.dialogs.messages.clear();
        ok = rig.firmware->ConfirmAndUpgrade();
        message = ok ? "" : rig.dialogs.messages.back();
        if (ok) {
            EXPECT_EQ(rig.dialogs.messages.back(), "Firmware succesfully updated.") << where;
            EXPECT_EQ(rig.sim->Device().FirmwareVersion(), "6.003") << where << ": success, old firmware";
        } else {
            EXPECT_EQ(message.rfind("Firmware upgrade failed!", 0), 0u) << where << ": " << message;
        }
        break;
    }
    }
    if (transfer == Transfer::RunningRead || transfer == Transfer::EmulatorRead || transfer == Transfer::StartUpRead) {
        ok = message.empty();
        EXPECT_EQ(image.Bytes(), ok ? kInDevice : held)
            << where << (ok ? ": success, wrong bytes" : ": a failed read changed the image");
    }
    if (transfer == Transfer::ModuleLoad) {
        EXPECT_EQ(image.Bytes(), held) << where << ": the load changed the image";
    }
    if (!ok) {
        EXPECT_FALSE(message.empty()) << where << ": failed without a message";
    }
    EXPECT_LT(rig.clock.now - start, kHangMs) << where << ": did not end";
    return {ok, rig.sim->ReportCount()};
}

constexpr Transfer kTransfers[] = {Transfer::ModuleLoad, Transfer::RunningRead, Transfer::StartUpRead,
                                   Transfer::EmulatorRead, Transfer::FirmwareUpgrade};

class TransferFaultSweep : public ::testing::TestWithParam<Transfer> {};

TEST_P(TransferFaultSweep, UnpluggedAfterAnyReport) {
    // A device that behaves moves the transfer through; its report count spans the sweep.
    const Result clean = RunAndCheck(GetParam(), "");
    ASSERT_TRUE(clean.ok);
    const long reports = clean.reports;
    constexpr long kSamples = 40;
    for (long i = 0; i < kSamples; ++i) {
        // spread over the whole transfer, with the first reports always among them
        const long k = i < 4 ? i + 1 : reports * (i - 3) / (kSamples - 3);
        RunAndCheck(GetParam(), "unplug-after=" + std::to_string(k));
    }
}

TEST_P(TransferFaultSweep, EveryKindOfReportFault) {
    for (const char* fault : {"drop", "dup", "late", "garble", "crc", "refuse", "drop-out"}) {
        for (const char* rate : {"0.01", "0.1"}) {
            for (int seed : {1, 2, 3}) {
                RunAndCheck(GetParam(), std::string(fault) + "=" + rate + ",seed=" + std::to_string(seed));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Transfers, TransferFaultSweep, ::testing::ValuesIn(kTransfers),
                         [](const ::testing::TestParamInfo<Transfer>& info) {
                             std::string name = Name(info.param);
                             for (char& ch : name)
                                 if (ch == ' ' || ch == '-') ch = '_';
                             return name;
                         });

} // namespace

} // namespace kv
