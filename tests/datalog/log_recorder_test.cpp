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
    // The unit's RAM reads `value` for the trigger; when it fires, the knock counter then reads 0,
    // as the records' counter does.
    void TriggerReads(std::int32_t value) {
        device.ram = value;
        device.ramAnswers = {value, 0};
    }
    // One tick, `advanceMs` after the one before on the monotonic clock.
    LogTickResult Tick(std::int64_t advanceMs = 1000) {
        clock.now += advanceMs;
        return recorder.DataLogTimerTick(fuel, ignition);
    }
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
    // Records with stamps first..last (start count 0) in one download.
    void DownloadStamps(std::int64_t first, std::int64_t last) {
        std::vector<std::uint8_t> all;
        for (std::int64_t stamp = first; stamp <= last; ++stamp) {
            const auto r = Record(20000, 0, 0, stamp);
            all.insert(all.end(), r.begin(), r.end());
        }
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
    FakeClock clock;
    LogRecorder recorder{setup, aux, device, runs, dialogs, clock};
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

TEST(LogRecorder, ATickWithoutDataChangesNothing) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    rig.Tick(); // nothing downloaded
    EXPECT_TRUE(rig.runs.open.at(0).rows.empty());
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "keepalive"), 1);
}

// Every record that was downloaded becomes a row when its time stamp follows from the one
// before at the rate; one that does not (a repeat, a step back, a jump further ahead than the
// clock allows) is dropped and counted, whatever else happened in its tick.
TEST(LogRecorder, EveryRecordIsJudgedByItsTimeStamp) {
    struct Tick {
        std::vector<std::pair<int, std::int64_t>> trailers; // start count, stamp
        bool ignition = true;
        std::int64_t advanceMs = 1000;
    };
    struct Case {
        const char* label;
        std::vector<Tick> ticks;
        std::vector<std::string> times;
        int dropped;
    };
    const Case cases[] = {
        {"records of a tick without ignition are kept",
         {{{{0, 1}, {0, 2}}, false}, {{{0, 3}}}},
         {"0.10", "0.20", "0.30"},
         0},
        {"a repeated stamp", {{{{0, 1}, {0, 2}, {0, 2}, {0, 3}}}}, {"0.10", "0.20", "0.30"}, 1},
        {"a late record steps back", {{{{0, 1}, {0, 2}, {0, 4}, {0, 3}, {0, 5}}}}, {"0.10", "0.20", "0.40", "0.50"}, 1},
        {"a stamp far ahead of the clock", {{{{0, 1}, {0, 2}, {0, 2 + 65536}, {0, 3}}}}, {"0.10", "0.20", "0.30"}, 1},
        {"a stamp a little ahead that the next falls behind",
         {{{{0, 1}, {0, 2}, {0, 5}, {0, 3}, {0, 4}}}},
         {"0.10", "0.20", "0.30", "0.40"},
         1},
        {"lost periods: the next follows the step",
         {{{{0, 1}, {0, 2}, {0, 5}, {0, 6}}}},
         {"0.10", "0.20", "0.50", "0.60"},
         0},
        {"a stamp ahead of the time that passed",
         {{{{0, 1}, {0, 2}}, true, 1000}, {{{0, 300}, {0, 3}}, true, 1000}},
         {"0.10", "0.20", "0.30"},
         1},
        {"a start count ahead of the time that passed", {{{{200, 201}, {0, 202}}, true, 500}}, {"0.10"}, 1},
        {"a bad first stamp: the records after it follow each other",
         {{{{0, 70001}, {0, 2}, {0, 3}, {0, 4}}}},
         {"0.10", "0.30", "0.40"},
         1},
        {"after the first stamp is confirmed a step back stays dropped",
         {{{{0, 1}, {0, 2}, {0, 1}, {0, 2}, {0, 3}}}},
         {"0.10", "0.20", "0.30"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RecorderRig rig(LogTrigger::None);
        rig.Toggle();
        for (const Tick& t : c.ticks) {
            std::vector<std::uint8_t> all;
            for (auto [x, stamp] : t.trailers) {
                const auto r = rig.Record(20000, 0, x, stamp);
                all.insert(all.end(), r.begin(), r.end());
            }
            rig.device.downloads.push_back(all);
            rig.device.ignition = t.ignition;
            rig.Tick(t.advanceMs);
        }
        EXPECT_EQ(rig.Times(0), c.times);
        EXPECT_EQ(rig.recorder.Controls().droppedRecords, c.dropped);
        EXPECT_EQ(rig.recorder.State(), LogState::Running);
    }
}

TEST(LogRecorder, ARecordWithAnImpossibleValueIsDropped) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    // A revolution period of 1400 counts is 10714 rpm; 1500 counts 10000 rpm.
    rig.Download({rig.Record(20000, 0, 0, 1), rig.Record(1400, 0, 0, 2), rig.Record(1500, 0, 0, 3)});
    rig.Tick();
    EXPECT_EQ(rig.Times(0), (std::vector<std::string>{"0.10", "0.30"}));
    EXPECT_EQ(rig.runs.open.at(0).rows.back().at(1), "10000");
    EXPECT_EQ(rig.recorder.Controls().droppedRecords, 1);
    EXPECT_EQ(DroppedRecordsText(1), "records dropped: 1");
    // A new recording counts afresh.
    rig.Toggle();
    rig.Toggle();
    EXPECT_EQ(rig.recorder.Controls().droppedRecords, 0);
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
        {"LH 2.2 period 0 is a standing engine", LogTrigger::Rpm, {13}, lh22, ezf, 0, 0, 0, false},
        {"EZF period 0 is a standing engine", LogTrigger::Rpm, {32}, lh22, ezf, 0, 0, 0, false},
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
    rig.TriggerReads(0x02);
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    // Two records at WOT, then the throttle closes: the run pauses after the tick.
    rig.Download({rig.Record(5000, 2, 0, 1), rig.Record(5000, 2, 0, 2), rig.Record(5000, 0, 0, 3)});
    rig.Tick();
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
    EXPECT_EQ(rig.recorder.Controls().status, kStatusWaiting);
    EXPECT_FALSE(rig.setup.Knock().labelEnabled);
    EXPECT_EQ(std::count(rig.device.log.begin(), rig.device.log.end(), "stop"), 1);
    // Still closed: it waits.
    rig.device.ram = 0x00;
    rig.Tick(1000);
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
    // 2.5 s after the pause began the throttle opens again; the pause shows in the time axis.
    rig.TriggerReads(0x02);
    rig.Tick(1500);
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(rig.recorder.Controls().status, kStatusRunning);
    rig.Download({rig.Record(5000, 2, 0, 1), rig.Record(5000, 2, 0, 2)});
    rig.Tick();
    EXPECT_EQ(rig.runs.open.size(), 1u);
    EXPECT_EQ(rig.Times(0), (std::vector<std::string>{"0.10", "0.20", "0.30", "2.90", "3.00"}));
}

TEST(LogRecorder, APauseIsTheIntervalOfTheMonotonicClock) {
    // An hour on the monotonic clock is an hour, whatever the time of day did meanwhile.
    RecorderRig rig(LogTrigger::Wot);
    rig.Toggle();
    rig.TriggerReads(0x02);
    rig.Tick();
    rig.Download({rig.Record(5000, 0, 0, 1)});
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Waiting);
    rig.TriggerReads(0x02);
    rig.Tick(3'600'000);
    rig.Download({rig.Record(5000, 2, 0, 1)});
    rig.Tick();
    EXPECT_EQ(rig.Times(0), (std::vector<std::string>{"0.10", "3600.20"}));
}

