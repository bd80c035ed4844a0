#include "datalog/log_decode.h"

#include "auxinputs/aux_inputs.h"
#include "datalog/log_setup.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "monitor/monitor_fuel.h"
#include "monitor/monitor_ignition.h"
#include "monitor/monitor_record.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr double kLhPeriodCountSeconds = 4e-6;
constexpr double kLhInjectionCountMs = 2.6666667 / 1000.0;
constexpr std::int64_t kNoPeriod = 0xFFFFFF;
constexpr int kSwitchClosedBelow = 128;
constexpr int kEzfVacuumCalibrationEntry = 55;
constexpr int kMaxAuxDecimals = 15;

std::string Plain(std::int64_t v) { return std::to_string(v); }
std::string Text(int t) { return std::to_string(t); }

} // namespace

int ThrottleFromSwitches(bool idleClosed, bool fullClosed) {
    int t = 2;
    if (idleClosed) t = 1;
    if (fullClosed) t = t == 2 ? 3 : 0;
    return t;
}

LogRecordDecoder::LogRecordDecoder(const LogRunPlan& plan, const EPROM& fuel, const EPROM& ignition,
                                   const AuxInputs& aux, bool ramByteOrderFlag)
    : plan_(plan), aux_(aux), ramOrder_(ramByteOrderFlag) {
    offset_.fill(-1);
    int offset = 0;
    for (int number : plan.fieldChannels) {
        const LogChannel& c = LogChannelByNumber(number);
        offset_[static_cast<std::size_t>(number)] = offset;
        mask_[static_cast<std::size_t>(number)] = ChannelBitMask(c, fuel, ignition);
        offset += c.bytes;
    }
    creator_ = fuel.GetCreator();
    vacuumCalibration_ = ignition.ReadByte(ignition.GetEPROMAddress(kEzfVacuumCalibrationEntry));
    record_.assign(static_cast<std::size_t>(plan.recordSize), 0);
}

int LogRecordDecoder::Byte(int channel, int k, int absent) const {
    const int o = offset_[static_cast<std::size_t>(channel)];
    if (o < 0) return absent;
    return record_[static_cast<std::size_t>(o + k)];
}

std::int64_t LogRecordDecoder::Ram(int channel) const {
    const int bytes = LogChannelByNumber(channel).bytes;
    if (bytes == 3) return conv::CombineTriple(Byte(channel, 0), Byte(channel, 1), Byte(channel, 2), ramOrder_);
    if (bytes == 2) return conv::CombineWord(Byte(channel, 0), Byte(channel, 1), ramOrder_);
    return Byte(channel);
}

std::int64_t LogRecordDecoder::LowFirst(int channel) const {
    const int bytes = LogChannelByNumber(channel).bytes;
    std::int64_t v = 0;
    for (int k = bytes - 1; k >= 0; --k) v = v * 256 + Byte(channel, k);
    return v;
}

bool LogRecordDecoder::Bit(int channel) const {
    return (Byte(channel) & mask_[static_cast<std::size_t>(channel)]) != 0;
}

