#include "datalog/log_chart.h"

#include "datalog/log_run.h"
#include "fakes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

PlotRun MakeRun(std::string name, std::vector<std::string> headers, std::size_t rows) {
    PlotRun run{std::move(name), std::move(headers), {}};
    run.columns.resize(run.headers.size());
    for (std::size_t r = 0; r < rows; ++r) {
        for (std::size_t c = 0; c < run.headers.size(); ++c) run.columns[c].push_back(static_cast<double>(r * 10 + c));
    }
    return run;
}

std::vector<std::string> Labels(const std::vector<PlotEntry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.label);
    return out;
}

class LogChartTest : public ::testing::Test {
protected:
    void Save(const std::string& key, const std::string& value) { store.values[{"Chart", key}] = value; }
    std::string Saved(const std::string& key) { return store.GetSetting("Chart", key, "<missing>"); }

    MemorySettings store;
    ChartSettings settings{store};
};

TEST_F(LogChartTest, RefusesToOpenWithoutRunsOrSampleRows) {
    struct Case {
        const char* what;
        std::vector<PlotRun> runs;
        const char* message;
    };
    const Case cases[] = {
        {"no run", {}, "No data logs selected to plot"},
        {"header only", {MakeRun("Run 1", {"Time [s]", "RPM"}, 0)}, "Data log contains no data to plot"},
        {"no columns", {PlotRun{"Run 1", {}, {}}}, "Data log contains no data to plot"},
        {"a column shorter than the others",
         {PlotRun{"Run 1", {"Time [s]", "RPM"}, {{0.1, 0.2}, {800}}}},
         "Internal error"},
        {"fewer columns than headers", {PlotRun{"Run 1", {"Time [s]", "RPM"}, {{0.1, 0.2}}}}, "Internal error"},
        {"second run header only",
         {MakeRun("Run 1", {"Time [s]", "RPM"}, 3), MakeRun("Run 2", {"Time [s]", "RPM"}, 0)},
         "Data log contains no data to plot"},
    };
    for (const auto& c : cases) {
        const auto chart = LogChart::Open(c.runs, settings);
        EXPECT_FALSE(chart.Ok()) << c.what;
        EXPECT_EQ(chart.Error(), c.message) << c.what;
    }
    EXPECT_TRUE(LogChart::Open({MakeRun("Run 1", {"Time [s]", "RPM"}, 1)}, settings).Ok());
}

TEST_F(LogChartTest, XAxisDefaultsToTheSavedHeaderElseTime) {
    struct Case {
        const char* saved; // nullptr = never saved
        std::vector<std::string> headers;
        const char* x;
    };
    const Case cases[] = {
        {"RPM", {"Time [s]", "RPM", "Load"}, "RPM"},
        {"Boost", {"Time [s]", "RPM", "Load"}, "Time [s]"},
        {nullptr, {"Time [s]", "RPM", "Load"}, "Time [s]"},
        {"", {"Time [s]", "RPM"}, "Time [s]"},
        {"Boost", {"RPM", "Load"}, "RPM"},
    };
    for (const auto& c : cases) {
        store.values.clear();
        if (c.saved != nullptr) Save("DefaultXAxisVariable", c.saved);
        const auto chart = LogChart::Open({MakeRun("Run 1", c.headers, 2)}, settings);
        ASSERT_TRUE(chart.Ok());
        EXPECT_EQ(chart->XVariable(), c.x) << (c.saved ? c.saved : "(none)");
        EXPECT_EQ(chart->XAxisChoices(), c.headers);
    }
}

