// Start-up, shut-down, Options, the tab flags, the recent-file list, the quick ping and the
// ignition-dependent controls.
#include "app/core/connection.h"
#include "app/core/connection_monitor.h"
#include "app/core/recent_files.h"
#include "app/core/tab_state.h"
#include "app_test_support.h"
#include "device/adapters/comms_presence.h"
#include "device/adapters/comms_shell_device.h"
#include "device/comms.h"
#include "device/firmware.h"

#include <gtest/gtest.h>

#include <optional>

#include <ostream>

#include <algorithm>

namespace kv {

using namespace app_test;

namespace {

std::vector<std::string> Keys(const TabFlags& flags) {
    std::vector<std::string> keys;
    for (const auto& t : flags.VisibleTabs()) keys.push_back(t.key);
    return keys;
}

// ---- tab flags ----

struct TabCase {
    std::vector<TabState> states;
    std::vector<std::string> keys;
};

void PrintTo(const TabCase& c, std::ostream* os) {
    for (TabState s : c.states) *os << TabStateName(s) << " ";
}

class TabStateTest : public ::testing::TestWithParam<TabCase> {};

TEST_P(TabStateTest, StripFollowsTheStates) {
    TabFlags flags;
    for (TabState s : GetParam().states) flags.Apply(s);
    EXPECT_EQ(Keys(flags), GetParam().keys);
}

using enum TabState;

INSTANTIATE_TEST_SUITE_P(
    Sequences, TabStateTest,
    ::testing::Values(
        TabCase{{Init}, {"EPROM", "DataLogging"}}, TabCase{{Init, LH, NotLH}, {"EPROM", "DataLogging"}},
        TabCase{{Init, LH, EZK},
                {"EPROM", "Parameters", "FuelMap", "Monitor", "ParametersEZK", "IgnMap", "MonitorEZK", "DataLogging"}},
        // Both fuel parameter tabs; removing LH 2.2 takes the shared map and monitor tabs too.
        TabCase{{Init, LH, LH22}, {"EPROM", "Parameters", "ParametersLH22", "FuelMap", "Monitor", "DataLogging"}},
        TabCase{{Init, LH, LH22, NotLH22}, {"EPROM", "Parameters", "DataLogging"}},
        TabCase{{Init, EZF, EZK, NotEZF}, {"EPROM", "ParametersEZK", "DataLogging"}},
        TabCase{{Init, EZF}, {"EPROM", "ParametersEZF", "IgnMap", "MonitorEZK", "DataLogging"}},
        TabCase{{Init, LH, EZK, Init}, {"EPROM", "DataLogging"}}));

TEST(TabState, CaptionsFollowTheTable) {
    TabFlags flags;
    flags.Apply(TabState::Init);
    flags.Apply(TabState::LH);
    EXPECT_EQ(Keys(flags), (std::vector<std::string>{"EPROM", "Parameters", "FuelMap", "Monitor", "DataLogging"}));
    std::vector<std::string> captions;
    for (const auto& t : flags.VisibleTabs()) captions.push_back(t.caption);
    EXPECT_EQ(captions, (std::vector<std::string>{"EPROM", "Fuel parameters", "Fuel maps", "Fuel system monitor",
                                                  "Data logging"}));
    EXPECT_FALSE(flags.IsSet(TAB_TEST));
}

// ---- recent files ----

struct RecentCase {
    std::vector<std::string> before; // entries 1..4
    std::string added;
    std::vector<std::string> after;
};

void PrintTo(const RecentCase& c, std::ostream* os) { *os << "add " << c.added; }

class RecentFilesTest : public ::testing::TestWithParam<RecentCase> {};

TEST_P(RecentFilesTest, AddKeepsTheOrder) {
    MemorySettings settings;
    const auto& c = GetParam();
    for (std::size_t i = 0; i < c.before.size(); ++i)
        settings.SaveSetting("RecentFiles", std::to_string(i + 1), c.before[i]);
    RecentFiles recent(settings);
    recent.Add(c.added);
    const auto entries = recent.Entries();
    EXPECT_EQ(std::vector<std::string>(entries.begin(), entries.end()), c.after);
}

INSTANTIATE_TEST_SUITE_P(Rules, RecentFilesTest,
                         ::testing::Values(RecentCase{{}, "a", {"a", "", "", ""}},
                                           RecentCase{{"a", "b", "c", "d"}, "e", {"e", "a", "b", "c"}},
                                           RecentCase{{"a", "b", "c", "d"}, "c", {"c", "a", "b", "d"}},
                                           RecentCase{{"a", "b", "c", "d"}, "d", {"d", "a", "b", "c"}},
                                           RecentCase{{"a", "b", "c", "d"}, "a", {"a", "b", "c", "d"}},
                                           RecentCase{{"a", "b", "", ""}, "b", {"b", "a", "", ""}},
                                           // Exact comparison: another case is another path.
                                           RecentCase{
                                               {"/x/A.bin", "", "", ""}, "/x/a.bin", {"/x/a.bin", "/x/A.bin", "", ""}},
                                           RecentCase{{"a", "b", "", ""}, "", {"a", "b", "", ""}}));

TEST(RecentFiles, MenuCaptions) {
    MemorySettings settings;
    RecentFiles recent(settings);
    recent.Add("/cars/lh.bin");
    recent.Add("/cars/ezk.bin");
    EXPECT_EQ(recent.MenuCaption(1), "&1. /cars/ezk.bin");
    EXPECT_EQ(recent.MenuCaption(2), "&2. /cars/lh.bin");
    EXPECT_EQ(recent.MenuCaption(3), "");
    EXPECT_EQ(recent.MenuCaption(0), "");
    EXPECT_EQ(recent.MenuCaption(5), "");
}

// ---- ignition-dependent controls ----

struct IgnitionCase {
    std::vector<bool> enabledAtStart; // per control
    std::vector<bool> ticks;          // ignition readings
    std::vector<bool> enabledAfter;
};

void PrintTo(const IgnitionCase& c, std::ostream* os) { *os << c.ticks.size() << " ticks"; }

class IgnitionWatchTest : public ::testing::TestWithParam<IgnitionCase> {};

TEST_P(IgnitionWatchTest, DisablesOnlyWhatItReEnables) {
    const auto& c = GetParam();
    std::vector<bool> enabled = c.enabledAtStart;
    IgnitionWatch watch;
    for (std::size_t i = 0; i < enabled.size(); ++i)
        watch.Register(
            {[&enabled, i] { return static_cast<bool>(enabled[i]); }, [&enabled, i](bool on) { enabled[i] = on; }});
    for (bool on : c.ticks) watch.Tick(on);
    EXPECT_EQ(enabled, c.enabledAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, IgnitionWatchTest,
    ::testing::Values(IgnitionCase{{true, true}, {false}, {false, false}},
                      IgnitionCase{{true, true}, {false, true}, {true, true}},
                      // A control that was disabled already stays disabled when the ignition returns.
                      IgnitionCase{{true, false}, {false, true}, {true, false}},
                      IgnitionCase{{true, true}, {true}, {true, true}},
                      IgnitionCase{{true, true}, {false, false, false, true}, {true, true}}));

TEST(IgnitionWatch, ControlEnabledWhileOffIsRememberedAfterAnotherOff) {
    std::vector<bool> enabled{true, true};
    IgnitionWatch watch;
    for (std::size_t i = 0; i < enabled.size(); ++i)
        watch.Register(
            {[&enabled, i] { return static_cast<bool>(enabled[i]); }, [&enabled, i](bool on) { enabled[i] = on; }});
    watch.Tick(false);
    EXPECT_EQ(watch.DisabledCount(), 2);
    // A page enables a control of its own while the ignition is off; then the ignition comes on
    // and goes off again: everything is disabled again, nothing twice.
    enabled[1] = true;
    watch.Tick(true);
    watch.Tick(false);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false}));
    EXPECT_EQ(watch.DisabledCount(), 2);
    watch.Release();
    EXPECT_EQ(enabled, (std::vector<bool>{true, true}));
}

