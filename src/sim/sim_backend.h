#pragma once
// The simulated Kestrovane device and car: a test double and demonstration aid that speaks the
// device's protocol at the 33-byte report level behind HidBackend. It is never used by the
// program's logic; only the place that chooses the backend creates one.
//
// Single-threaded: every call (the backend's, the ignition switch's, the driver at the key's)
// must come from the thread that drives the device link. Time comes only from the Clock given
// at creation: a FakeClock in tests, SteadyClock in the program.
#include "device/hid_backend.h"
#include "platform/clock.h"
#include "platform/ignition_prompt.h"
#include "platform/parsed.h"
#include "sim/sim_engine.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

// Faults injected at the report level. Probabilities are 0..1 per report.
struct SimFaultSpec {
    double drop = 0.0;          // an input report is lost
    double dup = 0.0;           // an input report arrives twice
    double late = 0.0;          // an input report is held back for lateMs of clock time
    double garble = 0.0;        // one byte of an input report is corrupted
    double crc = 0.0;           // a module block read (PemReadBlock) carries a wrong CRC
    double refuse = 0.0;        // a well-formed module or firmware block is refused ("0") and not kept
    double dropOut = 0.0;       // an output report is lost on its way: the write succeeds, the device never sees it
    long unplugAfter = -1;      // the device vanishes after this many reports (both ways); -1 = never
    long stallAfter = -1;       // the device takes no output report after this many; -1 = never
    bool silent = false;        // the device takes requests and never answers
    bool unplugVacuum = false;  // the vacuum sensor on aux input 3 is unplugged: its channel reads 0 V
    bool vacuumFeedOff = false; // the sensor's vacuum feed is disconnected: it sees atmospheric pressure
    std::uint64_t seed = 1;     // the same seed repeats the same faulty run exactly
    int lateMs = 300;           // how long a late report is held back
};

// Parses "drop=P,dup=P,late=P,garble=P,crc=P,refuse=P,drop-out=P,unplug-after=N,stall=N,silent,unplug-vacuum,
// vacuum-feed-off,seed=N,late-ms=N" (any
// subset, any order; empty text = no faults); on failure the message to show. unplug-after
// fires once; after Replug the device stays.
Parsed<SimFaultSpec> ParseSimFaultSpec(const std::string& text);

enum class SimIgnitionMode { Off, On, Auto };

// "off" / "on" / "auto" (case-insensitive); a failure for anything else.
Parsed<SimIgnitionMode> ParseSimIgnitionMode(const std::string& text);

struct SimOptions {
    // File that keeps the car's memories (emulation memory, both modules, firmware versions)
    // between runs; empty = nothing kept. A malformed file (a duplicate entry, a number that is
    // not decimal, ...) is noted on stderr, kept aside and replaced by a fresh car; a path that
    // is a directory or a device node is refused by ValidateSimOptions.
    std::string stateFile;
    // Fault list, see ParseSimFaultSpec.
    std::string faults;
    // Device firmware version reported to "v" (unless the state file holds another one).
    std::string firmwareVersion = "6.003";
    // Firmware version of both EPROM modules; empty = "1.00" (unless the state file holds one).
    std::string pemFirmwareVersion;
    // Version a device reports after a firmware upgrade through its loader.
    std::string upgradedFirmwareVersion = "6.003";
    // The firmware payload the loader takes (sent in 256-byte blocks, the last one padded with
    // 0xFF); empty = the payload of the program's embedded "FIRMWARE" image. Anything else sent
    // (a block missing, repeated, out of order or different) leaves the old firmware running.
    std::vector<std::uint8_t> acceptedFirmware;
    // Version a module reports after its firmware upgrade.
    std::string upgradedPemFirmwareVersion = "1.00";
    // Each report costs one 1 ms USB frame of clock time each way, and an answer reaches the
    // host's queue one frame after the request that caused it (never inside the Write). Off:
    // answers are queued at once, for tests of the device model itself.
    bool usbTiming = true;
    // Ignition switch at start: "off", "on" or "auto" (auto starts with the ignition on).
    std::string ignition = "on";
    // Timed ignition changes, "off@1500,on@8000": milliseconds of clock time after creation.
    std::string ignitionScript;
    // Modules fitted: an absent module is never seen by detection and never answers.
    bool lhModuleFitted = true;
    bool ezkModuleFitted = true;
    // EPROM files loaded at creation into the emulation memory (4, 16, 32 or 64 kB), module 1
    // (LH) and module 2 (EZK) (16, 32 or 64 kB; the top 16 kB count). Given files replace what
    // the state file had; empty = keep it (a new car starts erased, 0xFF).
    std::string emulatorImageFile;
    std::string lhImageFile;
    std::string ezkImageFile;
    // How the car is driven, and the seed of the road driver (the same seed drives the same
    // road). The program and the command-line tool drive the road unless told otherwise; the
    // dyno's fixed cycle is what a test of the model meets by default.
    SimDrive drive = SimDrive::Dyno;
    std::uint64_t driveSeed = 1;
};

