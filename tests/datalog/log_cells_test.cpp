// Cell statistics of a run over the fuel and ignition maps, against hand-computed shares.
#include "datalog/log_cells.h"

#include "map_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
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
    EXPECT_EQ(missing.Error(), "The run has no column \"MAF signal\" for the map's load axis");
    const auto column = ComputeCellStatistics(SampleRun(rig, {{1, 1, "14"}}), rig.Editor(), "Boost");
    ASSERT_FALSE(column);
    EXPECT_EQ(column.Error(), "The run has no column \"Boost\"");
    const MapDefinition* warmup = FindMapDefinition(MapTab::Fuel, "Warmup enrichment map (cat)");
    ASSERT_NE(warmup, nullptr);
    RenderedMap other(rig.image, *warmup);
    const auto axes = ComputeCellStatistics(SampleRun(rig, {{1, 1, "14"}}), other.editor, "A/F ratio");
    ASSERT_FALSE(axes);
    EXPECT_EQ(axes.Error(), "Cell statistics need a map over engine speed (and load); this map lies over a "
                            "temperature");
}

} // namespace
} // namespace kv

namespace kv {
namespace {

// A loaded image of another unit with one of its maps rendered.
struct UnitMap {
    UnitMap(const char* base, MapTab tab, const char* name) {
        EXPECT_EQ(LoadBaseImage(base, image), "");
        definition = FindMapDefinition(tab, name);
        EXPECT_NE(definition, nullptr) << name;
        map = std::make_unique<RenderedMap>(image, *definition);
    }
    const TableEditor& Editor() const { return map->editor; }
    // The highest-speed data column whose period point lies an even count from the next one's,
    // and whose half-way period alone gives its engine speed (at high speeds one period step
    // changes the speed): a sample there lies exactly half way. -1 when there is none.
    int EvenStepColumn() const {
        const auto& p = Editor().XAxisPoints();
        for (std::size_t i = p.size() - 2; i >= 1; --i) {
            const std::int32_t mid = (p[i] + p[i + 1]) / 2;
            if ((p[i + 1] - p[i]) % 2 == 0 && conv::EZK_RpmFromPeriod(mid - 1) != conv::EZK_RpmFromPeriod(mid) &&
                conv::EZK_RpmFromPeriod(mid + 1) != conv::EZK_RpmFromPeriod(mid))
                return static_cast<int>(i);
        }
        return -1;
    }
    std::string MidRpm(int col) const {
        const auto& p = Editor().XAxisPoints();
        const auto i = static_cast<std::size_t>(col);
        return std::to_string(conv::EZK_RpmFromPeriod((p[i] + p[i + 1]) / 2));
    }
    EpromContext context;
    EPROM image{context};
    const MapDefinition* definition = nullptr;
    std::unique_ptr<RenderedMap> map;
};

// An ignition map takes the ignition unit's engine speed and load: a sample half way between two
// speed points and two load rows (rows 1 and 2 at 4 and 8 of 60, so 10 % lies at 6) gives each
// of the four cells a quarter.
TEST(LogCellsOtherUnits, AnIgnitionMapTakesTheIgnitionUnitsSpeedAndLoad) {
    UnitMap ezk("EZK_D-S4", MapTab::Ignition, "Cruise map (98 octane cat)");
    const int col = ezk.EvenStepColumn();
    ASSERT_GE(col, 1);
    const std::string rpm = ezk.MidRpm(col);
    // The fuel unit's engine speed is nonsense here: only the ignition unit's is read.
    LogRun run({"Time [s]", "RPM", "MAF signal", "RPM", "Load [%]", "Ign adv [\xC2\xB0]"});
    run.AppendRow(std::vector<std::string>{"0.1", "6000", "100", rpm, "10", "20.0"});
    run.AppendRow(std::vector<std::string>{"0.2", "6000", "100", rpm, "10", "30.0"});
    const auto stats = ComputeCellStatistics(run, ezk.Editor(), "Ign adv [\xC2\xB0]");
    ASSERT_TRUE(stats) << stats.Error();
    EXPECT_EQ(stats->samples, 2);
    EXPECT_EQ(stats->CellsWith(1), 4);
    for (const auto& [r, c] : {std::pair{1, col}, {1, col + 1}, {2, col}, {2, col + 1}}) {
        SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
        const CellStats& cell = stats->At(r, c);
        EXPECT_EQ(cell.count, 2);
        EXPECT_NEAR(cell.weight, 0.5, 1e-9) << "a quarter of each sample";
        EXPECT_NEAR(cell.Mean(), 25.0, 1e-9);
        EXPECT_DOUBLE_EQ(cell.min, 20.0);
        EXPECT_DOUBLE_EQ(cell.max, 30.0);
    }
}

// Maps of one row over engine speed and the LH 2.2 base fuel map (its own speed bytes, its MAF
// load as the run holds it) are covered; the run's only "RPM" serves either unit.
TEST(LogCellsOtherUnits, OneRowMapsAndTheLh22BaseFuelMap) {
    UnitMap wot("EZK_D-S4", MapTab::Ignition, "WOT map (98 octane cat)");
    const int col = wot.EvenStepColumn();
    ASSERT_GE(col, 1);
    LogRun ign({"Time [s]", "RPM", "Knock count"});
    ign.AppendRow(std::vector<std::string>{"0.1", wot.MidRpm(col), "4"});
    const auto one = ComputeCellStatistics(ign, wot.Editor(), "Knock count");
    ASSERT_TRUE(one) << one.Error();
    EXPECT_EQ(one->rows, 1);
    EXPECT_NEAR(one->At(0, col).weight, 0.5, 1e-9);
    EXPECT_NEAR(one->At(0, col + 1).weight, 0.5, 1e-9);

    UnitMap lh22("MRX_LH22_EURO", MapTab::Fuel, "Base fuel map");
    const auto& xs = lh22.Editor().XAxisPoints();
    const auto& ys = lh22.Editor().YAxisPoints();
    const int c = 3, r = 4;
    LogRun fuel({"Time [s]", "RPM", "MAF signal", "A/F ratio"});
    fuel.AppendRow(std::vector<std::string>{"0.1",
                                            std::to_string(conv::LH_RpmFromByte(xs[static_cast<std::size_t>(c)])),
                                            std::to_string(ys[static_cast<std::size_t>(r)]), "13.5"});
    const auto lh = ComputeCellStatistics(fuel, lh22.Editor(), "A/F ratio");
    ASSERT_TRUE(lh) << lh.Error();
    EXPECT_EQ(lh->At(r, c).count, 1);
    EXPECT_DOUBLE_EQ(lh->At(r, c).weight, 1.0) << "on a grid point the cell takes it all";
    EXPECT_DOUBLE_EQ(lh->At(r, c).Mean(), 13.5);
}

// A map whose axes the run cannot supply is refused, naming the column it lacks; a map over a
// temperature axis is refused as such.
TEST(LogCellsOtherUnits, RefusalsNameTheMissingColumn) {
    UnitMap ezk("EZK_D-S4", MapTab::Ignition, "Cruise map (98 octane cat)");
    LogRun noLoad({"Time [s]", "RPM", "Ign adv [\xC2\xB0]"});
    noLoad.AppendRow(std::vector<std::string>{"0.1", "2000", "20"});
    const auto load = ComputeCellStatistics(noLoad, ezk.Editor(), "Ign adv [\xC2\xB0]");
    ASSERT_FALSE(load);
    EXPECT_EQ(load.Error(), "The run has no column \"Load [%]\" for the map's load axis");
    EXPECT_FALSE(CellStatisticsPlace(noLoad, *ezk.definition, EcuType::EZK));
    EXPECT_TRUE(
        CellStatisticsPlace(noLoad, *FindMapDefinition(MapTab::Ignition, "WOT map (98 octane cat)"), EcuType::EZK));

    UnitMap ezf("EZF_EURO", MapTab::Ignition, "Cruise map");
    const auto vacuum = ComputeCellStatistics(noLoad, ezf.Editor(), "Ign adv [\xC2\xB0]");
    ASSERT_FALSE(vacuum);
    EXPECT_EQ(vacuum.Error(), "The run has no column \"Vacuum [inHg]\" for the map's load axis");

    LogRun noRpm({"Time [s]", "Load [%]", "Ign adv [\xC2\xB0]"});
    noRpm.AppendRow(std::vector<std::string>{"0.1", "20", "20"});
    const auto rpm = ComputeCellStatistics(noRpm, ezk.Editor(), "Ign adv [\xC2\xB0]");
    ASSERT_FALSE(rpm);
    EXPECT_EQ(rpm.Error(), "The run has no column \"RPM\" for the map's engine-speed axis");

    UnitMap warmup("EZK_D-S4", MapTab::Ignition, "Warmup compensation map (idle)");
    const auto temp = ComputeCellStatistics(noLoad, warmup.Editor(), "Ign adv [\xC2\xB0]");
    ASSERT_FALSE(temp);
    EXPECT_EQ(temp.Error(), "Cell statistics need a map over engine speed (and load); this map lies over a "
                            "temperature");
}

} // namespace
} // namespace kv
