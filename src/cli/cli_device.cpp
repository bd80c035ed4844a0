// kestrovane-cli device ...: the device link, the module transfers and the firmware from the
// command line, against the real device or (--simulate) the simulated device and car.
#include "app/core/connection_monitor.h"
#include "cli/cli.h"
#include "cli/console_dialogs.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/adapters/comms_presence.h"
#include "device/comms.h"
#include "device/device_trace.h"
#include "device/firmware.h"
#include "device/hidapi_backend.h"
#include "device/tracing_hid_backend.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "platform/clock.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <functional>
#include <memory>
#include <optional>
#include <ostream>

namespace kv {

namespace {

// Simulated time: under --simulate nothing real is waited for, so waits only move this clock.
class SimulatedTimeClock final : public Clock {
public:
    std::int64_t NowMs() override { return now_; }
    void SleepMs(std::int64_t ms) override {
        if (ms > 0) now_ += ms;
    }

private:
    std::int64_t now_ = 0;
};

void DeviceUsage(std::ostream& err) {
    err << "usage: kestrovane-cli [global options] device ping\n"
           "       kestrovane-cli [global options] device version\n"
           "       kestrovane-cli [global options] device load-pem FILE\n"
           "       kestrovane-cli [global options] device read-pem lh|ezk -o OUT [--format N]\n"
           "       kestrovane-cli [global options] device read-pem-initiation lh|ezk -o OUT [--format N]\n"
           "       kestrovane-cli [global options] device read-emulator -o OUT [--format N]\n"
           "       kestrovane-cli [global options] device firmware-check FILE.dat\n"
           "       kestrovane-cli [global options] device firmware-upgrade [FILE.dat] [--force]\n";
}

// Everything a device command works with, wired together once.
struct Session {
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
std::string MakeSession(const CliOptions& options, CliIo io, Session& s) {
    if (options.simulate) {
        SimOptions so;
        so.stateFile = options.simStateFile;
        so.faults = options.simFaults;
        if (!options.simFirmware.empty()) so.firmwareVersion = options.simFirmware;
        so.pemFirmwareVersion = options.simPemFirmware;
        so.ignition = "auto";
        if (std::string m = ValidateSimOptions(so); !m.empty()) return m;
        s.clock = std::make_unique<SimulatedTimeClock>();
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

// Options after the command word: positional arguments, -o OUT, --format N, --force.
struct Args {
    std::vector<std::string> positional;
    std::string out;
    FileFormat format = FileFormat::EPROM27C128;
    bool force = false;
    bool ok = true;
};

Args ParseArgs(const std::vector<std::string>& args, std::size_t from) {
    Args a;
    for (std::size_t i = from; i < args.size(); ++i) {
        if (args[i] == "-o" && i + 1 < args.size()) {
            a.out = args[++i];
        } else if (args[i] == "--format" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            const auto format = v.size() == 1 ? FileFormatOfCode(v[0] - '0') : std::nullopt;
            if (!format)
                a.ok = false;
            else
                a.format = *format;
        } else if (args[i] == "--force") {
            a.force = true;
        } else if (args[i].rfind("-", 0) == 0) {
            a.ok = false;
        } else {
            a.positional.push_back(args[i]);
        }
    }
    return a;
}

int UnitOf(const std::string& s) {
    if (s == "lh" || s == "LH") return 1;
    if (s == "ezk" || s == "EZK") return 2;
    return 0;
}

int Fail(CliIo io, const std::string& message) {
    io.err << message << "\n";
    return kExitFailure;
}

int SaveImage(EPROM& image, const Args& a, CliIo io) {
    if (!image.SaveToFile(a.out, a.format))
        return Fail(io, "Failed to save file " + a.out + ": " + image.LastSaveError());
    io.out << "ok\n";
    return kExitOk;
}

} // namespace

int RunInSession(const std::string& cmd, const Args& a, Session& s, CliIo io);

int RunDeviceCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
    if (args.empty()) {
        DeviceUsage(io.err);
        return kExitUsage;
    }
    const std::string& cmd = args[0];
    const Args a = ParseArgs(args, 1);
    const std::size_t npos = a.positional.size();
    const bool wantsOut = cmd == "read-pem" || cmd == "read-pem-initiation" || cmd == "read-emulator";
    const bool usageOk =
        a.ok &&
        ((cmd == "ping" && npos == 0) || (cmd == "version" && npos == 0) || (cmd == "load-pem" && npos == 1) ||
         ((cmd == "read-pem" || cmd == "read-pem-initiation") && npos == 1 && UnitOf(a.positional[0]) != 0) ||
         (cmd == "read-emulator" && npos == 0) || (cmd == "firmware-check" && npos == 1) ||
         (cmd == "firmware-upgrade" && npos <= 1)) &&
        (!wantsOut || !a.out.empty());
    if (!usageOk) {
        DeviceUsage(io.err);
        return kExitUsage;
    }

    Session s;
    if (std::string m = MakeSession(options, io, s); !m.empty()) {
        io.err << m << "\n";
        return kExitUsage;
    }
    const int result = RunInSession(cmd, a, s, io);
    // The simulated car's memories are part of what the command did: a state that could not be
    // kept fails the command.
    if (s.sim && !options.simStateFile.empty()) {
        if (const std::string problem = s.sim->Device().SaveState(); !problem.empty()) {
            io.err << "The simulated car's state was not saved to " << options.simStateFile << ": " << problem << "\n";
            return result == kExitOk ? kExitFailure : result;
        }
    }
    return result;
}

int RunInSession(const std::string& cmd, const Args& a, Session& s, CliIo io) {

    if (cmd == "firmware-check") {
        // No device needed: the container alone.
        if (!s.firmware->OpenFirmware(a.positional[0])) return Fail(io, "Failed to open file!");
        if (!s.firmware->CheckFirmware()) {
            s.firmware->CloseFirmware();
            return Fail(io, "The selected file is not a firmware .dat file or is corrupted.");
        }
        io.out << s.firmware->GetFirmwareFileVersion() << "\nok\n";
        s.firmware->CloseFirmware();
        return kExitOk;
    }

    if (cmd == "load-pem") {
        EPROM image(s.context);
        if (std::string m = image.LoadFromFile(a.positional[0]); !m.empty()) return Fail(io, m);
        if (!s.connection->CheckDeviceOrExplain(*s.messages)) return kExitFailure;
        if (std::string m = image.LoadToEmulator(); !m.empty()) return Fail(io, m);
        io.out << "ok\n";
        return kExitOk;
    }

    // Everything else talks to the device first.
    if (!s.connection->CheckDeviceOrExplain(*s.messages)) return kExitFailure;

    if (cmd == "ping") {
        io.out << "ok\n";
        return kExitOk;
    }
    if (cmd == "version") {
        // Two answers that agree, so a corrupted reply is never printed.
        for (int i = 0; i < 4; ++i) {
            const std::string v1 = s.comms->GetFirmwareVersion();
            const std::string v2 = s.comms->GetFirmwareVersion();
            if (!v1.empty() && v1 == v2) {
                io.out << v1 << "\n";
                return kExitOk;
            }
        }
        return Fail(io, "Kestrovane device not responding");
    }
    if (cmd == "read-pem") {
        const int unit = UnitOf(a.positional[0]);
        EPROM image(s.context);
        if (std::string m = image.LoadFromECU_Running(unit); !m.empty()) return Fail(io, m);
        return SaveImage(image, a, io);
    }
    if (cmd == "read-emulator") {
        EPROM image(s.context);
        if (std::string m = image.LoadFromEmulator(); !m.empty()) return Fail(io, m);
        return SaveImage(image, a, io);
    }
    if (cmd == "read-pem-initiation") {
        const int unit = UnitOf(a.positional[0]);
        if (std::string m = GuideIgnitionOff(s.context); !m.empty()) return Fail(io, m);
        int status = -1;
        if (std::string m = WaitForModules(s.context, unit, status); !m.empty()) return Fail(io, m);
        s.progress->CloseProgress();
        if (status <= 0 || (status & unit) == 0)
            return Fail(io, "No ECU with Kestrovane Programmable EPROM Module was found");
        EPROM image(s.context);
        const std::string m = image.LoadFromECU_Initiation(unit);
        // Let the module start its unit whatever happened.
        s.progress->ShowProgress("Finishing up", 2);
        const std::string finished = FinishModule(s.context, unit, false);
        s.progress->CloseProgress();
        if (!m.empty()) return Fail(io, m);
        if (!finished.empty()) return Fail(io, finished);
        return SaveImage(image, a, io);
    }
    if (cmd == "firmware-upgrade") {
        // The program asks before upgrading a device whose car has the ignition on; a tool that
        // cannot ask refuses unless told to go on.
        if (!a.force && s.comms->IsIgnitionOn())
            return Fail(io, "A firmware upgrade should be performed only when ignition is switched off and the "
                            "vehicle is parked. Kestrovane has detected that you have ignition switched on. Switch "
                            "the ignition off, or give --force to upgrade anyway.");
        const bool fromFile = a.positional.size() == 1;
        if (!s.firmware->OpenFirmware(fromFile ? a.positional[0] : kEmbeddedFirmwareSource))
            return Fail(io, fromFile ? "Failed to open file!" : "Failed to load firmware data from disk");
        if (!s.firmware->CheckFirmware()) {
            s.firmware->CloseFirmware();
            return Fail(io, fromFile ? "The selected file is not a firmware .dat file or is corrupted."
                                     : "The firmware shipped with this version of the PC software is corrupt");
        }
        return s.firmware->ConfirmAndUpgrade() ? kExitOk : kExitFailure;
    }
    DeviceUsage(io.err);
    return kExitUsage;
}

} // namespace kv
