#include "datalog/log_prepare.h"

#include "auxinputs/aux_inputs.h"
#include "datalog_test_util.h"

#include <gtest/gtest.h>

namespace kv {

namespace {

using namespace datalog_test;

enum class Images { None, LhEzk, Lh22Ezf, EzkOnly };

struct Loaded {
    EPROM fuel, ignition;
};

Loaded MakeImages(Images which) {
    switch (which) {
    case Images::None: return {EPROM(), EPROM()};
    case Images::LhEzk: return {Load(eprom_test::LH23Image()), Load(eprom_test::EZKImage())};
    case Images::Lh22Ezf: return {Load(eprom_test::LH22Image()), Load(eprom_test::EZFImage())};
    case Images::EzkOnly: return {EPROM(), Load(eprom_test::EZKImage())};
    }
    return {};
}

// A set-up with every unit's slots shown and the given slots ticked.
LogSetup SetupWith(const std::vector<int>& ticked, std::optional<LogTrigger> trigger, const EPROM& ignition,
                   const AuxInputs& aux) {
    LogSetup setup;
    for (const char* command : {"", "LH", "LH22", "EZK", "EZF"}) setup.SetupLogVariables(command, ignition, aux);
    for (int s : ticked) setup.OnVariableChecked(s, true);
    if (trigger) setup.SetTrigger(*trigger);
    setup.FillRateList();
    return setup;
}

std::vector<std::string> KR() {
    std::vector<std::string> kr;
    for (int c = 1; c <= 8; ++c) kr.push_back("KR" + std::to_string(c));
    return kr;
}

TEST(PrepareLoggingRun, SelectionsAndTriggers) {
    struct Case {
        const char* label;
        Images images;
        std::vector<int> ticked;
        std::optional<LogTrigger> trigger;
        std::string message;
        std::vector<int> channels; // in record order
        int recordSize;
        TriggerSource source;
        std::vector<std::string> headers; // after "Time [s]"
    };
    const std::string th = "Throttle pos (1=idle, 2=cruise, 3=WOT)";
    const Case cases[] = {
        {"nothing ticked", Images::LhEzk, {}, LogTrigger::None, kNoVariableMessage, {}, 0, TriggerSource::None, {}},
        {"no image, start at once: addresses of the empty images",
         Images::None,
         {0},
         LogTrigger::None,
         "",
         {0, 1},
         4,
         TriggerSource::None,
         {"RPM"}},
        {"no image, trigger chosen",
         Images::None,
         {0},
         LogTrigger::Wot,
         kTriggerNeedsEpromMessage,
         {},
         0,
         TriggerSource::None,
         {}},
        {"only aux with a trigger",
         Images::LhEzk,
         {41},
         LogTrigger::Wot,
         kNoTriggerSourceMessage,
         {},
         0,
         TriggerSource::None,
         {}},
        {"only aux, no trigger option chosen starts at once",
         Images::LhEzk,
         {41},
         std::nullopt,
         "",
         {14, 18, 38},
         4,
         TriggerSource::None,
         {"(aux 1)"}},
        {"LH with an EZK loaded still records the ignition marker and knock count",
         Images::LhEzk,
         {0},
         LogTrigger::Wot,
         "",
         {0, 1, 7, 14, 18},
         7,
         TriggerSource::LH23,
         {"RPM"}},
        {"LH by engine speed",
         Images::LhEzk,
         {3},
         LogTrigger::Rpm,
         "",
         {0, 1, 4, 14, 18},
         7,
         TriggerSource::LH23,
         {"MAF voltage [V]"}},
        {"injection needs the three bits",
         Images::LhEzk,
         {6},
         LogTrigger::None,
         "",
         {0, 1, 5, 10, 11, 12, 14, 18},
         11,
         TriggerSource::None,
         {"Inj duty cycle [%]"}},
        {"EZK by engine speed",
         Images::LhEzk,
         {24},
         LogTrigger::Rpm,
         "",
         {14, 15, 16, 18},
         5,
         TriggerSource::EZK,
         {"Ign adv [\xC2\xB0]"}},
        {"EZK by the full-throttle bit",
         Images::LhEzk,
         {25},
         LogTrigger::Wot,
         "",
         {14, 17, 18, 22},
         4,
         TriggerSource::EZK,
         {"Load [%]"}},
        {"EZK source when only the EZK is loaded and LH slots are not ticked",
         Images::EzkOnly,
         {26, 31},
         LogTrigger::Wot,
         "",
         {14, 18, 22, 23},
         12,
         TriggerSource::EZK,
         [&] {
             auto h = KR();
             h.insert(h.begin(), "Knock count");
             return h;
         }()},
        {"LH slots without an LH 2.3 image take the LH 2.2 source",
         Images::EzkOnly,
         {0},
         LogTrigger::Rpm,
         "",
         {0, 1, 14, 18, 24},
         9,
         TriggerSource::LH22,
         {"RPM"}},
        {"LH 2.2 by the WOT switch: no marker",
         Images::Lh22Ezf,
         {22, 32},
         LogTrigger::Wot,
         "",
         {29, 30, 31},
         9,
         TriggerSource::LH22,
         {th, "RPM"}},
        {"EZF by engine speed",
         Images::Lh22Ezf,
         {34},
         LogTrigger::Rpm,
         "",
         {31, 32},
         7,
         TriggerSource::EZF,
         {"Vacuum [inHg]"}},
        {"EZF by the WOT switch",
         Images::Lh22Ezf,
         {35},
         LogTrigger::Wot,
         "",
         {33, 37},
         4,
         TriggerSource::EZF,
         {"A/F ratio"}},
        {"columns: LH 2.3, EZK, LH 2.2, EZF, aux",
         Images::LhEzk,
         {41, 32, 13, 31, 0},
         LogTrigger::None,
         "",
         {0, 1, 14, 18, 23, 24, 31, 38},
         25,
         TriggerSource::None,
         [&] {
             auto h = KR();
             h.insert(h.begin(), "RPM");
             for (const char* x : {"RPM", "RPM", "(aux 1)"}) h.push_back(x);
             return h;
         }()},
    };
    AuxInputs aux;
    aux.SetAuxEnabled(1, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Loaded images = MakeImages(c.images);
        LogSetup setup = SetupWith(c.ticked, c.trigger, images.ignition, aux);
        FakeDataLogDevice device;
        LogRunPlan plan;
        EXPECT_EQ(PrepareLoggingRun(setup, images.fuel, images.ignition, aux, device, plan), c.message);
        if (!c.message.empty()) {
            EXPECT_TRUE(device.log.empty()) << "refused before any device I/O";
            continue;
        }
        EXPECT_EQ(plan.fieldChannels, c.channels);
        EXPECT_EQ(plan.recordSize, c.recordSize);
        EXPECT_EQ(plan.source, c.source);
        std::vector<std::string> headers = c.headers;
        headers.insert(headers.begin(), "Time [s]");
        EXPECT_EQ(plan.headers, headers);
        // The device got the same list: address bytes of the images' variables.
        EXPECT_EQ(device.sizes, plan.sizes);
        ASSERT_EQ(device.addresses.size(), c.channels.size());
        for (std::size_t i = 0; i < c.channels.size(); ++i) {
            const LogChannel& channel = LogChannelByNumber(c.channels[i]);
            EXPECT_EQ(device.addresses[i], LogAddressByte(ChannelAddress(channel, images.fuel, images.ignition)))
                << channel.name;
        }
    }
}

TEST(PrepareLoggingRun, AddressByteRule) {
    const std::pair<int, int> cases[] = {{0xF710, 0x90}, {0x7F, 0x7F},   {0xF790, 0x10},
                                         {0xF6FF, 0xFF}, {0xF700, 0x80}, {0x1234, 0x34}};
    for (auto [address, byte] : cases) EXPECT_EQ(LogAddressByte(address), byte) << address;
}

TEST(PrepareLoggingRun, DeviceSetUpInOrderWithTheSwitchFilters) {
    AuxInputs aux;
    aux.SetAuxFilter(1, 4);
    aux.SetAuxFilter(3, 5);
    struct Case {
        const char* label;
        Images images;
        std::vector<int> ticked;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"LH 2.3 and EZK: the aux filters, then the rate, then the knock counter",
         Images::LhEzk,
         {0},
         {"configure", "filter 2 4", "filter 3 0", "filter 4 5", "filter 5 0", "rate 100",
          "ram 2 " + std::to_string(Load(eprom_test::EZKImage()).GetVariableAddress(7)) + " 1"}},
        {"LH 2.2 and EZF: the switch filters follow",
         Images::Lh22Ezf,
         {13},
         {"configure", "filter 2 4", "filter 3 0", "filter 4 5", "filter 5 0", "filter 1 2", "filter 2 3", "filter 3 0",
          "filter 4 0", "filter 2 3", "filter 3 0", "filter 4 0", "filter 5 1", "filter 6 1", "rate 100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Loaded images = MakeImages(c.images);
        LogSetup setup = SetupWith(c.ticked, LogTrigger::None, images.ignition, aux);
        FakeDataLogDevice device;
        device.ram = 77;
        LogRunPlan plan;
        EXPECT_EQ(PrepareLoggingRun(setup, images.fuel, images.ignition, aux, device, plan), "");
        EXPECT_EQ(device.log, c.log);
        EXPECT_EQ(plan.rate, 10);
        EXPECT_EQ(setup.Knock().label.text, "0");
        EXPECT_FALSE(setup.Knock().label.red);
    }
    const Loaded images = MakeImages(Images::LhEzk);
    LogSetup setup = SetupWith({0}, LogTrigger::None, images.ignition, aux);
    FakeDataLogDevice device;
    device.ram = 77;
    LogRunPlan plan;
    ASSERT_EQ(PrepareLoggingRun(setup, images.fuel, images.ignition, aux, device, plan), "");
    EXPECT_EQ(plan.knockStart, 77);
    EXPECT_EQ(setup.Knock().state.lastKnockCounter, 77);
}

TEST(PrepareLoggingRun, DeviceFailuresAndAMissingRate) {
    const AuxInputs aux;
    const Loaded images = MakeImages(Images::LhEzk);
    struct Case {
        const char* label;
        bool configureOk, rateOk, rateList;
        std::string message;
        bool rateSent;
    };
    const Case cases[] = {
        {"configure refused", false, true, true, kDeviceErrorMessage, false},
        {"rate refused", true, false, true, kDeviceErrorMessage, true},
        {"no rate in the list", true, true, false, kNoRateMessage, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        LogSetup setup;
        for (const char* command : {"", "LH"}) setup.SetupLogVariables(command, images.ignition, aux);
        setup.OnVariableChecked(0, true);
        if (c.rateList) setup.FillRateList();
        FakeDataLogDevice device;
        device.configureOk = c.configureOk;
        device.rateOk = c.rateOk;
        LogRunPlan plan;
        EXPECT_EQ(PrepareLoggingRun(setup, images.fuel, images.ignition, aux, device, plan), c.message);
        EXPECT_EQ(std::count(device.log.begin(), device.log.end(), "rate 100"), c.rateSent ? 1 : 0);
    }
}

} // namespace

} // namespace kv
