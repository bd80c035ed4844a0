#pragma once
// frmCellInput: the "Edit cell" dialog of the map grids. Shows the limits of the current column,
// checks the typed text when OK is pressed (the refusal is shown and the dialog stays open) and
// answers the accepted text; Escape or Cancel answer nothing.
#include "maps/cell_input.h"

#include <QDialog>

class QLabel;
class QLineEdit;

namespace kv {

class UserMessages;

class CellInputDialog final : public QDialog {
    Q_OBJECT
public:
    CellInputDialog(UserMessages& dialogs, QWidget* parent = nullptr);
    // Prepares the dialog for one question.
    void Prepare(const QString& initialText, const CellInputLimits& limits);
    QString Text() const;
    QLineEdit* Edit() const { return txtValue_; }
    QLabel* LimitsLabel() const { return lblLimits_; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    UserMessages& dialogs_;
    CellInputLimits limits_;
    QLineEdit* txtValue_;
    QLabel* lblLimits_;
    // Until the text box first takes the focus: the prepared text (often the key that opened the
    // dialog) stays unselected with the cursor after it, so that the next key adds to it.
    bool keepPreparedText_ = false;
};

// The dialog as the editor's cell input: modal over `parent`.
class QtCellInput final : public CellInput {
public:
    QtCellInput(UserMessages& dialogs, QWidget* parent) : dialogs_(dialogs), parent_(parent) {}
    std::optional<std::string> Ask(const std::string& initialText, const CellInputLimits& limits) override;

private:
    UserMessages& dialogs_;
    QWidget* parent_;
};

} // namespace kv
