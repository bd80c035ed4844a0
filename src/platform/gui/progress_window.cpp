#include "platform/gui/progress_window.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

ProgressWindow::ProgressWindow(QWidget* parent) : QDialog(parent) {
    setObjectName("frmProgress");
    setWindowTitle("Kestrovane");
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    caption_ = new QLabel(this);
    caption_->setObjectName("lblCaption");
    bar_ = new QProgressBar(this);
    bar_->setObjectName("pbProgress");
    cancel_ = new QPushButton("Cancel", this);
    cancel_->setObjectName("cmdCancel");
    cancel_->hide();
    layout->addWidget(caption_);
    layout->addWidget(bar_);
    layout->addWidget(cancel_, 0, Qt::AlignRight);
    connect(cancel_, &QPushButton::clicked, this, [this] { cancelled_ = true; });
    setMinimumWidth(360);
}

void ProgressWindow::Start(const QString& caption, int maximum) {
    caption_->setText(caption);
    setWindowTitle(caption);
    bar_->setRange(0, std::max(maximum, 0)); // 0..0: a busy indicator
    bar_->setValue(0);
    cancel_->hide();
    cancelled_ = false;
}

void ProgressWindow::SetValue(int value) {
    if (value < bar_->minimum()) value = bar_->minimum();
    if (value > bar_->maximum()) value = bar_->maximum();
    bar_->setValue(value);
}

void ProgressWindow::EnableCancel() { cancel_->show(); }

QString ProgressWindow::Caption() const { return caption_->text(); }

void ProgressWindow::reject() {
    if (cancel_->isVisible()) cancelled_ = true;
    // The window stays until the transfer closes it.
}

} // namespace kv
