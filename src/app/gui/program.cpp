#include "app/gui/program.h"

#include "app/core/connection_monitor.h"
#include "app/gui/autotune_control.h"
#include "app/gui/aux_monitor_tabs.h"
#include "app/gui/compare_menu.h"
#include "app/gui/data_logging_page.h"
#include "app/gui/main_window.h"
#include "app/gui/map_pages.h"
#include "app/gui/param_pages.h"
#include "app/gui/sim_ignition_guide.h"
#include "app/gui/splash.h"
#include "app_version.h"
#include "auxinputs/aux_inputs.h"
#include "datalog/gui/log_chart_window.h"
#include "datalog/gui/run_overlay_window.h"
#include "datalog/gui/runs_panel.h"
#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"
#include "datalog/run_set.h"
#include "device/adapters/comms_aux_device.h"
#include "device/adapters/comms_datalog_device.h"
#include "device/adapters/comms_eprom_device.h"
#include "device/adapters/comms_monitor_device.h"
#include "device/adapters/comms_presence.h"
#include "device/adapters/comms_shell_device.h"
#include "device/comms.h"
#include "device/device_trace.h"
#include "device/firmware.h"
#include "device/hidapi_backend.h"
#include "device/tracing_hid_backend.h"
#include "monitor/gui/knock_sound.h"
#include "monitor/monitor_ignition.h"
#include "platform/clock.h"
#include "platform/gui/qt_dialogs.h"
#include "platform/gui/qt_settings.h"
#include "sim/sim_backend.h"

#include <QComboBox>
#include <QLocale>

#include <cmath>

namespace kv {

namespace {

char UserDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point[0].unicode() < 128 ? static_cast<char>(point[0].unicode()) : '.';
}

} // namespace

Parsed<ProgramOptions> ParseProgramOptions(const std::vector<std::string>& args) {
    ProgramOptions options;
    options.simDrive = "road";
    bool simOption = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string* into = a == "--sim-state"          ? &options.simState
                            : a == "--sim-faults"       ? &options.simFaults
                            : a == "--sim-firmware"     ? &options.simFirmware
                            : a == "--sim-pem-firmware" ? &options.simPemFirmware
                            : a == "--sim-ignition"     ? &options.simIgnition
                            : a == "--drive"            ? &options.simDrive
                            : a == "--drive-seed"       ? &options.simDriveSeed
                                                        : nullptr;
        if (a == "--simulate") {
            options.simulate = true;
        } else if (into == nullptr) {
            return ParseError{"Unknown argument: " + a};
        } else if (i + 1 >= args.size()) {
            return ParseError{a + " needs a value"};
        } else {
            *into = args[++i];
            simOption = true;
        }
    }
    if (simOption && !options.simulate) return ParseError{"The --sim-... options need --simulate"};
    return options;
}

