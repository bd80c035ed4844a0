#pragma once
// The simulated driver at the ignition key. A program that loads an EPROM module asks the user
// to switch the ignition off (it then polls the ignition every 0.1 s and sends nothing else) and
// on again (it starts a module detection and polls). Seeing only the requests that reach the
// device, this driver does what the user would: the key goes off when the ignition is polled
// quickly with nothing else in between, and on a little after a detection starts while it is off.
#include <cstdint>

namespace kv {

class IgnitionDriver {
public:
    // Polls of the ignition (IsIgnitionOn) in a row, each at most kQuickPollGapMs after the one before,
    // that make the driver switch the key off. The program's own ignition check runs once a
    // second and the monitors send other requests between their polls, so neither does this.
    static constexpr int kQuickPolls = 3;
    static constexpr std::int64_t kQuickPollGapMs = 250;
    // Delay between a detection start (PemDetectStart) with the key off and the key going on.
    static constexpr std::int64_t kKeyOnDelayMs = 300;

    enum class Action { None, KeyOff };

    // One request reached the device: `first` is its first byte, `ignitionOn` the key's position
    // now. Returns KeyOff when the key is to go off now; a key-on is noted for KeyOnDue.
    Action OnRequest(std::uint8_t first, bool ignitionOn, std::int64_t nowMs);
    // True once when the key is due to go on.
    bool KeyOnDue(std::int64_t nowMs);

private:
    int quickPolls_ = 0;
    std::int64_t lastPollMs_ = 0;
    std::int64_t keyOnAtMs_ = -1;
};

} // namespace kv
