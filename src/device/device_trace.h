#pragma once
// The device link's debug trace: time-stamped lines ("12.34<TAB>text<CR><LF>") collected in
// memory and written to a file that is replaced at the first line of a run. Off until Enable is
// given a path; the HID reports themselves are traced by TracingHidBackend, the link and the
// command set add their own notes.
#include <cstddef>
#include <string>

namespace kv {

class Clock;
class SettingsStore;

class DeviceTrace {
public:
    // `clock` stamps the lines and must outlive the trace.
    explicit DeviceTrace(Clock& clock) : clock_(clock) {}
    ~DeviceTrace();
    DeviceTrace(const DeviceTrace&) = delete;
    DeviceTrace& operator=(const DeviceTrace&) = delete;

    // Starts tracing into `path` (the file is replaced at the first line); an empty path writes
    // what was collected and stops.
    void Enable(const std::string& path);
    bool Enabled() const { return !path_.empty(); }
    // One line; an empty text writes an empty line. Nothing while the trace is off.
    void Write(const std::string& text);
    // Writes what was collected to the file.
    void Flush();

private:
    Clock& clock_;
    std::string path_;
    std::string buffer_;
    bool started_ = false;
};

// Where the debug trace goes on this system: kestrovane/devicetrace.txt in the user's cache folder
// (UserCacheFolder: $XDG_CACHE_HOME or ~/.cache, %LOCALAPPDATA% on Windows), else in the temp
// folder. Never a fixed shared path.
std::string DefaultTracePath();

// Switches the trace on (into DefaultTracePath()) when the setting "Diagnostics" /
// "DeviceTrace" is "1", or when the program was built with KV_DEVICE_TRACE; leaves it as it is
// otherwise. Read once at start-up by the program.
void EnableTraceFromSettings(DeviceTrace& trace, SettingsStore& settings);

// True when the program was built to trace from the start (KV_DEVICE_TRACE).
bool TraceFromStart();

// Hexadecimal bytes as the trace shows them: "0A FF " (two digits and a space each).
std::string TraceHexBytes(const unsigned char* data, std::size_t n);

} // namespace kv
