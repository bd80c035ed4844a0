// Cell statistics of a run over an LH 2.3 base fuel map, against hand-computed shares.
#include "datalog/log_cells.h"

#include "eprom/base_images.h"
#include "maps/rendered_map.h"
#include "monitor/conversions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace kv {
namespace {

struct MapRig {
    MapRig() {
        EXPECT_EQ(LoadBaseImage("MRX_D", image), "");
        definition = FindMapDefinition(MapTab::Fuel, "Base fuel map (cat)");
        EXPECT_NE(definition, nullptr);
        map = std::make_unique<RenderedMap>(image, *definition);
    }
    const TableEditor& Editor() const { return map->editor; }
    // The engine speed and MAF signal of the fractional grid point (col, row).
    std::pair<std::string, std::string> At(double col, double row) const {
        const auto& xs = Editor().XAxisPoints();
        const auto& ys = Editor().YAxisPoints();
        const auto between = [](const std::vector<std::int32_t>& p, double at) {
            const auto i = static_cast<std::size_t>(at);
            const double t = at - static_cast<double>(i);
            return t == 0 ? p[i] : p[i] + (p[i + 1] - p[i]) * t;
        };
        const double code = between(xs, col);
        EXPECT_EQ(code, std::floor(code));
        return {std::to_string(conv::LH_RpmFromCode(static_cast<int>(code))),
                std::to_string(static_cast<int>(between(ys, row)))};
    }

    EpromContext context;
    EPROM image{context};
    const MapDefinition* definition = nullptr;
    std::unique_ptr<RenderedMap> map;
};

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
    const auto evenStep = [](const std::vector<std::int32_t>& p) {
        for (std::size_t i = 2; i + 1 < p.size(); ++i)
            if ((p[i + 1] - p[i]) % 2 == 0) return static_cast<int>(i);
        return -1;
    };
    const int col = evenStep(rig.Editor().XAxisPoints()), row = evenStep(rig.Editor().YAxisPoints());
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
