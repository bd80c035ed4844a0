// The LH 2.3 base images (kind 3, revision 8): "MRX_D" for a standard air-flow meter and
// "MRX_D-SUPERMAF", which is the same image after the SuperMAF conversion.
#include "eprom/mkbase/base_images.h"
#include "eprom/mkbase/engine_units.h"
#include "eprom/supermaf_tables.h"

#include <cmath>

namespace kv {

namespace mkbase {

namespace {

using units::RoundEven;

constexpr int kImageSize = 16384;
constexpr std::uint32_t kSeed = 0x4C483233u;

// Identification.
constexpr int kBuildText = 16128; // the first 64 bytes of the text area
constexpr int kBuildTextSize = 64;
constexpr int kRevisionAddress = 16367;
constexpr int kRevision = 8;
constexpr int kMarker = 16368; // "MRX-D"

// Axis block of the main maps (address entry 100): MAF steps at +2 .. +16, the last MAF point
// as a negated word at +17, the 16 rpm steps at +21 .. +36.
constexpr int kAxisBlock = 13019;
constexpr int kMafSteps = kAxisBlock + 2;
constexpr int kMafLastWord = kAxisBlock + 17;
constexpr int kRpmSteps = kAxisBlock + 21;

// Maps (address entries 101 .. 112).
constexpr int kMapBaseCat = 13568;      // map 1
constexpr int kMapBaseNonCat = 13824;   // map 2
constexpr int kMapAirFlow = 13056;      // map 3, 16 x 16 words
constexpr int kMapWotCat = 14200;       // map 4
constexpr int kMapWotNonCat = 14236;    // map 5
constexpr int kMapWarmupCat = 14112;    // map 6
constexpr int kMapWarmupNonCat = 14144; // map 7
constexpr int kMap8 = 14176;
constexpr int kMap9 = 14188;
constexpr int kMapAccelCat = 14662;    // map 10
constexpr int kMapAccelNonCat = 14680; // map 11
constexpr int kMapCranking = 14350;    // map 12

// Parameters (address entries 1 .. 28).
constexpr int kRevLimiter = 12364;        // 1: fuel cut-off code
constexpr int kRevRestore = 16373;        // 2: fuel restore code
constexpr int kInjectorSize = 12411;      // 3: 128 = 19 lb/hr
constexpr int kDecelCutoff = 12388;       // 4: bit 1 = cut off under deceleration
constexpr int kFlapOpen = 14733;          // 5: 254 - open code
constexpr int kFlapClose = 14731;         // 6: open code - close code - 1
constexpr int kCoPotCentre = 12357;       // 7
constexpr int kCoPotGain = 12356;         // 8
constexpr int kO2Mode = 16374;            // 9: bits 0..1 sensor mode, bit 2 CO pot
constexpr int kFlapLoadThreshold = 14737; // 10
constexpr int kCrankingWarm = 12350;      // 11: word, 2.666667 us ticks
constexpr int kCrankingWarm2 = 12352;     // 12: the same word
constexpr int kOpeningTime = 14644;       // 13: 9 words
constexpr int kEntry15 = 12806;
constexpr int kEntry16 = 12808;
constexpr int kHalfPulseRate = 12426;      // 17: 2:1 pulsing code
constexpr int kMafConstant = 12412;        // 18
constexpr int kIdleSpeedTable = 14848;     // 19: 32 bytes
constexpr int kAccelScaling = 12591;       // 20: 4 bytes, 16 = 100 %
constexpr int kAccelBase = 1613;           // 21: 64 - setting
constexpr int kAccelSustain = 12370;       // 22
constexpr int kAccelSustainScaled = 12371; // 23: sustain x 1.5
constexpr int kCrankScaled = 12560;        // 24: 8 bytes, scaled by the injector size
constexpr int kCrankFixed = 12552;         // 25: 8 bytes
constexpr int kEntry26 = 12330;
constexpr int kEntry27 = 12331;
constexpr int kO2Adaptation = 12429; // 28: bit 7 = adaptation enabled

// MAF-type constants next to parameter 18 (copied by the version upgrade).
constexpr int kMafCode1 = 12413;
constexpr int kMafCode2 = 12420;
constexpr int kMafCode3 = 12421;

// Fixed idle valve: code-switch bytes (disabled state) and the stored pulse width.
constexpr int kIsvSwitchA = 1108;
constexpr int kIsvSwitchB = 1109;
constexpr int kIsvSwitchC = 1111;
constexpr int kIsvSwitchD = 1112;
constexpr int kFixedIsvWord = 16361; // 0xFFFF = idle controller in charge

// The device values of the patch list (the device runs the image with these).
struct Patch {
    int address;
    int value;
};
constexpr Patch kDevicePatches[] = {{12462, 1}, {84, 176},  {11302, 176}, {9575, 0}, {9576, 0},
                                    {10065, 0}, {10066, 0}, {10104, 0},   {10105, 0}};

// Main map axes, map index 0 .. 15 (the rpm axis runs from high to low engine speed because
// its points are period codes; the MAF axis ascends).
const std::vector<double> kMainRpm = {6000, 5500, 5000, 4500, 4000, 3500, 3000, 2600,
                                      2200, 1900, 1600, 1300, 1100, 900,  750,  600};
const std::vector<int> kMafPoints = {20, 30, 40, 50, 60, 72, 84, 96, 110, 124, 140, 156, 174, 192, 212, 232};
const std::vector<double> kWotRpm = {6400, 6000, 5500, 5000, 4500, 4000, 3500, 3000, 2600,
                                     2200, 1900, 1600, 1300, 1100, 900,  750,  600};
const std::vector<double> kWarmupTemps = {110, 100, 90, 80, 70, 60, 50, 40, 30, 20, 10, 0, -10, -20, -30};
const std::vector<double> kAccelTemps = {90, 70, 50, 30, 10, -10, -20, -30};
const std::vector<double> kShortTemps = {80, 40, 20, 0, -20};

const std::vector<int> kOpeningTimeTable = {2589, 1704, 1284, 879, 538, 414, 354, 290, 242};
// "675 RPM (S4, GTS)" idle speed table.
const std::vector<int> kIdle675 = {27, 33,  37,  38,  25, 30,  32,  32,  34,  46, 50,  65,  40,  53,  58,  70,
                                   92, 155, 203, 253, 98, 165, 212, 253, 120, 80, 104, 230, 255, 255, 255, 255};

std::vector<int> RpmCodes(const std::vector<double>& rpms) {
    std::vector<int> codes;
    for (double r : rpms) codes.push_back(units::LhCodeNearest(r, units::LhRpmFromCode));
    return codes;
}

std::vector<int> CoolantPoints(const std::vector<double>& temps) {
    std::vector<int> raw;
    for (double t : temps) raw.push_back(units::RawForTemperature(units::LH23CoolantCurve(), t));
    return raw;
}

// A curve with its own step-coded axis: unused byte, point count, steps, cells.
void PutCurve(ImageBuffer& img, int address, const std::vector<int>& points, const std::vector<int>& cells) {
    const std::vector<int> steps = StepCodedAxis(points);
    if (steps.empty() || cells.size() != points.size()) {
        img.Fail("curve at " + std::to_string(address) + " has an uncodable axis");
        return;
    }
    const int n = static_cast<int>(points.size());
    img.Put(address, 0);
    img.Put(address + 1, n);
    img.PutBytes(address + 2, steps);
    img.PutBytes(address + 2 + n, cells);
}

// Enrichment byte for a fuelling fraction at 0.8 / 128 per count.
int EnrichmentCount(double fraction) { return RoundEven(fraction / (0.8 / 128.0)); }

void PutMainMaps(ImageBuffer& img) {
    // Axes.
    const std::vector<int> rpmSteps = StepCodedAxis(RpmCodes(kMainRpm));
    if (rpmSteps.size() != 16) img.Fail("main rpm axis cannot be step-coded");
    img.PutBytes(kRpmSteps, rpmSteps);
    for (int i = 0; i + 1 < 16; ++i)
        img.Put(kMafSteps + i, kMafPoints[static_cast<std::size_t>(i) + 1] - kMafPoints[static_cast<std::size_t>(i)]);
    img.PutWord(kMafLastWord, 65536 - kMafPoints.back());
    img.Put(kAxisBlock, 0);
    img.Put(kAxisBlock + 1, 16);
    img.Put(kAxisBlock + 19, 0);
    img.Put(kAxisBlock + 20, 16);

    // Base fuel maps: 128 = no correction; a few counts of shaping, a little richer at high
    // load and speed, the cat map a touch leaner.
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x) {
            const double load = y / 15.0;
            const double speed = (15 - x) / 15.0;
            const double shape = 6.0 * load * speed - 2.0 + 2.0 * std::sin(0.7 * x + 0.3 * y);
            img.Put(kMapBaseNonCat + x + 16 * y, 128 + RoundEven(shape));
            img.Put(kMapBaseCat + x + 16 * y, 128 + RoundEven(shape - 1.0));
        }
    }

