#pragma once
// What data logging asks of the device: the device-side logging commands, the reads of the
// trigger inputs, the aux filters, and the ignition. Implemented over the device link by
// CommsDataLogDevice (device/adapters); tests use a scripted fake or the simulated car.
#include <cstdint>
#include <optional>
#include <vector>

namespace kv {

class DataLogDevice {
public:
    virtual ~DataLogDevice() = default;
    // The device sees the ignition on; false also when it does not answer.
    virtual bool IsIgnitionOn() = 0;
    // Sets the record layout (address bytes and sizes in record order); true when accepted.
    virtual bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) = 0;
    // Sample period in milliseconds (one byte); true when accepted.
    virtual bool DataLog_SetRate(int periodMs) = 0;
    virtual bool DataLog_StartDeviceLogging() = 0;
    virtual bool DataLog_StopDeviceLogging() = 0;
    virtual bool DataLog_KeepAlive() = 0;
    // The streamed records that arrived (each the record size + 4 bytes), concatenated; empty when
    // none came.
    virtual std::vector<std::uint8_t> DataLog_Download() = 0;
    // Live RAM of ECU kind 1 (LH) or 2 (EZK), n = 1..3 bytes in the RAM byte order; nullopt when
    // it could not be read.
    virtual std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) = 0;
    // Raw 16-bit reading of a device input channel; nullopt when the device did not answer.
    virtual std::optional<std::int32_t> ReadAuxInput(int channel) = 0;
    // The engine period the device measures (24-bit counts); 0xFFFFFF when it did not answer.
    virtual std::int32_t ReadRpmPeriod() = 0;
    virtual bool SetAuxInputFilter(int channel, int coefficient) = 0;
    // The program-wide RAM byte order flag (set: first byte least significant).
    virtual bool RamByteOrderFlag() const = 0;
};

} // namespace kv
