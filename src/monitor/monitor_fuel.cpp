#include "monitor/monitor_fuel.h"

#include "auxinputs/aux_inputs.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Field numbers of the LH 2.3 record.
enum Lh23Field {
    kL3Valid,
    kL3Period,
    kL3Maf,
    kL3Coolant,
    kL3GateA,
    kL3GateB,
    kL3GateC,
    kL3InjMode,
    kL3InjPW,
    kL3Battery,
    kL3MafVolts,
    kL3Wbo2,
    kL3Throttle,
    kL3Flap,
    kL3COpot,
    kL3O2,
    kL3IdleStab,
    kL3O2Adapt1,
    kL3O2Adapt2,
    kL3FieldCount
};
// Field numbers of the LH 2.2 record.
enum Lh22Field {
    kL2Valid,
    kL2Period,
    kL2InjTime,
    kL2InjMode,
    kL2Maf,
    kL2Coolant,
    kL2Wbo2,
    kL2IdleSwitch,
    kL2FullSwitch,
    kL2FieldCount
};

int BitAddress(const EPROM& image, int n) {
    std::int32_t address = 0;
    int mask = 0;
    image.GetBitVariableAddress(n, address, mask);
    return address;
}

int BitMask(const EPROM& image, int n) {
    std::int32_t address = 0;
    int mask = 0;
    image.GetBitVariableAddress(n, address, mask);
    return mask;
}

std::string WithUnit(const std::string& number, const char* unit) { return number + unit; }

void ShowWideBand(FuelMonitorView& v, const AuxInputs& aux, double raw) {
    const float afr = aux.AfrFromAux(raw);
    v.afr = FormatNumber(afr, "0.00");
    v.eqr = FormatNumber(aux.EquivalenceRatioFromAux(raw), "0.00");
    v.afrSlider = conv::RoundEven(static_cast<double>(afr) * 100.0);
}

void ShowCoolant(FuelMonitorView& v, int celsius) {
    v.coolant[0] = std::to_string(celsius) + kDegreeC;
    v.coolant[1] = std::to_string(conv::FahrenheitFromCelsius(celsius)) + kDegreeF;
}

void ShowMafPercent(FuelMonitorView& v, double fraction) {
    v.mafPercent = WithUnit(FormatNumber(fraction * 100.0, "0"), " %");
    v.mafHigh = conv::IsDutyCycleHigh(fraction);
}

} // namespace

RecordLayout BuildFuelMonitorLayout(const EPROM& image, const AuxInputs& aux) {
    RecordLayout l;
    auto var = [&](int n) { return static_cast<int>(image.GetVariableAddress(n)); };
    auto bit = [&](int n) { return BitAddress(image, n); };
    if (image.GetECUType() == EcuType::LH23) {
        l.Add(17, 1);     // validity
        l.Add(var(1), 3); // engine speed period
        l.Add(var(2), 2); // MAF load
        l.Add(var(5), 1); // coolant
        l.Add(bit(1), 1); // pulse-width gate flags
        l.Add(bit(2), 1);
        l.Add(bit(3), 1);
        l.Add(bit(5), 1);  // injection mode
        l.Add(var(3), 2);  // injector pulse width
        l.Add(var(8), 1);  // battery
        l.Add(var(6), 1);  // MAF voltage
        l.Add(11, 2);      // wide-band input
        l.Add(var(7), 1);  // throttle switches
        l.Add(bit(4), 1);  // flap switch
        l.Add(var(9), 1);  // CO potentiometer
        l.Add(var(12), 2); // O2 correction
        l.Add(var(13), 2); // idle stabiliser
        l.Add(var(15), 3); // O2 adaptation
        l.Add(var(16), 3);
    } else {
        l.Add(1, 1);  // validity
        l.Add(3, 3);  // engine revolution period, device counts
        l.Add(12, 3); // injector on-time, device counts
        l.Add(13, 1); // injection mode
        l.Add(4, 2);  // MAF reading
        l.Add(5, 2);  // coolant reading (aux input 1)
        l.Add(11, 2); // wide-band input
        l.Add(6, 2);  // throttle switch inputs (aux inputs 2 and 3)
        l.Add(7, 2);
    }
    l.AppendAuxInputs(aux);
    return l;
}