TEST(LogRecorder, RpmTriggerEndsAtTheRecordsPeriod) {
    RecorderRig rig(LogTrigger::Rpm);
    rig.Toggle();
    rig.TriggerReads(7000);
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
    rig.DownloadStamps(1, kMaxRunRows - 2);
    rig.Tick(1'000'000);
    ASSERT_EQ(rig.runs.open.at(0).rows.size(), static_cast<std::size_t>(kMaxRunRows - 2));
    EXPECT_EQ(rig.recorder.CurrentRun(), 0);
    // The run takes records up to its limit; the next one opens a new run that continues the
    // time axis.
    rig.DownloadStamps(kMaxRunRows - 1, kMaxRunRows);
    rig.Tick();
    EXPECT_EQ(rig.runs.open.at(0).rows.size(), static_cast<std::size_t>(kMaxRunRows));
    EXPECT_EQ(rig.runs.open.at(0).rows.back().at(0), "1000.00");
    rig.DownloadStamps(kMaxRunRows + 1, kMaxRunRows + 1);
    rig.Tick();
    EXPECT_EQ(rig.recorder.CurrentRun(), 1);
    EXPECT_EQ(rig.recorder.State(), LogState::Running);
    EXPECT_EQ(rig.runs.open.at(1).headers, rig.runs.open.at(0).headers);
    EXPECT_EQ(rig.Times(1), std::vector<std::string>{"1000.10"});
    // The device started again: its stamps begin anew.
    rig.Download({rig.Record(20000, 0, 0, 1), rig.Record(20000, 0, 0, 2)});
    rig.Tick();
    EXPECT_EQ(rig.Times(1), (std::vector<std::string>{"1000.10", "1000.20", "1000.30"}));
}

// A run never holds more rows than a run file gives back: the records of a tick past the limit
// start the continued run.
TEST(LogRecorder, ARunHoldsTenThousandRowsAtMost) {
    struct Case {
        int records;
        std::vector<std::size_t> runRows;
        const char* firstOfSecond;
    };
    const Case cases[] = {
        {kMaxRunRows - 1, {kMaxRunRows - 1}, ""},
        {kMaxRunRows, {kMaxRunRows}, ""},
        {kMaxRunRows + 5, {kMaxRunRows, 5}, "1000.10"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.records);
        RecorderRig rig(LogTrigger::None);
        rig.Toggle();
        rig.DownloadStamps(1, c.records);
        rig.Tick(1'000'000);
        std::vector<std::size_t> sizes;
        for (const auto& [id, run] : rig.runs.open) sizes.push_back(run.rows.size());
        EXPECT_EQ(sizes, c.runRows);
        EXPECT_EQ(rig.recorder.State(), LogState::Running);
        if (c.runRows.size() > 1) {
            EXPECT_EQ(rig.runs.open.at(1).rows.front().at(0), c.firstOfSecond);
        }
    }
}

