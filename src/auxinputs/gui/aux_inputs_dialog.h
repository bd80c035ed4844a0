#pragma once
// frmAuxInputs ("Configure aux inputs"): the configuration of the five aux inputs, one tab per
// input, with the conversion-law grid and the live test signal. Edits take effect in the records
// at once; Save writes the settings, Cancel (or closing the window) reloads them.
#include "auxinputs/aux_law_grid.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTabBar;
class QTableWidget;
class QTimer;

namespace kv {

class AuxInputs;
class SettingsStore;
class Clipboard;
class UserMessages;

class AuxInputsDialog final : public QDialog {
    Q_OBJECT
public:
    // The cell input dialog: initial text and the column's limits in, the accepted text out
    // (nullopt or empty when cancelled).
    using CellAsk = std::function<std::optional<std::string>(const std::string& initial, double min, double max)>;

    // All references must outlive the dialog.
    AuxInputsDialog(AuxInputs& aux, SettingsStore& settings, UserMessages& messages, Clipboard& clipboard,
                    CellAsk askCell, QWidget* parent = nullptr);
    ~AuxInputsDialog() override;

    // The input shown (1..5).
    int SelectedInput() const { return input_; }
    void SelectInput(int n);
    // One tmrTestSignal tick (also run by the timer every 2500 ms).
    void TestSignalTick();
    // The grid key actions: a typed digit or "-", Return / Enter (the next cell, row by row; the
    // dialog stays open), Ctrl+C and Ctrl+V.
    void TypeIntoCell(const QString& firstCharacter);
    void MoveToNextCell();
    void CopySelection();
    void PasteClipboard();

    // Cancel (and closing the window): all inputs reloaded from the settings.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void ShowInput();
    void RedrawGrid();
    void Save();

    AuxInputs& aux_;
    SettingsStore& settings_;
    UserMessages& messages_;
    Clipboard& clipboard_;
    CellAsk askCell_;
    std::unique_ptr<AuxLawGrid> grid_;
    int input_ = 1;
    bool loading_ = false;
    bool deviceAbsent_ = false;

    QTabBar* tbsInputSelect_ = nullptr;
    QCheckBox* chkEnabled_ = nullptr;
    QLineEdit* txtName_ = nullptr;
    QLineEdit* txtUnit_ = nullptr;
    QSpinBox* udDecimals_ = nullptr;
    QSpinBox* udFilter_ = nullptr;
    QTableWidget* conversionLaw_ = nullptr;
    QPushButton* cmdAddRow_ = nullptr;
    QPushButton* cmdDeleteRow_ = nullptr;
    QLabel* lblNote_ = nullptr;
    QLabel* lblInputVoltage_ = nullptr;
    QLabel* lblDisplayedValue_ = nullptr;
    QLabel* lblDeviceError_ = nullptr;
    QPushButton* cmdOK_ = nullptr;
    QPushButton* cmdCancel_ = nullptr;
    QTimer* tmrTestSignal_ = nullptr;
};

// The note under the law grid of input n (inputs reserved on the older units), or "".
std::string AuxInputNote(int n);

} // namespace kv
