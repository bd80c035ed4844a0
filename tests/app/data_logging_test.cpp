// The "Data logging" tab in the program, recording from the simulated car: the set-up panel and
// the runs panel composed with the program's device link, images, aux inputs, settings, chart
// window and quit question.
#include "app/core/device_polling.h"
#include "app/gui/aux_monitor_tabs.h"
#include "app/gui/data_logging_page.h"
#include "app/gui/main_window.h"
#include "app/gui/program.h"
#include "app_test_support.h"
#include "auxinputs/aux_inputs.h"
#include "datalog/gui/log_chart_window.h"
#include "datalog/gui/log_setup_panel.h"
#include "datalog/gui/runs_panel.h"
#include "datalog/log_recorder.h"
#include "datalog/run_set.h"
#include "monitor/gui/fuel_monitor_page.h"
#include "program_test_support.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

using namespace app_test;

namespace {

double Number(std::string_view cell) {
    std::string text(cell);
    for (char& c : text)
        if (c == ',') c = '.';
    return std::stod(text);
}

// Runs `step` on the next modal dialog as soon as it is shown.
void OnNextModal(std::function<void(QWidget*)> step) {
    QTimer::singleShot(0, [step] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        step(modal);
    });
}

class DataLoggingTest : public SimulatedProgramTest {
protected:
    TempDir dir;
    std::vector<std::string> statuses; // lblDataLogStatus after every tick

    // Starts the program with the LH 2.3 and EZK images in their slots and the tab on show.
    void Start() {
        StartProgram();
        for (const char* base : {"MRX_D", "EZK_D-S4"}) {
            EPROM image;
            ASSERT_EQ(LoadBaseImage(base, image), "");
            const std::string path = dir.File(std::string(base) + ".bin");
            ASSERT_TRUE(image.SaveToFile(path, FileFormat::EPROM27C256));
            dialogs.answers = {MsgResult::OK};
            ASSERT_TRUE(program->GetShell().Workflows().FileOpen(OpenSource::File(path))) << base;
        }
        dialogs.messages.clear();
        dialogs.answers.clear();
        program->Window()->SelectTab("DataLogging");
        ASSERT_EQ(program->Window()->SelectedTabKey(), "DataLogging");
        ASSERT_NE(Page(), nullptr);
    }
    void TearDown() override {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<LogChartWindow*>(w) != nullptr) w->close();
        SimulatedProgramTest::TearDown();
    }

    DataLoggingPage* Page() { return program->DataLogging(); }
    template <typename T>
    T* Find(const QString& name) {
        T* w = Page()->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    void Tick(const std::string& variable) { Find<QCheckBox>(QString::fromStdString(variable))->click(); }
    void Rate(int index) {
        auto* rate = Find<QComboBox>("cmbDataLogRate");
        rate->setCurrentIndex(index);
        emit rate->activated(index);
    }
    QString Status() { return Find<QLabel>("lblDataLogStatus")->text(); }
    QTimer* DataLogTimer() { return Find<QTimer>("tmrDataLog"); }
    QTabBar* RunTabs() { return Find<QTabBar>("tbsDataLog"); }
    void StartStop() { Find<QPushButton>("cmdDataLogStartStop")->click(); }

    // What tmrDataLog does for `seconds` of the car's time.
    void RunFor(double seconds) {
        const std::int64_t end = clock.now + static_cast<std::int64_t>(seconds * 1000.0);
        while (clock.now < end) {
            ASSERT_TRUE(DataLogTimer()->isActive()) << "the recording's timer runs";
            clock.SleepMs(DataLogTimer()->interval());
            Page()->SetupPanel()->OnTimer();
            statuses.push_back(Status().toStdString());
        }
    }
    double Phase() {
        program->Simulator()->Device().CatchUp();
        return program->Simulator()->Device().Engine().phaseSeconds;
    }
    // Lets the car drive (ignition on, nothing recorded) until its cycle reaches `phase` seconds.
    void DriveTo(double phase) {
        for (int i = 0; i < 2000 && std::abs(Phase() - phase) > 0.06; ++i) clock.SleepMs(50);
        ASSERT_NEAR(Phase(), phase, 0.06);
    }
    const LogRun& Recorded() { return *program->Runs().Run(program->Runs().SelectedRun()); }
    int Column(const std::string& header, int nth = 0) {
        const auto& h = Recorded().Headers();
        for (std::size_t i = 0; i < h.size(); ++i)
            if (h[i] == header && nth-- == 0) return static_cast<int>(i);
        ADD_FAILURE() << "no column " << header;
        return 0;
    }
    // Checks that every row of the recorded run follows the one before by 0.05 s at a driving engine
    // speed (a missing or foreign record breaks either), and hands each row and its speed to `more`.
    void ExpectEveryRecordInStep(const std::function<void(const LogRun&, int row, double rpm)>& more = {}) {
        const LogRun& run = Recorded();
        const int lhRpm = Column("RPM");
        double last = 0.0;
        for (int r = 0; r < run.RowCount(); ++r) {
            SCOPED_TRACE(r);
            const double t = Number(run.Cell(r, 0));
            EXPECT_NEAR(t - last, 0.05, 1e-6);
            last = t;
            const double rpm = Number(run.Cell(r, lhRpm));
            EXPECT_GE(rpm, 1500.0);
            EXPECT_LE(rpm, 3500.0);
            if (more) more(run, r, rpm);
        }
    }
    // A recording started at once (no trigger) in the cruise of the first lap, running for 1 s.
    void RecordFromCruise() {
        ChooseRecording(0);
        DriveTo(20.0);
        StartStop();
        ASSERT_EQ(Status(), "Running");
        RunFor(1.0);
    }
    // Ticks the variables and picks rate 20 and the trigger (radio button index).
    void ChooseRecording(int trigger) {
        for (const char* box : {"chkDataLog_0", "chkDataLog_9", "chkDataLog_23", "chkDataLog_24"}) Tick(box);
        Rate(2);
        Find<QRadioButton>(QString("radioDataLogTrigger_%1").arg(trigger))->click();
    }
};

