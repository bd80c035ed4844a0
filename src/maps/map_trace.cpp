#include "maps/map_trace.h"

#include "auxinputs/aux_inputs.h"
#include "device/comms.h"
#include "eprom/eprom_image.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "monitor/monitor_fuel.h"
#include "platform/clock.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

// Fields of the LH 2.3 record.
enum Lh23Field { kL3Valid, kL3Rpm, kL3Maf, kL3Coolant, kL3Afr, kL3O2, kL3Throttle, kL3Flag1, kL3Flag2, kL3Count };
// Fields of the LH 2.2 record (device items).
enum Lh22Field { kL2Valid, kL2Period, kL2Period2, kL2Maf, kL2Coolant, kL2SwitchA, kL2SwitchB, kL2Afr, kL2Count };
// Fields of the EZK record.
enum EzkField { kKValid, kKPeriod, kKLoad, kKCoolant, kKAdvance, kKKnock, kKIdle, kKFull, kKAfr, kKCount };
// Fields of the EZF record (device items).
enum EzfField { kFValid, kFPeriod, kFVacuum, kFCoolant, kFAirTemp, kFSwitchA, kFSwitchB, kFCount };

// Rows of the EZK load axis: points 0, 4, .., 60 stand for 0 .. 100 % load.
constexpr double kEzkLoadAxisTop = 60.0;

int AddressByte(std::int32_t address) { return EcuRamAddressByte(static_cast<int>(address)); }

int BitAddressByte(const EPROM& image, int n) {
    std::int32_t address = 0;
    int mask = 0;
    image.GetBitVariableAddress(n, address, mask);
    return static_cast<int>(address & 0xFF);
}

int BitMask(const EPROM& image, int n) {
    std::int32_t address = 0;
    int mask = 0;
    image.GetBitVariableAddress(n, address, mask);
    return mask;
}

// A switch input of the device reads "closed" below half scale (high byte below 128).
bool SwitchOpen(std::int64_t raw) { return ((raw >> 8) & 0xFF) >= 128; }

// Idle switch A and full-load switch B, each open or closed: idle closed alone -> idle, both open
// -> part load, full-load closed alone -> full load, anything else idle.
int ThrottleFromSwitches(bool idleOpen, bool fullOpen) {
    if (!idleOpen && fullOpen) return kThrottleIdle;
    if (idleOpen && fullOpen) return kThrottlePartLoad;
    if (idleOpen && !fullOpen) return kThrottleFullLoad;
    return kThrottleIdle;
}

void ShowWideBand(TraceSample& s, const AuxInputs& aux, double raw) {
    s.afrValue = aux.AfrFromAux(raw);
    s.afrAtLawEnd = aux.AtLawEnd(kWbo2Input, raw);
    s.afr = FormatNumber(s.afrValue, "0.00");
    s.eqr = FormatNumber(aux.EquivalenceRatioFromAux(raw), "0.00");
}

bool IsRpmAxis(XAxisType t) {
    return t == TableEditor::MAPRPMAXIS || t == TableEditor::RPMAXIS || t == TableEditor::IGNRPMAXIS1 ||
           t == TableEditor::IGNRPMAXIS2 || t == TableEditor::IGNRPMAXIS3 || t == TableEditor::EZFRPMAXIS;
}

bool IsCoolantAxis(XAxisType t) {
    // The EZK warm-up maps' numbered columns have no temperatures to place a reading on.
    return t == TableEditor::COOLANTAXIS || t == TableEditor::EZFCOOLANTAXISIDLE ||
           t == TableEditor::EZFCOOLANTAXISCRUISE || t == TableEditor::EZFCOOLANTAXISWOT;
}

bool IsAirTempAxis(XAxisType t) {
    return t == TableEditor::EZFAIRTEMPAXISCRUISE || t == TableEditor::EZFAIRTEMPAXISWOT;
}

} // namespace

