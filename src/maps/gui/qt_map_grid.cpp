#include "maps/gui/qt_map_grid.h"

#include "maps/cell_input.h"
#include "maps/heat_colours.h"
#include "maps/table_editor.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPolygonF>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr QColor kFixedBack(0xE0, 0xE0, 0xE0);
constexpr QColor kMarkerColour(0xD0, 0x00, 0x00);
// The marker frames a cell's number instead of covering it: part 0 a rounded frame the size of a
// cell, part 1 two small arrows pointing at it from the sides.
constexpr QSize kFrameSize(38, 20);
constexpr QSize kArrowsSize(48, 10);
constexpr int kArrowWidth = 4;
constexpr int kRowPixels = 20;
// The frame of a compared cell: black outside, white inside, so that it stands out on every
// background colour.
constexpr QColor kComparedOuter(0x00, 0x00, 0x00);
constexpr QColor kComparedInner(0xFF, 0xFF, 0xFF);

QColor FromBgr(std::uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF), static_cast<int>((c >> 16) & 0xFF));
}

std::uint32_t ToBgr(const QColor& c) {
    return static_cast<std::uint32_t>(c.red()) | (static_cast<std::uint32_t>(c.green()) << 8) |
           (static_cast<std::uint32_t>(c.blue()) << 16);
}

int Pixels(double twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

} // namespace

char EditorCharacterOfKey(int qtKey, Qt::KeyboardModifiers modifiers, const QString& text) {
    if (modifiers & Qt::ControlModifier) {
        switch (qtKey) {
        case Qt::Key_C: return TableEditor::KEY_COPY;
        case Qt::Key_E: return TableEditor::KEY_EDIT;
        case Qt::Key_V: return TableEditor::KEY_PASTE;
        default: return 0;
        }
    }
    if (text.isEmpty()) return 0;
    const QChar c = text.at(0);
    if (c.unicode() < 32 || c.unicode() == 127 || c.unicode() > 126) return 0;
    return static_cast<char>(c.unicode());
}

// --- marker ---

MarkerPart::MarkerPart(QtMapGrid& grid, int index, QWidget* parent) : QWidget(parent), grid_(grid), index_(index) {
    resize(index == 0 ? kFrameSize : kArrowsSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setProperty("index", index);
    hide();
}

void MarkerPart::MoveCentre(double x, double y) {
    move(Pixels(x) - width() / 2, Pixels(y) - height() / 2);
    if (index_ == 0) grid_.MarkerMoved(x, y);
}

void MarkerPart::SetVisible(bool visible) {
    setVisible(visible);
    if (visible) raise();
    if (!visible && index_ == 0) grid_.MarkerHidden();
}

void MarkerPart::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (index_ == 0) {
        p.setPen(QPen(kMarkerColour, 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(1.0, 1.0, width() - 2.0, height() - 2.0), 5.0, 5.0);
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(kMarkerColour);
        const double w = width(), h = height(), a = kArrowWidth;
        p.drawPolygon(QPolygonF{QPointF(0, 0), QPointF(a, h / 2), QPointF(0, h)});
        p.drawPolygon(QPolygonF{QPointF(w, 0), QPointF(w - a, h / 2), QPointF(w, h)});
    }
}

// --- trail ---

TrailOverlay::TrailOverlay(const OperatingPointTrail& trail, QWidget* parent) : QWidget(parent), trail_(trail) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
}

