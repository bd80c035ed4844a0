// The open runs of the data-logging tab: tabs and captions, saving, loading, closing, deleting
// rows, copying, the tabs selected for a chart and the question at exit.
#include "datalog/run_file.h"
#include "datalog/run_set.h"

#include "fakes.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kv {
namespace {

using Cells = std::vector<std::string>;

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string NumberedRunFile(int dataLines, const std::string& tail = "") {
    std::string text = "Time [s]\tRPM\r\n";
    for (int i = 1; i <= dataLines; ++i) text += std::to_string(i) + "\t850\r\n";
    return text + tail;
}

class RecordingObserver final : public RunSetObserver {
public:
    void RunTabsChanged() override { ++tabChanges; }
    void RunRowsAppended(int id) override { log.push_back("appended " + std::to_string(id)); }
    void RunRowsRemoved(int id, int first, int count) override {
        log.push_back("removed " + std::to_string(id) + " " + std::to_string(first) + " " + std::to_string(count));
    }
    void RunReplaced(int id) override { log.push_back("replaced " + std::to_string(id)); }
    int tabChanges = 0;
    std::vector<std::string> log;
};

class RunSetTest : public ::testing::Test {
protected:
    RunSet& Runs() { return runs; }
    // A recorded run of `rows` rows ("0.1".."0.N" and 850 + row).
    int Recorded(int rows) {
        const int id = runs.AllocateRun();
        runs.SetRunHeaders(id, {"Time [s]", "RPM"});
        for (int r = 1; r <= rows; ++r) runs.AppendRunRow(id, {"0." + std::to_string(r), std::to_string(850 + r)});
        return id;
    }
    FileDialogResult File(const std::string& name) const { return FileDialogResult{dir.File(name), 1}; }

    TempDir dir;
    ScriptedDialogs dialogs;
    RecordingObserver observer;
    RunSet runs{RunSetSeams{dialogs, dialogs, dialogs, dialogs}};
    void SetUp() override { runs.SetObserver(&observer); }
};

TEST_F(RunSetTest, TabsCountUpAndTheTenthIsTheLast) {
    EXPECT_FALSE(runs.Buttons().enabled);
    EXPECT_EQ(runs.SelectedRun(), -1);
    for (int i = 1; i <= kMaxRuns; ++i) {
        EXPECT_EQ(runs.AllocateRun(), i);
        EXPECT_EQ(runs.SelectedRun(), i);
        EXPECT_EQ(runs.Caption(i), "Run " + std::to_string(i) + "*");
    }
    EXPECT_TRUE(runs.Buttons().enabled);
    EXPECT_EQ(runs.AllocateRun(), -1);

    // A full set refuses a load before any dialog.
    EXPECT_FALSE(runs.LoadRun());
    EXPECT_EQ(dialogs.log, Cells{"MessageBox|Error|" + MaxRunsLoadMessage()});
    EXPECT_EQ(runs.RunIds().size(), 10u);

    // Releasing the current tab selects the one now in its place; numbers are never reused.
    runs.SelectRun(4);
    runs.ReleaseRun(4);
    EXPECT_EQ(runs.SelectedRun(), 5);
    runs.SelectRun(10);
    runs.ReleaseRun(10);
    EXPECT_EQ(runs.SelectedRun(), 9);
    EXPECT_EQ(runs.AllocateRun(), 11);
    EXPECT_EQ(runs.Caption(11), "Run 11*");
    EXPECT_EQ(runs.RunIds(), (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9, 11}));
    for (const int id : runs.RunIds()) runs.ReleaseRun(id);
    EXPECT_EQ(runs.SelectedRun(), -1);
    EXPECT_FALSE(runs.Buttons().enabled);
    EXPECT_EQ(runs.Run(4), nullptr);
    EXPECT_EQ(runs.Caption(4), "");
}

TEST_F(RunSetTest, SaveWritesTheFileAndTakesItsName) {
    const int id = Recorded(2);
    dialogs.files = {File("first.txt")};
    EXPECT_TRUE(runs.SaveRun());
    EXPECT_EQ(dialogs.log.back(),
              "SaveFileDialog|Save data logging run|Text files (tab delimited) (*.txt)|*.txt|txt|Run 1|1");
    EXPECT_EQ(ReadText(dir.File("first.txt")), "Time [s]\tRPM\r\n0.1\t851\r\n0.2\t852\r\n");
    EXPECT_EQ(runs.Caption(id), "first.txt");
    EXPECT_EQ(runs.FileName(id), dir.File("first.txt"));
    EXPECT_FALSE(runs.HasUnsavedRuns());

    // A new row marks it again; the next save proposes the full path.
    runs.AppendRunRow(id, {"0.3", "853"});
    EXPECT_EQ(runs.Caption(id), "first.txt*");
    dialogs.files = {std::nullopt};
    EXPECT_FALSE(runs.SaveRun());
    EXPECT_EQ(dialogs.log.back(), "SaveFileDialog|Save data logging run|Text files (tab delimited) (*.txt)|*.txt|txt|" +
                                      dir.File("first.txt") + "|1");
    EXPECT_EQ(runs.Caption(id), "first.txt*");
    EXPECT_EQ(ReadText(dir.File("first.txt")), "Time [s]\tRPM\r\n0.1\t851\r\n0.2\t852\r\n");
}

