// The run tabs and tables on screen (offscreen): a table reads its run's cells, appended rows
// reach the view in one insert per batch, tabs selected with Ctrl+click go to Plot, Ctrl+C and
// the buttons and popup menu act on the current run.
#include "datalog/gui/runs_panel.h"

#include "fakes.h"

#include <QAction>
#include <QApplication>
#include <QHeaderView>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace kv;

namespace {

struct Rig {
    Rig() {
        panel.resize(800, 400);
        panel.show();
    }
    // A recorded run of `rows` rows: "0.1".."0.N" and 850 + row.
    int Recorded(int rows) {
        const int id = runs.AllocateRun();
        runs.SetRunHeaders(id, {"Time [s]", "RPM", "AFR"});
        for (int r = 1; r <= rows; ++r)
            runs.AppendRunRow(id, {"0." + std::to_string(r), std::to_string(850 + r), "14.7"});
        QCoreApplication::processEvents();
        return id;
    }
    template <typename T>
    T* Find(const char* name) {
        return panel.findChild<T*>(name);
    }
    QString Shown(int id, int row, int column) { return panel.View(id)->model()->index(row, column).data().toString(); }
    QTabBar* Tabs() { return Find<QTabBar>("tbsDataLog"); }
    void ClickTab(int index, Qt::KeyboardModifiers modifiers = {}) {
        QTest::mouseClick(Tabs(), Qt::LeftButton, modifiers, Tabs()->tabRect(index).center());
    }

    ScriptedDialogs dialogs;
    RunSet runs{RunSetSeams{dialogs, dialogs, dialogs, dialogs}};
    RunsPanel panel{runs};
};

TEST(RunsPanelGui, ControlsAndTheirState) {
    Rig r;
    struct Button {
        const char* name;
        const char* caption;
        bool enabledWithoutRuns;
    };
    const Button buttons[] = {
        {"cmdDataLogCopy", "&Copy all run data", false}, {"cmdDataLogSave", "S&ave run...", false},
        {"cmdDataLogLoad", "&Load run...", true},        {"cmdDataLogClose", "Cl&ose run", false},
        {"cmdDataLogDeleteRows", "&Delete rows", false}, {"cmdDataLogPlot", "&Plot chart", false},
    };
    for (const Button& b : buttons) {
        auto* button = r.Find<QPushButton>(b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text().toStdString(), b.caption);
        EXPECT_EQ(button->isEnabled(), b.enabledWithoutRuns) << b.name;
    }
    auto* popup = r.Find<QMenu>("mnuPopupDataLogTab");
    ASSERT_NE(popup, nullptr);
    for (const char* name :
         {"mnuPopupDataLogTabCopy", "mnuPopupDataLogTabSave", "mnuPopupDataLogTabClose", "mnuPopupDataLogTabPlot"}) {
        auto* action = popup->findChild<QAction*>(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_FALSE(action->isEnabled()) << name;
    }
    r.Recorded(1);
    for (const Button& b : buttons) EXPECT_TRUE(r.Find<QPushButton>(b.name)->isEnabled()) << b.name;
    EXPECT_TRUE(popup->findChild<QAction*>("mnuPopupDataLogTabCopy")->isEnabled());
}

TEST(RunsPanelGui, ATableShowsItsRunsCells) {
    Rig r;
    const int id = r.Recorded(3);
    RunTableView* view = r.panel.View(id);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->objectName(), "LogData(0)");
    EXPECT_EQ(view->model()->rowCount(), 3);
    EXPECT_EQ(view->model()->columnCount(), 3);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "Time [s]");
    EXPECT_EQ(view->model()->headerData(2, Qt::Horizontal).toString(), "AFR");
    EXPECT_EQ(r.Shown(id, 0, 0), "0.1");
    EXPECT_EQ(r.Shown(id, 2, 1), "853");
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(r.Tabs()->count(), 1);
    EXPECT_EQ(r.Tabs()->tabText(0), "Run 1*");

    // A second run gets the next free table and its tab becomes current.
    const int second = r.Recorded(1);
    EXPECT_EQ(r.panel.View(second)->objectName(), "LogData(1)");
    EXPECT_TRUE(r.panel.View(second)->isVisible());
    EXPECT_FALSE(view->isVisible());
    r.ClickTab(0);
    EXPECT_EQ(r.runs.SelectedRun(), id);
    EXPECT_TRUE(view->isVisible());

    // Closing frees the table for the next run.
    r.dialogs.answers = {MsgResult::No};
    r.Find<QPushButton>("cmdDataLogClose")->click();
    EXPECT_EQ(r.panel.View(id), nullptr);
    EXPECT_EQ(r.Tabs()->count(), 1);
    EXPECT_EQ(r.Tabs()->tabText(0), "Run 2*");
    EXPECT_EQ(r.panel.View(r.Recorded(0))->objectName(), "LogData(0)");
}

