// Live autotune on the base fuel maps: colours, corrections, settling, the opening, starting
// and stopping rules with what they do to the image, the settings and the guards.
#include "autotune_test_util.h"
#include "eprom/edit_step.h"
#include "maps/map_trace.h"
#include "temp_dir.h"
#include "undo/edit_history.h"

#include <gtest/gtest.h>

#include <algorithm>
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

TEST_F(AutotuneTest, AnOnBandSampleTurnsTheCellGreenForGood) {
    Run(kLH23, kNonCat);
    const std::int32_t before = Value(5, 6);
    tune->Sample(At(5, 6, 14.75f, Z::Cruise));
    EXPECT_EQ(State(5, 6), CellState::Tuned);
    for (float afr : {16.0f, 13.0f, 15.0f}) tune->Sample(At(5, 6, afr, Z::Cruise));
    EXPECT_EQ(State(5, 6), CellState::Tuned);
    EXPECT_EQ(Value(5, 6), before);
}

// One settled sample on a cell that starts at `start`.
TEST_F(AutotuneTest, LeanAndRichSamplesMoveTheCellByTheGains) {
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
        tune->Sample(At(3, 4, c.afr, c.zone));
        EXPECT_EQ(State(3, 4), c.state);
        EXPECT_EQ(Value(3, 4), c.want);
        EXPECT_EQ(image->ReadMapCell(editor->GetMap(), editor->MapX(4), editor->MapY(3)) + editor->GetCellValueOffset(),
                  c.want)
            << "the correction is in the image";
    }
}

