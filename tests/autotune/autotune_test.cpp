// Live autotune on the base fuel maps: colours, corrections, settling, the opening, starting
// and stopping rules with what they do to the image, the settings and the guards.
#include "autotune/autotune_offline.h"
#include "autotune_test_util.h"
#include "datalog/log_run.h"
#include "eprom/edit_step.h"
#include "maps/map_trace.h"
#include "monitor/conversions.h"
#include "temp_dir.h"
#include "undo/edit_history.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

namespace {

using autotune_test::AutotuneFixture;
using Z = AutotuneZone;

constexpr const char* kLH23 = "MRX_D";
constexpr const char* kLH22 = "MRX_LH22_USA";
constexpr const char* kNonCat = "Base fuel map (non-cat)";
constexpr const char* kCat = "Base fuel map (cat)";
constexpr const char* kLH22Map = "Base fuel map";

class AutotuneTest : public AutotuneFixture {};

TEST(AutotuneColours, EachStateHasItsColourAndBack) {
    struct Case {
        CellState state;
        std::uint32_t r, g, b;
    };
    for (const Case& c : {Case{CellState::NotVisited, 255, 255, 255}, Case{CellState::Tuned, 0, 255, 0},
                          Case{CellState::Rich, 255, 255, 0}, Case{CellState::Lean, 255, 0, 0},
                          Case{CellState::Forbidden, 208, 208, 208}}) {
        EXPECT_EQ(CellStateColour(c.state), c.r | (c.g << 8) | (c.b << 16));
        EXPECT_EQ(CellStateOfColour(CellStateColour(c.state)), c.state);
    }
    EXPECT_EQ(CellStateOfColour(0x123456), std::nullopt);
}

TEST(AutotuneBands, TargetsAndErrorsAreClampedAndShownWithADecimal) {
    struct Case {
        const char* target;
        const char* error;
        float wantTarget;
        float wantError;
        const char* targetText;
        const char* errorText;
    };
    for (const Case& c :
         {Case{"14.7", "0.1", 14.7f, 0.1f, "14.7", "0.1"}, Case{"8", "0", 9.0f, 0.1f, "9.0", "0.1"},
          Case{"18.5", "0.01", 17.0f, 0.05f, "17.0", "0.05"}, Case{"12", "3", 12.0f, 1.0f, "12.0", "1.0"},
          Case{"", "", 9.0f, 0.1f, "9.0", "0.1"}, Case{"1x3.5", "0.2a", 13.5f, 0.2f, "13.5", "0.2"},
          Case{"14.75", "0.05", 14.75f, 0.05f, "14.75", "0.05"}}) {
        SCOPED_TRACE(std::string(c.target) + " / " + c.error);
        const AutotuneBand b = ClampBand(c.target, c.error);
        EXPECT_EQ(b.target, c.wantTarget);
        EXPECT_EQ(b.error, c.wantError);
        EXPECT_EQ(b.low, c.wantTarget - c.wantError);
        EXPECT_EQ(b.high, c.wantTarget + c.wantError);
        EXPECT_EQ(BandText(b.target), c.targetText);
        EXPECT_EQ(BandText(b.error), c.errorText);
    }
}

TEST_F(AutotuneTest, StartWritesTheClampedValuesBackIntoTheBoxes) {
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    tune->SetTargetText(0, "20");
    tune->SetErrorText(2, "0");
    ASSERT_TRUE(tune->Start());
    EXPECT_EQ(tune->TargetText(0), "17.0");
    EXPECT_EQ(tune->ErrorText(2), "0.1");
    EXPECT_EQ(tune->Band(0).high, 17.0f + 0.1f);
}

// The unit blends the four cells around the operating point; a sample is spread over them by the
// same shares.
TEST(AutotuneShares, ASampleIsSharedAsTheUnitBlendsTheFourCells) {
    struct Case {
        const char* what;
        double fx, fy;
        std::vector<BlendShare> want;
    };
    const std::vector<Case> cases{
        {"on a grid point", 4.0, 3.0, {{3, 4, 1.0}}},
        {"exactly between four cells", 4.5, 3.5, {{3, 4, 0.25}, {3, 5, 0.25}, {4, 4, 0.25}, {4, 5, 0.25}}},
        {"a quarter of a cell along a row", 4.25, 3.0, {{3, 4, 0.75}, {3, 5, 0.25}}},
        {"a fifth down a column", 4.0, 3.2, {{3, 4, 0.8}, {4, 4, 0.2}}},
        {"before the first column", -0.7, 2.0, {{2, 0, 1.0}}},
        {"past the last row and column", 17.0, 15.5, {{15, 15, 1.0}}},
        {"on the last row, between columns", 14.5, 15.0, {{15, 14, 0.5}, {15, 15, 0.5}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::vector<BlendShare> got = BlendShares(c.fx, c.fy, 16, 16);
        ASSERT_EQ(got.size(), c.want.size());
        double sum = 0;
        for (std::size_t i = 0; i < got.size(); ++i) {
            EXPECT_EQ(got[i].row, c.want[i].row);
            EXPECT_EQ(got[i].col, c.want[i].col);
            EXPECT_NEAR(got[i].share, c.want[i].share, 1e-6);
            sum += got[i].share;
        }
        EXPECT_NEAR(sum, 1.0, 1e-9);
    }
}

TEST(AutotuneErrors, TheFirstAndLastTenthAreAveraged) {
    std::vector<float> v(20, 1.0f);
    v[0] = 3.0f;  // the first tenth: 3 and 1
    v[19] = 0.0f; // the last tenth: 1 and 0
    EXPECT_DOUBLE_EQ(MeanOfTenth(v, false), 2.0);
    EXPECT_DOUBLE_EQ(MeanOfTenth(v, true), 0.5);
    EXPECT_DOUBLE_EQ(MeanOfTenth({0.4f, 0.2f}, true), 0.2f) << "at least one sample";
    EXPECT_DOUBLE_EQ(MeanOfTenth({}, false), 0.0);
}

// At a grid point with a steady operating point: a cell is judged once three samples' worth of
// evidence has gathered, by its mean. The correction then moves it once.
TEST_F(AutotuneTest, SteadySamplesAtAGridPointMoveTheCellOnceByTheGains) {
    struct Case {
        const char* base;
        const char* map;
        Z zone;
        float afr;
        std::int32_t start;
        std::int32_t want;
        CellState state;
    };
    const Case cases[] = {
        // (13.2 / 12 - 1) x 512 x 0.5 = 25.6
        {kLH23, kNonCat, Z::Wot, 13.2f, 0, 26, CellState::Lean},
        // (1 - 13.7 / 14.7) x 512 x 0.2 = 6.97
        {kLH23, kNonCat, Z::Cruise, 13.7f, 10, 3, CellState::Rich},
        // (15.7 / 14.7 - 1) x 512 x 0.2 = 6.97 at idle
        {kLH23, kNonCat, Z::Idle, 15.7f, 0, 7, CellState::Lean},
        // just outside the band: c below 1 still moves by 1
        {kLH23, kNonCat, Z::Idle, 14.81f, 0, 1, CellState::Lean},
        {kLH23, kNonCat, Z::Idle, 14.59f, 0, -1, CellState::Rich},
        // c = 2.5 exactly: halves go to the even neighbour
        {kLH23, kNonCat, Z::Wot, 12.1171875f, 0, 2, CellState::Lean},
        {kLH23, kNonCat, Z::Wot, 12.1171875f, 1, 4, CellState::Lean},
        // limits of the unit
        {kLH23, kNonCat, Z::Wot, 16.0f, 120, 127, CellState::Lean},
        {kLH23, kNonCat, Z::Wot, 9.0f, -120, -128, CellState::Rich},
        {kLH22, kLH22Map, Z::Wot, 16.0f, 500, 511, CellState::Lean},
        {kLH22, kLH22Map, Z::Wot, 9.0f, -500, -512, CellState::Rich},
        {kLH22, kLH22Map, Z::Wot, 13.2f, 0, 26, CellState::Lean},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.map) + " afr " + std::to_string(c.afr) + " from " + std::to_string(c.start));
        Run(c.base, c.map);
        editor->SetCellValue(3, 4, c.start);
        // The lead-in, then twice the evidence needed: the samples burnt before the correction
        // reach the sensor during the delay after it and are not charged.
        Hold(At(3, 4, c.afr, c.zone), kLeadIn + 3 + kLeadIn - 1);
        EXPECT_EQ(State(3, 4), c.state);
        EXPECT_EQ(Value(3, 4), c.want);
        EXPECT_EQ(image->ReadMapCell(editor->GetMap(), editor->MapX(4), editor->MapY(3)) + editor->GetCellValueOffset(),
                  c.want)
            << "the correction is in the image";
    }
}

// The minimum step of one count also holds where the relative error gives less than half a
// count, which rounding alone would turn into no step at all.
TEST_F(AutotuneTest, ACorrectionBelowHalfAStepStillMovesTheCellByOne) {
    struct Case {
        Z zone;
        const char* error;
        float afr;
        std::int32_t want;
    };
    // idle, band 14.65..14.75: (14.76 / 14.7 - 1) x 512 x 0.2 = 0.42 and
    // (1 - 14.64 / 14.7) x 512 x 0.1 = 0.21; cruise rich (1 - 14.64 / 14.7) x 512 x 0.2 = 0.42
    for (const Case& c : {Case{Z::Idle, "0.05", 14.76f, 1}, Case{Z::Idle, "0.05", 14.64f, -1},
                          Case{Z::Cruise, "0.05", 14.64f, -1}, Case{Z::Cruise, "0.05", 14.76f, 1}}) {
        SCOPED_TRACE(std::to_string(c.afr));
        Show(kLH23, kNonCat);
        settings.SaveSetting("Autotune", "TargetAFRError_" + std::to_string(static_cast<int>(c.zone)), c.error);
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        editor->SetCellValue(2, 2, 0);
        Hold(At(2, 2, c.afr, c.zone), kLeadIn + 3);
        EXPECT_EQ(Value(2, 2), c.want);
    }
}

// A cell is judged once the shares charged to it reach three samples' worth: at its grid point
// three samples, exactly between four cells twelve (a quarter each); the colour follows the mean
// meanwhile, the value stays.
TEST_F(AutotuneTest, ACellIsCorrectedOnceItsEvidenceReachesTheThreshold) {
    struct Case {
        const char* what;
        double fx, fy; // from cell (5, 5) towards (6, 6)
        int samples;   // judged samples
        bool corrected;
    };
    for (const Case& c : {Case{"at the grid point, two samples", 0.0, 0.0, 2, false},
                          Case{"at the grid point, three samples", 0.0, 0.0, 3, true},
                          Case{"between four cells, eleven samples", 0.5, 0.5, 11, false},
                          Case{"between four cells, twelve samples", 0.5, 0.5, 12, true}}) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        for (int row = 5; row <= 6; ++row)
            for (int col = 5; col <= 6; ++col) editor->SetCellValue(row, col, 0);
        const auto& xs = editor->XAxisPoints();
        const auto& ys = editor->YAxisPoints();
        AutotuneSampleData s = At(5, 5, 16.0f, Z::Cruise);
        s.x = xs[5] + c.fx * (xs[6] - xs[5]);
        s.y = ys[5] + c.fy * (ys[6] - ys[5]);
        Hold(s, kLeadIn + c.samples);
        EXPECT_EQ(State(5, 5), CellState::Lean) << "the colour follows the mean from the first sample";
        EXPECT_EQ(Value(5, 5) > 0, c.corrected);
        if (c.fx > 0) {
            EXPECT_EQ(Value(6, 6) > 0, c.corrected) << "the four cells alike";
        }
    }
}

