// `autotune` on the simulated car: what it refuses, what it prints, and the tuned image it saves.
#include "cli_run.h"
#include "datalog/log_catalogue.h"
#include "datalog/run_file.h"
#include "eprom/eprom_image.h"
#include "fakes.h"
#include "monitor/conversions.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace kv {

namespace {

class CliAutotune : public CliFileTest {
protected:
    static std::map<std::string, int> Counts(const std::string& out) {
        std::map<std::string, int> m;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            const auto colon = line.find(": ");
            if (colon != std::string::npos) m[line.substr(0, colon)] = std::stoi(line.substr(colon + 2));
        }
        return m;
    }
};

TEST_F(CliAutotune, RefusesToDriveARealCarAndBadWords) {
    const std::string in = New("MRX_D");
    const CliRun real = Cli({"autotune", in, "-o", Path("out.bin")});
    EXPECT_EQ(real.code, kExitFailure);
    EXPECT_NE(real.err.find("simulated car only"), std::string::npos) << real.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
    struct Case {
        std::vector<std::string> words;
        const char* says;
    };
    for (const Case& c :
         {Case{{"autotune", in}, "-o OUT"}, Case{{"autotune", in, "-o", "x", "--seconds", "0"}, "--seconds"},
          Case{{"autotune", in, "-o", "x", "--zones", "idle,track"}, "track"},
          Case{{"autotune", in, "-o", "x", "--speed", "1"}, "--speed"}}) {
        std::vector<std::string> args{"--simulate"};
        args.insert(args.end(), c.words.begin(), c.words.end());
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, kExitUsage) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    }
    const CliRun badDrive = Cli({"--simulate", "autotune", in, "-o", Path("out.bin"), "--drive", "track"});
    EXPECT_EQ(badDrive.code, kExitFailure);
    EXPECT_NE(badDrive.err.find("road or dyno"), std::string::npos) << badDrive.err;
    const CliRun ignition = Cli({"--simulate", "autotune", New("EZK_D-S4"), "-o", Path("out.bin")});
    EXPECT_EQ(ignition.code, kExitFailure);
    EXPECT_NE(ignition.err.find("not an LH 2.3 image"), std::string::npos) << ignition.err;
    const CliRun noMap = Cli({"--simulate", "autotune", in, "-o", Path("out.bin"), "--map", "Cranking fuel map"});
    EXPECT_EQ(noMap.code, kExitFailure);
    EXPECT_NE(noMap.err.find("Only the base fuel maps can be auto-tuned."), std::string::npos) << noMap.err;
    EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
}

// A target or error that is not a plain number within its range is refused before anything
// happens: exit 1, a message naming the option and its range, nothing written, nothing loaded into
// the car. So are a map that cannot be tuned and an output that cannot be written.
TEST_F(CliAutotune, RefusesJunkTargetsErrorsMapsAndOutputsBeforeTouchingTheCar) {
    const std::string state = WarmCar();
    const std::vector<std::uint8_t> car = ReadFileBytes(state);
    const std::string in = New("MRX_D");
    struct Case {
        std::vector<std::string> words;
        const char* says;
    };
    std::vector<Case> cases;
    for (const char* junk : {"1e9", "-1", "nan", "inf", "+14", "14,7", "8.9", "17.1", " 14", "1.2.3", "rich", "."})
        cases.push_back({{"--target-wot", junk}, "--target-wot takes a plain number from 9.0 to 17.0"});
    cases.push_back({{"--target-idle", "0x10"}, "--target-idle takes a plain number from 9.0 to 17.0"});
    cases.push_back({{"--target-cruise", "18"}, "--target-cruise takes a plain number from 9.0 to 17.0"});
    for (const char* junk : {"0", "0.04", "1.5", "-0.1", "1e-1", "nan"})
        cases.push_back({{"--error", junk}, "--error takes a plain number from 0.05 to 1.0"});
    cases.push_back({{"--map", "Cranking fuel map"}, "Only the base fuel maps can be auto-tuned."});
    cases.push_back({{"--map", "No such map"}, "no map \"No such map\""});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.front() + " " + c.words.back());
        std::vector<std::string> args{"--simulate", "--sim-state", state, "autotune", in, "-o", Path("out.bin")};
        args.insert(args.end(), c.words.begin(), c.words.end());
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, kExitFailure);
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_FALSE(std::filesystem::exists(Path("out.bin")));
        EXPECT_EQ(ReadFileBytes(state), car) << "nothing was loaded into the car";
    }
    for (const std::string& out : {Path("missing/out.bin"), dir.string()}) {
        SCOPED_TRACE(out);
        const CliRun r = Cli({"--simulate", "--sim-state", state, "autotune", in, "-o", out});
        EXPECT_EQ(r.code, kExitFailure);
        EXPECT_NE(r.err.find("Cannot write " + out), std::string::npos) << r.err;
        EXPECT_EQ(ReadFileBytes(state), car) << "nothing was loaded into the car";
    }
    // Plain numbers at the ends of the ranges are taken.
    const CliRun edges =
        Cli({"--simulate", "--sim-state", state, "autotune", in, "-o", Path("out.bin"), "--seconds", "1",
             "--target-idle", "9", "--target-cruise", "17.0", "--target-wot", "12.", "--error", ".05"});
    EXPECT_EQ(edges.code, kExitOk) << edges.err;
}

