#include "device/comms.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/settings_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace kv {

namespace {

constexpr int kChannelData = 0;
constexpr int kChannelDataLog = 1;
// A flush reads at most this many reports, so a device that streams without pause cannot hold
// a command in its flush forever.
constexpr int kMaxFlushReads = 256;
// A drain looks at the reply channel this often while it waits out a reply window.
constexpr std::int64_t kDrainStepMs = 10;
// Once the first report of a message has come, the device sends the rest in the following USB
// frames; a continuation report gets at least this budget (seconds) even when the caller polls
// with a shorter time-out, so a message is never cut in two.
constexpr double kContinuationBudget = 0.02;
// Requests of an ignition reading before it gives up and keeps the last answer.
constexpr int kIgnitionAttempts = 3;

int ChannelOfType(int type) { return type == DATALOG ? kChannelDataLog : kChannelData; }

int TimeoutMs(double seconds) {
    // Rounded to nearest, halves to even (the default rounding mode).
    const long ms = std::lrint(seconds * 1000.0);
    return ms < 0 ? 0 : static_cast<int>(std::min<long>(ms, 3'600'000));
}

std::string HexBytes(const std::uint8_t* data, std::size_t n) {
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

std::string TrimSpaces(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

} // namespace

std::string DefaultTracePath() {
    namespace fs = std::filesystem;
    fs::path dir;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg && fs::path(xdg).is_absolute()) {
        dir = fs::path(xdg) / "kestrovane";
    } else if (const char* home = std::getenv("HOME"); home && *home && fs::path(home).is_absolute()) {
        dir = fs::path(home) / ".cache" / "kestrovane";
    } else {
        std::error_code ec;
        dir = fs::temp_directory_path(ec);
        if (ec) return {};
    }
    return (dir / "devicetrace.txt").string();
}

// ---------------------------------------------------------------------------------------------
// Transport

Comms::Comms(HidBackend& hid, Clock& clock) : hid_(hid), clock_(clock) {
#ifdef KV_DEVICE_TRACE
    EnableTrace(DefaultTracePath());
#endif
}

Comms::~Comms() {
    if (link_.open) hid_.Close();
    link_.open = false;
    FlushTrace();
}

double Comms::NowSeconds() { return static_cast<double>(clock_.NowMs()) / 1000.0; }

void Comms::ClearRx() { link_.rxReport.fill(0); }

bool Comms::OpenDevice() {
    WriteTrace("OpenDevice");
    if (link_.open || hid_.IsOpen()) hid_.Close();
    link_.open = false;
    bool found = false;
    for (const HidDeviceInfo& info : hid_.Enumerate()) {
        if (info.vendorId != kDeviceVendorId || info.productId != kDeviceProductId) continue;
        if (hid_.Open(info.path)) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    hid_.SetInputQueueSize(32); // where the platform lets it
    hid_.FlushInput();
    link_.ringCount = {0, 0};
    link_.ringHead = {0, 0};
    link_.lateReplyUntil = -1.0;
    link_.open = true;
    link_.rxPosition = 0;
    link_.receiverState = 1;
    link_.txPosition = 1;
    link_.txState = 1;
    return true;
}

bool Comms::Comms_Open() {
    link_.readTimeout = kDefaultTimeout;
    link_.writeTimeout = kDefaultTimeout;
    if (link_.open) return true;
    return OpenDevice();
}

void Comms::Comms_ShutDown() {
    WriteTrace("Comms_ShutDown");
    if (link_.open) hid_.Close();
    link_.open = false;
    FlushTrace();
}

void Comms::ReopenIfDue() {
    if (link_.open) return;
    const double now = NowSeconds();
    if (std::fabs(now - link_.lastReopenAttempt) >= 1.0) OpenDevice();
    link_.lastReopenAttempt = NowSeconds();
}

bool Comms::ReadReport() {
    if (!link_.open) {
        ClearRx();
        return false;
    }
    if (TraceEnabled()) WriteTrace("    Begin ReadFile");
    HidReport report{};
    switch (hid_.Read(report, TimeoutMs(link_.readTimeout))) {
    case HidReadResult::Ok:
        link_.rxReport = report;
        if (TraceEnabled()) WriteTrace("    Read: " + HexBytes(report.data(), report.size()));
        return true;
    case HidReadResult::Timeout:
        hid_.Cancel();
        WriteTrace("    Read timed out");
        break;
    case HidReadResult::Failed: WriteTrace("    Read error"); break;
    case HidReadResult::Error:
        WriteTrace("    ERROR_INVALID_HANDLE");
        hid_.Close();
        link_.open = false;
        break;
    }
    ClearRx();
    return false;
}

void Comms::WriteReport() {
    if (link_.open) {
        link_.txReport[0] = 0;
        if (TraceEnabled()) WriteTrace("    Transmitting: " + HexBytes(link_.txReport.data(), link_.txReport.size()));
        // A write that fails or times out is not retried or reported: the reply time-out of the
        // command catches a lost request.
        switch (hid_.Write(link_.txReport, TimeoutMs(link_.writeTimeout))) {
        case HidWriteResult::Ok: WriteTrace("    Transmission completed"); break;
        case HidWriteResult::Timeout:
            hid_.Cancel();
            WriteTrace("    Transmission timed out");
            break;
        case HidWriteResult::Failed: WriteTrace("    Transmission error"); break;
        case HidWriteResult::Gone:
            // The device is gone: the link closes now, and the rest of the request is not sent.
            WriteTrace("    ERROR_INVALID_HANDLE");
            if (hid_.IsOpen()) hid_.Close();
            link_.open = false;
            ClearRx();
            break;
        }
    }
    link_.txPosition = 1;
    if (link_.txState == 1) link_.txState = 2;
}

// ---------------------------------------------------------------------------------------------
// Framing

void Comms::BeginTransmit() {
    link_.txPosition = 1;
    link_.txState = 1;
}

void Comms::TransmitBytes(const std::vector<std::uint8_t>& bytes) {
    for (std::uint8_t b : bytes) {
        if (link_.txPosition > 32) {
            WriteReport();
            if (link_.txState == 2) link_.txReport[static_cast<std::size_t>(link_.txPosition++)] = kContinuationMarker;
        }
        link_.txReport[static_cast<std::size_t>(link_.txPosition++)] = b;
    }
}

void Comms::EndTransmit() {
    if (link_.txPosition < 2 || (link_.txPosition == 2 && link_.txState == 2)) return;
    for (int i = link_.txPosition; i < kHidReportSize; ++i) link_.txReport[static_cast<std::size_t>(i)] = 0;
    WriteReport();
}

bool Comms::RouteReport() {
    if (!ReadReport()) return false;
    const int type = link_.rxReport[1];
    int ch;
    if (type == DATA || type == DATA + 1) {
        ch = kChannelData;
        WriteTrace("    Putting into DATA buffer");
    } else if (type == DATALOG || type == DATALOG + 1) {
        ch = kChannelDataLog;
        WriteTrace("    Putting into DATALOG buffer");
    } else {
        WriteTrace("    Discarding (unrecognized type byte)");
        return false;
    }
    const auto c = static_cast<std::size_t>(ch);
    if (link_.ringCount[c] >= kRingBufferSize) {
        WriteTrace("    Receive buffer full");
        return true;
    }
    // Head and count are multiples of 33 and the buffer holds 64 reports: a report never wraps.
    const int at = (link_.ringHead[c] + link_.ringCount[c]) % kRingBufferSize;
    std::copy(link_.rxReport.begin(), link_.rxReport.end(), link_.ringBuffer[c].begin() + at);
    link_.ringCount[c] += kHidReportSize;
    return true;
}

bool Comms::ReceiveReport() {
    const auto c = static_cast<std::size_t>(ChannelOfType(link_.rxExpectedType));
    const double saved = link_.readTimeout;
    double budget = link_.receiverState == 2 ? std::max(saved, kContinuationBudget) : saved;
    while (link_.ringCount[c] == 0) {
        if (budget <= 0.0 || !link_.open) {
            WriteTrace("Response timed out");
            // Whatever is still on its way may arrive within one more reply window.
            if (link_.rxExpectedType == DATA) link_.lateReplyUntil = NowSeconds() + std::max(saved, kDefaultTimeout);
            ClearRx();
            link_.readTimeout = saved;
            return false;
        }
        link_.readTimeout = budget;
        const std::int64_t t0 = clock_.NowMs();
        const bool r = RouteReport();
        std::int64_t t1 = clock_.NowMs();
        if (t1 <= t0) t1 = t0 + 1;                  // a read always costs at least 1 ms of budget
        if (link_.ringCount[c] == 0 && r) continue; // the other channel is streaming: not charged
        budget -= static_cast<double>(t1 - t0) / 1000.0;
    }
    link_.readTimeout = saved;
    WriteTrace("    Receiving from buffer ");
    const int head = link_.ringHead[c];
    std::copy(link_.ringBuffer[c].begin() + head, link_.ringBuffer[c].begin() + head + kHidReportSize,
              link_.rxReport.begin());
    link_.ringHead[c] = (head + kHidReportSize) % kRingBufferSize;
    link_.ringCount[c] -= kHidReportSize;
    if (TraceEnabled())
        WriteTrace("    Received from buffer: " + HexBytes(link_.rxReport.data(), link_.rxReport.size()));
    return true;
}

void Comms::BeginReceive(std::uint8_t type) {
    link_.rxExpectedType = type;
    link_.rxPosition = 0;
    link_.receiverState = 1;
}

std::vector<std::uint8_t> Comms::ReceiveBytes(int n) {
    std::vector<std::uint8_t> out;
    if (n <= 0) return out;
    out.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        if (link_.rxPosition == 0 || link_.rxPosition > 32) {
            for (;;) {
                if (!ReceiveReport()) return {};
                const int type = link_.rxReport[1];
                if (link_.receiverState == 1) {
                    if (type == link_.rxExpectedType) {
                        link_.receiverState = 2;
                        break;
                    }
                    WriteTrace("    Receive filter discarded data (receiverstate=1)");
                } else if (link_.receiverState == 2) {
                    if (type == link_.rxExpectedType + 1) break;
                    WriteTrace("    Receive filter discarded data (receiverstate=2)");
                } else {
                    break;
                }
            }
            link_.rxPosition = 2;
        }
        out.push_back(link_.rxReport[static_cast<std::size_t>(link_.rxPosition++)]);
    }
    return out;
}

void Comms::EndReceive() { link_.rxPosition = 0; }

void Comms::FlushChannel(std::uint8_t type) {
    // Take whatever the driver has queued already (reports of the other channel are filed into
    // their ring buffer), then empty this channel. After a reply that did not come in time, the
    // reply may still be on its way: DATA is drained until its late window has passed, so that
    // the next command does not take it for its own reply.
    BeginReceive(type);
    const double saved = link_.readTimeout;
    link_.readTimeout = 0.0;
    const bool drainLate = type == DATA && link_.lateReplyUntil > NowSeconds();
    int reads = 0;
    if (drainLate) WriteTrace("    Draining a late reply");
    while (drainLate && link_.open && reads < kMaxFlushReads) {
        const double left = link_.lateReplyUntil - NowSeconds();
        if (left <= 0.0) break;
        link_.readTimeout = std::max(left, 0.001);
        if (RouteReport()) ++reads;
        link_.readTimeout = 0.0;
    }
    link_.lateReplyUntil = -1.0;
    for (int i = reads; i < kMaxFlushReads && link_.open; ++i) {
        if (!ReadReport()) break;
        const int t = link_.rxReport[1];
        if (type != DATALOG && (t == DATALOG || t == DATALOG + 1)) {
            // a data-log report: keep it for the data-logging reader
            const std::size_t c = kChannelDataLog;
            if (link_.ringCount[c] < kRingBufferSize) {
                const int at = (link_.ringHead[c] + link_.ringCount[c]) % kRingBufferSize;
                std::copy(link_.rxReport.begin(), link_.rxReport.end(), link_.ringBuffer[c].begin() + at);
                link_.ringCount[c] += kHidReportSize;
            }
        }
    }
    link_.readTimeout = saved;
    EndReceive();
    const auto c = static_cast<std::size_t>(ChannelOfType(type));
    link_.ringCount[c] = 0;
    link_.ringHead[c] = 0;
    ClearRx();
}

void Comms::DrainReplies() {
    const auto end = clock_.NowMs() + static_cast<std::int64_t>(link_.readTimeout * 1000.0 + 0.5);
    FlushChannel(DATA);
    for (auto now = clock_.NowMs(); now < end && link_.open; now = clock_.NowMs()) {
        clock_.SleepMs(std::min<std::int64_t>(kDrainStepMs, end - now));
        FlushChannel(DATA);
    }
}

// ---------------------------------------------------------------------------------------------
// Standard exchange

bool Comms::EnsureOpen() {
    if (!link_.open) ReopenIfDue();
    if (!link_.open) WriteTrace("Device not open");
    return link_.open;
}

void Comms::SendRequest(const std::vector<std::uint8_t>& request) {
    BeginTransmit();
    TransmitBytes(request);
    EndTransmit();
}

bool Comms::AckExchange(const std::vector<std::uint8_t>& request, std::uint8_t expected,
                        std::vector<std::uint8_t>* data, int dataBytes, double dataTimeout) {
    FlushChannel(DATA);
    SendRequest(request);
    const double saved = link_.readTimeout;
    BeginReceive(DATA);
    if (dataBytes > 0) {
        if (dataTimeout > 0.0) link_.readTimeout = dataTimeout;
        std::vector<std::uint8_t> d = ReceiveBytes(dataBytes);
        link_.readTimeout = saved;
        if (d.empty()) {
            EndReceive();
            return false;
        }
        if (data) *data = std::move(d);
    } else if (dataTimeout > 0.0) {
        link_.readTimeout = dataTimeout;
    }
    const std::vector<std::uint8_t> ack = ReceiveBytes(1);
    link_.readTimeout = saved;
    EndReceive();
    return ack.size() == 1 && ack[0] == expected;
}

std::vector<std::uint8_t> Comms::DataExchange(const std::vector<std::uint8_t>& request, int n) {
    FlushChannel(DATA);
    SendRequest(request);
    BeginReceive(DATA);
    std::vector<std::uint8_t> d = ReceiveBytes(n);
    EndReceive();
    return d;
}

// ---------------------------------------------------------------------------------------------
// Presence and device firmware

bool Comms::Ping() {
    if (!EnsureOpen()) return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (AckExchange(EncodePing(), kAckPing)) return true;
    }
    return false;
}

