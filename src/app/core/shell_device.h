#pragma once
// What the application shell needs of the device link: opening and closing it, presence and
// ignition checks with the main window's indicators, the commands of the File menu workflows
// and the firmware dialogues. The program implements it on Comms and Firmware
// (CommsShellDevice); tests use a fake. Failure values are those of the command set: false or
// an empty text. No call throws.
#include <string>

namespace kv {

class UserMessages;

class ShellDevice {
public:
    virtual ~ShellDevice() = default;

    // Sets both time-outs to 0.2 s; true at once when open, else tries to open the device.
    virtual bool Open() = 0;
    // Closes the device when open and marks the link closed.
    virtual void ShutDown() = 0;
    virtual bool IsOpen() = 0;
    // "t" -> "T" with one short attempt.
    virtual bool QuickPing() = 0;
    // Quick ping; refreshes the connection and firmware indicators when the answer changed
    // (or `force`). True when the device answered.
    virtual bool UpdateConnectionStatus(bool force) = 0;
    // Opens and pings the device; otherwise explains why not (title "Error") and refreshes the
    // indicators. True when the device answered.
    virtual bool CheckDeviceOrExplain(UserMessages& messages) = 0;
    // True while the device sees the ignition on.
    virtual bool IsIgnitionOn() = 0;
    // The running unit's module (1 LH, 2 EZK) answers.
    virtual bool PemIsReachable(int ecuKind) = 0;
    // "L" or "E": which unit the device serves; true when the device acknowledged.
    virtual bool SelectEcuMode(char mode) = 0;
    // How multi-byte ECU RAM values are assembled: set = first byte least significant.
    virtual void SetRamByteOrderFlag(bool set) = 0;
    // The device firmware version check with its offer to upgrade from the embedded image.
    virtual void CheckFirmwareAtStartUp(bool offerUpgrade) = 0;
    // Tools > Firmware: upgrade from a file the user chooses.
    virtual void FirmwareUpgradeFromFile() = 0;
};

// The quick-ping timer's work (every 2500 ms): reopen a closed link; close it when the device
// stops answering.
void QuickPingTick(ShellDevice& device);
// Starting the quick ping, and the enter action of the EPROM tab: when the device does not
// answer, close the link (if open) and open it again; then refresh the indicators.
void RestartQuickPing(ShellDevice& device);

} // namespace kv
