#include "device/adapters/comms_aux_device.h"

#include "device/comms.h"

namespace kv {

bool CommsAuxDevice::SetAuxInputFilter(int channel, int coefficient) {
    return comms_.SetAuxInputFilter(channel, coefficient);
}

std::optional<std::int32_t> CommsAuxDevice::ReadAuxInput(int channel) {
    if (!comms_.QuickPing()) return std::nullopt;
    return comms_.ReadAuxInput(channel);
}

} // namespace kv
