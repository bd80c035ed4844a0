// kv-vm-probe: looks at the real HID stack (hidapi over hidraw) with the device in place, for
// the end-to-end run in the virtual machine. Each sub-command prints "probe: ..." lines that say
// what the stack did, and exits 0 when what it saw is what the program relies on, 1 otherwise,
// 2 on a usage error.
//
//   sizes            one request: bytes hid_write takes, bytes hid_read hands back, the answer
//   timeout          what a read of a silent device returns, and when
//   burst N          data-log records streamed through the device link until more than N
//                    input reports came; every sample period must be there
//   overflow MS      the device streams for MS milliseconds while nobody reads: what is left
//   removal          reads until the device vanishes (the caller pulls it): what hidapi returns
//   linkloss         pings through the device link until the device vanishes, then waits as the
//                    quick-ping timer does until the caller puts it back
//   stall            pings through the device link while the device stops taking output reports
//                    (the caller starts it so): every call returns within its bound and the first
//                    unanswered quick ping says so within a second
#include "device/comms.h"
#include "device/device_trace.h"
#include "device/hidapi_backend.h"
#include "device/protocol.h"
#include "device/tracing_hid_backend.h"
#include "platform/clock.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace kv {

namespace {

using Ms = std::chrono::milliseconds;

long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(std::chrono::duration_cast<Ms>(std::chrono::steady_clock::now() - since).count());
}

std::string ErrorText(hid_device* dev) {
    const wchar_t* w = hid_error(dev);
    if (!w) return "(no error text)";
    std::string s;
    for (; *w; ++w) s += (*w < 128) ? static_cast<char>(*w) : '?';
    return s;
}

// Opens the first interface of the device; null when there is none.
hid_device* OpenDevice(std::string* pathOut = nullptr) {
    hid_device_info* list = hid_enumerate(kDeviceVendorId, kDeviceProductId);
    hid_device* dev = nullptr;
    for (hid_device_info* d = list; d && !dev; d = d->next) {
        dev = hid_open_path(d->path);
        if (dev && pathOut) *pathOut = d->path;
    }
    hid_free_enumeration(list);
    return dev;
}

// One request as the program frames it: report ID 0, then the request bytes, zero-filled.
std::vector<unsigned char> Report(const Request& request) {
    std::vector<unsigned char> r(kHidReportSize, 0);
    std::size_t i = 1;
    for (unsigned char b : request) r[i++] = b;
    return r;
}

void DrainRaw(hid_device* dev) {
    unsigned char buf[64];
    while (hid_read_timeout(dev, buf, sizeof buf, 20) > 0) {}
}

int Sizes() {
    hid_device* dev = OpenDevice();
    if (!dev) {
        std::printf("probe: no device\n");
        return 1;
    }
    DrainRaw(dev);
    const std::vector<unsigned char> ping = Report(EncodePing());
    const int w = hid_write(dev, ping.data(), ping.size());
    unsigned char buf[64];
    std::memset(buf, 0xEE, sizeof buf);
    const int r = hid_read_timeout(dev, buf, sizeof buf, 500);
    std::printf("probe: hid_write of 33 bytes (report ID 0 + 32) returned %d\n", w);
    std::printf("probe: hid_read into a 64-byte buffer returned %d bytes: type 0x%02X, first data '%c'\n", r, buf[0],
                buf[1] >= 32 && buf[1] < 127 ? buf[1] : '?');
    // A 33-byte read buffer is enough: the device has no report IDs, so 32 bytes come.
    hid_write(dev, ping.data(), ping.size());
    unsigned char small[kHidReportSize];
    const int r2 = hid_read_timeout(dev, small, sizeof small, 500);
    std::printf("probe: hid_read into a 33-byte buffer returned %d bytes\n", r2);
    hid_close(dev);
    return (w == kHidReportSize && r == kHidReportSize - 1 && buf[0] == DATA && buf[1] == kAckPing &&
            r2 == kHidReportSize - 1)
               ? 0
               : 1;
}

