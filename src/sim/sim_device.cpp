#include "sim/sim_device.h"

#include "sim/sim_crc.h"
#include "sim/sim_state.h"

#include "device/protocol.h"

#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "platform/file_io.h"
#include "platform/resources.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>
#include <system_error>

namespace kv {

namespace {

constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kRestartDelayMs = 20; // the loader answers "2", then drops off the bus
constexpr std::int64_t kPemRebootMs = 1500;
constexpr std::size_t kLoaderBlock = 256; // one firmware block
constexpr std::size_t kFirmwareContainerHeader =
    33; // the header of a firmware container        // a module restarting after its firmware update
constexpr std::int64_t kKeepAliveTimeoutMs = 5000; // streaming pauses without a keep-alive this long
constexpr std::int64_t kStateSaveIntervalMs = 2000;
constexpr int kMaxCatchUpRecords = 256; // older due records would only overflow the input queue

// Device items of a data-log record (address bytes below 20; the rest are ECU RAM).
constexpr std::uint8_t kItemValid = 1;
constexpr std::uint8_t kItemKnockRetard = 2;
constexpr std::uint8_t kItemEnginePeriod = 3;
constexpr std::uint8_t kItemMaf = 4;
constexpr std::uint8_t kItemAux1 = 5; // 5..8: aux inputs 1..4
constexpr std::uint8_t kItemVacuum = 9;
constexpr std::uint8_t kItemWideband = 11;
constexpr std::uint8_t kItemInjection = 12;
constexpr std::uint8_t kItemInjectionMode = 13;
constexpr std::uint8_t kItemSparkTiming = 15;
constexpr std::uint8_t kItemLHMarker = 17;
constexpr std::uint8_t kItemEZKMarker = 18;
constexpr std::uint8_t kFirstRamAddress = 20;

// Device input channels.
constexpr int kChWideband = 0;
constexpr int kChMaf = 1;
constexpr int kChAux1 = 2; // 2..5: aux inputs 1..4
constexpr int kChVacuum = 6;

// LH 2.3 RAM (address bytes as sent on the wire; 0xF7xx addresses appear as their low byte + 0x80).
constexpr int kLhPeriod = 29;  // 3 bytes: revolution period, 4 us counts
constexpr int kLhMafLoad = 72; // 2 bytes: MAF load, 10.8 us ticks of base injection time
constexpr double kFullLoadTicks = 250.0;
constexpr int kLhInjection = 0xBC; // 2 bytes: injector pulse width, 2.6667 us counts
constexpr int kLhCoolant = 0xC7;   // ADC byte of the coolant sensor
constexpr int kLhMafVolts = 0xC5;
constexpr int kLhThrottle = 41; // bits 0..1: 1 idle, 2 full load; bit 6: map set
constexpr int kLhBattery = 89;
constexpr int kLhCoPot = 0xC3;
constexpr int kLhRpmCode = 49; // engine speed as a revolution-time code (the main maps' rpm axis)
constexpr int kLhCoolantAxis = 85;
constexpr int kLhO2Correction = 77; // 2 bytes
constexpr int kLhIdleStab = 52;     // 2 bytes
constexpr int kLhO2Adapt1 = 0xE4;   // 3 bytes
constexpr int kLhO2Adapt2 = 0xED;   // 3 bytes
// Bit variables: byte 32 + bit / 8, mask 1 << bit % 8.
constexpr int kLhFuelCutByte = 37, kLhFuelCutMask = 0x04;     // bit 42
constexpr int kLhTransientByte = 45, kLhTransientMask = 0x10; // bit 108
constexpr int kLhFlapByte = 44, kLhFlapMask = 0x40;           // bit 102

// EZK RAM.
constexpr int kEzkPeriod = 106; // 2 bytes: period word
constexpr int kEzkAdvance = 84;
constexpr int kEzkLoad = 123;
constexpr int kEzkCoding = 65;
constexpr int kEzkCoolant = 57;
constexpr int kEzkKnockCount = 134;
constexpr int kEzkBattery = 56;
constexpr int kEzkSwitchByte = 34, kEzkIdleMask = 0x04, kEzkWotMask = 0x02, kEzkSelectorMask = 0x10; // bits 18, 17, 20
constexpr int kEzkGearboxByte = 32, kEzkGearboxMask = 0x01;                                          // bit 0: automatic

std::uint16_t Clamp16(double v) { return static_cast<std::uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }
std::uint8_t Clamp8(double v) { return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Volts of a falling temperature curve (x volts ascending, y degrees descending) at a temperature.
double VoltsForTemp(const std::vector<double>& xs, const std::vector<double>& ys, double t) {
    if (t >= ys.front()) return xs.front();
    if (t <= ys.back()) return xs.back();
    for (std::size_t i = 1; i < xs.size(); ++i) {
        if (t >= ys[i]) return xs[i - 1] + (ys[i - 1] - t) / (ys[i - 1] - ys[i]) * (xs[i] - xs[i - 1]);
    }
    return xs.back();
}
const std::vector<double> kLh23CoolantX{0, 0.429, 1.459, 2.382, 3.154, 4.65};
const std::vector<double> kEzkCoolantX{0, 0.254, 0.95, 1.725, 2.601, 4.97};
const std::vector<double> kTempY{120, 80, 40, 25, 0, -40};
const std::vector<double> kAirTempX{0, 0.483, 1.58, 2.58, 3.37, 4.8};
const std::vector<double> kAirTempY{120, 80, 40, 20, 0, -40};

std::uint8_t AdcByte(double volts) { return Clamp8(volts / 5.0 * 256.0); }
std::uint16_t Adc16(double volts) { return Clamp16(volts / 5.0 * 65536.0); }

// The LH 2.3 unit keeps engine speed as a code of its revolution time: a 3-bit exponent and a
// 5-bit mantissa code, looked up in two tables for the low and high edge of each code's band.
// The main maps' rpm axis holds the same codes.
constexpr int kNoEntry = -1;
constexpr int kCodeLow[32] = {0,  1,  kNoEntry, 2,  3,  4,  kNoEntry, 5,  6,  7,  8,  9,  kNoEntry, 10, 11, 12,
                              13, 14, 15,       16, 17, 18, 20,       21, 22, 23, 24, 26, 27,       28, 29, 31};
constexpr int kCodeHigh[32] = {0,  1,  kNoEntry, 2,  3,  4,  kNoEntry, 5,  6,  7,  8,  9,  kNoEntry, 10, 11, 12,
                               13, 14, 15,       16, 17, 18, 19,       21, 22, 23, 24, 25, 27,       28, 29, 30};

double RpmOfCodeValue(double value) { return std::nearbyint(60.0 / (2.0 * value * 0.000002)); }

double LhRpmCodeLow(int b) {
    if (b > 0) --b;
    if (b == 0) return 20000.0;
    const int e = b / 32, c = b & 31;
    const int m = kCodeLow[c] != kNoEntry ? kCodeLow[c] : kCodeLow[c - 1];
    const long value = (1L << (e + 10)) | std::lround(std::nearbyint(std::ldexp(m, e + 5))) |
                       std::lround(std::nearbyint(std::ldexp(1.0, e + 5) - 1.0));
    return RpmOfCodeValue(static_cast<double>(value));
}

double LhRpmCodeHigh(int b) {
    if (b == 0) return 20000.0;
    const int e = b / 32, c = b & 31;
    const int m = kCodeHigh[c] != kNoEntry ? kCodeHigh[c] : kCodeHigh[c + 1];
    const long value = std::lround(std::nearbyint(std::ldexp(m, e + 5))) | (1L << (e + 10));
    return RpmOfCodeValue(static_cast<double>(value));
}

double LhRpmFromCode(int b) { return std::nearbyint((LhRpmCodeHigh(b) + LhRpmCodeLow(b)) / 2.0); }

// The code (10..254) whose speed is nearest to rpm; 255 for a standing engine.
std::uint8_t LhRpmCode(double rpm) {
    static const auto table = [] {
        std::array<double, 256> t{};
        for (int b = 0; b < 256; ++b) t[static_cast<std::size_t>(b)] = LhRpmFromCode(b);
        return t;
    }();
    if (rpm <= 0.0) return 255;
    int best = 0;
    double bestDiff = 10000.0;
    for (int b = 10; b <= 254; ++b) {
        const double d = std::abs(table[static_cast<std::size_t>(b)] - rpm);
        if (d < bestDiff) {
            bestDiff = d;
            best = b;
        }
    }
    return static_cast<std::uint8_t>(best);
}

// An EPROM file into a 16 kB window: a 16, 32 or 64 kB dump gives its top 16 kB; a 4 kB dump
// (LH 2.2, or an EZF image twice) fills the top 4 kB of the window when `small` allows it.
Parsed<std::vector<std::uint8_t>> LoadWindowImage(const std::string& path, bool small) {
    std::error_code ec;
    const std::filesystem::path file = PathFromUtf8(path);
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) return ParseError{"it cannot be read"};
    const bool sizeOk = size == 16384 || size == 32768 || size == 65536 || (small && size == 4096);
    if (!sizeOk) return ParseError{small ? "not a 4, 16, 32 or 64 kB EPROM file" : "not a 16, 32 or 64 kB EPROM file"};
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() != size) return ParseError{"it cannot be read"};
    std::vector<std::uint8_t> w(kSimMemorySize, 0xFF);
    const std::size_t n = std::min<std::size_t>(bytes.size(), kSimMemorySize);
    std::copy(bytes.end() - static_cast<std::ptrdiff_t>(n), bytes.end(), w.end() - static_cast<std::ptrdiff_t>(n));
    return w;
}

std::uint8_t Rotl8(std::uint8_t v, int r) {
    r &= 7;
    return static_cast<std::uint8_t>((v << r) | (v >> ((8 - r) & 7)));
}

// Fractional index of x among axis points (ascending or descending); clamped to the ends.
double AxisPosition(const std::array<double, 16>& pts, double x) {
    const bool ascending = pts[15] >= pts[0];
    for (int i = 0; i < 15; ++i) {
        const double a = pts[static_cast<std::size_t>(i)], b = pts[static_cast<std::size_t>(i + 1)];
        const bool inside = ascending ? (x >= a && x <= b) : (x <= a && x >= b);
        if (inside) return a == b ? i : i + (x - a) / (b - a);
    }
    const bool beforeFirst = ascending ? x < pts[0] : x > pts[0];
    return beforeFirst ? 0.0 : 15.0;
}

} // namespace

