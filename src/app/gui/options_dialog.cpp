#include "app/gui/options_dialog.h"

#include "app/core/shell.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace kv {

OptionsDialog::OptionsDialog(Shell& shell, QWidget* parent) : QDialog(parent), shell_(shell) {
    setObjectName("frmOptions");
    setWindowTitle("Options");
    setModal(true);
    auto* layout = new QVBoxLayout(this);

    auto* ecus = new QGroupBox("Connected ECUs", this);
    ecus->setObjectName("fraConnectedECUs");
    auto* ecuLayout = new QVBoxLayout(ecus);
    auto* intro =
        new QLabel("The following ECUs in the car are equipped with Kestrovane Programmable EPROM Modules:", ecus);
    intro->setWordWrap(true);
    ecuLayout->addWidget(intro);
    const auto ticked = shell_.LoadEcuOptions();
    for (std::size_t i = 0; i < chkECU_.size(); ++i) {
        auto* box = new QCheckBox(EcuOptions()[i].caption, ecus);
        box->setObjectName(QString("chkECU_%1").arg(i));
        box->setProperty("tag", QString(EcuOptions()[i].key));
        box->setChecked(ticked[i]);
        chkECU_[i] = box;
        ecuLayout->addWidget(box);
    }
    auto* warning =
        new QLabel("Warning! Save your unsaved EPROMs before making changes to the connection settings!", ecus);
    warning->setWordWrap(true);
    warning->setStyleSheet("color: rgb(255, 0, 0);");
    ecuLayout->addWidget(warning);
    layout->addWidget(ecus);

    auto* model = new QGroupBox("Kestrovane model  being used", this);
    model->setObjectName("fraModel");
    auto* modelLayout = new QVBoxLayout(model);
    radioMk2_ = new QRadioButton("Kestrovane Mk II (connection via USB port)", model);
    radioMk2_->setObjectName("radioMk2");
    radioMk1_ = new QRadioButton("Kestrovane Mk I (connection via serial port)", model);
    radioMk1_->setObjectName("radioMk1");
    radioMk2_->setChecked(true);
    modelLayout->addWidget(radioMk2_);
    modelLayout->addWidget(radioMk1_);
    layout->addWidget(model);

    auto* buttons = new QHBoxLayout;
    cmdOK_ = new QPushButton("OK", this);
    cmdOK_->setObjectName("cmdOK");
    cmdOK_->setDefault(true);
    cmdCancel_ = new QPushButton("Cancel", this);
    cmdCancel_->setObjectName("cmdCancel");
    cmdApply_ = new QPushButton("&Apply", this);
    cmdApply_->setObjectName("cmdApply");
    buttons->addStretch(1);
    buttons->addWidget(cmdOK_);
    buttons->addWidget(cmdCancel_);
    buttons->addWidget(cmdApply_);
    layout->addLayout(buttons);

    connect(cmdApply_, &QPushButton::clicked, this, [this] { Apply(); });
    connect(cmdOK_, &QPushButton::clicked, this, [this] {
        Apply();
        accept();
    });
    connect(cmdCancel_, &QPushButton::clicked, this, &QDialog::reject);
}

void OptionsDialog::Apply() {
    std::array<bool, 4> ticked{};
    for (std::size_t i = 0; i < ticked.size(); ++i) ticked[i] = chkECU_[i]->isChecked();
    shell_.ApplyEcuOptions(ticked);
}

} // namespace kv
