#include "app/core/tab_state.h"

#include <initializer_list>

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

bool TabFlags::Apply(std::string_view state) {
    auto set = [this](std::initializer_list<int> list, bool value) {
        for (int f : list) flags_[static_cast<std::size_t>(f)] = value;
    };
    if (state == "Init") {
        flags_.fill(false);
        set({TAB_EPROM, TAB_DATALOGGING}, true);
    } else if (state == "LH") {
        set({TAB_PARAMETERS, TAB_FUELMAP, TAB_MONITOR}, true);
    } else if (state == "!LH") {
        set({TAB_PARAMETERS, TAB_FUELMAP, TAB_MONITOR, TAB_TEST}, false);
    } else if (state == "EZK") {
        set({TAB_PARAMETERSEZK, TAB_IGNMAP, TAB_MONITOREZK}, true);
    } else if (state == "!EZK") {
        set({TAB_PARAMETERSEZK, TAB_IGNMAP, TAB_MONITOREZK}, false);
    } else if (state == "LH22") {
        set({TAB_PARAMETERSLH22, TAB_FUELMAP, TAB_MONITOR}, true);
    } else if (state == "!LH22") {
        set({TAB_PARAMETERSLH22, TAB_FUELMAP, TAB_MONITOR, TAB_TEST}, false);
    } else if (state == "EZF") {
        set({TAB_PARAMETERSEZF, TAB_IGNMAP, TAB_MONITOREZK}, true);
    } else if (state == "!EZF") {
        set({TAB_PARAMETERSEZF, TAB_IGNMAP, TAB_MONITOREZK}, false);
    } else {
        return false;
    }
    return true;
}

std::vector<TabSlot> TabFlags::VisibleTabs() const {
    std::vector<TabSlot> tabs;
    for (const auto& slot : TabTable())
        if (flags_[static_cast<std::size_t>(slot.flag)]) tabs.push_back(slot);
    return tabs;
}
