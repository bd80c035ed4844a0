#pragma once
// The link to the Kestrovane device: finding and opening it, moving 33-byte reports with
// time-outs, cutting requests into output reports and filing the input reports of replies into
// the two reply channels DATA and DATALOG (device/protocol.h) until a command takes them.
//
// All I/O goes through a HidBackend, all time through a Clock. Everything runs on one thread.
// No call throws.
#include "device/hid_backend.h"
#include "device/protocol.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kv {

class Clock;
class DeviceTrace;

inline constexpr int kRingBufferSize = 2112;   // 64 whole 33-byte reports per channel
inline constexpr double kDefaultTimeout = 0.2; // seconds, per reply and per report write

// The state of the link. Positions are indices into the 33-byte reports.
struct LinkState {
    bool open = false;
    double readTimeout = kDefaultTimeout;  // seconds allowed for one reply
    double writeTimeout = kDefaultTimeout; // seconds allowed for one report write
    double lastReopenAttempt = -1e9;       // seconds (clock time) of the last ReopenIfDue while closed
    HidReport rxReport{};                  // last report taken; [0] report ID, [1] type byte
    HidReport txReport{};                  // report being built; [0] always 0

    int txPosition = 1;        // where the next request byte goes (1..33)
    int txState = 1;           // 1 = first report of a request, 2 = continuation report
    int rxPosition = 0;        // next reply byte to hand out; 0 = no report in hand
    int rxExpectedType = DATA; // type byte of the first report of the reply being received
    int receiverState = 1;     // 1 = waiting for the first report, 2 = inside a reply
    std::array<std::array<std::uint8_t, kRingBufferSize>, 2> ringBuffer{}; // 0 = DATA, 1 = DATALOG
    std::array<int, 2> ringCount{};                                        // bytes held per channel, a multiple of 33
    std::array<int, 2> ringHead{};                                         // index of the oldest held byte per channel
    // Clock time (seconds) until which the reply to a DATA request that timed out may still
    // arrive; the next DATA flush drains until then. Negative: nothing outstanding.
    double lateReplyUntil = -1.0;
};

class DeviceLink {
public:
    // `hid` and `clock` (and `trace` when given) must outlive the link. The link starts closed.
    // `trace` receives the link's own notes; the reports are traced by a TracingHidBackend.
    DeviceLink(HidBackend& hid, Clock& clock, DeviceTrace* trace = nullptr);
    ~DeviceLink();
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;

    const LinkState& State() const { return state_; }
    HidBackend& Hid() { return hid_; }
    Clock& GetClock() { return clock_; }

    // ---- transport ----
    // Finds the device (kDeviceVendorId, kDeviceProductId) and opens it; resets the link on success.
    bool OpenDevice();
    // Time-outs back to 0.2 s; true at once when open, else OpenDevice.
    bool Open();
    // Closes the device if open, and writes out the trace.
    void ShutDown();
    bool IsOpen() const { return state_.open; }
    // When closed: tries OpenDevice only if at least 1 s passed since the last try.
    void ReopenIfDue();
    // When closed, ReopenIfDue; true when the link is open afterwards.
    bool EnsureOpen();
    // One report into rxReport within readTimeout; on failure rxReport is all zero. A removed
    // device closes the link.
    bool ReadReport();
    // One report (txReport) within writeTimeout; a time-out is not reported.
    void WriteReport();
    double ReadTimeout() const { return state_.readTimeout; }
    void SetReadTimeout(double seconds) { state_.readTimeout = seconds; }

    // ---- framing ----
    void BeginTransmit();
    void TransmitBytes(const std::vector<std::uint8_t>& bytes);
    void EndTransmit();
    // A whole request: BeginTransmit, TransmitBytes, EndTransmit.
    void SendRequest(const std::vector<std::uint8_t>& request);
    // Reads one report and files it into its channel; false on no report or an unknown type.
    bool RouteReport();
    // Takes the oldest report of the current reply's channel into rxReport within readTimeout
    // (time spent receiving the other channel's reports is not charged).
    bool ReceiveReport();
    void BeginReceive(std::uint8_t type);
    // The next n bytes of the current reply; empty when it does not complete in time.
    std::vector<std::uint8_t> ReceiveBytes(int n);
    void EndReceive();
    // Drops what is pending for channel `type` (DATA or DATALOG): its ring buffer and whatever
    // the driver has queued already.
    void FlushChannel(std::uint8_t type);
    // Waits one reply window (readTimeout) and drops every DATA report that arrives in it: the
    // late answer to a request that timed out is never taken for the answer to the next one.
    void DrainReplies();

    // A note in the debug trace (nothing when there is no trace or it is off).
    void Note(const std::string& text);
    bool Tracing() const;

private:
    void ClearRx();
    double NowSeconds();

    HidBackend& hid_;
    Clock& clock_;
    DeviceTrace* trace_;
    LinkState state_;
};

} // namespace kv
