#pragma once
// The one place where every device timer pauses while a transfer or a firmware upgrade has the
// device: the quick-ping and ignition timers, the traces, the monitors and the data-log timer
// register here, and a transfer holds a Pause for as long as it runs. Pauses nest: the timers
// stop at the first and run again after the last.
#include <functional>
#include <map>

namespace kv {

class DevicePolling {
public:
    struct Timer {
        std::function<void()> pause;  // stop polling (remember whether it ran)
        std::function<void()> resume; // poll again if it ran before the pause
    };

    // A timer registered while a pause is on is paused at once. Returns its number.
    int Register(Timer timer);
    void Unregister(int id);

    bool Paused() const { return depth_ > 0; }

    // Pauses every registered timer for its lifetime.
    class Pause {
    public:
        explicit Pause(DevicePolling& polling);
        ~Pause();
        Pause(const Pause&) = delete;
        Pause& operator=(const Pause&) = delete;

    private:
        DevicePolling& polling_;
    };

private:
    void Begin();
    void End();

    std::map<int, Timer> timers_;
    int nextId_ = 1;
    int depth_ = 0;
};

} // namespace kv
