#include "monitor/monitor_ignition.h"

#include "auxinputs/aux_inputs.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "platform/clock.h"

#include <algorithm>
#include <charconv>

namespace kv {

namespace {

enum EzkField {
    kKValid,
    kKPeriod,
    kKAdvance,
    kKLoad,
    kKCoding,
    kKThrottleIdle,
    kKThrottleFull,
    kKCoolant,
    kKKnock,
    kKWbo2,
    kKGearbox,
    kKSelector,
    kKBattery,
    kKKnockRetard,
    kKFault0,
    kKFieldCount = kKFault0 + kEzkFaults
};
enum EzfField { kFValid, kFTiming, kFVacuum, kFIdleSwitch, kFFullSwitch, kFCoolant, kFAirTemp, kFWbo2, kFFieldCount };
// Bit variables of the seven fault flags, in fault order.
constexpr int kFaultBits[kEzkFaults] = {3, 4, 5, 6, 7, 8, 14};

void BitOf(const EPROM& image, int n, int& address, int& mask) {
    std::int32_t a = 0;
    image.GetBitVariableAddress(n, a, mask);
    address = a;
}

int LabelNumber(const std::string& text) {
    int v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    return r.ec == std::errc() ? v : 0;
}

void ShowTemperature(std::string& c, std::string& f, int celsius) {
    c = std::to_string(celsius) + kDegreeC;
    f = std::to_string(conv::FahrenheitFromCelsius(celsius)) + kDegreeF;
}

void ShowWideBand(IgnitionMonitorView& v, const AuxInputs& aux, double raw) {
    v.afr = FormatNumber(aux.AfrFromAux(raw), "0.00");
    v.eqr = FormatNumber(aux.EquivalenceRatioFromAux(raw), "0.00");
}

} // namespace

bool UpdateKnockCount(KnockCountState& state, KnockLabel& label, int counter) {
    int increase = 0;
    if (counter >= 0 && !state.lastKnockCounter) {
        state.lastKnockCounter = counter;
    } else if (counter >= 0) {
        int last = *state.lastKnockCounter;
        if (last > counter) last -= 256;
        increase = counter - last;
        if (increase == 255) increase = 0;
    }
    if (increase != 0) {
        state.lastKnockCounter = counter;
        label.text = std::to_string(std::min(LabelNumber(label.text) + increase, kKnockCountMax));
        label.red = true;
        state.redHold = kKnockRedTicks;
        return true;
    }
    if (state.redHold > 0) --state.redHold;
    label.red = state.redHold > 0;
    return false;
}

void ResetKnockCount(KnockCountState& state, KnockLabel& label, int counter) {
    if (counter >= 0) state.lastKnockCounter = counter;
    state.redHold = 0;
    label.text = "0";
    label.red = false;
}

void StartKnockCount(KnockCountState& state, KnockLabel& label, std::optional<std::int32_t> counterRead) {
    ResetKnockCount(state, label, counterRead ? *counterRead : -1);
    if (!counterRead) state.lastKnockCounter.reset();
}

std::array<int, kCylinders> EZK_DecodeKnockRetard(const std::vector<std::uint8_t>& block) {
    std::array<int, kCylinders> none{};
    if (block.size() < 9 || block[0] == 0) return none;
    unsigned b0 = block[0];
    std::array<int, kCylinders> b{}; // b[0] is b1 .. b[7] is b8
    for (int i = 0; i < kCylinders; ++i) b[i] = block[i + 1] == 255 ? 0 : block[i + 1];
    for (int rotations = 0; b0 != 0x63; ++rotations) {
        if (rotations == 8) return none;
        b0 = ((b0 >> 1) | (b0 << 7)) & 0xFF;
        std::rotate(b.begin(), b.begin() + 1, b.end());
    }
    // Cylinder 1 <- b7, 2 <- b4, 3 <- b6, 4 <- b1, 5 <- b2, 6 <- b3, 7 <- b5, 8 <- b8.
    return {b[6], b[3], b[5], b[0], b[1], b[2], b[4], b[7]};
}

RecordLayout BuildIgnitionMonitorLayout(const EPROM& image, const AuxInputs& aux) {
    RecordLayout l;
    auto var = [&](int n) { return static_cast<int>(image.GetVariableAddress(n)); };
    auto bit = [&](int n) {
        int address = 0, mask = 0;
        BitOf(image, n, address, mask);
        return address;
    };
    if (image.GetECUType() == EcuType::EZK) {
        l.Add(18, 1);     // validity
        l.Add(var(1), 2); // engine speed period word
        l.Add(var(2), 1); // ignition advance byte
        l.Add(var(3), 1); // load
        l.Add(var(5), 1); // coding
        l.Add(bit(1), 1); // throttle switches
        l.Add(bit(2), 1);
        l.Add(var(6), 1);  // coolant
        l.Add(var(7), 1);  // knock counter
        l.Add(11, 2);      // wide-band input
        l.Add(bit(15), 1); // gearbox type
        l.Add(bit(16), 1); // gear selector
        l.Add(var(8), 1);  // battery
        if (image.GetRevision() >= 2)
            l.Add(2, 9); // knock retard block: marker and eight counts
        else
            l.Add(127, 1); // dummy byte
        for (int bitNo : kFaultBits) l.Add(bit(bitNo), 1);
    } else {
        l.Add(1, 1);  // validity
        l.Add(15, 5); // engine period (2 bytes), spark delay (3 bytes)
        l.Add(9, 2);  // vacuum reading
        l.Add(6, 2);  // throttle switch inputs
        l.Add(7, 2);
        l.Add(5, 2);  // coolant reading
        l.Add(8, 2);  // air temperature reading
        l.Add(11, 2); // wide-band input
    }
    l.AppendAuxInputs(aux);
    return l;
}

IgnitionMonitorView DecodeEZKRecord(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                    const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag,
                                    int& knockCounter) {
    IgnitionMonitorView v;
    knockCounter = -1;
    if (image.GetRevision() < 2) v.revisionWarning = kEzkRevisionWarning;
    RecordFields f(layout, record);
    // The wide-band and aux fields are the device's own measurements: low byte first whatever the
    // unit's RAM order.
    v.aux = ReadAuxFields(layout, f, kKFieldCount, aux, false, ramByteOrderFlag);
    if (!f.Valid() || layout.FieldCount() < kKFieldCount) {
        for (auto& a : v.aux) a.text = kNoData;
        return v;
    }
    v.valid = true;
    auto bitSet = [&](int field, int n) {
        int address = 0, mask = 0;
        BitOf(image, n, address, mask);
        return (f.Byte(field) & mask) != 0;
    };

    const int rpm = conv::EZK_RpmFromPeriod(f.Ram(kKPeriod, ramByteOrderFlag));
    v.rpm = std::to_string(rpm);
    v.rpmSlider = rpm;
    v.advance = FormatNumber(conv::EZK_IgnitionAdvance(f.Byte(kKAdvance), rpm), "0.0") + kDegreeSign;
    v.load = FormatNumber(f.Byte(kKLoad) / 255.0 * 100.0, "0") + " %";

    switch (f.Byte(kKCoding)) {
    case 0: v.coding = 0; break;
    case 4: v.coding = 1; break;
    case 8: v.coding = 2; break;
    default: v.coding = kNoItem; break;
    }

    const bool idle = bitSet(kKThrottleIdle, 1);
    const bool full = bitSet(kKThrottleFull, 2);
    v.throttle = idle && !full ? 0 : !idle && !full ? 1 : full && !idle ? 2 : kNoItem;

    ShowTemperature(v.coolantC, v.coolantF, conv::TempEZKCoolant(f.Byte(kKCoolant)));
    knockCounter = f.Byte(kKKnock);
    ShowWideBand(v, aux, static_cast<double>(f.LowFirst(kKWbo2)));

    const bool automatic = bitSet(kKGearbox, 15);
    v.transmission = automatic ? 0 : 1;
    v.gearSelector = automatic ? (bitSet(kKSelector, 16) ? 1 : 0) : kNoItem;

    v.battery = FormatNumber(f.Byte(kKBattery) / 256.0 * 5.0 / 0.268, "0.0") + " V";

    if (image.GetRevision() >= 2) {
        std::vector<std::uint8_t> block;
        for (int k = 0; k < 9; ++k) block.push_back(static_cast<std::uint8_t>(f.Byte(kKKnockRetard, k)));
        const auto retard = EZK_DecodeKnockRetard(block);
        for (int c = 0; c < kCylinders; ++c) v.knockRetard[c] = FormatNumber(retard[c] * 6 / 16.0, "0.0") + kDegreeSign;
    }

    for (int i = 0; i < kEzkFaults; ++i) v.faults[i] = bitSet(kKFault0 + i, kFaultBits[i]);
    return v;
}

IgnitionMonitorView DecodeEZFRecord(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                    const EPROM& image, const AuxInputs& aux) {
    IgnitionMonitorView v;
    v.faultCaptions = false;
    v.airTempC = std::string(kNoData) + kDegreeC;
    v.airTempF = std::string(kNoData) + kDegreeF;
    RecordFields f(layout, record);
    v.aux = ReadAuxFields(layout, f, kFFieldCount, aux, false, false);
    if (!f.Valid() || layout.FieldCount() < kFFieldCount) {
        for (auto& a : v.aux) a.text = kNoData;
        return v;
    }
    v.valid = true;

    const std::int64_t period = f.Byte(kFTiming, 0) + 256 * f.Byte(kFTiming, 1);
    const std::int64_t delay = f.Byte(kFTiming, 2) + 256 * f.Byte(kFTiming, 3) + 65536 * f.Byte(kFTiming, 4);
    const int rpm = conv::RpmFromDevicePeriodEZF(period);
    v.rpm = std::to_string(rpm);
    v.rpmSlider = rpm;
    v.advance =
        FormatNumber(conv::IgnitionAdvanceFromTiming(static_cast<double>(period), static_cast<double>(delay)), "0.0") +
        kDegreeSign;

    const int calibration = image.ReadByte(image.GetEPROMAddress(55));
    v.load = FormatNumber(conv::VacuumFromRaw(conv::EZF_VacuumCalibrated(f.LowFirst(kFVacuum), calibration)), "0.0") +
             " inHg";
    v.throttle = ThrottleFromSwitchInputs(f.LowFirst(kFIdleSwitch), f.LowFirst(kFFullSwitch));
    // The 8-bit temperature curves take the high byte of the 16-bit readings.
    ShowTemperature(v.coolantC, v.coolantF, conv::TempEZFCoolant(f.Byte(kFCoolant, 1)));
    ShowTemperature(v.airTempC, v.airTempF, conv::TempEZFAirTemp(f.Byte(kFAirTemp, 1)));
    ShowWideBand(v, aux, static_cast<double>(f.LowFirst(kFWbo2)));
    return v;
}

bool IgnitionMonitor::Setup(const EPROM& image) {
    ezk_ = image.GetECUType() == EcuType::EZK;
    if (ezk_) {
        StartKnockCount(knock_, label_, device_.ReadEcuRam(2, image.GetVariableAddress(7), 1));
    } else {
        label_ = KnockLabel{kNoData, false};
    }
    layout_ = BuildIgnitionMonitorLayout(image, aux_);
    device_.ResetIgnitionDebounce();
    return device_.DataLog_Configure(layout_.addresses, layout_.sizes);
}

bool IgnitionMonitor::Reconfigure(const EPROM& image) {
    layout_ = BuildIgnitionMonitorLayout(image, aux_);
    return device_.DataLog_Configure(layout_.addresses, layout_.sizes);
}

IgnitionMonitorView IgnitionMonitor::Tick(const EPROM& image, int& nextIntervalMs, bool& playKnock) {
    const std::int64_t start = clock_.NowMs();
    playKnock = false;
    std::vector<std::uint8_t> record;
    const bool ignition = ezk_ ? device_.IgnitionOnDebounced() : device_.IsIgnitionOn();
    if (ignition) record = device_.DataLog_ReadRecord();
    IgnitionMonitorView v;
    if (ezk_) {
        int counter = -1;
        v = DecodeEZKRecord(layout_, record, image, aux_, device_.RamByteOrderFlag(), counter);
        playKnock = UpdateKnockCount(knock_, label_, counter);
    } else {
        v = DecodeEZFRecord(layout_, record, image, aux_);
        label_ = KnockLabel{kNoData, false};
    }
    nextIntervalMs = NextMonitorInterval(static_cast<double>(clock_.NowMs() - start));
    return v;
}

} // namespace kv
