#pragma once
// The "Ignition system monitor" tab's panel: shows an IgnitionMonitorView and the knock count,
// runs tmrMonitorEZK while the tab is shown (set-up on entering, stop on leaving), plays the
// knock sound on every new knock.
#include "monitor/monitor_ignition.h"

#include <QWidget>

#include <array>
#include <functional>

class QFrame;
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

class IgnitionMonitorPanel final : public QWidget {
    Q_OBJECT
public:
    struct Hooks {
        // The ignition image (never null while the tab is shown).
        std::function<const EPROM*()> image;
        // Registers a control that the main window disables while the ignition is off.
        std::function<void(QWidget*)> registerIgnitionDependent;
        // Plays the knock sound (asynchronously).
        std::function<void()> playKnock;
    };
    // All references must outlive the panel; `knock` is shared with the ignition map trace.
    IgnitionMonitorPanel(MonitorDevice& device, const AuxInputs& aux, Clock& clock, KnockCountState& knock, Hooks hooks,
                         QWidget* parent = nullptr);
    ~IgnitionMonitorPanel() override;

    void Enter();
    void Leave();
    // The aux inputs changed while the tab is shown: the record is configured again with them.
    void AuxInputsChanged();
    // While a transfer or an upgrade has the device the timer stops; afterwards it runs again
    // if it ran (or the tab was entered meanwhile).
    void PausePolling();
    void ResumePolling();
    // One tmrMonitorEZK tick.
    void Tick();
    void Show(const IgnitionMonitorView& view);
    QTimer* Timer() const { return tmrMonitorEZK_; }

private:
    void Build();
    // Starts the timer, or notes that it runs after the pause.
    void StartTimer(int ms);
    void ShowKnockLabel();

    Hooks hooks_;
    IgnitionMonitor monitor_;
    bool registered_ = false;
    bool paused_ = false;
    bool runAfterPause_ = false;

    QTimer* tmrMonitorEZK_ = nullptr;
    QLabel* lblMonitorEZKRPM_ = nullptr;
    QSlider* sldMonitorEZKRPM_ = nullptr;
    QLabel* lblMonitorEZKIgnAdv_ = nullptr;
    QLabel* lblMonitorEZKLoad_ = nullptr;
    std::array<QLabel*, 3> lblMonitorEZKCoding_{};
    std::array<QLabel*, 3> lblMonitorEZKThrottlePos_{};
    QLabel* lblMonitorEZKCoolantC_ = nullptr;
    QLabel* lblMonitorEZKCoolantF_ = nullptr;
    QLabel* lblMonitorEZFAirTempC_ = nullptr;
    QLabel* lblMonitorEZFAirTempF_ = nullptr;
    QLabel* lblMonitorEZKKnockCount_ = nullptr;
    QPushButton* cmdMonitorEZKKnockCountReset_ = nullptr;
    std::array<QLabel*, kCylinders> lblMonitorEZKKnockRetard_{};
    std::array<QLabel*, 2> lblMonitorEZKTransmissionType_{};
    std::array<QLabel*, 2> lblMonitorEZKGearSelector_{};
    QLabel* lblMonitorEZKBatt_ = nullptr;
    std::array<QFrame*, kEzkFaults> shpEZKFault_{};
    std::array<QLabel*, kEzkFaults> lblFaultEZKDescription_{};
    QLabel* lblMonitorEZKAFR_ = nullptr;
    QLabel* lblMonitorEZKEqR_ = nullptr;
    std::array<QLabel*, 4> lblAuxCaption_{};
    std::array<QLabel*, 4> lblAuxEZK_{};
    QLabel* lblMonitorEZKRevWarning_ = nullptr;
    QLabel* loadCaption_ = nullptr;
    std::vector<QGroupBox*> groups_;
};

} // namespace kv