TEST_F(CliAutotune, TunesTheMapTheCarRunsAndPutsTheUnitsSettingsBack) {
    const std::string state = WarmCar();
    const std::string in = New("MRX_D");
    const std::string out = Path("tuned.bin");
    const CliRun r = Cli({"--simulate", "--sim-state", state, "autotune", in, "-o", out, "--seconds", "120"});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const auto n = Counts(r.out);
    for (const char* key :
         {"visited", "tuned", "lean", "rich", "forbidden", "dropped", "mean_error_start", "mean_error_end"})
        EXPECT_EQ(n.count(key), 1u) << key;
    EXPECT_GE(n.at("visited"), n.at("tuned") + n.at("lean") + n.at("rich"))
        << "a visited cell is coloured once its evidence says so";
    EXPECT_GT(n.at("tuned"), 10);
    EXPECT_EQ(n.at("forbidden"), 0);
    EXPECT_GT(n.at("dropped"), 0) << "fuel cuts and the sensor's warm-up";

    EPROM before, after;
    ASSERT_EQ(before.LoadFromFile(in), "");
    ASSERT_EQ(after.LoadFromFile(out), "");
    int changed = 0;
    for (std::size_t i = 0; i < before.Bytes().size(); ++i) {
        if (before.Bytes()[i] == after.Bytes()[i]) continue;
        const auto a = static_cast<std::int32_t>(i);
        EXPECT_TRUE(a >= after.GetMapAddr(1) && a < after.GetMapAddr(1) + 256) << "only the cat map changes: " << a;
        ++changed;
    }
    EXPECT_GT(changed, 10);
}

TEST_F(CliAutotune, AColdEngineAndDisabledZonesLeaveTheirCellsAlone) {
    const std::string in = New("MRX_D");
    // A cold car: the first two minutes are all dropped by the warm-engine guard.
    const CliRun cold = Cli({"--simulate", "autotune", in, "-o", Path("cold.bin"), "--seconds", "120"});
    ASSERT_EQ(cold.code, kExitOk) << cold.err;
    EXPECT_EQ(Counts(cold.out).at("visited"), 0);
    EXPECT_EQ(ReadFileBytes(Path("cold.bin")), ReadFileBytes(in));
    const std::string state = WarmCar();
    const CliRun wot = Cli({"--simulate", "--sim-state", state, "autotune", in, "-o", Path("wot.bin"), "--seconds",
                            "120", "--zones", "wot", "--target-wot", "12.5", "--drive", "dyno"});
    ASSERT_EQ(wot.code, kExitOk) << wot.err;
    const auto n = Counts(wot.out);
    EXPECT_GT(n.at("visited"), 0);
    EPROM tuned;
    ASSERT_EQ(tuned.LoadFromFile(Path("wot.bin")), "");
    EPROM base;
    ASSERT_EQ(base.LoadFromFile(in), "");
    for (int y = 0; y < 15; ++y) // on the dyno only the full-load row is driven at full throttle
        for (int x = 0; x < 16; ++x) EXPECT_EQ(tuned.ReadMapCell(1, x, y), base.ReadMapCell(1, x, y)) << x << "," << y;
}

// The mixture the simulated engine burns at every cell's grid point with `image` in its unit,
// against the cruise target, for the cells `image` and `other` hold differently.
double MeanGridPointError(const EPROM& image, const EPROM& other) {
    FakeClock clock;
    auto car = MakeSimulatedBackend(SimOptions{}, clock);
    car->Device().Module(kSimLH).memory = image.Bytes();
    car->Device().MarkMemoryChanged();
    double sum = 0;
    int n = 0;
    for (int y = 0; y < 12; ++y) // part load: the rows below full load
        for (int x = 0; x < 16; ++x) {
            if (image.ReadMapCell(1, x, y) == other.ReadMapCell(1, x, y)) continue;
            const double rpm = conv::LH_RpmFromCode(image.LH_GetRPMAxisPoint(x));
            const double load = image.LH_GetMAFAxisPoint(y) / 250.0;
            sum += std::abs(car->Device().SteadyAirFuelRatioAt(rpm, load) - 14.7);
            ++n;
        }
    return n == 0 ? 0.0 : sum / n;
}

