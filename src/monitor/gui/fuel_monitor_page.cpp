#include "monitor/gui/fuel_monitor_page.h"

#include "monitor/gui/instrument_widgets.h"
#include "platform/messages.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

namespace kv {

using namespace instrument;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
} // namespace

FuelMonitorPanel::FuelMonitorPanel(MonitorDevice& device, const AuxInputs& aux, Clock& clock, UserMessages& dialogs,
                                   Hooks hooks, QWidget* parent)
    : QWidget(parent), device_(device), clock_(clock), dialogs_(dialogs), hooks_(std::move(hooks)),
      monitor_(device, aux, clock) {
    setObjectName("fraMonitor");
    Build();
    tmrMonitor_ = new QTimer(this);
    tmrMonitor_->setObjectName("tmrMonitor");
    tmrMonitor_->setSingleShot(true); // re-armed by every tick
    tmrMonitor_->setInterval(kMonitorTimerMs);
    connect(tmrMonitor_, &QTimer::timeout, this, &FuelMonitorPanel::Tick);
    Show(FuelMonitorView{});
}

FuelMonitorPanel::~FuelMonitorPanel() = default;

void FuelMonitorPanel::Build() {
    auto* root = new QGridLayout(this);
    root->setSpacing(10);

    // Engine speed
    auto* engine = Group("Engine speed", "fraMonitorEngine", this);
    auto* engineLayout = new QGridLayout(engine);
    lblMonitorRPM_ = Value("lblMonitorRPM", engine, 2.6);
    sldMonitorRPM_ = Gauge("sldMonitorRPM", 0, 7000, engine);
    sldMonitorRPM_->setTickInterval(1000);
    engineLayout->addWidget(lblMonitorRPM_, 0, 0);
    engineLayout->addWidget(Caption("rpm", engine), 0, 1);
    engineLayout->addWidget(sldMonitorRPM_, 1, 0, 1, 2);
    root->addWidget(engine, 0, 0);

    // Air/fuel ratio
    auto* afr = Group("Air/fuel ratio (wide-band)", "fraMonitorAFR", this);
    auto* afrLayout = new QGridLayout(afr);
    lblMonitorAFR_ = Value("lblMonitorAFR", afr, 2.6);
    lblMonitorEqR_ = Value("lblMonitorEqR", afr, 1.4);
    sldMonitorAFR_ = Gauge("sldMonitorAFR", 1000, 2000, afr);
    sldMonitorAFR_->setTickInterval(100);
    afrLayout->addWidget(Caption("A/F", afr), 0, 0);
    afrLayout->addWidget(lblMonitorAFR_, 0, 1);
    afrLayout->addWidget(Caption("Equivalence ratio", afr), 0, 2);
    afrLayout->addWidget(lblMonitorEqR_, 0, 3);
    afrLayout->addWidget(sldMonitorAFR_, 1, 0, 1, 4);
    auto* scale = new QHBoxLayout;
    auto* rich = Caption("Rich", afr);
    auto* stoich = Caption("Stoich", afr);
    stoich->setAlignment(Qt::AlignCenter);
    auto* lean = Caption("Lean", afr);
    lean->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // "Stoich" sits under 14.7 of the 10..20 scale.
    scale->addWidget(rich, 47);
    scale->addWidget(stoich, 6);
    scale->addWidget(lean, 47);
    afrLayout->addLayout(scale, 2, 0, 1, 4);
    root->addWidget(afr, 0, 1, 1, 2);

    // Air flow
    auto* air = Group("Air flow", "fraMonitorAirFlow", this);
    auto* airLayout = new QGridLayout(air);
    lblMonitorMAF_ = Value("lblMonitorMAF", air);
    lblMonitorMAFpercent_ = Value("lblMonitorMAFpercent", air);
    lblMonitorMAFVoltage_ = Value("lblMonitorMAFVoltage", air);
    airLayout->addWidget(Caption("MAF load", air), 0, 0);
    airLayout->addWidget(lblMonitorMAF_, 0, 1);
    airLayout->addWidget(Caption("MAF load, % of maximum", air), 1, 0);
    airLayout->addWidget(lblMonitorMAFpercent_, 1, 1);
    airLayout->addWidget(Caption("MAF voltage", air), 2, 0);
    airLayout->addWidget(lblMonitorMAFVoltage_, 2, 1);
    root->addWidget(air, 1, 0);

    // Injection
    auto* inj = Group("Injection", "fraMonitorInjection", this);
    auto* injLayout = new QGridLayout(inj);
    lblMonitorInjPW_ = Value("lblMonitorInjPW", inj);
    lblMonitorInjDC_ = Value("lblMonitorInjDC", inj);
    lblMonitorInjInterval_ = Value("lblMonitorInjInterval", inj, 1.1);
    injLayout->addWidget(Caption("Pulse width", inj), 0, 0);
    injLayout->addWidget(lblMonitorInjPW_, 0, 1);
    injLayout->addWidget(Caption("Duty cycle", inj), 1, 0);
    injLayout->addWidget(lblMonitorInjDC_, 1, 1);
    injLayout->addWidget(Caption("Injection mode", inj), 2, 0);
    injLayout->addWidget(lblMonitorInjInterval_, 2, 1);
    root->addWidget(inj, 1, 1);

    // Temperature and supply
    auto* temp = Group("Coolant and battery", "fraMonitorTemperature", this);
    auto* tempLayout = new QGridLayout(temp);
    lblMonitorCoolant_[0] = Value("lblMonitorCoolant", temp, 1.8, 0);
    lblMonitorCoolant_[1] = Value("lblMonitorCoolant", temp, 1.8, 1);
    lblMonitorBatt_ = Value("lblMonitorBatt", temp);
    tempLayout->addWidget(Caption("Coolant", temp), 0, 0);
    tempLayout->addWidget(lblMonitorCoolant_[0], 0, 1);
    tempLayout->addWidget(lblMonitorCoolant_[1], 1, 1);
    tempLayout->addWidget(Caption("Battery", temp), 2, 0);
    tempLayout->addWidget(lblMonitorBatt_, 2, 1);
    root->addWidget(temp, 1, 2);

    // Switches
    auto* sw = Group("Switches", "fraMonitorSwitches", this);
    auto* swLayout = new QGridLayout(sw);
    const char* throttle[] = {"IDLE", "CRUISE", "WOT"};
    swLayout->addWidget(Caption("Throttle", sw), 0, 0);
    for (int i = 0; i < 3; ++i) {
        lblMonitorThrottlePos_[i] = Item("lblMonitorThrottlePos", throttle[i], i, sw);
        swLayout->addWidget(lblMonitorThrottlePos_[i], 0, i + 1);
    }
    swLayout->addWidget(Caption("Flap", sw), 1, 0);
    lblMonitorFlappyOpen_ = Item("lblMonitorFlappyOpen", "OPEN", -1, sw);
    lblMonitorFlappyClosed_ = Item("lblMonitorFlappyClosed", "CLOSED", -1, sw);
    swLayout->addWidget(lblMonitorFlappyOpen_, 1, 1);
    swLayout->addWidget(lblMonitorFlappyClosed_, 1, 2);
    root->addWidget(sw, 2, 0);

    // Mixture control
    auto* mix = Group("Mixture control", "fraMonitorMixture", this);
    auto* mixLayout = new QGridLayout(mix);
    lblMonitorCOpot_ = Value("lblMonitorCOpot", mix, 1.4);
    lblMonitorCOpotPercent_ = Value("lblMonitorCOpotPercent", mix, 1.4);
    lblMonitorO2_ = Value("lblMonitorO2", mix, 1.4);
    lblMonitorIdleStabilizer_ = Value("lblMonitorIdleStabilizer", mix, 1.4);
    lblMonitorO2Adapt_[0] = Value("lblMonitorO2Adapt", mix, 1.4, 0);
    lblMonitorO2Adapt_[1] = Value("lblMonitorO2Adapt", mix, 1.4, 1);
    cmdO2AdaptReset_ = new QPushButton("Reset O2 adaptation", mix);
    cmdO2AdaptReset_->setObjectName("cmdO2AdaptReset");
    mixLayout->addWidget(Caption("CO potentiometer", mix), 0, 0);
    mixLayout->addWidget(lblMonitorCOpot_, 0, 1);
    mixLayout->addWidget(lblMonitorCOpotPercent_, 0, 2);
    mixLayout->addWidget(Caption("O2 correction", mix), 1, 0);
    mixLayout->addWidget(lblMonitorO2_, 1, 1);
    mixLayout->addWidget(Caption("Idle stabiliser", mix), 2, 0);
    mixLayout->addWidget(lblMonitorIdleStabilizer_, 2, 1);
    mixLayout->addWidget(Caption("O2 adaptation", mix), 3, 0);
    mixLayout->addWidget(lblMonitorO2Adapt_[0], 3, 1);
    mixLayout->addWidget(lblMonitorO2Adapt_[1], 3, 2);
    mixLayout->addWidget(cmdO2AdaptReset_, 4, 1, 1, 2);
    root->addWidget(mix, 2, 1);
    connect(cmdO2AdaptReset_, &QPushButton::clicked, this, [this] {
        if (!device_.ResetO2Adaptation())
            dialogs_.MessageBox("Kestrovane device not responding", "Error", MsgButtons::OK, MsgIcon::Critical);
    });

    // Aux inputs
    auto* auxGroup = Group("Aux inputs", "fraMonitorAux", this);
    auto* auxLayout = new QGridLayout(auxGroup);
    for (int i = 0; i < 4; ++i) {
        lblAuxCaption_[i] = Caption("", auxGroup);
        lblAux_[i] = Value("lblAux", auxGroup, 1.4, i);
        auxLayout->addWidget(lblAuxCaption_[i], i, 0);
        auxLayout->addWidget(lblAux_[i], i, 1);
    }
    root->addWidget(auxGroup, 2, 2);

    groups_ = {engine, afr, air, inj, temp, sw, mix, auxGroup};
    root->setRowStretch(3, 1);
}

