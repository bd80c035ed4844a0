#include "monitor/conversions.h"

#include "eprom/eprom_image.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace kv {

namespace conv {

namespace {

// Curves: ascending x values and their y values.
constexpr std::array<double, 10> kMafCurveX{0.078, 0.116, 0.225, 0.34, 0.595, 1.26, 1.918, 2.568, 3.25, 5.914};
constexpr std::array<double, 10> kMafCurveY{2.55, 2.6, 2.7, 2.8, 3.0, 3.5, 4.0, 4.5, 5.0, 7.0};

// Air-mass factor (microseconds) over the MAF signal volts: 2.15 .. 3.0 in 0.05, 3.1 .. 6.1 in 0.1.
constexpr std::array<double, 49> kAirCurveX{2.15, 2.2,  2.25, 2.3,  2.35, 2.4, 2.45, 2.5, 2.55, 2.6, 2.65, 2.7, 2.75,
                                            2.8,  2.85, 2.9,  2.95, 3.0,  3.1, 3.2,  3.3, 3.4,  3.5, 3.6,  3.7, 3.8,
                                            3.9,  4.0,  4.1,  4.2,  4.3,  4.4, 4.5,  4.6, 4.7,  4.8, 4.9,  5.0, 5.1,
                                            5.2,  5.3,  5.4,  5.5,  5.6,  5.7, 5.8,  5.9, 6.0,  6.1};
constexpr std::array<double, 49> kAirCurveY{5500, 2250, 1550, 1180, 970, 800, 700, 620, 550,  490, 450, 400, 370,
                                            340,  310,  290,  275,  260, 225, 200, 177, 160,  144, 130, 118, 110,
                                            100,  92,   83,   77,   70,  65,  59,  54,  50,   46,  42,  38,  35,
                                            32,   29,   26,   23,   21,  18,  16,  14,  10.5, 10.3};

constexpr std::array<double, 6> kLH23CoolantX{0, 0.429, 1.459, 2.382, 3.154, 4.65};
constexpr std::array<double, 6> kEZKCoolantX{0, 0.254, 0.95, 1.725, 2.601, 4.97};
constexpr std::array<double, 6> kLH22CoolantX{0, 0.437, 1.48, 2.416, 3.201, 4.73};
constexpr std::array<double, 6> kCoolantY{120, 80, 40, 25, 0, -40};
constexpr std::array<double, 5> kEZFCoolantX{0, 0.483, 1.6, 3.43, 4.8};
constexpr std::array<double, 5> kEZFCoolantY{120, 80, 40, 0, -40};
constexpr std::array<double, 6> kEZFAirX{0, 0.483, 1.58, 2.58, 3.37, 4.8};
constexpr std::array<double, 6> kEZFAirY{120, 80, 40, 20, 0, -40};

// Ambient pressure (inHg) over altitude (feet).
constexpr std::array<double, 29> kAltitudeX{-5000, -4500, -4000, -3500, -3000, -2500, -2000, -1500, -1000, -500,
                                            0,     500,   1000,  1500,  2000,  2500,  3000,  3500,  4000,  4500,
                                            5000,  6000,  7000,  8000,  9000,  10000, 15000, 20000, 25000};
constexpr std::array<double, 29> kAltitudeY{35.58, 35.0,  34.42, 33.84, 33.27, 32.7,  32.14, 31.58, 31.02, 30.47,
                                            29.92, 29.38, 28.86, 28.33, 27.82, 27.32, 26.82, 26.33, 25.84, 25.37,
                                            24.9,  23.99, 23.1,  22.23, 21.39, 20.58, 16.89, 13.76, 11.12};

// Rev-limit code -> 5-bit mantissa; -1 where the code has no entry.
constexpr std::array<int, 32> kRpmCodeL{0,  1,  -1, 2,  3,  4,  -1, 5,  6,  7,  8,  9,  -1, 10, 11, 12,
                                        13, 14, 15, 16, 17, 18, 20, 21, 22, 23, 24, 26, 27, 28, 29, 31};
constexpr std::array<int, 32> kRpmCodeH{0,  1,  -1, 2,  3,  4,  -1, 5,  6,  7,  8,  9,  -1, 10, 11, 12,
                                        13, 14, 15, 16, 17, 18, 19, 21, 22, 23, 24, 25, 27, 28, 29, 30};

template <std::size_t N>
double Curve(const std::array<double, N>& xs, const std::array<double, N>& ys, double x) {
    return Interpolate(std::span<const double>(xs), std::span<const double>(ys), x);
}

double AdcVolts(double raw) { return raw / 256.0 * 5.0; }

// Shared limits of the device-period rpm conversions.
std::int32_t LimitDeviceRpm(double r) {
    if (!(r < 10000.0)) return 10000; // also catches an infinite or NaN result
    if (r < 100.0) return 0;
    return RoundEven(r);
}

std::int32_t LimitRamRpm(std::int32_t r) {
    if (r > 10000) return 10000;
    if (r < 60) return 0;
    return r;
}

std::int32_t RpmFromCodeValue(std::int64_t value) {
    return RoundEven(60.0 / (2.0 * static_cast<double>(value) * 0.000002));
}

} // namespace

double RoundHalfEven(double x) {
    if (!std::isfinite(x)) return x;
    double f = std::floor(x);
    const double diff = x - f;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
    return f;
}

std::int32_t RoundEven(double x) {
    if (std::isnan(x)) return 0;
    if (x >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (x <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(RoundHalfEven(x));
}

double DevicePeriodSeconds(std::int64_t p) {
    return 8.0 / 6000000.0 * static_cast<double>(std::max<std::int64_t>(p, 1));
}

std::int32_t RpmFromDevicePeriodLH(std::int64_t p) { return LimitDeviceRpm(60.0 / (2.0 * DevicePeriodSeconds(p))); }

std::int32_t RpmFromDevicePeriodEZF(std::int64_t p) {
    return LimitDeviceRpm(60.0 / (DevicePeriodSeconds(p) / 8.0 * 100.0));
}

std::int32_t EZF_PeriodFromDevicePeriod(std::int64_t p) {
    return RoundEven(DevicePeriodSeconds(p) / 8.0 * 4.0 / 0.0000025);
}

std::int32_t EZK_RpmFromPeriod(std::int64_t v) {
    if (v == 0) return 0;
    return LimitRamRpm(RoundEven(60.0 / (static_cast<double>(v) / 4.0 * 60.0 * 0.0000015)));
}

std::int32_t EZF_RpmFromPeriod(std::int64_t v) {
    if (v == 0) return 0;
    return LimitRamRpm(RoundEven(60.0 / (static_cast<double>(v) / 4.0 * 100.0 * 0.0000025)));
}

std::int32_t LH_RpmFromByte(int b) {
    b = std::clamp(b, 0, 255);
    int n;
    if (b < 128)
        n = b + 38;
    else if (b < 192)
        n = ((b & 63) | 64) * 2 + 38;
    else
        n = ((b * 4) & 255) + 294;
    const double t = n * kLhRpmTick / crystalFactor;
    return RoundEven(60.0 / (2.0 * t));
}

std::int32_t LH_RpmFromByteNext(int b) { return LH_RpmFromByte(std::min(b, 254) + 1); }

std::int32_t LH_RpmFromByteMid(int b) {
    return RoundEven((static_cast<double>(LH_RpmFromByteNext(b)) + LH_RpmFromByte(b)) / 2.0);
}

std::int32_t LH_ByteFromRpm(double rpm) {
    if (std::isnan(rpm)) rpm = 100.0;
    rpm = std::clamp(rpm, 100.0, 10000.0);
    const float t = static_cast<float>(1.0 / (rpm / 60.0) / 2.0);
    const std::int32_t n = std::min(RoundEven(static_cast<double>(t) / (kLhRpmTick / crystalFactor)), 65535);
    const std::int32_t v = n - 38;
    if (v < 0) return 0;
    if (v >= 512) return 255;
    if (v >= 256) return ((v - 256) / 4) | 192;
    if (v >= 128) return ((v - 128) / 2) | 128;
    return v;
}

int LH_RpmCodeTableLow(int code) { return code >= 0 && code < 32 ? kRpmCodeL[static_cast<std::size_t>(code)] : -1; }
int LH_RpmCodeTableHigh(int code) { return code >= 0 && code < 32 ? kRpmCodeH[static_cast<std::size_t>(code)] : -1; }

std::int32_t LH_RpmCodeLow(int b) {
    b &= 255;
    if (b > 0) --b;
    if (b == 0) return 20000;
    const int e = b / 32;
    const int c = b & 31;
    int m = LH_RpmCodeTableLow(c);
    if (m < 0) m = LH_RpmCodeTableLow(c - 1); // codes 2, 6, 12: the entry below exists
    const double scale = std::ldexp(1.0, e + 5);
    const std::int64_t value = (std::int64_t{1} << (e + 10)) | RoundEven(scale * m) | RoundEven(scale - 1.0);
    return RpmFromCodeValue(value);
}

std::int32_t LH_RpmCodeHigh(int b) {
    b &= 255;
    if (b == 0) return 20000;
    const int e = b / 32;
    const int c = b & 31;
    int m = LH_RpmCodeTableHigh(c);
    if (m < 0) m = LH_RpmCodeTableHigh(c + 1); // codes 2, 6, 12: the entry above exists
    const std::int64_t value = RoundEven(std::ldexp(1.0, e + 5) * m) | (std::int64_t{1} << (e + 10));
    return RpmFromCodeValue(value);
}

std::int32_t LH_RpmFromCode(int b) {
    return RoundEven((static_cast<double>(LH_RpmCodeHigh(b)) + LH_RpmCodeLow(b)) / 2.0);
}

std::int32_t LH_CodeFromRpm(double rpm) {
    // The speed of every code, worked out once (a log's every sample asks).
    static const std::array<std::int32_t, 245> kCodeRpm = [] {
        std::array<std::int32_t, 245> table{};
        for (int b = 10; b <= 254; ++b) table[static_cast<std::size_t>(b - 10)] = LH_RpmFromCode(b);
        return table;
    }();
    double best = 10000.0;
    std::int32_t code = 0;
    for (int b = 10; b <= 254; ++b) {
        const double d = std::fabs(kCodeRpm[static_cast<std::size_t>(b - 10)] - rpm);
        if (d < best) {
            best = d;
            code = b;
        }
    }
    return code;
}

double IgnitionAdvanceFromTiming(double period, double delay) {
    if (!(period >= 1.0) || period >= 65535.0 || !(delay >= 0.0)) return 0.0;
    const double a = 68.4 - delay / (period / 8.0 * 100.0) * 360.0;
    return a < -5.0 ? 0.0 : a;
}

float EZK_IgnitionAdvance(int b, double rpm) {
    const double base = 60.0 - static_cast<double>(b) * 6.0 / 16.0;
    if (rpm == 0.0) return static_cast<float>(base);
    return static_cast<float>(base - 90.5 / (1000000.0 / rpm) * 6.0);
}

std::int32_t TempLH23Coolant(double raw) { return RoundEven(Curve(kLH23CoolantX, kCoolantY, AdcVolts(raw))); }
std::int32_t TempEZKCoolant(double raw) { return RoundEven(Curve(kEZKCoolantX, kCoolantY, AdcVolts(raw))); }
std::int32_t TempLH22Coolant(double raw) { return RoundEven(Curve(kLH22CoolantX, kCoolantY, AdcVolts(raw))); }
std::int32_t TempEZFCoolant(double raw) { return RoundEven(Curve(kEZFCoolantX, kEZFCoolantY, AdcVolts(raw))); }
std::int32_t TempEZFAirTemp(double raw) { return RoundEven(Curve(kEZFAirX, kEZFAirY, AdcVolts(raw))); }

std::int32_t FahrenheitFromCelsius(double celsius) {
    const double f = std::floor(celsius * 9.0 / 5.0 + 32.0);
    return RoundEven(f);
}

double DutyCycleFromTicks(double ticks, double cycleSeconds) {
    const std::int32_t d = RoundEven(cycleSeconds / 2.0 / 0.0000108);
    if (d < 1) return 0.0;
    return ticks / d;
}

double DutyCycleFromTicksHalf(double ticks, double cycleSeconds) {
    return DutyCycleFromTicks(RoundEven(ticks / 2.0), cycleSeconds);
}

bool IsDutyCycleHigh(double fraction) { return fraction >= 0.95; }

float LH22_MafSignal(double raw) { return static_cast<float>(Curve(kMafCurveX, kMafCurveY, raw / 65536.0 * 5.03)); }

std::int32_t LH22_MafLoad(double raw, std::int64_t period) {
    if (RpmFromDevicePeriodLH(period) == 0) return 0;
    const double q = Curve(kAirCurveX, kAirCurveY, LH22_MafSignal(raw)) / 1000000.0;
    return RoundEven(2.0 * DevicePeriodSeconds(period) / q);
}

float LH23_MafVolts(int b) { return static_cast<float>(b * 0.498 / 256.0 * 5.0 + 2.629); }

float LH23_BatteryVolts(int b) { return static_cast<float>((b + 0.5) / 15.83333); }

double VacuumFromRaw(double raw) { return (4.61 - raw / 65536.0 * 5.0) / 0.175; }

double VacuumSensorAltitudeOffset(double feet) { return (Curve(kAltitudeX, kAltitudeY, feet) - 29.92) * 0.175; }

std::int32_t EZF_VacuumCalibrated(std::int64_t raw, int calibrationByte) {
    const std::int64_t v = raw + 256 * static_cast<std::int64_t>(ToSignedByte(calibrationByte));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, 65535));
}

std::int32_t LoByte(std::int64_t x) { return static_cast<std::int32_t>(x & 255); }

std::int32_t HiByte(std::int64_t x) { return static_cast<std::int32_t>(x / 256); }

std::int32_t CombineWord(int a, int b, bool ramByteOrderFlag) {
    a &= 255;
    b &= 255;
    return ramByteOrderFlag ? b * 256 + a : a * 256 + b;
}

std::int32_t CombineTriple(int a, int b, int c, bool ramByteOrderFlag) {
    a &= 255;
    b &= 255;
    c &= 255;
    return ramByteOrderFlag ? (c * 256 + b) * 256 + a : (a * 256 + b) * 256 + c;
}

std::int32_t CombineWord(int a, int b, const EpromContext& context) { return CombineWord(a, b, context.wordBigEndian); }

std::int32_t CombineTriple(int a, int b, int c, const EpromContext& context) {
    return CombineTriple(a, b, c, context.wordBigEndian);
}

std::int32_t ToSignedByte(int b) {
    b &= 255;
    return b >= 128 ? b - 256 : b;
}

std::string FormatFixed(double x, int decimals, int significantDigits) {
    if (!std::isfinite(x)) return {};
    decimals = std::clamp(decimals, 0, 30);
    significantDigits = std::clamp(significantDigits, 1, 17);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*e", significantDigits - 1, std::fabs(x));
    // The digits d1 d2 ... of the text stand for 0.d1 d2 ... x 10^(exponent + 1).
    std::string digits;
    const char* p = buffer;
    for (; *p != 'e' && *p != '\0'; ++p)
        if (*p >= '0' && *p <= '9') digits += *p;
    const int exponent = *p == 'e' ? std::atoi(p + 1) : 0;
    const long keep = static_cast<long>(exponent) + 1 + decimals; // digits down to the last place shown
    std::string kept;
    bool up = false;
    if (keep >= 0) {
        const auto k = static_cast<std::size_t>(keep);
        kept = digits.substr(0, std::min(k, digits.size()));
        kept.append(k - kept.size(), '0');
        up = k < digits.size() && digits[k] >= '5';
    }
    if (up) {
        std::size_t i = kept.size();
        while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
        if (i > 0)
            ++kept[i - 1];
        else
            kept.insert(kept.begin(), '1');
    }
    const auto places = static_cast<std::size_t>(decimals);
    if (kept.size() < places + 1) kept.insert(0, places + 1 - kept.size(), '0');
    std::string integer = kept.substr(0, kept.size() - places);
    integer.erase(0, std::min(integer.find_first_not_of('0'), integer.size() - 1));
    const bool zero = kept.find_first_not_of('0') == std::string::npos;
    std::string text = (x < 0 && !zero ? "-" : "") + integer;
    if (places > 0) text += "." + kept.substr(kept.size() - places);
    return text;
}

double RoundToSignificant(double v, int digits) {
    if (!std::isfinite(v)) return v;
    double factor = 1.0;
    const float limit = static_cast<float>(std::pow(10.0, digits));
    // 10^digits below the smallest single: a value that is not negative would be divided for ever
    // (0 >= 0); it reduces to nothing.
    if (!(limit > 0.0f)) return v < 0.0 ? RoundHalfEven(v) : 0.0;
    while (static_cast<float>(v) >= limit) {
        v /= 10.0;
        factor *= 10.0;
    }
    return RoundHalfEven(v) * factor;
}

double Interpolate(std::span<const double> xs, std::span<const double> ys, double x) {
    const std::size_t n = std::min(xs.size(), ys.size());
    if (n == 0) return 0.0;
    if (x <= xs[0]) return ys[0];
    if (x >= xs[n - 1]) return ys[n - 1];
    std::size_t i = 1;
    while (i < n - 1 && xs[i] < x) ++i;
    return ys[i - 1] + (x - xs[i - 1]) / (xs[i] - xs[i - 1]) * (ys[i] - ys[i - 1]);
}

std::int32_t NextTimerInterval(double elapsed, double nominal) {
    double d = nominal - elapsed;
    if (0.2 * nominal > d) d = 0.2 * nominal;
    if (d > nominal) d = nominal;
    return RoundEven(d * 1000.0);
}

} // namespace conv

} // namespace kv
