#pragma once
// Connection and ignition monitoring: what the program shows about the device's presence (the
// main window's two indicators, the start-up explanation of a missing or silent device) and the
// debounced ignition state that the monitors and traces wait for.
#include <cstdint>
#include <optional>
#include <string>

namespace kv {

class Clock;
class UserMessages;

// What the monitoring needs of the device link. The program implements it on the command set
// (device/adapters/comms_presence.h).
class DevicePresence {
public:
    virtual ~DevicePresence() = default;
    // Time-outs back to their defaults; true at once when open, else tries to open the device.
    virtual bool Open() = 0;
    virtual bool IsOpen() = 0;
    // Up to four attempts; true when the device answered.
    virtual bool Ping() = 0;
    // One short attempt; true when the device answered.
    virtual bool QuickPing() = 0;
    // The device's firmware version text; empty on failure.
    virtual std::string GetFirmwareVersion() = 0;
    // True while the device sees the ignition on.
    virtual bool IsIgnitionOn() = 0;
};

// Where UpdateConnectionStatus shows its result (the main window's two indicators).
class ConnectionIndicator {
public:
    virtual ~ConnectionIndicator() = default;
    // text: "Connected", "Not responding" or "Not connected (or not powered)"; error: red text.
    virtual void ShowConnectionStatus(const std::string& text, bool error) = 0;
    // The device's firmware version, "Unknown", or empty to clear it.
    virtual void ShowFirmwareVersion(const std::string& text) = 0;
};

class ConnectionMonitor {
public:
    // `device` must outlive the monitor.
    explicit ConnectionMonitor(DevicePresence& device) : device_(device) {}

    // Where the status goes; null shows nothing.
    void SetConnectionIndicator(ConnectionIndicator* indicator) { indicator_ = indicator; }
    // Quick ping; shows the result on the indicator when it changed (or `force`); true when the
    // device answered.
    bool UpdateConnectionStatus(bool force);
    // Opens and pings the device, or tells the user why not (titled "Error") and refreshes the
    // indicator; true when it answers.
    bool CheckDeviceOrExplain(UserMessages& messages);

private:
    DevicePresence& device_;
    ConnectionIndicator* indicator_ = nullptr;
    std::optional<bool> lastState_; // the last quick ping's answer; none before the first
};

// The ignition state that the live views wait for: on for at least 0.5 s.
class IgnitionDebounce {
public:
    // Both must outlive the object.
    IgnitionDebounce(DevicePresence& device, Clock& clock) : device_(device), clock_(clock) {}

    // True once the ignition has read on for at least 0.5 s; then on every call while it stays on.
    bool IgnitionOnDebounced();
    // The next IgnitionOnDebounced answers from the current ignition state at once.
    void ResetIgnitionDebounce();

private:
    DevicePresence& device_;
    Clock& clock_;
    bool rememberedOn_ = false;
    std::int64_t onSinceMs_ = -1; // clock time the ignition was first seen on; -1: answer at once
};

} // namespace kv