// What the LH module's image says about fuelling at an operating point.
struct SimDevice::FuelMapCache {
    bool valid = false;
    std::array<double, 16> rpmAxis{};
    std::array<double, 16> mafAxis{};
    std::array<std::array<int, 16>, 16> cells{}; // [y][x], raw bytes of the map the unit runs on
    // The intake flap, from the image's flap settings: open from the open speed up to the close
    // speed (revolution-time codes: a smaller code is a higher speed) at or above a MAF load.
    int flapOpenCode = -1; // none: the flap stays shut
    int flapCloseCode = 0;
    int flapLoadThreshold = 0;
    bool FlapOpen(int rpmCode, int mafLoad) const {
        return rpmCode <= flapOpenCode && rpmCode > flapCloseCode && mafLoad >= flapLoadThreshold;
    }
};

SimDevice::SimDevice(const SimOptions& options, Clock& clock)
    : options_(options), clock_(clock), engine_(options.drive, options.driveSeed) {
    createdMs_ = clock_.NowMs();
    lastSaveMs_ = createdMs_;
    firmwareVersion_ = options_.firmwareVersion;
    const std::string pemVersion = options_.pemFirmwareVersion.empty() ? "1.00" : options_.pemFirmwareVersion;
    for (auto& m : modules_) m.firmwareVersion = pemVersion;
    modules_[0].fitted = options_.lhModuleFitted;
    modules_[1].fitted = options_.ezkModuleFitted;
    const Parsed<SimIgnitionMode> mode = ParseSimIgnitionMode(options_.ignition);
    ignitionOn_ = !mode || *mode != SimIgnitionMode::Off;
    // A car whose ignition is off at the start has long powered down.
    offSinceMs_ = createdMs_ - kSimPowerDownMs;

    LoadState();
    // Images from files, given for this run, replace what the state file had.
    const std::pair<const std::string*, std::vector<std::uint8_t>*> images[] = {
        {&options_.emulatorImageFile, &emulator_},
        {&options_.lhImageFile, &modules_[0].memory},
        {&options_.ezkImageFile, &modules_[1].memory}};
    for (const auto& [file, memory] : images) {
        if (file->empty()) continue;
        Parsed<std::vector<std::uint8_t>> window = LoadWindowImage(*file, memory == &emulator_);
        if (!window) {
            std::cerr << "Simulated device: the image " << *file << " was not loaded: " << window.Error() << "\n";
        } else {
            *memory = std::move(*window);
            MarkMemoryChanged();
        }
    }
    if (const auto script = ParseIgnitionScript(options_.ignitionScript))
        for (const auto& s : *script) ScheduleIgnition(createdMs_ + s.first, s.second);
    engine_.AdvanceTo(createdMs_, ignitionOn_);
    modelMs_ = createdMs_;
    liveDirty_ = true;
}

SimDevice::~SimDevice() {
    if (dirty_) SaveStateNoting();
}

SimModule& SimDevice::Module(int kind) { return modules_[kind == kSimEZK ? 1 : 0]; }
const SimModule& SimDevice::Module(int kind) const { return modules_[kind == kSimEZK ? 1 : 0]; }

int SimDevice::KindFromWire(std::uint8_t c) const {
    if (c == 'L') return kSimLH;
    if (c == 'E') return kSimEZK;
    return 0;
}

bool SimDevice::EcuPowered(int kind) const { return ignitionOn_ && Module(kind).fitted; }

// ---------------------------------------------------------------------------------------------
// Requests

void SimDevice::HandleOutputReport(const HidReport& report) {
    CatchUp();
    if (report[1] == kContinuationMarker) {
        // Continuation: 31 more request bytes; ignored when no request is being built.
        if (!requestOpen_) {
            ++protocolFaults_;
            return;
        }
        request_.insert(request_.end(), report.begin() + 2, report.end());
    } else {
        // First report of a request: any unfinished request is abandoned.
        request_.assign(report.begin() + 1, report.end());
        requestOpen_ = true;
    }
    const long need = RequestLength();
    if (need == 0) { // unknown request: the device ignores it
        ++protocolFaults_;
        requestOpen_ = false;
        request_.clear();
        return;
    }
    if (need < 0 || static_cast<long>(request_.size()) < need) return;
    std::vector<std::uint8_t> req(request_.begin(), request_.begin() + need);
    requestOpen_ = false;
    request_.clear();
    if (bootloader_)
        ExecuteLoader(req);
    else
        Execute(req);
}

