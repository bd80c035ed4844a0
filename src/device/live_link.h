#pragma once
// Live-link seam: what every live view (the system monitors, the operating-point trace) asks of
// the device while the engine runs — the ignition, the data-log record stream and single RAM
// values of a running unit. Implemented over the device link in src/device/adapters; tests use
// scripted fakes.
#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

class LiveLink {
public:
    virtual ~LiveLink() = default;
    // The device sees the ignition on (one exchange); false also when the device does not answer.
    virtual bool IsIgnitionOn() = 0;
    // Sets the data-log record layout: one field per RAM address with its size in bytes (in
    // record order); true when the device accepted it.
    virtual bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) = 0;
    // One record of the configured layout; empty on failure.
    virtual std::vector<std::uint8_t> DataLog_ReadRecord() = 0;
    // Live RAM value of ECU kind 1 (LH) or 2 (EZK): n = 1..3 bytes assembled in the RAM byte
    // order; nullopt when it could not be read.
    virtual std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) = 0;
    // The program-wide RAM byte order flag (set: first byte least significant).
    virtual bool RamByteOrderFlag() const = 0;
};

} // namespace kv
