#pragma once
// The ignition system monitor without its widgets: the data-log record of the loaded ignition
// image (EZK from the unit's RAM, EZF from the device's own measurements), the knock counter
// with its red hold, the knock-retard block, and the decoding of one record into every display
// text. The Qt page only shows an IgnitionMonitorView.
#include "monitor/monitor_record.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class Clock;
class EPROM;

inline constexpr int kKnockCountMax = 9999;
inline constexpr int kKnockRedTicks = 10;
inline constexpr int kCylinders = 8;
inline constexpr int kEzkFaults = 7;
inline constexpr const char* kEzkRevisionWarning =
    "Knock retard display is supported on revision 2 and newer EPROMs. The current EPROM revision is an older "
    "revision. You can use File - New to create a new EPROM.";
inline constexpr const char* kEzkFaultTexts[kEzkFaults] = {
    "Knock sensor signal absent (front knock sensor)",
    "Knock sensor signal absent (rear knock sensor)",
    "Coolant temperature sensor failure (short circuit)",
    "Coolant temperature sensor failure (open circuit)",
    "Hall sensor signal absent",
    "Hall sensor signal erroneous",
    "Ignition retarded",
};

// The knock counter shared by the ignition monitor and the ignition map trace: the ECU's 8-bit
// counter last seen (none when it could not be read) and the ticks left with the count shown red.
struct KnockCountState {
    std::optional<int> lastKnockCounter = 0;
    int redHold = 0;
};

// A knock-count label: its text (the shown total) and whether it is red.
struct KnockLabel {
    std::string text = "0";
    bool red = false;
};

// Counts the knocks since the last counter value seen (the counter wraps at 256; a difference of
// exactly 255 counts as none; a negative counter counts as none; with no counter seen before, the
// counter becomes the baseline and counts none) into the label, capped at 9999.
// Returns true when the knock sound should play.
bool UpdateKnockCount(KnockCountState& state, KnockLabel& label, int counter);
// counter >= 0 becomes the new baseline; the label shows "0" in black.
void ResetKnockCount(KnockCountState& state, KnockLabel& label, int counter);
// The same when a view starts, with the counter read from the unit: a counter that could not be
// read leaves no baseline, so knocks from before are not counted once the records bring one.
void StartKnockCount(KnockCountState& state, KnockLabel& label, std::optional<std::int32_t> counterRead);

// Knock retard per cylinder (index 0 = cylinder 1) from the 9-byte block: marker, then eight
// counts in the unit's rotating order. All zero when the marker is 0 or never reaches 0x63
// within 8 rotations. A block shorter than 9 bytes gives all zero.
std::array<int, kCylinders> EZK_DecodeKnockRetard(const std::vector<std::uint8_t>& block);

struct IgnitionMonitorView {
    bool valid = false;
    std::string rpm = kNoData;                          // lblMonitorEZKRPM
    std::optional<int> rpmSlider;                       // sldMonitorEZKRPM (unclamped); unchanged when empty
    std::string advance = kNoData;                      // lblMonitorEZKIgnAdv
    std::string load = kNoData;                         // lblMonitorEZKLoad (EZK load, EZF vacuum)
    int coding = kNoItem;                               // lblMonitorEZKCoding: 0 NON-CAT, 1 CAT, 2 91 OCTANE
    int throttle = kNoItem;                             // lblMonitorEZKThrottlePos
    std::string coolantC = std::string("-") + kDegreeC; // lblMonitorEZKCoolantC
    std::string coolantF = std::string("-") + kDegreeF; // lblMonitorEZKCoolantF
    std::string airTempC = kNoData;                     // lblMonitorEZFAirTempC
    std::string airTempF = kNoData;                     // lblMonitorEZFAirTempF
    std::array<std::string, kCylinders> knockRetard{kNoData, kNoData, kNoData, kNoData,
                                                    kNoData, kNoData, kNoData, kNoData}; // lblMonitorEZKKnockRetard
    int transmission = kNoItem;                           // lblMonitorEZKTransmissionType: 0 AUTO, 1 MANUAL
    int gearSelector = kNoItem;                           // lblMonitorEZKGearSelector: 0 P / N, 1 D / 2 / 3
    std::string battery = "- V";                          // lblMonitorEZKBatt
    std::array<std::optional<bool>, kEzkFaults> faults{}; // shpEZKFault: set red, clear green, none plain
    bool faultCaptions = true;                            // lblFaultEZKDescription shown (cleared for EZF)
    std::string afr = kNoData;                            // lblMonitorEZKAFR
    std::string eqr = kNoData;                            // lblMonitorEZKEqR
    std::vector<AuxReading> aux;                          // lblAuxEZK
    std::string revisionWarning;                          // lblMonitorEZKRevWarning
};

// EZK (ECU type 2, 21 fields; the knock-retard block is 9 bytes at address 2 from revision 2 on,
// else one dummy byte at 127) or EZF (any other ignition type, 8 fields), aux inputs appended.
RecordLayout BuildIgnitionMonitorLayout(const EPROM& image, const AuxInputs& aux);

// The display of one EZK record. `knockCounter` receives the ECU's counter byte, or -1 without
// data (the shown total stays).
IgnitionMonitorView DecodeEZKRecord(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                    const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag, int& knockCounter);
// The display of one EZF record.
IgnitionMonitorView DecodeEZFRecord(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                    const EPROM& image, const AuxInputs& aux);

// The monitor's set-up and tick against the device, with the knock counter of its label.
class IgnitionMonitor {
public:
    // All references must outlive the monitor. `knock` is the knock counter shared with the
    // ignition map trace.
    IgnitionMonitor(MonitorDevice& device, const AuxInputs& aux, Clock& clock, KnockCountState& knock)
        : device_(device), aux_(aux), clock_(clock), knock_(knock) {}
    // Re-bases the knock counter on the unit's current counter, builds the record, resets the
    // ignition debounce and configures the record; true when the device took it.
    bool Setup(const EPROM& image);
    // Builds and configures the record again (the aux inputs changed); the knock counter and its
    // baseline stay. True when the device took it.
    bool Reconfigure(const EPROM& image);
    // One tick. playKnock is set when a new knock was counted.
    IgnitionMonitorView Tick(const EPROM& image, int& nextIntervalMs, bool& playKnock);
    // The reset button: the total back to "0" in black, the baseline kept.
    void ResetCount() { ResetKnockCount(knock_, label_, -1); }
    const KnockLabel& Label() const { return label_; }
    const RecordLayout& Layout() const { return layout_; }

private:
    MonitorDevice& device_;
    const AuxInputs& aux_;
    Clock& clock_;
    KnockCountState& knock_;
    KnockLabel label_;
    RecordLayout layout_;
    bool ezk_ = false;
};

} // namespace kv
