#pragma once
// What the main window does for the shell's workflows: the tab strip, the File menu entries,
// the image information line, and the File > New dialog. The Qt main window
// implements it; tests record the calls.
#include "app/core/recent_files.h"
#include "app/core/tab_state.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// The image information line, one group of fields per slot, and the MAF mismatch warning
// (empty when there is none).
struct InfoLine {
    std::string fuel;
    std::string ignition;
    std::string warning;
    // What is edited offline (not in a module), empty when nothing is; and the window title.
    std::string offline;
    std::string windowTitle = "Kestrovane";
};

// A File > New choice: the base image name (without "-SUPERMAF") and the MAF sensor type.
struct NewImageChoice {
    std::string baseName;
    bool superMAF = false;
};

class WorkflowView {
public:
    virtual ~WorkflowView() = default;

    // Empties the tab strip and refills it with `tabs` (in that order); `state` is passed on to
    // data logging.
    virtual void ShowTabs(const std::vector<TabSlot>& tabs, TabState state) = 0;
    virtual void ShowInfoLine(const InfoLine& line) = 0;
    // Save / Save As of each slot enabled for a loaded image; File > Save while either is.
    virtual void SetSaveMenus(bool fuelLoaded, bool ignitionLoaded) = 0;
    // Captions of the recent-file entries 1..4; an empty caption hides its entry.
    virtual void ShowRecentFiles(const std::array<std::string, kRecentFileCount>& captions) = 0;
    // The "New EPROM" dialog, opened with `initial` selected; nullopt on Cancel.
    virtual std::optional<NewImageChoice> RunNewImageDialog(const NewImageChoice& initial) = 0;
    // An image slot now holds another object: pages showing it bind to the new one.
    virtual void ImagesChanged() = 0;
};

} // namespace kv