Program::Program(const ProgramOptions& options, UserDialogs* dialogs, SettingsStore* settings, Clock* clock) {
    if (clock == nullptr) {
        ownClock_ = std::make_unique<SteadyClock>();
        clock = ownClock_.get();
    }
    clock_ = clock;
    if (dialogs == nullptr) {
        qtDialogs_ = std::make_unique<QtUserDialogs>();
        dialogs = qtDialogs_.get();
    }
    dialogs_ = dialogs;
    if (settings == nullptr) {
        ownSettings_ = std::make_unique<QtSettingsStore>();
        settings = ownSettings_.get();
    }
    settings_ = settings;

    if (options.simulate) {
        SimOptions sim;
        sim.stateFile = options.simState;
        sim.faults = options.simFaults;
        if (!options.simFirmware.empty()) sim.firmwareVersion = options.simFirmware;
        sim.pemFirmwareVersion = options.simPemFirmware;
        sim.ignition = options.simIgnition.empty() ? "auto" : options.simIgnition;
        if (!options.simDrive.empty()) {
            const Parsed<SimDrive> drive = ParseSimDrive(options.simDrive);
            if (!drive) {
                error_ = drive.Error();
                return;
            }
            sim.drive = *drive;
        }
        if (!options.simDriveSeed.empty()) {
            const Parsed<std::uint64_t> seed = ParseSimDriveSeed(options.simDriveSeed);
            if (!seed) {
                error_ = seed.Error();
                return;
            }
            sim.driveSeed = *seed;
        }
        error_ = ValidateSimOptions(sim);
        if (!error_.empty()) return;
        auto backend = MakeSimulatedBackend(sim, *clock_);
        if (!backend) {
            error_ = "The simulated device could not be created";
            return;
        }
        sim_ = backend.get();
        hid_ = std::move(backend);
        // Unattended module loads: the simulated ignition follows the guidance in "auto" mode.
        autoIgnition_ = std::make_unique<AutoIgnitionDriver>(*sim_, *clock_);
    } else {
        hid_ = MakeHidapiBackend();
    }
    // The debug trace follows its setting from the first exchange on.
    trace_ = std::make_unique<DeviceTrace>(*clock_);
    EnableTraceFromSettings(*trace_, *settings_);
    if (trace_->Enabled()) tracingHid_ = std::make_unique<TracingHidBackend>(*hid_, *trace_);
    comms_ = std::make_unique<Comms>(tracingHid_ ? *tracingHid_ : *hid_, *clock_, trace_.get());
    presence_ = std::make_unique<CommsPresence>(*comms_);
    connection_ = std::make_unique<ConnectionMonitor>(*presence_);
    ignition_ = std::make_unique<IgnitionDebounce>(*presence_, *clock_);
    firmware_ = std::make_unique<Firmware>(*comms_, *dialogs_, *dialogs_, *dialogs_, *clock_);
    firmware_->SetAfterUpgrade([this] { connection_->UpdateConnectionStatus(true); });
    epromDevice_ = std::make_unique<CommsEpromDevice>(*comms_, *firmware_);
    shellDevice_ = std::make_unique<CommsShellDevice>(*comms_, *firmware_, *connection_);
    auxDevice_ = std::make_unique<CommsAuxDevice>(*comms_);
    aux_ = std::make_unique<AuxInputs>(auxDevice_.get());
    monitorDevice_ = std::make_unique<CommsMonitorDevice>(*comms_, *ignition_);
    knock_ = std::make_unique<KnockCountState>();
    dataLogDevice_ = std::make_unique<CommsDataLogDevice>(*comms_);
    logSetup_ = std::make_unique<LogSetup>();
    runs_ = std::make_unique<RunSet>(RunSetSeams{*dialogs_, *dialogs_, *dialogs_, *dialogs_}, UserDecimalSeparator());
    recorder_ = std::make_unique<LogRecorder>(*logSetup_, *aux_, *dataLogDevice_, *runs_, *dialogs_, *clock_);
    // A recording (running or waiting for its trigger) holds the device's one record layout: the
    // monitors and the map traces keep off it meanwhile.
    monitorDevice_->SetRecordLayoutTaken([this] { return recorder_->State() != LogState::Stopped; });
    shell_ =
        std::make_unique<Shell>(*shellDevice_, epromDevice_.get(), *dialogs_, *dialogs_, *dialogs_, *settings_, *clock_,
                                *this, ProgramVersion{KV_VERSION_MAJOR, KV_VERSION_MINOR, KV_VERSION_PATCH});
    shell_->Context().ignition = autoIgnition_.get();
    if (!options.journalFolder.empty()) shell_->UseEditJournal(options.journalFolder);
}

Program::~Program() {
    // The window goes first: it refers to the shell and the device link.
    if (connection_) connection_->SetConnectionIndicator(nullptr);
    if (ignitionGuide_) shell_->Context().ignition = autoIgnition_.get();
    ignitionGuide_.reset();
    if (dataLogPollingId_ != 0) shell_->Polling().Unregister(dataLogPollingId_);
    window_.reset();
    splash_.reset();
}

