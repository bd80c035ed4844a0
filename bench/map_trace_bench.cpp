// Operating-point trace speed against the simulated device:
//   trace_tick_ms_usb     wall milliseconds of one fuel trace tick (ignition check, record,
//                         marker) with 1 ms USB frames; the timer period is 100 ms
//   trace_tick_host_us    host CPU microseconds of one tick, zero-latency device
// The LH module runs the MRX_D base image; the editor shows the base fuel map on a grid held
// in memory.
#include "auxinputs/aux_inputs.h"
#include "device/comms.h"
#include "eprom/eprom_image.h"
#include "maps/map_definitions.h"
#include "maps/map_trace.h"
#include "maps/table_editor.h"
#include "maps/text_grid.h"
#include "platform/clock.h"
#include "platform/resources.h"
#include "platform/silent_dialogs.h"
#include "sim/sim_backend.h"

#include "bench_clocks.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace kv {

namespace {

class BenchTraceDevice final : public TraceDevice {
public:
    explicit BenchTraceDevice(Comms& c) : c_(c) {}
    bool IsIgnitionOn() override { return c_.IsIgnitionOn(); }
    bool SetAuxInputFilter(int ch, int coef) override { return c_.SetAuxInputFilter(ch, coef); }
    bool DataLog_Configure(const std::vector<int>& a, const std::vector<int>& s) override {
        return c_.DataLog_Configure(a, s);
    }
    std::vector<std::uint8_t> DataLog_ReadRecord() override { return c_.DataLog_ReadRecord(); }
    std::optional<std::int32_t> ReadEcuRam(int k, int a, int n) override { return c_.TryReadEcuRam(k, a, n); }
    bool RamByteOrderFlag() const override { return c_.RamByteOrderFlag(); }
    bool LH_GetMapSetSelector(const EPROM& image) override { return kv::LH_GetMapSetSelector(c_, image); }

private:
    Comms& c_;
};

int Fail(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    return 1;
}

// One run: ticks of the fuel trace; returns the per-tick times in seconds (wall or CPU).
bool Run(Clock& clock, bool usbTiming, const std::string& imageFile, int ticks, bool cpuTime,
         std::vector<double>& times) {
    SimOptions so;
    so.usbTiming = usbTiming;
    so.ignition = "on";
    so.lhImageFile = imageFile;
    auto sim = MakeSimulatedBackend(so, clock);
    if (!sim) return false;
    Comms comms(*sim, clock);
    if (!comms.Comms_Open()) return false;
    EpromContext context;
    EPROM image(context);
    const auto packed = LoadResource("MRX_D");
    if (!packed || !image.LoadFromArray(UnpackResource(*packed)).empty()) return false;
    comms.SetRamByteOrderFlag(image.GetCreator() != 2);
    SilentDialogs dialogs; // the editor needs dialogs only for edits; the bench makes none
    TextGrid grid;
    TableEditor editor(dialogs, dialogs, dialogs);
    editor.SetEPROM(&image);
    editor.SetControl(&grid);
    ConfigureEditor(editor, MapTab::Fuel, FindMapDefinition(MapTab::Fuel, "Base fuel map (cat)"), image.GetECUType());
    editor.RenderTable();
    AuxInputs aux;
    BenchTraceDevice device(comms);
    MapTrace trace(device, aux, clock);
    if (!trace.Configure(MapTab::Fuel, image)) return false;
    int valid = 0;
    for (int i = 0; i < ticks; ++i) {
        timespec a{}, b{};
        const auto w0 = std::chrono::steady_clock::now();
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &a);
        const TraceTickResult r = trace.Tick(editor, false);
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &b);
        const auto w1 = std::chrono::steady_clock::now();
        valid += r.sample.valid ? 1 : 0;
        times.push_back(cpuTime ? (b.tv_sec - a.tv_sec) + (b.tv_nsec - a.tv_nsec) / 1e9
                                : std::chrono::duration<double>(w1 - w0).count());
    }
    return valid == ticks;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

} // namespace kv

using namespace kv;

int main() {
    const auto packed = LoadResource("MRX_D");
    if (!packed) return Fail("no MRX_D base image");
    const std::string file = (std::filesystem::temp_directory_path() / "kv_map_trace_bench_lh.bin").string();
    {
        const auto bytes = UnpackResource(*packed);
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    {
        PreciseClock clock;
        std::vector<double> t;
        if (!Run(clock, true, file, 100, false, t)) return Fail("trace ticks with USB timing failed");
        std::printf("trace_tick_ms_usb: %.2f\n", Median(t) * 1000.0);
    }
    {
        SimulatedClock clock; // the host-CPU measurement: waits cost nothing
        std::vector<double> t;
        if (!Run(clock, false, file, 20000, true, t)) return Fail("trace ticks without latency failed");
        double sum = 0;
        for (double x : t) sum += x;
        std::printf("trace_tick_host_us: %.2f\n", sum / static_cast<double>(t.size()) * 1e6);
    }
    std::remove(file.c_str());
    return 0;
}
