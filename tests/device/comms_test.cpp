// The device link against a scripted HID layer: framing, routing, the receive filter, time-out
// accounting, reopen rules and every command's request bytes and failure value.
#include "device/comms.h"
#include "fake_hid.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

namespace kv {

namespace {

class CommsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(comms.Comms_Open()); }

    // Delivers `reports` once the clock reaches `atMs` (relative to now), as a device that
    // answers late would.
    void DeliverAt(std::int64_t atMs, std::vector<HidReport> reports) {
        const std::int64_t when = clock.now + atMs;
        hid.beforeRead = [this, when, reports](int timeoutMs) {
            if (clock.now + timeoutMs < when) return;
            clock.SleepMs(when - clock.now);
            hid.Queue(reports);
            hid.beforeRead = nullptr;
        };
    }

    FakeClock clock;
    FakeHid hid{clock};
    Comms comms{hid, clock};
};

// ---- transport ----

TEST_F(CommsTest, OpenPicksTheDeviceByVendorAndProductAndResetsTheLink) {
    EXPECT_EQ(hid.openedPaths, std::vector<std::string>{"/dev/hidraw-kv"});
    EXPECT_EQ(hid.queueSize, 32);
    EXPECT_TRUE(comms.Comms_IsOpen());
    EXPECT_EQ(comms.Link().State().txPosition, 1);
    EXPECT_EQ(comms.Link().State().receiverState, 1);
}

TEST(CommsOpen, NoMatchingDeviceLeavesTheLinkClosedWithNothingOpen) {
    FakeClock clock;
    FakeHid hid{clock};
    hid.devices = {{"/dev/a", 0x1234, 0x5850}, {"/dev/b", 0x1235, 0x5851}};
    Comms comms{hid, clock};
    EXPECT_FALSE(comms.Comms_Open());
    EXPECT_FALSE(comms.Comms_IsOpen());
    EXPECT_TRUE(hid.openedPaths.empty());
    EXPECT_FALSE(comms.Ping());
    EXPECT_TRUE(hid.written.empty());
}

TEST_F(CommsTest, UnplugWhileOpenClosesTheLinkAtTheNextRead) {
    hid.plugged = false;
    EXPECT_FALSE(comms.Ping());
    EXPECT_FALSE(comms.Comms_IsOpen());
    EXPECT_GE(hid.closes, 1);
    // and a read that fails leaves no stale reply bytes behind
    for (auto b : comms.Link().State().rxReport) EXPECT_EQ(b, 0);
}

TEST_F(CommsTest, UnplugSeenByAWriteClosesTheLinkAtOnce) {
    // The device leaves between the flush and the request: the first report's write fails on
    // the invalid handle, the link closes there, and neither the rest of the request nor a
    // reply read follows.
    hid.beforeRead = [this](int) { hid.plugged = false; };
    const int readsBefore = hid.reads;
    std::vector<int> addresses(15, 0x30), sizes(15, 2); // a two-report request
    EXPECT_FALSE(comms.DataLog_Configure(addresses, sizes));
    EXPECT_EQ(hid.writeAttempts, 1);
    EXPECT_EQ(hid.reads, readsBefore + 1); // the flush only
    EXPECT_FALSE(comms.Comms_IsOpen());
}

TEST_F(CommsTest, ReadTimeOutCancelsAndLeavesTheReportZero) {
    hid.Queue({MakeReport(DATA, 0x55)});
    ASSERT_TRUE(comms.Link().ReadReport());
    EXPECT_EQ(comms.Link().State().rxReport[2], 0x55);
    const auto before = clock.now;
    EXPECT_FALSE(comms.Link().ReadReport());
    EXPECT_EQ(clock.now - before, 200);
    EXPECT_EQ(hid.cancels, 1);
    for (auto b : comms.Link().State().rxReport) EXPECT_EQ(b, 0);
}

TEST(CommsReopen, CommandsFasterThanOncePerSecondNeverReopenButOneAfterASecondDoes) {
    FakeClock clock;
    FakeHid hid{clock};
    hid.plugged = false;
    Comms comms{hid, clock};
    EXPECT_FALSE(comms.IsIgnitionOn()); // the first command after start may try
    const int afterFirst = hid.enumerations;
    EXPECT_EQ(afterFirst, 1);
    hid.plugged = true; // device back, but commands keep coming every 0.5 s
    for (int i = 0; i < 10; ++i) {
        clock.SleepMs(500);
        EXPECT_FALSE(comms.IsIgnitionOn());
    }
    EXPECT_EQ(hid.enumerations, afterFirst);
    EXPECT_TRUE(hid.written.empty());
    clock.SleepMs(1000);
    hid.Script({{'1'}});
    EXPECT_TRUE(comms.IsIgnitionOn());
    EXPECT_EQ(hid.enumerations, afterFirst + 1);
}

