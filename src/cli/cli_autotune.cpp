// `autotune`: live autotune of a base fuel map on the simulated car, driven on simulated time.
// The image is loaded into the car's LH module, the fuel trace runs every 100 ms of the drive and
// hands its records to the autotune, and the tuned image (with the unit's settings put back as
// they were) is saved.
#include "autotune/autotune.h"
#include "autotune/autotune_drive.h"
#include "autotune/autotune_offline.h"
#include "auxinputs/aux_inputs.h"
#include "cli/cli.h"
#include "cli/cli_maps_common.h"
#include "cli/cli_session.h"
#include "datalog/run_file.h"
#include "device/adapters/comms_trace_device.h"
#include "maps/map_trace.h"
#include "platform/file_io.h"
#include "platform/settings_store.h"

#include "monitor/conversions.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

namespace kv {

namespace {

constexpr const char* kNotSimulated =
    "autotune drives the simulated car only: add --simulate (a real car is not driven from a script)";

void AutotuneUsage(std::ostream& err) {
    err << "usage: kestrovane-cli --simulate [device options] autotune IN -o OUT [--map NAME] [--seconds N]\n"
           "                      [--zones idle,cruise,wot] [--target-idle A] [--target-cruise A] [--target-wot A]\n"
           "                      [--error E] [--drive road|dyno] [--drive-seed N]\n"
           "       kestrovane-cli autotune --from-log RUN.txt IN -o OUT [--map NAME] [--zones idle,cruise,wot]\n"
           "                      [--target-idle A] [--target-cruise A] [--target-wot A] [--error E] [--delay S]\n";
}

// The ranges of the targets and the error, as the window clamps them.
constexpr double kLowestTarget = 9.0, kHighestTarget = 17.0;
constexpr double kLeastError = 0.05, kMostError = 1.0;
constexpr double kLongestDelay = 5.0;

int Fail(CliIo io, const std::string& message) {
    io.err << message << "\n";
    return kExitFailure;
}

// The settings of one run: the command line's, never the user's.
class RunSettings final : public SettingsStore {
public:
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        auto it = values_.find(section + "/" + key);
        return it == values_.end() ? defaultValue : it->second;
    }
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
        values_[section + "/" + key] = value;
    }

private:
    std::map<std::string, std::string> values_;
};

// No window: the fuel map "tab" is always the one on show.
class HeadlessHost final : public AutotuneHost {
public:
    bool FuelMapTabSelected() override { return true; }
    void SetMapSelectorEnabled(bool) override {}
    void ResetOperatingPointMarker(TableEditor& editor) override { editor.SetOperatingPointControls(nullptr, nullptr); }
    void RunningChanged(bool) override {} // no undo history here
};

struct AutotuneArgs {
    std::string in;
    std::string out;
    std::string map;
    std::string drive;
    std::string driveSeed;
    std::string fromLog;
    std::string delay;
    long seconds = 600;
    std::array<bool, kAutotuneZoneCount> zones{true, true, true};
    std::array<std::string, kAutotuneZoneCount> targets;
    std::string error;
};

// A plain number: digits with at most one decimal point among or after them, nothing else (no
// sign, exponent, blank, "nan" or "inf"); its value, or nullopt.
std::optional<double> PlainNumber(const std::string& t) {
    bool digit = false;
    int points = 0;
    for (char c : t) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (c == '.')
            ++points;
        else
            return std::nullopt;
    }
    if (!digit || points > 1) return std::nullopt;
    return std::strtod(t.c_str(), nullptr);
}

// The problem with a target or error given as `value` for option `key`, or empty.
std::string NumberProblem(const std::string& key, const std::string& value) {
    const bool error = key == "--error", delay = key == "--delay";
    const double low = delay ? 0.0 : error ? kLeastError : kLowestTarget;
    const double high = delay ? kLongestDelay : error ? kMostError : kHighestTarget;
    const std::optional<double> v = PlainNumber(value);
    if (v && *v >= low && *v <= high) return {};
    std::ostringstream m;
    m << key << " takes a plain number from " << BandText(static_cast<float>(low)) << " to "
      << BandText(static_cast<float>(high)) << ", not \"" << value << "\"";
    return m.str();
}

