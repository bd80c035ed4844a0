#pragma once
// The "Auto tune" window (frmAutotune): the three zones' enable boxes, targets and errors, the
// buttons that mark the selected cells of the fuel map, start/stop, close, the status and the
// number of samples each guard dropped. It mirrors the state of an Autotune and hands every
// action to it.
#include <QDialog>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

class Autotune;

class AutotuneWindow final : public QDialog {
    Q_OBJECT
public:
    // `tune` must outlive the window.
    explicit AutotuneWindow(Autotune& tune, QWidget* parent = nullptr);

    // Shows the state of the autotune again (after a sample, an action or an opening).
    void Refresh();

    QCheckBox* EnableBox(int zone) const { return chkEnable_[static_cast<std::size_t>(zone)]; }
    QLineEdit* TargetBox(int zone) const { return txtTarget_[static_cast<std::size_t>(zone)]; }
    QLineEdit* ErrorBox(int zone) const { return txtError_[static_cast<std::size_t>(zone)]; }
    QPushButton* StartStopButton() const { return cmdStartStop_; }
    QPushButton* CloseButton() const { return cmdClose_; }
    QLabel* Status() const { return lblStatus_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape: as cmdClose

private:
    // Ends with the window hidden when the autotune agreed to close.
    void TryClose();

    Autotune& tune_;
    bool refreshing_ = false;
    std::array<QCheckBox*, 3> chkEnable_{};
    std::array<QLineEdit*, 3> txtTarget_{};
    std::array<QLineEdit*, 3> txtError_{};
    QPushButton* cmdStartStop_;
    QPushButton* cmdClose_;
    QLabel* lblStatus_;
    QLabel* lblDroppedSensor_;
    QLabel* lblDroppedCranking_;
    QLabel* lblDroppedCold_;
    QLabel* lblDroppedFuelCut_;
    QLabel* lblWarmEngine_;
};

} // namespace kv
