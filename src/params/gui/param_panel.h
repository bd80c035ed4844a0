#pragma once
// A parameter page on screen: the settings of its ParamPage in their frames, each numeric setting
// an up-down beside its text box with the byte label where the page has one, options as option
// buttons and switches as check boxes. The controls are made when the tab is entered, for the
// image in the slot then; every change goes through the page's change events.
#include "params/param_page.h"

#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QGridLayout;
class QLabel;
class QPushButton;
class QRadioButton;

namespace kv {

class EPROM;

// The up-down control: only its two arrows, beside the text box that shows its value.
class UpDown final : public QSpinBox {
    Q_OBJECT
public:
    explicit UpDown(QWidget* parent = nullptr);
};

// The text box of a number: typed text stays in the box until it is confirmed with Enter or by
// leaving the box; Escape puts the shown value back.
class ParamBox final : public QLineEdit {
    Q_OBJECT
public:
    explicit ParamBox(QWidget* parent = nullptr);

signals:
    void confirmed();
    void left();
    void reverted();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

// What a parameter panel needs of the program. Every function may be empty.
struct ParamPanelServices {
    // The image in the panel's slot now (null when the slot is empty).
    std::function<EPROM*()> image;
    ParamServices params;
    // The ignition-on check of the main window (as the map tabs use it).
    std::function<int(QWidget*)> registerIgnitionDependent;
    std::function<void(int)> unregisterIgnitionDependent;
    std::function<void()> startIgnitionCheck;
    std::function<void()> stopIgnitionCheck;
};

class ParamPanel final : public QWidget {
    Q_OBJECT
public:
    // `tabKey` is the page this panel shows ("Parameters", "ParametersLH22", "ParametersEZK",
    // "ParametersEZF"); an image of another unit shows nothing.
    ParamPanel(std::string tabKey, ParamPanelServices services, QWidget* parent = nullptr);
    ~ParamPanel() override;

    // The tab's enter action: the page is made for the image in the slot and loaded.
    void Enter();
    // The tab's leave action.
    void Leave();

    ParamPage* Page() const { return page_.get(); }

    // Marks the settings that show differently for `other` (an image of the same unit, named
    // `otherName` in the marks' tool tips) until called with null. `other` must outlive the marks.
    void CompareWith(EPROM* other, const std::string& otherName);
    // The settings marked now, with their tool tips.
    const std::map<std::string, QString>& ComparedSettings() const { return compared_; }

signals:
    // The user changed a setting (the image changed with it).
    void SettingChanged();

private:
    struct Controls {
        QPointer<UpDown> upDown;
        QPointer<ParamBox> text;
        QPointer<QLabel> byteLabel;
        QPointer<QLabel> extraLabel;
        QPointer<ParamBox> extraBox;
        QPointer<QCheckBox> check;
        std::vector<QPointer<QRadioButton>> radios;
        std::vector<QPointer<QWidget>> custom; // disabled while a preset holds the value
    };

    void Build();
    QWidget* BuildSetting(const ParamSetting& s, QWidget* frame, QGridLayout* grid, int& row);
    void Refresh();
    // The typed text of a box confirmed (Enter) or left: the page takes it or says why not. A
    // text refused on leaving gives way to the shown value (the load threshold's to "1").
    void Commit(const std::string& key, ParamBox* box, ParamPage::Box which, bool leaving);
    void Revert(ParamBox* box);
    void MarkCompared();
    void Busy(const std::function<void()>& work);
    // True when the page is there and still of the image in the slot; otherwise the panel is
    // made again for the slot's image (soon, not inside the event that asked).
    bool Live();
    // Registers the controls with the ignition check when the edits go to a running unit, and
    // takes them off it when not.
    void FollowIgnition();

    std::string tabKey_;
    ParamPanelServices services_;
    std::unique_ptr<ParamPage> page_;
    QPointer<QWidget> content_;
    std::map<std::string, Controls> controls_;
    // The controls that wait for the ignition while the page follows it, and their numbers
    // with the ignition check.
    std::vector<QPointer<QWidget>> ignitionWidgets_;
    std::vector<int> ignitionIds_;
    bool refreshing_ = false;
    // The controls wait for the ignition only when the edits go to a running unit (not for an
    // image edited offline, nor for a unit without a module).
    bool followsIgnition_ = false;
    bool loadingPage_ = false;             // the page is being filled from the image
    std::unique_ptr<ParamPage> otherPage_; // the compared image's page (null: no comparison)
    std::string otherName_;
    std::map<std::string, QString> compared_;
};

} // namespace kv
