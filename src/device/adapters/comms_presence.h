#pragma once
// DevicePresence of the connection and ignition monitoring over the command set.
#include "app/core/connection_monitor.h"

namespace kv {

class Comms;

class CommsPresence final : public DevicePresence {
public:
    // `comms` must outlive this object.
    explicit CommsPresence(Comms& comms) : comms_(comms) {}
    bool Open() override;
    bool IsOpen() override;
    bool Ping() override;
    bool QuickPing() override;
    std::string GetFirmwareVersion() override;
    bool IsIgnitionOn() override;

private:
    Comms& comms_;
};

} // namespace kv
