// The simulated device at the report level: command answers, framing of long requests and
// replies, module detection, block transfers, the firmware loader, data-log streaming.
#include "sim_host.h"

#include <gtest/gtest.h>

#include <numeric>

namespace kv {

namespace {

using B = std::vector<std::uint8_t>;

TEST(SimCrcTest, KnownValueAndZeroRegisterAfterCheck) {
    EXPECT_EQ(CrcOf(Bytes("abc")), 0x9DC1);
    B block(64);
    std::iota(block.begin(), block.end(), 7);
    const std::uint16_t crc = CrcOf(block);
    SimCrc check;
    check.Update(block.data(), block.size());
    check.Update(static_cast<std::uint8_t>(crc & 0xFF));
    check.Update(static_cast<std::uint8_t>(crc >> 8));
    EXPECT_EQ(check.Register(), 0);
}

// ---------------------------------------------------------------------------------------------
// Each command's answer.

struct AnswerCase {
    const char* name;
    std::function<void(SimRig&)> setup;
    B request;
    B expected; // DATA payload expected first; empty = no answer at all
};

B EmulatorPattern() {
    B m(kSimMemorySize);
    for (std::size_t i = 0; i < m.size(); ++i) m[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return m;
}

void NoSetup(SimRig&) {}
void IgnitionOff(SimRig& r) { r.sim->SetIgnitionMode(SimIgnitionMode::Off); }
void PatternMemories(SimRig& r) {
    r.Device().EmulatorMemory() = EmulatorPattern();
    r.Device().Module(kSimEZK).memory = EmulatorPattern();
    r.Device().MarkMemoryChanged();
}
void PatternMemoriesIgnitionOff(SimRig& r) {
    PatternMemories(r);
    IgnitionOff(r);
}

class SimAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(SimAnswerTest, AnswersAsSpecified) {
    const AnswerCase& c = GetParam();
    SimRig rig;
    c.setup(rig);
    const std::size_t want = c.expected.empty() ? 1 : c.expected.size();
    const B got = rig.host->Exchange(c.request, want);
    EXPECT_EQ(got, c.expected);
}

const B kPattern = EmulatorPattern();

INSTANTIATE_TEST_SUITE_P(Commands, SimAnswerTest,
                         ::testing::Values(AnswerCase{"Ping", NoSetup, Bytes("t"), Bytes("T")},
                                           AnswerCase{"Version", NoSetup, Bytes("v"),
                                                      B{'6', '.', '0', '0', '3', 0, 0, 0}},
                                           AnswerCase{"IgnitionOn", NoSetup, B{0x81}, Bytes("1")},
                                           AnswerCase{"IgnitionOff", IgnitionOff, B{0x81}, Bytes("0")},
                                           AnswerCase{"SelectEcuModeL", NoSetup, Bytes("mL"), Bytes("1")},
                                           AnswerCase{"SelectEcuModeE", NoSetup, Bytes("mE"), Bytes("1")},
                                           AnswerCase{"SelectEcuModeBad", NoSetup, Bytes("mX"), Bytes("0")},
                                           AnswerCase{
                                               "EmulatorBlock", PatternMemories, B{'r', 0x01, 0x00, 0x00, 0x04},
                                               B{kPattern[256], kPattern[257], kPattern[258], kPattern[259], '1'}},
                                           AnswerCase{"EmulatorBlockPastEnd", PatternMemories,
                                                      B{'r', 0x3F, 0xFF, 0x00, 0x02}, Bytes("0")},
                                           AnswerCase{"PemReachable", NoSetup, B{0x88, 'L'}, Bytes("1")},
                                           AnswerCase{"PemReachableOtherKind", NoSetup, B{0x88, '?'}, Bytes("0")},
                                           AnswerCase{"PemReachableIgnitionOff", IgnitionOff, B{0x88, 'E'}, Bytes("0")},
                                           AnswerCase{"EcuReadEprom", PatternMemories, B{0x85, 'E', 0x00, 0x10, 3},
                                                      B{kPattern[16], kPattern[17], kPattern[18], '1'}},
                                           AnswerCase{"EcuReadEpromIgnitionOff",
                                                      PatternMemoriesIgnitionOff, B{0x85, 'E', 0x00, 0x10, 3},
                                                      B{0xFF, 0xFF, 0xFF, '0'}},
                                           AnswerCase{
                                               "EcuReadEpromPastEnd", PatternMemories, B{0x85, 'E', 0x3F, 0xF0, 64},
                                               [] {
                                                   B b(64, 0xFF);
                                                   b.push_back('0');
                                                   return b;
                                               }()},
                                           AnswerCase{"EcuWriteEprom", NoSetup, B{0x86, 'L', 0x12, 0x34, 2, 0xAA, 0xBB},
                                                      Bytes("1")},
                                           AnswerCase{"EcuWriteEpromIgnitionOff", IgnitionOff,
                                                      B{0x86, 'L', 0x12, 0x34, 1, 0xAA}, Bytes("0")},
                                           AnswerCase{"DetectStart", NoSetup, B{0x82, 3}, Bytes("1")},
                                           AnswerCase{"DetectStatusNothingSeen", NoSetup, B{0x8B}, B{0}},
                                           AnswerCase{"DetectStop", NoSetup, B{0x8C}, Bytes("1")},
                                           AnswerCase{"SelectUndetectedModule", NoSetup, B{0x95, 'L'}, Bytes("0")},
                                           AnswerCase{"PemVersionWithoutModule", NoSetup, B{0x96}, B{}},
                                           AnswerCase{"ReadBlockWithoutModule", NoSetup, B{0x92, 0, 0}, Bytes("0")},
                                           AnswerCase{"FinishWithoutModule", NoSetup, B{0x93, 0xBE, 0xEF}, Bytes("0")},
                                           AnswerCase{"ResetO2Adaptation", NoSetup, B{0x89}, Bytes("1")},
                                           AnswerCase{"ResetO2AdaptationIgnitionOff", IgnitionOff, B{0x89}, Bytes("0")},
                                           AnswerCase{"LogConfigure", NoSetup, B{'l', 'c', 2, 17, 1, 11, 2},
                                                      Bytes("1")},
                                           AnswerCase{"LogConfigureZeroSize", NoSetup, B{'l', 'c', 1, 17, 0},
                                                      Bytes("0")},
                                           AnswerCase{"LogRate", NoSetup, B{'l', 'r', 100}, Bytes("1")},
                                           AnswerCase{"LogRateZero", NoSetup, B{'l', 'r', 0}, Bytes("0")},
                                           AnswerCase{"LogStart", NoSetup, Bytes("lq"), Bytes("1")},
                                           AnswerCase{"LogStop", NoSetup, Bytes("l0"), Bytes("1")},
                                           AnswerCase{"KeepAliveWhileStopped", NoSetup, Bytes("lk"), Bytes("0")},
                                           AnswerCase{"FilterSet", NoSetup, B{'f', 2, 5}, Bytes("1")},
                                           AnswerCase{"FilterOutOfRange", NoSetup, B{'f', 2, 6}, Bytes("0")},
                                           AnswerCase{"PeriodIgnitionOff", IgnitionOff, Bytes("p"),
                                                      B{0xFF, 0xFF, 0xFF}},
                                           AnswerCase{"AuxVacuumIgnitionOff", IgnitionOff, B{'a', 6},
                                                      B{0x08, 0xEC}}, // 4.61 V: no vacuum
                                           AnswerCase{"RamReadIgnitionOff", IgnitionOff, B{0x84, 'L', 49, 2}, B{0, 0}},
                                           AnswerCase{"LoaderUnlockOutsideLoader", NoSetup, Bytes("kq8v"), B{}},
                                           AnswerCase{"UnknownCommand", NoSetup, B{0x7E}, B{}}),
                         [](const ::testing::TestParamInfo<AnswerCase>& info) { return std::string(info.param.name); });

TEST(SimAnswerTest, EcuWriteThenRunningReadSeesTheBytes) {
    SimRig rig;
    ASSERT_EQ(rig.host->Exchange({0x86, 'L', 0x3F, 0xFE, 2, 0x5A, 0xA5}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x85, 'L', 0x3F, 0xFE, 2}, 3), (B{0x5A, 0xA5, '1'}));
    EXPECT_EQ(rig.Device().Module(kSimEZK).memory[0x3FFE], 0xFF) << "the other module is untouched";
}

TEST(SimAnswerTest, RamReadCountIsClampedToThreeBytes) {
    SimRig rig;
    rig.host->Drain();
    rig.host->Send({0x84, 'L', 29, 7});
    const auto reply = rig.host->Receive(0x10, 31);
    ASSERT_EQ(reply.reports, 1);
    // Three bytes of the LH revolution period, the rest of the report zero padding.
    const std::uint32_t c = reply.bytes[0] | (reply.bytes[1] << 8) | (reply.bytes[2] << 16);
    EXPECT_GT(c, 0U);
    EXPECT_TRUE(std::all_of(reply.bytes.begin() + 3, reply.bytes.end(), [](std::uint8_t b) { return b == 0; }));
}

// ---------------------------------------------------------------------------------------------
// Framing.

TEST(SimFramingTest, LongRequestsSpanContinuationReports) {
    SimRig rig;
    // 15 log items: 33 request bytes, one full report and one continuation report.
    B configure{'l', 'c', 15};
    for (int i = 0; i < 15; ++i) {
        configure.push_back(static_cast<std::uint8_t>(5 + i % 4));
        configure.push_back(2);
    }
    rig.host->Drain();
    EXPECT_EQ(rig.host->Send(configure), 2);
    EXPECT_EQ(rig.host->Receive(0x10, 1).bytes.front(), '1');
    rig.host->Send(Bytes("lo"));
    EXPECT_EQ(rig.host->Receive(0x20, 30).bytes.size(), 31U) << "record of 30 bytes in one DATALOG report";

    // A 64-byte running write is 69 bytes: three reports; every byte lands.
    B write{0x86, 'E', 0x01, 0x00, 64};
    for (int i = 0; i < 64; ++i) write.push_back(static_cast<std::uint8_t>(0x40 + i));
    rig.host->Drain();
    EXPECT_EQ(rig.host->Send(write), 3);
    EXPECT_EQ(rig.host->Receive(0x10, 1).bytes.front(), '1');
    const auto& mem = rig.Device().Module(kSimEZK).memory;
    for (int i = 0; i < 64; ++i) ASSERT_EQ(mem[static_cast<std::size_t>(0x100 + i)], 0x40 + i) << i;
}

TEST(SimFramingTest, LongRepliesUseContinuationTypes) {
    SimRig rig;
    PatternMemories(rig);
    rig.host->Drain();
    rig.host->Send({'r', 0x00, 0x00, 0x01, 0x00}); // 256 bytes + ack = 257 bytes = 9 reports
    const auto reply = rig.host->Receive(0x10, 257);
    EXPECT_EQ(reply.reports, 9);
    EXPECT_TRUE(reply.typesOk);
    EXPECT_TRUE(std::equal(kPattern.begin(), kPattern.begin() + 256, reply.bytes.begin()));
    EXPECT_EQ(reply.bytes[256], '1');
}

TEST(SimFramingTest, StrayContinuationIgnoredAndNewRequestAbandonsPartialOne) {
    SimRig rig;
    HidReport stray{};
    stray[1] = 0xFF;
    stray[2] = 't';
    ASSERT_EQ(rig.sim->Write(stray, 200), HidWriteResult::Ok);
    HidReport r{};
    EXPECT_EQ(rig.sim->Read(r, 50), HidReadResult::Timeout) << "a continuation without a request is dropped";
    EXPECT_EQ(rig.Device().ProtocolFaults(), 1);

    // The first report of a 69-byte block write, then a ping: the ping is answered alone.
    HidReport partial{};
    partial[1] = 0x86;
    partial[2] = 'E';
    partial[5] = 64;
    ASSERT_EQ(rig.sim->Write(partial, 200), HidWriteResult::Ok);
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T"));
    HidReport tail{};
    tail[1] = 0xFF;
    ASSERT_EQ(rig.sim->Write(tail, 200), HidWriteResult::Ok);
    EXPECT_EQ(rig.sim->Read(r, 50), HidReadResult::Timeout) << "the abandoned request is not completed later";
    EXPECT_EQ(rig.Device().ProtocolFaults(), 2) << "the stray tail";
}

// Requests the device does not expect are ignored and counted: an unknown opcode, and in the
// loader anything but its own commands or its commands out of place.
TEST(SimFramingTest, UnexpectedRequestsAreIgnoredAndCounted) {
    SimRig rig;
    EXPECT_TRUE(rig.host->Exchange({0x7E}, 1).empty());
    EXPECT_EQ(rig.Device().ProtocolFaults(), 1);
    rig.host->Exchange({'F', 0x6B, 0x3C}, 1); // into the loader
    ASSERT_TRUE(rig.Device().InBootloader());
    std::vector<std::uint8_t> block{0x12, 0x34};
    block.resize(260, 0);
    const std::vector<std::vector<std::uint8_t>> unexpected = {
        {'t'},                // not a loader command
        block,                // a block before the unlock
        {'k', 'q', '8', 'w'}, // a wrong unlock
        {0xD1, 0xE1},         // a wrong restart
    };
    long faults = 1;
    for (const auto& request : unexpected) {
        EXPECT_TRUE(rig.host->Exchange(request, 1).empty());
        EXPECT_EQ(rig.Device().ProtocolFaults(), ++faults);
    }
    EXPECT_EQ(rig.host->Exchange({'k', 'q', '8', 'v'}, 1), Bytes("F"));
    EXPECT_EQ(rig.Device().ProtocolFaults(), faults);
}

// ---------------------------------------------------------------------------------------------
// Module detection and block transfers during power-up.

struct DetectCase {
    const char* name;
    bool lhFitted, ezkFitted;
    int mask;
    std::int64_t offMs; // ignition off for this long after the detection start; 0 = no power cycle
    int status;
};

class SimDetectTest : public ::testing::TestWithParam<DetectCase> {};

TEST_P(SimDetectTest, ModulesAreSeenWhenTheIgnitionComesOn) {
    const DetectCase& c = GetParam();
    SimOptions o;
    o.lhModuleFitted = c.lhFitted;
    o.ezkModuleFitted = c.ezkFitted;
    o.ignition = "auto";
    SimRig rig(o);
    ASSERT_EQ(rig.host->Exchange({0x82, static_cast<std::uint8_t>(c.mask)}, 1), Bytes("1"));
    if (c.offMs > 0) {
        rig.sim->ScheduleIgnition(rig.clock.now + 100, false);
        rig.sim->ScheduleIgnition(rig.clock.now + 100 + c.offMs, true);
        rig.clock.SleepMs(100 + c.offMs - 500);
        EXPECT_EQ(rig.host->Exchange({0x8B}, 1), B{0}) << "nothing seen while the ignition is off";
        rig.clock.SleepMs(1000);
    }
    EXPECT_EQ(rig.host->Exchange({0x8B}, 1), B{static_cast<std::uint8_t>(c.status)});
    EXPECT_EQ(rig.host->Exchange({0x8C}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x95, 'L'}, 1), Bytes((c.status & 1) ? "1" : "0"));
}

constexpr std::int64_t kPoweredDown = kSimPowerDownMs + 500;

INSTANTIATE_TEST_SUITE_P(Detection, SimDetectTest,
                         ::testing::Values(DetectCase{"BothFittedBothAsked", true, true, 3, kPoweredDown, 3},
                                           DetectCase{"OnlyLhAsked", true, true, 1, kPoweredDown, 1},
                                           DetectCase{"EzkMissing", true, false, 3, kPoweredDown, 1},
                                           DetectCase{"LhMissing", false, true, 3, kPoweredDown, 2},
                                           DetectCase{"NoPowerCycle", true, true, 3, 0, 0},
                                           DetectCase{"OffTooShortToPowerDown", true, true, 3, kSimPowerDownMs - 500,
                                                      0}),
                         [](const ::testing::TestParamInfo<DetectCase>& info) { return std::string(info.param.name); });

// Detection with a power cycle, then selection of the module.
void DetectAndSelect(SimRig& rig, std::uint8_t wire, int mask) {
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    ASSERT_EQ(rig.host->Exchange({0x82, static_cast<std::uint8_t>(mask)}, 1), Bytes("1"));
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    ASSERT_EQ(rig.host->Exchange({0x8B}, 1), B{static_cast<std::uint8_t>(mask)});
    ASSERT_EQ(rig.host->Exchange({0x8C}, 1), Bytes("1"));
    ASSERT_EQ(rig.host->Exchange({0x95, wire}, 1), Bytes("1"));
}

B WriteBlockRequest(int address, const B& data, bool goodCrc) {
    B crcInput{static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)};
    crcInput.insert(crcInput.end(), data.begin(), data.end());
    std::uint16_t crc = CrcOf(crcInput);
    if (!goodCrc) crc ^= 1;
    B req{0x91, static_cast<std::uint8_t>(address & 0xFF), static_cast<std::uint8_t>(address >> 8)};
    req.insert(req.end(), data.begin(), data.end());
    req.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    req.push_back(static_cast<std::uint8_t>(crc >> 8));
    return req;
}

