#include "autotune/gui/autotune_window.h"

#include "autotune/autotune.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

namespace kv {

namespace {

// The last choice of cboTuneRun: a run file asked for.
const QString kRunFileChoice = QString::fromUtf8("Run file\u2026");

constexpr std::array<const char*, 3> kEnableCaptions{
    "Enable auto tune at IDLE:", "Enable auto tune at CRUISE:", "Enable auto tune at WOT:"};

QLabel* Count(const char* name, QWidget* parent) {
    auto* l = new QLabel("0", parent);
    l->setObjectName(name);
    l->setMinimumWidth(50);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return l;
}

} // namespace

AutotuneWindow::AutotuneWindow(Autotune& tune, QWidget* parent) : QDialog(parent), tune_(tune) {
    setObjectName("frmAutotune");
    setWindowTitle("Auto tune");
    setModal(false);
    auto* outer = new QVBoxLayout(this);

    auto* config = new QGroupBox("Auto tune configuration", this);
    config->setObjectName("fraAutotuneConfig");
    auto* grid = new QGridLayout(config);
    grid->addWidget(new QLabel("Target A/F ratio", config), 0, 2);
    grid->addWidget(new QLabel("+/-", config), 0, 3);
    // The boxes take digits and "." only.
    auto* numbers = new QRegularExpressionValidator(QRegularExpression("[0-9.]*"), this);
    for (std::size_t i = 0; i < 3; ++i) {
        const int row = static_cast<int>(i) + 1;
        auto* chk = new QCheckBox(kEnableCaptions[i], config);
        chk->setObjectName("chkEnableAutotune");
        chk->setProperty("index", static_cast<int>(i));
        chk->setLayoutDirection(Qt::RightToLeft);
        auto* target = new QLineEdit(config);
        target->setObjectName("txtTargetAFR");
        target->setProperty("index", static_cast<int>(i));
        target->setValidator(numbers);
        target->setMaximumWidth(70);
        auto* error = new QLineEdit(config);
        error->setObjectName("txtTargetAFRError");
        error->setProperty("index", static_cast<int>(i));
        error->setValidator(numbers);
        error->setMaximumWidth(70);
        grid->addWidget(chk, row, 0, 1, 2);
        grid->addWidget(target, row, 2);
        grid->addWidget(error, row, 3);
        chkEnable_[i] = chk;
        txtTarget_[i] = target;
        txtError_[i] = error;
        const int zone = static_cast<int>(i);
        connect(chk, &QCheckBox::toggled, this, [this, zone](bool on) {
            if (!refreshing_) tune_.SetEnabled(zone, on);
        });
        connect(target, &QLineEdit::textEdited, this, [this, zone](const QString& t) {
            if (!refreshing_) tune_.SetTargetText(zone, t.toStdString());
        });
        connect(error, &QLineEdit::textEdited, this, [this, zone](const QString& t) {
            if (!refreshing_) tune_.SetErrorText(zone, t.toStdString());
        });
    }
    outer->addWidget(config);

    auto* mark = new QGroupBox("Manipulate selected cells in map", this);
    mark->setObjectName("fraAutotuneMark");
    auto* markRow = new QHBoxLayout(mark);
    struct MarkButton {
        const char* name;
        const char* caption;
        CellState state;
    };
    for (const MarkButton& b : {MarkButton{"cmdMarkAsTuned", "Mark as tuned", CellState::Tuned},
                                MarkButton{"cmdMarkAsNotVisited", "Mark as not visited", CellState::NotVisited},
                                MarkButton{"cmdMarkForbidden", "Mark not to be tuned", CellState::Forbidden}}) {
        auto* button = new QPushButton(b.caption, mark);
        button->setObjectName(b.name);
        button->setFocusPolicy(Qt::NoFocus); // the grid keeps its selection
        const CellState state = b.state;
        connect(button, &QPushButton::clicked, this, [this, state] { tune_.MarkSelected(state); });
        markRow->addWidget(button);
    }
    outer->addWidget(mark);

    // Tuning at the desk from a recorded run: one of the Data logging tab's runs, or a run file.
    auto* fromRun = new QHBoxLayout;
    cboTuneRun_ = new QComboBox(this);
    cboTuneRun_->setObjectName("cboTuneRun");
    cmdTuneFromRun_ = new QPushButton(QString::fromUtf8("Tune from a run\u2026"), this);
    cmdTuneFromRun_->setObjectName("cmdTuneFromRun");
    fromRun->addWidget(cboTuneRun_, 1);
    fromRun->addWidget(cmdTuneFromRun_);
    outer->addLayout(fromRun);
    connect(cmdTuneFromRun_, &QPushButton::clicked, this, [this] { TuneFromRun(); });

    auto* guards = new QGroupBox("Samples not judged", this);
    guards->setObjectName("fraAutotuneGuards");
    auto* guardGrid = new QGridLayout(guards);
    lblDroppedSensor_ = Count("lblDroppedSensor", guards);
    lblDroppedCranking_ = Count("lblDroppedCranking", guards);
    lblDroppedFuelCut_ = Count("lblDroppedFuelCut", guards);
    lblDroppedCold_ = Count("lblDroppedCold", guards);
    lblWarmEngine_ = new QLabel(guards);
    lblWarmEngine_->setObjectName("lblWarmEngine");
    guardGrid->addWidget(new QLabel("Wide-band sensor warming up or unplugged:", guards), 0, 0);
    guardGrid->addWidget(lblDroppedSensor_, 0, 1);
    guardGrid->addWidget(new QLabel("Over-run fuel cut:", guards), 1, 0);
    guardGrid->addWidget(lblDroppedFuelCut_, 1, 1);
    guardGrid->addWidget(new QLabel("Engine below cranking speed:", guards), 2, 0);
    guardGrid->addWidget(lblDroppedCranking_, 2, 1);
    guardGrid->addWidget(lblWarmEngine_, 3, 0);
    guardGrid->addWidget(lblDroppedCold_, 3, 1);
    outer->addWidget(guards);

    auto* legend = new QHBoxLayout;
    struct Swatch {
        const char* caption;
        CellState state;
    };
    for (const Swatch& s : {Swatch{"not visited", CellState::NotVisited}, Swatch{"tuned", CellState::Tuned},
                            Swatch{"rich", CellState::Rich}, Swatch{"lean", CellState::Lean},
                            Swatch{"not to be tuned", CellState::Forbidden}}) {
        const std::uint32_t c = CellStateColour(s.state);
        auto* l = new QLabel(s.caption, this);
        l->setAlignment(Qt::AlignCenter);
        l->setStyleSheet(QString("background-color: rgb(%1, %2, %3); border: 1px solid gray; padding: 2px;")
                             .arg(c & 0xFF)
                             .arg((c >> 8) & 0xFF)
                             .arg((c >> 16) & 0xFF));
        legend->addWidget(l);
    }
    outer->addLayout(legend);

    lblStatus_ = new QLabel(this);
    lblStatus_->setObjectName("lblStatus");
    outer->addWidget(lblStatus_);
    auto* buttons = new QHBoxLayout;
    cmdStartStop_ = new QPushButton(this);
    cmdStartStop_->setObjectName("cmdStartStop");
    cmdClose_ = new QPushButton("&Close", this);
    cmdClose_->setObjectName("cmdClose");
    buttons->addWidget(cmdStartStop_);
    buttons->addStretch();
    buttons->addWidget(cmdClose_);
    outer->addLayout(buttons);
    connect(cmdStartStop_, &QPushButton::clicked, this, [this] {
        tune_.StartStop();
        Refresh();
    });
    connect(cmdClose_, &QPushButton::clicked, this, [this] { TryClose(); });
    Refresh();
}

void AutotuneWindow::Refresh() {
    refreshing_ = true;
    for (int i = 0; i < 3; ++i) {
        const auto k = static_cast<std::size_t>(i);
        chkEnable_[k]->setChecked(tune_.Enabled(i));
        chkEnable_[k]->setEnabled(!tune_.IsRunning());
        if (txtTarget_[k]->text().toStdString() != tune_.TargetText(i))
            txtTarget_[k]->setText(QString::fromStdString(tune_.TargetText(i)));
        if (txtError_[k]->text().toStdString() != tune_.ErrorText(i))
            txtError_[k]->setText(QString::fromStdString(tune_.ErrorText(i)));
        txtTarget_[k]->setEnabled(tune_.TargetBoxEnabled(i));
        txtError_[k]->setEnabled(tune_.ErrorBoxEnabled(i));
    }
    cmdStartStop_->setText(QString::fromStdString(tune_.StartStopCaption()));
    lblStatus_->setText(QString::fromStdString(tune_.Status()));
    const AutotuneGuardCounts& d = tune_.Dropped();
    lblDroppedSensor_->setText(QString::number(d.sensor));
    lblDroppedCranking_->setText(QString::number(d.cranking));
    lblDroppedCold_->setText(QString::number(d.cold));
    lblDroppedFuelCut_->setText(QString::number(d.fuelCut));
    lblWarmEngine_->setText(QString("Coolant below %1 °C:").arg(tune_.WarmEngineC()));
    // The runs on offer, then run files; the choice stays where it was.
    QStringList choices;
    if (runs_ != nullptr)
        for (const std::string& caption : runs_->RunCaptions()) choices << QString::fromStdString(caption);
    choices << kRunFileChoice;
    QStringList shown;
    for (int i = 0; i < cboTuneRun_->count(); ++i) shown << cboTuneRun_->itemText(i);
    if (shown != choices) {
        const QString chosen = cboTuneRun_->currentText();
        cboTuneRun_->clear();
        cboTuneRun_->addItems(choices);
        cboTuneRun_->setCurrentIndex(std::max(0, static_cast<int>(choices.indexOf(chosen))));
    }
    const bool canTune = runs_ != nullptr && tune_.IsOpen() && !tune_.IsRunning();
    cboTuneRun_->setEnabled(canTune);
    cmdTuneFromRun_->setEnabled(canTune);
    refreshing_ = false;
}

void AutotuneWindow::SetRunSource(AutotuneRunSource* source) {
    runs_ = source;
    Refresh();
}

void AutotuneWindow::TuneFromRun() {
    if (runs_ == nullptr) return;
    const int index = cboTuneRun_->currentIndex();
    if (cboTuneRun_->currentText() == kRunFileChoice) {
        if (const std::optional<LogRun> run = runs_->RunFromFile()) tune_.TuneFromRun(*run);
    } else if (const LogRun* run = runs_->RunAt(index)) {
        tune_.TuneFromRun(*run);
    }
    Refresh();
}

void AutotuneWindow::TryClose() {
    if (tune_.IsOpen() && !tune_.Close()) return; // refused while running
    hide();
}

void AutotuneWindow::closeEvent(QCloseEvent* event) {
    if (tune_.IsOpen() && !tune_.Close()) {
        event->ignore();
        return;
    }
    event->accept();
}

void AutotuneWindow::reject() { TryClose(); }

} // namespace kv
