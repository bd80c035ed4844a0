// The "Auto tune" window in the real program, offscreen against the simulated car: opening from
// the fuel map tab, the run fed by the fuel trace with the colours on the grid, the guard
// counters, and closing.
#include "app/gui/autotune_control.h"
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/program.h"
#include "app_test_support.h"
#include "autotune/gui/autotune_window.h"
#include "datalog/run_file.h"
#include "datalog/run_set.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/table_editor.h"
#include "monitor/conversions.h"
#include "program_test_support.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>

namespace kv {

using namespace app_test;

namespace {

class AutotuneWindowTest : public SimulatedProgramTest {
protected:
    // The program with a new LH 2.3 image in the running unit, on the fuel map tab.
    void Start() {
        StartProgram();
        FileNew(0); // LH S4 / GT / GTS
        Window().SelectTab("FuelMap");
        ASSERT_EQ(Window().SelectedTabKey(), "FuelMap");
    }
    MapTabPanel& Fuel() { return *Window().Maps()->Fuel(); }
    AutotuneWindow& Tuner() { return *program->Autotune()->Window(); }
    void ShowMap(const QString& name) {
        const int i = Fuel().MapList()->findText(name);
        ASSERT_GE(i, 0) << name.toStdString();
        Fuel().MapList()->setCurrentIndex(i);
    }
    QPushButton* Button(const char* name) { return Window().findChild<QPushButton*>(name); }
    std::optional<CellState> State(int row, int col) {
        return CellStateOfColour(Window().Maps()->Editor()->GetCellColor(row, col));
    }
    // Counts the data cells of the fuel grid in each state.
    std::map<CellState, int> States() {
        std::map<CellState, int> m;
        TableEditor* e = Window().Maps()->Editor();
        for (int row = 0; row < e->GetYAxisSize(); ++row)
            for (int col = 0; col < e->GetXAxisSize(); ++col)
                if (auto s = CellStateOfColour(e->GetCellColor(row, col))) ++m[*s];
        return m;
    }
    // The colours of the data cells, row by row.
    std::vector<std::uint32_t> Colours() {
        std::vector<std::uint32_t> c;
        TableEditor* e = Window().Maps()->Editor();
        if (e == nullptr) return c;
        for (int row = 0; row < e->GetYAxisSize(); ++row)
            for (int col = 0; col < e->GetXAxisSize(); ++col) c.push_back(e->GetCellColor(row, col));
        return c;
    }
    void Drive(int ticks) {
        for (int i = 0; i < ticks; ++i) {
            clock.SleepMs(100);
            Fuel().TraceTick();
        }
    }
};

TEST_F(AutotuneWindowTest, OpensOnBaseFuelMapsOnlyAndOnlyInTableView) {
    Start();
    QPushButton* open = Button("cmdAutotune");
    ASSERT_NE(open, nullptr);
    const bool valueColours = Fuel().Grid()->ValueColours();
    ShowMap("WOT enrichment map (cat)");
    open->click();
    EXPECT_EQ(dialogs.messages.back(), "Only the base fuel maps can be auto-tuned.");
    EXPECT_FALSE(Tuner().isVisible());
    EXPECT_TRUE(Fuel().MapList()->isEnabled());

    ShowMap("Base fuel map (cat)");
    EXPECT_TRUE(open->isVisibleTo(&Fuel()));
    Fuel().SetChartView(true);
    EXPECT_FALSE(open->isVisibleTo(&Fuel())) << "hidden while the map shows as a chart";
    Fuel().SetChartView(false);
    open->click();
    ASSERT_TRUE(Tuner().isVisible());
    EXPECT_EQ(Tuner().objectName(), "frmAutotune");
    EXPECT_EQ(Tuner().windowTitle(), "Auto tune");
    EXPECT_FALSE(Fuel().MapList()->isEnabled()) << "the map cannot be switched while the window is open";
    EXPECT_FALSE(Fuel().Grid()->ValueColours()) << "the grid shows the cells' states";
    for (int z = 0; z < 2; ++z) {
        EXPECT_EQ(Tuner().TargetBox(z)->text(), "14.7");
        EXPECT_FALSE(Tuner().TargetBox(z)->isEnabled()) << "the cat map tunes idle and cruise to 14.7";
    }
    EXPECT_EQ(Tuner().TargetBox(2)->text(), "12.0");
    EXPECT_TRUE(Tuner().TargetBox(2)->isEnabled());
    EXPECT_EQ(Tuner().EnableBox(0)->text(), "Enable auto tune at IDLE:");
    EXPECT_EQ(Tuner().StartStopButton()->text(), "&Start auto-tune");
    Tuner().CloseButton()->click();
    EXPECT_FALSE(Tuner().isVisible());
    EXPECT_TRUE(Fuel().MapList()->isEnabled());
    EXPECT_EQ(Fuel().Grid()->ValueColours(), valueColours) << "as it was before";
}

TEST_F(AutotuneWindowTest, ARunColoursTheGridWhileTheCarDrivesAndClosingClearsIt) {
    Start();
    ShowMap("Base fuel map (cat)");
    clock.SleepMs(30 * 60 * 1000); // a warm engine
    Button("cmdAutotune")->click();
    ASSERT_TRUE(Tuner().isVisible());
    Tuner().TargetBox(2)->setText("12.5");
    emit Tuner().TargetBox(2)->textEdited("12.5");
    Tuner().StartStopButton()->click();
    EXPECT_EQ(Tuner().StartStopButton()->text(), "&Stop auto-tune");
    EXPECT_EQ(Tuner().Status()->text(), "Auto-tune running");
    EXPECT_FALSE(Tuner().TargetBox(2)->isEnabled());
    EXPECT_FALSE(Tuner().EnableBox(1)->isEnabled());

    Drive(3 * 45 * 10); // three laps of the drive: each holds six steady points
    auto states = States();
    EXPECT_GT(states[CellState::Tuned], 5);
    EXPECT_GT(states[CellState::Lean] + states[CellState::Rich] + states[CellState::Tuned], 10);
    EXPECT_GT(Tuner().findChild<QLabel*>("lblDroppedFuelCut")->text().toInt(), 0) << "fuel cuts read off the scale";
    EXPECT_EQ(Tuner().findChild<QLabel*>("lblDroppedSensor")->text(), "0") << "a warm sensor";
    EXPECT_EQ(Tuner().findChild<QLabel*>("lblDroppedCold")->text(), "0");

    Tuner().CloseButton()->click();
    EXPECT_TRUE(Tuner().isVisible()) << "closing is refused while running";
    Tuner().StartStopButton()->click();
    EXPECT_EQ(Tuner().Status()->text(), "");
    EXPECT_TRUE(Tuner().TargetBox(2)->isEnabled());
    // The run's corrections are one step of Edit > Undo, which rests while a run lasts.
    QAction* undo = Window().Action("mnuEditUndo");
    ASSERT_NE(undo, nullptr);
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), "&Undo Autotune");
    Tuner().StartStopButton()->click();
    EXPECT_FALSE(undo->isEnabled()) << "nothing is undone while a run lasts";
    Tuner().StartStopButton()->click();
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_EQ(undo->text(), "&Undo Autotune");
    // Marking: the selected cell becomes forbidden.
    QtMapGrid* grid = Fuel().Grid();
    grid->SetCurrentCell(grid->FixedRows() + 3, 1 + 3);
    Tuner().findChild<QPushButton*>("cmdMarkForbidden")->click();
    EXPECT_EQ(State(3, 3), CellState::Forbidden);
    Tuner().CloseButton()->click();
    EXPECT_FALSE(Tuner().isVisible());
    states = States();
    EXPECT_EQ(states[CellState::NotVisited], 256);
    EXPECT_TRUE(Fuel().MapList()->isEnabled());
    EXPECT_EQ(settings.GetSetting("Autotune", "TargetAFR_2"), "12.5");
}

