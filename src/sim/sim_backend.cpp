#include "sim/sim_backend.h"

#include "platform/file_io.h"
#include "sim/sim_device.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <limits>
#include <random>
#include <system_error>

namespace kv {

namespace {

constexpr const char* kSimPath = "sim:kestrovane";
constexpr std::uint16_t kVendorId = 0x1234;
constexpr std::uint16_t kProductId = 0x5851;
constexpr std::int64_t kRestartOutageMs = 1500; // off the bus while the new firmware starts

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b])) != 0) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1])) != 0) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        parts.push_back(Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

Parsed<double> ParseProbability(const std::string& v) {
    if (v.empty()) return ParseError{"empty"};
    char* end = nullptr;
    const double d = std::strtod(v.c_str(), &end);
    if (*end != '\0' || !(d >= 0.0 && d <= 1.0)) return ParseError{"not a number from 0 to 1"};
    return d;
}

Parsed<std::uint64_t> ParseCount(const std::string& v) {
    if (v.empty() || v.size() > 19 || !std::all_of(v.begin(), v.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return ParseError{"not a whole number"};
    return static_cast<std::uint64_t>(std::strtoull(v.c_str(), nullptr, 10));
}

bool VersionText(const std::string& v, std::size_t maxLength) {
    return v.size() <= maxLength && std::all_of(v.begin(), v.end(), [](char c) { return c > ' ' && c < 127; });
}

// Uniform 0..1 from the fault generator (portable: no library distribution).
double Uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0); }

} // namespace

Parsed<SimFaultSpec> ParseSimFaultSpec(const std::string& text) {
    SimFaultSpec parsed;
    if (Trim(text).empty()) return parsed;
    const std::string prefix = "Bad fault list \"" + text + "\": ";
    for (const auto& item : SplitCommas(text)) {
        if (item.empty()) return ParseError{prefix + "empty entry between commas"};
        const auto eq = item.find('=');
        const std::string key = Lower(Trim(item.substr(0, eq)));
        const std::string value = eq == std::string::npos ? "" : Trim(item.substr(eq + 1));
        if (key == "silent" || key == "unplug-vacuum" || key == "vacuum-feed-off") {
            if (eq != std::string::npos) return ParseError{prefix + key + " takes no value"};
            (key == "silent"          ? parsed.silent
             : key == "unplug-vacuum" ? parsed.unplugVacuum
                                      : parsed.vacuumFeedOff) = true;
            continue;
        }
        if (eq == std::string::npos)
            return ParseError{prefix + "\"" + item + "\" needs a value (for example " + key + "=0.1)"};
        double* probability = key == "drop"       ? &parsed.drop
                              : key == "dup"      ? &parsed.dup
                              : key == "late"     ? &parsed.late
                              : key == "garble"   ? &parsed.garble
                              : key == "crc"      ? &parsed.crc
                              : key == "refuse"   ? &parsed.refuse
                              : key == "drop-out" ? &parsed.dropOut
                                                  : nullptr;
        if (probability != nullptr) {
            const Parsed<double> p = ParseProbability(value);
            if (!p)
                return ParseError{prefix + "the value of " + key + " must be a number from 0 to 1, not \"" + value +
                                  "\""};
            *probability = *p;
        } else if (key == "unplug-after") {
            const Parsed<std::uint64_t> n = ParseCount(value);
            if (!n || *n > static_cast<std::uint64_t>(std::numeric_limits<long>::max()))
                return ParseError{prefix + "the value of unplug-after must be a whole number of reports, not \"" +
                                  value + "\""};
            parsed.unplugAfter = static_cast<long>(*n);
        } else if (key == "stall") {
            const Parsed<std::uint64_t> n = ParseCount(value);
            if (!n || *n > static_cast<std::uint64_t>(std::numeric_limits<long>::max()))
                return ParseError{prefix + "the value of stall must be a whole number of reports, not \"" + value +
                                  "\""};
            parsed.stallAfter = static_cast<long>(*n);
        } else if (key == "seed") {
            const Parsed<std::uint64_t> n = ParseCount(value);
            if (!n) return ParseError{prefix + "the value of seed must be a whole number, not \"" + value + "\""};
            parsed.seed = *n;
        } else if (key == "late-ms") {
            const Parsed<std::uint64_t> n = ParseCount(value);
            if (!n || *n < 1 || *n > 60000)
                return ParseError{prefix + "the value of late-ms must be a whole number from 1 to 60000, not \"" +
                                  value + "\""};
            parsed.lateMs = static_cast<int>(*n);
        } else {
            return ParseError{prefix + "unknown fault \"" + key +
                              "\" (known: drop, dup, late, garble, crc, refuse, drop-out, unplug-after, stall, silent, "
                              "unplug-vacuum, vacuum-feed-off, seed, late-ms)"};
        }
    }
    return parsed;
}

