#include "datalog/gui/runs_panel.h"

#include <QAction>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QStackedWidget>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace kv {

namespace {

constexpr int kWheelRows = 3;
constexpr int kWheelNotch = 120; // angle delta of one wheel step

QString Text(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

} // namespace

// ---- RunTableModel ----

RunTableModel::RunTableModel(const RunSet& runs, int runId, QObject* parent)
    : QAbstractTableModel(parent), runs_(runs), runId_(runId) {
    if (const LogRun* run = Run()) {
        shownRows_ = run->RowCount();
        shownColumns_ = run->ColumnCount();
    }
}

const LogRun* RunTableModel::Run() const { return runs_.Run(runId_); }

int RunTableModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownRows_; }

int RunTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : shownColumns_; }

QVariant RunTableModel::data(const QModelIndex& index, int role) const {
    const LogRun* run = Run();
    if (!run || !index.isValid()) return {};
    if (role == Qt::DisplayRole) return Text(run->Cell(index.row(), index.column()));
    if (role == Qt::TextAlignmentRole) return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant RunTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole) return {};
    if (orientation == Qt::Vertical) return section + 1;
    const LogRun* run = Run();
    if (!run || section < 0 || section >= run->ColumnCount()) return {};
    return Text(run->Headers()[static_cast<std::size_t>(section)]);
}

void RunTableModel::RowsAppended() {
    if (flushPending_) return;
    flushPending_ = true;
    QTimer::singleShot(0, this, &RunTableModel::Flush);
}

void RunTableModel::Flush() {
    flushPending_ = false;
    const LogRun* run = Run();
    if (!run || run->ColumnCount() != shownColumns_) {
        Replaced();
        return;
    }
    if (run->RowCount() <= shownRows_) return;
    const int first = shownRows_;
    beginInsertRows({}, first, run->RowCount() - 1);
    shownRows_ = run->RowCount();
    endInsertRows();
    emit rowsShown(first, shownRows_ - 1);
}

void RunTableModel::RowsRemoved(int first, int count) {
    const LogRun* run = Run();
    if (flushPending_ || !run || first < 0 || count <= 0 || first + count > shownRows_ ||
        run->RowCount() != shownRows_ - count) {
        Replaced();
        return;
    }
    beginRemoveRows({}, first, first + count - 1);
    shownRows_ -= count;
    endRemoveRows();
}

void RunTableModel::Replaced() {
    beginResetModel();
    const LogRun* run = Run();
    shownRows_ = run ? run->RowCount() : 0;
    shownColumns_ = run ? run->ColumnCount() : 0;
    endResetModel();
}

// ---- RunTableView ----

RunTableView::RunTableView(QWidget* parent) : QTableView(parent) {
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::ContiguousSelection);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(fontMetrics().horizontalAdvance("-0000.00") + 8);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
}

bool RunTableView::SelectedBlock(int& row1, int& column1, int& row2, int& column2) const {
    const QModelIndexList cells = selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    if (cells.isEmpty()) {
        const QModelIndex current = currentIndex();
        if (!current.isValid()) return false;
        row1 = row2 = current.row() + 1;
        column1 = column2 = current.column();
        return true;
    }
    int top = cells.front().row(), bottom = top, left = cells.front().column(), right = left;
    for (const QModelIndex& cell : cells) {
        top = std::min(top, cell.row());
        bottom = std::max(bottom, cell.row());
        left = std::min(left, cell.column());
        right = std::max(right, cell.column());
    }
    const bool wholeColumns =
        top == 0 && bottom == model()->rowCount() - 1 && selectionModel()->isColumnSelected(left, {});
    row1 = wholeColumns ? 0 : top + 1;
    row2 = bottom + 1;
    column1 = left;
    column2 = right;
    return true;
}

void RunTableView::ShowRowAtTop(int row) {
    // The scroll range follows newly inserted rows only at the next layout; bring it up to date.
    updateGeometries();
    scrollTo(model()->index(row, 0), QAbstractItemView::PositionAtTop);
}