void Program::StartUp() {
    shell_->StartUp();
    // The device polling starts once start-up (and a firmware upgrade it may run) is over.
    if (window_) window_->StartDeviceTimers();
}

void Program::ShowSplash(const std::string& versionLabel) {
    splash_ = std::make_unique<SplashWindow>(QString::fromStdString(versionLabel));
    splash_->ShowAndPaint();
}

void Program::PaintSplash() {
    if (splash_) splash_->PaintNow();
}

void Program::CloseSplash() {
    if (splash_) splash_->close();
    splash_.reset();
}

void Program::InitAutotuneAndAuxInputs() { aux_->LoadAuxInputs(*settings_); }

void Program::InitDataLogging() {
    logSetup_->LoadDataLogSettings(*settings_);
    if (!window_) return;
    dataLogPage_ = new DataLoggingPage({*logSetup_, *recorder_, *runs_, *aux_, [this] {
                                            return LogImages{&shell_->FuelImage(), &shell_->IgnitionImage()};
                                        }});
    dataLogPage_->SetupLogVariables("");
    logSetup_->FillRateList();
    dataLogPage_->SetupPanel()->Refresh();
    window_->SetPage(dataLogPage_);

    auto* sound = new KnockSound(shell_->KnockSound(), dataLogPage_);
    QObject::connect(dataLogPage_, &DataLoggingPage::knockSound, sound, &KnockSound::Play);
    QObject::connect(dataLogPage_, &DataLoggingPage::plotRequested, dataLogPage_,
                     [this](const QList<int>& ids) { PlotRuns(ids); });
    QObject::connect(dataLogPage_, &DataLoggingPage::showOnMapRequested, dataLogPage_, [this](int id) {
        if (const LogRun* run = runs_->Run(id))
            ShowRunOnMap(*run, runs_->RunName(id),
                         {&shell_->FuelImage(), &shell_->IgnitionImage(), *settings_, *dialogs_}, window_.get());
    });
    if (auxMonitorTabs_ != nullptr) {
        QObject::connect(dataLogPage_, &DataLoggingPage::configureAuxInputs, auxMonitorTabs_,
                         [this] { auxMonitorTabs_->OpenAuxInputs(1); });
        // After the aux input dialog (its button here, the Tools menu, the wideband entry) the
        // aux slots follow the new inputs.
        auxMonitorTabs_->SetAfterAuxInputsClosed([this] {
            if (dataLogPage_ != nullptr) dataLogPage_->SetupLogVariables(kRefreshCommand);
        });
    }
    // A transfer that has the device stops the recording's polling until it is done.
    dataLogPollingId_ = shell_->Polling().Register({[this] {
                                                        if (dataLogPage_ != nullptr) dataLogPage_->HoldRecording(true);
                                                    },
                                                    [this] {
                                                        if (dataLogPage_ != nullptr) dataLogPage_->HoldRecording(false);
                                                    }});
    QObject::connect(window_.get(), &MainWindow::closing, dataLogPage_,
                     [this] { logSetup_->SaveDataLogSettings(*settings_); });
}

void Program::PlotRuns(const QList<int>& runIds) {
    std::vector<PlotRun> plotted;
    for (const int id : runIds)
        if (const LogRun* run = runs_->Run(id)) plotted.push_back(MakePlotRun(*run, runs_->RunName(id)));
    if (LogChartWindow* chart =
            LogChartWindow::Open(std::move(plotted), *settings_, *dialogs_, *dialogs_, window_.get()))
        chart->show();
}

