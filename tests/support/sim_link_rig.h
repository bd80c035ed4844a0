#pragma once
// The program's device link on the simulated car, wired as the program wires it: the simulated
// backend on a fake clock, the command set, the firmware procedures, the transfers' device and
// an image context that writes through to it, with the link opened. Tests that include this
// link kv_sim, kv_device and kv_device_adapters.
#include "device/adapters/comms_eprom_device.h"
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "fakes.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kv {

struct SimLinkRig {
    // `prepare` runs on the simulated car before the link opens (fill its memories, ...).
    explicit SimLinkRig(const SimOptions& options = {}, const std::function<void(SimulatedBackend&)>& prepare = {}) {
        sim = MakeSimulatedBackend(options, clock);
        if (!sim) return; // options the simulator refuses: the test looks at `sim`
        if (prepare) prepare(*sim);
        driver = std::make_unique<AutoIgnitionDriver>(*sim, clock, 800);
        comms = std::make_unique<Comms>(*sim, clock);
        firmware = std::make_unique<Firmware>(*comms, dialogs, dialogs, dialogs, clock);
        device = std::make_unique<CommsEpromDevice>(*comms, *firmware);
        context.deviceIO = true;
        context.device = device.get();
        context.messages = &dialogs;
        context.progress = &dialogs;
        context.clock = &clock;
        context.ignition = driver.get();
        comms->Comms_Open();
    }
    // Whatever the test did to the wire, the program never sent the device a request it would
    // not expect (unless the test injects faults into the requests themselves).
    ~SimLinkRig() {
        if (sim && checkProtocol) {
            EXPECT_EQ(sim->Device().ProtocolFaults(), 0);
        }
    }
    SimLinkRig(const SimLinkRig&) = delete;
    SimLinkRig& operator=(const SimLinkRig&) = delete;

    bool checkProtocol = true;
    FakeClock clock;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimulatedBackend> sim;
    std::unique_ptr<AutoIgnitionDriver> driver;
    std::unique_ptr<Comms> comms;
    std::unique_ptr<Firmware> firmware;
    std::unique_ptr<CommsEpromDevice> device;
    EpromContext context;
};

// An LH 2.3 image of the whole module window with a recognisable pattern.
inline std::vector<std::uint8_t> PatternImage() {
    std::vector<std::uint8_t> img(kSimMemorySize);
    for (std::size_t i = 0; i < img.size(); ++i) img[i] = static_cast<std::uint8_t>((i * 13) ^ (i >> 8));
    const char marker[] = "MRX-D";
    std::copy(marker, marker + 5, img.begin() + 16368);
    return img;
}

} // namespace kv
