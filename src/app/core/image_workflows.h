#pragma once
// The File menu workflows that fill and save the two image slots: FileOpen (every way of
// getting an image goes through it), the save prompt, Save, Save As, Save both, File > New,
// Load from PEM, the recent-file list and the image information line.
#include "app/core/recent_files.h"
#include "app/core/tab_state.h"
#include "app/core/workflow_view.h"
#include "eprom/ecu_type.h"
#include "platform/messages.h"

#include <functional>
#include <memory>
#include <string>

namespace kv {

class Clock;
class EPROM;
class SettingsStore;
class ShellDevice;
class TabFlags;
class FileDialogs;
class ProgressDisplay;
struct EpromContext;

struct ProgramVersion {
    int major = 0;
    int minor = 0;
    int revision = 0;
};

// The program-wide images: fuel injection (ECU function 1) and ignition. Never null once made.
struct ImageSlots {
    std::unique_ptr<EPROM> fuel;
    std::unique_ptr<EPROM> ignition;
};

// Where FileOpen takes its image from.
struct OpenSource {
    enum class Kind { AskUser, Path, Emulator, NewImage, RunningEcu, HandedIn };
    Kind kind = Kind::AskUser;
    std::string path;                // Path
    int ecu = 0;                     // RunningEcu: 1 LH, 2 EZK
    std::unique_ptr<EPROM> handedIn; // HandedIn

    static OpenSource AskUser() { return {}; }
    static OpenSource File(std::string p);
    static OpenSource Emulator();
    static OpenSource NewImage();
    static OpenSource Running(int ecuKind);
    static OpenSource Take(std::unique_ptr<EPROM> image);
};

enum class SaveResult { OK, Cancel };

// The information line for the two slots (see WorkflowView). LH 2.2 and EZF images, which can
// only be edited offline, say so in their load method.
InfoLine BuildInfoLine(const EPROM& fuel, const EPROM& ignition);

inline constexpr const char* kSaveFailedMessage = "Save failed - disk I/O error";
inline constexpr const char* kUnrecognizedMessage =
    "Unrecognized EPROM. Only special EPROMs from Dravenholt are supported by Kestrovane.";
inline constexpr const char* kEmptyImageMessage = "The EPROM image is empty.";
inline constexpr const char* kPemOnly = "PEM (Programmable EPROM Module) only allowable";
inline constexpr const char* kOfflineOnly = "None (offline editing only: cannot be loaded into a PEM)";
// Asked after "Kestrovane device not responding" ended File > Open or File > New.
inline constexpr const char* kOfflineQuestion =
    "Open the image for offline editing?\r\n\r\nIt is not loaded into the EPROM Module: your edits go only to "
    "the image (save it as usual). When the device answers again, load it with File > Load into module.";

struct WorkflowServices {
    EpromContext& context;
    ImageSlots& images;
    TabFlags& tabs;
    UserMessages& messages;
    FileDialogs& files;
    ProgressDisplay& progress;
    SettingsStore& settings;
    ShellDevice& device;
    Clock& clock;
    WorkflowView& view;
    ProgramVersion version;
};

class ImageWorkflows {
public:
    explicit ImageWorkflows(WorkflowServices services);

    // Loads into a fresh image, checks it, upgrades an old one, offers to save the image it
    // replaces, sends it to its unit's module and only then puts it into its slot. True when
    // the slot took the new image; every failure and Cancel leaves both slots unchanged.
    bool FileOpen(OpenSource source);

    // File > Load into module: each offline image (fuel, then ignition) through the guided module
    // load; one that arrives is edited live from then on. True when every offline image arrived.
    bool LoadOfflineIntoModule();
    bool HasOfflineImage() const;

    // Told when an image is about to leave its slot for another (fuel slot or ignition slot).
    void OnSlotReplaced(std::function<void(bool fuelSlot)> handler) { slotReplaced_ = std::move(handler); }
    // Told before an image of a slot is offered for saving on its way out (another image is to
    // take its slot, or the program closes), so that work still holding it can put it back
    // into the state the user expects to save.
    void OnImageLeaving(std::function<void(EPROM& image)> handler) { imageLeaving_ = std::move(handler); }

    // File > Recent i (1..4).
    bool OpenRecent(int i);
    // File > Load from PEM: the running units that answer, else the units' start-up channel.
    void Download();

    // Yes/No/Cancel; No without asking when the image is unmodified.
    MsgResult SavePrompt(EPROM& image);
    SaveResult Save(EPROM& image);
    SaveResult SaveAs(EPROM& image);
    // Fuel image, then (unless cancelled) the ignition image.
    SaveResult SaveBoth();

    // The shut-down question for both images: false keeps the program open.
    bool OfferSaveBeforeClose();

    // Refreshes the information line, the save menus and the recent-file menu.
    void RefreshInfoLine();
    void RefreshRecentMenu();
    void RefreshMenus();

    RecentFiles& Recent() { return recent_; }

    // SetTabState: changes the flags and rebuilds the strip.
    void SetTabState(TabState state);

private:
    std::unique_ptr<EPROM> Obtain(OpenSource& source, std::string& message, bool& cancelled);
    bool AcceptKind(const EPROM& image, const OpenSource& source);
    bool UpgradeIfOld(EPROM& image);
    std::string NewImageName();
    bool OfflineAllowed(EcuType type);
    // What a module load answered, other than success.
    void ShowLoadMessage(const std::string& message);
    EPROM& SlotFor(const EPROM& image);
    // Waits on the start-up channel for the units in `mask`; the status last read (0..3), or
    // nullopt when the user cancelled.
    std::optional<int> WaitForUnits(int mask);

    WorkflowServices s_;
    RecentFiles recent_;
    std::function<void(bool fuelSlot)> slotReplaced_;
    std::function<void(EPROM& image)> imageLeaving_;
};

} // namespace kv
