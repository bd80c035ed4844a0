#pragma once
// The device behind the simulated backend: takes the program's output reports, rebuilds the
// requests from them (first report, then continuation reports), answers them as input reports
// on the DATA and DATALOG channels (device/protocol.h), holds the memories of the
// emulator and of the two EPROM modules, measures its own inputs from the engine model, and
// streams data-log records at the configured rate.
#include "device/hid_backend.h"
#include "device/protocol.h"
#include "platform/clock.h"
#include "platform/parsed.h"
#include "sim/sim_backend.h"
#include "sim/sim_engine.h"

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

inline constexpr int kSimMemorySize = 16384;
inline constexpr int kSimPemFirmwareSize = 16256;
// How long the units need with the ignition off before they power down; a module announces
// itself at the next power-up only after that.
inline constexpr std::int64_t kSimPowerDownMs = 5000;
// The oxygen-sensor adaptation of the running LH unit grows by this fraction per second of
// running up to its target.
inline constexpr double kSimO2AdaptationPerSecond = 0.001;
inline constexpr double kSimO2AdaptationTarget = 0.04;
// Seconds the wide-band sensor needs after the engine starts before it measures; meanwhile it
// reads at the lean end of its output (5 V).
inline constexpr double kSimWidebandWarmUpSeconds = 3.0;

// Ecu kinds of the modules: 1 = LH (fuel), 2 = EZK (ignition).
inline constexpr int kSimLH = 1;
inline constexpr int kSimEZK = 2;

struct SimModule {
    bool fitted = true;
    std::vector<std::uint8_t> memory = std::vector<std::uint8_t>(kSimMemorySize, 0xFF);
    std::string firmwareVersion = "1.00";
    bool initiation = false;      // seen at power-up and waiting for block transfers
    std::int64_t rebootAtMs = -1; // firmware update running; announces itself at this time
    bool announcePending = false; // rebooted after an update, not yet seen by detection
};

// "off@1500,on@8000" -> (1500, off), (8000, on): times in milliseconds after creation. Empty
// text gives no switches; a bad script gives the message to show.
Parsed<std::vector<std::pair<std::int64_t, bool>>> ParseIgnitionScript(const std::string& text);

class SimDevice {
public:
    // `options` must be valid (ValidateSimOptions). Loads the state file if there is one.
    SimDevice(const SimOptions& options, Clock& clock);
    ~SimDevice(); // saves the state file when something changed
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // One output report of the program (report ID first). Replies go to the outbox.
    void HandleOutputReport(const HidReport& report);
    // Catches the model up with the clock: scheduled ignition changes, module reboots, the
    // engine, streamed records, the keep-alive watchdog, a due state save.
    void CatchUp();
    // Clock time of the next thing the device will do by itself (record, switch, reboot);
    // INT64_MAX when nothing is due.
    std::int64_t NextEventMs() const;
    // Input reports produced so far, oldest first; the backend takes them from the front.
    std::deque<HidReport>& Outbox() { return outbox_; }

    // The device asked to restart (after the firmware loader's restart command): the time at
    // which it drops off the bus, once; cleared by CompleteRestart.
    std::optional<std::int64_t> PendingRestartMs() const { return restartAtMs_; }
    // Runs the restart: leaves the loader, takes the new firmware, drops every stream.
    void CompleteRestart();

    // Ignition switch.
    bool IsIgnitionOn() const { return ignitionOn_; }
    void SetIgnition(bool on);
    void ScheduleIgnition(std::int64_t atMs, bool on);
    void ClearIgnitionSchedule() { schedule_.clear(); }

    // Hook asked once per module block read; true = send a wrong checksum (fault injection).
    void SetCrcFaultHook(std::function<bool()> hook) { crcFault_ = std::move(hook); }
    // Hook asked once per well-formed module or firmware block written; true = refuse it.
    void SetRefuseFaultHook(std::function<bool()> hook) { refuseFault_ = std::move(hook); }

