#include "datalog/log_catalogue.h"

#include "auxinputs/aux_inputs.h"
#include "eprom/eprom_image.h"

#include <initializer_list>

namespace kv {

namespace {

constexpr std::uint64_t Chs(std::initializer_list<int> numbers) {
    std::uint64_t mask = 0;
    for (int n : numbers) mask |= std::uint64_t{1} << n;
    return mask;
}

using S = ChannelSource;

constexpr std::array<LogChannel, kLogChannelCount> kChannels{{
    {ch::LhMarker, "LH block marker", S::Device, 17, 1},
    {ch::LhSpeed, "LH speed", S::FuelVariable, 1, 3},
    {ch::LhMaf, "LH MAF", S::FuelVariable, 2, 2},
    {ch::LhMafVolts, "LH MAF voltage", S::FuelVariable, 6, 1},
    {ch::LhWideband, "LH wideband", S::Device, 11, 2},
    {ch::LhInjection, "LH injection time", S::FuelVariable, 3, 2},
    {ch::LhBit1, "LH bit 1", S::FuelBit, 1, 1},
    {ch::LhBit2, "LH bit 2", S::FuelBit, 2, 1},
    {ch::LhBit3, "LH bit 3", S::FuelBit, 3, 1},
    {ch::LhCoolant, "LH coolant", S::FuelVariable, 5, 1},
    {ch::LhThrottle, "LH throttle", S::FuelVariable, 7, 1},
    {ch::LhBattery, "LH battery", S::FuelVariable, 8, 1},
    {ch::LhBit4, "LH bit 4", S::FuelBit, 4, 1},
    {ch::LhO2, "LH O2 adjustment", S::FuelVariable, 12, 2},
    {ch::IgnMarker, "ignition block marker", S::Device, 18, 1},
    {ch::EzkSpeed, "EZK speed", S::IgnitionVariable, 1, 2},
    {ch::EzkAdvance, "EZK advance", S::IgnitionVariable, 2, 1},
    {ch::EzkLoad, "EZK load", S::IgnitionVariable, 3, 1},
    {ch::EzkKnock, "EZK knock count", S::IgnitionVariable, 7, 1},
    {ch::EzkWideband, "EZK wideband", S::Device, 11, 2},
    {ch::EzkCoolant, "EZK coolant", S::IgnitionVariable, 6, 1},
    {ch::EzkBit1, "EZK bit 1", S::IgnitionBit, 1, 1},
    {ch::EzkBit2, "EZK bit 2", S::IgnitionBit, 2, 1},
    {ch::EzkKnockRetard, "EZK knock retard block", S::Device, 2, 9},
    {ch::Lh22Speed, "LH22 speed", S::Device, 3, 3},
    {ch::Lh22Maf, "LH22 MAF", S::Device, 4, 2},
    {ch::Lh22Wideband, "LH22 wideband", S::Device, 11, 2},
    {ch::Lh22Injection, "LH22 injection time", S::Device, 12, 3},
    {ch::Lh22Coolant, "LH22 coolant", S::Device, 5, 2},
    {ch::Lh22SwitchA, "LH22 switch A", S::Device, 6, 2},
    {ch::Lh22SwitchB, "LH22 switch B", S::Device, 7, 2},
    {ch::EzfSpeed, "EZF speed", S::Device, 15, 5},
    {ch::EzfVacuum, "EZF vacuum", S::Device, 9, 2},
    {ch::EzfWideband, "EZF wideband", S::Device, 11, 2},
    {ch::EzfCoolant, "EZF coolant", S::Device, 5, 2},
    {ch::EzfAirTemp, "EZF air temperature", S::Device, 8, 2},
    {ch::EzfSwitchA, "EZF switch A", S::Device, 6, 2},
    {ch::EzfSwitchB, "EZF switch B", S::Device, 7, 2},
    {ch::Aux1, "aux 1", S::AuxInput, 1, 2},
    {ch::Aux1 + 1, "aux 2", S::AuxInput, 2, 2},
    {ch::Aux1 + 2, "aux 3", S::AuxInput, 3, 2},
    {ch::Aux1 + 3, "aux 4", S::AuxInput, 4, 2},
}};

// "°" as UTF-8.
#define KV_DEG "\xC2\xB0"

constexpr std::array<LogSlotEntry, kLogSlotCount> kSlots{{
    {"LH_RPM", "RPM", kRpmHeader, Chs({ch::LhSpeed})},
    {"LH_MAF", "MAF signal (absolute)", kMafHeader, Chs({ch::LhMaf})},
    {"LH_MAFPERCENT", "MAF signal (%)", "MAF signal [%]", Chs({ch::LhSpeed, ch::LhMaf})},
    {"LH_MAFVOLTAGE", "MAF voltage", "MAF voltage [V]", Chs({ch::LhMafVolts})},
    {"LH_AFR", "A/F ratio", kAfrHeader, Chs({ch::LhWideband})},
    {"LH_INJPW", "Injection pulse width", "Inj PW [ms]", Chs({ch::LhInjection, ch::LhBit1, ch::LhBit2, ch::LhBit3})},
    {"LH_INJDC", "Injector duty cycle", "Inj duty cycle [%]",
     Chs({ch::LhSpeed, ch::LhInjection, ch::LhBit1, ch::LhBit2, ch::LhBit3})},
    {"LH_COOLANTC", "Coolant temp (" KV_DEG " C)", kCoolantCHeader, Chs({ch::LhCoolant})},
    {"LH_COOLANTF", "Coolant temp (" KV_DEG " F)", "Coolant temp [" KV_DEG "F]", Chs({ch::LhCoolant})},
    {"LH_THROTTLE", "Throttle position", kThrottleHeader, Chs({ch::LhThrottle})},
    {"LH_BATTVOLT", "Battery voltage", "Battery [V]", Chs({ch::LhBattery})},
    {"LH_FLAPPY", "Flappy position", "Flappy (1=open, 0=closed)", Chs({ch::LhBit4})},
    {"LH_O2", "O2 sensor adj", "O2 sensor adj [%]", Chs({ch::LhO2})},
    {"LH22_RPM", "RPM", "RPM", Chs({ch::Lh22Speed})},
    {"LH22_MAF", "MAF signal (absolute)", "MAF signal", Chs({ch::Lh22Maf, ch::Lh22Speed})},
    {"LH22_MAFPERCENT", "MAF signal (%)", "MAF signal [%]", Chs({ch::Lh22Maf, ch::Lh22Speed})},
    {"LH22_MAFVOLTAGE", "MAF voltage", "MAF voltage [V]", Chs({ch::Lh22Maf})},
    {"LH22_AFR", "A/F ratio", "A/F ratio", Chs({ch::Lh22Wideband})},
    {"LH22_INJPW", "Injection pulse width", "Inj PW [ms]", Chs({ch::Lh22Injection})},
    {"LH22_INJDC", "Injector duty cycle", "Inj duty cycle [%]", Chs({ch::Lh22Speed, ch::Lh22Injection})},
    {"LH22_COOLANTC", "Coolant temp (" KV_DEG " C)", "Coolant temp [" KV_DEG "C]", Chs({ch::Lh22Coolant})},
    {"LH22_COOLANTF", "Coolant temp (" KV_DEG " F)", "Coolant temp [" KV_DEG "F]", Chs({ch::Lh22Coolant})},
    {"LH22_THROTTLE", "Throttle position", kThrottleHeader, Chs({ch::Lh22SwitchA, ch::Lh22SwitchB})},
    {"EZK_RPM", "RPM", "RPM", Chs({ch::EzkSpeed})},
    {"EZK_IGNADV", "Ignition advance", "Ign adv [" KV_DEG "]", Chs({ch::EzkAdvance, ch::EzkSpeed})},
    {"EZK_LOAD", "Load", kEzkLoadHeader, Chs({ch::EzkLoad})},
    {"EZK_KNOCK", "Knock count", "Knock count", Chs({ch::EzkKnock})},
    {"EZK_AFR", "A/F ratio", "A/F ratio", Chs({ch::EzkWideband})},
    {"EZK_COOLANTC", "Coolant temp (" KV_DEG " C)", "Coolant temp [" KV_DEG "C]", Chs({ch::EzkCoolant})},
    {"EZK_COOLANTF", "Coolant temp (" KV_DEG " F)", "Coolant temp [" KV_DEG "F]", Chs({ch::EzkCoolant})},
    {"EZK_THROTTLE", "Throttle  position", kThrottleHeader, Chs({ch::EzkBit1, ch::EzkBit2})},
    {"EZK_KNOCKRETARD", "Knock retard", nullptr, Chs({ch::EzkKnockRetard})},
    {"EZF_RPM", "RPM", "RPM", Chs({ch::EzfSpeed})},
    {"EZF_IGNADV", "Ignition advance", "Ign adv [" KV_DEG "]", Chs({ch::EzfSpeed})},
    {"EZF_VACUUM", "Vacuum", kEzfVacuumHeader, Chs({ch::EzfVacuum})},
    {"EZF_AFR", "A/F ratio", "A/F ratio", Chs({ch::EzfWideband})},
    {"EZF_COOLANTC", "Coolant temp (" KV_DEG " C)", "Coolant temp [" KV_DEG "C]", Chs({ch::EzfCoolant})},
    {"EZF_COOLANTF", "Coolant temp (" KV_DEG " F)", "Coolant temp [" KV_DEG "F]", Chs({ch::EzfCoolant})},
    {"EZF_AIRTEMPC", "Air temp (" KV_DEG " C)", "Air temp [" KV_DEG "C]", Chs({ch::EzfAirTemp})},
    {"EZF_AIRTEMPF", "Air temp (" KV_DEG " F)", "Air temp [" KV_DEG "F]", Chs({ch::EzfAirTemp})},
    {"EZF_THROTTLE", "Throttle  position", kThrottleHeader, Chs({ch::EzfSwitchA, ch::EzfSwitchB})},
    {"", "", nullptr, Chs({ch::Aux1})},
    {"", "", nullptr, Chs({ch::Aux1 + 1})},
    {"", "", nullptr, Chs({ch::Aux1 + 2})},
    {"", "", nullptr, Chs({ch::Aux1 + 3})},
}};

#undef KV_DEG

constexpr std::array<int, kLogSlotCount> MakeColumnOrder() {
    std::array<int, kLogSlotCount> order{};
    int k = 0;
    for (int s = kLh23First; s <= kLh23Last; ++s) order[static_cast<std::size_t>(k++)] = s;
    for (int s = kEzkFirst; s <= kEzkLast; ++s) order[static_cast<std::size_t>(k++)] = s;
    for (int s = kLh22First; s <= kLh22Last; ++s) order[static_cast<std::size_t>(k++)] = s;
    for (int s = kEzfFirst; s <= kEzfLast; ++s) order[static_cast<std::size_t>(k++)] = s;
    for (int s = kAuxSlotFirst; s <= kAuxSlotLast; ++s) order[static_cast<std::size_t>(k++)] = s;
    return order;
}

constexpr std::array<int, kLogSlotCount> kColumnOrder = MakeColumnOrder();

} // namespace

const std::array<LogChannel, kLogChannelCount>& LogChannelTable() { return kChannels; }

const LogChannel& LogChannelByNumber(int number) {
    for (const LogChannel& c : kChannels)
        if (c.number == number) return c;
    return kChannels.front();
}

bool ChannelInRamOrder(const LogChannel& channel) {
    return channel.source == ChannelSource::FuelVariable || channel.source == ChannelSource::IgnitionVariable ||
           channel.source == ChannelSource::FuelBit || channel.source == ChannelSource::IgnitionBit;
}

const std::array<LogSlotEntry, kLogSlotCount>& LogSlotTable() { return kSlots; }

ChannelFlags SlotChannels(int slot) {
    if (slot < 0 || slot >= kLogSlotCount) return {};
    return ChannelFlags(kSlots[static_cast<std::size_t>(slot)].channels);
}

int SlotAuxInput(int slot) { return slot >= kAuxSlotFirst && slot <= kAuxSlotLast ? slot - kAuxSlotFirst + 1 : 0; }

std::string SlotKey(int slot) {
    if (const int n = SlotAuxInput(slot); n != 0) return "AUX" + std::to_string(n);
    if (slot < 0 || slot >= kLogSlotCount) return {};
    return kSlots[static_cast<std::size_t>(slot)].key;
}

std::vector<std::string> SlotHeaders(int slot, const AuxInputs& aux) {
    if (const int n = SlotAuxInput(slot); n != 0) {
        const std::string unit = aux.GetAuxUnit(n);
        return {unit.empty() ? aux.GetAuxDisplayName(n) : aux.GetAuxDisplayName(n) + " [" + unit + "]"};
    }
    if (slot == kKnockRetardSlot) {
        std::vector<std::string> kr;
        for (int c = 1; c <= 8; ++c) kr.push_back("KR" + std::to_string(c));
        return kr;
    }
    if (slot < 0 || slot >= kLogSlotCount) return {};
    return {kSlots[static_cast<std::size_t>(slot)].header};
}

const std::array<int, kLogSlotCount>& SlotColumnOrder() { return kColumnOrder; }

std::int32_t ChannelAddress(const LogChannel& channel, const EPROM& fuel, const EPROM& ignition) {
    std::int32_t byteAddress = 0;
    int mask = 0;
    switch (channel.source) {
    case ChannelSource::Device: return channel.n;
    case ChannelSource::FuelVariable: return fuel.GetVariableAddress(channel.n);
    case ChannelSource::IgnitionVariable: return ignition.GetVariableAddress(channel.n);
    case ChannelSource::FuelBit: fuel.GetBitVariableAddress(channel.n, byteAddress, mask); return byteAddress;
    case ChannelSource::IgnitionBit: ignition.GetBitVariableAddress(channel.n, byteAddress, mask); return byteAddress;
    case ChannelSource::AuxInput: return AuxInputs::GetAuxAddress(channel.n);
    }
    return 0;
}

int ChannelBitMask(const LogChannel& channel, const EPROM& fuel, const EPROM& ignition) {
    std::int32_t byteAddress = 0;
    int mask = 0;
    if (channel.source == ChannelSource::FuelBit) fuel.GetBitVariableAddress(channel.n, byteAddress, mask);
    if (channel.source == ChannelSource::IgnitionBit) ignition.GetBitVariableAddress(channel.n, byteAddress, mask);
    return mask;
}

} // namespace kv
