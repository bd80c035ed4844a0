#include "maps/gui/qt_map_grid.h"

#include "maps/cell_input.h"
#include "maps/heat_colours.h"
#include "maps/map_keys.h"
#include "maps/table_editor.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetricsF>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPolygonF>
#include <QScrollBar>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QToolTip>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kv {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr QColor kFixedBack(0xE0, 0xE0, 0xE0);
// The headers' button colour: styles draw header sections a little lighter than it, so that
// they come out in about the grey of kFixedBack.
constexpr QColor kHeaderButton(0xD4, 0xD4, 0xD4);
constexpr QColor kMarkerColour(0xD0, 0x00, 0x00);
// The marker frames a cell's number instead of covering it: part 0 a rounded frame the size of a
// cell, part 1 two small arrows pointing at it from the sides.
constexpr QSize kFrameSize(38, 20);
constexpr QSize kArrowsSize(48, 10);
constexpr int kArrowWidth = 4;
constexpr int kRowPixels = 20;
constexpr double kSmallestLabelPoints = 6.5;
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
    // + (on either keyboard) and the keypad's - are the + and - buttons: they give the buttons'
    // letters. The main keyboard's - starts a negative value.
    if (qtKey == Qt::Key_Plus) return kMapButtonLetters[0];
    if (qtKey == Qt::Key_Minus && (modifiers & Qt::KeypadModifier)) return kMapButtonLetters[1];
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
    grid_.PlaceMarker(*this, x, y);
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

// --- grid ---

namespace {

// Draws data cells on their value colour while the grid's value colours are on, and the frame of
// the compared cells over them.
class ValueColourDelegate final : public QStyledItemDelegate {
public:
    explicit ValueColourDelegate(QtMapGrid& grid) : QStyledItemDelegate(&grid), grid_(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        std::vector<OperatingPointTrail::Point> dots;
        for (const auto& pt : grid_.Trail().Behind())
            if (DotRect(pt).intersects(option.rect)) dots.push_back(pt);
        if (dots.empty())
            QStyledItemDelegate::paint(painter, option, index);
        else
            PaintUnderText(painter, option, index, dots);
        if (!grid_.IsCompared(index.row() + grid_.FixedRows(), index.column() + grid_.FixedCols())) return;
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
        const QString tip = grid_.CellToolTip(index.row() + grid_.FixedRows(), index.column() + grid_.FixedCols());
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(event->globalPos(), tip, view);
        return true;
    }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        if (const std::optional<GridOverlayCell> cell =
                grid_.OverlayCellAt(index.row() + grid_.FixedRows(), index.column() + grid_.FixedCols())) {
            option->text = cell->text;
            option->backgroundBrush = cell->background.isValid() ? QBrush(cell->background) : QBrush();
            option->palette.setColor(QPalette::Text, Qt::black);
            return;
        }
        const std::optional<QColor> colour =
            grid_.ValueColourAt(index.row() + grid_.FixedRows(), index.column() + grid_.FixedCols());
        if (!colour) return;
        option->backgroundBrush = *colour;
        const Rgb rgb{static_cast<std::uint8_t>(colour->red()), static_cast<std::uint8_t>(colour->green()),
                      static_cast<std::uint8_t>(colour->blue())};
        option->palette.setColor(QPalette::Text, DarkTextOn(rgb) ? Qt::black : Qt::white);
    }

private:
    static double DotRadius(const OperatingPointTrail::Point& pt) { return 2.0 + 3.0 * pt.opacity; }
    static QRectF DotRect(const OperatingPointTrail::Point& pt) {
        const double r = DotRadius(pt);
        return {pt.x / kTwipsPerPixel - r, pt.y / kTwipsPerPixel - r, 2 * r, 2 * r};
    }

