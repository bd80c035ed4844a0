// The log chart window on the offscreen platform: its series per run, the lists and the saved
// choices, zoom, pan and reset with the view refilled for what it shows, the read-out under the
// pointer, and the picture saved through the file dialog; the scatter view and two runs side by
// side, driven by mouse and keys.
#include "datalog/gui/log_chart_window.h"

#include "fakes.h"

#include <QApplication>
#include <QChart>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>

#include <unistd.h>

namespace kv {

namespace {

// Columns "Time [s]" (0.1 s a row), "RPM" (800 + 10 a row), "Load" (row % 7), "Lambda" (NaN on
// every fifth row).
PlotRun SampleRun(std::string name, std::size_t rows) {
    PlotRun run{std::move(name), {"Time [s]", "RPM", "Load", "Lambda"}, {{}, {}, {}, {}}};
    for (std::size_t r = 0; r < rows; ++r) {
        run.columns[0].push_back(static_cast<double>(r + 1) / 10.0);
        run.columns[1].push_back(800.0 + 10.0 * static_cast<double>(r));
        run.columns[2].push_back(static_cast<double>(r % 7));
        run.columns[3].push_back(r % 5 == 0 ? std::numeric_limits<double>::quiet_NaN() : 1.0);
    }
    return run;
}

template <typename T>
T* Child(QWidget* w, const char* name) {
    auto* c = w->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

class LogChartWindowTest : public ::testing::Test {
protected:
    LogChartWindow* Open(std::vector<PlotRun> runs) {
        window.reset(LogChartWindow::Open(std::move(runs), store, dialogs, dialogs));
        return window.get();
    }
    std::string Saved(const std::string& key) { return store.GetSetting("Chart", key, "<missing>"); }
    void Click(const char* name) { QTest::mouseClick(Child<QPushButton>(window.get(), name), Qt::LeftButton); }
    QValueAxis* AxisX() { return qobject_cast<QValueAxis*>(window->ChartItem()->axes(Qt::Horizontal).front()); }
    QValueAxis* AxisY() { return qobject_cast<QValueAxis*>(window->ChartItem()->axes(Qt::Vertical).front()); }
    // Lets queued work (the refill after a zoom) run.
    static void Settle() {
        QApplication::processEvents();
        QApplication::processEvents();
    }
    QPointF PlotCentre() { return window->ChartItem()->plotArea().center(); }
    void SendMouse(QEvent::Type type, QPointF at, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QWidget* viewport = window->ChartView()->viewport();
        QMouseEvent e(type, at, viewport->mapToGlobal(at), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    }

    MemorySettings store;
    ScriptedDialogs dialogs;
    std::unique_ptr<LogChartWindow> window;
};

TEST_F(LogChartWindowTest, NothingToPlotShowsWhyAndOpensNoWindow) {
    EXPECT_EQ(Open({}), nullptr);
    EXPECT_EQ(Open({SampleRun("Run 1", 0)}), nullptr);
    EXPECT_EQ(dialogs.messages,
              (std::vector<std::string>{"No data logs selected to plot", "Data log contains no data to plot"}));
}

TEST_F(LogChartWindowTest, TwoRunsMakeOneSeriesPerVariableAndRun) {
    store.SaveSetting("Chart", "DefaultPlotVariable0", "RPM");
    store.SaveSetting("Chart", "DefaultPlotVariable1", "Lambda");
    ASSERT_NE(Open({SampleRun("Run 1", 3), SampleRun("pull.txt", 5)}), nullptr);
    EXPECT_EQ(window->objectName(), "frmDataLogChart");
    EXPECT_EQ(window->windowTitle(), "Data log plot for Run 1, pull.txt");
    EXPECT_TRUE(dialogs.messages.empty());

    auto* x = Child<QComboBox>(window.get(), "cmbXAxis");
    EXPECT_EQ(x->currentText(), "Time [s]");
    EXPECT_EQ(x->count(), 4);
    auto* plotted = Child<QListWidget>(window.get(), "listPlotVars");
    ASSERT_EQ(plotted->count(), 4);
    EXPECT_EQ(plotted->item(1)->text(), "pull.txt: RPM");
    EXPECT_EQ(Child<QListWidget>(window.get(), "listAvailableVars")->count(), 4);
    ASSERT_NE(window->ChartView(), nullptr);
    EXPECT_EQ(window->ChartView()->objectName(), "Chart1");

    struct Expected {
        const char* name;
        int points;
    };
    const Expected expected[] = {
        {"Run 1: RPM", 3}, {"pull.txt: RPM", 5}, {"Run 1: Lambda", 2}, {"pull.txt: Lambda", 4}};
    ASSERT_EQ(window->Series().size(), std::size(expected));
    ASSERT_EQ(window->ChartItem()->series().size(), 4);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        QLineSeries* s = window->Series()[i];
        EXPECT_EQ(s->name(), expected[i].name);
        EXPECT_EQ(s->count(), expected[i].points) << expected[i].name;
    }
    // The points are the run's values over the X variable; a NaN cell leaves its point out.
    EXPECT_EQ(window->Series()[1]->at(4), QPointF(0.5, 840.0));
    EXPECT_EQ(window->Series()[3]->at(0), QPointF(0.2, 1.0));
    // The view shows all data.
    EXPECT_DOUBLE_EQ(AxisX()->min(), 0.1);
    EXPECT_DOUBLE_EQ(AxisX()->max(), 0.5);
    EXPECT_TRUE(window->ChartItem()->legend()->isVisible());
    // Each variable has its own axis, shared by its series of both runs, titled with its name:
    // RPM is not flattened beside Lambda.
    const QList<QAbstractAxis*> vertical = window->ChartItem()->axes(Qt::Vertical);
    ASSERT_EQ(vertical.size(), 2);
    auto* rpm = qobject_cast<QValueAxis*>(vertical[0]);
    auto* lambda = qobject_cast<QValueAxis*>(vertical[1]);
    ASSERT_TRUE(rpm && lambda);
    EXPECT_EQ(rpm->titleText(), "RPM");
    EXPECT_EQ(lambda->titleText(), "Lambda");
    EXPECT_LE(rpm->min(), 800.0);
    EXPECT_GE(rpm->max(), 840.0);
    EXPECT_GT(rpm->min(), 700.0);
    EXPECT_LE(lambda->min(), 1.0);
    EXPECT_GE(lambda->max(), 1.0);
    EXPECT_LT(lambda->max(), 10.0);
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const QList<QAbstractAxis*> attached = window->Series()[i]->attachedAxes();
        EXPECT_TRUE(attached.contains(i < 2 ? rpm : lambda)) << expected[i].name;
        EXPECT_TRUE(attached.contains(AxisX())) << expected[i].name;
    }
    EXPECT_EQ(AxisX()->titleText(), "Time [s]");
}

TEST_F(LogChartWindowTest, AddRemoveAndXChoiceRedrawAndAreSaved) {
    ASSERT_NE(Open({SampleRun("Run 1", 20)}), nullptr);
    ASSERT_EQ(window->Series().size(), 1u); // RPM by default
    auto* available = Child<QListWidget>(window.get(), "listAvailableVars");
    auto* plotted = Child<QListWidget>(window.get(), "listPlotVars");
    ASSERT_EQ(available->item(1)->text(), "Load");
    available->setCurrentRow(1);
    Click("cmdAddSeries");
    ASSERT_EQ(window->Series().size(), 2u);
    EXPECT_EQ(window->Series()[1]->name(), "Load");
    EXPECT_EQ(Saved("DefaultPlotVariable0"), "RPM");
    EXPECT_EQ(Saved("DefaultPlotVariable1"), "Load");
    EXPECT_EQ(Saved("DefaultPlotVariable2"), "");

    plotted->setCurrentRow(0);
    Click("cmdRemoveSeries");
    ASSERT_EQ(window->Series().size(), 1u);
    EXPECT_EQ(window->Series()[0]->name(), "Load");
    EXPECT_EQ(Saved("DefaultPlotVariable0"), "Load");
    EXPECT_EQ(Saved("DefaultPlotVariable1"), "");
    EXPECT_EQ(available->item(1)->text(), "RPM");

    auto* x = Child<QComboBox>(window.get(), "cmbXAxis");
    x->setCurrentText("RPM");
    EXPECT_EQ(Saved("DefaultXAxisVariable"), "RPM");
    EXPECT_EQ(window->Series()[0]->at(3), QPointF(830.0, 3.0));
    EXPECT_DOUBLE_EQ(AxisX()->min(), 800.0);
    EXPECT_DOUBLE_EQ(AxisX()->max(), 990.0);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LogChartWindowTest, XVariableMissingFromARunShowsInternalError) {
    PlotRun other{"Run 2", {"Time [s]", "RPM"}, {{0.1, 0.2}, {900, 950}}};
    ASSERT_NE(Open({SampleRun("Run 1", 4), other}), nullptr);
    ASSERT_EQ(window->Series().size(), 2u);
    Child<QComboBox>(window.get(), "cmbXAxis")->setCurrentText("Load");
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Internal error"}));
    ASSERT_EQ(window->Series().size(), 1u);
    EXPECT_EQ(window->Series()[0]->name(), "Run 1: RPM");
}

TEST_F(LogChartWindowTest, LongRunsHoldOnlyWhatTheViewShowsAndRefillOnZoom) {
    ASSERT_NE(Open({SampleRun("Run 1", 10000)}), nullptr);
    window->resize(1000, 600);
    window->show();
    Settle();
    const int plotWidth = static_cast<int>(window->ChartItem()->plotArea().width());
    ASSERT_GT(plotWidth, 100);
    QLineSeries* rpm = window->Series().at(0);
    EXPECT_LE(rpm->count(), 4 * plotWidth);
    EXPECT_EQ(rpm->at(0), QPointF(0.1, 800.0));
    EXPECT_EQ(rpm->at(rpm->count() - 1), QPointF(1000.0, 800.0 + 10 * 9999));

    // Zoomed in to 10 s, every row in view is there, each stretch outside by its ends only.
    AxisX()->setRange(100.05, 110.05);
    Settle();
    EXPECT_EQ(rpm->count(), 100 + 4);
    EXPECT_EQ(rpm->at(2), QPointF(100.1, 800.0 + 10 * 1000));
    // Moved along by 100 s (the axis labels keep their widths, so the plot area stays put).
    AxisX()->setRange(200.05, 210.05);
    Settle();
    EXPECT_EQ(rpm->count(), 100 + 4);
    EXPECT_EQ(rpm->at(2), QPointF(200.1, 800.0 + 10 * 2000));

    window->ResetZoom();
    EXPECT_DOUBLE_EQ(AxisX()->min(), 0.1);
    EXPECT_DOUBLE_EQ(AxisX()->max(), 1000.0);
    EXPECT_LE(rpm->count(), 4 * plotWidth);
}

TEST_F(LogChartWindowTest, WheelDragKeysAndDoubleClickMoveTheView) {
    ASSERT_NE(Open({SampleRun("Run 1", 1000)}), nullptr);
    window->resize(1000, 600);
    window->show();
    Settle();
    auto width = [this] { return AxisX()->max() - AxisX()->min(); };
    const double full = width();
    QWidget* viewport = window->ChartView()->viewport();

    const QPointF centre = PlotCentre();
    QWheelEvent in(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                   Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &in);
    EXPECT_NEAR(width(), full / 1.25, full * 1e-6);
    const double centreValue = (AxisX()->min() + AxisX()->max()) / 2;
    EXPECT_NEAR(centreValue, (0.1 + 100.0) / 2, full * 0.01); // zoomed about the pointer

    const double before = AxisX()->min();
    SendMouse(QEvent::MouseButtonPress, centre, Qt::RightButton, Qt::RightButton);
    SendMouse(QEvent::MouseMove, centre + QPointF(100, 0), Qt::NoButton, Qt::RightButton);
    SendMouse(QEvent::MouseButtonRelease, centre + QPointF(100, 0), Qt::RightButton, Qt::NoButton);
    EXPECT_LT(AxisX()->min(), before); // dragged right: earlier data comes into view
    EXPECT_NEAR(width(), full / 1.25, full * 1e-6);

    const double beforeKey = AxisX()->min();
    QTest::keyClick(window->ChartView(), Qt::Key_Right);
    EXPECT_GT(AxisX()->min(), beforeKey);

    QTest::keyClick(window->ChartView(), Qt::Key_Home);
    EXPECT_DOUBLE_EQ(width(), full);

    QTest::keyClick(window->ChartView(), Qt::Key_Plus);
    EXPECT_LT(width(), full);
    SendMouse(QEvent::MouseButtonDblClick, centre, Qt::LeftButton, Qt::LeftButton);
    EXPECT_DOUBLE_EQ(width(), full);
}

TEST_F(LogChartWindowTest, PointerReadsOutValuesAndThePointsAtItsX) {
    store.SaveSetting("Chart", "DefaultPlotVariable0", "Load");
    ASSERT_NE(Open({SampleRun("Run 1", 30)}), nullptr);
    window->resize(1000, 600);
    window->show();
    Settle();
    auto* label = Child<QLabel>(window.get(), "lblChartPointer");
    const QPointF at = window->ChartItem()->mapToPosition(QPointF(1.0, 2.2));
    SendMouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(label->text(), "X: 1   Y: 2.2");
    // Row 9 (1.0 s) has Load 2.
    EXPECT_EQ(window->PointerReadout(), "Load: 2 at 1");
    SendMouse(QEvent::MouseMove, QPointF(2, 2), Qt::NoButton, Qt::NoButton); // outside the plot area
    EXPECT_EQ(window->PointerReadout(), "");
    EXPECT_EQ(label->text(), "");
}

// Every plotted series is read out at the pointer's X, each value and the coordinates with the
// decimals of their columns.
TEST_F(LogChartWindowTest, ReadsOutEverySeriesAtThePointersX) {
    store.SaveSetting("Chart", "DefaultPlotVariable0", "RPM");
    store.SaveSetting("Chart", "DefaultPlotVariable1", "Load");
    PlotRun run = SampleRun("Run 1", 30);
    run.decimals = {1, 0, 0, 2};
    ASSERT_NE(Open({run}), nullptr);
    window->resize(1000, 600);
    window->show();
    Settle();
    // Far from both lines in Y (on the first axis, RPM's): the read-out still gives each series at
    // X = 1.0.
    const QPointF at = window->ChartItem()->mapToPosition(QPointF(1.03, 1050.0));
    SendMouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window->PointerReadout(), "RPM: 890 at 1.0\nLoad: 2 at 1.0");
    EXPECT_EQ(Child<QLabel>(window.get(), "lblChartPointer")->text(), "X: 1.0   Y: 1050");
}

TEST_F(LogChartWindowTest, SavesThePictureWhereTheDialogSays) {
    ASSERT_NE(Open({SampleRun("Run 1", 50)}), nullptr);
    window->resize(800, 500);
    window->show();
    Settle();
    const auto dir = std::filesystem::temp_directory_path() / ("kv_log_chart_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "pull.png";

    dialogs.files.push_back(std::nullopt); // cancelled
    Click("cmdSaveChartPicture");
    EXPECT_FALSE(std::filesystem::exists(file));

    dialogs.files.push_back(FileDialogResult{file.string(), 1});
    Click("cmdSaveChartPicture");
    ASSERT_TRUE(std::filesystem::exists(file));
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    QImage image;
    ASSERT_TRUE(
        image.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<int>(bytes.size()), "PNG"));
    EXPECT_EQ(image.size(), window->ChartView()->size() * window->ChartView()->devicePixelRatio());
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.log.back(), "SaveFileDialog|Save chart as picture|PNG pictures (*.png)|*.png|png||1");

