#pragma once
// The main window's tab flags: which tabs the strip shows for the images that are loaded.
// Changed only through SetTabState; the strip always shows the set tabs in table order.
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

inline constexpr int kTabFlagCount = 11;

// Flag indices (index 4 is a test tab that no state shows).
enum TabFlag : int {
    TAB_EPROM = 0,
    TAB_PARAMETERS = 1,
    TAB_FUELMAP = 2,
    TAB_MONITOR = 3,
    TAB_TEST = 4,
    TAB_PARAMETERSEZK = 5,
    TAB_IGNMAP = 6,
    TAB_MONITOREZK = 7,
    TAB_PARAMETERSLH22 = 8,
    TAB_PARAMETERSEZF = 9,
    TAB_DATALOGGING = 10,
};

// What happens to the tab strip: start-up, or a unit's image taking ("LH") or leaving ("!LH")
// its slot. The names are the spellings the program's traces use.
enum class TabState { Init, LH, NotLH, EZK, NotEZK, LH22, NotLH22, EZF, NotEZF };

// "Init", "LH", "!LH", "EZK", "!EZK", "LH22", "!LH22", "EZF", "!EZF".
std::string_view TabStateName(TabState state);

struct TabSlot {
    int flag;            // index into the flags
    const char* key;     // "EPROM", "Parameters", ...
    const char* caption; // text on the tab
};

// The tabs in strip order.
const std::array<TabSlot, 10>& TabTable();

// The image a tab shows and edits: true = the fuel image, false = the ignition image, nullopt =
// neither (the EPROM and data-logging tabs, an unknown key).
std::optional<bool> TabShowsFuelImage(std::string_view key);

class TabFlags {
public:
    void Apply(TabState state);
    bool IsSet(int flag) const { return flag >= 0 && flag < kTabFlagCount && flags_[flag]; }
    // The slots of the set flags in strip order.
    std::vector<TabSlot> VisibleTabs() const;

private:
    std::array<bool, kTabFlagCount> flags_{};
};

} // namespace kv
