#pragma once
// The five analog inputs of the device (aux 1 to 4 and the wide-band O2 input "WBO2", number 5):
// their configuration, their piecewise-linear conversion laws and the settings that keep them.
//
// One AuxInputs object exists per program (the application shell owns it and hands it to the
// monitors, data logging and the configuration dialog). Input numbers are 1 to 5; any other
// number reads as the failure value stated with each accessor and setters ignore it.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class SettingsStore;

inline constexpr int kAuxInputCount = 5;
inline constexpr int kWbo2Input = 5;
inline constexpr const char* kAuxSettingsSection = "AuxInputs";
inline constexpr int kAuxMaxDecimals = 6;
inline constexpr int kAuxMaxFilter = 5;

// The device side of the inputs. Implemented over the device link by CommsAuxDevice; tests use
// a fake.
class AuxDevice {
public:
    virtual ~AuxDevice() = default;
    // "f", channel, coefficient -> "1". False when the device did not acknowledge.
    virtual bool SetAuxInputFilter(int channel, int coefficient) = 0;
    // The raw 16-bit reading of a channel (65536 counts = 5 V); nullopt when the device is absent
    // or does not answer.
    virtual std::optional<std::int32_t> ReadAuxInput(int channel) = 0;
};

struct AuxInputRecord {
    bool enabled = false;
    std::string name;
    std::vector<double> lawIn{0.0};    // volts, ascending
    std::vector<double> lawInRaw{0.0}; // the same points in raw units: volts / 5 x 65536
    std::vector<double> lawOut{0.0};   // displayed value per point
    bool lawDefault = true;            // only the placeholder point 0 -> 0
    std::string unit;
    int decimals = 0;
    int filter = 0; // 0 = no filtering .. 5 = most filtering
};

class AuxInputs {
public:
    // `device` may be null (no device: filters are kept but not sent). It must outlive this object.
    explicit AuxInputs(AuxDevice* device = nullptr);
    void SetDevice(AuxDevice* device) { device_ = device; }
    AuxDevice* Device() const { return device_; }

    // Reads the five keys of section "AuxInputs" (malformed values load as defaults) and sends
    // each filter to the device.
    void LoadAuxInputs(SettingsStore& settings);
    // Writes input n's key.
    void SaveAuxInputs(SettingsStore& settings, int n) const;
    // SetAuxInputFilter for inputs 1 to 4 with their filters. False when any send failed.
    bool SendAllAuxFilters();

    std::string GetAuxName(int n) const;
    void SetAuxName(int n, const std::string& name);
    bool IsAuxEnabled(int n) const;
    void SetAuxEnabled(int n, bool enabled);
    std::string GetAuxUnit(int n) const;
    void SetAuxUnit(int n, const std::string& unit);
    int GetAuxDecimals(int n) const;
    // Clamped to 0..kAuxMaxDecimals.
    void SetAuxDecimals(int n, int decimals);
    int GetAuxFilter(int n) const;
    // Clamped to 0..5; also sends it to the device (SetAuxInputFilter with the input's channel).
    void SetAuxFilter(int n, int filter);
    // name + " (aux n)" when enabled and the trimmed name is not empty, else "(aux n)".
    std::string GetAuxDisplayName(int n) const;

    // Law points, index 0 .. size - 1 in ascending voltage. Out-of-range indexes read 0.
    int GetAuxLawSize(int n) const;
    double GetAuxLawIn(int n, int i) const;
    double GetAuxLawOut(int n, int i) const;
    bool IsAuxLawDefault(int n) const;
    // Set one point's voltage (and its raw form) or displayed value; out-of-range i is ignored.
    void SetAuxLawIn(int n, int i, double volts);
    void SetAuxLawOut(int n, int i, double value);
    // New points are 0 -> 0; a size below 1 gives back the placeholder.
    void ResizeAuxLaw(int n, int size);
    // Keeps the law ascending without two points at one voltage: replaces the placeholder,
    // overwrites the value at an equal voltage, or inserts in order.
    void AddAuxLawPoint(int n, double volts, double value);
    // Removing the only point brings back the placeholder; an index past the end changes nothing.
    void RemoveAuxLawPoint(int n, int i);

    // Device channel (input 1..4 -> 2..5, input 5 -> 0) and data-log record address
    // (1..4 -> 5..8, 5 -> 11); -1 for an unknown input.
    static int GetAuxChannel(int n);
    static int GetAuxAddress(int n);

    // The displayed value of a raw 16-bit reading through input n's law (clamped to the first and
    // last output outside the points); 0 for an unknown input.
    double ConvertAux(int n, double raw) const;
    // ConvertAux with the input's decimals; FormatAuxWithUnit appends " " and the unit when set.
    std::string FormatAux(int n, double raw) const;
    std::string FormatAuxWithUnit(int n, double raw) const;

    // Whether a raw reading lies at either end of input n's law (within one count of its first or
    // last point, or beyond): the input then shows a sensor that does not measure (warming up,
    // unplugged). A law of one point, and an unknown input, have no inside.
    bool AtLawEnd(int n, double raw) const;

    // The air/fuel ratio of a wide-band reading (input 5's law), single precision, and the
    // equivalence ratio 14.7 / AFR (0 when the AFR is 0).
    float AfrFromAux(double raw) const;
    float EquivalenceRatioFromAux(double raw) const;

    const AuxInputRecord& Record(int n) const;
    void SetRecord(int n, const AuxInputRecord& record);

private:
    AuxInputRecord* Rec(int n);
    AuxDevice* device_;
    AuxInputRecord records_[kAuxInputCount];
};

// The default record of input n (WBO2: 0 V -> 9 and 5 V -> 19; others the placeholder).
AuxInputRecord DefaultAuxRecord(int n);

// The settings text of one record: "Name=..;Enabled=1;Unit=..;Dec=..;Filter=..;LawIn=a|b;LawOut=c|d;"
std::string EncodeAuxSetting(const AuxInputRecord& record);
// Reads a settings text into a record for input n. Missing fields take their defaults; numbers
// that do not read are 0; decimals and filter are clamped; a law whose two lists differ in
// length is the default law; unsorted or repeated points are put in order (the later value of
// a repeated voltage wins).
AuxInputRecord DecodeAuxSetting(int n, const std::string& text);

// "%" + 4 hex digits for characters below 32, above 126 and ";", "=", "%" (UTF-8 text; code
// points above 0xFFFF are written as two escapes of their UTF-16 halves).
std::string EscapeAuxText(const std::string& text);
// The inverse; a "%" not followed by 4 hex digits is kept as it is.
std::string UnescapeAuxText(const std::string& text);

// value with `decimals` decimals ("0", "0.0", "0.00", ...); never shows "-0".
std::string FormatFixed(double value, int decimals);

} // namespace kv
