// Two runs lined up over one X axis: from the trigger or from a speed, over the time since the
// start or the engine speed, each series labelled with its variable and run.
#include "datalog/log_side_by_side.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kv {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// "Before": recorded 5 s into a drive (times 5.0, 5.1, ...), the speed climbing 500 a row from
// 1000. "After": loaded, times from 0.2, the speed climbing 1000 a row from 2000, with the ignition
// unit's own "RPM" column too and no "Load".
std::vector<PlotRun> Runs() {
    PlotRun before{"Run 1",
                   {"Time [s]", "RPM", "A/F ratio", "Load"},
                   {{5.0, 5.1, 5.2, 5.3, 5.4},
                    {1000, 1500, 2000, 2500, 3000},
                    {14.0, 13.5, 13.0, 12.5, 12.0},
                    {10, 20, 30, 40, 50}},
                   {2, 0, 1, 0}};
    PlotRun after{"pull.txt",
                  {"Time [s]", "RPM", "A/F ratio", "RPM"},
                  {{0.2, 0.4, 0.6, 0.8}, {2000, 3000, 4000, 5000}, {12.8, 12.6, 12.4, 12.2}, {7, 7, 7, 7}},
                  {1, 0, 1, 0}};
    return {before, after};
}

std::vector<double> XOf(const SideBySide& s, std::size_t series) {
    const PlotSeries& p = s.plan.series.at(series);
    return s.runs.at(p.run).columns.at(p.xColumn);
}
std::vector<double> YOf(const SideBySide& s, std::size_t series) {
    const PlotSeries& p = s.plan.series.at(series);
    return s.runs.at(p.run).columns.at(p.yColumn);
}

void ExpectNear(const std::vector<double>& got, const std::vector<double>& want, const char* what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i], want[i], 1e-9) << what << " at " << i;
}

TEST(SideBySideTest, FromTheTriggerBothRunsStartAtZeroSeconds) {
    const auto s = AlignRuns(Runs(), SideBySideChoice{}, {"A/F ratio", "Load"});
    ASSERT_TRUE(s) << s.Error();
    EXPECT_EQ(s->xTitle, "Time from start [s]");
    ASSERT_EQ(s->plan.series.size(), 3u); // pull.txt has no Load
    EXPECT_FALSE(s->plan.internalError);
    EXPECT_EQ(s->plan.series[0].label, "A/F ratio \xE2\x80\x94 Run 1");
    EXPECT_EQ(s->plan.series[1].label, "A/F ratio \xE2\x80\x94 pull.txt");
    EXPECT_EQ(s->plan.series[2].label, "Load \xE2\x80\x94 Run 1");
    EXPECT_EQ(s->plan.series[1].name, "A/F ratio");
    ExpectNear(XOf(*s, 0), {0.0, 0.1, 0.2, 0.3, 0.4}, "Run 1");
    ExpectNear(XOf(*s, 1), {0.0, 0.2, 0.4, 0.6}, "pull.txt");
    ExpectNear(YOf(*s, 1), {12.8, 12.6, 12.4, 12.2}, "pull.txt A/F");
    ExpectNear(YOf(*s, 2), {10, 20, 30, 40, 50}, "Run 1 Load");
    // The X column keeps the time's decimals; the others keep theirs.
    EXPECT_EQ(s->runs[0].decimals.back(), 2);
    EXPECT_EQ(s->runs[0].decimals[2], 1);
    // The bounds over both runs start at zero.
    const auto b = PlanBounds(s->runs, s->plan);
    ASSERT_TRUE(b);
    EXPECT_DOUBLE_EQ(b->xMin, 0.0);
    EXPECT_NEAR(b->xMax, 0.6, 1e-9);
}

