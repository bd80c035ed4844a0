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

    // ecuKind: 1 = LH unit ("L"), 2 = EZK unit ("E"). Addresses are offsets in the module's
    // 16384-byte EPROM window.

    // 0x86, kind, addrHi, addrLo, count, data: write bytes into a running unit's PEM; true on ack "1".
    virtual bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) = 0;
    // 0x85, kind, addrHi, addrLo, n: n bytes of a running unit's PEM; empty on failure.
    virtual std::vector<std::uint8_t> EcuReadEprom(int ecuKind, int address, int n) = 0;
    // "r", addrHi, addrLo, lenHi, lenLo: bytes of the device's emulation memory; empty on failure.
    virtual std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length) = 0;

    // 0x81: true while the device sees the ignition on.
    virtual bool IsIgnitionOn() = 0;
    // Module detection during power-up: 0x82 mask / 0x8B (status byte or -1) / 0x8C.
    virtual bool PemDetectStart(int mask) = 0;
    virtual int PemDetectStatus() = 0;
    virtual bool PemDetectStop() = 0;
    // 0x95, kind: select the module for block transfers.
    virtual bool PemSelect(int ecuKind) = 0;
    // 0x96: the module's firmware version text; empty when nothing came.
    virtual std::string PemGetFirmwareVersion() = 0;
    // 0x91 addrLo addrHi 64 bytes CRC: true on ack "1".
    virtual bool PemWriteBlock(int address, const std::vector<std::uint8_t>& block64) = 0;
    // 0x92 addrHi addrLo: 64 bytes with a good CRC and ack "1"; empty otherwise.
    virtual std::vector<std::uint8_t> PemReadBlock(int address) = 0;
    // 0x93 0xBE 0xEF: end of a block transfer.
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
