#include "params/gui/param_panel.h"

#include "eprom/eprom_image.h"
#include "params/param_compare.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace kv {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// The frames of a page side by side in this many columns.
constexpr int kFrameColumns = 3;

} // namespace

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
ParamPanel::~ParamPanel() = default;

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
    if (now == &page_->Image()) return true;
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

void ParamPanel::Build() {
    if (services_.unregisterIgnitionDependent)
        for (int id : ignitionIds_) services_.unregisterIgnitionDependent(id);
    ignitionIds_.clear();
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
            if (services_.registerIgnitionDependent)
                ignitionIds_.push_back(services_.registerIgnitionDependent(button));
        }
        // The frame goes to the shortest column.
        const auto shortest = std::min_element(heights.begin(), heights.end()) - heights.begin();
        columnLayouts[static_cast<std::size_t>(shortest)]->addWidget(box);
        heights[static_cast<std::size_t>(shortest)] += row + 1;
    }
    for (auto* column : columnLayouts) column->addStretch(1);
}

QWidget* ParamPanel::BuildSetting(const ParamSetting& s, QWidget* frame, QGridLayout* grid, int& row) {
    Controls& c = controls_[s.key];
    auto ignition = [this](QWidget* w) {
        if (services_.registerIgnitionDependent) ignitionIds_.push_back(services_.registerIgnitionDependent(w));
    };
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
    auto* text = new QLineEdit(frame);
    text->setObjectName(Q(s.textBox));
    text->setFixedWidth(64);
    text->setAlignment(Qt::AlignRight);
    text->setReadOnly(!s.typed);
    grid->addWidget(text, row, 1);
    c.text = text;
    auto* upDown = new UpDown(frame);
    upDown->setObjectName(Q(s.upDown));
    upDown->setSingleStep(s.step);
    grid->addWidget(upDown, row, 2);
    c.upDown = upDown;
    ignition(upDown);
    ignition(text);
    if (!s.radio.empty()) {
        c.custom.push_back(text);
        c.custom.push_back(upDown);
    }
    connect(upDown, &QSpinBox::valueChanged, this, [this, key](int v) {
        if (Live()) Busy([&] { page_->SetValue(key, v); });
    });
    if (s.typed) {
        connect(text, &QLineEdit::textEdited, this, [this, key](const QString& t) {
            if (Live()) page_->TypeText(key, t.toStdString());
        });
        connect(text, &QLineEdit::editingFinished, this, [this, key] {
            if (Live()) page_->LeaveText(key);
        });
    }
    int col = 3;
    auto unitLabel = [&](const std::string& unit) {
        if (!unit.empty()) grid->addWidget(new QLabel(Q(unit), frame), row, col++);
    };
    unitLabel(s.unit);
    for (const auto& [name, label] : {std::pair{s.byteLabel, &c.byteLabel}, std::pair{s.extraLabel, &c.extraLabel}}) {
        if (name.empty()) continue;
        // The altitude's second value is a box of its own (metres beside feet).
        if (name.rfind("txt", 0) == 0) {
            auto* box = new QLineEdit(frame);
            box->setObjectName(Q(name));
            box->setReadOnly(true);
            box->setFixedWidth(64);
            box->setAlignment(Qt::AlignRight);
            grid->addWidget(box, row, col++);
            c.extraBox = box;
            unitLabel(s.extraUnit);
            continue;
        }
        auto* l = new QLabel(frame);
        l->setObjectName(Q(name));
        l->setFixedWidth(48);
        l->setFrameShape(QFrame::Panel);
        l->setFrameShadow(QFrame::Sunken);
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
        if (c.text && !(s->typed && c.text->hasFocus())) {
            const QSignalBlocker block(c.text);
            c.text->setText(Q(page_->Text(key)));
        }
        if (c.byteLabel) c.byteLabel->setText(Q(page_->ByteText(key)));
        if (c.extraLabel) c.extraLabel->setText(Q(page_->ExtraText(key)));
        if (c.extraBox) c.extraBox->setText(Q(page_->ExtraText(key)));
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