// ---- transmit framing ----

struct FramingCase {
    int requestLength;
    int reports;
};

class FramingTest : public CommsTest, public ::testing::WithParamInterface<FramingCase> {};

TEST_P(FramingTest, RequestIsSplitIntoFirstAndContinuationReports) {
    const auto [n, reports] = GetParam();
    Bytes request(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) request[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i + 1);
    comms.Link().BeginTransmit();
    comms.Link().TransmitBytes(request);
    comms.Link().EndTransmit();
    ASSERT_EQ(static_cast<int>(hid.written.size()), reports);
    std::size_t at = 0;
    for (std::size_t r = 0; r < hid.written.size(); ++r) {
        const HidReport& rep = hid.written[r];
        EXPECT_EQ(rep[0], 0);
        std::size_t pos = 1;
        if (r > 0) {
            EXPECT_EQ(rep[pos++], 0xFF) << "continuation marker in report " << r;
        }
        for (; pos < rep.size(); ++pos) {
            const std::uint8_t want = at < request.size() ? request[at] : 0;
            EXPECT_EQ(rep[pos], want) << "report " << r << " byte " << pos;
            ++at;
        }
    }
    EXPECT_GE(at, request.size());
}

INSTANTIATE_TEST_SUITE_P(Lengths, FramingTest,
                         ::testing::Values(FramingCase{1, 1}, FramingCase{32, 1}, FramingCase{33, 2},
                                           FramingCase{63, 2}, FramingCase{64, 3}, FramingCase{94, 3},
                                           FramingCase{95, 4}, FramingCase{260, 9}));

TEST_F(CommsTest, EmptyRequestSendsNothing) {
    comms.Link().BeginTransmit();
    comms.Link().TransmitBytes({});
    comms.Link().EndTransmit();
    EXPECT_TRUE(hid.written.empty());
}

// ---- routing and ring buffers ----

TEST_F(CommsTest, SixtyFifthUnreadReportOfAChannelIsDroppedAndTheFirst64StayInOrder) {
    for (int i = 0; i < 65; ++i) hid.Queue({MakeReport(i == 0 ? DATALOG : DATALOG + 1, static_cast<std::uint8_t>(i))});
    for (int i = 0; i < 65; ++i) EXPECT_TRUE(comms.Link().RouteReport()) << i;
    EXPECT_EQ(comms.Link().State().ringCount[1], kRingBufferSize);
    EXPECT_EQ(comms.Link().State().ringCount[0], 0);
    comms.Link().BeginReceive(DATALOG);
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(comms.Link().ReceiveReport()) << i;
        EXPECT_EQ(comms.Link().State().rxReport[2], i);
    }
    EXPECT_FALSE(comms.Link().ReceiveReport());
}

TEST_F(CommsTest, RoutingByTypeByte) {
    struct Case {
        std::uint8_t type;
        bool routed;
        int channel;
    };
    const Case cases[] = {{0x10, true, 0},   {0x11, true, 0},   {0x20, true, 1},   {0x21, true, 1},
                          {0x00, false, -1}, {0x12, false, -1}, {0x22, false, -1}, {0xFF, false, -1}};
    for (const Case& c : cases) {
        const auto before = comms.Link().State().ringCount;
        hid.Queue({MakeReport(c.type, 1)});
        EXPECT_EQ(comms.Link().RouteReport(), c.routed) << int(c.type);
        for (int ch = 0; ch < 2; ++ch)
            EXPECT_EQ(comms.Link().State().ringCount[static_cast<std::size_t>(ch)],
                      before[static_cast<std::size_t>(ch)] + (ch == c.channel ? kHidReportSize : 0))
                << int(c.type);
    }
}

TEST_F(CommsTest, DataLogReportsArrivingDuringACommandStayForTheLogReader) {
    hid.onWrite = [this](const HidReport& r) {
        if (r[1] == 0xFF) return;
        hid.Queue({MakeReport(DATALOG, 7)});
        hid.Queue(FrameReply(DATA, {'T'}));
    };
    EXPECT_TRUE(comms.Ping());
    EXPECT_EQ(comms.Link().State().ringCount[1], kHidReportSize);
}

// ---- receive filter ----

