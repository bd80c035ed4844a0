// The scatter view's data: which points, their colour steps, what a view of so many pixels needs,
// and the point nearest to the pointer.
#include "datalog/log_scatter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(ScatterAxesTest, DefaultsToSpeedAgainstAirFlowColouredByMixture) {
    struct Case {
        const char* what;
        std::vector<std::string> names;
        ScatterAxes expected;
    };
    const Case cases[] = {
        {"fuel unit's run", {"Time [s]", "RPM", "Load", "MAF signal", "A/F ratio"}, {"RPM", "MAF signal", "A/F ratio"}},
        {"both units log the speed and the mixture",
         {"Time [s]", "RPM (fuel)", "MAF signal", "A/F ratio (fuel)", "RPM (ignition)", "A/F ratio (ignition)"},
         {"RPM (fuel)", "MAF signal", "A/F ratio (fuel)"}},
        {"no air-flow signal: the others in order, the time left out",
         {"Time [s]", "Coolant", "RPM", "Load"},
         {"RPM", "Coolant", "Load"}},
        {"a found variable is not taken again",
         {"Time [s]", "MAF signal", "Load"},
         {"Load", "MAF signal", "MAF signal"}},
        {"ignition run without any of them", {"Time [s]", "Advance", "Knock"}, {"Advance", "Knock", "Advance"}},
        {"a header that only starts like one is not it", {"RPMx", "MAF signal"}, {"RPMx", "MAF signal", "RPMx"}},
        {"only the time", {"Time [s]"}, {"Time [s]", "Time [s]", "Time [s]"}},
    };
    for (const Case& c : cases) EXPECT_EQ(DefaultScatterAxes(c.names), c.expected) << c.what;
}

TEST(ScatterColourTest, StepsRunFromBlueThroughGreenToRed) {
    EXPECT_EQ(ScatterStepColour(0), (Rgb{0, 0, 255}));
    EXPECT_EQ(ScatterStepColour(kScatterColourSteps - 1), (Rgb{255, 0, 0}));
    // Half way (hue 120 at step 7.5): steps 7 and 8 are mostly green.
    for (int step : {7, 8}) {
        const Rgb c = ScatterStepColour(step);
        EXPECT_EQ(c.g, 255) << step;
        EXPECT_LT(c.r + c.b, 120) << step;
    }
    EXPECT_EQ(ScatterStepColour(-3), ScatterStepColour(0));
    EXPECT_EQ(ScatterStepColour(99), ScatterStepColour(kScatterColourSteps - 1));
}

// Two runs: RPM, MAF signal and A/F ratio with a NaN in each in turn; the second run's speed is the
// ignition unit's second "RPM" column.
std::vector<PlotRun> TwoRuns() {
    PlotRun first{"Run 1",
                  {"Time [s]", "RPM", "MAF signal", "A/F ratio"},
                  {{0.1, 0.2, 0.3, 0.4, 0.5},
                   {1000, kNaN, 3000, 4000, 5000},
                   {1.0, 2.0, kNaN, 4.0, 5.0},
                   {12.0, 13.0, 14.0, kNaN, 16.0}}};
    PlotRun second{"pull.txt",
                   {"Time [s]", "RPM", "MAF signal", "A/F ratio", "RPM"},
                   {{0.1, 0.2}, {1, 2}, {1.5, 2.5}, {11.0, 17.0}, {1500, 2500}}};
    return {first, second};
}

TEST(ScatterDataTest, TakesEveryRunsRowsWithAllThreeValues) {
    const auto runs = TwoRuns();
    const ScatterData data(runs, ScatterAxes{"RPM (fuel)", "MAF signal", "A/F ratio"});
    // Run 1 has no "RPM (fuel)" (its one "RPM" column is not told apart), so only pull.txt counts.
    ASSERT_EQ(data.Points().size(), 2u);
    EXPECT_EQ(data.Points()[0].x, 1);

    const ScatterData ignition(runs, ScatterAxes{"RPM (ignition)", "MAF signal", "A/F ratio"});
    ASSERT_EQ(ignition.Points().size(), 2u);
    EXPECT_EQ(ignition.Points()[1].x, 2500);
    EXPECT_EQ(ignition.Points()[1].y, 2.5);
    EXPECT_EQ(ignition.Points()[1].colour, 17.0);
    EXPECT_EQ(ignition.Points()[1].run, 1u);
    EXPECT_EQ(ignition.Points()[1].row, 1u);

    const ScatterData first(runs, ScatterAxes{"RPM", "MAF signal", "A/F ratio"});
    // Rows 1, 2 and 3 each miss one of the three values.
    ASSERT_EQ(first.Points().size(), 2u);
    EXPECT_EQ(first.Points()[0].row, 0u);
    EXPECT_EQ(first.Points()[1].row, 4u);
    EXPECT_EQ(first.ColourMin(), 12.0);
    EXPECT_EQ(first.ColourMax(), 16.0);
    const auto b = first.Bounds();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->xMin, 1000);
    EXPECT_EQ(b->xMax, 5000);
    EXPECT_EQ(b->yMin, 1.0);
    EXPECT_EQ(b->yMax, 5.0);

    const ScatterData none(runs, ScatterAxes{"RPM", "Load", "A/F ratio"});
    EXPECT_TRUE(none.Points().empty());
    EXPECT_FALSE(none.Bounds());
    EXPECT_EQ(none.ColourStep(14.0), 0);
}

