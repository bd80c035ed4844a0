#pragma once
// The panels behind the main window's tabs. Each tab has a page with an enter action (run when
// the tab is selected) and a leave action (run when another tab is selected); the monitors and
// traces start and stop their timers there.
#include <QString>
#include <QWidget>

#include <functional>

class QLabel;

namespace kv {

struct InfoLine;

class TabPage : public QWidget {
    Q_OBJECT
public:
    TabPage(const QString& key, const QString& caption, QWidget* parent = nullptr);
    QString Key() const { return key_; }
    QString Caption() const { return caption_; }
    virtual void Enter() {}
    virtual void Leave() {}
    // The images in the slots changed while this page is on show.
    virtual void ImagesChanged() {}

private:
    QString key_;
    QString caption_;
};

// The "EPROM" tab: the connection and firmware indicators and the image information line.
class EpromPage final : public TabPage {
    Q_OBJECT
public:
    // `onEnter` runs the tab's device refresh (quick ping, reopen, indicators).
    EpromPage(std::function<void()> onEnter, QWidget* parent = nullptr);
    void Enter() override;

    void SetConnectionStatus(const QString& text, bool red);
    void SetFirmwareVersion(const QString& text);
    void SetInfoLine(const InfoLine& line);

    QLabel* StatusLabel() const { return lblEmulatorStatus_; }
    QLabel* FirmwareLabel() const { return lblEmulatorFirmware_; }
    QLabel* InfoLabel() const { return lblEPROMInfo_; }

private:
    std::function<void()> onEnter_;
    QLabel* lblEmulatorStatus_;
    QLabel* lblEmulatorFirmware_;
    QLabel* lblEPROMInfo_;
};

// A tab without a page of its own (the parameter and data-logging tabs): an empty panel with
// its caption. The map and monitor tabs replace theirs when the window is built.
class CaptionPage final : public TabPage {
    Q_OBJECT
public:
    CaptionPage(const QString& key, const QString& caption, QWidget* parent = nullptr);
};

} // namespace kv
