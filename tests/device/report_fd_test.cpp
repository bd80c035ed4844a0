// Report I/O on a descriptor, against the other end of a packet socket pair standing in for the
// device node: report normalisation, read time-outs, a device that stops taking output reports
// (every write returns within its time-out) and a device that goes away.
#include "device/report_fd.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <vector>

namespace kv {

namespace {

class ReportFdTest : public ::testing::Test {
protected:
    void SetUp() override {
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds), 0);
        const int small = 4096; // a device queue that fills after a few reports
        ::setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
        ::setsockopt(fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        io = std::make_unique<ReportFd>(fds[0]);
        device = fds[1];
    }
    void TearDown() override {
        io.reset();
        if (device >= 0) ::close(device);
    }
    void DeviceSends(const std::vector<std::uint8_t>& bytes) {
        ASSERT_EQ(::write(device, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    std::unique_ptr<ReportFd> io;
    int device = -1;
};

TEST_F(ReportFdTest, InputReportsComeWithTheReportIdFirstEitherWay) {
    std::vector<std::uint8_t> dataOnly(32), withId(33);
    for (std::size_t i = 0; i < 32; ++i) dataOnly[i] = static_cast<std::uint8_t>(0x40 + i);
    withId[0] = 0;
    for (std::size_t i = 0; i < 32; ++i) withId[i + 1] = static_cast<std::uint8_t>(0x80 + i);
    DeviceSends(dataOnly);
    DeviceSends(withId);
    HidReport r{};
    ASSERT_EQ(io->Read(r, 1000), HidReadResult::Ok);
    EXPECT_EQ(r[0], 0);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin() + 1, r.end()), dataOnly);
    ASSERT_EQ(io->Read(r, 1000), HidReadResult::Ok);
    EXPECT_EQ(std::vector<std::uint8_t>(r.begin(), r.end()), withId);
    EXPECT_EQ(io->Read(r, 0), HidReadResult::Timeout);
}

TEST_F(ReportFdTest, FlushDropsWhatIsQueuedAndWritesArriveWhole) {
    DeviceSends(std::vector<std::uint8_t>(32, 1));
    DeviceSends(std::vector<std::uint8_t>(32, 2));
    io->FlushInput();
    HidReport r{};
    EXPECT_EQ(io->Read(r, 0), HidReadResult::Timeout);

    HidReport out{};
    for (std::size_t i = 1; i < out.size(); ++i) out[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(io->Write(out, 1000), HidWriteResult::Ok);
    std::array<std::uint8_t, 64> got{};
    ASSERT_EQ(::read(device, got.data(), got.size()), 33);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), got.begin()));
}

TEST_F(ReportFdTest, ADeviceThatStopsTakingReportsCannotHoldAWrite) {
    // The device never reads: once its queue is full a write must come back as timed out, and
    // every later write as well, instead of waiting for the device.
    HidReport out{};
    int sent = 0;
    HidWriteResult r = HidWriteResult::Ok;
    while (r == HidWriteResult::Ok && sent < 100000) {
        r = io->Write(out, 20);
        ++sent;
    }
    ASSERT_EQ(r, HidWriteResult::Timeout) << "after " << sent << " reports";
    EXPECT_EQ(io->Write(out, 20), HidWriteResult::Timeout);
    EXPECT_TRUE(io->IsOpen());
    io->Close(); // does not wait for the write that is still running
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(io->Write(out, 20), HidWriteResult::Gone);
}

TEST_F(ReportFdTest, ADeviceThatGoesAwayInvalidatesTheHandle) {
    ::close(device);
    device = -1;
    HidReport r{};
    EXPECT_EQ(io->Read(r, 1000), HidReadResult::Error);
    EXPECT_EQ(io->Write(r, 1000), HidWriteResult::Gone);
    EXPECT_FALSE(io->IsOpen());
    EXPECT_EQ(io->Read(r, 0), HidReadResult::Error);
}

} // namespace

} // namespace kv
