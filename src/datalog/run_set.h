#pragma once
// The open data-logging runs of the data-logging tab: up to kMaxRuns runs, each shown on a tab of
// the run tab strip, with its caption ("Run " N, or the file name once saved or loaded, "*" while
// it has unsaved changes), its file name and its rows; the current run that the buttons act on
// and the tabs selected together for a chart; copying to the clipboard, saving, loading, closing
// with its question and deleting rows. Recording fills runs through the RunSlots seam.
//
// Run ids are the run numbers: never reused while the program runs, so a recording that still
// holds the id of a run the user closed reaches no other run.
#include "datalog/log_run.h"
#include "datalog/run_slots.h"
#include "platform/clipboard.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "platform/progress.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kv {

// What the tab strip and the grids are told; the run set calls it after each change.
class RunSetObserver {
public:
    virtual ~RunSetObserver() = default;
    // Tabs were added, removed, recaptioned or selected; the buttons' state may have changed.
    virtual void RunTabsChanged() = 0;
    // Rows were appended at the end of run `id`.
    virtual void RunRowsAppended(int id) = 0;
    // Rows `first`.. `first + count - 1` (sample rows, 0-based) of run `id` were removed.
    virtual void RunRowsRemoved(int id, int first, int count) = 0;
    // Run `id` got new headers or a new content as a whole.
    virtual void RunReplaced(int id) = 0;
};

// The five run buttons (Copy, Save, Close, Plot, Delete rows) and the tab popup menu's entries:
// enabled while a tab exists.
struct RunButtonsState {
    bool enabled = false;
};

// Writes a whole file; empty on success, else why it failed. The program's writer puts the
// bytes in a temporary file beside the target and renames it into place.
using RunFileWriter = std::function<std::string(const std::string& path, const std::vector<std::uint8_t>& bytes)>;

struct RunSetSeams {
    UserMessages& messages;
    FileDialogs& files;
    Clipboard& clipboard;
    ProgressDisplay& progress; // the hourglass while rows are read or removed
};

class RunSet final : public RunSlots {
public:
    // `decimalSeparator` is the user's: loaded cells get it in place of "," and ".".
    explicit RunSet(RunSetSeams seams, char decimalSeparator = '.', RunFileWriter writer = {});

    void SetObserver(RunSetObserver* observer) { observer_ = observer; }

    // RunSlots.
    int AllocateRun() override;
    void ReleaseRun(int id) override;
    void RefreshRunTabs() override;
    void SetRunHeaders(int id, std::vector<std::string> headers) override;
    void AppendRunRow(int id, const std::vector<std::string>& cells) override;
    int RunRowCount(int id) const override;

    // The open runs' ids in tab order.
    std::vector<int> RunIds() const;
    // nullptr / "" for an id that is not open.
    const LogRun* Run(int id) const;
    std::string Caption(int id) const;
    std::string FileName(int id) const;
    // Tab caption without a trailing "*".
    std::string RunName(int id) const;

    // The current run (the tab whose grid shows); -1 when there is no tab.
    int SelectedRun() const { return selected_; }
    // A plain click: run `id` becomes the current run and the only selected one.
    void SelectRun(int id);
    // A click with Ctrl: adds run `id` to the selected tabs and makes it current, or, when it is
    // selected and not the only one, takes it out (another selected tab becomes current).
    void ToggleRunSelected(int id);
    bool IsRunSelected(int id) const;
    // The selected tabs' runs in tab order (the current one included): what a chart plots.
    std::vector<int> PlotRuns() const;
    RunButtonsState Buttons() const { return {!tabs_.empty()}; }

    // Appends "*" to the current run's caption unless it ends with one.
    void MarkRunModified();
    // Puts the current run's text (header row first, tab-joined, CR LF) on the clipboard; false
    // when there is no run or the clipboard cannot be opened.
    bool CopyRun();
    // The same for the block between two grid cells (grid row 0 is the header row), in any order.
    bool CopySelection(int row1, int column1, int row2, int column2);
    // Asks for a file and saves the current run; true when the bytes are in that file.
    bool SaveRun();
    // Opens a new tab with a run read from a file the user chooses; true when it was loaded. A file
    // that an open tab holds is not read again: that tab is selected (true).
    bool LoadRun();
    // Closes the current run, first asking whether to save it when it has unsaved changes; false
    // when the run stays open.
    bool CloseRun();
    // Removes grid rows `row1`..`row2` (either order; the header row itself is never removed,
    // a range from it starts at row 1) from the current run.
    void DeleteRows(int row1, int row2);

    // Some tab's caption ends with "*" (the main window asks before it quits).
    bool HasUnsavedRuns() const;

private:
    struct Tab {
        int id;
        std::string caption;
        std::string fileName;
        LogRun run;
    };
    Tab* Find(int id);
    const Tab* Find(int id) const;
    void Notify() const;
    // Selects the tab at `index` (clamped), or none when there are no tabs.
    void SelectIndex(std::size_t index);

    RunSetSeams seams_;
    char decimalSeparator_;
    RunFileWriter writer_;
    RunSetObserver* observer_ = nullptr;
    std::vector<Tab> tabs_;
    std::vector<int> selectedIds_;
    int selected_ = -1;
    int runNumber_ = 0;
};

std::string SaveRunTitle();
std::string LoadRunTitle();
std::string RunFileFilter();

} // namespace kv