TEST_F(LogChartTest, PlotVariablesDefaultToTheSavedSlotsElseRpm) {
    struct Case {
        const char* what;
        std::vector<std::pair<int, std::string>> slots;
        std::vector<std::string> plotted;
    };
    const Case cases[] = {
        {"nothing saved", {}, {"RPM"}},
        {"saved slots in slot order", {{0, "Load"}, {3, "Time [s]"}}, {"Load", "Time [s]"}},
        {"slot 7 counts", {{7, "Load"}}, {"Load"}},
        {"unknown slot skipped", {{0, "Boost"}, {1, "Lambda"}}, {"Lambda"}},
        {"no saved header matches", {{0, "Boost"}, {1, "Knock"}}, {"RPM"}},
        {"same header twice", {{0, "Load"}, {1, "Load"}}, {"Load"}},
    };
    const std::vector<std::string> headers{"Time [s]", "RPM", "Load", "Lambda"};
    for (const auto& c : cases) {
        store.values.clear();
        for (const auto& [slot, text] : c.slots) Save("DefaultPlotVariable" + std::to_string(slot), text);
        const auto chart = LogChart::Open({MakeRun("Run 1", headers, 2)}, settings);
        ASSERT_TRUE(chart.Ok());
        EXPECT_EQ(Labels(chart->Plotted()), c.plotted) << c.what;
        // Every header is offered exactly once, either still available or plotted.
        EXPECT_EQ(chart->Available().size() + chart->Plotted().size(), headers.size()) << c.what;
    }
    store.values.clear();
    const auto noRpm = LogChart::Open({MakeRun("Run 1", {"Time [s]", "Load"}, 2)}, settings);
    EXPECT_TRUE(noRpm->Plotted().empty());
}

TEST_F(LogChartTest, SeveralRunsNameEntriesByRunAndPlotEachRun) {
    Save("DefaultPlotVariable0", "Load");
    const auto chart = LogChart::Open(
        {MakeRun("Run 1", {"Time [s]", "RPM", "Load"}, 3), MakeRun("pull2.txt", {"Time [s]", "Load", "Boost"}, 5)},
        settings);
    ASSERT_TRUE(chart.Ok());
    EXPECT_EQ(chart->Title(), "Data log plot for Run 1, pull2.txt");
    EXPECT_EQ(chart->XAxisChoices(), (std::vector<std::string>{"Time [s]", "RPM", "Load", "Boost"}));
    EXPECT_EQ(Labels(chart->Plotted()), (std::vector<std::string>{"Run 1: Load", "pull2.txt: Load"}));
    EXPECT_EQ(Labels(chart->Available()),
              (std::vector<std::string>{"Run 1: Time [s]", "Run 1: RPM", "pull2.txt: Time [s]", "pull2.txt: Boost"}));
    const SeriesPlan plan = chart->Plan();
    EXPECT_FALSE(plan.internalError);
    ASSERT_EQ(plan.series.size(), 2u);
    EXPECT_EQ(plan.series[0].label, "Run 1: Load");
    EXPECT_EQ(plan.series[0].run, 0u);
    EXPECT_EQ(plan.series[0].xColumn, 0u);
    EXPECT_EQ(plan.series[0].yColumn, 2u);
    EXPECT_EQ(plan.series[1].run, 1u);
    EXPECT_EQ(plan.series[1].yColumn, 1u);

    const auto single = LogChart::Open({MakeRun("Run 3", {"Time [s]", "RPM"}, 2)}, settings);
    EXPECT_EQ(single->Title(), "Data log plot for Run 3");
    EXPECT_EQ(Labels(single->Plotted()), (std::vector<std::string>{"RPM"}));
}

TEST_F(LogChartTest, RunNameDropsOnlyATrailingStar) {
    EXPECT_EQ(PlotRunName("Run 4*"), "Run 4");
    EXPECT_EQ(PlotRunName("pull.txt"), "pull.txt");
    EXPECT_EQ(PlotRunName("a*b"), "a*b");
}

