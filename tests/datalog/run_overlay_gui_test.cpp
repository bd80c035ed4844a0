// "Show on map…" on screen (offscreen): the run's popup menu opened with the right mouse button,
// the entry clicked, the dialog answered with keys; the window lays the run over the map's grid
// as a view, tells what it shows, can hide it, and leaves the map as it was.
#include "datalog/gui/run_overlay_window.h"
#include "datalog/gui/runs_panel.h"
#include "datalog/log_catalogue.h"
#include "maps/gui/qt_map_grid.h"

#include "fakes.h"
#include "map_rig.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

using namespace kv;

namespace {

struct Rig {
    Rig() {
        panel.resize(800, 400);
        panel.show();
        QObject::connect(&panel, &RunsPanel::showOnMapRequested, &panel, [this](int id) {
            window = ShowRunOnMap(*runs.Run(id), runs.RunName(id), {&map.image, nullptr, settings, dialogs}, &panel);
        });
    }
    // Right mouse button on the run's tab, through the window system as a user's click comes.
    QMenu* OpenPopup() {
        auto* tabs = panel.findChild<QTabBar*>("tbsDataLog");
        const QPoint at = tabs->mapTo(&panel, tabs->tabRect(tabs->currentIndex()).center());
        QTest::mouseClick(panel.windowHandle(), Qt::RightButton, Qt::NoModifier, at);
        auto* popup = panel.findChild<QMenu*>("mnuPopupDataLogTab");
        return popup != nullptr && popup->isVisible() ? popup : nullptr;
    }
    // The map chosen in the dialog by arrow keys, the column left as offered, Return.
    void AnswerDialog(const QString& mapName) {
        QTimer::singleShot(0, [this, mapName] {
            auto* dialog = qobject_cast<ShowOnMapDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            auto* maps = dialog->findChild<QComboBox*>("cmbOverlayMap");
            columnOffered = dialog->findChild<QComboBox*>("cmbOverlayColumn")->currentText();
            QTest::keyClick(maps, Qt::Key_Home);
            for (int i = 0; i < 16 && maps->currentText() != mapName; ++i) QTest::keyClick(maps, Qt::Key_Down);
            QTest::keyClick(dialog, Qt::Key_Return);
            if (dialog->isVisible()) dialog->reject();
        });
    }

    MapRig map;
    MemorySettings settings;
    ScriptedDialogs dialogs;
    RunSet runs{RunSetSeams{dialogs, dialogs, dialogs, dialogs}};
    RunsPanel panel{runs};
    QPointer<RunOverlayWindow> window;
    QString columnOffered;
};

TEST(RunOverlayGui, ShowOnMapLaysTheRunOverTheGridAsAView) {
    Rig r;
    const auto [row, col] = r.map.EvenStepCell();
    ASSERT_GE(row, 2);
    const int id = r.runs.AllocateRun();
    r.runs.SetRunHeaders(id, {kTimeHeader, kRpmHeader, kMafHeader, kAfrHeader, kThrottleHeader});
    // WOT exactly between four cells; cruise 15.10 and 15.30 on the grid point of cell (1, 0).
    const auto [midRpm, midMaf] = r.map.At(col + 0.5, row + 0.5);
    const auto [rpm, maf] = r.map.At(0, 1);
    r.runs.AppendRunRow(id, {"0.1", midRpm, midMaf, "12.04", "3"});
    r.runs.AppendRunRow(id, {"0.2", rpm, maf, "15.10", "2"});
    r.runs.AppendRunRow(id, {"0.3", rpm, maf, "15.30", "2"});
    QCoreApplication::processEvents();
    const std::string mapBefore = r.map.map->Cell(1, 0);

    QMenu* popup = r.OpenPopup();
    ASSERT_NE(popup, nullptr) << "the right mouse button opens the run's popup menu";
    auto* entry = popup->findChild<QAction*>("mnuPopupDataLogTabShowOnMap");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->text().remove('&').toStdString(), "Show on map\xE2\x80\xA6");
    r.AnswerDialog(MapRig::kMapName);
    QTest::mouseClick(popup, Qt::LeftButton, Qt::NoModifier, popup->actionGeometry(entry).center());
    ASSERT_FALSE(r.window.isNull()) << "the window opened";
    EXPECT_EQ(r.columnOffered, "A/F ratio") << "the mixture is offered first";
    EXPECT_TRUE(r.dialogs.messages.empty());

