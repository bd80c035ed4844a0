// kestrovane-cli device ...: the device link, the module transfers and the firmware from the
// command line, against the real device or (--simulate) the simulated device and car.
#include "app/core/connection_monitor.h"
#include "cli/cli.h"
#include "cli/cli_session.h"
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

int RunInSession(const std::string& cmd, const Args& a, DeviceSession& s, CliIo io);

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

    DeviceSession s;
    if (std::string m = MakeDeviceSession(options, io, s); !m.empty()) {
        io.err << m << "\n";
        return kExitUsage;
    }
    return KeepSimulatedState(RunInSession(cmd, a, s, io), options, s, io);
}

int RunInSession(const std::string& cmd, const Args& a, DeviceSession& s, CliIo io) {

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
