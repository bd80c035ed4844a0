// kestrovane-cli log record against the simulated car: a run file that loads, and the refusals.
#include "cli_run.h"
#include "datalog/run_file.h"
#include "eprom/eprom_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

namespace kv {
namespace {

using CliLogRecord = CliFileTest;

// The lines of a text, each without its line end.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The data cells of a grid printed as `map show` and `log cells` print it (a row of axis labels,
// then per row its label and its cells): the numbers, nullopt for "-".
std::vector<std::vector<std::optional<double>>> GridCells(const std::string& out) {
    std::vector<std::vector<std::optional<double>>> grid;
    const std::vector<std::string> lines = Lines(out);
    for (std::size_t r = 1; r < lines.size() && lines[r].find(": ") == std::string::npos; ++r) {
        std::vector<std::optional<double>> row;
        std::istringstream cells(lines[r]);
        std::string cell;
        std::getline(cells, cell, '\t'); // the row's label
        while (std::getline(cells, cell, '\t'))
            row.push_back(cell == "-" ? std::nullopt : std::optional<double>(std::stod(cell)));
        grid.push_back(row);
    }
    return grid;
}

TEST_F(CliLogRecord, WritesALoadableRunFile) {
    const std::string fuel = New("MRX_D"), ignition = New("EZK_D-S4"), run = Path("run.txt");
    const CliRun r = Cli({"--simulate", "log", "record", "--seconds", "5", "--vars", "LH_RPM,EZK_RPM,EZK_KNOCKRETARD",
                          "--rate", "20", "--fuel", fuel, "--ignition", ignition, "-o", run});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto loaded = LoadRunFile(run);
    ASSERT_TRUE(loaded) << loaded.Error();
    const LogRun& logRun = loaded->run;
    std::vector<std::string> headers{"Time [s]", "RPM", "RPM"};
    for (int c = 1; c <= 8; ++c) headers.push_back("KR" + std::to_string(c));
    EXPECT_EQ(logRun.Headers(), headers);
    EXPECT_EQ(logRun.RowCount(), 100) << "rate x seconds";
    EXPECT_EQ(r.out, "saved: " + run + "\nrows: 100\nrecords dropped: 0\n");
    for (int row = 0; row < logRun.RowCount(); ++row) {
        EXPECT_NEAR(logRun.Value(row, 0), 0.05 * (row + 1), 1e-9);
        EXPECT_GE(logRun.Value(row, 1), 600.0) << "the engine idles or runs";
        EXPECT_NEAR(logRun.Value(row, 2), logRun.Value(row, 1), logRun.Value(row, 1) * 0.02);
    }
}

// The rows a recording gives: rate x seconds, a continued run only when rows are left for it.
TEST_F(CliLogRecord, RowsAreRateTimesSeconds) {
    const std::string fuel = New("MRX_D"), run = Path("run.txt");
    struct Case {
        const char* seconds;
        const char* rate;
        std::vector<int> rows;
    };
    for (const Case& c : {Case{"30", "20", {600}}, Case{"7.5", "10", {75}}, Case{"500", "20", {10000}},
                          Case{"501", "20", {10000, 20}}}) {
        SCOPED_TRACE(c.seconds);
        const CliRun r = Cli({"--simulate", "log", "record", "--seconds", c.seconds, "--rate", c.rate, "--vars",
                              "LH_RPM", "--fuel", fuel, "-o", run});
        ASSERT_EQ(r.code, 0) << r.err;
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            const std::string path = i == 0 ? run : Path("run-" + std::to_string(i + 1) + ".txt");
            const auto loaded = LoadRunFile(path);
            ASSERT_TRUE(loaded) << path;
            EXPECT_EQ(loaded->run.RowCount(), c.rows[i]) << path;
            EXPECT_FALSE(loaded->truncated);
        }
        EXPECT_FALSE(std::filesystem::exists(Path("run-" + std::to_string(c.rows.size() + 1) + ".txt")));
        for (std::size_t i = 0; i < c.rows.size(); ++i)
            std::filesystem::remove(i == 0 ? run : Path("run-" + std::to_string(i + 1) + ".txt"));
    }
}

TEST_F(CliLogRecord, ADeviceThatGoesAwayIsAFailureWithTheRunSaved) {
    const std::string fuel = New("MRX_D"), ignition = New("EZK_D-S4"), run = Path("run.txt");
    const CliRun r = Cli({"--simulate", "--sim-faults", "unplug-after=200", "log", "record", "--seconds", "30",
                          "--rate", "20", "--vars", "LH_RPM", "--fuel", fuel, "--ignition", ignition, "-o", run});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("The device stopped answering"), std::string::npos) << r.err;
    const auto loaded = LoadRunFile(run);
    ASSERT_TRUE(loaded) << "the rows that came are kept";
    EXPECT_LT(loaded->run.RowCount(), 600);
    EXPECT_NE(r.out.find("saved: " + run), std::string::npos);
}

