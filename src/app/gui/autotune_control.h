#pragma once
// Live autotune in the program: cmdAutotune of the fuel map tab opens the "Auto tune" window on
// the map shown, every fuel trace sample goes to the autotune, and the autotune ends when the
// editor it works on is dropped.
#include "autotune/autotune.h"
#include "autotune/gui/autotune_window.h"

#include <QObject>
#include <QPointer>

namespace kv {

class MainWindow;
class MapTabs;
class SettingsStore;
class TableEditor;
class UserMessages;
struct TraceSample;

class AutotuneControl final : public QObject, public AutotuneHost {
    Q_OBJECT
public:
    // Everything must outlive this object (the main window owns it).
    AutotuneControl(MainWindow& window, UserMessages& messages, SettingsStore& settings);
    ~AutotuneControl() override;
    void SetMapTabs(MapTabs* tabs) { tabs_ = tabs; }

    // cmdAutotune.
    void OpenWindow();
    // One fuel trace sample with a record.
    void Sample(const TraceSample& sample);
    // The map tabs are about to drop the editor.
    void EditorDropped(bool imageInSlot);

    Autotune& Tune() { return tune_; }
    AutotuneWindow* Window() const { return autotuneWindow_; }

    // AutotuneHost
    bool FuelMapTabSelected() override;
    void SetMapSelectorEnabled(bool enabled) override;
    void ResetOperatingPointMarker(TableEditor& editor) override;

protected:
    // A run ends (and puts the unit's settings back) before the main window's closing asks
    // about saving the image.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainWindow& window_;
    MapTabs* tabs_ = nullptr;
    Autotune tune_;
    QPointer<AutotuneWindow> autotuneWindow_;
    bool valueColoursBefore_ = false;
};

} // namespace kv
