#include "device/device_link.h"

#include "device/device_trace.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr int kChannelData = 0;
constexpr int kChannelDataLog = 1;
// A flush reads at most this many reports, so a device that streams without pause cannot hold
// a command in its flush forever.
constexpr int kMaxFlushReads = 256;
// A drain looks at the reply channel this often while it waits out a reply window.
constexpr std::int64_t kDrainStepMs = 10;
// Once the first report of a message has come, the device sends the rest in the following USB
// frames; a continuation report gets at least this budget (seconds) even when the caller polls
// with a shorter time-out, so a message is never cut in two.
constexpr double kContinuationBudget = 0.02;

int ChannelOfType(int type) { return type == DATALOG ? kChannelDataLog : kChannelData; }

int TimeoutMs(double seconds) {
    // Rounded to nearest, halves to even (the default rounding mode).
    const long ms = std::lrint(seconds * 1000.0);
    return ms < 0 ? 0 : static_cast<int>(std::min<long>(ms, 3'600'000));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Transport

DeviceLink::DeviceLink(HidBackend& hid, Clock& clock, DeviceTrace* trace) : hid_(hid), clock_(clock), trace_(trace) {}

DeviceLink::~DeviceLink() {
    if (state_.open) hid_.Close();
    state_.open = false;
    if (trace_) trace_->Flush();
}

void DeviceLink::Note(const std::string& text) {
    if (trace_) trace_->Write(text);
}

bool DeviceLink::Tracing() const { return trace_ && trace_->Enabled(); }

double DeviceLink::NowSeconds() { return static_cast<double>(clock_.NowMs()) / 1000.0; }

void DeviceLink::ClearRx() { state_.rxReport.fill(0); }

bool DeviceLink::OpenDevice() {
    Note("OpenDevice");
    if (state_.open || hid_.IsOpen()) hid_.Close();
    state_.open = false;
    bool found = false;
    for (const HidDeviceInfo& info : hid_.Enumerate()) {
        if (info.vendorId != kDeviceVendorId || info.productId != kDeviceProductId) continue;
        if (hid_.Open(info.path)) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    hid_.SetInputQueueSize(32); // where the platform lets it
    hid_.FlushInput();
    state_.ringCount = {0, 0};
    state_.ringHead = {0, 0};
    state_.lateReplyUntil = -1.0;
    state_.open = true;
    state_.rxPosition = 0;
    state_.receiverState = 1;
    state_.txPosition = 1;
    state_.txState = 1;
    return true;
}

bool DeviceLink::Open() {
    state_.readTimeout = kDefaultTimeout;
    state_.writeTimeout = kDefaultTimeout;
    if (state_.open) return true;
    return OpenDevice();
}

void DeviceLink::ShutDown() {
    Note("Comms_ShutDown");
    if (state_.open) hid_.Close();
    state_.open = false;
    if (trace_) trace_->Flush();
}

void DeviceLink::ReopenIfDue() {
    if (state_.open) return;
    const double now = NowSeconds();
    if (std::fabs(now - state_.lastReopenAttempt) >= 1.0) OpenDevice();
    state_.lastReopenAttempt = NowSeconds();
}

bool DeviceLink::EnsureOpen() {
    if (!state_.open) ReopenIfDue();
    if (!state_.open) Note("Device not open");
    return state_.open;
}

bool DeviceLink::ReadReport() {
    if (!state_.open) {
        ClearRx();
        return false;
    }
    HidReport report{};
    switch (hid_.Read(report, TimeoutMs(state_.readTimeout))) {
    case HidReadResult::Ok: state_.rxReport = report; return true;
    case HidReadResult::Timeout: hid_.Cancel(); break;
    case HidReadResult::Failed: break;
    case HidReadResult::Error:
        hid_.Close();
        state_.open = false;
        break;
    }
    ClearRx();
    return false;
}

void DeviceLink::WriteReport() {
    if (state_.open) {
        state_.txReport[0] = 0;
        // A write that fails or times out is not retried or reported: the reply time-out of the
        // command catches a lost request.
        switch (hid_.Write(state_.txReport, TimeoutMs(state_.writeTimeout))) {
        case HidWriteResult::Ok: break;
        case HidWriteResult::Timeout: hid_.Cancel(); break;
        case HidWriteResult::Failed: break;
        case HidWriteResult::Gone:
            // The device is gone: the link closes now, and the rest of the request is not sent.
            if (hid_.IsOpen()) hid_.Close();
            state_.open = false;
            ClearRx();
            break;
        }
    }
    state_.txPosition = 1;
    if (state_.txState == 1) state_.txState = 2;
}

// ---------------------------------------------------------------------------------------------
// Framing

void DeviceLink::BeginTransmit() {
    state_.txPosition = 1;
    state_.txState = 1;
}

void DeviceLink::TransmitBytes(const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) {
        if (state_.txPosition > 32) {
            WriteReport();
            if (state_.txState == 2)
                state_.txReport[static_cast<std::size_t>(state_.txPosition++)] = kContinuationMarker;
        }
        state_.txReport[static_cast<std::size_t>(state_.txPosition++)] = b;
    }
}

void DeviceLink::SendRequest(const std::vector<std::uint8_t>& request) {
    BeginTransmit();
    TransmitBytes(request);
    EndTransmit();
}

void DeviceLink::EndTransmit() {
    if (state_.txPosition < 2 || (state_.txPosition == 2 && state_.txState == 2)) return;
    for (int i = state_.txPosition; i < kHidReportSize; ++i) state_.txReport[static_cast<std::size_t>(i)] = 0;
    WriteReport();
}

bool DeviceLink::RouteReport() {
    if (!ReadReport()) return false;
    const int type = state_.rxReport[1];
    int ch;
    if (type == DATA || type == DATA + 1) {
        ch = kChannelData;
        Note("    Putting into DATA buffer");
    } else if (type == DATALOG || type == DATALOG + 1) {
        ch = kChannelDataLog;
        Note("    Putting into DATALOG buffer");
    } else {
        Note("    Discarding (unrecognized type byte)");
        return false;
    }
    const auto c = static_cast<std::size_t>(ch);
    if (state_.ringCount[c] >= kRingBufferSize) {
        Note("    Receive buffer full");
        return true;
    }
    // Head and count are multiples of 33 and the buffer holds 64 reports: a report never wraps.
    const int at = (state_.ringHead[c] + state_.ringCount[c]) % kRingBufferSize;
    std::copy(state_.rxReport.begin(), state_.rxReport.end(), state_.ringBuffer[c].begin() + at);
    state_.ringCount[c] += kHidReportSize;
    return true;
}

bool DeviceLink::ReceiveReport() {
    const auto c = static_cast<std::size_t>(ChannelOfType(state_.rxExpectedType));
    const double saved = state_.readTimeout;
    double budget = state_.receiverState == 2 ? std::max(saved, kContinuationBudget) : saved;
    while (state_.ringCount[c] == 0) {
        if (budget <= 0.0 || !state_.open) {
            Note("Response timed out");
            // Whatever is still on its way may arrive within one more reply window.
            if (state_.rxExpectedType == DATA) state_.lateReplyUntil = NowSeconds() + std::max(saved, kDefaultTimeout);
            ClearRx();
            state_.readTimeout = saved;
            return false;
        }
        state_.readTimeout = budget;
        const std::int64_t t0 = clock_.NowMs();
        const bool r = RouteReport();
        std::int64_t t1 = clock_.NowMs();
        if (t1 <= t0) t1 = t0 + 1;                   // a read always costs at least 1 ms of budget
        if (state_.ringCount[c] == 0 && r) continue; // the other channel is streaming: not charged
        budget -= static_cast<double>(t1 - t0) / 1000.0;
    }
    state_.readTimeout = saved;
    Note("    Receiving from buffer ");
    const int head = state_.ringHead[c];
    std::copy(state_.ringBuffer[c].begin() + head, state_.ringBuffer[c].begin() + head + kHidReportSize,
              state_.rxReport.begin());
    state_.ringHead[c] = (head + kHidReportSize) % kRingBufferSize;
    state_.ringCount[c] -= kHidReportSize;
    if (Tracing()) Note("    Received from buffer: " + TraceHexBytes(state_.rxReport.data(), state_.rxReport.size()));
    return true;
}

void DeviceLink::BeginReceive(std::uint8_t type) {
    state_.rxExpectedType = type;
    state_.rxPosition = 0;
    state_.receiverState = 1;
}

std::vector<std::uint8_t> DeviceLink::ReceiveBytes(int n) {
    std::vector<std::uint8_t> out;
    if (n <= 0) return out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (state_.rxPosition == 0 || state_.rxPosition > 32) {
            for (;;) {
                if (!ReceiveReport()) return {};
                const int type = state_.rxReport[1];
                if (state_.receiverState == 1) {
                    if (type == state_.rxExpectedType) {
                        state_.receiverState = 2;
                        break;
                    }
                    Note("    Receive filter discarded data (receiverstate=1)");
                } else if (state_.receiverState == 2) {
                    if (type == state_.rxExpectedType + 1) break;
                    Note("    Receive filter discarded data (receiverstate=2)");
                } else {
                    break;
                }
            }
            state_.rxPosition = 2;
        }
        out.push_back(state_.rxReport[static_cast<std::size_t>(state_.rxPosition++)]);
    }
    return out;
}

