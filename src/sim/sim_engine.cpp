#include "sim/sim_engine.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {
constexpr double kPi = 3.14159265358979323846;

double Lerp(double a, double b, double f) { return a + (b - a) * std::clamp(f, 0.0, 1.0); }

// Uniform 0..1 from the engine's own generator (portable: no library distribution).
double Uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0); }
} // namespace

void SimEngine::AdvanceTo(std::int64_t nowMs, bool ignitionOn) {
    if (!started_) {
        started_ = true;
        timeMs_ = nowMs;
        wasOn_ = ignitionOn;
        Tick(ignitionOn);
        return;
    }
    if (nowMs <= timeMs_) return;
    // A long jump (a fake clock moved by hours): jump to the last ten minutes; the coolant
    // settles in closed form meanwhile.
    const std::int64_t span = nowMs - timeMs_;
    constexpr std::int64_t kMaxStepped = 10 * 60 * 1000;
    if (span > kMaxStepped) {
        const double skipped = static_cast<double>(span - kMaxStepped) / 1000.0;
        const double target = ignitionOn ? 88.0 : 20.0;
        const double tau = ignitionOn ? 240.0 : 1800.0;
        state_.coolantC = target + (state_.coolantC - target) * std::exp(-skipped / tau);
        if (ignitionOn && wasOn_) runSeconds_ += skipped;
        timeMs_ = nowMs - kMaxStepped;
    }
    while (timeMs_ + kTickMs <= nowMs) {
        timeMs_ += kTickMs;
        Tick(ignitionOn);
    }
}

void SimEngine::Tick(bool ignitionOn) {
    const double dt = static_cast<double>(kTickMs) / 1000.0;
    const bool starting = ignitionOn && !wasOn_;
    if (starting) runSeconds_ = 0.0;
    wasOn_ = ignitionOn;

    // Coolant: warms towards 88 C while running, cools towards 20 C while standing.
    const double target = ignitionOn ? 88.0 : 20.0;
    const double tau = ignitionOn ? 240.0 : 1800.0;
    state_.coolantC += (target - state_.coolantC) * (1.0 - std::exp(-dt / tau));

    if (!ignitionOn) {
        state_.running = false;
        state_.rpm = 0.0;
        state_.load = 0.0;
        state_.throttle = SimThrottle::Idle;
        state_.fuelCut = false;
        state_.batteryV = 12.4;
        state_.advanceDeg = 0.0;
        state_.retard.fill(0);
        state_.runSeconds = 0.0;
        state_.lap = 0;
        state_.mixtureRpm = state_.mixtureLoad = state_.mixtureNoise = 0.0;
        return;
    }
    runSeconds_ += dt;
    state_.running = true;
    state_.batteryV = 14.1;
    state_.runSeconds = runSeconds_;
    state_.lap = static_cast<int>(std::floor(runSeconds_ / kCycleSeconds));
    Drive(std::fmod(runSeconds_, kCycleSeconds));
    if (starting || state_.mixtureRpm <= 0.0) {
        state_.mixtureRpm = state_.rpm;
        state_.mixtureLoad = state_.load;
    } else {
        const double f = 1.0 - std::exp(-dt / kMixtureLagSeconds);
        state_.mixtureRpm += (state_.rpm - state_.mixtureRpm) * f;
        state_.mixtureLoad += (state_.load - state_.mixtureLoad) * f;
    }
    // The mixture error wanders with a time constant of 0.3 s.
    constexpr double kNoiseTau = 0.3, kNoiseStep = 0.00132;
    state_.mixtureNoise = state_.mixtureNoise * std::exp(-dt / kNoiseTau) + kNoiseStep * (Uniform(mixtureRng_) - 0.5);

    // Knock: likely at high load and speed, more so while the engine is hot. Each knock counts
    // once and retards the knocking cylinder by 4 counts (1.5 degrees), up to 40 counts.
    const double knockRate = (state_.load > 0.8 && state_.rpm > 3500.0) ? (state_.coolantC > 70.0 ? 4.0 : 2.0) : 0.0;
    if (knockRate > 0.0 && Uniform(rng_) < knockRate * dt) {
        state_.knockCounter = static_cast<std::uint8_t>(state_.knockCounter + 1);
        const auto cyl = static_cast<std::size_t>(rng_() % 8);
        state_.retard[cyl] = static_cast<std::uint8_t>(std::min(40, state_.retard[cyl] + 4));
        retardDecayTicks_ = 0;
    } else if (++retardDecayTicks_ >= 20) { // 200 ms without a knock: win back one count
        retardDecayTicks_ = 0;
        for (auto& r : state_.retard)
            if (r > 0) --r;
    }
    double meanRetard = 0.0;
    for (auto r : state_.retard) meanRetard += r * 0.375;
    meanRetard /= 8.0;
    state_.advanceDeg -= meanRetard;
}

