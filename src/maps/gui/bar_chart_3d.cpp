#include "maps/gui/bar_chart_3d.h"

#include "maps/heat_colours.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace kv {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGap = 0.12;        // floor margin of a bar within its cell
constexpr double kLabelMargin = 8.0; // pixels between the floor and its labels
constexpr double kFrame = 56.0;      // pixels kept free around the chart for the labels
constexpr QColor kBackdrop(0xF4, 0xF4, 0xF0);
constexpr QColor kFloor(0xE2, 0xE2, 0xDC);
constexpr QColor kLines(0x70, 0x70, 0x70);

double Radians(double degrees) { return degrees * kPi / 180.0; }

// Round tick spacing (1, 2 or 5 times a power of ten) giving about `count` ticks over `span`.
double NiceStep(double span, int count) {
    if (!(span > 0)) return 1.0;
    const double raw = span / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10.0 * power;
}

QString Number(double v) {
    if (std::fabs(v) < 1e-9) v = 0.0;
    return QString::number(v, 'g', 6);
}

} // namespace

BarChart3D::BarChart3D(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(200, 160);
    setFocusPolicy(Qt::ClickFocus);
}

void BarChart3D::SetData(std::vector<std::vector<double>> values, std::vector<QString> rowLabels,
                         std::vector<QString> columnLabels) {
    std::size_t columns = values.empty() ? 0 : values.front().size();
    for (const auto& row : values) columns = std::min(columns, row.size());
    for (auto& row : values) row.resize(columns);
    values_ = std::move(values);
    rowLabels_ = std::move(rowLabels);
    columnLabels_ = std::move(columnLabels);
    low_ = std::numeric_limits<double>::infinity();
    high_ = -std::numeric_limits<double>::infinity();
    for (const auto& row : values_)
        for (double v : row) {
            low_ = std::min(low_, v);
            high_ = std::max(high_, v);
        }
    if (!(low_ <= high_)) low_ = high_ = 0.0;
    // Bars grow from 0 when the values reach it; otherwise from a little below the lowest value,
    // so that the differences show (the scale at the corner tells the values).
    base_ = (low_ <= 0.0 && high_ >= 0.0) ? 0.0 : (high_ > low_ ? low_ - 0.1 * (high_ - low_) : low_ - 1.0);
    const double span = std::max(high_, base_) - std::min(low_, base_);
    const double extent = std::max(static_cast<double>(std::max(RowCount(), ColumnCount())), 1.0);
    heightScale_ = span > 0 ? 0.55 * extent / span : 1.0;
    update();
}

void BarChart3D::SetView(double azimuth, double elevation) {
    azimuth_ = std::fmod(azimuth, 360.0);
    elevation_ = std::clamp(elevation, 5.0, 85.0);
    update();
}

void BarChart3D::ResetView() {
    zoom_ = 1.0;
    SetView(kFirstAzimuth, kFirstElevation);
}

double BarChart3D::Height(double value) const { return (value - base_) * heightScale_; }

QPointF BarChart3D::Rotated(const Point3& p) const {
    const double a = Radians(azimuth_), e = Radians(elevation_);
    const double x = p.x * std::cos(a) - p.y * std::sin(a);
    const double depth = p.x * std::sin(a) + p.y * std::cos(a);
    return {x, -(p.z * std::cos(e) + depth * std::sin(e))};
}

double BarChart3D::Depth(const Point3& p) const {
    const double a = Radians(azimuth_), e = Radians(elevation_);
    return (p.x * std::sin(a) + p.y * std::cos(a)) * std::cos(e) - p.z * std::sin(e);
}

QPointF BarChart3D::Project(const Point3& p) const { return Rotated(p) * scale_ + offset_; }

void BarChart3D::Fit() {
    const double cx = ColumnCount() / 2.0, cy = RowCount() / 2.0;
    double x0 = std::numeric_limits<double>::infinity(), x1 = -x0, y0 = x0, y1 = -x0;
    const double zs[] = {Height(std::min(low_, base_)), Height(std::max(high_, base_))};
    for (double x : {-cx, cx})
        for (double y : {-cy, cy})
            for (double z : zs) {
                const QPointF q = Rotated({x, y, z});
                x0 = std::min(x0, q.x());
                x1 = std::max(x1, q.x());
                y0 = std::min(y0, q.y());
                y1 = std::max(y1, q.y());
            }
    const double w = std::max(width() - 2 * kFrame, 40.0), h = std::max(height() - 2 * kFrame, 40.0);
    const double bw = std::max(x1 - x0, 1e-6), bh = std::max(y1 - y0, 1e-6);
    scale_ = std::min(w / bw, h / bh) * zoom_;
    offset_ = QPointF(width() / 2.0 - (x0 + x1) / 2.0 * scale_, height() / 2.0 - (y0 + y1) / 2.0 * scale_);
}

