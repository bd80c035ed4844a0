#pragma once
// The monitors' device operations over the device link.
#include "monitor/monitor_record.h"

namespace kv {

class Comms;

class CommsMonitorDevice final : public MonitorDevice {
public:
    // `comms` must outlive this object.
    explicit CommsMonitorDevice(Comms& comms) : comms_(comms) {}
    bool IgnitionOnDebounced() override;
    bool IsIgnitionOn() override;
    void ResetIgnitionDebounce() override;
    bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) override;
    std::vector<std::uint8_t> DataLog_ReadRecord() override;
    std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) override;
    bool ResetO2Adaptation() override;
    bool RamByteOrderFlag() const override;

private:
    Comms& comms_;
};

} // namespace kv