TEST_F(CommsTest, ReceiveFilterDropsReportsOutOfSequence) {
    struct Case {
        const char* name;
        std::vector<HidReport> reports;
        int n;
        Bytes want;
    };
    auto cont = [](std::uint8_t tag) { return MakeReport(DATA + 1, tag); };
    std::vector<HidReport> twoReports = FrameReply(DATA, Bytes(40, 0x33));
    const Case cases[] = {
        {"continuation before the first report", {cont(9), MakeReport(DATA, 5)}, 1, {5}},
        {"stale first report inside a reply", {twoReports[0], MakeReport(DATA, 9), twoReports[1]}, 40, Bytes(40, 0x33)},
        {"other channel's first report", {MakeReport(DATALOG, 9), MakeReport(DATA, 4)}, 1, {4}},
        {"reply shorter than asked", {MakeReport(DATA, 1)}, 40, {}},
    };
    for (const Case& c : cases) {
        comms.Link().FlushChannel(DATA);
        comms.Link().FlushChannel(DATALOG);
        hid.Queue(c.reports);
        comms.Link().BeginReceive(DATA);
        EXPECT_EQ(comms.Link().ReceiveBytes(c.n), c.want) << c.name;
        comms.Link().EndReceive();
    }
}

TEST_F(CommsTest, ConsecutiveReceivesReadOneReplyAndEndReceiveDropsTheRest) {
    hid.Queue(FrameReply(DATA, {1, 2, 3, 4}));
    hid.Queue(FrameReply(DATA, {9}));
    comms.Link().BeginReceive(DATA);
    EXPECT_EQ(comms.Link().ReceiveBytes(2), (Bytes{1, 2}));
    EXPECT_EQ(comms.Link().ReceiveBytes(1), (Bytes{3}));
    comms.Link().EndReceive();
    comms.Link().BeginReceive(DATA);
    EXPECT_EQ(comms.Link().ReceiveBytes(1), (Bytes{9}));
}

// ---- time-out accounting ----

TEST_F(CommsTest, WaitDoesNotExpireWhileTheOtherChannelStreams) {
    // A data-log report every 50 ms for two seconds, then the reply.
    const std::int64_t start = clock.now;
    int streamed = 0;
    hid.beforeRead = [&](int timeoutMs) {
        const std::int64_t next = start + 50 * (streamed + 1);
        if (clock.now - start >= 2000) {
            hid.Queue(FrameReply(DATA, {'T'}));
            hid.beforeRead = nullptr;
            return;
        }
        if (next <= clock.now + timeoutMs) {
            clock.SleepMs(next - clock.now);
            hid.Queue({MakeReport(DATALOG, 0)});
            ++streamed;
        }
    };
    comms.Link().BeginReceive(DATA);
    EXPECT_EQ(comms.Link().ReceiveBytes(1), (Bytes{'T'}));
    EXPECT_GE(clock.now - start, 2000);
    EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);
}

TEST_F(CommsTest, SilentDeviceCostsAboutOneReadTimeout) {
    const auto before = clock.now;
    comms.Link().BeginReceive(DATA);
    EXPECT_TRUE(comms.Link().ReceiveBytes(1).empty());
    EXPECT_GE(clock.now - before, 200);
    EXPECT_LE(clock.now - before, 202);
}

TEST_F(CommsTest, LongEpromReadAllowsSixtyMillisecondsPerByte) {
    struct Case {
        std::int64_t replyAtMs;
        bool ok;
    };
    for (const Case c : {Case{3900, true}, Case{4300, false}}) {
        Bytes reply(64, 0x5A);
        reply.push_back('1');
        hid.onWrite = [&, c](const HidReport& r) {
            if (r[1] != 0x85) return;
            DeliverAt(c.replyAtMs, FrameReply(DATA, reply));
        };
        EXPECT_EQ(comms.EcuReadEprom(1, 0, 64).size(), c.ok ? 64u : 0u) << c.replyAtMs;
        EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);
        hid.beforeRead = nullptr;
    }
}

// ---- CRC and the byte rules ----

TEST(Crc, KnownValueAndReceiverCheck) {
    EXPECT_EQ(Crc16Of({'a', 'b', 'c'}), 0x9DC1);
    for (unsigned seed : {1u, 7u, 1234u}) {
        Bytes block(64);
        unsigned x = seed;
        for (auto& b : block) b = static_cast<std::uint8_t>((x = x * 1103515245u + 12345u) >> 16);
        const std::uint16_t c = Crc16Of(block);
        Crc16 rx;
        rx.CRC_Init();
        rx.CRC_Update(block.data(), block.size());
        rx.CRC_Update(static_cast<std::uint8_t>(c & 0xFF));
        rx.CRC_Update(static_cast<std::uint8_t>(c >> 8));
        EXPECT_TRUE(rx.CRC_IsZero()) << seed;
        block[5] ^= 1;
        rx.CRC_Init();
        rx.CRC_Update(block.data(), block.size());
        rx.CRC_Update(static_cast<std::uint8_t>(c & 0xFF));
        rx.CRC_Update(static_cast<std::uint8_t>(c >> 8));
        EXPECT_FALSE(rx.CRC_IsZero()) << seed;
    }
}

