#include "datalog/log_recorder.h"

#include "auxinputs/aux_inputs.h"
#include "datalog/log_setup.h"
#include "datalog_test_util.h"
#include "fakes.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace datalog_test;

// A recorder of LH 2.3 RPM (with an EZK loaded) on a scripted device.
struct RecorderRig {
    explicit RecorderRig(LogTrigger trigger, int rateIndex = 1, std::vector<int> slots = {0}) {
        for (const char* command : {"", "LH", "EZK"}) setup.SetupLogVariables(command, ignition, aux);
        for (int s : slots) setup.OnVariableChecked(s, true);
        setup.SetTrigger(trigger);
        setup.FillRateList();
        setup.OnRateChanged(rateIndex);
    }
    void Toggle() { recorder.ToggleLogging(fuel, ignition); }
    LogTickResult Tick() { return recorder.DataLogTimerTick(fuel, ignition); }
    // One streamed record of the plan with its trailer.
    std::vector<std::uint8_t> Record(std::int64_t period, int throttle, int startCount, std::int64_t stamp) {
        return WithTrailer(MakeRecord(recorder.Plan(), {{ch::LhSpeed, period}, {ch::LhThrottle, throttle}}), startCount,
                           stamp);
    }
    void Download(std::initializer_list<std::vector<std::uint8_t>> records) {
        std::vector<std::uint8_t> all;
        for (const auto& r : records) all.insert(all.end(), r.begin(), r.end());
        device.downloads.push_back(all);
    }
    std::vector<std::string> Times(int run) const {
        std::vector<std::string> t;
        for (const auto& row : runs.open.at(run).rows) t.push_back(row.at(0));
        return t;
    }

    EPROM fuel = Load(eprom_test::LH23Image());
    EPROM ignition = Load(eprom_test::EZKImage());
    AuxInputs aux;
    LogSetup setup;
    FakeDataLogDevice device;
    FakeRunSlots runs;
    ScriptedDialogs dialogs;
    FakeTimeOfDay timeOfDay;
    LogRecorder recorder{setup, aux, device, runs, dialogs, timeOfDay};
};

TEST(LogRecorder, StartAndStopShowTheirStates) {
    struct Case {
        LogTrigger trigger;
        LogState state;
        const char* status;
        bool knockEnabled;
    };
    const Case cases[] = {{LogTrigger::None, LogState::Running, kStatusRunning, true},
                          {LogTrigger::Wot, LogState::Waiting, kStatusWaiting, false}};
    for (const Case& c : cases) {
        RecorderRig rig(c.trigger);
        rig.Toggle();
        EXPECT_EQ(rig.recorder.State(), c.state);
        EXPECT_EQ(rig.recorder.Controls().status, c.status);
        EXPECT_EQ(rig.recorder.Controls().startStopCaption, kStopLoggingCaption);
        EXPECT_TRUE(rig.recorder.Controls().timerEnabled);
        EXPECT_FALSE(rig.recorder.Controls().runButtonsEnabled);
        EXPECT_FALSE(rig.setup.SetupEnabled());
        EXPECT_EQ(rig.setup.Knock().labelEnabled, c.knockEnabled);
        EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "start"), c.state == LogState::Running);
        EXPECT_EQ(rig.runs.open.at(0).headers, (std::vector<std::string>{"Time [s]", "RPM"}));
        rig.Toggle();
        EXPECT_EQ(rig.recorder.State(), LogState::Stopped);
        EXPECT_EQ(rig.recorder.Controls().status, kStatusStopped);
        EXPECT_EQ(rig.recorder.Controls().startStopCaption, kStartLoggingCaption);
        EXPECT_FALSE(rig.recorder.Controls().timerEnabled);
        EXPECT_TRUE(rig.recorder.Controls().runButtonsEnabled);
        EXPECT_TRUE(rig.setup.SetupEnabled());
        EXPECT_FALSE(rig.setup.Knock().labelEnabled);
        EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "stop"), c.state == LogState::Running);
    }
}

