// A run laid over a map as a view: each cell's text, tool tip and colour from hand-computed
// shares, judged by autotune's bands and colours for the mixture, shaded neutrally otherwise; the
// maps and columns offered.
#include "datalog/run_overlay.h"

#include "datalog/log_catalogue.h"
#include "fakes.h"
#include "map_rig.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

namespace kv {
namespace {

struct Sample {
    double col, row;
    const char* afr;
    const char* throttle;
    const char* knock = "0";
};

LogRun OverlayRun(const MapRig& rig, const std::vector<Sample>& samples, bool withThrottle = true) {
    std::vector<std::string> headers{kTimeHeader, kRpmHeader, kMafHeader, kAfrHeader, "Knock count"};
    if (withThrottle) headers.push_back(kThrottleHeader);
    LogRun run(headers);
    double t = 0;
    for (const Sample& s : samples) {
        const auto [rpm, maf] = rig.At(s.col, s.row);
        t += 0.1;
        std::vector<std::string> cells{std::to_string(t), rpm, maf, s.afr, s.knock};
        if (withThrottle) cells.push_back(s.throttle);
        run.AppendRow(cells);
    }
    return run;
}

std::array<AutotuneBand, kAutotuneZoneCount> DefaultBands() {
    MemorySettings settings;
    return SavedBands(settings, "Base fuel map (non-cat)");
}

// Idle 14.7 +/- 0.1, cruise 14.7 +/- 0.1, WOT 12.0 +/- 0.1 (the defaults).
TEST(RunOverlay, ASampleBetweenFourCellsGivesEachAQuarterJudgedByItsZone) {
    MapRig rig;
    const auto [row, col] = rig.EvenStepCell();
    ASSERT_GE(row, 2);
    ASSERT_GE(col, 2);
    // WOT at 12.04 between four cells; at grid point (row 1, col 0) two cruise samples 15.00 and
    // 15.50 and one idle sample 14.00 (cruise has the most weight); at (0, 1) one WOT sample 11.5.
    const LogRun run = OverlayRun(rig, {{col + 0.5, row + 0.5, "12.04", "3"},
                                        {0, 1, "15.00", "2"},
                                        {0, 1, "15.50", "2"},
                                        {0, 1, "14.00", "1"},
                                        {1, 0, "11.50", "3"}});
    const auto overlay = MakeRunOverlay(run, "Run 3", rig.Editor(), MapRig::kMapName, "A/F ratio", DefaultBands());
    ASSERT_TRUE(overlay) << overlay.Error();
    EXPECT_EQ(overlay->caption, "Run 3: A/F ratio on Base fuel map (cat)");
    EXPECT_EQ(overlay->summary, "samples: 5, cells: 6");
    ASSERT_EQ(overlay->rows, 16);
    ASSERT_EQ(overlay->cols, 16);

    for (const auto& [r, c] : {std::pair{row, col}, {row, col + 1}, {row + 1, col}, {row + 1, col + 1}}) {
        SCOPED_TRACE(std::to_string(r) + "," + std::to_string(c));
        const OverlayCell& cell = overlay->At(r, c);
        EXPECT_EQ(cell.text, "12.04");
        EXPECT_EQ(cell.tip, "samples: 1 (weight 0.25)\nmean: 12.040\nmin: 12.04\nmax: 12.04\n"
                            "WOT target 12.0 \xC2\xB1 0.1: +0.040");
        EXPECT_EQ(cell.colour, CellStateColour(CellState::Tuned));
    }
    const OverlayCell& mixed = overlay->At(1, 0);
    EXPECT_EQ(mixed.text, "14.83") << "(15.00 + 15.50 + 14.00) / 3";
    EXPECT_EQ(
        mixed.tip,
        "samples: 3 (weight 3.00)\nmean: 14.833\nmin: 14.00\nmax: 15.50\ncruise target 14.7 \xC2\xB1 0.1: +0.133");
    EXPECT_EQ(mixed.colour, CellStateColour(CellState::Lean));
    EXPECT_EQ(overlay->At(0, 1).text, "11.50");
    EXPECT_EQ(overlay->At(0, 1).colour, CellStateColour(CellState::Rich));

    const OverlayCell& blank = overlay->At(0, 0);
    EXPECT_EQ(blank.text, "");
    EXPECT_EQ(blank.tip, "");
    EXPECT_FALSE(blank.colour);
}

// The band's ends belong to it; the saved targets and errors are used, and the cat map keeps idle
// and cruise stoichiometric whatever is saved.
TEST(RunOverlay, TheBandsAreAutotunesSavedOnes) {
    MapRig rig;
    MemorySettings settings;
    settings.SaveSetting(kAutotuneSettingsSection, "TargetAFR_1", "13.5");
    settings.SaveSetting(kAutotuneSettingsSection, "TargetAFRError_1", "0.25");
    struct Case {
        const char* map;
        const char* afr;
        CellState state;
    };
    for (const Case& c : {Case{"Base fuel map (non-cat)", "13.75", CellState::Tuned},
                          Case{"Base fuel map (non-cat)", "13.80", CellState::Lean},
                          Case{"Base fuel map (non-cat)", "13.20", CellState::Rich},
                          Case{"Base fuel map (cat)", "13.75", CellState::Rich},
                          Case{"Base fuel map (cat)", "14.80", CellState::Tuned}}) {
        SCOPED_TRACE(std::string(c.map) + " " + c.afr);
        const LogRun run = OverlayRun(rig, {{2, 2, c.afr, "2"}});
        const auto overlay = MakeRunOverlay(run, "r", rig.Editor(), c.map, "A/F ratio", SavedBands(settings, c.map));
        ASSERT_TRUE(overlay) << overlay.Error();
        EXPECT_EQ(overlay->At(2, 2).colour, CellStateColour(c.state));
    }
}

// A column without a target, or a mixture without throttle positions, is shaded from the lowest
// mean to the highest.
TEST(RunOverlay, ColumnsWithoutATargetAreShadedNeutrally) {
    MapRig rig;
    const std::vector<Sample> samples{
        {2, 2, "14.7", "2", "0"}, {3, 3, "14.7", "2", "4"}, {4, 4, "14.7", "2", "1"}, {4, 4, "14.7", "2", "2"}};
    struct Case {
        const char* column;
        bool throttle;
        std::uint32_t low, middle, high;
        const char* summary;
    };
    for (const Case& c :
         {Case{"Knock count", true, kOverlayNeutralLow, 0xDCDCDC, kOverlayNeutralHigh, "samples: 4, cells: 3"},
          Case{"A/F ratio", false, kOverlayNeutralLow, kOverlayNeutralLow, kOverlayNeutralLow,
               "samples: 4, cells: 3 (no throttle positions: no targets)"}}) {
        SCOPED_TRACE(c.column);
        const auto overlay = MakeRunOverlay(OverlayRun(rig, samples, c.throttle), "r", rig.Editor(), MapRig::kMapName,
                                            c.column, DefaultBands());
        ASSERT_TRUE(overlay) << overlay.Error();
        EXPECT_EQ(overlay->summary, c.summary);
        EXPECT_EQ(overlay->At(2, 2).colour, c.low);
        EXPECT_EQ(overlay->At(4, 4).colour, c.middle) << "mean 1.5 of 0..4: 244 - 64 x 0.375 = 220";
        EXPECT_EQ(overlay->At(3, 3).colour, c.high);
        EXPECT_EQ(overlay->At(3, 3).tip.find("target"), std::string::npos);
        if (std::string(c.column) == "Knock count") {
            EXPECT_EQ(overlay->At(2, 2).text, "0.00");
            EXPECT_EQ(overlay->At(4, 4).text, "1.50");
        }
    }
}

// A cell shows about four digits of its mean: engine speeds without decimals.
TEST(RunOverlay, CellTextsKeepAboutFourDigits) {
    MapRig rig;
    const auto overlay = MakeRunOverlay(OverlayRun(rig, {{6, 2, "14.7", "2"}}), "r", rig.Editor(), MapRig::kMapName,
                                        "RPM", DefaultBands());
    ASSERT_TRUE(overlay) << overlay.Error();
    const std::string rpm = rig.At(6, 2).first;
    ASSERT_GE(rpm.size(), 4u);
    EXPECT_EQ(overlay->At(2, 6).text, rpm);
}

TEST(RunOverlay, RefusesWhatTheStatisticsRefuse) {
    MapRig rig;
    const auto overlay = MakeRunOverlay(OverlayRun(rig, {{2, 2, "14.7", "2"}}), "r", rig.Editor(), MapRig::kMapName,
                                        "Boost", DefaultBands());
    ASSERT_FALSE(overlay);
    EXPECT_EQ(overlay.Error(), "The run has no column \"Boost\"");
}

TEST(RunOverlay, MapsAndColumnsOffered) {
    MapRig rig;
    EpromContext context;
    EPROM ignition(context);
    ASSERT_EQ(LoadBaseImage("EZK_D-S4", ignition), "");
    // Maps over engine speed and load need the unit's load column; maps of one row over engine
    // speed only the speed.
    const auto offered = [&](const LogRun& run) {
        std::vector<std::string> names;
        for (const OverlayMap& m : OverlayMaps(run, &rig.image, &ignition))
            names.push_back((m.image == &rig.image ? "fuel: " : "ignition: ") + m.name);
        return names;
    };
    const LogRun fuelOnly({kTimeHeader, kRpmHeader, kMafHeader});
    const std::vector<std::string> oneRowIgnition{"ignition: Idle map (98 octane cat)",
                                                  "ignition: Idle map (98 octane non-cat)",
                                                  "ignition: Idle map (91 octame)",
                                                  "ignition: WOT map (98 octane cat)",
                                                  "ignition: WOT map (98 octane non-cat)",
                                                  "ignition: WOT map (91 octane)",
                                                  "ignition: Max knock retard (98 octane non-cat)",
                                                  "ignition: Max knock retard (98 octane cat)",
                                                  "ignition: Max knock retard (91 octane)"};
    std::vector<std::string> expected{"fuel: Base fuel map (cat)", "fuel: Base fuel map (non-cat)",
                                      "fuel: WOT enrichment map (cat)", "fuel: WOT enrichment map (non-cat)"};
    expected.insert(expected.end(), oneRowIgnition.begin(), oneRowIgnition.end());
    EXPECT_EQ(offered(fuelOnly), expected);
    const LogRun both({kTimeHeader, kRpmHeader, kMafHeader, kRpmHeader, kEzkLoadHeader});
    const std::vector<std::string> withLoad = offered(both);
    for (const char* cruise : {"ignition: Cruise map (98 octane non-cat)", "ignition: Cruise map (98 octane cat)",
                               "ignition: Cruise map (91 octane)"})
        EXPECT_NE(std::find(withLoad.begin(), withLoad.end(), cruise), withLoad.end()) << cruise;
    EXPECT_EQ(withLoad.size(), expected.size() + 3);
    EXPECT_TRUE(offered(LogRun({kTimeHeader, kMafHeader, kEzkLoadHeader})).empty()) << "no engine speed";
    EXPECT_TRUE(OverlayMaps(fuelOnly, nullptr, nullptr).empty());
    LogRun run({kTimeHeader, kRpmHeader, kMafHeader, "Knock count", kAfrHeader, kRpmHeader, kAfrHeader});
    const auto columns = OverlayColumns(run);
    EXPECT_EQ(columns, (std::vector<std::string>{"RPM (fuel)", "MAF signal", "Knock count", "A/F ratio (fuel)",
                                                 "RPM (ignition)", "A/F ratio (ignition)"}));
    EXPECT_EQ(DefaultOverlayColumn(columns), 3);
    EXPECT_EQ(DefaultOverlayColumn({"RPM", "Knock count"}), 0);
}

} // namespace
} // namespace kv