TEST(IgnitionWatch, UnregisteredControlIsLeftAlone) {
    bool a = true;
    IgnitionWatch watch;
    const int id = watch.Register({[&a] { return a; }, [&a](bool on) { a = on; }});
    watch.Tick(false);
    EXPECT_FALSE(a);
    watch.Unregister(id);
    watch.Tick(true);
    EXPECT_FALSE(a);
}

TEST(IgnitionWatch, ControlsOfAnImageEditedOfflineDoNotFollowTheIgnition) {
    // Two controls of a live image and one of an image edited offline (no unit to run it).
    std::vector<bool> enabled{true, true, true};
    std::vector<bool> live{true, true, false};
    IgnitionWatch watch;
    for (std::size_t i = 0; i < enabled.size(); ++i)
        watch.Register({[&enabled, i] { return static_cast<bool>(enabled[i]); },
                        [&enabled, i](bool on) { enabled[i] = on; },
                        [&live, i] { return static_cast<bool>(live[i]); }});
    watch.Tick(false);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, true}));
    // The second image is opened offline while the ignition stays off: its control comes back at
    // the next reading.
    live[1] = false;
    watch.Tick(false);
    EXPECT_EQ(enabled, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(watch.DisabledCount(), 1);
    // Loaded into its unit, it follows the ignition again.
    live[1] = live[2] = true;
    watch.Tick(true);
    watch.Tick(false);
    EXPECT_EQ(enabled, (std::vector<bool>{false, false, false}));
    watch.Tick(true);
    EXPECT_EQ(enabled, (std::vector<bool>{true, true, true}));
}

