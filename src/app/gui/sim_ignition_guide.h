#pragma once
// With the simulated car, the ignition guidance of a module load ("Turn ignition OFF" / "Turn
// ignition ON") offers the car's ignition switch: the guidance window blocks the main window and
// with it the switch in the status bar, so a small window with the same switch stands beside the
// guidance while it waits. The driver at the key (auto mode) is told of every request as before.
#include "platform/ignition_prompt.h"

#include <QPointer>

#include <optional>

class QComboBox;
class QWidget;

namespace kv {

class SimulatedBackend;

class SimIgnitionGuide final : public IgnitionPrompt {
public:
    // `statusSwitch` is the status bar's switch (cboSimIgnition), which drives the car; `driver`
    // turns the key in auto mode; `mainWindow` holds the switch window when no window is modal.
    SimIgnitionGuide(SimulatedBackend& sim, IgnitionPrompt& driver, QComboBox& statusSwitch, QWidget& mainWindow);
    ~SimIgnitionGuide() override;
    SimIgnitionGuide(const SimIgnitionGuide&) = delete;
    SimIgnitionGuide& operator=(const SimIgnitionGuide&) = delete;

    void Asked(IgnitionRequest request) override;
    void Ended() override;

    // The switch window while a request is pending (null otherwise).
    QWidget* Window() const { return window_.data(); }

private:
    SimulatedBackend& sim_;
    IgnitionPrompt& driver_;
    QPointer<QComboBox> statusSwitch_;
    QPointer<QWidget> mainWindow_;
    QPointer<QWidget> window_;
    std::optional<IgnitionRequest> pending_;
};

} // namespace kv
