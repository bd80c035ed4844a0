#include "sim/simdev/uhid_bridge.h"

#include <linux/uhid.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kv {

namespace {

constexpr std::uint16_t kBusUsb = 0x03; // BUS_USB

// Input reports moved in one Service call at most when no interval is set, so that the kernel's
// output events are not starved by a long burst.
constexpr int kMaxInputsPerService = 64;
// A loop that was held up may make up for this many missed frames at most: the host controller
// would have polled the endpoint in each of them.
constexpr std::int64_t kMaxMissedFramesMs = 8;
// How often the device model's own presence is checked while nobody reads it.
constexpr std::int64_t kPresenceCheckMs = 20;

uhid_event ZeroEvent(std::uint32_t type) {
    uhid_event ev;
    std::memset(&ev, 0, sizeof ev);
    ev.type = type;
    return ev;
}

} // namespace

std::vector<std::uint8_t> KestrovaneReportDescriptor() {
    return {
        0x06, 0x00, 0xFF, // Usage Page (vendor-defined 0xFF00)
        0x09, 0x01,       // Usage (1)
        0xA1, 0x01,       // Collection (Application)
        0x15, 0x00,       //   Logical Minimum (0)
        0x26, 0xFF, 0x00, //   Logical Maximum (255)
        0x75, 0x08,       //   Report Size (8 bits)
        0x95, 0x20,       //   Report Count (32)
        0x09, 0x01,       //   Usage (1)
        0x81, 0x02,       //   Input (Data, Variable, Absolute): 32 bytes device -> host
        0x95, 0x20,       //   Report Count (32)
        0x09, 0x01,       //   Usage (1)
        0x91, 0x02,       //   Output (Data, Variable, Absolute): 32 bytes host -> device
        0xC0,             // End Collection
    };
}

Parsed<HidReport> OutputReportFromUhid(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0) return ParseError{"empty output report"};
    if (data[0] != 0) return ParseError{"output report " + std::to_string(data[0]) + " is not this device's"};
    HidReport report{};
    const std::size_t n = std::min<std::size_t>(size, kHidReportSize);
    std::copy(data, data + n, report.begin());
    return report;
}

UhidBridge::UhidBridge(int fd, HidBackend& backend, Clock& clock, UhidBridgeOptions options, UhidPlugHooks hooks)
    : fd_(fd), backend_(backend), clock_(clock), options_(std::move(options)), hooks_(std::move(hooks)) {}

bool UhidBridge::WriteEvent(const void* event, std::size_t size) {
    for (;;) {
        const ssize_t n = ::write(fd_, event, size);
        if (n == static_cast<ssize_t>(size)) return true;
        if (n < 0 && errno == EINTR) continue;
        lastError_ = n < 0 ? std::string("uhid write failed: ") + std::strerror(errno) : "uhid write was cut short";
        return false;
    }
}

std::string UhidBridge::Create() {
    if (created_) return {};
    uhid_event ev = ZeroEvent(UHID_CREATE2);
    const std::vector<std::uint8_t> rd = KestrovaneReportDescriptor();
    const std::size_t nameLen = std::min(options_.name.size(), sizeof ev.u.create2.name - 1);
    std::memcpy(ev.u.create2.name, options_.name.data(), nameLen);
    std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
    ev.u.create2.rd_size = static_cast<std::uint16_t>(rd.size());
    ev.u.create2.bus = kBusUsb;
    ev.u.create2.vendor = kUhidVendorId;
    ev.u.create2.product = kUhidProductId;
    ev.u.create2.version = 0x0100;
    if (!WriteEvent(&ev, sizeof ev)) return lastError_;
    created_ = true;
    started_ = false;
    openCount_ = 0;
    nextInputMs_ = 0;
    if (onEvent) onEvent(UhidBridgeEvent::Created);
    return {};
}

void UhidBridge::Destroy() {
    if (!created_) return;
    const uhid_event ev = ZeroEvent(UHID_DESTROY);
    WriteEvent(&ev, sizeof ev);
    created_ = false;
    started_ = false;
    openCount_ = 0;
    if (onEvent) onEvent(UhidBridgeEvent::Destroyed);
}

int UhidBridge::PollTimeoutMs() {
    if (created_ && openCount_ > 0) return 1; // the device model produces reports on its own time
    if (!created_ && replugAtMs_ >= 0) {
        const std::int64_t left = replugAtMs_ - clock_.NowMs();
        return static_cast<int>(std::clamp<std::int64_t>(left, 0, 10));
    }
    return 10;
}

void UhidBridge::Unplug() {
    if (!created_) return;
    Destroy();
    if (hooks_.unplugged) hooks_.unplugged();
}

std::string UhidBridge::Replug() {
    replugAtMs_ = -1;
    modelAway_ = false;
    if (created_) return {};
    if (hooks_.replugged) hooks_.replugged();
    return Create();
}

