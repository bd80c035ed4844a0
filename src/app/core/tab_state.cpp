#include "app/core/tab_state.h"

#include <initializer_list>

namespace kv {

const std::array<TabSlot, 10>& TabTable() {
    static const std::array<TabSlot, 10> table{{
        {TAB_EPROM, "EPROM", "EPROM"},
        {TAB_PARAMETERS, "Parameters", "Fuel parameters"},
        {TAB_PARAMETERSLH22, "ParametersLH22", "Fuel parameters"},
        {TAB_FUELMAP, "FuelMap", "Fuel maps"},
        {TAB_MONITOR, "Monitor", "Fuel system monitor"},
        {TAB_PARAMETERSEZK, "ParametersEZK", "Ignition parameters"},
        {TAB_PARAMETERSEZF, "ParametersEZF", "Ignition parameters"},
        {TAB_IGNMAP, "IgnMap", "Ignition maps"},
        {TAB_MONITOREZK, "MonitorEZK", "Ignition system monitor"},
        {TAB_DATALOGGING, "DataLogging", "Data logging"},
    }};
    return table;
}

std::optional<bool> TabShowsFuelImage(std::string_view key) {
    for (std::string_view fuel : {"Parameters", "ParametersLH22", "FuelMap", "Monitor"})
        if (key == fuel) return true;
    for (std::string_view ignition : {"ParametersEZK", "ParametersEZF", "IgnMap", "MonitorEZK"})
        if (key == ignition) return false;
    return std::nullopt;
}

std::string_view TabStateName(TabState state) {
    switch (state) {
    case TabState::Init: return "Init";
    case TabState::LH: return "LH";
    case TabState::NotLH: return "!LH";
    case TabState::EZK: return "EZK";
    case TabState::NotEZK: return "!EZK";
    case TabState::LH22: return "LH22";
    case TabState::NotLH22: return "!LH22";
    case TabState::EZF: return "EZF";
    case TabState::NotEZF: return "!EZF";
    }
    return {};
}

void TabFlags::Apply(TabState state) {
    auto set = [this](std::initializer_list<int> list, bool value) {
        for (int f : list) flags_[static_cast<std::size_t>(f)] = value;
    };
    switch (state) {
    case TabState::Init:
        flags_.fill(false);
        set({TAB_EPROM, TAB_DATALOGGING}, true);
        break;
    case TabState::LH: set({TAB_PARAMETERS, TAB_FUELMAP, TAB_MONITOR}, true); break;
    case TabState::NotLH: set({TAB_PARAMETERS, TAB_FUELMAP, TAB_MONITOR, TAB_TEST}, false); break;
    case TabState::EZK: set({TAB_PARAMETERSEZK, TAB_IGNMAP, TAB_MONITOREZK}, true); break;
    case TabState::NotEZK: set({TAB_PARAMETERSEZK, TAB_IGNMAP, TAB_MONITOREZK}, false); break;
    case TabState::LH22: set({TAB_PARAMETERSLH22, TAB_FUELMAP, TAB_MONITOR}, true); break;
    case TabState::NotLH22: set({TAB_PARAMETERSLH22, TAB_FUELMAP, TAB_MONITOR, TAB_TEST}, false); break;
    case TabState::EZF: set({TAB_PARAMETERSEZF, TAB_IGNMAP, TAB_MONITOREZK}, true); break;
    case TabState::NotEZF: set({TAB_PARAMETERSEZF, TAB_IGNMAP, TAB_MONITOREZK}, false); break;
    }
}

std::vector<TabSlot> TabFlags::VisibleTabs() const {
    std::vector<TabSlot> tabs;
    for (const auto& slot : TabTable())
        if (flags_[static_cast<std::size_t>(slot.flag)]) tabs.push_back(slot);
    return tabs;
}

} // namespace kv