// In the band a cell turns green only on three samples' worth of evidence, and then stays as it
// is whatever comes, until it is marked not visited.
TEST_F(AutotuneTest, ACellTurnsGreenOnEnoughEvidenceInTheBandAndStays) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(5, 6, 0);
    Hold(At(5, 6, 14.75f, Z::Cruise), kLeadIn + 2);
    EXPECT_EQ(State(5, 6), CellState::NotVisited) << "two samples are not enough";
    Feed(At(5, 6, 14.75f, Z::Cruise));
    EXPECT_EQ(State(5, 6), CellState::Tuned);
    Hold(At(5, 6, 16.0f, Z::Cruise), 10);
    Hold(At(5, 6, 13.0f, Z::Cruise), 10);
    EXPECT_EQ(State(5, 6), CellState::Tuned);
    EXPECT_EQ(Value(5, 6), 0);

    grid.SetCurrentCell(grid.FixedRows() + 5, 1 + 6);
    tune->MarkSelected(CellState::NotVisited);
    Hold(At(5, 6, 16.0f, Z::Cruise), 3);
    EXPECT_EQ(State(5, 6), CellState::Lean) << "marked not visited, the cell is tuned again";
    EXPECT_GT(Value(5, 6), 0);
}

// The evidence of a cell is the share-weighted mean of the samples, each referred to the cell's
// own value: one in-band sample does not outvote two lean ones.
TEST_F(AutotuneTest, TheVerdictIsTheMeanOfTheEvidence) {
    struct Case {
        const char* what;
        std::vector<float> afrs; // judged samples at cell (5, 5), cruise, starting at value 0
        std::optional<CellState> state;
        std::int32_t want;
    };
    const std::vector<Case> cases{
        // mean 14.9: c = (14.9 / 14.7 - 1) x 512 x 0.3 = 2.09
        {"two lean, one in the band", {15.0f, 14.75f, 14.95f}, CellState::Lean, 2},
        // mean 14.7
        {"lean and rich cancel", {15.0f, 14.4f, 14.7f}, CellState::Tuned, 0},
        {"a rich sample colours at once", {13.7f}, CellState::Rich, 0},
        {"a lean then an in-band sample keep the lean colour", {15.0f, 14.7f}, CellState::Lean, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        editor->SetCellValue(5, 5, 0);
        Hold(At(5, 5, c.afrs.front(), Z::Cruise), kLeadIn);
        for (float afr : c.afrs) Feed(At(5, 5, afr, Z::Cruise));
        EXPECT_EQ(State(5, 5), c.state);
        EXPECT_EQ(Value(5, 5), c.want);
    }
}

// Between cells the measurement is taken back to the fuel the unit blended and referred to the
// cell's own fuel (1 + value / 512): a cell whose neighbours are leaner or richer is judged by
// the mixture it alone would give.
TEST_F(AutotuneTest, EachCellIsJudgedByTheMixtureItAloneWouldGive) {
    struct Case {
        const char* what;
        double fx; // from cell (3, 4) towards (3, 5)
        float afr;
        std::optional<CellState> near, far; // cells (3, 4) and (3, 5)
    };
    // Cell (3, 4) at +40, cell (3, 5) at -40.
    const Case cases[] = {
        // blend 1 + 24/512: for (3, 4) 14.7 x 536/552 = 14.27, rich; for (3, 5) 14.7 x 536/472 =
        // 16.69, lean
        {"measured on target at a fifth", 0.2, 14.7f, CellState::Rich, CellState::Lean},
        // blend 1: for (3, 4) 14.7 x 512/552 = 13.63; (3, 5) 14.7 x 512/472 = 15.95
        {"measured on target halfway", 0.5, 14.7f, CellState::Rich, CellState::Lean},
        // 15.2 x 536/552 = 14.76: in the band; (3, 5) 17.26
        {"measured lean at a fifth", 0.2, 15.2f, std::nullopt, CellState::Lean},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        editor->SetCellValue(3, 4, 40);
        editor->SetCellValue(3, 5, -40);
        const auto& xs = editor->XAxisPoints();
        AutotuneSampleData s = At(3, 4, c.afr, Z::Cruise);
        s.x = xs[4] + c.fx * (xs[5] - xs[4]);
        Hold(s, kLeadIn + 1);
        EXPECT_EQ(State(3, 4), c.near.value_or(CellState::NotVisited));
        EXPECT_EQ(State(3, 5), c.far);
        EXPECT_EQ(Value(3, 4), 40);
    }
}

// Green needs the mixture measured where the evidence was gathered inside the band as well: a
// cell whose leaner neighbour is credited with the blend's error never freezes the blend outside
// the band. Cell (5, 5) at 0, cell (5, 6) at 2, halfway between them: measured 14.58 refers to
// 14.58 x 513/512 = 14.61 for (5, 5), inside the band, and 14.55 for (5, 6), rich.
TEST_F(AutotuneTest, ACellTurnsGreenOnlyWhereTheMeasuredMixtureIsInTheBandToo) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(5, 5, 0);
    editor->SetCellValue(5, 6, 2);
    const auto& xs = editor->XAxisPoints();
    AutotuneSampleData s = At(5, 5, 14.58f, Z::Cruise);
    s.x = (xs[5] + xs[6]) / 2.0;
    // Six samples give each cell three samples' worth.
    Hold(s, kLeadIn + 6);
    EXPECT_NE(State(5, 5), CellState::Tuned) << "the blend it was judged in is rich";
    EXPECT_EQ(Value(5, 5), 0);
    EXPECT_EQ(State(5, 6), CellState::Rich);
    EXPECT_EQ(Value(5, 6), 1);
    // The blend comes into the band: after the delay and three samples' worth again, green.
    s.afr = 14.7f;
    Hold(s, kLeadIn + 6);
    EXPECT_EQ(State(5, 5), CellState::Tuned);
    EXPECT_EQ(Value(5, 5), 0);
}