TEST_F(RunSetTest, AFailingSaveKeepsTheOldFileAndTheMark) {
    WriteText(dir.File("run.txt"), "old run\r\n");
    int writes = 0;
    RunSet failing(RunSetSeams{dialogs, dialogs, dialogs, dialogs}, '.',
                   [&writes](const std::string&, const std::vector<std::uint8_t>&) {
                       ++writes;
                       return std::string("Save failed - disk I/O error");
                   });
    const int id = failing.AllocateRun();
    failing.SetRunHeaders(id, {"Time [s]"});
    failing.AppendRunRow(id, {"0.1"});
    dialogs.files = {File("run.txt")};
    EXPECT_FALSE(failing.SaveRun());
    EXPECT_EQ(writes, 1);
    EXPECT_EQ(ReadText(dir.File("run.txt")), "old run\r\n");
    EXPECT_EQ(failing.Caption(id), "Run 1*");
    EXPECT_EQ(failing.FileName(id), "");
    EXPECT_EQ(dialogs.log.back(), "MessageBox|Error|Error when saving - file not saved");
}

TEST_F(RunSetTest, TheProgramsWriterKeepsTheOldFileWhenItCannotWrite) {
    WriteText(dir.File("run.txt"), "old run\r\n");
    const int id = Recorded(1);
    // The new text goes to a file beside the target first; a folder in that place makes the
    // write fail for every user, root included.
    std::filesystem::create_directory(dir.File("run.txt.kvtmp"));
    dialogs.files = {File("run.txt")};
    EXPECT_FALSE(runs.SaveRun());
    EXPECT_EQ(ReadText(dir.File("run.txt")), "old run\r\n");
    EXPECT_EQ(runs.Caption(id), "Run 1*");
    EXPECT_EQ(dialogs.messages, Cells{"Error when saving - file not saved"});
}

TEST_F(RunSetTest, LoadTakesTheFileOrLeavesNoTab) {
    struct Case {
        const char* what;
        std::string content;               // empty: no file
        std::optional<std::string> chosen; // nullopt: the dialog is cancelled
        Cells messages;
        int rows; // -1: no tab afterwards
    };
    const Case cases[] = {
        {"cancelled", "", std::nullopt, {}, -1},
        {"only comments", "; nothing\r\n\r\n;more\r\n", "a.txt", {"File is empty"}, -1},
        {"missing file", "", "missing.txt", {"Error when loading file"}, -1},
        {"header only", "Time [s]\tRPM\r\n", "a.txt", {}, 0},
        {"exactly 10000 rows", NumberedRunFile(10000, ";end\r\n\r\n"), "a.txt", {}, 10000},
        {"10001 rows", NumberedRunFile(10001), "a.txt", {RunTruncatedMessage()}, 10000},
    };
    for (const Case& c : cases) {
        TempDir folder;
        ScriptedDialogs d;
        RunSet set(RunSetSeams{d, d, d, d});
        if (!c.content.empty()) WriteText(folder.File("a.txt"), c.content);
        d.files = {c.chosen ? std::optional(FileDialogResult{folder.File(*c.chosen), 1}) : std::nullopt};
        EXPECT_EQ(set.LoadRun(), c.rows >= 0) << c.what;
        EXPECT_EQ(d.messages, c.messages) << c.what;
        EXPECT_EQ(d.log.front(), "OpenFileDialog|Load data logging run|Text files (tab delimited) (*.txt)|*.txt|1")
            << c.what;
        EXPECT_FALSE(d.hourglass) << c.what;
        if (c.rows < 0) {
            EXPECT_TRUE(set.RunIds().empty()) << c.what;
            EXPECT_EQ(set.SelectedRun(), -1) << c.what;
            continue;
        }
        ASSERT_EQ(set.RunIds(), std::vector<int>{1}) << c.what;
        EXPECT_EQ(set.Caption(1), "a.txt") << c.what;
        EXPECT_EQ(set.FileName(1), folder.File("a.txt")) << c.what;
        EXPECT_EQ(set.RunRowCount(1), c.rows) << c.what;
        EXPECT_FALSE(set.HasUnsavedRuns()) << c.what;
    }
}

