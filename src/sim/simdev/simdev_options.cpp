#include "sim/simdev/simdev_options.h"

#include <charconv>

namespace kv {

namespace {

// A whole decimal number in [lo, hi]; a failure for anything else.
Parsed<long> ParseNumber(const std::string& text, long lo, long hi) {
    long v = 0;
    const char* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi)
        return ParseError{"not a whole number from " + std::to_string(lo) + " to " + std::to_string(hi)};
    return v;
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

Parsed<SimdevConfig> ParseSimdevArgs(const std::vector<std::string>& args) {
    SimdevConfig out;
    out.sim.usbTiming = false; // the real bus and the bridge's pacing give the timing
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "-h" || a == "--help") {
            out.help = true;
            continue;
        }
        static const char* const kValueOptions[] = {"--sim-state",        "--sim-faults",        "--sim-firmware",
                                                    "--sim-pem-firmware", "--sim-ignition",      "--unplug-after",
                                                    "--replug-after-ms",  "--input-interval-ms", "--uhid"};
        bool known = false;
        for (const char* o : kValueOptions) known = known || a == o;
        if (!known) return ParseError{"Unknown option: " + a};
        if (i + 1 >= args.size()) return ParseError{"Missing value after " + a};
        const std::string& v = args[++i];
        if (a == "--sim-state") {
            out.sim.stateFile = v;
        } else if (a == "--sim-faults") {
            if (const auto faults = ParseSimFaultSpec(v); !faults) return ParseError{faults.Error()};
            out.sim.faults = v;
        } else if (a == "--sim-firmware") {
            out.sim.firmwareVersion = v;
        } else if (a == "--sim-pem-firmware") {
            out.sim.pemFirmwareVersion = v;
        } else if (a == "--sim-ignition") {
            const Parsed<SimIgnitionMode> mode = ParseSimIgnitionMode(v);
            if (!mode) return ParseError{"Unknown ignition mode: " + v};
            out.driver = *mode == SimIgnitionMode::Auto ? SimdevDriver::Auto : SimdevDriver::None;
            out.sim.ignition = *mode == SimIgnitionMode::Off ? "off" : "on";
        } else if (a == "--unplug-after") {
            const Parsed<long> n = ParseNumber(v, 1, 1'000'000'000);
            if (!n) return ParseError{"Bad report count for --unplug-after: " + v};
            out.bridge.unplugAfterReports = *n;
        } else if (a == "--replug-after-ms") {
            const Parsed<long> n = ParseNumber(v, 0, 3'600'000);
            if (!n) return ParseError{"Bad time for --replug-after-ms: " + v};
            out.bridge.replugAfterMs = *n;
        } else if (a == "--input-interval-ms") {
            const Parsed<long> n = ParseNumber(v, 0, 1000);
            if (!n) return ParseError{"Bad time for --input-interval-ms: " + v};
            out.bridge.inputIntervalMs = *n;
        } else {
            out.uhidPath = v;
        }
    }
    if (std::string problem = ValidateSimOptions(out.sim); !problem.empty()) return ParseError{std::move(problem)};
    return out;
}

} // namespace kv
