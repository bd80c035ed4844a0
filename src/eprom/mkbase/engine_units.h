#pragma once
// The engine-unit conversions the generator needs to pick raw bytes for engineering targets
// (rpm, degrees Celsius, ignition advance, vacuum). Each raw value is found by searching the
// forward conversion, so a base image shows its targets as closely as its bytes allow.
#include <vector>

namespace kv {

namespace mkbase::units {

// Nearest integer, halves to even.
int RoundEven(double v);

// Piecewise-linear curve with ascending x (volts) and y (degrees Celsius).
struct Curve {
    std::vector<double> x;
    std::vector<double> y;
};
double Interpolate(const Curve& curve, double x);

const Curve& LH23CoolantCurve();
const Curve& LH22CoolantCurve();
const Curve& EZFCoolantCurve();
const Curve& EZFAirTempCurve();

// 8-bit sensor reading (256 counts = 5 V) whose temperature on the curve is nearest to celsius.
int RawForTemperature(const Curve& curve, double celsius);

// LH rev-limit code byte <-> rpm (3-bit exponent, 5-bit code).
int LhRpmCodeLow(int code);
int LhRpmCodeHigh(int code);
int LhRpmFromCode(int code);
// The code in 10..254 whose conversion is nearest to rpm (ties keep the smaller code).
int LhCodeNearest(double rpm, int (*conversion)(int));

// LH rpm byte (LH 2.2 axes) <-> rpm.
int LhRpmFromByte(int b);
int LhRpmFromByteMid(int b);
int LhByteMidNearest(double rpm);

// EZK / EZF engine-speed periods for an rpm (the axis points of the ignition maps).
int EzkPeriodForRpm(double rpm);
int EzkRpmFromPeriod(int period);
int EzfPeriodForRpm(double rpm);

// EZK ignition byte -> degrees before top dead centre at rpm, and the nearest byte for degrees.
double EzkAdvance(int b, double rpm);
int EzkByteForAdvance(double degrees, double rpm);
// EZF absolute ignition byte -> degrees, and the nearest byte in 1..144 for degrees.
double EzfAdvance(int b);
int EzfByteForAdvance(double degrees);

// EZF load axis: the raw point (high byte of the 16-bit vacuum reading) for inHg of vacuum.
int EzfLoadPointForVacuum(double inHg);

} // namespace mkbase::units

} // namespace kv
