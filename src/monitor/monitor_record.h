#pragma once
// What the two system monitors share: the device operations they use, the data-log record
// layout with the aux fields appended, reading fields out of a record, and number formats.
#include "device/live_link.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class AuxInputs;

// The device operations of the monitors. Implemented over the device link by CommsMonitorDevice;
// tests use a scripted fake.
class MonitorDevice : public LiveLink {
public:
    // True once the ignition has been on for 0.5 s (a device exchange).
    virtual bool IgnitionOnDebounced() = 0;
    // The next IgnitionOnDebounced answers from the current state at once.
    virtual void ResetIgnitionDebounce() = 0;
    // Resets the LH unit's oxygen-sensor adaptation; true when the device acknowledged.
    virtual bool ResetO2Adaptation() = 0;
};

// One data-log record layout: address and size per field, in record order. The aux inputs whose
// 2-byte fields were appended after the fixed fields are listed in `auxInputs`.
struct RecordLayout {
    std::vector<int> addresses;
    std::vector<int> sizes;
    std::vector<int> auxInputs; // input numbers (1..4), in field order after the fixed fields
    void Add(int address, int size) {
        addresses.push_back(address);
        sizes.push_back(size);
    }
    int FieldCount() const { return static_cast<int>(sizes.size()); }
    int RecordSize() const;
    // Appends a 2-byte field at each enabled aux input's record address (inputs 1 to 4).
    void AppendAuxInputs(const AuxInputs& aux);
};

// The fields of one record. A record that did not come, came short, or carries 0 in field 0 is
// not valid; every field of an invalid record reads 0.
class RecordFields {
public:
    RecordFields(const RecordLayout& layout, const std::vector<std::uint8_t>& record);
    bool Valid() const { return valid_; }
    // Byte k of field f (0 for an unknown field or byte).
    int Byte(int field, int k = 0) const;
    // Multi-byte field, low byte first (device measurements).
    std::int64_t LowFirst(int field) const;
    // Multi-byte field assembled as ECU RAM values are (CombineWord / CombineTriple).
    std::int64_t Ram(int field, bool ramByteOrderFlag) const;

private:
    const RecordLayout& layout_;
    std::vector<std::uint8_t> bytes_;
    std::vector<int> offsets_;
    bool valid_ = false;
};

// A number in a display format: sections "positive;negative;zero", each an optional literal
// prefix ("+", "-") and a digit pattern "0", "0.0", "0.00", ... The zero section is used when
// the value rounds to zero at its decimals; without a negative section a "-" is put in front.
// Never shows "-0".
std::string FormatNumber(double value, std::string_view format);

// One aux input shown on a monitor: its display name and its value text.
struct AuxReading {
    int input = 0;
    std::string caption;
    std::string text;
};

// The aux displays of a record: each appended aux field converted by its law ("-" without data).
std::vector<AuxReading> ReadAuxFields(const RecordLayout& layout, const RecordFields& fields, int firstAuxField,
                                      const AuxInputs& aux, bool ramOrder, bool ramByteOrderFlag);

// Display texts shared by the monitors.
inline constexpr const char* kDegreeC = " \xC2\xBA"
                                        "C"; // " ºC"
inline constexpr const char* kDegreeF = " \xC2\xBA"
                                        "F";            // " ºF"
inline constexpr const char* kDegreeSign = " \xC2\xBA"; // " º"
inline constexpr const char* kNoData = "-";

// Nominal interval of the monitor timers.
inline constexpr int kMonitorTimerMs = 100;

// Milliseconds until the next tick of a 100 ms monitor timer that ran for elapsedMs.
int NextMonitorInterval(double elapsedMs);

// Highlighted item of a three-way switch display (throttle: 0 IDLE, 1 CRUISE, 2 WOT); -1 none.
inline constexpr int kNoItem = -1;

// The throttle switches measured as device inputs (LH 2.2 and EZF): a switch reads closed when
// its input is below 2.5 V (raw 32768). idle closed only -> IDLE, full-load closed only -> WOT,
// both open -> CRUISE, both closed -> none.
int ThrottleFromSwitchInputs(std::int64_t idleRaw, std::int64_t fullLoadRaw);

} // namespace kv