TEST(LogRecorder, RefusalsReleaseTheRunAndStayStopped) {
    RecorderRig rig(LogTrigger::None);
    rig.setup.OnVariableChecked(0, false);
    rig.Toggle();
    EXPECT_EQ(rig.dialogs.messages, std::vector<std::string>{kNoVariableMessage});
    EXPECT_TRUE(rig.runs.open.empty());
    EXPECT_EQ(rig.runs.released, 1);
    EXPECT_EQ(rig.runs.refreshes, 1);
    EXPECT_EQ(rig.recorder.State(), LogState::Stopped);

    RecorderRig full(LogTrigger::None);
    for (int i = 0; i < kMaxRuns; ++i) full.runs.AllocateRun();
    full.Toggle();
    EXPECT_EQ(full.dialogs.messages, std::vector<std::string>{MaxRunsRecordMessage()});
    EXPECT_EQ(full.recorder.State(), LogState::Stopped);
    EXPECT_TRUE(full.device.log.empty());
}

TEST(LogRecorder, TimeStampsStartCountsAndTheWrap) {
    struct Case {
        const char* label;
        int rateIndex;
        std::vector<std::pair<int, std::int64_t>> trailers; // start count, stamp
        std::vector<std::string> times;
    };
    const Case cases[] = {
        {"first record at rate 10", 1, {{0, 1}}, {"0.10"}},
        {"a start count of 4 at rate 5", 0, {{4, 5}, {0, 6}}, {"1.00", "1.20"}},
        {"a lost period doubles the step", 1, {{0, 1}, {0, 2}, {0, 4}}, {"0.10", "0.20", "0.40"}},
        {"the stamp wraps past 2^24 at rate 20", 2, {{0, 16777214}, {0, 1}}, {"0.05", "0.20"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RecorderRig rig(LogTrigger::None, c.rateIndex);
        rig.Toggle();
        std::vector<std::uint8_t> all;
        for (auto [x, stamp] : c.trailers) {
            const auto r = rig.Record(20000, 0, x, stamp);
            all.insert(all.end(), r.begin(), r.end());
        }
        rig.device.downloads.push_back(all);
        rig.Tick();
        EXPECT_EQ(rig.Times(0), c.times);
    }
}

TEST(LogRecorder, AnIncompleteRecordAtTheEndIsNotRead) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    auto data = rig.Record(20000, 0, 0, 1);
    const auto second = rig.Record(20000, 0, 0, 2);
    data.insert(data.end(), second.begin(), second.end() - 3);
    rig.device.downloads.push_back(data);
    rig.Tick();
    EXPECT_EQ(rig.Times(0), std::vector<std::string>{"0.10"});
}

TEST(LogRecorder, ATickWithoutIgnitionOrDataChangesNothing) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    rig.Tick(); // nothing downloaded
    rig.device.ignition = false;
    rig.Download({rig.Record(20000, 0, 0, 1)});
    rig.Tick();
    EXPECT_TRUE(rig.runs.open.at(0).rows.empty());
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "keepalive"), 2);
}

