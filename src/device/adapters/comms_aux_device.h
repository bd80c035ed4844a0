#pragma once
// The aux inputs' device side over the device link.
#include "auxinputs/aux_inputs.h"

namespace kv {

class Comms;

class CommsAuxDevice final : public AuxDevice {
public:
    // `comms` must outlive this object.
    explicit CommsAuxDevice(Comms& comms) : comms_(comms) {}
    // SetAuxInputFilter of the command set.
    bool SetAuxInputFilter(int channel, int coefficient) override;
    // A quick ping first (ReadAuxInput alone answers 0 for an absent device), then ReadAuxInput.
    std::optional<std::int32_t> ReadAuxInput(int channel) override;

private:
    Comms& comms_;
};

} // namespace kv