bool Comms::QuickPing() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePing(), kAckPing, nullptr, 0, 0.1);
}

std::string Comms::GetFirmwareVersion() {
    if (!EnsureOpen()) return {};
    const std::vector<std::uint8_t> d = DataExchange(EncodeVersion(), 8);
    std::string text;
    for (std::uint8_t b : d) {
        if (b == 0) break;
        if (b < 32) continue;
        text += static_cast<char>(b);
    }
    return TrimSpaces(text);
}

bool Comms::EnterBootloader() {
    if (!EnsureOpen()) return false;
    for (int k = 1; k <= 4; ++k) {
        FlushChannel(DATA);
        SendRequest(EncodeEnterLoader());
        clock_.SleepMs(1000LL * k);
        Comms_ShutDown();
        Comms_Open();
        FlushChannel(DATA);
        SendRequest(EncodeLoaderUnlock());
        BeginReceive(DATA);
        const std::vector<std::uint8_t> r = ReceiveBytes(1);
        EndReceive();
        if (r.size() == 1 && r[0] == kAckLoader) return true;
    }
    return false;
}

bool Comms::WriteFirmwareBlock(const std::vector<std::uint8_t>& data) {
    if (data.size() != kLoaderBlockSize) return false;
    if (!EnsureOpen()) return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (SendFirmwareBlock(data).value_or(false)) return true;
    }
    return false;
}

