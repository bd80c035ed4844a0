// The device's replies are untrusted: any stream of input reports, in any order and with any
// type bytes, must leave the link's state sound and give each command its stated result size.
#include "device/comms.h"
#include "device/hid_backend.h"
#include "device/protocol.h"
#include "platform/clock.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace kv {

namespace {

class StepClock final : public Clock {
public:
    std::int64_t NowMs() override { return now; }
    void SleepMs(std::int64_t ms) override {
        if (ms > 0) now += ms;
    }
    std::int64_t now = 0;
};

// Plays the fuzz input as input reports: one control byte per read (low bits: deliver,
// time out, or report removal), then 33 bytes of report.
class ReplayBackend final : public HidBackend {
public:
    ReplayBackend(const std::uint8_t* data, std::size_t size, StepClock& clock)
        : data_(data), size_(size), clock_(clock) {}
    std::vector<HidDeviceInfo> Enumerate() override { return {{"fuzz", kDeviceVendorId, kDeviceProductId}}; }
    bool Open(const std::string&) override { return open_ = true; }
    bool IsOpen() const override { return open_; }
    bool SetInputQueueSize(int) override { return true; }
    void FlushInput() override {}
    HidReadResult Read(HidReport& report, int timeoutMs) override {
        if (pos_ >= size_) {
            clock_.SleepMs(timeoutMs);
            return HidReadResult::Timeout;
        }
        const std::uint8_t control = data_[pos_++];
        if ((control & 0x0F) == 0x0F) return HidReadResult::Error;
        if ((control & 0x07) == 0x07 || size_ - pos_ < static_cast<std::size_t>(kHidReportSize)) {
            clock_.SleepMs(timeoutMs);
            return HidReadResult::Timeout;
        }
        std::memcpy(report.data(), data_ + pos_, kHidReportSize);
        pos_ += kHidReportSize;
        clock_.SleepMs(control >> 4);
        return HidReadResult::Ok;
    }
    HidWriteResult Write(const HidReport&, int) override { return open_ ? HidWriteResult::Ok : HidWriteResult::Gone; }
    void Cancel() override {}
    void Close() override { open_ = false; }
    bool Exhausted() const { return pos_ >= size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    bool open_ = false;
    StepClock& clock_;
};

void Check(bool ok) {
    if (!ok) std::abort();
}

void CheckLink(const LinkState& link) {
    for (int ch = 0; ch < 2; ++ch) {
        const auto c = static_cast<std::size_t>(ch);
        Check(link.ringCount[c] >= 0 && link.ringCount[c] <= kRingBufferSize &&
              link.ringCount[c] % kHidReportSize == 0);
        Check(link.ringHead[c] >= 0 && link.ringHead[c] < kRingBufferSize && link.ringHead[c] % kHidReportSize == 0);
    }
    Check(link.rxPosition >= 0 && link.rxPosition <= kHidReportSize);
}

} // namespace

} // namespace kv

using namespace kv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StepClock clock;
    ReplayBackend backend(data, size, clock);
    Comms comms(backend, clock);
    comms.Comms_Open();
    std::uint8_t step = 0;
    for (int i = 0; i < 64 && !backend.Exhausted(); ++i) {
        if (!comms.Comms_IsOpen()) {
            clock.SleepMs(1500);
            comms.Comms_Open();
        }
        switch (step++ % 9) {
        case 0: comms.Ping(); break;
        case 1: {
            const auto b = comms.ReadEmulatorBlock(0x100, 256);
            Check(b.empty() || b.size() == 256);
            break;
        }
        case 2: {
            const auto b = comms.PemReadBlock(0x40);
            Check(b.empty() || b.size() == 64);
            break;
        }
        case 3: {
            const auto b = comms.EcuReadEprom(1, 0, 64);
            Check(b.empty() || b.size() == 64);
            break;
        }
        case 4: {
            comms.DataLog_Configure({0x30, 0xF710, 0x40}, {2, 1, 3});
            const auto r = comms.DataLog_ReadRecord();
            Check(r.empty() || r.size() == 6);
            break;
        }
        case 5: {
            const auto d = comms.DataLog_Download();
            Check(d.size() % 10 == 0 && d.size() < 2049 + 10);
            break;
        }
        case 6: {
            const int s = comms.PemDetectStatus();
            Check(s >= -1 && s <= 255);
            break;
        }
        case 7: {
            const std::int32_t v = comms.ReadEcuRam(2, 0x20, 3);
            Check(v >= 0 && v <= 0xFFFFFF);
            break;
        }
        case 8: {
            const std::string v = comms.GetFirmwareVersion();
            Check(v.size() <= 8);
            break;
        }
        }
        CheckLink(comms.Link().State());
    }
    return 0;
}
