#pragma once
// Bounded report I/O on a HID device node (Linux hidraw) or any file descriptor that moves whole
// reports. Reads wait with poll. A write to a device that stops taking output reports can block
// in the kernel for seconds (the USB HID driver waits up to 5 s per report, whatever the file
// flags say), so writes run on one writer thread and the caller waits for it at most the write
// time-out. A write that is still running then counts as timed out; the next writes time out at
// once until it returns, and Close never waits for it: the descriptor is closed by whichever side
// lets go of it last.
#include "device/hid_backend.h"

#include <memory>

namespace kv {

class ReportFd {
public:
    // Takes ownership of `fd` (open for reading and writing).
    explicit ReportFd(int fd);
    ~ReportFd(); // closes (see Close)
    ReportFd(const ReportFd&) = delete;
    ReportFd& operator=(const ReportFd&) = delete;

    // Waits up to timeoutMs (0 = poll) for one report; stored with report ID 0 first whatever
    // the node delivered (hidraw gives the 32 data bytes of a device without numbered reports).
    HidReadResult Read(HidReport& report, int timeoutMs);
    // Writes the 33-byte report (report ID 0 first) within timeoutMs.
    HidWriteResult Write(const HidReport& report, int timeoutMs);
    // Drops the reports queued so far (at most 256).
    void FlushInput();
    // Lets go of the descriptor at once; a write still running closes it when it returns.
    void Close();
    bool IsOpen() const;

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};

} // namespace kv