// The unit blends the four cells around the operating point, so a sample off the grid point
// measures its neighbours too. The nearest cell is judged by the mixture it alone would give:
// the measured ratio times the blended fuel factor over the cell's own (1 + value / 512).
TEST_F(AutotuneTest, ASampleBetweenCellsJudgesTheNearestCellByItsOwnShare) {
    struct Case {
        const char* what;
        double fx, fy; // position from cell (3, 4) towards (4, 5), in cells
        float afr;
        int row, col; // the cell judged
        std::optional<CellState> state;
        std::int32_t want;
    };
    // Row 3: +40 at column 4, -40 at column 5; row 4: 0 and +20.
    const Case cases[] = {
        // blend 1 + 24/512 over 1 + 40/512: 14.7 x 536/552 = 14.274, rich;
        // c = (1 - 14.274/14.7) x 512 x 0.2 = 2.97
        {"measured on target, the nearest cell is rich", 0.2, 0.0, 14.7f, 3, 4, CellState::Rich, 37},
        // 15.2 x 536/552 = 14.759: inside the band
        {"measured lean, the nearest cell is on target", 0.2, 0.0, 15.2f, 3, 4, CellState::Tuned, 40},
        // blend 1 - 24/512 over 1 - 40/512: 14.7 x 488/472 = 15.198, lean;
        // c = (15.198/14.7 - 1) x 512 x 0.3 = 5.21
        {"measured on target, the nearest cell is lean", 0.8, 0.0, 14.7f, 3, 5, CellState::Lean, -35},
        // blend 0.8 x 0.8 x 40 + 0.2 x 0.8 x -40 + 0.8 x 0.2 x 0 + 0.2 x 0.2 x 20 = 20:
        // 14.7 x 532/552 = 14.167, rich; c = (1 - 14.167/14.7) x 512 x 0.2 = 3.71
        {"between four cells", 0.2, 0.2, 14.7f, 3, 4, CellState::Rich, 36},
        {"on the grid point the measurement stands", 0.0, 0.0, 14.7f, 3, 4, CellState::Tuned, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        editor->SetCellValue(3, 4, 40);
        editor->SetCellValue(3, 5, -40);
        editor->SetCellValue(4, 4, 0);
        editor->SetCellValue(4, 5, 20);
        const auto& xs = editor->XAxisPoints();
        const auto& ys = editor->YAxisPoints();
        AutotuneSampleData s = At(3, 4, c.afr, Z::Cruise);
        s.x = xs[4] + c.fx * (xs[5] - xs[4]);
        s.y = ys[3] + c.fy * (ys[4] - ys[3]);
        tune->Sample(s);
        EXPECT_EQ(State(c.row, c.col), c.state);
        EXPECT_EQ(Value(c.row, c.col), c.want);
        EXPECT_EQ(tune->VisitedCells(), 1);
    }
}

// Away from its grid point a sample says more about the engine's breathing there than about the
// cell: only samples within a quarter of a cell of the grid point, in both directions, are judged.
// The others are counted, and still count down the settling after a transient.
TEST_F(AutotuneTest, SamplesFarFromTheGridPointAreNotJudged) {
    struct Case {
        double fx, fy;
        bool judged;
    };
    for (const Case& c :
         {Case{0.0, 0.0, true}, Case{0.24, 0.0, true}, Case{0.0, -0.24, true}, Case{0.75, 0.2, true},
          Case{0.3, 0.0, false}, Case{0.0, 0.3, false}, Case{0.5, 0.5, false}, Case{-0.3, 0.1, false}}) {
        SCOPED_TRACE(std::to_string(c.fx) + ", " + std::to_string(c.fy));
        Run(kLH23, kNonCat);
        const auto& xs = editor->XAxisPoints();
        const auto& ys = editor->YAxisPoints();
        auto at = [&](double f, const std::vector<std::int32_t>& p, std::size_t i) {
            return f >= 0 ? p[i] + f * (p[i + 1] - p[i]) : p[i] + f * (p[i] - p[i - 1]);
        };
        AutotuneSampleData s = At(5, 5, 16.0f, Z::Cruise, true);
        s.x = at(c.fx, xs, 5);
        s.y = at(c.fy, ys, 5);
        tune->Sample(s);
        EXPECT_EQ(tune->SettleCounter(), 9) << "the transient starts the settling either way";
        EXPECT_EQ(tune->Dropped().offGrid, c.judged ? 0 : 1);
        EXPECT_EQ(tune->Dropped().Total(), c.judged ? 0 : 1);
        EXPECT_EQ(tune->VisitedCells(), c.judged ? 1 : 0);
        const int row = c.fy > 0.5 ? 6 : 5, col = c.fx > 0.5 ? 6 : 5;
        EXPECT_EQ(State(row, col), c.judged ? std::optional(CellState::Lean) : std::optional(CellState::NotVisited));
    }
}

// Beyond the last point of an axis the unit runs on the edge cells alone, but the engine breathes
// as it does there, not as at the edge's grid point: the same reach applies, in the last step of
// the axis.
TEST_F(AutotuneTest, SamplesFarBeyondTheMapsEdgeAreNotJudged) {
    struct Case {
        double beyondY, beyondX; // past the last row's / column's point, in that axis' last step
        bool judged;
    };
    for (const Case& c : {Case{0.2, 0.0, true}, Case{0.0, 0.2, true}, Case{0.3, 0.0, false}, Case{0.0, 0.3, false},
                          Case{2.0, 0.0, false}}) {
        SCOPED_TRACE(std::to_string(c.beyondY) + ", " + std::to_string(c.beyondX));
        Run(kLH23, kNonCat);
        const auto& xs = editor->XAxisPoints();
        const auto& ys = editor->YAxisPoints();
        const std::size_t nx = xs.size() - 1, ny = ys.size() - 1;
        AutotuneSampleData s = At(static_cast<int>(ny), static_cast<int>(nx), 16.0f, Z::Wot);
        s.x = xs[nx] + c.beyondX * (xs[nx] - xs[nx - 1]);
        s.y = ys[ny] + c.beyondY * (ys[ny] - ys[ny - 1]);
        tune->Sample(s);
        EXPECT_EQ(tune->Dropped().offGrid, c.judged ? 0 : 1);
        EXPECT_EQ(tune->VisitedCells(), c.judged ? 1 : 0);
    }
}

// The mixture at the sensor was burnt a moment ago: when the operating point arrives at a grid
// point (from another one or from off the grid) its first samples are not judged. A run starts
// with no arrival to wait for.
TEST_F(AutotuneTest, SamplesRightAfterArrivingAtAGridPointAreNotJudged) {
    constexpr int kWait = kArrivalSamples;
    struct Case {
        const char* what;
        std::vector<std::pair<int, int>> path; // cells visited before, one sample each; (-1, -1): off the grid
        int atTarget;                          // samples then at cell (5, 5)
        bool judged;                           // the last of them
        long dropped;
    };
    const std::vector<Case> cases{
        {"the first sample of a run", {}, 1, true, 0},
        {"staying at the grid point", {}, kWait + 3, true, 0},
        {"arriving from another grid point", {{7, 2}}, kWait, false, kWait},
        {"arriving from another grid point, waited", {{7, 2}}, kWait + 1, true, kWait},
        {"arriving from off the grid", {{-1, -1}}, kWait, false, kWait + 1},
        {"arriving from off the grid, waited", {{-1, -1}}, kWait + 1, true, kWait + 1},
        {"passing through", {{7, 2}, {-1, -1}, {7, 2}}, 1, false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        editor->SetCellValue(7, 2, 0);
        for (const auto& [row, col] : c.path) {
            AutotuneSampleData s = At(row < 0 ? 7 : row, col < 0 ? 2 : col, 14.7f, Z::Cruise);
            if (row < 0) s.x = (editor->XAxisPoints()[2] + editor->XAxisPoints()[3]) / 2.0;
            tune->Sample(s);
        }
        long before = tune->Dropped().Total();
        for (int i = 0; i < c.atTarget; ++i) {
            if (i + 1 == c.atTarget) before = tune->Dropped().Total();
            tune->Sample(At(5, 5, 16.0f, Z::Cruise));
        }
        EXPECT_EQ(State(5, 5), c.judged ? std::optional(CellState::Lean) : std::optional(CellState::NotVisited));
        EXPECT_EQ(tune->Dropped().Total() - before, c.judged ? 0 : 1);
        EXPECT_EQ(tune->Dropped().Total(), c.dropped);
        EXPECT_EQ(tune->Dropped().arriving + tune->Dropped().offGrid, c.dropped);
    }
}

// An operating point that creeps across a grid point (a full-throttle pull) is on its way, not
// arrived, however long it stays within reach: samples are judged once it has stayed near where
// it arrived.
TEST_F(AutotuneTest, AnOperatingPointCreepingAcrossAGridPointIsNotJudged) {
    struct Case {
        const char* what;
        std::vector<double> fx; // positions about cell (5, 5), one sample each, after a sample at (7, 2)
        bool judged;            // on any of them
    };
    std::vector<double> creep, wobble;
    for (int i = 0; i <= 2 * kArrivalSamples; ++i) {
        creep.push_back(-0.24 + 0.04 * i);
        wobble.push_back(i % 2 == 0 ? -0.07 : 0.07);
    }
    for (const Case& c : {Case{"creeping", creep, false}, Case{"wobbling", wobble, true}}) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        tune->Sample(At(7, 2, 14.7f, Z::Cruise));
        const auto& xs = editor->XAxisPoints();
        for (double f : c.fx) {
            AutotuneSampleData s = At(5, 5, 16.0f, Z::Cruise);
            s.x = f >= 0 ? xs[5] + f * (xs[6] - xs[5]) : xs[5] + f * (xs[5] - xs[4]);
            tune->Sample(s);
        }
        EXPECT_EQ(State(5, 5), c.judged ? std::optional(CellState::Lean) : std::optional(CellState::NotVisited));
    }
}

// The wide-band reading wanders a little about the true mixture: the state of a cell is decided
// by the mean of the recent samples at its grid point, each taken back to the unit's fuel and
// referred to the cell's value now (a correction acts on the mixture at once). The correction
// itself is worked out from the sample at hand.
TEST_F(AutotuneTest, TheStateFollowsTheMeanOfTheRecentSamplesAtTheGridPoint) {
    struct Case {
        const char* what;
        std::vector<float> afrs; // samples at cell (5, 5), cruise, starting at value 0
        std::optional<CellState> state;
        std::int32_t want;
    };
    const std::vector<Case> cases{
        {"a single sample decides", {14.75f}, CellState::Tuned, 0},
        // c = (15/14.7 - 1) x 512 x 0.3 = 3.13; then (15 + 14.75 x 515/512) / 2 / (515/512) = 14.831
        {"one sample on the band does not outvote a lean one", {15.0f, 14.75f}, CellState::Lean, 3},
        // (15 + 14.75 x 515/512 + 14.7 x 515/512) / 3 / (515/512) = 14.788; the sample at hand
        // is in the band, so nothing is corrected
        {"the mean comes into the band", {15.0f, 14.75f, 14.7f}, CellState::Tuned, 3},
        // c = (1 - 13.7/14.7) x 512 x 0.2 = 6.97 -> -7;
        // then (13.7 + 14.75 x 505/512) / 2 / (505/512) = 14.32
        {"a rich sample holds the mean down", {13.7f, 14.75f}, CellState::Rich, -7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        editor->SetCellValue(5, 5, 0);
        for (float afr : c.afrs) tune->Sample(At(5, 5, afr, Z::Cruise));
        EXPECT_EQ(State(5, 5), c.state);
        EXPECT_EQ(Value(5, 5), c.want);
    }
}

TEST_F(AutotuneTest, ACorrectionLeavesTheNextSampleUnjudgedForValue) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(2, 2, 0);
    const float lean = 15.7f; // +7 per settled idle sample
    std::vector<std::int32_t> values;
    for (int i = 0; i < 4; ++i) {
        tune->Sample(At(2, 2, lean, Z::Idle));
        values.push_back(Value(2, 2));
    }
    EXPECT_EQ(values, (std::vector<std::int32_t>{7, 7, 14, 14}));
}

TEST_F(AutotuneTest, ATransientRestartsTenUnsettledSamples) {
    Run(kLH23, kNonCat);
    editor->SetCellValue(2, 2, 0);
    tune->Sample(At(2, 2, 15.7f, Z::Idle, true));
    EXPECT_EQ(State(2, 2), CellState::Lean) << "unsettled samples still colour the cell";
    int samples = 1;
    while (Value(2, 2) == 0 && samples < 20) {
        tune->Sample(At(2, 2, 15.7f, Z::Idle));
        ++samples;
    }
    EXPECT_EQ(samples, 11) << "the transient sample and the nine after it are unsettled";
    // A transient in the middle starts the count again.
    for (int i = 0; i < 5; ++i) tune->Sample(At(2, 2, 15.7f, Z::Idle));
    const std::int32_t before = Value(2, 2);
    tune->Sample(At(2, 2, 15.7f, Z::Idle, true));
    for (int i = 0; i < 9; ++i) tune->Sample(At(2, 2, 15.7f, Z::Idle));
    EXPECT_EQ(Value(2, 2), before);
    tune->Sample(At(2, 2, 15.7f, Z::Idle));
    EXPECT_EQ(Value(2, 2), before + 7);
}

TEST_F(AutotuneTest, AForbiddenCellKeepsColourAndValue) {
    Run(kLH23, kNonCat);
    grid.SetCurrentCell(grid.FixedRows() + 4, 1 + 4);
    tune->MarkSelected(CellState::Forbidden);
    const std::int32_t before = Value(4, 4);
    for (float afr : {16.0f, 12.0f, 14.7f}) tune->Sample(At(4, 4, afr, Z::Cruise));
    EXPECT_EQ(State(4, 4), CellState::Forbidden);
    EXPECT_EQ(Value(4, 4), before);
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
    tune->Sample(At(6, 6, 16.0f, Z::Cruise));
    tune->Sample(At(6, 6, 16.0f, Z::Cruise));
    EXPECT_EQ(State(6, 6), CellState::NotVisited);
    EXPECT_EQ(Value(6, 6), before);
    tune->Sample(At(6, 6, 16.0f, Z::Wot));
    EXPECT_EQ(State(6, 6), CellState::Lean) << "the other zones still tune";
}

TEST_F(AutotuneTest, NothingHappensWhileNotRunning) {
    Show(kLH23, kNonCat);
    ASSERT_TRUE(tune->Open(*editor, *image, mapName));
    const std::vector<std::uint8_t> bytes = image->Bytes();
    tune->Sample(At(6, 6, 16.0f, Z::Cruise));
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

TEST_F(AutotuneTest, TheCatMapTunesIdleAndCruiseToStoichiometric) {
    settings.SaveSetting("Autotune", "TargetAFR_0", "13.0");
    settings.SaveSetting("Autotune", "TargetAFRError_1", "0.5");
    settings.SaveSetting("Autotune", "TargetAFR_2", "12.5");
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
    tune->Sample(At(3, 4, 13.7f, Z::Cruise)); // rich: corrected
    // another grid point: the samples while arriving there are not judged, then lean: corrected
    for (int i = 0; i <= kArrivalSamples; ++i) tune->Sample(At(6, 7, 15.7f, Z::Idle));
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
    tune->Sample(At(1, 1, 16.0f, Z::Cruise));
    tune->Sample(At(2, 2, 14.7f, Z::Cruise));
    tune->Stop();
    ASSERT_TRUE(tune->Close());
    EXPECT_FALSE(tune->IsOpen());
    EXPECT_TRUE(host.selectorEnabled);
    for (int row = 0; row < editor->GetYAxisSize(); ++row)
        for (int col = 0; col < editor->GetXAxisSize(); ++col) ASSERT_EQ(State(row, col), CellState::NotVisited);
}

TEST_F(AutotuneTest, AbandoningTouchesNeitherEditorNorImage) {
    Run(kLH23, kNonCat);
    tune->Sample(At(1, 1, 16.0f, Z::Cruise));
    tune->SetTargetText(2, "12.5"); // refused while running: the box is disabled
    const std::vector<std::uint8_t> bytes = image->Bytes();
    tune->Abandon();
    EXPECT_FALSE(tune->IsOpen());
    EXPECT_FALSE(tune->IsRunning());
    EXPECT_TRUE(host.selectorEnabled);
    EXPECT_EQ(image->Bytes(), bytes);
    EXPECT_EQ(State(1, 1), CellState::Lean);
    EXPECT_EQ((settings.values[{"Autotune", "TargetAFR_2"}]), "12.0");
    tune->Sample(At(2, 2, 16.0f, Z::Cruise));
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

// A sample that says nothing about the mixture is not judged at all, and each guard counts.
TEST_F(AutotuneTest, GuardsDropSamplesThatSayNothingAboutTheMixture) {
    struct Case {
        const char* what;
        bool atLawEnd;
        double rpm;
        double coolantC;
        AutotuneGuardCounts want;
    };
    settings.SaveSetting("Autotune", "WarmEngineC", "75");
    for (const Case& c :
         {Case{"sensor at a law end", true, 2500, 85, {1, 0, 0}}, Case{"cranking", false, 250, 85, {0, 1, 0}},
          Case{"cold engine", false, 2500, 74, {0, 0, 1}}, Case{"all at once counts once", true, 0, 20, {1, 0, 0}}}) {
        SCOPED_TRACE(c.what);
        Run(kLH23, kNonCat);
        EXPECT_EQ(tune->WarmEngineC(), 75.0);
        editor->SetCellValue(3, 3, 0);
        AutotuneSampleData s = At(3, 3, 16.0f, Z::Cruise, true);
        s.afrAtLawEnd = c.atLawEnd;
        s.rpm = c.rpm;
        s.coolantC = c.coolantC;
        tune->Sample(s);
        EXPECT_EQ(State(3, 3), CellState::NotVisited);
        EXPECT_EQ(Value(3, 3), 0);
        EXPECT_EQ(tune->SettleCounter(), 0) << "a dropped transient does not start the settling";
        const AutotuneGuardCounts& d = tune->Dropped();
        EXPECT_EQ(d.sensor, c.want.sensor);
        EXPECT_EQ(d.cranking, c.want.cranking);
        EXPECT_EQ(d.cold, c.want.cold);
        EXPECT_EQ(d.Total(), 1);
        // The same sample from a warm, running engine with a working sensor is judged.
        tune->Sample(At(3, 3, 16.0f, Z::Cruise));
        EXPECT_EQ(State(3, 3), CellState::Lean);
        EXPECT_GT(Value(3, 3), 0);
    }
}

// A cell is visited once a sample was judged on it: coloured by the band (or found already of
// the colour the band gives). Samples that were dropped, or stopped at a tuned or forbidden
// cell, or of a disabled zone, visit nothing; marking a cell not visited forgets its visits.
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
        {"an unsettled sample still colours", {}, At(5, 5, 13.0f, Z::Idle, true), 0},
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
        tune->Sample(c.sample);
        EXPECT_EQ(tune->JudgedZone(5, 5), c.zone);
        EXPECT_EQ(tune->VisitedCells(), c.zone ? 1 : 0);
        EXPECT_EQ(tune->JudgedZone(5, 6), std::nullopt);
    }

    // Visits last while the window stays open, across runs, and go with "Mark as not visited".
    Run(kLH23, kNonCat);
    tune->Sample(At(5, 5, 16.0f, Z::Cruise));
    // another grid point is judged once the operating point has stayed there
    for (int i = 0; i <= kArrivalSamples; ++i) tune->Sample(At(7, 2, 13.0f, Z::Cruise));
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

TEST_F(AutotuneTest, TheWarmEngineThresholdDefaultsTo70) {
    Run(kLH23, kNonCat);
    EXPECT_EQ(tune->WarmEngineC(), 70.0);
    AutotuneSampleData s = At(3, 3, 16.0f, Z::Cruise);
    s.coolantC = 69.5;
    tune->Sample(s);
    EXPECT_EQ(tune->Dropped().cold, 1);
    s.coolantC = 70.0;
    tune->Sample(s);
    EXPECT_EQ(State(3, 3), CellState::Lean);
}

} // namespace

} // namespace kv
