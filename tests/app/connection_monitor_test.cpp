// Connection and ignition monitoring on the command set over a scripted HID layer: the
// indicator texts, the start-up explanation of a missing or silent device, and the ignition
// debounce.
#include "app/core/connection_monitor.h"
#include "device/adapters/comms_presence.h"
#include "device/comms.h"
#include "fake_hid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {

namespace {

class MonitorTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(comms.Comms_Open()); }

    FakeClock clock;
    FakeHid hid{clock};
    Comms comms{hid, clock};
    CommsPresence presence{comms};
    ConnectionMonitor connection{presence};
    IgnitionDebounce ignition{presence, clock};
};

class RecordingIndicator final : public ConnectionIndicator {
public:
    void ShowConnectionStatus(const std::string& text, bool error) override {
        log.push_back(text + (error ? " (red)" : ""));
    }
    void ShowFirmwareVersion(const std::string& text) override { log.push_back("fw:" + text); }
    std::vector<std::string> log;
};

TEST_F(MonitorTest, ConnectionStatusShowsChangesOnly) {
    RecordingIndicator ind;
    connection.SetConnectionIndicator(&ind);
    hid.Script({{'T'}, {'6', '.', '0', '0', '3', 0, 0, 0}, {'T'}});
    EXPECT_TRUE(connection.UpdateConnectionStatus(false));
    EXPECT_TRUE(connection.UpdateConnectionStatus(false)); // unchanged: nothing shown
    EXPECT_FALSE(connection.UpdateConnectionStatus(false));
    hid.Script({{'T'}, {0, 0, 0, 0, 0, 0, 0, 0}});
    EXPECT_TRUE(connection.UpdateConnectionStatus(true));
    comms.Comms_ShutDown();
    hid.plugged = false;
    EXPECT_FALSE(connection.UpdateConnectionStatus(true));
    EXPECT_EQ(ind.log, (std::vector<std::string>{"Connected", "fw:6.003", "Not responding (red)", "fw:", "Connected",
                                                 "fw:Unknown", "Not connected (or not powered) (red)", "fw:"}));
}

TEST(CheckDevice, ExplainsAMissingOrSilentDevice) {
    struct Case {
        bool plugged;
        bool answers;
        bool ok;
        std::string start;
    };
    const Case cases[] = {
        {false, false, false, "No Kestrovane device found."},
        {true, false, false, "The Kestrovane device is connected to the USB port but is not responding."},
        {true, true, true, ""}};
    for (const Case& c : cases) {
        FakeClock clock;
        FakeHid hid{clock};
        hid.plugged = c.plugged;
        if (c.answers) hid.Script({{'T'}});
        Comms comms{hid, clock};
        CommsPresence presence{comms};
        ConnectionMonitor connection{presence};
        ScriptedDialogs dialogs;
        EXPECT_EQ(connection.CheckDeviceOrExplain(dialogs), c.ok);
        if (c.start.empty()) {
            EXPECT_TRUE(dialogs.messages.empty());
        } else {
            ASSERT_EQ(dialogs.messages.size(), 1u);
            EXPECT_EQ(dialogs.messages[0].rfind(c.start, 0), 0u) << dialogs.messages[0];
            EXPECT_EQ(dialogs.log[0].rfind("MessageBox|Error|", 0), 0u);
        }
    }
}

TEST_F(MonitorTest, IgnitionDebounceIsNotResetByALostReply) {
    int requests = 0;
    hid.onWrite = [&](const HidReport& r) {
        if (r[1] == 0x81 && ++requests != 3) hid.Queue(FrameReply(DATA, {'1'}));
    };
    ignition.ResetIgnitionDebounce();
    EXPECT_TRUE(ignition.IgnitionOnDebounced());
    EXPECT_TRUE(ignition.IgnitionOnDebounced());
    EXPECT_TRUE(ignition.IgnitionOnDebounced()); // its first request goes unanswered
}

TEST_F(MonitorTest, IgnitionDebounceNeedsHalfASecondOfIgnitionOn) {
    bool on = false;
    hid.onWrite = [&](const HidReport& r) {
        if (r[1] == 0x81) hid.Queue(FrameReply(DATA, {static_cast<std::uint8_t>(on ? '1' : '0')}));
    };
    EXPECT_FALSE(ignition.IgnitionOnDebounced());
    on = true;
    EXPECT_FALSE(ignition.IgnitionOnDebounced()); // just came on
    clock.SleepMs(300);
    EXPECT_FALSE(ignition.IgnitionOnDebounced());
    clock.SleepMs(200);
    EXPECT_TRUE(ignition.IgnitionOnDebounced());
    EXPECT_TRUE(ignition.IgnitionOnDebounced()); // every later call while on
    on = false;
    EXPECT_FALSE(ignition.IgnitionOnDebounced());
    on = true;
    EXPECT_FALSE(ignition.IgnitionOnDebounced());
    ignition.ResetIgnitionDebounce();
    EXPECT_TRUE(ignition.IgnitionOnDebounced());
}

} // namespace

} // namespace kv