TEST(EcuRamAddress, ByteRule) {
    const std::pair<int, int> cases[] = {{0xF710, 0x90}, {0x7F, 0x7F},   {0xF790, 0x10}, {0xF6FF, 0xFF},
                                         {0xF700, 0x80}, {0x0120, 0x20}, {0x90, 0x90}};
    for (auto [address, byte] : cases) EXPECT_EQ(EcuRamAddressByte(address), byte) << std::hex << address;
}

TEST_F(CommsTest, EcuRamValuesFollowTheByteOrderFlagAndClampTheLength) {
    struct Case {
        int n;
        bool flag;
        int sentN;
        Bytes reply;
        std::int32_t value;
    };
    const Case cases[] = {{2, false, 2, {0x12, 0x34}, 0x1234}, {2, true, 2, {0x12, 0x34}, 0x3412},
                          {3, false, 3, {1, 2, 3}, 0x010203},  {3, true, 3, {1, 2, 3}, 0x030201},
                          {0, false, 1, {0xAB}, 0xAB},         {5, false, 3, {1, 2, 3}, 0x010203}};
    for (const Case& c : cases) {
        comms.SetRamByteOrderFlag(c.flag);
        hid.Script({c.reply});
        const std::size_t from = hid.written.size();
        EXPECT_EQ(comms.ReadEcuRam(1, 0x40, c.n), c.value);
        EXPECT_EQ(hid.written[from][4], c.sentN);
    }
}

TEST_F(CommsTest, EcuRamReadThatFailsIsNoValue) {
    // A zero that was read, then no answer.
    hid.Script({Bytes{0, 0}});
    EXPECT_EQ(comms.TryReadEcuRam(1, 0x40, 2), std::optional<std::int32_t>(0));
    EXPECT_EQ(comms.TryReadEcuRam(1, 0x40, 2), std::nullopt);
    EXPECT_EQ(comms.ReadEcuRam(1, 0x40, 2), 0);
}

// ---- the command set ----

std::string Str(bool v) { return v ? "true" : "false"; }
std::string Str(std::int32_t v) { return std::to_string(v); }
std::string Str(const std::string& v) { return "'" + v + "'"; }
std::string Str(const Bytes& v) {
    std::ostringstream s;
    for (auto b : v) s << int(b) << ' ';
    return s.str();
}

