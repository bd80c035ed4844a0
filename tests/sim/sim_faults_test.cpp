// Fault injection of the simulated device: the fault list text, determinism by seed, each fault's
// effect on the reports, unplug and replug, USB frame timing.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <random>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

struct SpecCase {
    const char* text;
    bool ok;
    const char* messagePart; // for bad specs: a piece of the message
};

class SimFaultSpecTest : public ::testing::TestWithParam<SpecCase> {};

TEST_P(SimFaultSpecTest, ParsesOrExplains) {
    const SpecCase& c = GetParam();
    const Parsed<SimFaultSpec> parsed = ParseSimFaultSpec(c.text);
    const std::string& msg = parsed.Error();
    if (c.ok) {
        EXPECT_TRUE(parsed.Ok());
        EXPECT_EQ(msg, "");
    } else {
        EXPECT_FALSE(parsed.Ok());
        EXPECT_NE(msg.find(c.messagePart), std::string::npos) << msg;
        SimOptions o;
        o.faults = c.text;
        FakeClock clock;
        EXPECT_EQ(MakeSimulatedBackend(o, clock), nullptr);
        EXPECT_EQ(ValidateSimOptions(o), msg);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Specs, SimFaultSpecTest,
    ::testing::Values(SpecCase{"", true, ""}, SpecCase{"drop=0.1,dup=0.2,late=0.3,garble=0.4,crc=1,seed=7", true, ""},
                      SpecCase{"refuse=0.1", true, ""}, SpecCase{"refuse=2", false, "refuse must be a number"},
                      SpecCase{" silent , unplug-after=40 ", true, ""}, SpecCase{"late=0.5,late-ms=20", true, ""},
                      SpecCase{"drop=1.5", false, "drop must be a number from 0 to 1"},
                      SpecCase{"drop=abc", false, "drop must be a number"}, SpecCase{"drop", false, "needs a value"},
                      SpecCase{"jitter=0.1", false, "unknown fault \"jitter\""},
                      SpecCase{"unplug-after=-3", false, "whole number of reports"},
                      SpecCase{"seed=x", false, "seed must be a whole number"},
                      SpecCase{"silent=1", false, "silent takes no value"},
                      SpecCase{"drop=0.1,,dup=0.1", false, "empty entry"}, SpecCase{"stall=0", true, ""},
                      SpecCase{"unplug-vacuum", true, ""}, SpecCase{"vacuum-feed-off", true, ""},
                      SpecCase{"unplug-vacuum=1", false, "unplug-vacuum takes no value"},
                      SpecCase{"stall=x", false, "stall must be a whole number of reports"}));

TEST(SimFaultSpecTest, ValuesLandInTheSpec) {
    const Parsed<SimFaultSpec> parsed =
        ParseSimFaultSpec("drop=0.25,unplug-after=12,seed=99,silent,late-ms=40,stall=7");
    ASSERT_TRUE(parsed.Ok()) << parsed.Error();
    const SimFaultSpec& s = *parsed;
    EXPECT_EQ(s.stallAfter, 7);
    EXPECT_DOUBLE_EQ(s.drop, 0.25);
    EXPECT_EQ(s.unplugAfter, 12);
    EXPECT_EQ(s.seed, 99U);
    EXPECT_TRUE(s.silent);
    EXPECT_EQ(s.lateMs, 40);
}

TEST(SimOptionsTest, BadOptionsAreExplained) {
    struct Case {
        void (*change)(SimOptions&);
        const char* part;
    } cases[] = {
        {[](SimOptions& o) { o.ignition = "sometimes"; }, "Bad ignition mode"},
        {[](SimOptions& o) { o.ignitionScript = "off@10,on"; }, "Bad ignition script"},
        {[](SimOptions& o) { o.firmwareVersion = ""; }, "Bad device firmware version"},
        {[](SimOptions& o) { o.pemFirmwareVersion = "1.000x"; }, "Bad module firmware version"},
    };
    for (const auto& c : cases) {
        SimOptions o;
        c.change(o);
        EXPECT_NE(ValidateSimOptions(o).find(c.part), std::string::npos) << c.part;
    }
    EXPECT_EQ(ValidateSimOptions(SimOptions{}), "");
}

// Everything a fixed request script gets back: each report read, or a marker for a time-out.
std::vector<std::string> RunScript(const std::string& faults) {
    SimOptions o;
    o.faults = faults;
    SimRig rig(o);
    std::vector<std::string> seen;
    for (int i = 0; i < 150; ++i) {
        rig.host->Send(i % 3 == 0 ? Bytes("v") : i % 3 == 1 ? Bytes("t") : B{0x85, 'L', 0, 0, 64});
        HidReport r{};
        while (rig.sim->Read(r, 20) == HidReadResult::Ok) seen.emplace_back(r.begin(), r.end());
        seen.emplace_back("timeout");
    }
    return seen;
}

TEST(SimFaultTest, SameSeedRepeatsTheRunExactlyAndAnotherSeedDoesNot) {
    const std::string parsed = "drop=0.1,dup=0.1,late=0.1,garble=0.1,late-ms=30";
    const auto a = RunScript(parsed + ",seed=5");
    EXPECT_EQ(a, RunScript(parsed + ",seed=5"));
    EXPECT_NE(a, RunScript(parsed + ",seed=6"));
    EXPECT_NE(a, RunScript("")) << "the faults did change something";
}

struct EffectCase {
    const char* name;
    const char* faults;
    int expectedReports; // reports that arrive for one ping
    bool contentIntact;  // every arriving report is the plain answer
};

class SimFaultEffectTest : public ::testing::TestWithParam<EffectCase> {};

TEST_P(SimFaultEffectTest, EachFaultDoesWhatItSays) {
    const EffectCase& c = GetParam();
    SimOptions o;
    o.faults = c.faults;
    SimRig rig(o);
    rig.host->Send(Bytes("t"));
    std::vector<HidReport> got;
    HidReport r{};
    while (rig.sim->Read(r, 500) == HidReadResult::Ok) got.push_back(r);
    EXPECT_EQ(static_cast<int>(got.size()), c.expectedReports);
    HidReport plain{};
    plain[1] = 0x10;
    plain[2] = 'T';
    for (const auto& g : got) EXPECT_EQ(g == plain, c.contentIntact);
}

INSTANTIATE_TEST_SUITE_P(Effects, SimFaultEffectTest,
                         ::testing::Values(EffectCase{"None", "", 1, true}, EffectCase{"Drop", "drop=1", 0, true},
                                           EffectCase{"Dup", "dup=1", 2, true},
                                           EffectCase{"Garble", "garble=1", 1, false},
                                           EffectCase{"Late", "late=1,late-ms=300", 1, true},
                                           EffectCase{"Silent", "silent", 0, true},
                                           EffectCase{"RequestLost", "drop-out=1", 0, true}),
                         [](const ::testing::TestParamInfo<EffectCase>& info) { return std::string(info.param.name); });

TEST(SimFaultTest, LateReportArrivesAfterItsDelay) {
    SimOptions o;
    o.faults = "late=1,late-ms=300";
    SimRig rig(o);
    rig.host->Send(Bytes("t"));
    HidReport r{};
    const std::int64_t t0 = rig.clock.now;
    EXPECT_EQ(rig.sim->Read(r, 200), HidReadResult::Timeout);
    EXPECT_EQ(rig.sim->Read(r, 200), HidReadResult::Ok);
    EXPECT_EQ(rig.clock.now - t0, 300);
}

TEST(SimFaultTest, CrcFaultCorruptsModuleBlockReads) {
    SimOptions o;
    o.faults = "crc=1";
    SimRig rig(o);
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.host->Exchange({0x82, 1}, 1);
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_EQ(rig.host->Exchange({0x95, 'L'}, 1), Bytes("1"));
    const B reply = rig.host->Exchange({0x92, 0, 0}, 67);
    ASSERT_EQ(reply.size(), 67U);
    SimCrc check;
    check.Update(0);
    check.Update(0);
    check.Update(reply.data(), 66);
    EXPECT_NE(check.Register(), 0);
    EXPECT_EQ(reply[66], '1');
}

TEST(SimFaultTest, RefuseFaultRefusesWellFormedBlocks) {
    SimOptions o;
    o.faults = "refuse=1";
    SimRig rig(o);
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.host->Exchange({0x82, 1}, 1);
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_EQ(rig.host->Exchange({0x95, 'L'}, 1), Bytes("1"));
    B block{0x91, 0x40, 0x00};
    B crcIn{0x40, 0x00};
    for (int i = 0; i < 64; ++i) {
        block.push_back(0x5A);
        crcIn.push_back(0x5A);
    }
    const std::uint16_t crc = CrcOf(crcIn);
    block.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    block.push_back(static_cast<std::uint8_t>(crc >> 8));
    EXPECT_EQ(rig.host->Exchange(block, 1), Bytes("0"));
    EXPECT_EQ(rig.Device().Module(kSimLH).memory[0x40], 0xFF) << "a refused block is not stored";

    // The firmware loader refuses its blocks too, and keeps no record of them.
    rig.host->Send({'F', 0x6B, 0x3C});
    ASSERT_EQ(rig.host->Exchange(Bytes("kq8v"), 1), Bytes("F"));
    B fw{0x12, 0x34};
    const B data(256, 0x33);
    fw.insert(fw.end(), data.begin(), data.end());
    const std::uint16_t fwCrc = CrcOf(data);
    fw.push_back(static_cast<std::uint8_t>(fwCrc & 0xFF));
    fw.push_back(static_cast<std::uint8_t>(fwCrc >> 8));
    EXPECT_EQ(rig.host->Exchange(fw, 1), Bytes("0"));
    EXPECT_TRUE(rig.Device().LoaderBlocks().empty());
}

TEST(SimFaultTest, UnplugAfterReportsThenReplug) {
    SimOptions o;
    o.faults = "unplug-after=4";
    SimRig rig(o);
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T")); // reports 1 and 2
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T")); // reports 3 and 4: gone after this
    HidReport r{};
    EXPECT_EQ(rig.sim->Read(r, 50), HidReadResult::Error);
    EXPECT_EQ(rig.sim->Write(r, 50), HidWriteResult::Gone);
    EXPECT_TRUE(rig.sim->Enumerate().empty());
    EXPECT_FALSE(rig.sim->Open("sim:kestrovane"));

    rig.sim->Replug();
    EXPECT_EQ(rig.sim->Read(r, 50), HidReadResult::Error) << "the old handle stays dead";
    const auto found = rig.sim->Enumerate();
    ASSERT_EQ(found.size(), 1U);
    ASSERT_TRUE(rig.sim->Open(found[0].path));
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T"));
}

TEST(SimFaultTest, UnplugKeepsTheCarAndItsMemories) {
    SimRig rig;
    ASSERT_EQ(rig.host->Exchange({0x86, 'L', 0, 8, 1, 0x42}, 1), Bytes("1"));
    rig.sim->Unplug();
    rig.clock.SleepMs(10000);
    rig.sim->Replug();
    ASSERT_TRUE(rig.sim->Open(rig.sim->Enumerate().at(0).path));
    EXPECT_EQ(rig.host->Exchange({0x85, 'L', 0, 8, 1}, 2), (B{0x42, '1'}));
}

TEST(SimTimingTest, UsbTimingCostsOneFramePerReportAndReadsWaitOnTheClock) {
    SimRig rig({}, SimAnswers::AfterAFrame);
    B expected(100, 0xFF);
    expected.push_back('1');
    std::int64_t t0 = rig.clock.now;
    ASSERT_EQ(rig.host->Exchange({'r', 0, 0, 0, 100}, 101), expected);
    EXPECT_EQ(rig.clock.now - t0, 1 + 1 + 4) << "one report out, the answer one frame on the bus, four reports in";
    HidReport ping{};
    ping[1] = 't';
    ASSERT_EQ(rig.sim->Write(ping, 200), HidWriteResult::Ok);
    HidReport answer{};
    EXPECT_EQ(rig.sim->Read(answer, 0), HidReadResult::Timeout) << "no answer inside the write";
    rig.sim->FlushInput();
    EXPECT_EQ(rig.sim->Read(answer, 5), HidReadResult::Ok) << "an answer on the bus arrives after a flush";
    EXPECT_EQ(answer[2], 'T');

    SimRig plain;
    t0 = plain.clock.now;
    HidReport r{};
    EXPECT_EQ(plain.sim->Read(r, 150), HidReadResult::Timeout);
    EXPECT_EQ(plain.clock.now - t0, 150) << "an idle read waits its time-out on the clock";
    t0 = plain.clock.now;
    EXPECT_EQ(plain.host->Exchange(Bytes("t"), 1), Bytes("T"));
    EXPECT_EQ(plain.clock.now, t0) << "without USB timing an answer costs no time";
}

// A device that stops taking output reports: the writes after the first N are not taken; each
// costs its time-out on the clock, and the device sees none of them.
TEST(SimFaultTest, StallStopsTakingOutputReports) {
    SimOptions o;
    o.faults = "stall=2";
    SimRig rig(o);
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T")); // report 1
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T")); // report 2: the last one taken
    HidReport ping{};
    ping[1] = 't';
    const auto before = rig.clock.now;
    EXPECT_EQ(rig.sim->Write(ping, 200), HidWriteResult::Timeout);
    EXPECT_EQ(rig.clock.now - before, 200);
    HidReport r{};
    EXPECT_EQ(rig.sim->Read(r, 100), HidReadResult::Timeout) << "the request never reached the device";
    EXPECT_FALSE(rig.sim->Enumerate().empty()) << "still on the bus";
}

// As hidraw: a full queue keeps what it holds and drops the reports that arrive.
TEST(SimQueueTest, DriverQueueKeepsTheOldestReports) {
    SimRig rig;
    ASSERT_TRUE(rig.sim->SetInputQueueSize(4));
    EXPECT_FALSE(rig.sim->SetInputQueueSize(0));
    for (std::size_t i = 0; i < rig.Device().EmulatorMemory().size(); ++i)
        rig.Device().EmulatorMemory()[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 6; ++i) rig.host->Send({'r', 0, static_cast<std::uint8_t>(i), 0, 1});
    HidReport r{};
    std::vector<int> answered;
    while (rig.sim->Read(r, 10) == HidReadResult::Ok) answered.push_back(r[2]);
    EXPECT_EQ(answered, (std::vector<int>{0, 1, 2, 3}));
    rig.host->Send(Bytes("t"));
    rig.sim->FlushInput();
    EXPECT_EQ(rig.sim->Read(r, 10), HidReadResult::Timeout) << "flushed";
}

} // namespace

