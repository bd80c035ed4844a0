#pragma once
// The device's wire protocol: the bytes of every request, the reply type bytes and the
// acknowledgement characters. Each request's layout is written down here and nowhere else; the
// command set, the simulated device, the fuzz targets and the VM probe all build or read requests
// through these names.
//
// A request is a byte string; the framing cuts it into 33-byte output reports (byte 1 of a
// continuation report is kContinuationMarker). A reply is a byte string on one of two channels;
// its first input report carries the channel's type byte, continuations the type byte + 1.
// Multi-byte addresses go high byte first unless an encoder says otherwise.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kv {

inline constexpr std::uint16_t kDeviceVendorId = 0x1234;
inline constexpr std::uint16_t kDeviceProductId = 0x5851;

// Reply type bytes (byte 1 of an input report): the first report of a reply, then continuations
// (type + 1). DATA answers requests; DATALOG carries data-log records.
inline constexpr std::uint8_t DATA = 0x10;
inline constexpr std::uint8_t DATALOG = 0x20;
// Byte 1 of an output report that continues a request.
inline constexpr std::uint8_t kContinuationMarker = 0xFF;

// Acknowledgement characters.
inline constexpr std::uint8_t kAckOk = '1';       // the command was carried out
inline constexpr std::uint8_t kAckRefused = '0';  // the command was refused
inline constexpr std::uint8_t kAckPing = 'T';     // answer to Ping
inline constexpr std::uint8_t kAckLoader = 'F';   // the loader is unlocked
inline constexpr std::uint8_t kAckRestart = '2';  // the device restarts into its firmware
inline constexpr std::uint8_t kIgnitionOn = '1';  // answer to IsIgnitionOn
inline constexpr std::uint8_t kIgnitionOff = '0'; // answer to IsIgnitionOn

// First byte of each request.
enum class Opcode : std::uint8_t {
    Ping = 't',
    Version = 'v',
    EnterLoader = 'F',
    LoaderUnlock = 'k', // understood by the loader only
    FirmwareBlock = 0x12,
    Restart = 0xD1,
    ReadEmulator = 'r',
    SelectEcuMode = 'm',
    IsIgnitionOn = 0x81,
    PemDetectStart = 0x82,
    ReadEcuRam = 0x84,
    EcuReadEprom = 0x85,
    EcuWriteEprom = 0x86,
    PemIsReachable = 0x88,
    ResetO2Adaptation = 0x89,
    PemDetectStatus = 0x8B,
    PemDetectStop = 0x8C,
    PemWriteBlock = 0x91,
    PemReadBlock = 0x92,
    PemFinish = 0x93,
    PemFirmwareUpdateStart = 0x94,
    PemSelect = 0x95,
    PemFirmwareVersion = 0x96,
    DataLog = 'l',
    ReadAuxInput = 'a',
    SetAuxInputFilter = 'f',
    ReadRpmPeriod = 'p',
};

// Second byte of a DataLog request.
enum class DataLogOp : std::uint8_t {
    Configure = 'c',
    SetRate = 'r',
    Start = 'q',
    Stop = '0',
    ReadRecord = 'o',
    KeepAlive = 'k',
};

// Fixed bytes that follow some opcodes, so that a stray byte cannot start them.
inline constexpr std::uint8_t kEnterLoaderKey[] = {0x6B, 0x3C};
inline constexpr std::uint8_t kLoaderUnlockKey[] = {'q', '8', 'v'};
inline constexpr std::uint8_t kFirmwareBlockKey = 0x34;
inline constexpr std::uint8_t kRestartKey = 0xE0;
inline constexpr std::uint8_t kPemFinishKey[] = {0xBE, 0xEF};
inline constexpr std::uint8_t kPemFirmwareUpdateKey[] = {0x4E, 0x27};

inline constexpr std::size_t kLoaderBlockSize = 256;  // data bytes of one FirmwareBlock
inline constexpr std::size_t kPemBlockSize = 64;      // data bytes of one PemWriteBlock / PemReadBlock
inline constexpr std::size_t kMaxEcuWriteCount = 255; // data bytes of one EcuWriteEprom

using Request = std::vector<std::uint8_t>;

// The one-byte form of an ECU RAM address: its low 8 bits, plus 0x80 (mod 256) for addresses
// 0xF700 and above.
std::uint8_t EcuRamAddressByte(int address);

// "L" for kind 1 (LH), "E" for kind 2 (EZK), "?" for anything else.
std::uint8_t EcuKindChar(int ecuKind);

