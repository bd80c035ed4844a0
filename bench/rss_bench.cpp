// Memory of the program in use:
//   rss_all_tabs_mb   resident megabytes of the program against the simulated car after both
//                     images are loaded and every map tab has been visited in both views (the
//                     3-D chart of a map and the curve of a one-row map), with a system monitor
//                     running; measured on the display the program is started on (./bench.sh
//                     starts a virtual X display when there is none).
// The program is composed as `kestrovane --simulate` composes it, with its real dialogs and a
// settings file in a temporary folder, on simulated time so that the loads into the modules do
// not wait for the power-down of the units.
#include "app/gui/main_window.h"
#include "app/gui/new_image_dialog.h"
#include "app/gui/program.h"
#include "platform/clock.h"
#include "platform/gui/qt_settings.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace kv;

namespace {

// Resident set size of this process in megabytes (VmRSS of /proc/self/status); -1 when unknown.
double ResidentMegabytes() {
    std::ifstream in("/proc/self/status");
    std::string key;
    while (in >> key) {
        if (key == "VmRSS:") {
            double kb = 0;
            in >> kb;
            return kb / 1024.0;
        }
        std::string rest;
        std::getline(in, rest);
    }
    return -1.0;
}

// File > New with base button `base` chosen in the dialog.
void FileNew(MainWindow& window, int base) {
    QTimer::singleShot(0, [base] {
        auto* dialog = qobject_cast<NewImageDialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr) return;
        dialog->BaseButton(base)->click();
        dialog->findChild<QPushButton*>("cmdOK")->click();
    });
    window.Action("mnuFileNew")->trigger();
}

// The map tab's view radio button `index` (0 table, 1 chart).
void ChooseView(MainWindow& window, const char* name, int index) {
    for (QRadioButton* r : window.findChildren<QRadioButton*>(name))
        if (r->property("index").toInt() == index) r->click();
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path home =
        std::filesystem::temp_directory_path() / ("kestrovane-rss-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(home);
    QApplication app(argc, argv);
    QtSettingsStore settings(QString::fromStdString((home / "settings.ini").string()));
    SimulatedClock clock;
    ProgramOptions options;
    options.simulate = true;
    Program program(options, nullptr, &settings, &clock);
    if (!program.Error().empty()) {
        std::fprintf(stderr, "bench: %s\n", program.Error().c_str());
        return 1;
    }
    program.StartUp();
    MainWindow* window = program.Window();
    if (window == nullptr) return 1;
    int result = 1;
    // The steps run one after the other from the program's event loop, as a user's clicks would
    // (what the program lets go of is deleted there between the steps), each given time to
    // settle before the next.
    std::vector<std::function<void()>> steps;
    steps.push_back([&] { FileNew(*window, 0); }); // LH S4 / GT / GTS
    steps.push_back([&] { FileNew(*window, 2); }); // EZK - GT maps
    steps.push_back([&] {
        if (window->TabKeys().size() < 8) {
            std::fprintf(stderr, "bench: the images did not load (%d tabs)\n",
                         static_cast<int>(window->TabKeys().size()));
            QApplication::exit(1);
        }
    });
    for (const auto& [tab, view] : {std::pair{"FuelMap", "radioFuelMapView"}, std::pair{"IgnMap", "radioIgnMapView"}}) {
        steps.push_back([&, tab = tab] { window->SelectTab(tab); });
        // The map chosen first is two-dimensional: the 3-D chart, then the table again.
        steps.push_back([&, view = view] { ChooseView(*window, view, 1); });
        steps.push_back([&, view = view] { ChooseView(*window, view, 0); });
    }
    steps.push_back([&] { window->SelectTab("Monitor"); });
    steps.push_back([] {}); // the monitor runs a while
    steps.push_back([&] {
        std::printf("rss_all_tabs_mb: %.1f\n", ResidentMegabytes());
        std::fflush(stdout);
        result = 0;
        QApplication::exit(0);
    });
    std::size_t next = 0;
    std::function<void()> runNext = [&] {
        if (next >= steps.size()) return;
        steps[next++]();
        QTimer::singleShot(700, runNext);
    };
    QTimer::singleShot(0, runNext);
    QApplication::exec();
    window->hide();
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