int Timeout() {
    hid_device* dev = OpenDevice();
    if (!dev) {
        std::printf("probe: no device\n");
        return 1;
    }
    DrainRaw(dev);
    bool ok = true;
    unsigned char buf[64];
    for (int wait : {0, 1, 10, 200}) {
        const auto t0 = std::chrono::steady_clock::now();
        const int r = hid_read_timeout(dev, buf, sizeof buf, wait);
        const long took = ElapsedMs(t0);
        std::printf("probe: hid_read_timeout(%d ms) on a silent device returned %d after %ld ms\n", wait, r, took);
        ok = ok && r == 0 && took >= wait && took < wait + 200;
    }
    hid_close(dev);
    return ok ? 0 : 1;
}

// Data-log set-up shared by burst and overflow: `items` three-byte variables, period `periodMs`.
bool StartLogging(Comms& comms, int items, int periodMs) {
    std::vector<int> addresses, sizes;
    for (int i = 0; i < items; ++i) {
        addresses.push_back(0x40 + i);
        sizes.push_back(3);
    }
    return comms.Comms_Open() && comms.DataLog_Configure(addresses, sizes) && comms.DataLog_SetRate(periodMs) &&
           comms.DataLog_StartDeviceLogging();
}

// Stamps of whole records (record size + 4-byte trailer, stamp in the last 3 bytes).
std::vector<long> Stamps(const std::vector<std::uint8_t>& data, int recordSize) {
    std::vector<long> stamps;
    const std::size_t step = static_cast<std::size_t>(recordSize) + 4;
    for (std::size_t at = 0; at + step <= data.size(); at += step) {
        const std::size_t t = at + static_cast<std::size_t>(recordSize) + 1;
        stamps.push_back(static_cast<long>(data[t]) | (static_cast<long>(data[t + 1]) << 8) |
                         (static_cast<long>(data[t + 2]) << 16));
    }
    return stamps;
}

// "1-64, 447-510": the runs of consecutive stamps.
std::string Runs(const std::vector<long>& stamps) {
    std::string out;
    for (std::size_t i = 0; i < stamps.size();) {
        std::size_t j = i;
        while (j + 1 < stamps.size() && stamps[j + 1] == stamps[j] + 1) ++j;
        if (!out.empty()) out += ", ";
        out += std::to_string(stamps[i]);
        if (j > i) out += "-" + std::to_string(stamps[j]);
        i = j + 1;
    }
    return out;
}

// True when every stamp is above the one before (whole records, in order).
bool Increasing(const std::vector<long>& stamps) {
    for (std::size_t i = 1; i < stamps.size(); ++i)
        if (stamps[i] <= stamps[i - 1]) return false;
    return true;
}

long Gaps(const std::vector<long>& stamps) {
    long gaps = 0;
    for (std::size_t i = 1; i < stamps.size(); ++i) gaps += stamps[i] - stamps[i - 1] - 1;
    return gaps;
}

int Burst(long wantReports) {
    SteadyClock clock;
    std::unique_ptr<HidBackend> hid = MakeHidapiBackend();
    DeviceTrace trace(clock);
    TracingHidBackend traced(*hid, trace);
    const char* tracePath = std::getenv("KV_PROBE_TRACE");
    if (tracePath) trace.Enable(tracePath);
    Comms comms(tracePath ? static_cast<HidBackend&>(traced) : *hid, clock, &trace);
    constexpr int kItems = 10; // 30 data bytes + 4 = 34 bytes: two input reports per record
    constexpr int kPeriodMs = 5;
    if (!StartLogging(comms, kItems, kPeriodMs)) {
        std::printf("probe: data-log set-up failed%s\n", comms.Comms_IsOpen() ? "" : " (link closed)");
        comms.Comms_ShutDown();
        return 1;
    }
    const int recordSize = comms.DataLogRecordSize();
    const long reportsPerRecord = (recordSize + 4 + 30) / 31;
    std::vector<long> stamps;
    long downloads = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto lastKeepAlive = t0;
    while (static_cast<long>(stamps.size()) * reportsPerRecord <= wantReports && ElapsedMs(t0) < 60000) {
        if (ElapsedMs(lastKeepAlive) >= 200) {
            comms.DataLog_KeepAlive();
            lastKeepAlive = std::chrono::steady_clock::now();
        }
        const std::vector<std::uint8_t> got = comms.DataLog_Download();
        if (!comms.Comms_IsOpen()) {
            std::printf("probe: the link closed: the handle was reported invalid\n");
            break;
        }
        if (got.empty()) continue;
        ++downloads;
        const std::vector<long> s = Stamps(got, recordSize);
        stamps.insert(stamps.end(), s.begin(), s.end());
    }
    comms.DataLog_StopDeviceLogging();
    comms.Comms_ShutDown();
    const long reports = static_cast<long>(stamps.size()) * reportsPerRecord;
    const long gaps = Gaps(stamps);
    std::printf("probe: %zu records of %d bytes (%ld input reports) in %ld downloads, %ld ms, %ld sample periods "
                "missing; stamps %s\n",
                stamps.size(), recordSize + 4, reports, downloads, ElapsedMs(t0), gaps, Runs(stamps).c_str());
    // A lost sample period shows as a larger time step in the log; what must hold is that more
    // than the ring buffer's 64 reports came through and every record came whole and in order.
    return reports > wantReports && Increasing(stamps) && !stamps.empty() ? 0 : 1;
}

