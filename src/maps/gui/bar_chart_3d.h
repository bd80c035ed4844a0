#pragma once
// A three-dimensional bar chart of a map (rows x columns of values), drawn with the painter: one
// bar per cell, coloured by its value on the maps' colour scale, seen from above at an angle
// that the user turns by dragging (left button), with the wheel to zoom and a double-click to
// return to the first view. Column labels run along the front edge of the floor, row labels
// along its side and the values up a scale at the corner; a label that would overlap one already
// drawn is left out. Needs no OpenGL, so it draws on every display and costs no more memory than
// its values.
#include <QColor>
#include <QPolygonF>
#include <QString>
#include <QWidget>

#include <utility>
#include <vector>

namespace kv {

class BarChart3D final : public QWidget {
    Q_OBJECT
public:
    explicit BarChart3D(QWidget* parent = nullptr);

    // values[row][column]; rows of unequal length are cut to the shortest.
    void SetData(std::vector<std::vector<double>> values, std::vector<QString> rowLabels,
                 std::vector<QString> columnLabels);
    // The titles of the column axis (drawn beyond the column labels) and of the row axis.
    void SetAxisTitles(QString columnTitle, QString rowTitle);
    int RowCount() const { return static_cast<int>(values_.size()); }
    int ColumnCount() const { return values_.empty() ? 0 : static_cast<int>(values_.front().size()); }

    // The view: turned about the vertical axis and tilted down towards the floor, in degrees.
    static constexpr double kFirstAzimuth = 30.0;
    static constexpr double kFirstElevation = 32.0;
    double Azimuth() const { return azimuth_; }
    double Elevation() const { return elevation_; }
    void SetView(double azimuth, double elevation);
    void ResetView();

    // Where the centre of the top of bar (row, column) is drawn, in widget pixels, and its colour.
    QPointF TopCentre(int row, int column) const;
    QColor BarColour(int row, int column) const;
    // The label boxes drawn by the last paint, in widget pixels.
    const std::vector<QRectF>& LabelRects() const { return labelRects_; }
    // The axis title boxes drawn by the last paint (also among the label boxes).
    const std::vector<QRectF>& TitleRects() const { return titleRects_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    struct Point3 {
        double x, y, z;
    };
    // World: bar (r, c) stands on the floor square [c, c + 1] x [r, r + 1] (centred on the
    // origin), from the base height to its value's height.
    double Height(double value) const;
    QPointF Rotated(const Point3& p) const; // before scaling: screen x, screen y (down)
    double Depth(const Point3& p) const;    // larger = farther from the viewer
    QPointF Project(const Point3& p) const; // widget pixels
    void Fit();                             // scale and offset for the widget's size and zoom
    void DrawBar(QPainter& painter, int row, int column);
    void DrawAxes(QPainter& painter);
    bool PlaceLabel(QPainter& painter, const QString& text, QPointF anchor, QPointF outward);
    QString ValueText(int row, int column) const;

    std::vector<std::vector<double>> values_;
    std::vector<QString> rowLabels_, columnLabels_;
    double low_ = 0.0, high_ = 1.0, base_ = 0.0, heightScale_ = 1.0;
    double azimuth_ = kFirstAzimuth, elevation_ = kFirstElevation, zoom_ = 1.0;
    double scale_ = 1.0;
    QPointF offset_;
    // Places a title beyond the labels of the edge at `anchor`, as near as it fits.
    void PlaceTitle(QPainter& painter, const QString& title, QPointF anchor, QPointF outward);

    std::vector<QRectF> labelRects_;
    std::vector<QRectF> titleRects_;
    QString columnTitle_, rowTitle_;
    struct DrawnBar {
        std::vector<QPolygonF> faces; // as drawn
        QString tip;                  // its labels and value
    };
    std::vector<DrawnBar> drawn_; // in drawing order: the front last
    QPoint dragFrom_;
    bool dragging_ = false;
};

} // namespace kv
