#include "sim/simdev/ignition_driver.h"

namespace kv {

namespace {
constexpr std::uint8_t kIsIgnitionOn = 0x81;
constexpr std::uint8_t kPemDetectStart = 0x82;
} // namespace

IgnitionDriver::Action IgnitionDriver::OnRequest(std::uint8_t first, bool ignitionOn, std::int64_t nowMs) {
    if (first == kPemDetectStart) {
        quickPolls_ = 0;
        if (!ignitionOn && keyOnAtMs_ < 0) keyOnAtMs_ = nowMs + kKeyOnDelayMs;
        return Action::None;
    }
    if (first != kIsIgnitionOn) {
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
