// The real program offscreen against the simulated device: start-up, the firmware offer, File >
// New through its dialog, tab enter/leave actions, Options Apply, the ignition-dependent controls
// and closing with a modified image.
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/options_dialog.h"
#include "app/gui/pages.h"
#include "app/gui/program.h"
#include "app/gui/splash.h"
#include "app_test_support.h"
#include "eprom/base_images.h"
#include "maps/gui/image_comparison.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "params/gui/param_panel.h"
#include "params/param_page.h"
#include "program_test_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTextDocument>
#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <tuple>

#include <functional>

namespace kv {

using namespace app_test;

namespace {

// Runs `step` on the next modal dialog as soon as it is shown.
void OnNextModal(std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, [step] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        step(modal);
    });
}

// Lets the event loop run for `ms` milliseconds of real time.
void RunEvents(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class CountingPage final : public TabPage {
public:
    using TabPage::TabPage;
    void Enter() override { ++enters; }
    void Leave() override { ++leaves; }
    int enters = 0;
    int leaves = 0;
};

class ProgramTest : public SimulatedProgramTest {
protected:
    void Start(ProgramOptions options = {}) { StartProgram(std::move(options)); }
    Shell& GetShell() { return program->GetShell(); }
};

TEST_F(ProgramTest, StartsAgainstTheSimulatedDevice) {
    Start();
    EXPECT_TRUE(Window().isVisible());
    EXPECT_EQ(Window().objectName(), "frmMain");
    EXPECT_EQ(program->Splash(), nullptr);
    EXPECT_EQ(Window().TabKeys(), (QStringList{"EPROM", "DataLogging"}));
    EXPECT_EQ(Window().SelectedTabKey(), "EPROM");
    EXPECT_EQ(Window().Eprom()->StatusLabel()->text(), "Connected");
    EXPECT_EQ(Window().Eprom()->FirmwareLabel()->text(), "6.003");
    auto* simulated = Window().findChild<QLabel*>("lblSimulated");
    ASSERT_NE(simulated, nullptr);
    EXPECT_EQ(simulated->text(), "Simulated device");
    EXPECT_EQ(Window().QuickPingTimer()->interval(), 2500);
    EXPECT_TRUE(Window().QuickPingTimer()->isActive());
    EXPECT_EQ(Window().IgnitionTimer()->interval(), 1000);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_FALSE(Window().Action("mnuFileSave")->isEnabled());
    EXPECT_EQ(Window().Action("mnuFileOpen")->shortcut(), QKeySequence("Ctrl+O"));
    EXPECT_EQ(Window().Action("mnuFileExit")->shortcut(), QKeySequence("Ctrl+Q"));
}

TEST(ProgramOptionsParse, Arguments) {
    auto ok = ParseProgramOptions({"--simulate", "--sim-faults", "drop=0.1", "--sim-firmware", "6.001"});
    ASSERT_TRUE(ok.Ok()) << ok.Error();
    EXPECT_TRUE(ok->simulate);
    EXPECT_EQ(ok->simFaults, "drop=0.1");
    EXPECT_EQ(ok->simFirmware, "6.001");
    EXPECT_EQ(ok->simDrive, "road") << "the simulated car drives the road unless told otherwise";
    auto dyno = ParseProgramOptions({"--simulate", "--drive", "dyno", "--drive-seed", "9"});
    ASSERT_TRUE(dyno.Ok()) << dyno.Error();
    EXPECT_EQ(dyno->simDrive, "dyno");
    EXPECT_EQ(dyno->simDriveSeed, "9");
    const struct {
        std::vector<std::string> args;
        const char* error;
    } refused[] = {{{"--sim-state"}, "--sim-state needs a value"},
                   {{"--sim-state", "x"}, "The --sim-... options need --simulate"},
                   {{"--bogus"}, "Unknown argument: --bogus"}};
    for (const auto& c : refused) {
        const auto parsed = ParseProgramOptions(c.args);
        EXPECT_FALSE(parsed.Ok()) << c.error;
        EXPECT_EQ(parsed.Error(), c.error);
    }
    MemorySettings settings;
    ScriptedDialogs dialogs;
    FakeClock clock;
    ProgramOptions bad;
    bad.simulate = true;
    bad.simFaults = "drop=lots";
    Program program(bad, &dialogs, &settings, &clock);
    EXPECT_NE(program.Error(), "");
    for (const auto& [drive, seed, error] : {std::tuple{"track", "1", "road or dyno"}, {"road", "-3", "drive seed"}}) {
        ProgramOptions badDrive;
        badDrive.simulate = true;
        badDrive.simDrive = drive;
        badDrive.simDriveSeed = seed;
        Program refused(badDrive, &dialogs, &settings, &clock);
        EXPECT_NE(refused.Error().find(error), std::string::npos) << refused.Error();
    }
}

struct FirmwareCase {
    MsgResult offer;
    MsgResult confirm;
    const char* lastMessage;
    const char* versionAfter;
};

void PrintTo(const FirmwareCase& c, std::ostream* os) { *os << c.lastMessage; }

class FirmwareOfferTest : public ProgramTest, public ::testing::WithParamInterface<FirmwareCase> {};

TEST_P(FirmwareOfferTest, OldDeviceFirmwareIsOfferedAnUpgrade) {
    dialogs.answers = {GetParam().offer, GetParam().confirm};
    ProgramOptions options;
    options.simFirmware = "6.001";
    Start(options);
    ASSERT_GE(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.log[0].rfind("MessageBox|Old firmware version detected|", 0), 0u) << dialogs.log[0];
    EXPECT_NE(dialogs.messages[0].find("The firmware version on your Kestrovane device is 6.001."), std::string::npos);
    EXPECT_EQ(dialogs.messages.back(), GetParam().lastMessage);
    EXPECT_EQ(Window().Eprom()->FirmwareLabel()->text(), GetParam().versionAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FirmwareOfferTest,
    ::testing::Values(FirmwareCase{MsgResult::No, MsgResult::No,
                                   "The Kestrovane may not work properly until you have upgraded the firmware.",
                                   "6.001"},
                      FirmwareCase{MsgResult::Yes, MsgResult::Yes, "Firmware succesfully updated.", "6.003"}));

TEST_F(ProgramTest, DeviceTraceSettingIsReadAtStartUp) {
    const char* old = std::getenv("XDG_CACHE_HOME");
    const std::string saved = old ? old : "";
    const std::string cache = ::testing::TempDir() + "/kv-program-trace";
    std::filesystem::remove_all(cache);
    setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    const std::string trace = cache + "/kestrovane/devicetrace.txt";
    for (const char* value : {"0", "1"}) {
        settings.values[{"Diagnostics", "DeviceTrace"}] = value;
        Start();
        Window().hide();
        program.reset(); // the link closes and the trace is written out
        std::ifstream in(trace);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (std::string(value) == "1") {
            EXPECT_NE(text.find("\tOpenDevice\r\n"), std::string::npos);
            EXPECT_NE(text.find("    Transmitting: "), std::string::npos);
        } else {
            EXPECT_FALSE(std::filesystem::exists(trace));
        }
    }
    std::filesystem::remove_all(cache);
    if (old)
        setenv("XDG_CACHE_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
}

TEST_F(ProgramTest, FileNewThroughItsDialog) {
    settings.SaveSetting("EPROM", "NewDefault", "EZK_D-GT");
    Start();
    NewImageChoice shown;
    bool pollingDuringLoad = true;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<NewImageDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        shown = dialog->Choice();
        pollingDuringLoad = Window().QuickPingTimer()->isActive() || Window().IgnitionTimer()->isActive();
        dialog->BaseButton(3)->click(); // EZK - S4 maps
        dialog->SuperMafButton()->click();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    Window().Action("mnuFileNew")->trigger();
    EXPECT_EQ(shown.baseName, "EZK_D-GT");
    EXPECT_FALSE(shown.superMAF);
    // The device polling pauses while the image goes to the module, and runs again after.
    EXPECT_FALSE(pollingDuringLoad);
    EXPECT_TRUE(Window().QuickPingTimer()->isActive());
    EXPECT_EQ(Window().TabKeys(), (QStringList{"EPROM", "ParametersEZK", "IgnMap", "MonitorEZK", "DataLogging"}));
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefault"), "EZK_D-S4");
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefaultSuperMAF"), "1");
    EXPECT_TRUE(Window().Action("mnuFileSave")->isEnabled());
    EXPECT_TRUE(Window().Action("mnuFileSaveIgnAs")->isEnabled());
    EXPECT_FALSE(Window().Action("mnuFileSaveInj")->isEnabled());
    // Compare with: the entry of the loaded image only; no comparison to end yet.
    EXPECT_TRUE(Window().Action("mnuFileCompare")->isEnabled());
    EXPECT_TRUE(Window().Action("mnuFileCompareIgn")->isEnabled());
    EXPECT_FALSE(Window().Action("mnuFileCompareInj")->isEnabled());
    EXPECT_FALSE(Window().Action("mnuFileCompareEnd")->isEnabled());
    EXPECT_TRUE(Window().Eprom()->InfoLabel()->text().contains("S4 maps"));
    EXPECT_TRUE(Window().Eprom()->InfoLabel()->text().contains("SuperMAF sensor"));
    // The simulated EZK module now holds the image.
    EXPECT_EQ(program->Simulator()->IgnitionMode(), SimIgnitionMode::Auto);
    EXPECT_EQ(GetShell().IgnitionImage().LH23EZK_GetMAFType(), "SuperMAF");
}

TEST_F(ProgramTest, ParameterPageChangesReachTheRunningModuleAndFollowANewImage) {
    Start();
    auto fileNew = [&] {
        FileNew(0); // LH S4 / GT / GTS
        QApplication::processEvents();
        QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    fileNew();
    Window().SelectTab("Parameters");
    auto* rev = Window().findChild<UpDown*>("udRevLimiter");
    ASSERT_NE(rev, nullptr);
    rev->stepUp();
    const EPROM* image = GetShell().Slots().fuel.get();
    ASSERT_NE(image, nullptr);
    const auto address = static_cast<std::size_t>(image->WindowOffset() + image->GetEPROMAddress(1));
    EXPECT_EQ(program->Simulator()->Device().Module(kSimLH).memory[address], 39) << "in the running module at once";
    EXPECT_EQ(Window().findChild<QLineEdit*>("txtRevLimiter")->text(), "6340");

    // A new image while the page is on show: the page shows the new image.
    dialogs.answers.push_back(MsgResult::No); // the changed image is not saved
    fileNew();
    ASSERT_NE(GetShell().Slots().fuel.get(), nullptr);
    EXPECT_EQ(Window().findChild<QLineEdit*>("txtRevLimiter")->text(), "6170");
}

// Compare with marks the parameter settings that differ on the parameter page, with the other
// file's text in the tool tip, and lists them in the summary; a change on the page updates both.
TEST_F(ProgramTest, ComparisonMarksTheDifferingSettingsOfTheParameterPage) {
    TempDir dir;
    const std::string other = dir.File("other.bin");
    {
        EpromContext context;
        EPROM image(context);
        ASSERT_EQ(LoadBaseImage("MRX_D", image), "");
        context.wordBigEndian = image.GetCreator() != 2;
        auto page = MakeParamPage(image, {});
        page->Load();
        page->SetValue("rev_limit_rpm", page->Value("rev_limit_rpm") + 1);
        ASSERT_EQ(page->Text("rev_limit_rpm"), "6340");
        ASSERT_TRUE(image.SaveToFile(other, FileFormat::EPROM27C256));
    }
    Start();
    FileNew(0); // LH S4 / GT / GTS
    auto* comparison = Window().findChild<ImageComparisonView*>("ImageComparison");
    ASSERT_NE(comparison, nullptr);
    ASSERT_TRUE(comparison->CompareWith(MapTab::Fuel, other));
    Window().SelectTab("Parameters");
    auto* panel = Window().findChild<ParamPanel*>("fraParametersPanel");
    ASSERT_NE(panel, nullptr);
    auto* box = Window().findChild<QLineEdit*>("txtRevLimiter");
    ASSERT_NE(box, nullptr);
    auto settingRows = [&] {
        std::vector<std::string> rows;
        QTreeWidget* list = comparison->Summary()->List();
        for (int i = 0; i < list->topLevelItemCount(); ++i)
            if (list->topLevelItem(i)->text(0).startsWith("Rev limiter"))
                rows.push_back((list->topLevelItem(i)->text(0) + " | " + list->topLevelItem(i)->text(1)).toStdString());
        return rows;
    };
    EXPECT_EQ(panel->ComparedSettings(), (std::map<std::string, QString>{{"rev_limit_rpm", "In other.bin: 6340"}}));
    EXPECT_EQ(box->toolTip(), "In other.bin: 6340");
    EXPECT_EQ(settingRows(), std::vector<std::string>{"Rev limiter: Fuel cut off RPM | 6170 -> 6340"});

    // The same value typed in: nothing differs any more.
    Window().findChild<UpDown*>("udRevLimiter")->stepUp();
    EXPECT_TRUE(panel->ComparedSettings().empty());
    EXPECT_EQ(box->toolTip(), "");
    EXPECT_TRUE(settingRows().empty());

    // Changed back, then the comparison ends: no marks are left.
    Window().findChild<UpDown*>("udRevLimiter")->stepDown();
    EXPECT_EQ(panel->ComparedSettings().size(), 1u);
    comparison->End();
    EXPECT_TRUE(panel->ComparedSettings().empty());
    EXPECT_EQ(box->toolTip(), "");
}

TEST_F(ProgramTest, ResetValuesOnTheFuelPageResetsTheRunningUnitsAdaptation) {
    Start();
    FileNew(0); // LH S4 / GT / GTS
    Window().SelectTab("Parameters");
    SimulatedBackend& car = *program->Simulator();
    clock.SleepMs(30000); // the engine runs: the unit learns a correction
    (void)car.Enumerate();
    EXPECT_GT(car.Device().O2Adaptation(), 0.01);
    QPushButton* reset = nullptr;
    for (auto* b : Window().findChildren<QPushButton*>("cmdO2AdaptReset"))
        if (b->isVisible()) reset = b;
    ASSERT_NE(reset, nullptr);
    EXPECT_EQ(reset->text(), "Reset values");
    reset->click();
    EXPECT_LT(car.Device().O2Adaptation(), 0.001) << "back to 0 (and a few milliseconds of running since)";
}

// View > Colour map cells by value: on at first, remembered, and followed by both map grids.
TEST_F(ProgramTest, ValueColoursAreAViewChoiceThatIsRemembered) {
    Start();
    QAction* colours = Window().Action("mnuViewValueColours");
    ASSERT_NE(colours, nullptr);
    EXPECT_TRUE(colours->isCheckable());
    EXPECT_TRUE(colours->isChecked());
    ASSERT_NE(Window().Maps(), nullptr);
    EXPECT_TRUE(Window().Maps()->Fuel()->Grid()->ValueColours());
    EXPECT_TRUE(Window().Maps()->Ignition()->Grid()->ValueColours());
    colours->trigger();
    EXPECT_FALSE(Window().Maps()->Fuel()->Grid()->ValueColours());
    EXPECT_FALSE(Window().Maps()->Ignition()->Grid()->ValueColours());
    EXPECT_EQ(settings.GetSetting("Appearance", "ValueColours"), "0");
    program->Window()->hide();
    program.reset();
    Start();
    EXPECT_FALSE(Window().Action("mnuViewValueColours")->isChecked());
    EXPECT_FALSE(Window().Maps()->Fuel()->Grid()->ValueColours());
}

TEST_F(ProgramTest, NewDialogCancelledLoadsNothing) {
    Start();
    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    Window().Action("mnuFileNew")->trigger();
    EXPECT_EQ(Window().TabKeys(), (QStringList{"EPROM", "DataLogging"}));
    EXPECT_EQ(settings.GetSetting("EPROM", "NewDefault", "unset"), "unset");
}

TEST_F(ProgramTest, TabChangesRunLeaveAndEnterActions) {
    Start();
    auto* page = new CountingPage("DataLogging", "Data logging");
    Window().SetPage(page);
    Window().SelectTab("DataLogging");
    EXPECT_EQ(page->enters, 1);
    GetShell().Workflows().SetTabState(TabState::LH);
    EXPECT_EQ(Window().SelectedTabKey(), "DataLogging"); // still there: no actions
    EXPECT_EQ(page->enters, 1);
    EXPECT_EQ(page->leaves, 0);
    Window().SelectTab("EPROM");
    EXPECT_EQ(page->leaves, 1);
    EXPECT_EQ(Window().TabStrip()->tabText(1), "Fuel parameters");
}

TEST_F(ProgramTest, OptionsApplyStoresAndCancelDoesNot) {
    settings.SaveSetting("ECUs", "EZK", "1");
    Start();
    OnNextModal([](QWidget* modal) {
        auto* options = qobject_cast<OptionsDialog*>(modal);
        ASSERT_NE(options, nullptr);
        EXPECT_FALSE(options->EcuBox(0)->isChecked());
        EXPECT_TRUE(options->EcuBox(1)->isChecked());
        options->EcuBox(2)->setChecked(true);
        options->ApplyButton()->click();
        options->EcuBox(3)->setChecked(true);
        options->CancelButton()->click();
    });
    Window().Action("mnuToolsOptions")->trigger();
    EXPECT_EQ(settings.GetSetting("ECUs", "LH22"), "1");
    EXPECT_EQ(settings.GetSetting("ECUs", "EZF"), "0");
    EXPECT_EQ(settings.GetSetting("ECUs", "EZK"), "1");
    EXPECT_EQ(Window().Eprom()->StatusLabel()->text(), "Connected"); // reconnected by Apply
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ProgramTest, IgnitionDependentControlsFollowTheIgnition) {
    Start();
    QPushButton always("always");
    QPushButton dependent("dependent");
    QPushButton disabledBefore("disabled");
    disabledBefore.setEnabled(false);
    Window().RegisterIgnitionDependent(&dependent);
    Window().RegisterIgnitionDependent(&disabledBefore);
    Window().IgnitionTimer()->setInterval(1);
    program->Simulator()->SetIgnitionMode(SimIgnitionMode::Off);
    RunEvents(30);
    EXPECT_FALSE(dependent.isEnabled());
    EXPECT_TRUE(always.isEnabled());
    program->Simulator()->SetIgnitionMode(SimIgnitionMode::On);
    RunEvents(30);
    EXPECT_TRUE(dependent.isEnabled());
    EXPECT_FALSE(disabledBefore.isEnabled());
}

TEST_F(ProgramTest, ClosingAsksForTheModifiedImage) {
    Start();
    TempDir dir;
    EPROM base;
    ASSERT_EQ(LoadBaseImage("MRX_D", base), "");
    ASSERT_TRUE(base.SaveToFile(dir.File("lh.bin"), FileFormat::EPROM27C128));
    dialogs.answers = {MsgResult::OK};
    ASSERT_TRUE(GetShell().Workflows().FileOpen(OpenSource::File(dir.File("lh.bin"))));
    EXPECT_EQ(Window().Action("mnuFileRecent1")->text().toStdString(), "&1. " + dir.File("lh.bin"));
    EXPECT_TRUE(Window().Action("mnuFileRecent1")->isVisible());
    EXPECT_FALSE(Window().Action("mnuFileRecent2")->isVisible());
    GetShell().FuelImage().WriteByte(300, 0x12);
    dialogs.messages.clear();
    dialogs.answers = {MsgResult::Cancel};
    EXPECT_FALSE(Window().close());
    EXPECT_TRUE(Window().isVisible());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "Save changes to fuel injection (LH) EPROM " + dir.File("lh.bin") + "?");
    dialogs.answers = {MsgResult::Yes};
    EXPECT_TRUE(Window().close());
    EXPECT_EQ(ReadFile(dir.File("lh.bin"))[300], 0x12);
    EXPECT_EQ(settings.GetSetting("Appearance", "WindowState"), "0");
}

TEST_F(ProgramTest, AnEditTheUnitMissedIsMarkedInTheStatusBarAndSentWhenItIsBack) {
    Start();
    TempDir dir;
    EPROM base;
    ASSERT_EQ(LoadBaseImage("MRX_D", base), "");
    ASSERT_TRUE(base.SaveToFile(dir.File("lh.bin"), FileFormat::EPROM27C128));
    dialogs.answers = {MsgResult::OK};
    ASSERT_TRUE(GetShell().Workflows().FileOpen(OpenSource::File(dir.File("lh.bin"))));
    auto* mark = Window().findChild<QLabel*>("lblNotInUnit");
    ASSERT_NE(mark, nullptr);
    EXPECT_TRUE(mark->isHidden());

    SimulatedBackend& car = *program->Simulator();
    car.SetIgnitionMode(SimIgnitionMode::Off);
    EPROM& fuel = GetShell().FuelImage();
    const int address = 300;
    const std::uint8_t edited = static_cast<std::uint8_t>(fuel.ReadByte(address) ^ 0x5A);
    fuel.WriteByte(address, edited);
    EXPECT_FALSE(mark->isHidden()) << "shown at once";
    EXPECT_EQ(mark->text(), "not in the unit");

    dialogs.messages.clear();
    car.SetIgnitionMode(SimIgnitionMode::On);
    Window().QuickPingTimer()->setInterval(1);
    RunEvents(50);
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_NE(dialogs.messages[0].find("of the fuel image"), std::string::npos) << dialogs.messages[0];
    EXPECT_EQ(car.Device().Module(1).memory[static_cast<std::size_t>(address)], edited);
    EXPECT_TRUE(mark->isHidden());
}

TEST_F(ProgramTest, RecentFileWithAnAmpersandIsShownAsWritten) {
    settings.SaveSetting("RecentFiles", "1", "/data/R&D/lh.bin");
    settings.SaveSetting("RecentFiles", "2", "/data/plain.bin");
    Start();
    EXPECT_EQ(Window().Action("mnuFileRecent1")->text().toStdString(), "&1. /data/R&&D/lh.bin");
    EXPECT_EQ(Window().Action("mnuFileRecent2")->text().toStdString(), "&2. /data/plain.bin");
    EXPECT_FALSE(Window().Action("mnuFileRecent3")->isVisible());
}

TEST(EpromPage, DeviceTextsAreShownAsWritten) {
    // The firmware version is whatever the device answers; markup in it is not markup.
    EpromPage page(nullptr);
    page.SetFirmwareVersion("<b>6.003</b>");
    page.SetConnectionStatus("<i>Connected</i>", false);
    for (QLabel* label : {page.FirmwareLabel(), page.StatusLabel()}) {
        EXPECT_TRUE(label->textFormat() == Qt::PlainText ||
                    (label->textFormat() == Qt::AutoText && !Qt::mightBeRichText(label->text())))
            << label->objectName().toStdString();
    }
    EXPECT_EQ(page.FirmwareLabel()->text(), "<b>6.003</b>");
}

struct ClosedStateCase {
    Qt::WindowStates state;
    const char* stored;
};

void PrintTo(const ClosedStateCase& c, std::ostream* os) { *os << c.stored; }

class ClosedStateTest : public ProgramTest, public ::testing::WithParamInterface<ClosedStateCase> {};

TEST_P(ClosedStateTest, WindowStateIsStoredAsItsNumber) {
    Start();
    Window().setWindowState(GetParam().state);
    EXPECT_TRUE(Window().close());
    EXPECT_EQ(settings.GetSetting("Appearance", "WindowState"), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(States, ClosedStateTest,
                         ::testing::Values(ClosedStateCase{Qt::WindowNoState, "0"},
                                           ClosedStateCase{Qt::WindowMaximized, "2"},
                                           ClosedStateCase{Qt::WindowMinimized, "1"},
                                           // Minimised from maximised is still minimised: the next start opens normal.
                                           ClosedStateCase{Qt::WindowMinimized | Qt::WindowMaximized, "1"}));

// Without a device (or with one that does not answer) the start-up's error box never shows over
// the splash: the splash is gone before the first box.
TEST_F(ProgramTest, NoMessageBoxShowsOverTheSplash) {
    for (const char* faults : {"silent", "unplug-after=0"}) {
        SCOPED_TRACE(faults);
        std::vector<std::string> overSplash;
        int boxes = 0;
        dialogs.messages.clear();
        dialogs.onMessage = [&](const std::string& text) {
            ++boxes;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->objectName() == "frmSplash" && w->isVisible()) overSplash.push_back(text);
            if (program && program->Splash() != nullptr) overSplash.push_back(text);
        };
        ProgramOptions options;
        options.simFaults = faults;
        Start(options);
        dialogs.onMessage = nullptr;
        EXPECT_GT(boxes, 0) << "the device check explains";
        EXPECT_EQ(overSplash, std::vector<std::string>{});
        EXPECT_EQ(program->Splash(), nullptr);
        EXPECT_TRUE(Window().isVisible());
        TearDown();
    }
}

// The window opens where and as large as it was closed, maximised again if it was (and back at
// its size and place when it is un-maximised).
TEST_F(ProgramTest, TheWindowOpensAtTheGeometryItWasClosedWith) {
    const QRect closedAt(40, 30, 700, 540);
    for (const bool maximised : {false, true}) {
        SCOPED_TRACE(maximised ? "maximised" : "normal");
        Start();
        Window().setGeometry(closedAt);
        if (maximised) Window().setWindowState(Qt::WindowMaximized);
        ASSERT_TRUE(Window().close());
        TearDown();

        Start();
        EXPECT_EQ(Window().isMaximized(), maximised);
        EXPECT_EQ(Window().normalGeometry(), closedAt);
        if (maximised) {
            Window().setWindowState(Qt::WindowNoState);
            EXPECT_EQ(Window().geometry(), closedAt);
        }
        ASSERT_TRUE(Window().close());
        TearDown();
    }
}

// Kept geometry that no window can have (junk, a size of nothing, a place off every screen) is
// not used: the window opens at its first size, as without any.
TEST_F(ProgramTest, OddKeptGeometryOpensTheWindowAtItsFirstSize) {
    Start();
    const QSize first = Window().size();
    const QPoint firstAt = Window().normalGeometry().topLeft();
    TearDown();
    struct Case {
        const char* size;
        const char* position;
    };
    const Case cases[] = {{"\x01\xfe\x7f", "60,50"},
                          {"0,0", "60,50"},
                          {"640,480", "5000,5000"},
                          {"640,480", "-9000,20"},
                          {"640,480", "60,-900"},
                          {"640,480", "left,top"},
                          {"", "\xff"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.size) + " at " + c.position);
        settings.SaveSetting("Appearance", "WindowSize", c.size);
        settings.SaveSetting("Appearance", "WindowPosition", c.position);
        Start();
        EXPECT_EQ(Window().size(), first);
        EXPECT_EQ(Window().normalGeometry().topLeft(), firstAt);
        TearDown();
    }
}

} // namespace

} // namespace kv