    const std::string caption = "Run 1: A/F ratio on Base fuel map (cat)";
    EXPECT_EQ(r.window->windowTitle().toStdString(), "Run overlay - " + caption);
    const QString label = r.window->findChild<QLabel*>("lblRunOverlay")->text();
    EXPECT_TRUE(label.contains(QString::fromStdString(caption))) << label.toStdString();
    EXPECT_TRUE(label.contains("samples: 3, cells: 5")) << label.toStdString();

    QtMapGrid* grid = r.window->Grid();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(r.window));
    const int fr = grid->FixedRows(), fc = grid->FixedCols();
    const QColor green(0, 255, 0), red(255, 0, 0);
    for (const auto& [rr, cc] : {std::pair{row, col}, {row, col + 1}, {row + 1, col}, {row + 1, col + 1}}) {
        SCOPED_TRACE(std::to_string(rr) + "," + std::to_string(cc));
        const auto cell = grid->OverlayCellAt(fr + rr, fc + cc);
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->text.toStdString(), "12.04");
        EXPECT_EQ(cell->background, green);
        EXPECT_TRUE(cell->tip.startsWith("samples: 1 (weight 0.25)\n")) << cell->tip.toStdString();
    }
    const auto lean = grid->OverlayCellAt(fr + 1, fc + 0);
    ASSERT_TRUE(lean);
    EXPECT_EQ(lean->text.toStdString(), "15.20");
    EXPECT_EQ(lean->background, red);
    // Every mean fits its column with the margins the style keeps around a cell's text and the
    // grid line.
    const int margins =
        2 * (grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1) + (grid->showGrid() ? 1 : 0);
    for (int c = 0; c < grid->columnCount(); ++c)
        EXPECT_GE(grid->columnWidth(c), grid->fontMetrics().horizontalAdvance("15.20") + margins)
            << "a mean is not cut short";
    const auto blank = grid->OverlayCellAt(fr + 0, fc + 0);
    ASSERT_TRUE(blank);
    EXPECT_TRUE(blank->text.isEmpty());
    EXPECT_FALSE(blank->background.isValid());

    // The tool tip a user gets over the lean cell.
    const QRect rect = grid->visualRect(grid->IndexOf(fr + 1, fc + 0));
    QHelpEvent help(QEvent::ToolTip, rect.center(), grid->viewport()->mapToGlobal(rect.center()));
    QApplication::sendEvent(grid->viewport(), &help);
    EXPECT_EQ(QToolTip::text().toStdString(), "samples: 2 (weight 2.00)\nmean: 15.200\nmin: 15.10\nmax: 15.30\n"
                                              "cruise target 14.7 \xC2\xB1 0.1: +0.500");
    QToolTip::hideText();

    // Keys in the grid edit nothing; hidden, the map's own values show, as they were.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Q);
    QTest::keyClicks(grid, "5");
    auto* hide = r.window->findChild<QPushButton*>("cmdRunOverlayHide");
    QTest::mouseClick(hide, Qt::LeftButton);
    EXPECT_FALSE(r.window->OverlayShown());
    EXPECT_FALSE(grid->OverlayCellAt(fr + 1, fc + 0));
    EXPECT_EQ(grid->TextMatrix(fr + 1, fc + 0), mapBefore);
    EXPECT_EQ(RenderedMap(r.map.image, *r.map.definition).Cell(1, 0), mapBefore) << "the image is untouched";
    EXPECT_EQ(hide->text().remove('&').toStdString(), "Show run overlay");
    QTest::mouseClick(hide, Qt::LeftButton);
    EXPECT_TRUE(r.window->OverlayShown());

    QTest::mouseClick(r.window->findChild<QPushButton*>("cmdRunOverlayClose"), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(r.window.isNull()) << "closing the window removes the overlay";
}

// Without a map a run can be laid over the reason is shown and nothing opens.
TEST(RunOverlayGui, WithoutAFuelMapNothingOpens) {
    Rig r;
    const int id = r.runs.AllocateRun();
    r.runs.SetRunHeaders(id, {kTimeHeader, kRpmHeader});
    r.runs.AppendRunRow(id, {"0.1", "900"});
    RunOverlayWindow* window =
        ShowRunOnMap(*r.runs.Run(id), "Run 1", {nullptr, nullptr, r.settings, r.dialogs}, &r.panel);
    EXPECT_EQ(window, nullptr);
    ASSERT_EQ(r.dialogs.messages.size(), 1u);
    EXPECT_EQ(r.dialogs.messages[0], "No map of the loaded images lies over the columns of this run.");
}

} // namespace
