// Runs in memory and in files: cell storage, row removal, the file reader's rules, saving in one
// step, the clipboard block text and CSV.
#include "datalog/log_run.h"
#include "datalog/run_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace kv {
namespace {

using Cells = std::vector<std::string>;

Cells RowOf(const LogRun& run, int row) {
    Cells cells;
    for (int c = 0; c < run.ColumnCount(); ++c) cells.emplace_back(run.Cell(row, c));
    return cells;
}

std::vector<Cells> RowsOf(const LogRun& run) {
    std::vector<Cells> rows;
    for (int r = 0; r < run.RowCount(); ++r) rows.push_back(RowOf(run, r));
    return rows;
}

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TEST(LogRun, RowsTakeTheHeaderWidth) {
    LogRun run({"Time [s]", "RPM", "AFR"});
    ASSERT_TRUE(run.AppendRow(Cells{"0.10", "850"}));
    ASSERT_TRUE(run.AppendRow(Cells{"0.20", "900", "14.7", "dropped"}));
    ASSERT_TRUE(run.AppendRow(Cells{}));
    EXPECT_EQ(RowsOf(run), (std::vector<Cells>{{"0.10", "850", ""}, {"0.20", "900", "14.7"}, {"", "", ""}}));
    EXPECT_EQ(run.Cell(3, 0), "");
    EXPECT_EQ(run.Cell(0, 3), "");
    EXPECT_TRUE(std::isnan(run.Value(0, 3)));
    EXPECT_TRUE(run.ColumnValues(3).empty());
    // A tab inside a cell cannot split it.
    ASSERT_TRUE(run.AppendRow(Cells{"a\tb", "2", "3"}));
    EXPECT_EQ(RowOf(run, 3), (Cells{"a b", "2", "3"}));
}

TEST(LogRun, CellNumbers) {
    struct Case {
        const char* text;
        double value; // NaN: not a number
    };
    const double nan = std::nan("");
    const Case cases[] = {
        {"14.7", 14.7}, {"14,7", 14.7}, {"-3", -3},   {"+2,5", 2.5}, {" 1 2.5 ", 12.5}, {"0", 0},     {"", nan},
        {"abc", nan},   {"1.2.3", nan}, {"12a", nan}, {"-", nan},    {"1e999", nan},    {"inf", nan}, {",", nan},
    };
    for (const Case& c : cases) {
        const double v = CellNumber(c.text);
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(v)) << c.text;
        } else {
            EXPECT_DOUBLE_EQ(v, c.value) << c.text;
        }
    }
    LogRun run({"a", "b"});
    ASSERT_TRUE(run.AppendRow(Cells{"1,5", "x"}));
    ASSERT_TRUE(run.AppendRow(Cells{"2.5", "7"}));
    EXPECT_DOUBLE_EQ(run.Value(0, 0), 1.5);
    EXPECT_TRUE(std::isnan(run.Value(0, 1)));
    ASSERT_EQ(run.ColumnValues(0).size(), 2u);
    EXPECT_DOUBLE_EQ(run.ColumnValues(0)[1], 2.5);
    EXPECT_DOUBLE_EQ(run.ColumnValues(1)[1], 7);
}

TEST(LogRun, RemovingRowsKeepsTheOthersWhole) {
    struct Case {
        const char* what;
        int first;
        int count;
        std::vector<int> kept; // original row numbers
    };
    const Case cases[] = {
        {"first rows", 0, 2, {2, 3, 4}},   {"middle", 1, 3, {0, 4}},
        {"last row", 4, 1, {0, 1, 2, 3}},  {"all", 0, 5, {}},
        {"past the end", 3, 9, {0, 1, 2}}, {"none", 2, 0, {0, 1, 2, 3, 4}},
    };
    for (const Case& c : cases) {
        LogRun run({"Time [s]", "RPM"});
        for (int r = 0; r < 5; ++r)
            ASSERT_TRUE(
                run.AppendRow(Cells{std::to_string(r) + ".0", std::string(static_cast<std::size_t>(r + 1), '9')}));
        run.RemoveRows(c.first, c.count);
        std::vector<Cells> expected;
        for (const int r : c.kept)
            expected.push_back({std::to_string(r) + ".0", std::string(static_cast<std::size_t>(r + 1), '9')});
        EXPECT_EQ(RowsOf(run), expected) << c.what;
        ASSERT_EQ(run.ColumnValues(0).size(), c.kept.size()) << c.what;
        for (std::size_t i = 0; i < c.kept.size(); ++i)
            EXPECT_EQ(run.Value(static_cast<int>(i), 0), c.kept[i]) << c.what;
        // rows added afterwards land behind the kept ones
        ASSERT_TRUE(run.AppendRow(Cells{"9.5", "1"}));
        EXPECT_EQ(RowOf(run, run.RowCount() - 1), (Cells{"9.5", "1"})) << c.what;
    }
}