// ---- presence and device firmware ----
// "t" -> "T".
Request EncodePing();
// "v" -> 8 bytes of text, zero-padded.
Request EncodeVersion();
// "F", 0x6B, 0x3C -> no answer; the device restarts into its loader.
Request EncodeEnterLoader();
// "k", "q", "8", "v" -> "F" (loader only).
Request EncodeLoaderUnlock();
// 0x12, 0x34, 256 data bytes, CRC lo, CRC hi -> "1" taken, else refused (loader only). The CRC
// covers the data bytes. `data` must hold kLoaderBlockSize bytes.
Request EncodeFirmwareBlock(const std::vector<std::uint8_t>& data);
// 0xD1, 0xE0 -> "2" (loader only).
Request EncodeRestart();

// ---- emulation memory ----
// "r", addrHi, addrLo, lenHi, lenLo -> length bytes, "1".
Request EncodeReadEmulator(int address, int length);
// "m", mode ("L" or "E") -> "1".
Request EncodeSelectEcuMode(char mode);

// ---- EPROM module in a running ECU ----
// 0x88, kind -> "1" when the running unit's module answers.
Request EncodePemIsReachable(int ecuKind);
// 0x85, kind, addrHi, addrLo, n -> n bytes, "1".
Request EncodeEcuReadEprom(int ecuKind, int address, int n);
// 0x86, kind, addrHi, addrLo, count, count data bytes -> "1". At most kMaxEcuWriteCount bytes.
Request EncodeEcuWriteEprom(int ecuKind, int address, const std::uint8_t* data, std::size_t count);

// ---- EPROM module during ECU power-up ----
// 0x82, mask (bit 0 LH, bit 1 EZK) -> "1".
Request EncodePemDetectStart(int mask);
// 0x8B -> status byte (bit 0 LH, bit 1 EZK: the module announced itself).
Request EncodePemDetectStatus();
// 0x8C -> "1".
Request EncodePemDetectStop();
// 0x95, kind -> "1".
Request EncodePemSelect(int ecuKind);
// 0x96 -> 5 bytes of text from the selected module.
Request EncodePemFirmwareVersion();
// 0x91, addrLo, addrHi, 64 data bytes, CRC lo, CRC hi -> "1". The address goes LOW byte first;
// the CRC covers addrLo, addrHi and the data. `block` must hold kPemBlockSize bytes.
Request EncodePemWriteBlock(int address, const std::vector<std::uint8_t>& block);
// 0x92, addrHi, addrLo -> 64 data bytes, CRC lo, CRC hi, "1". The CRC covers addrLo, addrHi and
// the data (address low byte first, as in the write).
Request EncodePemReadBlock(int address);
// 0x93, 0xBE, 0xEF -> "1".
Request EncodePemFinish();
// 0x94, 0x4E, 0x27 -> "1": the selected module takes the new firmware and restarts.
Request EncodePemFirmwareUpdateStart();

// ---- live ECU RAM ----
// 0x84, kind, address byte (EcuRamAddressByte), n (1..3) -> n bytes, no acknowledgement.
Request EncodeReadEcuRam(int ecuKind, int address, int n);
// 0x89 -> "1".
Request EncodeResetO2Adaptation();

// ---- data logging ----
// "l", "c", n, then n pairs (address byte, size) -> "1". Sizes are clamped to 0..255.
Request EncodeDataLogConfigure(const std::vector<int>& addresses, const std::vector<int>& sizes);
// "l", "r", rate -> "1".
Request EncodeDataLogSetRate(int rateCode);
// "l", "q" -> "1": the device starts logging on its own.
Request EncodeDataLogStart();
// "l", "0" -> "1".
Request EncodeDataLogStop();
// "l", "o" -> one record on DATALOG.
Request EncodeDataLogReadRecord();
// "l", "k" -> "1": logging goes on.
Request EncodeDataLogKeepAlive();

// ---- aux inputs and engine speed ----
// "a", channel -> 2 bytes, low byte first.
Request EncodeReadAuxInput(int channel);
// "f", channel, coefficient -> "1".
Request EncodeSetAuxInputFilter(int channel, int coefficient);
// "p" -> 3 bytes, low byte first.
Request EncodeReadRpmPeriod();
// 0x81 -> "1" on, "0" off.
Request EncodeIsIgnitionOn();

// The whole length of the request that `bytes` begins: 0 for a request the device does not
// know (in its loader only the loader's requests are known), -1 while too few bytes have come
// to tell.
long RequestLength(const std::uint8_t* bytes, std::size_t n, bool loader);

} // namespace kv