// "Tune from a run...": a run of the Data logging tab, or a run file, chosen in the window;
// the result is one step of Edit > Undo.
TEST_F(AutotuneWindowTest, TunesFromARunOfTheDataLoggingTabOrARunFile) {
    Start();
    ShowMap("Base fuel map (cat)");
    TableEditor& editor = *Window().Maps()->Editor();
    const std::string rpm = std::to_string(conv::LH_RpmFromCode(editor.XAxisPoints()[6]));
    const std::string load = std::to_string(editor.YAxisPoints()[4]);
    LogRun steady({"Time [s]", "RPM", "MAF signal", "A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)"});
    for (int r = 0; r < 30; ++r) {
        const std::vector<std::string> cells{std::to_string(0.1 * (r + 1)), rpm, load, "15.7", "2"};
        steady.AppendRow(cells);
    }
    RunSet& runs = program->Runs();
    const int id = runs.AllocateRun();
    runs.SetRunHeaders(id, steady.Headers());
    for (int r = 0; r < steady.RowCount(); ++r) {
        std::vector<std::string> cells;
        for (int c = 0; c < steady.ColumnCount(); ++c) cells.emplace_back(steady.Cell(r, c));
        runs.AppendRunRow(id, cells);
    }
    const std::int32_t before = editor.GetCellValue(4, 6);
    Button("cmdAutotune")->click();
    QComboBox* choice = Tuner().RunChoice();
    ASSERT_EQ(choice->count(), 2);
    EXPECT_EQ(choice->itemText(0).toStdString(), runs.Caption(id));
    EXPECT_EQ(choice->itemText(1), QString::fromUtf8("Run file\u2026"));
    choice->setFocus();
    QTest::keyClick(choice, Qt::Key_Home);
    EXPECT_EQ(choice->currentIndex(), 0);
    QTest::mouseClick(Tuner().TuneFromRunButton(), Qt::LeftButton);
    EXPECT_GT(editor.GetCellValue(4, 6), before);
    EXPECT_EQ(State(4, 6), CellState::Lean);
    EXPECT_EQ(Window().Action("mnuEditUndo")->text(), "&Undo Tune from a run");

    // A run file, and a cancelled choice that changes nothing.
    const std::string path = (std::filesystem::path(::testing::TempDir()) / "kv_tune_run.txt").string();
    ASSERT_EQ(SaveRunFile(path, steady), "");
    const std::int32_t once = editor.GetCellValue(4, 6);
    QTest::keyClick(choice, Qt::Key_End);
    dialogs.files.push_back(std::nullopt);
    QTest::mouseClick(Tuner().TuneFromRunButton(), Qt::LeftButton);
    EXPECT_EQ(editor.GetCellValue(4, 6), once);
    dialogs.files.push_back(FileDialogResult{path, 1});
    QTest::mouseClick(Tuner().TuneFromRunButton(), Qt::LeftButton);
    EXPECT_GT(editor.GetCellValue(4, 6), once);
    std::filesystem::remove(path);

    Tuner().StartStopButton()->click();
    EXPECT_FALSE(Tuner().TuneFromRunButton()->isEnabled()) << "not while running";
    Tuner().StartStopButton()->click();
    Tuner().CloseButton()->click();
}