int Overflow(int quietMs) {
    SteadyClock clock;
    std::unique_ptr<HidBackend> hid = MakeHidapiBackend();
    Comms comms(*hid, clock);
    constexpr int kItems = 1; // 3 data bytes + 4: one input report per record
    constexpr int kPeriodMs = 2;
    if (!StartLogging(comms, kItems, kPeriodMs)) {
        std::printf("probe: data-log set-up failed\n");
        return 1;
    }
    const int recordSize = comms.DataLogRecordSize();
    std::this_thread::sleep_for(Ms(quietMs)); // nobody reads: the kernel queue fills
    // Read what the kernel kept, straight from the handle.
    std::vector<std::uint8_t> data;
    HidReport report{};
    long queued = 0;
    while (hid->Read(report, 0) == HidReadResult::Ok) {
        ++queued;
        if (report[1] == DATALOG) data.insert(data.end(), report.begin() + 2, report.begin() + 2 + recordSize + 4);
    }
    comms.DataLog_StopDeviceLogging();
    const std::vector<long> stamps = Stamps(data, recordSize);
    std::printf("probe: after %d ms without reading (%d ms per record) the handle held %ld reports; stamps %s\n",
                quietMs, kPeriodMs, queued, Runs(stamps).c_str());
    return queued > 0 ? 0 : 1;
}

int Removal() {
    std::string path;
    hid_device* dev = OpenDevice(&path);
    if (!dev) {
        std::printf("probe: no device\n");
        return 1;
    }
    std::printf("probe: waiting at %s\n", path.c_str());
    std::fflush(stdout);
    unsigned char buf[64];
    const auto t0 = std::chrono::steady_clock::now();
    int r = 0;
    while ((r = hid_read_timeout(dev, buf, sizeof buf, 100)) >= 0 && ElapsedMs(t0) < 30000) {}
    std::printf("probe: hid_read_timeout after removal returned %d (%s)\n", r, ErrorText(dev).c_str());
    const int again = hid_read_timeout(dev, buf, sizeof buf, 100);
    std::printf("probe: a second read returned %d\n", again);
    const std::vector<unsigned char> ping = Report(EncodePing());
    const int w = hid_write(dev, ping.data(), ping.size());
    std::printf("probe: hid_write after removal returned %d (%s)\n", w, ErrorText(dev).c_str());
    hid_close(dev);
    hid_device_info* list = hid_enumerate(kDeviceVendorId, kDeviceProductId);
    int listed = 0;
    for (hid_device_info* d = list; d; d = d->next) ++listed;
    hid_free_enumeration(list);
    hid_device* reopened = hid_open_path(path.c_str());
    std::printf("probe: enumeration lists %d device(s); opening the old path %s\n", listed,
                reopened ? "succeeded" : "fails");
    if (reopened) hid_close(reopened);
    return r < 0 && w < 0 && listed == 0 && !reopened ? 0 : 1;
}

// A whole positive decimal number; -1 for anything else.
long Number(const std::string& text) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    return !text.empty() && end && *end == 0 && v > 0 && v < 1'000'000 ? v : -1;
}

