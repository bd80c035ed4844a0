// kestrovane-cli log info|convert: run files read by the program's rules, summarised and written
// as CSV.
#include "cli/cli.h"
#include "cli_run.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kv {
namespace {

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadText(const std::string& path) {
    const std::vector<std::uint8_t> bytes = ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
}

std::string Rows(int count) {
    std::string text = "Time [s]\tRPM\r\n";
    for (int i = 1; i <= count; ++i) text += std::to_string(i) + "\t850\r\n";
    return text;
}

const std::string kTruncated = "File contained more than 10000 rows. Only the first 10000 were loaded.\n";

TEST(CliLog, Info) {
    struct Case {
        const char* what;
        std::string content; // written to run.txt
        std::vector<std::string> args;
        CliRun expected;
    };
    TempDir dir;
    const std::string run = dir.File("run.txt");
    std::filesystem::create_directory(dir.File("folder.txt"));
    const Case cases[] = {
        {"a recorded run",
         "; note\r\nTime [s]\tRPM\tAFR\r\n0,10\t850\t14,7\r\n\r\n0,20\t900\t14,6\r\n",
         {"log", "info", run},
         {0, "rows: 2\ncolumns: 3\nheader: Time [s]\nheader: RPM\nheader: AFR\n", ""}},
        {"header only", "Time [s]\r\n", {"log", "info", run}, {0, "rows: 0\ncolumns: 1\nheader: Time [s]\n", ""}},
        {"exactly 10000 rows",
         Rows(10000) + ";end\r\n",
         {"log", "info", run},
         {0, "rows: 10000\ncolumns: 2\nheader: Time [s]\nheader: RPM\n", ""}},
        {"10001 rows",
         Rows(10001),
         {"log", "info", run},
         {0, "rows: 10000\ncolumns: 2\nheader: Time [s]\nheader: RPM\n", kTruncated}},
        {"comments only", ";a\r\n\r\n;b\r\n", {"log", "info", run}, {1, "", "File is empty\n"}},
        {"a million columns",
         std::string(1000000, '\t') + "\r\n",
         {"log", "info", run},
         {1, "", "File has more than 256 columns - not a data logging run\n"}},
        {"missing file", "", {"log", "info", dir.File("missing.txt")}, {1, "", "Error when loading file\n"}},
        {"a folder", "", {"log", "info", dir.File("folder.txt")}, {1, "", "Error when loading file\n"}},
        {"no file named", "", {"log", "info"}, {2, "", ""}},
        {"two files", "x\r\n", {"log", "info", run, run}, {2, "", ""}},
    };
    for (const Case& c : cases) {
        WriteText(run, c.content);
        const CliRun got = Cli(c.args);
        EXPECT_EQ(got.code, c.expected.code) << c.what;
        EXPECT_EQ(got.out, c.expected.out) << c.what;
        if (c.expected.code == 2) {
            EXPECT_NE(got.err.find("usage: kestrovane-cli log info RUN.txt"), std::string::npos) << c.what;
        } else {
            EXPECT_EQ(got.err, c.expected.err) << c.what;
        }
    }
}

TEST(CliLog, ConvertWritesCsv) {
    struct Case {
        const char* what;
        std::string content;
        std::string csv;
        std::string err;
    };
    const Case cases[] = {
        {"decimal commas become points", "Time [s]\tAFR\r\n0,10\t14,7\r\n0,20\t\r\n",
         "Time [s],AFR\r\n0.10,14.7\r\n0.20,\r\n", ""},
        {"fields that need quotes", "Load, %\tNote \"x\"\r\nWOT\t\"a\"\r\n",
         "\"Load, %\",\"Note \"\"x\"\"\"\r\nWOT,\"\"\"a\"\"\"\r\n", ""},
        {"10001 rows keep the first 10000", Rows(10001), "", kTruncated},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteText(dir.File("run.txt"), c.content);
        const CliRun got = Cli({"log", "convert", dir.File("run.txt"), "-o", dir.File("run.csv")});
        EXPECT_EQ(got.code, 0) << c.what;
        EXPECT_EQ(got.err, c.err) << c.what;
        EXPECT_EQ(got.out, "") << c.what;
        const std::string csv = ReadText(dir.File("run.csv"));
        if (!c.csv.empty()) {
            EXPECT_EQ(csv, c.csv) << c.what;
        } else {
            EXPECT_EQ(csv.rfind("Time [s],RPM\r\n1,850\r\n", 0), 0u) << c.what;
            EXPECT_NE(csv.find("\r\n10000,850\r\n"), std::string::npos) << c.what;
            EXPECT_EQ(csv.find("10001"), std::string::npos) << c.what;
        }
    }
}

TEST(CliLog, ConvertFailuresLeaveTheOutputAlone) {
    struct Case {
        const char* what;
        std::vector<std::string> args; // "IN", "OUT" stand for the files of the test
        bool blockTheWrite;            // a folder where the new file is put first
        int code;
        std::string err; // "" for a usage text; OUT stands for the output file
    };
    const Case cases[] = {
        {"empty input", {"log", "convert", "EMPTY", "-o", "OUT"}, false, 1, "File is empty\n"},
        {"missing input", {"log", "convert", "MISSING", "-o", "OUT"}, false, 1, "Error when loading file\n"},
        {"the write fails", {"log", "convert", "IN", "-o", "OUT"}, true, 1, "Save failed - OUT.kvtmp is in the way\n"},
        {"no output named", {"log", "convert", "IN"}, false, 2, ""},
        {"-o without a name", {"log", "convert", "IN", "-o"}, false, 2, ""},
        {"no input", {"log", "convert", "-o", "OUT"}, false, 2, ""},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteText(dir.File("in.txt"), "Time [s]\r\n0.1\r\n");
        WriteText(dir.File("empty.txt"), "; nothing\r\n");
        WriteText(dir.File("out.csv"), "old");
        if (c.blockTheWrite) std::filesystem::create_directory(dir.File("out.csv.kvtmp"));
        std::vector<std::string> args;
        for (const std::string& a : c.args) {
            if (a == "IN")
                args.push_back(dir.File("in.txt"));
            else if (a == "EMPTY")
                args.push_back(dir.File("empty.txt"));
            else if (a == "MISSING")
                args.push_back(dir.File("missing.txt"));
            else if (a == "OUT")
                args.push_back(dir.File("out.csv"));
            else
                args.push_back(a);
        }
        const CliRun got = Cli(args);
        EXPECT_EQ(got.code, c.code) << c.what;
        if (c.err.empty()) {
            EXPECT_NE(got.err.find("usage: kestrovane-cli log info RUN.txt\n"
                                   "       kestrovane-cli log convert RUN.txt -o OUT.csv\n"),
                      std::string::npos)
                << c.what;
        } else {
            std::string err = c.err;
            if (const std::size_t at = err.find("OUT"); at != std::string::npos)
                err.replace(at, 3, dir.File("out.csv"));
            EXPECT_EQ(got.err, err) << c.what;
        }
        EXPECT_EQ(ReadText(dir.File("out.csv")), "old") << c.what;
    }
}

TEST(CliLog, UnknownSubcommandsShowTheGroupsUsage) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"log"}, {"log", "show", "x.txt"}}) {
        const CliRun got = Cli(args);
        EXPECT_EQ(got.code, 2);
        EXPECT_EQ(got.err,
                  "usage: kestrovane-cli log info RUN.txt\n"
                  "       kestrovane-cli log convert RUN.txt -o OUT.csv\n"
                  "       kestrovane-cli log cells RUN.txt IMAGE --map NAME [--column HEADER] [--min-count N]\n"
                  "       kestrovane-cli log record --seconds N --vars KEY,... [--rate 5|10|20] "
                  "[--trigger None|WOT|RPM] [--fuel FILE] [--ignition FILE] -o RUN.txt\n");
    }
    EXPECT_NE(Cli({}).err.find("  log info RUN.txt\n  log convert RUN.txt -o OUT.csv\n"), std::string::npos);
}

} // namespace
} // namespace kv
