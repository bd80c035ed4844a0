#pragma once

#include <functional>

namespace kv {

// The "Fuel maps" and "Ignition maps" tabs in the main window: their panels replace the caption
// pages, the Edit menu's Copy and Paste serve the map grids, the trace reads through the device
// link, the knock count is shared with the ignition monitor, and (when given) live autotune
// hears the fuel trace and opens from cmdAutotune.
class AuxInputs;
class AutotuneControl;
class Clock;
class Comms;
class MainWindow;
class Shell;
class Clipboard;
class ProgressDisplay;
class UserMessages;
struct KnockCountState;
class SettingsStore;

// Installs the two map tabs into `window`, which owns everything made here.
void InstallMapTabs(MainWindow& window, Shell& shell, Comms& comms, const AuxInputs& aux, UserMessages& messages,
                    ProgressDisplay& progress, Clipboard& clipboard, Clock& clock, KnockCountState& knock,
                    SettingsStore& settings, AutotuneControl* autotune = nullptr,
                    std::function<bool()> recordLayoutTaken = {});

} // namespace kv
