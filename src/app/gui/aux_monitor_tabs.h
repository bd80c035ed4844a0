#pragma once
// The fuel and ignition system monitor tabs and the aux input configuration in the main window:
// the two monitor pages replace their caption pages, the Tools menu gets the aux input entries
// (mnuToolsAuxInputs, mnuToolsWBO2), and OpenAuxInputs serves every button that opens the dialog.
#include <QObject>

#include <functional>
#include <memory>

namespace kv {

class AuxInputs;
class Clock;
class Comms;
class FuelMonitorPanel;
class IgnitionMonitorPanel;
class KnockSound;
class MainWindow;
class MonitorDevice;
class SettingsStore;
class Shell;
class Clipboard;
class UserMessages;
struct KnockCountState;

class AuxMonitorTabs final : public QObject {
    Q_OBJECT
public:
    struct Context {
        MainWindow& window;
        Shell& shell;
        MonitorDevice& device;
        AuxInputs& aux;
        SettingsStore& settings;
        UserMessages& messages;
        Clipboard& clipboard;
        Clock& clock;
        KnockCountState& knock; // shared with the ignition map trace
    };
    // Installs the pages and menu entries into `context.window`, which owns this object.
    explicit AuxMonitorTabs(const Context& context);
    ~AuxMonitorTabs() override;

    // Opens frmAuxInputs on input n (1..5), modal; afterwards the shown monitor is set up again
    // so that its aux displays follow the new configuration.
    void OpenAuxInputs(int input);
    // Runs after every close of the dialog (data logging refreshes its aux slots there).
    void SetAfterAuxInputsClosed(std::function<void()> action) { afterClosed_ = std::move(action); }

    FuelMonitorPanel* FuelPanel() const { return fuel_; }
    IgnitionMonitorPanel* IgnitionPanel() const { return ignition_; }

private:
    Context c_;
    FuelMonitorPanel* fuel_ = nullptr;
    IgnitionMonitorPanel* ignition_ = nullptr;
    KnockSound* sound_ = nullptr;
    std::function<void()> afterClosed_;
    int pollingId_ = 0;
};

} // namespace kv
