#pragma once
// A recording run: the start/stop button, the run state machine with its trigger, and the
// timer tick that keeps the device logging, downloads its records, decodes them into rows of the
// run (through RunSlots) and stamps each row with its time. Everything the tab shows about it
// (button caption, status, which controls are enabled, whether the timer runs, the knock
// counter) is an output of this class, so every workflow and message runs without widgets.
//
// Use: the start/stop button calls ToggleLogging; tmrDataLog (enabled while TimerEnabled(), at
// LogSetup::TimerIntervalMs) calls DataLogTimerTick; after either, the panel shows Controls().
#include "datalog/log_decode.h"
#include "datalog/log_prepare.h"
#include "datalog/log_stamps.h"
#include "datalog/run_file.h"

#include <memory>
#include <optional>
#include <string>

namespace kv {

class AuxInputs;
class Clock;
class DataLogDevice;
class EPROM;
class LogSetup;
class RunSlots;
class UserMessages;

inline constexpr const char* kStartLoggingCaption = "&Start logging";
inline constexpr const char* kStopLoggingCaption = "&Stop logging";
inline constexpr const char* kStatusStopped = "Stopped";
inline constexpr const char* kStatusWaiting = "Waiting for trigger condition";
inline constexpr const char* kStatusRunning = "Running";

enum class LogState { Stopped, Waiting, Running };

// What the tab shows of the recording.
struct LogControls {
    std::string startStopCaption = kStartLoggingCaption; // cmdDataLogStartStop
    std::string status = kStatusStopped;                 // lblDataLogStatus
    bool timerEnabled = false;                           // tmrDataLog
    // The run buttons Copy, Save, Close, Plot and Delete rows (disabled while recording).
    bool runButtonsEnabled = true;
    // Records dropped since the recording was started because their time stamp did not follow
    // or a value lay outside its column's physical range.
    int droppedRecords = 0;
};

// "records dropped: N".
std::string DroppedRecordsText(int dropped);

struct LogTickResult {
    bool playKnock = false; // a new knock was counted: the knock sound plays
};

class LogRecorder {
public:
    // All references must outlive the recorder. `clock` is monotonic: it measures the pauses of
    // a run and bounds how far the records' time stamps may run ahead.
    LogRecorder(LogSetup& setup, const AuxInputs& aux, DataLogDevice& device, RunSlots& runs, UserMessages& messages,
                Clock& clock);
    ~LogRecorder();

    // The start/stop button: starts a run (a new run slot, PrepareLoggingRun, the device logging
    // or the wait for the trigger) or stops the one being recorded.
    void ToggleLogging(const EPROM& fuel, const EPROM& ignition);
    // One tick of tmrDataLog.
    LogTickResult DataLogTimerTick(const EPROM& fuel, const EPROM& ignition);
    // Ends the recording or the wait for its trigger (the device stops logging); nothing when
    // stopped.
    void Stop();

    LogState State() const { return state_; }
    const LogControls& Controls() const { return controls_; }
    // The run being recorded (-1 none) and its time axis.
    int CurrentRun() const { return currentRun_; }
    double RunTime() const { return runTime_; }
    const LogRunPlan& Plan() const { return plan_; }

private:
    // `continued`: the run that came before was full; its time axis and dropped count go on.
    void Start(const EPROM& fuel, const EPROM& ignition, bool continued);
    bool TriggerFires(const EPROM& fuel, const EPROM& ignition);
    void TickWaiting(const EPROM& fuel, const EPROM& ignition);
    void TickRunning(const EPROM& fuel, const EPROM& ignition, LogTickResult& result);
    // Appends a row to the run being recorded, first continuing in a new run when it is full;
    // false when there is no run to take it (logging stopped).
    bool AppendRow(const EPROM& fuel, const EPROM& ignition, std::vector<std::string> cells);
    void ShowStopped();

    LogSetup& setup_;
    const AuxInputs& aux_;
    DataLogDevice& device_;
    RunSlots& runs_;
    UserMessages& messages_;
    Clock& clock_;

    LogState state_ = LogState::Stopped;
    LogControls controls_;
    LogRunPlan plan_;
    int currentRun_ = -1;
    double runTime_ = 0.0;
    StampJudge stamps_;
    std::int64_t pauseStartMs_ = 0;
    std::optional<int> knockStart_;
};

} // namespace kv
