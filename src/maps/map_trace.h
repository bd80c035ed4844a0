#pragma once
// The operating-point trace of the map tabs without widgets: the live record each unit sends,
// the device input filters set before it, the ignition-on gate, the decoding of one record into
// axis values, throttle state and captions, the throttle-position match, the chart position of a
// one-row map, and a short trail of the last operating points. MapTrace runs the set-up and the
// 100 ms tick against a TraceDevice and moves the editor's marker; the Qt page only shows the
// texts it returns.
#include "device/live_link.h"
#include "maps/map_definitions.h"
#include "monitor/monitor_ignition.h"
#include "monitor/monitor_record.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

class AuxInputs;
class Clock;
class EPROM;
class TableEditor;

// The device operations of the trace. Implemented over the device link (CommsTraceDevice);
// tests use a scripted fake. Failure values as in the command set.
class TraceDevice : public LiveLink {
public:
    // "f", channel, coefficient -> "1".
    virtual bool SetAuxInputFilter(int channel, int coefficient) = 0;
    // The LH map-set selection of the image: true = "cat" (read live when the image leaves it to
    // the unit).
    virtual bool LH_GetMapSetSelector(const EPROM& image) = 0;
};

// Nominal period of the trace timers in seconds.
inline constexpr double kTracePeriodSeconds = 0.1;
// Seconds the ignition must have been on before records are read.
inline constexpr double kIgnitionSettleSeconds = 0.5;

// Throttle states of a record (and required throttle positions of the maps).
inline constexpr int kThrottleAny = -1;
inline constexpr int kThrottleIdle = 0;
inline constexpr int kThrottlePartLoad = 1;
inline constexpr int kThrottleFullLoad = 2;
inline constexpr int kThrottleNever = -2;

// The record of the tab's unit: LH 2.3 / LH 2.2 on the fuel tab, EZK / EZF on the ignition tab;
// an empty layout for any other image.
RecordLayout BuildTraceLayout(MapTab tab, const EPROM& image);

// The input filters sent before the layout, in sending order: (device channel, coefficient).
// First aux inputs 1..4 as configured, then the unit's own channels (LH 2.2: 1->2, 2->3, 3->0,
// 4->0; EZF: 2->3, 3->0, 4->0, 5->1, 6->1).
std::vector<std::pair<int, int>> TraceFilters(MapTab tab, const EPROM& image, const AuxInputs& aux);

// The ignition-on gate: records are read only from 0.5 s after the ignition came on.
class IgnitionGate {
public:
    // As on a map selection: the ignition counts as on since long ago.
    void Reset() {
        wasOn_ = true;
        onSince_ = -1.0;
    }
    // One tick with the device's answer at `nowSeconds`; true when the tick may read a record.
    bool Pass(bool ignitionOn, double nowSeconds);

private:
    bool wasOn_ = true;
    double onSince_ = -1.0;
};

// One record read into the values the editor and the captions need.
struct TraceSample {
    bool valid = false;
    double rpmValue = 0;     // raw value of the rpm axes (LH rpm byte, EZK/EZF period word)
    double loadValue = 0;    // raw value of the load axes (LH MAF load, EZK load row scale, EZF vacuum point)
    double coolantValue = 0; // raw 8-bit coolant reading
    double airTempValue = 0; // raw 8-bit air temperature reading (EZF)
    int throttle = kThrottleIdle;
    int rpm = 0;                   // engine speed in rpm (captions)
    std::string afr = kNoData;     // lblMapAFR
    std::string eqr = kNoData;     // lblMapEqR
    std::string o2 = kNoData;      // lblMapO2
    std::string advance = kNoData; // lblIgnMapAdv
    int knockCounter = -1;         // EZK knock counter byte; -1 without one
    float afrValue = 0;            // the air/fuel ratio as a number (for live autotune)
    // Fuel records, for live autotune: the wide-band reading lies at an end of its law; the
    // coolant in degrees Celsius; a transient (LH 2.3: the unit's transient flag at idle; LH 2.2:
    // no injection time).
    bool afrAtLawEnd = false;
    double coolantC = 0;
    bool transient = false;
};

// Decodes one record of BuildTraceLayout(tab, image). A record that did not come, came short or
// has 0 in its validity byte gives an invalid sample with "-" captions.
TraceSample DecodeTraceRecord(MapTab tab, const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag,
                              const RecordLayout& layout, const std::vector<std::uint8_t>& record);

// Whether the marker is shown for a map requiring `required` at throttle state `throttle`. With
// the EZK's WOT-ignore flag set the three cruise maps show at full load and the three WOT maps
// do not.
bool ThrottleMatches(int required, int throttle, int mapId, bool ezkWotIgnored);

// The operating point on a one-row map's chart, in the unit of the column headers (rpm or °C);
// nullopt for a map with two or more rows (no chart marker).
std::optional<double> ChartOperatingX(const TableEditor& editor, EcuType ecuType, const TraceSample& sample);

// The last few operating-point positions (twips relative to the grid), newest last, each with
// an opacity fading with its age. Nothing is kept twice in a row.
class OperatingPointTrail {
public:
    static constexpr int kLength = 8;
    struct Point {
        double x;
        double y;
        double opacity; // 0..1, the newest highest
    };
    void Push(double x, double y);
    void Clear() { points_.clear(); }
    // The points behind the newest one (the marker itself stands on the newest), oldest first.
    std::vector<Point> Behind() const;
    int Size() const { return static_cast<int>(points_.size()); }

private:
    std::deque<std::pair<double, double>> points_;
};

// What one tick produced, for the page's captions and the chart.
struct TraceTickResult {
    bool proceeded = false;       // the ignition gate let the tick read a record
    TraceSample sample;           // captions ("-" without a record)
    bool markerShown = false;     // table view: the marker is on the grid
    std::optional<double> chartX; // chart view: mark the curve at x; nullopt: clear it
    KnockLabel knock;             // lblIgnMapKnockCount (ignition tab, EZK)
    bool playKnock = false;       // a new knock was counted
    int nextIntervalMs = 100;     // re-arm the timer with this
};

class MapTrace {
public:
    // All references must outlive the trace. `sharedKnock` is the knock counter shared with the
    // ignition monitor (null: the trace keeps its own).
    MapTrace(TraceDevice& device, const AuxInputs& aux, Clock& clock, KnockCountState* sharedKnock = nullptr)
        : device_(device), aux_(aux), clock_(clock), knock_(sharedKnock != nullptr ? *sharedKnock : ownKnock_) {}

    // The last step of a map selection: build the record of the unit, reset the ignition-on
    // gate, (ignition tab, EZK) reset the knock count with the unit's counter byte, send the
    // filters and the layout. True when the device accepted the layout (the timer may run).
    bool Configure(MapTab tab, const EPROM& image);
    // One tick: gate, record, marker (table view: the editor's; chart view: the returned x),
    // captions, knock count.
    TraceTickResult Tick(TableEditor& editor, bool chartView);
    // cmdIgnMapResetKnockCount: the count back to "0" in black, the baseline kept.
    void ResetKnockCount();

    const RecordLayout& Layout() const { return layout_; }
    const KnockLabel& Knock() const { return knockLabel_; }

private:
    TraceDevice& device_;
    const AuxInputs& aux_;
    Clock& clock_;
    MapTab tab_ = MapTab::Fuel;
    const EPROM* image_ = nullptr;
    RecordLayout layout_;
    IgnitionGate gate_;
    KnockCountState ownKnock_;
    KnockCountState& knock_;
    KnockLabel knockLabel_;
};

} // namespace kv
