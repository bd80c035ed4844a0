#pragma once
// A scripted HID layer for the device link tests: a list of present devices, a queue of input
// reports, a record of every output report, and hooks that answer requests or stream reports.
// Waits advance the FakeClock, so time-outs cost test milliseconds only.
#include "device/comms.h"
#include "device/hid_backend.h"
#include "fakes.h"

#include <deque>
#include <functional>
#include <vector>

namespace kv {

using Bytes = std::vector<std::uint8_t>;

// The input reports of one reply: a first report of `type`, then continuations of type + 1,
// 31 reply bytes each, zero-padded.
inline std::vector<HidReport> FrameReply(std::uint8_t type, const Bytes& bytes) {
    std::vector<HidReport> out;
    std::size_t at = 0;
    do {
        HidReport r{};
        r[1] = out.empty() ? type : static_cast<std::uint8_t>(type + 1);
        for (int i = 2; i < kHidReportSize && at < bytes.size(); ++i) r[static_cast<std::size_t>(i)] = bytes[at++];
        out.push_back(r);
    } while (at < bytes.size());
    return out;
}

inline HidReport MakeReport(std::uint8_t type, std::uint8_t tag) {
    HidReport r{};
    r[1] = type;
    r[2] = tag;
    return r;
}

class FakeHid final : public HidBackend {
public:
    explicit FakeHid(FakeClock& clock) : clock_(clock) {
        devices.push_back({"/dev/hidraw-other", 0x1234, 0x0001});
        devices.push_back({"/dev/hidraw-kv", kDeviceVendorId, kDeviceProductId});
    }

    std::vector<HidDeviceInfo> Enumerate() override {
        ++enumerations;
        return plugged ? devices : std::vector<HidDeviceInfo>{};
    }
    bool Open(const std::string& path) override {
        openedPaths.push_back(path);
        open_ = plugged;
        if (open_ && onOpen) onOpen();
        return open_;
    }
    bool IsOpen() const override { return open_; }
    bool SetInputQueueSize(int reports) override {
        queueSize = reports;
        return true;
    }
    void FlushInput() override { input.clear(); }
    HidReadResult Read(HidReport& report, int timeoutMs) override {
        ++reads;
        if (!open_ || !plugged) return HidReadResult::Error;
        if (readFailures > 0) {
            --readFailures;
            return HidReadResult::Failed;
        }
        if (input.empty() && beforeRead) beforeRead(timeoutMs);
        if (!input.empty()) {
            report = input.front();
            input.pop_front();
            return HidReadResult::Ok;
        }
        clock_.SleepMs(timeoutMs);
        return HidReadResult::Timeout;
    }
    HidWriteResult Write(const HidReport& report, int) override {
        ++writeAttempts;
        if (!plugged) open_ = false; // the handle went invalid with the device
        if (!open_) return HidWriteResult::Gone;
        if (writeResults.size() > 0) {
            const HidWriteResult r = writeResults.front();
            writeResults.pop_front();
            if (r != HidWriteResult::Ok) return r;
        }
        written.push_back(report);
        if (report[1] != 0xFF) ++requests;
        if (onWrite) onWrite(report);
        return HidWriteResult::Ok;
    }
    void Cancel() override { ++cancels; }
    void Close() override {
        open_ = false;
        ++closes;
    }

    void Queue(const std::vector<HidReport>& reports) { input.insert(input.end(), reports.begin(), reports.end()); }
    // Answers each request (its first report) with the next scripted reply; no reply once the
    // script is used up.
    void Script(std::deque<Bytes> replies) {
        script = std::move(replies);
        onWrite = [this](const HidReport& r) {
            if (r[1] == 0xFF || script.empty()) return;
            Queue(FrameReply(DATA, script.front()));
            script.pop_front();
        };
    }
    // The request bytes of the reports written since `from` (continuation markers removed,
    // trailing padding kept).
    Bytes WrittenBytes(std::size_t from = 0) const {
        Bytes out;
        for (std::size_t i = from; i < written.size(); ++i) {
            const auto& r = written[i];
            const std::size_t start = r[1] == 0xFF ? 2 : 1;
            out.insert(out.end(), r.begin() + static_cast<std::ptrdiff_t>(start), r.end());
        }
        return out;
    }

    std::vector<HidDeviceInfo> devices;
    bool plugged = true;
    std::deque<HidReport> input;
    std::vector<HidReport> written;
    std::deque<Bytes> script;
    std::function<void(const HidReport&)> onWrite;
    std::function<void()> onOpen;
    // Called when a read finds the queue empty, before it waits (lets a test stream reports).
    std::function<void(int timeoutMs)> beforeRead;
    std::vector<std::string> openedPaths;
    // Results of the next writes (a report that is not taken is not recorded); then Ok.
    std::deque<HidWriteResult> writeResults;
    int readFailures = 0; // the next reads fail with the handle still valid
    int enumerations = 0, reads = 0, cancels = 0, closes = 0, requests = 0, queueSize = 0, writeAttempts = 0;

private:
    FakeClock& clock_;
    bool open_ = false;
};

} // namespace kv