TEST_F(AutotuneWindowTest, AColdEngineIsCountedNotJudged) {
    Start();
    ShowMap("Base fuel map (cat)");
    Button("cmdAutotune")->click();
    Tuner().StartStopButton()->click();
    Drive(100);
    EXPECT_GT(Tuner().findChild<QLabel*>("lblDroppedCold")->text().toInt(), 50);
    EXPECT_EQ(States()[CellState::NotVisited], 256);
    Tuner().StartStopButton()->click();
    Tuner().CloseButton()->click();
}

TEST_F(AutotuneWindowTest, LeavingTheTabAndComingBackKeepsTheRunAndItsColours) {
    Start();
    ShowMap("Base fuel map (cat)");
    clock.SleepMs(30 * 60 * 1000); // a warm engine
    EPROM* image = program->GetShell().Slots().fuel.get();
    const std::vector<std::uint8_t> before = image->Bytes();
    Button("cmdAutotune")->click();
    Tuner().StartStopButton()->click();
    Drive(45 * 10);
    const std::vector<std::uint32_t> colours = Colours();
    ASSERT_LT(States()[CellState::NotVisited], 256) << "the first lap coloured cells";

    // A glance at another tab mid-drive.
    Window().SelectTab("EPROM");
    Window().SelectTab("FuelMap");
    EXPECT_TRUE(program->Autotune()->Tune().IsRunning());
    EXPECT_TRUE(Tuner().isVisible());
    EXPECT_FALSE(Fuel().MapList()->isEnabled());
    EXPECT_EQ(Fuel().CurrentMap(), "Base fuel map (cat)");
    EXPECT_EQ(Colours(), colours) << "the cells keep their states";
    EXPECT_NE(image->Bytes(), before) << "the unit still runs open loop on the cat map";

    // The trace feeds the run again.
    Drive(45 * 10);
    EXPECT_NE(Colours(), colours);
    Tuner().StartStopButton()->click();
    Tuner().CloseButton()->click();
    EXPECT_FALSE(Tuner().isVisible());
}

