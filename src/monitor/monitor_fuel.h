#pragma once
// The fuel system monitor without its widgets: the data-log record of the loaded fuel image
// (LH 2.3 from the unit's RAM, LH 2.2 from the device's own measurements), and the decoding of
// one record into every display text. The Qt page only shows a FuelMonitorView.
#include "monitor/monitor_record.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class Clock;
class EPROM;

inline constexpr const char* kInjNormal = "Normal duty cycle";
inline constexpr const char* kInjEnhanced = "Enhanced duty cycle";

struct FuelMonitorView {
    bool valid = false;
    std::string rpm = kNoData;        // lblMonitorRPM
    std::optional<int> rpmSlider;     // sldMonitorRPM (unclamped rpm); unchanged when empty
    std::string maf = kNoData;        // lblMonitorMAF
    std::string mafPercent = kNoData; // lblMonitorMAFpercent
    bool mafHigh = false;             // both MAF labels red
    std::array<std::string, 2> coolant{std::string("-") + kDegreeC, std::string("-") + kDegreeF}; // lblMonitorCoolant
    std::string injMode = kNoData;                        // lblMonitorInjInterval
    std::string injPW = "- ms";                           // lblMonitorInjPW
    std::string injDC = kNoData;                          // lblMonitorInjDC
    std::string battery = "- V";                          // lblMonitorBatt
    std::string mafVoltage = "- V";                       // lblMonitorMAFVoltage
    std::string afr = kNoData;                            // lblMonitorAFR
    std::string eqr = kNoData;                            // lblMonitorEqR
    std::optional<int> afrSlider;                         // sldMonitorAFR in hundredths (unclamped)
    int throttle = kNoItem;                               // lblMonitorThrottlePos: 0 IDLE, 1 CRUISE, 2 WOT
    std::optional<bool> flapOpen;                         // lblMonitorFlappyOpen / lblMonitorFlappyClosed marked
    std::string coPot = "- ms";                           // lblMonitorCOpot
    std::string coPotPercent = kNoData;                   // lblMonitorCOpotPercent
    std::string o2 = kNoData;                             // lblMonitorO2
    std::string idleStabilizer = kNoData;                 // lblMonitorIdleStabilizer
    std::array<std::string, 2> o2Adapt{kNoData, kNoData}; // lblMonitorO2Adapt
    bool o2AdaptResetEnabled = false;                     // cmdO2AdaptReset
    std::vector<AuxReading> aux;                          // lblAux
};

// The record of an LH 2.3 image (ECU type 1: 19 fields) or of any other fuel image (LH 2.2: 9
// fields), with the enabled aux inputs 1 to 4 appended.
RecordLayout BuildFuelMonitorLayout(const EPROM& image, const AuxInputs& aux);

// O2 correction in percent of an LH 2.3 RAM word, by the image's creator code.
double LH_O2CorrectionPercent(double w, int creator);

// The display of one LH 2.3 record (empty or invalid: every "no data" text).
FuelMonitorView DecodeLH23Record(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                 const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag);
// The display of one LH 2.2 record; the displays LH 2.2 cannot feed keep their "no data" texts.
FuelMonitorView DecodeLH22Record(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                 const AuxInputs& aux);

// The monitor's set-up and tick against the device.
class FuelMonitor {
public:
    // All references must outlive the monitor.
    FuelMonitor(MonitorDevice& device, const AuxInputs& aux, Clock& clock)
        : device_(device), aux_(aux), clock_(clock) {}
    // Builds the layout for `image`, resets the ignition debounce and configures the record.
    // True when the device took the configuration (then the timer may run).
    bool Setup(const EPROM& image);
    // One tick: polls a record when the ignition allows it and decodes it. nextIntervalMs is the
    // interval to re-arm the timer with.
    FuelMonitorView Tick(const EPROM& image, int& nextIntervalMs);
    const RecordLayout& Layout() const { return layout_; }

private:
    MonitorDevice& device_;
    const AuxInputs& aux_;
    Clock& clock_;
    RecordLayout layout_;
    bool lh23_ = false;
};

} // namespace kv