TEST(RunsPanelGui, AppendedRowsArriveInOneInsertPerBatch) {
    Rig r;
    const int id = r.Recorded(2);
    auto* model = r.panel.View(id)->model();
    QSignalSpy inserted(model, &QAbstractItemModel::rowsInserted);
    QSignalSpy reset(model, &QAbstractItemModel::modelReset);
    for (int i = 0; i < 5; ++i) r.runs.AppendRunRow(id, {"1." + std::to_string(i), "900", "13.0"});
    EXPECT_EQ(model->rowCount(), 2) << "rows are announced together";
    QCoreApplication::processEvents();
    EXPECT_EQ(model->rowCount(), 7);
    ASSERT_EQ(inserted.count(), 1);
    EXPECT_EQ(inserted.at(0).at(1).toInt(), 2);
    EXPECT_EQ(inserted.at(0).at(2).toInt(), 6);
    EXPECT_EQ(reset.count(), 0);
    EXPECT_EQ(r.Shown(id, 6, 0), "1.4");
}

TEST(RunsPanelGui, TheNewestRowScrollsToTheTopWhileRecording) {
    Rig r;
    const int id = r.Recorded(200);
    RunTableView* view = r.panel.View(id);
    for (int i = 0; i < 3; ++i) r.runs.AppendRunRow(id, {"9.9", "900", "13.0"});
    QCoreApplication::processEvents();
    // As near the top as the table lets it: the last page of rows is shown.
    const QScrollBar* bar = view->verticalScrollBar();
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_TRUE(view->viewport()->rect().contains(view->visualRect(view->model()->index(202, 0))));
}

TEST(RunsPanelGui, PlotAsksForEveryTabSelected) {
    Rig r;
    for (int i = 0; i < 3; ++i) r.Recorded(2);
    QSignalSpy plot(&r.panel, &RunsPanel::plotRequested);
    r.ClickTab(0);
    r.ClickTab(2, Qt::ControlModifier);
    EXPECT_EQ(r.runs.SelectedRun(), 3);
    EXPECT_EQ(r.Tabs()->currentIndex(), 2);
    EXPECT_NE(r.Tabs()->tabTextColor(0), r.Tabs()->tabTextColor(1)) << "the other selected tab is marked";
    r.Find<QPushButton>("cmdDataLogPlot")->click();
    ASSERT_EQ(plot.count(), 1);
    EXPECT_EQ(plot.at(0).at(0).value<QList<int>>(), (QList<int>{1, 3}));
    // A plain click selects one tab again, the current one too; the popup menu's Plot acts as
    // the button.
    r.ClickTab(2);
    EXPECT_EQ(r.runs.PlotRuns(), std::vector<int>{3});
    r.ClickTab(0, Qt::ControlModifier);
    r.ClickTab(1);
    r.Find<QMenu>("mnuPopupDataLogTab")->findChild<QAction*>("mnuPopupDataLogTabPlot")->trigger();
    ASSERT_EQ(plot.count(), 2);
    EXPECT_EQ(plot.at(1).at(0).value<QList<int>>(), QList<int>{2});
}

TEST(RunsPanelGui, CopyAndDeleteTakeTheSelectedBlock) {
    Rig r;
    const int id = r.Recorded(4);
    RunTableView* view = r.panel.View(id);
    view->setFocus();
    view->selectionModel()->select(QItemSelection(view->model()->index(1, 1), view->model()->index(2, 2)),
                                   QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(r.dialogs.clipboard, "852\t14.7\r\n853\t14.7\r\n");

    r.Find<QMenu>("mnuPopupDataLogTab")->findChild<QAction*>("mnuPopupDataLogTabCopy")->trigger();
    EXPECT_EQ(r.dialogs.clipboard.rfind("Time [s]\tRPM\tAFR\r\n0.1\t851\t14.7\r\n", 0), 0u);

    // A whole column (its title clicked) copies with its title.
    QHeaderView* titles = view->horizontalHeader();
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, {},
                      QPoint(titles->sectionViewportPosition(1) + titles->sectionSize(1) / 2, titles->height() / 2));
    QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(r.dialogs.clipboard, "RPM\r\n851\r\n852\r\n853\r\n854\r\n");

    view->selectionModel()->select(QItemSelection(view->model()->index(1, 0), view->model()->index(2, 0)),
                                   QItemSelectionModel::ClearAndSelect);
    r.Find<QPushButton>("cmdDataLogDeleteRows")->click();
    EXPECT_EQ(view->model()->rowCount(), 2);
    EXPECT_EQ(r.Shown(id, 0, 0), "0.1");
    EXPECT_EQ(r.Shown(id, 1, 0), "0.4");
}

TEST(RunsPanelGui, TheWheelScrollsThreeRows) {
    Rig r;
    RunTableView* view = r.panel.View(r.Recorded(100));
    view->scrollToTop();
    const QPointF at(view->viewport()->rect().center());
    QWheelEvent down(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                     Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &down);
    EXPECT_EQ(view->verticalScrollBar()->value(), 3);
    QApplication::sendEvent(view->viewport(), &down);
    EXPECT_EQ(view->rowAt(0), 6);
    QWheelEvent up(at, view->viewport()->mapToGlobal(at), QPoint(), QPoint(0, 3 * 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &up);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0) << "within the grid";
}

} // namespace
