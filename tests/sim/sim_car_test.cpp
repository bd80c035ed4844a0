// The simulated car as the program sees it: driving phases, values that agree with each other
// through the conversions the monitors use, warming coolant, knock with per-cylinder retard, an
// air/fuel ratio that follows the fuel map in the LH module, and the ignition switch driven by
// the progress window.
#include "eprom/base_images.h"
#include "eprom/eprom_image.h"
#include "monitor/conversions.h"
#include "sim_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <set>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

std::uint32_t LittleEndian(const B& b) {
    std::uint32_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = v * 256 + b[i];
    return v;
}

// RAM value of n bytes as a creator-1 unit keeps it (low byte first).
std::uint32_t Ram(SimRig& rig, std::uint8_t kind, std::uint8_t address, std::uint8_t n) {
    return LittleEndian(rig.host->Exchange({0x84, kind, address, n}, n));
}

// Lets the engine run until `seconds` after the ignition came on (the rig starts with it on).
void RunTo(SimRig& rig, double seconds, std::int64_t startMs) {
    const auto target = startMs + static_cast<std::int64_t>(seconds * 1000.0);
    if (target > rig.clock.now) rig.clock.SleepMs(target - rig.clock.now);
}

struct PhaseCase {
    double atSeconds;
    int lhThrottleBits; // LH throttle byte AND 3: 1 idle, 0 cruise, 2 full load
    int ezkSwitches;    // EZK switch byte AND 6: 4 idle, 0 cruise, 2 full throttle
    double minRpm, maxRpm;
};

class SimPhaseTest : public ::testing::TestWithParam<PhaseCase> {};

TEST_P(SimPhaseTest, SwitchesAndSpeedFollowTheDrivingCycle) {
    const PhaseCase& c = GetParam();
    SimRig rig;
    const std::int64_t start = rig.clock.now;
    RunTo(rig, c.atSeconds, start);
    EXPECT_EQ(Ram(rig, 'L', 41, 1) & 3, static_cast<std::uint32_t>(c.lhThrottleBits));
    EXPECT_EQ(Ram(rig, 'E', 34, 1) & 6, static_cast<std::uint32_t>(c.ezkSwitches));
    // Device period: 1.3333 us counts, two per revolution.
    const double rpm = 60.0 / (2.0 * LittleEndian(rig.host->Exchange(Bytes("p"), 3)) * 8.0 / 6e6);
    EXPECT_GE(rpm, c.minRpm);
    EXPECT_LE(rpm, c.maxRpm);
}

INSTANTIATE_TEST_SUITE_P(Cycle, SimPhaseTest,
                         ::testing::Values(PhaseCase{5.0, 1, 4, 750, 1000}, PhaseCase{20.0, 0, 0, 1700, 3300},
                                           PhaseCase{37.0, 2, 2, 4000, 5000}, PhaseCase{45.0 + 5.0, 1, 4, 750, 1000}));

TEST(SimCarTest, SpeedAgreesAcrossEveryPlaceThatReportsIt) {
    SimRig rig;
    const std::int64_t start = rig.clock.now;
    for (double t : {3.0, 14.0, 24.0, 38.0, 43.0}) {
        RunTo(rig, t, start);
        const double device = 60.0 / (2.0 * LittleEndian(rig.host->Exchange(Bytes("p"), 3)) * 8.0 / 6e6);
        const double lh = 60.0 / (Ram(rig, 'L', 29, 3) * 4e-6);       // revolution period, 4 us counts
        const double ezk = 4.0 / (Ram(rig, 'E', 106, 2) * 0.0000015); // period word
        const double truth = rig.Device().Engine().rpm;
        EXPECT_NEAR(device, truth, truth * 0.01) << t;
        EXPECT_NEAR(lh, truth, truth * 0.01) << t;
        EXPECT_NEAR(ezk, truth, truth * 0.01) << t;
    }
}

