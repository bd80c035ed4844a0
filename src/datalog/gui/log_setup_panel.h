#pragma once
// The set-up and recording half of the data-logging tab: the variable frames with their check
// boxes, the aux inputs button, rate, trigger, the start/stop button, the status line, the knock
// counter and the tab's timer. It shows a LogSetup and a LogRecorder and forwards the user's
// clicks and the timer to them; it holds no state of its own.
//
// Composition: make it with the program's LogSetup and LogRecorder and a function that gives the
// two images; connect configureAuxInputs to the aux input dialog and, after it, call
// setup.SetupLogVariables("Refresh", ...) and Refresh(); connect knockSound to the knock sound
// and recordingChanged to the run buttons of the runs panel (LogRecorder::Controls()); call
// Refresh() after every SetupLogVariables from the tab state.
#include "datalog/log_catalogue.h"

#include <QWidget>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace kv {

class EPROM;
class LogRecorder;
class LogSetup;

// The images the units run (both always present; an empty slot holds an empty image).
struct LogImages {
    const EPROM* fuel;
    const EPROM* ignition;
};

class LogSetupPanel : public QWidget {
    Q_OBJECT
public:
    // `setup` and `recorder` must outlive the panel.
    LogSetupPanel(LogSetup& setup, LogRecorder& recorder, std::function<LogImages()> images, QWidget* parent = nullptr);

    // Shows the set-up and the recording as they are now.
    void Refresh();
    // tmrDataLog's work (also called by the timer).
    void OnTimer();
    // While held (another transfer has the device) tmrDataLog stays stopped; released, it runs
    // again when the recording wants it.
    void HoldTimer(bool held);
    bool TimerHeld() const { return timerHeld_; }

signals:
    void configureAuxInputs();
    void knockSound();
    // A run started, paused, resumed or stopped, or rows came in.
    void recordingChanged();

private:
    void OnStartStop();

    LogSetup& setup_;
    LogRecorder& recorder_;
    std::function<LogImages()> images_;
    std::array<QGroupBox*, 3> frames_{};
    std::array<QCheckBox*, kLogSlotCount> chkDataLog_{};
    QPushButton* cmdConfigAuxInputs_ = nullptr;
    QGroupBox* fraDataLogRate_ = nullptr;
    QComboBox* cmbDataLogRate_ = nullptr;
    QGroupBox* fraDataLogTrigger_ = nullptr;
    std::array<QRadioButton*, 3> radioDataLogTrigger_{};
    QPushButton* cmdDataLogStartStop_ = nullptr;
    QLabel* lblDataLogStatus_ = nullptr;
    QLabel* lblDataLogDropped_ = nullptr; // "records dropped: N", shown once a record was dropped
    QGroupBox* fraDataLogKnockCount_ = nullptr;
    QLabel* lblDataLogKnockCount_ = nullptr;
    QTimer* tmrDataLog_ = nullptr;
    bool refreshing_ = false;
    bool timerHeld_ = false;
};

} // namespace kv
