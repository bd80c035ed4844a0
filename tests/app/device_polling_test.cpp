// The one place where the device timers pause: nesting, late registration, and only the timers
// that ran come back.
#include "app/core/device_polling.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kv {

namespace {

// A timer that logs what the registry asks of it.
struct LoggedTimer {
    std::string name;
    bool running = true;
    bool ranBefore = false;
    std::vector<std::string>* log;

    DevicePolling::Timer Hooks() {
        return {[this] {
                    log->push_back(name + " pause");
                    ranBefore = running;
                    running = false;
                },
                [this] {
                    log->push_back(name + " resume");
                    running = ranBefore;
                }};
    }
};

TEST(DevicePolling, NestedPausesStopTheTimersOnceAndResumeThemAfterTheLast) {
    std::vector<std::string> log;
    LoggedTimer monitor{"monitor", true, false, &log};
    LoggedTimer trace{"trace", false, false, &log};
    DevicePolling polling;
    polling.Register(monitor.Hooks());
    polling.Register(trace.Hooks());
    {
        DevicePolling::Pause outer(polling);
        EXPECT_TRUE(polling.Paused());
        {
            DevicePolling::Pause inner(polling);
            EXPECT_FALSE(monitor.running);
        }
        EXPECT_TRUE(polling.Paused()) << "the outer transfer still has the device";
        EXPECT_FALSE(monitor.running);
    }
    EXPECT_FALSE(polling.Paused());
    EXPECT_TRUE(monitor.running);
    EXPECT_FALSE(trace.running) << "a timer that did not run stays stopped";
    EXPECT_EQ(log, (std::vector<std::string>{"monitor pause", "trace pause", "monitor resume", "trace resume"}));
}

TEST(DevicePolling, ATimerRegisteredDuringAPauseWaitsForItsEnd) {
    std::vector<std::string> log;
    LoggedTimer late{"late", true, false, &log};
    LoggedTimer gone{"gone", true, false, &log};
    DevicePolling polling;
    const int goneId = polling.Register(gone.Hooks());
    {
        DevicePolling::Pause pause(polling);
        polling.Register(late.Hooks());
        EXPECT_FALSE(late.running);
        polling.Unregister(goneId);
    }
    EXPECT_TRUE(late.running);
    EXPECT_EQ(log, (std::vector<std::string>{"gone pause", "late pause", "late resume"}));
}

} // namespace

} // namespace kv
