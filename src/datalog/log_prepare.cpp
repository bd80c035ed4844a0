#include "datalog/log_prepare.h"

#include "auxinputs/aux_inputs.h"
#include "datalog/log_device.h"
#include "device/protocol.h"
#include "eprom/eprom_image.h"

#include <charconv>

namespace kv {

namespace {

constexpr int kEzkKnockVariable = 7;

bool AnySelectedIn(const LogSetup& setup, int first, int last) {
    for (int s = first; s <= last; ++s)
        if (setup.IsSelected(s)) return true;
    return false;
}

// The channel that carries the trigger input of a source.
int TriggerChannel(TriggerSource source, LogTrigger trigger) {
    const bool wot = trigger == LogTrigger::Wot;
    switch (source) {
    case TriggerSource::LH23: return wot ? ch::LhThrottle : ch::LhSpeed;
    case TriggerSource::EZK: return wot ? ch::EzkBit2 : ch::EzkSpeed;
    case TriggerSource::LH22: return wot ? ch::Lh22SwitchB : ch::Lh22Speed;
    case TriggerSource::EZF: return wot ? ch::EzfSwitchB : ch::EzfSpeed;
    case TriggerSource::None: break;
    }
    return -1;
}

bool AnyOn(const ChannelFlags& flags, int first, int last) {
    for (int c = first; c <= last; ++c)
        if (flags.test(static_cast<std::size_t>(c))) return true;
    return false;
}

} // namespace

int LogAddressByte(std::int32_t address) { return EcuRamAddressByte(address); }

std::string PlanLoggingRun(const LogSetup& setup, const EPROM& fuel, const EPROM& ignition, const AuxInputs& aux,
                           LogRunPlan& plan) {
    plan = LogRunPlan{};
    if (!setup.AnySelected()) return kNoVariableMessage;

    plan.trigger = setup.Trigger().value_or(LogTrigger::None);
    const EcuType fuelType = fuel.GetECUType();
    const EcuType ignitionType = ignition.GetECUType();
    if (plan.trigger != LogTrigger::None) {
        if (fuelType == EcuType::Unknown && ignitionType == EcuType::Unknown) return kTriggerNeedsEpromMessage;
        if (AnySelectedIn(setup, 0, kFuelSlotLast))
            plan.source = fuelType == EcuType::LH23 ? TriggerSource::LH23 : TriggerSource::LH22;
        else if (AnySelectedIn(setup, kIgnitionSlotFirst, kIgnitionSlotLast))
            plan.source = ignitionType == EcuType::EZK ? TriggerSource::EZK : TriggerSource::EZF;
        else
            return kNoTriggerSourceMessage;
    }

    ChannelFlags& on = plan.channels;
    for (int s = 0; s < kLogSlotCount; ++s)
        if (setup.IsSelected(s)) on |= SlotChannels(s);
    auto add = [&on](int channel) {
        if (channel >= 0) on.set(static_cast<std::size_t>(channel));
    };
    if (plan.source == TriggerSource::LH23) add(TriggerChannel(plan.source, plan.trigger));
    if (ignitionType == EcuType::EZK) add(ch::EzkKnock);
    if (plan.source == TriggerSource::EZK) add(TriggerChannel(plan.source, plan.trigger));
    if (AnyOn(on, ch::LhMarker, ch::LhO2)) add(ch::LhMarker);
    if (AnyOn(on, ch::IgnMarker, ch::EzkKnockRetard)) add(ch::IgnMarker);
    if (plan.source == TriggerSource::LH22 || plan.source == TriggerSource::EZF)
        add(TriggerChannel(plan.source, plan.trigger));

    for (const LogChannel& c : LogChannelTable()) {
        if (!on.test(static_cast<std::size_t>(c.number))) continue;
        plan.fieldChannels.push_back(c.number);
        plan.addresses.push_back(LogAddressByte(ChannelAddress(c, fuel, ignition)));
        plan.sizes.push_back(c.bytes);
        plan.recordSize += c.bytes;
    }

    plan.headers.push_back(kTimeHeader);
    for (int s : SlotColumnOrder()) {
        if (!setup.IsSelected(s)) continue;
        plan.columnSlots.push_back(s);
        for (std::string& h : SlotHeaders(s, aux)) plan.headers.push_back(std::move(h));
    }
    return {};
}

std::string PrepareLoggingRun(LogSetup& setup, const EPROM& fuel, const EPROM& ignition, const AuxInputs& aux,
                              DataLogDevice& device, LogRunPlan& plan) {
    if (std::string message = PlanLoggingRun(setup, fuel, ignition, aux, plan); !message.empty()) return message;

    if (!device.DataLog_Configure(plan.addresses, plan.sizes)) return kDeviceErrorMessage;

    for (int n = 1; n <= 4; ++n) device.SetAuxInputFilter(AuxInputs::GetAuxChannel(n), aux.GetAuxFilter(n));
    if (fuel.GetECUType() == EcuType::LH22) {
        for (const auto& [channel, value] : {std::pair{1, 2}, {2, 3}, {3, 0}, {4, 0}})
            device.SetAuxInputFilter(channel, value);
    }
    if (ignition.GetECUType() == EcuType::EZF) {
        for (const auto& [channel, value] : {std::pair{2, 3}, {3, 0}, {4, 0}, {5, 1}, {6, 1}})
            device.SetAuxInputFilter(channel, value);
    }

    const std::string rateText = setup.SelectedRateText();
    int rate = 0;
    const auto [ptr, ec] = std::from_chars(rateText.data(), rateText.data() + rateText.size(), rate);
    if (ec != std::errc{} || ptr != rateText.data() + rateText.size()) rate = 0;
    const int periodMs = LogPeriodMs(rate);
    if (periodMs <= 0) return kNoRateMessage;
    if (!device.DataLog_SetRate(periodMs)) return kDeviceErrorMessage;
    plan.rate = rate;

    plan.knockStart.reset();
    if (plan.channels.test(ch::EzkKnock) && ignition.GetECUType() == EcuType::EZK)
        plan.knockStart = ReadKnockBaseline(device, ignition);
    LogKnockDisplay& knock = setup.Knock();
    ResetKnockCount(knock.state, knock.label, plan.knockStart.value_or(-1));
    // Without a baseline the first record's counter becomes it.
    if (!plan.knockStart) knock.state.lastKnockCounter.reset();
    return {};
}

std::optional<int> ReadKnockBaseline(DataLogDevice& device, const EPROM& ignition) {
    for (int attempt = 0; attempt < kKnockBaselineReads; ++attempt) {
        if (const auto counter = device.ReadEcuRam(2, ignition.GetVariableAddress(kEzkKnockVariable), 1))
            return static_cast<int>(*counter & 0xFF);
    }
    return std::nullopt;
}

} // namespace kv
