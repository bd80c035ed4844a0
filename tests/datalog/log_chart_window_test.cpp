// The log chart window on the offscreen platform: its series per run, the lists and the saved
// choices, zoom, pan and reset with the view refilled for what it shows, the read-out under the
// pointer, and the picture saved through the file dialog.
#include "datalog/gui/log_chart_window.h"

#include "fakes.h"

#include <QApplication>
#include <QChart>
#include <QComboBox>
#include <QLabel>
#include <QLineSeries>
#include <QListWidget>
#include <QPushButton>
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

} // namespace

} // namespace kv