// Length of the request being built, from its first bytes; 0 = unknown request.
long SimDevice::RequestLength() const { return kv::RequestLength(request_.data(), request_.size(), bootloader_); }

void SimDevice::Reply(const std::vector<std::uint8_t>& message, std::uint8_t firstType) {
    // First report: type T and 31 bytes; continuation reports: type T + 1 and 31 bytes each.
    std::size_t pos = 0;
    bool first = true;
    do {
        HidReport rep{};
        rep[0] = 0;
        rep[1] = static_cast<std::uint8_t>(first ? firstType : firstType + 1);
        for (int i = 2; i < kHidReportSize && pos < message.size(); ++i)
            rep[static_cast<std::size_t>(i)] = message[pos++];
        outbox_.push_back(rep);
        first = false;
    } while (pos < message.size());
}

void SimDevice::Execute(const std::vector<std::uint8_t>& req) {
    const std::int64_t now = clock_.NowMs();
    switch (static_cast<Opcode>(req[0])) {
    case Opcode::Ping: Reply({kAckPing}); return;
    case Opcode::Version: {
        std::vector<std::uint8_t> v(8, 0);
        for (std::size_t i = 0; i < firmwareVersion_.size() && i < 8; ++i)
            v[i] = static_cast<std::uint8_t>(firmwareVersion_[i]);
        Reply(v);
        return;
    }
    case Opcode::EnterLoader:
        // No answer; the loader waits for its unlock sequence.
        if (req[1] == kEnterLoaderKey[0] && req[2] == kEnterLoaderKey[1]) {
            bootloader_ = true;
            loaderUnlocked_ = false;
            loaderBlocks_.clear();
            logging_ = false;
        }
        return;
    case Opcode::ReadEmulator: {
        const int addr = req[1] * 256 + req[2];
        const int len = req[3] * 256 + req[4];
        if (len == 0 || addr + len > kSimMemorySize) {
            Ack(false);
            return;
        }
        std::vector<std::uint8_t> out(emulator_.begin() + addr, emulator_.begin() + addr + len);
        out.push_back(kAckOk); // len bytes, then ack "1"
        Reply(out);
        return;
    }
    case Opcode::SelectEcuMode:
        if (req[1] == 'L' || req[1] == 'E') {
            ecuMode_ = static_cast<char>(req[1]);
            Ack(true);
        } else {
            Ack(false);
        }
        return;
    case Opcode::IsIgnitionOn: Ack(ignitionOn_); return;
    case Opcode::PemIsReachable: {
        const int kind = KindFromWire(req[1]);
        Ack(kind != 0 && EcuPowered(kind));
        return;
    }
    case Opcode::EcuReadEprom: {
        const int kind = KindFromWire(req[1]);
        const int addr = req[2] * 256 + req[3];
        const int n = req[4];
        std::vector<std::uint8_t> out(static_cast<std::size_t>(n), 0xFF);
        const bool ok = kind != 0 && EcuPowered(kind) && addr + n <= kSimMemorySize;
        if (ok) std::copy_n(Module(kind).memory.begin() + addr, n, out.begin());
        out.push_back(ok ? kAckOk : kAckRefused); // n bytes, then ack
        Reply(out);
        return;
    }
    case Opcode::EcuWriteEprom: {
        const int kind = KindFromWire(req[1]);
        const int addr = req[2] * 256 + req[3];
        const int n = req[4];
        const bool ok = kind != 0 && EcuPowered(kind) && addr + n <= kSimMemorySize;
        if (ok) {
            std::copy(req.begin() + 5, req.begin() + 5 + n, Module(kind).memory.begin() + addr);
            MarkMemoryChanged();
        }
        Ack(ok);
        return;
    }
    case Opcode::ReadEcuRam: {
        // Zeros while the unit is unpowered.
        UpdateLiveValues();
        const int kind = KindFromWire(req[1]);
        const int n = std::clamp<int>(req[3], 1, 3);
        std::vector<std::uint8_t> out;
        for (int i = 0; i < n; ++i) out.push_back(kind == 0 ? 0 : EcuRam(kind, (req[2] + i) & 0xFF));
        Reply(out);
        return;
    }
    case Opcode::ResetO2Adaptation:
        if (EcuPowered(kSimLH)) {
            o2Adaptation_ = 0.0;
            liveDirty_ = true;
        }
        Ack(EcuPowered(kSimLH));
        return;
    case Opcode::PemDetectStart:
        detectArmed_ = true;
        detectMask_ = req[1] & 3;
        detectStatus_ = 0;
        for (int k = kSimLH; k <= kSimEZK; ++k) {
            SimModule& m = Module(k);
            if ((detectMask_ & k) != 0 && m.announcePending && m.rebootAtMs < 0) {
                m.announcePending = false;
                m.initiation = true;
                detectStatus_ |= k;
            }
        }
        Ack(true);
        return;
    case Opcode::PemDetectStatus: Reply({static_cast<std::uint8_t>(detectStatus_)}); return;
    case Opcode::PemDetectStop:
        detectArmed_ = false;
        Ack(true);
        return;
    case Opcode::PemSelect: {
        const int kind = KindFromWire(req[1]);
        const bool ok = kind != 0 && EcuPowered(kind) && Module(kind).initiation;
        if (ok) selected_ = kind;
        Ack(ok);
        return;
    }
    case Opcode::PemFirmwareVersion: {
        if (selected_ == 0) return; // nobody to ask: no answer
        std::string v = Module(selected_).firmwareVersion;
        v.resize(5, ' ');
        Reply(std::vector<std::uint8_t>(v.begin(), v.end()));
        return;
    }
    case Opcode::PemWriteBlock: {
        const int addr = req[1] + 256 * req[2];
        SimCrc crc;
        crc.Update(req.data() + 1, 66);
        const std::uint16_t sent = static_cast<std::uint16_t>(req[67] + 256 * req[68]);
        const bool ok =
            selected_ != 0 && crc.Finish() == sent && addr + 64 <= kSimMemorySize && !(refuseFault_ && refuseFault_());
        if (ok) {
            std::copy(req.begin() + 3, req.begin() + 67, Module(selected_).memory.begin() + addr);
            MarkMemoryChanged();
        }
        Ack(ok);
        return;
    }
    case Opcode::PemReadBlock: {
        const int addr = req[1] * 256 + req[2];
        if (selected_ == 0 || addr + 64 > kSimMemorySize) {
            Ack(false);
            return;
        }
        const auto& mem = Module(selected_).memory;
        std::vector<std::uint8_t> out(mem.begin() + addr, mem.begin() + addr + 64);
        SimCrc crc;
        crc.Update(static_cast<std::uint8_t>(addr & 0xFF));
        crc.Update(static_cast<std::uint8_t>(addr >> 8));
        crc.Update(out.data(), out.size());
        std::uint16_t c = crc.Finish();
        if (crcFault_ && crcFault_()) c = static_cast<std::uint16_t>(c ^ 0x0101);
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
        out.push_back(kAckOk);
        Reply(out);
        return;
    }
    case Opcode::PemFinish: {
        const bool ok = req[1] == kPemFinishKey[0] && req[2] == kPemFinishKey[1] && selected_ != 0;
        if (ok) {
            Module(selected_).initiation = false;
            selected_ = 0;
            if (dirty_) SaveStateNoting();
        }
        Ack(ok);
        return;
    }
    case Opcode::PemFirmwareUpdateStart: {
        // The selected module takes its first 16256 bytes as new firmware and restarts.
        const bool ok = req[1] == kPemFirmwareUpdateKey[0] && req[2] == kPemFirmwareUpdateKey[1] && selected_ != 0;
        if (ok) {
            SimModule& m = Module(selected_);
            const bool written = std::any_of(m.memory.begin(), m.memory.begin() + kSimPemFirmwareSize,
                                             [](std::uint8_t b) { return b != 0xFF; });
            if (written) m.firmwareVersion = options_.upgradedPemFirmwareVersion;
            m.initiation = false;
            m.rebootAtMs = now + kPemRebootMs;
            m.announcePending = true;
            selected_ = 0;
            dirty_ = true;
        }
        Ack(ok);
        return;
    }
    case Opcode::DataLog: ExecuteLog(req); return;
    case Opcode::ReadAuxInput: {
        UpdateLiveValues();
        const std::uint16_t v = InputChannel(req[1]);
        Reply({static_cast<std::uint8_t>(v & 0xFF), static_cast<std::uint8_t>(v >> 8)}); // low byte first
        return;
    }
    case Opcode::SetAuxInputFilter:
        if (req[1] < filters_.size() && req[2] <= 5) {
            filters_[req[1]] = req[2];
            Ack(true);
        } else {
            Ack(false);
        }
        return;
    case Opcode::ReadRpmPeriod: {
        UpdateLiveValues();
        // Emulating an EZF the device measures the ignition unit's speed signal, as in its
        // records; otherwise the fuel unit's.
        const std::uint32_t p = ecuMode_ == 'E' ? ezfPeriodCounts_ : periodCounts_;
        Reply({static_cast<std::uint8_t>(p & 0xFF), static_cast<std::uint8_t>((p >> 8) & 0xFF),
               static_cast<std::uint8_t>((p >> 16) & 0xFF)});
        return;
    }
    default: return;
    }
}

