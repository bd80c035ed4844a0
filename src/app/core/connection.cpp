#include "app/core/connection.h"

#include "app/core/shell_device.h"

#include <algorithm>

namespace kv {

void QuickPingTick(ShellDevice& device) {
    if (!device.IsOpen()) device.Open();
    if (!device.UpdateConnectionStatus(false)) device.ShutDown();
}

void RestartQuickPing(ShellDevice& device) {
    if (!device.QuickPing()) {
        if (device.IsOpen()) device.ShutDown();
        device.Open();
    }
    device.UpdateConnectionStatus(true);
}

int IgnitionWatch::Register(IgnitionDependent control) {
    const int id = nextId_++;
    controls_.push_back({id, std::move(control)});
    return id;
}

void IgnitionWatch::Unregister(int id) {
    controls_.erase(std::remove_if(controls_.begin(), controls_.end(), [id](const Entry& e) { return e.id == id; }),
                    controls_.end());
    disabled_.erase(std::remove(disabled_.begin(), disabled_.end(), id), disabled_.end());
}

void IgnitionWatch::ReenableAll() {
    for (int id : disabled_)
        for (auto& e : controls_)
            if (e.id == id && e.control.setEnabled) e.control.setEnabled(true);
    disabled_.clear();
}

void IgnitionWatch::Tick(bool ignitionOn) {
    if (last_ == ignitionOn) return;
    if (!ignitionOn) {
        ReenableAll();
        for (auto& e : controls_) {
            if (e.control.isEnabled && e.control.isEnabled()) {
                if (e.control.setEnabled) e.control.setEnabled(false);
                disabled_.push_back(e.id);
            }
        }
    } else {
        ReenableAll();
    }
    last_ = ignitionOn;
}

void IgnitionWatch::Release() {
    ReenableAll();
    last_.reset();
}

} // namespace kv
