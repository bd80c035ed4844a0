#include "device/adapters/comms_monitor_device.h"

#include "app/core/connection_monitor.h"

#include "device/comms.h"

namespace kv {

bool CommsMonitorDevice::IgnitionOnDebounced() { return ignition_.IgnitionOnDebounced(); }
bool CommsMonitorDevice::IsIgnitionOn() { return comms_.IsIgnitionOn(); }
void CommsMonitorDevice::ResetIgnitionDebounce() { ignition_.ResetIgnitionDebounce(); }
bool CommsMonitorDevice::DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) {
    if (layoutTaken_ && layoutTaken_()) return false;
    return comms_.DataLog_Configure(addresses, sizes);
}
std::vector<std::uint8_t> CommsMonitorDevice::DataLog_ReadRecord() {
    if (layoutTaken_ && layoutTaken_()) return {};
    return comms_.DataLog_ReadRecord();
}
std::optional<std::int32_t> CommsMonitorDevice::ReadEcuRam(int ecuKind, int address, int n) {
    return comms_.TryReadEcuRam(ecuKind, address, n);
}
bool CommsMonitorDevice::ResetO2Adaptation() { return comms_.ResetO2Adaptation(); }
bool CommsMonitorDevice::RamByteOrderFlag() const { return comms_.RamByteOrderFlag(); }

} // namespace kv