std::vector<std::string> LogRecordDecoder::Decode(std::span<const std::uint8_t> record,
                                                  std::optional<int>& knockPrevious, LogKnockDisplay& knock,
                                                  bool& playKnock) {
    std::fill(record_.begin(), record_.end(), std::uint8_t{0});
    for (std::size_t i = 0; i < record.size() && i < record_.size(); ++i) record_[i] = record[i];

    Values v;
    std::int64_t lhCount = Ram(ch::LhSpeed);
    if (lhCount == 0) lhCount = kNoPeriod;
    v.lhPeriod = static_cast<double>(lhCount) * kLhPeriodCountSeconds;
    const double lhRpm = std::floor(60.0 / v.lhPeriod);
    const double lhMaf = static_cast<double>(Ram(ch::LhMaf));
    const bool injectionOff = Bit(ch::LhBit1) || (Bit(ch::LhBit2) && Bit(ch::LhBit3));
    const double lhPwMs = injectionOff ? 0.0 : static_cast<double>(Ram(ch::LhInjection)) * kLhInjectionCountMs;
    const int lhCoolantC = conv::TempLH23Coolant(Byte(ch::LhCoolant));
    const int lhThrottleByte = Byte(ch::LhThrottle) & 3;
    static constexpr int kLhThrottleText[4] = {2, 1, 3, 0};

    v.ezkRpm = conv::EZK_RpmFromPeriod(Ram(ch::EzkSpeed));
    const int ezkCoolantC = conv::TempEZKCoolant(Byte(ch::EzkCoolant));
    int knockCount = 0;
    if (offset_[ch::EzkKnock] >= 0) {
        const int k = Byte(ch::EzkKnock);
        int previous = knockPrevious.value_or(k);
        if (k < previous) previous -= 256;
        knockCount = k - previous;
        knockPrevious = k;
        if (UpdateKnockCount(knock.state, knock.label, k)) playKnock = true;
    }
    std::array<int, kCylinders> retard{};
    if (offset_[ch::EzkKnockRetard] >= 0) {
        std::vector<std::uint8_t> block(9);
        for (int k = 0; k < 9; ++k)
            block[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(Byte(ch::EzkKnockRetard, k));
        retard = EZK_DecodeKnockRetard(block);
    }

    std::int64_t lh22Count = LowFirst(ch::Lh22Speed);
    if (lh22Count == 0) lh22Count = kNoPeriod;
    v.lh22Cycle = 2.0 * conv::DevicePeriodSeconds(lh22Count);
    const double lh22Maf = static_cast<double>(LowFirst(ch::Lh22Maf));
    const int lh22Load = conv::LH22_MafLoad(lh22Maf, lh22Count);
    const double lh22PwMs = conv::DevicePeriodSeconds(LowFirst(ch::Lh22Injection)) * 1000.0;
    const int lh22CoolantC = conv::TempLH22Coolant(Byte(ch::Lh22Coolant, 1));
    // A switch whose channel is not in the record reads open.
    v.lh22Throttle = ThrottleFromSwitches(Byte(ch::Lh22SwitchA, 1, 255) < kSwitchClosedBelow,
                                          Byte(ch::Lh22SwitchB, 1, 255) < kSwitchClosedBelow);

    const std::int64_t ezfPeriod = Byte(ch::EzfSpeed, 0) + 256 * Byte(ch::EzfSpeed, 1);
    const std::int64_t ezfDelay = Byte(ch::EzfSpeed, 2) + 256 * Byte(ch::EzfSpeed, 3) + 65536 * Byte(ch::EzfSpeed, 4);
    v.ezfRpm = conv::RpmFromDevicePeriodEZF(ezfPeriod);
    const int ezfCoolantC = conv::TempEZFCoolant(Byte(ch::EzfCoolant, 1));
    const int ezfAirC = conv::TempEZFAirTemp(Byte(ch::EzfAirTemp, 1));
    v.ezfThrottle = ThrottleFromSwitches(Byte(ch::EzfSwitchA, 1, 255) < kSwitchClosedBelow,
                                         Byte(ch::EzfSwitchB, 1, 255) < kSwitchClosedBelow);

    auto afr = [this](int channel) {
        return FormatNumber(aux_.AfrFromAux(static_cast<double>(LowFirst(channel))), "0.00");
    };

    std::vector<std::string> cells;
    inRange_ = true;
    const auto rpmCell = [this](std::int64_t rpm) {
        if (rpm != 0 && (rpm < kMinEngineRpm || rpm > kMaxEngineRpm)) inRange_ = false;
        return Plain(rpm);
    };
    const auto dutyCell = [this](double percent) {
        if (!(percent >= 0.0 && percent <= kMaxDutyPercent)) inRange_ = false;
        return FormatNumber(percent, "0");
    };
    // The combustions of one sample period at the highest engine speed.
    const int maxKnocks =
        static_cast<int>(std::ceil(kMaxEngineRpm / 60.0 * kCombustionsPerRevolution / std::max(plan_.rate, 1)));
    if (knockCount > maxKnocks) inRange_ = false;
    for (int slot : plan_.columnSlots) {
        switch (slot) {
        case 0: cells.push_back(rpmCell(static_cast<std::int64_t>(lhRpm))); break;
        case 1: cells.push_back(Plain(static_cast<std::int64_t>(lhMaf))); break;
        case 2: cells.push_back(FormatNumber(conv::DutyCycleFromTicks(lhMaf, v.lhPeriod) * 100.0, "0")); break;
        case 3: cells.push_back(FormatNumber(conv::LH23_MafVolts(Byte(ch::LhMafVolts)), "0.00")); break;
        case 4: cells.push_back(afr(ch::LhWideband)); break;
        case 5: cells.push_back(FormatNumber(lhPwMs, "0.00")); break;
        case 6: cells.push_back(dutyCell(lhPwMs / 1000.0 / v.lhPeriod * 100.0)); break;
        case 7: cells.push_back(FormatNumber(lhCoolantC, "0")); break;
        case 8: cells.push_back(FormatNumber(conv::FahrenheitFromCelsius(lhCoolantC), "0")); break;
        case 9: cells.push_back(Text(kLhThrottleText[lhThrottleByte])); break;
        case 10: cells.push_back(FormatNumber(conv::LH23_BatteryVolts(Byte(ch::LhBattery)), "0.0")); break;
        case 11: cells.push_back(Bit(ch::LhBit4) ? "1" : "0"); break;
        case 12:
            cells.push_back(FormatNumber(LH_O2CorrectionPercent(static_cast<double>(Ram(ch::LhO2)), creator_), "0.0"));
            break;
        case 13: cells.push_back(rpmCell(conv::RpmFromDevicePeriodLH(lh22Count))); break;
        case 14: cells.push_back(Plain(lh22Load)); break;
        case 15: cells.push_back(FormatNumber(conv::DutyCycleFromTicksHalf(lh22Load, v.lh22Cycle) * 100.0, "0")); break;
        case 16: cells.push_back(FormatNumber(conv::LH22_MafSignal(lh22Maf), "0.00")); break;
        case 17: cells.push_back(afr(ch::Lh22Wideband)); break;
        case 18: cells.push_back(FormatNumber(lh22PwMs, "0.00")); break;
        case 19: cells.push_back(dutyCell(lh22PwMs / 1000.0 / v.lh22Cycle * 100.0)); break;
        case 20: cells.push_back(FormatNumber(lh22CoolantC, "0")); break;
        case 21: cells.push_back(FormatNumber(conv::FahrenheitFromCelsius(lh22CoolantC), "0")); break;
        case 22: cells.push_back(Text(v.lh22Throttle)); break;
        case 23: cells.push_back(rpmCell(v.ezkRpm)); break;
        case 24: cells.push_back(FormatNumber(conv::EZK_IgnitionAdvance(Byte(ch::EzkAdvance), v.ezkRpm), "0.0")); break;
        case 25: cells.push_back(FormatNumber(Byte(ch::EzkLoad) / 255.0 * 100.0, "0")); break;
        case 26: cells.push_back(Plain(knockCount)); break;
        case 27: cells.push_back(afr(ch::EzkWideband)); break;
        case 28: cells.push_back(FormatNumber(ezkCoolantC, "0")); break;
        case 29: cells.push_back(FormatNumber(conv::FahrenheitFromCelsius(ezkCoolantC), "0")); break;
        case 30: cells.push_back(Text(ThrottleFromSwitches(Bit(ch::EzkBit1), Bit(ch::EzkBit2)))); break;
        case 31:
            for (int r : retard) cells.push_back(FormatNumber(r / 16.0 * 6.0, "0.0"));
            break;
        case 32: cells.push_back(rpmCell(v.ezfRpm)); break;
        case 33:
            cells.push_back(FormatNumber(
                conv::IgnitionAdvanceFromTiming(static_cast<double>(ezfPeriod), static_cast<double>(ezfDelay)), "0.0"));
            break;
        case 34:
            cells.push_back(FormatNumber(
                conv::VacuumFromRaw(conv::EZF_VacuumCalibrated(LowFirst(ch::EzfVacuum), vacuumCalibration_)), "0.0"));
            break;
        case 35: cells.push_back(afr(ch::EzfWideband)); break;
        case 36: cells.push_back(FormatNumber(ezfCoolantC, "0")); break;
        case 37: cells.push_back(FormatNumber(conv::FahrenheitFromCelsius(ezfCoolantC), "0")); break;
        case 38: cells.push_back(FormatNumber(ezfAirC, "0")); break;
        case 39: cells.push_back(FormatNumber(conv::FahrenheitFromCelsius(ezfAirC), "0")); break;
        case 40: cells.push_back(Text(v.ezfThrottle)); break;
        default: {
            const int n = SlotAuxInput(slot);
            if (n != 0) {
                // Rounded as every other column: the decimal value, half up.
                const int decimals = std::clamp(aux_.GetAuxDecimals(n), 0, kMaxAuxDecimals);
                const std::string format =
                    decimals == 0 ? "0" : "0." + std::string(static_cast<std::size_t>(decimals), '0');
                cells.push_back(
                    FormatNumber(aux_.ConvertAux(n, static_cast<double>(LowFirst(ch::Aux1 + n - 1))), format));
            }
            break;
        }
        }
    }
    v.lhThrottleByte = Byte(ch::LhThrottle);
    v.ezkFullThrottle = Bit(ch::EzkBit2);
    if (inRange_) last_ = v;
    return cells;
}

bool LogRecordDecoder::TriggerEnded(TriggerSource source, LogTrigger trigger) const {
    if (trigger == LogTrigger::Wot) {
        switch (source) {
        case TriggerSource::LH23: return (last_.lhThrottleByte & 2) == 0;
        case TriggerSource::EZK: return !last_.ezkFullThrottle;
        case TriggerSource::LH22: return last_.lh22Throttle != 3;
        case TriggerSource::EZF: return last_.ezfThrottle != 3;
        case TriggerSource::None: return false;
        }
    }
    if (trigger == LogTrigger::Rpm) {
        const double limit = 60.0 / kTriggerRpm;
        switch (source) {
        case TriggerSource::LH23: return last_.lhPeriod > limit;
        case TriggerSource::LH22: return last_.lh22Cycle > limit;
        case TriggerSource::EZK: return last_.ezkRpm < kTriggerRpm;
        case TriggerSource::EZF: return last_.ezfRpm < kTriggerRpm;
        case TriggerSource::None: return false;
        }
    }
    return false;
}

} // namespace kv
