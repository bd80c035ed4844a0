// The simulated car's raw values through the program's own conversions: every place that
// reports a quantity agrees with the car model, in every phase of the driving cycle.
#include "monitor/conversions.h"
#include "sim_host.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace conv;

using B = std::vector<std::uint8_t>;

std::uint32_t LowFirst(const B& b) {
    std::uint32_t v = 0;
    for (std::size_t i = b.size(); i-- > 0;) v = v * 256 + b[i];
    return v;
}

class SimValuesTest : public ::testing::TestWithParam<double> {};

TEST_P(SimValuesTest, ConversionsAgreeWithTheCar) {
    SimRig rig;
    rig.clock.SleepMs(static_cast<std::int64_t>(GetParam() * 1000.0));
    auto ram = [&](std::uint8_t kind, std::uint8_t address, std::uint8_t n) {
        return LowFirst(rig.host->Exchange({0x84, kind, address, n}, n)); // creator 1: low byte first
    };
    auto aux = [&](std::uint8_t channel) { return LowFirst(rig.host->Exchange({'a', channel}, 2)); };
    const std::uint32_t period = LowFirst(rig.host->Exchange(Bytes("p"), 3));
    // Items of a record: EZF timing (period 2 bytes, spark delay 3 bytes).
    ASSERT_EQ(rig.host->Exchange({'l', 'c', 1, 15, 5}, 1), Bytes("1"));
    rig.host->Send(Bytes("lo"));
    const B timing = rig.host->Receive(0x20, 5).bytes;
    const SimEngineState& car = rig.Device().Engine();
    const double rpm = car.rpm;
    SCOPED_TRACE("at " + std::to_string(GetParam()) + " s, " + std::to_string(rpm) + " rpm");

    EXPECT_NEAR(RpmFromDevicePeriodLH(period), rpm, rpm * 0.01);
    EXPECT_NEAR(60.0 / (ram('L', 29, 3) * 0.000004), rpm, rpm * 0.01);
    EXPECT_NEAR(LH_RpmFromCode(static_cast<int>(ram('L', 49, 1))), rpm, rpm * 0.05);
    EXPECT_NEAR(EZK_RpmFromPeriod(ram('E', 106, 2)), rpm, rpm * 0.01);
    const std::uint32_t ezfPeriod = timing[0] | (timing[1] << 8);
    const std::uint32_t delay = timing[2] | (timing[3] << 8) | (timing[4] << 16);
    EXPECT_NEAR(RpmFromDevicePeriodEZF(ezfPeriod), rpm, rpm * 0.01);
    EXPECT_NEAR(IgnitionAdvanceFromTiming(ezfPeriod, delay), car.advanceDeg, 0.5);
    EXPECT_NEAR(EZK_IgnitionAdvance(static_cast<int>(ram('E', 84, 1)), rpm), car.advanceDeg, 0.5);

    EXPECT_NEAR(TempLH23Coolant(ram('L', 0xC7, 1)), car.coolantC, 2.0);
    EXPECT_NEAR(TempEZKCoolant(ram('E', 57, 1)), car.coolantC, 2.0);
    EXPECT_NEAR(TempLH22Coolant(aux(2) >> 8), car.coolantC, 3.0);
    EXPECT_NEAR(TempEZFAirTemp(aux(5) >> 8), car.airC, 3.0);
    EXPECT_NEAR(LH23_BatteryVolts(static_cast<int>(ram('L', 89, 1))), car.batteryV, 0.1);
    EXPECT_NEAR(ram('E', 56, 1) / 256.0 * 5.0 / 0.268, car.batteryV, 0.1);
    EXPECT_NEAR(VacuumFromRaw(aux(6)), 20.0 * (1.0 - car.load), 0.1);

    const double revTime = 60.0 / rpm;
    const double mafPercent = DutyCycleFromTicks(ram('L', 72, 2), revTime);
    EXPECT_GT(mafPercent, 0.0);
    EXPECT_FALSE(IsDutyCycleHigh(mafPercent));
    const double pwSeconds = ram('L', 0xBC, 2) * 2.666667e-6;
    EXPECT_LT(pwSeconds / revTime, 0.95) << "injector duty below its limit";
    const double afr = 9.0 + aux(0) / 65536.0 * 10.0;
    EXPECT_NEAR(afr, rig.Device().AirFuelRatio(), 0.01);
    const double o2 = ((ram('L', 77, 2) / 32768.0 + 1.0) / 2.0 - 1.0) * 100.0;
    EXPECT_LE(std::abs(o2), 3.0);
    const double adapt = ((ram('L', 0xE4, 3) / 8421376.0 + 1.0) / 2.0 - 1.0) * 100.0;
    EXPECT_LE(std::abs(adapt), 5.0);
}

INSTANTIATE_TEST_SUITE_P(DrivingCycle, SimValuesTest, ::testing::Values(2.0, 13.0, 22.0, 30.0, 35.0, 40.0, 42.0));

// The vacuum sensor on aux input 3 (device channel 6): atmospheric pressure while the engine
// stands or its feed is disconnected, manifold vacuum while the engine runs, nothing at all when
// the fault list unplugs it.
TEST(SimVacuumSensor, ReadsAtmosphereVacuumOrNothing) {
    struct Case {
        const char* faults;
        const char* ignition;
        double minVolts;
        double maxVolts;
    };
    for (const Case& c : {Case{"", "off", 4.60, 4.62}, Case{"", "on", 0.5, 4.2}, Case{"unplug-vacuum", "off", 0.0, 0.0},
                          Case{"vacuum-feed-off", "on", 4.60, 4.62}, Case{"unplug-vacuum", "on", 0.0, 0.0}}) {
        SimOptions o;
        o.faults = c.faults;
        o.ignition = c.ignition;
        SimRig rig(o);
        ASSERT_NE(rig.sim, nullptr) << c.faults;
        rig.clock.SleepMs(2000);
        const double volts = LowFirst(rig.host->Exchange({'a', 6}, 2)) / 65536.0 * 5.0;
        EXPECT_GE(volts, c.minVolts) << c.faults << " " << c.ignition;
        EXPECT_LE(volts, c.maxVolts) << c.faults << " " << c.ignition;
    }
}

} // namespace

} // namespace kv
