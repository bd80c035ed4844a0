#include "device/adapters/comms_trace_device.h"

#include "device/comms.h"

namespace kv {

bool CommsTraceDevice::IsIgnitionOn() { return comms_.IsIgnitionOn(); }

bool CommsTraceDevice::SetAuxInputFilter(int channel, int coefficient) {
    return comms_.SetAuxInputFilter(channel, coefficient);
}

bool CommsTraceDevice::DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) {
    if (layoutTaken_ && layoutTaken_()) return false;
    return comms_.DataLog_Configure(addresses, sizes);
}

std::vector<std::uint8_t> CommsTraceDevice::DataLog_ReadRecord() {
    if (layoutTaken_ && layoutTaken_()) return {};
    return comms_.DataLog_ReadRecord();
}

std::optional<std::int32_t> CommsTraceDevice::ReadEcuRam(int ecuKind, int address, int n) {
    return comms_.TryReadEcuRam(ecuKind, address, n);
}

bool CommsTraceDevice::RamByteOrderFlag() const { return comms_.RamByteOrderFlag(); }

bool CommsTraceDevice::LH_GetMapSetSelector(const EPROM& image) { return kv::LH_GetMapSetSelector(comms_, image); }

} // namespace kv
