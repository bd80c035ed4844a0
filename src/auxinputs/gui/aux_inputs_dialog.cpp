#include "auxinputs/gui/aux_inputs_dialog.h"

#include "auxinputs/aux_inputs.h"
#include "platform/clipboard.h"
#include "platform/messages.h"
#include "platform/settings_store.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <functional>

namespace kv {

namespace {

constexpr const char* kAfrName = "A/F ratio";
constexpr const char* kDeviceError = "Kestrovane device not connected or not powered";

QString Q(const std::string& s) { return QString::fromStdString(s); }

QLabel* ValueLabel(const QString& name, QWidget* parent) {
    auto* l = new QLabel("-", parent);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText); // the unit comes from the settings
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * 1.4);
    f.setBold(true);
    l->setFont(f);
    l->setMinimumWidth(140);
    return l;
}

// An up-down control that reports typed text it refuses (a number outside its range) instead of
// swallowing the key without a trace.
class RangeSpinBox final : public QSpinBox {
public:
    RangeSpinBox(std::function<void(bool refused)> onCheck, QWidget* parent)
        : QSpinBox(parent), onCheck_(std::move(onCheck)) {}

    QValidator::State validate(QString& input, int& pos) const override {
        const QValidator::State state = QSpinBox::validate(input, pos);
        onCheck_(state == QValidator::Invalid);
        return state;
    }

private:
    std::function<void(bool)> onCheck_;
};

// An up-down control whose text part carries the text-box name; `refused` shows `what` and the
// range while the last typed text was out of it.
QSpinBox* UpDown(const QString& upDownName, const QString& textName, int max, const QString& what, QLabel* refused,
                 QWidget* parent) {
    const QString message = QString("%1 is 0 to %2").arg(what).arg(max);
    auto* s = new RangeSpinBox(
        [refused, message](bool isRefused) {
            if (isRefused) refused->setText(message);
            if (isRefused || refused->text() == message) refused->setVisible(isRefused);
        },
        parent);
    s->setObjectName(upDownName);
    s->setRange(0, max);
    if (auto* edit = s->findChild<QLineEdit*>()) edit->setObjectName(textName);
    return s;
}

} // namespace

std::string AuxInputNote(int n) {
    switch (n) {
    case 1: return "Note! On LH 2.2 this input is reserved for the coolant temperature signal";
    case 2: return "Note! On EZF this input is reserved for the air temperature signal";
    case 3: return "Note! On EZF this input is reserved for the vacuum sensor signal";
    default: return "";
    }
}

AuxInputsDialog::AuxInputsDialog(AuxInputs& aux, SettingsStore& settings, UserMessages& messages, Clipboard& clipboard,
                                 CellAsk askCell, QWidget* parent)
    : QDialog(parent), aux_(aux), settings_(settings), messages_(messages), clipboard_(clipboard),
      askCell_(std::move(askCell)) {
    setObjectName("frmAuxInputs");
    setWindowTitle("Configure aux inputs");
    grid_ = std::make_unique<AuxLawGrid>(aux_, input_);
    Build();
    ShowInput();
    tmrTestSignal_ = new QTimer(this);
    tmrTestSignal_->setObjectName("tmrTestSignal");
    tmrTestSignal_->setInterval(2500);
    connect(tmrTestSignal_, &QTimer::timeout, this, &AuxInputsDialog::TestSignalTick);
    tmrTestSignal_->start();
}

AuxInputsDialog::~AuxInputsDialog() = default;