void DeviceLink::EndReceive() { state_.rxPosition = 0; }

void DeviceLink::FlushChannel(std::uint8_t type) {
    // Take whatever the driver has queued already (reports of the other channel are filed into
    // their ring buffer), then empty this channel. After a reply that did not come in time, the
    // reply may still be on its way: DATA is drained until its late window has passed, so that
    // the next command does not take it for its own reply.
    BeginReceive(type);
    const double saved = state_.readTimeout;
    state_.readTimeout = 0.0;
    const bool drainLate = type == DATA && state_.lateReplyUntil > NowSeconds();
    int reads = 0;
    if (drainLate) Note("    Draining a late reply");
    while (drainLate && state_.open && reads < kMaxFlushReads) {
        const double left = state_.lateReplyUntil - NowSeconds();
        if (left <= 0.0) break;
        state_.readTimeout = std::max(left, 0.001);
        if (RouteReport()) ++reads;
        state_.readTimeout = 0.0;
    }
    state_.lateReplyUntil = -1.0;
    for (int i = reads; i < kMaxFlushReads && state_.open; ++i) {
        if (!ReadReport()) break;
        const int t = state_.rxReport[1];
        if (type != DATALOG && (t == DATALOG || t == DATALOG + 1)) {
            // a data-log report: keep it for the data-logging reader
            const std::size_t c = kChannelDataLog;
            if (state_.ringCount[c] < kRingBufferSize) {
                const int at = (state_.ringHead[c] + state_.ringCount[c]) % kRingBufferSize;
                std::copy(state_.rxReport.begin(), state_.rxReport.end(), state_.ringBuffer[c].begin() + at);
                state_.ringCount[c] += kHidReportSize;
            }
        }
    }
    state_.readTimeout = saved;
    EndReceive();
    const auto c = static_cast<std::size_t>(ChannelOfType(type));
    state_.ringCount[c] = 0;
    state_.ringHead[c] = 0;
    ClearRx();
}

void DeviceLink::DrainReplies() {
    const auto end = clock_.NowMs() + static_cast<std::int64_t>(state_.readTimeout * 1000.0 + 0.5);
    FlushChannel(DATA);
    for (auto now = clock_.NowMs(); now < end && state_.open; now = clock_.NowMs()) {
        clock_.SleepMs(std::min<std::int64_t>(kDrainStepMs, end - now));
        FlushChannel(DATA);
    }
}

} // namespace kv