    // The cell in two passes: its background (with the selection and the focus frame), the trail
    // dots on it, then its number on top.
    void PaintUnderText(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index,
                        const std::vector<OperatingPointTrail::Point>& dots) const {
        QStyleOptionViewItem opt(option);
        initStyleOption(&opt, index);
        const QWidget* widget = opt.widget;
        QStyle* style = widget != nullptr ? widget->style() : QApplication::style();

        QStyleOptionViewItem back(opt);
        back.text.clear();
        style->drawControl(QStyle::CE_ItemViewItem, &back, painter, widget);

        painter->save();
        painter->setClipRect(option.rect);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        for (const auto& pt : dots) {
            QColor c = kMarkerColour;
            c.setAlphaF(static_cast<float>(0.6 * pt.opacity));
            painter->setBrush(c);
            painter->drawEllipse(DotRect(pt));
        }
        painter->restore();

        QStyleOptionViewItem front(opt);
        front.backgroundBrush = Qt::NoBrush;
        if (opt.state & QStyle::State_Selected)
            front.palette.setColor(QPalette::Text, opt.palette.color(QPalette::HighlightedText));
        front.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver);
        front.features &= ~QStyleOptionViewItem::Alternate;
        style->drawControl(QStyle::CE_ItemViewItem, &front, painter, widget);
    }

    QtMapGrid& grid_;
};

} // namespace

