#pragma once
// Engine value conversions: pure functions from raw ECU and device values to engineering units
// (rpm, seconds, percent, volts, degrees Celsius, degrees of advance, inHg) and back. The
// monitors, traces, parameter pages, map axes and data logging call these by name and never
// repeat a formula. All arithmetic is double precision unless a function says "single".
//
// Rounding: RoundEven rounds to the nearest integer with halves to even. Results outside the
// 32-bit range saturate; NaN gives 0.
#include <cstdint>
#include <span>
#include <string>

namespace kv {

struct EpromContext;

namespace conv {

// Divisor of the LH 2.3 rpm byte tick (0.0001151245 s). Fixed at 1.0.
inline constexpr double crystalFactor = 1.0;
// Length of one LH 2.3 rpm byte tick in seconds (before crystalFactor).
inline constexpr double kLhRpmTick = 0.0001151245;

// Round half to even in double (infinities and NaN pass through).
double RoundHalfEven(double x);
// The text of every shown number: `decimals` places, a half away from zero, no negative zero.
// The half is judged on the value's decimal text at `significantDigits` (15 for a double, 7 for a
// single), not on its binary expansion: 2.25 shows "2.3" and 59.849999999999994 "59.9". Empty
// for infinities and NaN.
std::string FormatFixed(double x, int decimals, int significantDigits = 15);
// Round half to even, saturating at the int32 range; NaN gives 0.
std::int32_t RoundEven(double x);

// --- speed and timing ---

// Device timer count (24-bit, 1.3333 us per count) -> seconds; counts below 1 count as 1.
double DevicePeriodSeconds(std::int64_t p);
// LH engine-speed period measured by the device -> rpm; >= 10000 gives 10000, < 100 gives 0.
std::int32_t RpmFromDevicePeriodLH(std::int64_t p);
// Ignition-signal period measured by the device -> rpm; limits as RpmFromDevicePeriodLH.
std::int32_t RpmFromDevicePeriodEZF(std::int64_t p);
// Device period -> EZF period word (2.5 us units).
std::int32_t EZF_PeriodFromDevicePeriod(std::int64_t p);
// EZK RAM period word -> rpm; 0 for v = 0, above 10000 gives 10000, below 60 gives 0.
std::int32_t EZK_RpmFromPeriod(std::int64_t v);
// EZF RAM period word -> rpm; limits as EZK_RpmFromPeriod.
std::int32_t EZF_RpmFromPeriod(std::int64_t v);
// LH 2.3 rpm byte (axis points and RAM, 0..255) -> rpm. LH_RpmFromByte(0) = 6858.
std::int32_t LH_RpmFromByte(int b);
// Speed of the next byte: LH_RpmFromByte(min(b, 254) + 1).
std::int32_t LH_RpmFromByteNext(int b);
// Mid-point between a byte's speed and the next one's.
std::int32_t LH_RpmFromByteMid(int b);
// rpm -> LH 2.3 rpm byte, the exact inverse of LH_RpmFromByte (rpm clamped to 100..10000).
std::int32_t LH_ByteFromRpm(double rpm);

// LH rev-limit code byte (3-bit exponent b / 32, 5-bit code b AND 31) -> lower and upper rpm
// bounds; 20000 stands for "no limit" (LH_RpmCodeLow of 0 and 1, LH_RpmCodeHigh of 0).
std::int32_t LH_RpmCodeLow(int b);
std::int32_t LH_RpmCodeHigh(int b);
// Mid-point of the two bounds.
std::int32_t LH_RpmFromCode(int b);
// The code 10..254 whose LH_RpmFromCode is nearest to rpm (ties keep the smaller code); 0 when
// every code is more than 10000 rpm away.
std::int32_t LH_CodeFromRpm(double rpm);
// Mantissa tables of the rev-limit code; -1 for the codes without an entry (2, 6 and 12).
int LH_RpmCodeTableLow(int code);
int LH_RpmCodeTableHigh(int code);

// Rev period and spark delay in device counts -> degrees before top dead centre; 0 for a period
// below 1 or at least 65535, a negative delay, or an advance below -5.
double IgnitionAdvanceFromTiming(double period, double delay);
// EZK RAM ignition byte (0..255) at an engine speed -> degrees of advance (single).
float EZK_IgnitionAdvance(int b, double rpm);

// --- temperatures: 8-bit ADC reading (256 counts = 5 V) -> degrees Celsius ---
std::int32_t TempLH23Coolant(double raw);
std::int32_t TempEZKCoolant(double raw);
std::int32_t TempLH22Coolant(double raw);
std::int32_t TempEZFCoolant(double raw);
std::int32_t TempEZFAirTemp(double raw);
// Degrees Celsius -> Fahrenheit as shown: Floor(c * 9 / 5 + 32).
std::int32_t FahrenheitFromCelsius(double celsius);

// --- fuel quantities ---

// Injector-on time in ECU ticks over the engine-cycle time in seconds -> duty cycle as a
// fraction (1.0 = 100 %); 0 when the cycle is too short to hold one tick pair.
double DutyCycleFromTicks(double ticks, double cycleSeconds);
double DutyCycleFromTicksHalf(double ticks, double cycleSeconds);
bool IsDutyCycleHigh(double fraction);
// LH 2.2 16-bit MAF reading (65536 counts = 5.03 V) -> MAF signal volts (single).
float LH22_MafSignal(double raw);
// LH 2.2 MAF reading and device rev period -> load value; 0 when the engine stands.
std::int32_t LH22_MafLoad(double raw, std::int64_t period);

// --- voltages and pressure ---
float LH23_MafVolts(int b);
float LH23_BatteryVolts(int b);
// 16-bit vacuum-sensor reading (65536 = 5 V) -> inHg.
double VacuumFromRaw(double raw);
// Altitude in feet -> sensor offset in volts.
double VacuumSensorAltitudeOffset(double feet);
// 16-bit EZF vacuum reading corrected by the image's calibration byte (EPROM address entry 55,
// passed here as read from the image, 0..255, taken as signed); limited to 0..65535.
std::int32_t EZF_VacuumCalibrated(std::int64_t raw, int calibrationByte);

// --- bytes and numbers ---
std::int32_t LoByte(std::int64_t x);
std::int32_t HiByte(std::int64_t x);
// Multi-byte ECU RAM values from their bytes (each taken AND 255). ramByteOrderFlag is the
// program-wide RAM byte order flag: when set the first byte is the least significant. It is set
// together with the word byte order after an image load (set for every creator but 2, whose
// units send their RAM values high byte first), so the EpromContext overloads take
// flag = context.wordBigEndian.
std::int32_t CombineWord(int a, int b, bool ramByteOrderFlag);
std::int32_t CombineTriple(int a, int b, int c, bool ramByteOrderFlag);
std::int32_t CombineWord(int a, int b, const EpromContext& context);
std::int32_t CombineTriple(int a, int b, int c, const EpromContext& context);
// b (0..255) as a signed 8-bit value.
std::int32_t ToSignedByte(int b);
// v reduced to `digits` significant integer digits: 6858 with 2 digits gives 6900.
double RoundToSignificant(double v, int digits);
// Piecewise-linear curve through ascending xs; the end values outside. 0 for an empty curve.
double Interpolate(std::span<const double> xs, std::span<const double> ys, double x);
// Seconds spent in a timer tick and the nominal period in seconds -> milliseconds until the
// next tick: the rest of the period, never less than a fifth of it nor more than all of it.
std::int32_t NextTimerInterval(double elapsed, double nominal);

} // namespace conv

} // namespace kv