Parsed<SimIgnitionMode> ParseSimIgnitionMode(const std::string& text) {
    const std::string t = Lower(Trim(text));
    if (t == "off") return SimIgnitionMode::Off;
    if (t == "on") return SimIgnitionMode::On;
    if (t == "auto") return SimIgnitionMode::Auto;
    return ParseError{"Bad ignition mode \"" + text + "\": use off, on or auto"};
}

Parsed<std::vector<std::pair<std::int64_t, bool>>> ParseIgnitionScript(const std::string& text) {
    std::vector<std::pair<std::int64_t, bool>> steps;
    if (Trim(text).empty()) return steps;
    for (const auto& item : SplitCommas(text)) {
        const auto at = item.find('@');
        const std::string state = Lower(Trim(item.substr(0, at)));
        const Parsed<std::uint64_t> ms =
            at == std::string::npos ? Parsed<std::uint64_t>(ParseError{}) : ParseCount(Trim(item.substr(at + 1)));
        if ((state != "on" && state != "off") || !ms || *ms > 1000ULL * 60 * 60 * 24 * 365)
            return ParseError{"Bad ignition script \"" + text +
                              "\": each entry is on@MS or off@MS (milliseconds), not \"" + item + "\""};
        steps.emplace_back(static_cast<std::int64_t>(*ms), state == "on");
    }
    return steps;
}

std::string ValidateSimOptions(const SimOptions& options) {
    if (const auto faults = ParseSimFaultSpec(options.faults); !faults) return faults.Error();
    if (const auto mode = ParseSimIgnitionMode(options.ignition); !mode) return mode.Error();
    if (const auto script = ParseIgnitionScript(options.ignitionScript); !script) return script.Error();
    if (!options.stateFile.empty()) {
        // A missing file is a new car; anything but a regular file is refused before it is read,
        // set aside or written over.
        std::error_code ec;
        const auto st = std::filesystem::status(PathFromUtf8(options.stateFile), ec);
        if (ec && ec != std::errc::no_such_file_or_directory)
            return "The state file " + options.stateFile + " cannot be used: " + ec.message();
        if (std::filesystem::is_directory(st))
            return "The state file " + options.stateFile +
                   " cannot be used: " + std::make_error_code(std::errc::is_a_directory).message();
        if ((std::filesystem::exists(st) && !std::filesystem::is_regular_file(st)) || IsDeviceOrPipe(options.stateFile))
            return "The state file " + options.stateFile + " cannot be used: it is not a regular file";
    }
    if (!VersionText(options.firmwareVersion, 8) || options.firmwareVersion.empty())
        return "Bad device firmware version \"" + options.firmwareVersion + "\": 1 to 8 printable characters";
    if (!VersionText(options.upgradedFirmwareVersion, 8) || options.upgradedFirmwareVersion.empty())
        return "Bad device firmware version \"" + options.upgradedFirmwareVersion + "\": 1 to 8 printable characters";
    if (!VersionText(options.pemFirmwareVersion, 5))
        return "Bad module firmware version \"" + options.pemFirmwareVersion + "\": up to 5 printable characters";
    if (!VersionText(options.upgradedPemFirmwareVersion, 5) || options.upgradedPemFirmwareVersion.empty())
        return "Bad module firmware version \"" + options.upgradedPemFirmwareVersion +
               "\": 1 to 5 printable characters";
    return "";
}

// ---------------------------------------------------------------------------------------------

struct SimulatedBackend::Impl {
    Impl(const SimOptions& o, const SimFaultSpec& f, Clock& c) : options(o), faults(f), clock(c), rng(f.seed) {}

    SimOptions options;
    SimFaultSpec faults;
    Clock& clock;
    std::mt19937_64 rng;
    std::unique_ptr<SimDevice> device;
    SimIgnitionMode mode = SimIgnitionMode::On;

    bool plugged = true;
    std::int64_t offlineUntilMs = std::numeric_limits<std::int64_t>::min();
    std::uint64_t deviceGeneration = 0; // bumped whenever the device leaves the bus
    bool open = false;
    std::uint64_t openGeneration = 0;

    struct LateReport {
        std::int64_t atMs;
        HidReport report;
    };
    std::deque<HidReport> inbox; // what the driver has queued for the program
    std::vector<LateReport> late;
    std::size_t queueSize = 32;
    long reports = 0;
    long outputReports = 0; // output reports the device took
    bool unplugFired = false;