// A cell takes nothing from a sample whose share of it is below a tenth.
TEST_F(AutotuneTest, ASmallShareGivesTheCellNothing) {
    for (double fx : {0.05, 0.15}) {
        SCOPED_TRACE(fx);
        Run(kLH23, kNonCat);
        const auto& xs = editor->XAxisPoints();
        AutotuneSampleData s = At(5, 5, 16.0f, Z::Cruise);
        s.x = xs[5] + fx * (xs[6] - xs[5]);
        Hold(s, kLeadIn + 1);
        EXPECT_EQ(tune->JudgedZone(5, 5), 1);
        EXPECT_EQ(tune->JudgedZone(5, 6), fx < kShareFloor ? std::nullopt : std::optional(1));
    }
}

// The gas at the sensor was burnt the transport delay ago: each sample is charged to the
// operating point of then. Moving from cell A to cell B, the first samples at B tell about A.
TEST_F(AutotuneTest, EachSampleIsChargedWhereItsGasWasBurnt) {
    struct Case {
        const char* delay; // setting, seconds; empty: the default 0.3
        int chargedToA;    // samples at B that still tell about A
    };
    for (const Case& c : {Case{"", 3}, Case{"0.5", 5}, Case{"0.1", 1}}) {
        SCOPED_TRACE(c.delay);
        Show(kLH23, kNonCat);
        if (*c.delay) settings.SaveSetting("Autotune", "TransportDelayS", c.delay);
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        EXPECT_EQ(tune->TransportDelayMs(), *c.delay ? std::llround(std::stod(c.delay) * 1000) : 300);
        editor->SetCellValue(2, 2, 0);
        editor->SetCellValue(7, 7, 0);
        Hold(At(2, 2, 14.7f, Z::Cruise), c.chargedToA); // A: as long as the lead-in of the run
        for (int i = 0; i < c.chargedToA; ++i) {
            Feed(At(7, 7, 16.0f, Z::Cruise));
            EXPECT_EQ(State(7, 7), CellState::NotVisited);
        }
        EXPECT_EQ(State(2, 2), CellState::Lean) << "B's first samples are A's gas";
        EXPECT_EQ(tune->JudgedZone(7, 7), std::nullopt);
        Feed(At(7, 7, 16.0f, Z::Cruise));
        EXPECT_EQ(State(7, 7), CellState::Lean) << "then B's own";
    }
}

// Nothing is judged before the delay has passed after Start: that gas was burnt before the run.
TEST_F(AutotuneTest, NothingIsJudgedDuringTheFirstDelayOfARun) {
    Run(kLH23, kNonCat);
    Hold(At(4, 4, 16.0f, Z::Cruise), kLeadIn);
    EXPECT_EQ(State(4, 4), CellState::NotVisited);
    EXPECT_TRUE(tune->JudgedErrors().empty());
    Feed(At(4, 4, 16.0f, Z::Cruise));
    EXPECT_EQ(State(4, 4), CellState::Lean);
    ASSERT_EQ(tune->JudgedErrors().size(), 1u);
    EXPECT_NEAR(tune->JudgedErrors()[0], 1.3, 1e-5);
}

