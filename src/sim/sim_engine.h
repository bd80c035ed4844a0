#pragma once
// A small model of the car for the simulated device: the engine runs while the ignition is on
// and drives through idle, cruise, wide-open-throttle and overrun phases in a fixed cycle (each
// lap holds other speeds and loads while cruising and pulls from another speed, so that a long
// drive visits much of the fuel map); the
// coolant warms up while it runs and cools while it stands; at high load it knocks, and the
// ignition unit retards the knocking cylinder. Everything is stepped in fixed 10 ms ticks of
// clock time with its own fixed-seed random numbers, so the state at a given time does not
// depend on how often it is asked.
#include <array>
#include <cstdint>
#include <random>

namespace kv {

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
    double phaseSeconds = 0.0;            // time within the driving cycle
    double runSeconds = 0.0;              // since the engine last started
    int lap = 0;                          // driving cycles completed since the engine started
    // The exhaust gas at the wide-band sensor left the cylinders a moment ago: the operating
    // point it was burnt at (a first-order lag of speed and load), and a slowly wandering
    // relative error of the mixture (fraction, about 0.15 % spread).
    double mixtureRpm = 0.0;
    double mixtureLoad = 0.0;
    double mixtureNoise = 0.0;
};

class SimEngine {
public:
    static constexpr std::int64_t kTickMs = 10;
    static constexpr double kCycleSeconds = 45.0;
    // Time constant of the exhaust's way from the cylinders to the wide-band sensor.
    static constexpr double kMixtureLagSeconds = 0.15;

    SimEngine() = default;

    // Steps the model up to clock time nowMs; `ignitionOn` is the switch position over that
    // span. The first call only sets the time base.
    void AdvanceTo(std::int64_t nowMs, bool ignitionOn);
    const SimEngineState& State() const { return state_; }

    // Coolant temperature carried over from an earlier run (state of the car).
    void SetCoolant(double c) { state_.coolantC = c; }

private:
    void Tick(bool ignitionOn);
    void Drive(double t);

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