QPointF BarChart3D::TopCentre(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
    const double cx = ColumnCount() / 2.0, cy = RowCount() / 2.0;
    const double top = std::max(Height(values_[row][column]), Height(base_));
    return Project({column + 0.5 - cx, row + 0.5 - cy, top});
}

QColor BarChart3D::BarColour(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 || column >= ColumnCount()) return {};
    const Rgb c = HeatColour(values_[row][column], low_, high_);
    return {c.r, c.g, c.b};
}

QString BarChart3D::ValueText(int row, int column) const {
    const QString r = row < static_cast<int>(rowLabels_.size()) ? rowLabels_[row] : QString::number(row + 1);
    const QString c =
        column < static_cast<int>(columnLabels_.size()) ? columnLabels_[column] : QString::number(column + 1);
    return QString("%1 / %2: %3").arg(r, c, Number(values_[row][column]));
}

void BarChart3D::DrawBar(QPainter& painter, int row, int column) {
    const double cx = ColumnCount() / 2.0, cy = RowCount() / 2.0;
    const double x0 = column + kGap - cx, x1 = column + 1 - kGap - cx;
    const double y0 = row + kGap - cy, y1 = row + 1 - kGap - cy;
    const double za = Height(base_), zb = Height(values_[row][column]);
    const double lo = std::min(za, zb), hi = std::max(za, zb);
    const QColor colour = BarColour(row, column);
    auto face = [&](std::initializer_list<Point3> corners, const QColor& fill) {
        QPolygonF poly;
        for (const Point3& p : corners) poly << Project(p);
        painter.setBrush(fill);
        painter.drawPolygon(poly);
        return poly;
    };
    const double a = Radians(azimuth_);
    // The side faces that turn towards the viewer: +x when sin(a) < 0, -x otherwise; +y when
    // cos(a) < 0, -y otherwise.
    const double fx = std::sin(a) < 0 ? x1 : x0;
    const double fy = std::cos(a) < 0 ? y1 : y0;
    painter.setPen(QPen(colour.darker(160), 0));
    DrawnBar drawn;
    drawn.faces.push_back(face({{fx, y0, lo}, {fx, y1, lo}, {fx, y1, hi}, {fx, y0, hi}}, colour.darker(135)));
    drawn.faces.push_back(face({{x0, fy, lo}, {x1, fy, lo}, {x1, fy, hi}, {x0, fy, hi}}, colour.darker(115)));
    drawn.faces.push_back(face({{x0, y0, hi}, {x1, y0, hi}, {x1, y1, hi}, {x0, y1, hi}}, colour));
    drawn.tip = ValueText(row, column);
    drawn_.push_back(std::move(drawn));
}

bool BarChart3D::PlaceLabel(QPainter& painter, const QString& text, QPointF anchor, QPointF outward) {
    const QFontMetricsF metrics(painter.font());
    QRectF box = metrics.boundingRect(text).adjusted(-2, -1, 2, 1);
    const double len = std::hypot(outward.x(), outward.y());
    const QPointF dir = len > 0 ? outward / len : QPointF(0, 1);
    // The box sits beyond the anchor in the outward direction, touching it with its near side.
    const QPointF centre =
        anchor + dir * kLabelMargin + QPointF(dir.x() * box.width() / 2.0, dir.y() * box.height() / 2.0);
    box.moveCenter(centre);
    if (!rect().toRectF().contains(box)) return false;
    for (const QRectF& placed : labelRects_)
        if (placed.intersects(box)) return false;
    labelRects_.push_back(box);
    painter.drawText(box, Qt::AlignCenter, text);
    return true;
}

void BarChart3D::SetAxisTitles(QString columnTitle, QString rowTitle) {
    columnTitle_ = std::move(columnTitle);
    rowTitle_ = std::move(rowTitle);
    update();
}

void BarChart3D::PlaceTitle(QPainter& painter, const QString& title, QPointF anchor, QPointF outward) {
    if (title.isEmpty()) return;
    const double len = std::hypot(outward.x(), outward.y());
    const QPointF dir = len > 0 ? outward / len : QPointF(0, 1);
    painter.save();
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    // Out from the edge until it is clear of the labels there.
    for (double d = 0.0; d < 200.0; d += 4.0) {
        if (PlaceLabel(painter, title, anchor + dir * d, outward)) {
            titleRects_.push_back(labelRects_.back());
            break;
        }
    }
    painter.restore();
}

