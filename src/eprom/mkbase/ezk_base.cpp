// The EZK base images (kind 5, revision 8): the base maps of the S4, GT and GTS, each for a
// standard air-flow meter and for a SuperMAF car.
#include "eprom/mkbase/base_images.h"
#include "eprom/mkbase/engine_units.h"

#include <algorithm>
#include <array>

namespace kv {

namespace mkbase {

namespace {

using units::Curve;
using units::Interpolate;
using units::RoundEven;

constexpr int kImageSize = 16384;
constexpr std::uint32_t kSeed = 0x455A4B44u;

// Identification.
constexpr int kBuildText = 16128; // text area up to parameter 34
constexpr int kBuildTextSize = 64;
constexpr int kMarker = 16352; // "MRX-D"
constexpr int kRevisionAddress = 16357;
constexpr int kRevision = 8;
constexpr int kBaseMapsName = 16358; // 5 characters, 0xFF = none
constexpr int kSuperMafFlag = 16363; // 1 = SuperMAF car

// One block of 1024 bytes per map set selection: block 0 "98 octane non-cat" (maps 16, 19,
// 22, 25), block 1 "98 octane cat" (17, 20, 23, 26), block 2 "91 octane" (18, 21, 24, 27).
constexpr std::array<int, 3> kBlocks = {4096, 5120, 6144};
constexpr int kCruiseOffset = 0;      // 16 x 16: rpm axis 1 by load
constexpr int kRecoveryOffset = 688;  // parameters 35, 36, 37: knock recovery table
constexpr int kLoadTableOffset = 704; // 16 bytes that the version upgrade always takes over
constexpr int kKnockOffset = 736;     // max knock retard over rpm axis 2
constexpr int kIdleOffset = 784;      // idle map over rpm axis 3
constexpr int kWotOffset = 800;       // WOT map over rpm axis 1
// Extra retard at full load of each block, in degrees (cat and 91 octane run leaner margins).
constexpr std::array<double, 3> kBlockRetard = {0.0, 1.0, 3.0};

// Warm-up compensation (stored reversed: cell x at address + 15 - x).
constexpr int kWarmupIdle = 4480;   // map 14
constexpr int kWarmupCruise = 4496; // map 13
constexpr int kWarmupWot = 4512;    // map 15

// Rpm axis tables (entries 29, 30, 31): 15 period steps / 4, then the first period - 255.
constexpr int kRpmAxis1 = 4528;
constexpr int kRpmAxis2 = 4544;
constexpr int kRpmAxis3 = 4560;

// Parameters.
constexpr int kRpmCompensation = 4864; // 32: signed bytes over rpm axis 2
constexpr int kEntry33 = 4592;
constexpr int kKnockStep = 16204;         // 34
constexpr int kThrottleOpenIdle = 2931;   // 38
constexpr int kThrottleOpenDecel = 2936;  // 39
constexpr int kLoadIncreaseRetard = 2957; // 40
constexpr int kAdvanceRate = 3067;        // 41
constexpr int kWotIgnoredSwitch = 3058;   // "n" = WOT map used, "?" = ignored

struct Patch {
    int address;
    int value;
};
constexpr Patch kDevicePatches[] = {{1233, 62}, {1234, 240}, {1087, 176}};

const std::vector<double> kAxis1Rpm = {6000, 5500, 5000, 4500, 4000, 3500, 3000, 2600,
                                       2200, 1900, 1600, 1300, 1100, 900,  750,  600};
const std::vector<double> kAxis2Rpm = {6000, 5200, 4600, 4000, 3500, 3000, 2600, 2200,
                                       1900, 1600, 1400, 1200, 1000, 850,  700,  600};
// The first point of every table lies above 5229 rpm (its period is at most 255 + 255).
const std::vector<double> kAxis3Rpm = {5300, 2000, 1600, 1400, 1200, 1100, 1000, 950,
                                       900,  850,  800,  750,  700,  650,  600,  500};

// Signed rpm compensation over rpm axis 2 (index 0 = highest speed).
constexpr std::array<int, 16> kCompensation = {2, 2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, -1, -1, -2, -2};
// Knock recovery decay shape, scaled to the recovery setting.
constexpr std::array<int, 16> kRecoveryShape = {255, 246, 235, 223, 210, 198, 185, 172,
                                                160, 148, 135, 123, 104, 75,  54,  38};
constexpr int kRecoverySetting = 64;

struct MapSetCurves {
    const char* name;
    Curve lowLoad;  // degrees over rpm at no load
    Curve highLoad; // degrees over rpm at full load (also the WOT map)
    Curve idle;     // degrees over rpm at idle
    Curve knock;    // max knock retard in degrees over rpm
};

const MapSetCurves& CurvesOf(EzkMapSet set) {
    static const MapSetCurves s4{"S4",
                                 {{600, 1000, 2000, 3000, 6000}, {16, 24, 34, 38, 38}},
                                 {{600, 1000, 2000, 3000, 4000, 6000}, {10, 12, 20, 25, 27, 29}},
                                 {{500, 600, 700, 800, 1000, 2000, 5300}, {20, 16, 12, 10, 10, 14, 20}},
                                 {{600, 3000, 6000}, {6, 9, 10.5}}};
    static const MapSetCurves gt{"GT",
                                 {{600, 1000, 2000, 3000, 6000}, {15, 22, 33, 37, 38}},
                                 {{600, 1000, 2000, 3000, 4000, 6000}, {10, 13, 22, 27, 29, 31}},
                                 {{500, 650, 775, 900, 1100, 2000, 5300}, {20, 17, 12, 10, 10, 14, 20}},
                                 {{600, 3000, 6000}, {6, 9.75, 11.25}}};
    static const MapSetCurves gts{"GTS",
                                  {{600, 1000, 2000, 3000, 6000}, {16, 25, 35, 38, 38}},
                                  {{600, 1000, 2000, 3000, 4000, 6000}, {10, 12, 19, 24, 27, 30}},
                                  {{500, 600, 700, 800, 1000, 2000, 5300}, {18, 15, 12, 10, 10, 13, 18}},
                                  {{600, 3000, 6000}, {6.75, 9, 10.5}}};
    switch (set) {
    case EzkMapSet::GT: return gt;
    case EzkMapSet::GTS: return gts;
    case EzkMapSet::S4: break;
    }
    return s4;
}

double ClampAdvance(double deg) { return std::clamp(deg, 10.0, 38.0); }

// Writes an rpm axis table so that its points are the periods of the given speeds.
void PutRpmAxis(ImageBuffer& img, int table, const std::vector<double>& rpms) {
    std::vector<int> periods;
    for (double r : rpms) periods.push_back(units::EzkPeriodForRpm(r));
    const int last = periods[0] - 255; // point 0 = 255 + byte 15
    if (last < 0 || last > 255) img.Fail("rpm axis at " + std::to_string(table) + " starts out of reach");
    img.Put(table + 15, last);
    int sum = 0;
    for (int i = 1; i < 16; ++i) {
        // point i = 256 + byte 15 + 4 x (byte 0 + ... + byte i-1)
        const int target = RoundEven((periods[static_cast<std::size_t>(i)] - 256 - last) / 4.0);
        img.Put(table + i - 1, target - sum);
        sum = target;
    }
}

int AxisPoint(const ImageBuffer& img, int table, int i) {
    if (i == 0) return 255 + img.At(table + 15);
    int sum = 0;
    for (int k = 0; k < i; ++k) sum += img.At(table + k);
    return 256 + img.At(table + 15) + 4 * sum;
}

// The rpm the editor shows for point i of a table.
double AxisRpm(const ImageBuffer& img, int table, int i) { return units::EzkRpmFromPeriod(AxisPoint(img, table, i)); }

// The signed compensation the unit adds to an absolute ignition byte at this speed.
int Compensation(const ImageBuffer& img, double rpm) {
    const int t = rpm == 0 ? 0 : RoundEven(4.0 / (rpm * 0.0000015));
    int k = 0;
    if (t > AxisPoint(img, kRpmAxis2, 0)) {
        if (t < AxisPoint(img, kRpmAxis2, 15)) {
            int i = 1;
            while (AxisPoint(img, kRpmAxis2, i) <= t) ++i;
            k = i - 1;
        } else {
            k = 15;
        }
    }
    const int b = img.At(kRpmCompensation + k);
    return b >= 128 ? b - 256 : b;
}

// Stored byte of an absolute ignition map cell for degrees at the column's speed.
int AbsoluteCell(const ImageBuffer& img, double degrees, double rpm) {
    const int u = units::EzkByteForAdvance(ClampAdvance(degrees), rpm);
    return std::clamp(u - Compensation(img, rpm), 16, 176);
}

void PutMapSet(ImageBuffer& img, const MapSetCurves& c, int blockIndex) {
    const int block = kBlocks[static_cast<std::size_t>(blockIndex)];
    const double retard = kBlockRetard[static_cast<std::size_t>(blockIndex)];
    for (int x = 0; x < 16; ++x) {
        const double rpm = AxisRpm(img, kRpmAxis1, x);
        const double low = Interpolate(c.lowLoad, rpm);
        const double high = Interpolate(c.highLoad, rpm) - retard;
        for (int y = 0; y < 16; ++y) {
            const double load = y / 15.0;
            img.Put(block + kCruiseOffset + x + 16 * y, AbsoluteCell(img, low + (high - low) * load, rpm));
        }
        img.Put(block + kWotOffset + x, AbsoluteCell(img, high, rpm));
    }
    for (int x = 0; x < 16; ++x) {
        const double rpm = AxisRpm(img, kRpmAxis3, x);
        img.Put(block + kIdleOffset + x, AbsoluteCell(img, Interpolate(c.idle, rpm) - retard / 3.0, rpm));
    }
    for (int x = 0; x < 16; ++x) {
        const double rpm = AxisRpm(img, kRpmAxis2, x);
        const double deg = Interpolate(c.knock, rpm) + (blockIndex == 2 ? 1.5 : 0.0);
        img.Put(block + kKnockOffset + x, RoundEven(deg / 0.375));
    }
    for (int i = 0; i < 16; ++i) {
        const int v = RoundEven(kRecoveryShape[static_cast<std::size_t>(i)] / 255.0 * kRecoverySetting);
        img.Put(block + kRecoveryOffset + i, std::max(v, 4));
        img.Put(block + kLoadTableOffset + i, 16 + 14 * i);
    }
}

// Warm-up compensation: 128 = none; extra advance rising to maxDegrees at x = 14. The 15
// cells follow a leading byte, stored reversed.
void PutWarmup(ImageBuffer& img, int address, double maxDegrees) {
    img.Put(address, 0); // leading byte, not a cell
    for (int x = 0; x < 15; ++x) {
        const double deg = maxDegrees * x / 14.0;
        img.Put(address + (14 - x) + 1, 128 - RoundEven(deg / 0.375));
    }
}

// A SuperMAF car's load signal covers half the range: the main maps keep their even rows in
// the upper half and the full-load row below.
void CompressLoadRows(ImageBuffer& img, int map) {
    std::array<std::array<std::uint8_t, 16>, 16> rows{};
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            rows[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)] = img.At(map + x + 16 * y);
    for (int y = 0; y < 16; ++y) {
        const int from = y < 8 ? 2 * y : 15;
        for (int x = 0; x < 16; ++x)
            img.Overwrite(map + x + 16 * y, rows[static_cast<std::size_t>(from)][static_cast<std::size_t>(x)]);
    }
}

} // namespace

ImageBuffer BuildEZK(EzkMapSet set, bool superMaf) {
    // The code area is the same for all three map sets: one seed for the unit.
    ImageBuffer img(kImageSize, kSeed);
    const MapSetCurves& curves = CurvesOf(set);

    PutRpmAxis(img, kRpmAxis1, kAxis1Rpm);
    PutRpmAxis(img, kRpmAxis2, kAxis2Rpm);
    PutRpmAxis(img, kRpmAxis3, kAxis3Rpm);
    for (std::size_t i = 0; i < kCompensation.size(); ++i)
        img.Put(kRpmCompensation + static_cast<int>(i), kCompensation[i] & 0xFF);
    for (int block = 0; block < 3; ++block) PutMapSet(img, curves, block);
    PutWarmup(img, kWarmupCruise, 4.5);
    PutWarmup(img, kWarmupIdle, 3.0);
    PutWarmup(img, kWarmupWot, 1.5);
    for (int i = 0; i < 16; ++i) img.Put(kEntry33 + i, 8 + 15 * i);

    img.Put(kKnockStep, 8); // 3 degrees per knock
    img.Put(kThrottleOpenIdle, 8);
    img.Put(kThrottleOpenDecel, 8);
    img.Put(kLoadIncreaseRetard, 6);
    img.Put(kAdvanceRate, 2);
    img.Put(kWotIgnoredSwitch, 'n');
    for (const Patch& p : kDevicePatches) img.Put(p.address, p.value);

    if (superMaf)
        for (int block : kBlocks) CompressLoadRows(img, block + kCruiseOffset);

    img.PutText(kBuildText, "928 EZK base image, revision 8", kBuildTextSize, ' ');
    img.PutText(kMarker, "MRX-D", 5, 0xFF);
    img.Put(kRevisionAddress, kRevision);
    img.PutText(kBaseMapsName, curves.name, 5, 0xFF);
    img.Put(kSuperMafFlag, superMaf ? 1 : 0);
    return img;
}

} // namespace mkbase

} // namespace kv
