#pragma once
// Helpers of the data-logging tests: a scripted device, a run set that records what it is told,
// a time of day that the test sets, images of each kind, and building device records.
#include "../eprom/eprom_test_util.h"
#include "datalog/log_catalogue.h"
#include "datalog/log_device.h"
#include "datalog/log_prepare.h"
#include "datalog/run_slots.h"
#include "eprom/eprom_image.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kv::datalog_test {

inline EPROM Load(const std::vector<std::uint8_t>& bytes) {
    EPROM image;
    EXPECT_EQ(image.LoadFromArray(bytes), "");
    return image;
}

class FakeDataLogDevice final : public DataLogDevice {
public:
    bool IsIgnitionOn() override { return ignition; }
    bool DataLog_Configure(const std::vector<int>& a, const std::vector<int>& s) override {
        log.push_back("configure");
        addresses = a;
        sizes = s;
        return configureOk;
    }
    bool DataLog_SetRate(int periodMs) override {
        log.push_back("rate " + std::to_string(periodMs));
        return rateOk;
    }
    bool DataLog_StartDeviceLogging() override {
        log.push_back("start");
        return true;
    }
    bool DataLog_StopDeviceLogging() override {
        log.push_back("stop");
        return true;
    }
    bool DataLog_KeepAlive() override {
        log.push_back("keepalive");
        return true;
    }
    std::vector<std::uint8_t> DataLog_Download() override {
        if (downloads.empty()) return {};
        auto d = downloads.front();
        downloads.pop_front();
        return d;
    }
    std::optional<std::int32_t> ReadEcuRam(int kind, int address, int n) override {
        log.push_back("ram " + std::to_string(kind) + " " + std::to_string(address) + " " + std::to_string(n));
        if (!ramAnswers.empty()) {
            const auto answer = ramAnswers.front();
            ramAnswers.pop_front();
            return answer;
        }
        return ram;
    }
    std::optional<std::int32_t> ReadAuxInput(int channel) override {
        log.push_back("aux " + std::to_string(channel));
        return auxValue;
    }
    std::int32_t ReadRpmPeriod() override {
        log.push_back("period");
        return rpmPeriod;
    }
    bool SetAuxInputFilter(int channel, int coefficient) override {
        log.push_back("filter " + std::to_string(channel) + " " + std::to_string(coefficient));
        return true;
    }
    bool RamByteOrderFlag() const override { return ramFlag; }

    bool ignition = true;
    bool configureOk = true;
    bool rateOk = true;
    bool ramFlag = true;
    std::optional<std::int32_t> ram = 0;
    std::deque<std::optional<std::int32_t>> ramAnswers; // answered first, one per read, before `ram`
    std::optional<std::int32_t> auxValue = 0xFFFF;
    std::int32_t rpmPeriod = 0xFFFFFF;
    std::deque<std::vector<std::uint8_t>> downloads;
    std::vector<int> addresses, sizes;
    std::vector<std::string> log;
};

// Records the run set's calls; allocation fails once `open` holds kMaxRuns runs.
class FakeRunSlots final : public RunSlots {
public:
    struct Run {
        std::vector<std::string> headers;
        std::vector<std::vector<std::string>> rows;
    };
    int AllocateRun() override {
        if (static_cast<int>(open.size()) >= kMaxRuns) return -1;
        const int id = nextId++;
        open[id] = Run{};
        return id;
    }
    void ReleaseRun(int id) override {
        open.erase(id);
        ++released;
    }
    void RefreshRunTabs() override { ++refreshes; }
    void SetRunHeaders(int id, std::vector<std::string> headers) override { open.at(id).headers = std::move(headers); }
    void AppendRunRow(int id, const std::vector<std::string>& cells) override { open.at(id).rows.push_back(cells); }
    int RunRowCount(int id) const override { return static_cast<int>(open.at(id).rows.size()); }

    std::map<int, Run> open;
    int nextId = 0;
    int released = 0;
    int refreshes = 0;
};

// One field per channel of the plan in record order, each value spread over the channel's bytes
// (low byte first; `ramHighFirst` puts the RAM channels' high byte first), then the trailer.
struct FieldValue {
    int channel;
    std::int64_t value;
    std::vector<std::uint8_t> raw = {}; // the channel's bytes as they are, instead of `value`
};
inline std::vector<std::uint8_t> MakeRecord(const LogRunPlan& plan, const std::vector<FieldValue>& values,
                                            bool ramHighFirst = false) {
    std::vector<std::uint8_t> out;
    for (int number : plan.fieldChannels) {
        const LogChannel& c = LogChannelByNumber(number);
        std::int64_t v = 0;
        const FieldValue* given = nullptr;
        for (const FieldValue& f : values)
            if (f.channel == number) given = &f, v = f.value;
        if (given && !given->raw.empty()) {
            EXPECT_EQ(static_cast<int>(given->raw.size()), c.bytes) << c.name;
            out.insert(out.end(), given->raw.begin(), given->raw.end());
            continue;
        }
        for (int k = 0; k < c.bytes; ++k) {
            const int shift = ramHighFirst && ChannelInRamOrder(c) ? 8 * (c.bytes - 1 - k) : 8 * k;
            out.push_back(static_cast<std::uint8_t>((v >> shift) & 0xFF));
        }
    }
    return out;
}
inline std::vector<std::uint8_t> WithTrailer(std::vector<std::uint8_t> record, int startCount, std::int64_t stamp) {
    record.push_back(static_cast<std::uint8_t>(startCount));
    for (int k = 0; k < 3; ++k) record.push_back(static_cast<std::uint8_t>((stamp >> (8 * k)) & 0xFF));
    return record;
}

} // namespace kv::datalog_test
