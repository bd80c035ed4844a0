#pragma once
// The log chart's scatter view: one variable against another as points, each coloured by a third
// variable's value. The points of every plotted run that holds all three variables (rows with a
// value that is not a number left out), the colour scale from the third variable's lowest to its
// highest value in a few steps, the points a view needs (one per pixel and colour step), and the
// point nearest to the mouse pointer.
#include "datalog/log_chart.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

// The three variables of a scatter plot, by their names in the chart's lists (VariableNames).
struct ScatterAxes {
    std::string x, y, colour;
    friend bool operator==(const ScatterAxes&, const ScatterAxes&) = default;
};

// The tuner's classic among `names` (engine speed against the air-flow meter's signal, coloured by
// the air/fuel ratio), each by the first name of that header; for a variable the runs lack, the first
// name other than the time that is not chosen yet.
ScatterAxes DefaultScatterAxes(const std::vector<std::string>& names);

inline constexpr int kScatterColourSteps = 16;
inline constexpr double kScatterColourTail = 0.02; // the share of points beyond each end of the scale

struct Rgb {
    std::uint8_t r, g, b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// The colour of step 0 (lowest values: blue) to kScatterColourSteps - 1 (highest: red), through
// cyan, green and yellow.
Rgb ScatterStepColour(int step);

struct ScatterPoint {
    double x, y, colour;
    std::size_t run, row;
};

// A view's value range.
struct ScatterView {
    double xMin, xMax, yMin, yMax;
};

class ScatterData {
public:
    // The points of `runs` over the variables of `axes`.
    ScatterData(const std::vector<PlotRun>& runs, const ScatterAxes& axes);

    const ScatterAxes& Axes() const { return axes_; }
    const std::vector<ScatterPoint>& Points() const { return points_; }
    // The bounds of all points; nullopt when there is none.
    std::optional<PlotBounds> Bounds() const;
    // The ends of the colour scale: the colour variable's values that 2 % of the points lie below
    // and 2 % above (by rank), so that a few stray values (a sensor warming up) do not squeeze the
    // rest into one colour; 0 and 0 without points.
    double ColourMin() const { return colourMin_; }
    double ColourMax() const { return colourMax_; }
    // The colour step of a colour value: its share of the way from ColourMin to ColourMax, in
    // kScatterColourSteps equal steps (ColourMax and above in the last, ColourMin and below in the
    // first); all in step 0 when the scale has no width.
    int ColourStep(double colour) const;

    // Per colour step, the points inside `view` (edges included) as a picture of `width` x `height`
    // pixels shows them: of the points of one step that fall on one pixel only the first.
    std::array<std::vector<ChartPoint>, kScatterColourSteps> InView(const ScatterView& view, int width,
                                                                    int height) const;

    // The index of the point nearest to (x, y) measured in pixels of `view` shown at `width` x
    // `height`, when it is at most `reach` pixels away.
    std::optional<std::size_t> Nearest(double x, double y, const ScatterView& view, int width, int height,
                                       double reach) const;

private:
    ScatterAxes axes_;
    std::vector<ScatterPoint> points_;
    double colourMin_ = 0.0, colourMax_ = 0.0;
};

} // namespace kv
