#pragma once
// A small model of the car for the simulated device: the engine runs while the ignition is on
// and is driven in one of two ways. On the road (SimDrive::Road) a seeded driver mixes warm idle,
// town driving with gear changes and lifts, steady cruising at varying speeds, motorway runs,
// full-throttle pulls through the rev range and over-run fuel cuts, continuous in speed and load.
// On the dyno (SimDrive::Dyno) a fixed cycle goes through idle, cruise, wide-open-throttle and
// overrun phases (each lap holds other speeds and loads while cruising and pulls from another
// speed, so that a long drive visits much of the fuel map; the seed picks where in its list of
// holds the laps begin). The coolant warms up while the engine runs and cools while it stands; at
// high load it knocks, and the ignition unit retards the knocking cylinder. Everything is stepped
// in fixed 10 ms ticks of clock time with its own seeded random numbers, so the state at a given
// time does not depend on how often it is asked.
#include <array>
#include <cstdint>
#include <deque>
#include <random>
#include <string>

#include "platform/parsed.h"

namespace kv {

enum class SimDrive { Road, Dyno };
// "road" / "dyno"; a failure naming both for anything else.
Parsed<SimDrive> ParseSimDrive(const std::string& text);
// A road drive's seed: a whole number from 0 to 4294967295.
Parsed<std::uint64_t> ParseSimDriveSeed(const std::string& text);

enum class SimThrottle { Idle = 0, Cruise = 1, Wot = 2 };

struct SimEngineState {
    bool running = false;
    double rpm = 0.0;  // crankshaft speed
    double load = 0.0; // 0..1: air charge relative to full load
    SimThrottle throttle = SimThrottle::Idle;
    bool fuelCut = false;   // overrun: injectors off
    double coolantC = 20.0; // coolant temperature, degrees Celsius
    double airC = 25.0;     // intake air temperature
    double batteryV = 12.4;
    double advanceDeg = 0.0;              // ignition advance actually fired (after knock retard), degrees BTDC
    std::uint8_t knockCounter = 0;        // the ignition unit's 8-bit knock counter
    std::array<std::uint8_t, 8> retard{}; // per-cylinder knock retard, counts of 0.375 degrees (cylinders 1..8)
    double phaseSeconds = 0.0;            // time within the dyno's driving cycle
    double runSeconds = 0.0;              // since the engine last started
    int lap = 0;                          // dyno cycles completed since the engine started
    // The exhaust gas at the wide-band sensor left the cylinders a moment ago: the operating
    // point it was burnt at (kTransportDelaySeconds ago, through the sensor's own first-order
    // lag), whether the injectors were cut then, and a slowly wandering relative error of the
    // mixture (fraction, about 0.15 % spread).
    double mixtureRpm = 0.0;
    double mixtureLoad = 0.0;
    bool mixtureFuelCut = false;
    double mixtureNoise = 0.0;
};

class SimEngine {
public:
    static constexpr std::int64_t kTickMs = 10;
    static constexpr double kCycleSeconds = 45.0;
    // The exhaust's way from the cylinders to the wide-band sensor, and the sensor's own time
    // constant.
    static constexpr double kTransportDelaySeconds = 0.25;
    static constexpr double kSensorLagSeconds = 0.08;

    explicit SimEngine(SimDrive drive = SimDrive::Dyno, std::uint64_t seed = 1);

    // Steps the model up to clock time nowMs; `ignitionOn` is the switch position over that
    // span. The first call only sets the time base.
    void AdvanceTo(std::int64_t nowMs, bool ignitionOn);
    const SimEngineState& State() const { return state_; }

    // Coolant temperature carried over from an earlier run (state of the car).
    void SetCoolant(double c) { state_.coolantC = c; }

private:
    void Tick(bool ignitionOn);
    void Drive(double t);
    void DriveRoad(double dt);
    void NextRoadLeg();
    double RoadUniform(double from, double to);

    // The road driver: the leg it drives, how long it lasts, where it heads, and how far speed
    // and load wander from there.
    enum class Leg { Idle, Town, Cruise, Motorway, Pull, Overrun };
    struct RoadDriver {
        Leg leg = Leg::Idle;
        double left = 0.0;     // seconds of the leg to go
        double stepLeft = 0.0; // seconds of the town step or cruise stretch to go
        int townStep = 0;      // accelerating, changing gear, steady or lifting
        double rpmAim = 800.0; // where speed and load head
        double loadAim = 0.12;
        double rpmWander = 0.0; // slow random wander about the aim
        double loadWander = 0.0;
        double pullRate = 500.0; // rpm per second at full throttle
        double pullTo = 6000.0;
        bool closedThrottle = true;
    };
    SimDrive drive_;
    std::uint64_t seed_;
    RoadDriver road_;
    std::mt19937_64 roadRng_;
    std::deque<std::array<double, 3>> burnt_; // rpm, load, fuel cut of the last ticks, oldest first

    SimEngineState state_;
    std::int64_t timeMs_ = 0;
    bool started_ = false;
    bool wasOn_ = false;
    double runSeconds_ = 0.0; // since the engine last started
    std::int64_t retardDecayTicks_ = 0;
    std::mt19937_64 rng_{928};
    std::mt19937_64 mixtureRng_{4928}; // its own sequence: the knocks stay as they were
};

} // namespace kv