TEST_F(LogChartTest, CopiesARunsNumbersWithNaNForOtherCells) {
    LogRun run({"Time [s]", "RPM", "Note"});
    ASSERT_TRUE(run.AppendRow(std::vector<std::string>{"0,10", "850", "idle"}));
    ASSERT_TRUE(run.AppendRow(std::vector<std::string>{"0.20", "", "1 200"}));
    const PlotRun plot = MakePlotRun(run, "Run 2*");
    EXPECT_EQ(plot.name, "Run 2");
    EXPECT_EQ(plot.headers, run.Headers());
    ASSERT_EQ(plot.Rows(), 2u);
    ASSERT_EQ(plot.columns.size(), 3u);
    EXPECT_DOUBLE_EQ(plot.Value(0, 0), 0.1);
    EXPECT_DOUBLE_EQ(plot.Value(1, 0), 0.2);
    EXPECT_DOUBLE_EQ(plot.Value(0, 1), 850);
    EXPECT_TRUE(std::isnan(plot.Value(1, 1)));
    EXPECT_TRUE(std::isnan(plot.Value(0, 2)));
    EXPECT_DOUBLE_EQ(plot.Value(1, 2), 1200);
    EXPECT_FALSE(LogChart::Open({MakePlotRun(LogRun({"Time [s]"}), "Run 3*")}, settings).Ok());
}

TEST_F(LogChartTest, AddingAndRemovingSeriesSavesHeadersWithoutRunPrefix) {
    auto chart = LogChart::Open(
        {MakeRun("Run 1", {"Time [s]", "RPM", "Load"}, 3), MakeRun("a: b.txt", {"Time [s]", "RPM", "Load"}, 3)},
        settings);
    ASSERT_TRUE(chart.Ok());
    ASSERT_EQ(Labels(chart->Plotted()), (std::vector<std::string>{"Run 1: RPM", "a: b.txt: RPM"}));
    // Available: Run 1: Time, Run 1: Load, a: b.txt: Time, a: b.txt: Load
    ASSERT_TRUE(chart->AddSeries(3, settings));
    const std::vector<std::pair<std::string, std::string>> expected{{"DefaultPlotVariable0", "RPM"},
                                                                    {"DefaultPlotVariable1", "RPM"},
                                                                    {"DefaultPlotVariable2", "Load"},
                                                                    {"DefaultPlotVariable3", ""},
                                                                    {"DefaultPlotVariable7", ""}};
    for (const auto& [key, value] : expected) EXPECT_EQ(Saved(key), value) << key;

    ASSERT_TRUE(chart->RemoveSeries(0, settings));
    EXPECT_EQ(Saved("DefaultPlotVariable0"), "RPM");
    EXPECT_EQ(Saved("DefaultPlotVariable1"), "Load");
    EXPECT_EQ(Saved("DefaultPlotVariable2"), "");
    // A removed entry goes back to its place among the available ones.
    EXPECT_EQ(Labels(chart->Available()),
              (std::vector<std::string>{"Run 1: Time [s]", "Run 1: RPM", "Run 1: Load", "a: b.txt: Time [s]"}));
    EXPECT_FALSE(chart->AddSeries(4, settings));
    EXPECT_FALSE(chart->RemoveSeries(2, settings));
}

// A header may itself hold ": " (an aux input's name): it is saved whole and found again.
TEST_F(LogChartTest, AHeaderWithColonBlankIsSavedWhole) {
    const std::vector<std::string> headers{"Time [s]", "RPM", "EGT: left [C]"};
    auto chart = LogChart::Open({MakeRun("Run 1", headers, 3)}, settings);
    ASSERT_TRUE(chart.Ok());
    ASSERT_TRUE(chart->AddSeries(1, settings)); // Available: Time, EGT
    EXPECT_EQ(Saved("DefaultPlotVariable1"), "EGT: left [C]");
    const auto again = LogChart::Open({MakeRun("Run 2", headers, 3)}, settings);
    EXPECT_EQ(Labels(again->Plotted()), (std::vector<std::string>{"RPM", "EGT: left [C]"}));
    EXPECT_EQ(again->Plan().series.at(1).yColumn, 2u);
}

