#include "maps/gui/cell_input_dialog.h"

#include "platform/messages.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace kv {

CellInputDialog::CellInputDialog(UserMessages& dialogs, QWidget* parent) : QDialog(parent), dialogs_(dialogs) {
    setObjectName("frmCellInput");
    setWindowTitle(QString::fromUtf8(kCellInputCaption.data(), static_cast<int>(kCellInputCaption.size())));
    auto* layout = new QVBoxLayout(this);
    auto* prompt =
        new QLabel(QString::fromUtf8(kCellInputPrompt.data(), static_cast<int>(kCellInputPrompt.size())), this);
    prompt->setObjectName("lblPrompt");
    txtValue_ = new QLineEdit(this);
    txtValue_->setObjectName("txtValue");
    txtValue_->installEventFilter(this);
    lblLimits_ = new QLabel(this);
    lblLimits_->setObjectName("lblLimits");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("cmdOK");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cmdCancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &CellInputDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CellInputDialog::reject);
    layout->addWidget(prompt);
    layout->addWidget(txtValue_);
    layout->addWidget(lblLimits_);
    layout->addWidget(buttons);
}

void CellInputDialog::Prepare(const QString& initialText, const CellInputLimits& limits) {
    limits_ = limits;
    txtValue_->setText(initialText);
    txtValue_->setFocus();
    txtValue_->deselect();
    txtValue_->setCursorPosition(static_cast<int>(initialText.size()));
    keepPreparedText_ = true;
    lblLimits_->setText(QString("Min: %1    Max: %2")
                            .arg(QString::fromStdString(limits.minText), QString::fromStdString(limits.maxText)));
}

QString CellInputDialog::Text() const { return txtValue_->text(); }

void CellInputDialog::accept() {
    const Parsed<double> checked = CheckCellInput(txtValue_->text().toStdString(), limits_);
    if (!checked) {
        dialogs_.MessageBox(checked.Error(), std::string(kProgramTitle), MsgButtons::OK, MsgIcon::Warning);
        txtValue_->setFocus();
        txtValue_->selectAll();
        return;
    }
    QDialog::accept();
}

bool CellInputDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == txtValue_ && event->type() == QEvent::FocusIn && keepPreparedText_) {
        keepPreparedText_ = false;
        // A dialog being shown hands the focus over as if by Tab, and a text box selects all its
        // text on that: the first typed key would replace the one that opened the dialog.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason) {
            QFocusEvent plain(QEvent::FocusIn, Qt::OtherFocusReason);
            QCoreApplication::sendEvent(txtValue_, &plain);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

std::optional<std::string> QtCellInput::Ask(const std::string& initialText, const CellInputLimits& limits) {
    CellInputDialog dialog(dialogs_, parent_);
    dialog.Prepare(QString::fromStdString(initialText), limits);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Text().toStdString();
}

} // namespace kv
