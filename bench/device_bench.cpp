// Device link speed against the simulated device:
//   pem_load_vs_usb_floor  wall time of the block phase of a module load / (reports moved x 1 ms)
//   pem_read_vs_usb_floor  the same for a start-up channel read of a module
//   exchange_host_us       host CPU microseconds per command exchange, zero-latency device
// The simulated USB frames take 1 ms each of a precise clock. On a busy machine a frame can
// take longer than 1 ms of wall time whatever the link does, so the floor is the wall time the
// frames actually took (measured inside the clock's sleeps); a ratio of 1.00 means the link adds
// nothing to the frames.
#include "device/adapters/comms_eprom_device.h"
#include "device/comms.h"
#include "device/firmware.h"
#include "eprom/eprom_image.h"
#include "eprom/eprom_transfer.h"
#include "platform/clock.h"
#include "platform/resources.h"
#include "platform/silent_dialogs.h"
#include "sim/sim_backend.h"
#include "sim/sim_device.h"

#include "bench_clocks.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

namespace kv {

namespace {

// Dialogs that time the progress window of one caption and count the reports moved under it.
class TimingDialogs final : public SilentDialogs {
public:
    TimingDialogs(SimulatedBackend& sim, PreciseClock& clock, std::string caption)
        : sim_(sim), clock_(clock), caption_(std::move(caption)) {}
    MsgResult MessageBox(const std::string&, const std::string&, MsgButtons, MsgIcon) override { return MsgResult::OK; }
    void ShowProgress(const std::string& caption, int) override {
        Stop();
        if (caption == caption_) {
            running_ = true;
            reports0_ = sim_.ReportCount();
            slept0_ = clock_.sleptSeconds;
            t0_ = std::chrono::steady_clock::now();
        }
    }
    void CloseProgress() override { Stop(); }

    double seconds = 0.0;      // wall time under the progress window
    long reports = 0;          // reports moved meanwhile (each one a 1 ms frame)
    double frameSeconds = 0.0; // wall time those frames took
    // Wall time over frame time; a frame shorter than 1 ms never counts.
    double Ratio() const { return seconds / std::max(frameSeconds, reports * 0.001); }
    // Wall time over the nominal 1 ms per report, whatever the frames really took.
    double NominalRatio() const { return reports > 0 ? seconds / (reports * 0.001) : 0.0; }

private:
    void Stop() {
        if (!running_) return;
        running_ = false;
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0_).count();
        reports = sim_.ReportCount() - reports0_;
        frameSeconds = clock_.sleptSeconds - slept0_;
    }
    SimulatedBackend& sim_;
    PreciseClock& clock_;
    std::string caption_;
    bool running_ = false;
    long reports0_ = 0;
    double slept0_ = 0.0;
    std::chrono::steady_clock::time_point t0_;
};

std::vector<std::uint8_t> LhImage() {
    const auto packed = LoadResource("MRX_D");
    return packed ? UnpackResource(*packed) : std::vector<std::uint8_t>{};
}

constexpr int kRuns = 3;

int Fail(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    return 1;
}

} // namespace

} // namespace kv

using namespace kv;

int main() {
    // ---- module load and start-up channel read with 1 ms USB frames ----
    {
        PreciseClock clock;
        SimOptions so;
        so.usbTiming = true;
        so.ignition = "off";
        auto sim = MakeSimulatedBackend(so, clock);
        if (!sim) return Fail("cannot start the simulated device");
        Comms comms(*sim, clock);
        TimingDialogs loadTiming(*sim, clock, "Loading");
        Firmware firmware(comms, loadTiming, loadTiming, loadTiming, clock);
        CommsEpromDevice device(comms, firmware);
        EpromContext context{true, true, &device, &loadTiming, &loadTiming, &clock};
        if (!comms.Comms_Open()) return Fail("cannot open the simulated device");

        EPROM image(context);
        image.LoadFromArray(LhImage());
        if (image.GetECUType() != EcuType::LH23) return Fail("no LH image");
        TimingDialogs readTiming(*sim, clock, "Downloading from LH PEM");
        // The best of a few runs: other work on the machine only ever adds time.
        double bestLoad = 1e9;
        double bestRead = 1e9;
        double bestLoadNominal = 1e9;
        double bestReadNominal = 1e9;
        for (int run = 0; run < kRuns; ++run) {
            // Module load: the unit powers up during detection.
            context.messages = &loadTiming;
            context.progress = &loadTiming;
            sim->SetIgnitionMode(SimIgnitionMode::Off);
            clock.SleepMs(kSimPowerDownMs); // the module announces itself only after a whole power-down
            sim->ScheduleIgnition(clock.NowMs() + 300, true);
            if (const std::string m = image.LoadToEmulator(); !m.empty()) return Fail(m.c_str());
            bestLoad = std::min(bestLoad, loadTiming.Ratio());
            bestLoadNominal = std::min(bestLoadNominal, loadTiming.NominalRatio());

            // Power-cycle the unit so its module is back on the start-up channel, then read it.
            context.messages = &readTiming;
            context.progress = &readTiming;
            sim->SetIgnitionMode(SimIgnitionMode::Off);
            clock.SleepMs(kSimPowerDownMs); // the module announces itself only after a whole power-down
            sim->ScheduleIgnition(clock.NowMs() + 300, true);
            int status = -1;
            if (const std::string m = WaitForModules(context, 1, status); !m.empty() || status != 1)
                return Fail("module not detected for the read");
            EPROM back(context);
            if (const std::string m = back.LoadFromECU_Initiation(1); !m.empty()) return Fail(m.c_str());
            if (back.Bytes() != image.Bytes()) return Fail("read back differs");
            comms.PemSelect(1);
            comms.PemFinish();
            bestRead = std::min(bestRead, readTiming.Ratio());
            bestReadNominal = std::min(bestReadNominal, readTiming.NominalRatio());
        }
        std::printf("pem_load_vs_usb_floor: %.3f\n", bestLoad);
        std::printf("pem_read_vs_usb_floor: %.3f\n", bestRead);
        // The same against reports x 1 ms: includes the machine's own lateness in sleeping.
        std::printf("pem_load_vs_nominal_frames: %.3f\n", bestLoadNominal);
        std::printf("pem_read_vs_nominal_frames: %.3f\n", bestReadNominal);
    }

    // ---- host CPU per command exchange, zero-latency device ----
    {
        SimulatedClock clock; // the host-CPU measurement: waits cost nothing
        SimOptions so;
        auto sim = MakeSimulatedBackend(so, clock);
        if (!sim) return Fail("cannot start the simulated device");
        Comms comms(*sim, clock);
        if (!comms.Comms_Open()) return Fail("cannot open the simulated device");
        constexpr int kExchanges = 200000;
        int answered = 0;
        timespec a{}, b{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        for (int i = 0; i < kExchanges; ++i) answered += comms.IsIgnitionOn() ? 1 : 0;
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        if (answered != kExchanges) return Fail("the ignition did not read on in every exchange");
        const double us = ((b.tv_sec - a.tv_sec) * 1e6 + (b.tv_nsec - a.tv_nsec) / 1e3) / kExchanges;
        std::printf("exchange_host_us: %.2f\n", us);
    }
    return 0;
}
