#include "monitor/gui/ignition_monitor_page.h"

#include "eprom/eprom_image.h"
#include "monitor/gui/instrument_widgets.h"

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

IgnitionMonitorPanel::IgnitionMonitorPanel(MonitorDevice& device, const AuxInputs& aux, Clock& clock,
                                           KnockCountState& knock, Hooks hooks, QWidget* parent)
    : QWidget(parent), hooks_(std::move(hooks)), monitor_(device, aux, clock, knock) {
    setObjectName("fraMonitorEZK");
    Build();
    tmrMonitorEZK_ = new QTimer(this);
    tmrMonitorEZK_->setObjectName("tmrMonitorEZK");
    tmrMonitorEZK_->setSingleShot(true); // re-armed by every tick
    tmrMonitorEZK_->setInterval(kMonitorTimerMs);
    connect(tmrMonitorEZK_, &QTimer::timeout, this, &IgnitionMonitorPanel::Tick);
    Show(IgnitionMonitorView{});
}

IgnitionMonitorPanel::~IgnitionMonitorPanel() = default;

void IgnitionMonitorPanel::Build() {
    auto* root = new QGridLayout(this);
    root->setSpacing(10);

    auto* engine = Group("Engine speed and timing", "fraMonitorEZKEngine", this);
    auto* engineLayout = new QGridLayout(engine);
    lblMonitorEZKRPM_ = Value("lblMonitorEZKRPM", engine, 2.6);
    sldMonitorEZKRPM_ = Gauge("sldMonitorEZKRPM", 0, 7000, engine);
    sldMonitorEZKRPM_->setTickInterval(1000);
    lblMonitorEZKIgnAdv_ = Value("lblMonitorEZKIgnAdv", engine, 2.6);
    lblMonitorEZKLoad_ = Value("lblMonitorEZKLoad", engine, 1.8);
    engineLayout->addWidget(Caption("rpm", engine), 0, 0);
    engineLayout->addWidget(lblMonitorEZKRPM_, 0, 1);
    engineLayout->addWidget(sldMonitorEZKRPM_, 1, 0, 1, 2);
    engineLayout->addWidget(Caption("Ignition advance", engine), 2, 0);
    engineLayout->addWidget(lblMonitorEZKIgnAdv_, 2, 1);
    loadCaption_ = Caption("Load", engine);
    engineLayout->addWidget(loadCaption_, 3, 0);
    engineLayout->addWidget(lblMonitorEZKLoad_, 3, 1);
    root->addWidget(engine, 0, 0, 2, 1);

    auto* knock = Group("Knock", "fraMonitorEZKKnock", this);
    auto* knockLayout = new QGridLayout(knock);
    lblMonitorEZKKnockCount_ = Value("lblMonitorEZKKnockCount", knock, 2.6);
    cmdMonitorEZKKnockCountReset_ = new QPushButton("Reset", knock);
    cmdMonitorEZKKnockCountReset_->setObjectName("cmdMonitorEZKKnockCountReset");
    knockLayout->addWidget(Caption("Knock count", knock), 0, 0);
    knockLayout->addWidget(lblMonitorEZKKnockCount_, 0, 1, 1, 2);
    knockLayout->addWidget(cmdMonitorEZKKnockCountReset_, 0, 3);
    knockLayout->addWidget(Caption("Knock retard per cylinder", knock), 1, 0, 1, 4);
    for (int c = 0; c < kCylinders; ++c) {
        auto* cell = new QVBoxLayout;
        auto* cyl = Caption(QString("Cyl %1").arg(c + 1), knock);
        cyl->setAlignment(Qt::AlignCenter);
        lblMonitorEZKKnockRetard_[c] = Value("lblMonitorEZKKnockRetard", knock, 1.2, c);
        lblMonitorEZKKnockRetard_[c]->setMinimumWidth(0);
        lblMonitorEZKKnockRetard_[c]->setAlignment(Qt::AlignCenter);
        cell->addWidget(cyl);
        cell->addWidget(lblMonitorEZKKnockRetard_[c]);
        knockLayout->addLayout(cell, 2 + c / 4, c % 4);
    }
    lblMonitorEZKRevWarning_ = new QLabel(knock);
    lblMonitorEZKRevWarning_->setObjectName("lblMonitorEZKRevWarning");
    lblMonitorEZKRevWarning_->setWordWrap(true);
    lblMonitorEZKRevWarning_->setStyleSheet("color: rgb(255, 0, 0);");
    knockLayout->addWidget(lblMonitorEZKRevWarning_, 4, 0, 1, 4);
    root->addWidget(knock, 0, 1, 2, 1);
    connect(cmdMonitorEZKKnockCountReset_, &QPushButton::clicked, this, [this] {
        monitor_.ResetCount();
        ShowKnockLabel();
    });

    auto* afr = Group("Air/fuel ratio (wide-band)", "fraMonitorEZKAFR", this);
    auto* afrLayout = new QGridLayout(afr);
    lblMonitorEZKAFR_ = Value("lblMonitorEZKAFR", afr, 2.2);
    lblMonitorEZKEqR_ = Value("lblMonitorEZKEqR", afr, 1.4);
    afrLayout->addWidget(Caption("A/F", afr), 0, 0);
    afrLayout->addWidget(lblMonitorEZKAFR_, 0, 1);
    afrLayout->addWidget(Caption("Equivalence ratio", afr), 1, 0);
    afrLayout->addWidget(lblMonitorEZKEqR_, 1, 1);
    root->addWidget(afr, 0, 2);

    auto* temp = Group("Temperatures and battery", "fraMonitorEZKTemperature", this);
    auto* tempLayout = new QGridLayout(temp);
    lblMonitorEZKCoolantC_ = Value("lblMonitorEZKCoolantC", temp, 1.6);
    lblMonitorEZKCoolantF_ = Value("lblMonitorEZKCoolantF", temp, 1.6);
    lblMonitorEZFAirTempC_ = Value("lblMonitorEZFAirTempC", temp, 1.6);
    lblMonitorEZFAirTempF_ = Value("lblMonitorEZFAirTempF", temp, 1.6);
    lblMonitorEZKBatt_ = Value("lblMonitorEZKBatt", temp, 1.6);
    tempLayout->addWidget(Caption("Coolant", temp), 0, 0);
    tempLayout->addWidget(lblMonitorEZKCoolantC_, 0, 1);
    tempLayout->addWidget(lblMonitorEZKCoolantF_, 0, 2);
    tempLayout->addWidget(Caption("Air (EZF)", temp), 1, 0);
    tempLayout->addWidget(lblMonitorEZFAirTempC_, 1, 1);
    tempLayout->addWidget(lblMonitorEZFAirTempF_, 1, 2);
    tempLayout->addWidget(Caption("Battery", temp), 2, 0);
    tempLayout->addWidget(lblMonitorEZKBatt_, 2, 1);
    root->addWidget(temp, 1, 2);

    auto* coding = Group("Coding and switches", "fraMonitorEZKSwitches", this);
    auto* codingLayout = new QGridLayout(coding);
    const char* codes[] = {"98 OCTANE NON-CAT", "98 OCTANE CAT", "91 OCTANE"};
    const char* throttle[] = {"IDLE", "CRUISE", "WOT"};
    codingLayout->addWidget(Caption("Coding", coding), 0, 0);
    codingLayout->addWidget(Caption("Throttle", coding), 1, 0);
    for (int i = 0; i < 3; ++i) {
        lblMonitorEZKCoding_[i] = Item("lblMonitorEZKCoding", codes[i], i, coding);
        lblMonitorEZKThrottlePos_[i] = Item("lblMonitorEZKThrottlePos", throttle[i], i, coding);
        codingLayout->addWidget(lblMonitorEZKCoding_[i], 0, i + 1);
        codingLayout->addWidget(lblMonitorEZKThrottlePos_[i], 1, i + 1);
    }
    const char* gearbox[] = {"AUTO", "MANUAL"};
    const char* selector[] = {"P / N", "D / 2 / 3"};
    codingLayout->addWidget(Caption("Gearbox", coding), 2, 0);
    codingLayout->addWidget(Caption("Selector", coding), 3, 0);
    for (int i = 0; i < 2; ++i) {
        lblMonitorEZKTransmissionType_[i] = Item("lblMonitorEZKTransmissionType", gearbox[i], i, coding);
        lblMonitorEZKGearSelector_[i] = Item("lblMonitorEZKGearSelector", selector[i], i, coding);
        codingLayout->addWidget(lblMonitorEZKTransmissionType_[i], 2, i + 1);
        codingLayout->addWidget(lblMonitorEZKGearSelector_[i], 3, i + 1);
    }
    root->addWidget(coding, 2, 0);

    auto* faults = Group("Faults", "fraEZKFaults", this);
    auto* faultLayout = new QGridLayout(faults);
    for (int i = 0; i < kEzkFaults; ++i) {
        shpEZKFault_[i] = Lamp("shpEZKFault", i, faults);
        lblFaultEZKDescription_[i] = new QLabel(kEzkFaultTexts[i], faults);
        lblFaultEZKDescription_[i]->setObjectName("lblFaultEZKDescription");
        lblFaultEZKDescription_[i]->setProperty("index", i);
        faultLayout->addWidget(shpEZKFault_[i], i, 0);
        faultLayout->addWidget(lblFaultEZKDescription_[i], i, 1);
    }
    root->addWidget(faults, 2, 1);

    auto* auxGroup = Group("Aux inputs", "fraMonitorEZKAux", this);
    auto* auxLayout = new QGridLayout(auxGroup);
    for (int i = 0; i < 4; ++i) {
        lblAuxCaption_[i] = Caption("", auxGroup);
        lblAuxEZK_[i] = Value("lblAuxEZK", auxGroup, 1.4, i);
        auxLayout->addWidget(lblAuxCaption_[i], i, 0);
        auxLayout->addWidget(lblAuxEZK_[i], i, 1);
    }
    root->addWidget(auxGroup, 2, 2);

    groups_ = {engine, knock, afr, temp, coding, faults, auxGroup};
    root->setRowStretch(3, 1);
}