namespace {

TEST(SimRobustnessTest, RandomReportsNeverUpsetTheDevice) {
    SimRig rig;
    std::mt19937 rng(2024);
    HidReport r{};
    for (int i = 0; i < 20000; ++i) {
        HidReport junk{};
        for (auto& b : junk) b = static_cast<std::uint8_t>(rng());
        junk[0] = 0;                                                             // report ID
        if (i % 7 == 0) junk[1] = 0xFF;                                          // continuation reports too
        if (i % 11 == 0) junk[1] = static_cast<std::uint8_t>(0x80 + rng() % 32); // module commands
        ASSERT_EQ(rig.sim->Write(junk, 10), HidWriteResult::Ok);
        while (rig.sim->Read(r, 0) == HidReadResult::Ok) {}
        if (i % 1000 == 0) rig.clock.SleepMs(rng() % 5000);
    }
    HidReport numbered{};
    numbered[0] = 1;
    numbered[1] = 't';
    EXPECT_EQ(rig.sim->Write(numbered, 10), HidWriteResult::Failed) << "the device has no numbered reports";
    rig.clock.SleepMs(3000);
    ASSERT_FALSE(rig.sim->Device().InBootloader()) << "three exact bytes are needed to enter the loader";
    ASSERT_EQ(rig.sim->Enumerate().size(), 1U);
    ASSERT_TRUE(rig.sim->Open(rig.sim->Enumerate()[0].path));
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T"));
}

} // namespace

} // namespace kv