void TrailOverlay::paintEvent(QPaintEvent*) {
    const auto points = trail_.Behind();
    if (points.empty()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    for (const auto& pt : points) {
        QColor c = kMarkerColour;
        c.setAlphaF(static_cast<float>(0.6 * pt.opacity));
        p.setBrush(c);
        const double r = 2.0 + 3.0 * pt.opacity;
        p.drawEllipse(QPointF(pt.x / kTwipsPerPixel, pt.y / kTwipsPerPixel), r, r);
    }
}

// --- grid ---

namespace {

// Draws data cells on their value colour while the grid's value colours are on, and the frame of
// the compared cells over them.
class ValueColourDelegate final : public QStyledItemDelegate {
public:
    explicit ValueColourDelegate(QtMapGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        if (!grid_.IsCompared(index.row(), index.column())) return;
        painter->save();
        painter->setBrush(Qt::NoBrush);
        painter->setPen(QPen(kComparedOuter, 2, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        painter->drawRect(QRectF(option.rect).adjusted(1, 1, -1, -1));
        painter->setPen(QPen(kComparedInner, 1));
        painter->drawRect(QRectF(option.rect).adjusted(2.5, 2.5, -2.5, -2.5));
        painter->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString tip = grid_.CellToolTip(index.row(), index.column());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), tip, view);
        return true;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const std::optional<QColor> colour = grid_.ValueColourAt(index.row(), index.column());
        if (!colour) return;
        option->backgroundBrush = *colour;
        const Rgb rgb{static_cast<std::uint8_t>(colour->red()), static_cast<std::uint8_t>(colour->green()),
                      static_cast<std::uint8_t>(colour->blue())};
        option->palette.setColor(QPalette::Text, DarkTextOn(rgb) ? Qt::black : Qt::white);
    }

private:
    QtMapGrid& grid_;
};

} // namespace

QtMapGrid::QtMapGrid(const QString& objectName, const QString& markerName, QWidget* parent) : QTableWidget(parent) {
    setObjectName(objectName);
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setDefaultSectionSize(kRowPixels);
    verticalHeader()->setMinimumSectionSize(kRowPixels);
    horizontalHeader()->setMinimumSectionSize(8);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setItemDelegate(new ValueColourDelegate(*this));
    overlay_ = new TrailOverlay(trail_, viewport());
    overlay_->resize(viewport()->size());
    for (int i = 0; i < 2; ++i) {
        markers_[static_cast<std::size_t>(i)] = new MarkerPart(*this, i, viewport());
        markers_[static_cast<std::size_t>(i)]->setObjectName(markerName);
    }
    connect(this, &QTableWidget::itemSelectionChanged, this, [this] {
        if (!syncing_) TakeSelectionFromView();
    });
    connect(this, &QTableWidget::currentCellChanged, this, [this](int, int, int, int) {
        if (!syncing_) TakeSelectionFromView();
    });
}

void QtMapGrid::MarkerMoved(double xTwips, double yTwips) {
    trail_.Push(xTwips, yTwips);
    overlay_->update();
}

void QtMapGrid::MarkerHidden() {
    trail_.Clear();
    overlay_->update();
}

QTableWidgetItem* QtMapGrid::ItemAt(int row, int col) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return nullptr;
    QTableWidgetItem* it = item(row, col);
    if (it == nullptr) {
        it = new QTableWidgetItem;
        StyleItem(it, row, col);
        setItem(row, col, it);
    }
    return it;
}

void QtMapGrid::StyleItem(QTableWidgetItem* it, int row, int col) const {
    it->setTextAlignment(Qt::AlignCenter);
    if (IsFixed(row, col)) {
        it->setFlags(Qt::ItemIsEnabled);
        it->setBackground(kFixedBack);
    } else {
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        if (it->background().style() == Qt::NoBrush || it->background().color() == kFixedBack)
            it->setBackground(FromBgr(kWhite));
    }
}

void QtMapGrid::Restyle() {
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = ItemAt(r, c)) StyleItem(it, r, c);
}

void QtMapGrid::SetRows(int rows) {
    valueRangeDirty_ = true;
    setRowCount(std::max(rows, 0));
    Restyle();
    ClampState();
}

void QtMapGrid::SetCols(int cols) {
    valueRangeDirty_ = true;
    setColumnCount(std::max(cols, 0));
    Restyle();
    ClampState();
}

void QtMapGrid::SetFixedRows(int rows) {
    valueRangeDirty_ = true;
    fixedRows_ = std::max(rows, 0);
    Restyle();
    ClampState();
}

