// kestrovane-cli log record: one recording through the data-logging tab's own preparation and
// run state machine, saved as run files. With --simulate it runs on simulated time, so N
// seconds of the car take far less.
#include "auxinputs/aux_inputs.h"
#include "cli/cli.h"
#include "cli/cli_session.h"
#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"
#include "datalog/run_file.h"
#include "datalog/run_slots.h"
#include "device/adapters/comms_datalog_device.h"
#include "eprom/eprom_image.h"
#include "monitor/monitor_record.h"
#include "platform/messages.h"

#include <charconv>
#include <cmath>
#include <map>
#include <ostream>

namespace kv {

namespace {

// Half a hundredth of a second: the time column's resolution.
constexpr double kTimeTolerance = 0.005;
// How long after the end the records of its last moments are waited for.
constexpr std::int64_t kLastRecordsWaitMs = 2000;

void LogRecordUsage(std::ostream& err) {
    err << "usage: kestrovane-cli [global options] log record --seconds N --vars KEY,KEY,... [--rate 5|10|20]\n"
           "                      [--trigger None|WOT|RPM] [--fuel FILE] [--ignition FILE] -o RUN.txt\n"
           "Records N seconds of samples (rate x N rows) and saves the run as RUN.txt (runs continued\n"
           "after 10000 rows as RUN-2.txt, RUN-3.txt, ...). Prints, per saved run, \"saved: PATH\" and\n"
           "\"rows: N\", then \"records dropped: N\" (damaged records). A device that stops answering\n"
           "is a failure (exit 1); what was recorded is saved all the same.\n"
           "Without --fuel / --ignition the images are read from the running units' modules.\n";
}

int Fail(CliIo io, const std::string& message) {
    io.err << message << "\n";
    return kExitFailure;
}

// The runs of one recording, kept in memory until they are saved.
class CliRunSet final : public RunSlots {
public:
    int AllocateRun() override {
        if (static_cast<int>(open_.size()) >= kMaxRuns) return -1;
        const int id = next_++;
        open_.emplace(id, LogRun());
        return id;
    }
    void ReleaseRun(int id) override { open_.erase(id); }
    void RefreshRunTabs() override {}
    void SetRunHeaders(int id, std::vector<std::string> headers) override {
        open_.at(id).SetHeaders(std::move(headers));
    }
    void AppendRunRow(int id, const std::vector<std::string>& cells) override { open_.at(id).AppendRow(cells); }
    int RunRowCount(int id) const override { return open_.at(id).RowCount(); }
    const std::map<int, LogRun>& Runs() const { return open_; }
    // Removes the rows of the last run timed after `seconds` (the records of the last tick that
    // came after the recording's end).
    void CutAfter(double seconds) {
        if (open_.empty()) return;
        LogRun& last = open_.rbegin()->second;
        int keep = last.RowCount();
        while (keep > 0 && last.Value(keep - 1, 0) > seconds + kTimeTolerance) --keep;
        last.RemoveRows(keep, last.RowCount() - keep);
    }

private:
    std::map<int, LogRun> open_;
    int next_ = 0;
};

// The device's data-logging operations, noting whether the device answered the last keep-alive.
class WatchedDataLogDevice final : public DataLogDevice {
public:
    explicit WatchedDataLogDevice(DataLogDevice& device) : device_(device) {}
    bool IsIgnitionOn() override { return device_.IsIgnitionOn(); }
    bool DataLog_Configure(const std::vector<int>& a, const std::vector<int>& s) override {
        return device_.DataLog_Configure(a, s);
    }
    bool DataLog_SetRate(int periodMs) override { return device_.DataLog_SetRate(periodMs); }
    bool DataLog_StartDeviceLogging() override { return device_.DataLog_StartDeviceLogging(); }
    bool DataLog_StopDeviceLogging() override { return device_.DataLog_StopDeviceLogging(); }
    bool DataLog_KeepAlive() override {
        answered_ = device_.DataLog_KeepAlive();
        return answered_;
    }
    std::vector<std::uint8_t> DataLog_Download() override { return device_.DataLog_Download(); }
    std::optional<std::int32_t> ReadEcuRam(int kind, int address, int n) override {
        return device_.ReadEcuRam(kind, address, n);
    }
    std::optional<std::int32_t> ReadAuxInput(int channel) override { return device_.ReadAuxInput(channel); }
    std::int32_t ReadRpmPeriod() override { return device_.ReadRpmPeriod(); }
    bool SetAuxInputFilter(int channel, int coefficient) override {
        return device_.SetAuxInputFilter(channel, coefficient);
    }
    bool RamByteOrderFlag() const override { return device_.RamByteOrderFlag(); }
    // The last keep-alive went unanswered.
    bool Lost() const { return !answered_; }

private:
    DataLogDevice& device_;
    bool answered_ = true;
};

// Messages of the recording go to standard error; the last one is kept.
class CliMessages final : public UserMessages {
public:
    explicit CliMessages(std::ostream& err) : err_(err) {}
    MsgResult MessageBox(const std::string& text, const std::string&, MsgButtons, MsgIcon) override {
        err_ << text << "\n";
        last = text;
        return MsgResult::OK;
    }
    std::optional<std::string> InputBox(const std::string&, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    std::string last;

private:
    std::ostream& err_;
};

// RUN.txt, RUN-2.txt, ...
std::string RunPath(const std::string& path, int index) {
    if (index == 0) return path;
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    const std::string suffix = "-" + std::to_string(index + 1);
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path + suffix;
    return path.substr(0, dot) + suffix + path.substr(dot);
}

// The images the units run: the given file, else what the unit's module holds (an empty image
// when it cannot be read, with the reason noted).
std::string LoadImage(EPROM& image, const std::string& file, int unit, DeviceSession& s, CliIo io) {
    if (!file.empty()) {
        if (std::string m = image.LoadFromFile(file); !m.empty()) return m + ": " + file;
        return {};
    }
    s.context.deviceIO = false;
    if (std::string m = image.LoadFromECU_Running(unit); !m.empty()) {
        io.err << "The " << (unit == 1 ? "fuel" : "ignition") << " module was not read (" << m
               << "); its unit's variables cannot be logged\n";
        image = EPROM(s.context);
    }
    return {};
}

} // namespace

int RunLogRecordCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
    std::string seconds, vars, rate = "10", trigger = "None", fuelFile, ignitionFile, out;
    for (std::size_t i = 1; i < args.size(); ++i) {
        std::string* into = args[i] == "--seconds"    ? &seconds
                            : args[i] == "--vars"     ? &vars
                            : args[i] == "--rate"     ? &rate
                            : args[i] == "--trigger"  ? &trigger
                            : args[i] == "--fuel"     ? &fuelFile
                            : args[i] == "--ignition" ? &ignitionFile
                            : args[i] == "-o"         ? &out
                                                      : nullptr;
        if (!into || i + 1 >= args.size()) {
            LogRecordUsage(io.err);
            return kExitUsage;
        }
        *into = args[++i];
    }
    double duration = 0;
    const auto [ptr, ec] = std::from_chars(seconds.data(), seconds.data() + seconds.size(), duration);
    const auto rates = LogRateTexts();
    const auto rateIt = std::find(rates.begin(), rates.end(), rate);
    const std::optional<LogTrigger> triggerOption = LogTriggerFromTag(trigger);
    if (args.empty() || args[0] != "record" || seconds.empty() || ec != std::errc{} ||
        ptr != seconds.data() + seconds.size() || !(duration > 0) || vars.empty() || out.empty() ||
        rateIt == rates.end() || !triggerOption) {
        LogRecordUsage(io.err);
        return kExitUsage;
    }