Bytes Iota(int n, int start = 0) {
    Bytes b(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(start + i);
    return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes BlockWithCrc(int address) {
    Bytes data = Iota(64, 3);
    Crc16 c;
    c.CRC_Init();
    c.CRC_Update(static_cast<std::uint8_t>(address & 0xFF));
    c.CRC_Update(static_cast<std::uint8_t>(address >> 8));
    c.CRC_Update(data.data(), data.size());
    const std::uint16_t crc = c.CRC_Finish();
    return Cat(data, {static_cast<std::uint8_t>(crc & 0xFF), static_cast<std::uint8_t>(crc >> 8)});
}

struct CommandCase {
    const char* name;
    std::function<std::string(Comms&)> call;
    Bytes request; // the request must start with these bytes
    Bytes reply;   // a reply that succeeds
    std::string ok;
    std::string failed;       // with no reply at all
    std::optional<Bytes> bad; // a wrong reply, giving `failed` as well
};

std::vector<CommandCase> CommandCases() {
    const Bytes fw = Iota(256);
    return {
        {"Ping", [](Comms& c) { return Str(c.Ping()); }, {'t'}, {'T'}, "true", "false", Bytes{'t'}},
        {"QuickPing", [](Comms& c) { return Str(c.QuickPing()); }, {'t'}, {'T'}, "true", "false", Bytes{'1'}},
        {"GetFirmwareVersion",
         [](Comms& c) { return Str(c.GetFirmwareVersion()); },
         {'v'},
         {'6', '.', '0', '0', '3', 0, 0, 0},
         "'6.003'",
         "''",
         Bytes{0, '6', '.', '0', '0', '3', 0, 0}},
        {"ReadEmulatorBlock",
         [](Comms& c) { return Str(c.ReadEmulatorBlock(0x1234, 4)); },
         {'r', 0x12, 0x34, 0, 4},
         {1, 2, 3, 4, '1'},
         "1 2 3 4 ",
         "",
         Bytes{1, 2, 3, 4, '0'}},
        {"SelectEcuMode",
         [](Comms& c) { return Str(c.SelectEcuMode('E')); },
         {'m', 'E'},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"PemIsReachable",
         [](Comms& c) { return Str(c.PemIsReachable(2)); },
         {0x88, 'E'},
         {'1'},
         "true",
         "false",
         Bytes{'2'}},
        {"EcuReadEprom",
         [](Comms& c) { return Str(c.EcuReadEprom(1, 0x0102, 3)); },
         {0x85, 'L', 1, 2, 3},
         {9, 8, 7, '1'},
         "9 8 7 ",
         "",
         Bytes{9, 8, 7, 'x'}},
        {"EcuWriteEprom",
         [](Comms& c) { return Str(c.EcuWriteEprom(2, 0x3FFF, {0xAA})); },
         {0x86, 'E', 0x3F, 0xFF, 1, 0xAA},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"PemDetectStart",
         [](Comms& c) { return Str(c.PemDetectStart(3)); },
         {0x82, 3},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"PemDetectStatus", [](Comms& c) { return Str(c.PemDetectStatus()); }, {0x8B}, {2}, "2", "-1", {}},
        {"PemDetectStop", [](Comms& c) { return Str(c.PemDetectStop()); }, {0x8C}, {'1'}, "true", "false", Bytes{0}},
        {"PemSelect", [](Comms& c) { return Str(c.PemSelect(1)); }, {0x95, 'L'}, {'1'}, "true", "false", Bytes{'0'}},
        {"PemGetFirmwareVersion",
         [](Comms& c) { return Str(c.PemGetFirmwareVersion()); },
         {0x96},
         {' ', '0', '.', 3, '9'},
         "'0.9'",
         "''",
         {}},
        {"PemWriteBlock",
         [](Comms& c) { return Str(c.PemWriteBlock(0x1240, Iota(64, 3))); },
         Cat({0x91, 0x40, 0x12}, BlockWithCrc(0x1240)),
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"PemReadBlock",
         [](Comms& c) { return Str(c.PemReadBlock(0x1240)); },
         {0x92, 0x12, 0x40},
         Cat(BlockWithCrc(0x1240), {'1'}),
         Str(Iota(64, 3)),
         "",
         [] {
             Bytes b = Cat(BlockWithCrc(0x1240), {'1'});
             b[10] ^= 0x40;
             return b;
         }()},
        {"PemFinish",
         [](Comms& c) { return Str(c.PemFinish()); },
         {0x93, 0xBE, 0xEF},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"PemFirmwareUpdateStart",
         [](Comms& c) { return Str(c.PemFirmwareUpdateStart()); },
         {0x94, 0x4E, 0x27},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        // With the start-up byte order (flag set) the first byte is the least significant.
        {"ReadEcuRam",
         [](Comms& c) { return Str(c.ReadEcuRam(1, 0xF710, 2)); },
         {0x84, 'L', 0x90, 2},
         {0x12, 0x34},
         "13330",
         "0",
         {}},
        {"ReadEcuRamBit",
         [](Comms& c) { return Str(c.ReadEcuRamBit(2, 13)); },
         {0x84, 'E', 33, 1},
         {0x20},
         "true",
         "false",
         Bytes{0xDF}},
        {"ResetO2Adaptation",
         [](Comms& c) { return Str(c.ResetO2Adaptation()); },
         {0x89},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"DataLog_Configure",
         [](Comms& c) {
             return Str(c.DataLog_Configure({0x10, 0xF720}, {1, 2}));
         },
         {'l', 'c', 2, 0x10, 1, 0xA0, 2},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"DataLog_SetRate",
         [](Comms& c) { return Str(c.DataLog_SetRate(3)); },
         {'l', 'r', 3},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"DataLog_StartDeviceLogging",
         [](Comms& c) { return Str(c.DataLog_StartDeviceLogging()); },
         {'l', 'q'},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"DataLog_StopDeviceLogging",
         [](Comms& c) { return Str(c.DataLog_StopDeviceLogging()); },
         {'l', '0'},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"DataLog_KeepAlive",
         [](Comms& c) { return Str(c.DataLog_KeepAlive()); },
         {'l', 'k'},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"ReadAuxInput", [](Comms& c) { return Str(c.ReadAuxInput(5)); }, {'a', 5}, {0x34, 0x12}, "4660", "0", {}},
        {"SetAuxInputFilter",
         [](Comms& c) { return Str(c.SetAuxInputFilter(6, 0)); },
         {'f', 6, 0},
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"ReadRpmPeriod", [](Comms& c) { return Str(c.ReadRpmPeriod()); }, {'p'}, {1, 2, 3}, "197121", "16777215", {}},
        // Answered "off": without a reply, or with one that is no answer, that answer stands (the
        // answers themselves are in IgnitionChangesOnlyOnAnswers).
        {"IsIgnitionOn", [](Comms& c) { return Str(c.IsIgnitionOn()); }, {0x81}, {'0'}, "false", "false", Bytes{'x'}},
        {"WriteFirmwareBlock",
         [fw](Comms& c) { return Str(c.WriteFirmwareBlock(fw)); },
         Cat(Cat({0x12, 0x34}, fw),
             {static_cast<std::uint8_t>(Crc16Of(fw) & 0xFF), static_cast<std::uint8_t>(Crc16Of(fw) >> 8)}),
         {'1'},
         "true",
         "false",
         Bytes{'0'}},
        {"RestartFirmware",
         [](Comms& c) { return Str(c.RestartFirmware()); },
         {0xD1, 0xE0},
         {'2'},
         "true",
         "true",
         Bytes{'1'}},
    };
}

class CommandTest : public CommsTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandTest, RequestBytesSuccessAndFailureValues) {
    const CommandCase& c = GetParam();
    hid.Script({c.reply});
    EXPECT_EQ(c.call(comms), c.ok) << "with the right reply";
    const Bytes sent = hid.WrittenBytes();
    ASSERT_GE(sent.size(), c.request.size());
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + static_cast<std::ptrdiff_t>(c.request.size())), c.request);
    EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);

    hid.Script({});
    EXPECT_EQ(c.call(comms), c.failed) << "without a reply";
    EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);

    if (c.bad) {
        hid.Script({*c.bad, *c.bad, *c.bad, *c.bad});
        EXPECT_EQ(c.call(comms), c.failed) << "with a wrong reply";
    }

    // With the device gone the command fails without any I/O.
    comms.Comms_ShutDown();
    hid.plugged = false;
    const std::size_t writes = hid.written.size();
    const std::string closed = c.call(comms);
    if (std::string(c.name) != "RestartFirmware") {
        EXPECT_EQ(closed, c.failed) << "with the link closed";
    }
    EXPECT_EQ(hid.written.size(), writes);
}

