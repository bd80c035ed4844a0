#pragma once
// Tools > Options (frmOptions): which of the car's units carry Kestrovane EPROM modules.
#include <QDialog>

#include <array>

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace kv {

class Shell;

class OptionsDialog final : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(Shell& shell, QWidget* parent = nullptr);

    QCheckBox* EcuBox(int index) const { return chkECU_[static_cast<std::size_t>(index)]; }
    QPushButton* ApplyButton() const { return cmdApply_; }
    QPushButton* OkButton() const { return cmdOK_; }
    QPushButton* CancelButton() const { return cmdCancel_; }

private:
    void Apply();

    Shell& shell_;
    std::array<QCheckBox*, 4> chkECU_{};
    QRadioButton* radioMk2_;
    QRadioButton* radioMk1_;
    QPushButton* cmdApply_;
    QPushButton* cmdOK_;
    QPushButton* cmdCancel_;
};

} // namespace kv
