#pragma once
// The device link: the one open connection to the Kestrovane device, its message framing with
// the two reply channels DATA and DATALOG, and every command of the device.
//
// One `Comms` object exists per program (the application shell or the CLI owns it; it is not a
// global). All I/O goes through a HidBackend, all time through a Clock. Everything runs on one
// thread; one command runs to completion before the next starts. No call throws: commands return
// false, an empty vector, an empty string or the failure value stated with each one.
#include "device/crc16.h"
#include "device/hid_backend.h"
#include "device/protocol.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class Clock;
class UserMessages;
class EPROM;
class SettingsStore;

inline constexpr int kRingBufferSize = 2112;   // 64 whole 33-byte reports per channel
inline constexpr double kDefaultTimeout = 0.2; // seconds, per reply and per report write

// The firmware version the program requires of the device.
inline constexpr const char* kRequiredFirmwareVersion = "6.003";
// The firmware version the program requires of the EPROM modules.
inline constexpr const char* kRequiredPemFirmwareVersion = "1.00";

// The state of the connection (one per Comms). Positions are indices into the 33-byte reports.
struct DeviceLink {
    bool open = false;
    double readTimeout = kDefaultTimeout;  // seconds allowed for one reply
    double writeTimeout = kDefaultTimeout; // seconds allowed for one report write
    double lastReopenAttempt = -1e9;       // seconds (clock time) of the last ReopenIfDue while closed
    HidReport rxReport{};                  // last report taken; [0] report ID, [1] type byte
    HidReport txReport{};                  // report being built; [0] always 0

    int txPosition = 1;        // where the next request byte goes (1..33)
    int txState = 1;           // 1 = first report of a request, 2 = continuation report
    int rxPosition = 0;        // next reply byte to hand out; 0 = no report in hand
    int rxExpectedType = DATA; // type byte of the first report of the reply being received
    int receiverState = 1;     // 1 = waiting for the first report, 2 = inside a reply
    std::array<std::array<std::uint8_t, kRingBufferSize>, 2> ringBuffer{}; // 0 = DATA, 1 = DATALOG
    std::array<int, 2> ringCount{};                                        // bytes held per channel, a multiple of 33
    std::array<int, 2> ringHead{};                                         // index of the oldest held byte per channel
    std::uint16_t dataLogRecordSize = 0;
    // Clock time (seconds) until which the reply to a DATA request that timed out may still
    // arrive; the next DATA flush drains until then. Negative: nothing outstanding.
    double lateReplyUntil = -1.0;
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

// Where the debug trace goes on this system: $XDG_CACHE_HOME/kestrovane/devicetrace.txt, else
// ~/.cache/kestrovane/devicetrace.txt, else the temp folder. Never a fixed shared path.
std::string DefaultTracePath();

class Comms {
public:
    // `hid` and `clock` must outlive the Comms object. The link starts closed; tracing starts off
    // unless the program was built with KV_DEVICE_TRACE.
    Comms(HidBackend& hid, Clock& clock);
    ~Comms();
    Comms(const Comms&) = delete;
    Comms& operator=(const Comms&) = delete;

    const DeviceLink& Link() const { return link_; }
    HidBackend& Hid() { return hid_; }
    Clock& GetClock() { return clock_; }

    // ---- transport ----
    // Finds the device (vendor 0x1234, product 0x5851) and opens it; resets the link on success.
    bool OpenDevice();
    // Time-outs back to 0.2 s; true at once when open, else OpenDevice.
    bool Comms_Open();
    // Closes the device if open and the trace file.
    void Comms_ShutDown();
    bool Comms_IsOpen() const { return link_.open; }
    // When closed: tries OpenDevice only if at least 1 s passed since the last try.
    void ReopenIfDue();
    // One report into rxReport within readTimeout; on failure rxReport is all zero. A removed
    // device closes the link.
    bool ReadReport();
    // One report (txReport) within writeTimeout; a time-out is not reported.
    void WriteReport();

    // ---- framing ----
    void BeginTransmit();
    void TransmitBytes(const std::vector<std::uint8_t>& bytes);
    void EndTransmit();
    // Reads one report and files it into its channel; false on no report or an unknown type.
    bool RouteReport();
    // Takes the oldest report of the current reply's channel into rxReport within readTimeout
    // (time spent receiving the other channel's reports is not charged).
    bool ReceiveReport();
    void BeginReceive(std::uint8_t type);
    // The next n bytes of the current reply; empty when it does not complete in time.
    std::vector<std::uint8_t> ReceiveBytes(int n);
    void EndReceive();
    // Drops what is pending for channel `type` (0x10 or 0x20): its ring buffer and whatever the
    // driver has queued already.
    void FlushChannel(std::uint8_t type);
    // Waits one reply window (readTimeout) and drops every DATA report that arrives in it: the
    // late answer to a request that timed out is never taken for the answer to the next one.
    void DrainReplies();