TEST(ScatterDataTest, ColourStepIsTheValuesShareOfTheRange) {
    PlotRun run{"Run 1", {"X", "Y", "C"}, {{1, 2, 3}, {1, 2, 3}, {10.0, 26.0, 12.0}}};
    const ScatterData data({run}, ScatterAxes{"X", "Y", "C"});
    struct Case {
        double colour;
        int step;
    };
    const Case cases[] = {{10.0, 0},   {10.99, 0}, {11.0, 1}, {17.9, 7}, {18.0, 8},
                          {25.99, 15}, {26.0, 15}, {5.0, 0},  {30.0, 15}};
    for (const Case& c : cases) EXPECT_EQ(data.ColourStep(c.colour), c.step) << c.colour;

    // 100 mixtures from 12.0 to 14.97 and one stray 19.0 (the sensor warming up): the scale ends
    // at the values 2 % of the points lie beyond, the stray value takes the last step with them.
    PlotRun warming{"Run 1", {"X", "Y", "C"}, {{}, {}, {}}};
    for (int i = 0; i <= 100; ++i) {
        warming.columns[0].push_back(i);
        warming.columns[1].push_back(i);
        warming.columns[2].push_back(i == 0 ? 19.0 : 12.0 + 0.03 * (i - 1));
    }
    const ScatterData scale({warming}, ScatterAxes{"X", "Y", "C"});
    EXPECT_NEAR(scale.ColourMin(), 12.06, 1e-9); // two of the 101 below it
    EXPECT_NEAR(scale.ColourMax(), 14.94, 1e-9); // two above it, the stray one among them
    EXPECT_EQ(scale.ColourStep(19.0), 15);
    EXPECT_EQ(scale.ColourStep(12.0), 0);
    EXPECT_EQ(scale.ColourStep(13.4), 7); // (13.4 - 12.06) / 2.88 = 0.465

    PlotRun flat{"Run 1", {"X", "Y", "C"}, {{1, 2}, {1, 2}, {14.7, 14.7}}};
    const ScatterData one({flat}, ScatterAxes{"X", "Y", "C"});
    EXPECT_EQ(one.ColourStep(14.7), 0);
}

// A view of 0..10 x 0..10 shown 10 x 10 pixels: one pixel per unit.
TEST(ScatterDataTest, AViewKeepsOnePointPerPixelAndColourStep) {
    PlotRun run{"Run 1",
                {"X", "Y", "C"},
                {
                    {1.1, 1.9, 1.5, 1.5, 0.0, 10.0, 10.5, 5.0, -0.1},
                    {1.1, 1.5, 1.9, 1.2, 0.0, 10.0, 5.0, 10.01, 5.0},
                    {0.0, 0.0, 16.0, 0.1, 8.0, 8.0, 8.0, 8.0, 8.0},
                }};
    const ScatterData data({run}, ScatterAxes{"X", "Y", "C"});
    const auto steps = data.InView(ScatterView{0, 10, 0, 10}, 10, 10);
    // Pixel (1, 1): rows 0, 1 and 3 share step 0, only the first is kept; row 2 is step 15.
    EXPECT_EQ(steps[0], (std::vector<ChartPoint>{{1.1, 1.1}}));
    EXPECT_EQ(steps[15], (std::vector<ChartPoint>{{1.5, 1.9}}));
    // The view's corners are inside; rows beyond an edge are left out.
    EXPECT_EQ(steps[8], (std::vector<ChartPoint>{{0.0, 0.0}, {10.0, 10.0}}));
    std::size_t total = 0;
    for (const auto& s : steps) total += s.size();
    EXPECT_EQ(total, 4u);

    // Ten times the pixels: rows 0, 1 and 3 fall apart.
    const auto fine = data.InView(ScatterView{0, 10, 0, 10}, 100, 100);
    EXPECT_EQ(fine[0].size(), 3u);
    EXPECT_TRUE(data.InView(ScatterView{0, 10, 0, 10}, 0, 10)[0].empty());
}

TEST(ScatterDataTest, NearestPointIsMeasuredInPixels) {
    // X spans 1000 and Y 10 on a square picture: 100 in X is as far as 1 in Y.
    PlotRun run{"Run 1", {"X", "Y", "C"}, {{500, 540, 900}, {5.0, 5.6, 5.0}, {1, 2, 3}}};
    const ScatterData data({run}, ScatterAxes{"X", "Y", "C"});
    const ScatterView view{0, 1000, 0, 10};
    // (505, 5.55): row 0 is nearer in data units (5 against 35), row 1 in pixels (3.5 against 5.5).
    EXPECT_EQ(data.Nearest(505, 5.55, view, 100, 100, 20), std::optional<std::size_t>(1));
    EXPECT_EQ(data.Nearest(505, 5.0, view, 100, 100, 20), std::optional<std::size_t>(0));
    // About 38 pixels to the nearest: beyond a reach of 20 pixels.
    EXPECT_EQ(data.Nearest(700, 9.0, view, 100, 100, 20), std::nullopt);
    EXPECT_EQ(data.Nearest(700, 9.0, view, 100, 100, 60), std::optional<std::size_t>(1));
    EXPECT_EQ(data.Nearest(700, 9.0, ScatterView{0, 0, 0, 10}, 100, 100, 60), std::nullopt);
}

} // namespace

} // namespace kv
