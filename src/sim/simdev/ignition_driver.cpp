#include "sim/simdev/ignition_driver.h"

#include "device/protocol.h"

namespace kv {

IgnitionDriver::Action IgnitionDriver::OnRequest(std::uint8_t first, bool ignitionOn, std::int64_t nowMs) {
    if (first == static_cast<std::uint8_t>(Opcode::PemDetectStart)) {
        quickPolls_ = 0;
        if (!ignitionOn && keyOnAtMs_ < 0) keyOnAtMs_ = nowMs + kKeyOnDelayMs;
        return Action::None;
    }
    if (first != static_cast<std::uint8_t>(Opcode::IsIgnitionOn)) {
        quickPolls_ = 0;
        return Action::None;
    }
    if (quickPolls_ > 0 && nowMs - lastPollMs_ > kQuickPollGapMs) quickPolls_ = 0;
    ++quickPolls_;
    lastPollMs_ = nowMs;
    if (ignitionOn && keyOnAtMs_ < 0 && quickPolls_ >= kQuickPolls) {
        quickPolls_ = 0;
        return Action::KeyOff;
    }
    return Action::None;
}

bool IgnitionDriver::KeyOnDue(std::int64_t nowMs) {
    if (keyOnAtMs_ < 0 || nowMs < keyOnAtMs_) return false;
    keyOnAtMs_ = -1;
    return true;
}

} // namespace kv