// The device link across a removal: the link closes itself when the handle turns invalid, and
// the quick-ping timer's Comms_Open finds the device again once it is back.
int LinkLoss() {
    SteadyClock clock;
    std::unique_ptr<HidBackend> hid = MakeHidapiBackend();
    Comms comms(*hid, clock);
    if (!comms.Comms_Open() || !comms.QuickPing()) {
        std::printf("probe: no device\n");
        return 1;
    }
    std::printf("probe: waiting\n");
    std::fflush(stdout);
    const auto t0 = std::chrono::steady_clock::now();
    long pings = 0;
    bool answered = true;
    while (comms.Comms_IsOpen() && ElapsedMs(t0) < 30000) {
        answered = comms.QuickPing();
        ++pings;
        std::this_thread::sleep_for(Ms(100));
    }
    if (comms.Comms_IsOpen()) {
        std::printf("probe: the link stayed open\n");
        return 1;
    }
    std::printf("probe: the link closed itself after %ld pings; the last one %s\n", pings,
                answered ? "was answered" : "failed");
    // While closed every command fails at once, without I/O.
    const auto t1 = std::chrono::steady_clock::now();
    const bool pingWhileClosed = comms.Ping();
    std::printf("probe: a command while closed returned %s after %ld ms\n", pingWhileClosed ? "true" : "false",
                ElapsedMs(t1));
    // The quick-ping timer: every 2.5 s, Comms_Open when closed, then QuickPing.
    const auto t2 = std::chrono::steady_clock::now();
    bool back = false;
    while (!back && ElapsedMs(t2) < 30000) {
        std::this_thread::sleep_for(Ms(2500));
        back = comms.Comms_Open() && comms.QuickPing();
    }
    std::printf("probe: %s\n", back ? "the quick-ping timer found the device again" : "the device did not come back");
    comms.Comms_ShutDown();
    return !pingWhileClosed && back ? 0 : 1;
}

int Stall() {
    SteadyClock clock;
    std::unique_ptr<HidBackend> hid = MakeHidapiBackend();
    Comms comms(*hid, clock);
    if (!comms.Comms_Open() || !comms.QuickPing()) {
        std::printf("probe: no device\n");
        return 1;
    }
    long answered = 1;
    long slowest = 0;
    for (int i = 0; i < 500; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        const bool ok = comms.QuickPing();
        const long took = ElapsedMs(t0);
        slowest = std::max(slowest, took);
        if (ok) {
            ++answered;
            continue;
        }
        // The device no longer takes requests: a full ping (4 attempts) must end within its bound too.
        const auto t1 = std::chrono::steady_clock::now();
        const bool again = comms.Ping();
        const long pingMs = ElapsedMs(t1);
        std::printf("probe: %ld quick pings answered; the first unanswered one returned after %ld ms\n", answered,
                    took);
        std::printf("probe: a full ping after it returned %s after %ld ms; the slowest quick ping took %ld ms\n",
                    again ? "true" : "false", pingMs, slowest);
        comms.Comms_ShutDown();
        // A full ping: 4 attempts of 0.2 s, each unanswered one followed by a 0.2 s drain window.
        return !again && took <= 1000 && slowest <= 1000 && pingMs <= 2000 ? 0 : 1;
    }
    std::printf("probe: the device kept answering\n");
    return 1;
}

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (hid_init() != 0) {
        std::printf("probe: hid_init failed\n");
        return 1;
    }
    int status = 2;
    if (args.size() == 1 && args[0] == "sizes")
        status = Sizes();
    else if (args.size() == 1 && args[0] == "timeout")
        status = Timeout();
    else if (args.size() == 2 && args[0] == "burst" && Number(args[1]) > 0)
        status = Burst(Number(args[1]));
    else if (args.size() == 2 && args[0] == "overflow" && Number(args[1]) > 0)
        status = Overflow(static_cast<int>(Number(args[1])));
    else if (args.size() == 1 && args[0] == "removal")
        status = Removal();
    else if (args.size() == 1 && args[0] == "linkloss")
        status = LinkLoss();
    else if (args.size() == 1 && args[0] == "stall")
        status = Stall();
    else
        std::fprintf(stderr, "usage: kv-vm-probe sizes|timeout|burst N|overflow MS|removal|linkloss|stall\n");
    hid_exit();
    return status;
}
