#pragma once
// The device's command set on top of the link (device/device_link.h): every operation the
// program asks of the Kestrovane device, each one a request (device/protocol.h) and its reply.
//
// One `Comms` object exists per program (the application shell or the CLI owns it; it is not a
// global); it owns the one DeviceLink. Everything runs on one thread; one command runs to
// completion before the next starts. No call throws: commands return false, an empty vector, an
// empty string or the failure value stated with each one. Commands reopen a closed link when a
// reopen is due (once a second at most).
#include "device/crc16.h"
#include "device/device_link.h"
#include "device/hid_backend.h"
#include "device/protocol.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class Clock;
class DeviceTrace;
class EPROM;

// The firmware version the program requires of the device.
inline constexpr const char* kRequiredFirmwareVersion = "6.003";
// The firmware version the program requires of the EPROM modules.
inline constexpr const char* kRequiredPemFirmwareVersion = "1.00";

class Comms {
public:
    // `hid` and `clock` (and `trace` when given) must outlive the Comms object. The link starts
    // closed. `trace` receives the link's and the commands' notes.
    Comms(HidBackend& hid, Clock& clock, DeviceTrace* trace = nullptr);
    Comms(const Comms&) = delete;
    Comms& operator=(const Comms&) = delete;

    DeviceLink& Link() { return link_; }
    const DeviceLink& Link() const { return link_; }

    // ---- the link ----
    // Time-outs back to 0.2 s; true at once when open, else the device is looked for and opened.
    bool Comms_Open() { return link_.Open(); }
    // Closes the device if open and writes out the trace.
    void Comms_ShutDown() { link_.ShutDown(); }
    bool Comms_IsOpen() const { return link_.IsOpen(); }
    // Waits one reply window and drops every reply that arrives in it.
    void DrainReplies() { link_.DrainReplies(); }

    // ---- presence and device firmware ----
    bool Ping();                      // 4 attempts
    bool QuickPing();                 // 1 attempt within 0.1 s
    std::string GetFirmwareVersion(); // trimmed text; empty on failure
    // EnterLoader, wait k s, reopen, LoaderUnlock -> "F"; 4 attempts (k = 1..4).
    bool EnterBootloader();
    // 4 attempts; false at once unless kLoaderBlockSize bytes.
    bool WriteFirmwareBlock(const std::vector<std::uint8_t>& data);
    // One attempt of WriteFirmwareBlock: true when the loader took the block, false when it
    // refused it (any other answer), nullopt when no answer came (the loader may have taken it).
    std::optional<bool> SendFirmwareBlock(const std::vector<std::uint8_t>& data);
    // Up to 4 attempts; true whenever the link was open.
    bool RestartFirmware();

    // ---- emulation memory ----
    // `length` bytes; empty on failure.
    std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length);
    // "L" or "E".
    bool SelectEcuMode(char mode);

    // ---- EPROM module in a running ECU ----
    bool PemIsReachable(int ecuKind);
    // n bytes (n x 0.06 + 0.2 s allowed); empty on failure.
    std::vector<std::uint8_t> EcuReadEprom(int ecuKind, int address, int n);
    // Any length: sent as writes of at most kMaxEcuWriteCount bytes; true when all were taken.
    bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data);

    // ---- EPROM module during ECU power-up ----
    bool PemDetectStart(int mask);
    int PemDetectStatus(); // status byte (bit 0 LH, bit 1 EZK); -1 on failure
    bool PemDetectStop();
    bool PemSelect(int ecuKind);
    std::string PemGetFirmwareVersion(); // trimmed text; empty when nothing came
    // False unless kPemBlockSize bytes.
    bool PemWriteBlock(int address, const std::vector<std::uint8_t>& block64);
    // kPemBlockSize bytes; empty on a bad CRC or acknowledgement.
    std::vector<std::uint8_t> PemReadBlock(int address);
    bool PemFinish();
    bool PemFirmwareUpdateStart();

    // ---- live ECU RAM ----
    // n (clamped to 1..3) bytes as one value; 0 on failure. Multi-byte values follow
    // RamByteOrderFlag.
    std::int32_t ReadEcuRam(int ecuKind, int address, int n);
    // The same; nullopt when the device is closed or the answer does not come whole.
    std::optional<std::int32_t> TryReadEcuRam(int ecuKind, int address, int n);
    std::int32_t ReadEcuRam8(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 1); }
    std::int32_t ReadEcuRam16(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 2); }
    std::int32_t ReadEcuRam24(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 3); }
    // Bit (bit mod 8) of RAM byte 32 + bit / 8.
    bool ReadEcuRamBit(int ecuKind, int bit);
    bool ResetO2Adaptation();
    // Flag not set: the first byte of a multi-byte RAM value is the most significant; set: the least.
    void SetRamByteOrderFlag(bool set) { ramByteOrderFlag_ = set; }
    bool RamByteOrderFlag() const { return ramByteOrderFlag_; }

    // ---- data logging ----
    // The record size becomes the sum of the sizes (set first, whatever the device answers).
    // Addresses may be ECU RAM addresses or address bytes (the byte rule maps bytes to themselves).
    bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes);
    int DataLogRecordSize() const { return dataLogRecordSize_; }
    bool DataLog_SetRate(int rateCode);
    bool DataLog_StartDeviceLogging(); // both channels flushed first
    bool DataLog_StopDeviceLogging();
    // Both channels flushed; one record on DATALOG within 1 s; empty on failure.
    std::vector<std::uint8_t> DataLog_ReadRecord();
    bool DataLog_KeepAlive();
    // Streamed messages of the record size + 4 bytes, 1 ms each, until none comes or at least
    // 2049 bytes are collected; empty when nothing came.
    std::vector<std::uint8_t> DataLog_Download();

    // ---- aux inputs, engine speed, ignition ----
    std::int32_t ReadAuxInput(int channel); // 0 on failure
    bool SetAuxInputFilter(int channel, int coefficient);
    std::int32_t ReadRpmPeriod(); // 0xFFFFFF on failure
    // A missing or garbled reply is asked again (3 requests); when none is answered the last
    // answer stands. False when the link is closed and cannot be reopened.
    bool IsIgnitionOn();

private:
    // Flush DATA, send, receive `dataBytes` (may be 0) then one acknowledgement byte; true when
    // it is `expected`.
    bool AckExchange(const Request& request, std::uint8_t expected, std::vector<std::uint8_t>* data = nullptr,
                     int dataBytes = 0, double dataTimeout = 0.0);
    // Flush DATA, send, receive exactly n bytes without acknowledgement; empty on failure.
    std::vector<std::uint8_t> DataExchange(const Request& request, int n);
    bool EnsureOpen() { return link_.EnsureOpen(); }

    Clock& clock_;
    DeviceLink link_;
    bool ramByteOrderFlag_ = true; // follows the big-endian word order of start-up
    std::uint16_t dataLogRecordSize_ = 0;
    std::optional<bool> ignitionAnswer_; // the device's last answer to IsIgnitionOn; none yet or gone
};

// The map-set selector of an LH 2.3 image: the EPROM byte at address entry 9 decides (low two
// bits 1 = false, 2 = true); otherwise bit 6 of the LH RAM variable 7, read live.
bool LH_GetMapSetSelector(Comms& comms, const EPROM& image);

} // namespace kv