TEST(SimCarTest, UnpoweredUnitsGiveNothingAndMarkersSayNoData) {
    SimOptions o;
    o.ezkModuleFitted = false;
    SimRig rig(o);
    rig.clock.SleepMs(5000);
    EXPECT_EQ(rig.host->Exchange({'l', 'c', 3, 17, 1, 18, 1, 106, 2}, 1), Bytes("1"));
    rig.host->Send(Bytes("lo"));
    const auto rec = rig.host->Receive(0x20, 4);
    EXPECT_EQ(rec.bytes[0], 1) << "LH powered";
    EXPECT_EQ(rec.bytes[1], 0) << "no EZK module";
    EXPECT_EQ(rec.bytes[2] | rec.bytes[3], 0) << "EZK RAM after its marker reads as zeros";
}

// LH 2.3 coolant curve (volts of an 8-bit reading, 256 = 5 V) to degrees Celsius.
double CoolantC(std::uint32_t raw) {
    const double xs[] = {0, 0.429, 1.459, 2.382, 3.154, 4.65}, ys[] = {120, 80, 40, 25, 0, -40};
    const double v = raw / 256.0 * 5.0;
    if (v <= xs[0]) return ys[0];
    for (int i = 1; i < 6; ++i)
        if (v <= xs[i]) return ys[i - 1] + (v - xs[i - 1]) / (xs[i] - xs[i - 1]) * (ys[i] - ys[i - 1]);
    return ys[5];
}

TEST(SimCarTest, CoolantWarmsWhileRunningAndCoolsWhileStanding) {
    SimRig rig;
    const double cold = CoolantC(Ram(rig, 'L', 0xC7, 1));
    EXPECT_NEAR(cold, 20.0, 2.0);
    rig.clock.SleepMs(20 * 60 * 1000);
    const double warm = CoolantC(Ram(rig, 'L', 0xC7, 1));
    EXPECT_GT(warm, 80.0);
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.clock.SleepMs(30 * 60 * 1000);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    const double later = CoolantC(Ram(rig, 'L', 0xC7, 1));
    EXPECT_LT(later, warm - 10.0);
    EXPECT_GT(later, 30.0);
}

// The knock retard block as the ignition monitor decodes it: rotate until the marker reads 0x63,
// then take the cylinders in their order.
std::vector<int> DecodeRetard(B b) {
    if (b[0] == 0) return std::vector<int>(8, 0);
    for (int i = 1; i <= 8; ++i)
        if (b[static_cast<std::size_t>(i)] == 255) b[static_cast<std::size_t>(i)] = 0;
    int turns = 0;
    while (b[0] != 0x63) {
        if (++turns > 8) return std::vector<int>(8, 0);
        b[0] = static_cast<std::uint8_t>((b[0] >> 1) | (b[0] << 7));
        std::rotate(b.begin() + 1, b.begin() + 2, b.end());
    }
    return {b[7], b[4], b[6], b[1], b[2], b[3], b[5], b[8]};
}

TEST(SimCarTest, KnocksAtFullLoadCountAndRetardTheKnockingCylinder) {
    SimRig rig;
    ASSERT_EQ(rig.host->Exchange({'l', 'c', 2, 18, 1, 2, 9}, 1), Bytes("1"));
    const std::uint32_t before = Ram(rig, 'E', 134, 1);
    int recordsWithRetard = 0;
    const std::int64_t start = rig.clock.now;
    for (int ms = 0; ms < 3 * 45000; ms += 250) {
        RunTo(rig, ms / 1000.0, start);
        rig.host->Send(Bytes("lo"));
        const auto rec = rig.host->Receive(0x20, 10);
        ASSERT_GE(rec.bytes.size(), 10U);
        const auto decoded = DecodeRetard(B(rec.bytes.begin() + 1, rec.bytes.begin() + 10));
        const auto& truth = rig.Device().Engine().retard;
        for (std::size_t cyl = 0; cyl < 8; ++cyl)
            ASSERT_EQ(decoded[cyl], truth[cyl]) << "cylinder " << cyl + 1 << " at " << ms;
        if (std::any_of(decoded.begin(), decoded.end(), [](int v) { return v > 0; })) ++recordsWithRetard;
    }
    EXPECT_GT(recordsWithRetard, 5);
    EXPECT_GT(Ram(rig, 'E', 134, 1), before) << "the knock counter moved";
}

// ---------------------------------------------------------------------------------------------
// Air/fuel ratio from the fuel map of the image in the LH module.

constexpr int kAxisBlock = 13019; // LH 2.3 axis block: MAF steps, MAF base word, RPM steps
constexpr int kCatMap = 13568;    // base fuel map (cat), 16 x 16 bytes, 128 = neutral

