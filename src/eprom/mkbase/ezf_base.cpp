// The EZF base images (2048 bytes, kind 8, revision 1): "EZF_USA" and "EZF_EURO".
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

constexpr int kImageSize = 2048;

// Identification: region marker "M", then the revision byte.
constexpr int kRegionMarker = 1790;
constexpr int kRevisionAddress = 1791;
constexpr int kRevision = 1;

// Maps.
constexpr int kMapCruise = 768;      // map 33: 16 x 16 over rpm and load
constexpr int kMapIdle = 1728;       // map 34
constexpr int kMapWot = 1744;        // map 35
constexpr int kMapAirCruise = 1682;  // map 36: 5 cells
constexpr int kMapAirWot = 1677;     // map 37
constexpr int kMapWarmIdle = 1662;   // map 38
constexpr int kMapWarmCruise = 1667; // map 39
constexpr int kMapWarmWot = 1657;    // map 40

// Axes: point i = (256 - b[0]) + ... + (256 - b[i]).
constexpr int kLoadAxis = 1618;                                 // entry 145
constexpr int kRpmAxis = 1634;                                  // entry 144
constexpr std::array<int, 2> kAirAxes = {1712, 1707};           // entries 146, 147
constexpr std::array<int, 3> kCoolantAxes = {1692, 1697, 1687}; // entries 148, 149, 150

// Parameters (entries 55 .. 61).
constexpr int kVacuumCalibration = 2040; // 55: signed offset of the vacuum reading
constexpr int kVacuumCalA = 2041;        // 56
constexpr int kVacuumCalB = 2044;        // 57
constexpr int kHighLoadThreshold1 = 110; // 58
constexpr int kHighLoadThreshold2 = 554; // 59
constexpr int kAdvChangeInterval = 559;  // 60: sparks
constexpr int kAdvChangeStep = 576;      // 61: 1.8 degrees per count

const std::vector<double> kRpm = {6000, 5000, 4000, 3500, 3000, 2500, 2200, 2000,
                                  1800, 1600, 1400, 1200, 1000, 850,  700,  600};
const std::vector<double> kVacuum = {20, 18, 16, 14, 12, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0};
const std::vector<double> kTemps = {80, 60, 40, 20, 0};

const Curve kLowLoad{{600, 1000, 2000, 3000, 6000}, {16, 24, 34, 38, 38}};
const Curve kHighLoad{{600, 1000, 2000, 3000, 4000, 6000}, {10, 12, 20, 25, 27, 29}};
const Curve kIdle{{600, 1000, 2000, 6000}, {10, 12, 16, 20}};

// Writes a summed axis whose points are `points` (ascending, increments 0..256).
void PutSummedAxis(ImageBuffer& img, int address, const std::vector<int>& points) {
    int previous = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const int step = points[i] - previous;
        if (step < 0 || step > 256) img.Fail("axis at " + std::to_string(address) + " cannot be coded");
        img.Put(address + static_cast<int>(i), 256 - step);
        previous = points[i];
    }
}

int AxisPoint(const ImageBuffer& img, int address, int i) {
    int sum = 0;
    for (int k = 0; k <= i; ++k) sum += 256 - img.At(address + k);
    return sum;
}

double ColumnRpm(const ImageBuffer& img, int x) {
    const int period = AxisPoint(img, kRpmAxis, x);
    return period == 0 ? 0.0 : 60.0 / (period / 4.0 * 100.0 * 0.0000025);
}

int Cell(double degrees) { return units::EzfByteForAdvance(std::clamp(degrees, 10.0, 38.0)); }

} // namespace

ImageBuffer BuildEZF(Region region) {
    ImageBuffer img(kImageSize, region == Region::USA ? 0x455A4655u : 0x455A4645u);
    const double trim = region == Region::USA ? -1.0 : 0.0;

    std::vector<int> rpmPoints;
    for (double r : kRpm) rpmPoints.push_back(units::EzfPeriodForRpm(r));
    PutSummedAxis(img, kRpmAxis, rpmPoints);
    std::vector<int> loadPoints;
    for (double v : kVacuum) loadPoints.push_back(units::EzfLoadPointForVacuum(v));
    PutSummedAxis(img, kLoadAxis, loadPoints);
    std::vector<int> airPoints;
    std::vector<int> coolantPoints;
    for (double t : kTemps) {
        airPoints.push_back(units::RawForTemperature(units::EZFAirTempCurve(), t));
        coolantPoints.push_back(units::RawForTemperature(units::EZFCoolantCurve(), t));
    }
    for (int a : kAirAxes) PutSummedAxis(img, a, airPoints);
    for (int a : kCoolantAxes) PutSummedAxis(img, a, coolantPoints);

    for (int x = 0; x < 16; ++x) {
        const double rpm = ColumnRpm(img, x);
        const double low = Interpolate(kLowLoad, rpm) + trim;
        const double high = Interpolate(kHighLoad, rpm) + trim;
        for (int y = 0; y < 16; ++y) img.Put(kMapCruise + x + 16 * y, Cell(low + (high - low) * y / 15.0));
        img.Put(kMapIdle + x, Cell(Interpolate(kIdle, rpm) + trim));
        img.Put(kMapWot + x, Cell(high));
    }
    // Retard for hot intake air (index 0 = 80 degC), 0.45 degrees per count.
    img.PutBytes(kMapAirCruise, {8, 6, 3, 0, 0});
    img.PutBytes(kMapAirWot, {10, 7, 4, 1, 0});
    // Warm-up advance as negative bytes: -1 (255) warm, down to -10 (246) at 0 degC.
    img.PutBytes(kMapWarmIdle, {255, 254, 252, 249, 246});
    img.PutBytes(kMapWarmCruise, {255, 255, 253, 250, 247});
    img.PutBytes(kMapWarmWot, {255, 255, 255, 254, 252});

    img.Put(kVacuumCalibration, 0);
    img.Put(kVacuumCalA, 0xE6);
    img.Put(kVacuumCalB, 0xFF);
    // High-load threshold 5 inHg: the byte v with vacuum((256 - v) x 256) = 5.
    const int threshold = 256 - units::EzfLoadPointForVacuum(5.0);
    img.Put(kHighLoadThreshold1, threshold);
    img.Put(kHighLoadThreshold2, threshold);
    img.Put(kAdvChangeInterval, 4);
    img.Put(kAdvChangeStep, 1);

    img.PutText(kRegionMarker, "M", 1, 0xFF);
    img.Put(kRevisionAddress, kRevision);
    return img;
}

} // namespace mkbase

} // namespace kv
