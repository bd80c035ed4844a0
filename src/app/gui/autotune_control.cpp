#include "app/gui/autotune_control.h"

#include "app/gui/main_window.h"
#include "autotune/gui/autotune_window.h"
#include "datalog/run_file.h"
#include "datalog/run_set.h"
#include "maps/gui/beside.h"
#include "maps/gui/map_tabs.h"
#include "maps/gui/qt_map_grid.h"
#include "maps/table_editor.h"
#include "platform/file_dialogs.h"
#include "platform/messages.h"
#include "undo/gui/undo_stacks.h"

#include <QComboBox>

namespace kv {

AutotuneControl::AutotuneControl(MainWindow& window, UserMessages& messages, SettingsStore& settings, Clock& clock,
                                 RunSet& runs, FileDialogs& files)
    : QObject(&window), window_(window), messages_(messages), runs_(runs), files_(files),
      tune_(messages, settings, *this, clock) {
    autotuneWindow_ = new AutotuneWindow(tune_, &window);
    autotuneWindow_->SetRunSource(this);
}

std::vector<std::string> AutotuneControl::RunCaptions() {
    std::vector<std::string> captions;
    for (int id : runs_.RunIds()) captions.push_back(runs_.Caption(id));
    return captions;
}

const LogRun* AutotuneControl::RunAt(int index) {
    const std::vector<int> ids = runs_.RunIds();
    if (index < 0 || index >= static_cast<int>(ids.size())) return nullptr;
    return runs_.Run(ids[static_cast<std::size_t>(index)]);
}

std::optional<LogRun> AutotuneControl::RunFromFile() {
    const std::optional<FileDialogResult> file = files_.OpenFileDialog(LoadRunTitle(), RunFileFilter());
    if (!file) return std::nullopt;
    Parsed<LoadedRunFile> loaded = LoadRunFile(file->path);
    if (!loaded) {
        messages_.MessageBox(loaded.Error(), "Error", MsgButtons::OK, MsgIcon::Critical);
        return std::nullopt;
    }
    return std::move(loaded->run);
}

AutotuneControl::~AutotuneControl() = default;

void AutotuneControl::OpenWindow() {
    if (tabs_ == nullptr || autotuneWindow_ == nullptr) return;
    if (!tune_.IsOpen()) {
        TableEditor* editor = tabs_->Editor();
        EPROM* image = tabs_->ImageOf(MapTab::Fuel);
        if (editor == nullptr || image == nullptr || !tabs_->EditorIsFor(MapTab::Fuel) || tabs_->Fuel() == nullptr)
            return;
        if (!tune_.Open(*editor, *image, tabs_->Fuel()->MapList()->currentText().toStdString())) return;
    }
    autotuneWindow_->Refresh();
    if (!autotuneWindow_->isVisible()) PlaceBeside(*autotuneWindow_, *tabs_->Fuel()->Grid());
    autotuneWindow_->show();
    autotuneWindow_->raise();
}

void AutotuneControl::Sample(const TraceSample& sample) {
    if (tabs_ == nullptr) return;
    const TableEditor* editor = tabs_->Editor(); // may drop an editor whose image went
    if (!tune_.IsRunning() || editor == nullptr || editor != tune_.Editor()) return;
    tune_.Sample(AutotuneSampleFromTrace(sample));
    if (autotuneWindow_ != nullptr) autotuneWindow_->Refresh();
}

void AutotuneControl::EditorDropped(bool imageInSlot) {
    // The window has one editor: whichever is dropped is the one autotune works on.
    if (!tune_.IsOpen()) return;
    if (imageInSlot) {
        tune_.Stop();
        tune_.Close();
    } else {
        tune_.Abandon();
    }
    if (autotuneWindow_ != nullptr) autotuneWindow_->hide();
}

void AutotuneControl::ImageLeaving(const EPROM& image) {
    if (!tune_.IsRunning() || tune_.Image() != &image) return;
    tune_.Stop();
    if (autotuneWindow_ != nullptr) autotuneWindow_->Refresh();
}

bool AutotuneControl::FuelMapTabSelected() { return window_.SelectedTabKey() == "FuelMap"; }

void AutotuneControl::SetMapSelectorEnabled(bool enabled) {
    if (tabs_ == nullptr || tabs_->Fuel() == nullptr) return;
    // While the window is open the map stays: a visit to another tab comes back to the run.
    tabs_->Fuel()->HoldMap(!enabled);
    // While the window is open the grid shows the cells' states, not the value colours.
    QtMapGrid* grid = tabs_->Fuel()->Grid();
    if (!enabled) {
        valueColoursBefore_ = grid->ValueColours();
        grid->SetValueColours(false);
    } else {
        grid->SetValueColours(valueColoursBefore_);
    }
}

void AutotuneControl::RunningChanged(bool running) {
    if (UndoStacks* undo = window_.Undo()) undo->SetHeld(running);
}

void AutotuneControl::ResetOperatingPointMarker(TableEditor& editor) {
    if (tabs_ == nullptr || tabs_->Fuel() == nullptr) return;
    QtMapGrid* grid = tabs_->Fuel()->Grid();
    editor.SetOperatingPointControls(grid->Marker(0), grid->Marker(1));
}

} // namespace kv
