#include "params/gui/param_panel.h"

#include "eprom/eprom_image.h"
#include "params/param_compare.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <tuple>

namespace kv {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The frames of a page side by side in this many columns.
constexpr int kFrameColumns = 3;

} // namespace

ParamBox::ParamBox(QWidget* parent) : QLineEdit(parent) {}

void ParamBox::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        emit confirmed();
        event->accept();
        return;
    case Qt::Key_Escape:
        emit reverted();
        event->accept();
        return;
    default: QLineEdit::keyPressEvent(event);
    }
}

void ParamBox::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    // A menu or a pop-up over the box does not end the typing.
    if (event->reason() != Qt::PopupFocusReason) emit left();
}

UpDown::UpDown(QWidget* parent) : QSpinBox(parent) {
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    lineEdit()->setVisible(false);
    setFixedWidth(20);
    setKeyboardTracking(false);
}

ParamPanel::ParamPanel(std::string tabKey, ParamPanelServices services, QWidget* parent)
    : QWidget(parent), tabKey_(std::move(tabKey)), services_(std::move(services)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

// The ignition check keeps guarded pointers: the controls need not be unregistered when the
// panel goes with its window.
ParamPanel::~ParamPanel() {
    // The boxes go while the panel is still whole: a box that loses the focus on its way out
    // finds no page to write to.
    page_.reset();
    delete content_;
}

void ParamPanel::Enter() {
    EPROM* image = services_.image ? services_.image() : nullptr;
    page_.reset();
    if (image != nullptr) {
        page_ = MakeParamPage(*image, services_.params);
        if (page_ && page_->TabKey() != tabKey_) page_.reset();
    }
    Build();
    if (!page_) return;
    page_->onChanged = [this] {
        Refresh();
        if (!loadingPage_) emit SettingChanged();
    };
    loadingPage_ = true;
    page_->Load();
    loadingPage_ = false;
    if (services_.startIgnitionCheck) services_.startIgnitionCheck();
}

void ParamPanel::Leave() {
    if (page_) page_->Leave();
    if (services_.stopIgnitionCheck) services_.stopIgnitionCheck();
}

bool ParamPanel::Live() {
    if (!page_ || refreshing_) return false;
    EPROM* now = services_.image ? services_.image() : nullptr;
    if (now == &page_->Image()) {
        // An image edited offline may have gone into its module since the page was made.
        FollowIgnition();
        return true;
    }
    // The slot holds another image now: the page and its controls go, and the page is made
    // again for the new image once this event is over.
    page_.reset();
    QTimer::singleShot(0, this, [this] { Enter(); });
    return false;
}

void ParamPanel::Busy(const std::function<void()>& work) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    work();
    QApplication::restoreOverrideCursor();
}

void ParamPanel::FollowIgnition() {
    const bool follow = page_ && page_->Image().WriteThroughUnit() != 0 && !page_->Image().IsOffline();
    if (follow == followsIgnition_) return;
    followsIgnition_ = follow;
    if (follow) {
        if (services_.registerIgnitionDependent)
            for (const auto& w : ignitionWidgets_)
                if (w) ignitionIds_.push_back(services_.registerIgnitionDependent(w));
        return;
    }
    if (services_.unregisterIgnitionDependent)
        for (int id : ignitionIds_) services_.unregisterIgnitionDependent(id);
    ignitionIds_.clear();
}

void ParamPanel::Build() {
    if (services_.unregisterIgnitionDependent)
        for (int id : ignitionIds_) services_.unregisterIgnitionDependent(id);
    ignitionIds_.clear();
    ignitionWidgets_.clear();
    followsIgnition_ = false;
    controls_.clear();
    // The controls may be in the middle of one of their own signals.
    if (content_) {
        content_->hide();
        content_->deleteLater();
    }
    if (!page_) return;

    auto* scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    content_ = scroll;
    auto* inner = new QWidget(scroll);
    auto* columns = new QGridLayout(inner);
    scroll->setWidget(inner);
    layout()->addWidget(scroll);

    // One frame per caption, in the order the settings come.
    std::vector<std::string> frames;
    for (const auto& s : page_->Settings())
        if (std::find(frames.begin(), frames.end(), s.frame) == frames.end()) frames.push_back(s.frame);
    std::vector<QVBoxLayout*> columnLayouts;
    for (int c = 0; c < kFrameColumns; ++c) {
        auto* column = new QVBoxLayout();
        columns->addLayout(column, 0, c);
        columnLayouts.push_back(column);
    }
    std::vector<int> heights(kFrameColumns, 0);
    for (const auto& frame : frames) {
        auto* box = new QGroupBox(Q(frame), inner);
        auto* grid = new QGridLayout(box);
        grid->setColumnStretch(0, 1);
        int row = 0;
        for (const auto& s : page_->Settings())
            if (s.frame == frame) BuildSetting(s, box, grid, row);
        for (const auto& c : page_->Commands()) {
            if (c.frame != frame) continue;
            auto* button = new QPushButton(Q(c.caption), box);
            button->setObjectName(Q(c.name));
            grid->addWidget(button, row++, 0, 1, 2, Qt::AlignLeft);
            const std::string name = c.name;
            connect(button, &QPushButton::clicked, this, [this, name] {
                if (Live()) Busy([&] { page_->RunCommand(name); });
            });
            ignitionWidgets_.push_back(button);
        }
        // The frame goes to the shortest column.
        const auto shortest = std::min_element(heights.begin(), heights.end()) - heights.begin();
        columnLayouts[static_cast<std::size_t>(shortest)]->addWidget(box);
        heights[static_cast<std::size_t>(shortest)] += row + 1;
    }
    for (auto* column : columnLayouts) column->addStretch(1);
    FollowIgnition();
}

