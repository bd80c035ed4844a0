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

bool IgnitionWatch::Follows(const Entry& e) { return !e.control.followsIgnition || e.control.followsIgnition(); }

void IgnitionWatch::Tick(bool ignitionOn) {
    // A control that stopped following the ignition (its image is now edited offline) comes back
    // at once, whatever the reading.
    for (const auto& e : controls_) {
        const auto at = std::find(disabled_.begin(), disabled_.end(), e.id);
        if (at == disabled_.end() || Follows(e)) continue;
        if (e.control.setEnabled) e.control.setEnabled(true);
        disabled_.erase(at);
    }
    if (last_ == ignitionOn) return;
    if (!ignitionOn) {
        ReenableAll();
        for (auto& e : controls_) {
            if (Follows(e) && e.control.isEnabled && e.control.isEnabled()) {
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