double LH_O2CorrectionPercent(double w, int creator) {
    switch (creator) {
    case 1: return ((w / 32768.0 + 1.0) / 2.0 - 1.0) * 100.0;
    case 2: return (w / 32768.0 - 1.0) * 100.0;
    default: return 0.0;
    }
}

FuelMonitorView DecodeLH23Record(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                 const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag) {
    FuelMonitorView v;
    RecordFields f(layout, record);
    const bool fits = layout.FieldCount() >= kL3FieldCount;
    // The wide-band and aux fields are the device's own measurements: low byte first whatever the
    // unit's RAM order.
    v.aux = ReadAuxFields(layout, f, kL3FieldCount, aux, false, ramByteOrderFlag);
    if (!f.Valid() || !fits) {
        for (auto& a : v.aux) a.text = kNoData;
        return v;
    }
    v.valid = true;
    auto ram = [&](int field) { return static_cast<double>(f.Ram(field, ramByteOrderFlag)); };
    auto bitSet = [&](int field, int n) { return (f.Byte(field) & BitMask(image, n)) != 0; };

    // Engine speed from the period in 2 us counts per half revolution.
    double p = ram(kL3Period);
    if (p == 0) p = 0xFFFFFF;
    const float revTime = static_cast<float>(2.0 * p * 0.000002);
    const int rpm = static_cast<int>(std::floor(60.0 / static_cast<double>(revTime)));
    v.rpm = std::to_string(rpm);
    v.rpmSlider = rpm;

    const double maf = ram(kL3Maf);
    v.maf = FormatNumber(maf, "0");
    ShowMafPercent(v, conv::DutyCycleFromTicks(maf, revTime));

    ShowCoolant(v, conv::TempLH23Coolant(f.Byte(kL3Coolant)));

    const bool gate = bitSet(kL3GateA, 1) || (bitSet(kL3GateB, 2) && bitSet(kL3GateC, 3));
    v.injMode = bitSet(kL3InjMode, 5) ? kInjEnhanced : kInjNormal;
    const double pw = (gate ? 0.0 : ram(kL3InjPW)) * 2.666667 / 1000.0; // ms
    v.injPW = WithUnit(FormatNumber(pw, "0.00"), " ms");
    if (revTime > 0) v.injDC = WithUnit(FormatNumber(pw / 1000.0 / revTime * 100.0, "0"), " %");

    v.battery = WithUnit(FormatNumber(conv::LH23_BatteryVolts(f.Byte(kL3Battery)), "0.0"), " V");
    v.mafVoltage = WithUnit(FormatNumber(conv::LH23_MafVolts(f.Byte(kL3MafVolts)), "0.00"), " V");
    ShowWideBand(v, aux, static_cast<double>(f.LowFirst(kL3Wbo2)));

    const int s = f.Byte(kL3Throttle) & 3;
    v.throttle = s == 1 ? 0 : s == 2 ? 2 : 1;
    v.flapOpen = bitSet(kL3Flap, 4);

    // CO potentiometer against the image's reference (parameter entries 7 and 8).
    const double pot = f.Byte(kL3COpot);
    const double a = image.ReadByte(image.GetEPROMAddress(7));
    const double k = image.ReadByte(image.GetEPROMAddress(8));
    v.coPot = WithUnit(FormatNumber(60.0 / 700.0 * 0.0006357837 * (pot - a) * k, "0.00;-0.00;0.00"), " ms");
    double percent = 0.0;
    if (pot >= a) {
        const double top = a == 255 ? 256 : a;
        percent = (pot - top) / (255 - top) * 100.0;
    } else {
        const double bottom = a == 0 ? 1 : a;
        percent = (pot - bottom) / bottom * 100.0;
    }
    v.coPotPercent = WithUnit(FormatNumber(percent, "+0.0;-0.0;0"), " %");

    v.o2 = WithUnit(FormatNumber(LH_O2CorrectionPercent(ram(kL3O2), image.GetCreator()), "+0.0;-0.0;0.0"), " %");
    v.idleStabilizer = WithUnit(FormatNumber(ram(kL3IdleStab) * 2.666667 / 10240.0 * 100.0, "0.0"), " %");
    for (int i = 0; i < 2; ++i) {
        const double adapt = ((ram(kL3O2Adapt1 + i) / 8421376.0 + 1.0) / 2.0 - 1.0) * 100.0;
        v.o2Adapt[i] = WithUnit(FormatNumber(adapt, "+0.0;-0.0;0.0"), " %");
    }
    v.o2AdaptResetEnabled = true;
    return v;
}

