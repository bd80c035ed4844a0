// Live autotune against the simulated car, without a window: the fuel trace reads the running
// unit through the program's device link, and the corrections go back into the running module.
// The car's engine needs about what the base image gives; a map made leaner or richer than that
// is brought back by twenty minutes of driving, and a drive of the tuned image afterwards (with
// autotune off, on another road) runs near the targets.
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
#include <sstream>
#include <string>

namespace kv {

namespace {

using autotune_test::RecordingHost;

constexpr const char* kCatMap = "Base fuel map (cat)";
constexpr int kCatMapId = 1;
constexpr std::int64_t kMinuteMs = 60 * 1000;

// The base image with every cell of the map the unit runs `richer` counts richer (negative:
// leaner).
std::vector<std::uint8_t> ShiftedImage(int richer) {
    EPROM image;
    EXPECT_EQ(LoadBaseImage("MRX_D", image), "");
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) image.WriteMapCell(kCatMapId, x, y, image.ReadMapCell(kCatMapId, x, y) + richer);
    return image.Bytes();
}

SimOptions Drive(SimDrive drive, std::uint64_t seed) {
    SimOptions o;
    o.drive = drive;
    o.driveSeed = seed;
    return o;
}

// A car warmed up for half an hour, running `memory` in its LH module.
std::unique_ptr<SimLinkRig> WarmCar(const SimOptions& options, const std::vector<std::uint8_t>& memory) {
    auto rig = std::make_unique<SimLinkRig>(options, [&](SimulatedBackend& car) {
        car.Device().Module(kSimLH).memory = memory;
        car.Device().MarkMemoryChanged();
    });
    rig->clock.SleepMs(30 * kMinuteMs);
    return rig;
}

// The mean |A/F ratio at the sensor - the target of the throttle zone the gas was burnt in| over
// `minutes` of driving, read every 100 ms, leaving out fuel cuts and the second after each change
// of throttle zone (the gas of the other zone is on its way to the sensor).
double MeanDrivenError(SimLinkRig& rig, int minutes) {
    SimDevice& car = rig.sim->Device();
    double sum = 0.0;
    long n = 0;
    std::optional<SimThrottle> zone;
    std::int64_t zoneSince = 0;
    for (std::int64_t t = 0; t < minutes * kMinuteMs; t += 100) {
        rig.clock.SleepMs(100);
        car.CatchUp();
        const SimEngineState& e = car.Engine();
        if (zone != e.throttle) {
            zone = e.throttle;
            zoneSince = t;
        }
        if (e.fuelCut || e.mixtureFuelCut || t - zoneSince < 1000) continue;
        const double target = e.throttle == SimThrottle::Wot ? 12.0 : 14.7;
        sum += std::abs(car.AirFuelRatio() - target);
        ++n;
    }
    return n == 0 ? 0.0 : sum / static_cast<double>(n);
}

struct Tuning {
    std::vector<std::uint8_t> start;
    std::vector<std::uint8_t> tuned;
    double errorStart = 0.0;
    double errorEnd = 0.0;
    std::string failures; // what did not hold, one line each
};

// Twenty minutes of live autotune on the cat map of `start` with the car driven as `options`
// say; checks each cell of the tuned map.
Tuning Tune(const SimOptions& options, const std::vector<std::uint8_t>& start) {
    Tuning out;
    out.start = start;
    std::unique_ptr<SimLinkRig> rig = WarmCar(options, start);
    EPROM image(rig->context);
    rig->context.deviceIO = false;
    EXPECT_EQ(image.LoadFromArray(start), "");
    rig->context.deviceIO = true;
    rig->comms->SetRamByteOrderFlag(rig->context.wordBigEndian);
    FakeGrid grid;
    TableEditor editor(rig->dialogs, rig->dialogs, rig->dialogs);
    editor.SetEPROM(&image);
    editor.SetControl(&grid);
    ConfigureEditor(editor, MapTab::Fuel, FindMapDefinition(MapTab::Fuel, kCatMap), EcuType::LH23);
    editor.RenderTable();
    AuxInputs aux;
    CommsTraceDevice traceDevice(*rig->comms);
    MapTrace trace(traceDevice, aux, rig->clock);
    EXPECT_TRUE(trace.Configure(MapTab::Fuel, image));
    MemorySettings settings;
    RecordingHost host;
    Autotune tune(rig->dialogs, settings, host, rig->clock);
    EXPECT_TRUE(tune.Open(editor, image, kCatMap));
    EXPECT_TRUE(tune.Start());
    DriveAutotune(tune, trace, editor, rig->clock, 20 * kMinuteMs);
    tune.Stop();
    out.tuned = rig->sim->Device().Module(kSimLH).memory;
    EXPECT_EQ(image.Bytes(), out.tuned) << "every correction is in the running module";
    out.errorStart = MeanOfTenth(tune.JudgedErrors(), false);
    out.errorEnd = MeanOfTenth(tune.JudgedErrors(), true);

    EPROM first;
    EXPECT_EQ(first.LoadFromArray(start), "");
    std::ostringstream failures;
    auto state = [&](int row, int col) { return CellStateOfColour(editor.GetCellColor(row, col)); };
    auto rpmOf = [&](int col) { return conv::LH_RpmFromCode(editor.XAxisPoints()[static_cast<std::size_t>(col)]); };
    int idleTuned = 0, pullCells = 0, pullTuned = 0;
    for (int row = 0; row < 16; ++row) {
        for (int col = 0; col < 16; ++col) {
            const int x = editor.MapX(col), y = editor.MapY(row);
            const std::int32_t v = editor.GetCellValue(row, col);
            if (!tune.JudgedZone(row, col) && image.ReadMapCell(kCatMapId, x, y) != first.ReadMapCell(kCatMapId, x, y))
                failures << "cell " << row << "," << col << " changed without a judged sample\n";
            if (v <= -128 || v >= 127) failures << "cell " << row << "," << col << " at its limit " << v << "\n";
            const double rpm = rpmOf(col);
            const double load = editor.YAxisPoints()[static_cast<std::size_t>(row)];
            // Warm idle at about 800 rpm lies between the 750 and 890 rpm columns, at the lowest
            // loads.
            if (rpm >= 700 && rpm <= 900 && load <= 30) idleTuned += state(row, col) == CellState::Tuned;
            // The pulls run along the full-load row from about 3000 rpm up.
            if (row == 15 && rpm >= 3000 && rpm <= 5500) {
                ++pullCells;
                pullTuned += state(row, col) == CellState::Tuned;
            }
        }
    }
    if (idleTuned == 0) failures << "no idle cell tuned\n";
    if (pullTuned * 4 < pullCells * 3) failures << pullTuned << " of " << pullCells << " full-load cells tuned\n";
    out.failures = failures.str();
    tune.Close();
    return out;
}

struct Case {
    SimDrive drive;
    std::uint64_t seed;
    int richer;
};

std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    const Case& c = info.param;
    return std::string(c.drive == SimDrive::Road ? "Road" : "Dyno") + std::to_string(c.seed) +
           (c.richer < 0 ? "Lean" : "Rich") + std::to_string(std::abs(c.richer));
}

