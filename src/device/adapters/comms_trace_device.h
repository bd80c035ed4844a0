#pragma once
// The trace's device operations over the device link.
#include "maps/map_trace.h"

#include <functional>
#include <utility>

namespace kv {

class Comms;

class CommsTraceDevice final : public TraceDevice {
public:
    // `comms` must outlive this object.
    explicit CommsTraceDevice(Comms& comms) : comms_(comms) {}
    bool IsIgnitionOn() override;
    bool SetAuxInputFilter(int channel, int coefficient) override;
    bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) override;
    std::vector<std::uint8_t> DataLog_ReadRecord() override;
    std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) override;
    bool RamByteOrderFlag() const override;
    bool LH_GetMapSetSelector(const EPROM& image) override;
    // While `taken` answers true (a data-logging run holds the device's record layout), the trace
    // neither sets a layout nor reads a record: configuring fails, reading gives nothing.
    void SetRecordLayoutTaken(std::function<bool()> taken) { layoutTaken_ = std::move(taken); }

private:
    Comms& comms_;
    std::function<bool()> layoutTaken_;
};

} // namespace kv