QtMapGrid::QtMapGrid(const QString& objectName, const QString& markerName, QWidget* parent) : QTableWidget(parent) {
    setObjectName(objectName);
    QHeaderView* top = horizontalHeader();
    QHeaderView* left = verticalHeader();
    left->setDefaultSectionSize(kRowPixels);
    left->setMinimumSectionSize(kRowPixels);
    top->setMinimumSectionSize(8);
    // The columns keep the width the editor gives them and the rows their height: the labels
    // are not dragged to other sizes.
    top->setSectionResizeMode(QHeaderView::Fixed);
    left->setSectionResizeMode(QHeaderView::Fixed);
    top->setDefaultAlignment(Qt::AlignCenter);
    left->setDefaultAlignment(Qt::AlignCenter);
    // The labels are drawn on the grey of the grid's fixed cells, apart from the cells on every
    // value colour and from white.
    for (QHeaderView* header : {top, left}) {
        QPalette palette = header->palette();
        palette.setColor(QPalette::Button, kHeaderButton);
        header->setPalette(palette);
    }
    if (auto* corner = findChild<QAbstractButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        QPalette palette = corner->palette();
        palette.setColor(QPalette::Button, kHeaderButton);
        corner->setPalette(palette);
    }
    top->hide();
    left->hide();
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setItemDelegate(new ValueColourDelegate(*this));
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

void QtMapGrid::PlaceMarker(MarkerPart& part, double xTwips, double yTwips) {
    // Left of the cells lie the row labels: a marker there (a map whose columns have no
    // breakpoints marks the row only) is drawn on its label, in the row header's viewport, which
    // scrolls with the rows as the cells' viewport does.
    QPoint centre(Pixels(xTwips), Pixels(yTwips));
    const bool onLabels = fixedCols_ > 0 && centre.x() < CellsLeft();
    QWidget* parent = onLabels ? verticalHeader()->viewport() : viewport();
    if (onLabels) centre.rx() += LabelWidth() - CellsLeft();
    if (part.parentWidget() != parent) {
        const bool shown = part.isVisible();
        part.setParent(parent);
        part.setVisible(shown);
    }
    part.SetCentre(centre);
    const QRect cells = onLabels ? QRect() : CellsAround(centre);
    if (cells.isEmpty()) {
        part.resize(part.Index() == 0 ? kFrameSize : kArrowsSize);
        part.move(centre - QPoint(part.width() / 2, part.height() / 2));
    } else if (part.Index() == 0) {
        part.setGeometry(cells);
    } else {
        const QSize size(cells.width() + 2 * (kArrowWidth + 1), kArrowsSize.height());
        part.resize(size);
        part.move(cells.center() - QPoint(size.width() / 2 - 1, size.height() / 2 - 1));
    }
    if (part.isVisible()) part.raise();
}

QRect QtMapGrid::CellsAround(QPoint point) const {
    const int col = columnAt(point.x());
    const int row = rowAt(point.y());
    if (col < 0 || row < 0) return {};
    // Index range [first, last] along one direction from the fraction of the cell at the point.
    auto around = [](int at, int start, int size, int count, int p) {
        const double f = size > 0 ? static_cast<double>(p - start) / size : 0.5;
        if (f < 0.25 && at > 0) return std::pair{at - 1, at};
        if (f > 0.75 && at + 1 < count) return std::pair{at, at + 1};
        return std::pair{at, at};
    };
    const auto [c0, c1] = around(col, columnViewportPosition(col), columnWidth(col), columnCount(), point.x());
    const auto [r0, r1] = around(row, rowViewportPosition(row), rowHeight(row), rowCount(), point.y());
    return QRect(QPoint(columnViewportPosition(c0), rowViewportPosition(r0)),
                 QPoint(columnViewportPosition(c1) + columnWidth(c1) - 1, rowViewportPosition(r1) + rowHeight(r1) - 1));
}

void QtMapGrid::MarkerMoved(double xTwips, double yTwips) {
    trail_.Push(xTwips, yTwips);
    viewport()->update();
}

void QtMapGrid::MarkerHidden() {
    trail_.Clear();
    viewport()->update();
}

QModelIndex QtMapGrid::IndexOf(int row, int col) const {
    if (IsFixed(row, col) || row >= rows_ || col >= cols_) return {};
    return model()->index(row - fixedRows_, col - fixedCols_);
}

const QTableWidgetItem* QtMapGrid::CellItem(int row, int col) const {
    const QModelIndex index = IndexOf(row, col);
    return index.isValid() ? item(index.row(), index.column()) : nullptr;
}

QTableWidgetItem* QtMapGrid::ItemAt(int row, int col) {
    const QModelIndex index = IndexOf(row, col);
    if (!index.isValid()) return nullptr;
    QTableWidgetItem* it = item(index.row(), index.column());
    if (it == nullptr) {
        it = new QTableWidgetItem;
        it->setTextAlignment(Qt::AlignCenter);
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        setItem(index.row(), index.column(), it);
    }
    return it;
}

void QtMapGrid::Relayout(int rows, int cols, int fixedRows, int fixedCols) {
    rows = std::max(rows, 0);
    cols = std::max(cols, 0);
    fixedRows = std::max(fixedRows, 0);
    fixedCols = std::max(fixedCols, 0);
    valueRangeDirty_ = true;
    // Take every cell out at its grid coordinates, then put back what still fits.
    std::map<std::pair<int, int>, QTableWidgetItem*> cells;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QTableWidgetItem* it = takeItem(r, c)) cells[{r + fixedRows_, c + fixedCols_}] = it;
    std::map<std::pair<int, int>, Label> labels = std::move(labels_);
    labels_.clear();
    // Widths as the editor gave them (cells that fill the view may be wider on screen).
    auto cellWidth = [this](int c) {
        const auto w = cellWidths_.find(c);
        return w != cellWidths_.end() ? w->second : columnWidth(c - fixedCols_);
    };
    std::map<int, int> widths;
    for (int c = 0; c < fixedCols && c < cols_; ++c) {
        const auto w = labelWidths_.find(c);
        if (w != labelWidths_.end())
            widths[c] = w->second;
        else if (c >= fixedCols_)
            widths[c] = cellWidth(c);
    }
    std::map<int, int> columnWidths; // widths of the columns that stay cells
    for (int c = std::max(fixedCols, fixedCols_); c < cols_ && c < cols; ++c) columnWidths[c] = cellWidth(c);
    for (const auto& [c, w] : labelWidths_)
        if (c >= fixedCols && c < cols) columnWidths[c] = w;

    rows_ = rows;
    cols_ = cols;
    fixedRows_ = fixedRows;
    fixedCols_ = fixedCols;
    labelWidths_ = std::move(widths);
    setRowCount(std::max(rows_ - fixedRows_, 0));
    setColumnCount(std::max(cols_ - fixedCols_, 0));
    cellWidths_ = columnWidths;
    for (const auto& [c, w] : columnWidths) setColumnWidth(c - fixedCols_, w);

    for (auto& [at, it] : cells) {
        const auto [r, c] = at;
        if (r >= rows_ || c >= cols_) {
            delete it;
        } else if (IsFixed(r, c)) {
            labels_[at] = Label{it->text().toStdString(), it->toolTip().toStdString()};
            delete it;
        } else {
            setItem(r - fixedRows_, c - fixedCols_, it);
        }
    }
    for (auto& [at, label] : labels) {
        const auto [r, c] = at;
        if (r >= rows_ || c >= cols_) continue;
        if (IsFixed(r, c)) {
            labels_[at] = std::move(label);
        } else if (QTableWidgetItem* it = ItemAt(r, c)) {
            it->setText(QString::fromStdString(label.text));
            it->setToolTip(QString::fromStdString(label.tip));
        }
    }
    horizontalHeader()->setVisible(fixedRows_ > 0);
    verticalHeader()->setVisible(fixedCols_ > 0);
    for (int c = fixedCols_; c < cols_; ++c) RefreshColumnHeader(c);
    for (int r = fixedRows_; r < rows_; ++r) RefreshRowHeader(r);
    RefreshHeaderSizes();
    ClampState();
    FitCells();
}