TEST(LogRecorder, AContinuedRunWithATriggerCountsItsPauseFromTheSplit) {
    RecorderRig rig(LogTrigger::Wot);
    rig.Toggle();
    rig.TriggerReads(0x02);
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    rig.DownloadStamps(1, kMaxRunRows + 1);
    rig.Tick(1'000'000);
    EXPECT_EQ(rig.Times(1), std::vector<std::string>{"1000.10"});
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting) << "the new run waits for its trigger";
    rig.TriggerReads(0x02);
    rig.Tick(5000);
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    rig.Download({rig.Record(5000, 2, 0, 1)});
    rig.Tick();
    EXPECT_EQ(rig.Times(1), (std::vector<std::string>{"1000.10", "1005.20"}));
}

TEST(LogRecorder, NoNewRunAfterTenThousandRowsWhenAllSlotsAreTaken) {
    RecorderRig rig(LogTrigger::None);
    rig.Toggle();
    for (int i = 1; i < kMaxRuns; ++i) rig.runs.AllocateRun();
    rig.DownloadStamps(1, kMaxRunRows + 1);
    rig.Tick(1'000'000);
    EXPECT_EQ(rig.dialogs.messages, std::vector<std::string>{MaxRunsRecordMessage()});
    EXPECT_EQ(rig.recorder.State(), LogState::Stopped);
    EXPECT_FALSE(rig.recorder.Controls().timerEnabled);
    EXPECT_EQ(rig.recorder.Controls().startStopCaption, kStartLoggingCaption);
    EXPECT_EQ(rig.runs.open.at(0).rows.size(), static_cast<std::size_t>(kMaxRunRows));
}

// The knock counter's baseline when a run or stretch starts: read from the unit (asked again when
// it does not answer), else the first record's counter; the same counter twice is no knock.
TEST(LogRecorder, KnockBaseline) {
    struct Case {
        const char* label;
        std::vector<std::optional<std::int32_t>> reads;
        std::vector<int> counters;
        std::vector<std::string> knocks;
        bool sound;
    };
    const std::optional<std::int32_t> none;
    const Case cases[] = {
        {"read at once", {130}, {137, 137, 140}, {"7", "0", "3"}, true},
        {"read at the third try", {none, none, 130}, {137}, {"7"}, true},
        {"never read: the first record is the baseline", {none, none, none}, {137, 137, 139}, {"0", "0", "2"}, true},
        {"never read, no new knock", {none, none, none}, {137, 137}, {"0", "0"}, false},
        {"the counter wraps", {250}, {3}, {"9"}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RecorderRig rig(LogTrigger::None, 1, {26});
        rig.device.ramAnswers.assign(c.reads.begin(), c.reads.end());
        rig.Toggle();
        ASSERT_EQ(rig.recorder.State(), LogState::Running);
        std::vector<std::uint8_t> all;
        for (std::size_t i = 0; i < c.counters.size(); ++i) {
            const auto r = WithTrailer(MakeRecord(rig.recorder.Plan(), {{ch::EzkKnock, c.counters[i]}}), 0,
                                       static_cast<std::int64_t>(i + 1));
            all.insert(all.end(), r.begin(), r.end());
        }
        rig.device.downloads.push_back(all);
        const LogTickResult result = rig.Tick();
        std::vector<std::string> knocks;
        for (const auto& row : rig.runs.open.at(0).rows) knocks.push_back(row.at(1));
        EXPECT_EQ(knocks, c.knocks);
        EXPECT_EQ(result.playKnock, c.sound);
    }
}

// No whole period count reads exactly 2000 rpm: 1333 reads 2001, 1334 reads 1999.
TEST(LogRecorder, EzkRpmTriggerEndsBelowTwoThousand) {
    RecorderRig rig(LogTrigger::Rpm, 1, {23});
    rig.Toggle();
    rig.TriggerReads(1333);
    rig.Tick();
    ASSERT_EQ(rig.recorder.State(), LogState::Running);
    const auto record = [&](std::int64_t period, std::int64_t stamp) {
        return WithTrailer(MakeRecord(rig.recorder.Plan(), {{ch::EzkSpeed, period}}), 0, stamp);
    };
    rig.Download({record(1333, 1)});
    rig.Tick();
    EXPECT_EQ(rig.runs.open.at(0).rows.back().at(1), "2001");
    EXPECT_EQ(rig.recorder.State(), LogState::Running) << "2001 rpm has not ended";
    rig.Download({record(1334, 2)});
    rig.Tick();
    EXPECT_EQ(rig.runs.open.at(0).rows.back().at(1), "1999");
    EXPECT_EQ(rig.recorder.State(), LogState::Waiting);
}

} // namespace

} // namespace kv
