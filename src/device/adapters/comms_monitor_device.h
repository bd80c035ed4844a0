#pragma once
// The monitors' device operations over the device link.
#include "monitor/monitor_record.h"

namespace kv {

class Comms;
class IgnitionDebounce;

class CommsMonitorDevice final : public MonitorDevice {
public:
    // Both must outlive this object.
    CommsMonitorDevice(Comms& comms, IgnitionDebounce& ignition) : comms_(comms), ignition_(ignition) {}
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
    IgnitionDebounce& ignition_;
};

} // namespace kv