// The fuel and the ignition unit log columns of the same header: each is a variable of its own,
// plotted from its own column, and a saved choice finds the same column again.
TEST_F(LogChartTest, SameNamedColumnsAreToldApartAndFoundAgain) {
    const std::vector<std::string> headers{"Time [s]", "RPM", "A/F ratio", "RPM", "Ign adv [deg]", "A/F ratio"};
    auto chart = LogChart::Open({MakeRun("Run 1", headers, 3)}, settings);
    ASSERT_TRUE(chart.Ok());
    EXPECT_EQ(Labels(chart->Plotted()), (std::vector<std::string>{"RPM (fuel)", "RPM (ignition)"}));
    EXPECT_EQ(Labels(chart->Available()),
              (std::vector<std::string>{"Time [s]", "A/F ratio (fuel)", "Ign adv [deg]", "A/F ratio (ignition)"}));
    SeriesPlan plan = chart->Plan();
    ASSERT_EQ(plan.series.size(), 2u);
    EXPECT_EQ(plan.series[0].yColumn, 1u);
    EXPECT_EQ(plan.series[1].yColumn, 3u);
    EXPECT_EQ(plan.series[1].label, "RPM (ignition)");
    ASSERT_TRUE(chart->RemoveSeries(0, settings));
    ASSERT_TRUE(chart->AddSeries(4, settings)); // Time, RPM (fuel), A/F (fuel), Ign adv, A/F (ignition)
    EXPECT_EQ(Saved("DefaultPlotVariable0"), "RPM (ignition)");
    EXPECT_EQ(Saved("DefaultPlotVariable1"), "A/F ratio (ignition)");
    ASSERT_TRUE(chart->SetXVariable("RPM (ignition)", settings));
    EXPECT_EQ(chart->Plan().series.at(0).xColumn, 3u);

    const auto again = LogChart::Open({MakeRun("Run 2", headers, 3)}, settings);
    ASSERT_TRUE(again.Ok());
    EXPECT_EQ(again->XVariable(), "RPM (ignition)");
    plan = again->Plan();
    ASSERT_EQ(plan.series.size(), 2u);
    EXPECT_EQ(plan.series[0].xColumn, 3u);
    EXPECT_EQ(plan.series[0].yColumn, 3u);
    EXPECT_EQ(plan.series[1].yColumn, 5u);
    EXPECT_EQ(again->Runs()[0].headers, headers) << "the headers stay as the file has them";
}

TEST_F(LogChartTest, OnlyNinthAndLaterPlotVariablesAreNotSaved) {
    std::vector<std::string> headers;
    for (int i = 0; i < 10; ++i) headers.push_back("V" + std::to_string(i));
    auto chart = LogChart::Open({MakeRun("Run 1", headers, 1)}, settings);
    ASSERT_TRUE(chart.Ok());
    while (!chart->Available().empty()) ASSERT_TRUE(chart->AddSeries(0, settings));
    EXPECT_EQ(Saved("DefaultPlotVariable0"), "V0");
    EXPECT_EQ(Saved("DefaultPlotVariable7"), "V7");
    EXPECT_EQ(Saved("DefaultPlotVariable8"), "<missing>");
}

TEST_F(LogChartTest, ChoosingTheXVariableSavesIt) {
    auto chart = LogChart::Open({MakeRun("Run 1", {"Time [s]", "RPM", "Load"}, 2)}, settings);
    ASSERT_TRUE(chart.Ok());
    EXPECT_TRUE(chart->SetXVariable("Load", settings));
    EXPECT_EQ(Saved("DefaultXAxisVariable"), "Load");
    EXPECT_EQ(chart->Plan().series.at(0).xColumn, 2u);
    EXPECT_FALSE(chart->SetXVariable("Boost", settings));
    EXPECT_EQ(chart->XVariable(), "Load");
    EXPECT_EQ(Saved("DefaultXAxisVariable"), "Load");
}