QWidget* ParamPanel::BuildSetting(const ParamSetting& s, QWidget* frame, QGridLayout* grid, int& row) {
    Controls& c = controls_[s.key];
    auto ignition = [this](QWidget* w) { ignitionWidgets_.push_back(w); };
    const std::string key = s.key;
    QWidget* first = nullptr;

    if (!s.radio.empty()) {
        auto* group = new QButtonGroup(frame);
        for (std::size_t i = 0; i < s.optionCaptions.size(); ++i) {
            auto* radio = new QRadioButton(Q(s.optionCaptions[i]), frame);
            radio->setObjectName(Q(s.radio) + "(" + QString::number(i) + ")");
            group->addButton(radio, static_cast<int>(i));
            grid->addWidget(radio, row++, 0, 1, 4);
            c.radios.push_back(radio);
            ignition(radio);
            if (!first) first = radio;
        }
        connect(group, &QButtonGroup::idToggled, this, [this, key](int id, bool on) {
            if (on && Live()) Busy([&] { page_->SelectOption(key, id); });
        });
    }
    if (!s.check.empty()) {
        auto* check = new QCheckBox(Q(s.caption), frame);
        check->setObjectName(Q(s.check));
        grid->addWidget(check, row++, 0, 1, 4);
        c.check = check;
        ignition(check);
        connect(check, &QCheckBox::toggled, this, [this, key](bool on) {
            if (Live()) Busy([&] { page_->SetChecked(key, on); });
        });
        if (!first) first = check;
    }
    if (s.kind != SettingKind::Number) return first;

    if (s.check.empty() && !s.caption.empty()) {
        auto* caption = new QLabel(Q(s.caption), frame);
        caption->setWordWrap(true);
        grid->addWidget(caption, row, 0);
        if (!s.radio.empty()) c.custom.push_back(caption);
    }
    // Every box takes typed text, confirmed with Enter or by leaving it.
    auto makeBox = [&](const std::string& name, ParamPage::Box which) {
        auto* box = new ParamBox(frame);
        box->setObjectName(Q(name));
        box->setFixedWidth(64);
        box->setAlignment(Qt::AlignRight);
        connect(box, &ParamBox::confirmed, this, [this, key, box, which] { Commit(key, box, which, false); });
        connect(box, &ParamBox::left, this, [this, key, box, which] { Commit(key, box, which, true); });
        connect(box, &ParamBox::reverted, this, [this, box] { Revert(box); });
        ignition(box);
        return box;
    };
    auto* text = makeBox(s.textBox, ParamPage::Box::Value);
    grid->addWidget(text, row, 1);
    c.text = text;
    auto* upDown = new UpDown(frame);
    upDown->setObjectName(Q(s.upDown));
    upDown->setSingleStep(s.step);
    grid->addWidget(upDown, row, 2);
    c.upDown = upDown;
    ignition(upDown);
    if (!s.radio.empty()) {
        c.custom.push_back(text);
        c.custom.push_back(upDown);
    }
    connect(upDown, &QSpinBox::valueChanged, this, [this, key](int v) {
        if (Live()) Busy([&] { page_->SetValue(key, v); });
    });
    int col = 3;
    auto unitLabel = [&](const std::string& unit) {
        if (!unit.empty()) grid->addWidget(new QLabel(Q(unit), frame), row, col++);
    };
    unitLabel(s.unit);
    // The altitude's second value is a box of its own (metres beside feet).
    if (s.extraLabel.rfind("txt", 0) == 0) {
        c.extraBox = makeBox(s.extraLabel, ParamPage::Box::Extra);
        grid->addWidget(c.extraBox, row, col++);
        unitLabel(s.extraUnit);
    }
    // The stored value beside the shown one, with a caption that says so.
    for (const auto& [name, label, caption] :
         {std::tuple{s.byteLabel, &c.byteLabel, "Byte:"}, std::tuple{s.extraLabel, &c.extraLabel, "Stored:"}}) {
        if (name.empty() || name.rfind("txt", 0) == 0) continue;
        auto* l = new QLabel(frame);
        l->setObjectName(Q(name));
        l->setFixedWidth(48);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setToolTip("The value as the image stores it");
        auto* title = new QLabel(caption, frame);
        title->setBuddy(l);
        grid->addWidget(title, row, col++);
        grid->addWidget(l, row, col++);
        *label = l;
    }
    ++row;
    return first ? first : upDown;
}