    DeviceSession s;
    if (std::string m = MakeDeviceSession(options, io, s); !m.empty()) return Fail(io, m);
    EPROM fuel(s.context), ignition(s.context);
    if (std::string m = LoadImage(fuel, fuelFile, 1, s, io); !m.empty()) return Fail(io, m);
    if (std::string m = LoadImage(ignition, ignitionFile, 2, s, io); !m.empty()) return Fail(io, m);
    s.context.deviceIO = false;
    // Multi-byte RAM values in the order of the units' creator, as after loading the images.
    const EPROM& decides = fuel.GetECUType() != EcuType::Unknown ? fuel : ignition;
    s.comms->SetRamByteOrderFlag(decides.GetCreator() != 2);

    AuxInputs aux;
    LogSetup setup;
    setup.SetupLogVariables("", ignition, aux);
    static constexpr const char* kFuelCommands[] = {"", "LH", "", "LH22", ""};
    static constexpr const char* kIgnitionCommands[] = {"", "", "EZK", "", "EZF"};
    for (const char* command :
         {kFuelCommands[EcuTypeCode(fuel.GetECUType())], kIgnitionCommands[EcuTypeCode(ignition.GetECUType())]})
        if (*command != '\0') setup.SetupLogVariables(command, ignition, aux);
    std::size_t start = 0;
    while (start <= vars.size()) {
        const std::size_t comma = std::min(vars.find(',', start), vars.size());
        const std::string key = vars.substr(start, comma - start);
        start = comma + 1;
        int slot = -1;
        for (int k = 0; k < kLogSlotCount; ++k)
            if (!setup.Slots()[static_cast<std::size_t>(k)].caption.empty() &&
                setup.Slots()[static_cast<std::size_t>(k)].key == key)
                slot = k;
        if (slot < 0) return Fail(io, "No variable " + key + " for the loaded units");
        setup.OnVariableChecked(slot, true);
    }
    setup.FillRateList();
    setup.OnRateChanged(static_cast<int>(rateIt - rates.begin()));
    setup.SetTrigger(*triggerOption);