    // Air-flow linearisation of the standard meter: the shape of the SuperMAF table, scaled
    // to the smaller meter; no word is 0 (a 0 at word 15 would mark a SuperMAF image).
    for (int i = 0; i < 256; ++i) {
        const int w = supermaf::kLH23AirFlowTable[static_cast<std::size_t>(i)] * 7 / 8 + 512;
        img.PutWord(kMapAirFlow + 2 * i, w);
    }
}

void PutEnrichmentMaps(ImageBuffer& img) {
    // WOT enrichment rises with engine speed: about 6 % at 600 rpm to 16 % at 6400 rpm.
    std::vector<int> wotCat;
    std::vector<int> wotNonCat;
    for (double rpm : kWotRpm) {
        const double f = 0.06 + 0.10 * (rpm - 600.0) / 5800.0;
        wotCat.push_back(EnrichmentCount(f * 0.9));
        wotNonCat.push_back(EnrichmentCount(f));
    }
    PutCurve(img, kMapWotCat, RpmCodes(kWotRpm), wotCat);
    PutCurve(img, kMapWotNonCat, RpmCodes(kWotRpm), wotNonCat);

    // Warm-up enrichment: none from 80 degC up, rising to about 88 % at -30 degC.
    std::vector<int> warmCat;
    std::vector<int> warmNonCat;
    for (double t : kWarmupTemps) {
        const double f = t >= 80 ? 0.0 : (80.0 - t) * 0.008;
        warmCat.push_back(EnrichmentCount(f * 0.95));
        warmNonCat.push_back(EnrichmentCount(f));
    }
    PutCurve(img, kMapWarmupCat, CoolantPoints(kWarmupTemps), warmCat);
    PutCurve(img, kMapWarmupNonCat, CoolantPoints(kWarmupTemps), warmNonCat);

    // Acceleration enrichment, larger on a cold engine.
    std::vector<int> accelCat;
    std::vector<int> accelNonCat;
    for (double t : kAccelTemps) {
        accelCat.push_back(RoundEven(36.0 + (90.0 - t) * 0.6));
        accelNonCat.push_back(RoundEven(40.0 + (90.0 - t) * 0.6));
    }
    PutCurve(img, kMapAccelCat, CoolantPoints(kAccelTemps), accelCat);
    PutCurve(img, kMapAccelNonCat, CoolantPoints(kAccelTemps), accelNonCat);

    // Cranking: 0 (the warm-engine pulse width of the parameters) from 60 degC up.
    std::vector<int> cranking;
    for (double t : kWarmupTemps) cranking.push_back(t >= 60 ? 0 : RoundEven((60.0 - t) * 0.6));
    PutCurve(img, kMapCranking, CoolantPoints(kWarmupTemps), cranking);

    // Maps 8 and 9: short coolant curves of the after-start phase.
    std::vector<int> shortCurve;
    for (double t : kShortTemps) shortCurve.push_back(RoundEven(20.0 + (80.0 - t) * 0.3));
    PutCurve(img, kMap8, CoolantPoints(kShortTemps), shortCurve);
    PutCurve(img, kMap9, CoolantPoints(kShortTemps), shortCurve);
}

void PutParameters(ImageBuffer& img) {
    using units::LhCodeNearest;
    using units::LhRpmCodeHigh;
    using units::LhRpmCodeLow;

    const int limiter = LhCodeNearest(6200, LhRpmCodeLow);
    const int restore = LhCodeNearest(6000, LhRpmCodeHigh);
    if (LhRpmCodeHigh(restore) >= LhRpmCodeLow(limiter)) img.Fail("fuel restore speed not below cut-off");
    img.Put(kRevLimiter, limiter);
    img.Put(kRevRestore, restore);
    // 2:1 pulsing is shown from the code below the stored one.
    img.Put(kHalfPulseRate, LhCodeNearest(4000, LhRpmCodeLow) + 1);
    const int flapOpen = LhCodeNearest(3500, LhRpmCodeLow);
    const int flapClose = LhCodeNearest(5500, LhRpmCodeLow);
    img.Put(kFlapOpen, 254 - flapOpen);
    img.Put(kFlapClose, flapOpen - flapClose - 1);
    img.Put(kFlapLoadThreshold, 100);

    img.Put(kInjectorSize, 128);
    img.Put(kDecelCutoff, 0x02);
    img.Put(kCoPotCentre, 128);
    img.Put(kCoPotGain, 64);
    img.Put(kO2Mode, 0x00); // obey the coding plug, CO pot off in non-cat mode
    img.Put(kO2Adaptation, 0x80);
    img.PutWord(kCrankingWarm, 1575); // 4.2 ms
    img.PutWord(kCrankingWarm2, 1575);
    for (std::size_t k = 0; k < kOpeningTimeTable.size(); ++k)
        img.PutWord(kOpeningTime + 2 * static_cast<int>(k), kOpeningTimeTable[k]);
    img.PutWord(kEntry15, 100);
    img.PutWord(kEntry16, 100);
    img.Put(kEntry26, 12);
    img.Put(kEntry27, 24);
    img.PutBytes(kIdleSpeedTable, kIdle675);
    img.PutBytes(kAccelScaling, {16, 16, 12, 8});
    img.Put(kAccelBase, 64);
    img.Put(kAccelSustain, 20);
    img.Put(kAccelSustainScaled, 30);
    img.PutBytes(kCrankScaled, {143, 215, 255, 255, 255, 255, 255, 255});
    img.PutBytes(kCrankFixed, {191, 210, 230, 255, 255, 255, 255, 255});

    // Standard air-flow meter constants.
    img.Put(kMafConstant, 2);
    img.Put(kMafCode1, 9);
    img.Put(kMafCode2, 12);
    img.Put(kMafCode3, 160);

    // Fixed idle valve disabled, no stored pulse width.
    img.Put(kIsvSwitchA, 229);
    img.Put(kIsvSwitchB, 53);
    img.Put(kIsvSwitchC, 229);
    img.Put(kIsvSwitchD, 52);
    img.PutBytes(kFixedIsvWord, {0xFF, 0xFF});

    for (const Patch& p : kDevicePatches) img.Put(p.address, p.value);
}

// What the SuperMAF conversion writes: air-flow table, the last MAF point and steps, the
// constant of parameter 18 and three code bytes.
void ConvertToSuperMaf(ImageBuffer& img) {
    for (std::size_t i = 0; i < supermaf::kLH23AirFlowTable.size(); ++i)
        img.OverwriteWord(kMapAirFlow + 2 * static_cast<int>(i), supermaf::kLH23AirFlowTable[i]);
    img.OverwriteWord(kMafLastWord, supermaf::kLH23LastAxisWord);
    for (std::size_t i = 0; i < supermaf::kLH23AxisSteps.size(); ++i)
        img.Overwrite(kMafSteps + static_cast<int>(i), supermaf::kLH23AxisSteps[i]);
    img.Overwrite(kMafConstant, supermaf::kLH23Entry18Value);
    for (const auto& b : supermaf::kLH23CodeBytes) img.Overwrite(b.address, b.value);
}

} // namespace

ImageBuffer BuildLH23(bool superMaf) {
    ImageBuffer img(kImageSize, kSeed);
    PutMainMaps(img);
    PutEnrichmentMaps(img);
    PutParameters(img);
    img.PutText(kBuildText, "928 LH 2.3 base image, revision 8", kBuildTextSize, ' ');
    img.Put(kRevisionAddress, kRevision);
    img.PutText(kMarker, "MRX-D", 5, 0xFF);
    if (superMaf) ConvertToSuperMaf(img);
    return img;
}

} // namespace mkbase

} // namespace kv
