#pragma once
// Command line of kestrovane-simdev: the simulated device's own options (the same as the
// program's --sim-... options) plus the USB-side ones of the kernel device.
#include "platform/parsed.h"
#include "sim/sim_backend.h"
#include "sim/simdev/uhid_bridge.h"

#include <string>
#include <vector>

namespace kv {

// How the simulated driver works the ignition key while a program waits for it.
enum class SimdevDriver {
    None, // the key moves only by --sim-ignition and by "ignition on|off" lines on stdin
    Auto, // the key is turned on when a module detection starts with the ignition off
};

struct SimdevConfig {
    SimOptions sim;
    UhidBridgeOptions bridge;
    std::string uhidPath = "/dev/uhid";
    SimdevDriver driver = SimdevDriver::None;
    bool help = false;
};

// Parses the arguments (without the program name); on failure the message to show.
Parsed<SimdevConfig> ParseSimdevArgs(const std::vector<std::string>& args);

// The usage text.
std::string SimdevUsage();

} // namespace kv
