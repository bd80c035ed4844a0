#include "maps/gui/map_chart.h"

#include "maps/cell_input.h"
#include "maps/grid.h"
#include "maps/gui/bar_chart_3d.h"

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QScatterSeries>
#include <QStackedLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace kv {

namespace {

constexpr QColor kBackdrop(0xF4, 0xF4, 0xF0);
constexpr QColor kCurveColour(0x20, 0x50, 0xA0);
constexpr QColor kOperatingPointColour(0xD0, 0x00, 0x00);

double CellNumber(const std::string& text) { return ParseCellNumber(text, false).ValueOr(0.0); }

// The curve's value at x (linear between points, the end values outside).
double CurveAt(const std::vector<double>& xs, const std::vector<double>& ys, double x) {
    if (xs.empty()) return 0.0;
    std::vector<std::pair<double, double>> pts;
    for (std::size_t i = 0; i < xs.size(); ++i) pts.emplace_back(xs[i], ys[i]);
    std::sort(pts.begin(), pts.end());
    if (x <= pts.front().first) return pts.front().second;
    if (x >= pts.back().first) return pts.back().second;
    for (std::size_t i = 1; i < pts.size(); ++i) {
        if (x <= pts[i].first) {
            const double span = pts[i].first - pts[i - 1].first;
            if (span == 0) return pts[i].second;
            return pts[i - 1].second + (x - pts[i - 1].first) / span * (pts[i].second - pts[i - 1].second);
        }
    }
    return pts.back().second;
}

// Sets the axis to run between round numbers, in round steps (1, 2 or 5 times a power of ten),
// with every value from lo to hi inside and clear of the ends (so that the markers show whole).
void SetRoundRange(QValueAxis& axis, double lo, double hi) {
    const double span = hi > lo ? hi - lo : std::max(std::fabs(lo), 1.0);
    const double raw = span / 5.0;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = 10.0 * power;
    for (double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power) {
            step = m * power;
            break;
        }
    }
    double min = std::floor(lo / step) * step;
    double max = std::ceil(hi / step) * step;
    if (lo - min < 0.05 * step) min -= step;
    if (max - hi < 0.05 * step) max += step;
    axis.setRange(min, max);
    axis.setTickCount(static_cast<int>(std::lround((max - min) / step)) + 1);
}

} // namespace

double LeadingNumber(const QString& text) {
    const QString head = text.section(' ', 0, 0);
    return ParseCellNumber(head.toStdString(), false).ValueOr(0.0);
}

MapChartData ReadMapChartData(const MapGrid& grid) {
    MapChartData d;
    const int fr = grid.FixedRows(), fc = grid.FixedCols();
    const int rows = grid.Rows() - fr, cols = grid.Cols() - fc;
    if (rows <= 0 || cols <= 0) return d;
    d.bars = rows >= 2;
    if (d.bars) {
        for (int r = 0; r < rows; ++r) {
            std::vector<double> row;
            for (int c = 0; c < cols; ++c) row.push_back(CellNumber(grid.TextMatrix(fr + r, fc + c)));
            d.values.push_back(std::move(row));
            d.rowLabels.push_back(fc > 0 ? QString::fromStdString(grid.TextMatrix(fr + r, 0)) : QString());
        }
        for (int c = 0; c < cols; ++c)
            d.columnLabels.push_back(fr > 0 ? QString::fromStdString(grid.TextMatrix(0, fc + c)) : QString());
        return d;
    }
    for (int c = 0; c < cols; ++c) {
        d.x.push_back(fr > 0 ? LeadingNumber(QString::fromStdString(grid.TextMatrix(0, fc + c))) : 0.0);
        d.y.push_back(CellNumber(grid.TextMatrix(fr, fc + c)));
    }
    return d;
}

MapChartView::MapChartView(const QString& objectName, QWidget* parent) : QWidget(parent) {
    setObjectName(objectName);
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);

    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(6, 6, 14, 6)); // room for the end labels of the axes
    chart_->setBackgroundRoundness(0);
    chart_->setPlotAreaBackgroundVisible(true);
    chart_->setPlotAreaBackgroundBrush(kBackdrop);
    curve_ = new QLineSeries;
    curve_->setColor(kCurveColour);
    points_ = new QScatterSeries;
    points_->setColor(kCurveColour);
    points_->setMarkerSize(7);
    opSeries_ = new QScatterSeries;
    opSeries_->setObjectName("chartOperatingPoint");
    opSeries_->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    opSeries_->setMarkerSize(14);
    opSeries_->setColor(kOperatingPointColour);
    opSeries_->setBorderColor(Qt::black);
    chart_->addSeries(curve_);
    chart_->addSeries(points_);
    chart_->addSeries(opSeries_);
    axisX_ = new QValueAxis;
    axisY_ = new QValueAxis;
    axisX_->setLabelFormat("%g");
    axisY_->setLabelFormat("%g");
    chart_->addAxis(axisX_, Qt::AlignBottom);
    chart_->addAxis(axisY_, Qt::AlignLeft);
    for (auto* s : {static_cast<QAbstractSeries*>(curve_), static_cast<QAbstractSeries*>(points_),
                    static_cast<QAbstractSeries*>(opSeries_)}) {
        s->attachAxis(axisX_);
        s->attachAxis(axisY_);
    }
    chartView_ = new QChartView(chart_, this);
    chartView_->setRenderHint(QPainter::Antialiasing);
    chartView_->setObjectName(objectName + "Curve");

    bars_ = new BarChart3D(this);
    bars_->setObjectName(objectName + "Bars");

    stack_->addWidget(chartView_);
    stack_->addWidget(bars_);
}

void MapChartView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!drawn_) Draw();
}

void MapChartView::Render(const MapGrid& grid) {
    data_ = ReadMapChartData(grid);
    drawn_ = false;
    if (isVisible()) Draw();
}

void MapChartView::Draw() {
    drawn_ = true;
    setUpdatesEnabled(false);
    if (data_.bars) {
        bars_->SetData(data_.values, data_.rowLabels, data_.columnLabels);
        stack_->setCurrentWidget(bars_);
        HideOperatingPoint();
    } else {
        QList<QPointF> pts;
        for (std::size_t i = 0; i < data_.x.size(); ++i) pts.append(QPointF(data_.x[i], data_.y[i]));
        curve_->replace(pts);
        points_->replace(pts);
        HideOperatingPoint();
        if (!pts.isEmpty()) {
            auto [xmin, xmax] = std::minmax_element(data_.x.begin(), data_.x.end());
            auto [ymin, ymax] = std::minmax_element(data_.y.begin(), data_.y.end());
            SetRoundRange(*axisX_, *xmin, *xmax);
            SetRoundRange(*axisY_, *ymin, *ymax);
        }
        stack_->setCurrentWidget(chartView_);
    }
    setUpdatesEnabled(true);
}

void MapChartView::ShowOperatingPoint(double x) {
    if (data_.bars || data_.x.empty()) return;
    opSeries_->replace(QList<QPointF>{QPointF(x, CurveAt(data_.x, data_.y, x))});
}

void MapChartView::SetAxisTitles(const QString& xTitle, const QString& yTitle) {
    bars_->SetAxisTitles(xTitle, yTitle);
    axisX_->setTitleText(xTitle);
}

void MapChartView::HideOperatingPoint() { opSeries_->replace(QList<QPointF>{}); }

bool MapChartView::ShowsCurve() const { return stack_->currentWidget() == chartView_; }
bool MapChartView::ShowsBars() const { return stack_->currentWidget() == bars_; }

} // namespace kv
