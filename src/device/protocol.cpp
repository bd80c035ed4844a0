#include "device/protocol.h"

#include "device/crc16.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>

namespace kv {

namespace {

std::uint8_t Byte(int v) { return static_cast<std::uint8_t>(v & 0xFF); }
std::uint8_t Hi(int v) { return static_cast<std::uint8_t>((v >> 8) & 0xFF); }
std::uint8_t Op(Opcode op) { return static_cast<std::uint8_t>(op); }
std::uint8_t LogOp(DataLogOp op) { return static_cast<std::uint8_t>(op); }

// A request of a head and a body, built in one buffer of its final size.
Request Join(std::initializer_list<std::uint8_t> head, const std::uint8_t* body, std::size_t n) {
    Request r(head.size() + n);
    std::copy(head.begin(), head.end(), r.begin());
    if (n > 0) std::copy(body, body + n, r.begin() + static_cast<std::ptrdiff_t>(head.size()));
    return r;
}

void AppendCrc(Request& r, std::uint16_t crc) {
    r.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    r.push_back(static_cast<std::uint8_t>(crc >> 8));
}

} // namespace

std::uint8_t EcuRamAddressByte(int address) {
    int b = address & 0xFF;
    if (address >= 0xF700) b = (b + 0x80) & 0xFF;
    return static_cast<std::uint8_t>(b);
}

std::uint8_t EcuKindChar(int ecuKind) {
    if (ecuKind == 1) return 'L';
    if (ecuKind == 2) return 'E';
    return '?';
}

Request EncodePing() { return {Op(Opcode::Ping)}; }
Request EncodeVersion() { return {Op(Opcode::Version)}; }
Request EncodeEnterLoader() { return {Op(Opcode::EnterLoader), kEnterLoaderKey[0], kEnterLoaderKey[1]}; }
Request EncodeLoaderUnlock() {
    return {Op(Opcode::LoaderUnlock), kLoaderUnlockKey[0], kLoaderUnlockKey[1], kLoaderUnlockKey[2]};
}

Request EncodeFirmwareBlock(const std::vector<std::uint8_t>& data) {
    Request r = Join({Op(Opcode::FirmwareBlock), kFirmwareBlockKey}, data.data(), data.size());
    AppendCrc(r, Crc16Of(data));
    return r;
}

Request EncodeRestart() { return {Op(Opcode::Restart), kRestartKey}; }

Request EncodeReadEmulator(int address, int length) {
    return {Op(Opcode::ReadEmulator), Hi(address), Byte(address), Hi(length), Byte(length)};
}

Request EncodeSelectEcuMode(char mode) { return {Op(Opcode::SelectEcuMode), static_cast<std::uint8_t>(mode)}; }

Request EncodePemIsReachable(int ecuKind) { return {Op(Opcode::PemIsReachable), EcuKindChar(ecuKind)}; }

Request EncodeEcuReadEprom(int ecuKind, int address, int n) {
    return {Op(Opcode::EcuReadEprom), EcuKindChar(ecuKind), Hi(address), Byte(address), Byte(n)};
}

Request EncodeEcuWriteEprom(int ecuKind, int address, const std::uint8_t* data, std::size_t count) {
    return Join(
        {Op(Opcode::EcuWriteEprom), EcuKindChar(ecuKind), Hi(address), Byte(address), static_cast<std::uint8_t>(count)},
        data, count);
}

Request EncodePemDetectStart(int mask) { return {Op(Opcode::PemDetectStart), Byte(mask)}; }
Request EncodePemDetectStatus() { return {Op(Opcode::PemDetectStatus)}; }
Request EncodePemDetectStop() { return {Op(Opcode::PemDetectStop)}; }
Request EncodePemSelect(int ecuKind) { return {Op(Opcode::PemSelect), EcuKindChar(ecuKind)}; }
Request EncodePemFirmwareVersion() { return {Op(Opcode::PemFirmwareVersion)}; }

Request EncodePemWriteBlock(int address, const std::vector<std::uint8_t>& block) {
    Crc16 crc;
    crc.CRC_Init();
    crc.CRC_Update(Byte(address));
    crc.CRC_Update(Hi(address));
    crc.CRC_Update(block.data(), block.size());
    Request r = Join({Op(Opcode::PemWriteBlock), Byte(address), Hi(address)}, block.data(), block.size());
    AppendCrc(r, crc.CRC_Finish());
    return r;
}

Request EncodePemReadBlock(int address) { return {Op(Opcode::PemReadBlock), Hi(address), Byte(address)}; }
Request EncodePemFinish() { return {Op(Opcode::PemFinish), kPemFinishKey[0], kPemFinishKey[1]}; }
Request EncodePemFirmwareUpdateStart() {
    return {Op(Opcode::PemFirmwareUpdateStart), kPemFirmwareUpdateKey[0], kPemFirmwareUpdateKey[1]};
}

Request EncodeReadEcuRam(int ecuKind, int address, int n) {
    return {Op(Opcode::ReadEcuRam), EcuKindChar(ecuKind), EcuRamAddressByte(address), Byte(std::clamp(n, 1, 3))};
}

Request EncodeResetO2Adaptation() { return {Op(Opcode::ResetO2Adaptation)}; }

Request EncodeDataLogConfigure(const std::vector<int>& addresses, const std::vector<int>& sizes) {
    const std::size_t n = std::min(addresses.size(), sizes.size());
    Request r(3 + 2 * n);
    r[0] = Op(Opcode::DataLog);
    r[1] = LogOp(DataLogOp::Configure);
    r[2] = Byte(static_cast<int>(n));
    for (std::size_t i = 0; i < n; ++i) {
        r[3 + 2 * i] = EcuRamAddressByte(addresses[i]);
        r[4 + 2 * i] = static_cast<std::uint8_t>(std::clamp(sizes[i], 0, 255));
    }
    return r;
}

Request EncodeDataLogSetRate(int rateCode) { return {Op(Opcode::DataLog), LogOp(DataLogOp::SetRate), Byte(rateCode)}; }
Request EncodeDataLogStart() { return {Op(Opcode::DataLog), LogOp(DataLogOp::Start)}; }
Request EncodeDataLogStop() { return {Op(Opcode::DataLog), LogOp(DataLogOp::Stop)}; }
Request EncodeDataLogReadRecord() { return {Op(Opcode::DataLog), LogOp(DataLogOp::ReadRecord)}; }
Request EncodeDataLogKeepAlive() { return {Op(Opcode::DataLog), LogOp(DataLogOp::KeepAlive)}; }

Request EncodeReadAuxInput(int channel) { return {Op(Opcode::ReadAuxInput), Byte(channel)}; }
Request EncodeSetAuxInputFilter(int channel, int coefficient) {
    return {Op(Opcode::SetAuxInputFilter), Byte(channel), Byte(coefficient)};
}
Request EncodeReadRpmPeriod() { return {Op(Opcode::ReadRpmPeriod)}; }
Request EncodeIsIgnitionOn() { return {Op(Opcode::IsIgnitionOn)}; }

long RequestLength(const std::uint8_t* bytes, std::size_t n, bool loader) {
    if (n == 0) return -1;
    const auto op = static_cast<Opcode>(bytes[0]);
    if (loader) {
        switch (op) {
        case Opcode::LoaderUnlock: return 4;
        case Opcode::FirmwareBlock: return static_cast<long>(kLoaderBlockSize) + 4;
        case Opcode::Restart: return 2;
        case Opcode::EnterLoader: return 3;
        default: return 0;
        }
    }
    switch (op) {
    case Opcode::Ping:
    case Opcode::Version:
    case Opcode::IsIgnitionOn:
    case Opcode::PemDetectStatus:
    case Opcode::PemDetectStop:
    case Opcode::PemFirmwareVersion:
    case Opcode::ResetO2Adaptation:
    case Opcode::ReadRpmPeriod: return 1;
    case Opcode::SelectEcuMode:
    case Opcode::PemDetectStart:
    case Opcode::PemIsReachable:
    case Opcode::PemSelect:
    case Opcode::ReadAuxInput: return 2;
    case Opcode::EnterLoader:
    case Opcode::PemReadBlock:
    case Opcode::PemFinish:
    case Opcode::PemFirmwareUpdateStart:
    case Opcode::SetAuxInputFilter: return 3;
    case Opcode::ReadEcuRam: return 4;
    case Opcode::ReadEmulator:
    case Opcode::EcuReadEprom: return 5;
    case Opcode::EcuWriteEprom: return n < 5 ? -1 : 5 + bytes[4];
    case Opcode::PemWriteBlock: return static_cast<long>(kPemBlockSize) + 5;
    case Opcode::DataLog:
        if (n < 2) return -1;
        switch (static_cast<DataLogOp>(bytes[1])) {
        case DataLogOp::Configure: return n < 3 ? -1 : 3 + 2L * bytes[2];
        case DataLogOp::SetRate: return 3;
        case DataLogOp::Start:
        case DataLogOp::Stop:
        case DataLogOp::ReadRecord:
        case DataLogOp::KeepAlive: return 2;
        }
        return 0;
    case Opcode::LoaderUnlock:
    case Opcode::FirmwareBlock:
    case Opcode::Restart: return 0;
    }
    return 0;
}

} // namespace kv