// Whether `path` can take the tuned image: not a folder, in a folder that exists. Empty when
// it can, else why not. Nothing is created.
std::string OutputProblem(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (fs::is_directory(PathFromUtf8(path), ec)) return "Cannot write " + path + ": it is a folder";
    const fs::path parent = PathFromUtf8(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, ec))
        return "Cannot write " + path + ": no folder " + PathToUtf8(parent);
    return {};
}

// Reads the command's words into `a`; the problem with them, or empty.
std::string ParseArgs(const std::vector<std::string>& args, AutotuneArgs& a) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& k = args[i];
        const bool takesValue = k == "-o" || k == "--map" || k == "--seconds" || k == "--zones" ||
                                k == "--target-idle" || k == "--target-cruise" || k == "--target-wot" ||
                                k == "--error" || k == "--drive" || k == "--drive-seed" || k == "--from-log" ||
                                k == "--delay";
        if (!takesValue) {
            if (k.rfind("--", 0) == 0) return "unknown option " + k;
            positional.push_back(k);
            continue;
        }
        if (i + 1 >= args.size()) return k + " needs a value";
        const std::string& v = args[++i];
        if (k == "-o") {
            a.out = v;
        } else if (k == "--map") {
            a.map = v;
        } else if (k == "--from-log") {
            a.fromLog = v;
        } else if (k == "--delay") {
            a.delay = v;
        } else if (k == "--drive") {
            a.drive = v;
        } else if (k == "--drive-seed") {
            a.driveSeed = v;
        } else if (k == "--seconds") {
            char* end = nullptr;
            errno = 0;
            const long n = std::strtol(v.c_str(), &end, 10);
            if (v.empty() || errno != 0 || end != v.c_str() + v.size() || n < 1 || n > 24 * 3600)
                return "--seconds takes a whole number of seconds from 1 to 86400";
            a.seconds = n;
        } else if (k == "--zones") {
            a.zones = {false, false, false};
            std::stringstream list(v);
            std::string zone;
            while (std::getline(list, zone, ',')) {
                if (zone == "idle")
                    a.zones[0] = true;
                else if (zone == "cruise")
                    a.zones[1] = true;
                else if (zone == "wot")
                    a.zones[2] = true;
                else
                    return "--zones takes idle, cruise and wot separated by commas, not \"" + zone + "\"";
            }
        } else {
            if (k == "--error")
                a.error = v;
            else
                a.targets[k == "--target-idle" ? 0 : k == "--target-cruise" ? 1 : 2] = v;
        }
    }
    if (positional.size() != 1 || a.out.empty()) return "autotune takes one image IN and -o OUT";
    a.in = positional[0];
    return {};
}

// The counts a tuning prints, from the colours of the grid.
void PrintCounts(std::ostream& out, TableEditor& editor, int visited, const AutotuneGuardCounts& dropped,
                 const std::vector<float>& judgedErrors) {
    std::map<CellState, int> count;
    for (int row = 0; row < editor.GetYAxisSize(); ++row)
        for (int col = 0; col < editor.GetXAxisSize(); ++col)
            if (auto s = CellStateOfColour(editor.GetCellColor(row, col))) ++count[*s];
    out << "visited: " << visited << "\n"
        << "tuned: " << count[CellState::Tuned] << "\n"
        << "lean: " << count[CellState::Lean] << "\n"
        << "rich: " << count[CellState::Rich] << "\n"
        << "forbidden: " << count[CellState::Forbidden] << "\n"
        << "dropped: " << dropped.Total() << "\n"
        << "mean_error_start: " << conv::FormatFixed(MeanOfTenth(judgedErrors, false), 3) << "\n"
        << "mean_error_end: " << conv::FormatFixed(MeanOfTenth(judgedErrors, true), 3) << "\n";
}