void AuxInputsDialog::Build() {
    auto* root = new QVBoxLayout(this);

    tbsInputSelect_ = new QTabBar(this);
    tbsInputSelect_->setObjectName("tbsInputSelect");
    for (const char* caption : {"Aux 1", "Aux 2", "Aux 3", "Aux 4", "WBO2"}) tbsInputSelect_->addTab(caption);
    tbsInputSelect_->setExpanding(false);
    root->addWidget(tbsInputSelect_);
    connect(tbsInputSelect_, &QTabBar::currentChanged, this, [this](int index) { SelectInput(index + 1); });

    auto* body = new QGridLayout;
    root->addLayout(body, 1);

    // Identification
    auto* fraIdent = new QGroupBox("Identification", this);
    fraIdent->setObjectName("fraIdentification");
    auto* identLayout = new QGridLayout(fraIdent);
    chkEnabled_ = new QCheckBox("Enable this input", fraIdent);
    chkEnabled_->setObjectName("chkEnabled");
    txtName_ = new QLineEdit(fraIdent);
    txtName_->setObjectName("txtName");
    identLayout->addWidget(chkEnabled_, 0, 0, 1, 2);
    identLayout->addWidget(new QLabel("Name:", fraIdent), 1, 0);
    identLayout->addWidget(txtName_, 1, 1);
    body->addWidget(fraIdent, 0, 0);

    // Display logic
    auto* fraDisplay = new QGroupBox("Display logic", this);
    fraDisplay->setObjectName("fraDisplayLogic");
    auto* displayLayout = new QGridLayout(fraDisplay);
    txtUnit_ = new QLineEdit(fraDisplay);
    txtUnit_->setObjectName("txtUnit");
    auto* lblRefused = new QLabel(fraDisplay);
    lblRefused->setObjectName("lblRefused");
    lblRefused->setStyleSheet("color: rgb(255, 0, 0);");
    lblRefused->setVisible(false);
    udDecimals_ =
        UpDown("udDecimals", "txtDecimals", kAuxMaxDecimals, "The number of decimals", lblRefused, fraDisplay);
    udFilter_ = UpDown("udFilter", "txtFilter", kAuxMaxFilter, "The filtering coefficient", lblRefused, fraDisplay);
    displayLayout->addWidget(new QLabel("Unit of measure:", fraDisplay), 0, 0);
    displayLayout->addWidget(txtUnit_, 0, 1);
    displayLayout->addWidget(new QLabel("Number of decimals:", fraDisplay), 1, 0);
    displayLayout->addWidget(udDecimals_, 1, 1);
    displayLayout->addWidget(new QLabel("Filtering coefficient:", fraDisplay), 2, 0);
    displayLayout->addWidget(udFilter_, 2, 1);
    displayLayout->addWidget(new QLabel("(0=no filtering, 5=most filtering)", fraDisplay), 3, 0, 1, 2);
    displayLayout->addWidget(lblRefused, 4, 0, 1, 2);
    body->addWidget(fraDisplay, 1, 0);

    // Conversion law
    auto* fraLaw = new QGroupBox("Conversion law", this);
    fraLaw->setObjectName("fraConversionLaw");
    auto* lawLayout = new QVBoxLayout(fraLaw);
    conversionLaw_ = new QTableWidget(0, 2, fraLaw);
    conversionLaw_->setObjectName("ConversionLaw");
    conversionLaw_->setHorizontalHeaderLabels({"Input voltage [V]", "Displayed value"});
    conversionLaw_->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    conversionLaw_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    conversionLaw_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    conversionLaw_->installEventFilter(this);
    lawLayout->addWidget(conversionLaw_, 1);
    auto* lawButtons = new QHBoxLayout;
    cmdAddRow_ = new QPushButton("Add row", fraLaw);
    cmdAddRow_->setObjectName("cmdAddRow");
    cmdDeleteRow_ = new QPushButton("Delete row", fraLaw);
    cmdDeleteRow_->setObjectName("cmdDeleteRow");
    lawButtons->addWidget(cmdAddRow_);
    lawButtons->addWidget(cmdDeleteRow_);
    lawButtons->addStretch(1);
    lawLayout->addLayout(lawButtons);
    lblNote_ = new QLabel(fraLaw);
    lblNote_->setObjectName("lblNote");
    lblNote_->setWordWrap(true);
    lawLayout->addWidget(lblNote_);
    body->addWidget(fraLaw, 0, 1, 3, 1);

    // Test live input signal
    auto* fraTest = new QGroupBox("Test live input signal", this);
    fraTest->setObjectName("fraTestSignal");
    auto* testLayout = new QGridLayout(fraTest);
    lblInputVoltage_ = ValueLabel("lblInputVoltage", fraTest);
    lblDisplayedValue_ = ValueLabel("lblDisplayedValue", fraTest);
    lblDeviceError_ = new QLabel(kDeviceError, fraTest);
    lblDeviceError_->setObjectName("lblDeviceError");
    lblDeviceError_->setStyleSheet("color: rgb(255, 0, 0);");
    lblDeviceError_->setWordWrap(true);
    lblDeviceError_->setVisible(false);
    testLayout->addWidget(new QLabel("Input voltage:", fraTest), 0, 0);
    testLayout->addWidget(lblInputVoltage_, 0, 1);
    testLayout->addWidget(new QLabel("Displayed value:", fraTest), 1, 0);
    testLayout->addWidget(lblDisplayedValue_, 1, 1);
    testLayout->addWidget(lblDeviceError_, 2, 0, 1, 2);
    body->addWidget(fraTest, 2, 0);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cmdOK_ = new QPushButton("Save", this);
    cmdOK_->setObjectName("cmdOK");
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton("Cancel", this);
    cmdCancel_->setObjectName("cmdCancel");
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    root->addLayout(buttons);

    connect(chkEnabled_, &QCheckBox::toggled, this, [this](bool on) {
        if (!loading_) aux_.SetAuxEnabled(input_, on);
    });
    connect(txtName_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!loading_ && input_ != kWbo2Input) aux_.SetAuxName(input_, text.toStdString());
    });
    connect(txtUnit_, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (!loading_) aux_.SetAuxUnit(input_, text.toStdString());
    });
    connect(udDecimals_, &QSpinBox::valueChanged, this, [this](int v) {
        if (!loading_) aux_.SetAuxDecimals(input_, v);
    });
    connect(udFilter_, &QSpinBox::valueChanged, this, [this](int v) {
        if (!loading_) aux_.SetAuxFilter(input_, v);
    });
    connect(cmdAddRow_, &QPushButton::clicked, this, [this] {
        grid_->AddRow();
        RedrawGrid();
        conversionLaw_->setCurrentCell(conversionLaw_->rowCount() - 1, 0);
    });
    connect(cmdDeleteRow_, &QPushButton::clicked, this, [this] {
        const auto ranges = conversionLaw_->selectedRanges();
        if (!ranges.isEmpty()) {
            grid_->DeleteRows(ranges.first().topRow(), ranges.first().bottomRow());
        } else if (conversionLaw_->currentRow() >= 0) {
            grid_->DeleteRows(conversionLaw_->currentRow(), conversionLaw_->currentRow());
        }
        RedrawGrid();
    });
    connect(cmdOK_, &QPushButton::clicked, this, &AuxInputsDialog::Save);
    connect(cmdCancel_, &QPushButton::clicked, this, &AuxInputsDialog::reject);
}