void SimDevice::ExecuteLoader(const std::vector<std::uint8_t>& req) {
    switch (static_cast<Opcode>(req[0])) {
    case Opcode::LoaderUnlock:
        // Unlocking starts a fresh upload: the blocks taken so far are forgotten.
        if (req[1] == kLoaderUnlockKey[0] && req[2] == kLoaderUnlockKey[1] && req[3] == kLoaderUnlockKey[2]) {
            loaderUnlocked_ = true;
            loaderBlocks_.clear();
            Reply({kAckLoader});
        } else {
            ++protocolFaults_;
        }
        return;
    case Opcode::FirmwareBlock: {
        // The loader cannot tell a repeated block from the next one: it keeps whatever comes.
        if (req[1] != kFirmwareBlockKey || !loaderUnlocked_) {
            ++protocolFaults_;
            return;
        }
        SimCrc crc;
        crc.Update(req.data() + 2, 256);
        const bool ok =
            crc.Finish() == static_cast<std::uint16_t>(req[258] + 256 * req[259]) && !(refuseFault_ && refuseFault_());
        if (ok) loaderBlocks_.emplace_back(req.begin() + 2, req.begin() + 258);
        Ack(ok);
        return;
    }
    case Opcode::Restart:
        if (req[1] != kRestartKey) {
            ++protocolFaults_;
            return;
        }
        Reply({kAckRestart});
        if (!restartAtMs_) restartAtMs_ = clock_.NowMs() + kRestartDelayMs;
        return;
    default: return; // a repeated loader entry is ignored
    }
}

std::vector<std::vector<std::uint8_t>> SimDevice::AcceptedFirmwareBlocks() const {
    std::vector<std::uint8_t> payload = options_.acceptedFirmware;
    if (payload.empty()) {
        // The program's embedded image: a container whose header gives the payload's place.
        const auto packed = LoadResource("FIRMWARE");
        const std::vector<std::uint8_t> image = packed ? UnpackResource(*packed) : std::vector<std::uint8_t>{};
        auto u32 = [&image](std::size_t at) {
            return static_cast<std::size_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                            static_cast<std::uint32_t>(image[at + 3]) << 24);
        };
        if (image.size() >= kFirmwareContainerHeader) {
            const std::size_t offset = u32(25);
            const std::size_t length = u32(29);
            if (offset <= image.size() && length <= image.size() - offset)
                payload.assign(image.begin() + static_cast<std::ptrdiff_t>(offset),
                               image.begin() + static_cast<std::ptrdiff_t>(offset + length));
        }
    }
    std::vector<std::vector<std::uint8_t>> blocks;
    for (std::size_t at = 0; at < payload.size(); at += kLoaderBlock) {
        std::vector<std::uint8_t> block(kLoaderBlock, 0xFF);
        std::copy(payload.begin() + static_cast<std::ptrdiff_t>(at),
                  payload.begin() + static_cast<std::ptrdiff_t>(std::min(payload.size(), at + kLoaderBlock)),
                  block.begin());
        blocks.push_back(std::move(block));
    }
    return blocks;
}

void SimDevice::CompleteRestart() {
    restartAtMs_.reset();
    // The new firmware runs only when the loader holds exactly its blocks, in order; anything
    // else and the old firmware starts again.
    if (bootloader_ && loaderUnlocked_ && !loaderBlocks_.empty() && loaderBlocks_ == AcceptedFirmwareBlocks()) {
        firmwareVersion_ = options_.upgradedFirmwareVersion;
        dirty_ = true;
    }
    bootloader_ = false;
    loaderUnlocked_ = false;
    loaderBlocks_.clear();
    logging_ = false;
    requestOpen_ = false;
    request_.clear();
    outbox_.clear();
}