void ParamPanel::Refresh() {
    if (!page_) return;
    refreshing_ = true;
    for (auto& [key, c] : controls_) {
        const ParamSetting* s = page_->Find(key);
        if (!s) continue;
        if (c.upDown) {
            const QSignalBlocker block(c.upDown);
            c.upDown->setRange(std::min(page_->Min(key), page_->Value(key)),
                               std::max(page_->Max(key), page_->Value(key)));
            c.upDown->setValue(page_->Value(key));
        }
        // A box holding typed text not yet confirmed keeps it.
        if (c.text && !c.text->isModified()) c.text->setText(Q(page_->Text(key)));
        if (c.byteLabel) c.byteLabel->setText(Q(page_->ByteText(key)));
        if (c.extraLabel) c.extraLabel->setText(Q(page_->ExtraText(key)));
        if (c.extraBox && !c.extraBox->isModified()) c.extraBox->setText(Q(page_->ExtraText(key)));
        if (c.check) {
            const QSignalBlocker block(c.check);
            c.check->setChecked(page_->Checked(key));
        }
        const int option = page_->Option(key);
        for (std::size_t i = 0; i < c.radios.size(); ++i) {
            if (!c.radios[i]) continue;
            const QSignalBlocker block(c.radios[i]);
            c.radios[i]->setAutoExclusive(false);
            c.radios[i]->setChecked(static_cast<int>(i) == option);
            c.radios[i]->setAutoExclusive(true);
        }
        for (auto& w : c.custom)
            if (w) w->setEnabled(page_->Enabled(key));
    }
    refreshing_ = false;
    MarkCompared();
}

void ParamPanel::Commit(const std::string& key, ParamBox* box, ParamPage::Box which, bool leaving) {
    // Only a box of the controls on show (not one of a page that was replaced).
    const auto found = controls_.find(key);
    if (found == controls_.end() || (found->second.text != box && found->second.extraBox != box)) return;
    if (!box->isModified() || !Live()) return;
    const std::string text = box->text().toStdString();
    // The page's change shows the value taken in the box.
    box->setModified(false);
    std::optional<std::string> refused;
    Busy([&] { refused = page_->CommitText(key, text, which); });
    if (!refused) {
        Refresh();
        return;
    }
    QToolTip::showText(box->mapToGlobal(QPoint(0, box->height())), Q(*refused), box);
    if (!leaving) {
        // The text stays to be mended.
        box->setModified(true);
        return;
    }
    const ParamSetting* s = page_->Find(key);
    if (s && s->typed && which == ParamPage::Box::Value) {
        page_->TypeText(key, text);
        page_->LeaveText(key);
    }
    Refresh();
}

void ParamPanel::Revert(ParamBox* box) {
    box->setModified(false);
    QToolTip::hideText();
    Refresh();
}

void ParamPanel::CompareWith(EPROM* other, const std::string& otherName) {
    otherPage_.reset();
    otherName_ = otherName;
    if (other != nullptr) {
        otherPage_ = MakeParamPage(*other, {});
        if (otherPage_) otherPage_->Load();
    }
    MarkCompared();
}

void ParamPanel::MarkCompared() {
    compared_.clear();
    if (page_ && otherPage_)
        for (const SettingDifference& d : CompareSettings(*page_, *otherPage_))
            compared_[d.key] = Q("In " + otherName_ + ": " + d.otherText);
    // The marked setting's own controls: the boxes that show its value, its check box, its
    // option buttons.
    static const QString kMark = "background-color: #ffe08a;";
    for (auto& [key, c] : controls_) {
        const auto found = compared_.find(key);
        const bool marked = found != compared_.end();
        std::vector<QWidget*> widgets{c.text, c.extraBox, c.check};
        for (auto& radio : c.radios) widgets.push_back(radio);
        for (QWidget* w : widgets) {
            if (w == nullptr) continue;
            w->setToolTip(marked ? found->second : QString());
            w->setStyleSheet(marked ? kMark : QString());
        }
    }
}

} // namespace kv