// ---- quick ping ----

TEST(QuickPing, TickReopensAClosedLinkAndClosesASilentOne) {
    FakeShellDevice device;
    device.open = false;
    QuickPingTick(device);
    EXPECT_EQ(device.log, (std::vector<std::string>{"Open", "UpdateConnectionStatus"}));
    EXPECT_TRUE(device.open);
    device.log.clear();
    device.answers = false;
    QuickPingTick(device);
    EXPECT_EQ(device.log, (std::vector<std::string>{"UpdateConnectionStatus", "ShutDown"}));
    EXPECT_FALSE(device.open);
}

TEST(QuickPing, RestartReopensWhenThePingFails) {
    FakeShellDevice device;
    device.open = true;
    device.answers = false;
    RestartQuickPing(device);
    EXPECT_EQ(device.log, (std::vector<std::string>{"QuickPing", "ShutDown", "Open", "UpdateConnectionStatus|force"}));
    device.log.clear();
    device.answers = true;
    RestartQuickPing(device);
    EXPECT_EQ(device.log, (std::vector<std::string>{"QuickPing", "UpdateConnectionStatus|force"}));
}

// ---- start-up and shut-down ----

class ShellTest : public ::testing::Test {
protected:
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    FakeShellDevice device;
    FakeModules modules;
    RecordingView view;
    Shell shell{device, &modules, dialogs, dialogs, dialogs, settings, clock, view, ProgramVersion{1, 0, 0}};
};

TEST_F(ShellTest, StartUpRunsInOrder) {
    shell.StartUp();
    const std::vector<std::string> expected{"ShowSplash|Version 1.0.0",
                                            "InitAutotuneAndAuxInputs",
                                            "LoadMainWindow",
                                            "ImagesChanged",
                                            "EnterSelectedTab",
                                            "InitDataLogging",
                                            "ShowTabs|Init",
                                            "PaintSplash",
                                            "CloseSplash",
                                            "EnterSelectedTab",
                                            "ShowMainWindow"};
    EXPECT_EQ(view.log, expected);
    EXPECT_EQ(device.log,
              (std::vector<std::string>{"Open", "CheckDeviceOrExplain", "Open", "CheckFirmwareAtStartUp|offer"}));
    EXPECT_EQ(view.keys, (std::vector<std::string>{"EPROM", "DataLogging"}));
    EXPECT_TRUE(shell.Context().deviceIO);
    EXPECT_TRUE(shell.Context().wordBigEndian);
    ASSERT_GE(shell.KnockSound().size(), 44u);
    EXPECT_EQ(std::string(shell.KnockSound().begin(), shell.KnockSound().begin() + 4), "RIFF");
    EXPECT_FALSE(view.saveFuel);
    EXPECT_TRUE(view.info.fuel.find("LH 2.3: ") != std::string::npos);
}

struct SplashCase {
    std::int64_t startUpMs; // time the steps before the wait take
    std::int64_t heldMs;    // extra time the splash is held
};

void PrintTo(const SplashCase& c, std::ostream* os) { *os << c.startUpMs << " ms"; }

class SplashTest : public ShellTest, public ::testing::WithParamInterface<SplashCase> {};