void BarChart3D::DrawAxes(QPainter& painter) {
    const double cx = ColumnCount() / 2.0, cy = RowCount() / 2.0;
    const double floorZ = Height(std::min(low_, base_));
    const QPointF centre = Project({0, 0, floorZ});
    painter.setPen(QPen(kLines, 1));
    painter.setBrush(Qt::NoBrush);

    // The floor edges nearest the viewer carry the labels.
    const double yFront = Depth({0, -cy, 0}) < Depth({0, cy, 0}) ? -cy : cy;
    const double xFront = Depth({-cx, 0, 0}) < Depth({cx, 0, 0}) ? -cx : cx;
    painter.drawLine(Project({-cx, yFront, floorZ}), Project({cx, yFront, floorZ}));
    painter.drawLine(Project({xFront, -cy, floorZ}), Project({xFront, cy, floorZ}));
    for (int c = 0; c < ColumnCount() && c < static_cast<int>(columnLabels_.size()); ++c) {
        const QPointF at = Project({c + 0.5 - cx, yFront, floorZ});
        PlaceLabel(painter, columnLabels_[c], at, at - centre);
    }
    for (int r = 0; r < RowCount() && r < static_cast<int>(rowLabels_.size()); ++r) {
        const QPointF at = Project({xFront, r + 0.5 - cy, floorZ});
        PlaceLabel(painter, rowLabels_[r], at, at - centre);
    }
    const QPointF columnEdge = Project({0, yFront, floorZ});
    const QPointF rowEdge = Project({xFront, 0, floorZ});
    PlaceTitle(painter, columnTitle_, columnEdge, columnEdge - centre);
    PlaceTitle(painter, rowTitle_, rowEdge, rowEdge - centre);

    // The value scale stands at the floor corner drawn furthest left.
    QPointF corner;
    Point3 cornerWorld{0, 0, 0};
    double leftmost = std::numeric_limits<double>::infinity();
    for (double x : {-cx, cx})
        for (double y : {-cy, cy}) {
            const QPointF q = Project({x, y, floorZ});
            if (q.x() < leftmost) {
                leftmost = q.x();
                corner = q;
                cornerWorld = {x, y, 0};
            }
        }
    const double top = std::max(high_, base_), bottom = std::min(low_, base_);
    const QPointF axisTop = Project({cornerWorld.x, cornerWorld.y, Height(top)});
    painter.drawLine(corner, axisTop);
    const double step = NiceStep(top - bottom, 5);
    for (double v = std::ceil(bottom / step) * step; v <= top + step * 1e-9; v += step) {
        const QPointF at = Project({cornerWorld.x, cornerWorld.y, Height(v)});
        painter.drawLine(at, at + QPointF(-4, 0));
        PlaceLabel(painter, Number(v), at + QPointF(-4, 0), QPointF(-1, 0));
    }
}

void BarChart3D::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), kBackdrop);
    labelRects_.clear();
    titleRects_.clear();
    drawn_.clear();
    if (RowCount() == 0 || ColumnCount() == 0) return;
    Fit();
    const double cx = ColumnCount() / 2.0, cy = RowCount() / 2.0;
    const double floorZ = Height(std::min(low_, base_));
    painter.setPen(Qt::NoPen);
    painter.setBrush(kFloor);
    painter.drawPolygon(QPolygonF{Project({-cx, -cy, floorZ}), Project({cx, -cy, floorZ}), Project({cx, cy, floorZ}),
                                  Project({-cx, cy, floorZ})});
    // Far bars first, so that nearer ones cover them.
    std::vector<std::pair<double, std::pair<int, int>>> order;
    for (int r = 0; r < RowCount(); ++r)
        for (int c = 0; c < ColumnCount(); ++c) order.push_back({Depth({c + 0.5 - cx, r + 0.5 - cy, 0}), {r, c}});
    std::sort(order.begin(), order.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [depth, cell] : order) DrawBar(painter, cell.first, cell.second);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setPen(Qt::black);
    DrawAxes(painter);
}

void BarChart3D::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = true;
        dragFrom_ = event->position().toPoint();
    }
}

void BarChart3D::mouseMoveEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        const QPoint d = at - dragFrom_;
        dragFrom_ = at;
        SetView(azimuth_ - d.x() * 0.5, elevation_ + d.y() * 0.3);
        return;
    }
    dragging_ = false;
    // The value of the bar under the pointer: the nearest one drawn there.
    for (auto it = drawn_.rbegin(); it != drawn_.rend(); ++it) {
        for (const QPolygonF& face : it->faces) {
            if (face.containsPoint(QPointF(at), Qt::OddEvenFill)) {
                QToolTip::showText(event->globalPosition().toPoint(), it->tip, this);
                return;
            }
        }
    }
    QToolTip::hideText();
}

void BarChart3D::mouseDoubleClickEvent(QMouseEvent*) { ResetView(); }

void BarChart3D::wheelEvent(QWheelEvent* event) {
    const double steps = event->angleDelta().y() / 120.0;
    zoom_ = std::clamp(zoom_ * std::pow(1.15, steps), 0.5, 4.0);
    update();
}

} // namespace kv