    dialogs.files.push_back(FileDialogResult{(dir / "missing" / "x.png").string(), 1});
    Click("cmdSaveChartPicture");
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(dialogs.messages[0].starts_with("Error when saving - picture not saved")) << dialogs.messages[0];
    std::filesystem::remove_all(dir);
}

// Columns "Time [s]" (from `t0`, 0.1 s a row), "RPM" (from `rpm0`, `step` a row), "MAF signal"
// (RPM / 1000), "A/F ratio" (12.0 + row / 10, NaN on every fifth row) and "Load" (row % 7).
PlotRun MixtureRun(std::string name, std::size_t rows, double t0, double rpm0, double step) {
    PlotRun run{std::move(name), {"Time [s]", "RPM", "MAF signal", "A/F ratio", "Load"}, {{}, {}, {}, {}, {}}};
    for (std::size_t r = 0; r < rows; ++r) {
        const double rpm = rpm0 + step * static_cast<double>(r);
        run.columns[0].push_back(t0 + static_cast<double>(r) / 10.0);
        run.columns[1].push_back(rpm);
        run.columns[2].push_back(rpm / 1000.0);
        run.columns[3].push_back(r % 5 == 4 ? std::numeric_limits<double>::quiet_NaN()
                                            : 12.0 + static_cast<double>(r) / 10.0);
        run.columns[4].push_back(static_cast<double>(r % 7));
    }
    run.decimals = {1, 0, 2, 1, 0};
    return run;
}

