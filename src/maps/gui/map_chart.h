#pragma once
// The chart of the map on show (FuelMapChart / IgnMapChart): drawn from the grid the table
// editor has just filled, so it shows exactly the table's values and axis labels. A one-row map
// is a curve over its X axis (the number at the start of each column header) with a marker for
// the live operating point; a map of two or more rows is a 3-D bar chart of rows x columns with
// the grid's headers as axis labels, turned with the mouse (maps/gui/bar_chart_3d.h). The chart
// reads the grid when the map is chosen and is drawn when it is on show.
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QChart;
class QChartView;
class QLabel;
class QLineSeries;
class QScatterSeries;
class QStackedLayout;
class QValueAxis;

namespace kv {

class BarChart3D;
class MapGrid;

// What the chart shows, read from the grid (no widgets): the curve of a one-row map, or the
// values and labels of a two-dimensional one.
struct MapChartData {
    bool bars = false;                       // two or more data rows
    std::vector<double> x, y;                // one-row map: one point per data column
    std::vector<std::vector<double>> values; // bars: [data row][data column]
    std::vector<QString> rowLabels;          // bars: fixed-column texts of the data rows
    std::vector<QString> columnLabels;       // bars: first header row texts of the data columns
};
MapChartData ReadMapChartData(const MapGrid& grid);

// The number at the start of a text: the text up to the first blank, read as a number; 0 when
// it has none.
double LeadingNumber(const QString& text);

class MapChartView final : public QWidget {
    Q_OBJECT
public:
    // `objectName`: FuelMapChart or IgnMapChart.
    explicit MapChartView(const QString& objectName, QWidget* parent = nullptr);

    // Reads the chart from the grid (RenderMapChart); drawn now when on show, else when shown.
    void Render(const MapGrid& grid);
    // Marks the operating point on a one-row map's curve at x (header units); ignored for bars.
    void ShowOperatingPoint(double x);
    void HideOperatingPoint();
    // The map's axis captions: the bars' column and row titles, the curve's X axis title.
    void SetAxisTitles(const QString& xTitle, const QString& yTitle);

    // For tests and the page.
    bool ShowsCurve() const;
    bool ShowsBars() const;
    QLineSeries* Curve() const { return curve_; }
    QScatterSeries* OperatingPoint() const { return opSeries_; }
    BarChart3D* Bars() const { return bars_; }
    QValueAxis* AxisX() const { return axisX_; }
    QValueAxis* AxisY() const { return axisY_; }
    const MapChartData& Data() const { return data_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Draw();

    QStackedLayout* stack_;
    QChartView* chartView_;
    QChart* chart_;
    QLineSeries* curve_;
    QScatterSeries* points_;
    QScatterSeries* opSeries_;
    QValueAxis* axisX_;
    QValueAxis* axisY_;
    BarChart3D* bars_;
    bool drawn_ = false; // the chart shows data_
    MapChartData data_;
};

// The charting module of the map tabs: the grid on show and the chart to draw into, set on
// every map selection.
class MapCharting {
public:
    void SetChartGrid(const MapGrid* grid) { grid_ = grid; }
    void SetChartControl(MapChartView* chart) { chart_ = chart; }
    void RenderMapChart() {
        if (grid_ != nullptr && chart_ != nullptr) chart_->Render(*grid_);
    }
    void ShowChartOperatingPoint(double x) {
        if (chart_ != nullptr) chart_->ShowOperatingPoint(x);
    }
    void HideChartOperatingPoint() {
        if (chart_ != nullptr) chart_->HideOperatingPoint();
    }

private:
    const MapGrid* grid_ = nullptr;
    MapChartView* chart_ = nullptr;
};

} // namespace kv