// --from-log: the map of IN tuned at the desk from a recorded run; no device.
int TuneFromLog(const AutotuneArgs& a, CliIo io) {
    if (std::string m = OutputProblem(a.out); !m.empty()) return Fail(io, m);
    EpromContext context;
    context.deviceIO = false;
    EPROM image(context);
    if (!cli_maps::LoadImage(image, context, a.in, io.err)) return kExitFailure;
    const EcuType type = image.GetECUType();
    if (type != EcuType::LH23 && type != EcuType::LH22)
        return Fail(io, a.in + " is not an LH 2.3 or LH 2.2 image: only base fuel maps are tuned");
    std::string mapName = a.map;
    if (mapName.empty()) {
        // The map the image's configuration selects (the cat set unless it picks the other).
        const bool nonCat =
            type == EcuType::LH23 && image.GetCreator() != 2 && (image.ReadByte(image.GetEPROMAddress(9)) & 3) == 1;
        mapName = type == EcuType::LH22     ? "Base fuel map"
                  : image.GetCreator() == 2 ? "Base fuel map "
                  : nonCat                  ? "Base fuel map (non-cat)"
                                            : "Base fuel map (cat)";
    }
    const MapDefinition* definition = cli_maps::ListedMap(image, mapName);
    if (definition == nullptr) return Fail(io, "The image has no map \"" + mapName + "\"");
    if (!IsBaseFuelMap(mapName)) return Fail(io, "Only the base fuel maps can be auto-tuned.");
    const Parsed<LoadedRunFile> run = LoadRunFile(a.fromLog);
    if (!run) return Fail(io, a.fromLog + ": " + run.Error());

    OfflineTuneOptions o;
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        static constexpr std::array<const char*, kAutotuneZoneCount> kDefaultTargets{"14.7", "14.7", "12.0"};
        const int zone = static_cast<int>(i);
        const bool forced = CatMapForcesZone(mapName, zone);
        const std::string target = forced ? "14.7" : a.targets[i].empty() ? kDefaultTargets[i] : a.targets[i];
        const std::string error = forced || a.error.empty() ? "0.1" : a.error;
        o.bands[i] = ClampBand(target, error);
        o.enabled[i] = a.zones[i];
    }
    if (!a.delay.empty()) o.delayS = std::strtod(a.delay.c_str(), nullptr);
    const AuxInputs aux; // the wide-band input's own law
    o.afrLowEnd = std::min(aux.AfrFromAux(0), aux.AfrFromAux(65535));
    o.afrHighEnd = std::max(aux.AfrFromAux(0), aux.AfrFromAux(65535));
    cli_maps::RenderedMap shown(image, *definition);
    const Parsed<OfflineTuneResult> tuned = TuneFromRun(run->run, shown.editor, type, o);
    if (!tuned) return Fail(io, a.fromLog + ": " + tuned.Error());
    if (!image.SaveToFile(a.out)) return Fail(io, "Failed to save file " + a.out + ": " + image.LastSaveError());
    PrintCounts(io.out, shown.editor, tuned->visited, tuned->dropped, tuned->judgedErrors);
    return kExitOk;
}

} // namespace

