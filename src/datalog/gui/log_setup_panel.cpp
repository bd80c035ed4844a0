#include "datalog/gui/log_setup_panel.h"

#include "datalog/log_recorder.h"
#include "datalog/log_setup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

namespace {

constexpr int kTwipsPerPixel = 15;
constexpr int kFrameTitlePx = 12;
constexpr int kColumnGapPx = 12;

int Px(int twips) { return twips / kTwipsPerPixel; }

} // namespace

LogSetupPanel::LogSetupPanel(LogSetup& setup, LogRecorder& recorder, std::function<LogImages()> images, QWidget* parent)
    : QWidget(parent), setup_(setup), recorder_(recorder), images_(std::move(images)) {
    setObjectName("LogSetupPanel");
    auto* layout = new QVBoxLayout(this);
    auto* varsRow = new QHBoxLayout;
    struct FrameSpec {
        const char* name;
        const char* caption;
        int first, last;
    };
    const FrameSpec specs[3] = {{"fraDataLogFuelVars", "Fuel injection", 0, kFuelSlotLast},
                                {"fraDataLogIgnVars", "Ignition", kIgnitionSlotFirst, kIgnitionSlotLast},
                                {"fraDataLogAux", "Aux inputs", kAuxSlotFirst, kAuxSlotLast}};
    for (std::size_t f = 0; f < 3; ++f) {
        auto* frame = new QGroupBox(specs[f].caption, this);
        frame->setObjectName(specs[f].name);
        for (int s = specs[f].first; s <= specs[f].last; ++s) {
            auto* box = new QCheckBox(frame);
            box->setObjectName(QString("chkDataLog_%1").arg(s));
            connect(box, &QCheckBox::toggled, this, [this, s](bool on) {
                if (refreshing_) return;
                setup_.OnVariableChecked(s, on);
                Refresh();
            });
            chkDataLog_[static_cast<std::size_t>(s)] = box;
        }
        frames_[f] = frame;
        varsRow->addWidget(frame);
    }
    cmdConfigAuxInputs_ = new QPushButton("Configure...", frames_[2]);
    cmdConfigAuxInputs_->setObjectName("cmdConfigAuxInputs");
    connect(cmdConfigAuxInputs_, &QPushButton::clicked, this, &LogSetupPanel::configureAuxInputs);
    layout->addLayout(varsRow);

    auto* controlsRow = new QHBoxLayout;
    fraDataLogRate_ = new QGroupBox("Samples per second", this);
    fraDataLogRate_->setObjectName("fraDataLogRate");
    auto* rateLayout = new QVBoxLayout(fraDataLogRate_);
    cmbDataLogRate_ = new QComboBox(fraDataLogRate_);
    cmbDataLogRate_->setObjectName("cmbDataLogRate");
    rateLayout->addWidget(cmbDataLogRate_);
    connect(cmbDataLogRate_, &QComboBox::activated, this,
            [this](int index) { tmrDataLog_->setInterval(setup_.OnRateChanged(index)); });
    controlsRow->addWidget(fraDataLogRate_);

    fraDataLogTrigger_ = new QGroupBox("Start trigger", this);
    fraDataLogTrigger_->setObjectName("fraDataLogTrigger");
    auto* triggerLayout = new QVBoxLayout(fraDataLogTrigger_);
    for (int i = 0; i < 3; ++i) {
        const auto trigger = static_cast<LogTrigger>(i);
        auto* radio = new QRadioButton(LogTriggerCaption(trigger), fraDataLogTrigger_);
        radio->setObjectName(QString("radioDataLogTrigger_%1").arg(i));
        radio->setProperty("tag", QString(LogTriggerTag(trigger)));
        connect(radio, &QRadioButton::toggled, this, [this, trigger](bool on) {
            if (on && !refreshing_) setup_.SetTrigger(trigger);
        });
        radioDataLogTrigger_[static_cast<std::size_t>(i)] = radio;
        triggerLayout->addWidget(radio);
    }
    controlsRow->addWidget(fraDataLogTrigger_);

    auto* runBox = new QVBoxLayout;
    cmdDataLogStartStop_ = new QPushButton(this);
    cmdDataLogStartStop_->setObjectName("cmdDataLogStartStop");
    connect(cmdDataLogStartStop_, &QPushButton::clicked, this, &LogSetupPanel::OnStartStop);
    lblDataLogStatus_ = new QLabel(this);
    lblDataLogStatus_->setObjectName("lblDataLogStatus");
    lblDataLogDropped_ = new QLabel(this);
    lblDataLogDropped_->setObjectName("lblDataLogDropped");
    lblDataLogDropped_->setToolTip("Records whose time stamp did not follow or that held an impossible value");
    runBox->addWidget(cmdDataLogStartStop_);
    runBox->addWidget(lblDataLogStatus_);
    runBox->addWidget(lblDataLogDropped_);
    controlsRow->addLayout(runBox);

    fraDataLogKnockCount_ = new QGroupBox("Knock count", this);
    fraDataLogKnockCount_->setObjectName("fraDataLogKnockCount");
    auto* knockLayout = new QVBoxLayout(fraDataLogKnockCount_);
    lblDataLogKnockCount_ = new QLabel(fraDataLogKnockCount_);
    lblDataLogKnockCount_->setObjectName("lblDataLogKnockCount");
    knockLayout->addWidget(lblDataLogKnockCount_);
    controlsRow->addWidget(fraDataLogKnockCount_);
    controlsRow->addStretch();
    layout->addLayout(controlsRow);
    layout->addStretch();

    tmrDataLog_ = new QTimer(this);
    tmrDataLog_->setObjectName("tmrDataLog");
    connect(tmrDataLog_, &QTimer::timeout, this, &LogSetupPanel::OnTimer);
    Refresh();
}

