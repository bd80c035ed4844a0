#include "device/adapters/comms_datalog_device.h"

#include "device/comms.h"

namespace kv {

bool CommsDataLogDevice::IsIgnitionOn() { return comms_.IsIgnitionOn(); }
bool CommsDataLogDevice::DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) {
    return comms_.DataLog_Configure(addresses, sizes);
}
bool CommsDataLogDevice::DataLog_SetRate(int periodMs) { return comms_.DataLog_SetRate(periodMs); }
bool CommsDataLogDevice::DataLog_StartDeviceLogging() { return comms_.DataLog_StartDeviceLogging(); }
bool CommsDataLogDevice::DataLog_StopDeviceLogging() { return comms_.DataLog_StopDeviceLogging(); }
bool CommsDataLogDevice::DataLog_KeepAlive() { return comms_.DataLog_KeepAlive(); }
std::vector<std::uint8_t> CommsDataLogDevice::DataLog_Download() { return comms_.DataLog_Download(); }
std::optional<std::int32_t> CommsDataLogDevice::ReadEcuRam(int ecuKind, int address, int n) {
    return comms_.TryReadEcuRam(ecuKind, address, n);
}
std::optional<std::int32_t> CommsDataLogDevice::ReadAuxInput(int channel) {
    if (!comms_.QuickPing()) return std::nullopt;
    return comms_.ReadAuxInput(channel);
}
std::int32_t CommsDataLogDevice::ReadRpmPeriod() { return comms_.ReadRpmPeriod(); }
bool CommsDataLogDevice::SetAuxInputFilter(int channel, int coefficient) {
    return comms_.SetAuxInputFilter(channel, coefficient);
}
bool CommsDataLogDevice::RamByteOrderFlag() const { return comms_.RamByteOrderFlag(); }

} // namespace kv
