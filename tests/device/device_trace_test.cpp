// The device trace: a TracingHidBackend in front of a scripted HID layer writes the reports and
// every failed read or write, the link and the commands add their notes; the setting switches
// the trace on, and the file goes to the user's cache folder.
#include "device/comms.h"
#include "device/device_trace.h"
#include "device/tracing_hid_backend.h"
#include "fake_hid.h"
#include "scoped_env.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace kv {

namespace {

class TraceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(comms.Comms_Open()); }

    FakeClock clock;
    FakeHid hid{clock};
    DeviceTrace trace{clock};
    TracingHidBackend traced{hid, trace};
    Comms comms{traced, clock, &trace};
};

TEST_F(TraceTest, TraceGoesToTheGivenFileOnlyWhenEnabled) {
    const std::string path = ::testing::TempDir() + "/kv_device_trace.txt";
    std::remove(path.c_str());
    hid.Script({{'T'}});
    EXPECT_TRUE(comms.Ping());
    comms.Comms_ShutDown();
    EXPECT_FALSE(std::ifstream(path).good());

    trace.Enable(path);
    comms.Comms_Open();
    hid.Script({{'T'}});
    EXPECT_TRUE(comms.Ping());
    comms.Comms_ShutDown();
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Kestrovane started"), std::string::npos);
    EXPECT_NE(text.find("\tOpenDevice\r\n"), std::string::npos);
    EXPECT_NE(text.find("    Putting into DATA buffer"), std::string::npos);
    EXPECT_NE(text.find("Comms_ShutDown"), std::string::npos);
    std::remove(path.c_str());
}

// The trace names every way a report can fail to move, and the link stays open where the
// handle stays valid.
TEST(TraceErrors, TraceNamesReadAndTransmissionErrors) {
    struct Case {
        const char* name;
        std::function<void(FakeHid&)> arrange;
        const char* line;
        bool staysOpen;
    };
    const Case cases[] = {
        {"read error", [](FakeHid& h) { h.readFailures = 1; }, "    Read error\r\n", true},
        {"read time-out", [](FakeHid&) {}, "    Read timed out\r\n", true},
        {"transmission error", [](FakeHid& h) { h.writeResults = {HidWriteResult::Failed}; },
         "    Transmission error\r\n", true},
        {"transmission time-out", [](FakeHid& h) { h.writeResults = {HidWriteResult::Timeout}; },
         "    Transmission timed out\r\n", true},
        {"device gone on write", [](FakeHid& h) { h.writeResults = {HidWriteResult::Gone}; },
         "    ERROR_INVALID_HANDLE\r\n", false},
    };
    const std::string path = ::testing::TempDir() + "/kv_device_trace_errors.txt";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clk;
        FakeHid h{clk};
        DeviceTrace trace{clk};
        TracingHidBackend traced{h, trace};
        Comms link{traced, clk, &trace};
        ASSERT_TRUE(link.Comms_Open());
        trace.Enable(path);
        c.arrange(h);
        EXPECT_FALSE(link.QuickPing());
        EXPECT_EQ(link.Comms_IsOpen(), c.staysOpen);
        trace.Enable("");
        std::ifstream in(path, std::ios::binary);
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_NE(text.find(c.line), std::string::npos) << text;
        std::remove(path.c_str());
    }
}

// The variable that names the user's cache folder on this system, and a folder name it accepts.
#ifdef _WIN32
constexpr const char* kCacheVariable = "LOCALAPPDATA";
const std::string kCacheExample = "C:\\Users\\tuner\\AppData\\Local";
#else
constexpr const char* kCacheVariable = "XDG_CACHE_HOME";
const std::string kCacheExample = "/tmp/kv-cache-test";
#endif

TEST(TracePath, SwitchedOnBySettingOnly) {
    const std::string cache = ::testing::TempDir() + "/kv-trace-cache";
    ScopedEnv env(kCacheVariable, cache);
    FakeClock clock;
    DeviceTrace trace{clock};
    MemorySettings settings;
    for (const char* value : {"", "0", "yes", "2"}) {
        settings.values[{"Diagnostics", "DeviceTrace"}] = value;
        EnableTraceFromSettings(trace, settings);
        EXPECT_FALSE(trace.Enabled()) << value;
    }
    settings.values[{"Diagnostics", "DeviceTrace"}] = "1";
    EnableTraceFromSettings(trace, settings);
    EXPECT_TRUE(trace.Enabled());
    trace.Enable(""); // writes what was collected, into the cache folder set above
    EXPECT_TRUE(std::ifstream(cache + "/kestrovane/devicetrace.txt").good());
    std::filesystem::remove_all(cache);
}

TEST(TracePath, FollowsTheUsersCacheFolder) {
    {
        ScopedEnv env(kCacheVariable, kCacheExample);
        EXPECT_EQ(DefaultTracePath(),
                  (std::filesystem::path(kCacheExample) / "kestrovane" / "devicetrace.txt").string());
    }
    ScopedEnv env(kCacheVariable, "relative"); // not absolute: ignored
    EXPECT_NE(DefaultTracePath().rfind("relative", 0), 0u);
}

} // namespace

} // namespace kv