// Axis points: MAF load 20 + 15 i, rpm codes 64 + 12 i (i = 0 .. 15).
int MafPoint(int i) { return 20 + 15 * i; }
int RpmCodePoint(int i) { return 64 + 12 * i; }

B LhImage(std::uint8_t cell) {
    B img(kSimMemorySize, 0xFF);
    const char marker[] = "MRX-D";
    std::copy(marker, marker + 5, img.begin() + 16368);
    for (int i = 0; i < 15; ++i)
        img[static_cast<std::size_t>(kAxisBlock + 2 + i)] = static_cast<std::uint8_t>(MafPoint(i + 1) - MafPoint(i));
    const int last = 65536 - MafPoint(15);
    img[kAxisBlock + 17] = static_cast<std::uint8_t>(last >> 8);
    img[kAxisBlock + 18] = static_cast<std::uint8_t>(last & 0xFF);
    for (int i = 0; i < 16; ++i) img[static_cast<std::size_t>(kAxisBlock + 21 + i)] = 12;
    std::fill(img.begin() + kCatMap, img.begin() + kCatMap + 256, cell);
    return img;
}

double WidebandAfr(SimRig& rig) {
    const auto raw = LittleEndian(rig.host->Exchange({'a', 0}, 2));
    return 9.0 + raw / 65536.0 * 10.0; // the wide-band input's default law: 0 V = 9, 5 V = 19
}

double AfrWithImage(const B& image, double atSeconds) {
    SimRig rig;
    rig.Device().Module(kSimLH).memory = image;
    rig.Device().MarkMemoryChanged();
    RunTo(rig, atSeconds, rig.clock.now);
    return WidebandAfr(rig);
}

TEST(SimAfrTest, RicherCellsGiveARicherMixture) {
    for (double at : {5.0, 20.0, 36.0}) {
        const double neutral = AfrWithImage(LhImage(128), at);
        const double richer = AfrWithImage(LhImage(128 + 64), at); // +12.5 % fuel
        const double leaner = AfrWithImage(LhImage(128 - 64), at);
        EXPECT_NEAR(neutral / richer, 1.125, 0.01) << at;
        EXPECT_NEAR(leaner / neutral, 1.0 / 0.875, 0.01) << at;
        EXPECT_GT(neutral, 12.0) << at;
        EXPECT_LT(neutral, 17.0) << at;
    }
}

TEST(SimAfrTest, OnlyTheCellsAroundTheOperatingPointInTheUnitsRamMatter) {
    for (double at : {5.0, 20.0, 36.0}) {
        // Where the operating point is, as the trace sees it: rpm code and MAF load from RAM.
        SimRig probe;
        probe.Device().Module(kSimLH).memory = LhImage(128);
        probe.Device().MarkMemoryChanged();
        RunTo(probe, at, probe.clock.now);
        const double code = Ram(probe, 'L', 49, 1), load = Ram(probe, 'L', 72, 2);
        const double x = std::clamp((code - RpmCodePoint(0)) / 12.0, 0.0, 15.0);
        const double y = std::clamp((load - MafPoint(0)) / 15.0, 0.0, 15.0);
        const double neutral = WidebandAfr(probe);

        B near = LhImage(128), far = LhImage(128);
        for (int cy = 0; cy < 16; ++cy) {
            for (int cx = 0; cx < 16; ++cx) {
                const auto at16 = static_cast<std::size_t>(kCatMap + cx + 16 * cy);
                if (std::abs(cx - x) < 1.0 && std::abs(cy - y) < 1.0) near[at16] = 192;
                if (std::abs(cx - x) > 2.0 || std::abs(cy - y) > 2.0) far[at16] = 250;
            }
        }
        EXPECT_NEAR(neutral / AfrWithImage(near, at), 1.125, 0.01) << at;
        EXPECT_DOUBLE_EQ(AfrWithImage(far, at), neutral) << at;
    }
}