class LogChartViewsTest : public LogChartWindowTest {
protected:
    void ShowWindow() {
        window->resize(1100, 650);
        window->show();
        Settle();
    }
    void ClickTab(int index) {
        QTabBar* bar = Child<QTabWidget>(window.get(), "tabChartViews")->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
        Settle();
    }
    void MoveOverScatter(QPointF value) {
        QWidget* viewport = window->ScatterChartView()->viewport();
        const QPointF at = window->ScatterItem()->mapToPosition(value);
        QMouseEvent e(QEvent::MouseMove, at, viewport->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &e);
    }
    std::size_t ScatterShownCount() {
        std::size_t n = 0;
        for (const auto& step : window->ScatterShown()) n += step.size();
        return n;
    }
    QStringList LegendLabels() {
        QStringList labels;
        for (QLegendMarker* m : window->ChartItem()->legend()->markers()) labels << m->label();
        return labels;
    }
};

TEST_F(LogChartViewsTest, ScatterViewPlotsTheChosenColumnsAndReadsOutThePointerPoint) {
    ASSERT_NE(Open({MixtureRun("Run 1", 40, 0.1, 800, 50)}), nullptr);
    ShowWindow();
    EXPECT_FALSE(window->Scatter()); // made when first shown
    ClickTab(1);
    ASSERT_TRUE(window->Scatter());
    EXPECT_TRUE(window->ScatterChartView()->isVisible());
    EXPECT_EQ(window->Scatter()->Axes(), (ScatterAxes{"RPM", "MAF signal", "A/F ratio"}));
    // Every fifth row has no A/F ratio: 32 points, all of them on show.
    EXPECT_EQ(window->Scatter()->Points().size(), 32u);
    EXPECT_EQ(ScatterShownCount(), 32u);
    EXPECT_EQ(Child<QLabel>(window.get(), "lblColourRange")->text(),
              "A/F ratio: 12.0 or less (blue) to 15.8 or more (red)");

    // Y becomes Load, chosen by typing on the combo box.
    auto* y = Child<QComboBox>(window.get(), "cmbScatterY");
    y->setFocus();
    QTest::keyClicks(y, "Lo");
    Settle();
    EXPECT_EQ(window->Scatter()->Axes(), (ScatterAxes{"RPM", "Load", "A/F ratio"}));
    auto* colour = Child<QComboBox>(window.get(), "cmbScatterColour");
    QTest::keyClick(colour, Qt::Key_Up); // the column before "A/F ratio": "MAF signal"
    Settle();
    EXPECT_EQ(window->Scatter()->Axes(), (ScatterAxes{"RPM", "Load", "MAF signal"}));
    EXPECT_EQ(window->Scatter()->Points().size(), 40u); // no NaN among these three
    auto* yAxis = qobject_cast<QValueAxis*>(window->ScatterItem()->axes(Qt::Vertical).front());
    EXPECT_EQ(yAxis->titleText(), "Load");
    EXPECT_LT(yAxis->min(), 0.0);
    EXPECT_GT(yAxis->max(), 6.0);

    // The pointer near the fourth sample (grid row 4: 950 rpm, Load 3) reads that point out.
    MoveOverScatter(QPointF(953, 3.02));
    EXPECT_EQ(window->PointerReadout(), "Run 1, row 4\nRPM: 950\nLoad: 3\nMAF signal: 0.95");
    EXPECT_EQ(Child<QLabel>(window.get(), "lblChartPointer")->text(), "X: 953   Y: 3");
    // Far from every point: nothing is read out.
    MoveOverScatter(QPointF(1400, 6.0));
    EXPECT_EQ(window->PointerReadout(), "");

    // The wheel zooms in about the pointer; the points outside the view are no longer drawn.
    auto* xAxis = qobject_cast<QValueAxis*>(window->ScatterItem()->axes(Qt::Horizontal).front());
    const double fullWidth = xAxis->max() - xAxis->min();
    QWidget* viewport = window->ScatterChartView()->viewport();
    const QPointF centre = window->ScatterItem()->plotArea().center();
    for (int i = 0; i < 4; ++i) {
        QWheelEvent in(centre, viewport->mapToGlobal(centre), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                       Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &in);
    }
    Settle();
    EXPECT_LT(xAxis->max() - xAxis->min(), fullWidth / 2);
    EXPECT_LT(ScatterShownCount(), 40u);
    EXPECT_GT(ScatterShownCount(), 0u);
    QTest::keyClick(window->ScatterChartView(), Qt::Key_Home);
    Settle();
    EXPECT_DOUBLE_EQ(xAxis->max() - xAxis->min(), fullWidth);
    EXPECT_EQ(ScatterShownCount(), 40u);

    // Saved as a picture: the scatter view's.
    const auto file = std::filesystem::temp_directory_path() / ("kv_scatter_" + std::to_string(::getpid()) + ".png");
    dialogs.files.push_back(FileDialogResult{file.string(), 1});
    Click("cmdSaveChartPicture");
    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(file.string())));
    EXPECT_EQ(image.size(), window->ScatterChartView()->size() * window->ScatterChartView()->devicePixelRatio());
    std::filesystem::remove(file);

    // Back on the time chart, its read-out is its own.
    ClickTab(0);
    EXPECT_TRUE(window->ChartView()->isVisible());
    EXPECT_EQ(window->PointerReadout(), "");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(LogChartViewsTest, TwoRunsSideBySideShareTheXAxisFromTheirStarts) {
    store.SaveSetting("Chart", "DefaultPlotVariable0", "A/F ratio");
    // "Before" was recorded 5 s into a drive from 800 rpm; "after" from 0.1 s and 1500 rpm.
    ASSERT_NE(Open({MixtureRun("Run 1", 30, 5.0, 800, 100), MixtureRun("pull.txt", 20, 0.1, 1500, 100)}), nullptr);
    ShowWindow();
    ASSERT_EQ(window->Series().size(), 2u);
    EXPECT_EQ(window->Series()[0]->name(), "Run 1: A/F ratio");

    auto* side = Child<QCheckBox>(window.get(), "chkSideBySide");
    ASSERT_TRUE(side->isEnabled());
    QTest::mouseClick(side, Qt::LeftButton, Qt::NoModifier, QPoint(8, side->height() / 2));
    Settle();
    ASSERT_TRUE(side->isChecked());
    ASSERT_EQ(window->Series().size(), 2u);
    EXPECT_EQ(window->Series()[0]->name(), "A/F ratio \u2014 Run 1");
    EXPECT_EQ(window->Series()[1]->name(), "A/F ratio \u2014 pull.txt");
    EXPECT_EQ(LegendLabels(), (QStringList{"A/F ratio \u2014 Run 1", "A/F ratio \u2014 pull.txt"}));
    EXPECT_EQ(AxisX()->titleText(), "Time from start [s]");
    EXPECT_FALSE(Child<QComboBox>(window.get(), "cmbXAxis")->isEnabled());
    // Both start at 0 s.
    EXPECT_DOUBLE_EQ(window->Series()[0]->at(0).x(), 0.0);
    EXPECT_DOUBLE_EQ(window->Series()[1]->at(0).x(), 0.0);
    EXPECT_DOUBLE_EQ(window->Series()[0]->at(0).y(), 12.0);
    EXPECT_DOUBLE_EQ(AxisX()->min(), 0.0);
    EXPECT_NEAR(AxisX()->max(), 2.8, 1e-9); // Run 1's last row has no A/F ratio

    // From 2000 rpm: Run 1 reaches it in row 12, pull.txt in row 5.
    auto* start = Child<QSpinBox>(window.get(), "udStartRpm");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(start, "2000");
    Settle();
    ASSERT_EQ(start->value(), 2000);
    EXPECT_DOUBLE_EQ(window->Series()[0]->at(0).x(), 0.0);
    EXPECT_NEAR(window->Series()[0]->at(0).y(), 13.2, 1e-9);
    EXPECT_NEAR(window->Series()[1]->at(0).y(), 12.5, 1e-9);
    // The read-out at 0.3 s gives each run's value there (Run 1's row 15, pull.txt's row 8).
    const QPointF at = window->ChartItem()->mapToPosition(QPointF(0.3, 13.0), window->Series()[0]);
    SendMouse(QEvent::MouseMove, at, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(window->PointerReadout(), "A/F ratio \u2014 Run 1: 13.5 at 0.3\nA/F ratio \u2014 pull.txt: 12.8 at 0.3");

    // Over the engine speed.
    auto* x = Child<QComboBox>(window.get(), "cmbSideX");
    QTest::keyClick(x, Qt::Key_Down);
    Settle();
    EXPECT_EQ(AxisX()->titleText(), "RPM");
    EXPECT_DOUBLE_EQ(window->Series()[0]->at(0).x(), 2000.0);
    EXPECT_DOUBLE_EQ(window->Series()[1]->at(0).x(), 2000.0);

    // A start that one run never reaches says so and shows the runs as they are.
    start->setFocus();
    QTest::keyClick(start, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(start, "4000");
    Settle();
    EXPECT_EQ(dialogs.messages, (std::vector<std::string>{"Run 1 never reaches 4000 rpm"}));
    EXPECT_FALSE(side->isChecked());
    ASSERT_EQ(window->Series().size(), 2u);
    EXPECT_EQ(window->Series()[0]->name(), "Run 1: A/F ratio");
    EXPECT_TRUE(Child<QComboBox>(window.get(), "cmbXAxis")->isEnabled());
}

TEST_F(LogChartViewsTest, OneRunCannotBeShownSideBySide) {
    ASSERT_NE(Open({MixtureRun("Run 1", 10, 0.1, 800, 50)}), nullptr);
    EXPECT_FALSE(Child<QCheckBox>(window.get(), "chkSideBySide")->isEnabled());
}

} // namespace

} // namespace kv