void RunTableView::keyPressEvent(QKeyEvent* event) {
    if (event == QKeySequence::Copy) {
        emit copyRequested();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void RunTableView::wheelEvent(QWheelEvent* event) {
    const int notches = event->angleDelta().y() / kWheelNotch;
    if (notches == 0) {
        QTableView::wheelEvent(event);
        return;
    }
    // Scroll-per-item: one scroll bar step is one row; the bar keeps it within the grid.
    verticalScrollBar()->setValue(verticalScrollBar()->value() - notches * kWheelRows);
    event->accept();
}

// ---- RunsPanel ----

RunsPanel::RunsPanel(RunSet& runs, QWidget* parent) : QWidget(parent), runs_(runs) {
    setObjectName("fraDataLogRuns");
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* buttons = new QHBoxLayout;
    const auto button = [&](QPushButton*& into, const char* name, const char* caption) {
        into = new QPushButton(caption, this);
        into->setObjectName(name);
        buttons->addWidget(into);
    };
    button(cmdCopy_, "cmdDataLogCopy", "&Copy all run data");
    button(cmdSave_, "cmdDataLogSave", "S&ave run...");
    button(cmdLoad_, "cmdDataLogLoad", "&Load run...");
    button(cmdClose_, "cmdDataLogClose", "Cl&ose run");
    button(cmdDeleteRows_, "cmdDataLogDeleteRows", "&Delete rows");
    button(cmdPlot_, "cmdDataLogPlot", "&Plot chart");
    buttons->addStretch(1);

    tbsDataLog_ = new QTabBar(this);
    tbsDataLog_->setObjectName("tbsDataLog");
    tbsDataLog_->setExpanding(false);
    tbsDataLog_->setToolTip("Ctrl+click selects several runs for a chart");
    tbsDataLog_->setContextMenuPolicy(Qt::CustomContextMenu);
    tbsDataLog_->installEventFilter(this);
    grids_ = new QStackedWidget(this);

    layout->addLayout(buttons);
    layout->addWidget(tbsDataLog_);
    layout->addWidget(grids_, 1);

    popup_ = new QMenu(this);
    popup_->setObjectName("mnuPopupDataLogTab");
    const auto entry = [&](const char* name, const char* caption, QPushButton* same) {
        QAction* action = popup_->addAction(caption);
        action->setObjectName(name);
        connect(action, &QAction::triggered, same, &QPushButton::click);
    };
    entry("mnuPopupDataLogTabCopy", "&Copy", cmdCopy_);
    entry("mnuPopupDataLogTabSave", "&Save...", cmdSave_);
    entry("mnuPopupDataLogTabClose", "Cl&ose", cmdClose_);
    entry("mnuPopupDataLogTabPlot", "&Plot", cmdPlot_);
    QAction* showOnMap = popup_->addAction("Show on &map\u2026");
    showOnMap->setObjectName("mnuPopupDataLogTabShowOnMap");
    connect(showOnMap, &QAction::triggered, this, [this] { emit showOnMapRequested(runs_.SelectedRun()); });

    connect(cmdCopy_, &QPushButton::clicked, this, [this] { runs_.CopyRun(); });
    connect(cmdSave_, &QPushButton::clicked, this, [this] { runs_.SaveRun(); });
    connect(cmdLoad_, &QPushButton::clicked, this, [this] { runs_.LoadRun(); });
    connect(cmdClose_, &QPushButton::clicked, this, [this] { runs_.CloseRun(); });
    connect(cmdDeleteRows_, &QPushButton::clicked, this, &RunsPanel::DeleteRows);
    connect(cmdPlot_, &QPushButton::clicked, this, &RunsPanel::Plot);
    connect(tbsDataLog_, &QTabBar::currentChanged, this, [this](int index) {
        if (index >= 0) runs_.SelectRun(tbsDataLog_->tabData(index).toInt());
    });
    connect(tbsDataLog_, &QTabBar::customContextMenuRequested, this, [this](const QPoint& at) {
        if (tbsDataLog_->count() > 0) popup_->popup(tbsDataLog_->mapToGlobal(at));
    });

    runs_.SetObserver(this);
    RunTabsChanged();
}

RunsPanel::~RunsPanel() { runs_.SetObserver(nullptr); }

RunTableView* RunsPanel::View(int id) const {
    const auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second.view;
}

void RunsPanel::RunTabsChanged() {
    SyncViews();
    SyncTabs();
    const bool enabled = runs_.Buttons().enabled && buttonsAllowed_;
    for (QPushButton* b : {cmdCopy_, cmdSave_, cmdClose_, cmdPlot_, cmdDeleteRows_}) b->setEnabled(enabled);
    for (QAction* a : popup_->actions()) a->setEnabled(enabled);
    if (RunTableView* view = View(runs_.SelectedRun())) grids_->setCurrentWidget(view);
}

void RunsPanel::SetRunButtonsAllowed(bool allowed) {
    if (allowed == buttonsAllowed_) return;
    buttonsAllowed_ = allowed;
    RunTabsChanged();
}

void RunsPanel::RunRowsAppended(int id) {
    if (const auto it = widgets_.find(id); it != widgets_.end()) it->second.model->RowsAppended();
}

void RunsPanel::RunRowsRemoved(int id, int first, int count) {
    if (const auto it = widgets_.find(id); it != widgets_.end()) it->second.model->RowsRemoved(first, count);
}

void RunsPanel::RunReplaced(int id) {
    const auto it = widgets_.find(id);
    if (it == widgets_.end()) return;
    it->second.model->Replaced();
    it->second.view->resizeColumnsToContents();
}

void RunsPanel::SyncViews() {
    const std::vector<int> ids = runs_.RunIds();
    for (auto it = widgets_.begin(); it != widgets_.end();) {
        if (std::find(ids.begin(), ids.end(), it->first) != ids.end()) {
            ++it;
            continue;
        }
        slotUsed_[static_cast<std::size_t>(it->second.slot)] = false;
        grids_->removeWidget(it->second.view);
        delete it->second.view;
        it = widgets_.erase(it);
    }
    for (const int id : ids) {
        if (widgets_.count(id)) continue;
        const auto free = std::find(slotUsed_.begin(), slotUsed_.end(), false);
        const int slot = static_cast<int>(free - slotUsed_.begin());
        *free = true;
        auto* view = new RunTableView(grids_);
        view->setObjectName(QString("LogData(%1)").arg(slot));
        auto* model = new RunTableModel(runs_, id, view);
        view->setModel(model);
        view->resizeColumnsToContents();
        connect(view, &RunTableView::copyRequested, this, [this, id] { CopySelection(id); });
        connect(model, &RunTableModel::rowsShown, view, [view](int first, int last) {
            // The first rows of a recording give the columns their widths.
            if (first == 0) view->resizeColumnsToContents();
            if (view->isVisible()) view->ShowRowAtTop(last);
        });
        grids_->addWidget(view);
        widgets_.emplace(id, RunWidgets{view, model, slot});
    }
}

void RunsPanel::SyncTabs() {
    const QSignalBlocker quiet(tbsDataLog_);
    const std::vector<int> ids = runs_.RunIds();
    while (tbsDataLog_->count() > static_cast<int>(ids.size())) tbsDataLog_->removeTab(tbsDataLog_->count() - 1);
    while (tbsDataLog_->count() < static_cast<int>(ids.size())) tbsDataLog_->addTab(QString());
    const QColor normal = tbsDataLog_->palette().color(QPalette::WindowText);
    const QColor selected = tbsDataLog_->palette().color(QPalette::Highlight);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        const int index = static_cast<int>(i);
        tbsDataLog_->setTabText(index, QString::fromStdString(runs_.Caption(ids[i])));
        tbsDataLog_->setTabData(index, ids[i]);
        const bool alsoSelected = ids[i] != runs_.SelectedRun() && runs_.IsRunSelected(ids[i]);
        tbsDataLog_->setTabTextColor(index, alsoSelected ? selected : normal);
        if (ids[i] == runs_.SelectedRun()) tbsDataLog_->setCurrentIndex(index);
    }
}

bool RunsPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tbsDataLog_ && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        const int index = tbsDataLog_->tabAt(mouse->position().toPoint());
        if (index >= 0 && mouse->button() == Qt::LeftButton) {
            const int id = tbsDataLog_->tabData(index).toInt();
            if (mouse->modifiers() & Qt::ControlModifier) {
                runs_.ToggleRunSelected(id);
                return true;
            }
            // A plain click on the current tab does not change it, but ends a selection of several.
            runs_.SelectRun(id);
        }
    }
    return QWidget::eventFilter(watched, event);
}

void RunsPanel::CopySelection(int id) {
    RunTableView* view = View(id);
    int row1 = 0, column1 = 0, row2 = 0, column2 = 0;
    if (id != runs_.SelectedRun() || !view || !view->SelectedBlock(row1, column1, row2, column2)) return;
    runs_.CopySelection(row1, column1, row2, column2);
}

void RunsPanel::DeleteRows() {
    RunTableView* view = View(runs_.SelectedRun());
    int row1 = 0, column1 = 0, row2 = 0, column2 = 0;
    if (!view || !view->SelectedBlock(row1, column1, row2, column2)) return;
    runs_.DeleteRows(row1, row2);
}

void RunsPanel::Plot() {
    QList<int> ids;
    for (const int id : runs_.PlotRuns()) ids.append(id);
    emit plotRequested(ids);
}

} // namespace kv
