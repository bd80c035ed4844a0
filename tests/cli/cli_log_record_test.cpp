// kestrovane-cli log record against the simulated car: a run file that loads, and the refusals.
#include "cli_run.h"
#include "datalog/run_file.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kv {
namespace {

using CliLogRecord = CliFileTest;

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
    EXPECT_NEAR(logRun.RowCount(), 100, 2);
    EXPECT_EQ(r.out, "saved: " + run + "\nrows: " + std::to_string(logRun.RowCount()) + "\n");
    for (int row = 0; row < logRun.RowCount(); ++row) {
        EXPECT_NEAR(logRun.Value(row, 0), 0.05 * (row + 1), 1e-9);
        EXPECT_GE(logRun.Value(row, 1), 600.0) << "the engine idles or runs";
        EXPECT_NEAR(logRun.Value(row, 2), logRun.Value(row, 1), logRun.Value(row, 1) * 0.02);
    }
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
