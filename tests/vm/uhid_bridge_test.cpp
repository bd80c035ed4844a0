// The uhid side of kestrovane-simdev, against a socket pair that plays the kernel: the events that
// go out, the reports that reach the device, pacing, and the cable pulled and put back.
#include "sim/simdev/uhid_bridge.h"

#include "fakes.h"

#include <gtest/gtest.h>
#include <linux/uhid.h>

#include <csignal>
#include <cstring>
#include <deque>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

namespace kv {

namespace {

// The device side: answers what the test queues, records what it was sent.
class QueueBackend final : public HidBackend {
public:
    std::vector<HidDeviceInfo> Enumerate() override { return {{"q", 0x1234, 0x5851}}; }
    bool Open(const std::string&) override { return open = true; }
    bool IsOpen() const override { return open; }
    bool SetInputQueueSize(int) override { return false; }
    void FlushInput() override {}
    HidReadResult Read(HidReport& report, int) override {
        if (failReads) return HidReadResult::Error;
        if (answers.empty()) return HidReadResult::Timeout;
        report = answers.front();
        answers.pop_front();
        return HidReadResult::Ok;
    }
    HidWriteResult Write(const HidReport& report, int) override {
        written.push_back(report);
        return HidWriteResult::Ok;
    }
    void Cancel() override {}
    void Close() override { open = false; }

    bool open = true;
    bool failReads = false;
    std::deque<HidReport> answers;
    std::vector<HidReport> written;
};

HidReport Answer(std::uint8_t type, std::uint8_t first) {
    HidReport r{};
    r[1] = type;
    r[2] = first;
    r[32] = 0xA5; // the last byte must survive too
    return r;
}

// The kernel end of /dev/uhid.
class FakeKernel {
public:
    FakeKernel() {
        int sv[2];
        ok = ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv) == 0;
        kernel = sv[0];
        device = sv[1];
    }
    ~FakeKernel() {
        if (kernel >= 0) ::close(kernel);
        ::close(device);
    }
    void Send(std::uint32_t type, const std::function<void(uhid_event&)>& fill = {}) {
        uhid_event ev;
        std::memset(&ev, 0, sizeof ev);
        ev.type = type;
        if (fill) fill(ev);
        ASSERT_EQ(::send(kernel, &ev, sizeof ev, 0), static_cast<ssize_t>(sizeof ev));
    }
    void SendOutput(const std::vector<std::uint8_t>& bytes, std::uint8_t rtype = UHID_OUTPUT_REPORT) {
        Send(UHID_OUTPUT, [&](uhid_event& ev) {
            if (!bytes.empty()) std::memcpy(ev.u.output.data, bytes.data(), bytes.size());
            ev.u.output.size = static_cast<std::uint16_t>(bytes.size());
            ev.u.output.rtype = rtype;
        });
    }
    std::optional<uhid_event> Receive() {
        uhid_event ev;
        std::memset(&ev, 0, sizeof ev);
        if (::recv(kernel, &ev, sizeof ev, MSG_DONTWAIT) <= 0) return std::nullopt;
        return ev;
    }
    std::vector<std::uint32_t> ReceiveTypes() {
        std::vector<std::uint32_t> types;
        while (auto ev = Receive()) types.push_back(ev->type);
        return types;
    }
    void CloseKernel() {
        ::close(kernel);
        kernel = -1;
    }
    bool ok = false;
    int kernel = -1;
    int device = -1;
};

class UhidBridgeTest : public ::testing::Test {
protected:
    std::unique_ptr<UhidBridge> Make(UhidBridgeOptions options = {}) {
        hooks.unplugged = [this] { ++unplugs; };
        hooks.replugged = [this] { ++replugs; };
        auto b = std::make_unique<UhidBridge>(kernel.device, backend, clock, options, hooks);
        b->onEvent = [this](UhidBridgeEvent e) { events.push_back(e); };
        return b;
    }
    // Delivers every event the test sent, then runs one more service round.
    void Drain(UhidBridge& b, int pending) {
        for (int i = 0; i < pending; ++i) ASSERT_TRUE(b.Service(true));
        ASSERT_TRUE(b.Service(false));
    }
    // Created, started and opened by a program.
    std::unique_ptr<UhidBridge> MakeOpen(UhidBridgeOptions options = {}) {
        auto b = Make(options);
        EXPECT_EQ(b->Create(), "");
        kernel.Send(UHID_START);
        kernel.Send(UHID_OPEN);
        Drain(*b, 2);
        kernel.ReceiveTypes();
        return b;
    }

