#pragma once
// Live autotune in the program: cmdAutotune of the fuel map tab opens the "Auto tune" window on
// the map shown, every fuel trace sample goes to the autotune, and the autotune ends when the
// editor it works on is dropped.
#include "autotune/autotune.h"
#include "autotune/gui/autotune_window.h"

#include <QObject>
#include <QPointer>

namespace kv {

class Clock;
class FileDialogs;
class MainWindow;
class RunSet;
class MapTabs;
class SettingsStore;
class TableEditor;
class UserMessages;
struct TraceSample;

class AutotuneControl final : public QObject, public AutotuneHost, public AutotuneRunSource {
    Q_OBJECT
public:
    // Everything must outlive this object (the main window owns it).
    // `runs` are the Data logging tab's runs, `files` asks for a run file.
    AutotuneControl(MainWindow& window, UserMessages& messages, SettingsStore& settings, Clock& clock, RunSet& runs,
                    FileDialogs& files);
    ~AutotuneControl() override;
    void SetMapTabs(MapTabs* tabs) { tabs_ = tabs; }

    // cmdAutotune.
    void OpenWindow();
    // One fuel trace sample with a record.
    void Sample(const TraceSample& sample);
    // The map tabs are about to drop the editor.
    void EditorDropped(bool imageInSlot);
    // `image` is about to be offered for saving on its way out of its slot: a run on it ends
    // first, so that it holds the unit's own settings again.
    void ImageLeaving(const EPROM& image);

    Autotune& Tune() { return tune_; }
    AutotuneWindow* Window() const { return autotuneWindow_; }

    // AutotuneHost
    bool FuelMapTabSelected() override;
    void SetMapSelectorEnabled(bool enabled) override;
    void ResetOperatingPointMarker(TableEditor& editor) override;
    void RunningChanged(bool running) override;

    // AutotuneRunSource
    std::vector<std::string> RunCaptions() override;
    const LogRun* RunAt(int index) override;
    std::optional<LogRun> RunFromFile() override;

private:
    MainWindow& window_;
    UserMessages& messages_;
    RunSet& runs_;
    FileDialogs& files_;
    MapTabs* tabs_ = nullptr;
    Autotune tune_;
    QPointer<AutotuneWindow> autotuneWindow_;
    bool valueColoursBefore_ = false;
};

} // namespace kv