// Damaged, repeated and late reports: every row kept has a time after the row before, within the
// recording, and values a running engine can show; the dropped records are counted.
TEST_F(CliLogRecord, DamagedRecordsAreDroppedAndCounted) {
    const std::string fuel = New("MRX_D"), ignition = New("EZK_D-S4"), run = Path("run.txt");
    const std::vector<std::string> headers{"Time [s]",           "RPM",      "A/F ratio",  "Inj duty cycle [%]", "RPM",
                                           "Ign adv [\xC2\xB0]", "Load [%]", "Knock count"};
    struct Range {
        double min, max;
    };
    // Column by column; an RPM of 0 is a standing engine, else the engine turns at 100 rpm at least.
    const Range ranges[] = {{0.05, 60.0}, {100, 10000}, {9, 19}, {0, 100}, {100, 10000}, {-36, 61}, {0, 100}, {0, 34}};
    for (const char* faults : {"garble=0.1,seed=3", "dup=0.1,seed=4", "late=0.01,seed=5", "garble=0.01,seed=6"}) {
        SCOPED_TRACE(faults);
        const CliRun r = Cli({"--simulate", "--sim-faults", faults, "log", "record", "--seconds", "60", "--rate", "20",
                              "--vars", "LH_RPM,LH_AFR,LH_INJDC,EZK_RPM,EZK_IGNADV,EZK_LOAD,EZK_KNOCK", "--fuel", fuel,
                              "--ignition", ignition, "-o", run});
        ASSERT_EQ(r.code, 0) << r.err;
        const auto loaded = LoadRunFile(run);
        ASSERT_TRUE(loaded);
        const LogRun& logRun = loaded->run;
        ASSERT_EQ(logRun.Headers(), headers);
        EXPECT_GT(logRun.RowCount(), 900);
        const int dropped = 1200 - logRun.RowCount();
        EXPECT_NE(r.out.find("records dropped: "), std::string::npos) << r.out;
        EXPECT_GE(std::stoi(r.out.substr(r.out.find("records dropped: ") + 17)), dropped > 0 ? 1 : 0);
        double last = 0;
        for (int row = 0; row < logRun.RowCount(); ++row) {
            const double t = logRun.Value(row, 0);
            ASSERT_GT(t, last) << "row " << row;
            last = t;
            for (int c = 0; c < logRun.ColumnCount(); ++c) {
                const double v = logRun.Value(row, c);
                const bool standing = (c == 1 || c == 4) && v == 0;
                EXPECT_TRUE(standing || (v >= ranges[c].min && v <= ranges[c].max))
                    << headers[static_cast<std::size_t>(c)] << " " << v << " in row " << row;
            }
        }
    }
}