    bool Present() const { return plugged && clock.NowMs() >= offlineUntilMs; }
    bool HandleValid() const { return open && openGeneration == deviceGeneration && Present(); }

    void LeaveBus() {
        ++deviceGeneration;
        inbox.clear();
        late.clear();
        device->Outbox().clear();
    }

    void Queue(const HidReport& r) {
        if (inbox.size() >= queueSize) return; // as hidraw: a full queue drops what arrives
        inbox.push_back(r);
    }

    // Brings the device up to the clock and moves its answers into the driver queue, with the
    // configured faults.
    void Pump() {
        device->CatchUp();
        const std::int64_t now = clock.NowMs();
        if (auto at = device->PendingRestartMs(); at && *at <= now) {
            device->CompleteRestart();
            LeaveBus();
            offlineUntilMs = *at + kRestartOutageMs;
        }
        auto& out = device->Outbox();
        if (!plugged || faults.silent) {
            out.clear();
            return;
        }
        while (!out.empty()) {
            HidReport r = out.front();
            out.pop_front();
            if (faults.drop > 0 && Uniform(rng) < faults.drop) continue;
            if (faults.garble > 0 && Uniform(rng) < faults.garble) {
                const std::size_t at = 1 + static_cast<std::size_t>(rng() % 32);
                r[at] = static_cast<std::uint8_t>(r[at] ^ static_cast<std::uint8_t>(1 + rng() % 255));
            }
            if (faults.late > 0 && Uniform(rng) < faults.late) {
                late.push_back({now + faults.lateMs, r});
                continue;
            }
            const int copies = faults.dup > 0 && Uniform(rng) < faults.dup ? 2 : 1;
            for (int i = 0; i < copies; ++i) {
                if (options.usbTiming)
                    late.push_back({now + 1, r}); // on the bus for one frame: not there yet
                else
                    Queue(r);
            }
        }
        // Late reports whose time has come, in the order they were held back.
        for (auto it = late.begin(); it != late.end();) {
            if (it->atMs <= now) {
                Queue(it->report);
                it = late.erase(it);
            } else {
                ++it;
            }
        }
    }

    void CountReport() {
        ++reports;
        if (faults.unplugAfter >= 0 && reports >= faults.unplugAfter && plugged && !unplugFired) {
            unplugFired = true; // once: a replugged device stays
            plugged = false;
            LeaveBus();
        }
    }

    std::int64_t NextWakeMs() const {
        std::int64_t next = device->NextEventMs();
        for (const auto& l : late) next = std::min(next, l.atMs);
        return next;
    }
};

SimulatedBackend::SimulatedBackend(const SimOptions& options, const SimFaultSpec& faults, Clock& clock)
    : impl_(std::make_unique<Impl>(options, faults, clock)) {
    impl_->device = std::make_unique<SimDevice>(options, clock);
    if (const auto mode = ParseSimIgnitionMode(options.ignition)) impl_->mode = *mode;
    impl_->device->SetVacuumSensorPlugged(!faults.unplugVacuum);
    impl_->device->SetVacuumFeedConnected(!faults.vacuumFeedOff);
    impl_->device->SetCrcFaultHook(
        [impl = impl_.get()] { return impl->faults.crc > 0 && Uniform(impl->rng) < impl->faults.crc; });
    impl_->device->SetRefuseFaultHook(
        [impl = impl_.get()] { return impl->faults.refuse > 0 && Uniform(impl->rng) < impl->faults.refuse; });
}

SimulatedBackend::~SimulatedBackend() = default;

std::vector<HidDeviceInfo> SimulatedBackend::Enumerate() {
    impl_->Pump();
    if (!impl_->Present()) return {};
    return {HidDeviceInfo{kSimPath, kVendorId, kProductId}};
}

bool SimulatedBackend::Open(const std::string& path) {
    Close();
    impl_->Pump();
    if (path != kSimPath || !impl_->Present()) return false;
    impl_->open = true;
    impl_->openGeneration = impl_->deviceGeneration;
    impl_->inbox.clear();
    impl_->late.clear();
    return true;
}

bool SimulatedBackend::IsOpen() const { return impl_->open; }

bool SimulatedBackend::SetInputQueueSize(int reports) {
    if (reports < 1) return false;
    impl_->queueSize = static_cast<std::size_t>(reports);
    return true;
}

void SimulatedBackend::FlushInput() {
    impl_->Pump();
    impl_->inbox.clear();
}