// Checks options without creating anything: empty on success, otherwise the message to show
// (bad fault list, bad ignition mode or script, a state file that is not a regular file).
std::string ValidateSimOptions(const SimOptions& options);

class SimDevice; // the device model (sim_device.h)

// The HID backend of the simulated device. Enumerate lists one interface (vendor 0x1234,
// product 0x5851) while the device is plugged in.
class SimulatedBackend final : public HidBackend {
public:
    SimulatedBackend(const SimOptions& options, const SimFaultSpec& faults, Clock& clock);
    ~SimulatedBackend() override; // saves the state file

    std::vector<HidDeviceInfo> Enumerate() override;
    bool Open(const std::string& path) override;
    bool IsOpen() const override;
    bool SetInputQueueSize(int reports) override;
    void FlushInput() override;
    // Returns a queued input report at once; otherwise advances the car by sleeping on the clock
    // up to timeoutMs (streamed data-log records are produced when due) and returns Timeout when
    // nothing came. Error once the device was unplugged (until reopened after a replug).
    HidReadResult Read(HidReport& report, int timeoutMs) override;
    HidWriteResult Write(const HidReport& report, int timeoutMs) override;
    void Cancel() override;
    void Close() override;

    // Ignition switch (the GUI's off/on/auto switch and scripts use these).
    void SetIgnitionMode(SimIgnitionMode mode);
    SimIgnitionMode IgnitionMode() const;
    bool IsIgnitionOn() const;
    // Switches the ignition at clock time atMs (used by "auto" and by scripts).
    void ScheduleIgnition(std::int64_t atMs, bool on);

    // Unplug now (the open handle turns invalid, Enumerate lists nothing; the car and its
    // memories carry on) and plug back in (the program must open the device again).
    void Unplug();
    void Replug();
    bool IsPlugged() const;

    // The model behind the reports: memories, engine, RAM (for tests and demonstrations).
    SimDevice& Device();
    const SimDevice& Device() const;

    // Reports moved so far (in + out), counted for unplug-after.
    long ReportCount() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Creates the simulated backend; null when the options are invalid (ValidateSimOptions tells why).
std::unique_ptr<SimulatedBackend> MakeSimulatedBackend(const SimOptions& options, Clock& clock);

// The driver at the key for unattended runs: while the simulated ignition is in "auto" mode it
// switches the ignition off delayMs of clock time after a module load asks for it off, and on
// after it asks for it on. A turn of the key already begun is finished when the request ends.
class AutoIgnitionDriver final : public IgnitionPrompt {
public:
    AutoIgnitionDriver(SimulatedBackend& sim, Clock& clock, int delayMs = 800);

    void Asked(IgnitionRequest request) override;
    void Ended() override;

private:
    SimulatedBackend& sim_;
    Clock& clock_;
    int delayMs_;
};

} // namespace kv
