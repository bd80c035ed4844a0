#include "datalog/log_recorder.h"

#include "datalog/log_device.h"
#include "datalog/log_setup.h"
#include "datalog/run_slots.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "platform/messages.h"

#include <chrono>
#include <ctime>
#include <span>

namespace kv {

namespace {

constexpr const char* kMessageTitle = "Kestrovane";
constexpr int kLhKind = 1;
constexpr int kEzkKind = 2;
constexpr int kLhThrottleVariable = 7;
constexpr int kLhPeriodVariable = 1;
constexpr int kEzkSpeedVariable = 1;
constexpr int kEzkKnockVariable = 7;
constexpr int kEzkFullThrottleBit = 2;
constexpr int kWotSwitchChannel = 4;
constexpr std::int32_t kSwitchClosedBelow = 0x8000;
constexpr std::int32_t kNoLhPeriod = 0xFFFFFF;

} // namespace

double SystemTimeOfDay::SecondsSinceMidnight() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    const double fraction =
        std::chrono::duration<double>(now - std::chrono::system_clock::from_time_t(seconds)).count();
    return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + fraction;
}

LogRecorder::LogRecorder(LogSetup& setup, const AuxInputs& aux, DataLogDevice& device, RunSlots& runs,
                         UserMessages& messages, TimeOfDay& timeOfDay)
    : setup_(setup), aux_(aux), device_(device), runs_(runs), messages_(messages), timeOfDay_(timeOfDay) {}

LogRecorder::~LogRecorder() = default;

void LogRecorder::ToggleLogging(const EPROM& fuel, const EPROM& ignition) {
    if (state_ == LogState::Stopped)
        Start(fuel, ignition);
    else
        Stop();
}

void LogRecorder::Start(const EPROM& fuel, const EPROM& ignition) {
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
    state_ = plan_.trigger == LogTrigger::None ? LogState::Running : LogState::Waiting;
    if (state_ == LogState::Running) {
        device_.DataLog_StartDeviceLogging();
        setup_.Knock().labelEnabled = true;
        controls_.status = kStatusRunning;
    } else {
        controls_.status = kStatusWaiting;
    }
    rowCounter_ = 1;
    runTime_ = 0.0;
    lastStamp_ = -1;
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
        case TriggerSource::LH22: return conv::RpmFromDevicePeriodLH(device_.ReadRpmPeriod()) >= kTriggerRpm;
        case TriggerSource::EZF: return conv::RpmFromDevicePeriodEZF(device_.ReadRpmPeriod()) >= kTriggerRpm;
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
            knockStart_ = device_.ReadEcuRam(kEzkKind, ignition.GetVariableAddress(kEzkKnockVariable), 1).value_or(0);
            knock.state.lastKnockCounter = knockStart_;
            knock.labelEnabled = true;
        }
        device_.DataLog_StartDeviceLogging();
        controls_.status = kStatusRunning;
        if (runTime_ != 0.0) {
            double d = timeOfDay_.SecondsSinceMidnight() - pauseStart_;
            if (d < 0) d += kSecondsPerDay;
            runTime_ += d;
            lastStamp_ = -1;
        }
    }
    UpdateKnockCount(knock.state, knock.label, -1);
}

void LogRecorder::TickRunning(const EPROM& fuel, const EPROM& ignition, LogTickResult& result) {
    device_.DataLog_KeepAlive();
    const std::vector<std::uint8_t> data = device_.DataLog_Download();
    if (data.empty() || !device_.IsIgnitionOn()) return;

    LogRecordDecoder decoder(plan_, fuel, ignition, aux_, device_.RamByteOrderFlag());
    const std::size_t step = static_cast<std::size_t>(plan_.recordSize) + kLogTrailerBytes;
    const double rate = plan_.rate;
    bool decoded = false;
    for (std::size_t offset = 0; offset + step <= data.size(); offset += step) {
        const std::span<const std::uint8_t> record(data.data() + offset, step);
        std::vector<std::string> cells = decoder.Decode(record.first(static_cast<std::size_t>(plan_.recordSize)),
                                                        knockStart_, setup_.Knock(), result.playKnock);
        const std::size_t t = static_cast<std::size_t>(plan_.recordSize);
        const int startCount = record[t];
        const std::int64_t stamp = record[t + 1] | (record[t + 2] << 8) | (record[t + 3] << 16);
        if (lastStamp_ < 0) {
            runTime_ += (startCount + 1) / rate;
        } else {
            std::int64_t d = stamp - lastStamp_;
            if (d < 0) d += kStampModulus;
            runTime_ += static_cast<double>(d) / rate;
        }
        lastStamp_ = stamp;
        cells.insert(cells.begin(), FormatNumber(runTime_, "0.00"));
        runs_.AppendRunRow(currentRun_, cells);
        ++rowCounter_;
        decoded = true;
    }

    if (rowCounter_ >= kMaxRunRows) {
        const double kept = runTime_;
        pauseStart_ = timeOfDay_.SecondsSinceMidnight();
        ToggleLogging(fuel, ignition);
        ToggleLogging(fuel, ignition);
        runTime_ = kept;
        return;
    }
    if (decoded && plan_.trigger != LogTrigger::None && decoder.TriggerEnded(plan_.source, plan_.trigger)) {
        device_.DataLog_StopDeviceLogging();
        state_ = LogState::Waiting;
        setup_.Knock().labelEnabled = false;
        controls_.status = kStatusWaiting;
        pauseStart_ = timeOfDay_.SecondsSinceMidnight();
    }
}

} // namespace kv
