#include "app/gui/sim_ignition_guide.h"

#include "sim/sim_backend.h"

#include <QApplication>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace kv {

SimIgnitionGuide::SimIgnitionGuide(SimulatedBackend& sim, IgnitionPrompt& driver, QComboBox& statusSwitch,
                                   QWidget& mainWindow)
    : sim_(sim), driver_(driver), statusSwitch_(&statusSwitch), mainWindow_(&mainWindow) {}

SimIgnitionGuide::~SimIgnitionGuide() { delete window_.data(); }

void SimIgnitionGuide::Asked(IgnitionRequest request) {
    pending_ = request;
    driver_.Asked(request);
    if (statusSwitch_ == nullptr) return;
    // A child of the guidance window (the modal window in front), so that its modality leaves
    // the switch usable.
    QWidget* guidance = QApplication::activeModalWidget();
    QWidget* parent = guidance != nullptr ? guidance : mainWindow_.data();
    if (window_ != nullptr && window_->parentWidget() != parent) delete window_.data();
    if (window_ == nullptr) {
        auto* w = new QWidget(parent, Qt::Tool);
        w->setObjectName("frmSimIgnition");
        w->setWindowTitle("Simulated car");
        auto* layout = new QHBoxLayout(w);
        layout->addWidget(new QLabel("Ignition switch:", w));
        auto* choice = new QComboBox(w);
        choice->setObjectName("cboGuideIgnition");
        for (int i = 0; i < statusSwitch_->count(); ++i)
            choice->addItem(statusSwitch_->itemText(i), statusSwitch_->itemData(i));
        layout->addWidget(choice);
        QObject::connect(choice, &QComboBox::currentIndexChanged, w, [this](int index) {
            if (statusSwitch_ == nullptr || index < 0) return;
            statusSwitch_->setCurrentIndex(index);
            // Put to auto now: the driver does what is asked.
            if (pending_ && sim_.IgnitionMode() == SimIgnitionMode::Auto) driver_.Asked(*pending_);
        });
        window_ = w;
    }
    auto* choice = window_->findChild<QComboBox*>("cboGuideIgnition");
    {
        const QSignalBlocker quiet(choice);
        choice->setCurrentIndex(statusSwitch_->currentIndex());
    }
    window_->adjustSize();
    // Beside the guidance window, not over it.
    if (guidance != nullptr) {
        QPoint at = guidance->frameGeometry().topRight() + QPoint(8, 0);
        if (const QScreen* s = guidance->screen();
            s != nullptr && at.x() + window_->width() > s->availableGeometry().right())
            at = guidance->frameGeometry().bottomLeft() + QPoint(0, 8);
        window_->move(at);
    }
    window_->show();
}

void SimIgnitionGuide::Ended() {
    pending_.reset();
    driver_.Ended();
    if (window_ != nullptr) window_->hide();
}

} // namespace kv
