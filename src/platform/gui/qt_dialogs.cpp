#include "platform/gui/qt_dialogs.h"

#include "platform/gui/file_filter.h"
#include "platform/gui/progress_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QGuiApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QStringList>

namespace kv {

namespace {

QString ToQt(const std::string& text) {
    // The program's texts break lines with CR LF.
    QString s = QString::fromStdString(text);
    s.replace("\r\n", "\n");
    return s;
}

QStringList NameFilters(const std::string& filter) {
    QStringList list;
    for (const auto& f : ToQtNameFilters(filter)) list << QString::fromStdString(f);
    return list;
}

std::optional<FileDialogResult> RunFileDialog(QFileDialog& dialog, const QStringList& filters, int filterIndex) {
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (filterIndex >= 1 && filterIndex <= filters.size()) dialog.selectNameFilter(filters[filterIndex - 1]);
    }
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return std::nullopt;
    FileDialogResult result;
    result.path = files.front().toStdString();
    const int chosen = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
    result.filterIndex = chosen >= 0 ? chosen + 1 : 1;
    return result;
}

} // namespace

QtUserDialogs::QtUserDialogs(QWidget* parent) : parent_(parent) {}

QtUserDialogs::~QtUserDialogs() {
    if (hourglass_) QApplication::restoreOverrideCursor();
    delete progress_.data();
}

MsgResult QtUserDialogs::MessageBox(const std::string& text, const std::string& title, MsgButtons buttons,
                                    MsgIcon icon) {
    QMessageBox box(parent_.data());
    box.setWindowTitle(ToQt(title));
    // Messages carry file names and device answers: never read them as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQt(text));
    switch (icon) {
    case MsgIcon::None: box.setIcon(QMessageBox::NoIcon); break;
    case MsgIcon::Information: box.setIcon(QMessageBox::Information); break;
    case MsgIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MsgIcon::Critical: box.setIcon(QMessageBox::Critical); break;
    case MsgIcon::Question: box.setIcon(QMessageBox::Question); break;
    }
    switch (buttons) {
    case MsgButtons::OK: box.setStandardButtons(QMessageBox::Ok); break;
    case MsgButtons::OKCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case MsgButtons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    case MsgButtons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    // A busy pointer must not hide the fact that a question waits.
    const bool wasBusy = hourglass_;
    if (wasBusy) SetHourglass(false);
    const int answer = box.exec();
    if (wasBusy) SetHourglass(true);
    switch (answer) {
    case QMessageBox::Ok: return MsgResult::OK;
    case QMessageBox::Yes: return MsgResult::Yes;
    case QMessageBox::No: return MsgResult::No;
    case QMessageBox::Cancel: return MsgResult::Cancel;
    default: break;
    }
    // Closed by its title-bar button or Escape.
    if (buttons == MsgButtons::YesNo) return MsgResult::No;
    if (buttons == MsgButtons::OK) return MsgResult::OK;
    return MsgResult::Cancel;
}

std::optional<std::string> QtUserDialogs::InputBox(const std::string& prompt, const std::string& title,
                                                   const std::string& defaultText) {
    bool ok = false;
    const QString text = QInputDialog::getText(parent_.data(), ToQt(title), ToQt(prompt), QLineEdit::Normal,
                                               QString::fromStdString(defaultText), &ok);
    if (!ok) return std::nullopt;
    return text.toStdString();
}

std::optional<FileDialogResult> QtUserDialogs::OpenFileDialog(const std::string& title, const std::string& filter,
                                                              int filterIndex) {
    QFileDialog dialog(parent_.data(), ToQt(title));
    dialog.setObjectName("dlgOpen");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    return RunFileDialog(dialog, NameFilters(filter), filterIndex);
}

std::optional<FileDialogResult> QtUserDialogs::SaveFileDialog(const std::string& title, const std::string& filter,
                                                              const std::string& defaultExtension,
                                                              const std::string& fileName, int filterIndex) {
    QFileDialog dialog(parent_.data(), ToQt(title));
    dialog.setObjectName("dlgSave");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The folder must exist; an existing file is only replaced after the overwrite question.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setDefaultSuffix(QString::fromStdString(ToQtDefaultSuffix(defaultExtension)));
    if (!fileName.empty()) dialog.selectFile(QString::fromStdString(fileName));
    return RunFileDialog(dialog, NameFilters(filter), filterIndex);
}

void QtUserDialogs::ShowProgress(const std::string& caption, int maximum) {
    if (!progress_) progress_ = new ProgressWindow(parent_.data());
    progress_->Start(ToQt(caption), maximum);
    progress_->show();
    progress_->raise();
    QCoreApplication::processEvents();
}

void QtUserDialogs::UpdateProgress(int value) {
    if (!progress_) return;
    progress_->SetValue(value);
    QCoreApplication::processEvents();
}

void QtUserDialogs::EnableProgressCancel() {
    if (progress_) progress_->EnableCancel();
}

bool QtUserDialogs::IsProgressCancelled() {
    if (!progress_) return false;
    QCoreApplication::processEvents();
    return progress_->Cancelled();
}

void QtUserDialogs::CloseProgress() {
    if (progress_) progress_->hide();
}

void QtUserDialogs::ProcessEvents() { QCoreApplication::processEvents(); }

std::string QtUserDialogs::ClipboardText() { return QGuiApplication::clipboard()->text().toStdString(); }

void QtUserDialogs::SetClipboardText(const std::string& text) {
    QGuiApplication::clipboard()->setText(QString::fromStdString(text));
}

void QtUserDialogs::SetHourglass(bool busy) {
    if (busy == hourglass_) return;
    hourglass_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace kv
