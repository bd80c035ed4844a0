#include "datalog/log_recorder.h"

#include "datalog/log_device.h"
#include "datalog/log_setup.h"
#include "datalog/run_slots.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "platform/messages.h"

#include "platform/clock.h"

#include <array>
#include <span>

namespace kv {

namespace {

constexpr const char* kMessageTitle = "Kestrovane";
constexpr int kLhKind = 1;
constexpr int kEzkKind = 2;
constexpr int kLhThrottleVariable = 7;
constexpr int kLhPeriodVariable = 1;
constexpr int kEzkSpeedVariable = 1;
constexpr int kEzkFullThrottleBit = 2;
constexpr int kWotSwitchChannel = 4;
constexpr std::int32_t kSwitchClosedBelow = 0x8000;
constexpr std::int32_t kNoLhPeriod = 0xFFFFFF;

// A device period of 0 is a standing engine, as in the records: it is no speed at all.
int DeviceRpm(std::int32_t period, std::int32_t (*rpmFromPeriod)(std::int64_t)) {
    return period == 0 ? 0 : rpmFromPeriod(period);
}

} // namespace

std::string DroppedRecordsText(int dropped) { return "records dropped: " + std::to_string(dropped); }

LogRecorder::LogRecorder(LogSetup& setup, const AuxInputs& aux, DataLogDevice& device, RunSlots& runs,
                         UserMessages& messages, Clock& clock)
    : setup_(setup), aux_(aux), device_(device), runs_(runs), messages_(messages), clock_(clock) {}

LogRecorder::~LogRecorder() = default;

void LogRecorder::ToggleLogging(const EPROM& fuel, const EPROM& ignition) {
    if (state_ == LogState::Stopped)
        Start(fuel, ignition, false);
    else
        Stop();
}

void LogRecorder::Start(const EPROM& fuel, const EPROM& ignition, bool continued) {
    const int run = runs_.AllocateRun();
    if (run < 0) {
        messages_.MessageBox(MaxRunsRecordMessage(), kMessageTitle);
        return;
    }
    LogRunPlan plan;
    if (const std::string message = PrepareLoggingRun(setup_, fuel, ignition, aux_, device_, plan); !message.empty()) {
        messages_.MessageBox(message, kMessageTitle);
        runs_.ReleaseRun(run);
        runs_.RefreshRunTabs();
        return;
    }
    plan_ = std::move(plan);
    currentRun_ = run;
    knockStart_ = plan_.knockStart;
    runs_.SetRunHeaders(run, plan_.headers);
    runs_.RefreshRunTabs();

    controls_.startStopCaption = kStopLoggingCaption;
    setup_.SetSetupEnabled(false);
    controls_.runButtonsEnabled = false;
    if (!continued) controls_.droppedRecords = 0;
    state_ = plan_.trigger == LogTrigger::None ? LogState::Running : LogState::Waiting;
    if (state_ == LogState::Running) {
        device_.DataLog_StartDeviceLogging();
        setup_.Knock().labelEnabled = true;
        controls_.status = kStatusRunning;
    } else {
        controls_.status = kStatusWaiting;
    }
    runTime_ = 0.0;
    stamps_.StartStretch(clock_.NowMs(), plan_.rate);
    controls_.timerEnabled = true;
}

void LogRecorder::Stop() {
    if (state_ == LogState::Stopped) return;
    controls_.timerEnabled = false;
    if (state_ == LogState::Running) device_.DataLog_StopDeviceLogging();
    state_ = LogState::Stopped;
    ShowStopped();
}

void LogRecorder::ShowStopped() {
    setup_.Knock().labelEnabled = false;
    controls_.startStopCaption = kStartLoggingCaption;
    controls_.status = kStatusStopped;
    setup_.SetSetupEnabled(true);
    controls_.runButtonsEnabled = true;
}

LogTickResult LogRecorder::DataLogTimerTick(const EPROM& fuel, const EPROM& ignition) {
    LogTickResult result;
    if (state_ == LogState::Waiting)
        TickWaiting(fuel, ignition);
    else if (state_ == LogState::Running)
        TickRunning(fuel, ignition, result);
    return result;
}

bool LogRecorder::TriggerFires(const EPROM& fuel, const EPROM& ignition) {
    const TriggerSource source = plan_.source;
    if (plan_.trigger == LogTrigger::Wot) {
        switch (source) {
        case TriggerSource::LH23: {
            const auto b = device_.ReadEcuRam(kLhKind, fuel.GetVariableAddress(kLhThrottleVariable), 1);
            return b && (*b & 2) != 0;
        }
        case TriggerSource::EZK: {
            std::int32_t address = 0;
            int mask = 0;
            ignition.GetBitVariableAddress(kEzkFullThrottleBit, address, mask);
            const auto b = device_.ReadEcuRam(kEzkKind, address, 1);
            return b && (*b & mask) != 0;
        }
        case TriggerSource::LH22:
        case TriggerSource::EZF: {
            const auto v = device_.ReadAuxInput(kWotSwitchChannel);
            return v && *v < kSwitchClosedBelow;
        }
        case TriggerSource::None: return false;
        }
    }
    if (plan_.trigger == LogTrigger::Rpm) {
        switch (source) {
        case TriggerSource::LH23: {
            const auto c = device_.ReadEcuRam(kLhKind, fuel.GetVariableAddress(kLhPeriodVariable), 3);
            // A count of 0 is a standing engine, as in the records.
            return c && (*c == 0 ? kNoLhPeriod : *c) < kLhRpmTriggerCount;
        }
        case TriggerSource::EZK: {
            const auto v = device_.ReadEcuRam(kEzkKind, ignition.GetVariableAddress(kEzkSpeedVariable), 2);
            return v && conv::EZK_RpmFromPeriod(*v) >= kTriggerRpm;
        }
        case TriggerSource::LH22: return DeviceRpm(device_.ReadRpmPeriod(), conv::RpmFromDevicePeriodLH) >= kTriggerRpm;
        case TriggerSource::EZF: return DeviceRpm(device_.ReadRpmPeriod(), conv::RpmFromDevicePeriodEZF) >= kTriggerRpm;
        case TriggerSource::None: return false;
        }
    }
    return false;
}

void LogRecorder::TickWaiting(const EPROM& fuel, const EPROM& ignition) {
    if (!device_.IsIgnitionOn()) return;
    LogKnockDisplay& knock = setup_.Knock();
    if (TriggerFires(fuel, ignition)) {
        state_ = LogState::Running;
        if (ignition.GetECUType() == EcuType::EZK && plan_.channels.test(ch::EzkKnock)) {
            knockStart_ = ReadKnockBaseline(device_, ignition);
            knock.state.lastKnockCounter = knockStart_;
            knock.labelEnabled = true;
        }
        device_.DataLog_StartDeviceLogging();
        controls_.status = kStatusRunning;
        const std::int64_t now = clock_.NowMs();
        if (runTime_ != 0.0) runTime_ += static_cast<double>(now - pauseStartMs_) / 1000.0;
        stamps_.StartStretch(now, plan_.rate);
    }
    UpdateKnockCount(knock.state, knock.label, -1);
}

bool LogRecorder::AppendRow(const EPROM& fuel, const EPROM& ignition, std::vector<std::string> cells) {
    if (runs_.RunRowCount(currentRun_) >= kMaxRunRows) {
        // The full run stops and a new one starts with the same settings; its time axis goes on.
        const double kept = runTime_;
        const StampJudge stamps = stamps_;
        const std::optional<int> knock = knockStart_;
        // A trigger makes the new run wait for it: the pause counts from here.
        pauseStartMs_ = clock_.NowMs();
        Stop();
        Start(fuel, ignition, true);
        if (state_ == LogState::Stopped) return false;
        runTime_ = kept;
        // The rest of the records in hand came before the device started again.
        stamps_ = stamps;
        knockStart_ = knock;
    }
    cells.insert(cells.begin(), FormatNumber(runTime_, "0.00"));
    runs_.AppendRunRow(currentRun_, cells);
    return true;
}

void LogRecorder::TickRunning(const EPROM& fuel, const EPROM& ignition, LogTickResult& result) {
    device_.DataLog_KeepAlive();
    const std::vector<std::uint8_t> data = device_.DataLog_Download();
    if (data.empty()) return;
    const std::int64_t now = clock_.NowMs();
    const int startedRun = currentRun_;

    LogRecordDecoder decoder(plan_, fuel, ignition, aux_, device_.RamByteOrderFlag());
    const std::size_t size = static_cast<std::size_t>(plan_.recordSize);
    const std::size_t step = size + kLogTrailerBytes;
    bool decoded = false;
    for (std::size_t offset = 0; offset + step <= data.size(); offset += step) {
        const std::span<const std::uint8_t> record(data.data() + offset, step);
        const auto stampAt = [&](std::size_t at) {
            return std::int64_t{data[at + size + 1]} | (std::int64_t{data[at + size + 2]} << 8) |
                   (std::int64_t{data[at + size + 3]} << 16);
        };
        std::array<std::int64_t, 2> after{};
        std::size_t known = 0;
        while (known < after.size() && offset + (known + 2) * step <= data.size()) {
            after[known] = stampAt(offset + (known + 1) * step);
            ++known;
        }
        const std::optional<std::int64_t> periods =
            stamps_.Judge(record[size], stampAt(offset), std::span(after.data(), known), now);
        if (!periods) {
            ++controls_.droppedRecords;
            continue;
        }
        // Decoded on a copy of the knock state: a damaged record must not count knocks.
        std::optional<int> knock = knockStart_;
        LogKnockDisplay display = setup_.Knock();
        bool play = false;
        std::vector<std::string> cells = decoder.Decode(record.first(size), knock, display, play);
        runTime_ += static_cast<double>(*periods) / plan_.rate;
        if (!decoder.InRange()) {
            ++controls_.droppedRecords;
            continue;
        }
        knockStart_ = knock;
        setup_.Knock() = display;
        result.playKnock = result.playKnock || play;
        if (!AppendRow(fuel, ignition, std::move(cells))) return;
        decoded = true;
    }
    if (currentRun_ != startedRun) {
        // Continued in a new run: the device started a new stretch.
        stamps_.StartStretch(clock_.NowMs(), plan_.rate);
        return;
    }
    // Records are kept whatever the ignition; without it the run stays as it is.
    if (!device_.IsIgnitionOn()) return;
    if (decoded && plan_.trigger != LogTrigger::None && decoder.TriggerEnded(plan_.source, plan_.trigger)) {
        device_.DataLog_StopDeviceLogging();
        state_ = LogState::Waiting;
        setup_.Knock().labelEnabled = false;
        controls_.status = kStatusWaiting;
        pauseStartMs_ = clock_.NowMs();
    }
}

} // namespace kv