// After a correction the cells it touched gather nothing until the gas burnt with their new
// values reaches the sensor; a sample that blended a corrected cell is not charged to any.
TEST_F(AutotuneTest, ACorrectedCellIsNotJudgedUntilTheDelayHasPassed) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(2, 2, 0);
    std::vector<std::int32_t> values;
    Hold(At(2, 2, 15.7f, Z::Idle), kLeadIn);
    for (int i = 0; i < 9; ++i) {
        Feed(At(2, 2, 15.7f, Z::Idle)); // +7 per correction
        values.push_back(Value(2, 2));
    }
    EXPECT_EQ(values, (std::vector<std::int32_t>{0, 0, 7, 7, 7, 7, 7, 7, 14}));

    // A sample that blended a cell corrected after its gas was burnt is charged to none of the
    // cells: a quarter of the way to the next cell, the near cell is corrected first.
    Run(kLH23, kNonCat);
    editor->SetCellValue(2, 2, 0);
    editor->SetCellValue(2, 3, 0);
    AutotuneSampleData between = At(2, 2, 15.7f, Z::Idle);
    between.x = editor->XAxisPoints()[2] + 0.25 * (editor->XAxisPoints()[3] - editor->XAxisPoints()[2]);
    Hold(between, kLeadIn + 4);
    ASSERT_GT(Value(2, 2), 0);
    ASSERT_EQ(Value(2, 3), 0);
    EXPECT_EQ(tune->JudgedErrors().size(), 4u);
    Hold(between, kLeadIn);
    EXPECT_EQ(tune->JudgedErrors().size(), 4u) << "burnt before the correction";
    Feed(between);
    EXPECT_EQ(tune->JudgedErrors().size(), 5u);
}

TEST_F(AutotuneTest, ATransientRestartsTenUnsettledSamples) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(2, 2, 0);
    Hold(At(2, 2, 15.7f, Z::Idle), kLeadIn);
    Feed(At(2, 2, 15.7f, Z::Idle, true));
    EXPECT_EQ(tune->SettleCounter(), 9);
    int samples = 1;
    while (State(2, 2) == CellState::NotVisited && samples < 20) {
        Feed(At(2, 2, 15.7f, Z::Idle));
        ++samples;
    }
    EXPECT_EQ(samples, 11) << "the transient sample and the nine after it are unsettled";
    // A transient in the middle starts the count again.
    Hold(At(2, 2, 15.7f, Z::Idle), 1);
    const std::int32_t before = Value(2, 2);
    Feed(At(2, 2, 15.7f, Z::Idle, true));
    Hold(At(2, 2, 15.7f, Z::Idle), 9);
    EXPECT_EQ(Value(2, 2), before);
    Hold(At(2, 2, 15.7f, Z::Idle), 3);
    EXPECT_EQ(Value(2, 2), before + 7);
}

// The settling runs on every sample: a transient that comes with a guarded sample starts it, and
// guarded samples count it down.
TEST_F(AutotuneTest, TheSettleCounterRunsOnGuardedSamplesToo) {
    Run(kLH23, kNonCat);
    AutotuneSampleData cold = At(3, 3, 16.0f, Z::Cruise);
    cold.coolantC = 20;
    AutotuneSampleData coldTransient = cold;
    coldTransient.transient = true;
    Feed(coldTransient);
    EXPECT_EQ(tune->SettleCounter(), 9);
    Hold(cold, 9);
    EXPECT_EQ(tune->SettleCounter(), 0);
    EXPECT_EQ(tune->Dropped().cold, 10);
    Hold(At(3, 3, 16.0f, Z::Cruise), 1);
    EXPECT_EQ(State(3, 3), CellState::Lean) << "settled: judged at once";
}

TEST_F(AutotuneTest, AForbiddenCellKeepsColourAndValue) {
    Run(kLH23, kNonCat);
    grid.SetCurrentCell(grid.FixedRows() + 4, 1 + 4);
    tune->MarkSelected(CellState::Forbidden);
    const std::int32_t before = Value(4, 4);
    Hold(At(4, 4, 16.0f, Z::Cruise), kLeadIn);
    for (float afr : {16.0f, 12.0f, 14.7f}) Hold(At(4, 4, afr, Z::Cruise), 5);
    EXPECT_EQ(State(4, 4), CellState::Forbidden);
    EXPECT_EQ(Value(4, 4), before);
    EXPECT_EQ(tune->JudgedZone(4, 4), std::nullopt);
    EXPECT_EQ(tune->JudgedErrors().size(), 15u) << "the samples were judged";
}

TEST_F(AutotuneTest, MarkingColoursTheSelectedCells) {
    Run(kLH23, kNonCat);
    grid.SetCurrentCell(grid.FixedRows() + 1, 1 + 1);
    grid.SetSelectionEnd(grid.FixedRows() + 2, 1 + 3);
    for (CellState s : {CellState::Tuned, CellState::NotVisited, CellState::Forbidden}) {
        tune->MarkSelected(s);
        for (int row = 1; row <= 2; ++row)
            for (int col = 1; col <= 3; ++col) EXPECT_EQ(State(row, col), s);
        EXPECT_EQ(State(0, 0), CellState::NotVisited);
    }
}

TEST_F(AutotuneTest, ADisabledZoneNeitherColoursNorChanges) {
    Run(kLH23, kNonCat);
    tune->SetEnabled(1, false);
    const std::int32_t before = Value(6, 6);
    Hold(At(6, 6, 16.0f, Z::Cruise), kLeadIn + 6);
    EXPECT_EQ(State(6, 6), CellState::NotVisited);
    EXPECT_EQ(Value(6, 6), before);
    Hold(At(6, 6, 16.0f, Z::Wot), kLeadIn);
    EXPECT_EQ(State(6, 6), CellState::NotVisited) << "the gas of the disabled zone";
    Feed(At(6, 6, 16.0f, Z::Wot));
    EXPECT_EQ(State(6, 6), CellState::Lean) << "the other zones still tune";
}

TEST_F(AutotuneTest, NothingHappensWhileNotRunning) {
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    const std::vector<std::uint8_t> bytes = image->Bytes();
    Hold(At(6, 6, 16.0f, Z::Cruise), 10);
    EXPECT_EQ(State(6, 6), CellState::NotVisited);
    EXPECT_EQ(image->Bytes(), bytes);
}

TEST_F(AutotuneTest, OnlyBaseFuelMapsOpen) {
    Show(kLH23, "WOT enrichment map (cat)");
    EXPECT_FALSE(tune->Open(*editor, *image, mapName));
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Only the base fuel maps can be auto-tuned."});
    EXPECT_FALSE(tune->IsOpen());
    EXPECT_TRUE(host.selectorEnabled);
    for (const char* map : {kNonCat, kCat}) {
        ShowMap(map);
        EXPECT_TRUE(tune->Open(*editor, *image, mapName)) << map;
        EXPECT_FALSE(host.selectorEnabled);
    }
}