void SimDevice::ExecuteLog(const std::vector<std::uint8_t>& req) {
    const std::int64_t now = clock_.NowMs();
    switch (static_cast<DataLogOp>(req[1])) {
    case DataLogOp::Configure: {
        std::vector<LogItem> items;
        int size = 0;
        bool ok = true;
        for (int i = 0; i < req[2]; ++i) {
            const std::uint8_t a = req[static_cast<std::size_t>(3 + 2 * i)];
            const std::uint8_t s = req[static_cast<std::size_t>(4 + 2 * i)];
            if (s < 1 || s > 9) ok = false;
            items.push_back({a, s});
            size += s;
        }
        if (ok) {
            logItems_ = std::move(items);
            logRecordSize_ = size;
        }
        Ack(ok);
        return;
    }
    case DataLogOp::SetRate: // the rate is the sample period in milliseconds
        if (req[2] == 0) {
            Ack(false);
            return;
        }
        logPeriodMs_ = req[2];
        Ack(true);
        return;
    case DataLogOp::Start: // records every period from now on, the first one period from now
        logging_ = true;
        logStalled_ = false;
        logStartMs_ = now;
        logNextIndex_ = 1;
        logFirstOfStretch_ = true;
        lastKeepAliveMs_ = now;
        Ack(true);
        return;
    case DataLogOp::Stop:
        logging_ = false;
        Ack(true);
        return;
    case DataLogOp::KeepAlive:
        // A keep-alive after a pause resumes the stream on the time stamps it would have had;
        // the periods in between are lost.
        lastKeepAliveMs_ = now;
        if (logging_ && logStalled_) {
            logStalled_ = false;
            logNextIndex_ = (now - logStartMs_) / logPeriodMs_ + 1;
        }
        Ack(logging_);
        return;
    case DataLogOp::ReadRecord: // one record now, on the DATALOG channel, no trailer
        if (logRecordSize_ > 0) Reply(BuildRecord(), DATALOG);
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// Time

void SimDevice::SetIgnition(bool on) {
    AdvanceModel(clock_.NowMs());
    ApplySwitch(on, clock_.NowMs());
}

void SimDevice::ApplySwitch(bool on, std::int64_t atMs) {
    if (on == ignitionOn_) return;
    ignitionOn_ = on;
    liveDirty_ = true;
    if (on) {
        // Power-up: armed modules announce themselves to the detection, but only when the units
        // were off long enough to power down; otherwise they carry on as they were.
        const bool poweredDown = atMs - offSinceMs_ >= kSimPowerDownMs;
        if (detectArmed_ && poweredDown) {
            for (int k = kSimLH; k <= kSimEZK; ++k) {
                if ((detectMask_ & k) != 0 && Module(k).fitted && Module(k).rebootAtMs < 0) {
                    Module(k).initiation = true;
                    detectStatus_ |= k;
                }
            }
        }
    } else {
        offSinceMs_ = atMs;
        for (auto& m : modules_) m.initiation = false;
        selected_ = 0;
    }
}

void SimDevice::ScheduleIgnition(std::int64_t atMs, bool on) {
    schedule_.push_back({atMs, on});
    std::stable_sort(schedule_.begin(), schedule_.end(),
                     [](const ScheduledSwitch& a, const ScheduledSwitch& b) { return a.atMs < b.atMs; });
}

std::int64_t SimDevice::NextEventMs() const {
    std::int64_t next = kNever;
    if (!schedule_.empty()) next = std::min(next, schedule_.front().atMs);
    for (const auto& m : modules_)
        if (m.rebootAtMs >= 0) next = std::min(next, m.rebootAtMs);
    if (restartAtMs_) next = std::min(next, *restartAtMs_);
    if (logging_ && !logStalled_) {
        next = std::min(next, logStartMs_ + logNextIndex_ * logPeriodMs_);
        next = std::min(next, lastKeepAliveMs_ + kKeepAliveTimeoutMs + 1);
    }
    return next;
}

void SimDevice::CatchUp() { AdvanceModel(clock_.NowMs()); }

// Moves the model to `nowMs`, handling every scheduled thing in time order.
void SimDevice::AdvanceModel(std::int64_t nowMs) {
    for (;;) {
        // The earliest due event among switches, module reboots, records and the watchdog.
        std::int64_t t = kNever;
        int what = 0;
        if (!schedule_.empty() && schedule_.front().atMs <= nowMs) t = schedule_.front().atMs, what = 1;
        for (std::size_t i = 0; i < modules_.size(); ++i) {
            if (modules_[i].rebootAtMs >= 0 && modules_[i].rebootAtMs <= nowMs && modules_[i].rebootAtMs < t)
                t = modules_[i].rebootAtMs, what = 2 + static_cast<int>(i);
        }
        if (logging_ && !logStalled_) {
            const std::int64_t dead = lastKeepAliveMs_ + kKeepAliveTimeoutMs + 1;
            if (dead <= nowMs && dead < t) t = dead, what = 4;
            std::int64_t due = logStartMs_ + logNextIndex_ * logPeriodMs_;
            if (due <= nowMs && due < t) {
                // Far behind (nobody read for a long time): skip what the input queue could not hold.
                const std::int64_t behind = (nowMs - due) / logPeriodMs_;
                if (behind > kMaxCatchUpRecords) {
                    logNextIndex_ += behind - kMaxCatchUpRecords;
                    logFirstOfStretch_ = false;
                    due = logStartMs_ + logNextIndex_ * logPeriodMs_;
                }
                t = due, what = 5;
            }
        }
        if (what == 0) break;
        if (t > modelMs_) {
            engine_.AdvanceTo(t, ignitionOn_);
            modelMs_ = t;
            liveDirty_ = true;
        }
        switch (what) {
        case 1:
            ApplySwitch(schedule_.front().on, t);
            schedule_.erase(schedule_.begin());
            break;
        case 2:
        case 3: {
            SimModule& m = modules_[static_cast<std::size_t>(what - 2)];
            m.rebootAtMs = -1;
            const int k = what - 1; // 1 = LH, 2 = EZK
            if (detectArmed_ && (detectMask_ & k) != 0 && ignitionOn_) {
                m.announcePending = false;
                m.initiation = true;
                detectStatus_ |= k;
            }
            break;
        }
        case 4: logStalled_ = true; break; // nobody is collecting: pause until a keep-alive
        case 5: {
            // One sample period passed: a record when the units are powered (the device samples
            // nothing while the ignition is off; the time stamp keeps counting).
            if (ignitionOn_ && logRecordSize_ > 0) {
                std::vector<std::uint8_t> rec = BuildRecord();
                // Trailer: start count (periods before the first record of a stretch, minus one),
                // then the 24-bit time stamp in sample periods, low byte first.
                const std::int64_t k = logNextIndex_;
                rec.push_back(logFirstOfStretch_ ? static_cast<std::uint8_t>(std::min<std::int64_t>(k - 1, 255)) : 0);
                rec.push_back(static_cast<std::uint8_t>(k & 0xFF));
                rec.push_back(static_cast<std::uint8_t>((k >> 8) & 0xFF));
                rec.push_back(static_cast<std::uint8_t>((k >> 16) & 0xFF));
                Reply(rec, DATALOG);
                logFirstOfStretch_ = false;
            }
            ++logNextIndex_;
            break;
        }
        default: break;
        }
    }
    if (nowMs > modelMs_) {
        // The LH unit's oxygen-sensor adaptation learns a small correction while the engine runs.
        if (ignitionOn_ && engine_.State().running)
            o2Adaptation_ = std::min(kSimO2AdaptationTarget, o2Adaptation_ + static_cast<double>(nowMs - modelMs_) /
                                                                                 1000.0 * kSimO2AdaptationPerSecond);
        engine_.AdvanceTo(nowMs, ignitionOn_);
        modelMs_ = nowMs;
        liveDirty_ = true;
    }
    if (dirty_ && nowMs - lastSaveMs_ >= kStateSaveIntervalMs) SaveStateNoting();
}

// ---------------------------------------------------------------------------------------------
// Live values

void SimDevice::MarkMemoryChanged() {
    dirty_ = true;
    ++memoryGeneration_;
    liveDirty_ = true;
}

void SimDevice::RecomputeImageCache() {
    cacheGeneration_ = memoryGeneration_;
    auto cache = std::make_shared<FuelMapCache>();
    littleEndianRam_[0] = littleEndianRam_[1] = true;
    for (int k = kSimLH; k <= kSimEZK; ++k) {
        EpromContext ctx;
        EPROM image(ctx);
        image.LoadFromArray(Module(k).memory);
        ctx.wordBigEndian = image.GetCreator() != 2;
        // Multi-byte RAM values: Type C units keep the high byte first, the others the low byte.
        littleEndianRam_[k - 1] = image.GetCreator() != 2;
        if (k != kSimLH || image.GetECUType() != EcuType::LH23) continue;
        int mapId = 1;
        if (image.GetCreator() != 2) {
            // The map set: configuration bits 1 = non-cat, 2 = cat, otherwise the unit's own
            // selector (this car is a cat car). With the non-cat set, the unit follows the map
            // pointer at parameter entry 16 when one is there.
            const int bits = image.ReadByte(image.GetEPROMAddress(9)) & 3;
            const bool cat = bits == 2 || (bits != 1);
            mapId = cat ? 1 : 2;
            if (!cat && image.GetEPROMAddress(16) != 0 &&
                image.ReadWord(image.GetEPROMAddress(16)) == image.GetMapAddr(1))
                mapId = 1;
        }
        // Parameter 5 holds 254 - the open code, parameter 6 the close speed's distance from it.
        const int openCode = (254 - image.ReadByte(image.GetEPROMAddress(5))) & 0xFF;
        cache->flapOpenCode = openCode;
        cache->flapCloseCode = (openCode - image.ReadByte(image.GetEPROMAddress(6)) - 1) & 0xFF;
        cache->flapLoadThreshold = image.ReadByte(image.GetEPROMAddress(10));
        for (int i = 0; i < 16; ++i) {
            cache->rpmAxis[static_cast<std::size_t>(i)] = image.LH_GetRPMAxisPoint(i);
            cache->mafAxis[static_cast<std::size_t>(i)] = image.LH_GetMAFAxisPoint(i);
            for (int x = 0; x < 16; ++x)
                cache->cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(x)] = image.ReadMapCell(mapId, x, i);
        }
        cache->valid = true;
    }
    fuelMap_ = std::move(cache);
}

namespace {

// The fuel factor of a map at an operating point (bilinear between the four cells around it, as
// the unit blends them): raw 128 is neutral, 1/512 per step.
template <class Map>
double BlendedFuel(const Map& c, double rpm, double mafLoad) {
    const double x = AxisPosition(c.rpmAxis, LhRpmCode(rpm));
    const double y = AxisPosition(c.mafAxis, mafLoad);
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    const int x1 = std::min(x0 + 1, 15), y1 = std::min(y0 + 1, 15);
    const double fx = x - x0, fy = y - y0;
    auto cell = [&](int yy, int xx) {
        return static_cast<double>(c.cells[static_cast<std::size_t>(yy)][static_cast<std::size_t>(xx)]);
    };
    const double v =
        (1 - fy) * ((1 - fx) * cell(y0, x0) + fx * cell(y0, x1)) + fy * ((1 - fx) * cell(y1, x0) + fx * cell(y1, x1));
    return std::max(0.2, 1.0 + (v - 128.0) / 512.0);
}

double Lerp(double a, double b, double f) { return a + (b - a) * std::clamp(f, 0.0, 1.0); }

// The car's engine is the one the built-in LH 2.3 base image was made for.
constexpr const char* kEngineBaseImage = "MRX_D";
constexpr int kEngineMapId = 1;
// Towards full load the engine runs best on a richer mixture; the base image gives it about 12.5.
constexpr double kFullLoadAfr = 12.5;

} // namespace

// Fuel delivered relative to what the engine needs at 14.7, from the base map cells around the
// operating point.
double SimDevice::FuelFactorAt(double rpm, double mafLoad) const {
    if (!fuelMap_ || !fuelMap_->valid) return 1.0;
    return BlendedFuel(*fuelMap_, rpm, mafLoad);
}

double SimDevice::NeedAt(double rpm, double mafLoad) const {
    const double load = mafLoad / kFullLoadTicks;
    // The engine's own wobble over speed and load: about 2 % either way.
    const double wobble = 1.0 + 0.012 * std::sin(rpm / 700.0) + 0.008 * std::cos(load * 7.0);
    const double richer = Lerp(1.0, 14.7 / kFullLoadAfr, (load - 0.7) / 0.18);
    const double base = need_ && need_->valid ? BlendedFuel(*need_, rpm, mafLoad) : 1.0;
    return base * wobble / richer;
}

double SimDevice::SteadyAirFuelRatioAt(double rpm, double load) {
    if (!fuelMap_ || cacheGeneration_ != memoryGeneration_) RecomputeImageCache();
    if (!need_) {
        auto need = std::make_shared<FuelMapCache>();
        EPROM base;
        if (LoadBaseImage(kEngineBaseImage, base).empty()) {
            for (int i = 0; i < 16; ++i) {
                need->rpmAxis[static_cast<std::size_t>(i)] = base.LH_GetRPMAxisPoint(i);
                need->mafAxis[static_cast<std::size_t>(i)] = base.LH_GetMAFAxisPoint(i);
                for (int x = 0; x < 16; ++x)
                    need->cells[static_cast<std::size_t>(i)][static_cast<std::size_t>(x)] =
                        base.ReadMapCell(kEngineMapId, x, i);
            }
            need->valid = true;
        }
        need_ = std::move(need);
    }
    const double mafLoad = load * kFullLoadTicks;
    return std::clamp(14.7 * NeedAt(rpm, mafLoad) / FuelFactorAt(rpm, mafLoad), 9.0, 19.0);
}

void SimDevice::PutRam(int kind, int addressByte, std::uint32_t value, int bytes) {
    auto& ram = ram_[static_cast<std::size_t>(kind - 1)];
    const bool lowFirst = littleEndianRam_[kind - 1];
    for (int i = 0; i < bytes; ++i) {
        const int shift = lowFirst ? 8 * i : 8 * (bytes - 1 - i);
        ram[static_cast<std::size_t>((addressByte + i) & 0xFF)] = static_cast<std::uint8_t>((value >> shift) & 0xFF);
    }
}

void SimDevice::UpdateLiveValues() {
    if (!liveDirty_) return;
    liveDirty_ = false;
    if (!fuelMap_ || cacheGeneration_ != memoryGeneration_) RecomputeImageCache();
    const SimEngineState& e = engine_.State();
    // The engine dies with the ignition at once (the model notices at its next tick).
    const bool running = ignitionOn_ && e.running && e.rpm >= 50.0;
    const double rpm = running ? e.rpm : 0.0;

    // Engine period as the device measures it (1.3333 us counts; two pulses per revolution).
    periodCounts_ = running ? static_cast<std::uint32_t>(std::min(22.5e6 / rpm, 16777215.0)) : 0xFFFFFF;
    ezfPeriodCounts_ = running ? Clamp16(3.6e6 / rpm) : 0xFFFF;
    sparkDelayCounts_ =
        running ? static_cast<std::uint32_t>(std::max(0.0, (68.4 - e.advanceDeg) / 360.0 * 12.5 * ezfPeriodCounts_))
                : 0;

    // Mixture: the engine's own breathing error over the fuel the LH unit delivers.
    // MAF load: the base injection time of one revolution's air, 10.8 us ticks; full load 250.
    const double mafLoad = running ? e.load * kFullLoadTicks : 0.0;
    const double fuel = running ? FuelFactorAt(rpm, mafLoad) : 1.0;
    // The gas at the sensor was burnt a moment ago, at the operating point of then.
    const double noise = 0.03 * std::sin(static_cast<double>(modelMs_) / 137.0);
    const double burnt = running ? SteadyAirFuelRatioAt(e.mixtureRpm, e.mixtureLoad) * (1.0 + e.mixtureNoise) : 19.0;
    afr_ = !running ? 19.0 : e.mixtureFuelCut ? 19.0 : std::clamp(burnt + noise, 9.0, 19.0);
    // The sensor reads at the lean end of its output until its heater has warmed it.
    if (running && e.runSeconds < kSimWidebandWarmUpSeconds) afr_ = 19.0;

    // Device inputs (16-bit, 65536 = 5 V).
    inputs_.fill(0);
    inputs_[kChWideband] = Clamp16((afr_ - 9.0) / 10.0 * 65536.0); // 0 V = 9.0, 5 V = 19.0
    inputs_[kChMaf] = Clamp16((0.1 + 3.2 * std::pow(e.load, 0.8)) / 5.03 * 65536.0);
    inputs_[kChAux1] = Adc16(VoltsForTemp(kLh23CoolantX, kTempY, e.coolantC));
    inputs_[kChAux1 + 1] =
        Adc16(running && e.throttle == SimThrottle::Idle ? 0.2 : 4.8);                   // idle switch closes to ground
    inputs_[kChAux1 + 2] = Adc16(running && e.throttle == SimThrottle::Wot ? 0.2 : 4.8); // full-load switch
    inputs_[kChAux1 + 3] = Adc16(VoltsForTemp(kAirTempX, kAirTempY, e.airC));
    const double vacuumInHg = running && vacuumFeed_ ? 20.0 * (1.0 - e.load) : 0.0;
    // The sensor gives atmospheric pressure (4.61 V at sea level) while the engine stands.
    inputs_[kChVacuum] = vacuumPlugged_ ? Adc16(4.61 - vacuumInHg * 0.175) : 0;
    // The device's input filters: a first-order lag per channel, coefficient 0 (none) to 5.
    static constexpr double kFilterTauMs[6] = {0.0, 20.0, 50.0, 100.0, 200.0, 400.0};
    const double dt = static_cast<double>(modelMs_ - filterMs_);
    for (std::size_t ch = 0; ch < inputs_.size(); ++ch) {
        const double raw = inputs_[ch];
        const int k = std::clamp(filters_[ch], 0, 5);
        if (k == 0 || !filterPrimed_)
            filtered_[ch] = raw;
        else
            filtered_[ch] += (raw - filtered_[ch]) * (1.0 - std::exp(-dt / kFilterTauMs[k]));
        inputs_[ch] = Clamp16(filtered_[ch]);
    }
    filterMs_ = modelMs_;
    filterPrimed_ = true;
    mafReading_ = inputs_[kChMaf];
    // Injection time per revolution: about 80 % of a revolution at full load and 6000 rpm.
    const double pwMs = running && !e.fuelCut ? (0.9 + 7.5 * e.load) * fuel : 0.0;
    lh22InjectionCounts_ = static_cast<std::uint32_t>(pwMs / 1000.0 / (8.0 / 6e6));

    // LH 2.3 RAM.
    ram_[0].fill(0);
    if (EcuPowered(kSimLH)) {
        const bool creator2 = !littleEndianRam_[0];
        PutRam(kSimLH, kLhPeriod, running ? static_cast<std::uint32_t>(std::min(15e6 / rpm, 16777215.0)) : 0, 3);
        PutRam(kSimLH, kLhMafLoad, Clamp16(mafLoad), 2);
        PutRam(kSimLH, kLhInjection, Clamp16(pwMs * 1000.0 / 2.6666667), 2);
        PutRam(kSimLH, kLhCoolant, AdcByte(VoltsForTemp(kLh23CoolantX, kTempY, e.coolantC)), 1);
        PutRam(kSimLH, kLhCoolantAxis, AdcByte(VoltsForTemp(kLh23CoolantX, kTempY, e.coolantC)), 1);
        PutRam(kSimLH, kLhMafVolts, Clamp8((2.7 + 2.2 * e.load - 2.629) * 256.0 / (5.0 * 0.498)), 1);
        const int throttle = !running                          ? 1
                             : e.throttle == SimThrottle::Idle ? 1
                             : e.throttle == SimThrottle::Wot  ? 2
                                                               : 0;
        PutRam(kSimLH, kLhThrottle, static_cast<std::uint32_t>(throttle | 0x40), 1); // bit 6: cat map set
        PutRam(kSimLH, kLhBattery, Clamp8(e.batteryV * 15.83333 - 0.5), 1);
        PutRam(kSimLH, kLhCoPot, 128, 1);
        PutRam(kSimLH, kLhRpmCode, LhRpmCode(rpm), 1);
        const double o2Pct =
            running && e.throttle != SimThrottle::Wot ? 2.0 * std::sin(static_cast<double>(modelMs_) / 700.0) : 0.0;
        const double o2Word =
            creator2 ? (o2Pct / 100.0 + 1.0) * 32768.0 : (2.0 * (o2Pct / 100.0 + 1.0) - 1.0) * 32768.0;
        PutRam(kSimLH, kLhO2Correction, Clamp16(o2Word), 2);
        PutRam(kSimLH, kLhIdleStab,
               Clamp16((e.throttle == SimThrottle::Idle ? 30.0 : 20.0) / 100.0 * 10240.0 / 2.666667), 2);
        auto adapt = [](double pct) {
            return static_cast<std::uint32_t>(
                std::clamp((2.0 * (pct / 100.0 + 1.0) - 1.0) * 8421376.0, 0.0, 16777215.0));
        };
        PutRam(kSimLH, kLhO2Adapt1, adapt(o2Adaptation_ * 100.0), 3);
        PutRam(kSimLH, kLhO2Adapt2, adapt(o2Adaptation_ * 50.0), 3);
        auto& r = ram_[0];
        if (e.fuelCut) r[kLhFuelCutByte] |= kLhFuelCutMask;
        if (running && e.throttle == SimThrottle::Idle && rpm > 1000.0) r[kLhTransientByte] |= kLhTransientMask;
        if (!fuelMap_ || cacheGeneration_ != memoryGeneration_) RecomputeImageCache();
        if (running && fuelMap_->FlapOpen(LhRpmCode(rpm), Clamp16(mafLoad))) r[kLhFlapByte] |= kLhFlapMask;
    }

    // EZK RAM.
    ram_[1].fill(0);
    if (EcuPowered(kSimEZK)) {
        PutRam(kSimEZK, kEzkPeriod, running ? Clamp16(2666666.67 / rpm) : 0, 2);
        const double base = e.advanceDeg + 90.5e-6 * rpm * 6.0;
        PutRam(kSimEZK, kEzkAdvance, Clamp8((60.0 - base) * 16.0 / 6.0), 1);
        PutRam(kSimEZK, kEzkLoad, Clamp8(e.load * 255.0), 1);
        PutRam(kSimEZK, kEzkCoding, 4, 1); // 98 octane, catalyst
        PutRam(kSimEZK, kEzkCoolant, AdcByte(VoltsForTemp(kEzkCoolantX, kTempY, e.coolantC)), 1);
        PutRam(kSimEZK, kEzkKnockCount, e.knockCounter, 1);
        PutRam(kSimEZK, kEzkBattery, Clamp8(e.batteryV * 0.268 * 256.0 / 5.0), 1);
        auto& r = ram_[1];
        if (running && e.throttle == SimThrottle::Idle) r[kEzkSwitchByte] |= kEzkIdleMask;
        if (running && e.throttle == SimThrottle::Wot) r[kEzkSwitchByte] |= kEzkWotMask;
        if (running && rpm > 1000.0) r[kEzkSwitchByte] |= kEzkSelectorMask;
        r[kEzkGearboxByte] |= kEzkGearboxMask;
    }

    // Knock retard block as the ignition unit hands it over: a marker that reads 0x63 after as
    // many right rotations as the per-cylinder bytes are rotated; cylinder order 4 5 6 2 7 3 1 8.
    knockBlock_.fill(0);
    if (EcuPowered(kSimEZK)) {
        static constexpr int kCylinderAtSlot[8] = {4, 5, 6, 2, 7, 3, 1, 8};
        const int r = e.knockCounter & 7;
        knockBlock_[0] = Rotl8(0x63, r);
        for (int j = 1; j <= 8; ++j) {
            const int slot = ((j - 1 - r) % 8 + 8) % 8; // 0-based slot after un-rotation
            knockBlock_[static_cast<std::size_t>(j)] = e.retard[static_cast<std::size_t>(kCylinderAtSlot[slot] - 1)];
        }
    }
}

std::uint8_t SimDevice::EcuRam(int kind, int addressByte) {
    if (kind != kSimLH && kind != kSimEZK) return 0;
    UpdateLiveValues();
    return ram_[static_cast<std::size_t>(kind - 1)][static_cast<std::size_t>(addressByte & 0xFF)];
}

std::uint16_t SimDevice::InputChannel(int channel) {
    UpdateLiveValues();
    if (channel < 0 || channel >= static_cast<int>(inputs_.size())) return 0;
    return inputs_[static_cast<std::size_t>(channel)];
}

int SimDevice::InputFilter(int channel) const {
    if (channel < 0 || channel >= static_cast<int>(filters_.size())) return 0;
    return filters_[static_cast<std::size_t>(channel)];
}

std::uint32_t SimDevice::EnginePeriodCounts() {
    UpdateLiveValues();
    return periodCounts_;
}

double SimDevice::AirFuelRatio() {
    UpdateLiveValues();
    return afr_;
}

// One record of the configured items: device items (addresses below 20) from the device's own
// measurements, low byte first; ECU RAM bytes from the unit selected by the last block marker
// (17 = LH, 18 = EZK; LH before any marker).
std::vector<std::uint8_t> SimDevice::BuildRecord() {
    UpdateLiveValues();
    std::vector<std::uint8_t> out;
    out.reserve(static_cast<std::size_t>(logRecordSize_) + 4);
    int unit = kSimLH;
    auto putLE = [&out](std::uint32_t v, int size) {
        for (int i = 0; i < size; ++i) out.push_back(i < 4 ? static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF) : 0);
    };
    for (const auto& item : logItems_) {
        const std::uint8_t a = item.address;
        const int size = item.size;
        if (a >= kFirstRamAddress) {
            for (int i = 0; i < size; ++i)
                out.push_back(ram_[static_cast<std::size_t>(unit - 1)][static_cast<std::size_t>((a + i) & 0xFF)]);
            continue;
        }
        switch (a) {
        case kItemValid: putLE(ignitionOn_ ? 1 : 0, size); break;
        case kItemLHMarker:
            unit = kSimLH;
            putLE(EcuPowered(kSimLH) ? 1 : 0, size);
            break;
        case kItemEZKMarker:
            unit = kSimEZK;
            putLE(EcuPowered(kSimEZK) ? 1 : 0, size);
            break;
        case kItemKnockRetard:
            for (int i = 0; i < size; ++i) out.push_back(i < 9 ? knockBlock_[static_cast<std::size_t>(i)] : 0);
            break;
        case kItemEnginePeriod: putLE(periodCounts_, size); break;
        case kItemMaf: putLE(mafReading_, size); break;
        case kItemAux1:
        case kItemAux1 + 1:
        case kItemAux1 + 2:
        case kItemAux1 + 3: putLE(inputs_[static_cast<std::size_t>(kChAux1 + a - kItemAux1)], size); break;
        case kItemVacuum: putLE(inputs_[kChVacuum], size); break;
        case kItemWideband: putLE(inputs_[kChWideband], size); break;
        case kItemInjection: putLE(lh22InjectionCounts_, size); break;
        case kItemInjectionMode: putLE(0, size); break;
        case kItemSparkTiming: { // engine period (2 bytes), then spark delay (3 bytes)
            std::vector<std::uint8_t> b{static_cast<std::uint8_t>(ezfPeriodCounts_ & 0xFF),
                                        static_cast<std::uint8_t>(ezfPeriodCounts_ >> 8),
                                        static_cast<std::uint8_t>(sparkDelayCounts_ & 0xFF),
                                        static_cast<std::uint8_t>((sparkDelayCounts_ >> 8) & 0xFF),
                                        static_cast<std::uint8_t>((sparkDelayCounts_ >> 16) & 0xFF)};
            for (int i = 0; i < size; ++i) out.push_back(i < 5 ? b[static_cast<std::size_t>(i)] : 0);
            break;
        }
        default: putLE(0, size); break;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------
// State file.

void SimDevice::SaveStateNoting() {
    if (const std::string problem = SaveState(); !problem.empty())
        std::cerr << "Simulated device: the state file " << options_.stateFile << " was not saved: " << problem << "\n";
}

std::string SimDevice::SaveState() {
    lastSaveMs_ = clock_.NowMs();
    if (options_.stateFile.empty()) {
        dirty_ = false;
        return {};
    }
    SimCarState state;
    state.firmwareVersion = firmwareVersion_;
    state.lhFirmwareVersion = modules_[0].firmwareVersion;
    state.ezkFirmwareVersion = modules_[1].firmwareVersion;
    state.coolantC = engine_.State().coolantC;
    state.hasCoolant = true;
    state.emulator = emulator_;
    state.lh = modules_[0].memory;
    state.ezk = modules_[1].memory;
    std::string problem = WriteSimState(options_.stateFile, state);
    if (problem.empty()) dirty_ = false;
    return problem;
}

void SimDevice::LoadState() {
    if (options_.stateFile.empty()) return;
    Parsed<SimCarState> read = ReadSimState(options_.stateFile);
    if (!read && read.Error() == "missing") return; // a new car
    if (!read) {
        const std::string& problem = read.Error();
        // Keep the damaged file for inspection; the run starts from a fresh car.
        std::error_code ec;
        const std::string aside = options_.stateFile + ".bad";
        std::filesystem::copy_file(PathFromUtf8(options_.stateFile), PathFromUtf8(aside),
                                   std::filesystem::copy_options::overwrite_existing, ec);
        std::cerr << "Simulated device: the state file " << options_.stateFile << " is malformed (" << problem
                  << "); starting with a fresh car" << (ec ? "" : " (the old file is kept as " + aside + ")") << "\n";
        dirty_ = true;
        return;
    }
    SimCarState& state = *read;
    firmwareVersion_ = state.firmwareVersion;
    modules_[0].firmwareVersion = state.lhFirmwareVersion;
    modules_[1].firmwareVersion = state.ezkFirmwareVersion;
    emulator_ = std::move(state.emulator);
    modules_[0].memory = std::move(state.lh);
    modules_[1].memory = std::move(state.ezk);
    if (state.hasCoolant) engine_.SetCoolant(state.coolantC);
    ++memoryGeneration_;
}

} // namespace kv
