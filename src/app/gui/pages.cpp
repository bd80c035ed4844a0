#include "app/gui/pages.h"

#include "app/core/workflow_view.h"

#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

namespace kv {

TabPage::TabPage(const QString& key, const QString& caption, QWidget* parent)
    : QWidget(parent), key_(key), caption_(caption) {
    setObjectName("fra" + key);
}

EpromPage::EpromPage(std::function<void()> onEnter, QWidget* parent)
    : TabPage("EPROM", "EPROM", parent), onEnter_(std::move(onEnter)) {
    auto* layout = new QVBoxLayout(this);
    auto* device = new QGroupBox("Kestrovane device", this);
    auto* form = new QFormLayout(device);
    lblEmulatorStatus_ = new QLabel(device);
    lblEmulatorStatus_->setObjectName("lblEmulatorStatus");
    lblEmulatorFirmware_ = new QLabel(device);
    lblEmulatorFirmware_->setObjectName("lblEmulatorFirmware");
    // Both show texts from the device link: never read them as markup.
    lblEmulatorStatus_->setTextFormat(Qt::PlainText);
    lblEmulatorFirmware_->setTextFormat(Qt::PlainText);
    form->addRow("Connection status:", lblEmulatorStatus_);
    form->addRow("Firmware version:", lblEmulatorFirmware_);
    auto* images = new QGroupBox("EPROMs", this);
    auto* imagesLayout = new QVBoxLayout(images);
    lblEPROMInfo_ = new QLabel(images);
    lblEPROMInfo_->setObjectName("lblEPROMInfo");
    lblEPROMInfo_->setWordWrap(true);
    lblEPROMInfo_->setTextFormat(Qt::RichText);
    lblEPROMInfo_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    imagesLayout->addWidget(lblEPROMInfo_);
    layout->addWidget(device);
    layout->addWidget(images);
    layout->addStretch(1);
}

void EpromPage::Enter() {
    if (onEnter_) onEnter_();
}

void EpromPage::SetConnectionStatus(const QString& text, bool red) {
    lblEmulatorStatus_->setText(text);
    lblEmulatorStatus_->setStyleSheet(red ? "color: rgb(255, 0, 0);" : "color: rgb(0, 0, 0);");
}

void EpromPage::SetFirmwareVersion(const QString& text) { lblEmulatorFirmware_->setText(text); }

void EpromPage::SetInfoLine(const InfoLine& line) {
    QString html = QString::fromStdString(line.fuel).toHtmlEscaped() + "<br>" +
                   QString::fromStdString(line.ignition).toHtmlEscaped();
    if (!line.warning.empty())
        html += "<br><span style=\"color: rgb(255, 0, 0);\">" + QString::fromStdString(line.warning).toHtmlEscaped() +
                "</span>";
    if (!line.offline.empty())
        html += "<br><b><span style=\"color: rgb(0, 0, 192);\">" +
                QString::fromStdString(line.offline).toHtmlEscaped() + "</span></b>";
    lblEPROMInfo_->setText(html);
}

CaptionPage::CaptionPage(const QString& key, const QString& caption, QWidget* parent) : TabPage(key, caption, parent) {
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(caption, this);
    label->setObjectName("lblCaption");
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
}

} // namespace kv
