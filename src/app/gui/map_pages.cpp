#include "app/gui/map_pages.h"

#include "app/core/shell.h"
#include "app/core/shell_device.h"
#include "app/gui/autotune_control.h"
#include "app/gui/main_window.h"
#include "app/gui/pages.h"
#include "device/adapters/comms_trace_device.h"
#include "maps/gui/map_tabs.h"
#include "maps/map_view_settings.h"
#include "monitor/gui/knock_sound.h"

#include <QAction>
#include <QMenu>
#include <QVBoxLayout>

namespace kv {

namespace {

// A tab page around a map panel: entering fills the map list, leaving stops the trace.
class MapPage final : public TabPage {
public:
    MapPage(const QString& key, const QString& caption, MapTabPanel* panel) : TabPage(key, caption), panel_(panel) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(panel);
    }
    void Enter() override { panel_->FillMapList(); }
    void Leave() override { panel_->Leave(); }

private:
    MapTabPanel* panel_;
};

// Keeps the trace's device adapter alive as long as the window.
class TraceDeviceHolder final : public QObject {
public:
    TraceDeviceHolder(Comms& comms, QObject* parent) : QObject(parent), device(comms) {}
    CommsTraceDevice device;
};

} // namespace

void InstallMapTabs(MainWindow& window, Shell& shell, Comms& comms, const AuxInputs& aux, UserMessages& messages,
                    ProgressDisplay& progress, Clipboard& clipboard, Clock& clock, KnockCountState& knock,
                    SettingsStore& settings, AutotuneControl* autotune, std::function<bool()> recordLayoutTaken) {
    auto* holder = new TraceDeviceHolder(comms, &window);
    holder->device.SetRecordLayoutTaken(std::move(recordLayoutTaken));
    auto* sound = new KnockSound(shell.KnockSound(), &window);
    MapTabServices s;
    s.fuelImage = [&shell] { return shell.Slots().fuel.get(); };
    s.ignitionImage = [&shell] { return shell.Slots().ignition.get(); };
    s.device = &holder->device;
    s.messages = &messages;
    s.progress = &progress;
    s.clipboard = &clipboard;
    s.clock = &clock;
    s.aux = &aux;
    s.registerIgnitionDependent = [&window](QWidget* w, MapTab tab) {
        return window.RegisterImageControl(w, tab == MapTab::Fuel);
    };
    s.unregisterIgnitionDependent = [&window](int id) { window.UnregisterIgnitionDependent(id); };
    s.startIgnitionCheck = [&shell] {
        // Remembered state "on", then one check at once: controls go grey immediately when off.
        shell.Ignition().Release();
        shell.Ignition().Tick(shell.Device().IsIgnitionOn());
    };
    s.stopIgnitionCheck = [&shell] { shell.Ignition().Release(); };
    s.playKnock = [sound] { sound->Play(); };
    s.knock = &knock;
    s.editCopy = window.Action("mnuEditCopy");
    s.editPaste = window.Action("mnuEditPaste");
    if (autotune != nullptr) {
        s.onAutotune = [autotune] { autotune->OpenWindow(); };
        s.onFuelTraceSample = [autotune](const TraceSample& sample) { autotune->Sample(sample); };
        s.onEditorDropped = [autotune](bool imageInSlot) { autotune->EditorDropped(imageInSlot); };
    }
    auto* tabs = new MapTabs(window.EditorSlot(), std::move(s), &window);
    tabs->CreatePanels();
    if (autotune != nullptr) autotune->SetMapTabs(tabs);
    window.SetMapTabs(tabs);
    // View > Colour map cells by value, remembered.
    if (QMenu* view = window.ViewMenu()) {
        QAction* colours = view->addAction("&Colour map cells by value");
        colours->setObjectName("mnuViewValueColours");
        colours->setCheckable(true);
        colours->setChecked(MapViewSettings(settings).ValueColours());
        tabs->SetValueColours(colours->isChecked());
        QObject::connect(colours, &QAction::toggled, tabs, [tabs, &settings](bool on) {
            MapViewSettings(settings).SetValueColours(on);
            tabs->SetValueColours(on);
        });
    }
    window.SetPage(new MapPage("FuelMap", "Fuel maps", tabs->Fuel()));
    window.SetPage(new MapPage("IgnMap", "Ignition maps", tabs->Ignition()));
}

} // namespace kv