// The driving cycle: idle 0-12 s, pull away 12-15 s, cruise 15-33 s, full throttle 33-41 s
// (held 3 s, then up to 6000 rpm), overrun 41-45 s back to idle. The cruise is driven as a tuner
// drives it on the road or on a dyno: five holds of 3.6 s at round speed and load figures, each
// reached in half a second from the one before and held there (the dyno's brake holds the
// speed). The first lap holds town speeds around 2000 rpm; the later laps work through a list of
// figures across the map, speed by speed, and hold full throttle at a list of speeds before
// they pull.
namespace {
struct Hold {
    double rpm, load;
};
constexpr int kHoldsPerLap = 5;
constexpr double kHoldSeconds = 3.6;
constexpr double kMoveSeconds = 0.5;
constexpr Hold kTownHolds[kHoldsPerLap] = {
    {2200.0, 0.34}, {1900.0, 0.29}, {2600.0, 0.38}, {1900.0, 0.24}, {2200.0, 0.44}};
constexpr double kHoldRpms[] = {1100.0, 1300.0, 1600.0, 1900.0, 2200.0, 2600.0, 3000.0, 3550.0, 4000.0, 4400.0, 5000.0};
constexpr double kHoldLoads[] = {0.16, 0.20, 0.24, 0.29, 0.34, 0.38, 0.44, 0.50, 0.56, 0.62, 0.70, 0.77};
constexpr int kListedHolds = static_cast<int>(std::size(kHoldRpms) * std::size(kHoldLoads));
// Full throttle: the speed is held for a while at a round figure (as a dyno's brake holds it),
// then the engine pulls to 6000 rpm.
constexpr double kPullFromRpm[] = {3000.0, 2200.0, 2600.0, 3550.0, 2200.0, 3000.0};
constexpr double kFullThrottleHoldSeconds = 3.0;

// Hold k (0..4) of a lap; after the town lap the list goes up the loads at one speed and down
// them at the next.
Hold HoldOf(int lap, int k) {
    if (lap == 0) return kTownHolds[k];
    const int n = ((lap - 1) * kHoldsPerLap + k) % kListedHolds;
    const int perRpm = static_cast<int>(std::size(kHoldLoads));
    const int rpmIndex = n / perRpm;
    int loadIndex = n % perRpm;
    if (rpmIndex % 2 == 1) loadIndex = perRpm - 1 - loadIndex;
    return {kHoldRpms[static_cast<std::size_t>(rpmIndex)], kHoldLoads[static_cast<std::size_t>(loadIndex)]};
}

double SmoothStep(double f) {
    const double x = std::clamp(f, 0.0, 1.0);
    return x * x * (3.0 - 2.0 * x);
}
} // namespace

void SimEngine::Drive(double t) {
    const int lap = state_.lap;
    state_.phaseSeconds = t;
    state_.fuelCut = false;
    const double warmIdle = state_.coolantC < 60.0 ? 150.0 * (60.0 - state_.coolantC) / 40.0 : 0.0;
    if (t < 12.0) {
        state_.throttle = SimThrottle::Idle;
        state_.rpm = 800.0 + warmIdle + 15.0 * std::sin(2.0 * kPi * t / 1.7);
        state_.load = 0.12;
        state_.advanceDeg = 10.0;
    } else if (t < 15.0) {
        const double f = (t - 12.0) / 3.0;
        const Hold first = HoldOf(lap, 0);
        state_.throttle = SimThrottle::Cruise;
        state_.rpm = Lerp(800.0, first.rpm, f);
        state_.load = Lerp(0.12, first.load, f);
        state_.advanceDeg = Lerp(10.0, 30.0, f);
    } else if (t < 33.0) {
        const double c = t - 15.0;
        const int k = std::min(kHoldsPerLap - 1, static_cast<int>(c / kHoldSeconds));
        const double in = c - k * kHoldSeconds;
        const Hold to = HoldOf(lap, k);
        const Hold from = k == 0 ? to : HoldOf(lap, k - 1);
        const double f = SmoothStep(in / kMoveSeconds);
        state_.throttle = SimThrottle::Cruise;
        state_.rpm = Lerp(from.rpm, to.rpm, f);
        state_.load = Lerp(from.load, to.load, f);
        state_.advanceDeg = 32.0 - 10.0 * state_.load;
    } else if (t < 41.0) {
        const double w = t - 33.0;
        state_.throttle = SimThrottle::Wot;
        const double from = kPullFromRpm[static_cast<std::size_t>(lap) % std::size(kPullFromRpm)];
        const double hold = lap == 0 ? 0.0 : kFullThrottleHoldSeconds; // the town lap pulls at once
        state_.rpm = Lerp(from, 6000.0, (w - hold) / (8.0 - hold));
        state_.load = 0.93;
        state_.advanceDeg = 26.0;
    } else {
        const double f = (t - 41.0) / 4.0;
        state_.throttle = SimThrottle::Idle;
        state_.rpm = Lerp(6000.0, 800.0, f);
        state_.load = 0.05;
        state_.fuelCut = state_.rpm > 1200.0;
        state_.advanceDeg = 15.0;
    }
    state_.airC = 25.0 + 10.0 * state_.load;
}

} // namespace kv
