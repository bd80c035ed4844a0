#pragma once
// Serves a HidBackend (the device side of the reports) as a kernel HID device through the Linux
// uhid interface: the kernel then offers it as /dev/hidrawN to any program, exactly like the
// Kestrovane device on a USB port (vendor 0x1234, product 0x5851, 32-byte input and output
// reports without report IDs).
//
// Direction of the reports: what the program writes to the hidraw node arrives here as
// UHID_OUTPUT and goes to backend.Write (the device receives it); what backend.Read yields (the
// device's answers) goes to the kernel as UHID_INPUT2, one report at a time, no faster than the
// input interval (a full-speed interrupt endpoint moves one report per 1 ms frame). Input moves
// only while a program has the device open, as the host polls the endpoint only then.
//
// Single-threaded. The owner polls Fd() for readability (at most PollTimeoutMs() ms), then calls
// Service(readable). Failures come back as false / message texts; nothing throws.
#include "device/hid_backend.h"
#include "platform/clock.h"
#include "platform/parsed.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv {

inline constexpr std::uint16_t kUhidVendorId = 0x1234;
inline constexpr std::uint16_t kUhidProductId = 0x5851;
inline constexpr int kUhidPayloadSize = kHidReportSize - 1; // 32 bytes each way, no report ID

// The HID report descriptor: vendor-defined usage page 0xFF00, one 32-byte input report and one
// 32-byte output report, no report IDs.
std::vector<std::uint8_t> KestrovaneReportDescriptor();

// Builds an output report as the device sees it from the bytes of one UHID_OUTPUT. `data` starts
// with the report ID, which must be 0 (the device has no numbered reports); the payload that
// follows is cut to 32 bytes or filled with zeros to 32. Fails for an empty buffer or a non-zero
// report ID (such a report is not meant for this device).
Parsed<HidReport> OutputReportFromUhid(const std::uint8_t* data, std::size_t size);

struct UhidBridgeOptions {
    // Destroys the kernel device after this many reports (input and output together); -1 = never.
    long unplugAfterReports = -1;
    // Creates the kernel device again this long after it was destroyed; -1 = stays away.
    long replugAfterMs = -1;
    // Least time between two input reports, milliseconds (0 = as fast as the backend yields).
    long inputIntervalMs = 1;
    // Device name shown by the kernel.
    std::string name = "Kestrovane";
};

// The device model's side of the cable. `unplugged` and `replugged` are called when the bridge
// pulls the cable and puts it back (the simulated device loses its open handle and finds it
// again). `present` tells whether the model is on the bus by itself (a device restarting after a
// firmware upgrade drops off for a moment); while it is not, the kernel device is gone too and
// comes back when it returns. Any of them may be empty (`present` empty = always there).
struct UhidPlugHooks {
    std::function<void()> unplugged;
    std::function<void()> replugged;
    std::function<bool()> present;
};

enum class UhidBridgeEvent {
    Created,   // the kernel device exists ("ready")
    Destroyed, // the kernel device is gone ("unplugged")
};

class UhidBridge {
public:
    // `fd` is an open /dev/uhid (or anything that speaks its event protocol); the bridge does not
    // own it. `backend` must already be open.
    UhidBridge(int fd, HidBackend& backend, Clock& clock, UhidBridgeOptions options, UhidPlugHooks hooks = {});
    UhidBridge(const UhidBridge&) = delete;
    UhidBridge& operator=(const UhidBridge&) = delete;

    // Writes UHID_CREATE2. Empty on success, otherwise the message to show.
    std::string Create();
    // Writes UHID_DESTROY if the device exists.
    void Destroy();
    // The USB cable pulled (Destroy and the unplugged hook) and put back (the replugged hook and
    // Create; empty on success, otherwise the message to show).
    void Unplug();
    std::string Replug();

    int Fd() const { return fd_; }
    // How long the owner may block waiting for Fd() before Service must run again (ms, >= 0).
    int PollTimeoutMs();
    // Reads one kernel event when `readable`, then moves due input reports and handles the
    // unplug and replug times. Returns false when the uhid file failed (the owner stops).
    bool Service(bool readable);

    bool Created() const { return created_; }
    bool Started() const { return started_; }
    bool HostOpen() const { return openCount_ > 0; }
    long ReportCount() const { return reportCount_; }
    long InputReports() const { return inputReports_; }
    long OutputReports() const { return outputReports_; }
    // Last failure of the uhid file (empty when none).
    const std::string& LastError() const { return lastError_; }

    // Announcements for the owner ("ready" / "unplugged" lines); called after the event.
    std::function<void(UhidBridgeEvent)> onEvent;
    // Sees every output report just before the device gets it.
    std::function<void(const HidReport&)> onOutput;

private:
    bool ReadKernelEvent();
    bool PumpInput();
    // Counts one report either way; pulls the cable (true) when the unplug count is reached.
    bool CountReport();
    void GoAway();
    bool WriteEvent(const void* event, std::size_t size);

    int fd_;
    HidBackend& backend_;
    Clock& clock_;
    UhidBridgeOptions options_;
    UhidPlugHooks hooks_;
    bool created_ = false;
    bool started_ = false;
    int openCount_ = 0;
    bool unplugFired_ = false;
    bool modelAway_ = false; // the model dropped off the bus by itself
    std::int64_t replugAtMs_ = -1;
    std::int64_t nextInputMs_ = 0; // time of the next free USB frame for an input report
    std::int64_t lastPresenceCheckMs_ = 0;
    long reportCount_ = 0;
    long inputReports_ = 0;
    long outputReports_ = 0;
    std::string lastError_;
};

} // namespace kv
