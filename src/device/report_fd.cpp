#include "device/report_fd.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace kv {

namespace {

constexpr int kMaxFlushReports = 256;

// The descriptor no longer reaches a device (unplugged, or the other end closed).
bool DeviceGone(int error) {
    return error == ENODEV || error == EIO || error == EBADF || error == ESHUTDOWN || error == EPIPE ||
           error == ECONNRESET;
}

} // namespace

struct ReportFd::Shared {
    explicit Shared(int f) : fd(f) {}
    ~Shared() {
        if (fd >= 0) ::close(fd);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    std::mutex mutex;
    std::condition_variable changed;
    int fd;
    bool closing = false; // the owner let go: the writer closes the descriptor and ends
    bool busy = false;    // a report is being written
    bool hasJob = false;  // `job` waits for the writer
    HidReport job{};
    HidWriteResult result = HidWriteResult::Ok;

    // The writer thread: one report at a time, the syscall outside the lock.
    static void Run(std::shared_ptr<Shared> self) {
        std::unique_lock<std::mutex> lock(self->mutex);
        for (;;) {
            self->changed.wait(lock, [&] { return self->hasJob || self->closing; });
            if (!self->hasJob) break;
            const HidReport report = self->job;
            const int fd = self->fd;
            self->hasJob = false;
            lock.unlock();
            HidWriteResult r = HidWriteResult::Ok;
            ssize_t n;
            do {
                n = ::write(fd, report.data(), report.size());
            } while (n < 0 && errno == EINTR);
            if (n < 0)
                r = DeviceGone(errno) ? HidWriteResult::Gone : HidWriteResult::Failed;
            else if (n != static_cast<ssize_t>(report.size()))
                r = HidWriteResult::Failed;
            lock.lock();
            self->result = r;
            self->busy = false;
            self->changed.notify_all();
        }
        if (self->fd >= 0) ::close(self->fd);
        self->fd = -1;
    }
};

ReportFd::ReportFd(int fd) : shared_(std::make_shared<Shared>(fd)) { std::thread(&Shared::Run, shared_).detach(); }

ReportFd::~ReportFd() { Close(); }

bool ReportFd::IsOpen() const {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->fd >= 0 && !shared_->closing;
}

void ReportFd::Close() {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->closing = true;
    shared_->changed.notify_all();
}

HidWriteResult ReportFd::Write(const HidReport& report, int timeoutMs) {
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    if (s.closing || s.fd < 0) return HidWriteResult::Gone;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    // A report the device has not taken yet holds up this one.
    if (!s.changed.wait_until(lock, deadline, [&] { return !s.busy; })) return HidWriteResult::Timeout;
    s.job = report;
    s.hasJob = true;
    s.busy = true;
    s.changed.notify_all();
    if (!s.changed.wait_until(lock, deadline, [&] { return !s.busy; })) return HidWriteResult::Timeout;
    if (s.result == HidWriteResult::Gone) {
        s.closing = true;
        s.changed.notify_all();
    }
    return s.result;
}

HidReadResult ReportFd::Read(HidReport& report, int timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (shared_->closing || shared_->fd < 0) return HidReadResult::Error;
        fd = shared_->fd;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    pollfd p{fd, POLLIN, 0};
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int r = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
        if (r == 0) return HidReadResult::Timeout;
        if (r < 0) {
            if (errno == EINTR) continue;
            return HidReadResult::Failed;
        }
        break;
    }
    if ((p.revents & POLLIN) == 0) return HidReadResult::Error; // hung up or invalid
    unsigned char buf[64];
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return HidReadResult::Error; // the other end is gone
    if (n < 0) {
        if (errno == EAGAIN || errno == EINTR) return HidReadResult::Timeout;
        return DeviceGone(errno) ? HidReadResult::Error : HidReadResult::Failed;
    }
    report.fill(0);
    if (n >= kHidReportSize) {
        std::memcpy(report.data(), buf, kHidReportSize); // the report ID came with the data
    } else {
        std::memcpy(report.data() + 1, buf, static_cast<std::size_t>(n)); // data bytes only
    }
    report[0] = 0;
    return HidReadResult::Ok;
}

void ReportFd::FlushInput() {
    HidReport r{};
    for (int i = 0; i < kMaxFlushReports; ++i)
        if (Read(r, 0) != HidReadResult::Ok) break;
}

} // namespace kv
