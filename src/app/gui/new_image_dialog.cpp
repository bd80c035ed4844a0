#include "app/gui/new_image_dialog.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv {

const std::array<BaseImageOption, 4>& BaseImageOptions() {
    static const std::array<BaseImageOption, 4> options{{
        {"MRX_D", "S4 / GT / GTS ('87 - '95)", true},
        {"EZK_D-GTS", "EZK - GTS maps", false},
        {"EZK_D-GT", "EZK - GT maps", false},
        {"EZK_D-S4", "EZK - S4 maps", false},
    }};
    return options;
}

NewImageDialog::NewImageDialog(const NewImageChoice& initial, QWidget* parent) : QDialog(parent) {
    setObjectName("frmNew");
    setWindowTitle("New EPROM");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("Select file type to be loaded to PEM:", this));

    auto* lh = new QGroupBox("LH (fuel injection) ECU baseline EPROMs", this);
    auto* lhLayout = new QVBoxLayout(lh);
    auto* ezk = new QGroupBox("EZK (ignition) ECU baseline EPROMs", this);
    auto* ezkLayout = new QVBoxLayout(ezk);
    // One group across both frames: the four choices exclude each other.
    auto* bases = new QButtonGroup(this);
    for (std::size_t i = 0; i < radioBase_.size(); ++i) {
        const auto& option = BaseImageOptions()[i];
        auto* button = new QRadioButton(option.caption, option.fuel ? lh : ezk);
        button->setObjectName(QString("radioBase_%1").arg(i));
        bases->addButton(button);
        (option.fuel ? lhLayout : ezkLayout)->addWidget(button);
        radioBase_[i] = button;
        if (initial.baseName == option.baseName) button->setChecked(true);
    }
    layout->addWidget(lh);
    layout->addWidget(ezk);

    auto* maf = new QGroupBox("MAF sensor type", this);
    auto* mafLayout = new QVBoxLayout(maf);
    mafLayout->addWidget(new QLabel("Select type of MAF sensor fitted in car:", maf));
    radioSuperMAF_ = new QRadioButton("SuperMAF", maf);
    radioSuperMAF_->setObjectName("radioSuperMAF");
    radioStandardMAF_ = new QRadioButton("Standard MAF", maf);
    radioStandardMAF_->setObjectName("radioStandardMAF");
    mafLayout->addWidget(radioSuperMAF_);
    mafLayout->addWidget(radioStandardMAF_);
    (initial.superMAF ? radioSuperMAF_ : radioStandardMAF_)->setChecked(true);
    layout->addWidget(maf);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("cmdOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cmdCancel");
    layout->addWidget(buttons);
    // OK needs a base image.
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setEnabled(bases->checkedButton() != nullptr);
    connect(bases, &QButtonGroup::buttonToggled, ok,
            [ok, bases] { ok->setEnabled(bases->checkedButton() != nullptr); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

NewImageChoice NewImageDialog::Choice() const {
    NewImageChoice choice;
    for (std::size_t i = 0; i < radioBase_.size(); ++i)
        if (radioBase_[i]->isChecked()) choice.baseName = BaseImageOptions()[i].baseName;
    choice.superMAF = radioSuperMAF_->isChecked();
    return choice;
}

} // namespace kv