    FakeKernel kernel;
    QueueBackend backend;
    FakeClock clock;
    UhidPlugHooks hooks;
    int unplugs = 0;
    int replugs = 0;
    std::vector<UhidBridgeEvent> events;
};

// Walks the short items of a report descriptor: total input and output bits, and whether a
// report ID is declared.
struct DescriptorSummary {
    int inputBits = 0;
    int outputBits = 0;
    bool reportId = false;
    int usagePage = -1;
};
DescriptorSummary Summarise(const std::uint8_t* d, std::size_t n) {
    DescriptorSummary s;
    int size = 0, count = 0;
    for (std::size_t i = 0; i < n;) {
        const std::uint8_t prefix = d[i];
        const int len = (prefix & 3) == 3 ? 4 : (prefix & 3);
        std::uint32_t value = 0;
        for (int k = 0; k < len && i + 1 + static_cast<std::size_t>(k) < n; ++k)
            value |= static_cast<std::uint32_t>(d[i + 1 + static_cast<std::size_t>(k)]) << (8 * k);
        switch (prefix & 0xFC) {
        case 0x04: s.usagePage = static_cast<int>(value); break;
        case 0x74: size = static_cast<int>(value); break;
        case 0x94: count = static_cast<int>(value); break;
        case 0x84: s.reportId = true; break;
        case 0x80: s.inputBits += size * count; break;
        case 0x90: s.outputBits += size * count; break;
        default: break;
        }
        i += 1 + static_cast<std::size_t>(len);
    }
    return s;
}

TEST_F(UhidBridgeTest, CreateAnnouncesAUsbDeviceWithTwo32ByteReportsAndNoReportIds) {
    ASSERT_TRUE(kernel.ok);
    auto b = Make();
    ASSERT_EQ(b->Create(), "");
    auto ev = kernel.Receive();
    ASSERT_TRUE(ev.has_value());
    ASSERT_EQ(ev->type, static_cast<std::uint32_t>(UHID_CREATE2));
    EXPECT_EQ(ev->u.create2.vendor, 0x1234u);
    EXPECT_EQ(ev->u.create2.product, 0x5851u);
    EXPECT_EQ(ev->u.create2.bus, 0x03); // USB
    const DescriptorSummary s = Summarise(ev->u.create2.rd_data, ev->u.create2.rd_size);
    EXPECT_EQ(s.inputBits, 32 * 8);
    EXPECT_EQ(s.outputBits, 32 * 8);
    EXPECT_FALSE(s.reportId);
    EXPECT_GE(s.usagePage, 0xFF00); // vendor-defined
    EXPECT_EQ(events, std::vector<UhidBridgeEvent>{UhidBridgeEvent::Created});
    // A second Create while the device exists sends nothing.
    EXPECT_EQ(b->Create(), "");
    EXPECT_FALSE(kernel.Receive().has_value());
}

struct OutputCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint8_t rtype;
    bool reaches;
    std::vector<std::uint8_t> expectedStart; // the report as the device gets it, first bytes
};

class UhidOutputTest : public UhidBridgeTest, public ::testing::WithParamInterface<OutputCase> {};

std::vector<std::uint8_t> Bytes(std::size_t n, std::uint8_t first) {
    std::vector<std::uint8_t> v(n, 0x55);
    v[0] = first;
    return v;
}

