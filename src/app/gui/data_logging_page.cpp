#include "app/gui/data_logging_page.h"

#include "datalog/gui/runs_panel.h"
#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"

#include <QVBoxLayout>

namespace kv {

DataLoggingPage::DataLoggingPage(const Parts& parts, QWidget* parent)
    : TabPage("DataLogging", "Data logging", parent), p_(parts) {
    setObjectName("DataLoggingPage");
    auto* layout = new QVBoxLayout(this);
    setupPanel_ = new LogSetupPanel(p_.setup, p_.recorder, p_.images, this);
    runsPanel_ = new RunsPanel(p_.runs, this);
    layout->addWidget(setupPanel_);
    layout->addWidget(runsPanel_, 1);
    connect(setupPanel_, &LogSetupPanel::recordingChanged, this, &DataLoggingPage::RecordingChanged);
    connect(setupPanel_, &LogSetupPanel::configureAuxInputs, this, &DataLoggingPage::configureAuxInputs);
    connect(setupPanel_, &LogSetupPanel::knockSound, this, &DataLoggingPage::knockSound);
    connect(runsPanel_, &RunsPanel::plotRequested, this, &DataLoggingPage::plotRequested);
    connect(runsPanel_, &RunsPanel::showOnMapRequested, this, &DataLoggingPage::showOnMapRequested);
    RecordingChanged();
}

void DataLoggingPage::SetupLogVariables(std::string_view command) {
    const LogImages images = p_.images();
    p_.setup.SetupLogVariables(command, *images.ignition, p_.aux);
    setupPanel_->Refresh();
}

void DataLoggingPage::HoldRecording(bool held) { setupPanel_->HoldTimer(held); }

void DataLoggingPage::RecordingChanged() { runsPanel_->SetRunButtonsAllowed(p_.recorder.Controls().runButtonsEnabled); }

} // namespace kv