INSTANTIATE_TEST_SUITE_P(All, CommandTest, ::testing::ValuesIn(CommandCases()),
                         [](const ::testing::TestParamInfo<CommandCase>& i) { return std::string(i.param.name); });

TEST_F(CommsTest, AttemptsPerCommand) {
    struct Case {
        const char* name;
        std::function<bool()> call;
        int attempts;
    };
    const Case cases[] = {
        {"Ping", [&] { return comms.Ping(); }, 4},
        {"QuickPing", [&] { return comms.QuickPing(); }, 1},
        {"WriteFirmwareBlock", [&] { return comms.WriteFirmwareBlock(Bytes(256, 1)); }, 4},
        {"RestartFirmware", [&] { return comms.RestartFirmware(); }, 4},
        {"PemWriteBlock", [&] { return comms.PemWriteBlock(0, Bytes(64, 1)); }, 1},
        {"IsIgnitionOn", [&] { return comms.IsIgnitionOn(); }, 3},
    };
    for (const Case& c : cases) {
        hid.requests = 0;
        c.call();
        EXPECT_EQ(hid.requests, c.attempts) << c.name;
    }
}

TEST_F(CommsTest, ArgumentsOutsideTheWireFormatFailWithoutSending) {
    EXPECT_FALSE(comms.WriteFirmwareBlock(Bytes(255, 0)));
    EXPECT_FALSE(comms.WriteFirmwareBlock(Bytes(257, 0)));
    EXPECT_FALSE(comms.PemWriteBlock(0, Bytes(63, 0)));
    EXPECT_TRUE(comms.EcuReadEprom(1, 0, 0).empty());
    EXPECT_TRUE(comms.EcuReadEprom(1, 0, 256).empty());
    EXPECT_FALSE(comms.EcuWriteEprom(1, 0, {}));
    EXPECT_TRUE(comms.ReadEmulatorBlock(0, 0).empty());
    EXPECT_TRUE(hid.written.empty());
}

TEST_F(CommsTest, LongEpromWriteGoesAsSeveralCommandsWithOneByteCounts) {
    hid.Script({{'1'}, {'1'}});
    const Bytes data = Iota(300);
    EXPECT_TRUE(comms.EcuWriteEprom(1, 0x100, data));
    ASSERT_EQ(hid.requests, 2);
    const Bytes sent = hid.WrittenBytes();
    EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 5), (Bytes{0x86, 'L', 0x01, 0x00, 255}));
    // the second write starts 255 bytes on, at 0x01FF, with the remaining 45 bytes
    std::size_t firstReports = 0;
    for (std::size_t i = 0; i < hid.written.size(); ++i)
        if (i > 0 && hid.written[i][1] != 0xFF) firstReports = i;
    EXPECT_EQ(hid.written[firstReports][1], 0x86);
    EXPECT_EQ(hid.written[firstReports][3], 0x01);
    EXPECT_EQ(hid.written[firstReports][4], 0xFF);
    EXPECT_EQ(hid.written[firstReports][5], 45);
}