    // ---- presence and device firmware ----
    bool Ping();                      // "t" -> "T", 4 attempts
    bool QuickPing();                 // "t" -> "T", 1 attempt, 0.1 s
    std::string GetFirmwareVersion(); // "v" -> 8 bytes of text; empty on failure
    // "F" 0x6B 0x3C, wait k s, reopen, "kq8v" -> "F"; 4 attempts (k = 1..4).
    bool EnterBootloader();
    // 0x12 0x34, 256 data bytes, CRC lo, CRC hi -> "1"; 4 attempts; false at once unless 256 bytes.
    bool WriteFirmwareBlock(const std::vector<std::uint8_t>& data);
    // One attempt of WriteFirmwareBlock: true when the loader took the block ("1"), false when it
    // refused it (any other answer), nullopt when no answer came (the loader may have taken it).
    std::optional<bool> SendFirmwareBlock(const std::vector<std::uint8_t>& data);
    // 0xD1 0xE0 -> "2"; true whenever the link was open.
    bool RestartFirmware();

    // ---- emulation memory ----
    // "r", addrHi, addrLo, lenHi, lenLo -> length bytes, "1"; empty on failure.
    std::vector<std::uint8_t> ReadEmulatorBlock(int address, int length);
    // "m", "L" or "E" -> "1".
    bool SelectEcuMode(char mode);

    // ---- EPROM module in a running ECU ----
    bool PemIsReachable(int ecuKind); // 0x88, kind -> "1"
    // 0x85, kind, addrHi, addrLo, n -> n bytes (n x 0.06 + 0.2 s), "1"; empty on failure.
    std::vector<std::uint8_t> EcuReadEprom(int ecuKind, int address, int n);
    // 0x86, kind, addrHi, addrLo, count, data -> "1". At most 255 bytes.
    bool EcuWriteEprom(int ecuKind, int address, const std::vector<std::uint8_t>& data);

    // ---- EPROM module during ECU power-up ----
    bool PemDetectStart(int mask);       // 0x82, mask -> "1"
    int PemDetectStatus();               // 0x8B -> status byte (bit 0 LH, bit 1 EZK); -1 on failure
    bool PemDetectStop();                // 0x8C -> "1"
    bool PemSelect(int ecuKind);         // 0x95, kind -> "1"
    std::string PemGetFirmwareVersion(); // 0x96 -> 5 bytes of text; empty when nothing came
    // 0x91, addrLo, addrHi, 64 data bytes, CRC lo, CRC hi -> "1"; false unless 64 bytes.
    bool PemWriteBlock(int address, const std::vector<std::uint8_t>& block64);
    // 0x92, addrHi, addrLo -> 64 data bytes, CRC lo, CRC hi, "1"; empty on a bad CRC or ack.
    std::vector<std::uint8_t> PemReadBlock(int address);
    bool PemFinish();              // 0x93 0xBE 0xEF -> "1"
    bool PemFirmwareUpdateStart(); // 0x94 0x4E 0x27 -> "1"