// A recorded run laid over the base fuel map: the map's grid with a mean where samples fell.
TEST_F(CliLogRecord, CellsOfARecordedRun) {
    const std::string fuel = New("MRX_D"), run = Path("run.txt");
    ASSERT_EQ(Cli({"--simulate", "log", "record", "--seconds", "60", "--rate", "10", "--vars", "LH_RPM,LH_MAF,LH_AFR",
                   "--fuel", fuel, "-o", run})
                  .code,
              0);
    const std::string map = "Base fuel map (cat)";
    const CliRun shown = Cli({"map", "show", fuel, map});
    const CliRun cells = Cli({"log", "cells", run, fuel, "--map", map, "--min-count", "3"});
    ASSERT_EQ(cells.code, 0) << cells.err;
    std::vector<std::string> lines;
    for (std::size_t at = 0, next; at < cells.out.size(); at = next + 1) {
        next = cells.out.find('\n', at);
        lines.push_back(cells.out.substr(at, next - at));
    }
    ASSERT_EQ(lines.size(), 19u) << cells.out; // axis row, 16 rows, samples, cells
    EXPECT_EQ(lines[0], shown.out.substr(0, shown.out.find('\n'))) << "the axis labels of `map show`";
    EXPECT_EQ(lines[17], "samples: 600");
    int withMean = 0;
    for (int r = 1; r <= 16; ++r) {
        std::size_t at = lines[static_cast<std::size_t>(r)].find('\t');
        while (at != std::string::npos) {
            const std::size_t next = lines[static_cast<std::size_t>(r)].find('\t', at + 1);
            const std::string cell = lines[static_cast<std::size_t>(r)].substr(at + 1, next - at - 1);
            if (cell != "-") {
                ++withMean;
                const double afr = std::stod(cell);
                EXPECT_GE(afr, 9.0);
                EXPECT_LE(afr, 19.0);
                EXPECT_EQ(cell.size() - cell.find('.'), 2u) << "one decimal: " << cell;
            }
            at = next;
        }
    }
    EXPECT_GT(withMean, 10);
    EXPECT_EQ(lines[18], "cells: " + std::to_string(withMean));

    const std::vector<std::pair<std::vector<std::string>, int>> refusals = {
        {{"log", "cells", run, fuel, "--map", "No such map"}, 1},
        {{"log", "cells", run, fuel, "--map", "Cranking fuel map"}, 1},
        {{"log", "cells", run, fuel, "--map", map, "--column", "Boost"}, 1},
        {{"log", "cells", run, fuel, "--map", map, "--min-count", "0"}, 2},
        {{"log", "cells", run, fuel}, 2},
    };
    for (const auto& [args, code] : refusals) EXPECT_EQ(Cli(args).code, code) << args.back();
}

