#include "monitor/conversions.h"

#include "eprom/eprom_image.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <limits>

namespace kv {

using namespace conv;

namespace {

TEST(RoundEvenTest, HalvesGoToEvenAndExtremesSaturate) {
    struct Case {
        double in;
        std::int32_t out;
    };
    const Case cases[] = {{0.5, 0},
                          {1.5, 2},
                          {2.5, 2},
                          {3.5, 4},
                          {-0.5, 0},
                          {-1.5, -2},
                          {-2.5, -2},
                          {2.4999, 2},
                          {2.5001, 3},
                          {-2.5001, -3},
                          {0.0, 0},
                          {65535.5, 65536},
                          {1e12, std::numeric_limits<std::int32_t>::max()},
                          {-1e12, std::numeric_limits<std::int32_t>::min()},
                          {std::nan(""), 0}};
    for (const auto& c : cases) EXPECT_EQ(RoundEven(c.in), c.out) << c.in;
}

TEST(LhRpmByteTest, RoundTripsEveryByte) {
    EXPECT_EQ(LH_RpmFromByte(0), 6858);
    int previous = 1 << 30;
    for (int b = 0; b <= 255; ++b) {
        const int rpm = LH_RpmFromByte(b);
        EXPECT_LT(rpm, previous) << "speed must fall as the byte rises, byte " << b;
        previous = rpm;
        EXPECT_EQ(LH_ByteFromRpm(rpm), b) << "rpm " << rpm;
    }
}

TEST(LhRpmByteTest, InverseClampsAndNeighbours) {
    EXPECT_EQ(LH_ByteFromRpm(20000), 0); // clamped to 10000, beyond byte 0's speed
    EXPECT_EQ(LH_ByteFromRpm(10), 255);  // clamped to 100, slower than byte 255
    EXPECT_EQ(LH_ByteFromRpm(std::nan("")), 255);
    EXPECT_EQ(LH_RpmFromByteNext(255), LH_RpmFromByte(255));
    EXPECT_EQ(LH_RpmFromByteNext(10), LH_RpmFromByte(11));
    // Mid-points: (6858 + 6682) / 2 = 6770; (6682 + 6515) / 2 = 6598.5 -> 6598;
    // (6515 + 6356) / 2 = 6435.5 -> 6436.
    EXPECT_EQ(LH_RpmFromByte(1), 6682);
    EXPECT_EQ(LH_RpmFromByteMid(0), 6770);
    EXPECT_EQ(LH_RpmFromByteMid(1), 6598);
    EXPECT_EQ(LH_RpmFromByteMid(2), 6436);
}

TEST(LhRevLimitCodeTest, TablesLeaveCodesTwoSixAndTwelveEmpty) {
    for (int code = 0; code < 32; ++code) {
        const bool missing = code == 2 || code == 6 || code == 12;
        EXPECT_EQ(LH_RpmCodeTableLow(code) == -1, missing) << code;
        EXPECT_EQ(LH_RpmCodeTableHigh(code) == -1, missing) << code;
    }
    struct Case {
        int code, low, high;
    };
    const Case entries[] = {{0, 0, 0}, {3, 2, 2}, {21, 18, 18}, {22, 20, 19}, {27, 26, 25}, {28, 27, 27}, {31, 31, 30}};
    for (const auto& c : entries) {
        EXPECT_EQ(LH_RpmCodeTableLow(c.code), c.low) << c.code;
        EXPECT_EQ(LH_RpmCodeTableHigh(c.code), c.high) << c.code;
    }
}

TEST(LhRevLimitCodeTest, BoundsFromHandComputedPeriods) {
    struct Case {
        int b, low, high;
    };
    // b = 66: exponent 2, code 2 (missing): high uses code 3 (mantissa 2): 4096 | 256 -> 3447;
    //         low works on 65 (code 1, mantissa 1): 4096 | 128 | 127 = 4351 -> 3447.
    // b = 68: high code 4 (mantissa 3): 4096 | 384 = 4480 -> 3348; low from 67 (code 3, m 2):
    //         4096 | 256 | 127 = 4479 -> 3349.
    // b = 67: low from 66 (code 2 missing -> code 1): 4351 -> 3447; high code 3: 4352 -> 3447.
    const Case cases[] = {{0, 20000, 20000}, {1, 20000, 14205}, {66, 3447, 3447}, {67, 3447, 3447}, {68, 3349, 3348}};
    for (const auto& c : cases) {
        EXPECT_EQ(LH_RpmCodeLow(c.b), c.low) << c.b;
        EXPECT_EQ(LH_RpmCodeHigh(c.b), c.high) << c.b;
    }
    EXPECT_EQ(LH_RpmFromCode(68), 3348); // (3349 + 3348) / 2 = 3348.5 -> even
    EXPECT_EQ(LH_RpmFromCode(0), 20000);
}

TEST(LhRevLimitCodeTest, CodeFromRpmPicksNearestAndSmallerOnTies) {
    for (int rpm = 500; rpm <= 8000; rpm += 37) {
        const int code = LH_CodeFromRpm(rpm);
        ASSERT_GE(code, 10);
        const int best = std::abs(LH_RpmFromCode(code) - rpm);
        for (int b = 10; b <= 254; ++b) {
            const int d = std::abs(LH_RpmFromCode(b) - rpm);
            EXPECT_FALSE(d < best || (d == best && b < code))
                << "rpm " << rpm << " code " << code << " beaten by " << b;
        }
    }
    // Byte 10 gives the highest speed, 11724 rpm: exactly 10000 away is not near enough.
    EXPECT_EQ(LH_RpmFromCode(10), 11724);
    EXPECT_EQ(LH_CodeFromRpm(21723), 10);
    EXPECT_EQ(LH_CodeFromRpm(21724), 0);
    EXPECT_EQ(LH_CodeFromRpm(50000), 0);
}

TEST(DevicePeriodTest, RpmLimits) {
    struct Case {
        std::int64_t p;
        int lh;
    };
    // rpm = 22,500,000 / p
    const Case cases[] = {{0, 10000},    {1, 10000},    {2250, 10000}, {2251, 9996},
                          {22500, 1000}, {224999, 100}, {225001, 0},   {1 << 24, 0}};
    for (const auto& c : cases) EXPECT_EQ(RpmFromDevicePeriodLH(c.p), c.lh) << c.p;
    // EZF: rpm = 60 / (p * 1.3333e-6 / 8 * 100) = 3,600,000 / p
    EXPECT_EQ(RpmFromDevicePeriodEZF(3600), 1000);
    EXPECT_EQ(RpmFromDevicePeriodEZF(360), 10000);
    EXPECT_EQ(RpmFromDevicePeriodEZF(36001), 0);
    EXPECT_EQ(EZF_PeriodFromDevicePeriod(7500), 2000); // 0.01 s / 8 * 4 / 2.5 us
    EXPECT_DOUBLE_EQ(DevicePeriodSeconds(-5), 8.0 / 6000000.0);
}

TEST(RamPeriodTest, EzkAndEzfSpeedLimits) {
    struct Case {
        std::int64_t v;
        int ezk;
        int ezf;
    };
    // EZK rpm = 2,666,666.7 / v, EZF rpm = 960,000 / v
    const Case cases[] = {{0, 0, 0},        {96, 10000, 10000}, {267, 9988, 3596}, {960, 2778, 1000}, {16000, 167, 60},
                          {16001, 167, 60}, {16300, 164, 0},    {44445, 60, 0},    {45000, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(EZK_RpmFromPeriod(c.v), c.ezk) << c.v;
        EXPECT_EQ(EZF_RpmFromPeriod(c.v), c.ezf) << c.v;
    }
}

TEST(TemperatureTest, CurvesEndsAndMiddles) {
    struct Case {
        const char* name;
        std::int32_t (*f)(double);
        int at0, at128, at255;
    };
    const Case cases[] = {{"LH23", TempLH23Coolant, 120, 21, -40},
                          {"EZK", TempEZKCoolant, 120, 3, -40},
                          {"LH22", TempLH22Coolant, 120, 22, -40},
                          {"EZF", TempEZFCoolant, 120, 20, -40},
                          {"EZFair", TempEZFAirTemp, 120, 22, -40}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.f(0), c.at0) << c.name;
        EXPECT_EQ(c.f(128), c.at128) << c.name;
        EXPECT_EQ(c.f(255), c.at255) << c.name;
        EXPECT_EQ(c.f(-10), c.at0) << c.name;
    }
    struct F {
        double c;
        int f;
    };
    const F fahrenheit[] = {{21, 69}, {-40, -40}, {-1, 30}, {-18, -1}, {120, 248}, {0, 32}};
    for (const auto& c : fahrenheit) EXPECT_EQ(FahrenheitFromCelsius(c.c), c.f) << c.c;
}

TEST(InterpolateTest, EndsAndInside) {
    const std::array<double, 3> xs{1, 2, 4};
    const std::array<double, 3> ys{10, 20, 0};
    struct Case {
        double x, y;
    };
    const Case cases[] = {{0, 10}, {1, 10}, {1.5, 15}, {2, 20}, {3, 10}, {4, 0}, {9, 0}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(Interpolate(xs, ys, c.x), c.y) << c.x;
    EXPECT_EQ(Interpolate({}, {}, 1.0), 0.0);
}

TEST(FuelQuantityTest, DutyCycle) {
    EXPECT_DOUBLE_EQ(DutyCycleFromTicks(5, 0.000216), 0.5);  // d = 10
    EXPECT_DOUBLE_EQ(DutyCycleFromTicks(5, 0.0000216), 5.0); // d = 1
    EXPECT_EQ(DutyCycleFromTicks(5, 0.0000108), 0.0);        // d = RoundEven(0.5) = 0
    EXPECT_EQ(DutyCycleFromTicks(5, 0.0), 0.0);
    EXPECT_DOUBLE_EQ(DutyCycleFromTicksHalf(5, 0.000216), 0.2); // RoundEven(2.5) = 2
    EXPECT_DOUBLE_EQ(DutyCycleFromTicksHalf(7, 0.000216), 0.4); // RoundEven(3.5) = 4
    EXPECT_TRUE(IsDutyCycleHigh(0.95));
    EXPECT_FALSE(IsDutyCycleHigh(0.9499));
}

TEST(FuelQuantityTest, Lh22MafLoad) {
    EXPECT_FLOAT_EQ(LH22_MafSignal(0), 2.55f);
    EXPECT_NEAR(LH22_MafSignal(65535), 5.0 + (65535.0 / 65536.0 * 5.03 - 3.25) / 2.664 * 2.0, 1e-5);
    EXPECT_NEAR(LH22_MafSignal(65536.0 * 0.34 / 5.03), 2.8, 1e-5);
    // 0 V -> 2.55 V signal -> 550 us; period 22500 = 0.03 s -> 2 * 0.03 / 0.00055 = 109.1
    EXPECT_EQ(LH22_MafLoad(0, 22500), 109);
    EXPECT_EQ(LH22_MafLoad(0, 300000), 0); // below 100 rpm
}

TEST(VoltageTest, VacuumAndAltitude) {
    EXPECT_NEAR(VacuumFromRaw(0), 4.61 / 0.175, 1e-9);
    EXPECT_NEAR(VacuumFromRaw(65536), (4.61 - 5.0) / 0.175, 1e-9);
    EXPECT_NEAR(VacuumSensorAltitudeOffset(0), 0.0, 1e-12);
    EXPECT_NEAR(VacuumSensorAltitudeOffset(1000), (28.86 - 29.92) * 0.175, 1e-12);
    EXPECT_NEAR(VacuumSensorAltitudeOffset(-9000), (35.58 - 29.92) * 0.175, 1e-12);
    EXPECT_NEAR(VacuumSensorAltitudeOffset(5500), (24.445 - 29.92) * 0.175, 1e-12);
    EXPECT_EQ(EZF_VacuumCalibrated(100, 255), 0);
    EXPECT_EQ(EZF_VacuumCalibrated(1000, 255), 744);
    EXPECT_EQ(EZF_VacuumCalibrated(65500, 1), 65535);
    EXPECT_FLOAT_EQ(LH23_MafVolts(0), 2.629f);
    EXPECT_FLOAT_EQ(LH23_BatteryVolts(190), static_cast<float>(190.5 / 15.83333));
}

TEST(IgnitionTest, AdvanceFromTiming) {
    struct Case {
        double period, delay, result;
    };
    const Case cases[] = {{0, 10, 0},      {65535, 10, 0}, {800, -1, 0}, {800, 0, 68.4}, {8, 21, 0}, // 68.4 - 75.6 < -5
                          {8, 20, -3.6}, // not below -5: kept
                          {800, 100, 64.8}};
    for (const auto& c : cases) EXPECT_NEAR(IgnitionAdvanceFromTiming(c.period, c.delay), c.result, 1e-9) << c.period;
    EXPECT_FLOAT_EQ(EZK_IgnitionAdvance(0, 0), 60.0f);
    EXPECT_FLOAT_EQ(EZK_IgnitionAdvance(16, 0), 54.0f);
    EXPECT_FLOAT_EQ(EZK_IgnitionAdvance(0, 1000), static_cast<float>(60.0 - 0.543));
}

TEST(NumbersTest, TimerIntervalAndSignificantDigits) {
    EXPECT_EQ(NextTimerInterval(0.05, 0.1), 50);
    EXPECT_EQ(NextTimerInterval(0.5, 0.1), 20);
    EXPECT_EQ(NextTimerInterval(-1, 0.1), 100);
    EXPECT_EQ(NextTimerInterval(0.0805, 0.1), 20); // 19.5 ms raised to a fifth
    EXPECT_EQ(NextTimerInterval(0.0, 0.2), 200);
    struct Case {
        double v;
        int digits;
        double out;
    };
    const Case cases[] = {{6858, 2, 6900},
                          {6850, 2, 6800},
                          {6950, 2, 7000},
                          {95, 2, 95},
                          {99.5, 2, 100},
                          {999, 2, 1000},
                          {12345, 3, 12300},
                          {0, 2, 0},
                          // 10^digits too small for a single: no endless division
                          {5, -1, 0},
                          {5, -50, 0},
                          {0, -50, 0},
                          {-5, -50, -5}};
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(RoundToSignificant(c.v, c.digits), c.out) << c.v;
}

TEST(NumbersTest, BytesAndWordOrder) {
    EXPECT_EQ(CombineWord(0x12, 0x34, false), 0x1234);
    EXPECT_EQ(CombineWord(0x12, 0x34, true), 0x3412);
    EXPECT_EQ(CombineTriple(0x12, 0x34, 0x56, false), 0x123456);
    EXPECT_EQ(CombineTriple(0x12, 0x34, 0x56, true), 0x563412);
    EpromContext context;
    // Creator-1 images (big-endian words) come with units that send RAM values low byte first.
    context.wordBigEndian = true;
    EXPECT_EQ(CombineWord(0x12, 0x34, context), 0x3412);
    EXPECT_EQ(CombineTriple(1, 2, 3, context), 0x030201);
    context.wordBigEndian = false;
    EXPECT_EQ(CombineWord(0x12, 0x34, context), 0x1234);
    EXPECT_EQ(LoByte(0x1234), 0x34);
    EXPECT_EQ(HiByte(0x1234), 0x12);
    EXPECT_EQ(ToSignedByte(255), -1);
    EXPECT_EQ(ToSignedByte(128), -128);
    EXPECT_EQ(ToSignedByte(127), 127);
}

} // namespace

} // namespace kv
