#include "eprom/mkbase/engine_units.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kv {

namespace mkbase::units {

namespace {

constexpr double kLhByteTick = 0.0001151245; // s per LH 2.3 rpm byte count
constexpr double kLhCodeTick = 0.000002;     // s per rev-limit code count
constexpr int kNoEntry = -1;

// 5-bit code -> mantissa of the rev-limit code; codes 2, 6 and 12 have no entry.
constexpr std::array<int, 32> kCodeLow = {0,  1,        kNoEntry, 2,  3,  4,  kNoEntry, 5,  6,  7,  8,
                                          9,  kNoEntry, 10,       11, 12, 13, 14,       15, 16, 17, 18,
                                          20, 21,       22,       23, 24, 26, 27,       28, 29, 31};
constexpr std::array<int, 32> kCodeHigh = {0,  1,        kNoEntry, 2,  3,  4,  kNoEntry, 5,  6,  7,  8,
                                           9,  kNoEntry, 10,       11, 12, 13, 14,       15, 16, 17, 18,
                                           19, 21,       22,       23, 24, 25, 27,       28, 29, 30};

int RpmFromCodeValue(double value) { return RoundEven(60.0 / (2.0 * value * kLhCodeTick)); }

} // namespace

int RoundEven(double v) { return static_cast<int>(std::nearbyint(v)); }

double Interpolate(const Curve& c, double x) {
    if (x <= c.x.front()) return c.y.front();
    if (x >= c.x.back()) return c.y.back();
    std::size_t i = 1;
    while (c.x[i] < x) ++i;
    return c.y[i - 1] + (x - c.x[i - 1]) / (c.x[i] - c.x[i - 1]) * (c.y[i] - c.y[i - 1]);
}

const Curve& LH23CoolantCurve() {
    static const Curve c{{0, 0.429, 1.459, 2.382, 3.154, 4.65}, {120, 80, 40, 25, 0, -40}};
    return c;
}
const Curve& LH22CoolantCurve() {
    static const Curve c{{0, 0.437, 1.48, 2.416, 3.201, 4.73}, {120, 80, 40, 25, 0, -40}};
    return c;
}
const Curve& EZFCoolantCurve() {
    static const Curve c{{0, 0.483, 1.6, 3.43, 4.8}, {120, 80, 40, 0, -40}};
    return c;
}
const Curve& EZFAirTempCurve() {
    static const Curve c{{0, 0.483, 1.58, 2.58, 3.37, 4.8}, {120, 80, 40, 20, 0, -40}};
    return c;
}

int RawForTemperature(const Curve& curve, double celsius) {
    int best = 0;
    double bestDiff = std::numeric_limits<double>::max();
    for (int raw = 0; raw < 256; ++raw) {
        const double d = std::abs(Interpolate(curve, raw / 256.0 * 5.0) - celsius);
        if (d < bestDiff) {
            bestDiff = d;
            best = raw;
        }
    }
    return best;
}

int LhRpmCodeLow(int b) {
    if (b > 0) --b;
    if (b == 0) return 20000;
    const int e = b / 32;
    const int c = b & 31;
    const int m = kCodeLow[static_cast<std::size_t>(c)] != kNoEntry ? kCodeLow[static_cast<std::size_t>(c)]
                                                                    : kCodeLow[static_cast<std::size_t>(c - 1)];
    const int value = (1 << (e + 10)) | RoundEven(std::ldexp(1.0, e + 5) * m) | RoundEven(std::ldexp(1.0, e + 5) - 1);
    return RpmFromCodeValue(value);
}

int LhRpmCodeHigh(int b) {
    if (b == 0) return 20000;
    const int e = b / 32;
    const int c = b & 31;
    const int m = kCodeHigh[static_cast<std::size_t>(c)] != kNoEntry ? kCodeHigh[static_cast<std::size_t>(c)]
                                                                     : kCodeHigh[static_cast<std::size_t>(c + 1)];
    const int value = RoundEven(std::ldexp(1.0, e + 5) * m) | (1 << (e + 10));
    return RpmFromCodeValue(value);
}

int LhRpmFromCode(int b) { return RoundEven((LhRpmCodeHigh(b) + LhRpmCodeLow(b)) / 2.0); }

int LhCodeNearest(double rpm, int (*conversion)(int)) {
    int best = 0;
    double bestDiff = 10000;
    for (int b = 10; b <= 254; ++b) {
        const double d = std::abs(conversion(b) - rpm);
        if (d < bestDiff) {
            bestDiff = d;
            best = b;
        }
    }
    return best;
}

int LhRpmFromByte(int b) {
    int n = 0;
    if (b < 128)
        n = b + 38;
    else if (b < 192)
        n = ((b & 63) | 64) * 2 + 38;
    else
        n = ((b * 4) & 255) + 294;
    return RoundEven(60.0 / (2.0 * n * kLhByteTick));
}

int LhRpmFromByteMid(int b) {
    const int next = LhRpmFromByte((b < 254 ? b : 254) + 1);
    return RoundEven((next + LhRpmFromByte(b)) / 2.0);
}

int LhByteMidNearest(double rpm) {
    int best = 0;
    double bestDiff = std::numeric_limits<double>::max();
    for (int b = 0; b < 256; ++b) {
        const double d = std::abs(LhRpmFromByteMid(b) - rpm);
        if (d < bestDiff) {
            bestDiff = d;
            best = b;
        }
    }
    return best;
}

// EZK period word: rpm = 60 / (v / 4 x 60 x 1.5 us).
int EzkPeriodForRpm(double rpm) { return RoundEven(4.0 / (rpm * 0.0000015)); }
int EzkRpmFromPeriod(int v) { return v == 0 ? 0 : RoundEven(60.0 / (v / 4.0 * 60.0 * 0.0000015)); }
// EZF period word: rpm = 60 / (v / 4 x 100 x 2.5 us).
int EzfPeriodForRpm(double rpm) { return RoundEven(60.0 / (rpm / 4.0 * 100.0 * 0.0000025)); }

double EzkAdvance(int b, double rpm) {
    const double base = 60.0 - (b * 6) / 16.0;
    if (rpm == 0) return base;
    return base - 90.5 / (1000000.0 / rpm) * 6.0;
}

int EzkByteForAdvance(double degrees, double rpm) {
    int best = 0;
    double bestDiff = std::numeric_limits<double>::max();
    for (int b = 0; b < 256; ++b) {
        const double d = std::abs(EzkAdvance(b, rpm) - degrees);
        if (d < bestDiff) {
            bestDiff = d;
            best = b;
        }
    }
    return best;
}

double EzfAdvance(int b) { return 70.2 - ((b / 2.0 + 10.0) / 2.0) * 1.8; }

int EzfByteForAdvance(double degrees) {
    int best = 1;
    double bestDiff = std::numeric_limits<double>::max();
    for (int b = 1; b <= 144; ++b) {
        const double d = std::abs(EzfAdvance(b) - degrees);
        if (d < bestDiff) {
            bestDiff = d;
            best = b;
        }
    }
    return best;
}

// Vacuum in inHg = (4.61 - raw16 / 65536 x 5) / 0.175, with raw16 = point x 256.
int EzfLoadPointForVacuum(double inHg) { return RoundEven((4.61 - inHg * 0.175) / 5.0 * 256.0); }

} // namespace mkbase::units

} // namespace kv
