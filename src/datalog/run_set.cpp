#include "datalog/run_set.h"

#include "datalog/run_file.h"
#include "platform/file_io.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace kv {

namespace {

constexpr const char* kErrorTitle = "Error";
constexpr const char* kWarningTitle = "Warning";

bool EndsWithMark(const std::string& caption) { return !caption.empty() && caption.back() == '*'; }

std::string WithoutMark(const std::string& caption) {
    return EndsWithMark(caption) ? caption.substr(0, caption.size() - 1) : caption;
}

std::string BaseName(const std::string& path) { return PathToUtf8(PathFromUtf8(path).filename()); }

// Whether two paths name the same file (the file may be gone).
bool SameFile(const std::string& a, const std::string& b) {
    std::error_code ea, eb;
    const auto ca = std::filesystem::weakly_canonical(PathFromUtf8(a), ea),
               cb = std::filesystem::weakly_canonical(PathFromUtf8(b), eb);
    return !ea && !eb ? ca == cb : a == b;
}

} // namespace

std::string SaveRunTitle() { return "Save data logging run"; }
std::string LoadRunTitle() { return "Load data logging run"; }
std::string RunFileFilter() { return "Text files (tab delimited) (*.txt)|*.txt"; }

RunSet::RunSet(RunSetSeams seams, char decimalSeparator, RunFileWriter writer)
    : seams_(seams), decimalSeparator_(decimalSeparator),
      writer_(writer ? std::move(writer) : RunFileWriter(SaveFileAtomically)) {}

RunSet::Tab* RunSet::Find(int id) {
    auto it = std::find_if(tabs_.begin(), tabs_.end(), [id](const Tab& t) { return t.id == id; });
    return it == tabs_.end() ? nullptr : &*it;
}

const RunSet::Tab* RunSet::Find(int id) const { return const_cast<RunSet*>(this)->Find(id); }

void RunSet::Notify() const {
    if (observer_) observer_->RunTabsChanged();
}

void RunSet::SelectIndex(std::size_t index) {
    selectedIds_.clear();
    if (tabs_.empty()) {
        selected_ = -1;
        return;
    }
    selected_ = tabs_[std::min(index, tabs_.size() - 1)].id;
    selectedIds_.push_back(selected_);
}

int RunSet::AllocateRun() {
    if (tabs_.size() >= static_cast<std::size_t>(kMaxRuns)) return -1;
    ++runNumber_;
    tabs_.push_back(Tab{runNumber_, "Run " + std::to_string(runNumber_) + "*", "", LogRun()});
    SelectIndex(tabs_.size() - 1);
    Notify();
    return runNumber_;
}

void RunSet::ReleaseRun(int id) {
    auto it = std::find_if(tabs_.begin(), tabs_.end(), [id](const Tab& t) { return t.id == id; });
    if (it == tabs_.end()) return;
    const auto index = static_cast<std::size_t>(it - tabs_.begin());
    tabs_.erase(it);
    std::erase(selectedIds_, id);
    if (selected_ == id) {
        SelectIndex(index);
    }
    RefreshRunTabs();
}

void RunSet::RefreshRunTabs() { Notify(); }

void RunSet::SetRunHeaders(int id, std::vector<std::string> headers) {
    Tab* tab = Find(id);
    if (!tab) return;
    tab->run.SetHeaders(std::move(headers));
    if (observer_) observer_->RunReplaced(id);
}

void RunSet::AppendRunRow(int id, const std::vector<std::string>& cells) {
    Tab* tab = Find(id);
    if (!tab || !tab->run.AppendRow(cells)) return;
    if (observer_) observer_->RunRowsAppended(id);
    if (!EndsWithMark(tab->caption)) {
        tab->caption += "*";
        Notify();
    }
}

int RunSet::RunRowCount(int id) const {
    const Tab* tab = Find(id);
    return tab ? tab->run.RowCount() : 0;
}

std::vector<int> RunSet::RunIds() const {
    std::vector<int> ids;
    for (const Tab& t : tabs_) ids.push_back(t.id);
    return ids;
}

const LogRun* RunSet::Run(int id) const {
    const Tab* tab = Find(id);
    return tab ? &tab->run : nullptr;
}

std::string RunSet::Caption(int id) const {
    const Tab* tab = Find(id);
    return tab ? tab->caption : std::string();
}

std::string RunSet::FileName(int id) const {
    const Tab* tab = Find(id);
    return tab ? tab->fileName : std::string();
}

std::string RunSet::RunName(int id) const { return WithoutMark(Caption(id)); }

void RunSet::SelectRun(int id) {
    if (!Find(id)) return;
    selected_ = id;
    selectedIds_ = {id};
    Notify();
}

void RunSet::ToggleRunSelected(int id) {
    if (!Find(id)) return;
    if (!IsRunSelected(id)) {
        selectedIds_.push_back(id);
        selected_ = id;
    } else if (selectedIds_.size() > 1) {
        std::erase(selectedIds_, id);
        if (selected_ == id) selected_ = selectedIds_.back();
    }
    Notify();
}

