// The Windows HID backend over a fake of its Win32 calls: which interfaces are listed, what
// happens to the driver's input queue, and how reads and writes end on time-outs and unplugs.
#include "device/win_hid_backend.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <set>

namespace kv {
namespace {

struct FakeInterface {
    std::uint32_t enumError = 0;
    std::uint32_t detailSize = 80;
    std::string path;
    bool opens = true;
    bool attributes = true;
    std::uint16_t vendorId = 0x1234;
    std::uint16_t productId = 0x5851;
};

// One step of a transfer: what starting it returns, and how the wait for it ends.
struct FakeTransfer {
    std::uint32_t startError = 0;
    WinWait wait = WinWait::Signalled;
    HidReport report{};
};

struct FakeOs {
    std::vector<FakeInterface> interfaces;
    bool listFails = false;
    bool listOpen = false;
    int listsClosed = 0;
    std::vector<std::string> opened;
    std::set<WinHandle> openHandles;
    std::map<WinHandle, std::string> pathOf;
    WinHandle nextHandle = 100;
    bool inputBuffersKnown = true;
    std::uint32_t inputBuffers = 2;
    int flushes = 0;
    std::deque<FakeTransfer> transfers;
    std::vector<HidReport> written;
    std::vector<std::uint32_t> waits;
    int cancels = 0;
};

class FakeWinHidCalls final : public WinHidCalls {
public:
    explicit FakeWinHidCalls(FakeOs& os) : os_(os) {}
    bool OpenInterfaceList() override {
        os_.listOpen = !os_.listFails;
        return os_.listOpen;
    }
    std::uint32_t EnumInterface(std::uint32_t index) override {
        EXPECT_TRUE(os_.listOpen);
        return index < os_.interfaces.size() ? os_.interfaces[index].enumError : kWinErrorNoMoreItems;
    }
    std::uint32_t InterfaceDetailSize(std::uint32_t index) override { return os_.interfaces.at(index).detailSize; }
    std::optional<std::string> InterfaceDetailPath(std::uint32_t index, std::uint32_t size) override {
        EXPECT_EQ(size, os_.interfaces.at(index).detailSize);
        return os_.interfaces.at(index).path;
    }
    void CloseInterfaceList() override {
        os_.listOpen = false;
        ++os_.listsClosed;
    }
    WinHandle OpenPath(const std::string& path) override {
        os_.opened.push_back(path);
        for (const FakeInterface& i : os_.interfaces)
            if (i.path == path && i.opens) {
                const WinHandle h = os_.nextHandle++;
                os_.openHandles.insert(h);
                os_.pathOf[h] = path;
                return h;
            }
        return kNoWinHandle;
    }
    bool GetAttributes(WinHandle device, std::uint16_t& vendorId, std::uint16_t& productId) override {
        for (const FakeInterface& i : os_.interfaces)
            if (i.path == os_.pathOf.at(device)) {
                vendorId = i.vendorId;
                productId = i.productId;
                return i.attributes;
            }
        return false;
    }
    bool GetNumInputBuffers(WinHandle, std::uint32_t& count) override {
        count = os_.inputBuffers;
        return os_.inputBuffersKnown;
    }
    bool SetNumInputBuffers(WinHandle, std::uint32_t count) override {
        os_.inputBuffers = count;
        return true;
    }
    bool FlushQueue(WinHandle) override {
        ++os_.flushes;
        return true;
    }
    std::uint32_t StartRead(WinHandle device, HidReport& into) override {
        EXPECT_TRUE(os_.openHandles.count(device));
        const FakeTransfer t = Next();
        if (t.startError == 0 && t.wait == WinWait::Signalled) into = t.report;
        return t.startError;
    }
    std::uint32_t StartWrite(WinHandle device, const HidReport& report) override {
        EXPECT_TRUE(os_.openHandles.count(device));
        os_.written.push_back(report);
        return Next().startError;
    }
    WinWait WaitTransfer(std::uint32_t ms) override {
        os_.waits.push_back(ms);
        return current_.wait;
    }
    void CancelTransfer(WinHandle) override { ++os_.cancels; }
    void CloseDevice(WinHandle device) override { EXPECT_EQ(os_.openHandles.erase(device), 1u); }

private:
    FakeTransfer Next() {
        EXPECT_FALSE(os_.transfers.empty());
        current_ = os_.transfers.empty() ? FakeTransfer{} : os_.transfers.front();
        if (!os_.transfers.empty()) os_.transfers.pop_front();
        return current_;
    }
    FakeOs& os_;
    FakeTransfer current_;
};

struct Rig {
    FakeOs os;
    std::unique_ptr<HidBackend> hid = MakeWinHidBackend(std::make_unique<FakeWinHidCalls>(os));
    Rig() { os.interfaces.push_back({0, 80, R"(\\?\hid#vid_1234&pid_5851)"}); }
    void OpenDevice() { ASSERT_TRUE(hid->Open(os.interfaces[0].path)); }
};

TEST(WinHidBackend, ListsTheInterfacesThatOpenWithTheirIdsAndLeavesNothingOpen) {
    Rig rig;
    rig.os.interfaces = {
        {0, 4, "too small"},
        {0, 32769, "too large"},
        {0, 5, "smallest"},
        {0, 32768, "largest", true, true, 0x1234, 0x0001},
        {13, 80, "not enumerated"},
        {0, 80, "cannot open", false},
        {0, 80, "no attributes", true, false},
        {0, 80, "kestrovane"},
    };
    const std::vector<HidDeviceInfo> found = rig.hid->Enumerate();
    std::vector<std::string> paths;
    for (const HidDeviceInfo& d : found) paths.push_back(d.path);
    EXPECT_EQ(paths, (std::vector<std::string>{"smallest", "largest", "kestrovane"}));
    EXPECT_EQ(found[1].productId, 0x0001);
    EXPECT_EQ(rig.os.opened,
              (std::vector<std::string>{"smallest", "largest", "cannot open", "no attributes", "kestrovane"}))
        << "an interface whose detail size is out of range is never opened";
    EXPECT_TRUE(rig.os.openHandles.empty());
    EXPECT_FALSE(rig.os.listOpen);
    EXPECT_EQ(rig.os.listsClosed, 1);
}

TEST(WinHidBackend, EnumerationStopsAtNoMoreItemsOrWhenTheListCannotBeHad) {
    Rig rig;
    rig.os.interfaces.push_back({kWinErrorNoMoreItems, 80, "after the end"});
    rig.os.interfaces.push_back({0, 80, "never reached"});
    EXPECT_EQ(rig.hid->Enumerate().size(), 1u);
    rig.os.listFails = true;
    EXPECT_TRUE(rig.hid->Enumerate().empty());
}

TEST(WinHidBackend, RaisesASmallInputQueueToThirtyTwoReports) {
    struct Case {
        bool known;
        std::uint32_t before;
        std::uint32_t after;
    };
    for (const Case c : {Case{true, 2, 32}, Case{true, 31, 32}, Case{true, 0, 0}, Case{true, 32, 32},
                         Case{true, 64, 64}, Case{false, 2, 2}}) {
        Rig rig;
        rig.OpenDevice();
        rig.os.inputBuffersKnown = c.known;
        rig.os.inputBuffers = c.before;
        rig.hid->SetInputQueueSize(static_cast<int>(kWinHidInputBuffers));
        EXPECT_EQ(rig.os.inputBuffers, c.after) << c.before << (c.known ? "" : " (unknown)");
    }
}

TEST(WinHidBackend, AReadReturnsTheReportWithReportIdZero) {
    Rig rig;
    rig.OpenDevice();
    HidReport in{};
    in.fill(0x5A);
    rig.os.transfers.push_back({0, WinWait::Signalled, in});
    HidReport got{};
    EXPECT_EQ(rig.hid->Read(got, 200), HidReadResult::Ok);
    EXPECT_EQ(got[0], 0);
    EXPECT_EQ(got[1], 0x5A);
    EXPECT_EQ(got[32], 0x5A);
    EXPECT_EQ(rig.os.waits, (std::vector<std::uint32_t>{200}));
    EXPECT_EQ(rig.os.cancels, 0);
}

TEST(WinHidBackend, TransfersThatEndBadly) {
    struct Case {
        const char* what;
        FakeTransfer transfer;
        HidReadResult read;
        HidWriteResult write;
        int cancels;
        bool staysOpen;
    };
    const Case cases[] = {
        {"time-out", {0, WinWait::TimedOut, {}}, HidReadResult::Timeout, HidWriteResult::Timeout, 1, true},
        {"wait failed", {0, WinWait::Failed, {}}, HidReadResult::Failed, HidWriteResult::Failed, 1, true},
        {"invalid handle",
         {kWinErrorInvalidHandle, WinWait::Signalled, {}},
         HidReadResult::Error,
         HidWriteResult::Gone,
         0,
         false},
        {"device not connected",
         {kWinErrorDeviceNotConnected, WinWait::Signalled, {}},
         HidReadResult::Error,
         HidWriteResult::Gone,
         0,
         false},
        {"other error", {31, WinWait::Signalled, {}}, HidReadResult::Failed, HidWriteResult::Failed, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        rig.OpenDevice();
        rig.os.transfers.push_back(c.transfer);
        HidReport got{};
        got.fill(0xEE);
        EXPECT_EQ(rig.hid->Read(got, 200), c.read);
        EXPECT_EQ(got, HidReport{}) << "a failed read never looks like a reply";
        EXPECT_EQ(rig.os.cancels, c.cancels);
        EXPECT_EQ(rig.hid->IsOpen(), c.staysOpen);
        EXPECT_EQ(rig.os.openHandles.empty(), !c.staysOpen);

        Rig writer;
        writer.OpenDevice();
        writer.os.transfers.push_back(c.transfer);
        HidReport out{};
        out.fill(0x11);
        EXPECT_EQ(writer.hid->Write(out, 200), c.write);
        EXPECT_EQ(writer.os.written.at(0)[0], 0) << "report ID";
        EXPECT_EQ(writer.os.written.at(0)[1], 0x11);
        EXPECT_EQ(writer.os.cancels, c.cancels);
        EXPECT_EQ(writer.hid->IsOpen(), c.staysOpen);
    }
}

TEST(WinHidBackend, NothingMovesWhileClosedAndCloseReleasesTheHandle) {
    Rig rig;
    HidReport r{};
    EXPECT_EQ(rig.hid->Read(r, 200), HidReadResult::Error);
    EXPECT_EQ(rig.hid->Write(r, 200), HidWriteResult::Gone);
    EXPECT_FALSE(rig.hid->Open("no such path"));
    rig.OpenDevice();
    rig.hid->FlushInput();
    EXPECT_EQ(rig.os.flushes, 1);
    rig.hid->Close();
    EXPECT_FALSE(rig.hid->IsOpen());
    EXPECT_TRUE(rig.os.openHandles.empty());
}

} // namespace
} // namespace kv
