// The LH 2.2 base images (4096 bytes, revision 1): "MRX_LH22_USA" (kind 6, the '85 - '86
// 32-valve USA car) and "MRX_LH22_EURO" (kind 7, the S2 16-valve Euro car).
#include "eprom/mkbase/base_images.h"
#include "eprom/mkbase/engine_units.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace mkbase {

namespace {

using units::RoundEven;

constexpr int kImageSize = 4096;

// Identification: region marker "M" + "U" or "E", then the revision byte.
constexpr int kRegionMarker = 4057;
constexpr int kRevisionAddress = 4059;
constexpr int kRevision = 1;

// Maps.
constexpr int kMapBaseFuel = 768;  // map 28: 16 x 16 cells of 10 bits, low bytes here
constexpr int kUpperBits = 2304;   // upper 2 bits of map 28, four cells per byte
constexpr int kMapWarmup = 2050;   // map 30: 17 cells over a fixed coolant axis
constexpr int kMapWot = 2086;      // map 29: 17 cells over a fixed rpm axis
constexpr int kMapAccel = 2103;    // map 31: 9 cells over a fixed coolant axis
constexpr int kMapCranking = 2135; // map 32: 17 cells over a fixed coolant axis
constexpr int kMafSteps = 2838;    // entry 131: 15 steps down from the first MAF point
constexpr int kRpmSteps = 2853;    // entry 130: 15 steps up from the first rpm point

// Parameters (entries 42 .. 54).
constexpr int kRevLimiter = 3253;    // 42: rpm = 60 / (b x 114.4409 us)
constexpr int kMafHigh = 2976;       // 43: first MAF point = -(high, low) as a 16-bit word
constexpr int kMafLow = 2972;        // 44
constexpr int kRpmAnchor = 3028;     // 45: first rpm point = 256 - byte
constexpr int kInjectorSize = 3232;  // 46: 128 = 24 lb/hr
constexpr int kCrankingHigh = 1213;  // 47
constexpr int kCrankingLow = 1211;   // 48
constexpr int kCrankingLow2 = 1221;  // 49
constexpr int kOpeningHigh = 1579;   // 50
constexpr int kOpeningLow = 1577;    // 51
constexpr int kO2Loop = 108;         // 52: 246, 116 = closed loop; 4, 125 = open loop
constexpr int kHalfPulseRate = 3150; // 53: 0xA7 = 2:1 pulsing, 0x97 = off
constexpr int kInjectorTable = 2117; // 54: 9 bytes scaled by the injector size

const std::vector<double> kRpm = {6000, 5500, 5000, 4500, 4000, 3500, 3000, 2600,
                                  2200, 1900, 1600, 1300, 1100, 900,  750,  600};
const std::vector<int> kMafPoints = {240, 224, 208, 192, 176, 160, 144, 128, 112, 100, 88, 76, 64, 54, 46, 40};

struct Patch {
    int address;
    int value;
};
// Standard air-flow meter values of the bytes that the SuperMAF conversion rewrites.
constexpr Patch kStandardMafBytes[] = {{2917, 240}, {2943, 80},  {2986, 80},  {3167, 3},   {2112, 250}, {2113, 254},
                                       {2114, 255}, {2115, 255}, {2240, 160}, {2241, 140}, {2434, 246}, {2435, 246},
                                       {2436, 246}, {2437, 246}, {2438, 245}, {2439, 238}, {2440, 236}, {2441, 226},
                                       {2448, 240}, {2449, 240}, {2450, 240}, {2451, 240}, {2452, 240}, {2453, 232},
                                       {2454, 224}, {2455, 216}, {2456, 208}, {2457, 200}};

double CoolantAt(int raw) { return units::Interpolate(units::LH22CoolantCurve(), raw / 256.0 * 5.0); }

// Stores a 10-bit cell of map 28: low byte at the cell, upper bits in the bit table.
void PutBaseFuelCell(ImageBuffer& img, int x, int y, int value) {
    const int c = kMapBaseFuel + x + 16 * y;
    img.Put(c, value & 0xFF);
    const int byteAddress = kUpperBits + (c - kMapBaseFuel) / 4;
    const int shift = 6 - 2 * ((c - kMapBaseFuel) % 4); // bits 7..6 for the first cell
    img.Overwrite(byteAddress, (img.At(byteAddress) & ~(3 << shift) & 0xFF) | (((value >> 8) & 3) << shift));
}

void PutMaps(ImageBuffer& img, Region region) {
    // Axes of the base fuel map.
    std::vector<int> rpmPoints;
    for (double r : kRpm) rpmPoints.push_back(units::LhByteMidNearest(r));
    img.Put(kRpmAnchor, 256 - rpmPoints[0]);
    for (int i = 0; i < 15; ++i) {
        const int step = rpmPoints[static_cast<std::size_t>(i) + 1] - rpmPoints[static_cast<std::size_t>(i)];
        if (step < 0) img.Fail("LH 2.2 rpm axis not ascending");
        img.Put(kRpmSteps + i, step);
    }
    const int first = kMafPoints[0];
    img.Put(kMafHigh, ((65536 - first) >> 8) & 0xFF);
    img.Put(kMafLow, (65536 - first) & 0xFF);
    for (int i = 0; i < 15; ++i)
        img.Put(kMafSteps + i, kMafPoints[static_cast<std::size_t>(i)] - kMafPoints[static_cast<std::size_t>(i) + 1]);

    // Base fuel map: 512 = no correction.
    for (int i = 0; i < 64; ++i) img.Put(kUpperBits + i, 0);
    const double regionTrim = region == Region::Euro ? 2.0 : 0.0;
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const double shape = 10.0 * (y / 15.0) * ((15 - x) / 15.0) - 4.0 + 3.0 * std::sin(0.6 * x + 0.4 * y);
            PutBaseFuelCell(img, x, y, 512 + RoundEven(shape + regionTrim));
        }

