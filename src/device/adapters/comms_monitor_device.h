#pragma once
// The monitors' device operations over the device link.
#include "monitor/monitor_record.h"

#include <functional>
#include <utility>

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
    // While `taken` answers true (a data-logging run holds the device's record layout), the
    // monitors neither set a layout nor read a record: configuring fails, reading gives nothing.
    void SetRecordLayoutTaken(std::function<bool()> taken) { layoutTaken_ = std::move(taken); }

private:
    Comms& comms_;
    IgnitionDebounce& ignition_;
    std::function<bool()> layoutTaken_;
};

} // namespace kv
