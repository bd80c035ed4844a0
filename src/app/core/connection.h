#pragma once
// The list of ignition-dependent controls of the main window: the map tabs, parameter pages and
// the fuel system monitor register their controls; while the ignition is off they are disabled.
#include <functional>
#include <optional>
#include <vector>

namespace kv {

// A control whose enabled state follows the ignition.
struct IgnitionDependent {
    std::function<bool()> isEnabled;
    std::function<void(bool)> setEnabled;
};

// The ignition timer's work (1000 ms): when the ignition reads off, every registered control
// that is enabled is disabled and remembered; when it reads on again, exactly those are
// re-enabled. Nothing changes while the reading stays the same.
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
    std::vector<Entry> controls_;
    std::vector<int> disabled_;
    std::optional<bool> last_; // the last reading; none before the first tick
    int nextId_ = 1;
};

} // namespace kv