TEST(SimAfrTest, AMapWrittenThroughTheRunningUnitTakesEffectAtOnce) {
    SimRig rig;
    rig.Device().Module(kSimLH).memory = LhImage(128);
    rig.Device().MarkMemoryChanged();
    rig.clock.SleepMs(5000);
    const double before = WidebandAfr(rig);
    for (int y = 0; y < 16; ++y) {
        B req{0x86, 'L', static_cast<std::uint8_t>((kCatMap + 16 * y) >> 8),
              static_cast<std::uint8_t>((kCatMap + 16 * y) & 0xFF), 16};
        req.insert(req.end(), 16, 192);
        ASSERT_EQ(rig.host->Exchange(req, 1), Bytes("1"));
    }
    EXPECT_NEAR(before / WidebandAfr(rig), 1.125, 0.01);
}

TEST(SimAfrTest, ErasedModuleRunsNearStoichiometric) {
    SimRig rig;
    rig.clock.SleepMs(20000);
    EXPECT_NEAR(WidebandAfr(rig), 14.7, 1.0);
}

// The wide-band sensor measures only once its heater has warmed it: until then, after every
// start of the engine, it reads at the lean end of its output.
TEST(SimAfrTest, TheWideBandSensorNeedsAFewSecondsAfterEveryStart) {
    SimRig rig;
    rig.Device().Module(kSimLH).memory = LhImage(128);
    rig.Device().MarkMemoryChanged();
    auto raw = [&] { return LittleEndian(rig.host->Exchange({'a', 0}, 2)); };
    const std::int64_t start = rig.clock.now;
    for (double at : {0.5, 2.9}) {
        RunTo(rig, at, start);
        EXPECT_EQ(raw(), 65535u) << at;
    }
    RunTo(rig, kSimWidebandWarmUpSeconds + 0.2, start);
    EXPECT_LT(raw(), 65000u);
    EXPECT_GT(raw(), 500u);
    rig.Device().SetIgnition(false);
    rig.clock.SleepMs(2000);
    rig.Device().SetIgnition(true);
    rig.clock.SleepMs(1000);
    EXPECT_EQ(raw(), 65535u) << "cold again after a restart";
    rig.clock.SleepMs(3000);
    EXPECT_LT(raw(), 65000u);
}

// The exhaust takes a moment to reach the sensor: right after the throttle opens fully the
// sensor still sees the cruising mixture, a second later the full-load one.
TEST(SimAfrTest, TheSensorSeesTheMixtureOfAMomentAgo) {
    B image = LhImage(128);
    for (int y = 12; y < 16; ++y) // the full-load rows much richer
        std::fill(image.begin() + kCatMap + 16 * y, image.begin() + kCatMap + 16 * y + 16, 228);
    SimRig rig;
    rig.Device().Module(kSimLH).memory = image;
    rig.Device().MarkMemoryChanged();
    const std::int64_t start = rig.clock.now;
    RunTo(rig, 32.9, start);
    const double cruising = WidebandAfr(rig);
    RunTo(rig, 33.02, start);
    const double justOpened = WidebandAfr(rig);
    ASSERT_GT(rig.Device().Engine().load, 0.9) << "the throttle is open";
    RunTo(rig, 34.0, start);
    const double fullLoad = WidebandAfr(rig);
    EXPECT_NEAR(justOpened, cruising, 0.6);
    EXPECT_LT(fullLoad, cruising - 2.0);
    const SimEngineState& e = rig.Device().Engine();
    EXPECT_NEAR(fullLoad, rig.Device().SteadyAirFuelRatioAt(e.mixtureRpm, e.mixtureLoad), 0.1);
}

