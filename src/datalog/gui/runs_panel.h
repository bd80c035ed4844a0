#pragma once
// The run half of the data-logging tab: the run tab strip `tbsDataLog`, one table per run over a
// model that reads the run's cells (no widget item per cell), and the run buttons with the tab
// strip's popup menu. It shows a RunSet and forwards the user's actions to it; the RunSet's
// dialogs come from the program.
//
// Several tabs are selected for a chart with Ctrl+click (a selected tab that is not the current
// one shows its caption in the highlight colour); a plain click selects one tab. The buttons and
// the popup menu act on the current tab, except Plot, which asks for a chart of every selected
// tab through plotRequested().
#include "datalog/run_set.h"

#include <QAbstractTableModel>
#include <QList>
#include <QTableView>
#include <QWidget>

#include <array>
#include <map>

class QMenu;
class QPushButton;
class QStackedWidget;
class QTabBar;

namespace kv {

// The rows of one run for a table view. Rows appended to the run are announced to the view in
// one insert per batch: the first append schedules the announcement for the next pass of the
// event loop (or Flush()), and whatever was appended until then goes with it.
class RunTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    RunTableModel(const RunSet& runs, int runId, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int RunId() const { return runId_; }
    // The run's rows beyond those shown are being announced.
    void RowsAppended();
    // Announces the rows appended so far.
    void Flush();
    void RowsRemoved(int first, int count);
    // Headers or the whole content changed.
    void Replaced();

signals:
    // Rows `first`..`last` were announced; `last` is the newest row.
    void rowsShown(int first, int last);

private:
    const LogRun* Run() const;

    const RunSet& runs_;
    int runId_;
    int shownRows_ = 0;
    int shownColumns_ = 0;
    bool flushPending_ = false;
};

// A run's table: the header row fixed as the horizontal header, the mouse wheel scrolling three
// rows, Ctrl+C asking for the selected block to be copied.
class RunTableView final : public QTableView {
    Q_OBJECT
public:
    explicit RunTableView(QWidget* parent = nullptr);
    // The selected block as grid rows (0 = the header row) and columns, lower bounds first; a
    // block of whole columns starts at the header row. False when nothing is selected.
    bool SelectedBlock(int& row1, int& column1, int& row2, int& column2) const;
    // Scrolls row `row` to the top, or as near as the last page of rows allows.
    void ShowRowAtTop(int row);

signals:
    void copyRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
};

class RunsPanel final : public QWidget, private RunSetObserver {
    Q_OBJECT
public:
    explicit RunsPanel(RunSet& runs, QWidget* parent = nullptr);
    ~RunsPanel() override;

    // The table showing run `id` (null when it is not open).
    RunTableView* View(int id) const;
    // While a run is being recorded the run buttons and the popup menu stay disabled (Load run
    // excepted); allowed again, they follow the open tabs.
    void SetRunButtonsAllowed(bool allowed);

signals:
    // Plot: the ids of the runs whose tabs are selected, in tab order.
    void plotRequested(const QList<int>& runIds);
    // "Show on map…": the current run.
    void showOnMapRequested(int runId);

private:
    struct RunWidgets {
        RunTableView* view;
        RunTableModel* model;
        int slot; // which of the kMaxRuns tables it is
    };

    void RunTabsChanged() override;
    void RunRowsAppended(int id) override;
    void RunRowsRemoved(int id, int first, int count) override;
    void RunReplaced(int id) override;

    void SyncViews();
    void SyncTabs();
    bool eventFilter(QObject* watched, QEvent* event) override;
    void CopySelection(int id);
    void DeleteRows();
    void Plot();

    RunSet& runs_;
    QTabBar* tbsDataLog_;
    QStackedWidget* grids_;
    QPushButton* cmdCopy_;
    QPushButton* cmdSave_;
    QPushButton* cmdLoad_;
    QPushButton* cmdClose_;
    QPushButton* cmdDeleteRows_;
    QPushButton* cmdPlot_;
    QMenu* popup_;
    std::map<int, RunWidgets> widgets_;
    std::array<bool, kMaxRuns> slotUsed_{};
    bool buttonsAllowed_ = true;
};

} // namespace kv