// A run recorded from the simulated road drive with a map 20 counts lean tunes it at the desk:
// the cells it changed run near the target on the car.
TEST_F(CliAutotune, TunesFromARecordedRoadRun) {
    const std::string state = WarmCar();
    EPROM lean;
    ASSERT_EQ(lean.LoadFromFile(New("MRX_D")), "");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) lean.WriteMapCell(1, x, y, lean.ReadMapCell(1, x, y) - 20);
    const std::string in = Path("lean.bin");
    ASSERT_TRUE(lean.SaveToFile(in));
    ASSERT_EQ(Cli({"--simulate", "--sim-state", state, "device", "load-pem", in}).code, kExitOk);
    const std::string run = Path("road.txt");
    const CliRun rec =
        Cli({"--simulate", "--sim-state", state, "--drive-seed", "7", "log", "record", "--seconds", "900", "--rate",
             "10", "--vars", "LH_RPM,LH_MAF,LH_AFR,LH_THROTTLE,LH_COOLANTC", "--fuel", in, "-o", run});
    ASSERT_EQ(rec.code, kExitOk) << rec.err;
    const std::string out = Path("tuned.bin");
    const CliRun r = Cli({"autotune", "--from-log", run, in, "-o", out});
    ASSERT_EQ(r.code, kExitOk) << r.err;
    const auto n = Counts(r.out);
    EXPECT_GT(n.at("visited"), 40);
    EXPECT_GT(n.at("lean"), 20) << "the map was lean";
    EPROM tuned;
    ASSERT_EQ(tuned.LoadFromFile(out), "");
    const double before = MeanGridPointError(lean, tuned);
    const double after = MeanGridPointError(tuned, lean);
    EXPECT_GT(before, 0.4);
    EXPECT_LT(after, 0.2) << "from " << before;

    // The same columns in another order give the same image; the cold guard's column may be
    // left out (the recorded car was warm).
    const Parsed<LoadedRunFile> loaded = LoadRunFile(run);
    ASSERT_TRUE(loaded);
    const LogRun& original = loaded->run;
    auto rewrite = [&](const std::vector<std::string>& headers, const std::string& path) {
        LogRun copy(headers);
        for (int row = 0; row < original.RowCount(); ++row) {
            std::vector<std::string> cells;
            for (const std::string& h : headers) {
                const auto at = std::find(original.Headers().begin(), original.Headers().end(), h);
                cells.emplace_back(original.Cell(row, static_cast<int>(at - original.Headers().begin())));
            }
            copy.AppendRow(cells);
        }
        ASSERT_EQ(SaveRunFile(path, copy), "");
    };
    rewrite({"A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)", "MAF signal",
             "Coolant temp [\xC2\xB0"
             "C]",
             "RPM", "Time [s]"},
            Path("reordered.txt"));
    ASSERT_EQ(Cli({"autotune", "--from-log", Path("reordered.txt"), in, "-o", Path("reordered.bin")}).code, kExitOk);
    EXPECT_EQ(ReadFileBytes(Path("reordered.bin")), ReadFileBytes(out));
    rewrite({"Time [s]", "RPM", "MAF signal", "A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)"},
            Path("nocoolant.txt"));
    EXPECT_EQ(Cli({"autotune", "--from-log", Path("nocoolant.txt"), in, "-o", Path("nocoolant.bin")}).code, kExitOk);

    // Each needed column missing in turn: named, exit 1, no output.
    const std::vector<std::string> needed{"Time [s]", "RPM", "MAF signal", "A/F ratio",
                                          "Throttle pos (1=idle, 2=cruise, 3=WOT)"};
    for (const std::string& missing : needed) {
        SCOPED_TRACE(missing);
        std::vector<std::string> headers;
        for (const std::string& h : needed)
            if (h != missing) headers.push_back(h);
        rewrite(headers, Path("short.txt"));
        const CliRun bad = Cli({"autotune", "--from-log", Path("short.txt"), in, "-o", Path("short.bin")});
        EXPECT_EQ(bad.code, kExitFailure);
        EXPECT_NE(bad.err.find("no column \"" + missing + "\""), std::string::npos) << bad.err;
        EXPECT_FALSE(std::filesystem::exists(Path("short.bin")));
    }
    const CliRun none = Cli({"autotune", "--from-log", Path("absent.txt"), in, "-o", Path("absent.bin")});
    EXPECT_EQ(none.code, kExitFailure);
    EXPECT_FALSE(std::filesystem::exists(Path("absent.bin")));
}