std::optional<bool> Comms::SendFirmwareBlock(const std::vector<std::uint8_t>& data) {
    if (data.size() != kLoaderBlockSize) return false;
    if (!EnsureOpen()) return std::nullopt;
    FlushChannel(DATA);
    SendRequest(EncodeFirmwareBlock(data));
    BeginReceive(DATA);
    const std::vector<std::uint8_t> ack = ReceiveBytes(1);
    EndReceive();
    if (ack.empty()) return std::nullopt;
    return ack[0] == kAckOk;
}

bool Comms::RestartFirmware() {
    if (!EnsureOpen()) return false;
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (AckExchange(EncodeRestart(), kAckRestart)) break;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Emulation memory

std::vector<std::uint8_t> Comms::ReadEmulatorBlock(int address, int length) {
    if (length <= 0 || length > 0xFFFF || address < 0 || address > 0xFFFF) return {};
    if (!EnsureOpen()) return {};
    std::vector<std::uint8_t> data;
    if (!AckExchange(EncodeReadEmulator(address, length), kAckOk, &data, length)) return {};
    return data;
}

bool Comms::SelectEcuMode(char mode) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeSelectEcuMode(mode), kAckOk);
}

// ---------------------------------------------------------------------------------------------
// EPROM module in a running ECU

bool Comms::PemIsReachable(int ecuKind) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemIsReachable(ecuKind), kAckOk);
}

