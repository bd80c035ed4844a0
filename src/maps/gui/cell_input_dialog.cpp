#include "maps/gui/cell_input_dialog.h"

#include "platform/messages.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindow>

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

namespace {

// The dialog's modality, kept by hand: a modal window makes the window system's keys to every
// other window vanish, and those of a quick typist still go to the window behind until the
// dialog's window has taken the keyboard over. So the dialog is shown as an ordinary window and,
// while it is open, every key that reaches another window goes to its text box, in the order
// typed; clicks, wheel turns, shortcuts and close requests there are dropped. A modal window
// opened above the dialog (its refusal message) takes its own input.
class DialogInput final : public QObject {
public:
    explicit DialogInput(CellInputDialog& dialog) : dialog_(dialog), beneath_(QApplication::activeModalWidget()) {
        qApp->installEventFilter(this);
    }
    ~DialogInput() override { qApp->removeEventFilter(this); }
    DialogInput(const DialogInput&) = delete;
    DialogInput& operator=(const DialogInput&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (InDialog(watched)) return false;
        if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != beneath_) return false;
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Taken, so that no shortcut of the window behind fires; the key itself follows.
            event->accept();
            return true;
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            QKeyEvent copy(key->type(), key->key(), key->modifiers(), key->nativeScanCode(), key->nativeVirtualKey(),
                           key->nativeModifiers(), key->text(), key->isAutoRepeat(),
                           static_cast<quint16>(key->count()));
            QCoreApplication::sendEvent(dialog_.Edit(), &copy);
            return true;
        }
        case QEvent::Shortcut:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::DragEnter:
        case QEvent::Drop: return true;
        case QEvent::Close:
            // The window manager's close button asks the window (not the widget) first.
            return qobject_cast<QWindow*>(watched) != nullptr;
        default: return false;
        }
    }

private:
    bool InDialog(const QObject* object) const {
        if (const auto* widget = qobject_cast<const QWidget*>(object))
            return widget == &dialog_ || dialog_.isAncestorOf(widget);
        if (const auto* window = qobject_cast<const QWindow*>(object)) return window == dialog_.windowHandle();
        return true; // no input: timers and the like go on as before
    }

    CellInputDialog& dialog_;
    QPointer<QWidget> beneath_; // the modal window the dialog opened over, if any
};

} // namespace

std::optional<std::string> QtCellInput::Ask(const std::string& initialText, const CellInputLimits& limits) {
    // Over the modal window in front, if there is one (it would block a window of its own parent).
    QWidget* modal = QApplication::activeModalWidget();
    CellInputDialog dialog(dialogs_, modal != nullptr ? modal : parent_);
    dialog.setWindowModality(Qt::NonModal);
    dialog.Prepare(QString::fromStdString(initialText), limits);
    const DialogInput input(dialog);
    QEventLoop loop;
    QObject::connect(&dialog, &QDialog::finished, &loop, &QEventLoop::quit);
    dialog.show();
    loop.exec(QEventLoop::DialogExec);
    if (dialog.result() != QDialog::Accepted) return std::nullopt;
    return dialog.Text().toStdString();
}

} // namespace kv