TEST(SimBlockTest, WriteBlocksCheckTheirCrcAndReadBackVerifies) {
    SimRig rig;
    DetectAndSelect(rig, 'E', 2);
    B data(64);
    std::iota(data.begin(), data.end(), 100);
    EXPECT_EQ(rig.host->Exchange(WriteBlockRequest(0x2040, data, true), 1), Bytes("1"));
    B other(64, 0x11);
    EXPECT_EQ(rig.host->Exchange(WriteBlockRequest(0x2080, other, false), 1), Bytes("0"));
    EXPECT_EQ(rig.host->Exchange(WriteBlockRequest(0x3FC1, data, true), 1), Bytes("0")) << "past the end";
    EXPECT_EQ(rig.Device().Module(kSimEZK).memory[0x2080], 0xFF) << "a block with a bad CRC is not stored";

    // Read: 64 data bytes, CRC low, CRC high, ack; the CRC covers addrLo, addrHi, data.
    const B reply = rig.host->Exchange({0x92, 0x20, 0x40}, 67);
    ASSERT_EQ(reply.size(), 67U);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), reply.begin()));
    SimCrc check;
    check.Update(0x40);
    check.Update(0x20);
    check.Update(reply.data(), 66);
    EXPECT_EQ(check.Register(), 0);
    EXPECT_EQ(reply[66], '1');

    EXPECT_EQ(rig.host->Exchange({0x96}, 5), Bytes("1.00 "));
    EXPECT_EQ(rig.host->Exchange({0x93, 0xBE, 0xEF}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x92, 0x20, 0x40}, 1), Bytes("0")) << "no module selected after finish";
    EXPECT_EQ(rig.host->Exchange({0x85, 'E', 0x20, 0x40, 2}, 3), (B{100, 101, '1'})) << "the running unit sees it";
}

