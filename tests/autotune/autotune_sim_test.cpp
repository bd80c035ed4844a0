// Live autotune against the simulated car, without a window: the fuel trace reads the running
// unit through the program's device link, and the corrections go back into the running module.
#include "autotune/autotune.h"
#include "autotune/autotune_drive.h"
#include "autotune_test_util.h"
#include "auxinputs/aux_inputs.h"
#include "device/adapters/comms_trace_device.h"
#include "maps/map_trace.h"
#include "monitor/conversions.h"
#include "sim_link_rig.h"

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <set>

namespace kv {

namespace {

using autotune_test::RecordingHost;

constexpr const char* kCatMap = "Base fuel map (cat)";
constexpr int kCatMapId = 1;
// The mixture error wanders by about 0.15 % and the reading ripples by 0.03.
constexpr double kReadingWander = 0.05;

// The base image with every cell of the map the unit runs `lean` counts leaner.
std::vector<std::uint8_t> LeanImage(int lean) {
    EPROM image;
    EXPECT_EQ(LoadBaseImage("MRX_D", image), "");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) image.WriteMapCell(kCatMapId, x, y, image.ReadMapCell(kCatMapId, x, y) - lean);
    return image.Bytes();
}

class AutotuneSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        start = LeanImage(20);
        rig = std::make_unique<SimLinkRig>(SimOptions{}, [this](SimulatedBackend& car) {
            car.Device().Module(kSimLH).memory = start;
            car.Device().MarkMemoryChanged();
        });
        ASSERT_NE(rig->sim, nullptr);
        image = std::make_unique<EPROM>(rig->context);
        rig->context.deviceIO = false;
        ASSERT_EQ(image->LoadFromArray(start), "");
        rig->context.deviceIO = true;
        rig->comms->SetRamByteOrderFlag(rig->context.wordBigEndian);
        editor = std::make_unique<TableEditor>(rig->dialogs, rig->dialogs, rig->dialogs);
        editor->SetEPROM(image.get());
        editor->SetControl(&grid);
        ConfigureEditor(*editor, MapTab::Fuel, FindMapDefinition(MapTab::Fuel, kCatMap), EcuType::LH23);
        editor->RenderTable();
        traceDevice = std::make_unique<CommsTraceDevice>(*rig->comms);
        trace = std::make_unique<MapTrace>(*traceDevice, aux, rig->clock);
        ASSERT_TRUE(trace->Configure(MapTab::Fuel, *image));
        tune = std::make_unique<Autotune>(rig->dialogs, settings, host, rig->clock);
    }

    // The grid point of a data cell as the car's speed and load.
    double CellRpm(int col) const { return conv::LH_RpmFromCode(editor->XAxisPoints()[static_cast<std::size_t>(col)]); }
    double CellLoad(int row) const { return editor->YAxisPoints()[static_cast<std::size_t>(row)] / 250.0; }

    std::vector<std::uint8_t> start;
    std::unique_ptr<SimLinkRig> rig;
    std::unique_ptr<EPROM> image;
    FakeGrid grid;
    std::unique_ptr<TableEditor> editor;
    AuxInputs aux;
    std::unique_ptr<CommsTraceDevice> traceDevice;
    std::unique_ptr<MapTrace> trace;
    MemorySettings settings;
    RecordingHost host;
    std::unique_ptr<Autotune> tune;
};

// Ten minutes of the drive cycle on a warm engine with a base map 20 counts too lean: every cell
// that had a judged sample ends tuned, and inside the band of its zone when re-measured at its
// grid point (where the mixture depends on that cell alone) as the engine settles there, without
// the sensor's noise, through the map in the running module; give or take the wander of the
// reading that the verdict was drawn from (a cell is tuned on the first verdict inside the band,
// and corrections bring it there from outside, so it stops near an edge). Most end strictly
// inside. Cells never visited keep their values.
TEST_F(AutotuneSimTest, ALeanMapConvergesInTenMinutesOfDriving) {
    rig->clock.SleepMs(30 * 60 * 1000); // a warm engine
    SimDevice& car = rig->sim->Device();
    auto mixture = [&](int row, int col) { return car.SteadyAirFuelRatioAt(CellRpm(col), CellLoad(row)); };
    ASSERT_TRUE(tune->Open(*editor, *image, kCatMap));
    ASSERT_TRUE(tune->Start());
    std::set<std::pair<int, int>> nearest; // the cell nearest to each judged-worthy sample
    DriveAutotune(*tune, *trace, *editor, rig->clock, 10 * 60 * 1000, [&](const AutotuneSampleData& s) {
        if (s.afrAtLawEnd || s.rpm < kCrankingRpm || s.coolantC < tune->WarmEngineC()) return;
        nearest.emplace(conv::RoundEven(editor->FindYCoord(s.y)), conv::RoundEven(editor->FindXCoord(s.x)));
    });
    tune->Stop();
    const std::vector<std::uint8_t> tunedModule = car.Module(kSimLH).memory;
    EXPECT_EQ(image->Bytes(), tunedModule) << "every correction is in the running module";

    EPROM first;
    ASSERT_EQ(first.LoadFromArray(start), "");
    int visited = 0, tuned = 0, inBand = 0;
    double errorBefore = 0, errorAfter = 0;
    for (int row = 0; row < 16; ++row) {
        for (int col = 0; col < 16; ++col) {
            SCOPED_TRACE(std::to_string(row) + "," + std::to_string(col));
            const auto state = CellStateOfColour(editor->GetCellColor(row, col));
            const int x = editor->MapX(col), y = editor->MapY(row);
            const std::optional<int> zone = tune->JudgedZone(row, col);
            if (!zone) {
                EXPECT_EQ(state, CellState::NotVisited);
                EXPECT_EQ(image->ReadMapCell(kCatMapId, x, y), first.ReadMapCell(kCatMapId, x, y))
                    << "a cell never visited keeps its value";
                continue;
            }
            ++visited;
            EXPECT_TRUE(nearest.count({row, col})) << "a visited cell was the nearest to a sample";
            const AutotuneBand& band = tune->Band(*zone);
            const double after = mixture(row, col);
            EXPECT_EQ(state, CellState::Tuned);
            EXPECT_GE(after, band.low - kReadingWander);
            EXPECT_LE(after, band.high + kReadingWander);
            tuned += state == CellState::Tuned;
            inBand += state == CellState::Tuned && after >= band.low && after <= band.high;
            errorAfter += std::abs(after - (band.low + band.high) / 2.0);
            car.Module(kSimLH).memory = start;
            car.MarkMemoryChanged();
            errorBefore += std::abs(mixture(row, col) - (band.low + band.high) / 2.0);
            car.Module(kSimLH).memory = tunedModule;
            car.MarkMemoryChanged();
        }
    }
    EXPECT_EQ(tune->VisitedCells(), visited);
    EXPECT_EQ(tuned, visited) << "every visited cell tuned";
    EXPECT_GE(visited, 60);
    EXPECT_GE(inBand * 4, visited * 3) << inBand << " of " << visited << " strictly inside the band";
    EXPECT_LT(errorAfter * 3, errorBefore)
        << "mean error at the grid points " << errorBefore / visited << " -> " << errorAfter / visited;
}

} // namespace

} // namespace kv
