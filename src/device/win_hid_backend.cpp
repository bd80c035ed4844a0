#include "device/win_hid_backend.h"

#include <algorithm>
#include <utility>

namespace kv {

namespace {

bool DeviceGone(std::uint32_t error) { return error == kWinErrorInvalidHandle || error == kWinErrorDeviceNotConnected; }

class WinHidBackend final : public HidBackend {
public:
    explicit WinHidBackend(std::unique_ptr<WinHidCalls> calls) : os_(std::move(calls)) {}
    ~WinHidBackend() override { Close(); }
    WinHidBackend(const WinHidBackend&) = delete;
    WinHidBackend& operator=(const WinHidBackend&) = delete;

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> found;
        if (!os_->OpenInterfaceList()) return found;
        for (std::uint32_t index = 0;; ++index) {
            const std::uint32_t error = os_->EnumInterface(index);
            if (error == kWinErrorNoMoreItems) break;
            if (error != 0) continue;
            const std::uint32_t size = os_->InterfaceDetailSize(index);
            if (size < kMinInterfaceDetailSize || size > kMaxInterfaceDetailSize) continue;
            const std::optional<std::string> path = os_->InterfaceDetailPath(index, size);
            if (!path) continue;
            const WinHandle device = os_->OpenPath(*path);
            if (device == kNoWinHandle) continue;
            HidDeviceInfo info{*path};
            const bool known = os_->GetAttributes(device, info.vendorId, info.productId);
            os_->CloseDevice(device);
            if (known) found.push_back(std::move(info));
        }
        os_->CloseInterfaceList();
        return found;
    }

    bool Open(const std::string& path) override {
        Close();
        device_ = os_->OpenPath(path);
        return IsOpen();
    }

    bool IsOpen() const override { return device_ != kNoWinHandle; }

    // A queue that the driver reports smaller than `reports` (but not empty) is raised to it.
    bool SetInputQueueSize(int reports) override {
        if (!IsOpen() || reports <= 0) return false;
        std::uint32_t count = 0;
        const auto wanted = static_cast<std::uint32_t>(reports);
        if (!os_->GetNumInputBuffers(device_, count) || count == 0 || count >= wanted) return false;
        return os_->SetNumInputBuffers(device_, wanted);
    }

    void FlushInput() override {
        if (IsOpen()) (void)os_->FlushQueue(device_);
    }

    HidReadResult Read(HidReport& report, int timeoutMs) override {
        report.fill(0);
        if (!IsOpen()) return HidReadResult::Error;
        input_.fill(0);
        const std::uint32_t error = os_->StartRead(device_, input_);
        if (DeviceGone(error)) {
            Close();
            return HidReadResult::Error;
        }
        if (error != 0) return HidReadResult::Failed;
        switch (os_->WaitTransfer(static_cast<std::uint32_t>(std::max(0, timeoutMs)))) {
        case WinWait::Signalled:
            report = input_;
            report[0] = 0;
            return HidReadResult::Ok;
        case WinWait::TimedOut: os_->CancelTransfer(device_); return HidReadResult::Timeout;
        case WinWait::Failed: break;
        }
        os_->CancelTransfer(device_);
        return HidReadResult::Failed;
    }

    HidWriteResult Write(const HidReport& report, int timeoutMs) override {
        if (!IsOpen()) return HidWriteResult::Gone;
        output_ = report;
        output_[0] = 0; // the report ID
        const std::uint32_t error = os_->StartWrite(device_, output_);
        if (DeviceGone(error)) {
            Close();
            return HidWriteResult::Gone;
        }
        if (error != 0) return HidWriteResult::Failed;
        switch (os_->WaitTransfer(static_cast<std::uint32_t>(std::max(0, timeoutMs)))) {
        case WinWait::Signalled: return HidWriteResult::Ok;
        case WinWait::TimedOut: os_->CancelTransfer(device_); return HidWriteResult::Timeout;
        case WinWait::Failed: break;
        }
        os_->CancelTransfer(device_);
        return HidWriteResult::Failed;
    }

    // A transfer that ran out of time was cancelled where it timed out: nothing is left pending.
    void Cancel() override {}

    void Close() override {
        if (IsOpen()) os_->CloseDevice(device_);
        device_ = kNoWinHandle;
    }

private:
    std::unique_ptr<WinHidCalls> os_;
    WinHandle device_ = kNoWinHandle;
    // The reports in transfer: they outlive every wait.
    HidReport input_{};
    HidReport output_{};
};

} // namespace

std::unique_ptr<HidBackend> MakeWinHidBackend(std::unique_ptr<WinHidCalls> calls) {
    return std::make_unique<WinHidBackend>(std::move(calls));
}

} // namespace kv
