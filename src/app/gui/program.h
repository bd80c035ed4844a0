#pragma once
// The program: its command line, the device backend (the real HID device or the simulated
// one), the device link and firmware procedures, the dialogs and settings, the shell and the
// windows. Implements the shell's view by driving the splash and the main window.
#include "app/core/shell.h"
#include "platform/parsed.h"

#include <QList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

class AuxInputs;
class AutotuneControl;
class AuxMonitorTabs;
class CommsDataLogDevice;
class DataLoggingPage;
class LogRecorder;
class LogSetup;
class RunSet;
class KnockSound;
class Comms;
class CommsAuxDevice;
class CommsEpromDevice;
class CommsMonitorDevice;
class CommsPresence;
class CommsShellDevice;
class ConnectionMonitor;
class DeviceTrace;
class Firmware;
class HidBackend;
class IgnitionDebounce;
class IgnitionPrompt;
class MainWindow;
class QtSettingsStore;
class QtUserDialogs;
class SimulatedBackend;
class SplashWindow;
class UserDialogs;
class SettingsStore;
class SimIgnitionGuide;
class Clock;
struct KnockCountState;

struct ProgramOptions {
    bool simulate = false;
    std::string simState;
    std::string simFaults;
    std::string simFirmware;
    std::string simPemFirmware;
    std::string simIgnition;
    // How the simulated car is driven ("road" or "dyno") and the road's seed; empty: the
    // simulator's own choice. The command line drives the road unless told otherwise.
    std::string simDrive;
    std::string simDriveSeed;
    // Folder of the edit journal (the user's data folder); empty = no journal.
    std::string journalFolder;
};

// Parses the command line (without the program name); on bad input the message to show.
Parsed<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args);

inline constexpr const char* kUsage =
    "Usage: kestrovane [--simulate [--sim-state FILE] [--sim-faults LIST] [--sim-firmware VERSION]\n"
    "                  [--sim-pem-firmware VERSION] [--sim-ignition off|on|auto] [--drive road|dyno]\n"
    "                  [--drive-seed N]]\n";

class Program final : public ShellView {
public:
    // Dialogs and settings are made here unless given (tests give a scripted fake and an
    // in-memory store). Fails (Error() not empty) on bad simulator options.
    Program(const ProgramOptions& options, UserDialogs* dialogs = nullptr, SettingsStore* settings = nullptr,
            Clock* clock = nullptr);
    ~Program() override;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    const std::string& Error() const { return error_; }
    // Runs the start-up sequence; the main window is shown at its end.
    void StartUp();

    Shell& GetShell() { return *shell_; }
    MainWindow* Window() { return window_.get(); }
    SimulatedBackend* Simulator() { return sim_; }
    SplashWindow* Splash() { return splash_.get(); }
    AuxInputs& Aux() { return *aux_; }
    // The monitor tabs and the aux input dialog (null until the main window is loaded).
    AuxMonitorTabs* AuxAndMonitors() { return auxMonitorTabs_; }
    // Live autotune (null until the main window is loaded).
    AutotuneControl* Autotune() { return autotune_; }
    // The data-logging tab (null until data logging is initialised), its set-up, recorder and runs.
    DataLoggingPage* DataLogging() { return dataLogPage_; }
    LogSetup& DataLogSetup() { return *logSetup_; }
    LogRecorder& Recorder() { return *recorder_; }
    RunSet& Runs() { return *runs_; }

    // ShellView
    void ShowSplash(const std::string& versionLabel) override;
    void PaintSplash() override;
    void CloseSplash() override;
    void InitAutotuneAndAuxInputs() override;
    void InitDataLogging() override;
    void LoadMainWindow() override;
    void MaximiseMainWindow() override;
    void ShowMainWindow() override;
    void EnterSelectedTab() override;
    void LeaveSelectedTab() override;
    int WindowStateNumber() override;
    WindowSize NormalWindowSize() override;
    void SetNormalWindowSize(WindowSize size) override;
    WindowPosition NormalWindowPosition() override;
    void SetNormalWindowPosition(WindowPosition position) override;
    bool HasUnsavedDataLogRuns() override;
    void EndDataLogging() override;
    void ShowTabs(const std::vector<TabSlot>& tabs, TabState state) override;
    void ShowInfoLine(const InfoLine& line) override;
    void SetSaveMenus(bool fuelLoaded, bool ignitionLoaded) override;
    void ShowRecentFiles(const std::array<std::string, kRecentFileCount>& captions) override;
    std::optional<NewImageChoice> RunNewImageDialog(const NewImageChoice& initial) override;
    void ImagesChanged() override;

private:
    void PlotRuns(const QList<int>& runIds);

    std::string error_;
    std::unique_ptr<Clock> ownClock_;
    Clock* clock_;
    std::unique_ptr<QtUserDialogs> qtDialogs_;
    std::unique_ptr<IgnitionPrompt> autoIgnition_;
    std::unique_ptr<SimIgnitionGuide> ignitionGuide_; // in front of autoIgnition_ once the window is there
    UserDialogs* dialogs_;
    std::unique_ptr<QtSettingsStore> ownSettings_;
    SettingsStore* settings_;
    std::unique_ptr<HidBackend> hid_;
    SimulatedBackend* sim_ = nullptr;
    std::unique_ptr<DeviceTrace> trace_;
    std::unique_ptr<HidBackend> tracingHid_; // in front of hid_ while the trace is on
    std::unique_ptr<Comms> comms_;
    std::unique_ptr<CommsPresence> presence_;
    std::unique_ptr<ConnectionMonitor> connection_;
    std::unique_ptr<IgnitionDebounce> ignition_;
    std::unique_ptr<Firmware> firmware_;
    std::unique_ptr<CommsEpromDevice> epromDevice_;
    std::unique_ptr<CommsShellDevice> shellDevice_;
    std::unique_ptr<Shell> shell_;
    std::unique_ptr<CommsAuxDevice> auxDevice_;
    std::unique_ptr<AuxInputs> aux_;
    std::unique_ptr<CommsMonitorDevice> monitorDevice_;
    std::unique_ptr<KnockCountState> knock_;
    std::unique_ptr<CommsDataLogDevice> dataLogDevice_;
    std::unique_ptr<LogSetup> logSetup_;
    std::unique_ptr<RunSet> runs_;
    std::unique_ptr<LogRecorder> recorder_;
    AuxMonitorTabs* auxMonitorTabs_ = nullptr; // owned by the main window
    AutotuneControl* autotune_ = nullptr;      // owned by the main window
    DataLoggingPage* dataLogPage_ = nullptr;   // owned by the main window
    int dataLogPollingId_ = 0;
    std::unique_ptr<SplashWindow> splash_;
    std::unique_ptr<MainWindow> window_;
};

} // namespace kv