void QtMapGrid::RefreshColumnHeader(int col) {
    if (col < fixedCols_ || col >= cols_) return;
    QString text, tip;
    for (int r = 0; r < fixedRows_ && r < rows_; ++r) {
        const auto label = labels_.find({r, col});
        if (r > 0) text += '\n';
        if (label == labels_.end()) continue;
        text += QString::fromStdString(label->second.text);
        if (!label->second.tip.empty()) tip += (tip.isEmpty() ? "" : "\n") + QString::fromStdString(label->second.tip);
    }
    QTableWidgetItem* header = horizontalHeaderItem(col - fixedCols_);
    if (header == nullptr) {
        header = new QTableWidgetItem;
        header->setTextAlignment(Qt::AlignCenter);
        setHorizontalHeaderItem(col - fixedCols_, header);
    }
    header->setText(text);
    header->setToolTip(tip);
    FitColumnLabels();
    FitCells();
}

void QtMapGrid::RefreshRowHeader(int row) {
    if (row < fixedRows_ || row >= rows_) return;
    QString text, tip;
    for (int c = 0; c < fixedCols_ && c < cols_; ++c) {
        const auto label = labels_.find({row, c});
        if (c > 0) text += ' ';
        if (label == labels_.end()) continue;
        text += QString::fromStdString(label->second.text);
        if (!label->second.tip.empty()) tip += (tip.isEmpty() ? "" : "\n") + QString::fromStdString(label->second.tip);
    }
    QTableWidgetItem* header = verticalHeaderItem(row - fixedRows_);
    if (header == nullptr) {
        header = new QTableWidgetItem;
        header->setTextAlignment(Qt::AlignCenter);
        setVerticalHeaderItem(row - fixedRows_, header);
    }
    header->setText(text);
    header->setToolTip(tip);
    FitCells();
}

