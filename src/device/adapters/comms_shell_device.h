#pragma once
// ShellDevice on the program's device link and firmware procedures.
#include "app/core/shell_device.h"

namespace kv {

class Comms;
class Firmware;

class CommsShellDevice final : public ShellDevice {
public:
    // Both must outlive this object.
    CommsShellDevice(Comms& comms, Firmware& firmware) : comms_(comms), firmware_(firmware) {}

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
};

} // namespace kv