TEST_P(UhidOutputTest, OutputReportReachesTheDeviceAs33Bytes) {
    const OutputCase& c = GetParam();
    auto b = MakeOpen();
    kernel.SendOutput(c.bytes, c.rtype);
    Drain(*b, 1);
    if (!c.reaches) {
        EXPECT_TRUE(backend.written.empty());
        EXPECT_EQ(b->OutputReports(), 0);
        return;
    }
    ASSERT_EQ(backend.written.size(), 1u);
    const HidReport& r = backend.written[0];
    for (std::size_t i = 0; i < c.expectedStart.size(); ++i) EXPECT_EQ(r[i], c.expectedStart[i]) << "byte " << i;
    // Whatever the program sent beyond 33 bytes is cut; what it left out is zero.
    const std::size_t sent = std::min<std::size_t>(c.bytes.size(), 33);
    for (std::size_t i = sent; i < 33; ++i) EXPECT_EQ(r[i], 0) << "byte " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UhidOutputTest,
    ::testing::Values(OutputCase{"ReportIdThen32Bytes", Bytes(33, 0), UHID_OUTPUT_REPORT, true, {0x00, 0x55, 0x55}},
                      OutputCase{"ShortReportIsZeroFilled", {0x00, 't'}, UHID_OUTPUT_REPORT, true, {0x00, 't', 0x00}},
                      OutputCase{"LongReportIsCut", Bytes(40, 0), UHID_OUTPUT_REPORT, true, {0x00, 0x55}},
                      OutputCase{"NumberedReportIsNotForThisDevice", Bytes(33, 5), UHID_OUTPUT_REPORT, false, {}},
                      OutputCase{"FeatureReportIsIgnored", Bytes(33, 0), UHID_FEATURE_REPORT, false, {}},
                      OutputCase{"EmptyReportIsIgnored", {}, UHID_OUTPUT_REPORT, false, {}}),
    [](const ::testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

TEST_F(UhidBridgeTest, InputMovesOnlyWhileAProgramHasTheDeviceOpen) {
    auto b = Make();
    ASSERT_EQ(b->Create(), "");
    kernel.ReceiveTypes();
    backend.answers = {Answer(0x10, 'T'), Answer(0x10, '1')};
    kernel.Send(UHID_START);
    Drain(*b, 1);
    EXPECT_TRUE(kernel.ReceiveTypes().empty()); // started, but nobody reads yet
    EXPECT_EQ(backend.answers.size(), 2u);      // so the answers wait in the device

    kernel.Send(UHID_OPEN);
    Drain(*b, 1);
    auto ev = kernel.Receive();
    ASSERT_TRUE(ev.has_value());
    ASSERT_EQ(ev->type, static_cast<std::uint32_t>(UHID_INPUT2));
    ASSERT_EQ(ev->u.input2.size, 32); // no report ID on the wire
    EXPECT_EQ(ev->u.input2.data[0], 0x10);
    EXPECT_EQ(ev->u.input2.data[1], 'T');
    EXPECT_EQ(ev->u.input2.data[31], 0xA5);

    kernel.Send(UHID_CLOSE);
    clock.now += 5;
    Drain(*b, 1);
    EXPECT_TRUE(kernel.ReceiveTypes().empty());
    EXPECT_EQ(backend.answers.size(), 1u);
    EXPECT_FALSE(b->HostOpen());
}

TEST_F(UhidBridgeTest, InputIsPacedToTheInterval) {
    struct Case {
        long intervalMs;
        int servicesWithoutTime; // inputs seen before the clock moves
    };
    for (const Case c : {Case{1, 1}, Case{0, 5}}) {
        SCOPED_TRACE(c.intervalMs);
        FakeKernel k;
        QueueBackend be;
        UhidBridgeOptions o;
        o.inputIntervalMs = c.intervalMs;
        UhidBridge b(k.device, be, clock, o);
        ASSERT_EQ(b.Create(), "");
        k.Send(UHID_OPEN);
        for (int i = 0; i < 5; ++i) be.answers.push_back(Answer(0x20, static_cast<std::uint8_t>(i)));
        ASSERT_TRUE(b.Service(true));
        ASSERT_TRUE(b.Service(false));
        EXPECT_EQ(b.InputReports(), c.servicesWithoutTime);
        for (int i = 0; i < 5; ++i) {
            clock.now += 1;
            ASSERT_TRUE(b.Service(false));
        }
        EXPECT_EQ(b.InputReports(), 5);
        // Order is kept.
        std::vector<std::uint8_t> seen;
        while (auto ev = k.Receive())
            if (ev->type == UHID_INPUT2) seen.push_back(ev->u.input2.data[1]);
        EXPECT_EQ(seen, (std::vector<std::uint8_t>{0, 1, 2, 3, 4}));
    }
}

TEST_F(UhidBridgeTest, LoopHeldUpMakesUpForTheFramesItMissed) {
    auto b = MakeOpen();
    for (int i = 0; i < 20; ++i) backend.answers.push_back(Answer(0x20, static_cast<std::uint8_t>(i)));
    ASSERT_TRUE(b->Service(false));
    EXPECT_EQ(b->InputReports(), 1);
    clock.now += 3; // three frames went by while the loop was busy
    ASSERT_TRUE(b->Service(false));
    EXPECT_EQ(b->InputReports(), 4);
    clock.now += 100; // a long stall: at most 8 frames are made up
    ASSERT_TRUE(b->Service(false));
    EXPECT_EQ(b->InputReports(), 4 + 9);
    // An idle stretch is not saved up for later.
    backend.answers.clear();
    clock.now += 50;
    ASSERT_TRUE(b->Service(false));
    backend.answers.push_back(Answer(0x20, 0));
    backend.answers.push_back(Answer(0x20, 1));
    ASSERT_TRUE(b->Service(false));
    EXPECT_EQ(b->InputReports(), 14);
}

TEST_F(UhidBridgeTest, UnplugAfterCountsBothDirectionsAndReplugsLater) {
    UhidBridgeOptions o;
    o.unplugAfterReports = 3;
    o.replugAfterMs = 500;
    auto b = MakeOpen(o);
    backend.answers = {Answer(0x10, 'T'), Answer(0x10, 'T')};
    kernel.SendOutput({0, 't'}); // 1 out
    Drain(*b, 1);                // 2: one answer in
    clock.now += 1;
    kernel.SendOutput({0, 't'}); // 3: out, and the device is gone
    Drain(*b, 1);
    EXPECT_EQ(b->ReportCount(), 3);
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(unplugs, 1);
    std::vector<std::uint32_t> types = kernel.ReceiveTypes();
    ASSERT_FALSE(types.empty());
    EXPECT_EQ(types.back(), static_cast<std::uint32_t>(UHID_DESTROY));
    EXPECT_EQ(backend.answers.size(), 1u); // the second answer never left the device

    clock.now += 499;
    ASSERT_TRUE(b->Service(false));
    EXPECT_FALSE(b->Created());
    EXPECT_GE(b->PollTimeoutMs(), 0);
    EXPECT_LE(b->PollTimeoutMs(), 1);
    clock.now += 1;
    ASSERT_TRUE(b->Service(false));
    EXPECT_TRUE(b->Created());
    EXPECT_EQ(replugs, 1);
    EXPECT_EQ(kernel.ReceiveTypes(), std::vector<std::uint32_t>{UHID_CREATE2});
    EXPECT_EQ(events, (std::vector<UhidBridgeEvent>{UhidBridgeEvent::Created, UhidBridgeEvent::Destroyed,
                                                    UhidBridgeEvent::Created}));
    // A fresh device: nobody has it open until a program opens it again; it unplugs only once.
    EXPECT_FALSE(b->HostOpen());
    kernel.Send(UHID_OPEN);
    kernel.SendOutput({0, 't'});
    Drain(*b, 2);
    EXPECT_TRUE(b->Created());
}

TEST_F(UhidBridgeTest, DeviceModelThatVanishesTakesTheKernelDeviceWithIt) {
    auto b = MakeOpen();
    backend.failReads = true;
    ASSERT_TRUE(b->Service(false));
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(kernel.ReceiveTypes(), std::vector<std::uint32_t>{UHID_DESTROY});
    // Without a replug time it stays away.
    clock.now += 100000;
    ASSERT_TRUE(b->Service(false));
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(replugs, 0);
    // A manual replug brings it back.
    backend.failReads = false;
    EXPECT_EQ(b->Replug(), "");
    EXPECT_TRUE(b->Created());
}

TEST_F(UhidBridgeTest, DeviceThatRestartsDropsOffTheBusAndComesBack) {
    bool onBus = true;
    hooks.present = [&] { return onBus; };
    auto b = MakeOpen();
    onBus = false; // the device restarts after a firmware upgrade
    clock.now += 20;
    ASSERT_TRUE(b->Service(false));
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(kernel.ReceiveTypes(), std::vector<std::uint32_t>{UHID_DESTROY});
    clock.now += 50;
    ASSERT_TRUE(b->Service(false));
    EXPECT_FALSE(b->Created());
    onBus = true;
    clock.now += 20; // presence is looked at every 20 ms
    ASSERT_TRUE(b->Service(false));
    EXPECT_TRUE(b->Created());
    EXPECT_EQ(replugs, 1); // the model's handle is opened again
    EXPECT_EQ(unplugs, 0); // nobody pulled the cable
    EXPECT_EQ(kernel.ReceiveTypes(), std::vector<std::uint32_t>{UHID_CREATE2});
}

TEST_F(UhidBridgeTest, PulledCableStaysOutUntilPutBack) {
    bool onBus = true;
    hooks.present = [&] { return onBus; };
    auto b = MakeOpen();
    b->Unplug();
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(unplugs, 1);
    clock.now += 100000;
    ASSERT_TRUE(b->Service(false)); // the model is still there, but the cable is out
    EXPECT_FALSE(b->Created());
    EXPECT_EQ(b->Replug(), "");
    EXPECT_TRUE(b->Created());
    EXPECT_EQ(replugs, 1);
}

TEST_F(UhidBridgeTest, ReportRequestsAreRefusedAtOnce) {
    auto b = MakeOpen();
    kernel.Send(UHID_GET_REPORT, [](uhid_event& ev) { ev.u.get_report.id = 77; });
    kernel.Send(UHID_SET_REPORT, [](uhid_event& ev) { ev.u.set_report.id = 78; });
    Drain(*b, 2);
    auto get = kernel.Receive();
    ASSERT_TRUE(get.has_value());
    ASSERT_EQ(get->type, static_cast<std::uint32_t>(UHID_GET_REPORT_REPLY));
    EXPECT_EQ(get->u.get_report_reply.id, 77u);
    EXPECT_NE(get->u.get_report_reply.err, 0);
    auto set = kernel.Receive();
    ASSERT_TRUE(set.has_value());
    ASSERT_EQ(set->type, static_cast<std::uint32_t>(UHID_SET_REPORT_REPLY));
    EXPECT_EQ(set->u.set_report_reply.id, 78u);
    EXPECT_NE(set->u.set_report_reply.err, 0);
}

TEST_F(UhidBridgeTest, ClosedUhidFileIsAFailureValue) {
    std::signal(SIGPIPE, SIG_IGN); // as the program does: a dead peer is an error value, not a signal
    auto b = Make();
    kernel.CloseKernel();
    EXPECT_NE(b->Create(), "");
    EXPECT_FALSE(b->Created());
    EXPECT_FALSE(b->Service(true));
    EXPECT_FALSE(b->LastError().empty());
}

} // namespace

} // namespace kv
