#pragma once
// The device session of the commands that talk to the unit: the real device or (--simulate) the
// simulated device and car, the device link, the firmware procedures and the image context that
// writes through to the running units.
#include "app/core/connection_monitor.h"
#include "cli/cli.h"
#include "cli/console_dialogs.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/adapters/comms_presence.h"
#include "device/comms.h"
#include "device/device_trace.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "platform/clock.h"
#include "sim/sim_backend.h"

#include <memory>
#include <string>

namespace kv {

// Everything a device command works with, wired together once.
struct DeviceSession {
    std::unique_ptr<Clock> clock;
    std::unique_ptr<HidBackend> backend;
    SimulatedBackend* sim = nullptr;
    std::unique_ptr<DeviceTrace> trace;
    std::unique_ptr<HidBackend> tracingBackend; // in front of backend while the trace is on
    std::unique_ptr<Comms> comms;
    std::unique_ptr<CommsPresence> presence;
    std::unique_ptr<ConnectionMonitor> connection;
    std::unique_ptr<ConsoleDialogs> console;
    std::unique_ptr<IgnitionPrompt> autoIgnition;
    UserMessages* messages = nullptr;
    ProgressDisplay* progress = nullptr;
    std::unique_ptr<Firmware> firmware;
    std::unique_ptr<CommsEpromDevice> device;
    EpromContext context;
};

// Builds the session; empty string on success, else the message.
std::string MakeDeviceSession(const CliOptions& options, CliIo io, DeviceSession& s);

// The simulated car's memories are part of what a command did: the result of the command, or a
// failure (with the reason shown) when its state file could not be kept.
int KeepSimulatedState(int result, const CliOptions& options, DeviceSession& s, CliIo io);

} // namespace kv