void FuelMonitorPanel::Enter() {
    tmrMonitor_->stop();
    const EPROM* image = hooks_.image ? hooks_.image() : nullptr;
    if (!image) return;
    Show(FuelMonitorView{});
    if (!registered_ && hooks_.registerIgnitionDependent) {
        for (auto* g : groups_) hooks_.registerIgnitionDependent(g);
        registered_ = true;
    }
    if (monitor_.Setup(*image)) StartTimer(kMonitorTimerMs);
}

void FuelMonitorPanel::Leave() {
    tmrMonitor_->stop();
    runAfterPause_ = false;
}

void FuelMonitorPanel::Tick() {
    const EPROM* image = hooks_.image ? hooks_.image() : nullptr;
    if (!image) return;
    int next = kMonitorTimerMs;
    Show(monitor_.Tick(*image, next));
    StartTimer(next);
}

void FuelMonitorPanel::Show(const FuelMonitorView& v) {
    SetText(lblMonitorRPM_, Q(v.rpm));
    if (v.rpmSlider) SetGauge(sldMonitorRPM_, *v.rpmSlider);
    SetText(lblMonitorMAF_, Q(v.maf));
    SetText(lblMonitorMAFpercent_, Q(v.mafPercent));
    SetRed(lblMonitorMAF_, v.mafHigh);
    SetRed(lblMonitorMAFpercent_, v.mafHigh);
    for (int i = 0; i < 2; ++i) SetText(lblMonitorCoolant_[i], Q(v.coolant[i]));
    SetText(lblMonitorInjInterval_, Q(v.injMode));
    SetText(lblMonitorInjPW_, Q(v.injPW));
    SetText(lblMonitorInjDC_, Q(v.injDC));
    SetText(lblMonitorBatt_, Q(v.battery));
    SetText(lblMonitorMAFVoltage_, Q(v.mafVoltage));
    SetText(lblMonitorAFR_, Q(v.afr));
    SetText(lblMonitorEqR_, Q(v.eqr));
    if (v.afrSlider) SetGauge(sldMonitorAFR_, *v.afrSlider);
    for (int i = 0; i < 3; ++i) SetMarked(lblMonitorThrottlePos_[i], v.throttle == i);
    SetMarked(lblMonitorFlappyOpen_, v.flapOpen.has_value() && *v.flapOpen);
    SetMarked(lblMonitorFlappyClosed_, v.flapOpen.has_value() && !*v.flapOpen);
    SetText(lblMonitorCOpot_, Q(v.coPot));
    SetText(lblMonitorCOpotPercent_, Q(v.coPotPercent));
    SetText(lblMonitorO2_, Q(v.o2));
    SetText(lblMonitorIdleStabilizer_, Q(v.idleStabilizer));
    for (int i = 0; i < 2; ++i) SetText(lblMonitorO2Adapt_[i], Q(v.o2Adapt[i]));
    if (cmdO2AdaptReset_->isEnabled() != v.o2AdaptResetEnabled) cmdO2AdaptReset_->setEnabled(v.o2AdaptResetEnabled);
    for (int i = 0; i < 4; ++i) {
        const bool used = i < static_cast<int>(v.aux.size());
        lblAuxCaption_[i]->setVisible(used);
        lblAux_[i]->setVisible(used);
        if (!used) continue;
        SetText(lblAuxCaption_[i], Q(v.aux[i].caption));
        SetText(lblAux_[i], Q(v.aux[i].text));
    }
}

void FuelMonitorPanel::StartTimer(int ms) {
    if (paused_) {
        runAfterPause_ = true;
        return;
    }
    tmrMonitor_->start(ms);
}

void FuelMonitorPanel::PausePolling() {
    if (paused_) return;
    paused_ = true;
    runAfterPause_ = tmrMonitor_->isActive();
    tmrMonitor_->stop();
}

void FuelMonitorPanel::ResumePolling() {
    if (!paused_) return;
    paused_ = false;
    if (runAfterPause_) tmrMonitor_->start(kMonitorTimerMs);
    runAfterPause_ = false;
}

} // namespace kv