TEST_F(LogChartTest, XVariableMissingFromAPlottedRunIsAnInternalError) {
    Save("DefaultXAxisVariable", "Boost");
    auto chart = LogChart::Open(
        {MakeRun("Run 1", {"Time [s]", "RPM"}, 2), MakeRun("Run 2", {"Time [s]", "RPM", "Boost"}, 2)}, settings);
    ASSERT_TRUE(chart.Ok());
    EXPECT_EQ(chart->XVariable(), "Boost");
    const SeriesPlan plan = chart->Plan();
    EXPECT_TRUE(plan.internalError);
    ASSERT_EQ(plan.series.size(), 1u);
    EXPECT_EQ(plan.series[0].label, "Run 2: RPM");
    ASSERT_TRUE(chart->SetXVariable("Time [s]", settings));
    EXPECT_FALSE(chart->Plan().internalError);
}

TEST_F(LogChartTest, BoundsLeaveOutCellsThatAreNotNumbers) {
    PlotRun run{"Run 1", {"Time [s]", "RPM"}, {{0.1, 0.2, kNaN, 0.4}, {800, kNaN, 9000, 950}}};
    const auto chart = LogChart::Open({run}, settings);
    ASSERT_TRUE(chart.Ok());
    const auto b = chart->Bounds(chart->Plan());
    ASSERT_TRUE(b.has_value());
    EXPECT_DOUBLE_EQ(b->xMin, 0.1);
    EXPECT_DOUBLE_EQ(b->xMax, 0.4);
    EXPECT_DOUBLE_EQ(b->yMin, 800);
    EXPECT_DOUBLE_EQ(b->yMax, 950);
}

// A run with one X column and one Y column.
PlotRun XYRun(const std::vector<double>& xs, const std::vector<double>& ys) {
    return PlotRun{"Run 1", {"X", "Y"}, {xs, ys}};
}

TEST(ReduceToPixelsTest, KeepsEachPixelColumnsExtremesInDataOrder) {
    // 10 pixel columns over x 0..10; 100 points per column with a spike up and one down.
    std::vector<double> xs, ys;
    for (int i = 0; i < 1000; ++i) {
        xs.push_back(i / 100.0);
        const int inColumn = i % 100;
        const int column = i / 100;
        ys.push_back(inColumn == 17 + column ? 50.0 + column : inColumn == 60 ? -5.0 - column : 1.0);
    }
    const PlotRun run = XYRun(xs, ys);
    const auto reduced = ReduceToPixels(run, 0, 1, 0.0, 10.0, 10);
    ASSERT_EQ(reduced.size(), 40u);
    EXPECT_EQ(reduced.front(), (ChartPoint{0.0, 1.0}));
    EXPECT_EQ(reduced.back(), (ChartPoint{9.99, 1.0}));
    for (int column = 0; column < 10; ++column) {
        const std::size_t at = static_cast<std::size_t>(column) * 4;
        EXPECT_DOUBLE_EQ(reduced[at].x, column) << column;            // first
        EXPECT_DOUBLE_EQ(reduced[at + 1].y, 50.0 + column) << column; // highest, came first
        EXPECT_DOUBLE_EQ(reduced[at + 1].x, column + (17 + column) / 100.0);
        EXPECT_DOUBLE_EQ(reduced[at + 2].y, -5.0 - column) << column; // lowest
        EXPECT_DOUBLE_EQ(reduced[at + 3].x, column + 0.99) << column; // last
    }
}

