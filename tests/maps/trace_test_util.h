#pragma once
// A scripted trace device and record builders for the operating-point trace tests.
#include "maps/map_trace.h"

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

namespace maps_test {

class FakeTraceDevice final : public TraceDevice {
public:
    bool IsIgnitionOn() override {
        ++ignitionQueries;
        return ignitionOn;
    }
    bool SetAuxInputFilter(int channel, int coefficient) override {
        calls.push_back("filter " + std::to_string(channel) + "=" + std::to_string(coefficient));
        return true;
    }
    bool DataLog_Configure(const std::vector<int>& a, const std::vector<int>& s) override {
        calls.push_back("configure");
        addresses = a;
        sizes = s;
        return acceptLayout;
    }
    std::vector<std::uint8_t> DataLog_ReadRecord() override {
        ++recordReads;
        if (!records.empty()) {
            auto r = records.front();
            records.pop_front();
            return r;
        }
        return record;
    }
    std::optional<std::int32_t> ReadEcuRam(int ecuKind, int address, int n) override {
        calls.push_back("ram " + std::to_string(ecuKind) + ":" + std::to_string(address) + "/" + std::to_string(n));
        if (ramFails) return std::nullopt;
        auto it = ram.find(address);
        return it == ram.end() ? 0 : it->second;
    }
    bool RamByteOrderFlag() const override { return ramByteOrderFlag; }
    bool LH_GetMapSetSelector(const EPROM&) override {
        calls.push_back("mapset");
        return cat;
    }

    bool ignitionOn = true;
    bool acceptLayout = true;
    bool ramByteOrderFlag = false;
    bool cat = true;
    bool ramFails = false;                         // every RAM read fails
    std::vector<std::uint8_t> record;              // answered when `records` is empty
    std::deque<std::vector<std::uint8_t>> records; // answered first, in order
    std::map<int, std::int32_t> ram;               // by RAM address
    std::vector<std::string> calls;
    std::vector<int> addresses, sizes;
    int ignitionQueries = 0;
    int recordReads = 0;
};

// A record built field by field: RAM values in the unit's order (first byte most significant
// unless the RAM byte order flag is set), device items low byte first.
class RecordBuilder {
public:
    RecordBuilder& Ram(std::int64_t value, int size, bool ramByteOrderFlag = false) {
        for (int k = 0; k < size; ++k) {
            const int shift = ramByteOrderFlag ? 8 * k : 8 * (size - 1 - k);
            bytes.push_back(static_cast<std::uint8_t>((value >> shift) & 0xFF));
        }
        return *this;
    }
    RecordBuilder& Item(std::int64_t value, int size) {
        for (int k = 0; k < size; ++k) bytes.push_back(static_cast<std::uint8_t>((value >> (8 * k)) & 0xFF));
        return *this;
    }
    std::vector<std::uint8_t> bytes;
};

} // namespace maps_test

} // namespace kv