TEST_F(DataLoggingTest, TwentyRowsASecondFromTheCarIntoARunThatIsChartedAndGuardedAtQuit) {
    Start();
    // The tab shows the two units' variables (the tab state set them up).
    EXPECT_TRUE(Find<QCheckBox>("chkDataLog_0")->isVisibleTo(Page()));
    EXPECT_EQ(Find<QCheckBox>("chkDataLog_0")->text(), "RPM");
    EXPECT_TRUE(Find<QCheckBox>("chkDataLog_23")->isVisibleTo(Page()));
    EXPECT_FALSE(Find<QCheckBox>("chkDataLog_13")->isVisibleTo(Page())) << "no LH 2.2";
    EXPECT_TRUE(Find<QWidget>("fraDataLogKnockCount")->isVisibleTo(Page()));
    ChooseRecording(0);
    DriveTo(20.0); // cruising
    StartStop();
    ASSERT_EQ(Status(), "Running") << ::testing::PrintToString(dialogs.messages);
    EXPECT_EQ(DataLogTimer()->interval(), 50);
    EXPECT_FALSE(Find<QCheckBox>("chkDataLog_0")->isEnabled()) << "the set-up rests while recording";
    EXPECT_FALSE(Find<QPushButton>("cmdDataLogPlot")->isEnabled()) << "the run buttons rest while recording";
    RunFor(5.0);
    StartStop();
    EXPECT_EQ(Status(), "Stopped");
    EXPECT_FALSE(DataLogTimer()->isActive());
    EXPECT_FALSE(program->Simulator()->Device().IsLogging());
    EXPECT_TRUE(Find<QPushButton>("cmdDataLogPlot")->isEnabled());

    const LogRun& run = Recorded();
    EXPECT_NEAR(static_cast<double>(run.RowCount()), 100.0, 2.0);
    const int ezkRpm = Column("RPM", 1), advance = Column("Ign adv [°]");
    ExpectEveryRecordInStep([&](const LogRun& rows, int r, double rpm) {
        EXPECT_NEAR(Number(rows.Cell(r, ezkRpm)), rpm, rpm * 0.02);
        EXPECT_GT(Number(rows.Cell(r, advance)), 10.0);
        EXPECT_LT(Number(rows.Cell(r, advance)), 40.0);
    });
    // The grid shows the run, its tab marked unsaved.
    ASSERT_EQ(RunTabs()->count(), 1);
    EXPECT_EQ(RunTabs()->tabText(0), "Run 1*");
    RunTableView* view = Page()->Runs()->View(program->Runs().SelectedRun());
    ASSERT_NE(view, nullptr);
    static_cast<RunTableModel*>(view->model())->Flush();
    EXPECT_EQ(view->model()->rowCount(), run.RowCount());

    // Plot draws the run.
    settings.SaveSetting("Chart", "DefaultXAxisVariable", "Time [s]");
    settings.SaveSetting("Chart", "DefaultPlotVariable0", "RPM");
    Find<QPushButton>("cmdDataLogPlot")->click();
    LogChartWindow* chart = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<LogChartWindow*>(w)) chart = c;
    ASSERT_NE(chart, nullptr) << ::testing::PrintToString(dialogs.messages);
    EXPECT_TRUE(chart->isVisible()) << "on screen, not only made";
    ASSERT_FALSE(chart->Series().empty());
    EXPECT_GT(chart->Series().front()->count(), 10);
    EXPECT_TRUE(chart->windowTitle().contains("Run 1")) << chart->windowTitle().toStdString();

    // Quitting with the unsaved run asks first; Cancel keeps the program open.
    dialogs.messages.clear();
    dialogs.answers = {MsgResult::Cancel};
    EXPECT_FALSE(program->Window()->close());
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0], "There are unsaved data logging runs in the Data logging tab. Are you sure you want "
                                   "to quit and discard them?");
}