TEST(LogRun, NewHeadersKeepTheRows) {
    LogRun run({"a", "b"});
    ASSERT_TRUE(run.AppendRow(Cells{"1", "2"}));
    run.SetHeaders({"a", "b", "c"});
    ASSERT_TRUE(run.AppendRow(Cells{"4", "5", "6"}));
    EXPECT_EQ(RowsOf(run), (std::vector<Cells>{{"1", "2", ""}, {"4", "5", "6"}}));
    run.SetHeaders({"x"});
    EXPECT_EQ(run.Headers(), Cells{"x"});
    EXPECT_EQ(RowsOf(run), (std::vector<Cells>{{"1"}, {"4"}}));
    EXPECT_DOUBLE_EQ(run.Value(1, 0), 4);
}

TEST(RunFile, ReadingRules) {
    struct Case {
        const char* what;
        std::string text;
        char separator;
        Cells headers;
        std::vector<Cells> rows;
    };
    const Case cases[] = {
        {"comments and empty lines anywhere",
         "; made by hand\r\n\r\nTime [s]\tRPM\r\n;x\r\n0.10\t850\r\n\r\n0.20\t900\r\n; end\r\n",
         '.',
         {"Time [s]", "RPM"},
         {{"0.10", "850"}, {"0.20", "900"}}},
        {"bare line feeds and a last line without a break",
         "Time [s]\tRPM\n0.10\t850\n0.20\t900",
         '.',
         {"Time [s]", "RPM"},
         {{"0.10", "850"}, {"0.20", "900"}}},
        {"lone carriage returns", "Time [s]\tRPM\r0.10\t850\r", '.', {"Time [s]", "RPM"}, {{"0.10", "850"}}},
        {"blanks removed, decimal comma to point",
         "Time [s]\tAFR\r\n 0,10 \t 14 ,7\r\n",
         '.',
         {"Time [s]", "AFR"},
         {{"0.10", "14.7"}}},
        {"decimal point to comma", "Time [s]\tAFR\r\n0.10\t14.7\r\n", ',', {"Time [s]", "AFR"}, {{"0,10", "14,7"}}},
        {"short rows padded, long rows cut",
         "a\tb\tc\r\n1\r\n1\t2\t3\t4\r\n\t\t\r\n",
         '.',
         {"a", "b", "c"},
         {{"1", "", ""}, {"1", "2", "3"}, {"", "", ""}}},
        {"a semicolon inside a line is data", "a\tb\r\n1\t;2\r\n", '.', {"a", "b"}, {{"1", ";2"}}},
        {"header only", ";c\r\nTime [s]\r\n", '.', {"Time [s]"}, {}},
    };
    for (const Case& c : cases) {
        const Parsed<LoadedRunFile> loaded = ParseRunFile(c.text, c.separator);
        ASSERT_TRUE(loaded) << c.what << ": " << loaded.Error();
        EXPECT_EQ(loaded->run.Headers(), c.headers) << c.what;
        EXPECT_EQ(RowsOf(loaded->run), c.rows) << c.what;
        EXPECT_FALSE(loaded->truncated) << c.what;
    }
}

TEST(RunFile, NumbersReadFromTheFileAreTheCellsNumbers) {
    const Cells cells = {"14.7", "+2",   "+-3", "1e3", "1e999", "inf", "nan",   "12a", "",   "-",    " 1 2 ",
                         "3,5",  "0x10", ".5",  "5.",  "--1",   "+",   "1.2.3", "WOT", "-0", "7 ,25"};
    std::string line;
    Cells headers;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        line += (i ? "\t" : "") + cells[i];
        headers.push_back("c" + std::to_string(i));
    }
    std::string header;
    for (const std::string& h : headers) header += (header.empty() ? "" : "\t") + h;
    for (const char separator : {'.', ','}) {
        const Parsed<LoadedRunFile> loaded = ParseRunFile(header + "\r\n" + line + "\r\n", separator);
        ASSERT_TRUE(loaded);
        const LogRun& run = loaded->run;
        ASSERT_EQ(run.ColumnCount(), static_cast<int>(cells.size()));
        for (int c = 0; c < run.ColumnCount(); ++c) {
            const double expected = CellNumber(cells[static_cast<std::size_t>(c)]);
            const double got = run.Value(0, c);
            EXPECT_EQ(std::isnan(got), std::isnan(expected)) << cells[static_cast<std::size_t>(c)] << " " << separator;
            if (!std::isnan(expected)) {
                EXPECT_DOUBLE_EQ(got, expected) << cells[static_cast<std::size_t>(c)];
            }
            const double fromText = CellNumber(run.Cell(0, c));
            EXPECT_EQ(std::isnan(fromText), std::isnan(got)) << cells[static_cast<std::size_t>(c)] << " " << separator;
        }
    }
}

