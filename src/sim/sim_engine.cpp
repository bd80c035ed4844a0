#include "sim/sim_engine.h"

#include <algorithm>
#include <cmath>

namespace kv {

namespace {
constexpr double kPi = 3.14159265358979323846;

double Lerp(double a, double b, double f) { return a + (b - a) * std::clamp(f, 0.0, 1.0); }

// Uniform 0..1 from the engine's own generator (portable: no library distribution).
double Uniform(std::mt19937_64& rng) { return static_cast<double>(rng() >> 11) * (1.0 / 9007199254740992.0); }

// Moves `value` towards `aim` with time constant `tau` over dt seconds.
double Follow(double value, double aim, double tau, double dt) {
    return value + (aim - value) * (1.0 - std::exp(-dt / tau));
}

// A wander about 0 with time constant tau whose spread (standard deviation) is about `spread`.
double Wander(double value, double spread, double tau, double dt, double uniform) {
    const double step = spread * std::sqrt(24.0 * dt / tau);
    return value * std::exp(-dt / tau) + step * (uniform - 0.5);
}
} // namespace

Parsed<SimDrive> ParseSimDrive(const std::string& text) {
    if (text == "road") return SimDrive::Road;
    if (text == "dyno") return SimDrive::Dyno;
    return ParseError{"Bad drive \"" + text + "\": use road or dyno"};
}

Parsed<std::uint64_t> ParseSimDriveSeed(const std::string& text) {
    std::uint64_t v = 0;
    const bool digits = !text.empty() && text.size() <= 10 &&
                        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) v = std::stoull(text);
    if (!digits || v > 4294967295ULL)
        return ParseError{"Bad drive seed \"" + text + "\": use a whole number from 0 to 4294967295"};
    return v;
}

SimEngine::SimEngine(SimDrive drive, std::uint64_t seed) : drive_(drive), seed_(seed), roadRng_(seed * 7919 + 928) {}

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
        state_.mixtureFuelCut = false;
        burnt_.clear();
        road_ = RoadDriver{};
        return;
    }
    runSeconds_ += dt;
    state_.running = true;
    state_.batteryV = 14.1;
    state_.runSeconds = runSeconds_;
    if (drive_ == SimDrive::Dyno) {
        state_.lap = static_cast<int>(std::floor(runSeconds_ / kCycleSeconds));
        Drive(std::fmod(runSeconds_, kCycleSeconds));
    } else {
        if (starting) road_ = RoadDriver{};
        DriveRoad(dt);
    }
    // The gas at the sensor was burnt the transport delay ago; the sensor follows it with its lag.
    if (starting) burnt_.clear();
    burnt_.push_back({state_.rpm, state_.load, state_.fuelCut ? 1.0 : 0.0});
    const auto delayTicks = static_cast<std::size_t>(std::lround(kTransportDelaySeconds / dt));
    while (burnt_.size() > delayTicks + 1) burnt_.pop_front();
    const std::array<double, 3>& then = burnt_.front();
    if (starting || state_.mixtureRpm <= 0.0) {
        state_.mixtureRpm = then[0];
        state_.mixtureLoad = then[1];
    } else {
        state_.mixtureRpm = Follow(state_.mixtureRpm, then[0], kSensorLagSeconds, dt);
        state_.mixtureLoad = Follow(state_.mixtureLoad, then[1], kSensorLagSeconds, dt);
    }
    state_.mixtureFuelCut = then[2] > 0.5;
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
// them at the next, from its hold `first` on.
Hold HoldOf(int lap, int k, int first) {
    if (lap == 0) return kTownHolds[k];
    const int n = ((lap - 1) * kHoldsPerLap + k + first) % kListedHolds;
    const int perRpm = static_cast<int>(std::size(kHoldLoads));
    const int rpmIndex = n / perRpm;
    int loadIndex = n % perRpm;
    if (rpmIndex % 2 == 1) loadIndex = perRpm - 1 - loadIndex;
    return {kHoldRpms[static_cast<std::size_t>(rpmIndex)], kHoldLoads[static_cast<std::size_t>(loadIndex)]};
}