TEST(SideBySideTest, FromASpeedEachRunStartsWhereItFirstReachesIt) {
    SideBySideChoice choice;
    choice.startRpm = 2500;
    const auto s = AlignRuns(Runs(), choice, {"A/F ratio"});
    ASSERT_TRUE(s) << s.Error();
    ASSERT_EQ(s->plan.series.size(), 2u);
    // Run 1 reaches 2500 in row 3 (5.3 s), pull.txt in row 1 (0.4 s); earlier rows are left out.
    ExpectNear(XOf(*s, 0), {0.0, 0.1}, "Run 1");
    ExpectNear(YOf(*s, 0), {12.5, 12.0}, "Run 1 A/F");
    ExpectNear(XOf(*s, 1), {0.0, 0.2, 0.4}, "pull.txt");
    ExpectNear(YOf(*s, 1), {12.6, 12.4, 12.2}, "pull.txt A/F");
}

TEST(SideBySideTest, OverTheSpeedTheFuelUnitsColumnIsTheAxis) {
    SideBySideChoice choice;
    choice.x = SideBySideX::Rpm;
    choice.before = 1;
    choice.after = 0;
    const auto s = AlignRuns(Runs(), choice, {"A/F ratio", "RPM (ignition)"});
    ASSERT_TRUE(s) << s.Error();
    EXPECT_EQ(s->xTitle, "RPM");
    ASSERT_EQ(s->plan.series.size(), 3u); // Run 1 has no ignition unit's speed
    EXPECT_EQ(s->plan.series[0].label, "A/F ratio \xE2\x80\x94 pull.txt");
    EXPECT_EQ(s->plan.series[1].label, "A/F ratio \xE2\x80\x94 Run 1");
    EXPECT_EQ(s->plan.series[2].label, "RPM (ignition) \xE2\x80\x94 pull.txt");
    ExpectNear(XOf(*s, 0), {2000, 3000, 4000, 5000}, "pull.txt");
    ExpectNear(XOf(*s, 2), {2000, 3000, 4000, 5000}, "pull.txt");
    ExpectNear(YOf(*s, 2), {7, 7, 7, 7}, "pull.txt ignition speed");
    EXPECT_EQ(s->runs[1].name, "Run 1");
    ExpectNear(s->runs[1].columns.back(), {1000, 1500, 2000, 2500, 3000}, "Run 1");
}

TEST(SideBySideTest, ATimeThatIsNotANumberAtTheStartTakesTheNextAsZero) {
    auto runs = Runs();
    runs[0].columns[0][0] = kNaN;
    const auto s = AlignRuns(runs, SideBySideChoice{}, {"A/F ratio"});
    ASSERT_TRUE(s) << s.Error();
    const auto x = XOf(*s, 0);
    EXPECT_TRUE(std::isnan(x[0]));
    ExpectNear({x.begin() + 1, x.end()}, {0.0, 0.1, 0.2, 0.3}, "Run 1");
}

TEST(SideBySideTest, SaysWhyTwoRunsCannotBeLinedUp) {
    auto noTime = Runs();
    noTime[1].headers[0] = "Stamp";
    auto noRpm = Runs();
    noRpm[0].headers[1] = "Speed";
    struct Case {
        const char* what;
        std::vector<PlotRun> runs;
        SideBySideChoice choice;
        const char* message;
    };
    const Case cases[] = {
        {"one run only", {Runs()[0]}, {0, 1}, "Choose two different runs to show side by side"},
        {"the same run twice", Runs(), {1, 1}, "Choose two different runs to show side by side"},
        {"no time column", noTime, {}, "pull.txt has no \"Time [s]\" column"},
        {"no speed for the axis", noRpm, {0, 1, SideBySideX::Rpm, 0}, "Run 1 has no \"RPM\" column"},
        {"no speed for the start", noRpm, {0, 1, SideBySideX::TimeFromStart, 1200}, "Run 1 has no \"RPM\" column"},
        {"start never reached", Runs(), {0, 1, SideBySideX::TimeFromStart, 4500.5}, "Run 1 never reaches 4500.5 rpm"},
    };
    for (const Case& c : cases) {
        const auto s = AlignRuns(c.runs, c.choice, {"A/F ratio"});
        EXPECT_FALSE(s) << c.what;
        EXPECT_EQ(s.Error(), c.message) << c.what;
    }
    // Without a speed start and over the time, a run without "RPM" lines up.
    EXPECT_TRUE(AlignRuns(noRpm, SideBySideChoice{}, {"A/F ratio"}));
}

} // namespace

} // namespace kv