TEST(RunFile, AShortRowHasNoNumbersForItsMissingCells) {
    // A full row first: nothing of it may show through the short rows after it.
    const Parsed<LoadedRunFile> loaded = ParseRunFile("a\tb\tc\r\n1\t2\t3\r\n4\r\n5\t6\r\n", '.');
    ASSERT_TRUE(loaded);
    const LogRun& run = loaded->run;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::vector<double>> expected = {{1, 2, 3}, {4, nan, nan}, {5, 6, nan}};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            const double want = expected[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)];
            if (std::isnan(want))
                EXPECT_TRUE(std::isnan(run.Value(r, c))) << r << "," << c << ": " << run.Value(r, c);
            else
                EXPECT_EQ(run.Value(r, c), want) << r << "," << c;
        }
    }
}

// The widest run that can be logged has fewer than 60 columns; a file far wider is no run file
// and is refused before its cells are read.
TEST(RunFile, ColumnsAreBounded) {
    const auto header = [](int columns) {
        std::string text = "Time [s]";
        for (int c = 1; c < columns; ++c) text += "\tc" + std::to_string(c);
        return text + "\r\n0.10\r\n";
    };
    const Parsed<LoadedRunFile> widest = ParseRunFile(header(kMaxRunColumns));
    ASSERT_TRUE(widest) << widest.Error();
    EXPECT_EQ(widest->run.ColumnCount(), kMaxRunColumns);
    for (int columns : {kMaxRunColumns + 1, 100000}) {
        const Parsed<LoadedRunFile> wide = ParseRunFile(header(columns));
        ASSERT_FALSE(wide) << columns;
        EXPECT_EQ(wide.Error(), "File has more than 256 columns - not a data logging run") << columns;
    }
}

TEST(RunFile, NothingButCommentsIsAnEmptyFile) {
    for (const char* text : {"", "\r\n", "; only a comment\r\n\r\n;another", "\n\n\r\n;x"}) {
        const Parsed<LoadedRunFile> loaded = ParseRunFile(text);
        EXPECT_FALSE(loaded) << text;
        EXPECT_EQ(loaded.Error(), "File is empty") << text;
    }
}

TEST(RunFile, TenThousandRowsAtMost) {
    struct Case {
        int dataLines;
        std::string tail; // after the last data line
        bool truncated;
    };
    const Case cases[] = {
        {9999, "", false},
        {10000, "", false},
        {10000, "; the end\r\n\r\n", false},
        {10001, "", true},
        {10001, "; the end\r\n", true},
        {10050, "", true},
    };
    for (const Case& c : cases) {
        std::string text = "Time [s]\tRPM\r\n";
        for (int i = 1; i <= c.dataLines; ++i) text += std::to_string(i) + "\t850\r\n";
        text += c.tail;
        const Parsed<LoadedRunFile> loaded = ParseRunFile(text);
        ASSERT_TRUE(loaded) << c.dataLines;
        EXPECT_EQ(loaded->truncated, c.truncated) << c.dataLines << " lines, tail " << c.tail;
        EXPECT_EQ(loaded->run.RowCount(), std::min(c.dataLines, kMaxRunRows)) << c.dataLines;
        EXPECT_EQ(loaded->run.Cell(loaded->run.RowCount() - 1, 0), std::to_string(std::min(c.dataLines, kMaxRunRows)));
    }
    EXPECT_EQ(RunTruncatedMessage(), "File contained more than 10000 rows. Only the first 10000 were loaded.");
}

TEST(RunFile, SavedTextIsTabsAndCrLfHeaderFirst) {
    TempDir dir;
    LogRun run({"Time [s]", "RPM"});
    ASSERT_TRUE(run.AppendRow(Cells{"0.10", "850"}));
    ASSERT_TRUE(run.AppendRow(Cells{"0.20", ""}));
    ASSERT_EQ(SaveRunFile(dir.File("run.txt"), run), "");
    EXPECT_EQ(ReadText(dir.File("run.txt")), "Time [s]\tRPM\r\n0.10\t850\r\n0.20\t\r\n");
    EXPECT_EQ(RunText(run), "Time [s]\tRPM\r\n0.10\t850\r\n0.20\t\r\n");
}