    // ---- live ECU RAM ----
    // 0x84, kind, address byte, n (clamped to 1..3) -> n bytes; 0 on failure. Multi-byte values
    // follow RamByteOrderFlag.
    std::int32_t ReadEcuRam(int ecuKind, int address, int n);
    // The same; nullopt when the device is closed or the answer does not come whole.
    std::optional<std::int32_t> TryReadEcuRam(int ecuKind, int address, int n);
    std::int32_t ReadEcuRam8(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 1); }
    std::int32_t ReadEcuRam16(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 2); }
    std::int32_t ReadEcuRam24(int ecuKind, int address) { return ReadEcuRam(ecuKind, address, 3); }
    // Bit (bit mod 8) of RAM byte 32 + bit / 8.
    bool ReadEcuRamBit(int ecuKind, int bit);
    bool ResetO2Adaptation(); // 0x89 -> "1"
    // Flag not set: the first byte of a multi-byte RAM value is the most significant; set: the least.
    void SetRamByteOrderFlag(bool set) { ramByteOrderFlag_ = set; }
    bool RamByteOrderFlag() const { return ramByteOrderFlag_; }

    // ---- data logging ----
    // "l", "c", n, n x (address byte, size) -> "1". dataLogRecordSize = sum of sizes (set first).
    // Addresses may be ECU RAM addresses or address bytes (the byte rule maps bytes to themselves).
    bool DataLog_Configure(const std::vector<int>& addresses, const std::vector<int>& sizes);
    bool DataLog_SetRate(int rateCode); // "l", "r", rate -> "1"
    bool DataLog_StartDeviceLogging();  // both channels flushed; "l", "q" -> "1"
    bool DataLog_StopDeviceLogging();   // "l", "0" -> "1"
    // Both channels flushed; "l", "o" -> dataLogRecordSize bytes on DATALOG within 1 s; empty on failure.
    std::vector<std::uint8_t> DataLog_ReadRecord();
    bool DataLog_KeepAlive(); // "l", "k" -> "1"
    // Streamed messages of dataLogRecordSize + 4 bytes, 1 ms each, until none comes or at least
    // 2049 bytes are collected; empty when nothing came.
    std::vector<std::uint8_t> DataLog_Download();

    // ---- aux inputs, engine speed, ignition ----
    std::int32_t ReadAuxInput(int channel);               // "a", ch -> 2 bytes; 0 on failure
    bool SetAuxInputFilter(int channel, int coefficient); // "f", ch, coef -> "1"
    std::int32_t ReadRpmPeriod();                         // "p" -> 3 bytes; 0xFFFFFF on failure
    // 0x81 -> "1" on, "0" off. A missing or garbled reply is asked again (3 requests); when none
    // is answered the last answer stands. False when the link is closed and cannot be reopened.
    bool IsIgnitionOn();

    // ---- connection and ignition monitoring ----
    // QuickPing; shows the result on the indicator when it changed (or `force`); true when answered.
    bool UpdateConnectionStatus(bool force);
    void SetConnectionIndicator(ConnectionIndicator* indicator) { indicator_ = indicator; }
    // Opens and pings the device, or tells the user why not (titled "Error"); true when it answers.
    bool CheckDeviceOrExplain(UserMessages& dialogs);
    // True once the ignition has read on for at least 0.5 s; then on every call while it stays on.
    bool IgnitionOnDebounced();
    // The next IgnitionOnDebounced answers from the current ignition state at once.
    void ResetIgnitionDebounce();

    // ---- debug trace ----
    // Starts tracing into `path` (the file is replaced at the first line); empty path stops it.
    void EnableTrace(const std::string& path);
    bool TraceEnabled() const { return !tracePath_.empty(); }
    void WriteTrace(const std::string& text);

private:
    // Standard exchange helpers. Each returns false / empty when the link is closed and cannot
    // be reopened.
    bool EnsureOpen();
    void SendRequest(const std::vector<std::uint8_t>& request);
    // Flush DATA, send, receive `dataBytes` (may be 0) then one ack byte; true when ack == expected.
    bool AckExchange(const std::vector<std::uint8_t>& request, std::uint8_t expected,
                     std::vector<std::uint8_t>* data = nullptr, int dataBytes = 0, double dataTimeout = 0.0);
    // Flush DATA, send, receive exactly n bytes without ack; empty on failure.
    std::vector<std::uint8_t> DataExchange(const std::vector<std::uint8_t>& request, int n);
    void ClearRx();
    void FlushTrace();
    double NowSeconds();

    HidBackend& hid_;
    Clock& clock_;
    DeviceLink link_;
    bool ramByteOrderFlag_ = true; // follows the big-endian word order of start-up
    ConnectionIndicator* indicator_ = nullptr;
    std::optional<bool> lastConnectionState_; // the last quick ping's answer; none before the first
    bool ignitionRememberedOn_ = false;
    std::optional<bool> ignitionAnswer_; // the device's last answer to 0x81; none yet or gone
    double ignitionOnSince_ = -1.0;

    std::string tracePath_;
    std::string traceBuffer_;
    bool traceStarted_ = false;
};

// Switches the debug trace on (into DefaultTracePath()) when the setting "Diagnostics" /
// "DeviceTrace" is "1"; leaves it as it is otherwise. Read once at start-up by the program.
void EnableTraceFromSettings(Comms& comms, SettingsStore& settings);

// The map-set selector of an LH 2.3 image: the EPROM byte at address entry 9 decides (low two
// bits 1 = false, 2 = true); otherwise bit 6 of the LH RAM variable 7, read live.
bool LH_GetMapSetSelector(Comms& comms, const EPROM& image);

} // namespace kv