TEST_P(SplashTest, SplashStaysAtLeastOneAndAHalfSeconds) {
    std::int64_t closedAt = 0;
    const std::int64_t start = clock.now;
    view.onCall = [&](const std::string& entry) {
        if (entry == "LoadMainWindow") clock.now += GetParam().startUpMs;
        if (entry == "CloseSplash") closedAt = clock.now;
    };
    shell.StartUp();
    EXPECT_EQ(clock.sleptMs, GetParam().heldMs);
    EXPECT_EQ(closedAt - start, GetParam().startUpMs + GetParam().heldMs);
}

INSTANTIATE_TEST_SUITE_P(Timing, SplashTest,
                         ::testing::Values(SplashCase{200, 1300}, SplashCase{0, 1500}, SplashCase{1499, 1},
                                           SplashCase{1500, 0}, SplashCase{4000, 0}));

struct WindowStateCase {
    const char* stored; // null = missing
    bool maximised;
};

void PrintTo(const WindowStateCase& c, std::ostream* os) { *os << (c.stored ? c.stored : "missing"); }

class WindowStateTest : public ShellTest, public ::testing::WithParamInterface<WindowStateCase> {};

TEST_P(WindowStateTest, OnlyMaximisedIsRestored) {
    if (GetParam().stored) settings.SaveSetting("Appearance", "WindowState", GetParam().stored);
    shell.StartUp();
    const bool maximised = std::find(view.log.begin(), view.log.end(), "MaximiseMainWindow") != view.log.end();
    EXPECT_EQ(maximised, GetParam().maximised);
    if (maximised) {
        // Between closing the splash and showing the window.
        auto at = std::find(view.log.begin(), view.log.end(), "MaximiseMainWindow");
        EXPECT_EQ(*(at - 1), "CloseSplash");
        EXPECT_EQ(*(at + 2), "ShowMainWindow");
    }
}

INSTANTIATE_TEST_SUITE_P(Values, WindowStateTest,
                         ::testing::Values(WindowStateCase{"2", true}, WindowStateCase{"1", false},
                                           WindowStateCase{"0", false}, WindowStateCase{nullptr, false},
                                           WindowStateCase{"maximised", false}));