TEST(SimBlockTest, IgnitionOffDropsTheSelection) {
    SimRig rig;
    DetectAndSelect(rig, 'L', 1);
    rig.sim->SetIgnitionMode(SimIgnitionMode::Off);
    rig.clock.SleepMs(kSimPowerDownMs);
    rig.sim->SetIgnitionMode(SimIgnitionMode::On);
    EXPECT_EQ(rig.host->Exchange(WriteBlockRequest(0, B(64, 1), true), 1), Bytes("0"));
}

TEST(SimBlockTest, ModuleFirmwareUpdateRestartsTheModuleWithTheNewVersion) {
    SimOptions o;
    o.pemFirmwareVersion = "0.97";
    SimRig rig(o);
    DetectAndSelect(rig, 'L', 1);
    EXPECT_EQ(rig.host->Exchange({0x96}, 5), Bytes("0.97 "));
    for (int a = 0; a < kSimPemFirmwareSize; a += 64)
        ASSERT_EQ(rig.host->Exchange(WriteBlockRequest(a, B(64, static_cast<std::uint8_t>(a / 64)), true), 1),
                  Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x94, 0x4E, 0x27}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x82, 1}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x8B}, 1), B{0}) << "still restarting";
    rig.clock.SleepMs(2000);
    EXPECT_EQ(rig.host->Exchange({0x8B}, 1), B{1}) << "announces itself without a power cycle";
    EXPECT_EQ(rig.host->Exchange({0x8C}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x95, 'L'}, 1), Bytes("1"));
    EXPECT_EQ(rig.host->Exchange({0x96}, 5), Bytes("1.00 "));
}

