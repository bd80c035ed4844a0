// kestrovane-simdev: the simulated Kestrovane device and car served as a kernel HID device, so
// that the program and kestrovane-cli find it through hidraw as if it were on a USB port.
#include "sim/simdev/ignition_driver.h"
#include "sim/simdev/simdev_options.h"
#include "sim/simdev/uhid_bridge.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace kv {

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnStopSignal(int) { g_stop = 1; }

void InstallStopHandlers() {
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnStopSignal; // no SA_RESTART: poll returns at once
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void Say(const std::string& line) { std::cout << line << std::endl; }

// Opens the device model's only interface; empty path when it is not there.
std::string OpenModel(SimulatedBackend& sim) {
    const std::vector<HidDeviceInfo> found = sim.Enumerate();
    for (const HidDeviceInfo& d : found) {
        if (d.vendorId == kUhidVendorId && d.productId == kUhidProductId && sim.Open(d.path)) return d.path;
    }
    return {};
}

// Standard input, read line by line without blocking the loop.
class ControlInput {
public:
    ControlInput() {
        flags_ = ::fcntl(STDIN_FILENO, F_GETFL);
        open_ = flags_ >= 0 && ::fcntl(STDIN_FILENO, F_SETFL, flags_ | O_NONBLOCK) == 0;
    }
    // A terminal shared with the shell must not stay non-blocking.
    ~ControlInput() {
        if (flags_ >= 0) ::fcntl(STDIN_FILENO, F_SETFL, flags_);
    }
    ControlInput(const ControlInput&) = delete;
    ControlInput& operator=(const ControlInput&) = delete;
    bool Open() const { return open_; }
    // Reads what is there; complete lines go to `lines`. Closes itself at end of input.
    void Read(std::vector<std::string>& lines) {
        char buf[256];
        for (;;) {
            const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
            if (n > 0) {
                pending_.append(buf, static_cast<std::size_t>(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) open_ = false;
            break;
        }
        std::size_t nl;
        while ((nl = pending_.find('\n')) != std::string::npos) {
            std::string line = pending_.substr(0, nl);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines.push_back(line);
            pending_.erase(0, nl + 1);
        }
    }

private:
    int flags_ = -1;
    bool open_ = false;
    std::string pending_;
};

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    const Parsed<SimdevConfig> parsed = ParseSimdevArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed) {
        std::cerr << parsed.Error() << "\n" << SimdevUsage();
        return 2;
    }
    const SimdevConfig& config = *parsed;
    if (config.help) {
        std::cout << SimdevUsage();
        return 0;
    }

    SteadyClock clock;
    std::unique_ptr<SimulatedBackend> sim = MakeSimulatedBackend(config.sim, clock);
    if (!sim) {
        std::cerr << ValidateSimOptions(config.sim) << "\n";
        return 2;
    }
    if (OpenModel(*sim).empty()) {
        std::cerr << "The simulated device could not be opened\n";
        return 1;
    }
    // The queue that matters is the kernel's (hidraw keeps 64 reports per reader); the model's own
    // driver queue must not drop anything before the reports reach it.
    sim->SetInputQueueSize(4096);

    const int fd = ::open(config.uhidPath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        std::cerr << "Cannot open " << config.uhidPath << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    InstallStopHandlers();

    UhidPlugHooks hooks;
    hooks.unplugged = [&] { sim->Unplug(); };
    hooks.replugged = [&] {
        sim->Replug();
        OpenModel(*sim);
    };
    // The device is off the bus while it restarts into new firmware: it is listed again once back.
    hooks.present = [&] { return !sim->Enumerate().empty(); };
    UhidBridge bridge(fd, *sim, clock, config.bridge, hooks);
    bridge.onEvent = [](UhidBridgeEvent e) { Say(e == UhidBridgeEvent::Created ? "ready" : "unplugged"); };
    IgnitionDriver driver;
    if (config.driver == SimdevDriver::Auto) {
        bridge.onOutput = [&](const HidReport& report) {
            if (report[1] == 0xFF) return; // continuation of a longer request
            if (driver.OnRequest(report[1], sim->IsIgnitionOn(), clock.NowMs()) == IgnitionDriver::Action::KeyOff)
                sim->SetIgnitionMode(SimIgnitionMode::Off);
        };
    }

    const std::string createError = bridge.Create();
    if (!createError.empty()) {
        std::cerr << createError << "\n";
        ::close(fd);
        return 1;
    }

    ControlInput control;
    int status = 0;
    bool quit = false;
    long loops = 0;
    std::int64_t longestLoopMs = 0, lastLoopMs = clock.NowMs();
    while (!g_stop && !quit) {
        const std::int64_t loopMs = clock.NowMs();
        longestLoopMs = std::max(longestLoopMs, loopMs - lastLoopMs);
        lastLoopMs = loopMs;
        ++loops;
        pollfd fds[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        const nfds_t n = control.Open() ? 2 : 1;
        const int r = ::poll(fds, n, bridge.PollTimeoutMs());
        if (r < 0 && errno != EINTR) {
            std::cerr << "poll failed: " << std::strerror(errno) << "\n";
            status = 1;
            break;
        }
        const bool readable = r > 0 && (fds[0].revents & POLLIN) != 0;
        if (!bridge.Service(readable)) {
            std::cerr << bridge.LastError() << "\n";
            status = 1;
            break;
        }
        if (driver.KeyOnDue(clock.NowMs())) sim->SetIgnitionMode(SimIgnitionMode::On);
        if (n == 2 && r > 0 && fds[1].revents != 0) {
            std::vector<std::string> lines;
            control.Read(lines);
            for (const std::string& line : lines) {
                if (line == "ignition on") {
                    sim->SetIgnitionMode(SimIgnitionMode::On);
                } else if (line == "ignition off") {
                    sim->SetIgnitionMode(SimIgnitionMode::Off);
                } else if (line == "unplug") {
                    bridge.Unplug();
                } else if (line == "replug") {
                    const std::string e = bridge.Replug();
                    if (!e.empty()) std::cerr << e << "\n";
                } else if (line == "stats") {
                    Say("reports " + std::to_string(bridge.ReportCount()) + " in " +
                        std::to_string(bridge.InputReports()) + " out " + std::to_string(bridge.OutputReports()) +
                        " loops " + std::to_string(loops) + " longest " + std::to_string(longestLoopMs) + " ms open " +
                        std::to_string(bridge.HostOpen()));
                    longestLoopMs = 0;
                } else if (line == "quit") {
                    quit = true;
                } else if (!line.empty()) {
                    std::cerr << "Unknown control line: " << line << "\n";
                }
            }
        }
    }
    bridge.Destroy();
    ::close(fd);
    return status;
}