std::vector<std::uint8_t> Comms::EcuReadEprom(int ecuKind, int address, int n) {
    if (n <= 0 || n > 255 || address < 0 || address > 0xFFFF) return {};
    if (!EnsureOpen()) return {};
    std::vector<std::uint8_t> data;
    // The unit answers at about 3 ms per byte.
    const double dataTimeout = n * 0.003 * 20 + 0.2;
    if (!AckExchange(EncodeEcuReadEprom(ecuKind, address, n), kAckOk, &data, n, dataTimeout)) return {};
    return data;
}

bool Comms::EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data) {
    if (data.empty() || address < 0 || address + static_cast<long>(data.size()) > 0x10000) return false;
    if (!EnsureOpen()) return false;
    // The count is one byte: longer data goes as several writes.
    bool ok = true;
    for (std::size_t off = 0; off < data.size(); off += kMaxEcuWriteCount) {
        const std::size_t count = std::min(kMaxEcuWriteCount, data.size() - off);
        const int a = address + static_cast<int>(off);
        if (!AckExchange(EncodeEcuWriteEprom(ecuKind, a, data.data() + off, count), kAckOk)) ok = false;
    }
    return ok;
}

// ---------------------------------------------------------------------------------------------
// EPROM module during power-up

bool Comms::PemDetectStart(int mask) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemDetectStart(mask), kAckOk);
}

