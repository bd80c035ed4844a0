#include "device/device_trace.h"

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/settings_store.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace kv {

DeviceTrace::~DeviceTrace() { Flush(); }

void DeviceTrace::Enable(const std::string& path) {
    Flush();
    path_ = path;
    started_ = false;
    buffer_.clear();
    if (!path_.empty()) Write("Kestrovane started ");
}

void DeviceTrace::Write(const std::string& text) {
    if (path_.empty()) return;
    if (text.empty()) {
        buffer_ += "\r\n";
    } else {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.2f", static_cast<double>(clock_.NowMs()) / 1000.0);
        buffer_ += stamp;
        buffer_ += '\t';
        buffer_ += text;
        buffer_ += "\r\n";
    }
    if (buffer_.size() > 60000) Flush();
}

void DeviceTrace::Flush() {
    if (path_.empty() || buffer_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p = PathFromUtf8(path_);
    if (!started_) {
        if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
        fs::remove(p, ec); // a new trace each run; errors ignored
        started_ = true;
    }
    if (std::ofstream f(p, std::ios::binary | std::ios::app); f)
        f.write(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    buffer_.clear();
}

std::string DefaultTracePath() {
    namespace fs = std::filesystem;
    fs::path dir;
    if (const std::string cache = UserCacheFolder(); !cache.empty()) {
        dir = PathFromUtf8(cache) / "kestrovane";
    } else {
        std::error_code ec;
        dir = fs::temp_directory_path(ec);
        if (ec) return {};
    }
    return PathToUtf8(dir / "devicetrace.txt");
}

bool TraceFromStart() {
#ifdef KV_DEVICE_TRACE
    return true;
#else
    return false;
#endif
}

void EnableTraceFromSettings(DeviceTrace& trace, SettingsStore& settings) {
    if (TraceFromStart() || settings.GetSetting("Diagnostics", "DeviceTrace", "0") == "1")
        trace.Enable(DefaultTracePath());
}

std::string TraceHexBytes(const unsigned char* data, std::size_t n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        s += digits[data[i] >> 4];
        s += digits[data[i] & 0xF];
        s += ' ';
    }
    return s;
}

} // namespace kv