TEST(LogRecorder, TriggerThresholdsWhileWaiting) {
    struct Case {
        const char* label;
        LogTrigger trigger;
        std::vector<int> slots;
        EPROM fuel, ignition;
        std::optional<std::int32_t> ram;
        std::optional<std::int32_t> aux;
        std::int32_t period;
        bool fires;
    };
    const EPROM lh = Load(eprom_test::LH23Image()), ezk = Load(eprom_test::EZKImage());
    const EPROM lh22 = Load(eprom_test::LH22Image()), ezf = Load(eprom_test::EZFImage());
    const int ezkWotMask = ChannelBitMask(LogChannelByNumber(ch::EzkBit2), lh, ezk);
    const Case cases[] = {
        {"LH period 7500 does not fire", LogTrigger::Rpm, {0}, lh, ezk, 7500, 0, 0, false},
        {"LH period 7499 fires", LogTrigger::Rpm, {0}, lh, ezk, 7499, 0, 0, true},
        {"LH period 0 is a standing engine", LogTrigger::Rpm, {0}, lh, ezk, 0, 0, 0, false},
        {"LH period unreadable", LogTrigger::Rpm, {0}, lh, ezk, std::nullopt, 0, 0, false},
        {"LH throttle WOT bit", LogTrigger::Wot, {0}, lh, ezk, 0x02, 0, 0, true},
        {"LH throttle idle", LogTrigger::Wot, {0}, lh, ezk, 0x01, 0, 0, false},
        {"EZK full-throttle bit", LogTrigger::Wot, {23}, lh, ezk, ezkWotMask, 0, 0, true},
        {"EZK other bits", LogTrigger::Wot, {23}, lh, ezk, 0xFF & ~ezkWotMask, 0, 0, false},
        {"EZK 2000 rpm", LogTrigger::Rpm, {23}, lh, ezk, 1333, 0, 0, true},
        {"EZK below 2000 rpm", LogTrigger::Rpm, {23}, lh, ezk, 1340, 0, 0, false},
        {"LH 2.2 WOT switch closed", LogTrigger::Wot, {13}, lh22, ezf, 0, 0x7FFF, 0, true},
        {"LH 2.2 WOT switch open", LogTrigger::Wot, {13}, lh22, ezf, 0, 0x8000, 0, false},
        {"EZF WOT switch unreadable", LogTrigger::Wot, {32}, lh22, ezf, 0, std::nullopt, 0, false},
        {"LH 2.2 at 2000 rpm", LogTrigger::Rpm, {13}, lh22, ezf, 0, 0, 11250, true},
        {"LH 2.2 below 2000 rpm", LogTrigger::Rpm, {13}, lh22, ezf, 0, 0, 11300, false},
        {"EZF at 2000 rpm", LogTrigger::Rpm, {32}, lh22, ezf, 0, 0, 1800, true},
        {"EZF below 2000 rpm", LogTrigger::Rpm, {32}, lh22, ezf, 0, 0, 1810, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RecorderRig rig(c.trigger, 1, {});
        rig.fuel = c.fuel;
        rig.ignition = c.ignition;
        for (const char* command : {"", "LH", "LH22", "EZK", "EZF"})
            rig.setup.SetupLogVariables(command, rig.ignition, rig.aux);
        for (int s : c.slots) rig.setup.OnVariableChecked(s, true);
        rig.Toggle();
        ASSERT_EQ(rig.recorder.State(), LogState::Waiting);
        rig.device.ram = c.ram;
        rig.device.auxValue = c.aux;
        rig.device.rpmPeriod = c.period;
        rig.device.log.clear();
        rig.Tick();
        EXPECT_EQ(rig.recorder.State(), c.fires ? LogState::Running : LogState::Waiting);
        EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "start"), c.fires ? 1 : 0);
    }
}

TEST(LogRecorder, NoTriggerTestWithoutIgnition) {
    RecorderRig rig(LogTrigger::Rpm);
    rig.Toggle();
    rig.device.ram = 100;
    rig.device.ignition = false;
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
}

TEST(LogRecorder, PausesAndResumesInTheSameRun) {
    RecorderRig rig(LogTrigger::Wot);
    rig.Toggle();
    rig.device.ram = 0x02; // WOT
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    // Two records at WOT, then the throttle closes: the run pauses after the tick.
    rig.Download({rig.Record(5000, 2, 0, 1), rig.Record(5000, 2, 0, 2), rig.Record(5000, 0, 0, 3)});
    rig.timeOfDay.seconds = 3600.0;
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
    EXPECT_EQ(rig.recorder.Controls().status, kStatusWaiting);
    EXPECT_FALSE(rig.setup.Knock().labelEnabled);
    EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "stop"), 1);
    // Still closed: it waits.
    rig.device.ram = 0x00;
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
    // 2.5 s later the throttle opens again; the pause shows in the time axis.
    rig.timeOfDay.seconds = 3602.5;
    rig.device.ram = 0x02;
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(rig.recorder.Controls().status, kStatusRunning);
    rig.Download({rig.Record(5000, 2, 0, 1), rig.Record(5000, 2, 0, 2)});
    rig.Tick();
    EXPECT_EQ(rig.runs.open.size(), 1u);
    EXPECT_EQ(rig.Times(0), (std::vector<std::string>{"0.10", "0.20", "0.30", "2.90", "3.00"}));
}