void IgnitionMonitorPanel::Enter() {
    tmrMonitorEZK_->stop();
    const EPROM* image = hooks_.image ? hooks_.image() : nullptr;
    if (!image) return;
    loadCaption_->setText(image->GetECUType() == EcuType::EZK ? "Load" : "Vacuum");
    Show(IgnitionMonitorView{});
    if (!registered_ && hooks_.registerIgnitionDependent) {
        for (auto* g : groups_) hooks_.registerIgnitionDependent(g);
        registered_ = true;
    }
    const bool ok = monitor_.Setup(*image);
    ShowKnockLabel();
    if (ok) StartTimer(kMonitorTimerMs);
}

void IgnitionMonitorPanel::Leave() {
    tmrMonitorEZK_->stop();
    runAfterPause_ = false;
}

void IgnitionMonitorPanel::AuxInputsChanged() {
    const EPROM* image = hooks_.image ? hooks_.image() : nullptr;
    if (!image) return;
    tmrMonitorEZK_->stop();
    if (monitor_.Reconfigure(*image)) tmrMonitorEZK_->start(kMonitorTimerMs);
}

void IgnitionMonitorPanel::Tick() {
    const EPROM* image = hooks_.image ? hooks_.image() : nullptr;
    if (!image) return;
    int next = kMonitorTimerMs;
    bool play = false;
    Show(monitor_.Tick(*image, next, play));
    if (play && hooks_.playKnock) hooks_.playKnock();
    StartTimer(next);
}

