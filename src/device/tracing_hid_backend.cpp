#include "device/tracing_hid_backend.h"

#include "device/device_trace.h"

namespace kv {

HidReadResult TracingHidBackend::Read(HidReport& report, int timeoutMs) {
    trace_.Write("    Begin ReadFile");
    const HidReadResult r = inner_.Read(report, timeoutMs);
    switch (r) {
    case HidReadResult::Ok:
        if (trace_.Enabled()) trace_.Write("    Read: " + TraceHexBytes(report.data(), report.size()));
        break;
    case HidReadResult::Timeout: trace_.Write("    Read timed out"); break;
    case HidReadResult::Failed: trace_.Write("    Read error"); break;
    case HidReadResult::Error: trace_.Write("    ERROR_INVALID_HANDLE"); break;
    }
    return r;
}

HidWriteResult TracingHidBackend::Write(const HidReport& report, int timeoutMs) {
    if (trace_.Enabled()) trace_.Write("    Transmitting: " + TraceHexBytes(report.data(), report.size()));
    const HidWriteResult r = inner_.Write(report, timeoutMs);
    switch (r) {
    case HidWriteResult::Ok: trace_.Write("    Transmission completed"); break;
    case HidWriteResult::Timeout: trace_.Write("    Transmission timed out"); break;
    case HidWriteResult::Failed: trace_.Write("    Transmission error"); break;
    case HidWriteResult::Gone: trace_.Write("    ERROR_INVALID_HANDLE"); break;
    }
    return r;
}

} // namespace kv