void QtMapGrid::SetFixedCols(int cols) {
    valueRangeDirty_ = true;
    fixedCols_ = std::max(cols, 0);
    Restyle();
    ClampState();
}

void QtMapGrid::ClampState() {
    auto clampRow = [this](int r) { return std::clamp(r, 0, std::max(rowCount() - 1, 0)); };
    auto clampCol = [this](int c) { return std::clamp(c, 0, std::max(columnCount() - 1, 0)); };
    row_ = clampRow(row_);
    rowSel_ = clampRow(rowSel_);
    col_ = clampCol(col_);
    colSel_ = clampCol(colSel_);
}

void QtMapGrid::SetCurrentCell(int row, int col) {
    if (row < 0 || col < 0 || row >= rowCount() || col >= columnCount()) return;
    row_ = rowSel_ = row;
    col_ = colSel_ = col;
    PushSelectionToView();
}

void QtMapGrid::SetSelectionEnd(int rowSel, int colSel) {
    if (rowSel < 0 || colSel < 0 || rowSel >= rowCount() || colSel >= columnCount()) return;
    rowSel_ = rowSel;
    colSel_ = colSel;
    PushSelectionToView();
}

void QtMapGrid::PushSelectionToView() {
    syncing_ = true;
    QItemSelectionModel* sm = selectionModel();
    const QModelIndex end = model()->index(rowSel_, colSel_);
    sm->setCurrentIndex(end, QItemSelectionModel::NoUpdate);
    const QItemSelection range(model()->index(std::min(row_, rowSel_), std::min(col_, colSel_)),
                               model()->index(std::max(row_, rowSel_), std::max(col_, colSel_)));
    sm->select(range, QItemSelectionModel::ClearAndSelect);
    syncing_ = false;
}

void QtMapGrid::TakeSelectionFromView() {
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return;
    int top = current.row(), bottom = current.row(), left = current.column(), right = current.column();
    for (const QModelIndex& i : selectionModel()->selectedIndexes()) {
        top = std::min(top, i.row());
        bottom = std::max(bottom, i.row());
        left = std::min(left, i.column());
        right = std::max(right, i.column());
    }
    // The end is where the mouse or the keys went; the current cell is the opposite corner.
    rowSel_ = current.row();
    colSel_ = current.column();
    row_ = rowSel_ == top ? bottom : top;
    col_ = colSel_ == left ? right : left;
}

std::string QtMapGrid::TextMatrix(int row, int col) const {
    const QTableWidgetItem* it = item(row, col);
    return it == nullptr ? std::string() : it->text().toStdString();
}

void QtMapGrid::SetTextMatrix(int row, int col, const std::string& text) {
    if (QTableWidgetItem* it = ItemAt(row, col)) {
        it->setText(QString::fromStdString(text));
        if (!IsFixed(row, col)) valueRangeDirty_ = true;
    }
}

void QtMapGrid::SetValueColours(bool on) {
    if (on == valueColours_) return;
    valueColours_ = on;
    viewport()->update();
}

std::optional<QColor> QtMapGrid::ValueColourAt(int row, int col) const {
    if (!valueColours_ || IsFixed(row, col)) return std::nullopt;
    const QTableWidgetItem* it = item(row, col);
    if (it == nullptr) return std::nullopt;
    const Parsed<double> value = ParseCellNumber(it->text().toStdString(), false);
    if (!value) return std::nullopt;
    if (valueRangeDirty_) {
        valueRange_.reset();
        for (int r = fixedRows_; r < rowCount(); ++r) {
            for (int c = fixedCols_; c < columnCount(); ++c) {
                const QTableWidgetItem* cell = item(r, c);
                if (cell == nullptr) continue;
                const Parsed<double> v = ParseCellNumber(cell->text().toStdString(), false);
                if (!v) continue;
                valueRange_ = valueRange_
                                  ? std::pair{std::min(valueRange_->first, *v), std::max(valueRange_->second, *v)}
                                  : std::pair{*v, *v};
            }
        }
        valueRangeDirty_ = false;
    }
    const Rgb c = HeatColour(*value, valueRange_->first, valueRange_->second);
    return QColor(c.r, c.g, c.b);
}

