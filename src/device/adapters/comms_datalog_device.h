#pragma once
// Data logging's device operations over the device link.
#include "datalog/log_device.h"

namespace kv {

class Comms;

class CommsDataLogDevice final : public DataLogDevice {
public:
    // `comms` must outlive this object.
    explicit CommsDataLogDevice(Comms& comms) : comms_(comms) {}
    bool IsIgnitionOn() override;
    bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) override;
    bool DataLog_SetRate(int periodMs) override;
    bool DataLog_StartDeviceLogging() override;
    bool DataLog_StopDeviceLogging() override;
    bool DataLog_KeepAlive() override;
    std::vector<std::uint8_t> DataLog_Download() override;
    std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) override;
    // A quick ping first (ReadAuxInput alone answers 0 for an absent device), then ReadAuxInput.
    std::optional<std::int32_t> ReadAuxInput(int channel) override;
    std::int32_t ReadRpmPeriod() override;
    bool SetAuxInputFilter(int channel, int coefficient) override;
    bool RamByteOrderFlag() const override;

private:
    Comms& comms_;
};

} // namespace kv
