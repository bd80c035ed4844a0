#pragma once
// The list of ignition-dependent controls of the main window: the map tabs, parameter pages and
// the fuel system monitor register their controls; while the ignition is off they are disabled.
#include <functional>
#include <optional>
#include <vector>

namespace kv {

// A control whose enabled state follows the ignition while `followsIgnition` says so (none: always);
// the controls of an image edited offline have no unit whose ignition matters.
struct IgnitionDependent {
    std::function<bool()> isEnabled;
    std::function<void(bool)> setEnabled;
    std::function<bool()> followsIgnition = {};
};

// The ignition timer's work (1000 ms): when the ignition reads off, every registered control
// that is enabled (and follows the ignition) is disabled and remembered; when it reads on again,
// exactly those are re-enabled. Nothing else changes while the reading stays the same, except
// that a disabled control that no longer follows the ignition is enabled again.
class IgnitionWatch {
public:
    // Returns the registration number (for Unregister).
    int Register(IgnitionDependent control);
    // Forgets the control (without touching it).
    void Unregister(int id);
    void Tick(bool ignitionOn);
    // Re-enables what the watch disabled and forgets the last reading (before the timer stops).
    void Release();
    int DisabledCount() const { return static_cast<int>(disabled_.size()); }

private:
    struct Entry {
        int id;
        IgnitionDependent control;
    };
    void ReenableAll();
    static bool Follows(const Entry& e);
    std::vector<Entry> controls_;
    std::vector<int> disabled_;
    std::optional<bool> last_; // the last reading; none before the first tick
    int nextId_ = 1;
};

} // namespace kv
