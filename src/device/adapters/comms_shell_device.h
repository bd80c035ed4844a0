#pragma once
// ShellDevice on the program's command set, firmware procedures and connection monitor.
#include "app/core/shell_device.h"

namespace kv {

class Comms;
class Firmware;
class ConnectionMonitor;

class CommsShellDevice final : public ShellDevice {
public:
    // All must outlive this object.
    CommsShellDevice(Comms& comms, Firmware& firmware, ConnectionMonitor& monitor)
        : comms_(comms), firmware_(firmware), monitor_(monitor) {}

    bool Open() override;
    void ShutDown() override;
    bool IsOpen() override;
    bool QuickPing() override;
    bool UpdateConnectionStatus(bool force) override;
    bool CheckDeviceOrExplain(UserMessages& messages) override;
    bool IsIgnitionOn() override;
    bool PemIsReachable(int ecuKind) override;
    bool SelectEcuMode(char mode) override;
    void SetRamByteOrderFlag(bool set) override;
    void CheckFirmwareAtStartUp(bool offerUpgrade) override;
    void FirmwareUpgradeFromFile() override;

private:
    Comms& comms_;
    Firmware& firmware_;
    ConnectionMonitor& monitor_;
};

} // namespace kv