bool UhidBridge::CountReport() {
    ++reportCount_;
    if (options_.unplugAfterReports < 0 || unplugFired_ || reportCount_ < options_.unplugAfterReports) return false;
    unplugFired_ = true;
    GoAway();
    return true;
}

void UhidBridge::GoAway() {
    Unplug();
    if (options_.replugAfterMs >= 0) replugAtMs_ = clock_.NowMs() + options_.replugAfterMs;
}

bool UhidBridge::ReadKernelEvent() {
    uhid_event ev = ZeroEvent(0);
    const ssize_t n = ::read(fd_, &ev, sizeof ev);
    if (n < 0) {
        if (errno == EINTR || errno == EAGAIN) return true;
        lastError_ = std::string("uhid read failed: ") + std::strerror(errno);
        return false;
    }
    if (n == 0) {
        lastError_ = "uhid closed";
        return false;
    }
    if (static_cast<std::size_t>(n) < sizeof ev.type) return true; // too short to name an event
    switch (ev.type) {
    case UHID_START: started_ = true; break;
    case UHID_STOP: started_ = false; break;
    case UHID_OPEN:
        if (openCount_++ == 0) nextInputMs_ = clock_.NowMs(); // polling starts now
        break;
    case UHID_CLOSE:
        if (openCount_ > 0) --openCount_;
        break;
    case UHID_OUTPUT: {
        if (ev.u.output.rtype != UHID_OUTPUT_REPORT) break;
        const std::size_t size = std::min<std::size_t>(ev.u.output.size, sizeof ev.u.output.data);
        const Parsed<HidReport> report = OutputReportFromUhid(ev.u.output.data, size);
        if (!report) break;
        ++outputReports_;
        if (onOutput) onOutput(*report);
        backend_.Write(*report, 0); // a lost write is the device's business: it simply never answers
        CountReport();
        break;
    }
    case UHID_GET_REPORT: {
        // No feature reports: refuse at once so that the kernel does not wait for its time-out.
        uhid_event reply = ZeroEvent(UHID_GET_REPORT_REPLY);
        reply.u.get_report_reply.id = ev.u.get_report.id;
        reply.u.get_report_reply.err = EIO;
        if (!WriteEvent(&reply, sizeof reply)) return false;
        break;
    }
    case UHID_SET_REPORT: {
        uhid_event reply = ZeroEvent(UHID_SET_REPORT_REPLY);
        reply.u.set_report_reply.id = ev.u.set_report.id;
        reply.u.set_report_reply.err = EIO;
        if (!WriteEvent(&reply, sizeof reply)) return false;
        break;
    }
    default: break;
    }
    return true;
}

bool UhidBridge::PumpInput() {
    for (int moved = 0; moved < kMaxInputsPerService; ++moved) {
        if (!created_ || openCount_ == 0) return true;
        const std::int64_t now = clock_.NowMs();
        if (now < nextInputMs_) return true;
        HidReport report{};
        const HidReadResult r = backend_.Read(report, 0);
        if (r == HidReadResult::Timeout) { // the frames until now went by empty
            nextInputMs_ = std::max(nextInputMs_, now);
            return true;
        }
        if (r == HidReadResult::Error) { // the device model itself went away
            Destroy();
            modelAway_ = true;
            if (options_.replugAfterMs >= 0) replugAtMs_ = clock_.NowMs() + options_.replugAfterMs;
            return true;
        }
        // 32 bytes, report ID 0 left off: the device has no numbered reports.
        uhid_event ev = ZeroEvent(UHID_INPUT2);
        ev.u.input2.size = kUhidPayloadSize;
        std::memcpy(ev.u.input2.data, report.data() + 1, kUhidPayloadSize);
        if (!WriteEvent(&ev, sizeof ev)) return false;
        ++inputReports_;
        nextInputMs_ = std::max(nextInputMs_, now - kMaxMissedFramesMs) + options_.inputIntervalMs;
        if (CountReport()) return true;
    }
    return true;
}

bool UhidBridge::Service(bool readable) {
    if (readable && !ReadKernelEvent()) return false;
    const std::int64_t now = clock_.NowMs();
    // The model's own presence, looked at now and then (it is not free to ask).
    const bool looked = hooks_.present && now - lastPresenceCheckMs_ >= kPresenceCheckMs;
    const bool present = looked ? hooks_.present() : true;
    if (looked) lastPresenceCheckMs_ = now;
    if (created_ && !present) { // dropped off the bus by itself
        Destroy();
        modelAway_ = true;
    }
    const bool replugDue = replugAtMs_ >= 0 && now >= replugAtMs_;
    const bool modelBack = modelAway_ && looked && present;
    if (!created_ && (replugDue || modelBack) && !Replug().empty()) return false;
    return PumpInput();
}

} // namespace kv
