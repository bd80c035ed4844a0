#pragma once
// The "Auto tune" window (frmAutotune): the three zones' enable boxes, targets and errors, the
// buttons that mark the selected cells of the fuel map, start/stop, close, the status and the
// number of samples each guard dropped. It mirrors the state of an Autotune and hands every
// action to it.
#include <QDialog>

#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace kv {

class Autotune;
class AutotuneRunSource;

class AutotuneWindow final : public QDialog {
    Q_OBJECT
public:
    // `tune` must outlive the window.
    explicit AutotuneWindow(Autotune& tune, QWidget* parent = nullptr);

    // Shows the state of the autotune again (after a sample, an action or an opening).
    void Refresh();
    // Where "Tune from a run..." finds runs (must outlive the window); none: the button rests.
    void SetRunSource(AutotuneRunSource* source);

    QCheckBox* EnableBox(int zone) const { return chkEnable_[static_cast<std::size_t>(zone)]; }
    QLineEdit* TargetBox(int zone) const { return txtTarget_[static_cast<std::size_t>(zone)]; }
    QLineEdit* ErrorBox(int zone) const { return txtError_[static_cast<std::size_t>(zone)]; }
    QPushButton* StartStopButton() const { return cmdStartStop_; }
    QPushButton* CloseButton() const { return cmdClose_; }
    QLabel* Status() const { return lblStatus_; }
    QComboBox* RunChoice() const { return cboTuneRun_; }
    QPushButton* TuneFromRunButton() const { return cmdTuneFromRun_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape: as cmdClose

private:
    // Ends with the window hidden when the autotune agreed to close.
    void TryClose();
    // cmdTuneFromRun: the run chosen in cboTuneRun, or a run file.
    void TuneFromRun();

    Autotune& tune_;
    bool refreshing_ = false;
    std::array<QCheckBox*, 3> chkEnable_{};
    std::array<QLineEdit*, 3> txtTarget_{};
    std::array<QLineEdit*, 3> txtError_{};
    AutotuneRunSource* runs_ = nullptr;
    QComboBox* cboTuneRun_;
    QPushButton* cmdTuneFromRun_;
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
