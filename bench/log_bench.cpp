// Data-logging run files, on a generated run of 10000 rows x 40 columns:
//   log_load_vs_from_chars  loading the run file into a run (cell texts and numbers, as the
//                           tables and the chart use them) / one bare std::from_chars pass over
//                           the same bytes; the fastest of several rounds of each, same process
//   log_run_mb              megabytes (10^6 bytes) that the loaded run keeps allocated, counted
//                           by this program's allocator hooks
//   log_cells_ms            cell statistics of a 10000-row run over a 16 x 16 base fuel map, in
//                           milliseconds; the fastest of several rounds
#include "datalog/log_cells.h"
#include "datalog/run_file.h"
#include "eprom/base_images.h"
#include "maps/rendered_map.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <unistd.h>

namespace {

// Bytes allocated and not yet freed by the whole program.
std::atomic<long long> g_liveBytes{0};

void* Allocate(std::size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (!p) throw std::bad_alloc();
    g_liveBytes += static_cast<long long>(malloc_usable_size(p));
    return p;
}

void Free(void* p) {
    if (!p) return;
    g_liveBytes -= static_cast<long long>(malloc_usable_size(p));
    std::free(p);
}

} // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* p) noexcept { Free(p); }
void operator delete[](void* p) noexcept { Free(p); }
void operator delete(void* p, std::size_t) noexcept { Free(p); }
void operator delete[](void* p, std::size_t) noexcept { Free(p); }

namespace kv {

namespace {

constexpr int kRows = 10000;
constexpr int kColumns = 40;
constexpr int kRounds = 20;

// A run as recording writes it: time in the first column, then engine values of the usual
// formats ("0", "0.0", "0.00", small integers, a few texts).
std::string GeneratedRunFile() {
    std::string text = "Time [s]";
    for (int c = 1; c < kColumns; ++c) text += "\tValue " + std::to_string(c) + " [u]";
    text += "\r\n";
    unsigned state = 12345;
    const auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return (state >> 8) % 100000u;
    };
    char cell[32];
    for (int r = 1; r <= kRows; ++r) {
        std::snprintf(cell, sizeof cell, "%.2f", r / 20.0);
        text += cell;
        for (int c = 1; c < kColumns; ++c) {
            const unsigned v = next();
            switch (c % 5) {
            case 0: std::snprintf(cell, sizeof cell, "%u", v % 7000); break;
            case 1: std::snprintf(cell, sizeof cell, "%.1f", (v % 2000) / 10.0); break;
            case 2: std::snprintf(cell, sizeof cell, "%.2f", (v % 1500) / 100.0); break;
            case 3: std::snprintf(cell, sizeof cell, "%u", v % 256); break;
            default: std::snprintf(cell, sizeof cell, "%s", v % 2 ? "-1.5" : "WOT"); break;
            }
            text += '\t';
            text += cell;
        }
        text += "\r\n";
    }
    return text;
}

// Every number in the bytes read once, nothing kept: the floor of what any reader must do.
double BareFromCharsPass(const std::string& text) {
    double sum = 0;
    const char* p = text.data();
    const char* end = p + text.size();
    while (p < end) {
        double v = 0;
        const auto [next, ec] = std::from_chars(p, end, v);
        if (ec == std::errc()) {
            sum += v;
            p = next;
        }
        ++p; // the separator, or a character that starts no number
    }
    return sum;
}

template <typename F>
double Seconds(F&& work) {
    const auto begin = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

// A run over the whole base fuel map: engine speed, MAF signal and A/F ratio wandering through it.
LogRun CellsRun() {
    LogRun run({"Time [s]", "RPM", "MAF signal", "A/F ratio"});
    char time[16], rpm[16], maf[16], afr[16];
    for (int r = 1; r <= kRows; ++r) {
        std::snprintf(time, sizeof time, "%.2f", r / 20.0);
        std::snprintf(rpm, sizeof rpm, "%d", 600 + (r * 37) % 5600);
        std::snprintf(maf, sizeof maf, "%d", 20 + (r * 13) % 220);
        std::snprintf(afr, sizeof afr, "%.2f", 12.0 + (r % 500) / 100.0);
        run.AppendRow(std::vector<std::string>{time, rpm, maf, afr});
    }
    return run;
}

int Fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
    return 1;
}

} // namespace

} // namespace kv

int main() {
    using namespace kv;
    const std::string text = GeneratedRunFile();
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("kv_log_bench_" + std::to_string(::getpid()) + ".txt");
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
    struct RemoveAtEnd {
        std::filesystem::path path;
        ~RemoveAtEnd() {
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
        }
    } removeAtEnd{file};

    // Rounds of the two alternate, so that both meet the same machine; the fastest of each counts.
    volatile double sink = 0;
    double bare = 1e9;
    double load = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        bare = std::min(bare, Seconds([&] { sink = sink + BareFromCharsPass(text); }));
        bool whole = false;
        load = std::min(load, Seconds([&] {
                            const Parsed<LoadedRunFile> loaded = LoadRunFile(file.string());
                            whole = loaded && loaded->run.RowCount() == kRows && loaded->run.ColumnCount() == kColumns;
                        }));
        if (!whole) return Fail("the generated run did not load whole");
    }

    // The run's own memory: what stays allocated while it is held, once the file's bytes and
    // every temporary of the load are gone.
    const long long before = g_liveBytes.load();
    long long kept = 0;
    {
        Parsed<LoadedRunFile> loaded = LoadRunFile(file.string());
        if (!loaded) return Fail("the generated run did not load");
        LogRun run = std::move(loaded->run);
        kept = g_liveBytes.load() - before + static_cast<long long>(sizeof(LogRun));
        if (run.RowCount() != kRows) return Fail("the generated run lost rows");
    }

    EpromContext context;
    EPROM image(context);
    if (!LoadBaseImage("MRX_D", image).empty()) return Fail("the base image did not load");
    const MapDefinition* definition = FindMapDefinition(MapTab::Fuel, "Base fuel map (cat)");
    if (definition == nullptr) return Fail("no base fuel map");
    const RenderedMap map(image, *definition);
    const LogRun cellsRun = CellsRun();
    double cells = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        bool counted = false;
        cells = std::min(cells, Seconds([&] {
                             const auto stats = ComputeCellStatistics(cellsRun, map.editor, kCellsDefaultColumn);
                             counted = stats && stats->samples == kRows;
                         }));
        if (!counted) return Fail("the cell statistics did not take every sample");
    }

    std::printf("log_load_vs_from_chars: %.2f\n", load / bare);
    std::printf("log_run_mb: %.2f\n", static_cast<double>(kept) / 1e6);
    std::printf("log_cells_ms: %.2f\n", cells * 1000.0);
    return 0;
}
