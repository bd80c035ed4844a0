#include "app/gui/param_pages.h"

#include "app/core/shell.h"
#include "app/core/shell_device.h"
#include "app/gui/main_window.h"
#include "app/gui/pages.h"
#include "device/comms.h"
#include "params/gui/param_panel.h"

#include <QVBoxLayout>

namespace kv {

namespace {

// A tab page around a parameter panel.
class ParamTabPage final : public TabPage {
public:
    ParamTabPage(const QString& key, const QString& caption, ParamPanel* panel) : TabPage(key, caption), panel_(panel) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(panel);
    }
    void Enter() override { panel_->Enter(); }
    void Leave() override { panel_->Leave(); }
    // The page on show is filled again from the image now in its slot.
    void ImagesChanged() override { panel_->Enter(); }

private:
    ParamPanel* panel_;
};

} // namespace

void InstallParamPages(MainWindow& window, Shell& shell, Comms& comms, AuxDevice& aux, UserMessages& messages,
                       SettingsStore& settings) {
    struct Tab {
        const char* key;
        const char* caption;
        bool fuel;
    };
    for (const Tab& t :
         {Tab{"Parameters", "Fuel parameters", true}, Tab{"ParametersLH22", "Fuel parameters", true},
          Tab{"ParametersEZK", "Ignition parameters", false}, Tab{"ParametersEZF", "Ignition parameters", false}}) {
        ParamPanelServices s;
        const bool fuel = t.fuel;
        s.image = [&shell, fuel] { return fuel ? shell.Slots().fuel.get() : shell.Slots().ignition.get(); };
        s.params.messages = &messages;
        s.params.settings = &settings;
        s.params.aux = &aux;
        s.params.resetO2Adaptation = [&comms] { return comms.ResetO2Adaptation(); };
        s.registerIgnitionDependent = [&window, fuel](QWidget* w) { return window.RegisterImageControl(w, fuel); };
        s.unregisterIgnitionDependent = [&window](int id) { window.UnregisterIgnitionDependent(id); };
        s.startIgnitionCheck = [&shell] {
            shell.Ignition().Release();
            shell.Ignition().Tick(shell.Device().IsIgnitionOn());
        };
        s.stopIgnitionCheck = [&shell] { shell.Ignition().Release(); };
        auto* panel = new ParamPanel(t.key, std::move(s));
        panel->setObjectName(QString("fra") + t.key + "Panel");
        window.SetPage(new ParamTabPage(t.key, t.caption, panel));
    }
}

} // namespace kv
