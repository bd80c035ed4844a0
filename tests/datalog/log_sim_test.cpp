// Recording against the simulated car through the program's device link: the device streams at
// the configured rate with real stamps, and the car's driving cycle moves the triggers.
#include "auxinputs/aux_inputs.h"
#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"
#include "datalog_test_util.h"
#include "device/adapters/comms_datalog_device.h"
#include "eprom/base_images.h"
#include "monitor/monitor_record.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kv {

namespace {

using namespace datalog_test;

struct SimRecording {
    SimRecording(LogTrigger trigger, const std::vector<int>& slots, bool older = false) {
        EXPECT_EQ(LoadBaseImage(older ? "MRX_LH22_USA" : "MRX_D", fuel), "");
        EXPECT_EQ(LoadBaseImage(older ? "EZF_USA" : "EZK_D-S4", ignition), "");
        for (const char* command : {"", older ? "LH22" : "LH", older ? "EZF" : "EZK"})
            setup.SetupLogVariables(command, ignition, aux);
        for (int s : slots) setup.OnVariableChecked(s, true);
        setup.SetTrigger(trigger);
        setup.FillRateList();
        setup.OnRateChanged(2); // 20 samples per second
    }
    // Runs the tab's timer for `seconds` of simulated time.
    void RunFor(double seconds) {
        const std::int64_t end = rig.clock.now + static_cast<std::int64_t>(seconds * 1000.0);
        while (rig.clock.now < end) {
            rig.clock.SleepMs(setup.TimerIntervalMs());
            recorder.DataLogTimerTick(fuel, ignition);
            states.push_back(recorder.State());
        }
    }
    double Phase() {
        rig.sim->Device().CatchUp();
        return rig.sim->Device().Engine().phaseSeconds;
    }
    // Runs until the driving cycle reaches `phase` seconds (within one cycle).
    void RunToPhase(double phase) {
        for (int i = 0; i < 1000 && std::abs(Phase() - phase) > 0.06; ++i) RunFor(0.05);
        ASSERT_NEAR(Phase(), phase, 0.06);
    }
    const FakeRunSlots::Run& Run() const { return runs.open.at(recorder.CurrentRun()); }
    int Column(const std::string& header) const {
        const auto& h = Run().headers;
        return static_cast<int>(std::find(h.begin(), h.end(), header) - h.begin());
    }