void QtMapGrid::SetComparedCells(ComparedCells cells) {
    compared_ = std::move(cells);
    viewport()->update();
}

QString QtMapGrid::CellToolTip(int row, int col) const {
    const QTableWidgetItem* it = item(row, col);
    QString tip = it == nullptr ? QString() : it->toolTip();
    const auto mark = compared_.find({row, col});
    if (mark != compared_.end()) tip = tip.isEmpty() ? mark->second : tip + "\n" + mark->second;
    return tip;
}

void QtMapGrid::SetToolTip(int row, int col, const std::string& text) {
    if (QTableWidgetItem* it = ItemAt(row, col)) it->setToolTip(QString::fromStdString(text));
}

std::uint32_t QtMapGrid::CellBackColor() const {
    const QTableWidgetItem* it = item(row_, col_);
    if (it == nullptr || it->background().style() == Qt::NoBrush) return kWhite;
    return ToBgr(it->background().color());
}

void QtMapGrid::SetCellBackColor(std::uint32_t colour) {
    if (QTableWidgetItem* it = ItemAt(row_, col_)) it->setBackground(FromBgr(colour));
}

int QtMapGrid::ColWidth(int col) const { return columnWidth(col) * kTwipsPerPixel; }

void QtMapGrid::SetColWidth(int col, int twips) {
    if (col >= 0 && col < columnCount()) setColumnWidth(col, Pixels(twips));
}

int QtMapGrid::ColPos(int col) const { return columnViewportPosition(col) * kTwipsPerPixel; }
int QtMapGrid::RowPos(int row) const { return rowViewportPosition(row) * kTwipsPerPixel; }
int QtMapGrid::RowHeight(int row) const { return rowHeight(row) * kTwipsPerPixel; }

bool QtMapGrid::event(QEvent* e) {
    // The grid takes Ctrl+C / Ctrl+V / Ctrl+E itself rather than leaving them to menu shortcuts.
    if (e->type() == QEvent::ShortcutOverride) {
        auto* k = static_cast<QKeyEvent*>(e);
        if (EditorCharacterOfKey(k->key(), k->modifiers(), k->text()) != 0 || k->key() == Qt::Key_F2) {
            e->accept();
            return true;
        }
    }
    return QTableWidget::event(e);
}

void QtMapGrid::keyPressEvent(QKeyEvent* e) {
    int shift = 0;
    if (e->modifiers() & Qt::ShiftModifier) shift |= 1;
    if (e->modifiers() & Qt::ControlModifier) shift |= 2;
    if (e->modifiers() & Qt::AltModifier) shift |= 4;
    const int keyCode = e->key() >= Qt::Key_F1 && e->key() <= Qt::Key_F24 ? 112 + (e->key() - Qt::Key_F1) : 0;
    bool used = false;
    if (keyCode != 0 && onKeyDown) used = onKeyDown(keyCode, shift);
    const char ch = EditorCharacterOfKey(e->key(), e->modifiers(), e->text());
    if (ch != 0 && onKeyPress) used = onKeyPress(ch) || used;
    if (used) {
        e->accept();
        return;
    }
    QTableWidget::keyPressEvent(e);
}

void QtMapGrid::resizeEvent(QResizeEvent* e) {
    QTableWidget::resizeEvent(e);
    overlay_->resize(viewport()->size());
}

void QtMapGrid::scrollContentsBy(int dx, int dy) {
    QTableWidget::scrollContentsBy(dx, dy);
    overlay_->setGeometry(viewport()->rect());
    // The marker parts are children of the viewport and scroll with it; the trail starts over.
    MarkerHidden();
}

} // namespace kv