    // Fixed axes: WOT over rpm byte 16 x (x = 16: 255), warm-up and cranking over coolant
    // reading 16 x, acceleration over coolant reading 32 x (x = 8: 255).
    for (int x = 0; x < 17; ++x) {
        const int raw = std::min(16 * x, 255);
        const double rpm = units::LhRpmFromByteMid(raw);
        const double wot = 0.06 + 0.10 * std::clamp((rpm - 600.0) / 5800.0, 0.0, 1.0);
        img.Put(kMapWot + x, RoundEven(wot / (0.9 / 128.0)));
        const double t = CoolantAt(raw);
        const double warm = t >= 80 ? 0.0 : (80.0 - t) * 0.008;
        img.Put(kMapWarmup + x, RoundEven(warm / (0.9 / 128.0)));
        img.Put(kMapCranking + x, t >= 60 ? 0 : RoundEven(60.0 - t));
    }
    for (int x = 0; x < 9; ++x) {
        const double t = CoolantAt(x < 8 ? 32 * x : 255);
        img.Put(kMapAccel + x, RoundEven(std::max(0.0, 40.0 + (90.0 - t) * 0.6)));
    }
}

void PutParameters(ImageBuffer& img, Region region) {
    const double cutOff = region == Region::USA ? 6200 : 6000;
    img.Put(kRevLimiter, RoundEven(60.0 / (cutOff * 0.0001144409)));
    img.Put(kInjectorSize, 128);
    // Cranking 4.2 ms in 3.5765 us ticks.
    const int cranking = RoundEven(4.2 * 1000.0 / 3.5765);
    img.Put(kCrankingHigh, cranking >> 8);
    img.Put(kCrankingLow, cranking & 0xFF);
    img.Put(kCrankingLow2, cranking & 0xFF);
    // Injector opening time 0.55 ms: ((word / 256) + 130) / 559200 s.
    const int opening = RoundEven(1270 * 35.8);
    img.Put(kOpeningHigh, opening >> 8);
    img.Put(kOpeningLow, opening & 0xFF);
    if (region == Region::USA)
        img.PutBytes(kO2Loop, {246, 116});
    else
        img.PutBytes(kO2Loop, {4, 125});
    img.Put(kHalfPulseRate, region == Region::USA ? 0xA7 : 0x97);
    img.PutBytes(kInjectorTable, {7, 7, 7, 9, 12, 14, 26, 26, 26});
    for (const Patch& p : kStandardMafBytes) img.Put(p.address, p.value);
}

} // namespace

ImageBuffer BuildLH22(Region region) {
    ImageBuffer img(kImageSize, region == Region::USA ? 0x4C483255u : 0x4C483245u);
    PutMaps(img, region);
    PutParameters(img, region);
    img.PutText(kRegionMarker, region == Region::USA ? "MU" : "ME", 2, 0xFF);
    img.Put(kRevisionAddress, kRevision);
    return img;
}

} // namespace mkbase

} // namespace kv
