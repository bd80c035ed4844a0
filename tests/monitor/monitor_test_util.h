#pragma once
// Helpers of the monitor tests: a scripted device, images of each kind and record building.
#include "../eprom/eprom_test_util.h"
#include "eprom/eprom_image.h"
#include "monitor/monitor_record.h"
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace kv {

namespace monitor_test {

class FakeMonitorDevice final : public MonitorDevice {
public:
    bool IgnitionOnDebounced() override {
        log.push_back("debounced");
        return ignition;
    }
    bool IsIgnitionOn() override {
        log.push_back("ignition");
        return ignition;
    }
    void ResetIgnitionDebounce() override { log.push_back("resetDebounce"); }
    bool DataLog_Configure(const std::vector<int>& a, const std::vector<int>& s) override {
        log.push_back("configure");
        addresses = a;
        sizes = s;
        return configureOk;
    }
    std::vector<std::uint8_t> DataLog_ReadRecord() override {
        log.push_back("read");
        if (onRead) onRead();
        if (records.empty()) return {};
        auto r = records.front();
        records.pop_front();
        return r;
    }
    std::optional<std::int32_t> ReadEcuRam(int kind, int address, int n) override {
        log.push_back("ram " + std::to_string(kind) + " " + std::to_string(address) + " " + std::to_string(n));
        return ramValue;
    }
    bool ResetO2Adaptation() override { return true; }
    bool RamByteOrderFlag() const override { return ramFlag; }

    bool ignition = true;
    bool configureOk = true;
    bool ramFlag = false;
    std::optional<std::int32_t> ramValue = 0; // nullopt: the read fails
    std::deque<std::vector<std::uint8_t>> records;
    std::function<void()> onRead;
    std::vector<int> addresses, sizes;
    std::vector<std::string> log;
};

inline EPROM Load(const std::vector<std::uint8_t>& bytes) {
    EPROM image;
    EXPECT_EQ(image.LoadFromArray(bytes), "");
    return image;
}

// A record of the layout from one byte list per field (each must match the field's size).
inline std::vector<std::uint8_t> MakeRecord(const RecordLayout& layout, const std::vector<std::vector<int>>& fields) {
    std::vector<std::uint8_t> out;
    EXPECT_EQ(static_cast<int>(fields.size()), layout.FieldCount());
    for (std::size_t i = 0; i < fields.size(); ++i) {
        EXPECT_EQ(static_cast<int>(fields[i].size()), layout.sizes[i]) << "field " << i;
        for (int b : fields[i]) out.push_back(static_cast<std::uint8_t>(b));
    }
    return out;
}

// One display and the text it should show.
using Texts = std::vector<std::pair<std::string, std::string>>;

inline void ExpectTexts(const Texts& actual, const Texts& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_EQ(actual[i].first, expected[i].first);
        EXPECT_EQ(actual[i].second, expected[i].second) << expected[i].first;
    }
}

} // namespace monitor_test

} // namespace kv
