#include "app/core/shell.h"

#include "app/core/shell_device.h"
#include "platform/clock.h"
#include "platform/messages.h"
#include "platform/progress.h"
#include "platform/resources.h"
#include "platform/settings_store.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kv {

namespace {

// The start-up's questions and messages: the splash goes before the first box, so that no box
// shows over it (or under it).
class SplashFirstMessages final : public UserMessages {
public:
    SplashFirstMessages(UserMessages& messages, std::function<void()> closeSplash)
        : messages_(messages), closeSplash_(std::move(closeSplash)) {}
    MsgResult MessageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon icon) override {
        closeSplash_();
        return messages_.MessageBox(text, title, buttons, icon);
    }
    std::optional<std::string> InputBox(const std::string& prompt, const std::string& title,
                                        const std::string& defaultText) override {
        closeSplash_();
        return messages_.InputBox(prompt, title, defaultText);
    }

private:
    UserMessages& messages_;
    std::function<void()> closeSplash_;
};

} // namespace

const std::array<EcuOption, 4>& EcuOptions() {
    static const std::array<EcuOption, 4> options{{
        {"LH23", "LH 2.3 (fuel injection ECU on '87 S4 and newer cars)"},
        {"EZK", "EZK (ignition ECU on '87 S4 and newer cars)"},
        {"LH22", "LH 2.2 (fuel injection ECU on '85 - '86 cars)"},
        {"EZF", "EZF (ignition ECU on '85 - '86 cars)"},
    }};
    return options;
}

Shell::Shell(ShellDevice& device, EpromDevice* eprom, UserMessages& messages, FileDialogs& files,
             ProgressDisplay& progress, SettingsStore& settings, Clock& clock, ShellView& view, ProgramVersion version)
    : device_(device), messages_(messages), files_(files), progress_(progress), settings_(settings), clock_(clock),
      view_(view), version_(version), workflows_(WorkflowServices{context_, slots_, tabs_, messages, files, progress,
                                                                  settings, device, clock, view, version}),
      unconfirmed_(slots_, device, messages), history_(context_) {
    context_.device = eprom;
    context_.messages = &messages;
    context_.progress = &progress;
    context_.clock = &clock;
    // Both slots always hold an object; the real ones are made during start-up.
    slots_.fuel = std::make_unique<EPROM>(context_);
    slots_.ignition = std::make_unique<EPROM>(context_);
    // An image that leaves its slot takes its undo history and its unsaved-edit journal along.
    workflows_.OnSlotReplaced([this](bool fuelSlot) {
        history_.Forget(fuelSlot ? *slots_.fuel : *slots_.ignition);
        if (recovery_) recovery_->ClearSlot(fuelSlot);
    });
}

std::string Shell::VersionLabel() const {
    return "Version " + std::to_string(version_.major) + "." + std::to_string(version_.minor) + "." +
           std::to_string(version_.revision);
}

void Shell::UseEditJournal(const std::string& folder, EditJournal::WallClock now) {
    journal_ = std::make_unique<EditJournal>(folder, std::move(now));
    recovery_ = std::make_unique<EditRecovery>(*journal_, slots_, messages_, files_, history_, workflows_);
    recovery_->Connect(context_);
}

void Shell::StartUp() {
    // 1. Splash.
    view_.ShowSplash(VersionLabel());
    const std::int64_t t0 = clock_.NowMs();
    // 2. Device link.
    device_.Open();
    // 3. Subsystems with settings of their own.
    view_.InitAutotuneAndAuxInputs();
    // 4. The two images.
    history_.ForgetAll();
    slots_.fuel = std::make_unique<EPROM>(context_);
    slots_.ignition = std::make_unique<EPROM>(context_);
    // 5. Byte order and the knock sound.
    context_.wordBigEndian = true;
    knockSound_ = LoadResource("KNOCK.WAV").value_or(std::vector<std::uint8_t>{});
    // 6. Main window (loading refreshes the information line and enters the selected tab).
    view_.LoadMainWindow();
    view_.ImagesChanged();
    workflows_.RefreshInfoLine();
    view_.EnterSelectedTab();
    // 7. Data logging.
    view_.InitDataLogging();
    // 8. Tabs.
    workflows_.SetTabState(TabState::Init);
    // 9. Recent files; the device check (its message closes the splash first).
    workflows_.RefreshMenus();
    bool splashShown = true;
    auto closeSplash = [this, &splashShown] {
        if (!splashShown) return;
        splashShown = false;
        view_.CloseSplash();
    };
    SplashFirstMessages checkMessages(messages_, closeSplash);
    device_.CheckDeviceOrExplain(checkMessages);
    // 10. The splash stays at least 1.5 s (unless a message took its place).
    if (splashShown) {
        view_.PaintSplash();
        const std::int64_t remaining = kSplashMinimumMs - (clock_.NowMs() - t0);
        if (remaining > 0 && remaining < 2000) clock_.SleepMs(remaining);
    }
    // 11.
    closeSplash();
    // 12. Window size and place (the window's own first ones when none were kept), then the
    // state: only maximised is restored, a window closed minimised opens normal.
    const WindowGeometry window = WindowSettings(settings_).Load();
    if (window.size) {
        view_.SetNormalWindowSize(*window.size);
        if (window.position) view_.SetNormalWindowPosition(*window.position);
    }
    if (window.maximised) view_.MaximiseMainWindow();
    // 13.
    view_.EnterSelectedTab();
    view_.ShowMainWindow();
    // Edits that an earlier run did not save (it crashed or was killed) go back into their files.
    if (recovery_) recovery_->OfferRestore();
    // 14. From now on image edits go to the device.
    context_.deviceIO = true;
    // 15.
    device_.CheckFirmwareAtStartUp(true);
}

bool Shell::QueryClose() {
    if (view_.HasUnsavedDataLogRuns()) {
        const MsgResult r = messages_.MessageBox(std::string("There are unsaved data logging runs in the Data logging "
                                                             "tab. ") +
                                                     "Are you sure you want to quit and discard them?",
                                                 "Warning", MsgButtons::YesNoCancel, MsgIcon::Warning);
        if (r != MsgResult::Yes) return false;
    }
    if (!workflows_.OfferSaveBeforeClose()) return false;
    // Saved or given up: nothing is left to recover.
    if (recovery_) recovery_->ClearAll();
    view_.LeaveSelectedTab();
    view_.EndDataLogging();
    WindowSettings(settings_).Save(view_.WindowStateNumber(), view_.NormalWindowSize(), view_.NormalWindowPosition());
    device_.ShutDown();
    return true;
}

std::array<bool, 4> Shell::LoadEcuOptions() {
    std::array<bool, 4> ticked{};
    for (std::size_t i = 0; i < ticked.size(); ++i)
        ticked[i] = settings_.GetSetting("ECUs", EcuOptions()[i].key, "0") == "1";
    return ticked;
}

void Shell::ApplyEcuOptions(const std::array<bool, 4>& ticked) {
    for (std::size_t i = 0; i < ticked.size(); ++i)
        settings_.SaveSetting("ECUs", EcuOptions()[i].key, ticked[i] ? "1" : "0");
    progress_.SetHourglass(true);
    device_.ShutDown();
    device_.CheckDeviceOrExplain(messages_);
    progress_.SetHourglass(false);
}

} // namespace kv