RecordLayout BuildTraceLayout(MapTab tab, const EPROM& image) {
    RecordLayout l;
    const EcuType type = image.GetECUType();
    auto var = [&](int n) { return AddressByte(image.GetVariableAddress(n)); };
    if (tab == MapTab::Fuel && type == EcuType::LH23) {
        l.Add(17, 1);                       // validity byte
        l.Add(var(10), 1);                  // rpm byte
        l.Add(var(2), 2);                   // MAF load word
        l.Add(var(11), 1);                  // coolant reading
        l.Add(11, 2);                       // wide-band input
        l.Add(var(12), 2);                  // O2 correction word
        l.Add(var(7), 1);                   // throttle switch bits 0..1
        l.Add(BitAddressByte(image, 1), 1); // flag bytes
        l.Add(BitAddressByte(image, 2), 1);
    } else if (tab == MapTab::Fuel && type == EcuType::LH22) {
        l.Add(1, 1);  // validity byte
        l.Add(3, 3);  // engine period (24-bit)
        l.Add(12, 3); // second period
        l.Add(4, 2);  // MAF reading
        l.Add(5, 2);  // coolant reading
        l.Add(6, 2);  // throttle switch input A (idle)
        l.Add(7, 2);  // throttle switch input B (full load)
        l.Add(11, 2); // wide-band input
    } else if (tab == MapTab::Ignition && type == EcuType::EZK) {
        l.Add(18, 1);                       // validity byte
        l.Add(var(1), 2);                   // engine speed period word
        l.Add(var(3), 1);                   // load
        l.Add(var(6), 1);                   // coolant reading
        l.Add(var(2), 1);                   // ignition byte
        l.Add(var(7), 1);                   // knock counter
        l.Add(BitAddressByte(image, 1), 1); // idle switch bit
        l.Add(BitAddressByte(image, 2), 1); // full-load switch bit
        l.Add(11, 2);                       // wide-band input
    } else if (tab == MapTab::Ignition && type == EcuType::EZF) {
        l.Add(1, 1);  // validity byte
        l.Add(15, 2); // engine period
        l.Add(9, 2);  // vacuum reading
        l.Add(5, 2);  // coolant reading
        l.Add(8, 2);  // air temperature reading
        l.Add(6, 2);  // throttle switch input A (idle)
        l.Add(7, 2);  // throttle switch input B (full load)
    }
    return l;
}

std::vector<std::pair<int, int>> TraceFilters(MapTab tab, const EPROM& image, const AuxInputs& aux) {
    std::vector<std::pair<int, int>> filters;
    for (int n = 1; n <= 4; ++n) filters.emplace_back(AuxInputs::GetAuxChannel(n), aux.GetAuxFilter(n));
    const EcuType type = image.GetECUType();
    if (tab == MapTab::Fuel && type == EcuType::LH22) {
        for (auto f : {std::pair{1, 2}, {2, 3}, {3, 0}, {4, 0}}) filters.push_back(f);
    } else if (tab == MapTab::Ignition && type == EcuType::EZF) {
        for (auto f : {std::pair{2, 3}, {3, 0}, {4, 0}, {5, 1}, {6, 1}}) filters.push_back(f);
    }
    return filters;
}

bool IgnitionGate::Pass(bool ignitionOn, double nowSeconds) {
    bool proceed = false;
    if (ignitionOn) {
        if (!wasOn_) {
            onSince_ = nowSeconds; // just came on: note the time only
        } else if (onSince_ < 0 || nowSeconds - onSince_ > kIgnitionSettleSeconds) {
            proceed = true;
            onSince_ = -1.0;
        }
    }
    wasOn_ = ignitionOn;
    return proceed;
}