    SimLinkRig rig;
    CommsDataLogDevice device{*rig.comms};
    EPROM fuel, ignition;
    AuxInputs aux;
    LogSetup setup;
    FakeRunSlots runs;
    LogRecorder recorder{setup, aux, device, runs, rig.dialogs, rig.clock};
    std::vector<LogState> states;
};

TEST(LogOnSimulatedCar, TwentyRowsASecondOfPlausibleValues) {
    SimRecording r(LogTrigger::None, {0, 9, 23, 24, 26, 31});
    r.RunToPhase(20.0); // cruising
    r.recorder.ToggleLogging(r.fuel, r.ignition);
    ASSERT_EQ(r.recorder.State(), LogState::Running) << ::testing::PrintToString(r.rig.dialogs.messages);
    r.RunFor(10.0);
    const auto& rows = r.Run().rows;
    EXPECT_NEAR(static_cast<double>(rows.size()), 200.0, 2.0);
    const int lhRpm = 1, throttle = 2, ezkRpm = 3, advance = 4;
    double lastTime = 0;
    for (const auto& row : rows) {
        const double t = CellNumber(row[0]);
        EXPECT_NEAR(t - lastTime, 0.05, 1e-6) << row[0];
        lastTime = t;
        const double rpm = CellNumber(row[static_cast<std::size_t>(lhRpm)]);
        EXPECT_GE(rpm, 1700.0);
        EXPECT_LE(rpm, 3300.0);
        EXPECT_NEAR(CellNumber(row[static_cast<std::size_t>(ezkRpm)]), rpm, rpm * 0.02);
        EXPECT_EQ(row[static_cast<std::size_t>(throttle)], "2") << "cruise";
        const double adv = CellNumber(row[static_cast<std::size_t>(advance)]);
        EXPECT_GT(adv, 15.0);
        EXPECT_LT(adv, 35.0);
    }
    EXPECT_EQ(r.Run().headers.size(), 1u + 5u + 8u);
    r.recorder.ToggleLogging(r.fuel, r.ignition);
    EXPECT_FALSE(r.rig.sim->Device().IsLogging());
}

TEST(LogOnSimulatedCar, WideOpenThrottlePausesAndResumesTheRun) {
    SimRecording r(LogTrigger::Wot, {0, 9, 23});
    r.RunToPhase(25.0);
    r.recorder.ToggleLogging(r.fuel, r.ignition);
    ASSERT_EQ(r.recorder.State(), LogState::Waiting);
    r.RunFor(7.0); // to 32 s: still cruising
    EXPECT_EQ(r.recorder.State(), LogState::Waiting);
    EXPECT_TRUE(r.Run().rows.empty());
    r.RunFor(10.0); // through the full-throttle phase 33..41 s
    EXPECT_EQ(r.recorder.State(), LogState::Waiting);
    const std::size_t first = r.Run().rows.size();
    EXPECT_NEAR(static_cast<double>(first), 8.0 * 20.0, 4.0);
    // At full throttle, above 3000 rpm, until the tick whose last record ended the stretch.
    std::size_t wot = 0;
    while (wot < first && r.Run().rows[wot][2] == "3") {
        EXPECT_GE(CellNumber(r.Run().rows[wot][1]), 2900.0) << wot;
        ++wot;
    }
    EXPECT_GE(wot + 2, first);
    EXPECT_LT(wot, first);
    // The next cycle's full-throttle phase resumes the same run; the time axis shows the pause.
    r.RunFor(45.0);
    EXPECT_EQ(r.runs.open.size(), 1u);
    const auto& rows = r.Run().rows;
    EXPECT_NEAR(static_cast<double>(rows.size()), 2 * 8.0 * 20.0, 8.0);
    const double before = CellNumber(rows[first - 1][0]);
    const double after = CellNumber(rows[first][0]);
    EXPECT_NEAR(after - before, 37.0, 1.0);
    EXPECT_FALSE(r.rig.sim->Device().IsLogging());
}

TEST(LogOnSimulatedCar, EngineSpeedTriggerFollowsTheCruiseDips) {
    SimRecording r(LogTrigger::Rpm, {23});
    r.RunToPhase(5.0); // idling
    r.recorder.ToggleLogging(r.fuel, r.ignition);
    r.RunFor(5.0);
    EXPECT_TRUE(r.Run().rows.empty()) << "idle speed does not start it";
    r.RunFor(30.0); // pull-away and cruise, whose speed dips below 2000 now and then
    int resumes = 0;
    for (std::size_t i = 1; i < r.states.size(); ++i)
        resumes += r.states[i - 1] == LogState::Waiting && r.states[i] == LogState::Running;
    EXPECT_GE(resumes, 2);
    int low = 0;
    for (const auto& row : r.Run().rows) low += CellNumber(row[1]) < 2000.0;
    // Only the records that ended a stretch (one per pause) are below 2000 rpm.
    EXPECT_LE(low, resumes);
    EXPECT_GT(r.Run().rows.size(), 100u);
}

TEST(LogOnSimulatedCar, OlderCarsSwitchesAndSpeedFromTheDevicesInputs) {
    struct Case {
        const char* label;
        LogTrigger trigger;
        std::vector<int> slots;
        double from, to; // the stretch of the driving cycle that records
    };
    const Case cases[] = {
        {"LH 2.2 by the WOT switch", LogTrigger::Wot, {13, 22, 32, 34}, 33.0, 41.0},
        {"EZF by engine speed", LogTrigger::Rpm, {32, 40}, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SimRecording r(c.trigger, c.slots, true);
        // The device emulates the EPROM of the older unit it was loaded with and measures that
        // unit's speed signal.
        ASSERT_TRUE(r.rig.comms->SelectEcuMode(c.trigger == LogTrigger::Wot ? 'L' : 'E'));
        r.RunToPhase(25.0);
        r.recorder.ToggleLogging(r.fuel, r.ignition);
        ASSERT_EQ(r.recorder.State(), LogState::Waiting) << ::testing::PrintToString(r.rig.dialogs.messages);
        EXPECT_EQ(r.recorder.Plan().source, c.trigger == LogTrigger::Wot ? TriggerSource::LH22 : TriggerSource::EZF);
        r.RunFor(20.0); // through full throttle to the overrun
        const auto& rows = r.Run().rows;
        ASSERT_FALSE(rows.empty());
        if (c.trigger == LogTrigger::Wot) {
            EXPECT_NEAR(static_cast<double>(rows.size()), 8.0 * 20.0, 4.0);
            for (std::size_t i = 0; i + 2 < rows.size(); ++i) {
                const double rpm = CellNumber(rows[i][1]);
                EXPECT_EQ(rows[i][2], "3") << i;
                EXPECT_GE(rpm, 2900.0) << i;
                EXPECT_NEAR(CellNumber(rows[i][3]), rpm, rpm * 0.02) << i;
                EXPECT_NEAR(CellNumber(rows[i][4]), 1.0, 0.5) << "vacuum at full load, " << i;
            }
        } else {
            int resumes = 0;
            for (std::size_t i = 1; i < r.states.size(); ++i)
                resumes += r.states[i - 1] == LogState::Waiting && r.states[i] == LogState::Running;
            EXPECT_GE(resumes, 1);
            int low = 0;
            for (const auto& row : rows) low += CellNumber(row[1]) < 2000.0;
            EXPECT_LE(low, resumes + 1);
        }
        EXPECT_EQ(r.recorder.State(), LogState::Waiting);
    }
}

} // namespace

} // namespace kv