// A long drive goes through idle, cruise at many speeds and loads, and full-throttle pulls, the
// same way every time. Cells as the base images' fuel maps have them: speed and MAF load points.
TEST(SimCarTest, ALongDriveVisitsMuchOfTheFuelMapRepeatably) {
    const std::vector<double> rpmPoints{600,  750,  890,  1100, 1300, 1600, 1900, 2200,
                                        2600, 3000, 3600, 4000, 4400, 5000, 5500, 6000};
    const std::vector<double> loadPoints{20, 30, 40, 50, 60, 72, 84, 96, 110, 124, 140, 156, 174, 192, 212, 232};
    auto nearest = [](const std::vector<double>& points, double v) {
        std::size_t best = 0;
        for (std::size_t i = 1; i < points.size(); ++i)
            if (std::abs(points[i] - v) < std::abs(points[best] - v)) best = i;
        return static_cast<int>(best);
    };
    auto drive = [&] {
        SimRig rig;
        std::vector<std::pair<int, int>> cells;
        std::set<int> throttle;
        for (int tick = 0; tick < 10 * 60 * 10; ++tick) {
            rig.clock.SleepMs(100);
            const double period = LittleEndian(rig.host->Exchange(Bytes("p"), 3));
            const double rpm = 60.0 / (2.0 * period * 8.0 / 6e6);
            throttle.insert(static_cast<int>(Ram(rig, 'L', 41, 1) & 3));
            cells.emplace_back(nearest(rpmPoints, rpm), nearest(loadPoints, Ram(rig, 'L', 72, 2)));
        }
        return std::pair{cells, throttle};
    };
    const auto [cells, throttle] = drive();
    EXPECT_EQ(throttle, (std::set<int>{0, 1, 2}));
    const std::set<std::pair<int, int>> distinct(cells.begin(), cells.end());
    EXPECT_GE(distinct.size(), 60u);
    std::set<int> rows;
    std::set<int> cols;
    for (const auto& [x, y] : distinct) {
        cols.insert(x);
        rows.insert(y);
    }
    EXPECT_GE(rows.size(), 12u);
    EXPECT_GE(cols.size(), 12u);
    EXPECT_EQ(drive().first, cells) << "the same drive every time";
}

// ---------------------------------------------------------------------------------------------
// Ignition switch: by hand, by script and by the progress window in auto mode.

TEST(SimIgnitionTest, ScriptSwitchesAtItsTimes) {
    SimOptions o;
    o.ignitionScript = "off@1000,on@4000";
    SimRig rig(o);
    const std::int64_t start = rig.clock.now;
    const std::pair<int, bool> checks[] = {{500, true}, {1500, false}, {3900, false}, {4100, true}};
    for (const auto& [at, on] : checks) {
        RunTo(rig, at / 1000.0, start);
        EXPECT_EQ(rig.host->Exchange({0x81}, 1), Bytes(on ? "1" : "0")) << at;
    }
}

struct AutoCase {
    SimIgnitionMode mode;
    IgnitionRequest request;
    bool startOn;
    bool onAfter; // ignition after the delay
};

class SimAutoIgnitionTest : public ::testing::TestWithParam<AutoCase> {};

TEST_P(SimAutoIgnitionTest, FollowsTheRequestOnlyInAutoMode) {
    const AutoCase& c = GetParam();
    SimRig rig;
    rig.sim->SetIgnitionMode(c.startOn ? SimIgnitionMode::On : SimIgnitionMode::Off);
    rig.sim->SetIgnitionMode(c.mode);
    AutoIgnitionDriver driver(*rig.sim, rig.clock, 800);
    driver.Asked(c.request);
    rig.clock.SleepMs(700);
    EXPECT_EQ(rig.sim->IsIgnitionOn(), c.startOn) << "not before the delay";
    rig.clock.SleepMs(200);
    EXPECT_EQ(rig.sim->IsIgnitionOn(), c.onAfter);
}

INSTANTIATE_TEST_SUITE_P(Modes, SimAutoIgnitionTest,
                         ::testing::Values(AutoCase{SimIgnitionMode::Auto, IgnitionRequest::Off, true, false},
                                           AutoCase{SimIgnitionMode::Auto, IgnitionRequest::On, false, true},
                                           AutoCase{SimIgnitionMode::Auto, IgnitionRequest::On, true, true},
                                           AutoCase{SimIgnitionMode::On, IgnitionRequest::Off, true, true},
                                           AutoCase{SimIgnitionMode::Off, IgnitionRequest::On, false, false}));

TEST(SimAutoIgnitionTest, ATurnOfTheKeyBegunIsFinishedWhenTheRequestEnds) {
    SimRig rig;
    rig.sim->SetIgnitionMode(SimIgnitionMode::Auto);
    AutoIgnitionDriver driver(*rig.sim, rig.clock, 800);
    driver.Asked(IgnitionRequest::Off);
    rig.clock.SleepMs(100);
    driver.Ended();
    rig.clock.SleepMs(800);
    EXPECT_FALSE(rig.sim->IsIgnitionOn());
}

} // namespace