TraceSample DecodeTraceRecord(MapTab tab, const EPROM& image, const AuxInputs& aux, bool ramByteOrderFlag,
                              const RecordLayout& layout, const std::vector<std::uint8_t>& record) {
    TraceSample s;
    RecordFields f(layout, record);
    const EcuType type = image.GetECUType();
    if (!f.Valid()) return s;

    if (tab == MapTab::Fuel && type == EcuType::LH23 && layout.FieldCount() == kL3Count) {
        s.rpmValue = f.Byte(kL3Rpm);
        s.rpm = conv::LH_RpmFromCode(f.Byte(kL3Rpm));
        s.loadValue = static_cast<double>(f.Ram(kL3Maf, ramByteOrderFlag));
        s.coolantValue = f.Byte(kL3Coolant);
        s.coolantC = conv::TempLH23Coolant(s.coolantValue);
        switch (f.Byte(kL3Throttle) & 3) {
        case 1: s.throttle = kThrottleIdle; break;
        case 2: s.throttle = kThrottleFullLoad; break;
        case 0: s.throttle = kThrottlePartLoad; break;
        default: s.throttle = kThrottleIdle; break;
        }
        s.transient = s.throttle == kThrottleIdle && (f.Byte(kL3Flag2) & BitMask(image, 2)) != 0;
        // The wide-band input is the device's own measurement: low byte first.
        ShowWideBand(s, aux, static_cast<double>(f.LowFirst(kL3Afr)));
        s.o2 = FormatNumber(
                   LH_O2CorrectionPercent(static_cast<double>(f.Ram(kL3O2, ramByteOrderFlag)), image.GetCreator()),
                   "+0.0;-0.0;0.0") +
               " %";
        s.valid = true;
    } else if (tab == MapTab::Fuel && type == EcuType::LH22 && layout.FieldCount() == kL2Count) {
        std::int64_t period = f.LowFirst(kL2Period);
        if (period == 0) period = 0xFFFFFF;
        s.rpm = conv::RpmFromDevicePeriodLH(period);
        s.rpmValue = conv::LH_ByteFromRpm(s.rpm);
        s.loadValue = conv::LH22_MafLoad(static_cast<double>(f.LowFirst(kL2Maf)), period);
        // The 8-bit coolant curve takes the high byte of the 16-bit reading.
        s.coolantValue = f.Byte(kL2Coolant, 1);
        s.coolantC = conv::TempLH22Coolant(s.coolantValue);
        // The second period item is the injection time: none while the unit cuts fuel.
        s.transient = f.LowFirst(kL2Period2) == 0;
        s.throttle = ThrottleFromSwitches(SwitchOpen(f.LowFirst(kL2SwitchA)), SwitchOpen(f.LowFirst(kL2SwitchB)));
        ShowWideBand(s, aux, static_cast<double>(f.LowFirst(kL2Afr)));
        s.o2 = kNoData;
        s.valid = true;
    } else if (tab == MapTab::Ignition && type == EcuType::EZK && layout.FieldCount() == kKCount) {
        const std::int64_t period = f.Ram(kKPeriod, ramByteOrderFlag);
        s.rpmValue = static_cast<double>(period);
        s.rpm = conv::EZK_RpmFromPeriod(period);
        // The load byte (0..255 = 0..100 %) on the scale of the load rows (0..60).
        s.loadValue = f.Byte(kKLoad) * kEzkLoadAxisTop / 255.0;
        s.coolantValue = f.Byte(kKCoolant);
        const bool idle = (f.Byte(kKIdle) & BitMask(image, 1)) != 0;
        const bool full = (f.Byte(kKFull) & BitMask(image, 2)) != 0;
        s.throttle = idle && !full    ? kThrottleIdle
                     : !idle && !full ? kThrottlePartLoad
                     : full && !idle  ? kThrottleFullLoad
                                      : kThrottleIdle;
        s.advance = FormatNumber(conv::EZK_IgnitionAdvance(f.Byte(kKAdvance), s.rpm), "0.0") + kDegreeSign;
        s.knockCounter = f.Byte(kKKnock);
        ShowWideBand(s, aux, static_cast<double>(f.LowFirst(kKAfr)));
        s.valid = true;
    } else if (tab == MapTab::Ignition && type == EcuType::EZF && layout.FieldCount() == kFCount) {
        const std::int64_t period = f.LowFirst(kFPeriod);
        s.rpmValue = conv::EZF_PeriodFromDevicePeriod(period);
        s.rpm = conv::RpmFromDevicePeriodEZF(period);
        const int calibration = image.ReadByte(image.GetEPROMAddress(55));
        // The load axis points are vacuum readings / 256.
        s.loadValue = conv::EZF_VacuumCalibrated(f.LowFirst(kFVacuum), calibration) / 256.0;
        s.coolantValue = f.Byte(kFCoolant, 1);
        s.airTempValue = f.Byte(kFAirTemp, 1);
        s.throttle = ThrottleFromSwitches(SwitchOpen(f.LowFirst(kFSwitchA)), SwitchOpen(f.LowFirst(kFSwitchB)));
        s.valid = true;
    }
    return s;
}

bool ThrottleMatches(int required, int throttle, int mapId, bool ezkWotIgnored) {
    if (required == kThrottleAny) return true;
    if (ezkWotIgnored && throttle == kThrottleFullLoad) {
        if (mapId >= 16 && mapId <= 18) return true;  // cruise maps
        if (mapId >= 22 && mapId <= 24) return false; // WOT maps
    }
    return required == throttle;
}

