// Cell statistics of a run over an LH 2.3 base fuel map, against hand-computed shares.
#include "datalog/log_cells.h"

#include "map_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kv {
namespace {

LogRun SampleRun(const MapRig& rig, const std::vector<std::tuple<double, double, std::string>>& samples) {
    LogRun run({"Time [s]", "RPM", "MAF signal", "A/F ratio", "RPM", "A/F ratio"});
    double t = 0;
    for (const auto& [col, row, afr] : samples) {
        const auto [rpm, maf] = rig.At(col, row);
        t += 0.1;
        // The ignition unit's columns hold nonsense: only the fuel unit's are read.
        run.AppendRow(std::vector<std::string>{std::to_string(t), rpm, maf, afr, "9999", "99"});
    }
    return run;
}

TEST(LogCells, EachSampleGoesToTheFourCellsAroundItInTheirShares) {
    MapRig rig;
    // A column and a row whose next grid point is an even count away: their half step is a whole
    // code.
    const auto [row, col] = rig.EvenStepCell();
    ASSERT_GE(col, 2);
    ASSERT_GE(row, 2);
    const double mc = col + 0.5, mr = row + 0.5;
    const LogRun run = SampleRun(rig, {{0, 1, "14.00"}, {mc, mr, "12.00"}, {0, 1, "15.00"}, {1, 0, ""}});
    const auto stats = ComputeCellStatistics(run, rig.Editor(), "A/F ratio");
    ASSERT_TRUE(stats) << stats.Error();
    EXPECT_EQ(stats->rows, rig.Editor().GetYAxisSize());
    EXPECT_EQ(stats->cols, rig.Editor().GetXAxisSize());
    EXPECT_EQ(stats->samples, 3) << "a sample without a value is left out";

    const CellStats& grid = stats->At(1, 0);
    EXPECT_EQ(grid.count, 2);
    EXPECT_DOUBLE_EQ(grid.weight, 2.0);
    EXPECT_DOUBLE_EQ(grid.Mean(), 14.5);
    EXPECT_DOUBLE_EQ(grid.min, 14.0);
    EXPECT_DOUBLE_EQ(grid.max, 15.0);
    for (const auto& [r, c] : {std::pair{row, col}, {row, col + 1}, {row + 1, col}, {row + 1, col + 1}}) {
        SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
        const CellStats& cell = stats->At(r, c);
        EXPECT_EQ(cell.count, 1);
        EXPECT_NEAR(cell.weight, 0.25, 1e-12);
        EXPECT_NEAR(cell.Mean(), 12.0, 1e-12);
        EXPECT_DOUBLE_EQ(cell.min, 12.0);
    }
    EXPECT_EQ(stats->At(0, 1).count, 0);
    EXPECT_TRUE(std::isnan(stats->At(0, 1).Mean()));
    EXPECT_EQ(stats->CellsWith(1), 5);
    EXPECT_EQ(stats->CellsWith(2), 1);
}

TEST(LogCells, AFilterCountsOnlyTheRowsItKeeps) {
    MapRig rig;
    const LogRun run = SampleRun(rig, {{0, 1, "14.00"}, {0, 1, "15.00"}, {0, 1, "16.00"}, {2, 2, "11.00"}});
    const auto stats = ComputeCellStatistics(run, rig.Editor(), "A/F ratio", [](int row) { return row % 2 == 0; });
    ASSERT_TRUE(stats) << stats.Error();
    EXPECT_EQ(stats->samples, 2);
    EXPECT_EQ(stats->At(1, 0).count, 2);
    EXPECT_DOUBLE_EQ(stats->At(1, 0).Mean(), 15.0) << "rows 0 and 2";
    EXPECT_EQ(stats->At(2, 2).count, 0) << "row 3 is left out";
}

TEST(LogCells, ASampleAtTheMapsCornerCountsOnceThere) {
    MapRig rig;
    const int lastCol = rig.Editor().GetXAxisSize() - 1, lastRow = rig.Editor().GetYAxisSize() - 1;
    const auto stats = ComputeCellStatistics(SampleRun(rig, {{lastCol, lastRow, "13.00"}}), rig.Editor(), "A/F ratio");
    ASSERT_TRUE(stats);
    EXPECT_EQ(stats->At(lastRow, lastCol).count, 1);
    EXPECT_DOUBLE_EQ(stats->At(lastRow, lastCol).weight, 1.0);
    EXPECT_EQ(stats->CellsWith(1), 1);
}

TEST(LogCells, Refusals) {
    MapRig rig;
    LogRun noMaf({"Time [s]", "RPM", "A/F ratio"});
    noMaf.AppendRow(std::vector<std::string>{"0.1", "900", "14.7"});
    const auto missing = ComputeCellStatistics(noMaf, rig.Editor(), "A/F ratio");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.Error(), "The run must hold the columns \"RPM\" and \"MAF signal\"");
    const auto column = ComputeCellStatistics(SampleRun(rig, {{1, 1, "14"}}), rig.Editor(), "Boost");
    ASSERT_FALSE(column);
    EXPECT_EQ(column.Error(), "The run has no column \"Boost\"");
    const MapDefinition* warmup = FindMapDefinition(MapTab::Fuel, "Warmup enrichment map (cat)");
    ASSERT_NE(warmup, nullptr);
    RenderedMap other(rig.image, *warmup);
    const auto axes = ComputeCellStatistics(SampleRun(rig, {{1, 1, "14"}}), other.editor, "A/F ratio");
    ASSERT_FALSE(axes);
    EXPECT_EQ(axes.Error(), "Cell statistics need a map over engine speed and MAF signal (an LH 2.3 base fuel map)");
}

} // namespace
} // namespace kv