void IgnitionMonitorPanel::ShowKnockLabel() {
    SetText(lblMonitorEZKKnockCount_, Q(monitor_.Label().text));
    SetRed(lblMonitorEZKKnockCount_, monitor_.Label().red);
}

void IgnitionMonitorPanel::Show(const IgnitionMonitorView& v) {
    SetText(lblMonitorEZKRPM_, Q(v.rpm));
    if (v.rpmSlider) SetGauge(sldMonitorEZKRPM_, *v.rpmSlider);
    SetText(lblMonitorEZKIgnAdv_, Q(v.advance));
    SetText(lblMonitorEZKLoad_, Q(v.load));
    for (int i = 0; i < 3; ++i) {
        SetMarked(lblMonitorEZKCoding_[i], v.coding == i);
        SetMarked(lblMonitorEZKThrottlePos_[i], v.throttle == i);
    }
    SetText(lblMonitorEZKCoolantC_, Q(v.coolantC));
    SetText(lblMonitorEZKCoolantF_, Q(v.coolantF));
    SetText(lblMonitorEZFAirTempC_, Q(v.airTempC));
    SetText(lblMonitorEZFAirTempF_, Q(v.airTempF));
    ShowKnockLabel();
    for (int c = 0; c < kCylinders; ++c) SetText(lblMonitorEZKKnockRetard_[c], Q(v.knockRetard[c]));
    for (int i = 0; i < 2; ++i) {
        SetMarked(lblMonitorEZKTransmissionType_[i], v.transmission == i);
        SetMarked(lblMonitorEZKGearSelector_[i], v.gearSelector == i);
    }
    SetText(lblMonitorEZKBatt_, Q(v.battery));
    for (int i = 0; i < kEzkFaults; ++i) {
        SetLamp(shpEZKFault_[i], v.faults[i] ? (*v.faults[i] ? 1 : 0) : -1);
        SetText(lblFaultEZKDescription_[i], v.faultCaptions ? kEzkFaultTexts[i] : "");
    }
    SetText(lblMonitorEZKAFR_, Q(v.afr));
    SetText(lblMonitorEZKEqR_, Q(v.eqr));
    for (int i = 0; i < 4; ++i) {
        const bool used = i < static_cast<int>(v.aux.size());
        lblAuxCaption_[i]->setVisible(used);
        lblAuxEZK_[i]->setVisible(used);
        if (!used) continue;
        SetText(lblAuxCaption_[i], Q(v.aux[i].caption));
        SetText(lblAuxEZK_[i], Q(v.aux[i].text));
    }
    SetText(lblMonitorEZKRevWarning_, Q(v.revisionWarning));
    lblMonitorEZKRevWarning_->setVisible(!v.revisionWarning.empty());
}

void IgnitionMonitorPanel::StartTimer(int ms) {
    if (paused_) {
        runAfterPause_ = true;
        return;
    }
    tmrMonitorEZK_->start(ms);
}

void IgnitionMonitorPanel::PausePolling() {
    if (paused_) return;
    paused_ = true;
    runAfterPause_ = tmrMonitorEZK_->isActive();
    tmrMonitorEZK_->stop();
}

void IgnitionMonitorPanel::ResumePolling() {
    if (!paused_) return;
    paused_ = false;
    if (runAfterPause_) tmrMonitorEZK_->start(kMonitorTimerMs);
    runAfterPause_ = false;
}

} // namespace kv
