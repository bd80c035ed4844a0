#include "datalog/log_scatter.h"

#include "datalog/log_catalogue.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kv {

namespace {

static_assert(kScatterColourSteps <= 16, "a pixel's colour steps are kept in 16 bits");

std::optional<std::size_t> IndexOf(const std::vector<std::string>& names, const std::string& name) {
    const auto it = std::find(names.begin(), names.end(), name);
    if (it == names.end()) return std::nullopt;
    return static_cast<std::size_t>(it - names.begin());
}

// The first name that is `header` itself or `header` told apart by its unit ("RPM (fuel)").
std::optional<std::string> NameOfHeader(const std::vector<std::string>& names, const std::string& header) {
    for (const std::string& name : names) {
        if (name == header || (name.size() > header.size() + 2 && name.starts_with(header + " ("))) return name;
    }
    return std::nullopt;
}

// The pixel of `v` in [lo, hi] shown by `pixels` pixels; nullopt outside.
std::optional<std::size_t> PixelOf(double v, double lo, double hi, int pixels) {
    if (!(v >= lo && v <= hi)) return std::nullopt;
    const double span = hi - lo;
    if (!(span > 0)) return 0;
    const auto p = static_cast<std::size_t>((v - lo) / span * pixels);
    return std::min(p, static_cast<std::size_t>(pixels - 1));
}

} // namespace

ScatterAxes DefaultScatterAxes(const std::vector<std::string>& names) {
    std::vector<std::string> others;
    for (const std::string& name : names) {
        if (name != kTimeHeader) others.push_back(name);
    }
    if (others.empty()) others = names;
    std::array<std::optional<std::string>, 3> chosen = {
        NameOfHeader(names, kRpmHeader), NameOfHeader(names, kMafHeader), NameOfHeader(names, kAfrHeader)};
    // A variable the runs lack: the first other name not chosen yet, else the first other name.
    for (auto& axis : chosen) {
        if (axis || others.empty()) continue;
        const auto unused = std::find_if(others.begin(), others.end(), [&](const std::string& name) {
            return std::none_of(chosen.begin(), chosen.end(), [&](const auto& c) { return c == name; });
        });
        axis = unused != others.end() ? *unused : others.front();
    }
    return ScatterAxes{chosen[0].value_or(""), chosen[1].value_or(""), chosen[2].value_or("")};
}

Rgb ScatterStepColour(int step) {
    // Hue from 240 degrees (blue) down to 0 (red), full saturation and value.
    const int last = kScatterColourSteps - 1;
    const double hue = 240.0 * static_cast<double>(last - std::clamp(step, 0, last)) / last;
    const double h = hue / 60.0;
    const double x = 1.0 - std::fabs(std::fmod(h, 2.0) - 1.0);
    double r = 0, g = 0, b = 0;
    if (h < 1) {
        r = 1, g = x;
    } else if (h < 2) {
        r = x, g = 1;
    } else if (h < 3) {
        g = 1, b = x;
    } else {
        g = x, b = 1;
    }
    const auto byte = [](double v) { return static_cast<std::uint8_t>(std::lround(v * 255.0)); };
    return Rgb{byte(r), byte(g), byte(b)};
}

ScatterData::ScatterData(const std::vector<PlotRun>& runs, const ScatterAxes& axes) : axes_(axes) {
    for (std::size_t r = 0; r < runs.size(); ++r) {
        const PlotRun& run = runs[r];
        const auto names = VariableNames(run.headers);
        const auto x = IndexOf(names, axes.x), y = IndexOf(names, axes.y), c = IndexOf(names, axes.colour);
        if (!x || !y || !c) continue;
        for (std::size_t row = 0; row < run.Rows(); ++row) {
            const ScatterPoint p{run.Value(row, *x), run.Value(row, *y), run.Value(row, *c), r, row};
            if (std::isnan(p.x) || std::isnan(p.y) || std::isnan(p.colour)) continue;
            points_.push_back(p);
        }
    }
    if (points_.empty()) return;
    std::vector<double> colours;
    colours.reserve(points_.size());
    for (const ScatterPoint& p : points_) colours.push_back(p.colour);
    const std::size_t last = colours.size() - 1;
    const auto low = static_cast<std::size_t>(std::floor(kScatterColourTail * static_cast<double>(last)));
    const auto high = static_cast<std::size_t>(std::ceil((1.0 - kScatterColourTail) * static_cast<double>(last)));
    std::nth_element(colours.begin(), colours.begin() + static_cast<std::ptrdiff_t>(low), colours.end());
    colourMin_ = colours[low];
    std::nth_element(colours.begin(), colours.begin() + static_cast<std::ptrdiff_t>(high), colours.end());
    colourMax_ = colours[high];
}

std::optional<PlotBounds> ScatterData::Bounds() const {
    if (points_.empty()) return std::nullopt;
    PlotBounds b{points_[0].x, points_[0].x, points_[0].y, points_[0].y};
    for (const ScatterPoint& p : points_) {
        b.xMin = std::min(b.xMin, p.x);
        b.xMax = std::max(b.xMax, p.x);
        b.yMin = std::min(b.yMin, p.y);
        b.yMax = std::max(b.yMax, p.y);
    }
    return b;
}

int ScatterData::ColourStep(double colour) const {
    const double span = colourMax_ - colourMin_;
    if (!(span > 0)) return 0;
    const double share = std::clamp((colour - colourMin_) / span, 0.0, 1.0);
    return std::min(static_cast<int>(share * kScatterColourSteps), kScatterColourSteps - 1);
}

std::array<std::vector<ChartPoint>, kScatterColourSteps> ScatterData::InView(const ScatterView& view, int width,
                                                                             int height) const {
    std::array<std::vector<ChartPoint>, kScatterColourSteps> steps;
    if (width < 1 || height < 1) return steps;
    // Per pixel, a bit per colour step that already has a point there.
    std::vector<std::uint16_t> taken(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), 0);
    for (const ScatterPoint& p : points_) {
        const auto px = PixelOf(p.x, view.xMin, view.xMax, width);
        if (!px) continue;
        const auto py = PixelOf(p.y, view.yMin, view.yMax, height);
        if (!py) continue;
        const int step = ColourStep(p.colour);
        const auto bit = static_cast<std::uint16_t>(1u << step);
        std::uint16_t& cell = taken[*py * static_cast<std::size_t>(width) + *px];
        if (cell & bit) continue;
        cell = static_cast<std::uint16_t>(cell | bit);
        steps[static_cast<std::size_t>(step)].push_back(ChartPoint{p.x, p.y});
    }
    return steps;
}

std::optional<std::size_t> ScatterData::Nearest(double x, double y, const ScatterView& view, int width, int height,
                                                double reach) const {
    const double xSpan = view.xMax - view.xMin, ySpan = view.yMax - view.yMin;
    if (!(xSpan > 0) || !(ySpan > 0) || width < 1 || height < 1) return std::nullopt;
    const double xScale = width / xSpan, yScale = height / ySpan;
    std::optional<std::size_t> best;
    double bestSquared = reach * reach;
    for (std::size_t i = 0; i < points_.size(); ++i) {
        const double dx = (points_[i].x - x) * xScale, dy = (points_[i].y - y) * yScale;
        const double squared = dx * dx + dy * dy;
        if (squared <= bestSquared) {
            if (best && squared == bestSquared) continue;
            bestSquared = squared;
            best = i;
        }
    }
    return best;
}

} // namespace kv
