#pragma once
// The application shell: owns the program-wide state (the device flags, the two images, the tab
// flags, the ignition-dependent control list, the File menu workflows) and runs start-up,
// the Options dialog's Apply and the questions before the main window closes. The main window
// is reached only through ShellView, so all of this runs headless in tests.
#include "app/core/connection.h"
#include "app/core/device_polling.h"
#include "app/core/edit_recovery.h"
#include "app/core/image_workflows.h"
#include "app/core/tab_state.h"
#include "app/core/unconfirmed_edits.h"
#include "app/core/window_settings.h"
#include "app/core/workflow_view.h"
#include "eprom/eprom_image.h"
#include "platform/parsed.h"
#include "undo/edit_history.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kv {

class EpromDevice;

// Start-up and shut-down steps that belong to the windows.
class ShellView : public WorkflowView {
public:
    // Shows the splash window (not modal) with its version label and paints it.
    virtual void ShowSplash(const std::string& versionLabel) = 0;
    virtual void PaintSplash() = 0;
    virtual void CloseSplash() = 0;
    // Initialise the subsystems that keep settings of their own.
    virtual void InitAutotuneAndAuxInputs() = 0;
    virtual void InitDataLogging() = 0;
    // Builds the main window (not yet shown).
    virtual void LoadMainWindow() = 0;
    virtual void MaximiseMainWindow() = 0;
    virtual void ShowMainWindow() = 0;
    // The enter / leave action of the selected tab.
    virtual void EnterSelectedTab() = 0;
    virtual void LeaveSelectedTab() = 0;
    // The window state as a number (2 = maximised, 1 = minimised, 0 = normal).
    virtual int WindowStateNumber() = 0;
    // The main window's size and place when it is neither maximised nor minimised; setting the
    // size keeps the window on the screen. A place where the window would not show on any screen
    // is not taken: the window then goes back to its first size.
    virtual WindowSize NormalWindowSize() = 0;
    virtual void SetNormalWindowSize(WindowSize size) = 0;
    virtual WindowPosition NormalWindowPosition() = 0;
    virtual void SetNormalWindowPosition(WindowPosition position) = 0;
    // True while data logging holds runs that were not saved.
    virtual bool HasUnsavedDataLogRuns() = 0;
    // Ends a data-logging recording (or its wait for the trigger), so the device stops logging.
    virtual void EndDataLogging() = 0;
};

// The four "ECUs" check boxes of the Options dialog, in index order.
struct EcuOption {
    const char* key;
    const char* caption;
};
const std::array<EcuOption, 4>& EcuOptions();

inline constexpr std::int64_t kSplashMinimumMs = 1500;

class Shell {
public:
    Shell(ShellDevice& device, EpromDevice* eprom, UserMessages& messages, FileDialogs& files,
          ProgressDisplay& progress, SettingsStore& settings, Clock& clock, ShellView& view, ProgramVersion version);

    // Keeps a journal of the images' edits in `folder` (the user's data folder): from now on every
    // write to an image of a slot is recorded, and start-up offers what an earlier run left.
    // Without it nothing is recorded.
    void UseEditJournal(const std::string& folder, EditJournal::WallClock now = {});

    // The start-up sequence, from the splash window to the firmware check.
    void StartUp();
    // The questions before the main window closes; true when it may close (the window state
    // is then stored and the device link closed).
    bool QueryClose();

    // Options dialog: the stored tick of each box, and Apply (store, reconnect, check).
    std::array<bool, 4> LoadEcuOptions();
    void ApplyEcuOptions(const std::array<bool, 4>& ticked);

    // "Version " + major.minor.revision.
    std::string VersionLabel() const;

    EpromContext& Context() { return context_; }
    ImageSlots& Slots() { return slots_; }
    EPROM& FuelImage() { return *slots_.fuel; }
    EPROM& IgnitionImage() { return *slots_.ignition; }
    TabFlags& Tabs() { return tabs_; }
    ImageWorkflows& Workflows() { return workflows_; }
    IgnitionWatch& Ignition() { return ignition_; }
    DevicePolling& Polling() { return polling_; }
    UnconfirmedEdits& Unconfirmed() { return unconfirmed_; }
    // The undo history of the images in the slots; an image's history goes when the image leaves
    // its slot.
    EditHistories& History() { return history_; }
    // Null until UseEditJournal.
    EditJournal* Journal() { return journal_.get(); }
    ShellDevice& Device() { return device_; }
    const std::vector<std::uint8_t>& KnockSound() const { return knockSound_; }

private:
    ShellDevice& device_;
    UserMessages& messages_;
    FileDialogs& files_;
    ProgressDisplay& progress_;
    SettingsStore& settings_;
    Clock& clock_;
    ShellView& view_;
    ProgramVersion version_;
    EpromContext context_;
    ImageSlots slots_;
    TabFlags tabs_;
    IgnitionWatch ignition_;
    DevicePolling polling_;
    ImageWorkflows workflows_;
    UnconfirmedEdits unconfirmed_;
    EditHistories history_;
    std::unique_ptr<EditJournal> journal_;
    std::unique_ptr<EditRecovery> recovery_;
    std::vector<std::uint8_t> knockSound_;
};

} // namespace kv
