#pragma once
// HID access seam: moves 33-byte reports (report ID 0 first, then 32 payload bytes) to and from
// one HID device. The real backend uses hidapi; the simulated device and the test fakes
// implement the same interface, so everything above runs unchanged against any of them.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

inline constexpr int kHidReportSize = 33; // report ID byte + 32 payload bytes
using HidReport = std::array<std::uint8_t, kHidReportSize>;

struct HidDeviceInfo {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

enum class HidReadResult {
    Ok,      // one report stored
    Timeout, // nothing arrived within the time-out
    Failed,  // the read failed otherwise; the handle stays valid
    Error,   // the handle is no longer valid (device removed); the caller closes the link
};

enum class HidWriteResult {
    Ok,      // the whole report was taken
    Timeout, // the device did not take it within the time-out (the write was cancelled)
    Failed,  // the write failed otherwise; the handle stays valid
    Gone,    // the handle is no longer valid (device removed); the backend has closed itself
};

class HidBackend {
public:
    virtual ~HidBackend() = default;
    // All HID interfaces present now, with their vendor and product IDs.
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;
    // Opens the device at `path` for bounded reads and writes; false when it cannot be opened.
    // At most one device is open; Open closes any previous one.
    virtual bool Open(const std::string& path) = 0;
    virtual bool IsOpen() const = 0;
    // Asks the driver to queue `reports` input reports; false where the platform fixes the
    // queue (Linux hidraw keeps 64).
    virtual bool SetInputQueueSize(int reports) = 0;
    // Drops every input report queued so far.
    virtual void FlushInput() = 0;
    // Waits up to timeoutMs (0 = poll) for one input report; the report is stored with its
    // report ID byte 0 first whatever the platform delivered.
    virtual HidReadResult Read(HidReport& report, int timeoutMs) = 0;
    // Writes one output report (report[0] is the report ID 0) within timeoutMs. When the handle
    // is no longer valid (device removed) the backend also closes itself, so IsOpen() turns
    // false and the caller closes the link.
    virtual HidWriteResult Write(const HidReport& report, int timeoutMs) = 0;
    // Cancels a pending transfer (a no-op where transfers are never left pending).
    virtual void Cancel() = 0;
    virtual void Close() = 0;
};

} // namespace kv
