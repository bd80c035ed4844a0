#pragma once
// Small instrument pieces shared by the two monitor pages: large value read-outs, marked items
// (one of a group lit), fault lamps. Every setter changes the widget only when the shown state
// changes, so a 100 ms refresh does not flicker.
#include <QFrame>
#include <QLabel>
#include <QString>

class QGroupBox;
class QSlider;

namespace kv {

namespace instrument {

// A value read-out: large bold digits, right-aligned, with a fixed minimum width.
QLabel* Value(const QString& objectName, QWidget* parent, double scale = 1.8, int index = -1);
// A caption above or beside a read-out.
QLabel* Caption(const QString& text, QWidget* parent);
// An item of a marked group ("IDLE", "CRUISE", "WOT"): lit when marked.
QLabel* Item(const QString& objectName, const QString& text, int index, QWidget* parent);
// A fault lamp: a small round shape filled red, green or left plain.
QFrame* Lamp(const QString& objectName, int index, QWidget* parent);
// A titled group.
QGroupBox* Group(const QString& title, const QString& objectName, QWidget* parent);
// A read-only slider showing a value within [min, max].
QSlider* Gauge(const QString& objectName, int min, int max, QWidget* parent);

void SetText(QLabel* label, const QString& text);
// Text colour red (RGB 255, 0, 0) or the normal text colour.
void SetRed(QLabel* label, bool red);
void SetMarked(QLabel* item, bool marked);
// 1 = red, 0 = green, -1 = plain.
void SetLamp(QFrame* lamp, int state);
// Sets the slider to value clamped to its range.
void SetGauge(QSlider* slider, int value);

} // namespace instrument

} // namespace kv