void AuxInputsDialog::SelectInput(int n) {
    if (n < 1 || n > kAuxInputCount) return;
    input_ = n;
    if (tbsInputSelect_->currentIndex() != n - 1) tbsInputSelect_->setCurrentIndex(n - 1);
    ShowInput();
}

void AuxInputsDialog::ShowInput() {
    loading_ = true;
    chkEnabled_->setChecked(aux_.IsAuxEnabled(input_));
    const bool wbo2 = input_ == kWbo2Input;
    txtName_->setText(wbo2 ? kAfrName : Q(aux_.GetAuxName(input_)));
    txtName_->setReadOnly(wbo2);
    txtUnit_->setText(Q(aux_.GetAuxUnit(input_)));
    udDecimals_->setValue(aux_.GetAuxDecimals(input_));
    udFilter_->setValue(aux_.GetAuxFilter(input_));
    lblNote_->setText(Q(AuxInputNote(input_)));
    lblInputVoltage_->setText("-");
    lblDisplayedValue_->setText("-");
    grid_->Load(input_);
    RedrawGrid();
    loading_ = false;
}

void AuxInputsDialog::RedrawGrid() {
    const auto& rows = grid_->Rows();
    conversionLaw_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
        for (int c = 0; c < 2; ++c) {
            auto* item = conversionLaw_->item(r, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                conversionLaw_->setItem(r, c, item);
            }
            item->setText(Q(grid_->CellText(r, c)));
        }
    }
}

