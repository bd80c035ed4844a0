#pragma once
// What an EPROM image needs from the device: the commands of the device link that read and
// write the emulation memory and the Programmable EPROM Modules (PEM). The device link
// implements it; tests use a recording double. Failure values are those of the command set:
// false, an empty vector, -1 or an empty string. No call throws.
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class EpromDevice {
public:
    virtual ~EpromDevice() = default;

    // ecuKind: 1 = LH unit, 2 = EZK unit. Addresses are offsets in the module's 16384-byte
    // EPROM window. The requests behind the operations are in device/protocol.h.

    // Writes bytes into a running unit's PEM; true when the device acknowledged.
    virtual bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) = 0;
    // n bytes of a running unit's PEM; empty on failure.
    virtual std::vector<std::uint8_t> EcuReadEprom(int ecuKind, int address, int n) = 0;
    // Bytes of the device's emulation memory; empty on failure.
    virtual std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length) = 0;

    // True while the device sees the ignition on.
    virtual bool IsIgnitionOn() = 0;
    // Module detection during power-up: start (mask), status (status byte or -1), stop.
    virtual bool PemDetectStart(int mask) = 0;
    virtual int PemDetectStatus() = 0;
    virtual bool PemDetectStop() = 0;
    // Selects the module of a unit for block transfers.
    virtual bool PemSelect(int ecuKind) = 0;
    // The selected module's firmware version text; empty when nothing came.
    virtual std::string PemGetFirmwareVersion() = 0;
    // One 64-byte block into the selected module; true when the device acknowledged.
    virtual bool PemWriteBlock(int address, const std::vector<std::uint8_t>& block64) = 0;
    // One 64-byte block of the selected module with a good CRC and acknowledgement; empty otherwise.
    virtual std::vector<std::uint8_t> PemReadBlock(int address) = 0;
    // End of a block transfer.
    virtual bool PemFinish() = 0;
    // Waits one whole reply window and drops every reply that arrives in it, so that a late
    // answer to a request that timed out is never taken for the answer to the next one.
    virtual void DrainReplies() = 0;
    // The module firmware upgrade procedure for unit 1 (LH) or 2 (EZK); true on success.
    virtual bool UpgradePemFirmware(int ecuKind) = 0;
    // True when the link is open, reopening it at once when it was closed (the transfers call
    // this while they wait for a device that dropped off the bus).
    virtual bool Reopen() = 0;
};

} // namespace kv