// The device keeps one record layout. While a recording runs, a monitor looked at meanwhile must
// not set its own layout or take the recording's records: the run stays whole and unchanged.
TEST_F(DataLoggingTest, AMonitorLookedAtDuringARecordingLeavesTheRunWhole) {
    Start();
    RecordFromCruise();
    FuelMonitorPanel* monitor = program->AuxAndMonitors()->FuelPanel();
    monitor->Enter();
    for (int i = 0; i < 10; ++i) {
        clock.SleepMs(DataLogTimer()->interval());
        monitor->Tick();
        Page()->SetupPanel()->OnTimer();
    }
    monitor->Leave();
    RunFor(1.0);
    StartStop();
    const LogRun& run = Recorded();
    EXPECT_GE(run.RowCount(), 49) << "2.5 s of the car's time or more, every record in the run";
    ExpectEveryRecordInStep();
}

// Quitting during a recording takes the device out of data logging: the next start finds a
// device that answers its commands, not one still filling its log.
TEST_F(DataLoggingTest, QuittingDuringARecordingEndsTheDevicesLogging) {
    Start();
    RecordFromCruise();
    ASSERT_TRUE(program->Simulator()->Device().IsLogging());
    dialogs.answers = {MsgResult::Yes}; // discard the unsaved run
    ASSERT_TRUE(program->Window()->close());
    EXPECT_FALSE(program->Simulator()->Device().IsLogging());
}

TEST_F(DataLoggingTest, TriggersPauseAndResumeOneRunAsTheCarDrives) {
    struct Case {
        const char* label;
        int trigger;          // radio button index
        double from, seconds; // where in the driving cycle the recording starts, and for how long
        std::function<bool(const LogRun&, int row)> condition;
    };
    const auto throttle = [this](const LogRun& run, int r) {
        return run.Cell(r, Column("Throttle pos (1=idle, 2=cruise, 3=WOT)")) == "3";
    };
    const auto fast = [this](const LogRun& run, int r) { return Number(run.Cell(r, Column("RPM"))) > 2000.0; };
    const Case cases[] = {{"WOT switch", 1, 25.0, 60.0, throttle}, {"RPM > 2000", 2, 5.0, 35.0, fast}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Start();
        ChooseRecording(c.trigger);
        DriveTo(c.from);
        statuses.clear();
        StartStop();
        ASSERT_EQ(Status(), "Waiting for trigger condition") << ::testing::PrintToString(dialogs.messages);
        RunFor(c.seconds);
        int starts = 0;
        for (std::size_t i = 1; i < statuses.size(); ++i)
            starts += statuses[i - 1] == "Waiting for trigger condition" && statuses[i] == "Running";
        EXPECT_GE(starts, 2) << "paused and resumed";
        StartStop();
        EXPECT_EQ(RunTabs()->count(), 1) << "one run";
        const LogRun& run = Recorded();
        ASSERT_GT(run.RowCount(), 40);
        // Apart from the record that ended a stretch, every row meets the trigger condition.
        int outside = 0;
        for (int r = 0; r < run.RowCount(); ++r) outside += !c.condition(run, r);
        EXPECT_LE(outside, starts + 1);
        // The time axis jumps over the pauses.
        double gap = 0.0;
        for (int r = 1; r < run.RowCount(); ++r)
            gap = std::max(gap, Number(run.Cell(r, 0)) - Number(run.Cell(r - 1, 0)));
        EXPECT_GT(gap, 1.0);
        program->Window()->hide();
        program.reset();
    }
}