// ---------------------------------------------------------------------------------------------
// Device firmware loader.

// A firmware block of `length` bytes of `fill`, padded with 0xFF.
B FirmwareBlock(std::uint8_t fill, bool goodCrc, std::size_t length = 256) {
    B data(256, 0xFF);
    std::fill(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length), fill);
    std::uint16_t crc = CrcOf(data);
    if (!goodCrc) crc ^= 0x8000;
    B req{0x12, 0x34};
    req.insert(req.end(), data.begin(), data.end());
    req.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    req.push_back(static_cast<std::uint8_t>(crc >> 8));
    return req;
}

// The firmware the loader takes: one 256-byte block per fill byte (the last one cut short).
B FirmwarePayload(const std::vector<std::uint8_t>& fills) {
    B payload;
    for (std::uint8_t f : fills) payload.insert(payload.end(), 256, f);
    if (!payload.empty()) payload.resize(payload.size() - 56); // the last block goes padded with 0xFF
    return payload;
}

struct LoaderCase {
    const char* name;
    std::vector<std::uint8_t> sent; // fill bytes of the blocks sent; 0 = the loader is unlocked again
    const char* versionAfter;
    int blocksSeen; // blocks the loader recorded since its last unlock
};

class SimLoaderTest : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(SimLoaderTest, LoaderTakesBlocksAndRestarts) {
    SimOptions o;
    o.firmwareVersion = "6.002";
    o.acceptedFirmware = FirmwarePayload({0xA0, 0xA1, 0xA2});
    SimRig rig(o);
    rig.host->Drain();
    rig.host->Send({'F', 0x6B, 0x3C});
    HidReport r{};
    EXPECT_EQ(rig.sim->Read(r, 100), HidReadResult::Timeout) << "entering the loader is not answered";
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), B{}) << "the loader does not answer pings";
    rig.host->Send({'F', 0x6B, 0x3C}); // a second attempt's entry is ignored
    EXPECT_EQ(rig.host->Exchange(Bytes("kq8v"), 1), Bytes("F"));
    EXPECT_EQ(rig.host->Send(FirmwareBlock(0x00, false)), 9) << "260 bytes take nine reports";
    rig.host->Drain();
    for (std::uint8_t fill : GetParam().sent) {
        if (fill == 0) {
            EXPECT_EQ(rig.host->Exchange(Bytes("kq8v"), 1), Bytes("F"));
        } else {
            EXPECT_EQ(rig.host->Exchange(FirmwareBlock(fill, true, fill == 0xA2 ? 200 : 256), 1), Bytes("1"));
        }
    }
    EXPECT_EQ(rig.host->Exchange(FirmwareBlock(0xA1, false), 1), Bytes("0"));
    EXPECT_EQ(static_cast<int>(rig.Device().LoaderBlocks().size()), GetParam().blocksSeen);
    EXPECT_EQ(rig.host->Exchange({0xD1, 0xE0}, 1), Bytes("2"));

    // The device leaves the bus: the open handle is dead and nothing is listed for a while.
    rig.clock.SleepMs(100);
    EXPECT_EQ(rig.sim->Read(r, 10), HidReadResult::Error);
    EXPECT_TRUE(rig.sim->Enumerate().empty());
    rig.clock.SleepMs(1500);
    const auto found = rig.sim->Enumerate();
    ASSERT_EQ(found.size(), 1U);
    EXPECT_EQ(found[0].vendorId, 0x1234);
    EXPECT_EQ(found[0].productId, 0x5851);
    ASSERT_TRUE(rig.sim->Open(found[0].path));
    EXPECT_EQ(rig.host->Exchange(Bytes("t"), 1), Bytes("T"));
    const B v = rig.host->Exchange(Bytes("v"), 8);
    EXPECT_EQ(std::string(v.begin(), v.begin() + 5), GetParam().versionAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, SimLoaderTest,
    ::testing::Values(LoaderCase{"NewFirmware", {0xA0, 0xA1, 0xA2}, "6.003", 3},
                      LoaderCase{"NothingLoaded", {}, "6.002", 0},
                      LoaderCase{"ABlockMissing", {0xA0, 0xA1}, "6.002", 2},
                      LoaderCase{"ABlockTwice", {0xA0, 0xA1, 0xA1, 0xA2}, "6.002", 4},
                      LoaderCase{"OutOfOrder", {0xA1, 0xA0, 0xA2}, "6.002", 3},
                      LoaderCase{"WrongContent", {0xA0, 0xA3, 0xA2}, "6.002", 3},
                      LoaderCase{"UnlockedAgainStartsOver", {0xA0, 0xA1, 0, 0xA0, 0xA1, 0xA2}, "6.003", 3}),
    [](const ::testing::TestParamInfo<LoaderCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Data-log streaming.

struct Record {
    B data;
    int start;
    std::uint32_t stamp;
};

// Reads every streamed record (size + 4 bytes each) that arrives within `ms` of clock time.
std::vector<Record> Collect(SimRig& rig, int recordSize, int ms) {
    std::vector<Record> out;
    const std::int64_t end = rig.clock.now + ms;
    while (rig.clock.now < end) {
        const auto msg =
            rig.host->Receive(0x20, static_cast<std::size_t>(recordSize + 4), static_cast<int>(end - rig.clock.now));
        if (msg.bytes.size() < static_cast<std::size_t>(recordSize + 4)) break;
        EXPECT_TRUE(msg.typesOk);
        Record r;
        r.data.assign(msg.bytes.begin(), msg.bytes.begin() + recordSize);
        r.start = msg.bytes[static_cast<std::size_t>(recordSize)];
        r.stamp = msg.bytes[static_cast<std::size_t>(recordSize + 1)] |
                  (msg.bytes[static_cast<std::size_t>(recordSize + 2)] << 8) |
                  (static_cast<std::uint32_t>(msg.bytes[static_cast<std::size_t>(recordSize + 3)]) << 16);
        out.push_back(r);
    }
    return out;
}

void StartLogging(SimRig& rig, const B& configure, int periodMs) {
    ASSERT_EQ(rig.host->Exchange(configure, 1), Bytes("1"));
    ASSERT_EQ(rig.host->Exchange({'l', 'r', static_cast<std::uint8_t>(periodMs)}, 1), Bytes("1"));
    ASSERT_EQ(rig.host->Exchange(Bytes("lq"), 1), Bytes("1"));
}

class SimStreamRateTest : public ::testing::TestWithParam<int> {};

TEST_P(SimStreamRateTest, OneRecordPerPeriodWithConsecutiveStamps) {
    const int period = GetParam();
    SimRig rig;
    StartLogging(rig, {'l', 'c', 2, 17, 1, 11, 2}, period);
    const auto records = Collect(rig, 3, 1000);
    ASSERT_EQ(static_cast<int>(records.size()), 1000 / period);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].stamp, i + 1) << i;
        EXPECT_EQ(records[i].start, 0) << i;
        EXPECT_EQ(records[i].data[0], 1) << "LH block marker: unit powered";
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, SimStreamRateTest, ::testing::Values(50, 100, 200));