void QtMapGrid::FitColumnLabels() {
    // A label wider than its column (a temperature of three digits with its unit) is written in
    // a smaller type, down to kSmallestLabelPoints, rather than cut off at both sides. The
    // current column's label is drawn bold, so the bold type is measured.
    QFont bold = font();
    bold.setBold(true);
    const QFontMetricsF metrics(bold);
    double widest = 0.0;
    int narrowest = 0;
    for (int c = 0; c < columnCount(); ++c) {
        const QTableWidgetItem* header = horizontalHeaderItem(c);
        if (header == nullptr) continue;
        for (const QString& line : header->text().split('\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        narrowest = narrowest == 0 ? columnWidth(c) : std::min(narrowest, columnWidth(c));
    }
    QFont fitted = this->font();
    const double room = narrowest - 2.0 * style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, horizontalHeader());
    if (widest > room && room > 0.0 && fitted.pointSizeF() > 0.0)
        fitted.setPointSizeF(std::max(kSmallestLabelPoints, fitted.pointSizeF() * room / widest));
    if (horizontalHeader()->font() != fitted) horizontalHeader()->setFont(fitted);
}

void QtMapGrid::RefreshHeaderSizes() {
    // The row labels are at least as wide as the fixed columns were made, wider when a label
    // needs it; the column labels have a line of a row's height for each fixed row.
    int width = 0;
    for (const auto& [c, w] : labelWidths_) width += w;
    verticalHeader()->setMinimumWidth(width);
    horizontalHeader()->setMinimumHeight(fixedRows_ * kRowPixels);
    FitCells();
}

void QtMapGrid::SetCellsFillView(bool on) {
    if (on == fillView_) return;
    fillView_ = on;
    if (!on) {
        for (const auto& [c, w] : cellWidths_) setColumnWidth(c - fixedCols_, w);
        for (int r = 0; r < rowCount(); ++r) setRowHeight(r, kRowPixels);
        FitColumnLabels();
    }
    FitCells();
}

void QtMapGrid::FitCells() {
    if (!fillView_ || fitting_) return;
    const int cols = columnCount(), rows = rowCount();
    if (cols == 0 || rows == 0) return;
    fitting_ = true;
    bool changed = false;
    // The room beside and below the labels depends on the type the column labels are written
    // in, which follows the columns' widths: a few rounds settle it.
    for (int round = 0; round < 3; ++round) {
        const int labelWidth = LabelWidth(), labelHeight = LabelHeight();
        std::vector<int> widths(static_cast<std::size_t>(cols));
        int least = 0;
        for (int c = 0; c < cols; ++c) {
            const auto w = cellWidths_.find(c + fixedCols_);
            widths[static_cast<std::size_t>(c)] = w != cellWidths_.end() ? w->second : columnWidth(c);
            least += widths[static_cast<std::size_t>(c)];
        }
        const QSize room = contentsRect().size() - QSize(labelWidth, labelHeight);
        // A scroll bar one way takes its breadth from the room the other way.
        const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
        bool across = least <= room.width();
        bool down = rows * kRowPixels <= room.height() - (across ? 0 : bar);
        across = least <= room.width() - (down ? 0 : bar);
        down = rows * kRowPixels <= room.height() - (across ? 0 : bar);
        const int width = room.width() - (down ? 0 : bar);
        const int height = room.height() - (across ? 0 : bar);
        if (across) {
            // Columns narrower than an equal share of the width grow to it; wider ones keep theirs.
            std::vector<bool> kept(widths.size(), false);
            int free = width, sharing = cols;
            for (bool again = true; again && sharing > 0;) {
                again = false;
                for (std::size_t c = 0; c < widths.size(); ++c) {
                    if (kept[c] || widths[c] <= free / sharing) continue;
                    kept[c] = true;
                    free -= widths[c];
                    --sharing;
                    again = true;
                }
            }
            for (std::size_t c = 0; c < widths.size(); ++c)
                if (!kept[c] && sharing > 0) widths[c] = std::max(widths[c], free / sharing);
        }
        const int narrowest = *std::min_element(widths.begin(), widths.end());
        const int rowHeight =
            down ? std::clamp(height / rows, kRowPixels, std::max(narrowest, kRowPixels)) : kRowPixels;
        for (int c = 0; c < cols; ++c) {
            if (columnWidth(c) == widths[static_cast<std::size_t>(c)]) continue;
            setColumnWidth(c, widths[static_cast<std::size_t>(c)]);
            changed = true;
        }
        for (int r = 0; r < rows; ++r) {
            if (this->rowHeight(r) == rowHeight) continue;
            setRowHeight(r, rowHeight);
            changed = true;
        }
        FitColumnLabels();
        if (LabelWidth() == labelWidth && LabelHeight() == labelHeight) break;
    }
    // The trail's points were where the cells were.
    if (changed) MarkerHidden();
    fitting_ = false;
}

int QtMapGrid::LabelWidth() const {
    const QHeaderView* left = verticalHeader();
    if (left->isHidden()) return 0;
    return std::min(std::max(left->minimumWidth(), left->sizeHint().width()), left->maximumWidth());
}

int QtMapGrid::LabelHeight() const {
    const QHeaderView* top = horizontalHeader();
    if (top->isHidden()) return 0;
    return std::min(std::max(top->minimumHeight(), top->sizeHint().height()), top->maximumHeight());
}

void QtMapGrid::SetRows(int rows) { Relayout(rows, cols_, fixedRows_, fixedCols_); }

void QtMapGrid::SetCols(int cols) { Relayout(rows_, cols, fixedRows_, fixedCols_); }

void QtMapGrid::SetFixedRows(int rows) { Relayout(rows_, cols_, rows, fixedCols_); }

void QtMapGrid::SetFixedCols(int cols) { Relayout(rows_, cols_, fixedRows_, cols); }

void QtMapGrid::ClampState() {
    auto clampRow = [this](int r) { return std::clamp(r, 0, std::max(rows_ - 1, 0)); };
    auto clampCol = [this](int c) { return std::clamp(c, 0, std::max(cols_ - 1, 0)); };
    row_ = clampRow(row_);
    rowSel_ = clampRow(rowSel_);
    col_ = clampCol(col_);
    colSel_ = clampCol(colSel_);
}

void QtMapGrid::SetCurrentCell(int row, int col) {
    if (row < 0 || col < 0 || row >= rows_ || col >= cols_) return;
    row_ = rowSel_ = row;
    col_ = colSel_ = col;
    PushSelectionToView();
}

void QtMapGrid::SetSelectionEnd(int rowSel, int colSel) {
    if (rowSel < 0 || colSel < 0 || rowSel >= rows_ || colSel >= cols_) return;
    rowSel_ = rowSel;
    colSel_ = colSel;
    PushSelectionToView();
}

void QtMapGrid::PushSelectionToView() {
    if (rowCount() == 0 || columnCount() == 0) return;
    // A corner on a label is shown on the nearest cell: the widget selects cells only.
    auto viewRow = [this](int r) { return std::clamp(r - fixedRows_, 0, rowCount() - 1); };
    auto viewCol = [this](int c) { return std::clamp(c - fixedCols_, 0, columnCount() - 1); };
    syncing_ = true;
    QItemSelectionModel* sm = selectionModel();
    const QModelIndex end = model()->index(viewRow(rowSel_), viewCol(colSel_));
    sm->setCurrentIndex(end, QItemSelectionModel::NoUpdate);
    const QItemSelection range(model()->index(viewRow(std::min(row_, rowSel_)), viewCol(std::min(col_, colSel_))),
                               model()->index(viewRow(std::max(row_, rowSel_)), viewCol(std::max(col_, colSel_))));
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
    // The end is where the mouse or the keys went; the current cell is the opposite corner. A
    // whole row, column or map chosen by its label may leave the widget's current cell inside
    // the rectangle: the selection then runs from its top left to its bottom right.
    auto ends = [](int at, int first, int last) {
        if (at == last && at != first) return std::pair{first, last};
        if (at == first) return std::pair{last, first};
        return std::pair{first, last};
    };
    const auto [row, rowSel] = ends(current.row(), top, bottom);
    const auto [col, colSel] = ends(current.column(), left, right);
    row_ = row + fixedRows_;
    rowSel_ = rowSel + fixedRows_;
    col_ = col + fixedCols_;
    colSel_ = colSel + fixedCols_;
}

std::string QtMapGrid::TextMatrix(int row, int col) const {
    if (row < 0 || col < 0 || row >= rows_ || col >= cols_) return {};
    if (IsFixed(row, col)) {
        const auto label = labels_.find({row, col});
        return label == labels_.end() ? std::string() : label->second.text;
    }
    const QTableWidgetItem* it = CellItem(row, col);
    return it == nullptr ? std::string() : it->text().toStdString();
}

void QtMapGrid::SetTextMatrix(int row, int col, const std::string& text) {
    if (row < 0 || col < 0 || row >= rows_ || col >= cols_) return;
    if (IsFixed(row, col)) {
        labels_[{row, col}].text = text;
        RefreshColumnHeader(col);
        RefreshRowHeader(row);
        return;
    }
    if (QTableWidgetItem* it = ItemAt(row, col)) {
        it->setText(QString::fromStdString(text));
        valueRangeDirty_ = true;
    }
}

void QtMapGrid::SetValueColours(bool on) {
    if (on == valueColours_) return;
    valueColours_ = on;
    viewport()->update();
}

std::optional<QColor> QtMapGrid::ValueColourAt(int row, int col) const {
    if (!valueColours_ || IsFixed(row, col)) return std::nullopt;
    const QTableWidgetItem* it = CellItem(row, col);
    if (it == nullptr) return std::nullopt;
    const Parsed<double> value = ParseCellNumber(it->text().toStdString(), false);
    if (!value) return std::nullopt;
    if (valueRangeDirty_) {
        valueRange_.reset();
        for (int r = 0; r < rowCount(); ++r) {
            for (int c = 0; c < columnCount(); ++c) {
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

void QtMapGrid::SetOverlay(const GridOverlay* overlay) {
    overlay_ = overlay;
    viewport()->update();
}

std::optional<GridOverlayCell> QtMapGrid::OverlayCellAt(int row, int col) const {
    if (overlay_ == nullptr || IsFixed(row, col) || row >= rows_ || col >= cols_) return std::nullopt;
    return overlay_->Cell(row - fixedRows_, col - fixedCols_);
}

QString QtMapGrid::CellToolTip(int row, int col) const {
    if (const std::optional<GridOverlayCell> cell = OverlayCellAt(row, col)) return cell->tip;
    if (IsFixed(row, col)) {
        const auto label = labels_.find({row, col});
        return label == labels_.end() ? QString() : QString::fromStdString(label->second.tip);
    }
    const QTableWidgetItem* it = CellItem(row, col);
    QString tip = it == nullptr ? QString() : it->toolTip();
    const auto mark = compared_.find({row, col});
    if (mark != compared_.end()) tip = tip.isEmpty() ? mark->second : tip + "\n" + mark->second;
    return tip;
}

void QtMapGrid::SetToolTip(int row, int col, const std::string& text) {
    if (row < 0 || col < 0 || row >= rows_ || col >= cols_) return;
    if (IsFixed(row, col)) {
        labels_[{row, col}].tip = text;
        RefreshColumnHeader(col);
        RefreshRowHeader(row);
        return;
    }
    if (QTableWidgetItem* it = ItemAt(row, col)) it->setToolTip(QString::fromStdString(text));
}

// The labels keep the headers' own look: they report the header grey and take no colour.
std::uint32_t QtMapGrid::CellBackColor() const {
    if (IsFixed(row_, col_)) return ToBgr(kFixedBack);
    const QTableWidgetItem* it = CellItem(row_, col_);
    if (it == nullptr || it->background().style() == Qt::NoBrush) return kWhite;
    return ToBgr(it->background().color());
}

void QtMapGrid::SetCellBackColor(std::uint32_t colour) {
    if (QTableWidgetItem* it = ItemAt(row_, col_)) it->setBackground(FromBgr(colour));
}

int QtMapGrid::ColWidth(int col) const {
    if (col < 0 || col >= cols_) return 0;
    if (col >= fixedCols_) return columnWidth(col - fixedCols_) * kTwipsPerPixel;
    // The last fixed column takes whatever the row labels are wider than the columns before it.
    if (col < fixedCols_ - 1) {
        const auto w = labelWidths_.find(col);
        return (w == labelWidths_.end() ? 0 : w->second) * kTwipsPerPixel;
    }
    int before = 0;
    for (int c = 0; c < col; ++c) before += ColWidth(c);
    return LabelWidth() * kTwipsPerPixel - before;
}

void QtMapGrid::SetColWidth(int col, int twips) {
    if (col < 0 || col >= cols_) return;
    if (col >= fixedCols_) {
        cellWidths_[col] = Pixels(twips);
        setColumnWidth(col - fixedCols_, Pixels(twips));
        FitColumnLabels();
        FitCells();
        return;
    }
    labelWidths_[col] = Pixels(twips);
    RefreshHeaderSizes();
}

int QtMapGrid::CellsLeft() const { return columnCount() > 0 ? columnViewportPosition(0) : 0; }

int QtMapGrid::CellsTop() const { return rowCount() > 0 ? rowViewportPosition(0) : 0; }

// The labels are counted right before the first cell wherever the cells have scrolled to, so
// that every position left of the first cell is a label's and every other one a cell's.
int QtMapGrid::ColPos(int col) const {
    if (col >= fixedCols_) return columnViewportPosition(col - fixedCols_) * kTwipsPerPixel;
    int x = (CellsLeft() - LabelWidth()) * kTwipsPerPixel;
    for (int c = 0; c < col; ++c) x += ColWidth(c);
    return x;
}

int QtMapGrid::RowPos(int row) const {
    if (row >= fixedRows_) return rowViewportPosition(row - fixedRows_) * kTwipsPerPixel;
    return (CellsTop() - LabelHeight()) * kTwipsPerPixel + row * RowHeight(row);
}

int QtMapGrid::RowHeight(int row) const {
    if (row >= fixedRows_) return rowHeight(row - fixedRows_) * kTwipsPerPixel;
    return LabelHeight() * kTwipsPerPixel / std::max(fixedRows_, 1);
}

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

void QtMapGrid::resizeEvent(QResizeEvent* event) {
    QTableWidget::resizeEvent(event);
    FitCells();
}

void QtMapGrid::scrollContentsBy(int dx, int dy) {
    QTableWidget::scrollContentsBy(dx, dy);
    // The marker parts are children of the viewport and scroll with it; the trail starts over.
    MarkerHidden();
}

} // namespace kv