// The mean |A/F ratio - the target of the row's throttle zone| of a recorded run where a warm
// engine burns fuel: rows whose A/F ratio lies at the lean end of the wide-band law (over-run
// fuel cut), rows with the coolant below 70 degrees C, and the rows of the second after a change
// of throttle position (the gas at the sensor was burnt in the other zone) are left out.
double MeanRecordedError(const LogRun& run, long& rows) {
    auto column = [&](const char* header) {
        const auto at = std::find(run.Headers().begin(), run.Headers().end(), header);
        EXPECT_NE(at, run.Headers().end()) << header;
        return static_cast<int>(at - run.Headers().begin());
    };
    const int time = column(kTimeHeader), afr = column(kAfrHeader), throttle = column(kThrottleHeader),
              coolant = column(kCoolantCHeader);
    constexpr double kTargets[] = {14.7, 14.7, 12.0}; // idle, cruise, WOT
    double sum = 0, zoneSince = 0, lastZone = 0;
    rows = 0;
    for (int row = 0; row < run.RowCount(); ++row) {
        const double zone = run.Value(row, throttle), t = run.Value(row, time);
        if (zone != lastZone) {
            lastZone = zone;
            zoneSince = t;
        }
        EXPECT_TRUE(zone == 1 || zone == 2 || zone == 3) << "row " << row;
        if (zone < 1 || zone > 3) return 0.0;
        if (run.Value(row, afr) >= 18.99 || run.Value(row, coolant) < 70.0 || t - zoneSince < 1.0) continue;
        sum += std::abs(run.Value(row, afr) - kTargets[static_cast<int>(zone) - 1]);
        ++rows;
    }
    return rows == 0 ? 0.0 : sum / static_cast<double>(rows);
}

struct RecordedCase {
    const char* drive;
    int richer; // counts every cell of the cat map is shifted by
};

class CliAutotuneRecorded : public CliAutotune, public ::testing::WithParamInterface<RecordedCase> {};

// Twenty minutes of autotune on a map 20 counts off; then the tuned image is loaded into the car
// and a drive on another seed, with autotune off, is recorded with `log record`: the recorded
// mixture is near the targets, where the untuned image on the same drive was far off.
TEST_P(CliAutotuneRecorded, ATunedImageRunsNearTheTargetsOnAnotherDrive) {
    const RecordedCase& c = GetParam();
    EPROM shifted;
    ASSERT_EQ(shifted.LoadFromFile(New("MRX_D")), "");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) shifted.WriteMapCell(1, x, y, shifted.ReadMapCell(1, x, y) + c.richer);
    const std::string in = Path("shifted.bin"), tuned = Path("tuned.bin");
    ASSERT_TRUE(shifted.SaveToFile(in));
    const std::string state = WarmCar();
    const CliRun tune = Cli({"--simulate", "--sim-state", state, "--drive", c.drive, "--drive-seed", "1", "autotune",
                             in, "-o", tuned, "--seconds", "1200"});
    ASSERT_EQ(tune.code, kExitOk) << tune.err;

    auto recordedError = [&](const std::string& image) {
        const std::string car = WarmCar(), run = Path("drive.txt");
        EXPECT_EQ(Cli({"--simulate", "--sim-state", car, "device", "load-pem", image}).code, kExitOk);
        const CliRun rec = Cli({"--simulate", "--sim-state", car, "--drive", c.drive, "--drive-seed", "101", "log",
                                "record", "--seconds", "300", "--rate", "10", "--vars",
                                "LH_RPM,LH_MAF,LH_AFR,LH_THROTTLE,LH_COOLANTC", "-o", run});
        EXPECT_EQ(rec.code, kExitOk) << rec.err;
        const Parsed<LoadedRunFile> loaded = LoadRunFile(run);
        EXPECT_TRUE(loaded) << run;
        long rows = 0;
        const double error = loaded ? MeanRecordedError(loaded->run, rows) : 0.0;
        EXPECT_GT(rows, 1500) << "most of the drive is warm and fuelled";
        return error;
    };
    const double before = recordedError(in);
    const double after = recordedError(tuned);
    // Before: about 0.6 on the road; on the dyno the rich map's full-throttle pulls already run
    // near their target 12.0, so the whole drive is about 0.4 off.
    EXPECT_GT(before, 0.35);
    EXPECT_LE(after, 0.2) << "from " << before;
}

INSTANTIATE_TEST_SUITE_P(RoadAndDyno, CliAutotuneRecorded,
                         ::testing::Values(RecordedCase{"road", -20}, RecordedCase{"road", 20},
                                           RecordedCase{"dyno", -20}, RecordedCase{"dyno", 20}),
                         [](const ::testing::TestParamInfo<RecordedCase>& info) {
                             return std::string(info.param.drive) + (info.param.richer < 0 ? "Lean" : "Rich");
                         });

} // namespace

} // namespace kv
