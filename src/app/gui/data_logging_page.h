#pragma once
// The "Data logging" tab: the set-up and recording panel above the run tabs and their tables.
// The page holds no data-logging state of its own: the program gives it the set-up, the recorder
// and the run set, and the page keeps the two panels in step with each other (the run buttons
// rest while a run is recorded, the tables follow the recording).
#include "app/gui/pages.h"
#include "datalog/gui/log_setup_panel.h"

#include <QList>

#include <functional>
#include <string_view>

namespace kv {

class AuxInputs;
class EPROM;
class LogRecorder;
class LogSetup;
class RunSet;
class RunsPanel;

class DataLoggingPage final : public TabPage {
    Q_OBJECT
public:
    struct Parts {
        LogSetup& setup;
        LogRecorder& recorder;
        RunSet& runs;
        AuxInputs& aux;
        std::function<LogImages()> images;
    };
    explicit DataLoggingPage(const Parts& parts, QWidget* parent = nullptr);

    LogSetupPanel* SetupPanel() const { return setupPanel_; }
    RunsPanel* Runs() const { return runsPanel_; }

    // The variable slots follow a unit's image coming or going ("LH", "!LH", ...), or the aux
    // inputs changing ("Refresh").
    void SetupLogVariables(std::string_view command);
    // A transfer has the device: the recording's timer rests until it is released.
    void HoldRecording(bool held);

signals:
    // Plot: the runs whose tabs are selected.
    void plotRequested(const QList<int>& runIds);
    // "Show on map…" of a run.
    void showOnMapRequested(int runId);
    // The aux input dialog is asked for.
    void configureAuxInputs();
    void knockSound();

private:
    void RecordingChanged();

    Parts p_;
    LogSetupPanel* setupPanel_;
    RunsPanel* runsPanel_;
};

} // namespace kv