int Comms::PemDetectStatus() {
    if (!EnsureOpen()) return -1;
    const std::vector<std::uint8_t> d = DataExchange(EncodePemDetectStatus(), 1);
    return d.size() == 1 ? d[0] : -1;
}

bool Comms::PemDetectStop() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemDetectStop(), kAckOk);
}

bool Comms::PemSelect(int ecuKind) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemSelect(ecuKind), kAckOk);
}

std::string Comms::PemGetFirmwareVersion() {
    if (!EnsureOpen()) return {};
    const std::vector<std::uint8_t> d = DataExchange(EncodePemFirmwareVersion(), 5);
    std::string text;
    for (std::uint8_t b : d)
        if (b >= 32) text += static_cast<char>(b);
    return TrimSpaces(text);
}

bool Comms::PemWriteBlock(int address, const std::vector<std::uint8_t>& block64) {
    if (block64.size() != kPemBlockSize || address < 0 || address > 0xFFFF) return false;
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemWriteBlock(address, block64), kAckOk);
}

std::vector<std::uint8_t> Comms::PemReadBlock(int address) {
    if (address < 0 || address > 0xFFFF) return {};
    if (!EnsureOpen()) return {};
    const auto lo = static_cast<std::uint8_t>(address & 0xFF);
    const auto hi = static_cast<std::uint8_t>(address >> 8);
    std::vector<std::uint8_t> data;
    if (!AckExchange(EncodePemReadBlock(address), kAckOk, &data, static_cast<int>(kPemBlockSize) + 2)) return {};
    Crc16 crc;
    crc.CRC_Init();
    crc.CRC_Update(lo);
    crc.CRC_Update(hi);
    crc.CRC_Update(data.data(), data.size());
    if (!crc.CRC_IsZero()) return {};
    data.resize(kPemBlockSize);
    return data;
}

bool Comms::PemFinish() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemFinish(), kAckOk);
}

bool Comms::PemFirmwareUpdateStart() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodePemFirmwareUpdateStart(), kAckOk);
}

// ---------------------------------------------------------------------------------------------
// Live ECU RAM

std::int32_t Comms::ReadEcuRam(int ecuKind, int address, int n) {
    return TryReadEcuRam(ecuKind, address, n).value_or(0);
}

std::optional<std::int32_t> Comms::TryReadEcuRam(int ecuKind, int address, int n) {
    n = std::clamp(n, 1, 3);
    if (!EnsureOpen()) return std::nullopt;
    const std::vector<std::uint8_t> d = DataExchange(EncodeReadEcuRam(ecuKind, address, n), n);
    if (static_cast<int>(d.size()) != n) return std::nullopt;
    std::int32_t v = 0;
    if (ramByteOrderFlag_) {
        for (int i = n - 1; i >= 0; --i) v = v * 256 + d[static_cast<std::size_t>(i)];
    } else {
        for (int i = 0; i < n; ++i) v = v * 256 + d[static_cast<std::size_t>(i)];
    }
    return v;
}

