#pragma once
#include "auxinputs/aux_inputs.h"

#include <map>
#include <utility>
#include <vector>

namespace kv {

// Records the filters sent; answers readings from a table while `present`.
class FakeAuxDevice final : public AuxDevice {
public:
    bool SetAuxInputFilter(int channel, int coefficient) override {
        sent.emplace_back(channel, coefficient);
        return present;
    }
    std::optional<std::int32_t> ReadAuxInput(int channel) override {
        ++reads;
        if (!present) return std::nullopt;
        return readings[channel];
    }
    bool present = true;
    int reads = 0;
    std::vector<std::pair<int, int>> sent;
    std::map<int, std::int32_t> readings;
};

} // namespace kv