namespace {

// The device's input filter on the wide-band input: a richer map shows at once without
// filtering and only gradually with the strongest filter.
// ---------------------------------------------------------------------------------------------
// The intake flap, worked by the LH unit from the flap settings of its image.

struct FlapCase {
    int openRpm, closeRpm; // as the fuel parameters page shows them
    int loadThreshold;     // MAF load, base injection ticks
};

TEST(SimFlapTest, TheUnitOpensTheFlapAsTheImagesSettingsSay) {
    for (const FlapCase& c : {FlapCase{3550, 5450, 100}, FlapCase{2600, 4400, 60}, FlapCase{4400, 5900, 150}}) {
        SCOPED_TRACE(std::to_string(c.openRpm) + " to " + std::to_string(c.closeRpm) + ", load " +
                     std::to_string(c.loadThreshold));
        // The codes of the speeds: a revolution time, smaller at higher speeds.
        const int openCode = conv::LH_CodeFromRpm(c.openRpm), closeCode = conv::LH_CodeFromRpm(c.closeRpm);
        EPROM image;
        ASSERT_EQ(LoadBaseImage("MRX_D", image), "");
        image.WriteByte(image.GetEPROMAddress(5), static_cast<std::uint8_t>(254 - openCode));
        image.WriteByte(image.GetEPROMAddress(6), static_cast<std::uint8_t>((openCode - closeCode - 1) & 0xFF));
        image.WriteByte(image.GetEPROMAddress(10), static_cast<std::uint8_t>(c.loadThreshold));
        SimRig rig;
        B& memory = rig.Device().Module(kSimLH).memory;
        std::copy(image.Bytes().begin(), image.Bytes().begin() + image.ImageSize(),
                  memory.begin() + image.WindowOffset());
        rig.Device().MarkMemoryChanged();

        int open = 0, closedAtSpeed = 0;
        const std::int64_t start = rig.clock.now;
        for (int ms = 0; ms < 6 * 45000; ms += 100) {
            RunTo(rig, ms / 1000.0, start);
            const auto code = static_cast<int>(Ram(rig, 'L', 49, 1));
            const auto load = static_cast<int>(Ram(rig, 'L', 72, 2));
            const bool flap = (Ram(rig, 'L', 44, 1) & 0x40) != 0;
            const bool inBand = code <= openCode && code > closeCode;
            ASSERT_EQ(flap, inBand && load >= c.loadThreshold)
                << "at " << ms << " ms: " << conv::LH_RpmFromCode(code) << " rpm, load " << load;
            open += flap ? 1 : 0;
            closedAtSpeed += inBand && !flap ? 1 : 0;
        }
        EXPECT_GT(open, 20);
        EXPECT_GT(closedAtSpeed, 5) << "below the load threshold the flap stays shut";
    }
}

TEST(SimFilterTest, StrongerFiltersFollowAStepMoreSlowly) {
    double afterStep[2] = {};
    for (int strongest = 0; strongest < 2; ++strongest) {
        SimRig rig;
        rig.Device().Module(kSimLH).memory = LhImage(128);
        rig.Device().MarkMemoryChanged();
        ASSERT_EQ(rig.host->Exchange({'f', 0, static_cast<std::uint8_t>(strongest ? 5 : 0)}, 1), Bytes("1"));
        rig.clock.SleepMs(5000);
        const double before = WidebandAfr(rig);
        for (int y = 0; y < 16; ++y) {
            B req{0x86, 'L', static_cast<std::uint8_t>((kCatMap + 16 * y) >> 8),
                  static_cast<std::uint8_t>((kCatMap + 16 * y) & 0xFF), 16};
            req.insert(req.end(), 16, 192);
            ASSERT_EQ(rig.host->Exchange(req, 1), Bytes("1"));
        }
        rig.clock.SleepMs(100);
        afterStep[strongest] = before / WidebandAfr(rig);
        rig.clock.SleepMs(3000);
        EXPECT_NEAR(before / WidebandAfr(rig), 1.125, 0.01) << "settled, filter " << strongest;
    }
    EXPECT_NEAR(afterStep[0], 1.125, 0.01);
    EXPECT_LT(afterStep[1], 1.06) << "the strongest filter lags";
    EXPECT_GT(afterStep[1], 1.0);
}

} // namespace

} // namespace kv
