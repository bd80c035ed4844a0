#include "device/hidapi_backend.h"

#include <cerrno>
#include <hidapi.h>

#include <algorithm>
#include <cstring>

namespace {

// A flush drains at most this many queued reports (the hidraw queue holds 64).
constexpr int kMaxFlushReports = 256;


class HidapiBackend final : public HidBackend {
public:
    HidapiBackend() { initialised_ = hid_init() == 0; }
    ~HidapiBackend() override {
        Close();
        if (initialised_) hid_exit();
    }
    HidapiBackend(const HidapiBackend&) = delete;
    HidapiBackend& operator=(const HidapiBackend&) = delete;

    std::vector<HidDeviceInfo> Enumerate() override {
        std::vector<HidDeviceInfo> out;
        if (!initialised_) return out;
        hid_device_info* list = hid_enumerate(0, 0);
        for (hid_device_info* d = list; d; d = d->next) {
            if (!d->path) continue;
            out.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id});
        }
        hid_free_enumeration(list);
        return out;
    }

    bool Open(const std::string& path) override {
        Close();
        if (!initialised_) return false;
        dev_ = hid_open_path(path.c_str());
        return dev_ != nullptr;
    }

    bool IsOpen() const override { return dev_ != nullptr; }

    // hidraw keeps a fixed queue of 64 reports; there is nothing to set.
    bool SetInputQueueSize(int) override { return false; }

    void FlushInput() override {
        if (!dev_) return;
        unsigned char buf[64];
        for (int i = 0; i < kMaxFlushReports; ++i) {
            if (hid_read_timeout(dev_, buf, sizeof buf, 0) <= 0) break;
        }
    }

    HidReadResult Read(HidReport& report, int timeoutMs) override {
        if (!dev_) return HidReadResult::Error;
        unsigned char buf[64];
        const int n = hid_read_timeout(dev_, buf, sizeof buf, std::max(0, timeoutMs));
        if (n < 0) return HidReadResult::Error;
        if (n == 0) return HidReadResult::Timeout;
        report.fill(0);
        if (n >= kHidReportSize) {
            // the report ID came with the data
            std::memcpy(report.data(), buf, kHidReportSize);
        } else {
            // hidraw: the data bytes only; the report ID is 0
            std::memcpy(report.data() + 1, buf, static_cast<std::size_t>(n));
        }
        report[0] = 0;
        return HidReadResult::Ok;
    }

    bool Write(const HidReport& report, int) override {
        if (!dev_) return false;
        // report[0] is the report ID 0; hidapi sends the 32 bytes after it
        errno = 0;
        const int n = hid_write(dev_, report.data(), report.size());
        if (n < 0 && (errno == ENODEV || errno == ESHUTDOWN || errno == EIO || errno == EBADF)) {
            Close(); // the device is gone: the handle is invalid
            return false;
        }
        return n == static_cast<int>(report.size());
    }

    // Transfers are never left pending: reads return at their time-out and writes complete.
    void Cancel() override {}

    void Close() override {
        if (dev_) hid_close(dev_);
        dev_ = nullptr;
    }

private:
    bool initialised_ = false;
    hid_device* dev_ = nullptr;
};

} // namespace

std::unique_ptr<HidBackend> MakeHidapiBackend() { return std::make_unique<HidapiBackend>(); }