TEST(LogRecorder, APauseOverMidnight) {
    RecorderRig rig(LogTrigger::Wot);
    rig.Toggle();
    rig.device.ram = 0x02;
    rig.Tick();
    rig.Download({rig.Record(5000, 0, 0, 1)});
    rig.timeOfDay.seconds = 86399.0;
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Waiting);
    rig.timeOfDay.seconds = 1.0;
    rig.Tick();
    rig.Download({rig.Record(5000, 2, 0, 1)});
    rig.Tick();
    EXPECT_EQ(rig.Times(0), (std::vector<std::string>{"0.10", "2.20"}));
}

TEST(LogRecorder, RpmTriggerEndsAtTheRecordsPeriod) {
    RecorderRig rig(LogTrigger::Rpm);
    rig.Toggle();
    rig.device.ram = 7000;
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    rig.Download({rig.Record(7500, 0, 0, 1)});
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Running) << "exactly 60 / 2000 s has not ended";
    rig.Download({rig.Record(7501, 0, 0, 2)});
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
}

TEST(LogRecorder, ContinuesInANewRunAtTenThousandRows) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    std::vector<std::uint8_t> block;
    for (int i = 1; i <= kMaxRunRows - 2; ++i) {
        const auto r = rig.Record(20000, 0, 0, i);
        block.insert(block.end(), r.begin(), r.end());
    }
    rig.device.downloads.push_back(block);
    rig.Tick();
    ASSERT_EQ(rig.runs.open.at(0).rows.size(), static_cast<std::size_t>(kMaxRunRows - 2));
    EXPECT_EQ(rig.recorder.CurrentRun(), 0);
    // The tick that reaches the limit adds all its records, then the run is closed and a new
    // one continues the time axis.
    rig.Download({rig.Record(20000, 0, 0, kMaxRunRows - 1), rig.Record(20000, 0, 0, kMaxRunRows)});
    rig.Tick();
    EXPECT_EQ(rig.runs.open.at(0).rows.size(), static_cast<std::size_t>(kMaxRunRows));
    EXPECT_EQ(rig.runs.open.at(0).rows.back().at(0), "1000.00");
    EXPECT_EQ(rig.recorder.CurrentRun(), 1);
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(rig.runs.open.at(1).headers, rig.runs.open.at(0).headers);
    // The device started again: its stamps begin anew.
    rig.Download({rig.Record(20000, 0, 0, 1), rig.Record(20000, 0, 0, 2)});
    rig.Tick();
    EXPECT_EQ(rig.Times(1), (std::vector<std::string>{"1000.10", "1000.20"}));
}

TEST(LogRecorder, NoNewRunAfterTenThousandRowsWhenAllSlotsAreTaken) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    for (int i = 1; i < kMaxRuns; ++i) rig.runs.AllocateRun();
    std::vector<std::uint8_t> block;
    for (int i = 1; i <= kMaxRunRows; ++i) {
        const auto r = rig.Record(20000, 0, 0, i);
        block.insert(block.end(), r.begin(), r.end());
    }
    rig.device.downloads.push_back(block);
    rig.Tick();
    EXPECT_EQ(rig.dialogs.messages, std::vector<std::string>{MaxRunsRecordMessage()});
    EXPECT_EQ(rig.recorder.State(), LogState::Stopped);
    EXPECT_FALSE(rig.recorder.Controls().timerEnabled);
    EXPECT_EQ(rig.recorder.Controls().startStopCaption, kStartLoggingCaption);
}

} // namespace

} // namespace kv