// The window comes back at the size it was closed with; a kept size no screen has is ignored
// (the window keeps its own first size).
TEST(WindowSizeText, OnlyAPlausibleSizeIsRead) {
    const std::pair<const char*, std::optional<WindowSize>> cases[] = {
        {"1300,850", WindowSize{1300, 850}},
        {"400,300", WindowSize{400, 300}},
        {"399,850", std::nullopt},
        {"1300,299", std::nullopt},
        {"20001,900", std::nullopt},
        {"1300", std::nullopt},
        {"1300,850,2", std::nullopt},
        {"wide,tall", std::nullopt},
        {"-1300,850", std::nullopt},
        {" 1300,850", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [text, expected] : cases) {
        const auto parsed = ParseWindowSize(text);
        EXPECT_EQ(parsed.Ok(), expected.has_value()) << text;
        if (parsed && expected) {
            EXPECT_EQ(*parsed, *expected) << text;
            EXPECT_EQ(WindowSizeText(*parsed), text);
        }
    }
}

TEST_F(ShellTest, TheWindowSizeIsKeptBetweenRuns) {
    settings.SaveSetting("Appearance", "WindowSize", "1300,850");
    settings.SaveSetting("Appearance", "WindowState", "2");
    shell.StartUp();
    const auto sized = std::find(view.log.begin(), view.log.end(), "SetNormalWindowSize|1300,850");
    const auto shown = std::find(view.log.begin(), view.log.end(), "ShowMainWindow");
    const auto maximised = std::find(view.log.begin(), view.log.end(), "MaximiseMainWindow");
    ASSERT_NE(sized, view.log.end());
    EXPECT_LT(sized, maximised) << "the normal size first, so that un-maximising returns to it";
    EXPECT_LT(maximised, shown);

    view.normalSize = {1111, 777};
    shell.Context().deviceIO = false;
    ASSERT_TRUE(shell.QueryClose());
    EXPECT_EQ(settings.GetSetting("Appearance", "WindowSize"), "1111,777");
}

// The place comes back with the size; a place that is no place drops the kept geometry, and a
// size kept without a place (by an earlier version) still comes back.
TEST_F(ShellTest, TheWindowPlaceIsKeptWithItsSize) {
    struct Case {
        const char* size;
        const char* position; // null: not kept
        std::vector<std::string> applied;
    };
    const Case cases[] = {
        {"1300,850", "70,-10", {"SetNormalWindowSize|1300,850", "SetNormalWindowPosition|70,-10"}},
        {"1300,850", nullptr, {"SetNormalWindowSize|1300,850"}},
        {"1300,850", "70", {}},
        {"1300,850", "70,40,1", {}},
        {"1300,850", "90000,40", {}},
        {"0,0", "70,40", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " at " + (c.position ? c.position : "none"));
        MemorySettings kept;
        kept.SaveSetting("Appearance", "WindowSize", c.size);
        if (c.position) kept.SaveSetting("Appearance", "WindowPosition", c.position);
        RecordingView v;
        Shell s{device, &modules, dialogs, dialogs, dialogs, kept, clock, v, ProgramVersion{1, 0, 0}};
        s.StartUp();
        std::vector<std::string> applied;
        for (const std::string& note : v.log)
            if (note.rfind("SetNormalWindow", 0) == 0) applied.push_back(note);
        EXPECT_EQ(applied, c.applied);
    }
    view.normalPosition = {-5, 12};
    shell.Context().deviceIO = false;
    ASSERT_TRUE(shell.QueryClose());
    EXPECT_EQ(settings.GetSetting("Appearance", "WindowPosition"), "-5,12");
}

struct CloseCase {
    bool unsavedRuns;
    bool fuelModified;
    std::vector<MsgResult> answers;
    bool closes;
    std::size_t questions;
};

void PrintTo(const CloseCase& c, std::ostream* os) {
    *os << (c.unsavedRuns ? "runs " : "") << (c.fuelModified ? "modified " : "") << c.answers.size();
}

class QueryCloseTest : public ShellTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(QueryCloseTest, QuestionsBeforeClosing) {
    const auto& c = GetParam();
    TempDir dir;
    shell.StartUp();
    dialogs.messages.clear();
    device.log.clear();
    view.log.clear();
    view.unsavedRuns = c.unsavedRuns;
    view.windowState = 2;
    const std::string path = dir.Write("lh.bin", BaseImage("MRX_D"));
    shell.Context().deviceIO = false; // no module here
    dialogs.answers = {MsgResult::OK};
    ASSERT_TRUE(shell.Workflows().FileOpen(OpenSource::File(path)));
    dialogs.messages.clear();
    if (c.fuelModified) shell.FuelImage().WriteByte(5, 0x77);
    dialogs.answers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(shell.QueryClose(), c.closes);
    EXPECT_EQ(dialogs.messages.size(), c.questions);
    if (c.unsavedRuns) {
        EXPECT_EQ(dialogs.messages.front(), "There are unsaved data logging runs in the Data logging tab. Are you "
                                            "sure you want to quit and discard them?");
    }
    const bool shutDown = std::find(device.log.begin(), device.log.end(), "ShutDown") != device.log.end();
    EXPECT_EQ(shutDown, c.closes);
    EXPECT_EQ(settings.GetSetting("Appearance", "WindowState", "unset"), c.closes ? "2" : "unset");
    EXPECT_EQ(std::find(view.log.begin(), view.log.end(), "LeaveSelectedTab") != view.log.end(), c.closes);
    // A recording ends while the device is still open.
    EXPECT_EQ(std::find(view.log.begin(), view.log.end(), "EndDataLogging") != view.log.end(), c.closes);
}

INSTANTIATE_TEST_SUITE_P(Answers, QueryCloseTest,
                         ::testing::Values(CloseCase{false, false, {}, true, 0},
                                           CloseCase{true, false, {MsgResult::Yes}, true, 1},
                                           CloseCase{true, false, {MsgResult::No}, false, 1},
                                           CloseCase{true, false, {MsgResult::Cancel}, false, 1},
                                           CloseCase{false, true, {MsgResult::No}, true, 1},
                                           CloseCase{false, true, {MsgResult::Cancel}, false, 1},
                                           CloseCase{false, true, {MsgResult::Yes}, true, 1}));

TEST_F(ShellTest, OptionsApplyStoresTheBoxesAndChecksTheDevice) {
    settings.SaveSetting("ECUs", "EZK", "1");
    EXPECT_EQ(shell.LoadEcuOptions(), (std::array<bool, 4>{false, true, false, false}));
    shell.ApplyEcuOptions({true, false, true, false});
    EXPECT_EQ(settings.GetSetting("ECUs", "LH23"), "1");
    EXPECT_EQ(settings.GetSetting("ECUs", "EZK"), "0");
    EXPECT_EQ(settings.GetSetting("ECUs", "LH22"), "1");
    EXPECT_EQ(settings.GetSetting("ECUs", "EZF"), "0");
    EXPECT_EQ(device.log, (std::vector<std::string>{"ShutDown", "CheckDeviceOrExplain", "Open"}));
    EXPECT_EQ(dialogs.log, (std::vector<std::string>{"Hourglass|on", "Hourglass|off"}));
    EXPECT_EQ(shell.LoadEcuOptions(), (std::array<bool, 4>{true, false, true, false}));
}

// ---- start-up against the device link: no device, a silent device ----

class ScriptedHid final : public HidBackend {
public:
    ScriptedHid(FakeClock& clock, bool present) : clock_(clock), present_(present) {}
    std::vector<HidDeviceInfo> Enumerate() override {
        if (!present_) return {};
        return {{"/dev/hidraw7", kDeviceVendorId, kDeviceProductId}};
    }
    bool Open(const std::string&) override {
        open_ = present_;
        return open_;
    }
    bool IsOpen() const override { return open_; }
    bool SetInputQueueSize(int) override { return true; }
    void FlushInput() override {}
    HidReadResult Read(HidReport&, int timeoutMs) override {
        clock_.SleepMs(timeoutMs); // never answers
        return HidReadResult::Timeout;
    }
    HidWriteResult Write(const HidReport&, int) override { return open_ ? HidWriteResult::Ok : HidWriteResult::Gone; }
    void Cancel() override {}
    void Close() override { open_ = false; }

private:
    FakeClock& clock_;
    bool present_;
    bool open_ = false;
};

class RecordingIndicator final : public ConnectionIndicator {
public:
    void ShowConnectionStatus(const std::string& text, bool error) override {
        status = text;
        red = error;
    }
    void ShowFirmwareVersion(const std::string& text) override { firmware = text; }
    std::string status;
    bool red = false;
    std::string firmware = "untouched";
};

struct DeviceCase {
    bool present;
    const char* message;
    const char* status;
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << (c.present ? "silent device" : "no device"); }

class StartUpDeviceTest : public ::testing::TestWithParam<DeviceCase> {};

TEST_P(StartUpDeviceTest, ExplainsAMissingOrSilentDeviceAndGoesOn) {
    const auto& c = GetParam();
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    RecordingView view;
    ScriptedHid hid(clock, c.present);
    Comms comms(hid, clock);
    CommsPresence presence(comms);
    ConnectionMonitor connection(presence);
    RecordingIndicator indicator;
    connection.SetConnectionIndicator(&indicator);
    Firmware firmware(comms, dialogs, dialogs, dialogs, clock);
    CommsShellDevice device(comms, firmware, connection);
    Shell shell(device, nullptr, dialogs, dialogs, dialogs, settings, clock, view, ProgramVersion{1, 0, 0});
    shell.StartUp();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.log[0], std::string("MessageBox|Error|") + c.message);
    EXPECT_EQ(indicator.status, c.status);
    EXPECT_TRUE(indicator.red);
    EXPECT_EQ(indicator.firmware, "");
    EXPECT_EQ(view.log.back(), "ShowMainWindow");
    EXPECT_TRUE(shell.Context().deviceIO);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, StartUpDeviceTest,
    ::testing::Values(DeviceCase{false,
                                 "No Kestrovane device found. Please make sure the Kestrovane is connected to a USB "
                                 "port on the computer and is powered from the diagnostics socket on the car.",
                                 "Not connected (or not powered)"},
                      DeviceCase{true,
                                 "The Kestrovane device is connected to the USB port but is not responding. Please "
                                 "try turning the Kestrovane off and back on by disconnecting and connecting the "
                                 "cable to the diagnostics socket.",
                                 "Not responding"}));

} // namespace

} // namespace kv
