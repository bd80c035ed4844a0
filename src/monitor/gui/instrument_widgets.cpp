#include "monitor/gui/instrument_widgets.h"

#include <QGroupBox>
#include <QSlider>
#include <QVariant>

namespace kv {

namespace instrument {

namespace {

const char* kState = "kvState";

// True when the widget's remembered state differs from `state` (and remembers it).
bool Changed(QWidget* w, int state) {
    const QVariant old = w->property(kState);
    if (old.isValid() && old.toInt() == state) return false;
    w->setProperty(kState, state);
    return true;
}

} // namespace

QLabel* Value(const QString& objectName, QWidget* parent, double scale, int index) {
    auto* l = new QLabel("-", parent);
    l->setObjectName(objectName);
    l->setTextFormat(Qt::PlainText); // units and names come from the settings
    if (index >= 0) l->setProperty("index", index);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(true);
    l->setFont(f);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(QFontMetrics(f).horizontalAdvance("-0000.00 ms"));
    return l;
}

QLabel* Caption(const QString& text, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setTextFormat(Qt::PlainText); // aux input captions are names from the settings
    l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return l;
}

QLabel* Item(const QString& objectName, const QString& text, int index, QWidget* parent) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(objectName);
    if (index >= 0) l->setProperty("index", index);
    l->setAlignment(Qt::AlignCenter);
    l->setMinimumWidth(QFontMetrics(l->font()).horizontalAdvance(text) + 24);
    l->setFrameShape(QFrame::StyledPanel);
    SetMarked(l, false);
    return l;
}

QFrame* Lamp(const QString& objectName, int index, QWidget* parent) {
    auto* f = new QFrame(parent);
    f->setObjectName(objectName);
    f->setProperty("index", index);
    f->setFixedSize(18, 18);
    SetLamp(f, -1);
    return f;
}

QGroupBox* Group(const QString& title, const QString& objectName, QWidget* parent) {
    auto* g = new QGroupBox(title, parent);
    g->setObjectName(objectName);
    // Only the title is bold; a bold group font would pass on to every caption inside.
    g->setStyleSheet("QGroupBox { font-weight: bold; }");
    return g;
}

QSlider* Gauge(const QString& objectName, int min, int max, QWidget* parent) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(objectName);
    s->setRange(min, max);
    s->setValue(min);
    s->setEnabled(false); // an indicator, not an input
    s->setTickPosition(QSlider::TicksBelow);
    return s;
}

void SetText(QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
}

void SetRed(QLabel* label, bool red) {
    if (!Changed(label, red ? 1 : 0)) return;
    label->setStyleSheet(red ? "color: rgb(255, 0, 0);" : "");
}

void SetMarked(QLabel* item, bool marked) {
    if (!Changed(item, marked ? 1 : 0)) return;
    item->setStyleSheet(marked ? "background-color: rgb(255, 200, 0); color: black; font-weight: bold;"
                               : "color: gray;");
}

void SetLamp(QFrame* lamp, int state) {
    if (!Changed(lamp, state)) return;
    const char* fill = state > 0 ? "rgb(255, 0, 0)" : state == 0 ? "rgb(0, 255, 0)" : "transparent";
    lamp->setStyleSheet(
        QString("QFrame { background-color: %1; border: 1px solid gray; border-radius: 9px; }").arg(fill));
}

void SetGauge(QSlider* slider, int value) {
    const int v = std::clamp(value, slider->minimum(), slider->maximum());
    if (slider->value() != v) slider->setValue(v);
}

} // namespace instrument

} // namespace kv