TEST(ReduceToPixelsTest, ShortSeriesAndViewEdges) {
    struct Case {
        const char* what;
        std::vector<double> xs, ys;
        double xMin, xMax;
        int pixels;
        std::vector<ChartPoint> expected;
    };
    const Case cases[] = {
        {"at most 4 points a column: whole, NaN left out",
         {0, 1, kNaN, 3, 4},
         {5, 6, 7, kNaN, 8},
         0,
         4,
         1,
         {{0, 5}, {1, 6}, {4, 8}}},
        {"stretches outside the view keep only their ends",
         {-3, -2, -1, 0.5, 0.6, 0.7, 2, 3, 4},
         {9, 100, 8, 1, 2, 3, -50, 7, 6},
         0,
         1,
         1,
         {{-3, 9}, {-1, 8}, {0.5, 1}, {0.7, 3}, {2, -50}, {4, 6}}},
        {"extremes that are the ends are not repeated",
         {0, 0.1, 0.2, 0.3, 0.4, 0.5},
         {9, 5, 6, 5.5, 7, 1},
         0,
         1,
         1,
         {{0, 9}, {0.5, 1}}},
        {"a line that leaves the view and comes back starts a new stretch",
         {0.1, 0.2, 0.3, 1.5, 1.6, 0.4, 0.45},
         {1, 2, 3, 4, 5, 6, 7},
         0,
         1,
         1,
         {{0.1, 1}, {0.3, 3}, {1.5, 4}, {1.6, 5}, {0.4, 6}, {0.45, 7}}},
    };
    for (const auto& c : cases) {
        const auto reduced = ReduceToPixels(XYRun(c.xs, c.ys), 0, 1, c.xMin, c.xMax, c.pixels);
        EXPECT_EQ(reduced, c.expected) << c.what;
    }
}

TEST(ReduceToPixelsTest, ReducesALongRunToFourPointsAColumnAtMost) {
    std::vector<double> xs, ys;
    for (int i = 0; i < 100000; ++i) {
        xs.push_back(i * 0.05);
        ys.push_back(std::sin(i * 0.37) * 1000.0);
    }
    const PlotRun run = XYRun(xs, ys);
    const auto reduced = ReduceToPixels(run, 0, 1, 0.0, xs.back(), 800);
    EXPECT_LE(reduced.size(), 4u * 800u);
    EXPECT_GE(reduced.size(), 2u * 800u);
    EXPECT_EQ(reduced.front(), (ChartPoint{xs.front(), ys.front()}));
    EXPECT_EQ(reduced.back(), (ChartPoint{xs.back(), ys.back()}));
    // Zoomed into a tenth of the run, the view gets the same detail.
    const auto zoomed = ReduceToPixels(run, 0, 1, 1000.0, 1500.0, 800);
    EXPECT_GE(zoomed.size(), 2u * 800u);
}

TEST(NiceTickStepTest, OneTwoOrFiveTimesAPowerOfTen) {
    struct Case {
        double span;
        int ticks;
        double step;
    };
    const Case cases[] = {{500, 8, 100},  {62.5, 8, 10},     {7.0, 7, 1},   {0.3, 8, 0.05}, {6950, 8, 1000},
                          {1500, 8, 200}, {0.004, 4, 0.001}, {100, 1, 100}, {0, 8, 1},      {-3, 8, 1}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(NiceTickStep(c.span, c.ticks), c.step) << c.span << "/" << c.ticks;
}

TEST(PointAtXTest, TheValidPointNearestInX) {
    const PlotRun run = XYRun({0.1, 0.2, 0.3, 0.4, kNaN}, {800, kNaN, 900, 950, 1000});
    EXPECT_EQ(*PointAtX(run, 0, 1, 0.26), (ChartPoint{0.3, 900}));
    EXPECT_EQ(*PointAtX(run, 0, 1, 0.19), (ChartPoint{0.1, 800})) << "row 2 has no value";
    EXPECT_EQ(*PointAtX(run, 0, 1, 9.0), (ChartPoint{0.4, 950}));
    EXPECT_FALSE(PointAtX(XYRun({kNaN}, {1}), 0, 1, 0).has_value());
}

TEST(PlotRunTest, ColumnsKeepTheDecimalsTheirCellsShow) {
    LogRun run({"Time [s]", "RPM", "A/F ratio", "Note"});
    ASSERT_TRUE(run.AppendRow(std::vector<std::string>{"0.10", "850", "14.7", "idle"}));
    ASSERT_TRUE(run.AppendRow(std::vector<std::string>{"0.20", "900", "14,71", ""}));
    EXPECT_EQ(MakePlotRun(run, "Run 1").decimals, (std::vector<int>{2, 0, 2, -1}));
}

} // namespace

} // namespace kv
