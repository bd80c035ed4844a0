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
// With two or more runs, two of them can be shown side by side: both from a chosen start over the
// time since it or the engine speed, each series labelled with its variable and run.
// A second view, the scatter view, plots one variable against another as points coloured by a
// third, with the same gestures, read-out (the point nearest to the pointer) and picture. Its
// points are drawn straight onto the plot area, those the pixels show only.
#include "datalog/log_chart.h"
#include "datalog/log_scatter.h"
#include "datalog/log_side_by_side.h"

#include <QChartView>
#include <QStringList>
#include <QWidget>

#include <array>
#include <optional>
#include <vector>

class QChart;
class QComboBox;
class QGraphicsRectItem;
class QGraphicsSimpleTextItem;
class QLabel;
class QLineSeries;
class QListWidget;
class QCheckBox;
class QPushButton;
class QSpinBox;
class QTabWidget;
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

class ScatterPointsItem;

// The read-out box beside the pointer, drawn over a chart.
class PointerBox {
public:
    explicit PointerBox(QChart* chart);
    // Shows `lines` beside the point of `value`, on the side where the box fits in the plot area.
    void Show(QPointF value, const QStringList& lines);
    void Hide();
    // The text on show, "" while hidden.
    QString Text() const;

private:
    QChart* chart_;
    QGraphicsRectItem* box_;
    QGraphicsSimpleTextItem* text_;
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
    // The read-out beside the pointer in the view on show: in the time chart every series' point
    // nearest to its X, in the scatter view the point nearest to the pointer ("" while hidden).
    QString PointerReadout() const;
    // The line series on show, in the order of the plotted variables.
    const std::vector<QLineSeries*>& Series() const { return series_; }

    // The scatter view (its points are made when it is first shown).
    QChart* ScatterItem() const { return scatterChart_; }
    LogChartView* ScatterChartView() const { return scatterView_; }
    const std::optional<ScatterData>& Scatter() const { return scatter_; }
    // The points the scatter view draws, per colour step.
    const std::array<std::vector<ChartPoint>, kScatterColourSteps>& ScatterShown() const;

    // Shows all data of the view on show.
    void ResetZoom();
    // Fills the time chart's series again for its current view (what zooming and panning do).
    void Refill();
    // The same for the scatter view.
    void RefillScatter();
    // Asks where to save the view on show as a PNG picture and saves it there.
    void SavePicture();

private:
    LogChartWindow(LogChart chart, SettingsStore& settings, UserMessages& messages, FileDialogs& files,
                   QWidget* parent);
    void FillLists();
    void Draw();
    void AddSelectedSeries();
    void RemoveSelectedSeries();
    void ShowPointer(QPointF value);
    void ShowScatterPointer(QPointF value);
    void HidePointer();
    void ScheduleRefill();
    void ScheduleScatterRefill();
    bool ScatterOnShow() const;
    // The runs the time chart's series are of: the chosen runs, or the two lined up side by side.
    const std::vector<PlotRun>& ShownRuns() const;
    // The plotted variables' names, each once, in the order of the list.
    std::vector<std::string> PlottedNames() const;
    void FillSideBySide();
    void DrawScatter();
    void ResetScatterZoom();
    void ShowColourScale();
    // The decimals of the scatter variable `name` in the first run that holds it.
    int ScatterDecimals(const std::string& name) const;
    // The scatter view's value range.
    ScatterView ScatterRange() const;

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
    QTabWidget* tabViews_;
    QCheckBox* chkSideBySide_;
    QComboBox* cmbRunBefore_;
    QComboBox* cmbRunAfter_;
    QComboBox* cmbSideX_;
    QSpinBox* udStartRpm_;
    QChart* qchart_;
    LogChartView* view_;
    std::optional<PointerBox> pointer_;
    QValueAxis* axisX_;
    // One Y axis per plotted variable, in the order of first appearance; seriesAxis_[i] is the
    // index of series i's axis.
    std::vector<QValueAxis*> axesY_;
    std::vector<std::size_t> seriesAxis_;
    std::vector<QLineSeries*> series_;
    std::optional<SideBySide> side_;

    QComboBox* cmbScatterX_;
    QComboBox* cmbScatterY_;
    QComboBox* cmbScatterColour_;
    QLabel* lblColourScale_;
    QLabel* lblColourRange_;
    QChart* scatterChart_;
    LogChartView* scatterView_;
    std::optional<PointerBox> scatterPointer_;
    QValueAxis* scatterAxisX_;
    QValueAxis* scatterAxisY_;
    // The points, drawn over the plot area; an empty series carries the axes' range.
    ScatterPointsItem* pointsItem_;
    QLineSeries* scatterRange_;
    std::optional<ScatterData> scatter_;

    bool filling_ = false;
    bool refillPending_ = false;
    bool scatterRefillPending_ = false;
};

} // namespace kv
