#include "device/hidapi_backend.h"

#include <cerrno>
#include <hidapi.h>

#ifdef __linux__
#include "device/report_fd.h"

#include <fcntl.h>
#endif

#include <algorithm>
#include <cstring>

namespace kv {

namespace {

// A flush drains at most this many queued reports (the hidraw queue holds 64).
constexpr int kMaxFlushReports = 256;

std::vector<HidDeviceInfo> EnumerateWithHidapi() {
    std::vector<HidDeviceInfo> out;
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* d = list; d; d = d->next) {
        if (!d->path) continue;
        out.push_back(HidDeviceInfo{d->path, d->vendor_id, d->product_id});
    }
    hid_free_enumeration(list);
    return out;
}

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
        return initialised_ ? EnumerateWithHidapi() : std::vector<HidDeviceInfo>{};
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

    HidWriteResult Write(const HidReport& report, int) override {
        if (!dev_) return HidWriteResult::Gone;
        // report[0] is the report ID 0; hidapi sends the 32 bytes after it
        errno = 0;
        const int n = hid_write(dev_, report.data(), report.size());
        if (n < 0 && (errno == ENODEV || errno == ESHUTDOWN || errno == EIO || errno == EBADF)) {
            Close(); // the device is gone: the handle is invalid
            return HidWriteResult::Gone;
        }
        return n == static_cast<int>(report.size()) ? HidWriteResult::Ok : HidWriteResult::Failed;
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

#ifdef __linux__
// hidapi lists the hidraw nodes; the I/O goes to the node directly, so that every write is
// bounded (hid_write has no time-out and the kernel may wait 5 s per report).
class HidrawBackend final : public HidBackend {
public:
    HidrawBackend() { initialised_ = hid_init() == 0; }
    ~HidrawBackend() override {
        Close();
        if (initialised_) hid_exit();
    }
    HidrawBackend(const HidrawBackend&) = delete;
    HidrawBackend& operator=(const HidrawBackend&) = delete;

    std::vector<HidDeviceInfo> Enumerate() override {
        return initialised_ ? EnumerateWithHidapi() : std::vector<HidDeviceInfo>{};
    }

    bool Open(const std::string& path) override {
        Close();
        const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0) return false;
        io_ = std::make_unique<ReportFd>(fd);
        return true;
    }
    bool IsOpen() const override { return io_ && io_->IsOpen(); }
    bool SetInputQueueSize(int) override { return false; } // hidraw keeps 64 reports
    void FlushInput() override {
        if (io_) io_->FlushInput();
    }
    HidReadResult Read(HidReport& report, int timeoutMs) override {
        return io_ ? io_->Read(report, timeoutMs) : HidReadResult::Error;
    }
    HidWriteResult Write(const HidReport& report, int timeoutMs) override {
        return io_ ? io_->Write(report, timeoutMs) : HidWriteResult::Gone;
    }
    // Reads end at their time-out; a write left running finishes on the writer thread.
    void Cancel() override {}
    void Close() override { io_.reset(); }

private:
    bool initialised_ = false;
    std::unique_ptr<ReportFd> io_;
};
#endif

} // namespace

std::unique_ptr<HidBackend> MakeHidapiBackend() {
#ifdef __linux__
    return std::make_unique<HidrawBackend>();
#else
    return std::make_unique<HidapiBackend>();
#endif
}

} // namespace kv