bool RunSet::IsRunSelected(int id) const {
    return std::find(selectedIds_.begin(), selectedIds_.end(), id) != selectedIds_.end();
}

std::vector<int> RunSet::PlotRuns() const {
    std::vector<int> ids;
    for (const Tab& t : tabs_)
        if (IsRunSelected(t.id)) ids.push_back(t.id);
    return ids;
}

void RunSet::MarkRunModified() {
    Tab* tab = Find(selected_);
    if (!tab || EndsWithMark(tab->caption)) return;
    tab->caption += "*";
    Notify();
}

bool RunSet::CopyRun() {
    const Tab* tab = Find(selected_);
    return tab && seams_.clipboard.TrySetClipboardText(RunText(tab->run));
}

bool RunSet::CopySelection(int row1, int column1, int row2, int column2) {
    const Tab* tab = Find(selected_);
    return tab && seams_.clipboard.TrySetClipboardText(RunBlockText(tab->run, row1, row2, column1, column2));
}

bool RunSet::SaveRun() {
    Tab* tab = Find(selected_);
    if (!tab) return false;
    const std::string proposed = tab->fileName.empty() ? WithoutMark(tab->caption) : tab->fileName;
    const std::optional<FileDialogResult> chosen =
        seams_.files.SaveFileDialog(SaveRunTitle(), RunFileFilter(), "txt", proposed);
    if (!chosen) return false;
    const std::string text = RunText(tab->run);
    if (!writer_(chosen->path, std::vector<std::uint8_t>(text.begin(), text.end())).empty()) {
        seams_.messages.MessageBox(RunSaveErrorMessage(), kErrorTitle, MsgButtons::OK, MsgIcon::Critical);
        return false;
    }
    tab->caption = BaseName(chosen->path);
    tab->fileName = chosen->path;
    Notify();
    return true;
}

bool RunSet::LoadRun() {
    const int id = AllocateRun();
    if (id < 0) {
        seams_.messages.MessageBox(MaxRunsLoadMessage(), kErrorTitle, MsgButtons::OK, MsgIcon::Critical);
        return false;
    }
    const std::optional<FileDialogResult> chosen = seams_.files.OpenFileDialog(LoadRunTitle(), RunFileFilter());
    if (!chosen) {
        ReleaseRun(id);
        return false;
    }
    // A file open already: its tab is selected instead.
    const auto open = std::find_if(tabs_.begin(), tabs_.end(), [&](const Tab& t) {
        return t.id != id && !t.fileName.empty() && SameFile(t.fileName, chosen->path);
    });
    if (open != tabs_.end()) {
        const int openId = open->id;
        ReleaseRun(id);
        SelectRun(openId);
        return true;
    }
    seams_.progress.SetHourglass(true);
    Parsed<LoadedRunFile> loaded = LoadRunFile(chosen->path, decimalSeparator_);
    seams_.progress.SetHourglass(false);
    if (!loaded) {
        seams_.messages.MessageBox(loaded.Error(), kErrorTitle, MsgButtons::OK, MsgIcon::Critical);
        ReleaseRun(id);
        return false;
    }
    if (loaded->truncated)
        seams_.messages.MessageBox(RunTruncatedMessage(), kWarningTitle, MsgButtons::OK, MsgIcon::Warning);
    Tab* tab = Find(id);
    tab->run = std::move(loaded->run);
    tab->caption = BaseName(chosen->path);
    tab->fileName = chosen->path;
    if (observer_) observer_->RunReplaced(id);
    Notify();
    return true;
}

bool RunSet::CloseRun() {
    const Tab* tab = Find(selected_);
    if (!tab) return false;
    if (EndsWithMark(tab->caption)) {
        const MsgResult answer =
            seams_.messages.MessageBox("Save changes to data logging run " + WithoutMark(tab->caption) + "?",
                                       kWarningTitle, MsgButtons::YesNoCancel, MsgIcon::Warning);
        if (answer == MsgResult::Cancel) return false;
        if (answer == MsgResult::Yes && !SaveRun()) return false;
    }
    ReleaseRun(selected_);
    return true;
}

void RunSet::DeleteRows(int row1, int row2) {
    Tab* tab = Find(selected_);
    if (!tab) return;
    int first = std::max(std::min(row1, row2), 1);
    const int last = std::min(std::max(row1, row2), tab->run.RowCount());
    if (last < first) return;
    seams_.progress.SetHourglass(true);
    tab->run.RemoveRows(first - 1, last - first + 1);
    seams_.progress.SetHourglass(false);
    if (observer_) observer_->RunRowsRemoved(tab->id, first - 1, last - first + 1);
    MarkRunModified();
}

bool RunSet::HasUnsavedRuns() const {
    return std::any_of(tabs_.begin(), tabs_.end(), [](const Tab& t) { return EndsWithMark(t.caption); });
}

} // namespace kv