void LogSetupPanel::Refresh() {
    refreshing_ = true;
    const bool setupEnabled = setup_.SetupEnabled();
    // The columns of 7 are as wide as the longest caption on show needs and the rows as high as a
    // check box (at least their size in twips), so that no caption is cut off or overlapped in
    // the font the screen uses.
    int pitch = Px(kSlotColumnStep);
    int rowPitch = Px(kSlotRowStep);
    for (int s = 0; s < kLogSlotCount; ++s) {
        const LogSlotState& slot = setup_.Slots()[static_cast<std::size_t>(s)];
        QCheckBox* box = chkDataLog_[static_cast<std::size_t>(s)];
        box->setText(QString::fromStdString(slot.caption));
        if (!slot.visible) continue;
        pitch = std::max(pitch, box->sizeHint().width() + kColumnGapPx);
        rowPitch = std::max(rowPitch, box->sizeHint().height());
    }
    std::array<int, 3> columnsUsed{};
    for (int s = 0; s < kLogSlotCount; ++s) {
        const LogSlotState& slot = setup_.Slots()[static_cast<std::size_t>(s)];
        QCheckBox* box = chkDataLog_[static_cast<std::size_t>(s)];
        const int column = (slot.left - kSlotLeft0) / kSlotColumnStep;
        const int row = (slot.top - kSlotTop0) / kSlotRowStep;
        const std::size_t frame = s <= kFuelSlotLast ? 0 : s <= kIgnitionSlotLast ? 1 : 2;
        if (slot.visible) columnsUsed[frame] = std::max(columnsUsed[frame], column + 1);
        box->setProperty("tag", QString::fromStdString(slot.key));
        box->setGeometry(Px(kSlotLeft0) + column * pitch, Px(kSlotTop0) + row * rowPitch + kFrameTitlePx,
                         pitch - kColumnGapPx / 2, rowPitch);
        box->setVisible(slot.visible);
        box->setEnabled(slot.enabled && setupEnabled);
        box->setChecked(slot.checked);
    }
    for (std::size_t f = 0; f < frames_.size(); ++f)
        frames_[f]->setMinimumSize(Px(kSlotLeft0) + pitch * std::max(columnsUsed[f], 1) + kColumnGapPx,
                                   Px(kSlotTop0) + rowPitch * (kSlotRows + 1) + 2 * kFrameTitlePx);
    // The aux button keeps the place of the sixth row, below the four aux inputs.
    cmdConfigAuxInputs_->move(Px(kSlotLeft0), Px(kSlotTop0) + rowPitch * (kSlotRows - 2) + kFrameTitlePx);
    for (QGroupBox* frame : frames_) frame->setEnabled(setupEnabled);
    fraDataLogRate_->setEnabled(setupEnabled);
    cmbDataLogRate_->setEnabled(setupEnabled);
    fraDataLogTrigger_->setEnabled(setupEnabled);

    QStringList items;
    for (const std::string& item : setup_.RateItems()) items << QString::fromStdString(item);
    QStringList shown;
    for (int i = 0; i < cmbDataLogRate_->count(); ++i) shown << cmbDataLogRate_->itemText(i);
    if (shown != items) {
        cmbDataLogRate_->clear();
        cmbDataLogRate_->addItems(items);
    }
    cmbDataLogRate_->setCurrentIndex(setup_.RateIndex());

    const std::optional<LogTrigger> trigger = setup_.Trigger();
    for (std::size_t i = 0; i < radioDataLogTrigger_.size(); ++i) {
        // Exclusive buttons cannot all be cleared while exclusive.
        radioDataLogTrigger_[i]->setAutoExclusive(false);
        radioDataLogTrigger_[i]->setChecked(trigger && static_cast<std::size_t>(*trigger) == i);
        radioDataLogTrigger_[i]->setAutoExclusive(true);
    }

    const LogControls& controls = recorder_.Controls();
    cmdDataLogStartStop_->setText(QString::fromStdString(controls.startStopCaption));
    lblDataLogStatus_->setText(QString::fromStdString(controls.status));
    lblDataLogDropped_->setText(QString::fromStdString(DroppedRecordsText(controls.droppedRecords)));
    lblDataLogDropped_->setVisible(controls.droppedRecords > 0);
    const LogKnockDisplay& knock = setup_.Knock();
    fraDataLogKnockCount_->setVisible(knock.frameVisible);
    lblDataLogKnockCount_->setText(QString::fromStdString(knock.label.text));
    lblDataLogKnockCount_->setStyleSheet(knock.label.red ? "color: rgb(255, 0, 0);" : "");
    lblDataLogKnockCount_->setEnabled(knock.labelEnabled);
    tmrDataLog_->setInterval(setup_.TimerIntervalMs());
    const bool run = controls.timerEnabled && !timerHeld_;
    if (run && !tmrDataLog_->isActive()) tmrDataLog_->start();
    if (!run && tmrDataLog_->isActive()) tmrDataLog_->stop();
    refreshing_ = false;
}

void LogSetupPanel::HoldTimer(bool held) {
    timerHeld_ = held;
    Refresh();
}

void LogSetupPanel::OnStartStop() {
    const LogImages images = images_();
    recorder_.ToggleLogging(*images.fuel, *images.ignition);
    Refresh();
    emit recordingChanged();
}

void LogSetupPanel::OnTimer() {
    const LogImages images = images_();
    const LogTickResult result = recorder_.DataLogTimerTick(*images.fuel, *images.ignition);
    Refresh();
    if (result.playKnock) emit knockSound();
    emit recordingChanged();
}

} // namespace kv