TEST(SimStreamTest, IgnitionGapSkipsStampsAndLateFirstRecordCarriesStartCount) {
    SimOptions o;
    o.ignition = "off";
    SimRig rig(o);
    StartLogging(rig, {'l', 'c', 1, 17, 1}, 100);
    rig.sim->ScheduleIgnition(rig.clock.now + 350, true);
    rig.sim->ScheduleIgnition(rig.clock.now + 750, false);
    rig.sim->ScheduleIgnition(rig.clock.now + 1050, true);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(rig.host->Exchange(Bytes("lk"), 1), Bytes("1"));
    const auto records = Collect(rig, 1, 1300);
    std::vector<std::uint32_t> stamps;
    for (const auto& r : records) stamps.push_back(r.stamp);
    EXPECT_EQ(stamps, (std::vector<std::uint32_t>{4, 5, 6, 7, 11, 12, 13}));
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].start, 3) << "three periods preceded the first record";
    EXPECT_EQ(records[4].start, 0) << "only the first record of a run carries a start count";
}

TEST(SimStreamTest, StopEndsTheStreamAndMissingKeepAlivesPauseIt) {
    SimRig rig;
    StartLogging(rig, {'l', 'c', 1, 18, 1}, 100);
    EXPECT_EQ(Collect(rig, 1, 500).size(), 5U);
    ASSERT_EQ(rig.host->Exchange(Bytes("l0"), 1), Bytes("1"));
    EXPECT_TRUE(Collect(rig, 1, 500).empty());
    EXPECT_EQ(rig.host->Exchange(Bytes("lk"), 1), Bytes("0")) << "a keep-alive does not restart a stopped log";

    StartLogging(rig, {'l', 'c', 1, 18, 1}, 100);
    rig.clock.SleepMs(6000); // no keep-alive
    rig.host->Drain();
    EXPECT_TRUE(Collect(rig, 1, 500).empty()) << "streaming pauses without keep-alives";
    EXPECT_FALSE(rig.Device().IsLogging());

    // 6.5 s after the start: the next record is period 66; 1 to 50 came, 51 to 65 are lost.
    EXPECT_EQ(rig.host->Exchange(Bytes("lk"), 1), Bytes("1"));
    const auto resumed = Collect(rig, 1, 300);
    ASSERT_EQ(resumed.size(), 3U);
    EXPECT_EQ(resumed[0].stamp, 66U);
    EXPECT_EQ(resumed[0].start, 0) << "not the first record of the run";
}

TEST(SimStreamTest, ReadRecordAnswersOnTheDatalogChannelWithoutTrailer) {
    SimRig rig;
    ASSERT_EQ(rig.host->Exchange({'l', 'c', 3, 17, 1, 18, 1, 1, 1}, 1), Bytes("1"));
    rig.host->Send(Bytes("lo"));
    const auto rec = rig.host->Receive(0x20, 3);
    ASSERT_EQ(rec.reports, 1);
    EXPECT_EQ(B(rec.bytes.begin(), rec.bytes.begin() + 4), (B{1, 1, 1, 0}));
    EXPECT_EQ(rig.host->Receive(0x10, 1, 50).reports, 0) << "no acknowledgement";
}

TEST(SimStreamTest, StreamedReportsDoNotDisturbCommandReplies) {
    SimRig rig;
    StartLogging(rig, {'l', 'c', 1, 17, 1}, 50);
    rig.clock.SleepMs(500);
    rig.host->Send(Bytes("t"));
    EXPECT_EQ(rig.host->Receive(0x10, 1).bytes.front(), 'T');
    EXPECT_GE(rig.host->other_.size(), 10U) << "records queued before the reply stay available";
}

} // namespace

} // namespace kv
