#include "app/core/connection_monitor.h"

#include "platform/clock.h"
#include "platform/messages.h"

#include <cstdlib>

namespace kv {

namespace {

constexpr std::int64_t kIgnitionSettleMs = 500;

} // namespace

bool ConnectionMonitor::UpdateConnectionStatus(bool force) {
    const bool answered = device_.QuickPing();
    if (lastState_ != answered || force) {
        if (indicator_) {
            if (!answered) {
                indicator_->ShowConnectionStatus(device_.IsOpen() ? "Not responding" : "Not connected (or not powered)",
                                                 true);
                indicator_->ShowFirmwareVersion("");
            } else {
                indicator_->ShowConnectionStatus("Connected", false);
                const std::string v = device_.GetFirmwareVersion();
                indicator_->ShowFirmwareVersion(v.empty() ? "Unknown" : v);
            }
        }
        lastState_ = answered;
    }
    return answered;
}

bool ConnectionMonitor::CheckDeviceOrExplain(UserMessages& messages) {
    if (!device_.Open()) {
        messages.MessageBox("No Kestrovane device found. Please make sure the Kestrovane is connected to a USB port on "
                            "the computer and is powered from the diagnostics socket on the car.",
                            "Error", MsgButtons::OK, MsgIcon::Critical);
        UpdateConnectionStatus(false);
        return false;
    }
    if (!device_.Ping()) {
        messages.MessageBox("The Kestrovane device is connected to the USB port but is not responding. Please try "
                            "turning the Kestrovane off and back on by disconnecting and connecting the cable to the "
                            "diagnostics socket.",
                            "Error", MsgButtons::OK, MsgIcon::Critical);
        UpdateConnectionStatus(false);
        return false;
    }
    return true;
}

bool IgnitionDebounce::IgnitionOnDebounced() {
    if (!device_.IsIgnitionOn()) {
        rememberedOn_ = false;
        return false;
    }
    if (!rememberedOn_) {
        rememberedOn_ = true;
        onSinceMs_ = clock_.NowMs();
        return false;
    }
    if (onSinceMs_ < 0 || std::llabs(clock_.NowMs() - onSinceMs_) >= kIgnitionSettleMs) {
        onSinceMs_ = -1;
        return true;
    }
    return false;
}

void IgnitionDebounce::ResetIgnitionDebounce() {
    rememberedOn_ = true;
    onSinceMs_ = -1;
}

} // namespace kv