    // Memories and versions (tests, demonstrations, the state file).
    SimModule& Module(int kind);
    const SimModule& Module(int kind) const;
    std::vector<std::uint8_t>& EmulatorMemory() { return emulator_; }
    // Call after changing a memory through the accessors above: the state gets saved and the
    // engine re-reads the LH module's fuel map.
    void MarkMemoryChanged();
    const std::string& FirmwareVersion() const { return firmwareVersion_; }
    bool InBootloader() const { return bootloader_; }
    // The firmware blocks (256 bytes each) the loader took since it was last unlocked, in the
    // order they came, repeats included.
    const std::vector<std::vector<std::uint8_t>>& LoaderBlocks() const { return loaderBlocks_; }
    int DetectStatus() const { return detectStatus_; }
    int SelectedModule() const { return selected_; }
    // Requests a device would not expect, each ignored as the device ignores it: unknown
    // requests (in the loader: anything but its own commands), continuation reports with no
    // request open, and loader commands with wrong bytes or before the unlock. A correct
    // program causes none, whatever the faults on the wire.
    long ProtocolFaults() const { return protocolFaults_; }
    char EcuMode() const { return ecuMode_; }

    // The live car.
    const SimEngineState& Engine() const { return engine_.State(); }
    // The values below are those of the model's last catch-up (every request catches up).
    // Air/fuel ratio the wide-band sensor sees.
    double AirFuelRatio();
    // The air/fuel ratio the engine settles to at a steady operating point (rpm, load 0..1) with
    // the fuel map in the LH module now, without the sensor's lag and noise.
    double SteadyAirFuelRatioAt(double rpm, double load);
    // One byte of a unit's RAM as the device reads it (address byte as sent on the wire).
    // Multi-byte values are kept low byte first by units whose image is of creator 1, high
    // byte first by Type C units (creator 2): the order the program assembles them in.
    std::uint8_t EcuRam(int kind, int addressByte);
    // Raw 16-bit reading of a device input channel (0 wide-band, 1 MAF, 2..5 aux 1..4, 6 the
    // vacuum sensor that an EZF car has on aux input 3).
    std::uint16_t InputChannel(int channel);
    int InputFilter(int channel) const;
    // An unplugged vacuum sensor leaves its channel at 0 V.
    void SetVacuumSensorPlugged(bool plugged) { vacuumPlugged_ = plugged; }
    // With its feed disconnected the sensor sees atmospheric pressure while the engine runs.
    void SetVacuumFeedConnected(bool connected) { vacuumFeed_ = connected; }
    // 24-bit engine period in device counts (1.3333 us); 0xFFFFFF while the engine stands.
    std::uint32_t EnginePeriodCounts();
    // Streaming now (started, and not paused for want of keep-alives).
    bool IsLogging() const { return logging_ && !logStalled_; }
    // The LH unit's oxygen-sensor adaptation (a fraction; the reset command puts it back to 0).
    double O2Adaptation() const { return o2Adaptation_; }
    int LogPeriodMs() const { return logPeriodMs_; }

    // Writes the state file now (nothing to do without one); empty on success, else why it
    // could not be written.
    std::string SaveState();

private:
    // SaveState from the device's own moments (a finished transfer, every few seconds, the
    // end): a failure is noted on stderr and tried again at the next of them.
    void SaveStateNoting();
    struct LogItem {
        std::uint8_t address;
        std::uint8_t size;
    };
    struct ScheduledSwitch {
        std::int64_t atMs;
        bool on;
    };

    // Request assembly and dispatch.
    long RequestLength() const; // -1: not enough bytes to know; 0: unknown request
    void Execute(const std::vector<std::uint8_t>& req);
    void ExecuteLoader(const std::vector<std::uint8_t>& req);
    void ExecuteLog(const std::vector<std::uint8_t>& req);

    // Replies.
    void Reply(const std::vector<std::uint8_t>& message, std::uint8_t firstType = DATA);
    void Ack(bool ok) { Reply({ok ? kAckOk : kAckRefused}); }