TEST_F(CommsTest, DataLogConfigureOf15VariablesTakesTwoReportsAndSetsTheRecordSize) {
    hid.Script({{'1'}});
    std::vector<int> addresses(15, 0x30), sizes(15, 2);
    EXPECT_TRUE(comms.DataLog_Configure(addresses, sizes));
    EXPECT_EQ(hid.written.size(), 2u);
    EXPECT_EQ(comms.DataLogRecordSize(), 30);
}

TEST_F(CommsTest, DataLogRecordAndDownloadComeOnTheDataLogChannel) {
    hid.Script({{'1'}});
    ASSERT_TRUE(comms.DataLog_Configure({0x30, 0x31}, {1, 2}));
    hid.onWrite = [this](const HidReport& r) {
        if (r[1] == 'l' && r[2] == 'o') hid.Queue(FrameReply(DATALOG, {7, 8, 9}));
    };
    EXPECT_EQ(comms.DataLog_ReadRecord(), (Bytes{7, 8, 9}));
    hid.onWrite = nullptr;
    EXPECT_TRUE(comms.DataLog_ReadRecord().empty());

    for (int i = 0; i < 3; ++i) hid.Queue(FrameReply(DATALOG, Iota(7, 10 * i)));
    const Bytes all = comms.DataLog_Download();
    EXPECT_EQ(all, Cat(Cat(Iota(7, 0), Iota(7, 10)), Iota(7, 20)));
    EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);
}