FuelMonitorView DecodeLH22Record(const RecordLayout& layout, const std::vector<std::uint8_t>& record,
                                 const AuxInputs& aux) {
    FuelMonitorView v;
    RecordFields f(layout, record);
    v.aux = ReadAuxFields(layout, f, kL2FieldCount, aux, false, false);
    if (!f.Valid() || layout.FieldCount() < kL2FieldCount) {
        for (auto& a : v.aux) a.text = kNoData;
        return v;
    }
    v.valid = true;

    std::int64_t p = f.LowFirst(kL2Period);
    if (p == 0) p = 0xFFFFFF;
    const double cycle = 2.0 * conv::DevicePeriodSeconds(p);
    const int rpm = conv::RpmFromDevicePeriodLH(p);
    v.rpm = std::to_string(rpm);
    v.rpmSlider = rpm;

    const double t = std::min(conv::DevicePeriodSeconds(f.LowFirst(kL2InjTime)), 2.0 * cycle);
    v.injPW = WithUnit(FormatNumber(t * 1000.0, "0.00"), " ms");
    if (cycle > 0) v.injDC = WithUnit(FormatNumber(std::min(t / cycle * 100.0, 200.0), "0"), " %");

    const int mode = f.Byte(kL2InjMode);
    v.injMode = mode <= 2 ? kInjNormal : mode <= 4 ? kInjEnhanced : kNoData;

    const std::int64_t mafRaw = f.LowFirst(kL2Maf);
    const int load = conv::LH22_MafLoad(static_cast<double>(mafRaw), p);
    v.maf = std::to_string(load);
    ShowMafPercent(v, conv::DutyCycleFromTicksHalf(load, cycle));
    v.mafVoltage = WithUnit(FormatNumber(conv::LH22_MafSignal(static_cast<double>(mafRaw)), "0.00"), " V");

    ShowCoolant(v, conv::TempLH22Coolant(f.Byte(kL2Coolant, 1)));
    ShowWideBand(v, aux, static_cast<double>(f.LowFirst(kL2Wbo2)));
    v.throttle = ThrottleFromSwitchInputs(f.LowFirst(kL2IdleSwitch), f.LowFirst(kL2FullSwitch));
    return v;
}

bool FuelMonitor::Setup(const EPROM& image) {
    layout_ = BuildFuelMonitorLayout(image, aux_);
    lh23_ = image.GetECUType() == EcuType::LH23;
    device_.ResetIgnitionDebounce();
    return device_.DataLog_Configure(layout_.addresses, layout_.sizes);
}

FuelMonitorView FuelMonitor::Tick(const EPROM& image, int& nextIntervalMs) {
    const std::int64_t start = clock_.NowMs();
    std::vector<std::uint8_t> record;
    const bool ignition = lh23_ ? device_.IgnitionOnDebounced() : device_.IsIgnitionOn();
    if (ignition) record = device_.DataLog_ReadRecord();
    FuelMonitorView v = lh23_ ? DecodeLH23Record(layout_, record, image, aux_, device_.RamByteOrderFlag())
                              : DecodeLH22Record(layout_, record, aux_);
    nextIntervalMs = NextMonitorInterval(static_cast<double>(clock_.NowMs() - start));
    return v;
}

} // namespace kv
