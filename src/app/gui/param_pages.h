#pragma once

namespace kv {

// The "Fuel parameters" and "Ignition parameters" tabs of the main window: the four parameter
// pages replace the caption pages; their changes go through the images in the slots to the
// running units, the EZF page measures on the device's aux input and keeps its altitude in the
// settings.
class AuxDevice;
class Comms;
class MainWindow;
class SettingsStore;
class Shell;
class UserMessages;

// Installs the four pages into `window`, which owns everything made here.
void InstallParamPages(MainWindow& window, Shell& shell, Comms& comms, AuxDevice& aux, UserMessages& messages,
                       SettingsStore& settings);

} // namespace kv