// Where a seed's laps begin in the list: seed 1 at its first hold, each further seed 35 holds
// (seven laps) on; 35 and the list's length have no common factor, so the seeds of one round of
// the list all begin elsewhere.
int FirstListedHold(std::uint64_t seed) {
    constexpr auto kListed = static_cast<std::uint64_t>(kListedHolds);
    return static_cast<int>((seed % kListed + kListed - 1) % kListed * 35 % kListed);
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
        const Hold first = HoldOf(lap, 0, FirstListedHold(seed_));
        state_.throttle = SimThrottle::Cruise;
        state_.rpm = Lerp(800.0, first.rpm, f);
        state_.load = Lerp(0.12, first.load, f);
        state_.advanceDeg = Lerp(10.0, 30.0, f);
    } else if (t < 33.0) {
        const double c = t - 15.0;
        const int k = std::min(kHoldsPerLap - 1, static_cast<int>(c / kHoldSeconds));
        const double in = c - k * kHoldSeconds;
        const Hold to = HoldOf(lap, k, FirstListedHold(seed_));
        const Hold from = k == 0 ? to : HoldOf(lap, k - 1, FirstListedHold(seed_));
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

double SimEngine::RoadUniform(double from, double to) { return from + (to - from) * Uniform(roadRng_); }

// The road driver picks the next leg from the one just driven.
void SimEngine::NextRoadLeg() {
    RoadDriver& d = road_;
    const double u = Uniform(roadRng_);
    Leg next = Leg::Idle;
    switch (d.leg) {
    case Leg::Pull: next = Leg::Overrun; break;
    case Leg::Overrun: next = u < 0.4 ? Leg::Idle : u < 0.7 ? Leg::Town : Leg::Cruise; break;
    case Leg::Idle: next = u < 0.6 ? Leg::Town : Leg::Cruise; break;
    case Leg::Town: next = u < 0.35 ? Leg::Cruise : u < 0.65 ? Leg::Pull : u < 0.8 ? Leg::Motorway : Leg::Idle; break;
    case Leg::Cruise:
        next = u < 0.35 ? Leg::Pull : u < 0.6 ? Leg::Town : u < 0.85 ? Leg::Motorway : Leg::Overrun;
        break;
    case Leg::Motorway: next = u < 0.4 ? Leg::Pull : u < 0.8 ? Leg::Cruise : Leg::Overrun; break;
    }
    d.leg = next;
    d.stepLeft = 0.0;
    d.townStep = 0;
    switch (next) {
    case Leg::Idle: d.left = RoadUniform(8.0, 20.0); break;
    case Leg::Town: d.left = RoadUniform(25.0, 50.0); break;
    case Leg::Cruise: d.left = RoadUniform(20.0, 45.0); break;
    case Leg::Motorway: d.left = RoadUniform(30.0, 60.0); break;
    case Leg::Pull: {
        // Kick down into a gear that pulls from low or middle speed up the rev range.
        d.rpmAim = std::max(state_.rpm, RoadUniform(1800.0, 3200.0));
        d.pullTo = RoadUniform(5200.0, 6000.0);
        d.pullRate = (d.pullTo - d.rpmAim) / RoadUniform(4.0, 8.0);
        d.left = 10.0;
        break;
    }
    case Leg::Overrun: d.left = 8.0; break;
    }
}

void SimEngine::DriveRoad(double dt) {
    RoadDriver& d = road_;
    if (state_.runSeconds <= dt) {
        // A start: warm-up idle first.
        d = RoadDriver{};
        d.leg = Leg::Idle;
        d.left = RoadUniform(20.0, 30.0);
        state_.rpm = 900.0;
        state_.load = 0.15;
    }
    d.left -= dt;
    d.stepLeft -= dt;
    if (d.left <= 0.0) NextRoadLeg();
    state_.phaseSeconds = 0.0;
    state_.fuelCut = false;
    const double warmIdle = state_.coolantC < 60.0 ? 150.0 * (60.0 - state_.coolantC) / 40.0 : 0.0;
    d.rpmWander = Wander(d.rpmWander, 60.0, 2.0, dt, Uniform(roadRng_));
    d.loadWander = Wander(d.loadWander, 0.02, 1.5, dt, Uniform(roadRng_));
    double rpm = state_.rpm, load = state_.load;
    SimThrottle throttle = SimThrottle::Cruise;
    switch (d.leg) {
    case Leg::Idle: {
        throttle = SimThrottle::Idle;
        const double wobble = 15.0 * std::sin(2.0 * kPi * state_.runSeconds / 1.7) + 0.2 * d.rpmWander;
        rpm = Follow(rpm, 800.0 + warmIdle + wobble, 0.6, dt);
        load = Follow(load, 0.12 + 0.1 * d.loadWander, 0.3, dt);
        break;
    }
    case Leg::Town: {
        // Accelerating in a gear, changing up (a lift), steady, or lifting off to slow down.
        enum { kAccelerate, kChange, kSteady, kLift };
        if (d.stepLeft <= 0.0) {
            const double u = Uniform(roadRng_);
            const int before = d.townStep;
            d.townStep = before == kAccelerate ? (u < 0.7 ? kChange : kSteady)
                         : before == kChange   ? (u < 0.5 ? kAccelerate : kSteady)
                         : before == kSteady   ? (u < 0.4   ? kAccelerate
                                                  : u < 0.7 ? kLift
                                                            : kSteady)
                                               : kAccelerate;
            d.stepLeft = d.townStep == kAccelerate ? RoadUniform(2.5, 5.0)
                         : d.townStep == kChange   ? RoadUniform(0.3, 0.6)
                         : d.townStep == kSteady   ? RoadUniform(2.0, 6.0)
                                                   : RoadUniform(1.5, 3.0);
            d.loadAim = d.townStep == kAccelerate ? RoadUniform(0.4, 0.6)
                        : d.townStep == kSteady   ? RoadUniform(0.18, 0.35)
                                                  : 0.05;
            d.rpmAim = d.townStep == kChange ? std::max(1300.0, rpm * 0.65) : rpm;
            d.pullRate = RoadUniform(250.0, 450.0);
        }
        if (d.townStep == kAccelerate) {
            d.rpmAim = std::min(3000.0, d.rpmAim + d.pullRate * dt);
        } else if (d.townStep == kLift) {
            d.rpmAim = std::max(950.0, d.rpmAim - 400.0 * dt);
        }
        const bool closed = d.townStep == kChange || d.townStep == kLift;
        throttle = closed ? SimThrottle::Idle : SimThrottle::Cruise;
        rpm = Follow(rpm, d.rpmAim + (closed ? 0.0 : 0.5 * d.rpmWander), d.townStep == kChange ? 0.15 : 0.3, dt);
        load = Follow(load, d.loadAim + (closed ? 0.0 : d.loadWander), 0.25, dt);
        state_.fuelCut = d.townStep == kLift && rpm > 1200.0;
        break;
    }
    case Leg::Cruise:
    case Leg::Motorway: {
        // Steady stretches at speeds and loads that change now and then.
        if (d.stepLeft <= 0.0) {
            const bool motorway = d.leg == Leg::Motorway;
            d.stepLeft = motorway ? RoadUniform(8.0, 15.0) : RoadUniform(5.0, 10.0);
            d.rpmAim = motorway ? RoadUniform(2800.0, 4200.0) : RoadUniform(1400.0, 3000.0);
            d.loadAim = motorway ? RoadUniform(0.3, 0.65) : RoadUniform(0.16, 0.45);
        }
        rpm = Follow(rpm, d.rpmAim + d.rpmWander, 2.0, dt);
        load = Follow(load, d.loadAim + d.loadWander, 1.0, dt);
        break;
    }
    case Leg::Pull: {
        throttle = SimThrottle::Wot;
        d.rpmAim = std::min(d.pullTo, d.rpmAim + d.pullRate * dt);
        rpm = Follow(rpm, d.rpmAim, 0.15, dt);
        load = Follow(load, 0.93 + 0.2 * d.loadWander, 0.15, dt);
        if (rpm >= d.pullTo - 20.0) d.left = 0.0;
        break;
    }
    case Leg::Overrun: {
        throttle = SimThrottle::Idle;
        rpm = Follow(rpm, 850.0, 2.0, dt);
        load = Follow(load, 0.05, 0.2, dt);
        state_.fuelCut = rpm > 1200.0;
        if (rpm <= 1050.0) d.left = 0.0;
        break;
    }
    }
    state_.throttle = throttle;
    state_.rpm = std::clamp(rpm, 500.0, 6200.0);
    state_.load = std::clamp(load, 0.03, 0.97);
    state_.advanceDeg = throttle == SimThrottle::Wot    ? 26.0
                        : d.leg == Leg::Idle            ? 10.0
                        : throttle == SimThrottle::Idle ? 15.0
                                                        : 32.0 - 10.0 * state_.load;
    state_.airC = 25.0 + 10.0 * state_.load;
}

} // namespace kv
