#include "sim/simdev/simdev_options.h"

#include <charconv>

namespace {

// A whole decimal number in [lo, hi]; false for anything else.
bool ParseNumber(const std::string& text, long lo, long hi, long& out) {
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi) return false;
    out = v;
    return true;
}

} // namespace

std::string SimdevUsage() {
    return "usage: kestrovane-simdev [--sim-state FILE] [--sim-faults LIST] [--sim-firmware V]\n"
           "                         [--sim-pem-firmware V] [--sim-ignition off|on|auto]\n"
           "                         [--unplug-after N] [--replug-after-ms M] [--input-interval-ms T]\n"
           "                         [--uhid PATH]\n"
           "Serves the simulated Kestrovane device and car as a USB HID device through /dev/uhid.\n"
           "Prints \"ready\" when the device is there and \"unplugged\" when it went away.\n"
           "Lines on standard input: \"ignition on\", \"ignition off\", \"unplug\", \"replug\", \"stats\"\n"
           "(prints \"reports N in I out O\"), \"quit\".\n"
           "  --sim-ignition auto   the key is worked as a driver would when a program asks for it\n"
           "  --unplug-after N      the device vanishes after N reports (both ways together)\n"
           "  --replug-after-ms M   and comes back M ms later\n"
           "  --input-interval-ms T at most one input report per T ms (default 1, a USB frame)\n";
}

std::string ParseSimdevArgs(const std::vector<std::string>& args, SimdevConfig& out) {
    out = SimdevConfig{};
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            out.help = true;
            continue;
        }
        static const char* const kValueOptions[] = {"--sim-state",     "--sim-faults",   "--sim-firmware",
                                                    "--sim-pem-firmware", "--sim-ignition", "--unplug-after",
                                                    "--replug-after-ms", "--input-interval-ms", "--uhid"};
        bool known = false;
        for (const char* o : kValueOptions) known = known || a == o;
        if (!known) return "Unknown option: " + a;
        if (i + 1 >= args.size()) return "Missing value after " + a;
        const std::string& v = args[++i];
        long n = 0;
        if (a == "--sim-state") {
            out.sim.stateFile = v;
        } else if (a == "--sim-faults") {
            SimFaultSpec parsed;
            const std::string msg = ParseSimFaultSpec(v, parsed);
            if (!msg.empty()) return msg;
            out.sim.faults = v;
        } else if (a == "--sim-firmware") {
            out.sim.firmwareVersion = v;
        } else if (a == "--sim-pem-firmware") {
            out.sim.pemFirmwareVersion = v;
        } else if (a == "--sim-ignition") {
            SimIgnitionMode mode{};
            if (!ParseSimIgnitionMode(v, mode)) return "Unknown ignition mode: " + v;
            out.driver = mode == SimIgnitionMode::Auto ? SimdevDriver::Auto : SimdevDriver::None;
            out.sim.ignition = mode == SimIgnitionMode::Off ? "off" : "on";
        } else if (a == "--unplug-after") {
            if (!ParseNumber(v, 1, 1'000'000'000, n)) return "Bad report count for --unplug-after: " + v;
            out.bridge.unplugAfterReports = n;
        } else if (a == "--replug-after-ms") {
            if (!ParseNumber(v, 0, 3'600'000, n)) return "Bad time for --replug-after-ms: " + v;
            out.bridge.replugAfterMs = n;
        } else if (a == "--input-interval-ms") {
            if (!ParseNumber(v, 0, 1000, n)) return "Bad time for --input-interval-ms: " + v;
            out.bridge.inputIntervalMs = n;
        } else {
            out.uhidPath = v;
        }
    }
    return ValidateSimOptions(out.sim);
}
