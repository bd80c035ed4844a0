#include "maps/gui/map_chart.h"

#include "maps/cell_input.h"
#include "maps/grid.h"

#include <QChart>
#include <QChartView>
#include <QLabel>
#include <QLineSeries>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QScatterSeries>
#include <QStackedLayout>
#include <QValueAxis>
#include <QtDataVisualization/Q3DBars>
#include <QtDataVisualization/QBar3DSeries>
#include <QtDataVisualization/QBarDataProxy>
#include <QtDataVisualization/QCategory3DAxis>
#include <QtDataVisualization/QValue3DAxis>

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

bool OpenGLAvailable() {
    QOpenGLContext context;
    if (!context.create()) return false;
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid()) return false;
    const bool ok = context.makeCurrent(&surface);
    if (ok) context.doneCurrent();
    return ok;
}

MapChartView::MapChartView(const QString& objectName, QWidget* parent, bool allow3D)
    : QWidget(parent), allow3D_(allow3D) {
    setObjectName(objectName);
    stack_ = new QStackedLayout(this);
    stack_->setContentsMargins(0, 0, 0, 0);

    chart_ = new QChart;
    chart_->legend()->hide();
    chart_->setMargins(QMargins(0, 0, 0, 0));
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

    fallback_ = new QLabel(kChartNeedsOpenGL, this);
    fallback_->setObjectName("lblChartUnavailable");
    fallback_->setAlignment(Qt::AlignCenter);
    fallback_->setWordWrap(true);

    stack_->addWidget(chartView_);
    stack_->addWidget(fallback_);
}

void MapChartView::Ensure3D() {
    if (bars_ != nullptr || !allow3D_) return;
    if (!OpenGLAvailable()) {
        allow3D_ = false;
        return;
    }
    bars_ = new Q3DBars;
    bars_->setShadowQuality(QAbstract3DGraph::ShadowQualityNone);
    bars_->setSelectionMode(QAbstract3DGraph::SelectionItem);
    bars_->scene()->activeCamera()->setCameraPreset(Q3DCamera::CameraPresetIsometricRight);
    barSeries_ = new QBar3DSeries;
    barSeries_->setMesh(QAbstract3DSeries::MeshBar);
    barSeries_->setBaseColor(kCurveColour);
    bars_->addSeries(barSeries_);
    barsContainer_ = QWidget::createWindowContainer(bars_, this);
    barsContainer_->setObjectName(objectName() + "Bars");
    barsContainer_->setMinimumSize(200, 200);
    stack_->addWidget(barsContainer_);
}

void MapChartView::Render(const MapGrid& grid) {
    setUpdatesEnabled(false);
    data_ = ReadMapChartData(grid);
    if (data_.bars) {
        Ensure3D();
        if (bars_ == nullptr) {
            stack_->setCurrentWidget(fallback_);
        } else {
            auto* rows = new QBarDataArray;
            rows->reserve(static_cast<int>(data_.values.size()));
            for (const auto& r : data_.values) {
                auto* row = new QBarDataRow(static_cast<int>(r.size()));
                for (std::size_t c = 0; c < r.size(); ++c)
                    (*row)[static_cast<int>(c)].setValue(static_cast<float>(r[c]));
                rows->append(row);
            }
            QStringList rowLabels, columnLabels;
            for (const auto& l : data_.rowLabels) rowLabels << l;
            for (const auto& l : data_.columnLabels) columnLabels << l;
            barSeries_->dataProxy()->resetArray(rows, rowLabels, columnLabels);
            double lo = 0, hi = 0;
            for (const auto& r : data_.values) {
                for (double v : r) {
                    lo = std::min(lo, v);
                    hi = std::max(hi, v);
                }
            }
            bars_->valueAxis()->setRange(static_cast<float>(lo), static_cast<float>(hi > lo ? hi : lo + 1));
            stack_->setCurrentWidget(barsContainer_);
        }
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
            const double xpad = std::max((*xmax - *xmin) * 0.03, 1.0);
            const double ypad = std::max((*ymax - *ymin) * 0.08, 1.0);
            axisX_->setRange(*xmin - xpad, *xmax + xpad);
            axisY_->setRange(*ymin - ypad, *ymax + ypad);
        }
        stack_->setCurrentWidget(chartView_);
    }
    setUpdatesEnabled(true);
}

void MapChartView::ShowOperatingPoint(double x) {
    if (data_.bars || data_.x.empty()) return;
    opSeries_->replace(QList<QPointF>{QPointF(x, CurveAt(data_.x, data_.y, x))});
}

void MapChartView::HideOperatingPoint() { opSeries_->replace(QList<QPointF>{}); }

bool MapChartView::ShowsCurve() const { return stack_->currentWidget() == chartView_; }
bool MapChartView::ShowsBars() const { return barsContainer_ != nullptr && stack_->currentWidget() == barsContainer_; }
bool MapChartView::ShowsFallback() const { return stack_->currentWidget() == fallback_; }

} // namespace kv
