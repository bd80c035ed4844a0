// `autotune`: live autotune of a base fuel map on the simulated car, driven on simulated time.
// The image is loaded into the car's LH module, the fuel trace runs every 100 ms of the drive and
// hands its records to the autotune, and the tuned image (with the unit's settings put back as
// they were) is saved.
#include "autotune/autotune.h"
#include "autotune/autotune_drive.h"
#include "auxinputs/aux_inputs.h"
#include "cli/cli.h"
#include "cli/cli_maps_common.h"
#include "cli/cli_session.h"
#include "device/adapters/comms_trace_device.h"
#include "maps/map_trace.h"
#include "platform/settings_store.h"

#include <array>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <sstream>

namespace kv {

namespace {

constexpr const char* kNotSimulated =
    "autotune drives the simulated car only: add --simulate (a real car is not driven from a script)";

void AutotuneUsage(std::ostream& err) {
    err << "usage: kestrovane-cli --simulate [device options] autotune IN -o OUT [--map NAME] [--seconds N]\n"
           "                      [--zones idle,cruise,wot] [--target-idle A] [--target-cruise A] [--target-wot A]\n"
           "                      [--error E]\n";
}

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
    long seconds = 600;
    std::array<bool, kAutotuneZoneCount> zones{true, true, true};
    std::array<std::string, kAutotuneZoneCount> targets;
    std::string error;
};

bool IsNumberText(const std::string& t) {
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    std::strtod(t.c_str(), &end);
    return errno == 0 && end == t.c_str() + t.size();
}

// Reads the command's words into `a`; the problem with them, or empty.
std::string ParseArgs(const std::vector<std::string>& args, AutotuneArgs& a) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& k = args[i];
        const bool takesValue = k == "-o" || k == "--map" || k == "--seconds" || k == "--zones" ||
                                k == "--target-idle" || k == "--target-cruise" || k == "--target-wot" || k == "--error";
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
            if (!IsNumberText(v)) return k + " takes a number, not \"" + v + "\"";
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

} // namespace

int RunAutotuneCommand(const std::vector<std::string>& args, const CliOptions& options, CliIo io) {
    AutotuneArgs a;
    if (const std::string problem = ParseArgs(args, a); !problem.empty()) {
        io.err << problem << "\n";
        AutotuneUsage(io.err);
        return kExitUsage;
    }
    if (!options.simulate) return Fail(io, kNotSimulated);

    DeviceSession session;
    if (std::string m = MakeDeviceSession(options, io, session); !m.empty()) return Fail(io, m);
    auto image = std::make_unique<EPROM>(session.context);
    session.context.deviceIO = false;
    if (!cli_maps::LoadImage(*image, session.context, a.in, io.err)) return kExitFailure;
    if (image->GetECUType() != EcuType::LH23)
        return Fail(io, "The simulated car runs an LH 2.3 unit: " + a.in + " is not an LH 2.3 image");
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
    Autotune tune(*session.messages, settings, host);
    if (!tune.Open(shown.editor, *image, mapName)) return kExitFailure;

    AuxInputs aux; // the wide-band input's own law
    MapTrace trace(traceDevice, aux, *session.clock);
    if (!trace.Configure(MapTab::Fuel, *image)) return Fail(io, "The device did not take the record layout");
    tune.Start(); // corrections reach the running unit at once
    DriveAutotune(tune, trace, shown.editor, *session.clock, a.seconds * 1000);
    tune.Stop();
    session.context.deviceIO = false;

    std::map<CellState, int> count;
    for (int row = 0; row < shown.editor.GetYAxisSize(); ++row)
        for (int col = 0; col < shown.editor.GetXAxisSize(); ++col)
            if (auto s = CellStateOfColour(shown.editor.GetCellColor(row, col))) ++count[*s];
    int result = kExitOk;
    if (!image->SaveToFile(a.out)) {
        result = Fail(io, "Failed to save file " + a.out + ": " + image->LastSaveError());
    } else {
        io.out << "visited: " << tune.VisitedCells() << "\n"
               << "tuned: " << count[CellState::Tuned] << "\n"
               << "lean: " << count[CellState::Lean] << "\n"
               << "rich: " << count[CellState::Rich] << "\n"
               << "forbidden: " << count[CellState::Forbidden] << "\n"
               << "dropped: " << tune.Dropped().Total() << "\n";
    }
    tune.Close();
    return KeepSimulatedState(result, options, session, io);
}

} // namespace kv
