// Log chart redraws on the offscreen platform. A redraw fills every series again for the view
// and renders the chart view into a picture.
//   chart_update_100k_vs_10k   median redraw of one series of 100000 points / of 10000 points
//   chart_render_ms_max        slowest of 20 redraws of 10 runs x 10000 rows x 2 series, ms
//   chart_pan_frame_ms_max     the same chart zoomed to a fifth of its time and panned 20 pixels a
//                              frame for 60 frames: the slowest frame (pan, refill, render), ms
//   chart_pan_frame_ms_median  the median of those frames, ms
//   scatter_render_ms          the scatter view of those runs (100000 points, speed against the
//                              air-flow signal coloured by the mixture): median of 10 redraws, ms
#include "datalog/gui/log_chart_window.h"
#include "platform/settings_store.h"
#include "platform/silent_dialogs.h"

#include <QApplication>
#include <QChart>
#include <QPixmap>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kv {

namespace {

class BenchSettings final : public SettingsStore {
public:
    std::string GetSetting(const std::string& section, const std::string& key,
                           const std::string& defaultValue) override {
        auto it = values_.find(section + "/" + key);
        return it == values_.end() ? defaultValue : it->second;
    }
    void SaveSetting(const std::string& section, const std::string& key, const std::string& value) override {
        values_[section + "/" + key] = value;
    }

private:
    std::map<std::string, std::string> values_;
};

// A pull of `rows` samples at 20 a second: engine speed sweeping up and down with noise, and a
// load, an air-flow signal and a mixture that follow it.
PlotRun MakeRun(int number, std::size_t rows) {
    PlotRun run{
        "Run " + std::to_string(number), {"Time [s]", "RPM", "Load", "MAF signal", "A/F ratio"}, {{}, {}, {}, {}, {}}};
    for (auto& column : run.columns) column.reserve(rows);
    std::uint32_t seed = 12345u + static_cast<std::uint32_t>(number);
    for (std::size_t r = 0; r < rows; ++r) {
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 16) / 65536.0 - 0.5;
        const double t = static_cast<double>(r + 1) / 20.0;
        const double rpm = 800.0 + 5800.0 * std::fabs(std::sin(t / 15.0 + number)) + 40.0 * noise;
        run.columns[0].push_back(t);
        run.columns[1].push_back(std::round(rpm));
        run.columns[2].push_back(std::round(rpm / 66.0 + 8.0 * noise));
        run.columns[3].push_back(std::round(100.0 * (0.8 + rpm / 1700.0 + 0.3 * noise)) / 100.0);
        run.columns[4].push_back(std::round(10.0 * (15.5 - rpm / 2000.0 + 1.5 * noise)) / 10.0);
    }
    return run;
}

// Milliseconds of each of `count` redraws of the window.
std::vector<double> Redraws(LogChartWindow& window, int count) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        window.Refill();
        const QPixmap picture = window.ChartView()->grab();
        const auto t1 = std::chrono::steady_clock::now();
        if (picture.isNull()) return {};
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

std::unique_ptr<LogChartWindow> OpenWindow(std::vector<PlotRun> runs, SettingsStore& settings, SilentDialogs& dialogs) {
    std::unique_ptr<LogChartWindow> window(LogChartWindow::Open(std::move(runs), settings, dialogs, dialogs));
    if (!window) return nullptr;
    window->resize(1100, 650);
    window->show();
    QApplication::processEvents();
    return window;
}

// Milliseconds of each of `count` frames that pan the view by `pixels` to the right: the pan,
// the refill it asks for, and the render.
std::vector<double> PanFrames(LogChartWindow& window, int count, qreal pixels) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        window.ChartItem()->scroll(pixels, 0);
        QApplication::processEvents();
        const QPixmap picture = window.ChartView()->grab();
        const auto t1 = std::chrono::steady_clock::now();
        if (picture.isNull()) return {};
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

// Milliseconds of each of `count` redraws of the scatter view.
std::vector<double> ScatterRedraws(LogChartWindow& window, int count) {
    std::vector<double> ms;
    for (int i = 0; i < count; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        window.RefillScatter();
        const QPixmap picture = window.ScatterChartView()->grab();
        const auto t1 = std::chrono::steady_clock::now();
        if (picture.isNull()) return {};
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    return ms;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

int Fail(const char* what) {
    std::fprintf(stderr, "bench: %s\n", what);
    return 1;
}

} // namespace

} // namespace kv

using namespace kv;

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    SilentDialogs dialogs;

    // One series (RPM over time): 100k points against 10k points.
    double medians[2] = {0, 0};
    const std::size_t sizes[2] = {100000, 10000};
    for (int i = 0; i < 2; ++i) {
        BenchSettings settings;
        auto window = OpenWindow({MakeRun(1, sizes[i])}, settings, dialogs);
        if (!window || window->Series().size() != 1) return Fail("the one-series chart did not open");
        Redraws(*window, 3);
        const auto ms = Redraws(*window, 15);
        if (ms.empty()) return Fail("the chart did not render");
        medians[i] = Median(ms);
    }

    // Ten runs, two series each (RPM and Load over time).
    BenchSettings settings;
    settings.SaveSetting("Chart", "DefaultPlotVariable0", "RPM");
    settings.SaveSetting("Chart", "DefaultPlotVariable1", "Load");
    std::vector<PlotRun> runs;
    for (int n = 1; n <= 10; ++n) runs.push_back(MakeRun(n, 10000));
    auto window = OpenWindow(std::move(runs), settings, dialogs);
    if (!window || window->Series().size() != 20) return Fail("the ten-run chart did not open with 20 series");
    const auto ms = Redraws(*window, 20);
    if (ms.empty()) return Fail("the chart did not render");

    // Zoomed to a fifth of the time, then panned along it.
    window->ChartItem()->zoom(5.0);
    QApplication::processEvents();
    window->ChartItem()->scroll(-2.0 * window->ChartItem()->plotArea().width(), 0);
    QApplication::processEvents();
    PanFrames(*window, 3, 20);
    const auto pan = PanFrames(*window, 60, 20);
    if (pan.empty()) return Fail("the panned chart did not render");

    // The scatter view of the same runs.
    window->findChild<QTabWidget*>("tabChartViews")->setCurrentIndex(1);
    QApplication::processEvents();
    if (!window->Scatter() || window->Scatter()->Points().size() != 100000)
        return Fail("the scatter view does not hold 100000 points");
    ScatterRedraws(*window, 2);
    const auto scatter = ScatterRedraws(*window, 10);
    if (scatter.empty()) return Fail("the scatter view did not render");

    std::printf("chart_update_100k_vs_10k: %.2f\n", medians[0] / medians[1]);
    std::printf("chart_render_ms_max: %.1f\n", *std::max_element(ms.begin(), ms.end()));
    std::printf("chart_pan_frame_ms_max: %.1f\n", *std::max_element(pan.begin(), pan.end()));
    std::printf("chart_pan_frame_ms_median: %.1f\n", Median(pan));
    std::printf("scatter_render_ms: %.1f\n", Median(scatter));
    return 0;
}