class AutotuneCarTest : public ::testing::TestWithParam<Case> {};

// A map 20 counts lean or rich: the mixture comes to the targets where the car drives, and stays
// there on another road.
TEST_P(AutotuneCarTest, AMapTwentyCountsOffConvergesInTwentyMinutes) {
    const Case& c = GetParam();
    const Tuning t = Tune(Drive(c.drive, c.seed), ShiftedImage(c.richer));
    EXPECT_EQ(t.failures, "");
    // The first tenth of the judged samples already sees corrections: the error of the untuned
    // map is the drive's below.
    EXPECT_GT(t.errorStart, 0.2);
    // The dyno's list of hold points comes round once in twenty minutes: its last tenth is judged
    // at points met for the first time, where the small rich gains have had a few seconds.
    EXPECT_LE(t.errorEnd, c.drive == SimDrive::Road ? 0.15 : 0.25) << "from " << t.errorStart;
    // Another drive with autotune off: before and after tuning.
    const SimOptions other = Drive(c.drive, c.seed + 100);
    const double before = MeanDrivenError(*WarmCar(other, t.start), 10);
    const double after = MeanDrivenError(*WarmCar(other, t.tuned), 10);
    EXPECT_GT(before, 0.4);
    EXPECT_LE(after, 0.2) << "from " << before;
}

INSTANTIATE_TEST_SUITE_P(RoadAndDyno, AutotuneCarTest,
                         ::testing::Values(Case{SimDrive::Road, 1, -20}, Case{SimDrive::Road, 1, 20},
                                           Case{SimDrive::Road, 2, -20}, Case{SimDrive::Road, 2, 20},
                                           Case{SimDrive::Road, 3, -20}, Case{SimDrive::Road, 3, 20},
                                           Case{SimDrive::Dyno, 1, -20}, Case{SimDrive::Dyno, 1, 20},
                                           Case{SimDrive::Dyno, 2, -20}, Case{SimDrive::Dyno, 2, 20},
                                           Case{SimDrive::Dyno, 3, -20}, Case{SimDrive::Dyno, 3, 20}),
                         CaseName);

} // namespace

} // namespace kv