HidReadResult SimulatedBackend::Read(HidReport& report, int timeoutMs) {
    Impl& s = *impl_;
    if (!s.HandleValid()) return HidReadResult::Error;
    s.Pump();
    const std::int64_t deadline = s.clock.NowMs() + std::max(timeoutMs, 0);
    for (;;) {
        if (!s.HandleValid()) return HidReadResult::Error;
        if (!s.inbox.empty()) {
            report = s.inbox.front();
            s.inbox.pop_front();
            if (s.options.usbTiming) s.clock.SleepMs(1); // one USB frame
            s.CountReport();
            return HidReadResult::Ok;
        }
        const std::int64_t now = s.clock.NowMs();
        if (now >= deadline) return HidReadResult::Timeout;
        // Sleep until the device has something to do, or the time-out.
        const std::int64_t wake = std::min(deadline, std::max(now + 1, s.NextWakeMs()));
        s.clock.SleepMs(wake - now);
        s.Pump();
    }
}

HidWriteResult SimulatedBackend::Write(const HidReport& report, int timeoutMs) {
    Impl& s = *impl_;
    if (!s.HandleValid()) {
        s.open = false; // a handle to a device that left the bus stays invalid
        return HidWriteResult::Gone;
    }
    if (report[0] != 0) return HidWriteResult::Failed; // the device has no numbered reports
    if (s.faults.stallAfter >= 0 && s.outputReports >= s.faults.stallAfter) {
        // The device takes no more output reports: the write waits out its time-out.
        s.clock.SleepMs(std::max(timeoutMs, 0));
        s.Pump();
        return HidWriteResult::Timeout;
    }
    ++s.outputReports;
    if (s.options.usbTiming) s.clock.SleepMs(1); // one USB frame
    if (s.faults.dropOut > 0 && Uniform(s.rng) < s.faults.dropOut) {
        s.CountReport();
        return HidWriteResult::Ok; // lost between the host and the device: nobody knows
    }
    s.device->HandleOutputReport(report);
    s.Pump();
    s.CountReport();
    return HidWriteResult::Ok;
}

void SimulatedBackend::Cancel() {}

void SimulatedBackend::Close() {
    impl_->open = false;
    impl_->inbox.clear();
}

void SimulatedBackend::SetIgnitionMode(SimIgnitionMode mode) {
    impl_->mode = mode;
    impl_->device->CatchUp();
    impl_->device->ClearIgnitionSchedule();
    if (mode == SimIgnitionMode::Off) impl_->device->SetIgnition(false);
    if (mode == SimIgnitionMode::On) impl_->device->SetIgnition(true);
}

SimIgnitionMode SimulatedBackend::IgnitionMode() const { return impl_->mode; }

bool SimulatedBackend::IsIgnitionOn() const {
    impl_->device->CatchUp();
    return impl_->device->IsIgnitionOn();
}

void SimulatedBackend::ScheduleIgnition(std::int64_t atMs, bool on) {
    impl_->device->CatchUp();
    impl_->device->ScheduleIgnition(atMs, on);
}

void SimulatedBackend::Unplug() {
    if (!impl_->plugged) return;
    impl_->device->CatchUp();
    impl_->plugged = false;
    impl_->LeaveBus();
}

void SimulatedBackend::Replug() { impl_->plugged = true; }

bool SimulatedBackend::IsPlugged() const { return impl_->plugged; }

SimDevice& SimulatedBackend::Device() { return *impl_->device; }
const SimDevice& SimulatedBackend::Device() const { return *impl_->device; }

long SimulatedBackend::ReportCount() const { return impl_->reports; }

std::unique_ptr<SimulatedBackend> MakeSimulatedBackend(const SimOptions& options, Clock& clock) {
    if (!ValidateSimOptions(options).empty()) return nullptr;
    return std::make_unique<SimulatedBackend>(options, *ParseSimFaultSpec(options.faults), clock);
}

// ---------------------------------------------------------------------------------------------

AutoIgnitionDriver::AutoIgnitionDriver(SimulatedBackend& sim, Clock& clock, int delayMs)
    : sim_(sim), clock_(clock), delayMs_(delayMs) {}

void AutoIgnitionDriver::Asked(IgnitionRequest request) {
    if (sim_.IgnitionMode() != SimIgnitionMode::Auto) return;
    // The driver at the key does what is asked, a moment later.
    sim_.ScheduleIgnition(clock_.NowMs() + delayMs_, request == IgnitionRequest::On);
}

void AutoIgnitionDriver::Ended() {}

} // namespace kv
