#include "app/core/device_polling.h"

namespace kv {

int DevicePolling::Register(Timer timer) {
    const int id = nextId_++;
    if (Paused() && timer.pause) timer.pause();
    timers_.emplace(id, std::move(timer));
    return id;
}

void DevicePolling::Unregister(int id) { timers_.erase(id); }

void DevicePolling::Begin() {
    if (depth_++ > 0) return;
    for (auto& [id, timer] : timers_)
        if (timer.pause) timer.pause();
}

void DevicePolling::End() {
    if (depth_ == 0 || --depth_ > 0) return;
    for (auto& [id, timer] : timers_)
        if (timer.resume) timer.resume();
}

DevicePolling::Pause::Pause(DevicePolling& polling) : polling_(polling) { polling_.Begin(); }

DevicePolling::Pause::~Pause() { polling_.End(); }

} // namespace kv
