#include "cli/cli_session.h"

#include "device/hidapi_backend.h"
#include "device/tracing_hid_backend.h"
#include "sim/sim_device.h"

namespace kv {

std::string MakeDeviceSession(const CliOptions& options, CliIo io, DeviceSession& s) {
    if (options.simulate) {
        SimOptions so;
        so.stateFile = options.simStateFile;
        so.faults = options.simFaults;
        if (!options.simFirmware.empty()) so.firmwareVersion = options.simFirmware;
        so.pemFirmwareVersion = options.simPemFirmware;
        so.ignition = "auto";
        const Parsed<SimDrive> drive = ParseSimDrive(options.simDrive);
        if (!drive) return drive.Error();
        so.drive = *drive;
        const Parsed<std::uint64_t> seed = ParseSimDriveSeed(options.simDriveSeed);
        if (!seed) return seed.Error();
        so.driveSeed = *seed;
        if (std::string m = ValidateSimOptions(so); !m.empty()) return m;
        s.clock = std::make_unique<SimulatedClock>(); // under --simulate nothing real is waited for
        auto sim = MakeSimulatedBackend(so, *s.clock);
        if (!sim) return "Cannot start the simulated device";
        s.sim = sim.get();
        s.backend = std::move(sim);
    } else {
        s.clock = std::make_unique<SteadyClock>();
        s.backend = MakeHidapiBackend();
    }
    s.trace = std::make_unique<DeviceTrace>(*s.clock);
    if (TraceFromStart()) {
        s.trace->Enable(DefaultTracePath());
        s.tracingBackend = std::make_unique<TracingHidBackend>(*s.backend, *s.trace);
    }
    s.comms = std::make_unique<Comms>(s.tracingBackend ? *s.tracingBackend : *s.backend, *s.clock, s.trace.get());
    s.presence = std::make_unique<CommsPresence>(*s.comms);
    s.connection = std::make_unique<ConnectionMonitor>(*s.presence);
    s.console = std::make_unique<ConsoleDialogs>(io.err, true);
    s.messages = s.console.get();
    s.progress = s.console.get();
    if (s.sim) s.autoIgnition = std::make_unique<AutoIgnitionDriver>(*s.sim, *s.clock);
    s.firmware = std::make_unique<Firmware>(*s.comms, *s.console, *s.console, *s.console, *s.clock);
    s.device = std::make_unique<CommsEpromDevice>(*s.comms, *s.firmware);
    s.context.deviceIO = true;
    s.context.device = s.device.get();
    s.context.messages = s.messages;
    s.context.progress = s.progress;
    s.context.ignition = s.autoIgnition.get();
    s.context.clock = s.clock.get();
    return {};
}

int KeepSimulatedState(int result, const CliOptions& options, DeviceSession& s, CliIo io) {
    if (s.sim && !options.simStateFile.empty()) {
        if (const std::string problem = s.sim->Device().SaveState(); !problem.empty()) {
            io.err << "The simulated car's state was not saved to " << options.simStateFile << ": " << problem << "\n";
            return result == kExitOk ? kExitFailure : result;
        }
    }
    return result;
}

} // namespace kv