TEST_F(DataLoggingTest, ATransferThatHasTheDeviceHoldsTheRecordingsTimer) {
    Start();
    ChooseRecording(0);
    StartStop();
    ASSERT_TRUE(DataLogTimer()->isActive());
    {
        DevicePolling::Pause pause(program->GetShell().Polling());
        EXPECT_FALSE(DataLogTimer()->isActive());
        Page()->SetupPanel()->Refresh();
        EXPECT_FALSE(DataLogTimer()->isActive()) << "stays held when the tab is redrawn";
    }
    EXPECT_TRUE(DataLogTimer()->isActive());
    StartStop();
    { DevicePolling::Pause pause(program->GetShell().Polling()); }
    EXPECT_FALSE(DataLogTimer()->isActive()) << "a stopped recording is not started by the end of a transfer";
}

TEST_F(DataLoggingTest, TheSetUpIsKeptBetweenSessionsAndTheAuxButtonRefreshesTheAuxSlots) {
    settings.SaveSetting("DataLog", "Variables", "LH_BATTVOLT,EZK_LOAD");
    settings.SaveSetting("DataLog", "Rate", "5");
    settings.SaveSetting("DataLog", "Trigger", "RPM");
    Start();
    EXPECT_TRUE(Find<QCheckBox>("chkDataLog_10")->isChecked());
    EXPECT_TRUE(Find<QCheckBox>("chkDataLog_25")->isChecked());
    EXPECT_EQ(Find<QComboBox>("cmbDataLogRate")->currentText(), "5");
    EXPECT_TRUE(Find<QRadioButton>("radioDataLogTrigger_2")->isChecked());

    // The aux button opens the aux input dialog; an input switched on there gets its slot.
    EXPECT_FALSE(Find<QCheckBox>("chkDataLog_41")->isVisibleTo(Page()));
    bool opened = false;
    OnNextModal([&](QWidget* modal) {
        opened = true;
        modal->findChild<QCheckBox*>("chkEnabled")->click();
        auto* name = modal->findChild<QLineEdit*>("txtName");
        name->setText("Fuel pressure");
        emit name->textEdited(name->text());
        modal->findChild<QPushButton*>("cmdOK")->click();
    });
    Find<QPushButton>("cmdConfigAuxInputs")->click();
    EXPECT_TRUE(opened);
    EXPECT_TRUE(Find<QCheckBox>("chkDataLog_41")->isVisibleTo(Page()));
    EXPECT_EQ(Find<QCheckBox>("chkDataLog_41")->text(), "Fuel pressure");

    Tick("chkDataLog_41");
    Tick("chkDataLog_10");
    Rate(2);
    Find<QRadioButton>("radioDataLogTrigger_1")->click();
    EXPECT_TRUE(program->Window()->close());
    // Switched on, a key takes the first free place of the list; switched off, it leaves its own.
    EXPECT_EQ(settings.GetSetting("DataLog", "Variables"), "EZK_LOAD,AUX1");
    EXPECT_EQ(settings.GetSetting("DataLog", "Rate"), "20");
    EXPECT_EQ(settings.GetSetting("DataLog", "Trigger"), "WOT");
}

} // namespace

} // namespace kv
