#pragma once
// The trace's device operations over the device link.
#include "maps/map_trace.h"

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

private:
    Comms& comms_;
};

} // namespace kv