// An ignition map of an EZK image: a hand-written run whose samples lie on the grid point of
// 3000 rpm and 40 % load (row 24 of 0..60) gives that cell their mean; the speed and load come
// from the ignition unit's columns, the fuel unit's nonsense speed is not read. A one-row map
// needs only the speed; a map with rows refuses a run without the unit's load column.
TEST_F(CliLogRecord, CellsOfAnIgnitionMap) {
    const std::string ignition = New("EZK_D-S4"), run = Path("run.txt"), noLoad = Path("noload.txt");
    std::ofstream(run) << "Time [s]\tRPM\tMAF signal\tRPM\tIgn adv [\xC2\xB0]\tLoad [%]\n"
                          "0.1\t9000\t100\t3000\t20.0\t40\n"
                          "0.2\t9000\t100\t3000\t23.0\t40\n";
    std::ofstream(noLoad) << "Time [s]\tRPM\tIgn adv [\xC2\xB0]\n0.1\t3000\t20.0\n";
    const std::string cruise = "Cruise map (98 octane cat)";
    const CliRun shown = Cli({"map", "show", ignition, cruise});
    const CliRun cells = Cli({"log", "cells", run, ignition, "--map", cruise, "--column", "Ign adv [\xC2\xB0]"});
    ASSERT_EQ(cells.code, 0) << cells.err;
    const std::vector<std::string> lines = Lines(cells.out);
    ASSERT_EQ(lines.size(), 19u) << cells.out;
    EXPECT_EQ(lines[0], Lines(shown.out)[0]) << "the axis labels of `map show`";
    const std::vector<std::string> top = [&] {
        std::vector<std::string> labels;
        std::istringstream in(lines[0]);
        for (std::string label; std::getline(in, label, '\t');) labels.push_back(label);
        return labels;
    }();
    const auto col = std::find(top.begin(), top.end(), "3000") - top.begin() - 1;
    ASSERT_GE(col, 0) << lines[0];
    const auto grid = GridCells(cells.out);
    for (std::size_t r = 0; r < grid.size(); ++r)
        for (std::size_t c = 0; c < grid[r].size(); ++c) {
            const bool at = Lines(cells.out)[r + 1].rfind("40 %\t", 0) == 0 && static_cast<long>(c) == col;
            EXPECT_EQ(grid[r][c], at ? std::optional<double>(21.5) : std::nullopt) << r << "," << c;
        }
    EXPECT_EQ(lines[17], "samples: 2");
    EXPECT_EQ(lines[18], "cells: 1");

    const CliRun wot =
        Cli({"log", "cells", noLoad, ignition, "--map", "WOT map (98 octane cat)", "--column", "Ign adv [\xC2\xB0]"});
    ASSERT_EQ(wot.code, 0) << wot.err;
    EXPECT_EQ(Lines(wot.out).size(), 4u) << wot.out;
    EXPECT_EQ(Lines(wot.out)[3], "cells: 1");
    const CliRun refused = Cli({"log", "cells", noLoad, ignition, "--map", cruise, "--column", "Ign adv [\xC2\xB0]"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_EQ(refused.err, "The run has no column \"Load [%]\" for the map's load axis\n");
}

// The same dyno drive on the base image and on one whose map the unit runs is 20 counts lean: at
// every cell the drive holds long enough, the mean A/F ratio lies above the base run's by what 20
// counts less fuel make. The unit delivers (512 + v) / 512 of the fuel the engine needs for a
// shown cell value v, so 20 counts less turn a ratio A into A (512 + v) / (492 + v): about 0.6 at
// 14.7 and 0.5 at 12.5. The base run measures the simulated engine's own deviation from the
// targets, which the difference takes out.
TEST_F(CliLogRecord, CellsOfARunOnALeanMapShowTheLeanness) {
    const std::string map = "Base fuel map (cat)";
    constexpr double kLeanEnd = 19.0;
    const std::string base = New("MRX_D");
    EPROM lean;
    ASSERT_EQ(lean.LoadFromFile(base), "");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) lean.WriteMapCell(1, x, y, lean.ReadMapCell(1, x, y) - 20);
    const std::string leanImage = Path("lean.bin");
    ASSERT_TRUE(lean.SaveToFile(leanImage));
    // Four dyno laps at 10 samples a second: each cruise hold and each full-throttle hold gives
    // its cell about 30 samples.
    const auto cellsOfDrive = [&](const std::string& image, const std::string& name) {
        const std::string state = WarmCar(name + "-car.txt"), run = Path(name + ".txt");
        EXPECT_EQ(Cli({"--simulate", "--sim-state", state, "device", "load-pem", image}).code, kExitOk);
        const CliRun rec = Cli({"--simulate", "--sim-state", state, "log", "record", "--seconds", "180", "--rate", "10",
                                "--vars", "LH_RPM,LH_MAF,LH_AFR", "--fuel", image, "-o", run});
        EXPECT_EQ(rec.code, kExitOk) << rec.err;
        // Readings at the sensor's lean end are the over-run fuel cut, no mixture the map made:
        // they are left out, as a tuner leaves them out.
        const Parsed<LoadedRunFile> loaded = LoadRunFile(run);
        EXPECT_TRUE(loaded);
        if (!loaded) return decltype(GridCells("")){};
        LogRun fuelled(loaded->run.Headers());
        int cut = 0;
        for (int row = 0; row < loaded->run.RowCount(); ++row) {
            if (loaded->run.Value(row, 3) >= kLeanEnd) {
                ++cut;
                continue;
            }
            std::vector<std::string> cells;
            for (int c = 0; c < loaded->run.ColumnCount(); ++c) cells.emplace_back(loaded->run.Cell(row, c));
            fuelled.AppendRow(cells);
        }
        EXPECT_GT(cut, 0) << "the drive has over-run";
        EXPECT_EQ(SaveRunFile(run, fuelled), "");
        const CliRun cells = Cli({"log", "cells", run, image, "--map", map, "--min-count", "15"});
        EXPECT_EQ(cells.code, kExitOk) << cells.err;
        return GridCells(cells.out);
    };
    const auto onBase = cellsOfDrive(base, "base");
    const auto onLean = cellsOfDrive(leanImage, "lean");
    const auto shown = GridCells(Cli({"map", "show", base, map}).out);
    ASSERT_EQ(onBase.size(), 16u);
    ASSERT_EQ(onLean.size(), 16u);
    ASSERT_EQ(shown.size(), 16u);
    // Each mean is printed with one decimal: the difference of two is off by up to 0.1; the cells
    // around a sample, blended with it, hold values a count or two from the cell's own (0.02).
    constexpr double kTolerance = 0.12;
    int cruise = 0, fullLoad = 0;
    for (std::size_t r = 0; r < 16; ++r) {
        for (std::size_t c = 0; c < 16; ++c) {
            ASSERT_EQ(onBase[r][c].has_value(), onLean[r][c].has_value()) << r << "," << c << ": the same drive";
            if (!onBase[r][c]) continue;
            SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
            const double v = shown[r][c].value_or(0.0), expected = *onBase[r][c] * 20.0 / (492.0 + v);
            EXPECT_NEAR(*onLean[r][c] - *onBase[r][c], expected, kTolerance);
            ++(*onBase[r][c] < 13.5 ? fullLoad : cruise);
        }
    }
    EXPECT_GE(cruise, 20) << "cells of the cruise holds";
    EXPECT_GE(fullLoad, 3) << "cells of full throttle";
}

TEST_F(CliLogRecord, Refusals) {
    const std::string fuel = New("MRX_D");
    struct Case {
        const char* label;
        std::vector<std::string> args;
        int code;
        std::string err;
    };
    const std::string run = Path("run.txt");
    const Case cases[] = {
        {"a variable of a unit not loaded",
         {"--vars", "EZK_RPM", "--fuel", fuel},
         1,
         "No variable EZK_RPM for the loaded units\n"},
        {"unknown variable", {"--vars", "LH_RPM,NOPE", "--fuel", fuel}, 1, "No variable NOPE for the loaded units\n"},
        {"modules hold no image", {"--vars", "LH_RPM"}, 1, ""},
        {"rate not offered", {"--vars", "LH_RPM", "--fuel", fuel, "--rate", "7"}, 2, ""},
        {"unknown trigger", {"--vars", "LH_RPM", "--fuel", fuel, "--trigger", "wot"}, 2, ""},
        {"image file missing", {"--vars", "LH_RPM", "--fuel", Path("missing.bin")}, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        std::vector<std::string> args{"--simulate", "log", "record", "--seconds", "1", "-o", run};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const CliRun r = Cli(args);
        EXPECT_EQ(r.code, c.code) << r.err;
        if (!c.err.empty()) {
            EXPECT_TRUE(r.err.ends_with(c.err)) << r.err;
        }
        EXPECT_FALSE(std::filesystem::exists(run));
    }
    for (const char* seconds : {"0", "-1", "x", ""}) {
        const CliRun r =
            Cli({"--simulate", "log", "record", "--seconds", seconds, "--vars", "LH_RPM", "--fuel", fuel, "-o", run});
        EXPECT_EQ(r.code, 2) << seconds;
    }
    EXPECT_EQ(Cli({"--simulate", "log", "record", "--seconds", "1", "--vars", "LH_RPM", "--fuel", fuel}).code, 2);
}

} // namespace
} // namespace kv