int RunAutotuneCommand(const std::vector<std::string>& args, const CliOptions& cliOptions, CliIo io) {
    AutotuneArgs a;
    if (const std::string problem = ParseArgs(args, a); !problem.empty()) {
        io.err << problem << "\n";
        AutotuneUsage(io.err);
        return kExitUsage;
    }
    // Targets and errors out of range or not plain numbers are refused, not clamped: a script
    // that asks for something else than it gets must hear so.
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        static constexpr std::array<const char*, kAutotuneZoneCount> kKeys{"--target-idle", "--target-cruise",
                                                                           "--target-wot"};
        if (a.targets[i].empty()) continue;
        if (std::string m = NumberProblem(kKeys[i], a.targets[i]); !m.empty()) return Fail(io, m);
    }
    if (!a.error.empty())
        if (std::string m = NumberProblem("--error", a.error); !m.empty()) return Fail(io, m);
    if (!a.delay.empty())
        if (std::string m = NumberProblem("--delay", a.delay); !m.empty()) return Fail(io, m);
    if (!a.fromLog.empty()) return TuneFromLog(a, io);
    if (!cliOptions.simulate) return Fail(io, kNotSimulated);
    CliOptions options = cliOptions;
    if (!a.drive.empty()) options.simDrive = a.drive;
    if (!a.driveSeed.empty()) options.simDriveSeed = a.driveSeed;
    if (std::string m = OutputProblem(a.out); !m.empty()) return Fail(io, m);

    DeviceSession session;
    if (std::string m = MakeDeviceSession(options, io, session); !m.empty()) return Fail(io, m);
    auto image = std::make_unique<EPROM>(session.context);
    session.context.deviceIO = false;
    if (!cli_maps::LoadImage(*image, session.context, a.in, io.err)) return kExitFailure;
    if (image->GetECUType() != EcuType::LH23)
        return Fail(io, "The simulated car runs an LH 2.3 unit: " + a.in + " is not an LH 2.3 image");
    // A map asked for by name is checked before the car gets the image.
    if (!a.map.empty()) {
        if (cli_maps::ListedMap(*image, a.map) == nullptr) return Fail(io, "The image has no map \"" + a.map + "\"");
        if (!IsBaseFuelMap(a.map)) return Fail(io, "Only the base fuel maps can be auto-tuned.");
    }
    session.comms->SetRamByteOrderFlag(session.context.wordBigEndian);
    if (!session.connection->CheckDeviceOrExplain(*session.messages)) return kExitFailure;
    // The car runs the image from here on.
    session.context.deviceIO = true;
    if (std::string m = image->LoadToEmulator(); !m.empty()) return Fail(io, m);

    CommsTraceDevice traceDevice(*session.comms);
    std::string mapName = a.map;
    if (mapName.empty()) {
        // The base fuel map the unit runs.
        mapName = image->GetCreator() == 2                   ? "Base fuel map "
                  : traceDevice.LH_GetMapSetSelector(*image) ? "Base fuel map (cat)"
                                                             : "Base fuel map (non-cat)";
    }
    const MapDefinition* definition = cli_maps::ListedMap(*image, mapName);
    if (definition == nullptr) return Fail(io, "The image has no map \"" + mapName + "\"");

    cli_maps::RenderedMap shown(*image, *definition);
    RunSettings settings;
    for (std::size_t i = 0; i < kAutotuneZoneCount; ++i) {
        const std::string n = std::to_string(i);
        settings.SaveSetting(kAutotuneSettingsSection, "Enable_" + n, a.zones[i] ? "1" : "0");
        if (!a.targets[i].empty()) settings.SaveSetting(kAutotuneSettingsSection, "TargetAFR_" + n, a.targets[i]);
        if (!a.error.empty()) settings.SaveSetting(kAutotuneSettingsSection, "TargetAFRError_" + n, a.error);
    }
    HeadlessHost host;
    Autotune tune(*session.messages, settings, host, *session.clock);
    if (!tune.Open(shown.editor, *image, mapName)) return kExitFailure;

    AuxInputs aux; // the wide-band input's own law
    MapTrace trace(traceDevice, aux, *session.clock);
    if (!trace.Configure(MapTab::Fuel, *image)) return Fail(io, "The device did not take the record layout");
    tune.Start(); // corrections reach the running unit at once
    DriveAutotune(tune, trace, shown.editor, *session.clock, a.seconds * 1000);
    tune.Stop();
    session.context.deviceIO = false;

    int result = kExitOk;
    if (!image->SaveToFile(a.out))
        result = Fail(io, "Failed to save file " + a.out + ": " + image->LastSaveError());
    else
        PrintCounts(io.out, shown.editor, tune.VisitedCells(), tune.Dropped(), tune.JudgedErrors());
    tune.Close();
    return KeepSimulatedState(result, options, session, io);
}

} // namespace kv