    CommsDataLogDevice commsDevice(*s.comms);
    WatchedDataLogDevice device(commsDevice);
    CliRunSet runs;
    CliMessages messages(io.err);
    LogRecorder recorder(setup, aux, device, runs, messages, *s.clock);
    recorder.ToggleLogging(fuel, ignition);
    if (recorder.State() == LogState::Stopped) return KeepSimulatedState(kExitFailure, options, s, io);

    // Until the records cover the duration; the wall clock bounds the wait (a trigger that
    // pauses, a device that stops answering).
    const std::int64_t deadline =
        s.clock->NowMs() + static_cast<std::int64_t>(std::llround(duration * 1000.0)) + kLastRecordsWaitMs;
    while (s.clock->NowMs() < deadline && recorder.State() != LogState::Stopped &&
           recorder.RunTime() < duration - kTimeTolerance) {
        s.clock->SleepMs(setup.TimerIntervalMs());
        recorder.DataLogTimerTick(fuel, ignition);
    }
    const bool lost = device.Lost();
    if (recorder.State() != LogState::Stopped) recorder.ToggleLogging(fuel, ignition);
    runs.CutAfter(duration);

    int result = kExitOk;
    int index = 0;
    for (const auto& [id, run] : runs.Runs()) {
        // A continued run whose every row came after the end holds nothing to save.
        if (index > 0 && run.RowCount() == 0) continue;
        const std::string path = RunPath(out, index++);
        if (std::string m = SaveRunFile(path, run); !m.empty()) {
            result = Fail(io, m + ": " + path);
            break;
        }
        io.out << "saved: " << path << "\n"
               << "rows: " << run.RowCount() << "\n";
    }
    io.out << DroppedRecordsText(recorder.Controls().droppedRecords) << "\n";
    if (lost) {
        io.err << "The device stopped answering; the run holds " << FormatNumber(recorder.RunTime(), "0.00")
               << " s of the " << seconds << " s asked for\n";
        result = kExitFailure;
    }
    return KeepSimulatedState(result, options, s, io);
}

} // namespace kv
