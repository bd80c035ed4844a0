#pragma once
// A HidBackend that passes everything to another one and writes each report moved and each
// failed read or write to the device trace. The composition roots put it in front of the real
// backend when the trace is on.
#include "device/hid_backend.h"

namespace kv {

class DeviceTrace;

class TracingHidBackend final : public HidBackend {
public:
    // Both must outlive this object.
    TracingHidBackend(HidBackend& inner, DeviceTrace& trace) : inner_(inner), trace_(trace) {}

    std::vector<HidDeviceInfo> Enumerate() override { return inner_.Enumerate(); }
    bool Open(const std::string& path) override { return inner_.Open(path); }
    bool IsOpen() const override { return inner_.IsOpen(); }
    bool SetInputQueueSize(int reports) override { return inner_.SetInputQueueSize(reports); }
    void FlushInput() override { inner_.FlushInput(); }
    HidReadResult Read(HidReport& report, int timeoutMs) override;
    HidWriteResult Write(const HidReport& report, int timeoutMs) override;
    void Cancel() override { inner_.Cancel(); }
    void Close() override { inner_.Close(); }

private:
    HidBackend& inner_;
    DeviceTrace& trace_;
};

} // namespace kv
