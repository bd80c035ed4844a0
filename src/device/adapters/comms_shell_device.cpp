#include "device/adapters/comms_shell_device.h"

#include "app/core/connection_monitor.h"

#include "device/comms.h"
#include "device/firmware.h"

namespace kv {

bool CommsShellDevice::Open() { return comms_.Comms_Open(); }
void CommsShellDevice::ShutDown() { comms_.Comms_ShutDown(); }
bool CommsShellDevice::IsOpen() { return comms_.Comms_IsOpen(); }
bool CommsShellDevice::QuickPing() { return comms_.QuickPing(); }
bool CommsShellDevice::UpdateConnectionStatus(bool force) { return monitor_.UpdateConnectionStatus(force); }
bool CommsShellDevice::CheckDeviceOrExplain(UserMessages& messages) { return monitor_.CheckDeviceOrExplain(messages); }
bool CommsShellDevice::IsIgnitionOn() { return comms_.IsIgnitionOn(); }
bool CommsShellDevice::PemIsReachable(int ecuKind) { return comms_.PemIsReachable(ecuKind); }
bool CommsShellDevice::SelectEcuMode(char mode) { return comms_.SelectEcuMode(mode); }
void CommsShellDevice::SetRamByteOrderFlag(bool set) { comms_.SetRamByteOrderFlag(set); }
void CommsShellDevice::CheckFirmwareAtStartUp(bool offerUpgrade) { firmware_.CheckFirmwareAtStartUp(offerUpgrade); }
void CommsShellDevice::FirmwareUpgradeFromFile() { firmware_.ToolsFirmwareUpgrade(); }

} // namespace kv
