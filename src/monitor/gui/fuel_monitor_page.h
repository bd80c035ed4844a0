#pragma once
// The "Fuel system monitor" tab's panel: shows a FuelMonitorView, runs tmrMonitor while the tab
// is shown (set-up on entering, stop on leaving) and the O2 adaptation reset.
#include "monitor/monitor_fuel.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QGroupBox;
class QLabel;
class QPushButton;
class QSlider;
class QTimer;

namespace kv {

class AuxInputs;
class Clock;
class EPROM;
class MonitorDevice;
class UserMessages;

class FuelMonitorPanel final : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        // The fuel image (never null while the tab is shown).
        std::function<const EPROM*()> image;
        // Registers a control that the main window disables while the ignition is off.
        std::function<void(QWidget*)> registerIgnitionDependent;
    };
    // All references must outlive the panel.
    FuelMonitorPanel(MonitorDevice& device, const AuxInputs& aux, Clock& clock, UserMessages& dialogs, Hooks hooks,
                     QWidget* parent = nullptr);
    ~FuelMonitorPanel() override;

    // The tab's enter action: set-up, then the timer runs when the device took the record.
    void Enter();
    // The tab's leave action: the timer stops.
    void Leave();
    // While a transfer or an upgrade has the device the timer stops; afterwards it runs again
    // if it ran (or the tab was entered meanwhile).
    void PausePolling();
    void ResumePolling();
    // One tmrMonitor tick.
    void Tick();
    void Show(const FuelMonitorView& view);
    QTimer* Timer() const { return tmrMonitor_; }

private:
    void Build();
    // Starts the timer, or notes that it runs after the pause.
    void StartTimer(int ms);

    MonitorDevice& device_;
    Clock& clock_;
    UserMessages& dialogs_;
    Hooks hooks_;
    FuelMonitor monitor_;
    bool registered_ = false;
    bool paused_ = false;
    bool runAfterPause_ = false;

    QTimer* tmrMonitor_ = nullptr;
    QLabel* lblMonitorRPM_ = nullptr;
    QSlider* sldMonitorRPM_ = nullptr;
    QLabel* lblMonitorMAF_ = nullptr;
    QLabel* lblMonitorMAFpercent_ = nullptr;
    std::array<QLabel*, 2> lblMonitorCoolant_{};
    QLabel* lblMonitorInjInterval_ = nullptr;
    QLabel* lblMonitorInjPW_ = nullptr;
    QLabel* lblMonitorInjDC_ = nullptr;
    QLabel* lblMonitorBatt_ = nullptr;
    QLabel* lblMonitorMAFVoltage_ = nullptr;
    QLabel* lblMonitorAFR_ = nullptr;
    QLabel* lblMonitorEqR_ = nullptr;
    QSlider* sldMonitorAFR_ = nullptr;
    std::array<QLabel*, 3> lblMonitorThrottlePos_{};
    QLabel* lblMonitorFlappyOpen_ = nullptr;
    QLabel* lblMonitorFlappyClosed_ = nullptr;
    QLabel* lblMonitorCOpot_ = nullptr;
    QLabel* lblMonitorCOpotPercent_ = nullptr;
    QLabel* lblMonitorO2_ = nullptr;
    QLabel* lblMonitorIdleStabilizer_ = nullptr;
    std::array<QLabel*, 2> lblMonitorO2Adapt_{};
    QPushButton* cmdO2AdaptReset_ = nullptr;
    std::array<QLabel*, 4> lblAuxCaption_{};
    std::array<QLabel*, 4> lblAux_{};
    std::vector<QGroupBox*> groups_;
};

} // namespace kv