void Program::LoadMainWindow() {
    window_ = std::make_unique<MainWindow>(*shell_, sim_);
    if (qtDialogs_) qtDialogs_->SetParent(window_.get());
    if (auto* ignitionSwitch = window_->findChild<QComboBox*>("cboSimIgnition");
        ignitionSwitch != nullptr && autoIgnition_) {
        // The guidance of a module load offers the simulated car's ignition switch.
        ignitionGuide_ = std::make_unique<SimIgnitionGuide>(*sim_, *autoIgnition_, *ignitionSwitch, *window_);
        shell_->Context().ignition = ignitionGuide_.get();
    }
    connection_->SetConnectionIndicator(window_.get());
    auxMonitorTabs_ = new AuxMonitorTabs(
        {*window_, *shell_, *monitorDevice_, *aux_, *settings_, *dialogs_, *dialogs_, *clock_, *knock_});
    autotune_ = new AutotuneControl(*window_, *dialogs_, *settings_, *clock_, *runs_, *dialogs_);
    // The control goes with the window; the workflows may outlive it.
    shell_->Workflows().OnImageLeaving([control = QPointer<AutotuneControl>(autotune_)](EPROM& image) {
        if (control != nullptr) control->ImageLeaving(image);
    });
    InstallMapTabs(*window_, *shell_, *comms_, *aux_, *dialogs_, *dialogs_, *dialogs_, *clock_, *knock_, *settings_,
                   autotune_, [this] { return recorder_->State() != LogState::Stopped; });
    InstallParamPages(*window_, *shell_, *comms_, *auxDevice_, *dialogs_, *settings_);
    InstallImageComparison(*window_, *dialogs_, *dialogs_);
}

void Program::MaximiseMainWindow() {
    if (window_) window_->setWindowState(window_->windowState() | Qt::WindowMaximized);
}

void Program::ShowMainWindow() {
    if (!window_) return;
    window_->show();
}

void Program::EnterSelectedTab() {
    if (window_) window_->EnterSelectedTab();
}

void Program::LeaveSelectedTab() {
    if (window_) window_->LeaveSelectedTab();
}

int Program::WindowStateNumber() { return window_ ? window_->WindowStateNumber() : 0; }

WindowSize Program::NormalWindowSize() {
    if (!window_) return {};
    const QSize size = window_->normalGeometry().size();
    return {size.width(), size.height()};
}

void Program::SetNormalWindowSize(WindowSize size) {
    if (window_) window_->ResizeOnScreen(QSize(size.width, size.height));
}

WindowPosition Program::NormalWindowPosition() {
    if (!window_) return {};
    const QPoint at = window_->normalGeometry().topLeft();
    return {at.x(), at.y()};
}

void Program::SetNormalWindowPosition(WindowPosition position) {
    if (window_ && !window_->PlaceOnScreen(QPoint(position.x, position.y)))
        window_->ResizeOnScreen(MainWindow::kFirstSize);
}

bool Program::HasUnsavedDataLogRuns() { return runs_->HasUnsavedRuns(); }

void Program::EndDataLogging() {
    if (recorder_) recorder_->Stop();
}

void Program::ShowTabs(const std::vector<TabSlot>& tabs, TabState state) {
    // The data-logging slots follow the unit that came or went.
    if (dataLogPage_ != nullptr) dataLogPage_->SetupLogVariables(TabStateName(state));
    if (window_) window_->ShowTabs(tabs, state);
}

void Program::ShowInfoLine(const InfoLine& line) {
    if (window_) window_->ShowInfoLine(line);
}

void Program::SetSaveMenus(bool fuelLoaded, bool ignitionLoaded) {
    if (window_) window_->SetSaveMenus(fuelLoaded, ignitionLoaded);
}

void Program::ShowRecentFiles(const std::array<std::string, kRecentFileCount>& captions) {
    if (window_) window_->ShowRecentFiles(captions);
}

std::optional<NewImageChoice> Program::RunNewImageDialog(const NewImageChoice& initial) {
    if (!window_) return std::nullopt;
    return window_->RunNewImageDialog(initial);
}

void Program::ImagesChanged() {
    if (window_) window_->ImagesChanged();
}

} // namespace kv
