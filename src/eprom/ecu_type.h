#pragma once

namespace kv {

// The engine-control unit an image belongs to. The numbers are the codes the command line shows
// on its "ecu_type" line.
enum class EcuType : int {
    Unknown = 0,
    LH23 = 1, // LH 2.3 fuel injection ('87 S4 and later)
    EZK = 2,  // EZK ignition ('87 S4 and later)
    LH22 = 3, // LH 2.2 fuel injection ('85 - '86)
    EZF = 4,  // EZF ignition ('85 - '86)
};

// The number code of a type, for output.
constexpr int EcuTypeCode(EcuType type) { return static_cast<int>(type); }

} // namespace kv
