#pragma once
// The HID backend of Windows. SetupAPI lists the HID interfaces; each is opened to read its
// vendor and product ID; reports move by overlapped ReadFile and WriteFile whose waits are
// bounded by the time-out, with the transfer cancelled when the time runs out. The logic sits on
// WinHidCalls, the Win32 calls it makes, so that it runs against a fake on any system.
#include "device/hid_backend.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace kv {

using WinHandle = std::uintptr_t;                        // the value of a HANDLE
inline constexpr WinHandle kNoWinHandle = ~WinHandle{0}; // INVALID_HANDLE_VALUE

// The Win32 error codes that the backend tells apart.
inline constexpr std::uint32_t kWinErrorInvalidHandle = 6;
inline constexpr std::uint32_t kWinErrorNoMoreItems = 259;
inline constexpr std::uint32_t kWinErrorDeviceNotConnected = 1167;

// Interface details outside these sizes (bytes) are skipped without opening them.
inline constexpr std::uint32_t kMinInterfaceDetailSize = 5;
inline constexpr std::uint32_t kMaxInterfaceDetailSize = 32768;
// The driver's input queue is raised to this many reports when it holds fewer.
inline constexpr std::uint32_t kWinHidInputBuffers = 32;

enum class WinWait { Signalled, TimedOut, Failed };

class WinHidCalls {
public:
    virtual ~WinHidCalls() = default;
    // HidD_GetHidGuid and SetupDiGetClassDevsA for the present HID interfaces; false on an error.
    virtual bool OpenInterfaceList() = 0;
    // SetupDiEnumDeviceInterfaces at `index`: 0 when there is one there, otherwise the OS error.
    virtual std::uint32_t EnumInterface(std::uint32_t index) = 0;
    // SetupDiGetDeviceInterfaceDetailA without a buffer: the size it asks for.
    virtual std::uint32_t InterfaceDetailSize(std::uint32_t index) = 0;
    // The device path, from the detail fetched into a buffer of `size` bytes; none on failure.
    virtual std::optional<std::string> InterfaceDetailPath(std::uint32_t index, std::uint32_t size) = 0;
    // SetupDiDestroyDeviceInfoList.
    virtual void CloseInterfaceList() = 0;
    // CreateFileA for overlapped reads and writes, sharing both; kNoWinHandle on failure.
    virtual WinHandle OpenPath(const std::string& path) = 0;
    virtual bool GetAttributes(WinHandle device, std::uint16_t& vendorId, std::uint16_t& productId) = 0;
    virtual bool GetNumInputBuffers(WinHandle device, std::uint32_t& count) = 0;
    virtual bool SetNumInputBuffers(WinHandle device, std::uint32_t count) = 0;
    virtual bool FlushQueue(WinHandle device) = 0;
    // Starts an overlapped ReadFile of a whole report into `into` (which stays in use until the
    // transfer is over): 0 when it started or completed, otherwise the OS error.
    virtual std::uint32_t StartRead(WinHandle device, HidReport& into) = 0;
    // Starts an overlapped WriteFile of `report`: 0 when it started or completed, otherwise the
    // OS error.
    virtual std::uint32_t StartWrite(WinHandle device, const HidReport& report) = 0;
    // WaitForSingleObject on the event of the transfer for at most `ms` milliseconds.
    virtual WinWait WaitTransfer(std::uint32_t ms) = 0;
    // CancelIo, then waits until the cancelled transfer has ended.
    virtual void CancelTransfer(WinHandle device) = 0;
    virtual void CloseDevice(WinHandle device) = 0;
};

// The backend over `calls`. Never null.
std::unique_ptr<HidBackend> MakeWinHidBackend(std::unique_ptr<WinHidCalls> calls);

} // namespace kv