    // Model.
    void AdvanceModel(std::int64_t nowMs);
    void UpdateLiveValues();
    void RecomputeImageCache();
    double FuelFactorAt(double rpm, double mafLoad) const;
    // The fuel factor at which the engine burns the mixture it runs best on there (14.7, richer
    // towards full load), with the engine's own wobble.
    double NeedAt(double rpm, double mafLoad) const;
    bool EcuPowered(int kind) const;
    std::vector<std::uint8_t> BuildRecord();
    void PutRam(int kind, int addressByte, std::uint32_t value, int bytes);
    void ApplySwitch(bool on, std::int64_t atMs);
    // The payload the loader takes, in 256-byte blocks (the last one padded with 0xFF).
    std::vector<std::vector<std::uint8_t>> AcceptedFirmwareBlocks() const;
    int KindFromWire(std::uint8_t c) const;

    void LoadState();

    SimOptions options_;
    Clock& clock_;
    std::int64_t createdMs_ = 0;

    std::vector<std::uint8_t> request_;
    bool requestOpen_ = false;
    std::deque<HidReport> outbox_;

    // Device firmware and its loader.
    std::string firmwareVersion_;
    bool bootloader_ = false;
    bool loaderUnlocked_ = false;
    long protocolFaults_ = 0;
    std::vector<std::vector<std::uint8_t>> loaderBlocks_;
    std::optional<std::int64_t> restartAtMs_;

    // Memories.
    std::vector<std::uint8_t> emulator_ = std::vector<std::uint8_t>(kSimMemorySize, 0xFF);
    std::array<SimModule, 2> modules_;
    char ecuMode_ = 'L';
    bool dirty_ = false;
    std::int64_t lastSaveMs_ = 0;

    // Ignition and module detection.
    bool ignitionOn_ = true;
    std::int64_t offSinceMs_ = 0; // when the ignition last went off
    std::vector<ScheduledSwitch> schedule_;
    bool detectArmed_ = false;
    int detectMask_ = 0;
    int detectStatus_ = 0;
    int selected_ = 0;

    // Engine and live values.
    SimEngine engine_;

    std::int64_t modelMs_ = 0;
    double afr_ = 14.7;
    std::array<std::array<std::uint8_t, 256>, 2> ram_{};
    std::array<std::uint16_t, 8> inputs_{};
    bool vacuumPlugged_ = true;
    bool vacuumFeed_ = true;
    std::array<int, 8> filters_{};
    std::array<double, 8> filtered_{};
    std::int64_t filterMs_ = 0;
    bool filterPrimed_ = false;
    std::uint32_t periodCounts_ = 0xFFFFFF;
    std::uint32_t sparkDelayCounts_ = 0;
    std::uint16_t ezfPeriodCounts_ = 0xFFFF;
    std::uint32_t lh22InjectionCounts_ = 0;
    std::uint16_t mafReading_ = 0;
    std::array<std::uint8_t, 9> knockBlock_{};
    int knockRotation_ = 0;
    std::uint8_t lastKnockCounter_ = 0;
    double o2Adaptation_ = 0.0; // fraction, drifts slowly while the engine runs

    // What the LH module's image says about fuelling (re-read when the memory changes).
    struct FuelMapCache;
    std::shared_ptr<FuelMapCache> fuelMap_;
    // What the engine needs, read once from the built-in base image's cat fuel map on its own
    // axes: it belongs to the engine, not to the image in the unit.
    std::shared_ptr<const FuelMapCache> need_;
    std::uint64_t memoryGeneration_ = 0;
    std::uint64_t cacheGeneration_ = 0;
    bool liveDirty_ = true;
    bool littleEndianRam_[2] = {true, true};

    // Data logging.
    std::vector<LogItem> logItems_;
    int logRecordSize_ = 0;
    int logPeriodMs_ = 100;
    bool logging_ = false;
    bool logStalled_ = false; // no keep-alive for a while: no records until the next one
    std::int64_t logStartMs_ = 0;
    std::int64_t logNextIndex_ = 1;
    bool logFirstOfStretch_ = true;
    std::int64_t lastKeepAliveMs_ = 0;

    std::function<bool()> crcFault_;
    std::function<bool()> refuseFault_;
};

} // namespace kv