// The commands with a time-out of their own: a reply just inside it is taken, one just outside
// is not (the default 0.2 s would decide both the other way).
TEST(CommsOwnTimeouts, QuickPingAndRecordReadWaitTheirOwnTime) {
    struct Case {
        const char* name;
        std::function<bool(Comms&)> call;
        std::uint8_t channel;
        Bytes reply;
        std::int64_t atMs;
        bool taken;
    };
    const auto ping = [](Comms& c) { return c.QuickPing(); };
    const auto record = [](Comms& c) { return c.DataLog_ReadRecord() == Bytes{7, 8, 9}; };
    const Case cases[] = {
        {"quick ping answered in 0.09 s", ping, DATA, {'T'}, 90, true},
        {"quick ping answered in 0.15 s", ping, DATA, {'T'}, 150, false},
        {"record in 0.9 s", record, DATALOG, {7, 8, 9}, 900, true},
        {"record in 1.1 s", record, DATALOG, {7, 8, 9}, 1100, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clk;
        FakeHid h{clk};
        Comms link{h, clk};
        ASSERT_TRUE(link.Comms_Open());
        h.Script({{'1'}});
        ASSERT_TRUE(link.DataLog_Configure({0x30, 0x31}, {1, 2}));
        h.onWrite = [&](const HidReport& r) {
            if (r[1] == 0xFF) return;
            const std::int64_t when = clk.now + c.atMs;
            h.beforeRead = [&, when](int timeoutMs) {
                if (clk.now + timeoutMs < when) return;
                clk.SleepMs(when - clk.now);
                h.Queue(FrameReply(c.channel, c.reply));
                h.beforeRead = nullptr;
            };
        };
        EXPECT_EQ(c.call(link), c.taken);
        EXPECT_DOUBLE_EQ(link.Link().State().readTimeout, kDefaultTimeout);
    }
}

// Data-log records queued before a fresh start belong to an earlier run: reopening the link and
// starting device logging each drop them, so the reader sees only the new run.
TEST(CommsStaleRecords, AFreshStartDropsRecordsOfTheEarlierRun) {
    struct Case {
        const char* name;
        std::function<void(Comms&, FakeHid&)> start;
    };
    const Case cases[] = {
        {"reopen",
         [](Comms& c, FakeHid&) {
             c.Comms_ShutDown();
             EXPECT_TRUE(c.Comms_Open());
         }},
        {"start logging",
         [](Comms& c, FakeHid& h) {
             h.Script({{'1'}});
             EXPECT_TRUE(c.DataLog_StartDeviceLogging());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clk;
        FakeHid h{clk};
        Comms link{h, clk};
        ASSERT_TRUE(link.Comms_Open());
        h.Script({{'1'}});
        ASSERT_TRUE(link.DataLog_Configure({0x30, 0x31}, {1, 2}));
        h.Queue(FrameReply(DATALOG, Iota(7, 40))); // a record of the earlier run, still queued
        h.Script({{'1'}});
        ASSERT_TRUE(link.DataLog_KeepAlive());     // files it into the data-log ring on the way
        h.Queue(FrameReply(DATALOG, Iota(7, 50))); // and one more in the driver's queue
        c.start(link, h);
        EXPECT_TRUE(link.DataLog_Download().empty());
    }
}

TEST_F(CommsTest, DownloadWaitsForTheContinuationOfAStartedMessage) {
    // A 34-byte message spans two reports; on a real bus the second comes a frame or more after
    // the first, later than the 1 ms budget of a download read. The record must not be lost.
    hid.Script({{'1'}});
    std::vector<int> addresses(15, 0x30), sizes(15, 2);
    ASSERT_TRUE(comms.DataLog_Configure(addresses, sizes));
    const Bytes first = Iota(34, 0), second = Iota(34, 100);
    const auto m1 = FrameReply(DATALOG, first), m2 = FrameReply(DATALOG, second);
    ASSERT_EQ(m1.size(), 2u);
    hid.Queue({m1[0]});
    const auto due = clock.now + 3;
    bool sent = false;
    hid.beforeRead = [&](int timeoutMs) { // the rest arrives 3 ms later, during a wait
        if (!sent && clock.now + timeoutMs >= due) {
            sent = true;
            clock.now = std::max(clock.now, due);
            hid.Queue({m1[1], m2[0], m2[1]});
        }
    };
    EXPECT_EQ(comms.DataLog_Download(), Cat(first, second));
    EXPECT_DOUBLE_EQ(comms.Link().State().readTimeout, kDefaultTimeout);

    // A continuation that never comes still ends the download promptly with what was whole.
    hid.beforeRead = nullptr;
    hid.Queue({m2[0]});
    const auto before = clock.now;
    EXPECT_TRUE(comms.DataLog_Download().empty());
    EXPECT_LE(clock.now - before, 50);
}

TEST_F(CommsTest, EnterBootloaderWaitsReopensAndAsksForTheLoader) {
    int attempts = 0;
    hid.onWrite = [&](const HidReport& r) {
        if (r[1] == 'k' && r[2] == 'q' && r[3] == '8' && r[4] == 'v' && ++attempts == 2)
            hid.Queue(FrameReply(DATA, {'F'}));
    };
    const auto before = clock.now;
    EXPECT_TRUE(comms.EnterBootloader());
    EXPECT_EQ(attempts, 2);
    EXPECT_GE(clock.now - before, 3000); // waited 1 s, then 2 s
    EXPECT_GE(hid.closes, 2);
    EXPECT_TRUE(comms.Comms_IsOpen());
}

// ---- presence and ignition ----

// A missing ignition reply is no answer: the link asks again, and the state changes only on an
// answer ('0' or '1'); a device that does not answer at all leaves the last answer standing.
TEST_F(CommsTest, IgnitionChangesOnlyOnAnswers) {
    struct Case {
        const char* name;
        std::vector<std::optional<char>> replies; // one per 0x81 request; nullopt = reply lost
        std::vector<bool> readings;               // IsIgnitionOn after each step
    };
    const Case cases[] = {
        {"lost once then on", {std::nullopt, '1'}, {true}},
        {"on, then one reply lost", {'1', std::nullopt, '1'}, {true, true}},
        {"on, then silent", {'1', std::nullopt, std::nullopt, std::nullopt, std::nullopt}, {true, true}},
        {"on, then off", {'1', '0'}, {true, false}},
        {"off, then lost twice, then on", {'0', std::nullopt, std::nullopt, '1'}, {false, true}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clk;
        FakeHid h{clk};
        Comms link{h, clk};
        ASSERT_TRUE(link.Comms_Open());
        std::size_t next = 0;
        h.onWrite = [&](const HidReport& r) {
            if (r[1] != 0x81 || next >= c.replies.size()) return;
            const std::optional<char> reply = c.replies[next++];
            if (reply) h.Queue(FrameReply(DATA, {static_cast<std::uint8_t>(*reply)}));
        };
        std::vector<bool> got;
        for (std::size_t i = 0; i < c.readings.size(); ++i) got.push_back(link.IsIgnitionOn());
        EXPECT_EQ(got, c.readings);
        EXPECT_TRUE(link.Comms_IsOpen());
    }
}

TEST_F(CommsTest, IgnitionReadsOffWhenTheDeviceIsGone) {
    hid.Script({{'1'}});
    ASSERT_TRUE(comms.IsIgnitionOn());
    hid.plugged = false;
    EXPECT_FALSE(comms.IsIgnitionOn());
    EXPECT_FALSE(comms.Comms_IsOpen());
}

} // namespace

} // namespace kv