// A file that is open already is not opened twice: its tab is selected.
TEST_F(RunSetTest, LoadingAnOpenFileSelectsItsTab) {
    WriteText(dir.File("pull.txt"), NumberedRunFile(3));
    WriteText(dir.File("other.txt"), NumberedRunFile(2));
    dialogs.files = {File("pull.txt"), File("other.txt"), FileDialogResult{dir.File("./sub/../pull.txt"), 1}};
    std::filesystem::create_directory(dir.File("sub"));
    ASSERT_TRUE(runs.LoadRun());
    ASSERT_TRUE(runs.LoadRun());
    EXPECT_EQ(runs.SelectedRun(), 2);
    EXPECT_TRUE(runs.LoadRun()) << "the run is there";
    EXPECT_EQ(runs.RunIds(), (std::vector<int>{1, 2}));
    EXPECT_EQ(runs.SelectedRun(), 1);
    EXPECT_EQ(runs.Caption(1), "pull.txt");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(RunSetTest, LoadedCellsTakeTheUsersDecimalSeparator) {
    WriteText(dir.File("point.txt"), "Time [s]\tAFR\r\n0.10\t14.7\r\n");
    RunSet comma(RunSetSeams{dialogs, dialogs, dialogs, dialogs}, ',');
    dialogs.files = {File("point.txt")};
    ASSERT_TRUE(comma.LoadRun());
    EXPECT_EQ(comma.Run(1)->Cell(0, 1), "14,7");
    EXPECT_DOUBLE_EQ(comma.Run(1)->Value(0, 1), 14.7);
}

TEST_F(RunSetTest, CloseAsksOnlyForUnsavedRuns) {
    struct Case {
        const char* what;
        bool saved;
        std::vector<MsgResult> answers;
        std::optional<std::string> saveAs; // answer of the save dialog, if it is shown
        bool closed;
        Cells messages;
    };
    const std::string question = "Save changes to data logging run Run 1?";
    const Case cases[] = {
        {"saved and unchanged", true, {}, std::nullopt, true, {}},
        {"cancel keeps it", false, {MsgResult::Cancel}, std::nullopt, false, {question}},
        {"no discards it", false, {MsgResult::No}, std::nullopt, true, {question}},
        {"yes and the save is cancelled keeps it", false, {MsgResult::Yes}, std::nullopt, false, {question}},
        {"yes and saved closes it", false, {MsgResult::Yes}, "kept.txt", true, {question}},
    };
    for (const Case& c : cases) {
        TempDir folder;
        ScriptedDialogs d;
        RunSet set(RunSetSeams{d, d, d, d});
        const int id = set.AllocateRun();
        set.SetRunHeaders(id, {"Time [s]"});
        set.AppendRunRow(id, {"0.1"});
        if (c.saved) {
            d.files = {FileDialogResult{folder.File("saved.txt"), 1}};
            ASSERT_TRUE(set.SaveRun());
            d.messages.clear();
        }
        d.answers.assign(c.answers.begin(), c.answers.end());
        d.files = {c.saveAs ? std::optional(FileDialogResult{folder.File(*c.saveAs), 1}) : std::nullopt};
        EXPECT_EQ(set.CloseRun(), c.closed) << c.what;
        EXPECT_EQ(set.RunIds().empty(), c.closed) << c.what;
        EXPECT_EQ(d.messages, c.messages) << c.what;
        if (c.saveAs) {
            EXPECT_EQ(ReadText(folder.File(*c.saveAs)), "Time [s]\r\n0.1\r\n") << c.what;
        }
    }
}

TEST_F(RunSetTest, DeleteRowsFromTheSelection) {
    struct Case {
        int row1, row2;
        Cells keptTimes;
    };
    const Case cases[] = {
        {2, 3, {"0.1", "0.4"}},
        {3, 2, {"0.1", "0.4"}},
        {0, 2, {"0.3", "0.4"}}, // from the header row: from row 1
        {2, 0, {"0.3", "0.4"}},
        {4, 9, {"0.1", "0.2", "0.3"}},
        {0, 0, {"0.1", "0.2", "0.3", "0.4"}}, // the header row alone: nothing
    };
    for (const Case& c : cases) {
        ScriptedDialogs d;
        RunSet set(RunSetSeams{d, d, d, d});
        RecordingObserver seen;
        set.SetObserver(&seen);
        const int id = set.AllocateRun();
        set.SetRunHeaders(id, {"Time [s]", "RPM"});
        for (int r = 1; r <= 4; ++r) set.AppendRunRow(id, {"0." + std::to_string(r), "850"});
        d.files = {FileDialogResult{dir.File("d.txt"), 1}};
        ASSERT_TRUE(set.SaveRun());
        set.DeleteRows(c.row1, c.row2);
        Cells times;
        for (int r = 0; r < set.RunRowCount(id); ++r) times.emplace_back(set.Run(id)->Cell(r, 0));
        EXPECT_EQ(times, c.keptTimes) << c.row1 << ".." << c.row2;
        EXPECT_EQ(set.Run(id)->Headers(), (Cells{"Time [s]", "RPM"}));
        const bool removed = c.keptTimes.size() < 4;
        EXPECT_EQ(set.Caption(id), removed ? "d.txt*" : "d.txt") << c.row1 << ".." << c.row2;
        EXPECT_EQ(seen.log.back().rfind("removed", 0) == 0, removed) << c.row1 << ".." << c.row2;
        EXPECT_FALSE(d.hourglass);
    }
}

TEST_F(RunSetTest, CopyPutsTabbedRowsOnTheClipboard) {
    Recorded(2);
    EXPECT_TRUE(runs.CopyRun());
    EXPECT_EQ(dialogs.clipboard, "Time [s]\tRPM\r\n0.1\t851\r\n0.2\t852\r\n");
    EXPECT_TRUE(runs.CopySelection(2, 1, 1, 0));
    EXPECT_EQ(dialogs.clipboard, "0.1\t851\r\n0.2\t852\r\n");
    EXPECT_TRUE(runs.CopySelection(0, 1, 1, 1));
    EXPECT_EQ(dialogs.clipboard, "RPM\r\n851\r\n");
    dialogs.clipboardFails = true;
    EXPECT_FALSE(runs.CopyRun());
    EXPECT_EQ(dialogs.clipboard, "RPM\r\n851\r\n");

    RunSet empty(RunSetSeams{dialogs, dialogs, dialogs, dialogs});
    dialogs.clipboardFails = false;
    EXPECT_FALSE(empty.CopyRun());
    EXPECT_FALSE(empty.SaveRun());
    EXPECT_FALSE(empty.CloseRun());
    empty.DeleteRows(1, 2);
    EXPECT_EQ(dialogs.clipboard, "RPM\r\n851\r\n");
}

TEST_F(RunSetTest, SeveralTabsAreSelectedForAChart) {
    for (int i = 0; i < 4; ++i) runs.AllocateRun();
    EXPECT_EQ(runs.PlotRuns(), std::vector<int>{4});
    runs.SelectRun(1);
    runs.ToggleRunSelected(3);
    EXPECT_EQ(runs.SelectedRun(), 3);
    runs.ToggleRunSelected(2);
    EXPECT_EQ(runs.PlotRuns(), (std::vector<int>{1, 2, 3}));
    // Taking the current one out makes another selected tab current.
    runs.ToggleRunSelected(2);
    EXPECT_EQ(runs.PlotRuns(), (std::vector<int>{1, 3}));
    EXPECT_TRUE(runs.IsRunSelected(runs.SelectedRun()));
    // The last selected tab stays selected.
    runs.SelectRun(4);
    runs.ToggleRunSelected(4);
    EXPECT_EQ(runs.PlotRuns(), std::vector<int>{4});
    // A closed tab leaves the selection.
    runs.ToggleRunSelected(2);
    runs.ReleaseRun(4);
    EXPECT_EQ(runs.PlotRuns(), std::vector<int>{2});
    EXPECT_EQ(runs.SelectedRun(), 2);
}

TEST_F(RunSetTest, UnsavedRunsAreThoseWithAMark) {
    EXPECT_FALSE(runs.HasUnsavedRuns());
    const int id = Recorded(1);
    EXPECT_TRUE(runs.HasUnsavedRuns());
    dialogs.files = {File("u.txt")};
    ASSERT_TRUE(runs.SaveRun());
    EXPECT_FALSE(runs.HasUnsavedRuns());
    Recorded(0);
    EXPECT_TRUE(runs.HasUnsavedRuns()) << "a new empty run is unsaved too";
    runs.ReleaseRun(runs.SelectedRun());
    runs.SelectRun(id);
    runs.DeleteRows(1, 1);
    EXPECT_TRUE(runs.HasUnsavedRuns());
}

TEST_F(RunSetTest, TheObserverHearsOfEveryChange) {
    const int id = Recorded(2);
    EXPECT_EQ(observer.log, (Cells{"replaced 1", "appended 1", "appended 1"}));
    EXPECT_GE(observer.tabChanges, 1);
    runs.MarkRunModified();
    const int before = observer.tabChanges;
    dialogs.files = {File("o.txt")};
    ASSERT_TRUE(runs.SaveRun());
    EXPECT_GT(observer.tabChanges, before);
    runs.DeleteRows(1, 1);
    EXPECT_EQ(observer.log.back(), "removed 1 0 1");
    EXPECT_EQ(runs.Caption(id), "o.txt*");
}

} // namespace
} // namespace kv