TEST_F(AutotuneTest, StartNeedsTheFuelMapTab) {
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    host.fuelTabSelected = false;
    const std::vector<std::uint8_t> bytes = image->Bytes();
    EXPECT_FALSE(tune->Start());
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Please go to the Fuel map tab before starting auto tune."});
    EXPECT_FALSE(tune->IsRunning());
    EXPECT_EQ(image->Bytes(), bytes);
}

TEST_F(AutotuneTest, StartAndStopSetTheWindowState) {
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    EXPECT_EQ(tune->StartStopCaption(), "&Start auto-tune");
    EXPECT_TRUE(tune->TargetBoxEnabled(0));
    tune->StartStop();
    EXPECT_TRUE(tune->IsRunning());
    EXPECT_EQ(tune->Status(), "Auto-tune running");
    EXPECT_EQ(tune->StartStopCaption(), "&Stop auto-tune");
    EXPECT_EQ(host.markerResets, 1);
    for (int z = 0; z < 3; ++z) EXPECT_FALSE(tune->TargetBoxEnabled(z) || tune->ErrorBoxEnabled(z));
    tune->SetTargetText(0, "10");
    EXPECT_EQ(tune->TargetText(0), "14.7") << "a disabled box does not change";
    EXPECT_FALSE(tune->Close()) << "closing is refused while running";
    tune->StartStop();
    EXPECT_FALSE(tune->IsRunning());
    EXPECT_EQ(tune->Status(), "");
    EXPECT_EQ(tune->StartStopCaption(), "&Start auto-tune");
    EXPECT_TRUE(tune->ErrorBoxEnabled(2));
}