TEST(RunFile, DecimalCommasAndPointsCrossOverOnTheRoundTrip) {
    struct Case {
        const char* what;
        char savedWith;
        char loadedWith;
        Cells cells;
        Cells expected;
    };
    const Case cases[] = {
        {"comma file under a point locale", ',', '.', {"0,10", "14,7", "850"}, {"0.10", "14.7", "850"}},
        {"point file under a comma locale", '.', ',', {"0.10", "14.7", "850"}, {"0,10", "14,7", "850"}},
        {"same locale", ',', ',', {"0,10", "14,7", "850"}, {"0,10", "14,7", "850"}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        LogRun run({"Time [s]", "AFR", "RPM"});
        ASSERT_TRUE(run.AppendRow(c.cells));
        ASSERT_EQ(SaveRunFile(dir.File("run.txt"), run), "") << c.what;
        const Parsed<LoadedRunFile> loaded = LoadRunFile(dir.File("run.txt"), c.loadedWith);
        ASSERT_TRUE(loaded) << c.what;
        EXPECT_EQ(loaded->run.Headers(), run.Headers()) << c.what;
        EXPECT_EQ(RowsOf(loaded->run), std::vector<Cells>{c.expected}) << c.what;
        EXPECT_DOUBLE_EQ(loaded->run.Value(0, 1), 14.7) << c.what;
    }
}

TEST(RunFile, AFailingWriteKeepsTheFileThatWasThere) {
    TempDir dir;
    const std::string target = dir.File("run.txt");
    WriteText(target, "old\r\n1\r\n");
    LogRun run({"new"});
    ASSERT_TRUE(run.AppendRow(Cells{"2"}));
    // The new text goes to a file beside the target first; a folder in that place makes the
    // write fail for every user, root included.
    std::filesystem::create_directory(target + ".kvtmp");
    EXPECT_NE(SaveRunFile(target, run), "");
    EXPECT_EQ(ReadText(target), "old\r\n1\r\n");

    std::filesystem::remove(target + ".kvtmp");
    EXPECT_EQ(SaveRunFile(target, run), "");
    EXPECT_EQ(ReadText(target), "new\r\n2\r\n");
}

TEST(RunFile, UnreadableFilesAreLoadErrors) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("folder.txt"));
    for (const std::string& path : {dir.File("missing.txt"), dir.File("folder.txt"), std::string()}) {
        const Parsed<LoadedRunFile> loaded = LoadRunFile(path);
        EXPECT_FALSE(loaded) << path;
        EXPECT_EQ(loaded.Error(), "Error when loading file") << path;
    }
}

TEST(RunFile, BlockTextOfASelection) {
    LogRun run({"Time [s]", "RPM", "AFR"});
    ASSERT_TRUE(run.AppendRow(Cells{"0.10", "850", "14.7"}));
    ASSERT_TRUE(run.AppendRow(Cells{"0.20", "900", "14.6"}));
    struct Case {
        int row1, row2, col1, col2;
        std::string text;
    };
    const Case cases[] = {
        {1, 1, 1, 2, "850\t14.7\r\n"},
        {2, 0, 2, 1, "RPM\tAFR\r\n850\t14.7\r\n900\t14.6\r\n"}, // ends in any order
        {0, 0, 0, 0, "Time [s]\r\n"},
        {-3, 99, 2, 9, "AFR\r\n14.7\r\n14.6\r\n"}, // clamped to the run
    };
    for (const Case& c : cases)
        EXPECT_EQ(RunBlockText(run, c.row1, c.row2, c.col1, c.col2), c.text) << c.row1 << "," << c.row2;
    EXPECT_EQ(RunBlockText(LogRun(), 0, 5, 0, 5), "");
}

TEST(RunFile, CsvQuotesWhatNeedsItAndUsesDecimalPoints) {
    LogRun run({"Time [s]", "Load, %", "Note \"x\""});
    ASSERT_TRUE(run.AppendRow(Cells{"0,10", "1,5", "a,b"}));
    ASSERT_TRUE(run.AppendRow(Cells{"0.20", "say \"hi\"", "line\nbreak"}));
    ASSERT_TRUE(run.AppendRow(Cells{"", "", "cr\r"}));
    EXPECT_EQ(RunCsvText(run), "Time [s],\"Load, %\",\"Note \"\"x\"\"\"\r\n"
                               "0.10,1.5,\"a,b\"\r\n"
                               "0.20,\"say \"\"hi\"\"\",\"line\nbreak\"\r\n"
                               ",,\"cr\r\"\r\n");
}

} // namespace
} // namespace kv