TEST_F(AutotuneWindowTest, AnotherImageDuringARunIsOfferedWithTheUnitsOwnSettings) {
    Start();
    ShowMap("Base fuel map (cat)");
    EPROM* image = program->GetShell().Slots().fuel.get();
    TableEditor* editor = Window().Maps()->Editor();
    editor->SetCellValue(0, 0, editor->GetCellValue(0, 0) + 1); // an edit worth saving
    const std::vector<std::uint8_t> before = image->Bytes();
    Button("cmdAutotune")->click();
    Tuner().StartStopButton()->click();
    ASSERT_NE(image->Bytes(), before) << "the unit runs open loop on the cat map";
    std::vector<std::uint8_t> whenAsked;
    dialogs.onMessage = [&](const std::string&) {
        if (whenAsked.empty()) whenAsked = image->Bytes();
    };
    dialogs.answers.push_back(MsgResult::Cancel); // the save question: keep the image
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<NewImageDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        dialog->BaseButton(0)->click();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    Window().Action("mnuFileNew")->trigger();
    ASSERT_FALSE(whenAsked.empty()) << "the image about to be replaced is offered for saving";
    EXPECT_EQ(whenAsked, before) << "the image offered for saving holds the unit's own settings";
    EXPECT_EQ(program->GetShell().Slots().fuel.get(), image) << "Cancel keeps the image";
    EXPECT_EQ(image->Bytes(), before);
    EXPECT_FALSE(program->Autotune()->Tune().IsRunning());
    EXPECT_EQ(Tuner().StartStopButton()->text(), "&Start auto-tune");
}

TEST_F(AutotuneWindowTest, ClosingTheProgramEndsTheRunBeforeTheSaveQuestion) {
    Start();
    ShowMap("Base fuel map (cat)");
    EPROM* image = program->GetShell().Slots().fuel.get();
    const std::vector<std::uint8_t> before = image->Bytes();
    Button("cmdAutotune")->click();
    Tuner().StartStopButton()->click();
    ASSERT_NE(image->Bytes(), before);
    std::vector<std::uint8_t> whenAsked;
    dialogs.onMessage = [&](const std::string&) { whenAsked = image->Bytes(); };
    dialogs.answers.push_back(MsgResult::Cancel); // the save question: stay
    Window().close();
    if (!whenAsked.empty()) {
        EXPECT_EQ(whenAsked, before) << "the image offered for saving holds the unit's own settings";
    }
    EXPECT_EQ(image->Bytes(), before);
    EXPECT_FALSE(program->Autotune()->Tune().IsRunning());
    EXPECT_EQ(Tuner().StartStopButton()->text(), "&Start auto-tune");
}

} // namespace

} // namespace kv