// The cat map tunes idle and cruise to a stoichiometric mixture; the user's own targets and
// errors for the other maps are kept as they were, through a run and closing.
TEST_F(AutotuneTest, TheCatMapTunesIdleAndCruiseToStoichiometricAndKeepsTheUsersSettings) {
    const std::map<std::string, std::string> own{{"TargetAFR_0", "13.5"},     {"TargetAFR_1", "15.2"},
                                                 {"TargetAFRError_0", "0.3"}, {"TargetAFRError_1", "0.5"},
                                                 {"TargetAFR_2", "12.5"},     {"TargetAFRError_2", "0.2"}};
    for (const auto& [key, value] : own) settings.SaveSetting("Autotune", key, value);
    Show(kLH23, kCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    for (int z = 0; z < 2; ++z) {
        EXPECT_EQ(tune->TargetText(z), "14.7");
        EXPECT_EQ(tune->ErrorText(z), "0.1");
        EXPECT_FALSE(tune->TargetBoxEnabled(z));
        EXPECT_FALSE(tune->ErrorBoxEnabled(z));
    }
    EXPECT_EQ(tune->TargetText(2), "12.5");
    EXPECT_TRUE(tune->TargetBoxEnabled(2));
    ASSERT_TRUE(tune->Start());
    EXPECT_EQ(tune->Band(0).target, 14.7f);
    EXPECT_EQ(tune->Band(1).error, 0.1f);
    tune->Stop();
    ASSERT_TRUE(tune->Close());
    for (const auto& [key, value] : own) EXPECT_EQ((settings.values[{"Autotune", key}]), value) << key;
    // On the other map the user's own values show again.
    ShowMap(kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    EXPECT_EQ(tune->TargetText(0), "13.5");
    EXPECT_EQ(tune->ErrorText(1), "0.5");
}

TEST_F(AutotuneTest, StartRunsTheUnitOpenLoopOnTheShownMap) {
    struct Case {
        const char* map;
        std::uint8_t config;
        std::uint8_t want;
        bool pointsToCatMap;
    };
    for (const Case& c : {Case{kNonCat, 0x06, 0x05, false}, Case{kNonCat, 0xF2, 0xF1, false},
                          Case{kCat, 0x06, 0x01, true}, Case{kCat, 0xA7, 0xA1, true}}) {
        SCOPED_TRACE(std::string(c.map) + " config " + std::to_string(c.config));
        Show(kLH23, c.map);
        const std::int32_t config = image->GetEPROMAddress(9);
        const std::int32_t pointer = image->GetEPROMAddress(16);
        ASSERT_NE(pointer, 0);
        image->WriteByte(config, c.config);
        image->WriteWord(pointer, image->GetMapAddr(2));
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        EXPECT_EQ(image->ReadByte(config), c.want);
        EXPECT_EQ(image->ReadWord(pointer), image->GetMapAddr(c.pointsToCatMap ? 1 : 2));
    }
}

TEST_F(AutotuneTest, StartTurnsTheLH22OxygenLoopOff) {
    for (bool loop : {true, false}) {
        Show(kLH22, kLH22Map);
        image->LH22_EnableO2Loop(loop);
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        EXPECT_FALSE(image->LH22_IsO2LoopEnabled());
        tune->Stop();
        EXPECT_EQ(image->LH22_IsO2LoopEnabled(), loop);
    }
}

// Whatever the image held before, a run that changed no cell leaves every byte as it was.
TEST_F(AutotuneTest, StopPutsBackEveryByteThatStartChanged) {
    struct Case {
        const char* base;
        const char* map;
        std::uint8_t config;
        int pointerMap; // the map the pointer word names before the run; 0 = leave it
        int o2Bytes;    // LH 2.2: the two bytes of the oxygen loop entry; -1 = leave them
    };
    for (const Case& c :
         {Case{kLH23, kNonCat, 0x00, 2, -1}, Case{kLH23, kNonCat, 0x07, 1, -1}, Case{kLH23, kCat, 0x03, 2, -1},
          Case{kLH23, kCat, 0xFE, 1, -1}, Case{kLH23, kCat, 0x54, 0, -1}, Case{kLH22, kLH22Map, 0, 0, 0xF675},
          Case{kLH22, kLH22Map, 0, 0, 0x0412}, Case{kLH22, kLH22Map, 0, 0, -1}}) {
        SCOPED_TRACE(std::string(c.map) + " config " + std::to_string(c.config) + " pointer map " +
                     std::to_string(c.pointerMap) + " o2 " + std::to_string(c.o2Bytes));
        Show(c.base, c.map);
        if (image->GetECUType() == EcuType::LH23) {
            image->WriteByte(image->GetEPROMAddress(9), c.config);
            if (c.pointerMap != 0) image->WriteWord(image->GetEPROMAddress(16), image->GetMapAddr(c.pointerMap));
        }
        if (c.o2Bytes >= 0) {
            image->WriteByte(image->GetEPROMAddress(52), static_cast<std::uint8_t>(c.o2Bytes >> 8));
            image->WriteByte(image->GetEPROMAddress(52) + 1, static_cast<std::uint8_t>(c.o2Bytes & 0xFF));
        }
        const std::vector<std::uint8_t> before = image->Bytes();
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        tune->Stop();
        EXPECT_EQ(image->Bytes(), before);
    }
}

// A save during a run writes the image as the user keeps it: the unit runs open loop on the
// shown map only while the run lasts, so the file gets the unit's own settings, and the image is
// unmodified again once the run has put them back.
TEST_F(AutotuneTest, ASaveDuringARunKeepsTheUnitsOwnSettingsInTheFile) {
    TempDir dir;
    for (const auto& [base, map] : {std::pair{kLH23, kNonCat}, std::pair{kLH23, kCat}, std::pair{kLH22, kLH22Map}}) {
        SCOPED_TRACE(map);
        Show(base, map);
        if (image->GetECUType() == EcuType::LH23)
            image->WriteWord(image->GetEPROMAddress(16), image->GetMapAddr(2)); // the unit on map 2
        const std::vector<std::uint8_t> before = image->Bytes();
        ASSERT_TRUE(tune->Open(*editor, *image, mapName));
        ASSERT_TRUE(tune->Start());
        ASSERT_NE(image->Bytes(), before) << "the run changed the unit's settings";
        const std::vector<std::uint8_t> running = image->Bytes();
        const std::string path = dir.File("saved.bin");
        ASSERT_TRUE(image->SaveToFile(path, FileFormat::None)) << image->LastSaveError();
        EXPECT_EQ(image->Bytes(), running) << "the running unit keeps its open loop";

        EpromContext fileContext;
        EPROM file(fileContext);
        ASSERT_EQ(file.LoadFromFile(path), "");
        // The image as loaded from the file (an LH 2.2 file is one 4 kB copy of the image).
        const auto length = static_cast<std::ptrdiff_t>(image->ImageSize());
        ASSERT_GE(file.Bytes().size(), static_cast<std::size_t>(length));
        EXPECT_TRUE(std::equal(before.begin(), before.begin() + length, file.Bytes().begin()));

        tune->Stop();
        EXPECT_EQ(image->Bytes(), before);
        EXPECT_FALSE(image->HasBeenModified()) << "the image is what the file holds";
        // After the run the file gets whatever the user sets there.
        const std::int32_t at = image->GetEPROMAddress(image->GetECUType() == EcuType::LH23 ? 9 : 52);
        const auto changed = static_cast<std::uint8_t>(image->ReadByte(at) ^ 0x10);
        image->WriteByte(at, changed);
        ASSERT_TRUE(image->SaveToFile(path, FileFormat::None));
        ASSERT_EQ(file.LoadFromFile(path), "");
        EXPECT_EQ(file.ReadByte(at), changed);
        ASSERT_TRUE(tune->Close());
    }
}

// A run is one step of the image's undo history, "Autotune": undo takes back every cell it
// corrected and nothing else (the unit's settings are as the run put them back); while the run
// lasts nothing is undone, and the main window is told so.
TEST_F(AutotuneTest, ARunIsOneUndoStep) {
    EditHistories histories(context);
    Show(kLH23, kNonCat);
    {
        EditStep step(context, "Set value");
        editor->SetCellValue(1, 1, 5);
    }
    const std::vector<std::uint8_t> before = image->Bytes();
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    ASSERT_TRUE(tune->Start());
    EXPECT_EQ(host.runs, (std::vector<bool>{true}));
    Hold(At(3, 4, 13.7f, Z::Cruise), kLeadIn + 3); // rich: corrected
    // another grid point: its first samples are the first one's gas, then lean: corrected
    Hold(At(6, 7, 15.7f, Z::Idle), kLeadIn + 3);
    ASSERT_NE(image->Bytes(), before);
    EXPECT_FALSE(histories.Undo(*image)) << "not while the run lasts";
    tune->Stop();
    EXPECT_EQ(host.runs, (std::vector<bool>{true, false}));
    const std::vector<std::uint8_t> after = image->Bytes();

    const EditHistory& h = histories.Of(*image);
    ASSERT_EQ(h.Steps().size(), 2u);
    EXPECT_EQ(h.UndoName(), "Autotune");
    EXPECT_EQ(h.Steps().back().changes.size(), 2u) << "the two corrected cells, not the unit's settings";
    ASSERT_TRUE(histories.Undo(*image));
    EXPECT_EQ(image->Bytes(), before);
    ASSERT_TRUE(histories.Redo(*image));
    EXPECT_EQ(image->Bytes(), after);

    // A run that corrected nothing leaves no step.
    ASSERT_TRUE(tune->Start());
    tune->Stop();
    EXPECT_EQ(histories.Of(*image).Steps().size(), 2u);
}

TEST_F(AutotuneTest, SettingsAreReadFilteredAndSavedOnClose) {
    settings.SaveSetting("Autotune", "TargetAFR_1", "1 4,2x");
    settings.SaveSetting("Autotune", "TargetAFRError_2", "0.3");
    settings.SaveSetting("Autotune", "Enable_0", "0");
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    EXPECT_EQ(tune->TargetText(0), "14.7") << "default";
    EXPECT_EQ(tune->TargetText(1), "142");
    EXPECT_EQ(tune->TargetText(2), "12.0");
    EXPECT_EQ(tune->ErrorText(0), "0.1");
    EXPECT_EQ(tune->ErrorText(2), "0.3");
    EXPECT_FALSE(tune->Enabled(0));
    EXPECT_TRUE(tune->Enabled(1));
    tune->SetTargetText(2, "12.5");
    tune->SetErrorText(1, "0.2");
    tune->SetEnabled(0, true);
    tune->SetEnabled(2, false);
    ASSERT_TRUE(tune->Close());
    const std::map<std::string, std::string> want{
        {"TargetAFR_0", "14.7"},     {"TargetAFR_1", "142"},      {"TargetAFR_2", "12.5"},
        {"TargetAFRError_0", "0.1"}, {"TargetAFRError_1", "0.2"}, {"TargetAFRError_2", "0.3"},
        {"Enable_0", "1"},           {"Enable_1", "1"},           {"Enable_2", "0"}};
    for (const auto& [key, value] : want) EXPECT_EQ((settings.values[{"Autotune", key}]), value) << key;
}

TEST_F(AutotuneTest, ClosingWhitensTheGridAndFreesTheMapSelector) {
    Run(kLH23, kNonCat);
    Hold(At(1, 1, 16.0f, Z::Cruise), kLeadIn + 3);
    Hold(At(2, 2, 14.7f, Z::Cruise), kLeadIn + 3);
    ASSERT_EQ(State(2, 2), CellState::Tuned);
    tune->Stop();
    ASSERT_TRUE(tune->Close());
    EXPECT_FALSE(tune->IsOpen());
    EXPECT_TRUE(host.selectorEnabled);
    for (int row = 0; row < editor->GetYAxisSize(); ++row)
        for (int col = 0; col < editor->GetXAxisSize(); ++col) ASSERT_EQ(State(row, col), CellState::NotVisited);
}

TEST_F(AutotuneTest, AbandoningTouchesNeitherEditorNorImage) {
    Run(kLH23, kNonCat);
    Hold(At(1, 1, 16.0f, Z::Cruise), kLeadIn + 1);
    tune->SetTargetText(2, "12.5"); // refused while running: the box is disabled
    const std::vector<std::uint8_t> bytes = image->Bytes();
    tune->Abandon();
    EXPECT_FALSE(tune->IsOpen());
    EXPECT_FALSE(tune->IsRunning());
    EXPECT_TRUE(host.selectorEnabled);
    EXPECT_EQ(image->Bytes(), bytes);
    EXPECT_EQ(State(1, 1), CellState::Lean);
    EXPECT_EQ((settings.values[{"Autotune", "TargetAFR_2"}]), "12.0");
    Hold(At(2, 2, 16.0f, Z::Cruise), kLeadIn + 1);
    EXPECT_EQ(State(2, 2), CellState::NotVisited);
}

TEST(AutotuneTrace, ATraceSampleGivesTheAutotuneSample) {
    TraceSample t;
    t.rpmValue = 120;
    t.loadValue = 345;
    t.afrValue = 13.5f;
    t.throttle = 2;
    t.transient = true;
    t.rpm = 4100;
    t.coolantC = 81;
    t.afrAtLawEnd = true;
    const AutotuneSampleData s = AutotuneSampleFromTrace(t);
    EXPECT_EQ(s.x, 120);
    EXPECT_EQ(s.y, 345);
    EXPECT_EQ(s.afr, 13.5f);
    EXPECT_EQ(s.zone, 2);
    EXPECT_TRUE(s.transient);
    EXPECT_EQ(s.rpm, 4100);
    EXPECT_EQ(s.coolantC, 81);
    EXPECT_TRUE(s.afrAtLawEnd);
}

// A sample that says nothing about the mixture is not judged at all, and each guard counts. A
// reading at the lean end of the law during a transient, or in the settling after it (the gas
// of the cut still on its way to the sensor), is an over-run fuel cut (nothing burnt), not a
// sensor warming up.
TEST_F(AutotuneTest, GuardsDropSamplesThatSayNothingAboutTheMixture) {
    struct Case {
        const char* what;
        bool atLawEnd;
        bool transient;
        double rpm;
        double coolantC;
        AutotuneGuardCounts want;
    };
    settings.SaveSetting("Autotune", "WarmEngineC", "75");
    for (const Case& c :
         {Case{"sensor at a law end", true, false, 2500, 85, {1, 0, 0, 0}},
          Case{"fuel cut", true, true, 2500, 85, {0, 1, 0, 0}}, Case{"cranking", false, false, 250, 85, {0, 0, 1, 0}},
          Case{"cold engine", false, false, 2500, 74, {0, 0, 0, 1}},
          Case{"all at once counts once", true, false, 0, 20, {1, 0, 0, 0}}}) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        EXPECT_EQ(tune->WarmEngineC(), 75.0);
        editor->SetCellValue(3, 3, 0);
        Hold(At(3, 3, 16.0f, Z::Cruise), kLeadIn);
        AutotuneSampleData s = At(3, 3, 16.0f, Z::Cruise, c.transient);
        s.afrAtLawEnd = c.atLawEnd;
        s.rpm = c.rpm;
        s.coolantC = c.coolantC;
        Hold(s, 3);
        EXPECT_EQ(State(3, 3), CellState::NotVisited);
        EXPECT_EQ(Value(3, 3), 0);
        const AutotuneGuardCounts& d = tune->Dropped();
        EXPECT_EQ(d.sensor, c.want.sensor * 3);
        EXPECT_EQ(d.fuelCut, c.want.fuelCut * 3);
        EXPECT_EQ(d.cranking, c.want.cranking * 3);
        EXPECT_EQ(d.cold, c.want.cold * 3);
        EXPECT_EQ(d.Total(), 3);
        // The same sample from a warm, running engine with a working sensor is judged.
        Hold(At(3, 3, 16.0f, Z::Cruise), kSettleSamples + 3);
        EXPECT_EQ(State(3, 3), CellState::Lean);
        EXPECT_GT(Value(3, 3), 0);
    }
}

// The unit ends the cut before the air it pumped has passed the sensor: the lean-end readings
// of the settling after the transient are the cut's too; later ones are the sensor's.
TEST_F(AutotuneTest, TheReadingsJustAfterAFuelCutAreTheCutsNotTheSensors) {
    Run(kLH23, kNonCat);
    AutotuneSampleData cut = At(2, 2, 19.0f, Z::Idle, true);
    cut.afrAtLawEnd = true;
    AutotuneSampleData after = cut;
    after.transient = false;
    Hold(cut, 5);
    Hold(after, kSettleSamples - 1);
    EXPECT_EQ(tune->Dropped().fuelCut, 5 + kSettleSamples - 1);
    EXPECT_EQ(tune->Dropped().sensor, 0);
    Feed(after);
    EXPECT_EQ(tune->Dropped().sensor, 1) << "settled: the sensor";
}

// A cell is visited once a judged sample was charged to it. Samples that were dropped or not
// settled, or stopped at a tuned or forbidden cell, or of a disabled zone, visit nothing;
// marking a cell not visited forgets its visits.
TEST_F(AutotuneTest, VisitedCellsAreThoseWithAJudgedSample) {
    struct Case {
        const char* what;
        std::function<void()> before; // set-up of cell (5, 5)
        AutotuneSampleData sample;
        std::optional<int> zone; // of cell (5, 5) afterwards
    };
    Run(kLH23, kNonCat);
    auto mark = [this](CellState state) {
        return [this, state] {
            grid.SetCurrentCell(grid.FixedRows() + 5, 1 + 5);
            tune->MarkSelected(state);
        };
    };
    AutotuneSampleData cold = At(5, 5, 16.0f, Z::Cruise);
    cold.coolantC = 20;
    const std::vector<Case> cases{
        {"a lean sample", {}, At(5, 5, 16.0f, Z::Cruise), 1},
        {"an on-band sample at WOT", {}, At(5, 5, 12.0f, Z::Wot), 2},
        {"an on-band sample, before it is green", {}, At(5, 5, 14.7f, Z::Idle), 0},
        {"an unsettled sample", {}, At(5, 5, 13.0f, Z::Idle, true), std::nullopt},
        {"a guarded sample", {}, cold, std::nullopt},
        {"a cell marked not to be tuned", mark(CellState::Forbidden), At(5, 5, 16.0f, Z::Cruise), std::nullopt},
        {"a cell marked tuned by hand", mark(CellState::Tuned), At(5, 5, 16.0f, Z::Cruise), std::nullopt},
        {"a disabled zone", [this] { tune->SetEnabled(1, false); }, At(5, 5, 16.0f, Z::Cruise), std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        EXPECT_EQ(tune->VisitedCells(), 0);
        if (c.before) c.before();
        Hold(c.sample, kLeadIn + 1);
        EXPECT_EQ(tune->JudgedZone(5, 5), c.zone);
        EXPECT_EQ(tune->VisitedCells(), c.zone ? 1 : 0);
        EXPECT_EQ(tune->JudgedZone(5, 6), std::nullopt);
    }

    // Visits last while the window stays open, across runs, and go with "Mark as not visited".
    Run(kLH23, kNonCat);
    Hold(At(5, 5, 16.0f, Z::Cruise), kLeadIn + 1);
    // another grid point is judged once its own gas reaches the sensor
    Hold(At(7, 2, 13.0f, Z::Cruise), kLeadIn + 1);
    tune->Stop();
    ASSERT_TRUE(tune->Start());
    EXPECT_EQ(tune->VisitedCells(), 2);
    grid.SetCurrentCell(grid.FixedRows() + 5, 1 + 5);
    tune->MarkSelected(CellState::NotVisited);
    EXPECT_EQ(tune->JudgedZone(5, 5), std::nullopt);
    EXPECT_EQ(tune->JudgedZone(7, 2), 1);
    EXPECT_EQ(tune->VisitedCells(), 1);
    tune->Stop();
    ASSERT_TRUE(tune->Close());
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    EXPECT_EQ(tune->VisitedCells(), 0) << "a window opened anew starts with no visits";
}

// At the desk: a run's rows judged as live, each cell with enough evidence fitted once from all
// of it, damped towards the value it had by one sample's worth.
TEST_F(AutotuneTest, ARecordedRunIsFittedOnceDampedTowardsNoChange) {
    struct Case {
        const char* what;
        int rows;     // 0.1 s apart, steady at cell (5, 5), cruise, A/F 15.7
        double delay; // seconds
        std::int32_t want;
    };
    // n judged rows: fuel (n x 15.7 / 14.7 + 1) / (n + 1) of the cell's, from 1 + 0 / 512.
    const Case cases[] = {
        {"five rows: two judged, too little evidence", 5, 0.3, 0},
        {"six rows: three judged", 6, 0.3, conv::RoundEven((3 * 15.7 / 14.7 + 1) / 4 * 512 - 512)},
        {"thirty rows", 30, 0.3, conv::RoundEven((27 * 15.7 / 14.7 + 1) / 28 * 512 - 512)},
        {"thirty rows, a second's delay", 30, 1.0, conv::RoundEven((20 * 15.7 / 14.7 + 1) / 21 * 512 - 512)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Show(kLH23, kNonCat);
        editor->SetCellValue(5, 5, 0);
        const std::vector<std::uint8_t> before = image->Bytes();
        LogRun run({"Time [s]", "RPM", "MAF signal", "A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)"});
        const std::string rpm = std::to_string(conv::LH_RpmFromCode(editor->XAxisPoints()[5]));
        const std::string load = std::to_string(editor->YAxisPoints()[5]);
        for (int r = 0; r < c.rows; ++r) {
            const std::vector<std::string> cells{std::to_string(0.1 * (r + 1)), rpm, load, "15.7", "2"};
            run.AppendRow(cells);
        }
        OfflineTuneOptions o;
        for (auto& b : o.bands) b = ClampBand("14.7", "0.1");
        o.delayS = c.delay;
        const Parsed<OfflineTuneResult> r = TuneFromRun(run, *editor, EcuType::LH23, o);
        ASSERT_TRUE(r) << r.Error();
        EXPECT_EQ(Value(5, 5), c.want);
        EXPECT_EQ(State(5, 5), CellState::Lean);
        EXPECT_EQ(r->visited, 1);
        int changed = 0;
        for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != image->Bytes()[i];
        EXPECT_EQ(changed, c.want == 0 ? 0 : 1) << "no other cell";
    }
    // A column missing is named.
    LogRun run({"Time [s]", "RPM", "A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)"});
    const Parsed<OfflineTuneResult> r = TuneFromRun(run, *editor, EcuType::LH23, OfflineTuneOptions{});
    ASSERT_FALSE(r);
    EXPECT_EQ(r.Error(), "The run has no column \"MAF signal\"");
}

// "Tune from a run...": the window's targets and zones, one undo step, the colours of the
// evidence; refused while running and for a run without a needed column.
TEST_F(AutotuneTest, TuningFromARunIsOneUndoStep) {
    EditHistories histories(context);
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    editor->SetCellValue(5, 5, 0);
    const std::vector<std::uint8_t> before = image->Bytes();
    LogRun run({"Time [s]", "RPM", "MAF signal", "A/F ratio", "Throttle pos (1=idle, 2=cruise, 3=WOT)"});
    const std::string rpm = std::to_string(conv::LH_RpmFromCode(editor->XAxisPoints()[5]));
    const std::string load = std::to_string(editor->YAxisPoints()[5]);
    for (int r = 0; r < 30; ++r) {
        const std::vector<std::string> cells{std::to_string(0.1 * (r + 1)), rpm, load, "13.7", "2"};
        run.AppendRow(cells);
    }
    tune->SetEnabled(1, false);
    EXPECT_TRUE(tune->TuneFromRun(run));
    EXPECT_EQ(image->Bytes(), before) << "cruise is not tuned";
    EXPECT_EQ(State(5, 5), CellState::NotVisited);
    tune->SetEnabled(1, true);
    ASSERT_TRUE(tune->Start());
    EXPECT_FALSE(tune->TuneFromRun(run)) << "not while running";
    tune->Stop();
    EXPECT_TRUE(tune->TuneFromRun(run));
    EXPECT_LT(Value(5, 5), 0);
    EXPECT_EQ(State(5, 5), CellState::Rich);
    EXPECT_EQ(histories.Of(*image).UndoName(), "Tune from a run");
    ASSERT_TRUE(histories.Undo(*image));
    EXPECT_EQ(image->Bytes(), before);

    LogRun shortRun({"Time [s]", "RPM"});
    EXPECT_FALSE(tune->TuneFromRun(shortRun));
    EXPECT_EQ(dialogs.messages.back(), "The run has no column \"MAF signal\"");
}

TEST_F(AutotuneTest, TheWarmEngineThresholdDefaultsTo70) {
    Run(kLH23, kNonCat);
    EXPECT_EQ(tune->WarmEngineC(), 70.0);
    AutotuneSampleData s = At(3, 3, 16.0f, Z::Cruise);
    s.coolantC = 69.5;
    Hold(s, kLeadIn + 1);
    EXPECT_EQ(tune->Dropped().cold, kLeadIn + 1);
    s.coolantC = 70.0;
    Feed(s);
    EXPECT_EQ(State(3, 3), CellState::Lean);
}

} // namespace

} // namespace kv
