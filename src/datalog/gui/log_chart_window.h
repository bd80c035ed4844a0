#pragma once
// The log chart window frmDataLogChart ("Logged data"): one variable of the chosen runs on the X
// axis and the chosen variables as line series, one per variable and run. The chart zooms with
// the mouse wheel and a dragged rectangle, pans with the right or middle button or the arrow
// keys, and goes back to the whole data with Home, a double click or "Reset zoom". The
// coordinates under the mouse pointer are read out below the chart and every series' value at the
// pointer's X in a box beside the pointer, each with the decimals of its column, and the chart
// can be saved as a PNG picture. Each series holds only what the pixels of the view can
// show, recomputed whenever the view's X range changes. Each plotted variable has a Y axis of its
// own (titled with its name, alternately left and right), shared by its series of every run.
#include "datalog/log_chart.h"

#include <QChartView>
#include <QWidget>

#include <vector>

class QChart;
class QComboBox;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QListWidget;
class QPushButton;
class QValueAxis;

namespace kv {

class FileDialogs;
class SettingsStore;
class UserMessages;

// Chart1: the chart view with the zoom, pan and read-out gestures.
class LogChartView final : public QChartView {
    Q_OBJECT
public:
    explicit LogChartView(QChart* chart, QWidget* parent = nullptr);

signals:
    // Home, a double click: show all data again.
    void resetRequested();
    // The mouse pointer is at `value` (chart coordinates) over the plot area.
    void pointerAt(QPointF value);
    // The mouse pointer has left the plot area.
    void pointerLeft();

protected:
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool panning_ = false;
    QPointF lastPan_;
};

class LogChartWindow final : public QWidget {
    Q_OBJECT
public:
    // Opens the window over copies of the runs with the saved choices and draws it; nullptr after
    // showing why when there is nothing to plot. The window deletes itself when closed.
    static LogChartWindow* Open(std::vector<PlotRun> runs, SettingsStore& settings, UserMessages& messages,
                                FileDialogs& files, QWidget* parent = nullptr);

    const LogChart& Chart() const { return chart_; }
    QChart* ChartItem() const { return qchart_; }
    LogChartView* ChartView() const { return view_; }
    // The read-out beside the pointer: every series' point nearest to its X ("" while hidden).
    QString PointerReadout() const;
    // The line series on show, in the order of the plotted variables.
    const std::vector<QLineSeries*>& Series() const { return series_; }

    // Shows all data of the plotted series.
    void ResetZoom();
    // Fills the series again for the current view (what zooming and panning do).
    void Refill();
    // Asks where to save the chart as a PNG picture and saves it there.
    void SavePicture();

private:
    LogChartWindow(LogChart chart, SettingsStore& settings, UserMessages& messages, FileDialogs& files,
                   QWidget* parent);
    void FillLists();
    void Draw();
    void AddSelectedSeries();
    void RemoveSelectedSeries();
    void ShowPointer(QPointF value);
    void HidePointer();
    void ScheduleRefill();

    LogChart chart_;
    ChartSettings settings_;
    UserMessages& messages_;
    FileDialogs& files_;
    SeriesPlan plan_;

    QComboBox* cmbXAxis_;
    QListWidget* listAvailableVars_;
    QListWidget* listPlotVars_;
    QPushButton* cmdAddSeries_;
    QPushButton* cmdRemoveSeries_;
    QPushButton* cmdResetZoom_;
    QPushButton* cmdSavePicture_;
    QLabel* lblPointer_;
    QGraphicsRectItem* pointerBox_;
    QGraphicsSimpleTextItem* pointerText_;
    QChart* qchart_;
    LogChartView* view_;
    QValueAxis* axisX_;
    // One Y axis per plotted variable, in the order of first appearance; seriesAxis_[i] is the
    // index of series i's axis.
    std::vector<QValueAxis*> axesY_;
    std::vector<std::size_t> seriesAxis_;
    std::vector<QLineSeries*> series_;
    bool filling_ = false;
    bool refillPending_ = false;
};

} // namespace kv