std::optional<double> ChartOperatingX(const TableEditor& editor, EcuType ecuType, const TraceSample& sample) {
    if (editor.GetYAxisSize() >= 2 || editor.GetMap() == 0) return std::nullopt;
    const XAxisType t = editor.GetXAxisType();
    if (IsRpmAxis(t)) {
        switch (ecuType) {
        case EcuType::LH23: return conv::LH_RpmFromCode(static_cast<int>(sample.rpmValue));
        case EcuType::LH22: return conv::LH_RpmFromByteMid(static_cast<int>(sample.rpmValue));
        case EcuType::EZK: return conv::EZK_RpmFromPeriod(static_cast<std::int64_t>(sample.rpmValue));
        case EcuType::EZF: return conv::EZF_RpmFromPeriod(static_cast<std::int64_t>(sample.rpmValue));
        case EcuType::Unknown: break;
        }
        return std::nullopt;
    }
    if (IsCoolantAxis(t)) {
        switch (ecuType) {
        case EcuType::LH23: return conv::TempLH23Coolant(sample.coolantValue);
        case EcuType::LH22: return conv::TempLH22Coolant(sample.coolantValue);
        case EcuType::EZK: return conv::TempEZKCoolant(sample.coolantValue);
        case EcuType::EZF: return conv::TempEZFCoolant(sample.coolantValue);
        case EcuType::Unknown: break;
        }
        return std::nullopt;
    }
    if (IsAirTempAxis(t)) return conv::TempEZFAirTemp(sample.airTempValue);
    return std::nullopt;
}

void OperatingPointTrail::Push(double x, double y) {
    if (!points_.empty() && points_.back().first == x && points_.back().second == y) return;
    points_.emplace_back(x, y);
    while (static_cast<int>(points_.size()) > kLength) points_.pop_front();
}

std::vector<OperatingPointTrail::Point> OperatingPointTrail::Behind() const {
    std::vector<Point> out;
    const int n = static_cast<int>(points_.size());
    for (int i = 0; i + 1 < n; ++i) {
        const int age = n - 1 - i; // 1 = right behind the marker
        const double opacity = 1.0 - static_cast<double>(age) / kLength;
        out.push_back(
            {points_[static_cast<std::size_t>(i)].first, points_[static_cast<std::size_t>(i)].second, opacity});
    }
    return out;
}

bool MapTrace::Configure(MapTab tab, const EPROM& image) {
    tab_ = tab;
    image_ = &image;
    layout_ = BuildTraceLayout(tab, image);
    gate_.Reset();
    if (tab == MapTab::Ignition && image.GetECUType() == EcuType::EZK) {
        StartKnockCount(knock_, knockLabel_, device_.ReadEcuRam(2, image.GetVariableAddress(7), 1));
    } else {
        knockLabel_ = KnockLabel{};
    }
    if (layout_.FieldCount() == 0) return false;
    for (auto [channel, coefficient] : TraceFilters(tab, image, aux_)) device_.SetAuxInputFilter(channel, coefficient);
    return device_.DataLog_Configure(layout_.addresses, layout_.sizes);
}

void MapTrace::ResetKnockCount() { kv::ResetKnockCount(knock_, knockLabel_, -1); }

TraceTickResult MapTrace::Tick(TableEditor& editor, bool chartView) {
    TraceTickResult r;
    const std::int64_t start = clock_.NowMs();
    if (image_ != nullptr) {
        r.proceeded = gate_.Pass(device_.IsIgnitionOn(), static_cast<double>(start) / 1000.0);
        std::vector<std::uint8_t> record;
        if (r.proceeded) record = device_.DataLog_ReadRecord();
        r.sample = DecodeTraceRecord(tab_, *image_, aux_, device_.RamByteOrderFlag(), layout_, record);
    }
    const TraceSample& s = r.sample;
    const bool ezk = image_ != nullptr && image_->GetECUType() == EcuType::EZK;
    if (s.valid && ThrottleMatches(editor.GetRequiredThrottlePos(), s.throttle, editor.GetMap(),
                                   ezk && image_->EZK_IsWOTIgnored())) {
        if (chartView) {
            r.chartX = ChartOperatingX(editor, image_->GetECUType(), s);
        } else {
            editor.ShowOperatingPoint(s.rpmValue, s.loadValue, s.coolantValue, s.airTempValue);
            r.markerShown = editor.OperatingPointShown();
        }
    } else {
        editor.HideOperatingPoint();
    }
    if (tab_ == MapTab::Ignition && ezk) {
        // Without a record the count stays as it is (and its red hold runs out).
        r.playKnock = UpdateKnockCount(knock_, knockLabel_, s.valid ? s.knockCounter : -1);
    }
    r.knock = knockLabel_;
    r.nextIntervalMs =
        conv::NextTimerInterval(static_cast<double>(clock_.NowMs() - start) / 1000.0, kTracePeriodSeconds);
    return r;
}

} // namespace kv
