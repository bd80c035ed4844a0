#pragma once
// The state file of the simulated car: what it keeps between runs. Text, one "key=value" line
// each after a header line: firmware, lh-firmware, ezk-firmware (version texts), coolant
// (degrees Celsius, optional), emulator, lh, ezk (16384 bytes each as hexadecimal digits).
#include "platform/parsed.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kv {

struct SimCarState {
    std::string firmwareVersion;
    std::string lhFirmwareVersion;
    std::string ezkFirmwareVersion;
    double coolantC = 20.0;
    bool hasCoolant = false;
    std::vector<std::uint8_t> emulator; // 16384 bytes each
    std::vector<std::uint8_t> lh;
    std::vector<std::uint8_t> ezk;
};

// The file's text for `state`.
std::string SimStateText(const SimCarState& state);

// Reads `path`; on failure what is wrong with the file. A file that does not exist is reported
// as "missing".
Parsed<SimCarState> ReadSimState(const std::string& path);

// Writes through a temporary file and a rename, so a crash never leaves half a file. Empty on
// success, otherwise the reason.
std::string WriteSimState(const std::string& path, const SimCarState& state);

} // namespace kv
