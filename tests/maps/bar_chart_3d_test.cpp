// The painted 3-D bar chart of a map: bars in their value colours where they are said to be,
// higher values drawn higher, near bars covering far ones, labels that never overlap, and the
// view turned by the mouse.
#include "maps/gui/bar_chart_3d.h"

#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

namespace kv {
namespace {

QImage Picture(BarChart3D& chart) { return chart.grab().toImage(); }

std::vector<QString> Labels(const char* prefix, int n) {
    std::vector<QString> out;
    for (int i = 0; i < n; ++i) out.push_back(QString("%1%2").arg(prefix).arg(i));
    return out;
}

struct ChartFixture : ::testing::Test {
    ChartFixture() {
        chart.resize(640, 480);
        chart.show();
    }
    BarChart3D chart;
};

TEST_F(ChartFixture, EachBarTopShowsItsValueColourAndHigherValuesStandHigher) {
    // Values rise towards the back rows, so that no top is hidden behind a nearer bar.
    chart.SetData({{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, Labels("r", 3), Labels("c", 3));
    for (const auto& [azimuth, elevation] : {std::pair{30.0, 32.0}, std::pair{-40.0, 60.0}}) {
        chart.SetView(azimuth, elevation);
        const QImage picture = Picture(chart);
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c)
                ASSERT_TRUE(picture.rect().contains(chart.TopCentre(r, c).toPoint())) << r << "," << c;
        // The highest bar's top is never covered.
        EXPECT_EQ(picture.pixelColor(chart.TopCentre(2, 2).toPoint()), chart.BarColour(2, 2));
        EXPECT_LT(chart.TopCentre(2, 2).y(), chart.TopCentre(0, 0).y()) << "the highest value stands highest";
    }
    EXPECT_NE(chart.BarColour(0, 0), chart.BarColour(2, 2));
}

TEST_F(ChartFixture, NearBarsCoverFarOnes) {
    // One row of bars seen from the side a little: each bar's top is visible unless a nearer,
    // taller bar stands in front of it.
    chart.SetData({{1}, {1}}, Labels("r", 2), Labels("c", 1));
    chart.SetView(0.0, 10.0); // looking along the rows: row 0 is in front of row 1
    QImage picture = Picture(chart);
    EXPECT_EQ(picture.pixelColor(chart.TopCentre(1, 0).toPoint()), chart.BarColour(1, 0))
        << "bars of equal height: the far top shows above the near one";
    chart.SetData({{9}, {1}}, Labels("r", 2), Labels("c", 1));
    picture = Picture(chart);
    EXPECT_NE(picture.pixelColor(chart.TopCentre(1, 0).toPoint()), chart.BarColour(1, 0))
        << "the tall near bar hides the low far one";
    EXPECT_EQ(picture.pixelColor(chart.TopCentre(0, 0).toPoint()), chart.BarColour(0, 0));
}

TEST_F(ChartFixture, LabelsOfALargeMapNeverOverlapAndStayInside) {
    std::vector<std::vector<double>> values(16, std::vector<double>(16));
    for (int r = 0; r < 16; ++r)
        for (int c = 0; c < 16; ++c) values[r][c] = (r - 8) * (c - 8) / 4.0;
    chart.SetData(values, Labels("load ", 16), Labels("rpm ", 16));
    for (const auto& [w, h] : {std::pair{640, 480}, std::pair{320, 240}}) {
        chart.resize(w, h);
        (void)Picture(chart);
        const auto& rects = chart.LabelRects();
        ASSERT_GE(rects.size(), 8u) << w;
        for (std::size_t i = 0; i < rects.size(); ++i) {
            EXPECT_TRUE(chart.rect().toRectF().contains(rects[i])) << w << " label " << i;
            for (std::size_t j = i + 1; j < rects.size(); ++j)
                EXPECT_FALSE(rects[i].intersects(rects[j])) << w << " labels " << i << " and " << j;
        }
    }
}

TEST_F(ChartFixture, DraggingTurnsTheViewAndADoubleClickReturnsToTheFirst) {
    chart.SetData({{1, 2}, {3, 4}}, Labels("r", 2), Labels("c", 2));
    const QPointF before = chart.TopCentre(0, 0);
    QTest::mousePress(&chart, Qt::LeftButton, {}, QPoint(300, 200));
    QMouseEvent move(QEvent::MouseMove, QPointF(340, 230), chart.mapToGlobal(QPointF(340, 230)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&chart, &move);
    QTest::mouseRelease(&chart, Qt::LeftButton, {}, QPoint(340, 230));
    EXPECT_DOUBLE_EQ(chart.Azimuth(), BarChart3D::kFirstAzimuth - 20.0);
    EXPECT_DOUBLE_EQ(chart.Elevation(), BarChart3D::kFirstElevation + 9.0);
    (void)Picture(chart);
    EXPECT_NE(chart.TopCentre(0, 0), before);
    QTest::mouseDClick(&chart, Qt::LeftButton, {}, QPoint(300, 200));
    EXPECT_DOUBLE_EQ(chart.Azimuth(), BarChart3D::kFirstAzimuth);
    EXPECT_DOUBLE_EQ(chart.Elevation(), BarChart3D::kFirstElevation);
    chart.SetView(0, 200); // the tilt stays between looking along the floor and straight down
    EXPECT_DOUBLE_EQ(chart.Elevation(), 85.0);
}

} // namespace
} // namespace kv