void AuxInputsDialog::TypeIntoCell(const QString& firstCharacter) {
    const int row = conversionLaw_->currentRow();
    const int col = conversionLaw_->currentColumn();
    if (row < 0 || col < 0 || !askCell_) return;
    auto text = askCell_(firstCharacter.toStdString(), AuxLawGrid::MinFor(col), AuxLawGrid::MaxFor(col));
    if (!text || text->empty()) return;
    grid_->SetCell(row, col, *text);
    RedrawGrid();
    conversionLaw_->setCurrentCell(std::min(row, conversionLaw_->rowCount() - 1), col);
}

void AuxInputsDialog::MoveToNextCell() {
    const int row = conversionLaw_->currentRow();
    const int col = conversionLaw_->currentColumn();
    if (row < 0 || col < 0) return;
    if (col + 1 < conversionLaw_->columnCount())
        conversionLaw_->setCurrentCell(row, col + 1);
    else if (row + 1 < conversionLaw_->rowCount())
        conversionLaw_->setCurrentCell(row + 1, 0);
}

void AuxInputsDialog::CopySelection() {
    const auto ranges = conversionLaw_->selectedRanges();
    if (ranges.isEmpty()) return;
    const auto& r = ranges.first();
    clipboard_.SetClipboardText(grid_->CopyText(r.topRow(), r.leftColumn(), r.bottomRow(), r.rightColumn()));
}

void AuxInputsDialog::PasteClipboard() {
    if (auto message = grid_->Paste(clipboard_.ClipboardText())) {
        messages_.MessageBox(*message, "Kestrovane", MsgButtons::OK, MsgIcon::Warning);
        return;
    }
    RedrawGrid();
}

bool AuxInputsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == conversionLaw_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & Qt::ControlModifier) {
            if (key->key() == Qt::Key_C) {
                CopySelection();
                return true;
            }
            if (key->key() == Qt::Key_V) {
                PasteClipboard();
                return true;
            }
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            MoveToNextCell();
            return true;
        }
        const QString text = key->text();
        if (text.size() == 1 && (text[0].isDigit() || text[0] == '-')) {
            TypeIntoCell(text);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void AuxInputsDialog::TestSignalTick() {
    AuxDevice* device = aux_.Device();
    std::optional<std::int32_t> raw;
    if (device) raw = device->ReadAuxInput(AuxInputs::GetAuxChannel(input_));
    if (!raw) {
        // The display keeps its last values; the filters go out again when the device returns.
        deviceAbsent_ = true;
        lblDeviceError_->setVisible(true);
        return;
    }
    if (deviceAbsent_) {
        aux_.SendAllAuxFilters();
        deviceAbsent_ = false;
    }
    lblDeviceError_->setVisible(false);
    lblInputVoltage_->setText(Q(FormatFixed(*raw / 65536.0 * 5.0, 2) + " V"));
    lblDisplayedValue_->setText(Q(aux_.FormatAuxWithUnit(input_, *raw)));
}

void AuxInputsDialog::Save() {
    for (int n = 1; n <= kAuxInputCount; ++n) aux_.SaveAuxInputs(settings_, n);
    accept();
}

void AuxInputsDialog::reject() {
    aux_.LoadAuxInputs(settings_);
    QDialog::reject();
}

} // namespace kv
