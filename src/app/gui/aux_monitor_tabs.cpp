#include "app/gui/aux_monitor_tabs.h"

#include "app/core/shell.h"
#include "app/gui/main_window.h"
#include "app/gui/pages.h"
#include "auxinputs/aux_inputs.h"
#include "auxinputs/gui/aux_inputs_dialog.h"
#include "maps/cell_input.h"
#include "maps/gui/cell_input_dialog.h"
#include "monitor/gui/fuel_monitor_page.h"
#include "monitor/gui/ignition_monitor_page.h"
#include "monitor/gui/knock_sound.h"

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cstdio>

namespace kv {

namespace {

// A tab page that shows one panel and forwards the tab's enter and leave actions to it.
template <class Panel>
class PanelPage final : public TabPage {
public:
    PanelPage(const QString& key, const QString& caption, Panel* panel) : TabPage(key, caption), panel_(panel) {
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        auto* scroll = new QScrollArea(this);
        scroll->setWidgetResizable(true);
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidget(panel);
        layout->addWidget(scroll);
    }
    void Enter() override { panel_->Enter(); }
    void Leave() override { panel_->Leave(); }

private:
    Panel* panel_;
};

std::string LimitText(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

} // namespace

AuxMonitorTabs::AuxMonitorTabs(const Context& context) : QObject(&context.window), c_(context) {
    Shell& shell = c_.shell;
    MainWindow& window = c_.window;
    auto registerControl = [&window](QWidget* w) { window.RegisterIgnitionDependent(w); };

    fuel_ = new FuelMonitorPanel(c_.device, c_.aux, c_.clock, c_.messages,
                                 {[&shell]() -> const EPROM* { return &shell.FuelImage(); }, registerControl});
    window.SetPage(new PanelPage<FuelMonitorPanel>("Monitor", "Fuel system monitor", fuel_));

    sound_ = new KnockSound(shell.KnockSound(), this);
    ignition_ = new IgnitionMonitorPanel(
        c_.device, c_.aux, c_.clock, c_.knock,
        {[&shell]() -> const EPROM* { return &shell.IgnitionImage(); }, registerControl, [this] { sound_->Play(); }});
    window.SetPage(new PanelPage<IgnitionMonitorPanel>("MonitorEZK", "Ignition system monitor", ignition_));

    // Both monitors pause with every other device timer while a transfer has the device.
    QPointer<FuelMonitorPanel> fuel(fuel_);
    QPointer<IgnitionMonitorPanel> ignition(ignition_);
    pollingId_ = shell.Polling().Register({[fuel, ignition] {
                                               if (fuel) fuel->PausePolling();
                                               if (ignition) ignition->PausePolling();
                                           },
                                           [fuel, ignition] {
                                               if (fuel) fuel->ResumePolling();
                                               if (ignition) ignition->ResumePolling();
                                           }});

    if (QMenu* tools = window.findChild<QMenu*>("mnuTools")) {
        QAction* auxInputs = tools->addAction("&Aux inputs...");
        auxInputs->setObjectName("mnuToolsAuxInputs");
        connect(auxInputs, &QAction::triggered, this, [this] { OpenAuxInputs(1); });
        QAction* wbo2 = tools->addAction("&Wideband O2 sensor...");
        wbo2->setObjectName("mnuToolsWBO2");
        connect(wbo2, &QAction::triggered, this, [this] { OpenAuxInputs(kWbo2Input); });
    }
}

AuxMonitorTabs::~AuxMonitorTabs() { c_.shell.Polling().Unregister(pollingId_); }

void AuxMonitorTabs::OpenAuxInputs(int input) {
    QtCellInput cellInput(c_.messages, &c_.window);
    AuxInputsDialog dialog(
        c_.aux, c_.settings, c_.messages, c_.clipboard,
        [&cellInput](const std::string& initial, double min, double max) {
            return cellInput.Ask(initial, CellInputLimits{LimitText(min), LimitText(max), min, max});
        },
        &c_.window);
    dialog.SelectInput(input);
    dialog.exec();
    // The monitors' records carry the enabled aux inputs: set the shown one up again (the knock
    // total stays until the user resets it).
    const QString key = c_.window.SelectedTabKey();
    if (key == "Monitor") fuel_->Enter();
    if (key == "MonitorEZK") ignition_->AuxInputsChanged();
    if (afterClosed_) afterClosed_();
}

} // namespace kv
