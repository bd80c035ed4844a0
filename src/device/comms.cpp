#include "device/comms.h"

#include "device/device_trace.h"
#include "platform/clock.h"

#include <algorithm>
#include <cstdio>

namespace kv {

namespace {

// Requests of an ignition reading before it gives up and keeps the last answer.
constexpr int kIgnitionAttempts = 3;

std::string TrimSpaces(const std::string& s) {
    const auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

} // namespace

Comms::Comms(HidBackend& hid, Clock& clock, DeviceTrace* trace) : clock_(clock), link_(hid, clock, trace) {}

// ---------------------------------------------------------------------------------------------
// Standard exchange

bool Comms::AckExchange(const Request& request, std::uint8_t expected, std::vector<std::uint8_t>* data, int dataBytes,
                        double dataTimeout) {
    link_.FlushChannel(DATA);
    link_.SendRequest(request);
    const double saved = link_.ReadTimeout();
    link_.BeginReceive(DATA);
    if (dataBytes > 0) {
        if (dataTimeout > 0.0) link_.SetReadTimeout(dataTimeout);
        std::vector<std::uint8_t> d = link_.ReceiveBytes(dataBytes);
        link_.SetReadTimeout(saved);
        if (d.empty()) {
            link_.EndReceive();
            return false;
        }
        if (data) *data = std::move(d);
    } else if (dataTimeout > 0.0) {
        link_.SetReadTimeout(dataTimeout);
    }
    const std::vector<std::uint8_t> ack = link_.ReceiveBytes(1);
    link_.SetReadTimeout(saved);
    link_.EndReceive();
    return ack.size() == 1 && ack[0] == expected;
}

std::vector<std::uint8_t> Comms::DataExchange(const Request& request, int n) {
    link_.FlushChannel(DATA);
    link_.SendRequest(request);
    link_.BeginReceive(DATA);
    std::vector<std::uint8_t> d = link_.ReceiveBytes(n);
    link_.EndReceive();
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
        link_.FlushChannel(DATA);
        link_.SendRequest(EncodeEnterLoader());
        clock_.SleepMs(1000LL * k);
        link_.ShutDown();
        link_.Open();
        link_.FlushChannel(DATA);
        link_.SendRequest(EncodeLoaderUnlock());
        link_.BeginReceive(DATA);
        const std::vector<std::uint8_t> r = link_.ReceiveBytes(1);
        link_.EndReceive();
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
    link_.FlushChannel(DATA);
    link_.SendRequest(EncodeFirmwareBlock(data));
    link_.BeginReceive(DATA);
    const std::vector<std::uint8_t> ack = link_.ReceiveBytes(1);
    link_.EndReceive();
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
    dataLogRecordSize_ = static_cast<std::uint16_t>(total);
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogConfigure(addresses, sizes), kAckOk);
}

bool Comms::DataLog_SetRate(int rateCode) {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogSetRate(rateCode), kAckOk);
}

bool Comms::DataLog_StartDeviceLogging() {
    if (!EnsureOpen()) return false;
    link_.FlushChannel(DATALOG);
    return AckExchange(EncodeDataLogStart(), kAckOk);
}

bool Comms::DataLog_StopDeviceLogging() {
    if (!EnsureOpen()) return false;
    return AckExchange(EncodeDataLogStop(), kAckOk);
}

std::vector<std::uint8_t> Comms::DataLog_ReadRecord() {
    if (dataLogRecordSize_ == 0) return {};
    if (!EnsureOpen()) return {};
    link_.FlushChannel(DATA);
    link_.FlushChannel(DATALOG);
    link_.SendRequest(EncodeDataLogReadRecord());
    const double saved = link_.ReadTimeout();
    link_.SetReadTimeout(1.0);
    link_.BeginReceive(DATALOG);
    std::vector<std::uint8_t> d = link_.ReceiveBytes(dataLogRecordSize_);
    link_.EndReceive();
    link_.SetReadTimeout(saved);
    return d;
}

bool Comms::DataLog_KeepAlive() {
    link_.Note("DataLog_KeepAlive");
    if (!EnsureOpen()) return false;
    const bool ok = AckExchange(EncodeDataLogKeepAlive(), kAckOk);
    link_.Note(ok ? "DataLog_KeepAlive successful" : "DataLog_KeepAlive failed");
    return ok;
}

std::vector<std::uint8_t> Comms::DataLog_Download() {
    link_.Note("DataLog_Download");
    if (!EnsureOpen()) return {};
    const std::int64_t start = clock_.NowMs();
    const double saved = link_.ReadTimeout();
    link_.SetReadTimeout(0.001);
    std::vector<std::uint8_t> all;
    const int size = dataLogRecordSize_ + 4;
    while (all.size() < 2049) {
        link_.BeginReceive(DATALOG);
        std::vector<std::uint8_t> m = link_.ReceiveBytes(size);
        link_.EndReceive();
        if (m.empty()) break;
        all.insert(all.end(), m.begin(), m.end());
    }
    link_.SetReadTimeout(saved);
    if (link_.Tracing()) {
        if (all.empty()) {
            link_.Note("Got no data");
        } else {
            link_.Note("Downloaded data (" + std::to_string(all.size()) +
                       " bytes): " + TraceHexBytes(all.data(), all.size()));
        }
        char buf[64];
        std::snprintf(buf, sizeof buf, "Time taken: %.3f sec", static_cast<double>(clock_.NowMs() - start) / 1000.0);
        link_.Note(buf);
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
    if (!link_.IsOpen()) ignitionAnswer_.reset();
    return ignitionAnswer_.value_or(false);
}

} // namespace kv