bool Comms::ReadEcuRamBit(int ecuKind, int bit) {
    if (bit < 0) return false;
    const std::int32_t b = ReadEcuRam(ecuKind, 32 + bit / 8, 1);
    return ((b >> (bit % 8)) & 1) != 0;
}

bool Comms::ResetO2Adaptation() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeResetO2Adaptation(), kAckOk);
}

// ---------------------------------------------------------------------------------------------
// Data logging

bool Comms::DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes) {
    const std::size_t n = std::min(addresses.size(), sizes.size());
    unsigned total = 0;
    for (std::size_t i = 0; i < n; ++i) total += static_cast<unsigned>(std::clamp(sizes[i], 0, 255));
    link_.dataLogRecordSize = static_cast<std::uint16_t>(total);
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogConfigure(addresses, sizes), kAckOk);
}

bool Comms::DataLog_SetRate(int rateCode) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogSetRate(rateCode), kAckOk);
}

bool Comms::DataLog_StartDeviceLogging() {
    if (!EnsureOpen()) return false;
    FlushChannel(DATALOG);
    return AckExchange(EncodeDataLogStart(), kAckOk);
}

bool Comms::DataLog_StopDeviceLogging() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogStop(), kAckOk);
}

std::vector<std::uint8_t> Comms::DataLog_ReadRecord() {
    if (link_.dataLogRecordSize == 0) return {};
    if (!EnsureOpen()) return {};
    FlushChannel(DATA);
    FlushChannel(DATALOG);
    SendRequest(EncodeDataLogReadRecord());
    const double saved = link_.readTimeout;
    link_.readTimeout = 1.0;
    BeginReceive(DATALOG);
    std::vector<std::uint8_t> d = ReceiveBytes(link_.dataLogRecordSize);
    EndReceive();
    link_.readTimeout = saved;
    return d;
}

bool Comms::DataLog_KeepAlive() {
    WriteTrace("DataLog_KeepAlive");
    if (!EnsureOpen()) return false;
    const bool ok = AckExchange(EncodeDataLogKeepAlive(), kAckOk);
    WriteTrace(ok ? "DataLog_KeepAlive successful" : "DataLog_KeepAlive failed");
    return ok;
}

std::vector<std::uint8_t> Comms::DataLog_Download() {
    WriteTrace("DataLog_Download");
    if (!EnsureOpen()) return {};
    const std::int64_t start = clock_.NowMs();
    const double saved = link_.readTimeout;
    link_.readTimeout = 0.001;
    std::vector<std::uint8_t> all;
    const int size = link_.dataLogRecordSize + 4;
    while (all.size() < 2049) {
        BeginReceive(DATALOG);
        std::vector<std::uint8_t> m = ReceiveBytes(size);
        EndReceive();
        if (m.empty()) break;
        all.insert(all.end(), m.begin(), m.end());
    }
    link_.readTimeout = saved;
    if (TraceEnabled()) {
        if (all.empty()) {
            WriteTrace("Got no data");
        } else {
            WriteTrace("Downloaded data (" + std::to_string(all.size()) +
                       " bytes): " + HexBytes(all.data(), all.size()));
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "Time taken: %.3f sec", static_cast<double>(clock_.NowMs() - start) / 1000.0);
        WriteTrace(buf);
    }
    return all;
}

// ---------------------------------------------------------------------------------------------
// Aux inputs, engine speed, ignition

std::int32_t Comms::ReadAuxInput(int channel) {
    if (!EnsureOpen()) return 0;
    const std::vector<std::uint8_t> d = DataExchange(EncodeReadAuxInput(channel), 2);
    if (d.size() != 2) return 0;
    return d[0] + 256 * d[1];
}

bool Comms::SetAuxInputFilter(int channel, int coefficient) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeSetAuxInputFilter(channel, coefficient), kAckOk);
}

std::int32_t Comms::ReadRpmPeriod() {
    if (!EnsureOpen()) return 0xFFFFFF;
    const std::vector<std::uint8_t> d = DataExchange(EncodeReadRpmPeriod(), 3);
    if (d.size() != 3) return 0xFFFFFF;
    return d[0] + 256 * d[1] + 65536 * d[2];
}

bool Comms::IsIgnitionOn() {
    // A reply that does not come (or comes garbled) is no answer: ask again, and keep the last
    // answer when none comes. A device that is gone has no ignition to report.
    for (int attempt = 0; attempt < kIgnitionAttempts; ++attempt) {
        if (!EnsureOpen()) {
            ignitionAnswer_.reset();
            return false;
        }
        const std::vector<std::uint8_t> r = DataExchange(EncodeIsIgnitionOn(), 1);
        if (r.size() == 1 && (r[0] == kIgnitionOn || r[0] == kIgnitionOff)) {
            ignitionAnswer_ = r[0] == kIgnitionOn;
            return *ignitionAnswer_;
        }
    }
    if (!link_.open) ignitionAnswer_.reset();
    return ignitionAnswer_.value_or(false);
}

// ---------------------------------------------------------------------------------------------
// Connection and ignition monitoring

bool Comms::UpdateConnectionStatus(bool force) {
    const bool answered = QuickPing();
    if (lastConnectionState_ != answered || force) {
        if (indicator_) {
            if (!answered) {
                indicator_->ShowConnectionStatus(link_.open ? "Not responding" : "Not connected (or not powered)",
                                                 true);
                indicator_->ShowFirmwareVersion("");
            } else {
                indicator_->ShowConnectionStatus("Connected", false);
                const std::string v = GetFirmwareVersion();
                indicator_->ShowFirmwareVersion(v.empty() ? "Unknown" : v);
            }
        }
        lastConnectionState_ = answered;
    }
    return answered;
}

bool Comms::CheckDeviceOrExplain(UserMessages& dialogs) {
    if (!Comms_Open()) {
        dialogs.MessageBox("No Kestrovane device found. Please make sure the Kestrovane is connected to a USB port on "
                           "the computer and is powered from the diagnostics socket on the car.",
                           "Error", MsgButtons::OK, MsgIcon::Critical);
        UpdateConnectionStatus(false);
        return false;
    }
    if (!Ping()) {
        dialogs.MessageBox("The Kestrovane device is connected to the USB port but is not responding. Please try "
                           "turning the Kestrovane off and back on by disconnecting and connecting the cable to the "
                           "diagnostics socket.",
                           "Error", MsgButtons::OK, MsgIcon::Critical);
        UpdateConnectionStatus(false);
        return false;
    }
    return true;
}

bool Comms::IgnitionOnDebounced() {
    const bool v = IsIgnitionOn();
    if (!v) {
        ignitionRememberedOn_ = false;
        return false;
    }
    if (!ignitionRememberedOn_) {
        ignitionRememberedOn_ = true;
        ignitionOnSince_ = NowSeconds();
        return false;
    }
    if (ignitionOnSince_ < 0.0 || std::fabs(NowSeconds() - ignitionOnSince_) >= 0.5) {
        ignitionOnSince_ = -1.0;
        return true;
    }
    return false;
}

void Comms::ResetIgnitionDebounce() {
    ignitionRememberedOn_ = true;
    ignitionOnSince_ = -1.0;
}

// ---------------------------------------------------------------------------------------------
// Debug trace

void Comms::EnableTrace(const std::string& path) {
    FlushTrace();
    tracePath_ = path;
    traceStarted_ = false;
    traceBuffer_.clear();
    if (!tracePath_.empty()) WriteTrace("Kestrovane started ");
}

void Comms::WriteTrace(const std::string& text) {
    if (tracePath_.empty()) return;
    if (text.empty()) {
        traceBuffer_ += "\r\n";
    } else {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.2f", NowSeconds());
        traceBuffer_ += stamp;
        traceBuffer_ += '\t';
        traceBuffer_ += text;
        traceBuffer_ += "\r\n";
    }
    if (traceBuffer_.size() > 60000) FlushTrace();
}

void Comms::FlushTrace() {
    if (tracePath_.empty() || traceBuffer_.empty()) return;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path p(tracePath_);
    if (!traceStarted_) {
        if (p.has_parent_path()) fs::create_directories(p.parent_path(), ec);
        fs::remove(p, ec); // a new trace each run; errors ignored
        traceStarted_ = true;
    }
    if (std::FILE* f = std::fopen(tracePath_.c_str(), "ab")) {
        std::fwrite(traceBuffer_.data(), 1, traceBuffer_.size(), f);
        std::fclose(f);
    }
    traceBuffer_.clear();
}

void EnableTraceFromSettings(Comms& comms, SettingsStore& settings) {
    if (settings.GetSetting("Diagnostics", "DeviceTrace", "0") == "1") comms.EnableTrace(DefaultTracePath());
}

} // namespace kv
